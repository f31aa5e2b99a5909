// The benchmarks' test mesh as OBJ text: a gently curved grid of quads cut into triangles, with
// texture coordinates in two islands so that the middle column is a texture seam.
#pragma once

#include <charconv>
#include <cmath>
#include <string>

namespace bench {

inline void putFixed(std::string& s, double v) {
    char buf[32];
    s.append(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6).ptr);
}
inline void putInt(std::string& s, long v) {
    char buf[24];
    s.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The grid as OBJ text: points row by row; texture columns one more than the point columns, so that
// the seam column has a second coordinate for the right-hand island.
inline std::string makeGrid(int quads) {
    const int n = quads + 1, seam = quads / 2, texColumns = n + 1;
    std::string s;
    s.reserve(static_cast<size_t>(quads) * quads * 64);
    s += "# generated grid\no grid\n";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double x = 10.0 * i / quads, y = 10.0 * j / quads;
            s += "v ";
            putFixed(s, x);
            s += ' ';
            putFixed(s, y);
            s += ' ';
            putFixed(s, 0.25 * std::sin(x) * std::cos(y) + 0.05 * std::sin(3.1 * x + 1.7 * y));
            s += '\n';
        }
    for (int j = 0; j < n; ++j)
        for (int c = 0; c < texColumns; ++c) {
            const int i = c > seam ? c - 1 : c;
            s += "vt ";
            putFixed(s, (c > seam ? 0.02 : 0.0) + 0.48 * i / quads);
            s += ' ';
            putFixed(s, static_cast<double>(j) / quads);
            s += '\n';
        }
    auto texColumn = [&](int i, bool right) { return right && i >= seam ? i + 1 : i; };
    for (int j = 0; j < quads; ++j)
        for (int i = 0; i < quads; ++i) {
            const bool right = i >= seam;
            const long p[4] = {static_cast<long>(j) * n + i + 1, static_cast<long>(j) * n + i + 2,
                               static_cast<long>(j + 1) * n + i + 2, static_cast<long>(j + 1) * n + i + 1};
            const long t[4] = {static_cast<long>(j) * texColumns + texColumn(i, right) + 1,
                               static_cast<long>(j) * texColumns + texColumn(i + 1, right) + 1,
                               static_cast<long>(j + 1) * texColumns + texColumn(i + 1, right) + 1,
                               static_cast<long>(j + 1) * texColumns + texColumn(i, right) + 1};
            const int tris[2][3] = {{0, 1, 2}, {0, 2, 3}};
            for (const auto& tri : tris) {
                s += 'f';
                for (int k : tri) {
                    s += ' ';
                    putInt(s, p[k]);
                    s += '/';
                    putInt(s, t[k]);
                }
                s += '\n';
            }
        }
    return s;
}

}  // namespace bench
