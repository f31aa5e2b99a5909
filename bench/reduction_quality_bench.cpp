// Quality of the reduction, not its speed: meshes of different kinds, the small ones at two units
// (x0.01 and x100 of their natural size) reduced to 50 %, 10 % and 1 % of their points, the
// sculpt-like ones at one unit to 10 % and 1 %, three ways:
//   ours      the reduction command's pipeline with its default settings (penalties on);
//   plain     the same without the penalties (useChecks off);
//   peer      the comparison simplifier on the triangulated mesh, to the same share of triangles.
// Per result: points and polygons left, quad share, surface error (symmetric RMS and max distance
// between the surfaces over the input's bounding-box diagonal, sampled on both surfaces with a
// fixed seed; the max is the sampled Hausdorff distance), sliver share (polygon compactness below
// 0.2), 1st-percentile corner angle, folds (edges whose two polygons' normals differ by more than
// 150 degrees), per row the ratios ours/peer and ours/plain of the RMS and max errors, and at the
// end a table of those decisions. The sculpt-like meshes: a quad sphere with noise displacement at
// several frequencies and a jitter per point ("sculpt"), and one displaced surface at two
// densities, the dense copy cut 4 x 4 (planar, the same surface) and reduced to the coarse copy's
// counts ("surface-1x", "surface-16x"), which shows whether the result depends on the density.
//
//   build/rel/bin/reduction_quality_bench [--full] [--diagonal D] [--mesh NAME] [--stages]
//
// Without --full the meshes are small (a quick look, a few minutes); --full uses the sample, a
// 100k-point scanned-like sphere with holes, the 1M-triangle seamed grid, a rounded box, a
// 500k-point sculpt and the surface at 31k and 500k points (--mesh sculpt, --mesh surface: a few
// minutes each).
// --diagonal measures ours and plain in a frame whose diagonal is D instead of the module's
// reference length (how that length was chosen); --mesh runs only the meshes whose name has NAME;
// --stages also measures our result after each step of the pipeline (where folds come from).
#include <meshoptimizer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "bench/DisplacedSurface.h"
#include "bench/GridObj.h"
#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/ObjFile.h"
#include "host/Object.h"
#include "host/StatusBar.h"
#include "mixkit/ReferenceFrame.h"
#include "mixkit/ShapeMeasures.h"
#include "mixkit/Decimator.h"
#include "mixkit/UnTriag3.h"
#include "reduction/QuadSplit.h"
#include "reduction/ReductionItem.h"
#include "sources/HostInterface.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSliver = 0.2;
constexpr double kFoldCosine = -0.8660254037844386;  // cos 150 degrees

Vector widen(const host::Vec3f& p) { return Vector{p.x, p.y, p.z}; }

// ---- surfaces ----------------------------------------------------------------------------------

struct Triangle {
    Vector a, b, c;
};

std::vector<Triangle> triangles(const std::vector<host::Vec3f>& points, const std::vector<host::Polygon>& polygons) {
    std::vector<Triangle> out;
    out.reserve(polygons.size() * 2);
    for (const host::Polygon& q : polygons) {
        if (q.a == q.b && q.b == q.c) continue;
        out.push_back({widen(points[q.a]), widen(points[q.b]), widen(points[q.c])});
        if (q.c != q.d) out.push_back({widen(points[q.a]), widen(points[q.c]), widen(points[q.d])});
    }
    return out;
}

