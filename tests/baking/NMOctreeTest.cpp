// The baking octree: its construction scheme (when nodes split, where triangles go), the three
// intersection tests, and both queries against a search over every triangle on random rays.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "baking/NMIntersect.h"
#include "baking/NMOctree.h"
#include "baking/NMOctreeBuild.h"
#include "baking/NMQueryRay.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;

NMTriangle tri(NMVec3 a, NMVec3 b, NMVec3 c, NMVec3 n0 = {0, 0, 1}, NMVec3 n1 = {0, 0, 1}, NMVec3 n2 = {0, 0, 1}) {
    NMTriangle t;
    t.v[0].position = a;
    t.v[1].position = b;
    t.v[2].position = c;
    t.v[0].normal = n0;
    t.v[1].normal = n1;
    t.v[2].normal = n2;
    return t;
}

void add(NMTriangleList& list, const NMTriangle& t) {
    const int32_t before = list.triangles.count;
    list.triangles.push(t);
    ASSERT_EQ(list.triangles.count, before + 1);
}

// The nearest-hit rules applied to every triangle in index order: facing at least 0.1, nearest in
// |t|, at equal |t| the better-facing normal.
struct Reference {
    bool found = false;
    NMVec3 point, normal;
    double t = 0.0;
    int32_t triangle = -1;
};
Reference bruteNearest(const NMTriangleList& list, const NMVec3& p, const NMVec3& d) {
    Reference best;
    double bestFacing = 0.0;
    for (const NMTriangle& t : list.triangles) {
        NMRayHit h;
        const NMVec3& a = t.v[0].position;
        if (!rayTriangle(p, d, a, t.v[1].position - a, t.v[2].position - a, &h)) continue;
        const double w = 1.0 - h.u - h.v;
        const NMVec3 n = normalize(t.v[0].normal * w + t.v[1].normal * h.u + t.v[2].normal * h.v);
        const double facing = dot(n, d);
        if (facing < 0.1 || std::fabs(h.t) >= NM_INFINITY) continue;
        if (best.found && !(std::fabs(h.t) < std::fabs(best.t) ||
                            (std::fabs(h.t) == std::fabs(best.t) && facing > bestFacing)))
            continue;
        best.found = true;
        best.t = h.t;
        best.normal = n;
        best.point = t.v[0].position * w + t.v[1].position * h.u + t.v[2].position * h.v;
        best.triangle = static_cast<int32_t>(&t - list.triangles.items);
        bestFacing = facing;
    }
    return best;
}

bool bruteAny(const NMTriangleList& list, const NMVec3& o, const NMVec3& r) {
    for (const NMTriangle& t : list.triangles) {
        NMRayHit h;
        const NMVec3& a = t.v[0].position;
        if (rayTriangle(o, r, a, t.v[1].position - a, t.v[2].position - a, &h) && h.t > 0.0) return true;
    }
    return false;
}

NMVec3 randomUnit(std::mt19937& rng) {
    std::normal_distribution<double> g;
    for (;;) {
        const NMVec3 v{g(rng), g(rng), g(rng)};
        if (length(v) > 1e-3) return normalize(v);
    }
}

bool contains(const NMOctreeNode* node, int32_t index) {
    for (int32_t i : node->indices)
        if (i == index) return true;
    return false;
}

// The tree over a list, built on `threads`.
bool build(NMOctree& tree, const NMTriangleList& list, int32_t threads = 1, HostThreadBase* thread = nullptr) {
    NMOctreeBuildOptions options;
    options.threads = threads;
    options.thread = thread;
    return NMOctreeBuilder(options).build(list, tree);
}

// A builder that keeps the octree's nodes, to be looked at.
NMOctreeBuildOptions keepingNodes(int32_t threads = 1) {
    NMOctreeBuildOptions options;
    options.threads = threads;
    options.keepNodes = true;
    return options;
}

// One query with a scratch of its own.
bool nearest(const NMOctree& tree, const NMVec3& p, const NMVec3& d, NMNearestHit* hit) {
    NMQueryScratch scratch;
    return tree.prepareScratch(scratch) && tree.nearestHit(p, d, nullptr, hit, scratch);
}
bool anyHit(const NMOctree& tree, const NMVec3& o, const NMVec3& r) {
    NMQueryScratch scratch;
    return tree.prepareScratch(scratch) && tree.anyHit(o, r, scratch);
}

}  // namespace

// ---- intersection tests ---------------------------------------------------------------------

TEST(NMIntersect, MollerTrumboreByHand) {
    // Triangle (0,0,0), (1,0,0), (0,1,0); the ray from (0.25, 0.25, 1) straight down meets it at
    // t = 1 with weights u = v = 0.25.
    const NMVec3 v0{0, 0, 0}, e1{1, 0, 0}, e2{0, 1, 0};
    NMRayHit h{};
    ASSERT_TRUE(rayTriangle({0.25, 0.25, 1}, {0, 0, -1}, v0, e1, e2, &h));
    EXPECT_DOUBLE_EQ(h.t, 1.0);
    EXPECT_DOUBLE_EQ(h.u, 0.25);
    EXPECT_DOUBLE_EQ(h.v, 0.25);
    // Two-sided, and t may be negative: from below, looking away.
    ASSERT_TRUE(rayTriangle({0.25, 0.25, -2}, {0, 0, -1}, v0, e1, e2, &h));
    EXPECT_DOUBLE_EQ(h.t, -2.0);
    // The edges count: a ray through the vertex (1, 0, 0) and one through the edge u + v = 1.
    EXPECT_TRUE(rayTriangle({1, 0, 1}, {0, 0, -1}, v0, e1, e2, &h));
    EXPECT_TRUE(rayTriangle({0.5, 0.5, 1}, {0, 0, -1}, v0, e1, e2, &h));
    EXPECT_FALSE(rayTriangle({0.5, 0.5000001, 1}, {0, 0, -1}, v0, e1, e2, &h));
    // Parallel to the plane: determinant exactly zero, a miss even inside the triangle's plane.
    EXPECT_FALSE(rayTriangle({0.1, 0.1, 0}, {1, 0, 0}, v0, e1, e2, &h));
}

