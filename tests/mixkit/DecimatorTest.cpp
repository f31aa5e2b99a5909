// The decimator on real meshes: invariants after every contraction, repeatability, placement,
// penalties, the constraints along borders and selection seams, and the loops' stop rules.
#include <algorithm>
#include <cmath>
#include <vector>
#include <functional>

#include "mixkit/Decimator.h"
#include "mixkit/PenaltyScale.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"

namespace mixtest {
namespace {

using DecimatorTest = MixkitTest;

using testsupport::commandSettings;

struct Reduction {
    ModuleSet points;
    ModuleSet polygons;
    ReductionMesh mesh;
    Decimator decimator;
    explicit Reduction(host::PolygonObject* obj, const host::SelectionSet* reducible = nullptr)
        : points(reducible ? *reducible : WholeSets(*obj).points), polygons(WholeSets(*obj).polygons) {
        EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        // The decimator's arithmetic is worked by hand in object units here; the frame has tests
        // of its own.
        mesh.setFrame(ReferenceFrame());
    }
};

// Steps to `fraction` of the reducible points (or until the heap is empty), checking every
// `every` steps and at the end.
void stepAndCheck(host::PolygonObject* obj, Reduction& r, double fraction, int every,
                  const std::function<std::string(int32_t)>& extra = {}) {
    Shadow shadow(*obj, r.mesh);
    const int32_t target = static_cast<int32_t>(r.mesh.reducibleCount() * fraction);
    ASSERT_EQ(checkMesh(*obj, r.mesh, shadow), "");
    ASSERT_EQ(checkDecimator(r.decimator), "");
    Step step;
    while (r.mesh.reducibleCount() > target && stepOnce(r.decimator, shadow, &step)) {
        if (extra) {
            ASSERT_EQ(extra(step.v1), "") << "after " << shadow.contractions << " contractions";
        }
        if (shadow.contractions % every != 0) continue;
        ASSERT_EQ(checkMesh(*obj, r.mesh, shadow), "") << "after " << shadow.contractions << " contractions";
        ASSERT_EQ(checkDecimator(r.decimator), "") << "after " << shadow.contractions << " contractions";
    }
    EXPECT_GT(shadow.contractions, 0);
    ASSERT_EQ(checkMesh(*obj, r.mesh, shadow), "");
    ASSERT_EQ(checkDecimator(r.decimator), "");
}

TEST_F(DecimatorTest, SeamGridKeepsItsInvariantsAndItsSeam) {
    host::Document doc;
    const GridOptions o = GridOptions::withAllTags(16, 12, 8);
    host::PolygonObject* obj = makeGrid(doc, o);
    Reduction r(obj);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    stepAndCheck(obj, r, 0.08, 1, [&](int32_t v1) {
        const std::string n = checkNormalsAround(*obj, r.mesh, v1);
        return n.empty() ? checkIslands(*obj, 0.5f) : n;
    });
}

TEST_F(DecimatorTest, TriangleSphereKeepsItsInvariants) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 12, 16);
    addNormals(*obj);
    Reduction r(obj);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    stepAndCheck(obj, r, 0.05, 1, [&](int32_t v1) { return checkNormalsAround(*obj, r.mesh, v1); });
}

// A pole of 300 segments that takes in four of the points around it: contractions kept at a
// point whose ring has more than 254 points, where the ring's corner normals are found by
// search rather than by their mark.
TEST_F(DecimatorTest, WidePolesKeepTheirNormals) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 3, 300);
    addNormals(*obj);
    host::SelectionSet reducible(obj->pointCount());
    for (int i : {0, 1, 76, 151, 226}) reducible.select(i);  // the north pole and four points apart beside it
    Reduction r(obj, &reducible);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    size_t widest = 0;
    stepAndCheck(obj, r, 0.3, 1, [&](int32_t v1) {
        std::vector<int32_t> ring;
        for (int32_t f : r.mesh.polygonsOf(v1)) {
            const host::Polygon& p = obj->polygons[f];
            for (int32_t x : {p.a, p.b, p.c, p.d})
                if (std::find(ring.begin(), ring.end(), x) == ring.end()) ring.push_back(x);
        }
        widest = std::max(widest, ring.size());
        return checkNormalsAround(*obj, r.mesh, v1);
    });
    EXPECT_GT(widest, 255u) << "no contraction kept a wide pole";
}

