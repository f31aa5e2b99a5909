// Bake mesh gathering from host objects: quad splits, dead polygons, smooth normals with and
// without smoothing limits, world placement, texture coordinates and tangent frames, occluders of
// a hierarchy and of a document, the failure paths, and the same lists from any number of workers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "baking/NMGather.h"
#include "host/Document.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;
using baketest::handle;
using baketest::uvwOf;

void expectVec(const NMVec3& v, double x, double y, double z, double eps = 1e-6) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

// One quad (or triangle when c == d) with a UVW row that maps every corner to (x, y).
std::unique_ptr<host::PolygonObject> polygonObject(const std::vector<host::Vec3f>& points,
                                                   const std::vector<host::Polygon>& polygons) {
    auto obj = std::make_unique<host::PolygonObject>("poly");
    obj->points = points;
    obj->polygons = polygons;
    auto uvw = std::make_unique<host::UVWTag>("UVW");
    for (const host::Polygon& p : polygons) {
        auto uv = [&](int i) {
            if (i < 0 || i >= int(points.size())) return host::Vec3f{};
            return host::Vec3f{points[i].x, points[i].y, 0.0f};
        };
        uvw->data.push_back({uv(p.a), uv(p.b), uv(p.c), uv(p.d)});
    }
    obj->addTag(std::move(uvw));
    return obj;
}

// Floor quad in z = 0 and wall quad in x = 0 sharing the edge from (0,0,0) to (0,1,0).
std::unique_ptr<host::PolygonObject> corner() {
    return polygonObject({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}},
                         {{0, 1, 2, 3}, {0, 3, 4, 5}});
}

class NMGatherTest : public BakingFixture {
protected:
    void TearDown() override {
        list.clear();
        BakingFixture::TearDown();
    }
    NMTriangleList list;
    host::Document doc;
};

}  // namespace

TEST_F(NMGatherTest, DeadPolygonsAndBadIndicesGiveNothing) {
    host::Object* o = doc.insert(polygonObject({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                               {{0, 0, 1, 2}, {0, 1, 2, 2}, {0, 1, 7, 2}, {0, -1, 2, 2}}));
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 1);
    expectVec(list.triangles[0].v[2].position, 0, 1, 0);
}

TEST_F(NMGatherTest, ConvexQuadSplitsAlongBD) {
    host::Object* o = doc.insert(polygonObject({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}));
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 2);
    // (d, a, b) and (d, b, c), with the texture coordinates of their own corners.
    expectVec(list.triangles[0].v[0].position, 0, 1, 0);
    expectVec(list.triangles[0].v[1].position, 0, 0, 0);
    expectVec(list.triangles[0].v[2].position, 1, 0, 0);
    expectVec(list.triangles[1].v[0].position, 0, 1, 0);
    expectVec(list.triangles[1].v[1].position, 1, 0, 0);
    expectVec(list.triangles[1].v[2].position, 1, 1, 0);
    expectVec(list.triangles[1].v[2].uvw, 1, 1, 0);
    expectVec(list.triangles[0].v[0].uvw, 0, 1, 0);
    // The box of all vertices.
    expectVec(list.box.min, 0, 0, 0);
    expectVec(list.box.max, 1, 1, 0);
    expectVec(list.box.centre, 0.5, 0.5, 0);
}

