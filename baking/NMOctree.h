// NMOctree: the spatial index the baker casts its rays into, built over one NMTriangleList.
//
// Construction follows a fixed scheme, so the tree is the same on every run: the root collects
// triangle indices until 30 are pending and then hands them down; a node that holds more than 30
// is split into its eight octants unless all its half extents are at most 0.001; finish() hands
// every pending index down to the leaves. A triangle lies in every leaf whose box it overlaps
// (boundary contact included).
//
// Two queries: the nearest hit along a whole line (both directions from the origin, nearest in
// absolute distance, only surfaces facing along the direction), and the any-hit test of a forward
// ray. Queries run on a compact copy of the finished tree (leaf triangles stored together with
// their edges, node boxes shrunk to what their triangles occupy) and visit nodes nearest first,
// leaving out every node that cannot hold a nearer hit than the best found; they give the same
// answers as testing every triangle the line meets. One query at a time per octree: the work
// stacks live inside it and are emptied, never freed, between queries.
#pragma once

#include <cstdint>

#include "baking/BakeStatus.h"
#include "baking/NMTriangle.h"
#include "shader/NMVector.h"
#include "baking/NMVectorLayer.h"
#include "sources/HostInterface.h"
#include "sources/Stack.h"

struct NMOctreeNode {
    NMOctreeNode() = default;
    NMOctreeNode(const NMOctreeNode&) = delete;
    NMOctreeNode& operator=(const NMOctreeNode&) = delete;
    // Destroys the children depth first (the eight of a node share one block); the index buffer
    // goes with the node.
    ~NMOctreeNode();

    NMBox box;
    NMOctreeNode* child[8] = {};
    Stack<int32_t> indices;

    bool isLeaf() const;
};

// What a nearest-hit query finds: the point, the surface normal there (bump-perturbed when a bump
// layer was given, not normalised again), the signed distance along the direction (positive in
// front of the origin) and the triangle's index.
struct NMNearestHit {
    NMVec3 point;
    NMVec3 normal;
    double t = 0.0;
    int32_t triangle = -1;
};

class NMOctree {
public:
    // A root collects this many indices before handing them down; other nodes split above it.
    static constexpr int32_t splitCount = 30;
    // Nodes whose half extents are all at most this are never split.
    static constexpr double minHalfExtent = 0.001;

    NMOctree() = default;
    NMOctree(const NMOctree&) = delete;
    NMOctree& operator=(const NMOctree&) = delete;
    ~NMOctree() { destroy(); }

    // Frees any previous tree and makes a root with the list's box. 0 when memory runs out.
    int32_t setList(const NMTriangleList* triangles);
    // Adds one triangle; 0 on a stop request or when memory runs out.
    int32_t insertTriangle(int32_t index, HostThreadBase* thread);
    // Hands every pending index down to the leaves and prepares the queries; 0 on a stop request
    // or when memory runs out.
    int32_t finish(HostThreadBase* thread);
    // The whole build with progress: set the list, insert every triangle (asking for a stop before
    // every 100th), finish. While it runs the status text shows the text it had at the start with
    // the percentage done; afterwards it gets that text back. 1 on success.
    int32_t build(BakeStatusText* status, const NMTriangleList* triangles, HostThreadBase* thread);
    // Frees the tree and every buffer.
    void destroy();

    // The hit nearest to p, in absolute distance, along the line p + t·d (d of unit length) whose
    // interpolated normal n has n·d ≥ minFacing; between hits at the same |t| the one whose normal
    // is better aligned with d. False when there is none (or the tree is not finished).
    bool nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit);
    // True when the ray o + t·r meets a triangle at some t > 0.
    bool anyHit(const NMVec3& o, const NMVec3& r);

    const NMTriangleList* list = nullptr;
    NMOctreeNode* root = nullptr;
    // Work stack of construction.
    Stack<NMOctreeNode*> work;
    // Hit selection: 1, the nearest hit.
    int32_t hitMode = 1;
    double minFacing = 0.1;

    // Statistics since the tree was built: queries answered, nodes they opened, triangles they
    // tested.
    uint64_t rayCount = 0;
    uint64_t nodeVisits = 0;
    uint64_t triangleTests = 0;

    // The query form (made by finish): a tree whose inner nodes list only their children that hold
    // triangles, side by side, and whose octree leaves of more than a few triangles are split
    // further in two by their triangles' centres. Leaf triangles are copied together with their
    // edges; every box is shrunk to what its triangles occupy inside the octree leaf they came
    // from, and kept in floats rounded outwards and widened by a millionth of the scene's
    // coordinates, so that the box tests (in floats) never miss what the exact boxes hold.
    struct QueryNode {
        float lo[3], hi[3];
        int32_t first = 0;       // an inner node's first child, or a leaf's first triangle
        int32_t childCount = 0;  // 0 for a leaf
        int32_t count = 0;       // triangles of the leaf, or of the whole subtree
        int32_t unused = 0;
    };
    struct QueryTriangle {
        NMVec3 v0, e1, e2;  // vertex 0 and the edges to vertices 1 and 2
        int32_t index;      // in the list
    };
    struct QueryEntry {
        int32_t node;
        double distance;  // nearest |t| (nearest hit) or t (any hit) at which the node is entered
    };
    // Leaves of the query form hold at most this many triangles (unless they cannot be parted).
    static constexpr int32_t queryLeafSize = 4;
    const Stack<QueryNode>& queryNodes() const { return queryNodes_; }

private:
    struct TriangleBounds {
        NMVec3 lo, hi;
    };
    bool overlaps(const NMOctreeNode* node, int32_t index) const;
    bool makeChildren(NMOctreeNode* node);
    bool handDown(NMOctreeNode* node);
    bool pushWork(NMOctreeNode* node);
    int32_t pushDown(HostThreadBase* thread);
    bool compile();
    void acceptHit(const NMVec3& p, const NMVec3& d, const QueryTriangle& qt, double t, double u, double v,
                   NMAbstractVectorLayer* bump, NMNearestHit* best, double* bestFacing, bool* found) const;

    // Build data: three corners and the box of every triangle, and the indices each child of the
    // node being served gets.
    Stack<NMVec3> corners_;
    Stack<TriangleBounds> bounds_;
    Stack<int32_t> scratch_[8];
    Stack<QueryNode> queryNodes_;
    Stack<QueryTriangle> queryTriangles_;
    Stack<QueryEntry> queryWork_;
    bool compiled_ = false;
    // Widening of boxes against rounding, from the scale of the root box's coordinates.
    double slack_ = 0.0;
};