// The bits of a double, so that -0 and +0 (or two NaNs) are told apart.
uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TEST(NMIntersect, OriginTriangleAnswersAsTheSingleTest) {
    // 10,000 rays, 40 at a time from one origin against one triangle held across them (so that the
    // terms it computes on the first ray that gets far enough serve every later one): rays through
    // the triangle's vertices and edge midpoints (u, v or u + v at their limits), rays in the
    // triangle's plane (determinant zero), origins on the triangle (t = 0), degenerate triangles
    // and random ones. Hit or miss, t, u and v must be those of rayTriangle bit for bit.
    std::mt19937 rng(41);
    std::uniform_real_distribution<double> at(-2.0, 2.0);
    std::uniform_int_distribution<int> kind(0, 5), corner(0, 2);
    int hits = 0, ties = 0, flat = 0;
    for (int group = 0; group < 250; ++group) {
        NMVec3 a{at(rng), at(rng), at(rng)}, b{at(rng), at(rng), at(rng)}, c{at(rng), at(rng), at(rng)};
        if (group % 10 == 3) c = a + (b - a) * 0.5;  // zero area
        if (group % 10 == 4) b = a;
        if (group % 10 == 5) a = {std::round(a.x), std::round(a.y), 0}, b = {a.x + 1, a.y, 0}, c = {a.x, a.y + 1, 0};
        const NMVec3 e1 = b - a, e2 = c - a;
        NMVec3 o{at(rng), at(rng), at(rng)};
        if (group % 7 == 0) o = a + e1 * 0.25 + e2 * 0.25;  // on the triangle
        if (group % 7 == 1) o = a + e1 * 2.0;                // in its plane, outside it
        NMOriginTriangle shared(o, a, e1, e2);
        for (int k = 0; k < 40; ++k) {
            NMVec3 d;
            const NMVec3 v[3] = {a, b, c};
            switch (kind(rng)) {
                case 0: d = v[corner(rng)] - o; break;                                  // through a vertex
                case 1: d = (v[corner(rng)] + v[corner(rng)]) * 0.5 - o; break;         // an edge midpoint
                case 2: d = cross(e1, e2); d = cross(d, k % 2 ? e1 : e2); break;        // along the plane
                case 3: d = {0, 0, k % 2 ? 1.0 : -1.0}; break;
                default: d = randomUnit(rng);
            }
            if (k % 5 == 0 && length(d) > 0) d = normalize(d);
            NMRayHit want{}, got{};
            const bool single = rayTriangle(o, d, a, e1, e2, &want);
            ASSERT_EQ(shared.hit(d, &got), single) << group << " " << k;
            if (!single) continue;
            ++hits;
            EXPECT_EQ(bitsOf(got.t), bitsOf(want.t));
            EXPECT_EQ(bitsOf(got.u), bitsOf(want.u));
            EXPECT_EQ(bitsOf(got.v), bitsOf(want.v));
            ties += want.u == 0.0 || want.v == 0.0 || want.u + want.v == 1.0 || want.u == 1.0 || want.v == 1.0;
            flat += want.t == 0.0;
        }
    }
    EXPECT_GT(hits, 2000);
    EXPECT_GT(ties, 200);
    EXPECT_GT(flat, 20);
}

TEST(NMIntersect, SlabTest) {
    const NMVec3 lo{0, 0, 0}, hi{1, 1, 1};
    EXPECT_TRUE(rayBoxHit({0.5, 0.5, -3}, {0, 0, 1}, lo, hi));
    // A zero direction component with the origin outside that slab never enters.
    EXPECT_FALSE(rayBoxHit({5, 0.5, -3}, {0, 0, 1}, lo, hi));
    EXPECT_FALSE(rayBoxHit({1.0000001, 0.5, -3}, {0, 0, 1}, lo, hi));
    // On the slab's boundary it does.
    EXPECT_TRUE(rayBoxHit({1, 0.5, -3}, {0, 0, 1}, lo, hi));
    // A box wholly behind the origin is missed; one that holds the origin is hit.
    EXPECT_FALSE(rayBoxHit({0.5, 0.5, 3}, {0, 0, 1}, lo, hi));
    EXPECT_TRUE(rayBoxHit({0.5, 0.5, 0.5}, {0, 0, 1}, lo, hi));
    // Diagonal rays: through the box, and past its corner.
    const NMVec3 d = normalize(NMVec3{1, 1, 1});
    EXPECT_TRUE(rayBoxHit({-1, -1, -1}, d, lo, hi));
    EXPECT_FALSE(rayBoxHit({-1, -0.5, -1}, normalize(NMVec3{1, -1, 1}), lo, hi));
}

TEST(NMIntersect, TriangleBoxOverlap) {
    const NMVec3 c{0, 0, 0}, h{1, 1, 1};
    // Inside, crossing, and touching a face only.
    EXPECT_TRUE(triangleBoxOverlap(c, h, {0, 0, 0}, {0.5, 0, 0}, {0, 0.5, 0}));
    EXPECT_TRUE(triangleBoxOverlap(c, h, {-5, 0, 0}, {5, 0, 0}, {0, 5, 0}));
    EXPECT_TRUE(triangleBoxOverlap(c, h, {1, -3, -3}, {1, 3, -3}, {1, 0, 3}));
    EXPECT_FALSE(triangleBoxOverlap(c, h, {1.000001, -3, -3}, {1.000001, 3, -3}, {1.000001, 0, 3}));
    // Touching a corner with a vertex.
    EXPECT_TRUE(triangleBoxOverlap(c, h, {1, 1, 1}, {2, 1, 1}, {2, 2, 1}));
    // Boxes overlap but the triangle's plane x + y + z = 3.5 passes beyond the corner (max 3)...
    EXPECT_FALSE(triangleBoxOverlap(c, h, {10, -3.25, -3.25}, {-3.25, 10, -3.25}, {-3.25, -3.25, 10}));
    // ...while x + y + z = 2.9 cuts it.
    EXPECT_TRUE(triangleBoxOverlap(c, h, {9.4, -3.25, -3.25}, {-3.25, 9.4, -3.25}, {-3.25, -3.25, 9.4}));
    // Separated only by an edge axis: a thin triangle along the diagonal plane beyond the corner
    // (x + y = 2.2 near z = 0), whose box overlaps the cube's.
    EXPECT_FALSE(triangleBoxOverlap(c, h, {2.2, 0, -0.5}, {0, 2.2, -0.5}, {1.1, 1.1, 0.5}));
    EXPECT_TRUE(triangleBoxOverlap(c, h, {1.9, 0, -0.5}, {0, 1.9, -0.5}, {0.95, 0.95, 0.5}));
}

// ---- construction ---------------------------------------------------------------------------

class NMOctreeBuild : public BakingFixture {};