TEST_F(NMGatherTest, ReflexCornersChooseTheDiagonal) {
    // A dart whose reflex corner is a: split along a–c into (a, b, c) and (a, c, d).
    const std::vector<host::Vec3f> dart = {{0.5f, 1, 0}, {0, 0, 0}, {2, 1, 0}, {0, 2, 0}};
    host::Object* o = doc.insert(polygonObject(dart, {{0, 1, 2, 3}}));
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 2);
    expectVec(list.triangles[0].v[0].position, 0.5, 1, 0);
    expectVec(list.triangles[0].v[2].position, 2, 1, 0);
    expectVec(list.triangles[1].v[1].position, 2, 1, 0);
    expectVec(list.triangles[1].v[2].position, 0, 2, 0);
    // Both halves face the quad's way.
    for (const NMTriangle& t : list.triangles) expectVec(t.v[0].normal, 0, 0, 1);

    // The same dart with the reflex corner at b: (b, c, d) and (b, d, a).
    host::Object* p = doc.insert(polygonObject(dart, {{3, 0, 1, 2}}));
    ASSERT_EQ(gatherObject(list, handle(p), uvwOf(p), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 2);
    expectVec(list.triangles[0].v[0].position, 0.5, 1, 0);
    expectVec(list.triangles[0].v[1].position, 0, 0, 0);
    expectVec(list.triangles[0].v[2].position, 2, 1, 0);
    expectVec(list.triangles[1].v[1].position, 2, 1, 0);
    expectVec(list.triangles[1].v[2].position, 0, 2, 0);
}

TEST_F(NMGatherTest, LowModeSmoothsAcrossEveryFace) {
    host::Object* o = doc.insert(corner());
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 4);
    const double r = std::sqrt(0.5);
    int shared = 0;
    for (const NMTriangle& t : list.triangles)
        for (const NMVertex& v : t.v) {
            if (v.position.x == 0.0 && v.position.z == 0.0) {
                expectVec(v.normal, r, 0, r);
                ++shared;
            } else if (v.position.z == 0.0) {
                expectVec(v.normal, 0, 0, 1);
            } else {
                expectVec(v.normal, 1, 0, 0);
            }
        }
    EXPECT_EQ(shared, 6);
}

TEST_F(NMGatherTest, HighModeFollowsTheSmoothingTag) {
    host::Object* o = doc.insert(corner());
    const double r = std::sqrt(0.5);
    // Without a smoothing tag: fully smooth.
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    expectVec(list.triangles[0].v[1].normal, r, 0, r);  // corner (0, 0, 0)
    // A tag limiting to 80 degrees keeps the faces apart at 90.
    auto tag = std::make_unique<host::SmoothingTag>("Smoothing");
    tag->data.setBool(host::SMOOTHING_ANGLE_LIMIT, true);
    tag->data.setReal(host::SMOOTHING_ANGLE, 80.0 * 3.141592653589793 / 180.0);
    host::SmoothingTag* smoothing = static_cast<host::SmoothingTag*>(o->addTag(std::move(tag)));
    EXPECT_NEAR(smoothingThreshold(handle(o), NM_GATHER_HIGH), std::cos(80.0 * 3.141592653589793 / 180.0), 1e-15);
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    for (int t = 0; t < 2; ++t)
        for (const NMVertex& v : list.triangles[t].v) expectVec(v.normal, 0, 0, 1);
    for (int t = 2; t < 4; ++t)
        for (const NMVertex& v : list.triangles[t].v) expectVec(v.normal, 1, 0, 0);
    // 100 degrees joins them again; the switch off ignores the angle.
    smoothing->data.setReal(host::SMOOTHING_ANGLE, 100.0 * 3.141592653589793 / 180.0);
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    expectVec(list.triangles[0].v[1].normal, r, 0, r);
    smoothing->data.setReal(host::SMOOTHING_ANGLE, 0.0);
    smoothing->data.setBool(host::SMOOTHING_ANGLE_LIMIT, false);
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    expectVec(list.triangles[0].v[1].normal, r, 0, r);
    // A limit of 0 degrees still keeps each face's own normal (the face itself always counts).
    smoothing->data.setBool(host::SMOOTHING_ANGLE_LIMIT, true);
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    expectVec(list.triangles[0].v[1].normal, 0, 0, 1);
    // The low object ignores the tag.
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    expectVec(list.triangles[0].v[1].normal, r, 0, r);
}

