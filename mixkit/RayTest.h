// Ray against one picking triangle.
#pragma once

#include "mixkit/TrianglePlane.h"
#include "sources/Geometry.h"

// True when the line o + t*r meets the triangle (the sign of t is not looked at); then `t`, when
// given, receives the ray parameter of the hit. A ray parallel to the plane (n.r exactly 0) and a
// triangle without area never hit. Where the hit lies in the triangle is told by the coefficient
// solve when the triangle's plane keeps clear of the origin, and by barycentric coordinates within
// the plane when it passes through or near the origin (any plane can be picked).
bool rayHitsTriangle(const TrianglePlane& triangle, const Vector& origin, const Vector& direction,
                     double* t = nullptr);
