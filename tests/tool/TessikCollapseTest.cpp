// The brush's collapse on meshes whose outcome can be worked out by hand: which neighbours vanish,
// how quads turn into triangles, where texture coordinates, selections and float maps go, when the
// error limit, the neighbour limit and the fold test refuse, that a refusal changes nothing, that the
// error does not depend on the object's units, and that missing memory never leaves a half edit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "host/Memory.h"
#include "tests/tool/TessikTestSupport.h"
#include "tool/TessikCollapse.h"

namespace {

using namespace tessiktest;
using untritest::addPointUvw;
using untritest::uvwOfPoint;

class TessikCollapseTest : public untritest::ModuleTest {
protected:
    host::Document doc;
};

constexpr int kColumns = 6;

// The triangle (p00, p10, p11) of square (2, 2) of the triangle grid and its three edge neighbours.
struct InnerTriangle {
    int index = 2 * (2 * kColumns + 2);
    int a = gridPoint(kColumns, 2, 2), b = gridPoint(kColumns, 3, 2), c = gridPoint(kColumns, 3, 3);
    std::set<int> edgeNeighbours = {2 * (1 * kColumns + 2) + 1, 2 * (2 * kColumns + 3) + 1, 2 * (2 * kColumns + 2) + 1};
};

TEST_F(TessikCollapseTest, TriangleInRegularMeshTakesItsThreeEdgeNeighboursAndMovesTheSurvivor) {
    host::PolygonObject* obj = makeTriangleGrid(doc, kColumns, kColumns);
    const std::vector<host::Polygon> before = obj->polygons;
    const InnerTriangle P;
    Context c(obj);
    ASSERT_TRUE(c.ok);
    float cost = -1.0f;
    ASSERT_TRUE(tessikCollapse(c.context, P.index, cost));
    EXPECT_EQ(cost, 0.0f);  // a flat neighbourhood

    // Six triangles at each of the three corners: the triangle itself, its three edge neighbours
    // (counted twice each) and nine that share one corner.
    EXPECT_EQ(std::set<int>(c.context.removedNeighbours.items, c.context.removedNeighbours.items + 3), P.edgeNeighbours);
    EXPECT_EQ(c.context.removedNeighbours.count, 3);
    EXPECT_EQ(c.context.keptNeighbours.count, 9);

    int live = 0;
    for (int i = 0; i < obj->polygonCount(); ++i) {
        const host::Polygon& p = obj->polygons[i];
        if (i == P.index || P.edgeNeighbours.count(i)) {
            EXPECT_TRUE(isRemoved(p)) << "polygon " << i;
            continue;
        }
        ++live;
        EXPECT_EQ(p.c, p.d) << "polygon " << i << " stays a triangle";
        EXPECT_TRUE(p.a != p.b && p.b != p.c && p.a != p.c) << "polygon " << i << " degenerate";
        EXPECT_FALSE(uses(p, P.b) || uses(p, P.c)) << "polygon " << i << " still uses a merged point";
        const bool touched = uses(before[i], P.a) || uses(before[i], P.b) || uses(before[i], P.c);
        if (!touched) {
            EXPECT_EQ(p, before[i]) << "polygon " << i << " away from the collapse changed";
        }
        EXPECT_EQ(c.context.markedPolygons.isSelected(i), touched) << "polygon " << i;
    }
    EXPECT_EQ(live, 2 * kColumns * kColumns - 4);
    // Nothing bends the flat plane, so every point of the triangle costs 0 and the centroid is kept.
    EXPECT_NEAR(obj->points[P.a].x, 8.0 / 3.0, 1e-5);
    EXPECT_NEAR(obj->points[P.a].y, 7.0 / 3.0, 1e-5);
    EXPECT_EQ(obj->points[P.a].z, 0.0f);
    EXPECT_EQ(obj->updateCount(), 1);
}

TEST_F(TessikCollapseTest, TooManyKeptNeighboursRefuseAndChangeNothing) {
    host::PolygonObject* obj = makeTriangleGrid(doc, kColumns, kColumns);
    const std::unique_ptr<host::Object> copy = obj->cloneAlone();
    Context c(obj, 1e30f, 8);
    ASSERT_TRUE(c.ok);
    float cost = -1.0f;
    EXPECT_FALSE(tessikCollapse(c.context, InnerTriangle().index, cost));
    EXPECT_EQ(cost, 0.0f);  // measured before the refusal
    EXPECT_TRUE(obj->sameStateAs(*copy));
    EXPECT_EQ(c.context.markedPolygons.count(), 0);
}

TEST_F(TessikCollapseTest, QuadSharingOneEdgeBecomesTriangleWithMergedCornersInSlotsCAndD) {
    // Triangle (0, 1, 2) over the quad (1, 0, 3, 4), which shares the edge 0-1.
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {0.5f, 1, 0}, {0, -1, 0}, {1, -1, 0}},
                                          {{0, 1, 2, 2}, {1, 0, 3, 4}});
    addPointUvw(*obj);
    Context c(obj);
    ASSERT_TRUE(c.ok);
    float cost = -1.0f;
    ASSERT_TRUE(tessikCollapse(c.context, 0, cost));
    EXPECT_TRUE(isRemoved(obj->polygons[0]));
    // (1, 0, 3, 4) re-pointed is (0, 0, 3, 4); a = b rotates it to (c, d, a, b).
    EXPECT_EQ(obj->polygons[1], (host::Polygon{3, 4, 0, 0}));
    const host::UVWRow& row = static_cast<host::UVWTag*>(obj->tag(host::TAG_UVW))->data[1];
    EXPECT_EQ(row.a, uvwOfPoint(*obj, 3));
    EXPECT_EQ(row.b, uvwOfPoint(*obj, 4));
    EXPECT_EQ(row.c, row.d);
    EXPECT_NE(row.c, uvwOfPoint(*obj, 1));
    const host::UVWRow& picked = static_cast<host::UVWTag*>(obj->tag(host::TAG_UVW))->data[0];
    EXPECT_EQ(picked, host::UVWRow{});
}

