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
// answers as testing every triangle the line meets.
//
// Queries that are given an NMQueryScratch keep their work stack and counts there, so several
// threads may query one finished octree at once, each with its own scratch; the forms without one
// use the octree's own scratch (one such query at a time). The occlusion rays of one sample are
// traced together by anyHitPacket: one walk down the tree for up to 64 rays from one origin, each
// ray dropped from the walk at its first blocking triangle, with the same answers as one by one.
#pragma once

#include <cstdint>

#include "baking/BakeStatus.h"
#include "baking/NMTriangle.h"
#include "shader/NMVector.h"
#include "baking/NMVectorLayer.h"
#include "sources/HostInterface.h"
#include "sources/Stack.h"

struct NMQueryScratch;

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

    // Frees any previous tree and makes a root with the list's box, and keeps the triangles'
    // corners and vertex normals. 0 when memory runs out.
    int32_t setList(const NMTriangleList* triangles);
    // The same from a list's corners and normals alone, which the octree takes over (the geometry
    // is left empty); no bump detail can be asked of such a tree. 0 when memory runs out.
    int32_t setGeometry(NMTriangleGeometry& geometry);
    // Adds one triangle; 0 on a stop request or when memory runs out.
    int32_t insertTriangle(int32_t index, HostThreadBase* thread);
    // Hands every pending index down to the leaves and prepares the queries; 0 on a stop request
    // or when memory runs out.
    int32_t finish(HostThreadBase* thread);
    // The whole build with progress: set the list, insert every triangle (asking for a stop before
    // every 100th), finish. While it runs the status text shows the text it had at the start with
    // the percentage done; afterwards it gets that text back. 1 on success.
    //
    // With several threads the tree is the same, made another way: the root's own list is collected
    // first (what the root would hand down every splitCount insertions), then each of the root's
    // eight subtrees replays those hand-downs on a thread of its own. What a subtree becomes depends
    // only on the indices handed to its top in that order, so every node ends with the same children
    // and the same list as in the sequential build.
    int32_t build(BakeStatusText* status, const NMTriangleList* triangles, HostThreadBase* thread,
                  int32_t threads = 1);
    // The build after setList: inserts every triangle and finishes, as build does. Between the two
    // the list's triangles may be freed when no query will ask for the bump detail (which reads
    // their texture coordinates and tangent frames): the tree keeps what else it needs.
    int32_t buildIndex(BakeStatusText* status, HostThreadBase* thread, int32_t threads = 1);
    // Frees the octree's nodes once it is built; the queries do not need them.
    void releaseTree();
    // Whether the nodes outlive the build (to be looked at, or freed by releaseTree). Without them
    // the build frees them as soon as the query form no longer needs them, before it makes the
    // form's nodes, so that the two are never held at once.
    bool keepNodes = true;
    // Frees the tree and every buffer.
    void destroy();
    // Entries the construction's work stack holds room for (none once a build has ended).
    int32_t workCapacity() const { return build_.work.capacity; }

    // The hit nearest to p, in absolute distance, along the line p + t·d (d of unit length) whose
    // interpolated normal n has n·d ≥ minFacing; between hits at the same |t| the one whose normal
    // is better aligned with d. False when there is none (or the tree is not finished).
    bool nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit);
    bool nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit,
                    NMQueryScratch& scratch) const;
    // True when the ray o + t·r meets a triangle at some t > 0.
    bool anyHit(const NMVec3& o, const NMVec3& r);
    bool anyHit(const NMVec3& o, const NMVec3& r, NMQueryScratch& scratch) const;
    // The rays o + t·dirs[i] (i < count ≤ 64) at once: bit i of the answer is set when ray i meets a
    // triangle at some t > 0.
    uint64_t anyHitPacket(const NMVec3& o, const NMVec3* dirs, int32_t count, NMQueryScratch& scratch) const;
    // Makes the scratch's work stacks large enough for every query of this tree; false when memory
    // runs out (a query with a scratch too small answers no hit and marks the scratch failed).
    bool prepareScratch(NMQueryScratch& scratch) const;

    const NMTriangleList* list = nullptr;
    NMOctreeNode* root = nullptr;
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
    // further in two by their triangles' centres. Leaves list the indices of their triangles (one
    // triangle may be listed by several leaves); every box is shrunk to what its triangles occupy inside the octree leaf they came
    // from, and kept in floats rounded outwards and widened by a millionth of the scene's
    // coordinates, so that the box tests (in floats) never miss what the exact boxes hold.
    struct QueryNode {
        float lo[3], hi[3];
        int32_t first = 0;       // an inner node's first child, or a leaf's first triangle
        int32_t childCount = 0;  // 0 for a leaf
        int32_t count = 0;       // triangles of the leaf, or of the whole subtree
        int32_t unused = 0;
    };
    struct QueryEntry {
        int32_t node;
        double distance;  // nearest |t| (nearest hit) or t (any hit) at which the node is entered
    };
    struct PacketEntry {
        int32_t node;
        uint64_t rays;  // the rays of the packet that enter the node
    };
    // Leaves of the query form hold at most this many triangles (unless they cannot be parted).
    static constexpr int32_t queryLeafSize = 4;
    const Stack<QueryNode>& queryNodes() const { return queryNodes_; }
    // The leaves' triangle indices, leaf after leaf.
    const Stack<int32_t>& queryEntries() const { return queryEntries_; }

