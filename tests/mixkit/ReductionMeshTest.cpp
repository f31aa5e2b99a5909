// The reduction mesh over small hand-built objects: build, adjacency, neighbours, geometry,
// contraction planning and the failure path of the build.
#include <algorithm>
#include <cmath>
#include <vector>

#include "host/Threads.h"
#include "mixkit/ReductionMesh.h"
#include "tests/mixkit/MixkitFixture.h"

namespace mixtest {
namespace {

// The strip with a dead polygon 3 and a point 7 that no polygon uses.
host::PolygonObject* makeLeftoverStrip(host::Document& doc) {
    host::PolygonObject* obj = mixtest::makeStrip(doc);
    obj->resize(8, 4);
    obj->points[7] = {5, 5, 5};
    obj->polygons[3] = {0, 0, 0, 0};
    return obj;
}

std::vector<int32_t> list(const FlatLists<int32_t>::List& s) { return std::vector<int32_t>(s.begin(), s.end()); }
std::vector<int32_t> list(const Stack<int32_t>& s) { return std::vector<int32_t>(s.begin(), s.end()); }

using ReductionMeshTest = MixkitTest;

TEST_F(ReductionMeshTest, BuildCopiesPositionsFlagsAndAdjacency) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    obj->hiddenPoints.select(6);
    host::SelectionSet points(8), polygons(4);
    for (int i : {0, 1, 2, 4}) points.select(i);
    polygons.select(0);
    polygons.select(2);
    ModuleSet r(points), s(polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    EXPECT_EQ(mesh.pointCount(), 8);
    EXPECT_EQ(mesh.polygonCount(), 4);
    // Positions are measured about the centre of the reducible points' box, (0, 0, 0)-(2, 1, 0),
    // scaled so that its diagonal (sqrt 5) is the reference length; fixed points 6 and 7 alike.
    const double scale = REFERENCE_DIAGONAL / std::sqrt(5.0);
    EXPECT_EQ(mesh.frame().centre.x, 1.0);
    EXPECT_EQ(mesh.frame().centre.y, 0.5);
    EXPECT_EQ(mesh.frame().centre.z, 0.0);
    EXPECT_EQ(mesh.frame().scale, scale);
    EXPECT_EQ(mesh.position(6).x, 2.0 * scale);
    EXPECT_EQ(mesh.position(6).y, 0.0);
    EXPECT_EQ(mesh.position(7).y, 4.5 * scale);
    EXPECT_EQ(mesh.position(0).x, -1.0 * scale);
    EXPECT_EQ(mesh.reducibleCount(), 4);
    EXPECT_EQ(mesh.isReducible(4), 1);
    EXPECT_EQ(mesh.isReducible(3), 0);
    EXPECT_TRUE(mesh.isHidden(6));
    EXPECT_FALSE(mesh.isHidden(5));
    EXPECT_EQ(mesh.livePolygonSetCount(), 2);
    EXPECT_TRUE(mesh.inPolygonSet(2));
    EXPECT_EQ(list(mesh.polygonsOf(0)), (std::vector<int32_t>{0}));
    EXPECT_EQ(list(mesh.polygonsOf(1)), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(list(mesh.polygonsOf(5)), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(list(mesh.polygonsOf(6)), (std::vector<int32_t>{2}));
    // The dead polygon is in no list and the unused point has none.
    EXPECT_TRUE(mesh.polygonsOf(7).empty());
    const AttributeTransfer& a = mesh.attributes();
    EXPECT_EQ(a.uvwTagCount(), 0);
    EXPECT_EQ(a.pointSetCount(), 0);
    EXPECT_EQ(a.seamSetCount(), 0);
    EXPECT_EQ(a.floatMapCount(), 0);
    EXPECT_FALSE(a.normalTag().valid());
    EXPECT_FALSE(a.hasNormals());
    // The scratch marks cover every point and polygon: walks at the last ones work.
    Stack<int32_t> shared;
    mesh.polygonsOfEdge(5, 6, shared);
    EXPECT_EQ(list(shared), (std::vector<int32_t>{2}));
    Stack<int32_t> around;
    mesh.pointNeighbours(6, around);
    EXPECT_EQ(list(around), (std::vector<int32_t>{2, 5}));
    mesh.release();
    EXPECT_EQ(mesh.pointCount(), 0);
    EXPECT_EQ(mesh.polygonCount(), 0);
    EXPECT_EQ(mesh.reducibleCount(), 0);
    // The object is untouched by build and release.
    EXPECT_EQ(obj->polygons[1], (host::Polygon{1, 2, 5, 4}));
}

TEST_F(ReductionMeshTest, BuildTakesTheTagsInOrder) {
    host::Document doc;
    GridOptions o;
    o.columns = 3;
    o.rows = 2;
    o.pointSelection = true;
    o.floatMap = true;
    o.polygonSelection = true;
    o.normals = true;
    host::PolygonObject* obj = makeGrid(doc, o);
    addPlanarUvw(*obj, "second");
    obj->addTag(std::make_unique<host::SmoothingTag>());
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    const AttributeTransfer& a = mesh.attributes();
    ASSERT_EQ(a.uvwTagCount(), 2);
    EXPECT_EQ(a.uvwTag(0).handle(), host::toHandle(obj->tag(host::TAG_UVW, 0)));
    EXPECT_EQ(a.uvwTag(1).handle(), host::toHandle(obj->tag(host::TAG_UVW, 1)));
    ASSERT_EQ(a.pointSetCount(), 1);
    // Membership bytes are 255 where set.
    EXPECT_EQ(a.pointSetByte(0, 0), 255);
    EXPECT_EQ(a.pointSetByte(0, 3), 0);
    // The lower row of polygons (0 to 2) is selected: its border with the upper row is a seam.
    ASSERT_EQ(a.seamSetCount(), 1);
    EXPECT_TRUE(a.acrossSeam(0, 3));
    EXPECT_TRUE(a.acrossSeam(5, 2));
    EXPECT_FALSE(a.acrossSeam(0, 1));
    EXPECT_FALSE(a.acrossSeam(3, 4));
    ASSERT_EQ(a.floatMapCount(), 1);
    EXPECT_EQ(a.floatMapTag(0).handle(), host::toHandle(obj->tag(host::TAG_FLOAT_MAP)));
    EXPECT_EQ(static_cast<const float*>(a.floatMapTag(0).data())[2], 2.0f / 3.0f);
    EXPECT_EQ(a.normalTag().handle(), host::toHandle(obj->tag(host::TAG_NORMALS)));
    EXPECT_TRUE(a.hasNormals());
}

TEST_F(ReductionMeshTest, NeighboursLeaveOutOppositeQuadCorners) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    Stack<int32_t> n;
    mesh.pointNeighbours(1, n);
    EXPECT_EQ(list(n), (std::vector<int32_t>{0, 4, 2}));
    n.clear();
    // A triangle's two other corners are neighbours; the quad's opposite corner 1 is not.
    mesh.pointNeighbours(5, n);
    EXPECT_EQ(list(n), (std::vector<int32_t>{2, 4, 6}));
    n.clear();
    mesh.pointNeighbours(7, n);
    EXPECT_TRUE(n.empty());
    Stack<int32_t> f;
    mesh.polygonsOfEdge(1, 4, f);
    EXPECT_EQ(list(f), (std::vector<int32_t>{0, 1}));
    f.clear();
    mesh.polygonsOfEdge(2, 5, f);
    EXPECT_EQ(list(f), (std::vector<int32_t>{1, 2}));
    f.clear();
    mesh.polygonsOfEdge(0, 1, f);
    EXPECT_EQ(list(f), (std::vector<int32_t>{0}));
}

TEST_F(ReductionMeshTest, PolygonGeometry) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    obj->points[4].z = 1.0f;  // bend quad 0 and quad 1
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    mesh.setFrame(ReferenceFrame());  // worked in object units
    // Triangle (2, 6, 5): (6 - 2) x (5 - 2) = (1, 0.5, 0) x (0, 1, 0) = (0, 0, 1).
    const Vector t = mesh.polygonNormal(2, false);
    EXPECT_EQ(t.z, 1.0);
    EXPECT_EQ(mesh.polygonArea(2), 0.5);
    // Quad (0, 1, 4, 3): (p1 - p3) x (p4 - p0) = (1, -1, 0) x (1, 1, 1) = (-1, -1, 2).
    const Vector q = mesh.polygonNormal(0, false);
    EXPECT_EQ(q.x, -1.0);
    EXPECT_EQ(q.y, -1.0);
    EXPECT_EQ(q.z, 2.0);
    const Vector u = mesh.polygonNormal(0, true);
    EXPECT_DOUBLE_EQ(u.z, 2.0 / std::sqrt(6.0));
    // Area: 1/2 |(1,0,0) x (0,1,0)| + 1/2 |(p3 - p4) x (p1 - p4)| = 1/2 + 1/2 |(-1,0,-1) x (0,-1,-1)|.
    EXPECT_DOUBLE_EQ(mesh.polygonArea(0), 0.5 + 0.5 * std::sqrt(3.0));
    const Plane p = mesh.polygonPlane(0, false);
    // Through the centre (0.5, 0.5, 0.25).
    EXPECT_DOUBLE_EQ(p.d, -(-0.5 - 0.5 + 0.5));
    EXPECT_DOUBLE_EQ(mesh.cornerAngle(0, 1, 2), 3.141592653589793);
}

TEST_F(ReductionMeshTest, PlanningNeighbouringQuadCornersKeepsBothQuadsAsTriangles) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    mesh.setFrame(ReferenceFrame());  // worked in object units
    Contraction k;
    mesh.planContraction(1, 4, {1, 0.5, 0}, 2.5, k);
    EXPECT_EQ(k.v1, 1);
    EXPECT_EQ(k.v2, 4);
    EXPECT_EQ(k.dv1.y, 0.5);
    EXPECT_EQ(k.dv2.y, -0.5);
    EXPECT_EQ(k.cost, 2.5);
    EXPECT_EQ(k.pivot, 0);
    // Both quads use both ends as neighbours: checked from the last, each rescued in turn.
    EXPECT_EQ(list(k.changedPolygons), (std::vector<int32_t>{1, 0}));
    EXPECT_TRUE(k.dyingPolygons.empty());
    EXPECT_DOUBLE_EQ(k.interpolation(), 0.5);
}

TEST_F(ReductionMeshTest, PlanningOppositeCornersRetiresTheQuad) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    mesh.setFrame(ReferenceFrame());  // worked in object units
    Contraction k;
    mesh.planContraction(0, 4, {0, 0, 0}, -1.0, k);
    EXPECT_EQ(k.cost, 0.0);  // a negative cost is taken as 0
    EXPECT_EQ(list(k.dyingPolygons), (std::vector<int32_t>{0}));
    EXPECT_EQ(k.pivot, 0);
    EXPECT_EQ(list(k.changedPolygons), (std::vector<int32_t>{1}));
    EXPECT_EQ(k.interpolation(), 0.0);  // the target is v1's own place
}

