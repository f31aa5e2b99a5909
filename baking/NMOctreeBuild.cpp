#include "baking/NMOctreeBuild.h"

#include <atomic>
#include <cmath>
#include <new>

#include "baking/NMBakeThread.h"
#include "baking/NMIntersect.h"
#include "sources/HostMemory.h"
#include "sources/HostWorkers.h"
#include "sources/Module.h"

namespace {

constexpr const char* kOctreeTag = "NMOctree";
// Entries a list reserves on its first append.
constexpr int32_t kFirstReserve = 10;
// Root-list entries a worker places at once.
constexpr int32_t kPlacementBlock = 16384;

inline double min3(double a, double b, double c) {
    const double m = a < b ? a : b;
    return m < c ? m : c;
}
inline double max3(double a, double b, double c) {
    const double m = a > b ? a : b;
    return m > c ? m : c;
}

double maxHalf(const NMBox& b) {
    double m = b.half.x;
    if (b.half.y > m) m = b.half.y;
    if (b.half.z > m) m = b.half.z;
    return m;
}

// The largest magnitude of the box's coordinates: rounding in box tests is relative to it.
double coordinateScale(const NMBox& b) {
    double scale = 1e-300;
    const double coords[9] = {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z, b.half.x, b.half.y, b.half.z};
    for (double c : coords)
        if (std::fabs(c) > scale) scale = std::fabs(c);
    return scale;
}

// A list that lies in one plane across an axis (a flat panel) has a box of zero thickness there.
// Both octants along that axis would then hold the whole plane on their common face, and so would
// theirs, level after level: every triangle would be stored 2^depth times. Such an axis gets a
// thickness of a millionth of the box's coordinates, which leaves the plane on the centre face of
// the root only.
void thickenFlatAxes(NMBox& box) {
    const double largest = maxHalf(box);
    if (box.set == 0 || largest == 0.0) return;
    const double thickness = coordinateScale(box) * 1e-6;
    double* lo[3] = {&box.min.x, &box.min.y, &box.min.z};
    double* hi[3] = {&box.max.x, &box.max.y, &box.max.z};
    const double half[3] = {box.half.x, box.half.y, box.half.z};
    bool changed = false;
    for (int i = 0; i < 3; ++i) {
        if (half[i] != 0.0) continue;
        *lo[i] -= thickness;
        *hi[i] += thickness;
        changed = true;
    }
    if (changed) box.finish();
}

}  // namespace

bool NMOctreeNode::isLeaf() const {
    for (const NMOctreeNode* c : child)
        if (c != nullptr) return false;
    return true;
}

NMOctreeBuilder::NMOctreeBuilder(const NMOctreeBuildOptions& options) : options_(options) {}

NMOctreeBuilder::~NMOctreeBuilder() { freeNodes(); }

void NMOctreeBuilder::freeNodes() {
    hostDelete(root_);
    root_ = nullptr;
    for (NMNodeArena& arena : arenas_) arena.release();
}

bool NMOctreeBuilder::build(const NMTriangleList& list, NMOctree& out) {
    // What the build and the queries read of each triangle, side by side: its corners and their
    // normals. From here on the list itself is read only for the bump detail.
    NMTriangleGeometry geometry;
    const int32_t n = list.count();
    if (n > 0) {
        if (!geometry.corners.resize(3 * n) || !geometry.normals.resize(3 * n)) {
            out.clear();
            return false;
        }
        for (int32_t i = 0; i < n; ++i) {
            const NMTriangle& t = list.triangles.items[i];
            for (int k = 0; k < 3; ++k) {
                geometry.corners.items[3 * i + k] = t.v[k].position;
                geometry.normals.items[3 * i + k] = t.v[k].normal;
            }
        }
    }
    geometry.box = list.box;
    return build(geometry, out, &list);
}

