// The reduction measures in a frame fixed by the reducible points' bounding box, so that one shape
// reduces alike in any units and at any place: the frame worked by hand, copies scaled by powers of
// two reduced bit for bit alike, decimal scalings and far translations reduced alike within float
// rounding, untouched points left bit-identical, and an error limit that means the same on a small
// and a large copy.
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "mixkit/Decimator.h"
#include "mixkit/ReferenceFrame.h"
#include "tests/mixkit/MixkitFixture.h"

namespace mixtest {
namespace {

using ReferenceFrameTest = MixkitTest;

TEST_F(ReferenceFrameTest, FrameOfPointsWorkedByHand) {
    const FloatVector points[] = {{1, 2, 3}, {5, 2, 3}, {1, 5, 3}, {100, 100, 100}};
    const uint8_t firstThree[] = {1, 1, 1, 0};
    // Box (1, 2, 3)-(5, 5, 3): centre (3, 3.5, 3), diagonal 5.
    const ReferenceFrame f = ReferenceFrame::ofPoints(points, firstThree, 4);
    EXPECT_EQ(f.centre.x, 3.0);
    EXPECT_EQ(f.centre.y, 3.5);
    EXPECT_EQ(f.centre.z, 3.0);
    EXPECT_EQ(f.scale, REFERENCE_DIAGONAL / 5.0);
    EXPECT_EQ(f.inverse, 5.0 / REFERENCE_DIAGONAL);
    const Vector corner = f.toFrame(points[1]);
    EXPECT_EQ(corner.x, 2.0 * f.scale);
    EXPECT_EQ(corner.y, -1.5 * f.scale);
    EXPECT_EQ(corner.z, 0.0);
    // The box's diagonal in the frame is the reference length.
    EXPECT_NEAR(length(subtract(f.toFrame(FloatVector{5, 5, 3}), f.toFrame(points[0]))), REFERENCE_DIAGONAL,
                1e-12 * REFERENCE_DIAGONAL);
    // And back again.
    const Vector back = f.toObject(f.toFrame(points[3]));
    EXPECT_NEAR(back.x, 100.0, 1e-12);
    EXPECT_NEAR(back.z, 100.0, 1e-12);
    EXPECT_EQ(f.lengthToObject(f.lengthToFrame(2.0)), 2.0);

    // Without flags every point counts: box (1, 2, 3)-(100, 100, 100).
    const ReferenceFrame all = ReferenceFrame::ofPoints(points, nullptr, 4);
    EXPECT_EQ(all.centre.x, 50.5);
    EXPECT_EQ(all.scale, REFERENCE_DIAGONAL / std::sqrt(99.0 * 99.0 + 98.0 * 98.0 + 97.0 * 97.0));

    // Nothing flagged, or a box of no extent: scale 1, centred on what there is.
    const uint8_t none[] = {0, 0, 0, 0};
    const ReferenceFrame empty = ReferenceFrame::ofPoints(points, none, 4);
    EXPECT_EQ(empty.scale, 1.0);
    EXPECT_EQ(empty.centre.x, 0.0);
    const uint8_t lastOnly[] = {0, 0, 0, 1};
    const ReferenceFrame single = ReferenceFrame::ofPoints(points, lastOnly, 4);
    EXPECT_EQ(single.scale, 1.0);
    EXPECT_EQ(single.centre.y, 100.0);
    const Vector origin = single.toFrame(points[3]);
    EXPECT_EQ(origin.x, 0.0);
    EXPECT_EQ(origin.z, 0.0);
}

struct Outcome {
    std::vector<host::Vec3f> points;
    std::vector<host::Polygon> polygons;
    std::vector<double> costs;
    std::set<int32_t> moved;  // points some record moved
    int32_t reducible = 0;
};

// Reduces the object with the reduction command's settings while recording, down to `fraction`
// of its points or, when `limit` is not negative, up to that error limit.
Outcome reduce(host::PolygonObject* obj, double fraction, double limit = -1.0) {
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    Decimator d;
    d.settings.compactnessPenalty = 100.0;
    d.settings.flipPenalty = 100.0;
    d.settings.valencePenalty = 10.0;
    mesh.startRecording();
    EXPECT_TRUE(d.initialise(&mesh, nullptr));
    if (limit >= 0.0)
        EXPECT_TRUE(d.decimateToError(limit, nullptr));
    else
        EXPECT_TRUE(d.decimateToCount(static_cast<int32_t>(mesh.reducibleCount() * fraction), false, nullptr));
    Outcome o;
    o.points = obj->points;
    o.polygons = obj->polygons;
    for (int32_t i = 0; i < mesh.history().size(); ++i) {
        const ChangeRecord& r = mesh.history().record(i);
        o.costs.push_back(r.cost);
        o.moved.insert(r.point);
    }
    o.reducible = mesh.reducibleCount();
    return o;
}

host::PolygonObject* copyOf(host::Document& doc, const host::PolygonObject& from, const std::string& name) {
    auto copy = std::make_unique<host::PolygonObject>(name);
    copy->copyStateFrom(from);
    host::PolygonObject* raw = copy.get();
    doc.insert(std::move(copy));
    return raw;
}

host::Vec3f scaled(const host::Vec3f& p, int k) {
    return {std::ldexp(p.x, k), std::ldexp(p.y, k), std::ldexp(p.z, k)};
}

TEST_F(ReferenceFrameTest, PowerOfTwoScalingReducesBitForBitAlike) {
    host::Document doc;
    host::PolygonObject* grid = makeGrid(doc, GridOptions::withAllTags(20, 15, 7), "grid");
    host::PolygonObject* sphere = makeSphere(doc, 12, 18);
    for (host::PolygonObject* base : {grid, sphere}) {
        host::PolygonObject* original = copyOf(doc, *base, "original");
        host::PolygonObject* unit = copyOf(doc, *original, "unit");
        const Outcome want = reduce(unit, 0.2);
        ASSERT_GT(want.costs.size(), 100u);
        for (int k = -20; k <= 20; ++k) {
            if (k == 0) continue;
            host::PolygonObject* obj = copyOf(doc, *original, "scaled");
            for (host::Vec3f& p : obj->points) p = scaled(p, k);
            const Outcome got = reduce(obj, 0.2);
            ASSERT_EQ(got.polygons, want.polygons) << "k = " << k;
            ASSERT_EQ(got.costs, want.costs) << "k = " << k;
            for (size_t i = 0; i < want.points.size(); ++i)
                ASSERT_EQ(got.points[i], scaled(want.points[i], k)) << "k = " << k << ", point " << i;
            // UVWs, selections, float maps and normals followed the same contractions.
            obj->points = want.points;
            ASSERT_EQ(differences(*obj, *unit), "") << "k = " << k;
        }
    }
}

TEST_F(ReferenceFrameTest, DecimalScalingReducesAlikeWithinRounding) {
    host::Document doc;
    host::PolygonObject* original = makeSphere(doc, 30, 44);
    addNormals(*original);
    // Relative to the sphere's diagonal, how far apart the two reductions' points may lie.
    const double diagonal = 2.0 * std::sqrt(3.0);
    const Outcome want = reduce(copyOf(doc, *original, "unit"), 0.1);
    for (double factor : {0.001, 1000.0}) {
        host::PolygonObject* obj = copyOf(doc, *original, "scaled");
        for (host::Vec3f& p : obj->points)
            p = {static_cast<float>(p.x * factor), static_cast<float>(p.y * factor), static_cast<float>(p.z * factor)};
        const Outcome got = reduce(obj, 0.1);
        EXPECT_EQ(got.reducible, want.reducible) << factor;
        EXPECT_EQ(got.polygons, want.polygons) << factor;
        double worst = 0.0;
        for (size_t i = 0; i < want.points.size(); ++i) {
            const host::Vec3f& a = want.points[i];
            const host::Vec3f& b = got.points[i];
            worst = std::fmax(worst, std::fabs(b.x / factor - a.x));
            worst = std::fmax(worst, std::fabs(b.y / factor - a.y));
            worst = std::fmax(worst, std::fabs(b.z / factor - a.z));
        }
        EXPECT_LT(worst, 1e-5 * diagonal) << factor;
        ASSERT_EQ(got.costs.size(), want.costs.size());
        for (size_t i = 0; i < want.costs.size(); ++i)
            ASSERT_NEAR(got.costs[i], want.costs[i], 1e-4 * (1.0 + std::fabs(want.costs[i]))) << factor << " " << i;
    }
}

TEST_F(ReferenceFrameTest, FarTranslationReducesAlikeAndLeavesUntouchedPointsAlone) {
    host::Document doc;
    host::PolygonObject* original = makeGrid(doc, GridOptions::withAllTags(24, 18, 9), "grid");
    // Coordinates on a 1/256 grid stay exact when moved by 10000 (float spacing there is 1/1024),
    // so both copies measure the same positions in their frames.
    for (host::Vec3f& p : original->points)
        p = {std::round(p.x * 256.0f) / 256.0f, std::round(p.y * 256.0f) / 256.0f, std::round(p.z * 256.0f) / 256.0f};
    const Outcome want = reduce(copyOf(doc, *original, "here"), 0.15);
    host::PolygonObject* far = copyOf(doc, *original, "far");
    const float shift = 10000.0f;
    for (host::Vec3f& p : far->points) p = {p.x + shift, p.y + shift, p.z + shift};
    const std::vector<host::Vec3f> before = far->points;
    const Outcome got = reduce(far, 0.15);
    EXPECT_EQ(got.polygons, want.polygons);
    EXPECT_EQ(got.costs, want.costs);
    int untouched = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (got.moved.count(static_cast<int32_t>(i)) == 0) {
            // Never moved: the very same float bits, although mapping there and back is not exact
            // this far from the origin.
            ASSERT_EQ(std::memcmp(&got.points[i], &before[i], sizeof(host::Vec3f)), 0) << i;
            ++untouched;
            continue;
        }
        // Moved: where the reduction near the origin put it, moved by the shift, within the float
        // spacing at 10000.
        EXPECT_NEAR(got.points[i].x, want.points[i].x + shift, 1.0 / 1024.0) << i;
        EXPECT_NEAR(got.points[i].y, want.points[i].y + shift, 1.0 / 1024.0) << i;
        EXPECT_NEAR(got.points[i].z, want.points[i].z + shift, 1.0 / 1024.0) << i;
    }
    EXPECT_GT(untouched, 0);
}

TEST_F(ReferenceFrameTest, AnErrorLimitMeansTheSameOnASmallAndALargeCopy) {
    host::Document doc;
    host::PolygonObject* original = loadSample(doc);
    ASSERT_NE(original, nullptr);
    const int32_t initial = static_cast<int32_t>(original->points.size());
    // The first limit of 1, 10, 100, ... that takes away more than a fifth of the points.
    double limit = 1.0;
    Outcome small;
    for (; limit < 1e12; limit *= 10.0) {
        small = reduce(copyOf(doc, *original, "small"), 0.0, limit);
        if (small.reducible < initial * 4 / 5) break;
    }
    EXPECT_GT(small.reducible, initial / 100) << limit;
    host::PolygonObject* large = copyOf(doc, *original, "large");
    for (host::Vec3f& p : large->points) p = {p.x * 1000.0f, p.y * 1000.0f, p.z * 1000.0f};
    const Outcome big = reduce(large, 0.0, limit);
    EXPECT_NEAR(big.reducible, small.reducible, 0.005 * small.reducible);
}

}  // namespace
}  // namespace mixtest