TEST_F(DecimatorTest, SampleKeepsItsInvariants) {
    host::Document doc;
    host::PolygonObject* obj = loadSample(doc);
    ASSERT_NE(obj, nullptr);
    ASSERT_NE(obj->tag(host::TAG_NORMALS), nullptr);
    Reduction r(obj);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    stepAndCheck(obj, r, 0.03, 97, [&](int32_t v1) { return checkNormalsAround(*obj, r.mesh, v1); });
}

TEST_F(DecimatorTest, OpenGridWithoutChecksKeepsItsInvariants) {
    host::Document doc;
    GridOptions o;
    o.columns = 10;
    o.rows = 7;
    host::PolygonObject* obj = makeGrid(doc, o);
    Reduction r(obj);
    r.decimator.settings.useChecks = 0;
    r.decimator.settings.weightingPolicy = WEIGHTING_ANGLE;
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    stepAndCheck(obj, r, 0.0, 1);
}

TEST_F(DecimatorTest, EveryPolicyKeepsTheInvariants) {
    for (int32_t weighting = 1; weighting <= 5; ++weighting) {
        for (int32_t placement = 0; placement <= 3; ++placement) {
            host::Document doc;
            host::PolygonObject* obj = makeSphere(doc, 7, 9);
            Reduction r(obj);
            commandSettings(r.decimator);
            r.decimator.settings.weightingPolicy = weighting;
            r.decimator.settings.placementPolicy = placement;
            ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
            SCOPED_TRACE("weighting " + std::to_string(weighting) + " placement " + std::to_string(placement));
            stepAndCheck(obj, r, 0.1, 5);
        }
    }
}

TEST_F(DecimatorTest, PointsOutsideTheReducibleSetNeverMove) {
    host::Document doc;
    GridOptions o;
    o.columns = 12;
    o.rows = 12;
    host::PolygonObject* obj = makeGrid(doc, o);
    host::SelectionSet left(obj->pointCount());
    for (int i = 0; i < obj->pointCount(); ++i)
        if (obj->points[i].x < 6.5f) left.select(i);
    Reduction r(obj, &left);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    EXPECT_EQ(r.mesh.reducibleCount(), 7 * 13);
    // Every candidate joins two points of the set.
    for (int32_t i = 0; i < r.decimator.candidates().size(); ++i) {
        const EdgeCandidate& c = r.decimator.candidate(r.decimator.candidates().at(i));
        EXPECT_TRUE(left.isSelected(c.v1) && left.isSelected(c.v2));
    }
    stepAndCheck(obj, r, 0.0, 1);
    EXPECT_EQ(r.decimator.candidates().size(), 0);
}

TEST_F(DecimatorTest, TwoRunsGiveTheSameBits) {
    host::Document doc;
    const GridOptions o = GridOptions::withAllTags(20, 15, 7);
    host::PolygonObject* a = makeGrid(doc, o, "a");
    host::PolygonObject* b = makeGrid(doc, o, "b");
    b->setName("a");
    for (host::PolygonObject* obj : {a, b}) {
        Reduction r(obj);
        commandSettings(r.decimator);
        ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
        ASSERT_TRUE(r.decimator.decimateToCount(40, false, nullptr));
        EXPECT_EQ(r.mesh.reducibleCount(), 40);
        r.mesh.attributes().writeBackPointSets();
    }
    EXPECT_EQ(differences(*a, *b), "");
    // And a different target gives a different object: the comparison can see a difference.
    host::PolygonObject* c = makeGrid(doc, o, "c");
    c->setName("a");
    Reduction r(c);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    ASSERT_TRUE(r.decimator.decimateToCount(41, false, nullptr));
    r.mesh.attributes().writeBackPointSets();
    EXPECT_NE(differences(*a, *c), "");
}

// Candidate of an interior edge of a flat grid, far from the borders.
EdgeCandidate* interiorCandidate(Decimator& d, int32_t v1, int32_t v2) {
    for (EdgeCandidate* c : d.candidatesAt(v1))
        if (otherEnd(*c, v1) == v2) return c;
    return nullptr;
}