TEST_F(NMGatherTest, PointsGoToWorldSpace) {
    auto group = std::make_unique<host::Object>(host::OBJECT_GROUP, "group");
    group->localMatrix.off = {10, 0, 0};
    host::Object* g = doc.insert(std::move(group));
    auto quad = polygonObject({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    // Turned a quarter about z: x → y, y → −x; then moved by the parent.
    quad->localMatrix.v1 = {0, 1, 0};
    quad->localMatrix.v2 = {-1, 0, 0};
    quad->localMatrix.off = {0, 0, 5};
    host::Object* o = doc.insert(std::move(quad), g);
    ASSERT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    ASSERT_EQ(list.count(), 2);
    expectVec(list.triangles[0].v[2].position, 10, 1, 5);    // point b = (1, 0, 0)
    expectVec(list.triangles[1].v[2].position, 9, 1, 5);     // point c = (1, 1, 0)
    expectVec(list.triangles[0].v[0].normal, 0, 0, 1);
    // Texture coordinates stay those of the tag, and the frame follows the turned mapping:
    // u grows along world +y, v along world −x.
    expectVec(list.triangles[1].v[2].uvw, 1, 1, 0);
    expectVec(list.triangles[0].v[0].tangent, 0, 1, 0);
    expectVec(list.triangles[0].v[0].bitangent, -1, 0, 0);
}

TEST_F(NMGatherTest, HighObjectWithoutUvwHasNoFrames) {
    host::Object* o = doc.insert(baketest::grid("high", 3, 3, baketest::flat, false));
    ASSERT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, nullptr), 1);
    ASSERT_EQ(list.count(), 18);
    for (const NMTriangle& t : list.triangles)
        for (const NMVertex& v : t.v) {
            expectVec(v.uvw, 0, 0, 0);
            expectVec(v.tangent, 0, 0, 0);
            expectVec(v.normal, 0, 0, 1);
        }
}

TEST_F(NMGatherTest, MissingObjectOrTagFails) {
    host::Object* o = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    EXPECT_EQ(gatherObject(list, nullptr, nullptr, NM_GATHER_HIGH, nullptr), 0);
    EXPECT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_LOW, nullptr), 0);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr), 1);
    EXPECT_EQ(list.count(), 8);
}

TEST_F(NMGatherTest, StopAndAllocationFailureFail) {
    host::Object* o = doc.insert(baketest::grid("plane", 30, 30, baketest::flat));
    baketest::PollingThread thread(3);
    EXPECT_EQ(gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, &thread), 0);
    int failures = 0;
    for (uint64_t n = 1; n < 100; ++n) {
        host::memory::failAfter(n);
        const int32_t ok = gatherObject(list, handle(o), uvwOf(o), NM_GATHER_LOW, nullptr);
        host::memory::resetFailures();
        if (ok) break;
        ++failures;
    }
    EXPECT_GE(failures, 5);
    EXPECT_EQ(list.count(), 1800);
    console();
}

TEST_F(NMGatherTest, OccludersOfAHierarchyFollowVisibility) {
    auto group = std::make_unique<host::Object>(host::OBJECT_GROUP, "group");
    group->localMatrix.off = {0, 0, 3};
    host::Object* g = doc.insert(std::move(group));
    auto high = baketest::grid("high", 2, 2, baketest::flat);
    high->localMatrix.off = {1, 0, 0};
    host::Object* h = doc.insert(std::move(high), g);
    host::Object* shown = doc.insert(baketest::grid("shown", 1, 1, baketest::flat), h);
    auto hidden = baketest::grid("hidden", 1, 1, baketest::flat);
    hidden->visible = false;
    host::Object* hid = doc.insert(std::move(hidden), h);
    // A visible child of a hidden object keeps its own setting.
    doc.insert(baketest::grid("under-hidden", 1, 1, baketest::flat), hid);
    (void)shown;

    ASSERT_EQ(gatherOccludersFromObject(list, handle(h), nullptr), 1);
    // high (8) + shown (2) + under-hidden (2), all in world space under the group's offset.
    ASSERT_EQ(list.count(), 12);
    NMTriangleList own;
    ASSERT_EQ(gatherObject(own, handle(h), nullptr, NM_GATHER_HIGH, nullptr), 1);
    for (int t = 0; t < 8; ++t)
        for (int k = 0; k < 3; ++k) expectVec(list.triangles[t].v[k].position, own.triangles[t].v[k].position.x,
                                              own.triangles[t].v[k].position.y, own.triangles[t].v[k].position.z);
    expectVec(list.triangles[0].v[1].position, 1, 0, 3);
    expectVec(list.box.min, 1, 0, 3);
    expectVec(list.box.max, 2, 1, 3);
    // The document is as it was: no copy left in it.
    EXPECT_EQ(doc.allObjects().size(), 5u);
}

