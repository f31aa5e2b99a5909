// NMOctreeBuilder: the one way an NMOctree is made.
//
// Construction follows a fixed scheme, so the tree is the same on every run: the root collects
// triangle indices until 30 are pending and then hands them down; a node that holds more than 30
// is split into its eight octants unless all its half extents are at most 0.001; at the end every
// pending index is handed down to the leaves. A triangle lies in every leaf whose box it overlaps
// (boundary contact included). The query form is then made from the finished octree (leaf
// triangles listed together, node boxes shrunk to what their triangles occupy).
//
// With several threads the tree is the same, made another way: the root's own list is collected
// first (what the root would hand down every splitCount insertions), then each of the root's eight
// subtrees replays those hand-downs on a thread of its own. What a subtree becomes depends only on
// the indices handed to its top in that order, so every node ends with the same children and the
// same list as in the sequential build.
#pragma once

#include <cstdint>

#include "baking/NMNodeArena.h"
#include "baking/NMOctree.h"
#include "baking/NMProgress.h"
#include "baking/NMTriangle.h"
#include "sources/HostInterface.h"
#include "sources/Stack.h"

// A node of the octree while it is built: its box, its eight children (all or none) and the
// indices it holds (pending ones for an inner node, its triangles for a leaf). The children and the
// indices live in the builder's arenas, and go with them.
struct NMOctreeNode {
    NMOctreeNode() = default;
    NMOctreeNode(const NMOctreeNode&) = delete;
    NMOctreeNode& operator=(const NMOctreeNode&) = delete;

    NMBox box;
    NMOctreeNode* child[8] = {};
    NMIndexList indices;

    bool isLeaf() const;
};

struct NMOctreeBuildOptions {
    // Threads of the build (1: the sequential build; the tree is the same for any number).
    int32_t threads = 1;
    // Asked for a stop now and then; a stop fails the build.
    HostThreadBase* thread = nullptr;
    // Told the fraction of the insertions done.
    NMProgress* progress = nullptr;
    // Keep the octree's nodes after the build (to be looked at through root()). Without them the
    // build frees them as soon as the query form no longer needs them, before it makes the form's
    // nodes, so that the two are never held at once.
    bool keepNodes = false;
};

// What the last build made.
struct NMOctreeBuildStats {
    int32_t triangles = 0;
    int32_t octreeNodes = 0;  // nodes of the octree, leaves included
    int32_t octreeLeaves = 0;
    int32_t entries = 0;      // leaf entries: each triangle once for every leaf that holds it
    int32_t queryNodes = 0;   // nodes of the query form
    int32_t depth = 0;        // levels of the query form below its root
};

class NMOctreeBuilder {
public:
    // A root collects this many indices before handing them down; other nodes split above it.
    static constexpr int32_t splitCount = 30;
    // Nodes whose half extents are all at most this are never split.
    static constexpr double minHalfExtent = 0.001;

    explicit NMOctreeBuilder(const NMOctreeBuildOptions& options = NMOctreeBuildOptions());
    NMOctreeBuilder(const NMOctreeBuilder&) = delete;
    NMOctreeBuilder& operator=(const NMOctreeBuilder&) = delete;
    ~NMOctreeBuilder();

    // Builds `out` over the geometry's triangles, whose corners and normals it takes over (the
    // geometry is left empty). `bumpSource`, when given, is the list the geometry was made from:
    // the nearest-hit query reads its texture coordinates and tangent frames for the bump detail,
    // so it must outlive `out`. False on a stop request or when memory runs out; `out` is then
    // empty.
    bool build(NMTriangleGeometry& geometry, NMOctree& out, const NMTriangleList* bumpSource = nullptr);
    // The same over a list's triangles (their corners and normals copied), the list kept as the
    // source of the bump detail.
    bool build(const NMTriangleList& list, NMOctree& out);

    const NMOctreeBuildStats& stats() const { return stats_; }
    // The octree's root after a build with keepNodes (null otherwise).
    const NMOctreeNode* root() const { return root_; }
    // Entries the construction's work stack holds room for (none once a build has ended).
    int32_t workCapacity() const { return scratch_.work.capacity; }

private:
    struct TriangleBounds {
        NMVec3 lo, hi;
    };
    // What one pass of construction works with: its work stack, the indices each child of the
    // node being served gets, and the arena of its thread. Buffers are kept between passes and
    // freed when the build ends.
    struct BuildScratch {
        NMNodeArena* arena = nullptr;
        Stack<NMOctreeNode*> work;
        Stack<int32_t> pending[8];
        void clear() {
            work.clear();
            for (Stack<int32_t>& p : pending) p.clear();
        }
    };
    struct Placement;
    class BuildJob;

    bool buildSequential();
    bool buildParallel();
    bool makeBounds();
    bool insert(int32_t index);
    bool overlaps(const NMOctreeNode* node, int32_t index) const;
    Placement place(const NMOctreeNode* node, int32_t index) const;
    bool childGets(const NMOctreeNode* node, const Placement& p, int32_t k, int32_t index) const;
    static bool growList(NMIndexList& list, int32_t extra, NMNodeArena& arena);
    static bool makeChildren(NMOctreeNode* node, NMNodeArena& arena);
    bool handDown(NMOctreeNode* node, BuildScratch& scratch) const;
    enum class Descent { Split, Finish };
    bool descend(NMOctreeNode* start, BuildScratch& scratch, Descent descent) const;
    void freeNodes();
    // Makes the query form of `out_` from the finished octree (in NMOctreeCompile.cpp); the subtrees
    // of the root's children on up to `threads` workers, with the same result as on one.
    bool compile(int32_t threads);

    NMOctreeBuildOptions options_;
    NMOctreeBuildStats stats_;
    // The tree being built, whose corners the construction reads.
    NMOctree* out_ = nullptr;
    const NMVec3* corners_ = nullptr;
    int32_t count_ = 0;
    // Widening of the placement tests against rounding, from the scale of the root box's coordinates.
    double slack_ = 0.0;
    NMOctreeNode* root_ = nullptr;
    // Where the nodes below the root and every node's indices live: the first arena for the
    // calling thread, one for each worker of the parallel build. A subtree is built by one worker
    // alone, so every list grows in the arena it started in.
    static constexpr int32_t kMostBuildWorkers = 8;
    NMNodeArena arenas_[kMostBuildWorkers + 1];
    // The box of every triangle and the sequential build's scratch while the tree is built.
    Stack<TriangleBounds> bounds_;
    BuildScratch scratch_;
};