private:
    struct TriangleBounds {
        NMVec3 lo, hi;
    };
    // What one pass of construction works with: its work stack and the indices each child of the
    // node being served gets. Buffers are kept between passes and freed when the build ends.
    struct BuildScratch {
        Stack<NMOctreeNode*> work;
        Stack<int32_t> pending[8];
        void clear() {
            work.clear();
            for (Stack<int32_t>& p : pending) p.clear();
        }
    };
    struct Placement;
    class BuildJob;
    bool overlaps(const NMOctreeNode* node, int32_t index) const;
    Placement place(const NMOctreeNode* node, int32_t index) const;
    bool childGets(const NMOctreeNode* node, const Placement& p, int32_t k, int32_t index) const;
    static bool growList(Stack<int32_t>& list, int32_t extra);
    bool makeChildren(NMOctreeNode* node) const;
    bool handDown(NMOctreeNode* node, BuildScratch& scratch) const;
    int32_t pushDown(NMOctreeNode* start, BuildScratch& scratch, HostThreadBase* thread) const;
    int32_t finishFrom(NMOctreeNode* start, BuildScratch& scratch, HostThreadBase* thread) const;
    int32_t buildParallel(BakeStatusText* status, HostThreadBase* thread, int32_t threads);
    bool makeBounds();
    // Makes the query form from the finished tree; the subtrees of the root's children on up to
    // `threads` workers, with the same result as on one.
    bool compile(int32_t threads = 1);
    void acceptHit(const NMVec3& p, const NMVec3& d, int32_t index, double t, double u, double v,
                   NMAbstractVectorLayer* bump, NMNearestHit* best, double* bestFacing, bool* found) const;

    // Three corners and three vertex normals of every triangle, in list order; the box of every
    // triangle and the sequential build's scratch while the tree is built.
    Stack<NMVec3> corners_;
    Stack<NMVec3> normals_;
    int32_t count_ = 0;
    Stack<TriangleBounds> bounds_;
    BuildScratch build_;
    Stack<QueryNode> queryNodes_;
    Stack<int32_t> queryEntries_;
    // Entries a query's work stack may need at most.
    int32_t queryStackSize_ = 0;
    bool compiled_ = false;
    // Widening of boxes against rounding, from the scale of the root box's coordinates.
    double slack_ = 0.0;
    // The scratch of the queries that bring none.
    NMQueryScratch* ownScratch_ = nullptr;
};

// One query thread's own: the work stacks of the queries and what they counted.
struct NMQueryScratch {
    Stack<NMOctree::QueryEntry> work;
    Stack<NMOctree::PacketEntry> packets;
    uint64_t rays = 0;
    uint64_t nodeVisits = 0;
    uint64_t triangleTests = 0;
    // Set when a query found its work stack too small and could not answer.
    bool failed = false;
};