// Closest point on a triangle (the region tests of the Voronoi regions of its corners and sides).
Vector closestOnTriangle(const Vector& p, const Triangle& t) {
    const Vector ab = subtract(t.b, t.a), ac = subtract(t.c, t.a), ap = subtract(p, t.a);
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return t.a;
    const Vector bp = subtract(p, t.b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return t.b;
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return add(t.a, scale(ab, d1 / (d1 - d3)));
    const Vector cp = subtract(p, t.c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return t.c;
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return add(t.a, scale(ac, d2 / (d2 - d6)));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
        return add(t.b, scale(subtract(t.c, t.b), (d4 - d3) / ((d4 - d3) + (d5 - d6))));
    const double denom = va + vb + vc;
    if (denom == 0.0) return t.a;
    const double v = vb / denom, w = vc / denom;
    return add(t.a, add(scale(ab, v), scale(ac, w)));
}

// Triangles bucketed in a uniform grid of cells about two triangles wide; nearest-triangle queries
// search rings of cells outwards until no nearer triangle can be left.
class TriangleGrid {
public:
    explicit TriangleGrid(std::vector<Triangle> tris) : tris_(std::move(tris)) {
        Vector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
        double area = 0.0;
        for (const Triangle& t : tris_) {
            for (const Vector& p : {t.a, t.b, t.c}) {
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
            area += 0.5 * length(cross(subtract(t.b, t.a), subtract(t.c, t.a)));
        }
        lo_ = lo;
        const Vector extent = subtract(hi, lo);
        const double longest = std::max({extent.x, extent.y, extent.z, 1e-30});
        cell_ = std::max(2.0 * std::sqrt(area / std::max<size_t>(tris_.size(), 1)), longest / 400.0);
        n_[0] = std::max(1, static_cast<int>(extent.x / cell_) + 1);
        n_[1] = std::max(1, static_cast<int>(extent.y / cell_) + 1);
        n_[2] = std::max(1, static_cast<int>(extent.z / cell_) + 1);
        std::vector<int> counts(static_cast<size_t>(n_[0]) * n_[1] * n_[2] + 1, 0);
        auto each = [&](const Triangle& t, const std::function<void(size_t)>& f) {
            int a[3], b[3];
            for (int k = 0; k < 3; ++k) {
                const double mn = std::min({get(t.a, k), get(t.b, k), get(t.c, k)});
                const double mx = std::max({get(t.a, k), get(t.b, k), get(t.c, k)});
                a[k] = clampCell(k, mn);
                b[k] = clampCell(k, mx);
            }
            for (int z = a[2]; z <= b[2]; ++z)
                for (int y = a[1]; y <= b[1]; ++y)
                    for (int x = a[0]; x <= b[0]; ++x) f(index(x, y, z));
        };
        for (const Triangle& t : tris_) each(t, [&](size_t c) { ++counts[c + 1]; });
        for (size_t i = 1; i < counts.size(); ++i) counts[i] += counts[i - 1];
        start_ = counts;
        items_.resize(counts.back());
        for (size_t i = 0; i < tris_.size(); ++i)
            each(tris_[i], [&](size_t c) { items_[counts[c]++] = static_cast<int>(i); });
        stamp_.assign(tris_.size(), 0);
    }

    double distance(const Vector& p) {
        const int c[3] = {clampCell(0, p.x), clampCell(1, p.y), clampCell(2, p.z)};
        double best = 1e300;
        ++visit_;
        const int most = std::max({n_[0], n_[1], n_[2]});
        for (int r = 0; r <= most; ++r) {
            for (int z = c[2] - r; z <= c[2] + r; ++z) {
                if (z < 0 || z >= n_[2]) continue;
                for (int y = c[1] - r; y <= c[1] + r; ++y) {
                    if (y < 0 || y >= n_[1]) continue;
                    const bool rim = z == c[2] - r || z == c[2] + r || y == c[1] - r || y == c[1] + r;
                    for (int x = c[0] - r; x <= c[0] + r; x += (rim ? 1 : std::max(1, 2 * r))) {
                        if (x < 0 || x >= n_[0]) continue;
                        const size_t cell = index(x, y, z);
                        for (int i = start_[cell]; i < start_[cell + 1]; ++i) {
                            const int t = items_[i];
                            if (stamp_[t] == visit_) continue;
                            stamp_[t] = visit_;
                            const Vector d = subtract(p, closestOnTriangle(p, tris_[t]));
                            best = std::min(best, dot(d, d));
                        }
                    }
                }
            }
            if (best < 1e300 && std::sqrt(best) <= r * cell_) break;
        }
        return std::sqrt(best);
    }

    const std::vector<Triangle>& tris() const { return tris_; }

private:
    static double get(const Vector& v, int k) { return k == 0 ? v.x : k == 1 ? v.y : v.z; }
    int clampCell(int k, double v) const {
        const int i = static_cast<int>(std::floor((v - get(lo_, k)) / cell_));
        return std::clamp(i, 0, n_[k] - 1);
    }
    size_t index(int x, int y, int z) const { return (static_cast<size_t>(z) * n_[1] + y) * n_[0] + x; }

    std::vector<Triangle> tris_;
    Vector lo_;
    double cell_ = 1.0;
    int n_[3] = {1, 1, 1};
    std::vector<int> start_, items_;
    std::vector<uint32_t> stamp_;
    uint32_t visit_ = 0;
};

// Points spread over the surface by area, from a fixed seed.
std::vector<Vector> samples(const std::vector<Triangle>& tris, int count, uint64_t seed) {
    std::vector<double> cumulative(tris.size());
    double total = 0.0;
    for (size_t i = 0; i < tris.size(); ++i) {
        total += 0.5 * length(cross(subtract(tris[i].b, tris[i].a), subtract(tris[i].c, tris[i].a)));
        cumulative[i] = total;
    }
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Vector> out;
    out.reserve(count);
    for (int s = 0; s < count && total > 0.0; ++s) {
        const size_t i = std::min(tris.size() - 1, static_cast<size_t>(std::lower_bound(cumulative.begin(), cumulative.end(),
                                                                                          unit(random) * total) -
                                                                         cumulative.begin()));
        const double r1 = std::sqrt(unit(random)), r2 = unit(random);
        const Triangle& t = tris[i];
        out.push_back(add(scale(t.a, 1 - r1), add(scale(t.b, r1 * (1 - r2)), scale(t.c, r1 * r2))));
    }
    return out;
}

// ---- measures of one result ------------------------------------------------------------------

struct Measures {
    int points = 0, polygons = 0, folds = 0;
    double quadShare = 0, rms = 0, max = 0, sliverShare = 0, angleP1 = 0;
    bool ok = false;
};

Vector polygonNormal(const std::vector<host::Vec3f>& pts, const host::Polygon& q) {
    const Vector a = widen(pts[q.a]), b = widen(pts[q.b]), c = widen(pts[q.c]);
    if (q.c == q.d) return normalize(cross(subtract(b, a), subtract(c, a)));
    return normalize(cross(subtract(b, widen(pts[q.d])), subtract(c, a)));
}

void measureShape(const std::vector<host::Vec3f>& pts, const std::vector<host::Polygon>& polys, Measures& m) {
    std::vector<char> used(pts.size(), 0);
    std::vector<double> angles;
    int quads = 0, slivers = 0, live = 0;
    std::unordered_map<uint64_t, std::pair<int, int>> edges;  // edge -> first polygon, count
    edges.reserve(polys.size() * 4);
    for (size_t f = 0; f < polys.size(); ++f) {
        const host::Polygon& q = polys[f];
        if (q.a == q.b && q.b == q.c) continue;
        ++live;
        const bool quad = q.c != q.d;
        const int c[4] = {q.a, q.b, q.c, q.d};
        const int n = quad ? 4 : 3;
        Vector p[4];
        for (int k = 0; k < n; ++k) {
            used[c[k]] = 1;
            p[k] = widen(pts[c[k]]);
        }
        quads += quad;
        const double compact = quad ? quadCompactness(p[0], p[1], p[2], p[3]) : triangleCompactness(p[0], p[1], p[2]);
        slivers += compact < kSliver;
        for (int k = 0; k < n; ++k) angles.push_back(cornerAngle(p[(k + n - 1) % n], p[k], p[(k + 1) % n]));
        for (int k = 0; k < n; ++k) {
            const uint32_t u = static_cast<uint32_t>(std::min(c[k], c[(k + 1) % n]));
            const uint32_t v = static_cast<uint32_t>(std::max(c[k], c[(k + 1) % n]));
            auto [it, fresh] = edges.try_emplace((static_cast<uint64_t>(u) << 32) | v, static_cast<int>(f), 0);
            if (!fresh && it->second.second == 1) {
                const double d = dot(polygonNormal(pts, polys[it->second.first]), polygonNormal(pts, q));
                m.folds += d < kFoldCosine;
            }
            ++it->second.second;
        }
    }
    m.points = static_cast<int>(std::count(used.begin(), used.end(), 1));
    m.polygons = live;
    m.quadShare = live ? static_cast<double>(quads) / live : 0;
    m.sliverShare = live ? static_cast<double>(slivers) / live : 0;
    if (!angles.empty()) {
        const size_t at = angles.size() / 100;
        std::nth_element(angles.begin(), angles.begin() + at, angles.end());
        m.angleP1 = angles[at] * 180.0 / kPi;
    }
}

void measureError(TriangleGrid& original, const std::vector<Vector>& originalSamples, const std::vector<host::Vec3f>& pts,
                  const std::vector<host::Polygon>& polys, double diagonal, int sampleCount, Measures& m) {
    TriangleGrid reduced(triangles(pts, polys));
    double sum = 0, worst = 0;
    size_t n = 0;
    for (const Vector& p : originalSamples) {
        const double d = reduced.distance(p);
        sum += d * d;
        worst = std::max(worst, d);
        ++n;
    }
    for (const Vector& p : samples(reduced.tris(), sampleCount, 0x5eed2)) {
        const double d = original.distance(p);
        sum += d * d;
        worst = std::max(worst, d);
        ++n;
    }
    m.rms = n ? std::sqrt(sum / n) / diagonal : 0;
    m.max = worst / diagonal;
}

// ---- the three ways of reducing -----------------------------------------------------------------

struct Input {
    std::string name;
    std::unique_ptr<host::Document> doc;
    host::PolygonObject* object = nullptr;  // at natural size
    // The units it is measured at, and the shares of points it is reduced to.
    std::vector<double> units{0.01, 100.0};
    std::vector<double> shares{0.5, 0.1, 0.01};
    // The point count the shares are of (0: its own); a denser copy of one surface is reduced to
    // the counts of the coarse one.
    int shareOf = 0;
};

host::PolygonObject* copyScaled(host::Document& doc, const host::PolygonObject& from, double factor) {
    auto copy = std::make_unique<host::PolygonObject>(from.name());
    copy->copyStateFrom(from);
    for (host::Vec3f& p : copy->points)
        p = {static_cast<float>(p.x * factor), static_cast<float>(p.y * factor), static_cast<float>(p.z * factor)};
    host::PolygonObject* raw = copy.get();
    doc.insert(std::move(copy));
    return raw;
}

// The command's pipeline on a copy; false when it failed.
bool reduceOurs(host::PolygonObject* obj, int32_t target, bool checks, double diagonal, double& seconds) {
    ReductionItem item;
    if (!item.make(HostPolygonObject(host::toHandle(obj)), 0)) return false;
    if (diagonal > 0) {
        ReferenceFrame f = item.mesh.frame();
        f.scale *= diagonal / REFERENCE_DIAGONAL;
        f.inverse = 1.0 / f.scale;
        item.mesh.setFrame(f);
    }
    ReductionSettings settings;
    settings.useChecks = checks ? 1 : 0;
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = item.reduceToCount(std::max(1, target), settings, false);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return ok;
}

void printRow(const char* way, const Measures& m);

// Where folds and error come from: the pipeline's steps one by one on a copy (the contraction,
// the bad-quad split, the quad rebuild), with the folds and errors after each.
void reduceInStages(host::PolygonObject* obj, int32_t target, TriangleGrid& original,
                    const std::vector<Vector>& originalSamples, double diag, int sampleCount) {
    ReductionItem item;
    if (!item.make(HostPolygonObject(host::toHandle(obj)), 0)) return;
    ReductionSettings settings;
    Decimator decimator;
    settings.applyTo(decimator);
    if (!decimator.initialise(&item.mesh, nullptr) || !decimator.decimateToCount(target, false, nullptr)) return;
    item.mesh.attributes().writeBackPointSets();
    auto report = [&](const char* stage) {
        std::vector<host::Polygon> live;
        for (const host::Polygon& q : obj->polygons)
            if (!(q.a == 0 && q.b == 0 && q.c == 0 && q.d == 0)) live.push_back(q);
        Measures m;
        measureShape(obj->points, live, m);
        measureError(original, originalSamples, obj->points, live, diag, sampleCount, m);
        printRow(stage, m);
    };
    report("contr.");
    splitBadQuads(HostPolygonObject(host::toHandle(obj)), item.polygonSet.view());
    report("split");
    {
        UnTriag3 quads;
        quads.run(HostPolygonObject(host::toHandle(obj)), item.polygonSet.view());
    }
    report("quads");
}

bool reduceOursToError(host::PolygonObject* obj, double limit) {
    ReductionItem item;
    if (!item.make(HostPolygonObject(host::toHandle(obj)), 0)) return false;
    ReductionSettings settings;
    return item.reduceToError(limit, settings, false);
}

void reducePeer(const host::PolygonObject& obj, double share, std::vector<host::Vec3f>& pts,
                std::vector<host::Polygon>& polys) {
    // A share of the triangles: about the same share of the points on a closed or nearly closed
    // surface.
    std::vector<unsigned int> indices;
    for (const host::Polygon& q : obj.polygons) {
        if (q.a == q.b && q.b == q.c) continue;
        indices.insert(indices.end(), {unsigned(q.a), unsigned(q.b), unsigned(q.c)});
        if (q.c != q.d) indices.insert(indices.end(), {unsigned(q.a), unsigned(q.c), unsigned(q.d)});
    }
    const size_t target = static_cast<size_t>(static_cast<double>(indices.size()) * share) / 3 * 3;
    std::vector<unsigned int> kept(indices.size());
    kept.resize(meshopt_simplify(kept.data(), indices.data(), indices.size(), &obj.points[0].x, obj.points.size(),
                                 sizeof(host::Vec3f), target, 1.0f, 0, nullptr));
    pts = obj.points;
    polys.clear();
    for (size_t k = 0; k + 2 < kept.size(); k += 3)
        polys.push_back({int(kept[k]), int(kept[k + 1]), int(kept[k + 2]), int(kept[k + 2])});
}

// ---- the meshes --------------------------------------------------------------------------------

host::PolygonObject* adopt(Input& in, std::vector<host::Vec3f> pts, std::vector<host::Polygon> polys) {
    auto obj = std::make_unique<host::PolygonObject>(in.name);
    obj->points = std::move(pts);
    obj->polygons = std::move(polys);
    obj->resize(static_cast<int>(obj->points.size()), static_cast<int>(obj->polygons.size()));
    in.object = obj.get();
    in.doc->insert(std::move(obj));
    return in.object;
}

// A triangulated sphere of radius 1 with a noisy surface (as a scan would give) and three holes.
void makeScannedSphere(Input& in, int rings) {
    const int segments = 2 * rings;
    std::mt19937_64 random(0x5ca7);
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<host::Vec3f> pts;
    pts.push_back({0, 0, 1});
    for (int i = 1; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            const double theta = kPi * i / rings, phi = 2 * kPi * (j + 0.5 * (i % 2)) / segments;
            const double r = 1.0 + 0.03 * std::sin(5 * theta) * std::cos(3 * phi) + noise(random);
            pts.push_back({float(r * std::sin(theta) * std::cos(phi)), float(r * std::sin(theta) * std::sin(phi)),
                           float(r * std::cos(theta))});
        }
    pts.push_back({0, 0, -1});
    const int south = static_cast<int>(pts.size()) - 1;
    auto at = [&](int i, int j) { return 1 + (i - 1) * segments + (j % segments); };
    std::vector<host::Polygon> polys;
    for (int j = 0; j < segments; ++j) polys.push_back({0, at(1, j), at(1, j + 1), at(1, j + 1)});
    for (int i = 1; i + 1 < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            polys.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i + 1, j + 1)});
            polys.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1), at(i, j + 1)});
        }
    for (int j = 0; j < segments; ++j) polys.push_back({south, at(rings - 1, j + 1), at(rings - 1, j), at(rings - 1, j)});
    // Holes: polygons whose first corner lies within a cap around three directions.
    const Vector holes[3] = {normalize({1, 0.2, 0.1}), normalize({-0.3, 1, 0.4}), normalize({0.2, -0.5, -1})};
    const double caps[3] = {0.995, 0.99, 0.998};
    std::vector<host::Polygon> kept;
    for (const host::Polygon& q : polys) {
        const Vector p = normalize(widen(pts[q.a]));
        bool cut = false;
        for (int h = 0; h < 3; ++h) cut = cut || dot(p, holes[h]) > caps[h];
        if (!cut) kept.push_back(q);
    }
    adopt(in, std::move(pts), std::move(kept));
}

