// The query side of NMOctree: the compact form the queries run on, and the nearest-hit and any-hit
// queries themselves.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "baking/NMIntersect.h"
#include "baking/NMOctree.h"
#include "sources/HostMemory.h"
#include "sources/HostWorkers.h"

namespace {

// Boxes are widened and distances compared with this much slack, relative to the coordinates.
constexpr double kWiden = 1e-9;

// Leaves of the built tree whose entries and boxes a worker takes at once.
constexpr int32_t kLeafBlock = 512;

// Boxes of the query form are widened by this much of the scene's coordinates: more than float
// rounding of coordinates and ray parameters can take away.
constexpr double kFloatWiden = 1e-6;

// A ray prepared for the box tests: per axis the inverse direction and which corner of a box it
// meets first (for a zero component, whether the origin lies in the slab is asked instead).
struct Ray {
    float p[3];
    float inv[3];
    int nearHi[3];  // 1 when the direction is negative: the box's upper side is met first
    bool flat[3];   // direction component exactly zero
    bool anyFlat;
};

Ray prepare(const NMVec3& p, const NMVec3& d) {
    Ray r;
    const double pc[3] = {p.x, p.y, p.z}, dc[3] = {d.x, d.y, d.z};
    r.anyFlat = false;
    for (int i = 0; i < 3; ++i) {
        r.p[i] = static_cast<float>(pc[i]);
        const float f = static_cast<float>(dc[i]);
        r.flat[i] = f == 0.0f;
        r.anyFlat = r.anyFlat || r.flat[i];
        r.inv[i] = r.flat[i] ? 0.0f : 1.0f / f;
        r.nearHi[i] = f < 0.0f ? 1 : 0;
    }
    return r;
}

// The interval of the line through the box; false when the line misses it.
inline bool lineThrough(const NMOctree::QueryNode& n, const Ray& r, double* tNear, double* tFar) {
    const float* corner[2] = {n.lo, n.hi};
    float tn = -3e38f, tf = 3e38f;
    if (r.anyFlat) {
        for (int i = 0; i < 3; ++i) {
            if (r.flat[i]) {
                if (r.p[i] < corner[0][i] || r.p[i] > corner[1][i]) return false;
                continue;
            }
            const float t1 = (corner[r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            const float t2 = (corner[1 - r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            if (t1 > tn) tn = t1;
            if (t2 < tf) tf = t2;
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            const float t1 = (corner[r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            const float t2 = (corner[1 - r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            tn = t1 > tn ? t1 : tn;
            tf = t2 < tf ? t2 : tf;
        }
    }
    *tNear = tn;
    *tFar = tf;
    return tn <= tf;
}

struct Candidate {
    int32_t node;
    double distance;
};

// Pushes the candidates so that the nearest is popped first.
void pushNearestLast(Stack<NMOctree::QueryEntry>& work, Candidate* c, int32_t n) {
    for (int32_t i = 1; i < n; ++i) {
        const Candidate k = c[i];
        int32_t j = i - 1;
        while (j >= 0 && c[j].distance < k.distance) {
            c[j + 1] = c[j];
            --j;
        }
        c[j + 1] = k;
    }
    for (int32_t i = 0; i < n; ++i) work.items[work.count++] = {c[i].node, c[i].distance};
}


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
        const double* v0 = &t.v0.x;
        const double* e1 = &t.e1.x;
        const double* e2 = &t.e2.x;
        const double* cl = &clipLo.x;
        const double* ch = &clipHi.x;
        double* l = &lo.x;
        double* h = &hi.x;
        for (int i = 0; i < 3; ++i) {
            const double a = v0[i], b = v0[i] + e1[i], c = v0[i] + e2[i];
            double mn = a < b ? a : b, mx = a < b ? b : a;
            mn = c < mn ? c : mn;
            mx = c > mx ? c : mx;
            mn = mn > cl[i] ? mn : cl[i];
            mx = mx < ch[i] ? mx : ch[i];
            const double from = mn < mx ? mn : mx, to = mn < mx ? mx : mn;
            if (from < l[i]) l[i] = from;
            if (to > h[i]) h[i] = to;
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
    Stack<int32_t>& triangles;
    const NMVec3* corners;
    Stack<NMOctree::QueryNode>& out;
    double widen;  // float boxes grow by this much on every side
    int32_t depth = 0;

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
    q.count = r.count;
    q.first = out.count;
    q.childCount = children;
    out.count += children;
    int32_t next = q.first;
    for (int32_t c = 0; c < r.childCount; ++c)
        if (raw.items[r.firstChild + c].count > 0 && !node(raw, r.firstChild + c, next++, level + 1)) return false;
    return true;
}

// A leaf's triangles, parted in two across the axis where their centres spread most, until at most
// queryLeafSize remain together.
bool Compiler::leaf(int32_t slot, int32_t first, int32_t count, const NMVec3& clipLo, const NMVec3& clipHi,
                    int32_t level) {
    if (level > depth) depth = level;
    int32_t* tris = triangles.items + first;
    Bounds box, centres;
    for (int32_t i = 0; i < count; ++i) {
        const Tri t = triangleAt(corners, tris[i]);
        box.addClipped(t, clipLo, clipHi);
        centres.add(centre(t));
    }
    NMOctree::QueryNode& q = out.items[slot];
    if (count > 0) setBox(q, box.lo, box.hi);
    q.first = first;
    q.count = count;
    q.childCount = 0;
    const NMVec3 spread = centres.hi - centres.lo;
    const int axis = spread.x >= spread.y && spread.x >= spread.z ? 0 : (spread.y >= spread.z ? 1 : 2);
    const double along = axis == 0 ? spread.x : (axis == 1 ? spread.y : spread.z);
    if (count <= NMOctree::queryLeafSize || !(along > 0.0)) return true;

    // Parted at the middle of the centres' spread; where that leaves one side empty (centres
    // bunched at one end), at their median.
    const double middle = axis == 0 ? centres.lo.x + 0.5 * spread.x
                                    : (axis == 1 ? centres.lo.y + 0.5 * spread.y : centres.lo.z + 0.5 * spread.z);
    const NMVec3* corners = this->corners;
    auto below = [axis, middle, corners](int32_t t) {
        const NMVec3 c = centre(triangleAt(corners, t));
        return (axis == 0 ? c.x : (axis == 1 ? c.y : c.z)) < middle;
    };
    int32_t half = static_cast<int32_t>(std::partition(tris, tris + count, below) - tris);
    if (half == 0 || half == count) {
        half = count / 2;
        std::nth_element(tris, tris + half, tris + count, [axis, corners](int32_t a, int32_t b) {
            const NMVec3 ca = centre(triangleAt(corners, a)), cb = centre(triangleAt(corners, b));
            return axis == 0 ? ca.x < cb.x : (axis == 1 ? ca.y < cb.y : ca.z < cb.z);
        });
    }
    // Room for two more nodes; growing moves the nodes, so the leaf is found again by its slot.
    if (out.count + 2 > out.capacity && !out.reserve(out.grownCapacity() + 2)) return false;
    NMOctree::QueryNode& parted = out.items[slot];
    parted.first = out.count;
    parted.childCount = 2;
    out.count += 2;
    const int32_t left = parted.first;
    return leaf(left, first, half, clipLo, clipHi, level + 1) &&
           leaf(left + 1, first + half, count - half, clipLo, clipHi, level + 1);
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
            Compiler compiler{triangles_, corners_, part, widen_};
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
    Compiler{entries, corners, nodes, widen}.setBox(q, top.lo, top.hi);
    q.count = top.count;
    q.first = 1;
    q.childCount = children;
    *depth = 0;
    int32_t base = 1 + children;  // where the descendants of the next child start
    for (int32_t j = 0; j < children; ++j) {
        Stack<QueryNode>& part = parts.items[j];
        for (int32_t m = 0; m < part.count; ++m) {
            QueryNode n = part.items[m];
            // Slots of the part: 0 is the child itself, m > 0 its descendant at base + m − 1.
            if (n.childCount > 0) n.first = base + n.first - 1;
            nodes.items[m == 0 ? 1 + j : base + m - 1] = n;
        }
        base += part.count - 1;
        part.clear();
        if (depths.items[j] > *depth) *depth = depths.items[j];
    }
    return true;
}

}  // namespace

// First the octree as it is, in an array: eight children side by side for every inner node, each
// leaf's triangles copied with their box clipped to the leaf. Then the final form from it.
bool NMOctree::compile(int32_t threads) {
    compiled_ = false;
    queryNodes_.clear();
    queryEntries_.clear();
    queryStackSize_ = 0;
    bounds_.clear();  // the build is over

    int32_t nodeCount = 0, entryCount = 0;
    {
        Stack<NMOctreeNode*> stack;
        stack.push(root);
        if (stack.count == 0) return false;
        while (stack.count > 0) {
            NMOctreeNode* node = stack.items[--stack.count];
            ++nodeCount;
            if (node->isLeaf()) {
                entryCount += node->indices.count;
                continue;
            }
            if (!stack.reserve(stack.count + 8)) return false;
            for (NMOctreeNode* c : node->child) stack.items[stack.count++] = c;
        }
    }
    Stack<RawNode> raw;
    if (!raw.reserve(nodeCount) || !queryEntries_.reserve(entryCount > 0 ? entryCount : 1)) return false;

    // The nodes in walk order, each leaf given its range of the entries; then the leaves' entries
    // and boxes, leaf by leaf on the workers.
    struct Item {
        NMOctreeNode* node;
        int32_t slot;
    };
    Stack<Item> stack, leaves;
    stack.push({root, 0});
    if (stack.count == 0) return false;
    raw.count = 1;
    raw.items[0] = RawNode();
    int32_t entries = 0;
    while (stack.count > 0) {
        const Item it = stack.items[--stack.count];
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
        for (int32_t c = 0; c < 8; ++c) {
            raw.items[raw.count] = RawNode();
            stack.items[stack.count++] = {it.node->child[c], raw.count};
            ++raw.count;
        }
    }
    stack.clear();
    queryEntries_.count = entries;
    forBlocks(leaves.count, kLeafBlock, threads, nullptr, [&](int32_t from, int32_t to) {
        for (int32_t l = from; l < to; ++l) {
            const NMOctreeNode* node = leaves.items[l].node;
            RawNode& q = raw.items[leaves.items[l].slot];
            Bounds b;
            for (int32_t i = 0; i < node->indices.count; ++i) {
                const int32_t index = node->indices.items[i];
                queryEntries_.items[q.first + i] = index;
                b.addClipped(triangleAt(corners_.items, index), node->box.min, node->box.max);
            }
            q.lo = b.lo;
            q.hi = b.hi;
        }
        return true;
    });
    leaves.clear();
    // From here on the query form is made from the array alone.
    if (!keepNodes) releaseTree();

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
    const double widen = slack_ / kWiden * kFloatWiden;
    int32_t depth = 0;
    if (threads > 1 && raw.items[0].childCount > 0) {
        if (!compileParts(raw, threads, queryNodes_, queryEntries_, corners_.items, widen, &depth)) return false;
    } else {
        // Parting can at most double the leaves' entries in nodes, but in practice adds about one
        // node for every two entries; the nodes grow when that is not enough.
        if (!queryNodes_.reserve(raw.count + queryEntries_.count / 2 + 1)) return false;
        queryNodes_.count = 1;
        Compiler compiler{queryEntries_, corners_.items, queryNodes_, widen};
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
    queryStackSize_ = 8 * (depth + 1) + 1;
    if (ownScratch_ == nullptr) ownScratch_ = hostNew<NMQueryScratch>("NMOctree", __LINE__);
    if (ownScratch_ == nullptr || !prepareScratch(*ownScratch_)) return false;
    compiled_ = true;
    return true;
}

bool NMOctree::prepareScratch(NMQueryScratch& scratch) const {
    return scratch.work.reserve(queryStackSize_) && scratch.packets.reserve(queryStackSize_);
}

void NMOctree::acceptHit(const NMVec3& p, const NMVec3& d, int32_t index, double t, double u, double v,
                         NMAbstractVectorLayer* bump, NMNearestHit* best, double* bestFacing, bool* found) const {
    (void)p;
    const NMVec3* c = corners_.items + 3 * index;
    const NMVec3* n = normals_.items + 3 * index;
    const double w = 1.0 - u - v;
    const NMVec3 normal = normalize(n[0] * w + n[1] * u + n[2] * v);
    const double facing = dot(normal, d);
    if (facing < minFacing) return;
    const double at = std::fabs(t);
    if (at >= NM_INFINITY) return;
    if (*found) {
        const double bestAt = std::fabs(best->t);
        if (!(at < bestAt || (at == bestAt && facing > *bestFacing))) return;
    }
    NMVec3 stored = normal;
    if (bump != nullptr && list != nullptr && index < list->triangles.count) {
        // The bump image holds tangent-space normals over the high object's texture coordinates.
        const NMTriangle& tri = list->triangles.items[index];
        const NMVec3 uvw = tri.v[0].uvw * w + tri.v[1].uvw * u + tri.v[2].uvw * v;
        const NMVec3 tangent = tri.v[0].tangent * w + tri.v[1].tangent * u + tri.v[2].tangent * v;
        const NMVec3 bitangent = tri.v[0].bitangent * w + tri.v[1].bitangent * u + tri.v[2].bitangent * v;
        const NMVec3 blended = n[0] * w + n[1] * u + n[2] * v;
        const NMVector3f s = bump->bilinear(uvw.x, uvw.y);
        stored = tangent * s.x + bitangent * s.y + blended * s.z;
    }
    best->point = c[0] * w + c[1] * u + c[2] * v;
    best->normal = stored;
    best->t = t;
    best->triangle = index;
    *bestFacing = dot(stored, d);
    *found = true;
}

bool NMOctree::nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit) {
    ++rayCount;
    if (!compiled_) return false;
    NMQueryScratch& own = *ownScratch_;
    const uint64_t visits = own.nodeVisits, tests = own.triangleTests;
    const bool found = nearestHit(p, d, bump, hit, own);
    nodeVisits += own.nodeVisits - visits;
    triangleTests += own.triangleTests - tests;
    return found;
}

bool NMOctree::nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit,
                          NMQueryScratch& scratch) const {
    ++scratch.rays;
    if (!compiled_ || queryNodes_.items[0].count == 0) return false;
    if (scratch.work.capacity < queryStackSize_) {
        scratch.failed = true;
        return false;
    }
    Stack<QueryEntry>& queryWork_ = scratch.work;
    const Ray ray = prepare(p, d);
    double tn, tf;
    if (!lineThrough(queryNodes_.items[0], ray, &tn, &tf)) return false;

    NMNearestHit best;
    double bestFacing = 0.0, bestAt = NM_INFINITY, reach = NM_INFINITY;
    bool found = false;
    queryWork_.count = 0;
    queryWork_.items[queryWork_.count++] = {0, tn > 0.0 ? tn : (tf < 0.0 ? -tf : 0.0)};
    while (queryWork_.count > 0) {
        const QueryEntry e = queryWork_.items[--queryWork_.count];
        // Nothing in a node entered farther than the best hit can be nearer (equal distances are
        // still looked at, for the tie rule); `reach` adds the slack for rounding of the box test.
        if (e.distance > reach) continue;
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.childCount == 0) {
            const int32_t* tris = queryEntries_.items + q.first;
            scratch.triangleTests += q.count;
            for (int32_t i = 0; i < q.count; ++i) {
                NMRayHit h;
                const NMVec3* c = corners_.items + 3 * tris[i];
                if (!rayTriangle(p, d, c[0], c[1] - c[0], c[2] - c[0], &h)) continue;
                if (found && std::fabs(h.t) > bestAt) continue;
                acceptHit(p, d, tris[i], h.t, h.u, h.v, bump, &best, &bestFacing, &found);
                if (found) {
                    bestAt = std::fabs(best.t);
                    reach = bestAt + bestAt * kWiden + slack_;
                }
            }
            continue;
        }
        Candidate c[8];
        int32_t n = 0;
        for (int32_t k = 0; k < q.childCount; ++k) {
            const int32_t child = q.first + k;
            if (!lineThrough(queryNodes_.items[child], ray, &tn, &tf)) continue;
            const double distance = tn > 0.0 ? tn : (tf < 0.0 ? -tf : 0.0);
            if (distance > reach) continue;
            c[n++] = {child, distance};
        }
        if (queryWork_.count + n > queryWork_.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return false;
        }
        pushNearestLast(queryWork_, c, n);
    }
    if (!found || isZero(best.normal)) return false;
    *hit = best;
    return true;
}

bool NMOctree::anyHit(const NMVec3& o, const NMVec3& r) {
    ++rayCount;
    if (!compiled_) return false;
    NMQueryScratch& own = *ownScratch_;
    const uint64_t visits = own.nodeVisits, tests = own.triangleTests;
    const bool blocked = anyHit(o, r, own);
    nodeVisits += own.nodeVisits - visits;
    triangleTests += own.triangleTests - tests;
    return blocked;
}

bool NMOctree::anyHit(const NMVec3& o, const NMVec3& r, NMQueryScratch& scratch) const {
    ++scratch.rays;
    if (!compiled_ || queryNodes_.items[0].count == 0) return false;
    if (scratch.work.capacity < queryStackSize_) {
        scratch.failed = true;
        return false;
    }
    Stack<QueryEntry>& queryWork_ = scratch.work;
    const Ray ray = prepare(o, r);
    double tn, tf;
    if (!lineThrough(queryNodes_.items[0], ray, &tn, &tf) || tf < 0.0) return false;
    queryWork_.count = 0;
    queryWork_.items[queryWork_.count++] = {0, tn};
    while (queryWork_.count > 0) {
        const QueryEntry e = queryWork_.items[--queryWork_.count];
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.childCount == 0) {
            const int32_t* tris = queryEntries_.items + q.first;
            scratch.triangleTests += q.count;
            for (int32_t i = 0; i < q.count; ++i) {
                NMRayHit h;
                const NMVec3* c = corners_.items + 3 * tris[i];
                if (rayTriangle(o, r, c[0], c[1] - c[0], c[2] - c[0], &h) && h.t > 0.0) return true;
            }
            continue;
        }
        Candidate c[8];
        int32_t n = 0;
        for (int32_t k = 0; k < q.childCount; ++k) {
            const int32_t child = q.first + k;
            if (!lineThrough(queryNodes_.items[child], ray, &tn, &tf) || tf < 0.0) continue;
            c[n++] = {child, tn};
        }
        if (queryWork_.count + n > queryWork_.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return false;
        }
        pushNearestLast(queryWork_, c, n);
    }
    return false;
}

namespace {

// Up to eight boxes side by side, their corners taken relative to a ray origin: lo[axis][lane] and
// hi[axis][lane].
struct BoxLanes {
    float lo[3][8];
    float hi[3][8];
};

// Adds `bit` to enters[k] for every box k < n that the ray (no zero component) enters at some
// t ≥ 0: box by box the same operations, in the same order, as the single ray's slab test.
inline void enterBoxes(const BoxLanes& b, int32_t n, const Ray& r, uint64_t bit, uint64_t* enters) {
    const float* nearX = r.nearHi[0] ? b.hi[0] : b.lo[0];
    const float* farX = r.nearHi[0] ? b.lo[0] : b.hi[0];
    const float* nearY = r.nearHi[1] ? b.hi[1] : b.lo[1];
    const float* farY = r.nearHi[1] ? b.lo[1] : b.hi[1];
    const float* nearZ = r.nearHi[2] ? b.hi[2] : b.lo[2];
    const float* farZ = r.nearHi[2] ? b.lo[2] : b.hi[2];
    const float ix = r.inv[0], iy = r.inv[1], iz = r.inv[2];
    for (int32_t k = 0; k < n; ++k) {
        float tn = -3e38f, tf = 3e38f;
        float t1 = nearX[k] * ix, t2 = farX[k] * ix;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        t1 = nearY[k] * iy;
        t2 = farY[k] * iy;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        t1 = nearZ[k] * iz;
        t2 = farZ[k] * iz;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        enters[k] |= (tn <= tf) & (tf >= 0.0f) ? bit : 0;
    }
}

// The same for one lane and a ray that may have zero components (the origin must then lie in the
// slab).
inline bool enteredLane(const BoxLanes& b, int32_t k, const Ray& r) {
    float tn = -3e38f, tf = 3e38f;
    for (int a = 0; a < 3; ++a) {
        if (r.flat[a]) {
            // lo ≤ p ≤ hi, as (lo − p) ≤ 0 ≤ (hi − p).
            if (b.lo[a][k] > 0.0f || b.hi[a][k] < 0.0f) return false;
            continue;
        }
        const float t1 = (r.nearHi[a] ? b.hi : b.lo)[a][k] * r.inv[a];
        const float t2 = (r.nearHi[a] ? b.lo : b.hi)[a][k] * r.inv[a];
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
    }
    return tn <= tf && tf >= 0.0f;
}

}  // namespace

// The packet walks the tree once for all its rays. A node is entered with the rays whose box tests
// passed on the way down, less those already blocked; each ray meets exactly the boxes (and so the
// triangles) it would meet alone, so the answers are those of anyHit. All rays share the origin, so
// the box corners relative to it are computed once per box; a ray is then tested against all the
// children of a node side by side, and a child box that holds the origin lets every ray in without
// a test (a ray starting inside a box always passes its slab test). Children are visited nearest
// to the origin first.
uint64_t NMOctree::anyHitPacket(const NMVec3& o, const NMVec3* dirs, int32_t count, NMQueryScratch& scratch) const {
    if (count <= 0) return 0;
    if (count > 64) count = 64;
    scratch.rays += static_cast<uint64_t>(count);
    if (!compiled_ || queryNodes_.items[0].count == 0) return 0;
    if (scratch.packets.capacity < queryStackSize_) {
        scratch.failed = true;
        return 0;
    }
    Ray rays[64];
    uint64_t flatRays = 0;  // rays with a zero direction component: the slab test's special case
    for (int32_t i = 0; i < count; ++i) {
        rays[i] = prepare(o, dirs[i]);
        if (rays[i].anyFlat) flatRays |= uint64_t(1) << i;
    }
    const float origin[3] = {rays[0].p[0], rays[0].p[1], rays[0].p[2]};

    // in[k]: the rays of `live` that enter the box of node first + k (k < n). A box that holds the
    // origin lets them all in; the others are put side by side, relative to the origin, and every
    // ray is tested against them together.
    uint64_t in[8];
    auto enter = [&](int32_t first, int32_t n, uint64_t live) {
        BoxLanes lanes;
        int32_t laneNode[8];
        int32_t m = 0;
        for (int32_t k = 0; k < n; ++k) {
            const QueryNode& b = queryNodes_.items[first + k];
            bool holds = true;
            for (int a = 0; a < 3; ++a) {
                const float lo = b.lo[a] - origin[a], hi = b.hi[a] - origin[a];
                lanes.lo[a][m] = lo;
                lanes.hi[a][m] = hi;
                holds &= (lo <= 0.0f) & (hi >= 0.0f);
            }
            in[k] = holds ? live : 0;
            laneNode[m] = k;
            m += !holds;
        }
        if (m == 0) return;
        uint64_t lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        uint64_t left = live & ~flatRays;
        while (left != 0) {
            const int32_t i = __builtin_ctzll(left);
            left &= left - 1;
            enterBoxes(lanes, m, rays[i], uint64_t(1) << i, lane);
        }
        left = live & flatRays;
        while (left != 0) {
            const int32_t i = __builtin_ctzll(left);
            left &= left - 1;
            for (int32_t j = 0; j < m; ++j)
                if (enteredLane(lanes, j, rays[i])) lane[j] |= uint64_t(1) << i;
        }
        for (int32_t j = 0; j < m; ++j) in[laneNode[j]] = lane[j];
    };
    // The squared distance of a node's box from the origin.
    auto distanceOf = [&](const QueryNode& b) {
        float dist = 0.0f;
        for (int a = 0; a < 3; ++a) {
            const float lo = b.lo[a] - origin[a], hi = b.hi[a] - origin[a];
            const float outside = lo > 0.0f ? lo : (hi < 0.0f ? -hi : 0.0f);
            dist += outside * outside;
        }
        return dist;
    };

    const uint64_t all = count == 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
    enter(0, 1, all);
    const uint64_t rootRays = in[0];
    if (rootRays == 0) return 0;
    uint64_t blocked = 0;
    Stack<PacketEntry>& work = scratch.packets;
    work.count = 0;
    work.items[work.count++] = {0, rootRays};
    while (work.count > 0) {
        const PacketEntry e = work.items[--work.count];
        uint64_t live = e.rays & ~blocked;
        if (live == 0) continue;
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.childCount == 0) {
            const int32_t* tris = queryEntries_.items + q.first;
            for (int32_t t = 0; t < q.count && live != 0; ++t) {
                const NMVec3* c = corners_.items + 3 * tris[t];
                NMOriginTriangle tri(o, c[0], c[1] - c[0], c[2] - c[0]);
                uint64_t left = live;
                while (left != 0) {
                    const int32_t i = __builtin_ctzll(left);
                    left &= left - 1;
                    ++scratch.triangleTests;
                    NMRayHit h;
                    if (tri.hit(dirs[i], &h) && h.t > 0.0) {
                        blocked |= uint64_t(1) << i;
                        live &= ~(uint64_t(1) << i);
                    }
                }
            }
            continue;
        }
        const int32_t n = q.childCount;
        enter(q.first, n, live);
        struct Child {
            int32_t node;
            uint64_t rays;
            float distance;
        } c[8];
        int32_t m = 0;
        for (int32_t k = 0; k < n; ++k) {
            if (in[k] == 0) continue;
            const float dk = distanceOf(queryNodes_.items[q.first + k]);
            // Kept ordered farthest first, so that the nearest is popped first.
            int32_t j = m++;
            while (j > 0 && c[j - 1].distance < dk) {
                c[j] = c[j - 1];
                --j;
            }
            c[j] = {q.first + k, in[k], dk};
        }
        if (work.count + m > work.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return 0;
        }
        for (int32_t k = 0; k < m; ++k) {
            work.items[work.count++] = {c[k].node, c[k].rays};
            // What the child's visit reads first: its children's boxes, or its triangle indices.
            const QueryNode& child = queryNodes_.items[c[k].node];
            if (child.childCount > 0)
                __builtin_prefetch(queryNodes_.items + child.first);
            else
                __builtin_prefetch(queryEntries_.items + child.first);
        }
    }
    return blocked;
}