TEST_F(TessikCollapseTest, UvSeamAtPickedCornerSurvivesWhileContinuousCornersTakeTheNewValue) {
    host::PolygonObject* obj = makeTriangleGrid(doc, kColumns, kColumns);
    host::UVWTag* uvw = addPointUvw(*obj);
    const InnerTriangle P;
    // Triangle (p10, p20, p21) of square (3, 2) shares corner b; across a seam it has its own UVW there.
    const int seamed = 2 * (2 * kColumns + 3);
    ASSERT_TRUE(uses(obj->polygons[seamed], P.b));
    const host::Vec3f seam{7.5f, -2.25f, 0.5f};
    uvw->data[seamed].corner(0) = seam;
    // Another triangle with corner b, on the same side of the seam: (p(2,1), p(3,1), p(3,2)).
    const int smooth = 2 * (1 * kColumns + 2);
    ASSERT_EQ(obj->polygons[smooth].c, P.b);
    const host::Vec3f ua = uvwOfPoint(*obj, P.a), ub = uvwOfPoint(*obj, P.b), uc = uvwOfPoint(*obj, P.c);

    Context c(obj);
    ASSERT_TRUE(c.ok);
    float cost = -1.0f;
    ASSERT_TRUE(tessikCollapse(c.context, P.index, cost));
    // The survivor sits at the centroid, so its UVW is the mean of the three corners'.
    const host::Vec3f expected{(ua.x + ub.x + uc.x) / 3, (ua.y + ub.y + uc.y) / 3, (ua.z + ub.z + uc.z) / 3};
    const host::Polygon& s = obj->polygons[seamed];
    ASSERT_EQ(s.a, P.a);
    EXPECT_EQ(uvw->data[seamed].corner(0), seam);
    const host::Polygon& m = obj->polygons[smooth];
    ASSERT_EQ(m.c, P.a);
    const host::Vec3f moved = uvw->data[smooth].corner(2);
    EXPECT_NEAR(moved.x, expected.x, 1e-6);
    EXPECT_NEAR(moved.y, expected.y, 1e-6);
    EXPECT_NEAR(moved.z, expected.z, 1e-6);
    // The other corners of the smooth triangle keep theirs.
    EXPECT_EQ(uvw->data[smooth].corner(0), uvwOfPoint(*obj, m.a));
}

