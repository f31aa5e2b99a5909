// 3x3 double matrices, row-major, with the cofactor inverse used by the quadric minimiser.
#pragma once

#include "sources/Geometry.h"

struct Matrix3 {
    double m[9] = {};

    double& at(int row, int column) { return m[3 * row + column]; }
    double at(int row, int column) const { return m[3 * row + column]; }
};

Matrix3 transpose(const Matrix3& a);
// C[i][j] = (-1)^(i+j) * minor[i][j], not transposed.
Matrix3 cofactors(const Matrix3& a);
// Returns the determinant. When it is exactly 0, `inverse` is not written; otherwise it receives
// transpose(cofactors(a)) / det.
double invert(const Matrix3& a, Matrix3& inverse);
// a * v.
Vector multiply(const Matrix3& a, const Vector& v);

// Starting values kept for the life of the module.
extern const Matrix3 kIdentity3;
extern const Matrix3 kZero3;
extern const Matrix3 kOnes3;
extern const double kIdentity4[4][4];
extern const double kZero4[4][4];
extern const double kOnes4[4][4];
