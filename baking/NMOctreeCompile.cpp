// The query form of the octree: the finished octree laid out in an array, its leaves' triangles
// listed together and parted further, node boxes shrunk to what their triangles occupy.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "baking/NMIntersect.h"
#include "baking/NMOctreeBuild.h"
#include "sources/HostMemory.h"
#include "sources/HostWorkers.h"

namespace {

// Leaves of the built tree whose entries and boxes a worker takes at once.
constexpr int32_t kLeafBlock = 512;

// Boxes of the query form are widened by this much of the scene's coordinates: more than float
// rounding of coordinates and ray parameters can take away.
constexpr double kFloatWiden = 1e-6;

// A triangle as the queries test it: vertex 0 and the edges to vertices 1 and 2.
struct Tri {
    NMVec3 v0, e1, e2;
};
inline Tri triangleAt(const NMVec3* corners, int32_t index) {
    const NMVec3* c = corners + 3 * index;
    return {c[0], c[1] - c[0], c[2] - c[0]};
}

struct Bounds {
    NMVec3 lo{NM_INFINITY, NM_INFINITY, NM_INFINITY};
    NMVec3 hi{-NM_INFINITY, -NM_INFINITY, -NM_INFINITY};

    void add(const NMVec3& p) {
        if (p.x < lo.x) lo.x = p.x;
        if (p.y < lo.y) lo.y = p.y;
        if (p.z < lo.z) lo.z = p.z;
        if (p.x > hi.x) hi.x = p.x;
        if (p.y > hi.y) hi.y = p.y;
        if (p.z > hi.z) hi.z = p.z;
    }
    // The triangle's box held to the clip box.
    void addClipped(const Tri& t, const NMVec3& clipLo, const NMVec3& clipHi) {
        NMVec3 from, to;
        clippedBox(t, clipLo, clipHi, &from, &to);
        addBox(from, to);
    }
    // A box already ordered (from ≤ to on every axis).
    void addBox(const NMVec3& from, const NMVec3& to) {
        if (from.x < lo.x) lo.x = from.x;
        if (to.x > hi.x) hi.x = to.x;
        if (from.y < lo.y) lo.y = from.y;
        if (to.y > hi.y) hi.y = to.y;
        if (from.z < lo.z) lo.z = from.z;
        if (to.z > hi.z) hi.z = to.z;
    }
    static void clippedBox(const Tri& t, const NMVec3& clipLo, const NMVec3& clipHi, NMVec3* from, NMVec3* to) {
        const double* v0 = &t.v0.x;
        const double* e1 = &t.e1.x;
        const double* e2 = &t.e2.x;
        const double* cl = &clipLo.x;
        const double* ch = &clipHi.x;
        double* f = &from->x;
        double* u = &to->x;
        for (int i = 0; i < 3; ++i) {
            const double a = v0[i], b = v0[i] + e1[i], c = v0[i] + e2[i];
            double mn = a < b ? a : b, mx = a < b ? b : a;
            mn = c < mn ? c : mn;
            mx = c > mx ? c : mx;
            mn = mn > cl[i] ? mn : cl[i];
            mx = mx < ch[i] ? mx : ch[i];
            f[i] = mn < mx ? mn : mx;
            u[i] = mn < mx ? mx : mn;
        }
    }
};

NMVec3 centre(const Tri& t) { return t.v0 + (t.e1 + t.e2) * (1.0 / 3.0); }

// The octree as built, in an array, before it becomes the query form.
struct RawNode {
    NMVec3 lo, hi;
    int32_t firstChild = 0;
    int32_t childCount = 0;
    int32_t first = 0;
    int32_t count = 0;
};

// What the making of the query form hands around.
struct Compiler {
    Compiler(Stack<int32_t>& triangles, const NMVec3* corners, Stack<NMOctree::QueryNode>& out, double widen)
        : triangles(triangles), corners(corners), out(out), widen(widen) {}

    Stack<int32_t>& triangles;
    const NMVec3* corners;
    Stack<NMOctree::QueryNode>& out;
    double widen;  // float boxes grow by this much on every side
    int32_t depth = 0;
    // What the parting of one leaf reads of each of its triangles, found once for all its levels.
    struct LeafItem {
        NMVec3 centre;
        NMVec3 from, to;  // its box clipped to the leaf
        int32_t triangle;
    };
    Stack<LeafItem> items;