// A box of quads (n x n per face) with rounded edges of radius r: creases where the rounding is
// tight, flat faces between.
void makeRoundedBox(Input& in, int n, double radius) {
    std::map<std::tuple<int, int, int>, int> index;
    std::vector<host::Vec3f> pts;
    std::vector<host::Polygon> polys;
    auto point = [&](int x, int y, int z) {
        auto [it, fresh] = index.try_emplace({x, y, z}, static_cast<int>(pts.size()));
        if (fresh) {
            const Vector p{2.0 * x / n - 1, 2.0 * y / n - 1, 2.0 * z / n - 1};
            const double inner = 1.0 - radius;
            const Vector core{std::clamp(p.x, -inner, inner), std::clamp(p.y, -inner, inner), std::clamp(p.z, -inner, inner)};
            const Vector out = add(core, scale(normalize(subtract(p, core)), radius));
            pts.push_back({float(out.x), float(out.y), float(out.z)});
        }
        return it->second;
    };
    // Each face as (axis, side); corners ordered so that normals point outwards.
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side <= 1; ++side)
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    int c[4][3];
                    const int du[4] = {0, 1, 1, 0}, dv[4] = {0, 0, 1, 1};
                    for (int k = 0; k < 4; ++k) {
                        c[k][axis] = side * n;
                        c[k][(axis + 1) % 3] = i + du[k];
                        c[k][(axis + 2) % 3] = j + dv[k];
                    }
                    int q[4];
                    for (int k = 0; k < 4; ++k) q[k] = point(c[k][0], c[k][1], c[k][2]);
                    if (side == 1)
                        polys.push_back({q[0], q[1], q[2], q[3]});
                    else
                        polys.push_back({q[0], q[3], q[2], q[1]});
                }
    adopt(in, std::move(pts), std::move(polys));
}

