// Tests of the host's modelling commands: selection rings (204, 205), selection conversion (206, 207),
// the clean-up (227) and the polygon copy (245). Expected values are worked out by hand on small meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "host/Document.h"
#include "host/ModelingCommands.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "tests/support/GridMesh.h"
#include "tests/support/SelectionMembers.h"

using namespace host;

namespace {

using testsupport::members;

using Indices = std::vector<int>;

// Corner 0..3 (a, b, c, d) of a polygon.
int corner(const Polygon& p, int c) {
    const int corners[4] = {p.a, p.b, p.c, p.d};
    return corners[c];
}

void setMembers(SelectionSet& s, const Indices& idx) {
    s.deselectAll();
    for (int i : idx) ASSERT_TRUE(s.select(i)) << i;
}

// A 3x3 grid of quads in the z = 0 plane. Point (x, y) has index y*4 + x and position (x, y, 0);
// quad (x, y) has index y*3 + x and corners (x,y), (x+1,y), (x+1,y+1), (x,y+1):
//
//   12 13 14 15
//    8  9 10 11        q6 q7 q8
//    4  5  6  7        q3 q4 q5
//    0  1  2  3        q0 q1 q2
PolygonObject* addGrid(Document& doc, const std::string& name = "grid") {
    auto obj = testsupport::gridObject(name, 3, 3, [](int x, int y) { return Vec3f{float(x), float(y), 0}; });
    return static_cast<PolygonObject*>(doc.insert(std::move(obj)));
}

// Appends polygons to an object, keeping its selections and tags in step.
void appendPolygons(PolygonObject& obj, const std::vector<Polygon>& extra) {
    const int first = obj.polygonCount();
    ASSERT_TRUE(obj.resize(obj.pointCount(), first + static_cast<int>(extra.size())));
    for (size_t i = 0; i < extra.size(); ++i) obj.polygons[first + i] = extra[i];
}

// A fan of six triangles around point 0 at the origin; rim points 1..6. Triangle i (0..5) is
// (0, i+1, next, next) with next = i+2, wrapping to 1 for the last.
PolygonObject* addFan(Document& doc) {
    auto obj = std::make_unique<PolygonObject>("fan");
    obj->resize(7, 6);
    obj->points[0] = {0, 0, 0};
    const float rim[6][2] = {{2, 0}, {1, 2}, {-1, 2}, {-2, 0}, {-1, -2}, {1, -2}};
    for (int i = 0; i < 6; ++i) obj->points[i + 1] = {rim[i][0], rim[i][1], 0};
    for (int i = 0; i < 6; ++i) {
        const int next = i == 5 ? 1 : i + 2;
        obj->polygons[i] = {0, i + 1, next, next};
    }
    return static_cast<PolygonObject*>(doc.insert(std::move(obj)));
}

bool run(int32_t command, int32_t mode, Document& doc, PolygonObject* obj, const Settings& params = {}) {
    return runModelingCommand(command, mode, &doc, {obj}, params);
}

}  // namespace

// --- 206 / 207: conversion ------------------------------------------------------------------------

TEST(PointsToPolygons, GridSelectsPolygonsWithAllCornersSelected) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {0, 1, 4, 5, 6, 9, 10});
    // A previous polygon selection is replaced, not added to.
    setMembers(g->polygonSelection, {2, 8});
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, g));
    // q0 = 0,1,5,4 and q4 = 5,6,10,9 are complete; q1 lacks 2, q3 lacks 8.
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 4}));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5, 6, 9, 10}));
}

TEST(PointsToPolygons, AllPointsSelectAllLivePolygonsOnly) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    // 9: retired, 10: dead (a == b), 11: a corner out of range, 12: a live triangle.
    appendPolygons(*g, {{0, 0, 0, 0}, {3, 3, 12, 15}, {0, 1, 5, 99}, {0, 5, 4, 4}});
    g->pointSelection.selectAll();
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 2, 3, 4, 5, 6, 7, 8, 12}));
}

TEST(PointsToPolygons, FanTriangles) {
    Document doc;
    PolygonObject* f = addFan(doc);
    setMembers(f->pointSelection, {0, 1, 2, 3});
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, f));
    // (0,1,2,2) and (0,2,3,3) only.
    EXPECT_EQ(members(f->polygonSelection), (Indices{0, 1}));

    // The rim alone completes no triangle.
    setMembers(f->pointSelection, {1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, f));
    EXPECT_EQ(members(f->polygonSelection), Indices{});

    // The centre and the two ends of the wrap-around triangle (0,6,1,1).
    setMembers(f->pointSelection, {0, 6, 1});
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, f));
    EXPECT_EQ(members(f->polygonSelection), (Indices{5}));
}

TEST(PolygonsToPoints, GridCornersOfSelectedLivePolygons) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    appendPolygons(*g, {{3, 3, 12, 15}, {0, 1, 2, 40}});  // 9 dead, 10 out of range
    setMembers(g->polygonSelection, {0, 8, 9, 10});
    setMembers(g->pointSelection, {3, 7, 12});  // replaced
    ASSERT_TRUE(run(CMD_POLYGONS_TO_POINTS, 0, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5, 10, 11, 14, 15}));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 8, 9, 10}));
}

TEST(PolygonsToPoints, FanTriangles) {
    Document doc;
    PolygonObject* f = addFan(doc);
    setMembers(f->polygonSelection, {0, 3});  // (0,1,2,2) and (0,4,5,5)
    ASSERT_TRUE(run(CMD_POLYGONS_TO_POINTS, 0, doc, f));
    EXPECT_EQ(members(f->pointSelection), (Indices{0, 1, 2, 4, 5}));

    f->polygonSelection.deselectAll();
    ASSERT_TRUE(run(CMD_POLYGONS_TO_POINTS, 0, doc, f));
    EXPECT_EQ(members(f->pointSelection), Indices{});
}