TEST_F(DecimatorTest, FlatNeighbourhoodFallsBackFromTheOptimalPoint) {
    host::Document doc;
    GridOptions o;
    o.columns = 8;
    o.rows = 8;
    o.bumpy = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    const int32_t v1 = 4 * 9 + 3, v2 = 4 * 9 + 4;  // (3, 4) and (4, 4)
    const double expectedX[4] = {4.0, 3.5, 3.5, 3.5};  // a tie of the ends picks v2; else the midpoint
    for (int32_t placement = 0; placement <= 3; ++placement) {
        Reduction r(obj);
        r.decimator.settings.placementPolicy = placement;
        ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
        EdgeCandidate* c = interiorCandidate(r.decimator, v1, v2);
        ASSERT_NE(c, nullptr);
        const Placement at = r.decimator.placement(*c);
        EXPECT_EQ(at.target.x, expectedX[placement]) << placement;
        EXPECT_EQ(at.target.y, 4.0);
        EXPECT_EQ(at.rawError, 0.0);
        // No penalties are set: the key is the negated error.
        EXPECT_EQ(r.decimator.candidates().keyAt(c->heapPosition), -at.rawError);
    }
}

TEST_F(DecimatorTest, OptimalPlacementLandsOnTheSolvedPoint) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 6, 8, false);
    Reduction r(obj);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    int solved = 0;
    for (int32_t i = 0; i < r.decimator.candidates().size(); ++i) {
        const EdgeCandidate* c = &r.decimator.candidate(r.decimator.candidates().at(i));
        Quadric q = r.decimator.quadric(c->v1);
        q.add(r.decimator.quadric(c->v2));
        Vector v;
        if (!q.optimalPoint(v)) continue;
        ++solved;
        const Placement at = r.decimator.placement(*c);
        EXPECT_EQ(at.target.x, v.x);
        EXPECT_EQ(at.target.y, v.y);
        EXPECT_EQ(at.target.z, v.z);
        EXPECT_EQ(at.rawError, q.evaluate(v));
        // No penalties are set: the key is the negated error.
        EXPECT_EQ(r.decimator.candidates().keyAt(i), -at.rawError);
        // The least error: no end is cheaper.
        EXPECT_LE(at.rawError, q.evaluate(r.mesh.position(c->v1)) + 1e-12);
    }
    EXPECT_GT(solved, 10);
}

TEST_F(DecimatorTest, AreaAverageDividesByTheSummedArea) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 6, 8, false);
    Reduction plain(obj), averaged(obj);
    averaged.decimator.settings.weightingPolicy = WEIGHTING_AREA_AVERAGE;
    ASSERT_TRUE(plain.decimator.initialise(&plain.mesh, nullptr));
    ASSERT_TRUE(averaged.decimator.initialise(&averaged.mesh, nullptr));
    EdgeCandidate* a = plain.decimator.candidatesAt(9)[0];
    EdgeCandidate* b = averaged.decimator.candidatesAt(9)[0];
    ASSERT_EQ(a->v2, b->v2);
    Quadric q = averaged.decimator.quadric(b->v1);
    q.add(averaged.decimator.quadric(b->v2));
    EXPECT_EQ(averaged.decimator.placement(*b).rawError, plain.decimator.placement(*a).rawError / q.area);
    EXPECT_GT(q.area, 0.0);
}

