// What one contraction does to the host object: blending, UVW transfer across and along seams,
// quads turned into triangles or retired, and the removed point left unreferenced.
#include <cmath>

#include "mixkit/Decimator.h"
#include "mixkit/ReductionMesh.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/GridMesh.h"

namespace mixtest {
namespace {

using ContractionEffectsTest = MixkitTest;

// The strip with point 1 selected and a float map of 2 × the point index.
host::PolygonObject* makeTaggedStrip(host::Document& doc) {
    host::PolygonObject* obj = makeStrip(doc);
    testsupport::addSelection(*obj, host::TAG_POINT_SELECTION, "sel", [](int i) { return i == 1; });
    testsupport::addFloatMap(*obj, "w", [](int i) { return 2.0f * i; });
    return obj;
}

struct Built {
    ModuleSet points, polygons;
    ReductionMesh mesh;
    explicit Built(host::PolygonObject* obj) : points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons) {
        EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    }
    // One contraction as the decimator makes it; the target is given in object units.
    void contract(int32_t v1, int32_t v2, const Vector& target) {
        Contraction k;
        mesh.planContraction(v1, v2, mesh.frame().toFrame(target), 0.0, k);
        ASSERT_TRUE(mesh.reserveContraction(k));
        mesh.contract(k);
    }
};

TEST_F(ContractionEffectsTest, TargetAtTheKeptPointKeepsItsValues) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    b.contract(1, 4, {1, 0, 0});
    EXPECT_EQ(b.mesh.attributes().pointSetByte(0, 1), 255);
    EXPECT_EQ(static_cast<host::FloatMapTag*>(obj->tag(host::TAG_FLOAT_MAP))->data[1], 2.0f);
    EXPECT_EQ(b.mesh.reducibleCount(), 6);
    EXPECT_EQ(b.mesh.isReducible(4), 0);
}

TEST_F(ContractionEffectsTest, CoincidentEndsBlendHalfway) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    obj->points[4] = obj->points[1];
    Built b(obj);
    b.contract(1, 4, {1, 0, 0});
    // 255 + (0 - 255) * 0.5 = 127.5, truncated; 2 + (8 - 2) * 0.5.
    EXPECT_EQ(b.mesh.attributes().pointSetByte(0, 1), 127);
    EXPECT_EQ(static_cast<host::FloatMapTag*>(obj->tag(host::TAG_FLOAT_MAP))->data[1], 5.0f);
}

TEST_F(ContractionEffectsTest, BlendFollowsTheDistanceToEachEnd) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    // |dv1| = 0.25, |dv2| = 0.75: f = 0.25.
    b.contract(1, 4, {1, 0.25, 0});
    EXPECT_EQ(b.mesh.attributes().pointSetByte(0, 1), 191);  // 255 - 63.75
    EXPECT_EQ(static_cast<host::FloatMapTag*>(obj->tag(host::TAG_FLOAT_MAP))->data[1], 3.5f);  // 2 + 6 / 4
    // The other way round: 1 goes into 4, whose byte 0 rises by a quarter.
    host::Document doc2;
    host::PolygonObject* other = makeTaggedStrip(doc2);
    Built c(other);
    c.contract(4, 1, {1, 0.75, 0});
    EXPECT_EQ(c.mesh.attributes().pointSetByte(0, 4), 63);
    EXPECT_EQ(obj->points[1].y, 0.25f);
    EXPECT_EQ(other->points[4].y, 0.75f);
}

