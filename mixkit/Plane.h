// Plane equations of triangles and quads: points p with a*p.x + b*p.y + c*p.z + d = 0.
// The raw forms keep the cross product's length (twice the triangle's area); the unit forms
// normalise it (a degenerate polygon gives the zero normal and d = 0).
#pragma once

#include "sources/Geometry.h"

struct Plane {
    double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
};

// n = (p1 - p0) x (p2 - p0), d = -n.p0.
Plane trianglePlaneRaw(const Vector& p0, const Vector& p1, const Vector& p2);
Plane trianglePlaneUnit(const Vector& p0, const Vector& p1, const Vector& p2);
// n = (p1 - p3) x (p2 - p0), the cross product of the diagonals; d = -n.c with c the corners' mean.
Plane quadPlaneRaw(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3);
Plane quadPlaneUnit(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3);

inline Vector planeNormal(const Plane& p) { return Vector{p.a, p.b, p.c}; }