TEST_F(DecimatorTest, PenaltiesWorkedByHand) {
    host::Document doc;
    host::PolygonObject* obj = makeStrip(doc);
    Reduction r(obj);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    // Merging 4 into 1 at (3, 0.5, 0): both quads turn into triangles, (3, 0, T) and (2, 5, T);
    // the second turns over.
    // The penalties count at the size of the polygons around both ends, squared under area
    // weighting: points 1 and 4 each have two unit quads and two open border edges, whose
    // constraint planes count area 1 each.
    const double s = (8.0 / PENALTY_REFERENCE_AREA) * (8.0 / PENALTY_REFERENCE_AREA);
    EdgeCandidate c;
    c.v1 = 1;
    c.v2 = 4;
    const double worst = 3.4641016151377544 * 3.0 / 19.5;  // (0,1,0), (0,0,0), (3,0.5,0)
    EXPECT_DOUBLE_EQ(r.decimator.penalizedKey(c, Vector{3, 0.5, 0}, 0.0),
                     -s * (2 * 10.0 + (1.0 - worst) * 100.0) - 1 * 100.0 * s);
    // A flipped polygon also multiplies the candidate's own error (here 50) by 1 + the penalty.
    EXPECT_DOUBLE_EQ(r.decimator.penalizedKey(c, Vector{3, 0.5, 0}, -50.0),
                     -50.0 - s * (2 * 10.0 + (1.0 - worst) * 100.0) - 1 * 100.0 * (s + 50.0));
    // At (1, 0.5, 0) neither triangle turns over and both have the same shape.
    EdgeCandidate e;
    e.v1 = 1;
    e.v2 = 4;
    EXPECT_DOUBLE_EQ(r.decimator.penalizedKey(e, Vector{1, 0.5, 0}, -50.0),
                     -50.0 - s * (2 * 10.0 + (1.0 - 3.4641016151377544 / 3.5) * 100.0));
    // The valence counts the polygons left around the merged point: merging 2 into 1 keeps quad
    // 0, quad 1 as a triangle and the triangle 2.
    EdgeCandidate d;
    d.v1 = 1;
    d.v2 = 2;
    r.decimator.settings.valencePenalty = 1.0;
    r.decimator.settings.compactnessPenalty = 0.0;
    r.decimator.settings.flipPenalty = 0.0;
    // Point 2 has a unit quad, the triangle of area 0.5 and two border edges.
    EXPECT_DOUBLE_EQ(r.decimator.penalizedKey(d, Vector{1, 0, 0}, 0.0),
                     -3.0 * (7.5 / PENALTY_REFERENCE_AREA) * (7.5 / PENALTY_REFERENCE_AREA));
}

// Candidates keep no placement of their own: it is worked out again from the ends when a candidate
// is contracted, and must be the one its key was made from. Without penalties every key is the
// negated error, less the re-key step once re-keyed, at every step of a reduction.
TEST_F(DecimatorTest, PlacementWorkedOutAgainIsTheOneTheKeyWasMadeFrom) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 10, 12, true);
    Reduction r(obj);
    r.decimator.settings.useChecks = 0;
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    int steps = 0;
    for (;; ++steps) {
        const EdgeHeap& heap = r.decimator.candidates();
        for (int32_t i = 0; i < heap.size(); ++i) {
            const EdgeCandidate* c = &r.decimator.candidate(heap.at(i));
            const double key = -r.decimator.placement(*c).rawError;
            ASSERT_TRUE(heap.keyAt(i) == key || heap.keyAt(i) == key - 1e-10)
                << "step " << steps << ": candidate " << c->v1 << "-" << c->v2 << " key " << heap.keyAt(i)
                << ", placement gives " << key;
        }
        if (r.mesh.reducibleCount() <= 12) break;
        HeapEntry top;
        ASSERT_TRUE(r.decimator.takeCheapest(top));
        ASSERT_TRUE(r.decimator.contract(top));
    }
    EXPECT_GT(steps, 80);
}

TEST_F(DecimatorTest, ZeroPenaltiesLeaveKeysAlone) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 6, 8, false);
    Reduction r(obj);
    r.decimator.settings.useChecks = 1;
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    for (int32_t i = 0; i < r.decimator.candidates().size(); ++i) {
        const EdgeCandidate* c = &r.decimator.candidate(r.decimator.candidates().at(i));
        const Placement at = r.decimator.placement(*c);
        EXPECT_EQ(r.decimator.candidates().keyAt(i), -at.rawError);
        EXPECT_EQ(r.decimator.penalizedKey(*c, at.target, -at.rawError), -at.rawError);
    }
}