TEST_F(ContractionEffectsTest, RemovedPointStaysInTheArrayUnreferenced) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    b.contract(5, 6, {2.5f, 0.75f, 0});
    EXPECT_EQ(obj->pointCount(), 7);
    EXPECT_EQ(obj->points[6].x, 3.0f);
    for (const host::Polygon& p : obj->polygons) {
        EXPECT_NE(p.a, 6);
        EXPECT_NE(p.b, 6);
        EXPECT_NE(p.c, 6);
        EXPECT_NE(p.d, 6);
    }
    // The triangle on the edge died and stays in the array as zeros.
    EXPECT_EQ(obj->polygons[2], (host::Polygon{0, 0, 0, 0}));
    EXPECT_FALSE(b.mesh.inPolygonSet(2));
    EXPECT_EQ(b.mesh.livePolygonSetCount(), 2);
    EXPECT_TRUE(b.mesh.polygonsOf(6).empty());
    EXPECT_EQ(b.mesh.polygonsOf(2).count, 1);
}

TEST_F(ContractionEffectsTest, MergingOppositeCornersRetiresTheQuad) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    b.contract(0, 4, {0.5, 0.5, 0});
    EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 0, 0, 0}));
    EXPECT_EQ(obj->polygons[1], (host::Polygon{1, 2, 5, 0}));
    EXPECT_TRUE(b.mesh.polygonsOf(3).empty());
}

TEST_F(ContractionEffectsTest, MergingNeighbouringCornersRotatesTheQuadIntoATriangle) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    auto uvw = std::make_unique<host::UVWTag>("uv", 3);
    for (int f = 0; f < 3; ++f)
        for (int k = 0; k < 4; ++k) uvw->data[f].corner(k) = {static_cast<float>(f), static_cast<float>(k), 0.5f};
    host::UVWTag* uv = static_cast<host::UVWTag*>(obj->addTag(std::move(uvw)));
    auto normals = std::make_unique<host::NormalTag>("n", 3);
    for (int f = 0; f < 3; ++f)
        for (int v = 0; v < 12; ++v) normals->data[f].v[v] = static_cast<int16_t>(100 * f + v);
    host::NormalTag* n = static_cast<host::NormalTag*>(obj->addTag(std::move(normals)));
    Built b(obj);
    // Quad 1 is (1, 2, 5, 4); 4 becomes 1, so d = a: the corners rotate to (b, c, d, a).
    b.mesh.relinkPolygon(1, 4, 1);
    EXPECT_EQ(obj->polygons[1], (host::Polygon{2, 5, 1, 1}));
    EXPECT_EQ(uv->data[1].a.y, 1.0f);
    EXPECT_EQ(uv->data[1].b.y, 2.0f);
    EXPECT_EQ(uv->data[1].c.y, 3.0f);
    EXPECT_EQ(uv->data[1].d.y, 0.0f);
    EXPECT_EQ(n->data[1].v[0], 103);
    EXPECT_EQ(n->data[1].v[3], 106);
    EXPECT_EQ(n->data[1].v[11], 102);
    // Quad 0 is (0, 1, 4, 3); 4 becomes 1, so b = c: (d, a, b, c).
    b.mesh.relinkPolygon(0, 4, 1);
    EXPECT_EQ(obj->polygons[0], (host::Polygon{3, 0, 1, 1}));
    EXPECT_EQ(uv->data[0].a.y, 3.0f);
    EXPECT_EQ(uv->data[0].b.y, 0.0f);
    EXPECT_EQ(n->data[0].v[0], 9);
    // a = b: (c, d, a, b).
    obj->polygons[2] = {4, 2, 5, 6};
    b.mesh.relinkPolygon(2, 4, 2);
    EXPECT_EQ(obj->polygons[2], (host::Polygon{5, 6, 2, 2}));
    EXPECT_EQ(uv->data[2].a.y, 2.0f);
    EXPECT_EQ(n->data[2].v[0], 206);
    // The polygon joined the kept point's list once.
    int listed = 0;
    for (int32_t f : b.mesh.polygonsOf(1)) listed += f == 1;
    EXPECT_EQ(listed, 1);
}

TEST_F(ContractionEffectsTest, TriangleRelinkMovesBothCAndD) {
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    b.mesh.relinkPolygon(2, 5, 4);
    EXPECT_EQ(obj->polygons[2], (host::Polygon{2, 6, 4, 4}));
    b.mesh.relinkPolygon(2, 6, 1);
    EXPECT_EQ(obj->polygons[2], (host::Polygon{2, 1, 4, 4}));
}

