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

// The penalty loop's shortcuts. Each gives exactly the value of the plain formula above (the same
// bits), and skips the square roots and divisions only where a comparison with a wide margin
// (1e-9, against rounding of a few units in 1e-16) decides the result, inside a range of magnitudes
// where nothing underflows or overflows; anything else takes the plain formula.
namespace shape_detail {
constexpr double kDecidedMargin = 1e-9;
constexpr double kSmallest = 1e-100;
constexpr double kLargest = 1e100;
inline bool inSafeRange(double v) { return v > kSmallest && v < kLargest; }
}  // namespace shape_detail

// dot(normalize(n), normalize(m)) < 0: whether a polygon whose unnormalised normal m would become n
// turns over. The plain dot product of the two unnormalised normals decides unless it lies within
// rounding of 0 (the margin scales with both lengths, as the product does); only then are they
// normalised.
inline bool turnsOver(const Vector& n, const Vector& m) {
    using namespace shape_detail;
    const double nn = dot(n, n);
    const double mm = dot(m, m);
    if (nn > kSmallest * kSmallest && nn < kLargest * kLargest && mm > kSmallest * kSmallest &&
        mm < kLargest * kLargest) {
        const double d = dot(n, m);
        const double size = std::fabs(n.x * m.x) + std::fabs(n.y * m.y) + std::fabs(n.z * m.z);
        const double margin = kDecidedMargin * size + kSmallest * kSmallest;
        if (d > margin) return false;
        if (d < -margin) return true;
    }
    return dot(normalize(n), normalize(m)) < 0.0;
}

// min(least, triangleCompactness(p0, p1, p2)) given e0 = p1 - p0 and area2 = e0 x (p2 - p0).
inline double leastTriangleCompactness(double least, const Vector& p0, const Vector& p1, const Vector& p2,
                                       const Vector& e0, const Vector& area2) {
    using namespace shape_detail;
    const double sides = squaredLength(e0) + squaredLength(subtract(p2, p1)) + squaredLength(subtract(p0, p2));
    if (sides == 0.0) return 1.0 < least ? 1.0 : least;
    // (2 sqrt 3)^2 = 12: the squared compactness times sides^2 against the squared bound.
    if (inSafeRange(sides) && least > 0.0) {
        const double bound = least * sides;
        if (12.0 * dot(area2, area2) >= bound * bound * (1.0 + kDecidedMargin)) return least;
    }
    const double c = kTwoSqrt3 * length(area2) / sides;
    return c < least ? c : least;
}

// min(least, quadCompactness(p0, p1, p2, p3)).
inline double leastQuadCompactness(double least, const Vector& p0, const Vector& p1, const Vector& p2,
                                   const Vector& p3) {
    using namespace shape_detail;
    const double sides = squaredLength(subtract(p1, p0)) + squaredLength(subtract(p2, p1)) +
                         squaredLength(subtract(p3, p2)) + squaredLength(subtract(p0, p3));
    if (sides == 0.0) return 1.0 < least ? 1.0 : least;
    const Vector c1 = cross(subtract(p1, p0), subtract(p3, p0));
    const Vector c2 = cross(subtract(p3, p2), subtract(p1, p2));
    if (inSafeRange(sides) && least > 0.0) {
        // (|c1| + |c2|)^2 >= |c1|^2 + |c2|^2 + 2 min(|c1|^2, |c2|^2).
        const double a = dot(c1, c1);
        const double b = dot(c2, c2);
        const double bound = least * sides;
        if (4.0 * (a + b + 2.0 * (a < b ? a : b)) >= bound * bound * (1.0 + kDecidedMargin)) return least;
    }
    const double c = 2.0 * (length(c1) + length(c2)) / sides;
    return c < least ? c : least;
}