TEST_F(NMOctreeBuild, FewerThanThirtyStayInTheRoot) {
    NMTriangleList list;
    for (int i = 0; i < 29; ++i) add(list, tri({0.0 + i, 0, 0}, {1.0 + i, 0, 0}, {0.0 + i, 1, 0}));
    list.computeBox();
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    ASSERT_NE(builder.root(), nullptr);
    EXPECT_TRUE(builder.root()->isLeaf());
    EXPECT_EQ(builder.root()->indices.count, 29);
    EXPECT_EQ(builder.workCapacity(), 0) << "the work stack's buffer is freed after a build";
}

TEST_F(NMOctreeBuild, ThirtyPendingTriggerOnePushDown) {
    // 31 small triangles spread over [0, 10]³ so that each lies in one octant.
    NMTriangleList all;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> at(0.5, 9.0);
    add(all, tri({0, 0, 0}, {0.2, 0, 0}, {0, 0.2, 0}));
    add(all, tri({10, 10, 10}, {9.8, 10, 10}, {10, 9.8, 10}));
    for (int i = 2; i < 31; ++i) {
        const NMVec3 p{at(rng), at(rng), at(rng)};
        add(all, tri(p, p + NMVec3{0.1, 0, 0}, p + NMVec3{0, 0.1, 0}));
    }
    // The first n of them, over the box of all 31 (so that the octants are the same).
    auto firstOf = [&](int n) {
        NMTriangleList list;
        for (int i = 0; i < n; ++i) add(list, all.triangles[i]);
        all.computeBox();
        list.box = all.box;
        return list;
    };
    {
        const NMTriangleList list = firstOf(29);
        NMOctree tree;
        NMOctreeBuilder builder(keepingNodes());
        ASSERT_TRUE(builder.build(list, tree));
        EXPECT_TRUE(builder.root()->isLeaf());
        EXPECT_EQ(builder.root()->indices.count, 29);
    }
    for (int n : {30, 31}) {
        // The 30th hands the root's list down; the 31st waits at the root until the end of the build
        // hands it down too.
        const NMTriangleList list = firstOf(n);
        NMOctree tree;
        NMOctreeBuilder builder(keepingNodes());
        ASSERT_TRUE(builder.build(list, tree));
        const NMOctreeNode* root = builder.root();
        EXPECT_FALSE(root->isLeaf());
        EXPECT_EQ(root->indices.count, 0);
        int32_t held = 0;
        for (const NMOctreeNode* c : root->child) {
            ASSERT_NE(c, nullptr);
            EXPECT_TRUE(c->isLeaf()) << "no child got more than 30, so nothing was split further";
            held += c->indices.count;
        }
        EXPECT_GE(held, n);
        bool found = false;
        for (const NMOctreeNode* c : root->child) found = found || contains(c, n - 1);
        EXPECT_TRUE(found);
    }
}

TEST_F(NMOctreeBuild, TinyNodesAreNeverSplit) {
    // 40 triangles crossing the centre of a box of half extent 0.0015: the root hands them to all
    // eight children (half extent 0.00075), which keep all 40 each.
    NMTriangleList list;
    for (int i = 0; i < 40; ++i) {
        const double s = 0.0015 * (i + 1) / 40.0;
        add(list, tri({-s, -s, -s}, {s, -s, s}, {0, s, 0}));
    }
    add(list, tri({-0.0015, -0.0015, -0.0015}, {0.0015, 0.0015, 0.0015}, {0.0015, -0.0015, 0.0015}));
    list.computeBox();
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    ASSERT_FALSE(builder.root()->isLeaf());
    for (const NMOctreeNode* c : builder.root()->child) {
        EXPECT_TRUE(c->isLeaf());
        EXPECT_LE(c->box.half.x, 0.001);
    }
    int32_t most = 0;
    for (const NMOctreeNode* c : builder.root()->child) most = std::max(most, c->indices.count);
    EXPECT_GT(most, 30);
}

TEST_F(NMOctreeBuild, BoundaryContactGoesToBothChildren) {
    // Root box [0, 2]³, centre (1, 1, 1). Triangle 0 lies in the plane x = 1 inside the lower y and
    // lower z halves: children 3 (upper x) and 7 (lower x) both get it, child 0 (upper y, z) not.
    NMTriangleList list;
    add(list, tri({1, 0.2, 0.2}, {1, 0.8, 0.2}, {1, 0.5, 0.8}));
    add(list, tri({0, 0, 0}, {0.1, 0, 0}, {0, 0.1, 0}));
    add(list, tri({2, 2, 2}, {1.9, 2, 2}, {2, 1.9, 2}));
    for (int i = 0; i < 28; ++i) add(list, tri({1.5, 1.5, 1.2 + 0.01 * i}, {1.6, 1.5, 1.2}, {1.5, 1.6, 1.2}));
    list.computeBox();
    ASSERT_DOUBLE_EQ(list.box.centre.x, 1.0);
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    ASSERT_FALSE(builder.root()->isLeaf());
    EXPECT_TRUE(contains(builder.root()->child[3], 0));
    EXPECT_TRUE(contains(builder.root()->child[7], 0));
    EXPECT_FALSE(contains(builder.root()->child[0], 0));
    EXPECT_FALSE(contains(builder.root()->child[6], 0));
    // Octant boxes: child 3 is upper x, lower y, lower z.
    EXPECT_DOUBLE_EQ(builder.root()->child[3]->box.min.x, 1.0);
    EXPECT_DOUBLE_EQ(builder.root()->child[3]->box.max.y, 1.0);
    EXPECT_DOUBLE_EQ(builder.root()->child[3]->box.max.z, 1.0);
}

TEST_F(NMOctreeBuild, FlatListIsNotCopiedLevelAfterLevel) {
    // 2000 triangles in the plane z = 0. Were both z octants of every node to keep the whole plane
    // on their common face, each triangle would be stored about 2^9 times by the time nodes reach
    // the smallest size; it is stored a few times at most.
    NMTriangleList list;
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 50; ++i) {
            const NMVec3 a{i * 0.02, j * 0.05, 0}, b{(i + 1) * 0.02, j * 0.05, 0}, c{(i + 1) * 0.02, (j + 1) * 0.05, 0},
                d{i * 0.02, (j + 1) * 0.05, 0};
            add(list, tri(a, b, c));
            add(list, tri(a, c, d));
        }
    list.computeBox();
    ASSERT_EQ(list.box.half.z, 0.0);
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    int64_t stored = 0;
    std::vector<const NMOctreeNode*> stack{builder.root()};
    while (!stack.empty()) {
        const NMOctreeNode* n = stack.back();
        stack.pop_back();
        stored += n->indices.count;
        for (const NMOctreeNode* c : n->child)
            if (c) stack.push_back(c);
    }
    EXPECT_LT(stored, 8 * 2000);
    // And every triangle is still found.
    NMNearestHit hit;
    for (int k = 0; k < 200; ++k) {
        const NMVec3 p{0.005 + 0.0049 * k, 0.003 + 0.0047 * k, 0.3};
        ASSERT_TRUE(nearest(tree, p, {0, 0, 1}, &hit)) << k;
        EXPECT_DOUBLE_EQ(hit.t, -0.3);
    }
}