bool NMOctreeBuilder::build(NMTriangleGeometry& geometry, NMOctree& out, const NMTriangleList* bumpSource) {
    freeNodes();
    stats_ = NMOctreeBuildStats();
    out.clear();
    out_ = &out;
    bool ok = (root_ = hostNew<NMOctreeNode>(kOctreeTag, __LINE__)) != nullptr;
    if (ok) {
        root_->box = geometry.box;
        thickenFlatAxes(root_->box);
        slack_ = out.slack_ = coordinateScale(root_->box) * kOctreeWiden;
        out.corners_ = static_cast<Stack<NMVec3>&&>(geometry.corners);
        out.normals_ = static_cast<Stack<NMVec3>&&>(geometry.normals);
        out.list_ = bumpSource;
        corners_ = out.corners_.items;
        count_ = out.corners_.count / 3;
        stats_.triangles = count_;
        scratch_.arena = &arenas_[0];
        ok = makeBounds() && (options_.threads > 1 ? buildParallel() : buildSequential());
    }
    geometry.clear();
    scratch_.clear();
    bounds_.clear();
    if (!options_.keepNodes) freeNodes();
    if (!ok) out.clear();
    out_ = nullptr;
    corners_ = nullptr;
    count_ = 0;
    return ok;
}

// Inserts the triangles one by one (asking for a stop before every 100th), then hands every
// pending index down to the leaves.
bool NMOctreeBuilder::buildSequential() {
    for (int32_t i = 0; i < count_; ++i) {
        if (i % 100 == 0) {
            if (bakeStopRequested(options_.thread)) return false;
            if (options_.progress != nullptr) options_.progress->done(static_cast<double>(i) / count_);
        }
        if (!insert(i)) return false;
    }
    return descend(root_, scratch_, Descent::Finish) && compile(1);
}

bool NMOctreeBuilder::insert(int32_t index) {
    if (!overlaps(root_, index)) return true;
    if (!growList(root_->indices, 1, arenas_[0])) return false;
    root_->indices.items[root_->indices.count++] = index;
    if (root_->indices.count < splitCount) return true;
    return descend(root_, scratch_, Descent::Split);
}

// The boxes of the triangles, for the placement tests of the build (freed when it ends).
bool NMOctreeBuilder::makeBounds() {
    if (count_ == 0) return true;
    if (!bounds_.resize(count_)) return false;
    for (int32_t i = 0; i < count_; ++i) {
        const NMVec3* c = corners_ + 3 * i;
        TriangleBounds& b = bounds_.items[i];
        b.lo = {min3(c[0].x, c[1].x, c[2].x), min3(c[0].y, c[1].y, c[2].y), min3(c[0].z, c[1].z, c[2].z)};
        b.hi = {max3(c[0].x, c[1].x, c[2].x), max3(c[0].y, c[1].y, c[2].y), max3(c[0].z, c[1].z, c[2].z)};
    }
    return true;
}

// The overlap test is asked of a box widened by a hair: a child's centre and half extents are
// rounded, so a triangle lying exactly on the face between two children could otherwise be found
// in neither and be lost. A triangle whose box lies apart from the node's is separated on a box
// axis, and one whose box lies inside it overlaps it; only the others need the full test.
bool NMOctreeBuilder::overlaps(const NMOctreeNode* node, int32_t index) const {
    const NMBox& box = node->box;
    const NMVec3 half = box.half + NMVec3{slack_, slack_, slack_};
    const NMVec3 lo = box.centre - half, hi = box.centre + half;
    const TriangleBounds& b = bounds_.items[index];
    if (b.lo.x > hi.x || b.lo.y > hi.y || b.lo.z > hi.z || b.hi.x < lo.x || b.hi.y < lo.y || b.hi.z < lo.z)
        return false;
    if (b.lo.x >= lo.x && b.lo.y >= lo.y && b.lo.z >= lo.z && b.hi.x <= hi.x && b.hi.y <= hi.y && b.hi.z <= hi.z)
        return true;
    const NMVec3* c = corners_ + 3 * index;
    return triangleBoxOverlap(box.centre, half, c[0], c[1], c[2]);
}

