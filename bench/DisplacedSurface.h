// Sculpt-like test surfaces for the quality benchmark: a sphere of quads (a cube's faces, n x n
// each, pushed onto the sphere) displaced along its normal by noise at several frequencies, with
// an optional random jitter per point (the fine noise of a sculpt or a scan), and a planar
// subdivision that splits every quad k x k times without changing the surface.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "host/Object.h"
#include "sources/Geometry.h"

namespace bench {

// Smooth noise as sums of plane waves in fixed random directions: five octaves from the sphere's
// size down to about a tenth of it, each a third of the one before in amplitude.
class OctaveNoise {
public:
    OctaveNoise() {
        std::mt19937_64 random(0x0c7a5);
        std::normal_distribution<double> gauss(0.0, 1.0);
        std::uniform_real_distribution<double> phase(0.0, 6.283185307179586);
        const double frequencies[kOctaves] = {2.0, 5.0, 13.0, 31.0, 73.0};
        const double amplitudes[kOctaves] = {0.08, 0.03, 0.012, 0.004, 0.0015};
        for (int o = 0; o < kOctaves; ++o)
            for (int w = 0; w < kWaves; ++w) {
                Wave& v = waves_[o * kWaves + w];
                v.direction = scale(normalize(Vector{gauss(random), gauss(random), gauss(random)}), frequencies[o]);
                v.phase = phase(random);
                v.amplitude = amplitudes[o] / std::sqrt(static_cast<double>(kWaves));
            }
    }
    double at(const Vector& p) const {
        double sum = 0.0;
        for (const Wave& w : waves_) sum += w.amplitude * std::sin(dot(w.direction, p) + w.phase);
        return sum;
    }

private:
    static constexpr int kOctaves = 5;
    static constexpr int kWaves = 6;
    struct Wave {
        Vector direction;
        double phase = 0.0;
        double amplitude = 0.0;
    };
    Wave waves_[kOctaves * kWaves];
};

// The displaced quad sphere: 6 n^2 quads, 6 n^2 + 2 points, normals outwards. `jitter` is the
// standard deviation of the extra random displacement of each point (0: none).
inline void displacedQuadSphere(int n, double jitter, std::vector<host::Vec3f>& pts, std::vector<host::Polygon>& polys) {
    const OctaveNoise noise;
    std::mt19937_64 random(0x5c41);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::unordered_map<int64_t, int> index;
    index.reserve(static_cast<size_t>(6) * (n + 1) * (n + 1));
    pts.clear();
    polys.clear();
    auto point = [&](int x, int y, int z) {
        const int64_t key = (static_cast<int64_t>(x) * (n + 1) + y) * (n + 1) + z;
        auto [it, fresh] = index.try_emplace(key, static_cast<int>(pts.size()));
        if (fresh) {
            const Vector unit = normalize(Vector{2.0 * x / n - 1, 2.0 * y / n - 1, 2.0 * z / n - 1});
            const double r = 1.0 + noise.at(unit) + (jitter > 0.0 ? jitter * gauss(random) : 0.0);
            pts.push_back({static_cast<float>(r * unit.x), static_cast<float>(r * unit.y), static_cast<float>(r * unit.z)});
        }
        return it->second;
    };
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side <= 1; ++side)
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    const int du[4] = {0, 1, 1, 0}, dv[4] = {0, 0, 1, 1};
                    int q[4];
                    for (int k = 0; k < 4; ++k) {
                        int c[3];
                        c[axis] = side * n;
                        c[(axis + 1) % 3] = i + du[k];
                        c[(axis + 2) % 3] = j + dv[k];
                        q[k] = point(c[0], c[1], c[2]);
                    }
                    if (side == 1)
                        polys.push_back({q[0], q[1], q[2], q[3]});
                    else
                        polys.push_back({q[0], q[3], q[2], q[1]});
                }
}

// Every quad (a, b, c, d) split into k x k quads on the two triangles (a, b, c) and (a, c, d) that
// the quad stands for: the new points lie on those triangles and the new quads along the diagonal
// fold exactly on it, so the triangulated surface is the same. Points on a shared edge are shared.
inline void subdividePlanar(int k, std::vector<host::Vec3f>& pts, std::vector<host::Polygon>& polys) {
    const std::vector<host::Vec3f> corners = pts;
    const std::vector<host::Polygon> quads = polys;
    auto at = [&](int i) { return Vector{corners[i].x, corners[i].y, corners[i].z}; };
    auto store = [&](const Vector& p) {
        pts.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
        return static_cast<int>(pts.size()) - 1;
    };
    std::unordered_map<int64_t, int> edgePoints;  // (low end, high end, step from the low end)
    auto onEdge = [&](int u, int v, int step) {   // the point `step` of k along u -> v
        if (step == 0) return u;
        if (step == k) return v;
        const int lo = u < v ? u : v, hi = u < v ? v : u;
        const int s = u < v ? step : k - step;
        const int64_t key = (static_cast<int64_t>(lo) * static_cast<int64_t>(corners.size()) + hi) * (k + 1) + s;
        auto [it, fresh] = edgePoints.try_emplace(key, 0);
        if (fresh) {
            const double t = static_cast<double>(s) / k;
            it->second = store(add(scale(at(lo), 1.0 - t), scale(at(hi), t)));
        }
        return it->second;
    };
    polys.clear();
    std::vector<int> grid(static_cast<size_t>(k + 1) * (k + 1));
    for (const host::Polygon& q : quads) {
        const Vector a = at(q.a), b = at(q.b), c = at(q.c), d = at(q.d);
        for (int j = 0; j <= k; ++j)
            for (int i = 0; i <= k; ++i) {
                int& g = grid[static_cast<size_t>(j) * (k + 1) + i];
                if (j == 0)
                    g = onEdge(q.a, q.b, i);
                else if (i == k)
                    g = onEdge(q.b, q.c, j);
                else if (j == k)
                    g = onEdge(q.d, q.c, i);
                else if (i == 0)
                    g = onEdge(q.a, q.d, j);
                else {
                    const double u = static_cast<double>(i) / k, v = static_cast<double>(j) / k;
                    // (u, v) over a (0, 0), b (1, 0), c (1, 1), d (0, 1): triangle abc below the
                    // diagonal, acd above it.
                    const Vector p = u >= v ? add(a, add(scale(subtract(b, a), u - v), scale(subtract(c, a), v)))
                                            : add(a, add(scale(subtract(c, a), u), scale(subtract(d, a), v - u)));
                    g = store(p);
                }
            }
        for (int j = 0; j < k; ++j)
            for (int i = 0; i < k; ++i) {
                const int p00 = grid[static_cast<size_t>(j) * (k + 1) + i];
                const int p10 = grid[static_cast<size_t>(j) * (k + 1) + i + 1];
                const int p11 = grid[static_cast<size_t>(j + 1) * (k + 1) + i + 1];
                const int p01 = grid[static_cast<size_t>(j + 1) * (k + 1) + i];
                polys.push_back({p00, p10, p11, p01});
            }
    }
}

}  // namespace bench