// A fan around point 0 for the fold test: P = (0, 1, 2), triangle q = (0, 3, 4) sharing corner 0,
// quad r = (0, 1, 5, 6) sharing the edge 0-1, and a triangle t = (0, 7, 8) of micrometre size.
struct FoldCase {
    const char* what;
    int neighbour;
    host::Vec3f target;  // object coordinates
    bool folds;
};

TEST_F(TessikCollapseTest, FoldTestRefusesFlipsDegeneraciesAndTinyPolygons) {
    host::PolygonObject* obj = makeObject(doc,
                                          {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 0, 0}, {1, -1, 0},
                                           {0, -1, 0}, {0, -1e-6f, 0}, {-1e-6f, 0, 0}},
                                          {{0, 1, 2, 2}, {0, 3, 4, 4}, {0, 1, 5, 6}, {0, 7, 8, 8}});
    Context c(obj);
    ASSERT_TRUE(c.ok);
    const FoldCase cases[] = {
        {"triangle moved inside", 1, {-0.2f, -0.2f, 0}, false},
        {"triangle moved across its far edge", 1, {-0.8f, -0.8f, 0}, true},
        {"triangle flattened onto its far edge", 1, {-0.5f, -0.5f, 0}, true},
        {"quad to triangle, above its far edge", 2, {0.5f, 0.5f, 0}, false},
        {"quad to triangle, below its far edge", 2, {0.5f, -1.5f, 0}, true},
        {"micrometre triangle, hardly moved", 3, {-1e-7f, -1e-7f, 0}, true},
    };
    const HostPolygon P{0, 1, 2, 2};
    for (const FoldCase& fc : cases) {
        const Vector target = c.context.frame.toFrame(Vector{fc.target.x, fc.target.y, fc.target.z});
        EXPECT_EQ(tessikFoldsOver(c.context, fc.neighbour, P, target), fc.folds) << fc.what;
    }
}

TEST_F(TessikCollapseTest, CostEqualToTheLimitIsAppliedAndJustAboveIsRefused) {
    host::PolygonObject* obj = makeQuadGrid(doc, 6, 6);
    const std::unique_ptr<host::Object> copy = obj->cloneAlone();
    const int picked = 2 * 6 + 2;
    float cost = -1.0f;
    {
        Context c(obj, 0.0f, 10, false);
        ASSERT_TRUE(c.ok);
        EXPECT_FALSE(tessikCollapse(c.context, picked, cost));
    }
    ASSERT_GT(cost, 0.0f);
    EXPECT_TRUE(obj->sameStateAs(*copy)) << "a refused collapse changed the object";
    {
        Context c(obj, std::nextafter(cost, 0.0f), 10, false);
        float again = -1.0f;
        EXPECT_FALSE(tessikCollapse(c.context, picked, again));
        EXPECT_EQ(again, cost);
    }
    EXPECT_TRUE(obj->sameStateAs(*copy));
    {
        Context c(obj, cost, 10, false);
        float again = -1.0f;
        EXPECT_TRUE(tessikCollapse(c.context, picked, again));
        EXPECT_EQ(again, cost);
    }
    EXPECT_TRUE(isRemoved(obj->polygons[picked]));
}

TEST_F(TessikCollapseTest, NegativeIndexLeavesTheCostAlone) {
    host::PolygonObject* obj = makeQuadGrid(doc, 3, 3);
    Context c(obj);
    float cost = 42.0f;
    EXPECT_FALSE(tessikCollapse(c.context, -1, cost));
    EXPECT_EQ(cost, 42.0f);
}

