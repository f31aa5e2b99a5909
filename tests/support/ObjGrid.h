// Grid meshes as OBJ text, for the command-line tests and the benchmarks that read files: the
// points of a regular grid placed by a function, each cell a quad or two triangles, with no texture
// coordinates, one per point, or two islands split by a seam down the middle column.
#pragma once

#include <array>
#include <charconv>
#include <functional>
#include <initializer_list>
#include <string>

namespace testsupport {

enum class ObjUv {
    None,
    PerPoint,    // (i / quads, j / quads) at point (i, j), numbered like the points
    TwoIslands,  // u = 0.48 i / quads, plus 0.02 right of the seam column quads / 2, whose points get
                 // a coordinate on each side; v = j / quads
};

struct ObjGrid {
    int quads = 1;  // cells across and down
    std::function<std::array<double, 3>(int i, int j)> point{};
    ObjUv uv = ObjUv::None;
    bool triangles = false;     // each cell as (p00, p10, p11) and (p00, p11, p01)
    std::string name{};         // an "o" line first, when given
    int firstPoint = 0;         // points (and per-point texture coordinates) earlier in the same file
    bool shortNumbers = false;  // numbers to 6 significant digits rather than 6 decimals
};

inline std::string objGridText(const ObjGrid& g) {
    std::string s;
    auto number = [&s, &g](double v) {
        char buf[48];
        const auto r = g.shortNumbers ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6)
                                      : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
        s.append(buf, r.ptr);
    };
    auto whole = [&s](long v) {
        char buf[24];
        s.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    };
    const int n = g.quads + 1, seam = g.quads / 2, texColumns = n + 1;
    s.reserve(static_cast<size_t>(g.quads) * g.quads * (g.uv == ObjUv::None ? 40 : 64));
    if (!g.name.empty()) s += "o " + g.name + "\n";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const std::array<double, 3> p = g.point(i, j);
            s += "v ";
            number(p[0]);
            s += ' ';
            number(p[1]);
            s += ' ';
            number(p[2]);
            s += '\n';
        }
    auto texture = [&](double u, double v) {
        s += "vt ";
        number(u);
        s += ' ';
        number(v);
        s += '\n';
    };
    if (g.uv == ObjUv::PerPoint)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) texture(static_cast<double>(i) / g.quads, static_cast<double>(j) / g.quads);
    if (g.uv == ObjUv::TwoIslands)
        for (int j = 0; j < n; ++j)
            for (int c = 0; c < texColumns; ++c) {
                const int i = c > seam ? c - 1 : c;
                texture((c > seam ? 0.02 : 0.0) + 0.48 * i / g.quads, static_cast<double>(j) / g.quads);
            }
    auto pointNumber = [&](int i, int j) { return g.firstPoint + static_cast<long>(j) * n + i + 1; };
    auto textureNumber = [&](int i, int j, bool right) {
        if (g.uv == ObjUv::PerPoint) return pointNumber(i, j);
        return static_cast<long>(j) * texColumns + (right && i >= seam ? i + 1 : i) + 1;
    };
    for (int j = 0; j < g.quads; ++j)
        for (int i = 0; i < g.quads; ++i) {
            const bool right = i >= seam;
            const int ci[4] = {i, i + 1, i + 1, i}, cj[4] = {j, j, j + 1, j + 1};
            auto face = [&](std::initializer_list<int> corners) {
                s += 'f';
                for (int k : corners) {
                    s += ' ';
                    whole(pointNumber(ci[k], cj[k]));
                    if (g.uv == ObjUv::None) continue;
                    s += '/';
                    whole(textureNumber(ci[k], cj[k], right));
                }
                s += '\n';
            };
            if (g.triangles) {
                face({0, 1, 2});
                face({0, 2, 3});
            } else {
                face({0, 1, 2, 3});
            }
        }
    return s;
}

}  // namespace testsupport
