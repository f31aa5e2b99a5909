// Shape measures of triangles and quads used by the reduction's penalties and weightings.
#pragma once

#include "sources/Geometry.h"

namespace shape_detail {
constexpr double kTwoSqrt3 = 3.4641016151377544;
inline double squaredLength(const Vector& v) { return dot(v, v); }
}  // namespace shape_detail

// 2*sqrt(3) * |(p1 - p0) x (p2 - p0)| / (sum of squared side lengths): 1 for an equilateral
// triangle, 0 for a degenerate one; 1 when every side has length 0.
inline double triangleCompactness(const Vector& p0, const Vector& p1, const Vector& p2) {
    using namespace shape_detail;
    const Vector e0 = subtract(p1, p0);
    const Vector e2 = subtract(p2, p0);
    const double sides = squaredLength(e0) + squaredLength(subtract(p2, p1)) + squaredLength(subtract(p0, p2));
    if (sides == 0.0) return 1.0;
    return kTwoSqrt3 * length(cross(e0, e2)) / sides;
}

// 2 * (|(p1 - p0) x (p3 - p0)| + |(p3 - p2) x (p1 - p2)|) / (sum of squared side lengths): 1 for a
// square; 1 when every side has length 0.
inline double quadCompactness(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    using namespace shape_detail;
    const double sides = squaredLength(subtract(p1, p0)) + squaredLength(subtract(p2, p1)) +
                         squaredLength(subtract(p3, p2)) + squaredLength(subtract(p0, p3));
    if (sides == 0.0) return 1.0;
    const double first = length(cross(subtract(p1, p0), subtract(p3, p0)));
    const double second = length(cross(subtract(p3, p2), subtract(p1, p2)));
    return 2.0 * (first + second) / sides;
}

// The angle at b between a and c, in [0, pi]; a side of length 0 gives pi/2.
double cornerAngle(const Vector& a, const Vector& b, const Vector& c);