TEST_F(DecimatorTest, SelectionBorderIsConstrainedLikeAnOpenBorder) {
    host::Document doc;
    GridOptions o;
    o.columns = 4;
    o.rows = 2;
    o.bumpy = false;
    o.uvw = false;
    host::PolygonObject* plain = makeGrid(doc, o, "plain");
    o.polygonSelection = true;  // the lower row of quads
    host::PolygonObject* tagged = makeGrid(doc, o, "tagged");
    // A second tag that holds every polygon: no difference across the row border.
    auto all = std::make_unique<host::SelectionTag>(host::TAG_POLYGON_SELECTION, "all", tagged->polygonCount());
    all->set.selectAll();
    tagged->addTag(std::move(all));
    Reduction a(plain), b(tagged);
    ASSERT_TRUE(a.decimator.initialise(&a.mesh, nullptr));
    ASSERT_TRUE(b.decimator.initialise(&b.mesh, nullptr));
    const int32_t border = 2;      // (2, 0): two open border edges
    const int32_t inner = 5 + 2;   // (2, 1): on the border between the tagged and untagged rows
    // A flat grid's own planes are z planes: b2 comes only from constraints. Each border edge adds
    // the plane y = const with weight 1000 * |e|^2 = 1000, once per polygon of the edge.
    EXPECT_EQ(a.decimator.quadric(border).b2, 2000.0);
    EXPECT_EQ(a.decimator.quadric(border).area, 2.0 + 2.0);
    EXPECT_EQ(a.decimator.quadric(inner).b2, 0.0);
    EXPECT_EQ(a.decimator.quadric(inner).area, 4.0);
    // Two edges at (2, 1), each between two polygons of different membership: 2 * 2 * 1000.
    EXPECT_EQ(b.decimator.quadric(inner).b2, 4000.0);
    EXPECT_EQ(b.decimator.quadric(inner).bd, -4000.0);
    EXPECT_EQ(b.decimator.quadric(inner).d2, 4000.0);
    EXPECT_EQ(b.decimator.quadric(inner).area, 4.0 + 4.0);
    // The upper border is not affected by the tag.
    EXPECT_EQ(b.decimator.quadric(2 * 5 + 2).b2, 2000.0);
    // A point between two equal memberships gets no constraint.
    EXPECT_EQ(b.decimator.quadric(5 + 1).a2, 0.0);
}

TEST_F(DecimatorTest, BoundaryWeightAndLengthScaling) {
    host::Document doc;
    GridOptions o;
    o.columns = 4;
    o.rows = 2;
    o.bumpy = false;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    for (host::Vec3f& p : obj->points) p.x *= 2.0f;  // border edges of length 2
    Reduction area(obj), average(obj);
    area.decimator.settings.boundaryWeight = 10.0;
    average.decimator.settings.boundaryWeight = 10.0;
    average.decimator.settings.weightingPolicy = WEIGHTING_AVERAGE;
    ASSERT_TRUE(area.decimator.initialise(&area.mesh, nullptr));
    ASSERT_TRUE(average.decimator.initialise(&average.mesh, nullptr));
    // Two edges at (2, 0): 2 * 10 * 4 with the length factor, 2 * 10 without.
    EXPECT_EQ(area.decimator.quadric(2).b2, 80.0);
    EXPECT_EQ(average.decimator.quadric(2).b2, 20.0);
}

TEST_F(DecimatorTest, TargetEqualToTheCountContractsNothing) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 6, 8);
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    Reduction r(obj);
    commandSettings(r.decimator);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    const int32_t count = r.mesh.reducibleCount();
    EXPECT_TRUE(r.decimator.decimateToCount(count, true, nullptr));
    EXPECT_EQ(r.mesh.reducibleCount(), count);
    EXPECT_EQ(differences(*obj, before), "");
}

TEST_F(DecimatorTest, AboveTheCountOnlyZeroKeysAreTaken) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 6;
    o.bumpy = false;
    host::PolygonObject* flat = makeGrid(doc, o, "flat");
    Reduction r(flat);
    r.decimator.settings.useChecks = 0;
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    const int32_t count = r.mesh.reducibleCount();
    EXPECT_TRUE(r.decimator.decimateToCount(count + 10, false, nullptr));
    // Fresh zero keys are taken; the first re-keyed candidate (key -1e-10) ends the loop.
    EXPECT_LT(r.mesh.reducibleCount(), count);
    EXPECT_GT(r.mesh.reducibleCount(), 3);
    // With penalties no key is zero: nothing is contracted.
    host::PolygonObject* other = makeGrid(doc, o, "other");
    Reduction s(other);
    commandSettings(s.decimator);
    ASSERT_TRUE(s.decimator.initialise(&s.mesh, nullptr));
    EXPECT_TRUE(s.decimator.decimateToCount(count + 10, false, nullptr));
    EXPECT_EQ(s.mesh.reducibleCount(), count);
}