TEST_F(NMOctreeBuild, ProgressIsShownAfterTheStatusTextWhichComesBack) {
    NMTriangleList list;
    for (int i = 0; i < 500; ++i) add(list, tri({0.0 + i, 0, 0}, {1.0 + i, 0, 0}, {0.0 + i, 1, 0}));
    list.computeBox();
    for (int32_t threads : {1, 2}) {
        // What the build tells: fractions that never fall, from 0 up to at most 1.
        struct Recorder final : NMProgress {
            std::vector<double> told;
            void done(double fraction) override { told.push_back(fraction); }
        } recorder;
        NMOctreeBuildOptions options;
        options.threads = threads;
        options.progress = &recorder;
        NMOctree tree;
        ASSERT_TRUE(NMOctreeBuilder(options).build(list, tree));
        ASSERT_FALSE(recorder.told.empty());
        EXPECT_EQ(recorder.told.front(), threads == 1 ? 0.0 : recorder.told.front());
        for (size_t i = 1; i < recorder.told.size(); ++i) EXPECT_GE(recorder.told[i], recorder.told[i - 1]);
        EXPECT_LE(recorder.told.back(), 1.0);
    }
    // Shown in the status text after what it held, which comes back at the end.
    BakeStatusText status;
    status.set("Octree ");
    {
        NMStatusPercent percent(status);
        percent.done(0.125);
        EXPECT_STREQ(status.text().chars(), "Octree 12.500% ");
    }
    EXPECT_STREQ(status.text().chars(), "Octree ");
}

TEST_F(NMOctreeBuild, StopRequestFailsTheBuild) {
    NMTriangleList list;
    for (int i = 0; i < 400; ++i) add(list, tri({0.01 * i, 0, 0}, {0.01 * i + 1, 0, 0}, {0.01 * i, 1, 0.01 * i}));
    list.computeBox();
    for (int64_t stopAt : {1, 2, 4, 10, 50}) {
        baketest::PollingThread thread(stopAt);
        NMOctree tree;
        EXPECT_FALSE(build(tree, list, 1, &thread)) << "stop at poll " << stopAt;
        EXPECT_EQ(thread.polls(), stopAt);
    }
}

TEST_F(NMOctreeBuild, AllocationFailuresFailTheBuild) {
    NMTriangleList list;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> at(0.0, 1.0);
    for (int i = 0; i < 300; ++i) {
        const NMVec3 p{at(rng), at(rng), at(rng)};
        add(list, tri(p, p + NMVec3{0.05, 0, 0}, p + NMVec3{0, 0.05, 0.02}));
    }
    list.computeBox();
    int failures = 0;
    for (uint64_t n = 1; n < 100000; ++n) {
        NMOctree tree;
        host::memory::failAfter(n);
        const bool ok = build(tree, list);
        host::memory::resetFailures();
        if (ok) break;
        ++failures;
        // A failed build leaves nothing a query could find.
        NMNearestHit hit;
        EXPECT_FALSE(nearest(tree, {0.5, 0.5, -1}, {0, 0, 1}, &hit));
    }
    EXPECT_GT(failures, 20);
    console();  // the reports of the failed allocations
}

// ---- queries --------------------------------------------------------------------------------

class NMOctreeQuery : public BakingFixture {};

TEST_F(NMOctreeQuery, HitBehindTheOriginCountsAndNearestWins) {
    NMTriangleList list;
    add(list, tri({-5, -5, 2}, {5, -5, 2}, {0, 5, 2}));     // t = +2
    add(list, tri({-5, -5, -1}, {5, -5, -1}, {0, 5, -1}));  // t = -1
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMNearestHit hit;
    ASSERT_TRUE(nearest(tree, {0, 0, 0}, {0, 0, 1}, &hit));
    EXPECT_DOUBLE_EQ(hit.t, -1.0);
    EXPECT_DOUBLE_EQ(hit.point.z, -1.0);
    EXPECT_EQ(hit.triangle, 1);
}

TEST_F(NMOctreeQuery, EqualDistancesGoToTheBetterFacingNormal) {
    const NMVec3 tilted = normalize(NMVec3{0.5, 0, 1});
    for (int order = 0; order < 2; ++order) {
        NMTriangleList list;
        const NMTriangle up = tri({-5, -5, 1}, {5, -5, 1}, {0, 5, 1}, tilted, tilted, tilted);
        const NMTriangle down = tri({-5, -5, -1}, {5, -5, -1}, {0, 5, -1});
        add(list, order == 0 ? up : down);
        add(list, order == 0 ? down : up);
        list.computeBox();
        NMOctree tree;
        ASSERT_TRUE(build(tree, list));
        NMNearestHit hit;
        ASSERT_TRUE(nearest(tree, {0, 0, 0}, {0, 0, 1}, &hit));
        EXPECT_DOUBLE_EQ(hit.t, -1.0) << "order " << order;
        EXPECT_DOUBLE_EQ(hit.normal.z, 1.0);
    }
}

TEST_F(NMOctreeQuery, SurfacesFacingAwayAreNeverTaken) {
    NMTriangleList list;
    // Normal (0, 0, -1): facing -1. And one at 84.9° to the ray: facing 0.09 < 0.1.
    add(list, tri({-5, -5, 1}, {5, -5, 1}, {0, 5, 1}, {0, 0, -1}, {0, 0, -1}, {0, 0, -1}));
    const NMVec3 grazing = normalize(NMVec3{1, 0, 0.0904});
    add(list, tri({-5, -5, 3}, {5, -5, 3}, {0, 5, 3}, grazing, grazing, grazing));
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMNearestHit hit;
    EXPECT_FALSE(nearest(tree, {0, 0, 0}, {0, 0, 1}, &hit));
    // The any-hit query does not look at normals.
    EXPECT_TRUE(anyHit(tree, {0, 0, 0}, {0, 0, 1}));
}