TEST_F(ReductionMeshTest, PlanningSortsPolygonsOfEachEnd) {
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    Contraction k;
    // 5 keeps: its polygons 1 and 2; 6 only has the triangle 2, shared.
    mesh.planContraction(5, 6, {2.5, 0.75, 0}, 1.0, k);
    EXPECT_EQ(list(k.changedPolygons), (std::vector<int32_t>{1}));
    EXPECT_EQ(k.pivot, 1);
    EXPECT_EQ(list(k.dyingPolygons), (std::vector<int32_t>{2}));
    // 2 keeps, 1 goes: quad 1 is shared (neighbours), quad 0 is 1's alone, triangle 2 is 2's alone.
    mesh.planContraction(2, 1, {1.5, 0, 0}, 1.0, k);
    EXPECT_EQ(k.pivot, 1);
    EXPECT_EQ(list(k.changedPolygons), (std::vector<int32_t>{2, 0, 1}));
    EXPECT_TRUE(k.dyingPolygons.empty());
}

TEST_F(ReductionMeshTest, TriangleOnTheEdgeDies) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 4, 6, false);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    Contraction k;
    // The pole and a first-ring point share two triangles of the cap.
    mesh.planContraction(0, 1, {0, 0, 1}, 0.0, k);
    EXPECT_EQ(list(k.dyingPolygons).size(), 2u);
    for (int32_t f : k.dyingPolygons) {
        const host::Polygon& p = obj->polygons[f];
        const int corners[3] = {p.a, p.b, p.c};
        EXPECT_NE(std::find(corners, corners + 3, 0), corners + 3);
        EXPECT_NE(std::find(corners, corners + 3, 1), corners + 3);
    }
}