bool loadObj(Input& in, const std::string& path) {
    std::vector<host::Object*> loaded;
    std::string error;
    if (!host::readObj(path, *in.doc, &loaded, &error) || loaded.empty()) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    in.object = static_cast<host::PolygonObject*>(loaded.front());
    return true;
}

double diagonalOf(const std::vector<host::Vec3f>& pts) {
    Vector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const host::Vec3f& p : pts) {
        lo = {std::min<double>(lo.x, p.x), std::min<double>(lo.y, p.y), std::min<double>(lo.z, p.z)};
        hi = {std::max<double>(hi.x, p.x), std::max<double>(hi.y, p.y), std::max<double>(hi.z, p.z)};
    }
    return length(subtract(hi, lo));
}

// One row of the closing table: a mesh at one unit and share, with the three ways' measures.
struct Summary {
    std::string name;
    double unit = 1.0, share = 0.0;
    Measures input, ours, plain, peer;
};

// The decisions in one table: ours against the peer (RMS and max), folds against the input's,
// slivers against the plain reduction's, and the quad share; a dense copy of a surface is also
// compared with its coarse original at the same count.
void printSummary(const std::vector<Summary>& rows) {
    std::printf("\nsummary (ours/peer; folds ours/peer/input; slivers ours/plain; quads ours)\n");
    std::printf("    %-14s %7s %5s %8s %8s %14s %15s %6s\n", "mesh", "unit", "share", "rms", "max", "folds", "slivers %",
                "quads");
    for (const Summary& r : rows) {
        char folds[32], slivers[32];
        std::snprintf(folds, sizeof folds, "%d/%d/%d", r.ours.folds, r.peer.folds, r.input.folds);
        std::snprintf(slivers, sizeof slivers, "%.2f/%.2f", 100 * r.ours.sliverShare, 100 * r.plain.sliverShare);
        std::printf("    %-14s %7g %4g%% %7.2fx %7.2fx %14s %15s %5.1f%%\n", r.name.c_str(), r.unit, 100 * r.share,
                    r.ours.rms / r.peer.rms, r.ours.max / r.peer.max, folds, slivers, 100 * r.ours.quadShare);
    }
    for (const Summary& dense : rows) {
        if (dense.name != "surface-16x") continue;
        for (const Summary& coarse : rows)
            if (coarse.name == "surface-1x" && coarse.share == dense.share)
                std::printf("    16x/1x at %g%%: rms %.3f  max %.3f\n", 100 * dense.share, dense.ours.rms / coarse.ours.rms,
                            dense.ours.max / coarse.ours.max);
    }
}