TEST_F(NMOctreeQuery, OcclusionRayBlockedOnlyInFront) {
    NMTriangleList list;
    add(list, tri({-5, -5, -1}, {5, -5, -1}, {0, 5, -1}));
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    EXPECT_FALSE(anyHit(tree, {0, 0, 0}, {0, 0, 1}));
    EXPECT_TRUE(anyHit(tree, {0, 0, 0}, {0, 0, -1}));
    // From exactly on the surface: t = 0 does not block.
    EXPECT_FALSE(anyHit(tree, {0, 0, -1}, {0, 0, -1}));
}

TEST_F(NMOctreeQuery, NearestHitEqualsBruteForceOnRandomRays) {
    // A soup of 3000 triangles with their own random vertex normals.
    NMTriangleList list;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> at(0.0, 1.0), size(-0.15, 0.15);
    for (int i = 0; i < 3000; ++i) {
        const NMVec3 p{at(rng), at(rng), at(rng)};
        add(list, tri(p, p + NMVec3{size(rng), size(rng), size(rng)}, p + NMVec3{size(rng), size(rng), size(rng)},
                      randomUnit(rng), randomUnit(rng), randomUnit(rng)));
    }
    list.computeBox();
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    ASSERT_FALSE(builder.root()->isLeaf());
    std::uniform_real_distribution<double> origin(-0.3, 1.3);
    int hits = 0, blocked = 0;
    for (int r = 0; r < 3000; ++r) {
        const NMVec3 p{origin(rng), origin(rng), origin(rng)};
        const NMVec3 d = randomUnit(rng);
        const Reference want = bruteNearest(list, p, d);
        NMNearestHit got;
        const bool found = nearest(tree, p, d, &got);
        ASSERT_EQ(found, want.found) << "ray " << r;
        if (found) {
            ++hits;
            EXPECT_EQ(got.t, want.t) << "ray " << r;
            EXPECT_EQ(got.point.x, want.point.x);
            EXPECT_EQ(got.triangle, want.triangle);
            EXPECT_EQ(got.normal.z, want.normal.z);
        }
        const bool any = anyHit(tree, p, d);
        EXPECT_EQ(any, bruteAny(list, p, d)) << "ray " << r;
        blocked += any;
    }
    EXPECT_GT(hits, 1000);
    EXPECT_GT(blocked, 1000);
}

TEST_F(NMOctreeQuery, TiesAtSharedVerticesEqualBruteForce) {
    // A 20 × 20 grid of unit squares split into triangles, each triangle with its own vertex
    // normals; rays through grid vertices and edge midpoints meet up to six triangles at the same
    // t, which the normals' facing decides. Two more sheets at z = ±0.5 make equal |t| on both
    // sides of origins at z = 0.
    NMTriangleList list;
    std::mt19937 rng(5);
    auto tilt = [&]() {
        std::uniform_real_distribution<double> s(-0.6, 0.6);
        return normalize(NMVec3{s(rng), s(rng), 1.0});
    };
    for (double z : {0.0, 0.5, -0.5})
        for (int j = 0; j < 20; ++j)
            for (int i = 0; i < 20; ++i) {
                const NMVec3 a{double(i), double(j), z}, b{i + 1.0, double(j), z}, c{i + 1.0, j + 1.0, z},
                    d{double(i), j + 1.0, z};
                add(list, tri(a, b, c, tilt(), tilt(), tilt()));
                add(list, tri(a, c, d, tilt(), tilt(), tilt()));
            }
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    int ties = 0;
    for (int j = 1; j < 20; ++j)
        for (int i = 1; i < 20; ++i)
            for (const NMVec3& p : {NMVec3{double(i), double(j), 2.0}, NMVec3{i + 0.5, double(j), 0.25},
                                    NMVec3{i + 0.5, j + 0.5, 0.0}}) {
                const NMVec3 d{0, 0, 1};
                const Reference want = bruteNearest(list, p, d);
                NMNearestHit got;
                ASSERT_EQ(nearest(tree, p, d, &got), want.found);
                if (!want.found) continue;
                ++ties;
                EXPECT_EQ(got.t, want.t);
                EXPECT_EQ(got.normal.x, want.normal.x) << i << " " << j;
                EXPECT_EQ(got.normal.y, want.normal.y) << i << " " << j;
            }
    EXPECT_GT(ties, 900);
}

TEST_F(NMOctreeQuery, CountsItsQueries) {
    NMTriangleList list;
    add(list, tri({-5, -5, 1}, {5, -5, 1}, {0, 5, 1}));
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    NMNearestHit hit;
    EXPECT_TRUE(tree.nearestHit({0, 0, 0}, {0, 0, 1}, nullptr, &hit, scratch));
    EXPECT_TRUE(tree.anyHit({0, 0, 0}, {0, 0, 1}, scratch));
    EXPECT_FALSE(tree.anyHit({9, 9, 9}, {0, 0, 1}, scratch));
    EXPECT_EQ(scratch.rays, 3u);
    EXPECT_GE(scratch.nodeVisits, 2u);
    EXPECT_GE(scratch.triangleTests, 2u);
}