TEST(SelectionConversion, PolygonsToPointsAndBackKeepsAClosedSelection) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    // Two separate blocks, {q0, q1} and {q8}. Back from points, q4 (5,6,10,9) has 5, 6 and 10 but not 9,
    // so exactly the same polygons come back.
    setMembers(g->polygonSelection, {0, 1, 8});
    ASSERT_TRUE(run(CMD_POLYGONS_TO_POINTS, 0, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 2, 4, 5, 6, 10, 11, 14, 15}));
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 8}));

    // q0, q1, q3 and q5 together hold every corner of q4 (5,6,10,9) without selecting it: the way back
    // adds q4 and nothing else (q2 lacks 3, q6 and q7 lack 12, 13, 14).
    setMembers(g->polygonSelection, {0, 1, 3, 5});
    ASSERT_TRUE(run(CMD_POLYGONS_TO_POINTS, 0, doc, g));
    ASSERT_TRUE(run(CMD_POINTS_TO_POLYGONS, 0, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 3, 4, 5}));
}

// --- 204 / 205: rings -----------------------------------------------------------------------------

TEST(GrowSelection, PointsByOneRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {0});
    setMembers(g->polygonSelection, {7});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5}));
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 2, 4, 5, 6, 8, 9, 10}));
    // The polygon selection is not touched in point mode.
    EXPECT_EQ(members(g->polygonSelection), (Indices{7}));

    // From an inner point one ring reaches its four quads.
    setMembers(g->pointSelection, {10});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{5, 6, 7, 9, 10, 11, 13, 14, 15}));
}

TEST(ShrinkSelection, PointsByOneRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {0, 1, 2, 4, 5, 6, 8, 9, 10});
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    // q2, q5, q6, q7, q8 each have an unselected corner: their selected corners 2, 6, 8, 9, 10 go.
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5}));
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0}));
    // A lone point that shares a quad with unselected ones goes too.
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), Indices{});

    // Everything selected: nothing borders an unselected point.
    g->pointSelection.selectAll();
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(g->pointSelection.count(), 16);

    // All but the corner 15: the points of q8 (10, 11, 14) go.
    g->pointSelection.deselect(15);
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13}));
}

TEST(GrowSelection, PolygonsByOneRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {15});
    setMembers(g->polygonSelection, {0});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    // q0's corners 0, 1, 5, 4 are shared by q1 (1, 5), q3 (4, 5) and q4 (5).
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 3, 4}));
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(members(g->pointSelection), (Indices{15}));

    // The centre quad touches every other quad through a point.
    setMembers(g->polygonSelection, {4});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(g->polygonSelection.count(), 9);

    // A side quad: q5 = 6,7,11,10 reaches q1, q2, q4, q7, q8 but not q0, q3, q6.
    setMembers(g->polygonSelection, {5});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{1, 2, 4, 5, 7, 8}));
}

TEST(ShrinkSelection, PolygonsByOneRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->polygonSelection, {0, 1, 3, 4});
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    // The unselected q2, q5, q6, q7, q8 use points 2,3,6,7,8,...,15; only q0 avoids all of them.
    EXPECT_EQ(members(g->polygonSelection), (Indices{0}));

    setMembers(g->polygonSelection, {0, 1, 2, 3, 4, 5});
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 2}));

    setMembers(g->polygonSelection, {4});
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), Indices{});

    g->polygonSelection.selectAll();
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(g->polygonSelection.count(), 9);
}

TEST(GrowSelection, GrowThenShrinkReturnsAConvexBlock) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {0, 1, 4, 5});
    setMembers(g->polygonSelection, {0});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5}));
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0}));
}

TEST(GrowSelection, DeadPolygonsCarryNoRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    // 9: retired, 10: dead (a == b) linking 3 with 12 and 15, 11: a corner out of range.
    appendPolygons(*g, {{0, 0, 0, 0}, {3, 3, 12, 15}, {3, 7, 13, 99}});

    setMembers(g->pointSelection, {3});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{2, 3, 6, 7}));

    setMembers(g->polygonSelection, {2});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{1, 2, 4, 5}));

    // A selected dead polygon spreads nowhere and stays as it is.
    setMembers(g->polygonSelection, {10});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{10}));
}

TEST(ShrinkSelection, DeadPolygonsCarryNoRing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    appendPolygons(*g, {{0, 0, 0, 0}, {3, 3, 12, 15}});

    // Unselected dead polygons are no border.
    g->polygonSelection.selectRange(0, 8);
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // All but point 12: q6 (8, 9, 13, 12) loses its selected corners; the dead (3,3,12,15) takes
    // nothing away from 3 or 15.
    g->pointSelection.selectAll();
    g->pointSelection.deselect(12);
    ASSERT_TRUE(run(CMD_SHRINK_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 14, 15}));
}

TEST(GrowSelection, NeverSelectsHiddenElements) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    g->hiddenPoints.select(5);
    setMembers(g->pointSelection, {0});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4}));
    // The next ring comes from q0, q1 and q3 (the quads of 0, 1 and 4); 5 stays out, and q4 is not
    // reached since none of its corners is selected.
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 2, 4, 6, 8, 9}));

    g->hiddenPolygons.select(4);
    setMembers(g->polygonSelection, {0});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POLYGONS, doc, g));
    EXPECT_EQ(members(g->polygonSelection), (Indices{0, 1, 3}));

    // A hidden polygon still joins its visible corners in point mode.
    g->hiddenPoints.deselectAll();
    g->hiddenPolygons.deselectAll();
    g->hiddenPolygons.select(0);
    setMembers(g->pointSelection, {0});
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(members(g->pointSelection), (Indices{0, 1, 4, 5}));

    // A hidden element that is already selected stays selected.
    g->hiddenPoints.select(0);
    ASSERT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_TRUE(g->pointSelection.isSelected(0));
}

TEST(GrowSelection, WorksOnEveryObjectGiven) {
    Document doc;
    PolygonObject* a = addGrid(doc, "a");
    PolygonObject* b = addFan(doc);
    setMembers(a->pointSelection, {15});
    setMembers(b->pointSelection, {1});
    ASSERT_TRUE(runModelingCommand(CMD_GROW_SELECTION, SELECT_MODE_POINTS, &doc, {a, b}, {}));
    EXPECT_EQ(members(a->pointSelection), (Indices{10, 11, 14, 15}));
    // Point 1 is in (0,1,2,2) and (0,6,1,1).
    EXPECT_EQ(members(b->pointSelection), (Indices{0, 1, 2, 6}));
}