TEST_F(ContractionEffectsTest, UvwOfALinearMapIsKeptExactlyLinear) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 6;
    o.bumpy = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Built b(obj);
    const auto* tag = static_cast<const host::UVWTag*>(obj->tag(host::TAG_UVW));
    // Interior edge (2, 3) - (3, 3), merged a third of the way.
    const int32_t v1 = 3 * 7 + 2, v2 = 3 * 7 + 3;
    b.contract(v1, v2, {2.0 + 1.0 / 3.0, 3.0, 0.0});
    int seen = 0;
    for (int f = 0; f < obj->polygonCount(); ++f) {
        const host::Polygon& p = obj->polygons[f];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) {
            if (corners[k] != v1 || p.a == p.b) continue;
            ++seen;
            EXPECT_NEAR(tag->data[f].corner(k).x, (2.0 + 1.0 / 3.0) / 12.0, 1e-6);
            EXPECT_NEAR(tag->data[f].corner(k).y, 3.0 / 6.0, 1e-6);
        }
    }
    // Four quads keep one corner at the merged point; the two quads on the edge became triangles
    // whose c and d are both the merged point.
    EXPECT_EQ(seen, 8);
}

TEST_F(ContractionEffectsTest, ContractionAlongASeamKeepsBothSides) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 6;
    o.seamColumn = 3;
    o.bumpy = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Built b(obj);
    const auto* tag = static_cast<const host::UVWTag*>(obj->tag(host::TAG_UVW));
    const int32_t v1 = 2 * 7 + 3, v2 = 3 * 7 + 3;  // (3, 2) and (3, 3), both on the seam
    b.contract(v1, v2, {3.0, 2.5, 0.0});
    int left = 0, right = 0;
    for (int f = 0; f < obj->polygonCount(); ++f) {
        const host::Polygon& p = obj->polygons[f];
        if (p.a == p.b) continue;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) {
            if (corners[k] != v1) continue;
            const host::Vec3f uv = tag->data[f].corner(k);
            EXPECT_NEAR(uv.y, 2.5 / 6.0, 1e-6);
            if (uv.x < 0.5f) {
                ++left;
                EXPECT_NEAR(uv.x, 3.0 / 12.0, 1e-6);
            } else {
                ++right;
                EXPECT_NEAR(uv.x, 3.0 / 12.0 + 0.5, 1e-6);
            }
        }
    }
    // Per side: the quad on the edge (now a triangle with c = d = v1) and one quad of each end.
    EXPECT_EQ(left, 4);
    EXPECT_EQ(right, 4);
}

TEST_F(ContractionEffectsTest, CornersAcrossASeamKeepTheirUvw) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 6;
    o.seamColumn = 3;
    o.bumpy = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    host::UVWTag before("copy");
    before.data = static_cast<host::UVWTag*>(obj->tag(host::TAG_UVW))->data;
    Built b(obj);
    const auto* tag = static_cast<const host::UVWTag*>(obj->tag(host::TAG_UVW));
    const int32_t seam = 3 * 7 + 3, left = 3 * 7 + 2;  // (3, 3) keeps, (2, 3) goes
    b.contract(seam, left, {3.0, 3.0, 0.0});
    // The quads right of the seam use (3, 3) with the other island's UVW: unchanged.
    for (int y : {2, 3}) {
        const int f = y * 6 + 3;
        EXPECT_TRUE(sameBits(&tag->data[f], &before.data[f], sizeof(host::UVWRow))) << f;
    }
    // The left quads that held (2, 3) now hold (3, 3) with the left island's UVW of (3, 3).
    for (int y : {2, 3}) {
        const int f = y * 6 + 1;
        const host::Polygon& p = obj->polygons[f];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < 4; ++k) {
            if (corners[k] != seam) continue;
            EXPECT_NEAR(tag->data[f].corner(k).x, 3.0 / 12.0, 1e-6);
        }
    }
}