    void setBox(NMOctree::QueryNode& q, const NMVec3& lo, const NMVec3& hi) const {
        const double l[3] = {lo.x - widen, lo.y - widen, lo.z - widen};
        const double h[3] = {hi.x + widen, hi.y + widen, hi.z + widen};
        for (int i = 0; i < 3; ++i) {
            q.lo[i] = std::nextafter(static_cast<float>(l[i]), -3.4e38f);
            q.hi[i] = std::nextafter(static_cast<float>(h[i]), 3.4e38f);
        }
    }

    bool node(const Stack<RawNode>& raw, int32_t from, int32_t slot, int32_t level);
    bool leaf(int32_t slot, int32_t first, int32_t count, const NMVec3& clipLo, const NMVec3& clipHi, int32_t level);
    bool part(int32_t slot, int32_t first, LeafItem* items, int32_t count, int32_t level);
};

bool Compiler::node(const Stack<RawNode>& raw, int32_t from, int32_t slot, int32_t level) {
    const RawNode& r = raw.items[from];
    if (r.childCount == 0) return leaf(slot, r.first, r.count, r.lo, r.hi, level);
    if (level > depth) depth = level;
    int32_t children = 0;
    for (int32_t c = 0; c < r.childCount; ++c) children += raw.items[r.firstChild + c].count > 0;
    if (out.count + children > out.capacity && !out.reserve(out.grownCapacity() + children)) return false;
    NMOctree::QueryNode& q = out.items[slot];
    setBox(q, r.lo, r.hi);
    q.first = out.count;
    q.setChildren(children);
    out.count += children;
    int32_t next = q.first;
    for (int32_t c = 0; c < r.childCount; ++c)
        if (raw.items[r.firstChild + c].count > 0 && !node(raw, r.firstChild + c, next++, level + 1)) return false;
    return true;
}

// A leaf's triangles, parted in two across the axis where their centres spread most, until at most
// queryLeafSize remain together; each part's box is what its triangles occupy of the leaf.
bool Compiler::leaf(int32_t slot, int32_t first, int32_t count, const NMVec3& clipLo, const NMVec3& clipHi,
                    int32_t level) {
    if (count > items.capacity && !items.reserve(count)) return false;
    int32_t* tris = triangles.items + first;
    for (int32_t i = 0; i < count; ++i) {
        LeafItem& it = items.items[i];
        const Tri t = triangleAt(corners, tris[i]);
        it.centre = centre(t);
        Bounds::clippedBox(t, clipLo, clipHi, &it.from, &it.to);
        it.triangle = tris[i];
    }
    if (!part(slot, first, items.items, count, level)) return false;
    for (int32_t i = 0; i < count; ++i) tris[i] = items.items[i].triangle;
    return true;
}

bool Compiler::part(int32_t slot, int32_t first, LeafItem* items, int32_t count, int32_t level) {
    if (level > depth) depth = level;
    Bounds box, centres;
    for (int32_t i = 0; i < count; ++i) {
        box.addBox(items[i].from, items[i].to);
        centres.add(items[i].centre);
    }
    NMOctree::QueryNode& q = out.items[slot];
    if (count > 0) setBox(q, box.lo, box.hi);
    q.first = first;
    q.setLeaf(count);
    const NMVec3 spread = centres.hi - centres.lo;
    const int axis = spread.x >= spread.y && spread.x >= spread.z ? 0 : (spread.y >= spread.z ? 1 : 2);
    const double along = axis == 0 ? spread.x : (axis == 1 ? spread.y : spread.z);
    if (count <= NMOctree::queryLeafSize || !(along > 0.0)) return true;

    // Parted at the middle of the centres' spread; where that leaves one side empty (centres
    // bunched at one end), at their median.
    const double middle = axis == 0 ? centres.lo.x + 0.5 * spread.x
                                    : (axis == 1 ? centres.lo.y + 0.5 * spread.y : centres.lo.z + 0.5 * spread.z);
    auto coordinate = [axis](const LeafItem& it) {
        return axis == 0 ? it.centre.x : (axis == 1 ? it.centre.y : it.centre.z);
    };
    int32_t half = static_cast<int32_t>(
        std::partition(items, items + count, [&](const LeafItem& it) { return coordinate(it) < middle; }) - items);
    if (half == 0 || half == count) {
        half = count / 2;
        std::nth_element(items, items + half, items + count,
                         [&](const LeafItem& a, const LeafItem& b) { return coordinate(a) < coordinate(b); });
    }
    // Room for two more nodes; growing moves the nodes, so the leaf is found again by its slot.
    if (out.count + 2 > out.capacity && !out.reserve(out.grownCapacity() + 2)) return false;
    NMOctree::QueryNode& parted = out.items[slot];
    parted.first = out.count;
    parted.setChildren(2);
    out.count += 2;
    const int32_t left = parted.first;
    return part(left, first, items, half, level + 1) &&
           part(left + 1, first + half, items + half, count - half, level + 1);
}

// The subtrees below the root's children made into query nodes, each on one worker in a part of
// its own: the child's node first, then its descendants in the order the single walk gives them.
// Leaves part only their own range of the triangle entries, so the workers never share one.
class SubtreeJob final : public WorkerJob {
public:
    SubtreeJob(const Stack<RawNode>& raw, Stack<int32_t>& triangles, const NMVec3* corners, double widen,
               const Stack<int32_t>& rawChild, Stack<Stack<NMOctree::QueryNode>>& parts, Stack<int32_t>& depths)
        : raw_(raw), triangles_(triangles), corners_(corners), widen_(widen), rawChild_(rawChild), parts_(parts),
          depths_(depths) {}