TEST_F(DecimatorTest, ErrorLoopStopsAtTheLimit) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 10, 12);
    Reduction r(obj);
    r.decimator.settings.useChecks = 0;
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    r.mesh.startRecording();
    const double limit = 2e-4;
    EXPECT_TRUE(r.decimator.decimateToError(limit, nullptr));
    const ContractionHistory& h = r.mesh.history();
    ASSERT_GT(h.size(), 5);
    for (int32_t i = 0; i < h.size(); ++i) EXPECT_LE(h.record(i).error, limit);
    // What is left in the heap is dearer than the limit (up to the re-keying bias).
    ASSERT_GT(r.decimator.candidates().size(), 0);
    EXPECT_GT(-r.decimator.candidates().keyAt(0), limit - 1e-9);
}

TEST_F(DecimatorTest, EmptyHeapEndsTheLoopWithSuccess) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 5, 6);
    Reduction r(obj);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    EXPECT_TRUE(r.decimator.decimateToCount(0, true, nullptr));
    EXPECT_EQ(r.decimator.candidates().size(), 0);
    EXPECT_GE(r.mesh.reducibleCount(), 1);
}

TEST_F(DecimatorTest, RelinkedCandidatesKeepTheSurvivorFirst) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 8, 10);
    Reduction r(obj);
    ASSERT_TRUE(r.decimator.initialise(&r.mesh, nullptr));
    const int32_t v1 = 25, v2 = 26;  // neighbours on one ring; their triangles share two points
    EdgeCandidate* c = interiorCandidate(r.decimator, v1, v2);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->v1, v1);  // built with the lower index first
    // The expected list of v1 afterwards, by the rule: v2's candidates in their order; one to a
    // point v1 is not joined to is turned round (v1 first) and appended; the contracted one leaves
    // v1's list, the last entry taking its place; one to a common neighbour is dropped.
    std::vector<EdgeCandidate*> expected(r.decimator.candidatesAt(v1).begin(), r.decimator.candidatesAt(v1).end());
    std::vector<int32_t> star;
    for (EdgeCandidate* e : expected) star.push_back(otherEnd(*e, v1));
    std::vector<std::pair<EdgeCandidate*, int32_t>> turned;
    int32_t dropped = 0;
    for (EdgeCandidate* e : r.decimator.candidatesAt(v2)) {
        const int32_t u = otherEnd(*e, v2);
        if (u != v1 && std::find(star.begin(), star.end(), u) == star.end()) {
            expected.push_back(e);
            turned.emplace_back(e, u);
        } else if (u == v1) {
            const auto at = std::find(expected.begin(), expected.end(), e);
            ASSERT_NE(at, expected.end());
            *at = expected.back();
            expected.pop_back();
        } else {
            ++dropped;
        }
    }
    ASSERT_NE(c->heapPosition, HEAP_ABSENT);
    const EdgeHeap& heap = r.decimator.candidates();
    ASSERT_TRUE(r.decimator.contract(HeapEntry{heap.at(c->heapPosition), heap.keyAt(c->heapPosition)}));
    EXPECT_EQ(c->heapPosition, HEAP_ABSENT);  // taken out of the heap with the contraction
    EXPECT_EQ(checkDecimator(r.decimator), "");
    const CandidateList now = r.decimator.candidatesAt(v1);
    EXPECT_TRUE(r.decimator.candidatesAt(v2).empty());
    EXPECT_EQ(std::vector<EdgeCandidate*>(now.begin(), now.end()), expected);
    for (const auto& [e, u] : turned) {
        EXPECT_EQ(e->v1, v1);
        EXPECT_EQ(e->v2, u);
    }
    EXPECT_FALSE(turned.empty());
    EXPECT_EQ(dropped, 2);  // the far corners of the two triangles on the edge
    EXPECT_EQ(checkDecimator(r.decimator), "");
}

TEST_F(DecimatorTest, InitialiseWithoutMesh) {
    Decimator d;
    EXPECT_FALSE(d.initialise(nullptr, nullptr));
    EXPECT_FALSE(d.decimateToCount(1, false, nullptr));
}

}  // namespace
}  // namespace mixtest