void printRow(const char* way, const Measures& m) {
    std::printf("    %-6s %8d %8d %5.1f%% %9.3e %9.3e %6.2f%% %6.1f %6d\n", way, m.points, m.polygons, 100 * m.quadShare,
                m.rms, m.max, 100 * m.sliverShare, m.angleP1, m.folds);
}

}  // namespace

int main(int argc, char** argv) {
    bool full = false, stages = false;
    double diagonal = 0;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0)
            full = true;
        else if (std::strcmp(argv[i], "--diagonal") == 0 && i + 1 < argc)
            diagonal = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--stages") == 0)
            stages = true;
        else if (std::strcmp(argv[i], "--mesh") == 0 && i + 1 < argc)
            only = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--full] [--diagonal D] [--mesh NAME] [--stages]\n", argv[0]);
            return 2;
        }
    }
    const fs::path bin = fs::absolute(fs::path(argv[0])).parent_path();
    host::StatusBar::main().setQuiet(true);
    if (hst_main(HST_ACTION_INIT, const_cast<HostApi*>(host::hostApi()), nullptr,
                 const_cast<char*>(bin.string().c_str())) != 1) {
        std::fprintf(stderr, "the module did not start\n");
        return 1;
    }

    std::vector<Input> inputs;
    auto add = [&](const std::string& name) -> Input* {
        if (!only.empty() && name.find(only) == std::string::npos) return nullptr;
        inputs.push_back(Input{name, std::make_unique<host::Document>(), nullptr});
        return &inputs.back();
    };
    if (Input* in = add("sample"); in && !loadObj(*in, std::string(VEXLOR_SOURCE_DIR) + "/samples/sample.obj")) return 1;
    if (Input* in = add("scan-sphere")) makeScannedSphere(*in, full ? 224 : 70);
    if (Input* in = add("seam-grid")) {
        char folder[] = "/tmp/vexlor-quality-XXXXXX";
        if (mkdtemp(folder) == nullptr) return 1;
        const std::string path = std::string(folder) + "/grid.obj";
        std::ofstream(path, std::ios::binary) << bench::makeGrid(full ? 708 : 150);
        const bool ok = loadObj(*in, path);
        fs::remove_all(folder);
        if (!ok) return 1;
    }
    if (Input* in = add("rounded-box")) makeRoundedBox(*in, full ? 64 : 32, 0.1);
    // A sculpt: every point of a dense quad surface displaced by noise at several frequencies and
    // by a jitter of its own.
    if (Input* in = add("sculpt")) {
        std::vector<host::Vec3f> pts;
        std::vector<host::Polygon> polys;
        bench::displacedQuadSphere(full ? 289 : 72, 0.0004, pts, polys);
        adopt(*in, std::move(pts), std::move(polys));
        in->units = {1.0};
        in->shares = {0.1, 0.01};
    }
    // One displaced surface at two densities: the dense copy is the coarse one cut 4 x 4 times
    // (the same surface), reduced to the coarse one's counts.
    const int coarse = full ? 72 : 18;
    if (Input* in = add("surface-1x")) {
        std::vector<host::Vec3f> pts;
        std::vector<host::Polygon> polys;
        bench::displacedQuadSphere(coarse, 0.0, pts, polys);
        adopt(*in, std::move(pts), std::move(polys));
        in->units = {1.0};
        in->shares = {0.1, 0.01};
    }
    if (Input* in = add("surface-16x")) {
        std::vector<host::Vec3f> pts;
        std::vector<host::Polygon> polys;
        bench::displacedQuadSphere(coarse, 0.0, pts, polys);
        in->shareOf = static_cast<int>(pts.size());
        bench::subdividePlanar(4, pts, polys);
        adopt(*in, std::move(pts), std::move(polys));
        in->units = {1.0};
        in->shares = {0.1, 0.01};
    }

    const int sampleCount = full ? 100000 : 30000;
    // What an error limit means: the same limits on the sample at two units.
    for (Input& in : inputs) {
        if (in.name != "sample" || diagonal > 0) continue;
        std::printf("error limits on the sample (points left, rms and max over the diagonal):\n");
        for (double unit : {0.01, 100.0}) {
            host::Document& doc = *in.doc;
            host::PolygonObject* source = copyScaled(doc, *in.object, unit);
            TriangleGrid original(triangles(source->points, source->polygons));
            const std::vector<Vector> originalSamples = samples(original.tris(), sampleCount, 0x5eed1);
            host::setActiveDocument(&doc);
            for (double limit : {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0}) {
                host::PolygonObject* obj = copyScaled(doc, *source, 1.0);
                Measures m;
                m.ok = reduceOursToError(obj, limit);
                measureShape(obj->points, obj->polygons, m);
                measureError(original, originalSamples, obj->points, obj->polygons, diagonalOf(source->points),
                             sampleCount, m);
                std::printf("    x%-6g --error %-8g %8d points  rms %9.3e  max %9.3e%s\n", unit, limit, m.points, m.rms,
                            m.max, m.ok ? "" : "  (failed)");
                doc.remove(obj);
            }
            host::setActiveDocument(nullptr);
            doc.remove(source);
        }
    }
    std::printf("surface error over the bounding-box diagonal; slivers: compactness < %.1f; angle: 1st percentile "
                "(degrees); folds: edges over 150 degrees\n",
                kSliver);
    std::printf("frame diagonal: %g%s\n", diagonal > 0 ? diagonal : REFERENCE_DIAGONAL,
                diagonal > 0 ? " (overridden)" : " (the module's)");
    std::printf("    %-6s %8s %8s %6s %9s %9s %7s %6s %6s\n", "way", "points", "polys", "quads", "rms", "max", "slivers",
                "angle", "folds");
    std::vector<Summary> summary;
    for (Input& in : inputs) {
        for (double unit : in.units) {
            host::Document& doc = *in.doc;
            host::PolygonObject* source = copyScaled(doc, *in.object, unit);
            const double diag = diagonalOf(source->points);
            TriangleGrid original(triangles(source->points, source->polygons));
            const std::vector<Vector> originalSamples = samples(original.tris(), sampleCount, 0x5eed1);
            host::setActiveDocument(&doc);
            Measures input;
            measureShape(source->points, source->polygons, input);
            std::printf("%s x%g, as it comes\n", in.name.c_str(), unit);
            printRow("input", input);
            const int points = static_cast<int>(source->points.size());
            for (double share : in.shares) {
                const int target = std::max(1, static_cast<int>((in.shareOf > 0 ? in.shareOf : points) * share));
                std::printf("%s x%g, %d points -> %d (%g%% of %d)\n", in.name.c_str(), unit, points, target, share * 100,
                            in.shareOf > 0 ? in.shareOf : points);
                Measures ways[3];
                double seconds[2] = {0, 0};
                for (int w = 0; w < 2; ++w) {
                    host::PolygonObject* obj = copyScaled(doc, *source, 1.0);
                    ways[w].ok = reduceOurs(obj, target, w == 0, diagonal, seconds[w]);
                    measureShape(obj->points, obj->polygons, ways[w]);
                    measureError(original, originalSamples, obj->points, obj->polygons, diag, sampleCount, ways[w]);
                    doc.remove(obj);
                }
                std::vector<host::Vec3f> pts;
                std::vector<host::Polygon> polys;
                reducePeer(*source, static_cast<double>(target) / points, pts, polys);
                measureShape(pts, polys, ways[2]);
                ways[2].ok = true;
                measureError(original, originalSamples, pts, polys, diag, sampleCount, ways[2]);
                printRow("ours", ways[0]);
                printRow("plain", ways[1]);
                printRow("peer", ways[2]);
                if (stages) {
                    host::PolygonObject* obj = copyScaled(doc, *source, 1.0);
                    reduceInStages(obj, target, original, originalSamples, diag, sampleCount);
                    doc.remove(obj);
                }
                std::printf("    ours/peer rms %.2f max %.2f  ours/plain rms %.2f max %.2f slivers %.2f  (%.1f s, %.1f s)\n",
                            ways[0].rms / ways[2].rms, ways[0].max / ways[2].max, ways[0].rms / ways[1].rms,
                            ways[0].max / ways[1].max,
                            ways[1].sliverShare > 0 ? ways[0].sliverShare / ways[1].sliverShare : 0.0, seconds[0],
                            seconds[1]);
                if (!ways[0].ok || !ways[1].ok) std::printf("    (a reduction reported failure)\n");
                std::fflush(stdout);
                summary.push_back(Summary{in.name, unit, share, input, ways[0], ways[1], ways[2]});
            }
            host::setActiveDocument(nullptr);
            doc.remove(source);
        }
    }
    printSummary(summary);
    hst_main(HST_ACTION_END, const_cast<HostApi*>(host::hostApi()), nullptr, nullptr);
    return 0;
}
