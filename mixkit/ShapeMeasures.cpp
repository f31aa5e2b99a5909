#include "mixkit/ShapeMeasures.h"

#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

double cornerAngle(const Vector& a, const Vector& b, const Vector& c) {
    const double t = dot(normalize(subtract(a, b)), normalize(subtract(c, b)));
    if (t >= 1.0) return 0.0;
    if (t <= -1.0) return kPi;
    return std::acos(t);
}