TEST_F(NMGatherTest, OccludersOfADocument) {
    doc.insert(baketest::grid("a", 2, 1, baketest::flat));
    auto b = baketest::grid("b", 1, 1, baketest::flat);
    b->localMatrix.off = {0, 0, -2};
    host::Object* bo = doc.insert(std::move(b));
    doc.insert(baketest::grid("child", 1, 1, baketest::flat), bo);
    ASSERT_EQ(gatherOccludersFromDocument(list, host::toHandle(&doc), nullptr), 1);
    EXPECT_EQ(list.count(), 4 + 2 + 2);
    expectVec(list.box.min, 0, 0, -2);
    EXPECT_EQ(gatherOccludersFromDocument(list, nullptr, nullptr), 0);
    host::Document empty;
    EXPECT_EQ(gatherOccludersFromDocument(list, host::toHandle(&empty), nullptr), 1);
    EXPECT_EQ(list.count(), 0);
}

namespace {

// A wavy grid of nx × ny quads with every kind of polygon the gathering meets: quads pushed
// out of shape (some reflex, so every split diagonal occurs), triangles, dead polygons and
// polygons naming a point that does not exist; a smoothing tag limits the angle to 40 degrees.
std::unique_ptr<host::PolygonObject> mixedMesh(const std::string& name, int nx, int ny) {
    auto obj = baketest::grid(name, nx, ny, [](double u, double v) {
        return host::Vec3{u, v, 0.04 * std::sin(37.0 * u) * std::cos(23.0 * v)};
    });
    const float du = 1.0f / nx, dv = 1.0f / ny;
    for (size_t i = 0; i < obj->points.size(); i += 13) {
        // Pushed across its quads' diagonals: the quads around it turn reflex at various corners.
        obj->points[i].x += (i % 2 ? 0.8f : -0.8f) * du;
        obj->points[i].y += (i % 3 ? 0.8f : -0.8f) * dv;
    }
    for (size_t i = 0; i < obj->polygons.size(); ++i) {
        host::Polygon& p = obj->polygons[i];
        if (i % 7 == 1) p.d = p.c;
        if (i % 11 == 3) p.b = p.a;
        if (i % 97 == 5) p.c = int(obj->points.size()) + 4;
    }
    auto tag = std::make_unique<host::SmoothingTag>("Smoothing");
    tag->data.setBool(host::SMOOTHING_ANGLE_LIMIT, true);
    tag->data.setReal(host::SMOOTHING_ANGLE, 40.0 * 3.141592653589793 / 180.0);
    obj->addTag(std::move(tag));
    return obj;
}

// Bit for bit, not within a tolerance: the maps baked from the two must be the same.
bool sameBits(const NMVec3& a, const NMVec3& b) { return std::memcmp(&a, &b, sizeof(NMVec3)) == 0; }

void expectSameList(const NMTriangleList& a, const NMTriangleList& b, const std::string& what) {
    ASSERT_EQ(a.count(), b.count()) << what;
    for (int32_t t = 0; t < a.count(); ++t)
        ASSERT_EQ(std::memcmp(&a.triangles.items[t], &b.triangles.items[t], sizeof(NMTriangle)), 0)
            << what << ": triangle " << t;
    EXPECT_TRUE(sameBits(a.box.min, b.box.min) && sameBits(a.box.max, b.box.max)) << what;
}

// The geometry holds the list's corners and normals, in its order, and its box.
void expectGeometryOf(const NMTriangleGeometry& g, const NMTriangleList& list, const std::string& what) {
    ASSERT_EQ(g.count(), list.count()) << what;
    ASSERT_EQ(g.normals.count, g.corners.count) << what;
    for (int32_t t = 0; t < list.count(); ++t)
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(sameBits(g.corners.items[3 * t + k], list.triangles.items[t].v[k].position))
                << what << ": triangle " << t << " corner " << k;
            ASSERT_TRUE(sameBits(g.normals.items[3 * t + k], list.triangles.items[t].v[k].normal))
                << what << ": triangle " << t << " normal " << k;
        }
    EXPECT_TRUE(sameBits(g.box.min, list.box.min) && sameBits(g.box.max, list.box.max)) << what;
    EXPECT_TRUE(sameBits(g.box.centre, list.box.centre) && sameBits(g.box.half, list.box.half)) << what;
}

}  // namespace