TEST_F(ReductionMeshTest, BuildFailsCleanlyWhenMemoryRunsOut) {
    host::Document doc;
    GridOptions o;
    o.columns = 4;
    o.rows = 3;
    o.pointSelection = true;
    o.floatMap = true;
    o.polygonSelection = true;
    o.normals = true;
    host::PolygonObject* obj = makeGrid(doc, o);
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    int failures = 0;
    for (uint64_t n = 1; n < 400; ++n) {
        const size_t live = host::memory::liveBlocks();
        ReductionMesh mesh;
        host::memory::failAfter(n);
        const bool built = mesh.build(view(obj), r.view(), s.view());
        host::memory::resetFailures();
        if (built) break;
        ++failures;
        EXPECT_EQ(mesh.pointCount(), 0);
        EXPECT_EQ(mesh.polygonCount(), 0);
        EXPECT_EQ(mesh.reducibleCount(), 0);
        EXPECT_EQ(mesh.attributes().pointSetCount(), 0);
        EXPECT_EQ(host::memory::liveBlocks(), live) << "after failing allocation " << n;
        const std::vector<std::string> faults = memoryFaults();
        ASSERT_FALSE(faults.empty()) << "allocation " << n << " failed silently";
        EXPECT_EQ(faults.front().rfind("NO MEMORY: Stack ", 0), 0u);
        EXPECT_EQ(differences(*obj, before), "");
    }
    // Every allocation of the build was made to fail once (the adjacency is one block of lists).
    EXPECT_GT(failures, 12);
}

