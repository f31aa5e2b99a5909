// Ray against one picking triangle.
#pragma once

#include "mixkit/TrianglePlane.h"
#include "sources/Geometry.h"

// True when the line o + t*r meets the triangle (the sign of t is not looked at); then `t`, when
// given, receives the ray parameter of the hit. A ray parallel to the plane (n.r exactly 0) and a
// triangle without area never hit.
bool rayHitsTriangle(const TrianglePlane& triangle, const Vector& origin, const Vector& direction,
                     double* t = nullptr);
