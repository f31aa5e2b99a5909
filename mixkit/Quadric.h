// The plane error quadric: the symmetric 4x4 form of a sum of squared plane distances,
//   [[a2 ab ac ad] [ab b2 bc bd] [ac bc c2 cd] [ad bd cd d2]],
// with the area of the planes' polygons carried beside the coefficients. A plain record of eleven
// doubles, kept by value in one list per point.
#pragma once

#include "mixkit/Matrix3.h"
#include "sources/Geometry.h"

struct Quadric {
    double a2 = 0.0, ab = 0.0, ac = 0.0, ad = 0.0, b2 = 0.0, bc = 0.0, bd = 0.0, c2 = 0.0, cd = 0.0, d2 = 0.0;
    double area = 0.0;

    // The squared distance form of one plane.
    static Quadric fromPlane(double a, double b, double c, double d, double area);

    // Every field, the area included, set to `value`.
    void fill(double value);
    // Adds every field, the area included.
    void add(const Quadric& q) {
        a2 += q.a2;
        ab += q.ab;
        ac += q.ac;
        ad += q.ad;
        b2 += q.b2;
        bc += q.bc;
        bd += q.bd;
        c2 += q.c2;
        cd += q.cd;
        d2 += q.d2;
        area += q.area;
    }
    // Scales the ten coefficients; the area stays.
    void scale(double s);
    // v^T Q v with v = (x, y, z, 1).
    double evaluate(double x, double y, double z) const {
        return x * x * a2 + 2 * x * y * ab + 2 * x * z * ac + 2 * x * ad + y * y * b2 + 2 * y * z * bc + 2 * y * bd +
               z * z * c2 + 2 * z * cd + d2;
    }
    double evaluate(const Vector& v) const { return evaluate(v.x, v.y, v.z); }

    Matrix3 tensor() const;
    Vector linear() const { return Vector{ad, bd, cd}; }

    // The point of least error, -(A^-1 b); false (and `v` untouched) when |det A| < 1e-12.
    bool optimalPoint(Vector& v) const;
    // The point of least error on the closed segment [v2, v1]; false when the error does not
    // change along the segment's direction (|2d.Ad| < 1e-12).
    bool optimalOnSegment(const Vector& v1, const Vector& v2, Vector& v) const;
};
