#include "mixkit/SolveCoefficients.h"

#include <cmath>

namespace {

constexpr double kFlat = 1e-7;

// Twice the signed area of a triangle seen in the y-z plane.
double areaYZ(const Vector& q0, const Vector& q1, const Vector& q2) {
    return (q2.y * q0.z - q2.z * q0.y) + (q2.z * q1.y - q2.y * q1.z) + (q0.y * q1.z - q0.z * q1.y);
}
// Twice the signed area in the x-z plane.
double areaXZ(const Vector& q0, const Vector& q1, const Vector& q2) {
    return q2.x * (q1.z - q0.z) + q0.x * (q2.z - q1.z) + q1.x * (q0.z - q2.z);
}
// Twice the signed area in the x-y plane.
double areaXY(const Vector& q0, const Vector& q1, const Vector& q2) {
    return q0.x * (q1.y - q2.y) + q1.x * (q2.y - q0.y) + q2.x * (q0.y - q1.y);
}

// Barycentric coordinates of x within a coordinate plane, measured by `area`.
template <typename Area>
void planar(Area area, double whole, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& x,
            Coefficients& out) {
    out.alpha = area(x, p1, p2) / whole;
    out.beta = area(p0, x, p2) / whole;
    out.gamma = 1.0 - out.alpha - out.beta;
}

}  // namespace

bool solveCoefficients(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& x, Coefficients& out) {
    const double e = p2.y * p0.z - p2.z * p0.y;
    const double l = p2.z * p1.y - p2.y * p1.z;
    const double o = p0.y * p1.z - p0.z * p1.y;
    const double det = e * p1.x + l * p0.x + o * p2.x;
    if (det != 0.0) {
        // Cramer's rule on the system whose columns are p0, p1, p2.
        out.alpha = dot(x, cross(p1, p2)) / det;
        out.beta = dot(x, cross(p2, p0)) / det;
        out.gamma = dot(x, cross(p0, p1)) / det;
        return true;
    }
    if (std::fabs(p0.x) < kFlat && std::fabs(p1.x) < kFlat && std::fabs(p2.x) < kFlat && e + l + o != 0.0) {
        planar(areaYZ, e + l + o, p0, p1, p2, x, out);
        return true;
    }
    if (std::fabs(p0.y) < kFlat && std::fabs(p1.y) < kFlat && std::fabs(p2.y) < kFlat) {
        const double w = areaXZ(p0, p1, p2);
        if (w != 0.0) {
            planar(areaXZ, w, p0, p1, p2, x, out);
            return true;
        }
    }
    if (std::fabs(p0.z) < kFlat && std::fabs(p1.z) < kFlat && std::fabs(p2.z) < kFlat) {
        const double w = areaXY(p0, p1, p2);
        if (w != 0.0) {
            planar(areaXY, w, p0, p1, p2, x, out);
            return true;
        }
    }
    out.alpha = out.beta = out.gamma = 1.0 / 3.0;
    return false;
}
