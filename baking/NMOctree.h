// NMOctree: the spatial index the baker casts its rays into, as the queries see it. NMOctreeBuilder
// (NMOctreeBuild.h) makes it; afterwards it does not change. Every query is const and keeps its work
// stack and counts in a scratch the caller brings, so several threads may query one tree at once,
// each with its own scratch.
//
// Two queries: the nearest hit along a whole line (both directions from the origin, nearest in
// absolute distance, only surfaces facing along the direction), and the any-hit test of a forward
// ray. They visit nodes nearest first, leaving out every node that cannot hold a nearer hit than the
// best found, and give the same answers as testing every triangle the line meets. The occlusion rays
// of one sample are traced together by anyHitPacket: one walk down the tree for up to 64 rays from
// one origin, each ray dropped from the walk at its first blocking triangle, with the same answers as
// one by one.
#pragma once

#include <cstdint>

#include "baking/NMTriangle.h"
#include "baking/NMVectorLayer.h"
#include "shader/NMVector.h"
#include "sources/Stack.h"

struct NMQueryScratch;

// Node boxes are widened, and distances compared, with this much slack relative to the scene's
// coordinate scale, so that rounding in the box tests never loses a triangle that touches a box.
inline constexpr double kOctreeWiden = 1e-9;

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
    // The form the queries run on: a tree whose inner nodes list only their children that hold
    // triangles, side by side, and whose octree leaves of more than a few triangles are split further
    // in two by their triangles' centres. Leaves list the indices of their triangles (one triangle may
    // be listed by several leaves); every box is shrunk to what its triangles occupy inside the
    // octree leaf they came from, and kept in floats rounded outwards and widened by a millionth of
    // the scene's coordinates, so that the box tests (in floats) never miss what the exact boxes hold.
    //
    // A node is 32 bytes, two to a cache line: its box, where its children or triangles start, and
    // how many there are (the sign telling which).
    struct QueryNode {
        float lo[3], hi[3];
        int32_t first = 0;  // an inner node's first child, or a leaf's first triangle
        int32_t size = 0;   // a leaf's triangles (≥ 0), or minus an inner node's children

        bool isLeaf() const { return size >= 0; }
        int32_t count() const { return size >= 0 ? size : 0; }
        int32_t childCount() const { return size < 0 ? -size : 0; }
        void setLeaf(int32_t triangles) { size = triangles; }
        // No children make an empty leaf.
        void setChildren(int32_t children) { size = -children; }
    };
    static_assert(sizeof(QueryNode) == 32, "two query nodes to a cache line");
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
    // The nearest hit takes only surfaces whose interpolated normal n has n·d at least this.
    static constexpr double minFacing = 0.1;

    NMOctree() = default;
    NMOctree(const NMOctree&) = delete;
    NMOctree& operator=(const NMOctree&) = delete;

    // Frees everything; queries then find nothing.
    void clear();
    // Whether a build finished; queries of a tree that is not ready find nothing.
    bool ready() const { return ready_; }
    // Triangles the tree was built over.
    int32_t triangleCount() const { return corners_.count / 3; }

    // The hit nearest to p, in absolute distance, along the line p + t·d (d of unit length) whose
    // interpolated normal n has n·d ≥ minFacing; between hits at the same |t| the one whose normal
    // is better aligned with d. False when there is none.
    bool nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit,
                    NMQueryScratch& scratch) const;
    // True when the ray o + t·r meets a triangle at some t > 0.
    bool anyHit(const NMVec3& o, const NMVec3& r, NMQueryScratch& scratch) const;
    // The rays o + t·dirs[i] (i < count ≤ 64) at once: bit i of the answer is set when ray i meets a
    // triangle at some t > 0.
    uint64_t anyHitPacket(const NMVec3& o, const NMVec3* dirs, int32_t count, NMQueryScratch& scratch) const;
    // Makes the scratch's work stacks large enough for every query of this tree; false when memory
    // runs out (a query with a scratch too small answers no hit and marks the scratch failed).
    bool prepareScratch(NMQueryScratch& scratch) const;

    const Stack<QueryNode>& queryNodes() const { return queryNodes_; }
    // The leaves' triangle indices, leaf after leaf.
    const Stack<int32_t>& queryEntries() const { return queryEntries_; }

private:
    friend class NMOctreeBuilder;
    void acceptHit(const NMVec3& d, int32_t index, double t, double u, double v, NMAbstractVectorLayer* bump,
                   NMNearestHit* best, double* bestFacing, bool* found) const;

    // Three corners and three vertex normals of every triangle, in list order.
    Stack<NMVec3> corners_;
    Stack<NMVec3> normals_;
    // The full list, read for the bump detail only (none when the tree was built from geometry).
    const NMTriangleList* list_ = nullptr;
    Stack<QueryNode> queryNodes_;
    Stack<int32_t> queryEntries_;
    // Entries a query's work stack may need at most.
    int32_t queryStackSize_ = 0;
    // Widening of boxes against rounding, from the scale of the root box's coordinates.
    double slack_ = 0.0;
    bool ready_ = false;
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