// --- refusals -------------------------------------------------------------------------------------

TEST(ModelingCommands, RefusesAndChangesNothing) {
    Document doc;
    PolygonObject* g = addGrid(doc);
    setMembers(g->pointSelection, {0});
    setMembers(g->polygonSelection, {4});
    auto group = std::make_unique<Object>(OBJECT_GROUP, "group");
    Object* grp = doc.insert(std::move(group));
    const std::unique_ptr<Object> before = g->cloneAlone();

    EXPECT_FALSE(run(999, SELECT_MODE_POINTS, doc, g));
    EXPECT_FALSE(run(CMD_GROW_SELECTION, 0, doc, g));
    EXPECT_FALSE(run(CMD_GROW_SELECTION, 3, doc, g));
    EXPECT_FALSE(run(CMD_SHRINK_SELECTION, -1, doc, g));
    EXPECT_FALSE(runModelingCommand(CMD_GROW_SELECTION, SELECT_MODE_POINTS, nullptr, {g}, {}));
    EXPECT_FALSE(runModelingCommand(CMD_CLEANUP, 0, nullptr, {g}, {}));
    // A non-polygon object anywhere in the list: the polygon object before it is left alone too.
    for (int32_t cmd : {CMD_GROW_SELECTION, CMD_SHRINK_SELECTION, CMD_POINTS_TO_POLYGONS, CMD_POLYGONS_TO_POINTS,
                        CMD_CLEANUP})
        EXPECT_FALSE(runModelingCommand(cmd, SELECT_MODE_POINTS, &doc, {g, grp}, {})) << cmd;
    EXPECT_FALSE(runModelingCommand(CMD_GROW_SELECTION, SELECT_MODE_POINTS, &doc, {g, nullptr}, {}));
    // 245 needs somewhere to put its copies.
    EXPECT_FALSE(runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, &doc, {g}, {}, nullptr));

    EXPECT_TRUE(g->sameStateAs(*before));
    EXPECT_EQ(g->updateCount(), 0);
    // The same object alone is accepted.
    EXPECT_TRUE(run(CMD_GROW_SELECTION, SELECT_MODE_POINTS, doc, g));
    EXPECT_EQ(g->updateCount(), 1);
    EXPECT_FALSE(g->sameStateAs(*before));
}

// --- 227: clean-up --------------------------------------------------------------------------------

namespace {

Settings cleanupParams(bool merge, double tolerance, bool dropPolygons, bool dropPoints) {
    Settings s;
    s.setBool(CLEANUP_MERGE_POINTS, merge);
    s.setReal(CLEANUP_TOLERANCE, tolerance);
    s.setBool(CLEANUP_DROP_POLYGONS, dropPolygons);
    s.setBool(CLEANUP_DROP_POINTS, dropPoints);
    return s;
}

using Pos = std::tuple<float, float, float>;
Pos pos(const Vec3f& v) { return {v.x, v.y, v.z}; }

UVWRow uvRow(int polygon) {
    UVWRow r;
    for (int c = 0; c < 4; ++c) r.corner(c) = {float(polygon), float(c), 0.25f * float(polygon + c)};
    return r;
}

NormalRow normalRow(int polygon) {
    NormalRow r;
    for (int i = 0; i < 12; ++i) r.v[i] = static_cast<int16_t>(polygon * 100 + i);
    return r;
}

// Everything that hangs on one polygon, as a comparable value.
struct PolygonData {
    std::vector<Pos> corners;
    UVWRow uv;
    NormalRow normal;
    bool groupA, groupB, selected, hidden;
    bool operator==(const PolygonData&) const = default;
};

struct PointData {
    bool tagged, selected, hidden;
    float value;
    bool operator==(const PointData&) const = default;
};

struct MeshTags {
    UVWTag* uv;
    NormalTag* normals;
    SelectionTag* groupA;
    SelectionTag* groupB;
    SelectionTag* pointTag;
    FloatMapTag* floats;
};

MeshTags tagsOf(PolygonObject& o) {
    return {dynamic_cast<UVWTag*>(o.tag(TAG_UVW)),
            dynamic_cast<NormalTag*>(o.tag(TAG_NORMALS)),
            dynamic_cast<SelectionTag*>(o.tag(TAG_POLYGON_SELECTION, 0)),
            dynamic_cast<SelectionTag*>(o.tag(TAG_POLYGON_SELECTION, 1)),
            dynamic_cast<SelectionTag*>(o.tag(TAG_POINT_SELECTION)),
            dynamic_cast<FloatMapTag*>(o.tag(TAG_FLOAT_MAP))};
}

MeshTags addAllTags(PolygonObject& o) {
    o.addTag(std::make_unique<UVWTag>("uv"));
    o.addTag(std::make_unique<NormalTag>("normals"));
    o.addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "groupA"));
    o.addTag(std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, "groupB"));
    o.addTag(std::make_unique<SelectionTag>(TAG_POINT_SELECTION, "pinned"));
    o.addTag(std::make_unique<FloatMapTag>("weight"));
    MeshTags t = tagsOf(o);
    for (int i = 0; i < o.polygonCount(); ++i) {
        t.uv->data[i] = uvRow(i);
        t.normals->data[i] = normalRow(i);
    }
    for (int i = 0; i < o.pointCount(); ++i) t.floats->data[i] = 10.0f * float(i) + 0.5f;
    return t;
}

PolygonData polygonData(PolygonObject& o, int i) {
    MeshTags t = tagsOf(o);
    PolygonData d;
    const Polygon& p = o.polygons[i];
    for (int c : {p.a, p.b, p.c, p.d}) d.corners.push_back(pos(o.points.at(c)));
    d.uv = t.uv->data.at(i);
    d.normal = t.normals->data.at(i);
    d.groupA = t.groupA->set.isSelected(i);
    d.groupB = t.groupB->set.isSelected(i);
    d.selected = o.polygonSelection.isSelected(i);
    d.hidden = o.hiddenPolygons.isSelected(i);
    return d;
}