bool NMOctreeBuilder::makeChildren(NMOctreeNode* node, NMNodeArena& arena) {
    if (node->child[0] != nullptr) return true;  // all eight exist
    void* block = arena.take(8 * sizeof(NMOctreeNode), __LINE__);
    if (block == nullptr) return false;
    NMOctreeNode* children = static_cast<NMOctreeNode*>(block);
    const NMBox& box = node->box;
    for (int32_t c = 0; c < 8; ++c) {
        NMOctreeNode* child = new (children + c) NMOctreeNode();
        // Bit 4 picks the lower x half, bit 2 the lower z half, bit 1 the lower y half.
        const bool lowX = (c & 4) != 0, lowY = (c & 1) != 0, lowZ = (c & 2) != 0;
        NMBox& b = child->box;
        b.min = {lowX ? box.centre.x - box.half.x : box.centre.x, lowY ? box.centre.y - box.half.y : box.centre.y,
                 lowZ ? box.centre.z - box.half.z : box.centre.z};
        b.max = {lowX ? box.centre.x : box.centre.x + box.half.x, lowY ? box.centre.y : box.centre.y + box.half.y,
                 lowZ ? box.centre.z : box.centre.z + box.half.z};
        b.set = 1;
        b.finish();
        node->child[c] = child;
    }
    return true;
}

// Where a triangle of the node can go: the sides of each centre plane its box reaches, and whether
// it certainly overlaps every octant on those sides. Only those octants are tried. A triangle of
// the node overlaps the node; when its box crosses none of the centre planes, the part of it in
// the node lies in the one octant its box reaches, which it therefore overlaps, even where the
// triangle reaches out of the node (as every triangle a node shares with its neighbours does). A
// triangle inside the node that crosses one centre plane overlaps both octants its box reaches (it
// runs continuously from one side to the other).
struct NMOctreeBuilder::Placement {
    bool up[3], low[3];
    bool certain;
};

NMOctreeBuilder::Placement NMOctreeBuilder::place(const NMOctreeNode* node, int32_t index) const {
    const NMVec3& c = node->box.centre;
    const NMVec3 half = node->box.half + NMVec3{slack_, slack_, slack_};
    const NMVec3 lo = c - half, hi = c + half;
    const TriangleBounds& b = bounds_.items[index];
    Placement p;
    p.up[0] = b.hi.x >= c.x - slack_;
    p.low[0] = b.lo.x <= c.x + slack_;
    p.up[1] = b.hi.y >= c.y - slack_;
    p.low[1] = b.lo.y <= c.y + slack_;
    p.up[2] = b.hi.z >= c.z - slack_;
    p.low[2] = b.lo.z <= c.z + slack_;
    const bool inside = b.lo.x >= lo.x && b.lo.y >= lo.y && b.lo.z >= lo.z && b.hi.x <= hi.x && b.hi.y <= hi.y &&
                        b.hi.z <= hi.z;
    const int32_t crossed = (p.up[0] && p.low[0]) + (p.up[1] && p.low[1]) + (p.up[2] && p.low[2]);
    p.certain = crossed == 0 || (inside && crossed <= 1);
    return p;
}

// Bit 4: lower x, bit 2: lower z, bit 1: lower y (a set bit selects the lower half).
bool NMOctreeBuilder::childGets(const NMOctreeNode* node, const Placement& p, int32_t k, int32_t index) const {
    if (!((k & 4) ? p.low[0] : p.up[0]) || !((k & 1) ? p.low[1] : p.up[1]) || !((k & 2) ? p.low[2] : p.up[2]))
        return false;
    return p.certain || overlaps(node->child[k], index);
}

