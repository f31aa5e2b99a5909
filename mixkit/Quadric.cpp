#include "mixkit/Quadric.h"

#include <cmath>

namespace {
constexpr double kSingular = 1e-12;
}

Quadric Quadric::fromPlane(double a, double b, double c, double d, double area) {
    Quadric q;
    q.a2 = a * a;
    q.ab = a * b;
    q.ac = a * c;
    q.ad = a * d;
    q.b2 = b * b;
    q.bc = b * c;
    q.bd = b * d;
    q.c2 = c * c;
    q.cd = c * d;
    q.d2 = d * d;
    q.area = area;
    return q;
}

void Quadric::fill(double value) {
    a2 = ab = ac = ad = b2 = bc = bd = c2 = cd = d2 = value;
    area = value;
}

void Quadric::scale(double s) {
    a2 *= s;
    ab *= s;
    ac *= s;
    ad *= s;
    b2 *= s;
    bc *= s;
    bd *= s;
    c2 *= s;
    cd *= s;
    d2 *= s;
}

Matrix3 Quadric::tensor() const { return Matrix3{{a2, ab, ac, ab, b2, bc, ac, bc, c2}}; }

bool Quadric::optimalPoint(Vector& v) const {
    Matrix3 inverse;
    const double det = invert(tensor(), inverse);
    if (std::fabs(det) < kSingular) return false;
    const Vector b = linear();
    v.x = -(inverse.at(0, 0) * b.x + inverse.at(0, 1) * b.y + inverse.at(0, 2) * b.z);
    v.y = -(inverse.at(1, 0) * b.x + inverse.at(1, 1) * b.y + inverse.at(1, 2) * b.z);
    v.z = -(inverse.at(2, 0) * b.x + inverse.at(2, 1) * b.y + inverse.at(2, 2) * b.z);
    return true;
}

bool Quadric::optimalOnSegment(const Vector& v1, const Vector& v2, Vector& v) const {
    const Matrix3 a = tensor();
    const Vector b = linear();
    const Vector d = subtract(v1, v2);
    const Vector ad = multiply(a, d);
    const Vector av2 = multiply(a, v2);
    const double denom = dot(::scale(d, 2.0), ad);
    if (std::fabs(denom) < kSingular) return false;
    double t = (-2.0 * dot(b, d) - dot(d, av2) - dot(v2, ad)) / (2.0 * dot(d, ad));
    if (!(t >= 0.0)) t = 0.0;  // a NaN lands here too
    if (t > 1.0) t = 1.0;
    v = ::add(v2, ::scale(d, t));
    return true;
}