PointData pointData(PolygonObject& o, int i) {
    MeshTags t = tagsOf(o);
    return {t.pointTag->set.isSelected(i), o.pointSelection.isSelected(i), o.hiddenPoints.isSelected(i),
            t.floats->data.at(i)};
}

// Every count of the object agrees: selections, hidden sets and tags have one entry per element, and
// every polygon corner names an existing point.
void expectConsistent(PolygonObject& o) {
    const int n = o.pointCount(), m = o.polygonCount();
    EXPECT_EQ(o.pointSelection.size(), n);
    EXPECT_EQ(o.hiddenPoints.size(), n);
    EXPECT_EQ(o.polygonSelection.size(), m);
    EXPECT_EQ(o.hiddenPolygons.size(), m);
    for (const auto& t : o.tags()) {
        if (t->domain() == Tag::Domain::Points) {
            EXPECT_EQ(t->elementCount(), n) << t->name();
        } else if (t->domain() == Tag::Domain::Polygons) {
            EXPECT_EQ(t->elementCount(), m) << t->name();
        }
    }
    for (int i = 0; i < m; ++i) {
        const Polygon& p = o.polygons[i];
        for (int c : {p.a, p.b, p.c, p.d}) {
            EXPECT_GE(c, 0) << "polygon " << i;
            EXPECT_LT(c, n) << "polygon " << i;
        }
    }
}

// Points:   0 (0,0,0) only in retired polygons     5 (2,1,0)
//           1 (1,0,0)                               6 (5,5,5) unused
//           2 (2,0,0)                               7 (1,2,0)
//           3 (9,9,9) unused                        8 (2,2,0)
//           4 (1,1,0)
// Polygons: 0 (0,0,0,0) retired    3 (4,5,8,7)     6 (5,8,2,2)
//           1 (1,2,5,4)            4 (1,5,4,4)     7 (4,4,7,8) dead: a == b
//           2 (0,0,0,0) retired    5 (1,2,50,4) out of range
PolygonObject* addDirtyMesh(Document& doc) {
    auto obj = std::make_unique<PolygonObject>("dirty");
    obj->resize(9, 8);
    obj->points = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {9, 9, 9}, {1, 1, 0},
                   {2, 1, 0}, {5, 5, 5}, {1, 2, 0}, {2, 2, 0}};
    obj->polygons = {{0, 0, 0, 0}, {1, 2, 5, 4}, {0, 0, 0, 0}, {4, 5, 8, 7},
                     {1, 5, 4, 4}, {1, 2, 50, 4}, {5, 8, 2, 2}, {4, 4, 7, 8}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    MeshTags t = addAllTags(*o);
    setMembers(t.groupA->set, {1, 2, 3});
    setMembers(t.groupB->set, {3, 4, 5, 6});
    setMembers(t.pointTag->set, {0, 4, 8});
    setMembers(o->pointSelection, {2, 6, 7});
    setMembers(o->polygonSelection, {0, 4});
    setMembers(o->hiddenPoints, {3, 5});
    setMembers(o->hiddenPolygons, {2, 3});
    return o;
}

}  // namespace

TEST(CleanUp, DropsRetiredPolygonsAndUnusedPointsKeepingEveryAttribute) {
    Document doc;
    PolygonObject* o = addDirtyMesh(doc);

    // What each survivor carries, keyed by where it is, not by its index.
    std::map<std::vector<Pos>, PolygonData> polygonsBefore;
    for (int i : {1, 3, 4, 6}) polygonsBefore[polygonData(*o, i).corners] = polygonData(*o, i);
    std::map<Pos, PointData> pointsBefore;
    for (int i : {1, 2, 4, 5, 7, 8}) pointsBefore[pos(o->points[i])] = pointData(*o, i);

    // Defaults: no merge, drop polygons, drop points.
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o));
    expectConsistent(*o);

    // Points 1,2,4,5,7,8 survive as 0..5; polygons 1,3,4,6 survive as 0..3.
    ASSERT_EQ(o->pointCount(), 6);
    ASSERT_EQ(o->polygonCount(), 4);
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 1, 3, 2}, {2, 3, 5, 4}, {0, 3, 2, 2}, {3, 5, 1, 1}}));
    EXPECT_EQ(o->points[0], (Vec3f{1, 0, 0}));
    EXPECT_EQ(o->points[5], (Vec3f{2, 2, 0}));

    for (int i = 0; i < o->polygonCount(); ++i) {
        const PolygonData now = polygonData(*o, i);
        auto it = polygonsBefore.find(now.corners);
        ASSERT_NE(it, polygonsBefore.end()) << "polygon " << i;
        EXPECT_EQ(now, it->second) << "polygon " << i;
        polygonsBefore.erase(it);
    }
    EXPECT_TRUE(polygonsBefore.empty());
    for (int i = 0; i < o->pointCount(); ++i) {
        auto it = pointsBefore.find(pos(o->points[i]));
        ASSERT_NE(it, pointsBefore.end()) << "point " << i;
        EXPECT_EQ(pointData(*o, i), it->second) << "point " << i;
    }

    // The same, by index, worked out by hand.
    MeshTags t = tagsOf(*o);
    EXPECT_EQ(t.uv->data, (std::vector<UVWRow>{uvRow(1), uvRow(3), uvRow(4), uvRow(6)}));
    EXPECT_EQ(t.normals->data, (std::vector<NormalRow>{normalRow(1), normalRow(3), normalRow(4), normalRow(6)}));
    EXPECT_EQ(members(t.groupA->set), (Indices{0, 1}));
    EXPECT_EQ(members(t.groupB->set), (Indices{1, 2, 3}));
    EXPECT_EQ(members(t.pointTag->set), (Indices{2, 5}));
    EXPECT_EQ(members(o->pointSelection), (Indices{1, 4}));
    EXPECT_EQ(members(o->polygonSelection), (Indices{2}));
    EXPECT_EQ(members(o->hiddenPoints), (Indices{3}));
    EXPECT_EQ(members(o->hiddenPolygons), (Indices{1}));
    EXPECT_EQ(t.floats->data, (std::vector<float>{10.5f, 20.5f, 40.5f, 50.5f, 70.5f, 80.5f}));
    EXPECT_EQ(o->updateCount(), 1);
}