TEST_F(ContractionEffectsTest, DyingTriangleUvwIsZeroed) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 5, 6);
    Built b(obj);
    const auto* tag = static_cast<const host::UVWTag*>(obj->tag(host::TAG_UVW));
    b.contract(0, 1, {0, 0, 1});
    int zeroed = 0;
    for (int f = 0; f < obj->polygonCount(); ++f) {
        if (obj->polygons[f].a != obj->polygons[f].b) continue;
        ++zeroed;
        EXPECT_TRUE(tag->data[f] == host::UVWRow{});
    }
    EXPECT_EQ(zeroed, 2);
}

TEST_F(ContractionEffectsTest, OneContractionIsOneClosedRecordOfItsOwnEdits) {
    // The strip has no UVW tags: the record must still begin with the contraction, not carry over
    // what was left in the current one.
    host::Document doc;
    host::PolygonObject* obj = makeTaggedStrip(doc);
    Built b(obj);
    ASSERT_TRUE(b.mesh.startRecording());
    ASSERT_TRUE(b.mesh.reserveRecord(1, 4));
    ASSERT_TRUE(b.mesh.history().add(ChangeEntry{}));  // a stray entry, all zero
    b.contract(1, 4, {1, 0.5, 0});
    const ContractionHistory& h = b.mesh.history();
    ASSERT_EQ(h.size(), 1);
    EXPECT_EQ(h.record(0).pointCount, b.mesh.reducibleCount());
    // Both quads turn into triangles, the float map blends (2 and 8 to 5), the selection byte
    // stays selected (127), and point 4 is hidden last.
    struct Expected {
        int32_t kind, slot, index;
    };
    const Expected expected[] = {{CHANGE_POLYGON, 0, 1},
                                 {CHANGE_POLYGON, 0, 0},
                                 {CHANGE_FLOAT, 0, 1},
                                 {CHANGE_MEMBERSHIP, HISTORY_HIDDEN_POINTS, 4}};
    ASSERT_EQ(h.record(0).entryCount, 4);
    ChangeReader reader = h.entries(0);
    for (const Expected& x : expected) {
        ChangeEntry e;
        ASSERT_TRUE(reader.next(e));
        EXPECT_EQ(e.kind, x.kind);
        EXPECT_EQ(e.slot, x.slot);
        EXPECT_EQ(e.index, x.index);
    }
    EXPECT_TRUE(obj->hiddenPoints.isSelected(4));
}

TEST_F(ContractionEffectsTest, NormalsAreRecomputedAroundTheMovedPointOnly) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 6;
    o.normals = true;
    host::PolygonObject* obj = makeGrid(doc, o);
    host::NormalTag before("copy");
    const auto* tag = static_cast<const host::NormalTag*>(obj->tag(host::TAG_NORMALS));
    before.data = tag->data;
    Built b(obj);
    const int32_t v1 = 3 * 7 + 3, v2 = 3 * 7 + 4;
    b.contract(v1, v2, {3.5, 3.0, 0.4});
    // Far away nothing changed; around the moved point the corners are unit length x 32000.
    EXPECT_TRUE(tag->data[0] == before.data[0]);
    EXPECT_TRUE(tag->data[35] == before.data[35]);
    int changed = 0;
    for (int f = 0; f < obj->polygonCount(); ++f) changed += !(tag->data[f] == before.data[f]);
    EXPECT_GT(changed, 4);
    const host::Polygon& p = obj->polygons[3 * 6 + 2];
    const int corners[4] = {p.a, p.b, p.c, p.d};
    for (int k = 0; k < 4; ++k) {
        if (corners[k] != v1) continue;
        const int16_t* v = &tag->data[3 * 6 + 2].v[3 * k];
        const double len = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
        EXPECT_NEAR(len, 32000.0, 1.75);
        EXPECT_LE(len, 32000.0);
    }
}

}  // namespace
}  // namespace mixtest
