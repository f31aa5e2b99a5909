// The benchmarks' test mesh as OBJ text: a gently curved grid of quads cut into triangles, with
// texture coordinates in two islands so that the middle column is a texture seam.
#pragma once

#include <array>
#include <cmath>
#include <string>

#include "tests/support/ObjGrid.h"

namespace bench {

inline std::string makeGrid(int quads) {
    return testsupport::objGridText({.quads = quads,
                                     .point =
                                         [quads](int i, int j) {
                                             const double x = 10.0 * i / quads, y = 10.0 * j / quads;
                                             return std::array<double, 3>{
                                                 x, y, 0.25 * std::sin(x) * std::cos(y) + 0.05 * std::sin(3.1 * x + 1.7 * y)};
                                         },
                                     .uv = testsupport::ObjUv::TwoIslands,
                                     .triangles = true,
                                     .name = "grid"});
}

}  // namespace bench