TEST(CleanUp, IsIdempotent) {
    Document doc;
    PolygonObject* o = addDirtyMesh(doc);
    const Settings params = cleanupParams(true, 0.0, true, true);
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, params));
    const std::unique_ptr<Object> once = o->cloneAlone();
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, params));
    EXPECT_TRUE(o->sameStateAs(*once));
}

TEST(CleanUp, SwitchesOffKeepWhatTheyName) {
    Document doc;
    PolygonObject* o = addDirtyMesh(doc);
    const std::unique_ptr<Object> before = o->cloneAlone();

    // Nothing to do: the object is left exactly as it was.
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(false, 0.0, false, false)));
    EXPECT_TRUE(o->sameStateAs(*before));

    // Points only: the retired polygons stay and keep point 0 in use; points 3 and 6 go; the corner
    // out of range of polygon 5 is left as it is.
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(false, 0.0, false, true)));
    ASSERT_EQ(o->pointCount(), 7);
    ASSERT_EQ(o->polygonCount(), 8);
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 0, 0, 0},
                                                 {1, 2, 4, 3},
                                                 {0, 0, 0, 0},
                                                 {3, 4, 6, 5},
                                                 {1, 4, 3, 3},
                                                 {1, 2, 50, 3},
                                                 {4, 6, 2, 2},
                                                 {3, 3, 5, 6}}));
    EXPECT_EQ(tagsOf(*o).floats->data, (std::vector<float>{0.5f, 10.5f, 20.5f, 40.5f, 50.5f, 70.5f, 80.5f}));
    EXPECT_EQ(members(o->hiddenPoints), (Indices{4}));

    // Polygons only: points stay, unused ones included.
    o->copyStateFrom(*before);
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(false, 0.0, true, false)));
    EXPECT_EQ(o->pointCount(), 9);
    EXPECT_EQ(o->points, static_cast<PolygonObject&>(*before).points);
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{1, 2, 5, 4}, {4, 5, 8, 7}, {1, 5, 4, 4}, {5, 8, 2, 2}}));
    EXPECT_EQ(members(tagsOf(*o).groupB->set), (Indices{1, 2, 3}));
    expectConsistent(*o);
}

TEST(CleanUp, BoolParametersReadFromIntegersToo) {
    Document doc;
    PolygonObject* o = addDirtyMesh(doc);
    Settings s;
    s.setInt(CLEANUP_DROP_POLYGONS, 0);
    s.setInt(CLEANUP_DROP_POINTS, 1);
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, s));
    EXPECT_EQ(o->polygonCount(), 8);
    EXPECT_EQ(o->pointCount(), 7);
}

TEST(CleanUp, MergesPointsWithinTheTolerance) {
    Document doc;
    // Two unit quads side by side whose shared edge is stored twice, a little apart.
    auto obj = std::make_unique<PolygonObject>("pair");
    obj->resize(8, 2);
    obj->points = {{0, 0, 0}, {1, 0, 0},      {1, 1, 0}, {0, 1, 0},
                   {1.0005f, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1.0004f, 0}};
    obj->polygons = {{0, 1, 2, 3}, {4, 5, 6, 7}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    MeshTags t = addAllTags(*o);
    setMembers(t.pointTag->set, {4, 5});
    setMembers(t.groupB->set, {1});
    const std::unique_ptr<Object> before = o->cloneAlone();

    // Exact merging finds nothing to merge.
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.0, true, true)));
    EXPECT_TRUE(o->sameStateAs(*before));

    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.001, true, true)));
    expectConsistent(*o);
    // 4 -> 1 and 7 -> 2; 4 and 7 are then unused and dropped: 5, 6 become 4, 5.
    ASSERT_EQ(o->pointCount(), 6);
    EXPECT_EQ(o->points, (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}}));
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 1, 2, 3}, {1, 4, 5, 2}}));
    // Corner data is per polygon and stays as it was; the merged points give up their own data.
    t = tagsOf(*o);
    EXPECT_EQ(t.uv->data, (std::vector<UVWRow>{uvRow(0), uvRow(1)}));
    EXPECT_EQ(members(t.groupB->set), (Indices{1}));
    EXPECT_EQ(members(t.pointTag->set), (Indices{4}));
    EXPECT_EQ(t.floats->data, (std::vector<float>{0.5f, 10.5f, 20.5f, 30.5f, 50.5f, 60.5f}));
}

TEST(CleanUp, MergeGoesToTheLowestRepresentativeWithoutChaining) {
    Document doc;
    // Along x: 0 at 0, 1 at 0.6, 2 at 1.2, 3 at 0.5, 4 at 1.5, 5 at 2.0 with tolerance 1.
    // 1 -> 0. 2 is 1.2 from 0 and may not reach 0 through 1: it stays. 3 is within 1 of both 0 and 2
    // and goes to 0, the lowest. 4 -> 2. 5 is 0.5 from 4, but 4 is no representative; it is 0.8 from
    // 2: -> 2.
    auto obj = std::make_unique<PolygonObject>("line");
    obj->resize(6, 2);
    obj->points = {{0, 0, 0}, {0.6f, 0, 0}, {1.2f, 0, 0}, {0.5f, 0, 0}, {1.5f, 0, 0}, {2.0f, 0, 0}};
    obj->polygons = {{0, 1, 2, 3}, {3, 4, 5, 5}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 1.0, false, false)));
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 0, 2, 0}, {0, 2, 2, 2}}));
    EXPECT_EQ(o->pointCount(), 6);
    EXPECT_EQ(o->points[1], (Vec3f{0.6f, 0, 0}));
}