    void work(int32_t) override {
        while (!failed_.load(std::memory_order_relaxed)) {
            const int32_t j = next_.fetch_add(1);
            if (j >= rawChild_.count) return;
            Stack<NMOctree::QueryNode>& part = parts_.items[j];
            const RawNode& r = raw_.items[rawChild_.items[j]];
            Compiler compiler(triangles_, corners_, part, widen_);
            if (!part.reserve(r.count / 8 * 5 + 16)) {
                failed_ = true;
                return;
            }
            part.count = 1;
            if (!compiler.node(raw_, rawChild_.items[j], 0, 1)) failed_ = true;
            depths_.items[j] = compiler.depth;
        }
    }
    bool failed() const { return failed_.load(); }

private:
    const Stack<RawNode>& raw_;
    Stack<int32_t>& triangles_;
    const NMVec3* corners_;
    double widen_;
    const Stack<int32_t>& rawChild_;
    Stack<Stack<NMOctree::QueryNode>>& parts_;
    Stack<int32_t>& depths_;
    std::atomic<int32_t> next_{0};
    std::atomic<bool> failed_{false};
};

// The query nodes with the subtrees of the root's children made on several workers and then put
// where the single walk puts them: the root, its non-empty children side by side, then each
// child's descendants, child after child. Node by node the same as compile on one thread.
bool compileParts(const Stack<RawNode>& raw, int32_t threads, Stack<NMOctree::QueryNode>& nodes,
                  Stack<int32_t>& entries, const NMVec3* corners, double widen, int32_t* depth) {
    using QueryNode = NMOctree::QueryNode;
    const RawNode& top = raw.items[0];
    Stack<int32_t> rawChild;
    for (int32_t c = 0; c < top.childCount; ++c)
        if (raw.items[top.firstChild + c].count > 0) {
            const int32_t before = rawChild.count;
            rawChild.push(top.firstChild + c);
            if (rawChild.count == before) return false;
        }
    const int32_t children = rawChild.count;
    Stack<Stack<QueryNode>> parts;
    Stack<int32_t> depths;
    if (!parts.resize(children > 0 ? children : 1) || !depths.resize(children > 0 ? children : 1)) return false;
    SubtreeJob job(raw, entries, corners, widen, rawChild, parts, depths);
    if (children > 0) runWorkers(job, threads < children ? threads : children, nullptr);
    if (job.failed()) return false;

    int64_t total = 1 + children;
    for (int32_t j = 0; j < children; ++j) total += parts.items[j].count - 1;
    if (total > 0x7fffffff || !nodes.reserve(static_cast<int32_t>(total))) return false;
    nodes.count = static_cast<int32_t>(total);
    QueryNode& q = nodes.items[0];
    q = QueryNode();
    Compiler(entries, corners, nodes, widen).setBox(q, top.lo, top.hi);
    q.first = 1;
    q.setChildren(children);
    *depth = 0;
    int32_t base = 1 + children;  // where the descendants of the next child start
    for (int32_t j = 0; j < children; ++j) {
        Stack<QueryNode>& part = parts.items[j];
        for (int32_t m = 0; m < part.count; ++m) {
            QueryNode n = part.items[m];
            // Slots of the part: 0 is the child itself, m > 0 its descendant at base + m − 1.
            if (!n.isLeaf()) n.first = base + n.first - 1;
            nodes.items[m == 0 ? 1 + j : base + m - 1] = n;
        }
        base += part.count - 1;
        part.clear();
        if (depths.items[j] > *depth) *depth = depths.items[j];
    }
    return true;
}

// One subtree of the octree in an array, slot 0 its top, in the order of a depth-first walk that
// takes a node's children from the last: eight children side by side for every inner node, each
// leaf given the next range of the entries (from 0).
struct Layout {
    struct Leaf {
        const NMOctreeNode* node;
        int32_t slot;
    };
    Stack<RawNode> raw;
    Stack<Leaf> leaves;
    int32_t entries = 0;