// The packet tests run with the box and triangle tests the processor picks (many rays at a time
// where it can) and with the portable ones.
class NMOctreePacketQuery : public BakingFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        BakingFixture::SetUp();
        const bool wide = nmquery::useWideTests(GetParam());
        if (GetParam() && !wide) GTEST_SKIP() << "this processor has no wide tests";
        ASSERT_FALSE(!GetParam() && wide);
    }
    void TearDown() override {
        nmquery::useWideTests(true);
        BakingFixture::TearDown();
    }
};
INSTANTIATE_TEST_SUITE_P(BoxTests, NMOctreePacketQuery, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Wide" : "Portable"; });

TEST_P(NMOctreePacketQuery, PacketsGiveTheHitsOfSingleRays) {
    // A random soup around a grid of unit squares: 10,000 rays in packets of 1 to 64 from shared
    // origins, both random and on the grid's vertices, edges and faces, along axis directions (zero
    // components: the slab test's special case) and through shared vertices (ties between
    // triangles at the same t), and from points on the grid (t = 0 does not block).
    NMTriangleList list;
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> at(0.0, 8.0), size(-0.6, 0.6);
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            const NMVec3 a{double(i), double(j), 0.0}, b{i + 1.0, double(j), 0.0}, c{i + 1.0, j + 1.0, 0.0},
                d{double(i), j + 1.0, 0.0};
            add(list, tri(a, b, c));
            add(list, tri(a, c, d));
        }
    for (int i = 0; i < 1500; ++i) {
        const NMVec3 p{at(rng), at(rng), at(rng) * 0.5};
        add(list, tri(p, p + NMVec3{size(rng), size(rng), size(rng)}, p + NMVec3{size(rng), size(rng), size(rng)}));
    }
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));

    std::uniform_int_distribution<int> grid(0, 8), packetSize(1, 64), kind(0, 3);
    const NMVec3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    int rays = 0, blocked = 0, packets = 0;
    while (rays < 10000) {
        NMVec3 o;
        switch (kind(rng)) {
            case 0: o = {at(rng), at(rng), at(rng) * 0.5 - 1.0}; break;                  // anywhere
            case 1: o = {double(grid(rng)), double(grid(rng)), 0.0}; break;             // a grid vertex
            case 2: o = {grid(rng) + 0.5, double(grid(rng)), -1.0}; break;              // below an edge
            default: o = {grid(rng) + 0.25, grid(rng) + 0.5, grid(rng) % 2 ? 2.0 : 0.0}; // above / on a face
        }
        const int n = packetSize(rng);
        NMVec3 dirs[64];
        for (int k = 0; k < n; ++k) {
            const int pick = kind(rng);
            if (pick == 0)
                dirs[k] = axes[grid(rng) % 6];
            else if (pick == 1)  // towards a grid vertex: ties between the triangles that share it
                dirs[k] = normalize(NMVec3{double(grid(rng)), double(grid(rng)), 0.0} - o + NMVec3{0, 0, 1e-300});
            else
                dirs[k] = randomUnit(rng);
            if (!(length(dirs[k]) > 0.5)) dirs[k] = {0, 0, 1};
        }
        const uint64_t got = tree.anyHitPacket(o, dirs, n, scratch);
        ASSERT_FALSE(scratch.failed);
        if (n < 64) {
            ASSERT_EQ(got >> n, 0u) << "bits beyond the packet";
        }
        for (int k = 0; k < n; ++k) {
            const bool single = anyHit(tree, o, dirs[k]);
            ASSERT_EQ(((got >> k) & 1) != 0, single) << "packet " << packets << " ray " << k;
            ASSERT_EQ(single, bruteAny(list, o, dirs[k]));
            blocked += single;
        }
        rays += n;
        ++packets;
    }
    EXPECT_GT(blocked, 2000);
    EXPECT_LT(blocked, rays - 2000);
    EXPECT_EQ(scratch.rays, uint64_t(rays));
}

TEST_P(NMOctreePacketQuery, PacketsFromBoxCornersAndWithOddDirectionsGiveTheSingleHits) {
    // Unit cubes on a lattice, their faces two triangles each, so that node boxes have corners and
    // sides on whole coordinates; packets start on lattice points, cube faces and edges (boxes whose
    // sides pass exactly through the origin, or that hold it) and inside cubes, with directions
    // that are unit, much longer or much shorter than unit, with components of -0 and +0, with
    // components too small for a float (the box test sees zero) or just above that (an infinite
    // inverse), and axis-aligned. Every answer must equal the single ray's and the search over
    // every triangle.
    NMTriangleList list;
    auto quad = [&](NMVec3 p, NMVec3 u, NMVec3 v) {
        add(list, tri(p, p + u, p + u + v));
        add(list, tri(p, p + u + v, p + v));
    };
    for (int z = 0; z < 4; z += 2)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                if ((x + y + z) % 3 == 0) continue;
                const NMVec3 p{double(x), double(y), double(z)};
                quad(p, {1, 0, 0}, {0, 1, 0});
                quad(p + NMVec3{0, 0, 1}, {1, 0, 0}, {0, 1, 0});
                quad(p, {1, 0, 0}, {0, 0, 1});
                quad(p + NMVec3{0, 1, 0}, {1, 0, 0}, {0, 0, 1});
                quad(p, {0, 1, 0}, {0, 0, 1});
                quad(p + NMVec3{1, 0, 0}, {0, 1, 0}, {0, 0, 1});
            }
    list.computeBox();
    NMOctree tree;
    NMOctreeBuilder builder(keepingNodes());
    ASSERT_TRUE(builder.build(list, tree));
    ASSERT_FALSE(builder.root()->isLeaf());
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));

    std::mt19937 rng(77);
    std::uniform_int_distribution<int> cell(0, 4), kind(0, 7), sign(0, 1);
    std::uniform_real_distribution<double> at(-0.5, 4.5);
    int rays = 0, blocked = 0;
    for (int packet = 0; packet < 300; ++packet) {
        NMVec3 o;
        switch (packet % 4) {
            case 0: o = {double(cell(rng)), double(cell(rng)), double(cell(rng))}; break;      // lattice point
            case 1: o = {cell(rng) + 0.5, double(cell(rng)), double(cell(rng))}; break;        // cube edge
            case 2: o = {cell(rng) + 0.25, cell(rng) + 0.5, double(cell(rng))}; break;         // cube face
            default: o = {at(rng), at(rng), at(rng)};
        }
        NMVec3 dirs[40];
        for (NMVec3& d : dirs) {
            d = randomUnit(rng);
            switch (kind(rng)) {
                case 0: d = d * 1e6; break;
                case 1: d = d * 1e-6; break;
                case 2: d.x = sign(rng) ? 0.0 : -0.0; break;
                case 3: d.y = sign(rng) ? 1e-50 : -1e-50; break;                                   // float 0
                case 4: d.z = sign(rng) ? 2e-39 : -2e-39; break;                                   // 1/f = ∞
                case 5: d = {0, 0, 0}; d.x = sign(rng) ? 1.0 : -1.0; break;
                default: break;
            }
        }
        const uint64_t got = tree.anyHitPacket(o, dirs, 40, scratch);
        ASSERT_FALSE(scratch.failed);
        for (int k = 0; k < 40; ++k) {
            const bool single = anyHit(tree, o, dirs[k]);
            ASSERT_EQ(((got >> k) & 1) != 0, single) << "packet " << packet << " ray " << k;
            ASSERT_EQ(single, bruteAny(list, o, dirs[k])) << "packet " << packet << " ray " << k;
            blocked += single;
            ++rays;
        }
    }
    EXPECT_GT(blocked, rays / 5);
    EXPECT_LT(blocked, rays - rays / 5);
}

