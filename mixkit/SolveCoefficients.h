// Coefficients of a point with respect to three corners.
#pragma once

#include "sources/Geometry.h"

struct Coefficients {
    double alpha = 0.0, beta = 0.0, gamma = 0.0;
};

// Finds alpha, beta, gamma with x = alpha*p0 + beta*p1 + gamma*p2. When the corners, read as the
// columns of a 3x3 matrix, are independent this is the exact solution (for a point on the plane of
// a triangle that misses the origin: its barycentric coordinates). Otherwise, for a triangle that
// lies in a coordinate plane (|coordinate| < 1e-7 at all three corners; x, then y, then z are
// tried), the barycentric coordinates within that plane. Otherwise every coefficient is 1/3 and the
// answer is false.
bool solveCoefficients(const Vector& p0, const Vector& p1, const Vector& p2, const Vector& x, Coefficients& out);
