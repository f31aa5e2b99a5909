// Checks that every test of a finished mesh makes: no corner outside the point array, no polygon
// with a repeated corner, no point left unused.
#pragma once

#include <string>
#include <vector>

#include "host/Object.h"

namespace testsupport {

// The first flaw of a finished mesh: a corner outside the point array, a polygon with a repeated
// corner (an empty one included), a point that no polygon uses; "" when there is none.
inline std::string meshFlaw(const host::PolygonObject& obj) {
    std::vector<int> uses(obj.points.size(), 0);
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.c == p.d ? 3 : 4;
        for (int k = 0; k < 4; ++k)
            if (corners[k] < 0 || corners[k] >= obj.pointCount())
                return "polygon " + std::to_string(i) + " points at the missing point " + std::to_string(corners[k]);
        for (int k = 0; k < n; ++k)
            for (int m = k + 1; m < n; ++m)
                if (corners[k] == corners[m]) return "polygon " + std::to_string(i) + " repeats a corner";
        for (int k = 0; k < n; ++k) ++uses[corners[k]];
    }
    for (size_t i = 0; i < uses.size(); ++i)
        if (uses[i] == 0) return "point " + std::to_string(i) + " is used by no polygon";
    return "";
}

}  // namespace testsupport