// Room for `extra` more indices in a node's list, grown as appending one by one would grow it (10
// at first), in one step.
bool NMOctreeBuilder::growList(NMIndexList& list, int32_t extra, NMNodeArena& arena) {
    const int32_t needed = list.count + extra;
    if (needed <= list.capacity) return true;
    int32_t capacity = list.capacity;
    while (capacity < needed) {
        if (capacity == 0)
            capacity = kFirstReserve;
        else
            capacity = capacity < 5 ? capacity + 1 : capacity + capacity / 2;
    }
    return arena.regrow(list, capacity, __LINE__);
}

// Every pending index of the node goes to each child whose box its triangle overlaps. Each child's
// list gets its new indices in the node's list order, as if the children were served one after the
// other.
bool NMOctreeBuilder::handDown(NMOctreeNode* node, BuildScratch& scratch) const {
    for (int32_t i = 0; i < node->indices.count; ++i) {
        const int32_t index = node->indices.items[i];
        const Placement p = place(node, index);
        for (int32_t k = 0; k < 8; ++k) {
            if (!childGets(node, p, k, index)) continue;
            Stack<int32_t>& pending = scratch.pending[k];
            if (pending.count == pending.capacity && !pending.reserve(pending.grownCapacity() + 16)) return false;
            pending.items[pending.count++] = index;
        }
    }
    for (int32_t k = 0; k < 8; ++k) {
        Stack<int32_t>& pending = scratch.pending[k];
        NMIndexList& list = node->child[k]->indices;
        if (!growList(list, pending.count, *scratch.arena)) return false;
        for (int32_t i = 0; i < pending.count; ++i) list.items[list.count++] = pending.items[i];
        pending.count = 0;
    }
    return true;
}

// Hands the pending indices of `start` down, and so on down. Splitting (`Descent::Split`) goes on
// into every child that ends up with more than splitCount indices; finishing (`Descent::Finish`)
// into every child, until each index is in a leaf. Either stops at children too small to split.
bool NMOctreeBuilder::descend(NMOctreeNode* start, BuildScratch& scratch, Descent descent) const {
    Stack<NMOctreeNode*>& work = scratch.work;
    work.count = 0;
    work.push(start);
    if (work.count == 0) return false;
    while (work.count > 0) {
        NMOctreeNode* node = work.items[--work.count];
        if (bakeStopRequested(options_.thread)) return false;
        if (descent == Descent::Finish && node->isLeaf()) continue;
        if (!makeChildren(node, *scratch.arena) || !handDown(node, scratch)) return false;
        for (int32_t c = 0; c < 8; ++c) {
            NMOctreeNode* child = node->child[c];
            const bool full = descent == Descent::Finish || child->indices.count > splitCount;
            if (full && maxHalf(child->box) > minHalfExtent) {
                const int32_t before = work.count;
                work.push(child);
                if (work.count == before) return false;
            }
        }
        node->indices.count = 0;  // emptied, storage kept
    }
    return true;
}

// One subtree of the root per task: the hand-downs of the root replayed onto it, then its finish.
class NMOctreeBuilder::BuildJob : public WorkerJob {
public:
    BuildJob(const NMOctreeBuilder& builder, NMNodeArena* workerArenas, const Stack<int32_t>& rootList,
             const Stack<uint8_t>& rootChildren)
        : builder_(builder), workerArenas_(workerArenas), rootList_(rootList), rootChildren_(rootChildren) {}

