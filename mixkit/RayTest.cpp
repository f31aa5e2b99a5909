#include "mixkit/RayTest.h"

#include <algorithm>
#include <cmath>

#include "mixkit/SolveCoefficients.h"

namespace {

bool within(double c) { return c >= 0.0 && c <= 1.0; }

// The plane must keep at least this share of the corners' largest coordinate away from the origin
// for the coefficient solve (Cramer's rule on the corners as columns) to be trusted.
constexpr double kClearOfOrigin = 0.05;

// Cramer's rule divides by p0 . (p1 x p2), which is twice the triangle's area times the plane's
// distance from the origin: for a plane through the origin, or nearly so (a card or a cone's facets
// centred on the object's origin, coordinates that are not exact), that determinant is mostly
// rounding and the coefficients come out wrong. Then the in-plane coefficients are used.
bool wellConditioned(const TrianglePlane& tp, const Vector& p0, const Vector& p1, const Vector& p2) {
    double largest = 0.0;
    for (const Vector& p : {p0, p1, p2})
        largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    return std::fabs(static_cast<double>(tp.offset)) >= kClearOfOrigin * largest;
}

// Barycentric coordinates of h in the triangle, seen along the axis in which the triangle's normal
// is largest. Used for the triangles whose plane passes through or near the origin, where the three
// corners alone do not determine the coefficients well.
Coefficients inPlane(const TrianglePlane& tp, const Vector& p0, const Vector& p1, const Vector& p2,
                     const Vector& h) {
    const double nx = std::fabs(tp.normal[0]), ny = std::fabs(tp.normal[1]), nz = std::fabs(tp.normal[2]);
    // The two kept axes: (y, z) when x dominates, (x, z) when y does, else (x, y).
    auto u = [&](const Vector& v) { return nx >= ny && nx >= nz ? v.y : v.x; };
    auto w = [&](const Vector& v) { return nx >= ny && nx >= nz ? v.z : (ny >= nz ? v.z : v.y); };
    auto area = [&](const Vector& a, const Vector& b, const Vector& c) {
        return (u(b) - u(a)) * (w(c) - w(a)) - (u(c) - u(a)) * (w(b) - w(a));
    };
    Coefficients out;
    const double whole = area(p0, p1, p2);
    if (whole == 0.0) {
        out.alpha = out.beta = out.gamma = -1.0;
        return out;
    }
    out.alpha = area(h, p1, p2) / whole;
    out.beta = area(p0, h, p2) / whole;
    out.gamma = area(p0, p1, h) / whole;
    return out;
}

}  // namespace

bool rayHitsTriangle(const TrianglePlane& tp, const Vector& o, const Vector& r, double* tOut) {
    const Vector n{tp.normal[0], tp.normal[1], tp.normal[2]};
    if (n.x == 0.0 && n.y == 0.0 && n.z == 0.0) return false;
    const double den = dot(n, r);
    if (den == 0.0) return false;
    const double t = (-static_cast<double>(tp.offset) - dot(n, o)) / den;
    const Vector h{o.x + t * r.x, static_cast<double>(static_cast<float>(o.y + t * r.y)),
                   static_cast<double>(static_cast<float>(o.z + t * r.z))};
    const Vector p0 = toVector(tp.p0), p1 = toVector(tp.p1), p2 = toVector(tp.p2);
    Coefficients c;
    if (!wellConditioned(tp, p0, p1, p2) || !solveCoefficients(p0, p1, p2, h, c)) c = inPlane(tp, p0, p1, p2, h);
    if (!within(c.alpha) || !within(c.beta) || !within(c.gamma)) return false;
    if (tOut != nullptr) *tOut = t;
    return true;
}