TEST_P(NMOctreePacketQuery, TriangleTestsKeepTheSingleRaysAnswerWhereTheDeterminantUnderflows) {
    // A triangle 1e-155 across: its determinant (-1e-310) has no finite inverse. A ray aimed at its
    // edge x = 0 then gets u = 0 · ∞ = NaN and t = +∞, and the single ray's test counts that as a
    // hit; so must the packet's, lane by lane, beside rays that miss or hit the ordinary way.
    const double s = 1e-155;
    NMTriangleList list;
    add(list, tri({0, 0, 0}, {s, 0, 0}, {0, s, 0}));
    add(list, tri({4, 4, 2}, {6, 4, 2}, {5, 6, 2}));
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    const NMVec3 o{0, s / 2, -1};
    const NMVec3 dirs[6] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {0, 0, 1}, {5, 5, 3}, {0, 0, 1}};
    const uint64_t got = tree.anyHitPacket(o, dirs, 6, scratch);
    ASSERT_FALSE(scratch.failed);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(((got >> k) & 1) != 0, anyHit(tree, o, dirs[k])) << "ray " << k;
    EXPECT_EQ(got, 0b111001u);
}

TEST_F(NMOctreeQuery, ScratchTooSmallIsReportedNotAnswered) {
    NMTriangleList list;
    add(list, tri({-5, -5, 1}, {5, -5, 1}, {0, 5, 1}));
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(build(tree, list));
    NMQueryScratch scratch;  // never prepared
    NMNearestHit hit;
    EXPECT_FALSE(tree.nearestHit({0, 0, 0}, {0, 0, 1}, nullptr, &hit, scratch));
    EXPECT_TRUE(scratch.failed);
    const NMVec3 up{0, 0, 1};
    scratch.failed = false;
    EXPECT_EQ(tree.anyHitPacket({0, 0, 0}, &up, 1, scratch), 0u);
    EXPECT_TRUE(scratch.failed);
    ASSERT_TRUE(tree.prepareScratch(scratch));
    scratch.failed = false;
    EXPECT_TRUE(tree.nearestHit({0, 0, 0}, {0, 0, 1}, nullptr, &hit, scratch));
    EXPECT_EQ(tree.anyHitPacket({0, 0, 0}, &up, 1, scratch), 1u);
    EXPECT_FALSE(scratch.failed);
}

// ---- the build on several threads ------------------------------------------------------------

namespace {

void expectSameTree(const NMOctreeNode* a, const NMOctreeNode* b, const std::string& where, int* nodes) {
    ++*nodes;
    ASSERT_EQ(a == nullptr, b == nullptr) << where;
    if (a == nullptr) return;
    ASSERT_EQ(a->box.min.x, b->box.min.x) << where;
    ASSERT_EQ(a->box.min.y, b->box.min.y) << where;
    ASSERT_EQ(a->box.min.z, b->box.min.z) << where;
    ASSERT_EQ(a->box.max.x, b->box.max.x) << where;
    ASSERT_EQ(a->box.max.y, b->box.max.y) << where;
    ASSERT_EQ(a->box.max.z, b->box.max.z) << where;
    ASSERT_EQ(a->box.half.x, b->box.half.x) << where;
    ASSERT_EQ(a->box.centre.z, b->box.centre.z) << where;
    ASSERT_EQ(a->indices.count, b->indices.count) << where;
    for (int32_t i = 0; i < a->indices.count; ++i) ASSERT_EQ(a->indices.items[i], b->indices.items[i]) << where;
    for (int c = 0; c < 8; ++c) expectSameTree(a->child[c], b->child[c], where + "/" + std::to_string(c), nodes);
}


// Node by node and entry by entry (the boxes of the empty root of an empty tree aside).
void expectSameQueryForm(const NMOctree& a, const NMOctree& b) {
    const Stack<NMOctree::QueryNode>& qa = a.queryNodes();
    const Stack<NMOctree::QueryNode>& qb = b.queryNodes();
    ASSERT_EQ(qa.count, qb.count);
    for (int32_t i = 0; i < qa.count; ++i) {
        ASSERT_EQ(qa.items[i].first, qb.items[i].first) << i;
        ASSERT_EQ(qa.items[i].size, qb.items[i].size) << i;
        if (qa.items[i].size == 0) continue;  // an empty root has no box
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(qa.items[i].lo[k], qb.items[i].lo[k]) << i;
            ASSERT_EQ(qa.items[i].hi[k], qb.items[i].hi[k]) << i;
        }
    }
    // And so are the leaves' triangles, in the order the parting of the leaves left them.
    const Stack<int32_t>& ea = a.queryEntries();
    const Stack<int32_t>& eb = b.queryEntries();
    ASSERT_EQ(ea.count, eb.count);
    for (int32_t i = 0; i < ea.count; ++i) ASSERT_EQ(ea.items[i], eb.items[i]) << i;
}
}  // namespace

namespace {

// Every leaf of a kept octree holds exactly the triangles that overlap its box: each triangle that
// overlaps the box shrunk by a millionth is listed, and each one listed overlaps the box grown by a
// millionth (what touches the box itself may go either way under rounding).
void expectLeavesHoldWhatOverlapsThem(const NMOctreeNode* root, const NMTriangleList& list) {
    std::vector<const NMOctreeNode*> work{root};
    int leaves = 0;
    while (!work.empty()) {
        const NMOctreeNode* node = work.back();
        work.pop_back();
        if (!node->isLeaf()) {
            for (const NMOctreeNode* c : node->child) work.push_back(c);
            continue;
        }
        ++leaves;
        const NMBox& b = node->box;
        const NMVec3 grown = b.half * (1 + 1e-6), shrunk = b.half * (1 - 1e-6);
        std::vector<bool> listed(list.count(), false);
        for (int32_t i : node->indices) listed[i] = true;
        for (int32_t i = 0; i < list.count(); ++i) {
            const NMTriangle& t = list.triangles.items[i];
            const NMVec3 &p = t.v[0].position, &q = t.v[1].position, &r = t.v[2].position;
            if (listed[i]) {
                ASSERT_TRUE(triangleBoxOverlap(b.centre, grown, p, q, r)) << "triangle " << i << " listed apart";
            } else {
                ASSERT_FALSE(triangleBoxOverlap(b.centre, shrunk, p, q, r)) << "triangle " << i << " left out";
            }
        }
    }
    EXPECT_GT(leaves, 0);
}

}  // namespace