    void work(int32_t worker) override {
        BuildScratch scratch;
        scratch.arena = workerArenas_ + worker;
        const int32_t batches = rootList_.count / splitCount;
        for (;;) {
            const int32_t k = next_.fetch_add(1);
            if (k >= 8 || failed_.load(std::memory_order_relaxed)) break;
            if (!subtree(k, batches, scratch, worker == 0)) {
                failed_ = true;
                break;
            }
        }
        scratch.clear();
    }
    bool failed() const { return failed_.load(); }

private:
    bool subtree(int32_t k, int32_t batches, BuildScratch& scratch, bool showProgress) {
        const NMOctreeBuilder& b = builder_;
        NMOctreeNode* root = b.root_;
        NMOctreeNode* child = root->child[k];
        HostThreadBase* thread = b.options_.thread;
        NMProgress* progress = showProgress ? b.options_.progress : nullptr;
        const int32_t* all = rootList_.items;
        for (int32_t batch = 0; batch <= batches; ++batch) {
            // What the root handed down at its batch-th push-down; after the last, what it still
            // held when the build finished.
            const int32_t from = batch * splitCount, to = batch < batches ? from + splitCount : rootList_.count;
            for (int32_t i = from; i < to; ++i) {
                if ((rootChildren_.items[i] & (1u << k)) == 0) continue;
                if (!growList(child->indices, 1, *scratch.arena)) return false;
                child->indices.items[child->indices.count++] = all[i];
            }
            if (batch < batches) {
                if (child->indices.count > splitCount && maxHalf(child->box) > minHalfExtent &&
                    !b.descend(child, scratch, Descent::Split))
                    return false;
                if (failed_.load(std::memory_order_relaxed)) return false;
                if (batch % 100 == 0 && bakeStopRequested(thread)) return false;
            } else if (maxHalf(child->box) > minHalfExtent && !b.descend(child, scratch, Descent::Finish)) {
                return false;
            }
            done_.fetch_add(1, std::memory_order_relaxed);
            if (progress != nullptr && batch % 64 == 0)
                progress->done(done_.load(std::memory_order_relaxed) / (8.0 * (batches + 1)));
        }
        return true;
    }

    const NMOctreeBuilder& builder_;
    NMNodeArena* workerArenas_;
    const Stack<int32_t>& rootList_;
    const Stack<uint8_t>& rootChildren_;
    std::atomic<int32_t> next_{0};
    std::atomic<int32_t> done_{0};
    std::atomic<bool> failed_{false};
};

bool NMOctreeBuilder::buildParallel() {
    const int32_t count = count_;
    HostThreadBase* thread = options_.thread;
    // The root's list as the insertions would have filled it, all of it.
    Stack<int32_t> rootList;
    if (count > 0 && !rootList.reserve(count)) return false;
    for (int32_t i = 0; i < count; ++i) {
        if (i % 100 == 0 && bakeStopRequested(thread)) return false;
        if (overlaps(root_, i)) rootList.items[rootList.count++] = i;
    }
    if (rootList.count < splitCount) {
        // Never handed down: the root is the only leaf.
        if (!growList(root_->indices, rootList.count, arenas_[0])) return false;
        for (int32_t i = 0; i < rootList.count; ++i) root_->indices.items[root_->indices.count++] = rootList.items[i];
        return descend(root_, scratch_, Descent::Finish) && compile(1);
    }
    if (!makeChildren(root_, arenas_[0])) return false;
    // The children of the root each listed triangle goes to (bit k for child k), found once for
    // all eight subtrees.
    Stack<uint8_t> rootChildren;
    if (!rootChildren.resize(rootList.count)) return false;
    const bool placed = forBlocks(rootList.count, kPlacementBlock, options_.threads, thread, [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) {
            const int32_t index = rootList.items[i];
            const Placement p = place(root_, index);
            uint8_t children = 0;
            for (int32_t k = 0; k < 8; ++k)
                if (childGets(root_, p, k, index)) children |= uint8_t(1u << k);
            rootChildren.items[i] = children;
        }
        return !bakeStopRequested(thread);
    });
    if (!placed) return false;
    BuildJob job(*this, arenas_ + 1, rootList, rootChildren);
    runWorkers(job, options_.threads < kMostBuildWorkers ? options_.threads : kMostBuildWorkers, thread);
    if (job.failed() || bakeStopRequested(thread)) return false;
    return compile(options_.threads);
}