    bool walk(const NMOctreeNode* top) {
        Stack<Leaf> stack;
        stack.push({top, 0});
        raw.push(RawNode());
        if (stack.count == 0 || raw.count == 0) return false;
        while (stack.count > 0) {
            const Leaf it = stack.items[--stack.count];
            RawNode& q = raw.items[it.slot];
            if (it.node->isLeaf()) {
                q.childCount = 0;
                q.first = entries;
                q.count = it.node->indices.count;
                entries += q.count;
                const int32_t before = leaves.count;
                leaves.push(it);
                if (leaves.count == before) return false;
                continue;
            }
            q.firstChild = raw.count;
            q.childCount = 8;
            if (!stack.reserve(stack.count + 8)) return false;
            if (raw.count + 8 > raw.capacity && !raw.reserve(raw.grownCapacity() + 8)) return false;
            for (int32_t c = 0; c < 8; ++c) {
                raw.items[raw.count] = RawNode();
                stack.items[stack.count++] = {it.node->child[c], raw.count};
                ++raw.count;
            }
        }
        return true;
    }
};

// The leaf's entries and its box: its triangles' boxes clipped to the leaf.
void fillLeaf(const NMOctreeNode* node, RawNode& q, int32_t* entries, const NMVec3* corners) {
    Bounds b;
    for (int32_t i = 0; i < node->indices.count; ++i) {
        const int32_t index = node->indices.items[i];
        entries[q.first + i] = index;
        b.addClipped(triangleAt(corners, index), node->box.min, node->box.max);
    }
    q.lo = b.lo;
    q.hi = b.hi;
}

// The whole octree in an array as one walk from the root lays it out (see Layout), with every leaf's
// entries and box. With several threads each child of the root is walked on a worker and its part
// put where the single walk puts it: the root, its eight children, then the descendants of the last
// child, then those of the one before, and so on; the array is the same.
bool layOut(const NMOctreeNode* root, int32_t threads, Stack<RawNode>& raw, Stack<int32_t>& entries,
            const NMVec3* corners, int32_t* leafCount) {
    if (threads <= 1 || root->isLeaf()) {
        Layout all;
        if (!all.walk(root) || !entries.reserve(all.entries > 0 ? all.entries : 1)) return false;
        entries.count = all.entries;
        *leafCount = all.leaves.count;
        forBlocks(all.leaves.count, kLeafBlock, threads, nullptr, [&](int32_t from, int32_t to) {
            for (int32_t l = from; l < to; ++l)
                fillLeaf(all.leaves.items[l].node, all.raw.items[all.leaves.items[l].slot], entries.items, corners);
            return true;
        });
        raw = static_cast<Stack<RawNode>&&>(all.raw);
        return true;
    }
    Stack<Layout> parts;
    if (!parts.resize(8)) return false;
    const bool walked = forBlocks(8, 1, threads, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t c = from; c < to; ++c)
            if (!parts.items[c].walk(root->child[c])) return false;
        return true;
    });
    if (!walked) return false;
    // Where each part's descendants and entries begin: the last child's first.
    int32_t nodeBase[8], entryBase[8];
    int64_t nodes = 9, total = 0;
    for (int32_t c = 7; c >= 0; --c) {
        nodeBase[c] = static_cast<int32_t>(nodes);
        entryBase[c] = static_cast<int32_t>(total);
        nodes += parts.items[c].raw.count - 1;
        total += parts.items[c].entries;
        if (nodes > 0x7fffffff || total > 0x7fffffff) return false;
    }
    if (!raw.reserve(static_cast<int32_t>(nodes)) || !entries.reserve(total > 0 ? static_cast<int32_t>(total) : 1))
        return false;
    raw.count = static_cast<int32_t>(nodes);
    entries.count = static_cast<int32_t>(total);
    RawNode& top = raw.items[0];
    top = RawNode();
    top.firstChild = 1;
    top.childCount = 8;
    *leafCount = 0;
    for (int32_t c = 0; c < 8; ++c) *leafCount += parts.items[c].leaves.count;
    forBlocks(8, 1, threads, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t c = from; c < to; ++c) {
            Layout& part = parts.items[c];
            // Slot 0 of the part is the child itself, slot s > 0 its descendant at nodeBase + s − 1.
            auto slotOf = [&](int32_t s) { return s == 0 ? 1 + c : nodeBase[c] + s - 1; };
            for (int32_t l = 0; l < part.leaves.count; ++l) {
                RawNode& q = part.raw.items[part.leaves.items[l].slot];
                q.first += entryBase[c];
                fillLeaf(part.leaves.items[l].node, q, entries.items, corners);
            }
            for (int32_t s = 0; s < part.raw.count; ++s) {
                RawNode q = part.raw.items[s];
                if (q.childCount > 0) q.firstChild = slotOf(q.firstChild);
                raw.items[slotOf(s)] = q;
            }
            part.raw.clear();
            part.leaves.clear();
        }
        return true;
    });
    return true;
}

}  // namespace