TEST(CleanUp, ToleranceIsInclusiveAndWorksInEveryAxis) {
    Document doc;
    auto obj = std::make_unique<PolygonObject>("box");
    // 0.5 is exact in binary: a distance of exactly the tolerance merges, a hair more does not.
    obj->resize(6, 1);
    obj->points = {{0, 0, 0}, {0, 0, 0.5f}, {0, -0.5f, 0}, {-0.5f, 0, 0}, {-0.3f, -0.3f, -0.3f},
                   {0.5001f, 0, 0}};
    obj->polygons = {{0, 1, 2, 3}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.5, false, false)));
    EXPECT_EQ(o->polygons[0], (Polygon{0, 0, 0, 0}));

    // 4 at distance sqrt(0.27) ~ 0.52 stays; 5 stays.
    o->polygons = {{0, 4, 5, 1}};
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.5, false, false)));
    EXPECT_EQ(o->polygons[0], (Polygon{0, 4, 5, 0}));
}

TEST(CleanUp, ExactMergeTreatsSignedZerosAlike) {
    Document doc;
    auto obj = std::make_unique<PolygonObject>("zeros");
    obj->resize(4, 1);
    obj->points = {{0, 0, 0}, {-0.0f, 0, -0.0f}, {1, 0, 0}, {1, 1, 0}};
    obj->polygons = {{0, 2, 3, 1}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.0, true, true)));
    EXPECT_EQ(o->pointCount(), 3);
    EXPECT_EQ(o->polygons, (std::vector<Polygon>{{0, 1, 2, 2}}));
}

namespace {

struct RepairCase {
    const char* what;
    std::vector<Vec3f> points;
    Polygon polygon;
    bool merge;
    bool kept;
    Polygon expected;          // in the old point numbering (points are not dropped here)
    std::array<int, 4> from;   // which old corner's UVW and normal data each new corner carries
};

}  // namespace

TEST(CleanUp, RepairsQuadsWithARepeatedCornerAndDropsDegenerates) {
    const Vec3f p0{0, 0, 0}, p1{1, 0, 0}, p2{1, 1, 0}, p3{0, 1, 0};
    const std::vector<RepairCase> cases = {
        {"proper quad", {p0, p1, p2, p3}, {0, 1, 2, 3}, true, true, {0, 1, 2, 3}, {0, 1, 2, 3}},
        {"b == c as stored", {p0, p1, p2, p3}, {0, 1, 1, 2}, false, true, {0, 1, 2, 2}, {0, 1, 3, 3}},
        {"d == a as stored", {p0, p1, p2, p3}, {0, 1, 2, 0}, false, true, {0, 1, 2, 2}, {0, 1, 2, 2}},
        {"b == c by merging", {p0, p1, p1, p3}, {0, 1, 2, 3}, true, true, {0, 1, 3, 3}, {0, 1, 3, 3}},
        {"a == b by merging", {p0, p0, p2, p3}, {0, 1, 2, 3}, true, true, {0, 2, 3, 3}, {0, 2, 3, 3}},
        {"c == d by merging", {p0, p1, p2, p2}, {0, 1, 2, 3}, true, true, {0, 1, 2, 2}, {0, 1, 2, 2}},
        {"d == a by merging", {p0, p1, p2, p0}, {0, 1, 2, 3}, true, true, {0, 1, 2, 2}, {0, 1, 2, 2}},
        {"a == b as stored is dead", {p0, p1, p2, p3}, {1, 1, 2, 3}, false, false, {}, {}},
        {"retired", {p0, p1, p2, p3}, {0, 0, 0, 0}, false, false, {}, {}},
        {"corner out of range", {p0, p1, p2, p3}, {0, 1, 2, 4}, false, false, {}, {}},
        {"negative corner", {p0, p1, p2, p3}, {0, 1, -1, 3}, false, false, {}, {}},
        {"opposite corners coincide", {p0, p1, p2, p3}, {0, 1, 0, 2}, false, false, {}, {}},
        {"opposite corners merged", {p0, p1, p0, p3}, {0, 1, 2, 3}, true, false, {}, {}},
        {"two corners left", {p0, p1, p2, p3}, {0, 1, 0, 1}, false, false, {}, {}},
        {"quad with two distinct corners", {p0, p1, p2, p3}, {0, 1, 1, 0}, false, false, {}, {}},
        {"three corners merged", {p0, p1, p1, p1}, {0, 1, 2, 3}, true, false, {}, {}},
        {"proper triangle", {p0, p1, p2, p3}, {0, 1, 2, 2}, true, true, {0, 1, 2, 2}, {0, 1, 2, 3}},
        {"triangle b == c", {p0, p1, p2, p3}, {0, 1, 1, 1}, false, false, {}, {}},
        {"triangle c == a", {p0, p1, p2, p3}, {2, 1, 2, 2}, false, false, {}, {}},
        {"triangle merged flat", {p0, p1, p1, p3}, {0, 1, 2, 2}, true, false, {}, {}},
    };
    for (const RepairCase& rc : cases) {
        SCOPED_TRACE(rc.what);
        Document doc;
        auto obj = std::make_unique<PolygonObject>("one");
        obj->resize(static_cast<int>(rc.points.size()), 1);
        obj->points = rc.points;
        obj->polygons = {rc.polygon};
        PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
        MeshTags t = addAllTags(*o);
        // Row 0 of both corner tags, told apart corner by corner.
        const UVWRow uv = uvRow(7);
        const NormalRow normal = normalRow(3);
        t.uv->data[0] = uv;
        t.normals->data[0] = normal;

        ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(rc.merge, 0.0, true, false)));
        expectConsistent(*o);
        if (!rc.kept) {
            EXPECT_EQ(o->polygonCount(), 0);
            continue;
        }
        ASSERT_EQ(o->polygonCount(), 1);
        EXPECT_EQ(o->polygons[0], rc.expected);
        t = tagsOf(*o);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(t.uv->data[0].corner(c), uv.corner(rc.from[c])) << "corner " << c;
            for (int axis = 0; axis < 3; ++axis)
                EXPECT_EQ(t.normals->data[0].v[c * 3 + axis], normal.v[rc.from[c] * 3 + axis]) << "corner " << c;
        }
    }
}

