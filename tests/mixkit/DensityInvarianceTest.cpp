// The penalties weigh at the size of the polygons around a candidate, so one surface reduces alike
// whatever its density: a sphere of triangles and the same surface with every triangle cut into
// four (planar: the new points are the edge midpoints), reduced with the command's penalties to the
// same point count, end up with about the same surface error. With penalties of a fixed size the
// dense copy's tiny polygons would be ordered by the penalties alone and its error would run off.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "mixkit/Decimator.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/GridMesh.h"

namespace mixtest {
namespace {

using DensityInvarianceTest = MixkitTest;

Vector at(const host::PolygonObject& obj, int i) { return Vector{obj.points[i].x, obj.points[i].y, obj.points[i].z}; }

// Every triangle cut into four at its edge midpoints, which the two triangles of an edge share.
host::PolygonObject* cutIntoFour(host::Document& doc, const host::PolygonObject& from) {
    auto owned = std::make_unique<host::PolygonObject>("dense");
    host::PolygonObject* obj = owned.get();
    obj->points = from.points;
    std::map<std::pair<int, int>, int> midpoints;
    auto mid = [&](int u, int v) {
        auto [it, fresh] = midpoints.try_emplace({std::min(u, v), std::max(u, v)}, obj->pointCount());
        if (fresh) {
            const host::Vec3f& p = from.points[u];
            const host::Vec3f& q = from.points[v];
            obj->points.push_back({(p.x + q.x) * 0.5f, (p.y + q.y) * 0.5f, (p.z + q.z) * 0.5f});
        }
        return it->second;
    };
    for (const host::Polygon& t : from.polygons) {
        const int ab = mid(t.a, t.b), bc = mid(t.b, t.c), ca = mid(t.c, t.a);
        obj->polygons.push_back({t.a, ab, ca, ca});
        obj->polygons.push_back({ab, t.b, bc, bc});
        obj->polygons.push_back({ca, bc, t.c, t.c});
        obj->polygons.push_back({ab, bc, ca, ca});
    }
    obj->resize(obj->pointCount(), obj->polygonCount());
    doc.insert(std::move(owned));
    return obj;
}

double distanceToTriangle(const Vector& p, const Vector& a, const Vector& b, const Vector& c) {
    // The nearest of the plane's foot (when inside) and the three sides.
    const Vector n = cross(subtract(b, a), subtract(c, a));
    const double nn = dot(n, n);
    double best = 1e300;
    if (nn > 0.0) {
        const Vector foot = subtract(p, scale(n, dot(subtract(p, a), n) / nn));
        const bool inside = dot(cross(subtract(b, a), subtract(foot, a)), n) >= 0.0 &&
                            dot(cross(subtract(c, b), subtract(foot, b)), n) >= 0.0 &&
                            dot(cross(subtract(a, c), subtract(foot, c)), n) >= 0.0;
        if (inside) best = length(subtract(p, foot));
    }
    const Vector ends[3][2] = {{a, b}, {b, c}, {c, a}};
    for (const auto& e : ends) {
        const Vector d = subtract(e[1], e[0]);
        const double dd = dot(d, d);
        const double t = dd > 0.0 ? std::clamp(dot(subtract(p, e[0]), d) / dd, 0.0, 1.0) : 0.0;
        best = std::min(best, length(subtract(p, add(e[0], scale(d, t)))));
    }
    return best;
}

double distanceToSurface(const Vector& p, const host::PolygonObject& obj) {
    double best = 1e300;
    for (const host::Polygon& q : obj.polygons) {
        if (q.a == q.b) continue;
        best = std::min(best, distanceToTriangle(p, at(obj, q.a), at(obj, q.b), at(obj, q.c)));
        if (q.c != q.d) best = std::min(best, distanceToTriangle(p, at(obj, q.a), at(obj, q.c), at(obj, q.d)));
    }
    return best;
}

// Root mean square of the distances both ways: the original's points to the reduced surface and
// the reduced points to the original surface (which both copies share); every `stride`-th point.
double surfaceError(const host::PolygonObject& original, const host::PolygonObject& reduced, int stride = 1) {
    double sum = 0.0;
    int n = 0;
    for (int i = 0; i < original.pointCount(); i += stride, ++n)
        sum += std::pow(distanceToSurface(at(original, i), reduced), 2);
    std::vector<bool> used(reduced.points.size(), false);
    for (const host::Polygon& q : reduced.polygons)
        if (q.a != q.b) used[q.a] = used[q.b] = used[q.c] = used[q.d] = true;
    for (int i = 0; i < reduced.pointCount(); i += stride)
        if (used[i]) {
            sum += std::pow(distanceToSurface(at(reduced, i), original), 2);
            ++n;
        }
    return std::sqrt(sum / n);
}

void reduce(host::PolygonObject* obj, int32_t target, bool penalties = true) {
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    Decimator d;
    d.settings.useChecks = penalties ? 1 : 0;
    d.settings.compactnessPenalty = 100.0;
    d.settings.flipPenalty = 100.0;
    d.settings.valencePenalty = 10.0;
    ASSERT_TRUE(d.initialise(&mesh, nullptr));
    ASSERT_TRUE(d.decimateToCount(target, false, nullptr));
    EXPECT_EQ(mesh.reducibleCount(), target);
}

TEST_F(DensityInvarianceTest, PlanarCopyFourTimesDenserReducesToTheSameError) {
    host::Document doc;
    host::PolygonObject* coarse = makeSphere(doc, 16, 32, false);
    host::PolygonObject* dense = cutIntoFour(doc, *coarse);
    ASSERT_GT(dense->pointCount(), 3 * coarse->pointCount());
    host::PolygonObject original("original");
    original.copyStateFrom(*coarse);
    const int32_t target = coarse->pointCount() / 4;
    reduce(coarse, target);
    reduce(dense, target);
    const double coarseError = surfaceError(original, *coarse);
    const double denseError = surfaceError(original, *dense);
    ASSERT_GT(coarseError, 0.0);
    EXPECT_LT(denseError / coarseError, 1.25) << coarseError << " " << denseError;
    EXPECT_GT(denseError / coarseError, 0.8) << coarseError << " " << denseError;
}

// Where every polygon is small in the frame (here a rippled patch of 40 x 40 quads beside a far-off
// triangle that makes the object's box twenty times the patch), the penalties still only break the
// ties of the geometry: the error stays near that of the reduction without them. Penalties of a
// fixed size outweighed the error of such polygons and ordered the contractions by shape alone.
TEST_F(DensityInvarianceTest, PenaltiesDoNotOutweighTheGeometryOfSmallPolygons) {
    host::Document doc;
    auto patch = testsupport::gridObject("patch", 40, 40, [](int i, int j) {
        const double x = i / 40.0, y = j / 40.0;
        return host::Vec3f{static_cast<float>(x), static_cast<float>(y),
                           static_cast<float>(0.03 * std::sin(9.0 * x) * std::cos(7.0 * y) + 0.004 * std::sin(41.0 * x + 23.0 * y))};
    });
    const int far = patch->pointCount();
    patch->points.push_back({20.0f, 20.0f, 0.0f});
    patch->points.push_back({20.5f, 20.0f, 0.0f});
    patch->points.push_back({20.0f, 20.5f, 0.0f});
    patch->polygons.push_back({far, far + 1, far + 2, far + 2});
    patch->resize(patch->pointCount(), patch->polygonCount());
    host::PolygonObject* checked = static_cast<host::PolygonObject*>(doc.insert(std::move(patch)));
    host::PolygonObject original("original");
    original.copyStateFrom(*checked);
    host::PolygonObject plain("plain");
    plain.copyStateFrom(*checked);
    const int32_t target = checked->pointCount() / 4;
    reduce(checked, target);
    reduce(&plain, target, false);
    const double withPenalties = surfaceError(original, *checked, 3);
    const double without = surfaceError(original, plain, 3);
    ASSERT_GT(without, 0.0);
    EXPECT_LT(withPenalties / without, 1.2) << withPenalties << " " << without;
}

}  // namespace
}  // namespace mixtest