// First the octree as it is, in an array: eight children side by side for every inner node, each
// leaf's triangles copied with their box clipped to the leaf. Then the final form from it.
bool NMOctreeBuilder::compile(int32_t threads) {
    bounds_.clear();  // the build is over
    using QueryNode = NMOctree::QueryNode;
    NMOctree& out = *out_;
    Stack<QueryNode>& queryNodes_ = out.queryNodes_;
    Stack<int32_t>& queryEntries_ = out.queryEntries_;

    Stack<RawNode> raw;
    int32_t leafCount = 0;
    if (!layOut(root_, threads, raw, queryEntries_, corners_, &leafCount)) return false;
    const int32_t nodeCount = raw.count, entryCount = queryEntries_.count;
    // From here on the query form is made from the array alone.
    if (!options_.keepNodes) freeNodes();

    // Children come after their parents: one backward sweep sums the counts and joins the boxes.
    for (int32_t i = raw.count - 1; i >= 0; --i) {
        RawNode& q = raw.items[i];
        if (q.childCount == 0) continue;
        q.count = 0;
        Bounds b;
        for (int32_t c = 0; c < q.childCount; ++c) {
            const RawNode& k = raw.items[q.firstChild + c];
            if (k.count == 0) continue;
            q.count += k.count;
            b.add(k.lo);
            b.add(k.hi);
        }
        q.lo = b.lo;
        q.hi = b.hi;
    }

    // The final form: empty children left out, big leaves parted.
    const double widen = out.slack_ / kOctreeWiden * kFloatWiden;
    int32_t depth = 0;
    if (threads > 1 && raw.items[0].childCount > 0) {
        if (!compileParts(raw, threads, queryNodes_, queryEntries_, corners_, widen, &depth)) return false;
    } else {
        // Parting can at most double the leaves' entries in nodes, but in practice adds about one
        // node for every two entries; the nodes grow when that is not enough.
        if (!queryNodes_.reserve(raw.count + queryEntries_.count / 2 + 1)) return false;
        queryNodes_.count = 1;
        Compiler compiler(queryEntries_, corners_, queryNodes_, widen);
        if (!compiler.node(raw, 0, 0, 0)) return false;
        depth = compiler.depth;
    }
    raw.clear();
    // The nodes' room may have grown well beyond what they use: keep only that.
    if (queryNodes_.capacity - queryNodes_.count > queryNodes_.count / 8) {
        Stack<QueryNode> exact;
        if (!exact.reserve(queryNodes_.count)) return false;
        for (int32_t i = 0; i < queryNodes_.count; ++i) exact.items[i] = queryNodes_.items[i];
        exact.count = queryNodes_.count;
        queryNodes_ = static_cast<Stack<QueryNode>&&>(exact);
    }
    out.queryStackSize_ = 8 * (depth + 1) + 1;
    out.ready_ = true;
    stats_.octreeNodes = nodeCount;
    stats_.octreeLeaves = leafCount;
    stats_.entries = entryCount;
    stats_.queryNodes = queryNodes_.count;
    stats_.depth = depth;
    return true;
}