TEST_F(TessikCollapseTest, SurvivorIsSelectedByMajorityAndTakesTheMeanOfFloatMaps) {
    host::PolygonObject* obj = makeQuadGrid(doc, 4, 4, true);
    const int picked = 1 * 4 + 1;
    const host::Polygon P = obj->polygons[picked];
    auto two = std::make_unique<host::SelectionTag>(host::TAG_POINT_SELECTION, "two", obj->pointCount());
    two->set.select(P.a);
    two->set.select(P.c);
    auto three = std::make_unique<host::SelectionTag>(host::TAG_POINT_SELECTION, "three", obj->pointCount());
    three->set.select(P.b);
    three->set.select(P.c);
    three->set.select(P.d);
    auto* twoTag = static_cast<host::SelectionTag*>(obj->addTag(std::move(two)));
    auto* threeTag = static_cast<host::SelectionTag*>(obj->addTag(std::move(three)));
    auto map = std::make_unique<host::FloatMapTag>("weights", obj->pointCount());
    for (int i = 0; i < obj->pointCount(); ++i) map->data[i] = 0.5f * i;
    auto* mapTag = static_cast<host::FloatMapTag*>(obj->addTag(std::move(map)));

    Context c(obj);
    ASSERT_TRUE(c.ok);
    float cost = -1.0f;
    ASSERT_TRUE(tessikCollapse(c.context, picked, cost));
    EXPECT_FALSE(twoTag->set.isSelected(P.a)) << "2 of 4 corners is no majority";
    EXPECT_TRUE(threeTag->set.isSelected(P.a)) << "3 of 4 corners is";
    EXPECT_FLOAT_EQ(mapTag->data[P.a], 0.5f * (P.a + P.b + P.c + P.d) / 4.0f);
}

TEST_F(TessikCollapseTest, ErrorAndResultDoNotDependOnTheObjectsUnits) {
    for (const double scale : {0.001, 1000.0}) {
        host::Document d1, d2;
        host::PolygonObject* unit = makeQuadGrid(d1, 6, 6, false, 1.0);
        host::PolygonObject* scaled = makeQuadGrid(d2, 6, 6, false, scale);
        const int picked = 3 * 6 + 2;
        Context a(unit, 1e30f, 10, true), b(scaled, 1e30f, 10, true);
        float costA = -1, costB = -1;
        const bool appliedA = tessikCollapse(a.context, picked, costA);
        const bool appliedB = tessikCollapse(b.context, picked, costB);
        EXPECT_EQ(appliedA, appliedB) << scale;
        EXPECT_GT(costA, 0.0f);
        EXPECT_NEAR(costB / costA, 1.0, 1e-3) << scale;
        EXPECT_EQ(unit->polygons, scaled->polygons) << scale;
        const int m = gridPoint(6, 2, 3);  // corner a of the picked quad survives
        EXPECT_NEAR(scaled->points[m].x / scale, unit->points[m].x, 1e-4) << scale;
        EXPECT_NEAR(scaled->points[m].z / scale, unit->points[m].z, 1e-4) << scale;
    }
}

TEST_F(TessikCollapseTest, MissingMemoryNeverLeavesAHalfEdit) {
    // Every allocation of setup and collapse in turn is refused: the object is either untouched or
    // exactly what the collapse gives with enough memory, and nothing is left allocated.
    host::Document reference;
    host::PolygonObject* full = makeTriangleGrid(reference, kColumns, kColumns);
    addPointUvw(*full);
    {
        Context c(full);
        float cost = 0;
        ASSERT_TRUE(tessikCollapse(c.context, InnerTriangle().index, cost));
    }
    bool sawRefusal = false;
    for (uint64_t n = 1; n < 200; ++n) {
        host::Document d;
        host::PolygonObject* obj = makeTriangleGrid(d, kColumns, kColumns);
        addPointUvw(*obj);
        const std::unique_ptr<host::Object> copy = obj->cloneAlone();
        host::memory::failAfter(n);
        bool applied = false;
        {
            Context c(obj);
            float cost = 0;
            applied = c.ok && tessikCollapse(c.context, InnerTriangle().index, cost);
        }
        host::memory::resetFailures();
        if (applied) {
            EXPECT_TRUE(obj->sameStateAs(*full)) << "allocation " << n;
        } else {
            sawRefusal = true;
            EXPECT_TRUE(obj->sameStateAs(*copy)) << "allocation " << n;
        }
        if (applied && n > 20) break;
    }
    EXPECT_TRUE(sawRefusal);
    memoryFaults();
}

}  // namespace