// A big mesh's polygon lists are made by workers that each own a run of the points: every list
// must still hold its point's polygons in index order, a repeated corner twice, dead polygons left
// out, and the repeated corner be seen whichever run it falls in, on any number of workers.
TEST_F(ReductionMeshTest, PolygonListsOfABigMeshAreTheSameOnAnyNumberOfWorkers) {
    host::Document doc;
    GridOptions o;
    o.columns = 260;
    o.rows = 260;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    const int32_t last = static_cast<int32_t>(obj->polygons.size()) - 1;
    obj->polygons[5] = {0, 0, 0, 0};  // dead
    for (const bool repeat : {false, true}) {
        if (repeat) obj->polygons[last].d = obj->polygons[last].a;  // late, in the last worker's run
        std::vector<std::vector<int32_t>> expected(obj->points.size());
        for (int32_t i = 0; i <= last; ++i) {
            const host::Polygon& q = obj->polygons[static_cast<size_t>(i)];
            if (i == 5) continue;
            for (const int32_t c : {q.a, q.b, q.c}) expected[static_cast<size_t>(c)].push_back(i);
            if (q.d != q.c) expected[static_cast<size_t>(q.d)].push_back(i);
        }
        for (const int workers : {1, 2, 3}) {
            host::setWorkerThreadCount(workers);
            WholeSets whole(*obj);
            ModuleSet r(whole.points), s(whole.polygons);
            ReductionMesh mesh;
            ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
            EXPECT_EQ(mesh.hasRepeatedCorners(), repeat) << workers << " workers";
            for (int32_t p = 0; p < mesh.pointCount(); ++p)
                ASSERT_EQ(list(mesh.polygonsOf(p)), expected[static_cast<size_t>(p)]) << "point " << p << ", " << workers;
        }
        host::setWorkerThreadCount(0);
    }
}

TEST_F(ReductionMeshTest, BuildRefusesMissingObjectAndCornersOutsideThePoints) {
    ReductionMesh mesh;
    EXPECT_FALSE(mesh.build(HostPolygonObject(), HostSelection(), HostSelection()));
    host::Document doc;
    host::PolygonObject* obj = makeLeftoverStrip(doc);
    obj->polygons[2].b = 40;
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    EXPECT_FALSE(mesh.build(view(obj), r.view(), s.view()));
    EXPECT_EQ(mesh.pointCount(), 0);
    EXPECT_EQ(mesh.polygonCount(), 0);
}

TEST_F(ReductionMeshTest, WriteBackSelectsFromTheThreshold) {
    host::Document doc;
    GridOptions o;
    o.columns = 2;
    o.rows = 1;
    o.pointSelection = true;
    host::PolygonObject* obj = makeGrid(doc, o);
    WholeSets whole(*obj);
    ModuleSet r(whole.points), s(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), r.view(), s.view()));
    // Points 0, 1, 3 and 4 (x <= 1) are selected. Blending 0 with 2 halfway gives
    // 255 - 127.5 = 127.5, truncated to 127: selected; 3 with 5 at 0.502 gives 126.99, truncated
    // to 126: not selected. Points 1 and 2 keep 255 and 0.
    AttributeTransfer& a = mesh.attributes();
    HistoryRecorder idle;
    Contraction k;
    k.v1 = 0;
    k.v2 = 2;
    k.dv1 = {0.5, 0, 0};
    k.dv2 = {0.5, 0, 0};
    a.blendPointData(k, idle);
    k.v1 = 3;
    k.v2 = 5;
    k.dv1 = {0.502, 0, 0};
    k.dv2 = {0.498, 0, 0};
    a.blendPointData(k, idle);
    EXPECT_EQ(a.pointSetByte(0, 0), 127);
    EXPECT_EQ(a.pointSetByte(0, 3), 126);
    a.writeBackPointSets();
    const auto& set = static_cast<host::SelectionTag*>(obj->tag(host::TAG_POINT_SELECTION))->set;
    EXPECT_TRUE(set.isSelected(0));
    EXPECT_TRUE(set.isSelected(1));
    EXPECT_FALSE(set.isSelected(2));
    EXPECT_FALSE(set.isSelected(3));
    EXPECT_TRUE(set.isSelected(4));
    EXPECT_FALSE(set.isSelected(5));
    EXPECT_EQ(idle.history().size(), 0);
}

}  // namespace
}  // namespace mixtest