TEST(CleanUp, RepairedTriangleKeepsItsCornerDataWithItsPoints) {
    Document doc;
    // Quad (0,1,2,3) over points where 1 and 2 coincide, plus an unrelated quad; with everything on
    // the merged point 2 is dropped and the repaired triangle's UVs stay with their positions.
    auto obj = std::make_unique<PolygonObject>("repair");
    obj->resize(8, 2);
    obj->points = {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 0, 0}, {6, 0, 0}, {6, 1, 0}, {5, 1, 0}};
    obj->polygons = {{0, 1, 2, 3}, {4, 5, 6, 7}};
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    MeshTags t = addAllTags(*o);
    std::map<Pos, Vec3f> uvAt;  // position of a corner of polygon 0 -> its UV (the first one for 1 == 2)
    for (int c : {3, 0, 1}) uvAt[pos(o->points[corner(o->polygons[0], c)])] = t.uv->data[0].corner(c);

    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.0, true, true)));
    expectConsistent(*o);
    ASSERT_EQ(o->pointCount(), 7);
    ASSERT_EQ(o->polygonCount(), 2);
    EXPECT_EQ(o->polygons[0], (Polygon{0, 1, 2, 2}));
    EXPECT_EQ(o->polygons[1], (Polygon{3, 4, 5, 6}));
    t = tagsOf(*o);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(t.uv->data[0].corner(c), uvAt.at(pos(o->points[corner(o->polygons[0], c)]))) << c;
    EXPECT_EQ(t.uv->data[1], uvRow(1));
}

// A larger mesh made of chosen pieces: points on a coarse lattice (so that exact duplicates occur),
// polygons drawn from a fixed generator including retired, dead, out-of-range and repeated corners.
// The invariants must hold whatever the generator gives.
TEST(CleanUp, InvariantsOnAGeneratedMesh) {
    uint32_t state = 12345;
    auto next = [&](uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    Document doc;
    const int n = 300, m = 500;
    auto obj = std::make_unique<PolygonObject>("generated");
    obj->resize(n, m);
    for (int i = 0; i < n; ++i)
        obj->points[i] = {float(next(6)), float(next(6)), float(next(3))};
    for (int i = 0; i < m; ++i) {
        Polygon& p = obj->polygons[i];
        switch (next(10)) {
            case 0: p = {0, 0, 0, 0}; break;
            case 1: p = {int(next(n)), int(next(n)), int(next(n + 20)), int(next(n))}; break;
            case 2: {
                const int a = int(next(n));
                p = {a, int(next(n)), int(next(n)), a};  // d == a
                break;
            }
            case 3: case 4: {
                const int c = int(next(n));
                p = {int(next(n)), int(next(n)), c, c};
                break;
            }
            default: p = {int(next(n)), int(next(n)), int(next(n)), int(next(n))};
        }
    }
    PolygonObject* o = static_cast<PolygonObject*>(doc.insert(std::move(obj)));
    MeshTags t = addAllTags(*o);
    // Corner UVs name their polygon and corner, float values their point.
    for (int i = 0; i < m; ++i)
        for (int c = 0; c < 4; ++c) t.uv->data[i].corner(c) = {float(i), float(c), 0};
    for (int i = 0; i < n; ++i) t.floats->data[i] = float(i);
    for (int i = 0; i < m; i += 3) t.groupA->set.select(i);
    for (int i = 0; i < n; i += 7) t.pointTag->set.select(i);
    const std::unique_ptr<Object> saved = o->cloneAlone();
    const auto& original = static_cast<const PolygonObject&>(*saved);

    ASSERT_TRUE(run(CMD_CLEANUP, 0, doc, o, cleanupParams(true, 0.0, true, true)));
    expectConsistent(*o);
    t = tagsOf(*o);
    ASSERT_GT(o->polygonCount(), 0);
    ASSERT_LT(o->polygonCount(), m);

    // Points: each survivor is the first of its position, in the original order, and all are used.
    std::vector<int> used(o->pointCount(), 0);
    int previous = -1;
    std::set<Pos> seen;
    for (int i = 0; i < o->pointCount(); ++i) {
        const int from = static_cast<int>(t.floats->data[i]);
        ASSERT_GT(from, previous);
        previous = from;
        EXPECT_EQ(o->points[i], original.points[from]);
        for (int j = 0; j < from; ++j) EXPECT_FALSE(original.points[j] == original.points[from]) << from;
        EXPECT_TRUE(seen.insert(pos(o->points[i])).second);
        EXPECT_EQ(t.pointTag->set.isSelected(i), from % 7 == 0);
    }

    // Polygons: in the original order, not degenerate, every corner carrying the UV of an original
    // corner at the same position, group membership kept.
    int previousPolygon = -1;
    for (int i = 0; i < o->polygonCount(); ++i) {
        const Polygon& p = o->polygons[i];
        const int from = static_cast<int>(t.uv->data[i].a.x);
        ASSERT_GT(from, previousPolygon);
        previousPolygon = from;
        const Polygon& q = original.polygons[from];
        EXPECT_NE(q.a, q.b);
        std::set<Pos> distinct;
        for (int c = 0; c < 4; ++c) {
            used[corner(p, c)] = 1;
            const Vec3f uv = t.uv->data[i].corner(c);
            EXPECT_EQ(uv.x, float(from));
            const int origCorner = static_cast<int>(uv.y);
            EXPECT_EQ(o->points[corner(p, c)], original.points[corner(q, origCorner)]) << i << " corner " << c;
            distinct.insert(pos(o->points[corner(p, c)]));
        }
        EXPECT_EQ(distinct.size(), p.isTriangle() ? 3u : 4u) << i;
        if (!p.isTriangle()) {
            EXPECT_NE(p.a, p.c);
            EXPECT_NE(p.b, p.d);
        }
        EXPECT_EQ(t.groupA->set.isSelected(i), from % 3 == 0);
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), 0), 0);

    // Every original polygon that is alive and keeps three distinct positions survives.
    int expectedSurvivors = 0;
    for (const Polygon& q : original.polygons) {
        bool inRange = true;
        for (int c = 0; c < 4; ++c) inRange = inRange && corner(q, c) >= 0 && corner(q, c) < n;
        if (!inRange || q.a == q.b) continue;
        std::vector<Pos> ring;
        for (int c = 0; c < (q.isTriangle() ? 3 : 4); ++c) {
            const Pos here = pos(original.points[corner(q, c)]);
            if (ring.empty() || ring.back() != here) ring.push_back(here);
        }
        if (ring.size() > 1 && ring.back() == ring.front()) ring.pop_back();
        if (ring.size() < 3) continue;
        if (ring.size() == 4 && (ring[0] == ring[2] || ring[1] == ring[3])) continue;
        ++expectedSurvivors;
    }
    EXPECT_EQ(o->polygonCount(), expectedSurvivors);
}