// Several blocks of polygons, points and triangles each (blocks hold 1,024), so that every
// worker count splits the work differently.
TEST_F(NMGatherTest, WorkersGatherTheSameListAsOne) {
    host::Object* high = doc.insert(mixedMesh("high", 90, 40));
    host::Object* low = doc.insert(mixedMesh("low", 70, 50));
    NMTriangleList one;
    ASSERT_EQ(gatherObject(one, handle(high), nullptr, NM_GATHER_HIGH, nullptr, 1), 1);
    ASSERT_GT(one.count(), 5000);
    // The smoothing limit parts some faces and joins others: normals are not all one face's.
    int32_t smoothCorners = 0;
    for (int32_t t = 0; t < one.count(); ++t)
        smoothCorners += !sameBits(one.triangles.items[t].v[0].normal, one.triangles.items[t].v[1].normal);
    EXPECT_GT(smoothCorners, 100);
    // Polygon after polygon, each gives its triangles in turn, made of its own corners.
    const auto* mesh = static_cast<host::PolygonObject*>(high);
    int32_t at = 0;
    for (const host::Polygon& p : mesh->polygons) {
        const int n = int(mesh->points.size());
        if (p.a == p.b || p.c < 0 || p.c >= n || p.d < 0 || p.d >= n) continue;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int made = p.c == p.d ? 1 : 2;
        int covered = 0;
        ASSERT_LE(at + made, one.count());
        for (int h = 0; h < made; ++h)
            for (const NMVertex& v : one.triangles.items[at + h].v) {
                int found = -1;
                for (int k = 0; k < 4; ++k) {
                    const host::Vec3f& q = mesh->points[corners[k]];
                    // Exactly (placed by the identity, only a zero's sign may change).
                    if (found < 0 && v.position.x == q.x && v.position.y == q.y && v.position.z == q.z) found = k;
                }
                ASSERT_GE(found, 0) << "triangle " << at + h;
                covered |= 1 << found;
            }
        EXPECT_EQ(covered, made == 1 ? 7 : 15) << "triangle " << at;
        at += made;
    }
    EXPECT_EQ(at, one.count());
    NMTriangleList lowOne;
    ASSERT_EQ(gatherObject(lowOne, handle(low), uvwOf(low), NM_GATHER_LOW, nullptr, 1), 1);
    for (int32_t threads : {2, 3, 8}) {
        const std::string what = std::to_string(threads) + " workers";
        ASSERT_EQ(gatherObject(list, handle(high), nullptr, NM_GATHER_HIGH, nullptr, threads), 1);
        expectSameList(list, one, "high, " + what);
        // The low object with texture coordinates and tangent frames.
        ASSERT_EQ(gatherObject(list, handle(low), uvwOf(low), NM_GATHER_LOW, nullptr, threads), 1);
        expectSameList(list, lowOne, "low, " + what);
    }
    // Corners and normals alone are those of the full records.
    for (int32_t threads : {1, 3}) {
        NMTriangleGeometry geometry;
        ASSERT_EQ(gatherObject(geometry, handle(high), nullptr, threads), 1);
        expectGeometryOf(geometry, one, "geometry, " + std::to_string(threads) + " workers");
    }
}