TEST_F(NMOctreeBuild, ParallelBuildMakesTheSameTree) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<double> at(0.0, 1.0), size(-0.05, 0.05);
    struct Case {
        const char* what;
        NMTriangleList list;
    };
    std::vector<Case> cases(6);
    cases[0].what = "random soup, a few triangles across much of it";
    for (int i = 0; i < 6000; ++i) {
        if (i % 500 == 7) {  // large: across many nodes' faces and centre planes
            const NMVec3 p{at(rng), at(rng), at(rng)};
            add(cases[0].list, tri(p, {at(rng), at(rng), at(rng)}, {at(rng), at(rng), at(rng)}));
            continue;
        }
        const NMVec3 p{at(rng), at(rng), at(rng)};
        add(cases[0].list, tri(p, p + NMVec3{size(rng), size(rng), size(rng)}, p + NMVec3{size(rng), size(rng), 0}));
    }
    cases[1].what = "all in one plane";
    for (int i = 0; i < 3000; ++i) {
        const NMVec3 p{at(rng), at(rng), 0.25};
        add(cases[1].list, tri(p, p + NMVec3{size(rng), size(rng), 0}, p + NMVec3{size(rng), size(rng), 0}));
    }
    cases[2].what = "all in one point";
    for (int i = 0; i < 300; ++i) add(cases[2].list, tri({0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}));
    cases[3].what = "a grid touching the centre planes";
    for (int j = 0; j < 40; ++j)
        for (int i = 0; i < 40; ++i) {
            const NMVec3 a{i / 40.0, j / 40.0, (i + j) % 3 / 40.0}, b{(i + 1) / 40.0, j / 40.0, 0.0},
                c{i / 40.0, (j + 1) / 40.0, 0.5};
            add(cases[3].list, tri(a, b, c));
        }
    cases[4].what = "29 triangles";
    for (int i = 0; i < 29; ++i) add(cases[4].list, tri({i * 0.1, 0, 0}, {i * 0.1 + 1, 0, 0}, {i * 0.1, 1, 1}));
    cases[5].what = "30 triangles and one more";
    for (int i = 0; i < 31; ++i) add(cases[5].list, tri({i * 0.1, 0, 0}, {i * 0.1 + 1, 0, 0}, {i * 0.1, 1, 1}));
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.list.computeBox();
        NMOctree sequential;
        NMOctreeBuilder sequentialBuilder(keepingNodes(1));
        ASSERT_TRUE(sequentialBuilder.build(c.list, sequential));
        expectLeavesHoldWhatOverlapsThem(sequentialBuilder.root(), c.list);
        for (int32_t threads : {2, 3, 8}) {
            NMOctree parallel;
            NMOctreeBuilder builder(keepingNodes(threads));
            ASSERT_TRUE(builder.build(c.list, parallel)) << threads << " threads";
            int nodes = 0;
            expectSameTree(sequentialBuilder.root(), builder.root(), "root", &nodes);
            // The query form made from it is the same too, and so are the figures of the build.
            expectSameQueryForm(sequential, parallel);
            EXPECT_EQ(builder.stats().queryNodes, sequentialBuilder.stats().queryNodes);
            EXPECT_EQ(builder.stats().entries, sequentialBuilder.stats().entries);
            EXPECT_EQ(builder.stats().octreeNodes, sequentialBuilder.stats().octreeNodes);
            // So is the form of a build that frees its nodes as soon as the form is made from them.
            NMOctree lean;
            NMOctreeBuildOptions leanOptions;
            leanOptions.threads = threads;
            NMOctreeBuilder leanBuilder(leanOptions);
            ASSERT_TRUE(leanBuilder.build(c.list, lean)) << threads << " threads";
            EXPECT_EQ(leanBuilder.root(), nullptr);
            expectSameQueryForm(sequential, lean);
            if (c.list.count() > 30) {
                EXPECT_GT(nodes, 8) << "the tree was split";
            }
            EXPECT_EQ(builder.workCapacity(), 0);
        }
    }
}

TEST_F(NMOctreeBuild, ParallelBuildStopsAndFailsCleanly) {
    NMTriangleList list;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> at(0.0, 1.0);
    for (int i = 0; i < 3000; ++i) {
        const NMVec3 p{at(rng), at(rng), at(rng)};
        add(list, tri(p, p + NMVec3{0.03, 0, 0}, p + NMVec3{0, 0.03, 0.01}));
    }
    list.computeBox();
    baketest::PollingThread probe(0);
    {
        NMOctree tree;
        ASSERT_TRUE(build(tree, list, 4, &probe));
    }
    const int64_t polls = probe.polls();
    ASSERT_GT(polls, 100);
    for (int64_t stopAt : {int64_t(1), int64_t(20), polls / 3, polls / 2, polls - 2}) {
        baketest::PollingThread thread(stopAt);
        NMOctree tree;
        EXPECT_FALSE(build(tree, list, 4, &thread)) << "stop at poll " << stopAt << " of " << polls;
        EXPECT_LE(thread.polls(), stopAt + 8) << "every subtree gives up at its next poll";
        NMNearestHit hit;
        EXPECT_FALSE(nearest(tree, {0.5, 0.5, -1}, {0, 0, 1}, &hit));
    }
    // Allocations failing in turn, on whichever thread: the build fails (or, where the failed
    // block was a worker thread's, another thread does its work) and frees everything.
    const uint64_t before = host::memory::allocationCount();
    {
        NMOctree tree;
        ASSERT_TRUE(build(tree, list, 3));
    }
    const uint64_t allocations = host::memory::allocationCount() - before;
    NMOctree reference;
    NMOctreeBuilder referenceBuilder(keepingNodes(1));
    ASSERT_TRUE(referenceBuilder.build(list, reference));
    int failures = 0;
    for (uint64_t n = 1; n <= allocations; n += 3) {
        NMOctree tree;
        NMOctreeBuilder builder(keepingNodes(3));
        host::memory::failAfter(n);
        const bool ok = builder.build(list, tree);
        host::memory::resetFailures();
        if (ok) {
            int nodes = 0;
            expectSameTree(referenceBuilder.root(), builder.root(), "root", &nodes);
        } else {
            NMNearestHit hit;
            EXPECT_FALSE(nearest(tree, {0.5, 0.5, -1}, {0, 0, 1}, &hit));
        }
        failures += ok == 0;
    }
    EXPECT_GT(failures, 10);
    console();
}