// --- 245: polygon copy ----------------------------------------------------------------------------

TEST(CurrentStateToObject, DeepCopyEqualAndIndependent) {
    Document doc;
    PolygonObject* parent = addDirtyMesh(doc);
    parent->localMatrix.off = {1, 2, 3};
    auto childObj = std::make_unique<PolygonObject>("child");
    childObj->resize(3, 1);
    childObj->points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    childObj->polygons = {{0, 1, 2, 2}};
    auto* child = static_cast<PolygonObject*>(parent->addChild(std::move(childObj)));
    child->addTag(std::make_unique<UVWTag>("childuv"));
    Object* grandchild = child->addChild(std::make_unique<Object>(OBJECT_GROUP, "null"));
    grandchild->localMatrix.v1 = {2, 0, 0};
    auto smoothing = std::make_unique<SmoothingTag>("phong");
    smoothing->data.setBool(SMOOTHING_ANGLE_LIMIT, true);
    smoothing->data.setReal(SMOOTHING_ANGLE, 0.5);
    parent->addTag(std::move(smoothing));
    const std::unique_ptr<Object> saved = parent->cloneTree();

    std::vector<std::unique_ptr<Object>> results;
    results.push_back(std::make_unique<Object>(OBJECT_GROUP, "already there"));
    ASSERT_TRUE(runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, &doc, {parent}, {}, &results));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0]->name(), "already there");
    Object* copy = results[1].get();
    ASSERT_NE(copy, parent);
    ASSERT_TRUE(copy->isPolygonObject());
    EXPECT_TRUE(copy->sameStateAs(*parent));
    EXPECT_EQ(copy->parent(), nullptr);
    EXPECT_EQ(copy->document(), nullptr);
    ASSERT_EQ(copy->children().size(), 1u);
    Object* copyChild = copy->firstChild();
    EXPECT_NE(copyChild, child);
    EXPECT_EQ(copyChild->parent(), copy);
    EXPECT_TRUE(copyChild->sameStateAs(*child));
    ASSERT_EQ(copyChild->children().size(), 1u);
    EXPECT_TRUE(copyChild->firstChild()->sameStateAs(*grandchild));
    EXPECT_EQ(copyChild->firstChild()->type(), OBJECT_GROUP);

    // Change everything in the copy: the original does not follow.
    auto* pc = static_cast<PolygonObject*>(copy);
    pc->points[1] = {-7, -7, -7};
    pc->polygons[1] = {2, 1, 4, 5};
    pc->pointSelection.selectAll();
    pc->hiddenPolygons.selectAll();
    tagsOf(*pc).uv->data[1].a = {9, 9, 9};
    tagsOf(*pc).groupA->set.selectAll();
    tagsOf(*pc).floats->data[0] = -1;
    static_cast<SmoothingTag*>(pc->tag(TAG_SMOOTHING))->data.setReal(SMOOTHING_ANGLE, 1.5);
    pc->resize(3, 1);
    auto* cc = static_cast<PolygonObject*>(copyChild);
    cc->points[0] = {4, 4, 4};
    static_cast<UVWTag*>(cc->tag(TAG_UVW))->data[0].b = {1, 1, 1};
    copyChild->firstChild()->localMatrix.off = {5, 5, 5};
    copy->localMatrix.off = {0, 0, 0};

    EXPECT_TRUE(parent->sameStateAs(*saved));
    EXPECT_TRUE(child->sameStateAs(*saved->firstChild()));
    EXPECT_TRUE(grandchild->sameStateAs(*saved->firstChild()->firstChild()));
    EXPECT_FALSE(copy->sameStateAs(*parent));
    EXPECT_FALSE(copyChild->sameStateAs(*child));
}

TEST(CurrentStateToObject, AnyObjectTypeOneCopyPerInput) {
    Document doc;
    Object* group = doc.insert(std::make_unique<Object>(OBJECT_GROUP, "group"));
    Object* camera = doc.insert(std::make_unique<Object>(OBJECT_CAMERA, "camera"));
    PolygonObject* grid = addGrid(doc);
    group->addChild(std::make_unique<PolygonObject>("inside"));
    std::vector<std::unique_ptr<Object>> results;
    // No document is needed to copy.
    ASSERT_TRUE(runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, nullptr, {group, camera, grid}, {}, &results));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0]->type(), OBJECT_GROUP);
    ASSERT_EQ(results[0]->children().size(), 1u);
    EXPECT_TRUE(results[0]->firstChild()->isPolygonObject());
    EXPECT_EQ(results[0]->firstChild()->name(), "inside");
    EXPECT_EQ(results[1]->type(), OBJECT_CAMERA);
    EXPECT_TRUE(results[2]->sameStateAs(*grid));
    EXPECT_EQ(doc.allObjects().size(), 4u);

    std::vector<std::unique_ptr<Object>> none;
    ASSERT_TRUE(runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, &doc, {}, {}, &none));
    EXPECT_TRUE(none.empty());
}