TEST_F(NMGatherTest, WorkersGatherTheSameOccluders) {
    host::Object* a = doc.insert(mixedMesh("a", 60, 40));
    auto b = mixedMesh("b", 50, 30);
    b->localMatrix.off = {0, 0, -2};
    host::Object* bo = doc.insert(std::move(b));
    doc.insert(mixedMesh("child", 30, 30), bo);
    NMTriangleList hierarchy, document;
    ASSERT_EQ(gatherOccludersFromObject(hierarchy, handle(bo), nullptr, 1), 1);
    ASSERT_EQ(gatherOccludersFromDocument(document, host::toHandle(&doc), nullptr, 1), 1);
    NMTriangleList ownA;
    ASSERT_EQ(gatherObject(ownA, handle(a), nullptr, NM_GATHER_HIGH, nullptr), 1);
    ASSERT_GT(document.count(), hierarchy.count() + ownA.count() - 1);
    for (int32_t threads : {1, 3, 8}) {
        const std::string what = std::to_string(threads) + " workers";
        if (threads > 1) {
            ASSERT_EQ(gatherOccludersFromObject(list, handle(bo), nullptr, threads), 1);
            expectSameList(list, hierarchy, "hierarchy, " + what);
            ASSERT_EQ(gatherOccludersFromDocument(list, host::toHandle(&doc), nullptr, threads), 1);
            expectSameList(list, document, "document, " + what);
        }
        NMTriangleGeometry geometry;
        ASSERT_EQ(gatherOccludersFromObject(geometry, handle(bo), nullptr, threads), 1);
        expectGeometryOf(geometry, hierarchy, "hierarchy geometry, " + what);
        ASSERT_EQ(gatherOccludersFromDocument(geometry, host::toHandle(&doc), nullptr, threads), 1);
        expectGeometryOf(geometry, document, "document geometry, " + what);
    }
    EXPECT_EQ(doc.allObjects().size(), 3u);
}

// A stop reaches every worker; memory running out anywhere fails the gathering without leaving
// anything behind (the fixture counts the live blocks), and a worker thread that cannot be made
// leaves its work to the others.
TEST_F(NMGatherTest, WorkersStopAndFailCleanly) {
    host::Object* o = doc.insert(mixedMesh("high", 60, 40));
    NMTriangleList one;
    ASSERT_EQ(gatherObject(one, handle(o), nullptr, NM_GATHER_HIGH, nullptr, 1), 1);
    for (int64_t stopAt : {1, 5, 30, 50}) {
        baketest::PollingThread thread(stopAt);
        NMTriangleGeometry geometry;
        EXPECT_EQ(gatherObject(list, handle(o), nullptr, NM_GATHER_HIGH, &thread, 3), 0) << stopAt;
        EXPECT_EQ(gatherObject(geometry, handle(o), &thread, 4), 0) << stopAt;
    }
    int failures = 0;
    for (uint64_t n = 1; n < 200; ++n) {
        NMTriangleGeometry geometry;
        host::memory::failAfter(n);
        const int32_t ok = gatherObject(geometry, handle(o), nullptr, 3);
        host::memory::resetFailures();
        if (!ok) {
            ++failures;
            continue;
        }
        // Whatever workers it got, the result is that of one.
        expectGeometryOf(geometry, one, "after failing allocation " + std::to_string(n));
        if (n > 40) break;
    }
    EXPECT_GE(failures, 5);
    console();
}
