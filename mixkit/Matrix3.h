// 3x3 double matrices, row-major, with the cofactor inverse used by the quadric minimiser.
#pragma once

#include "sources/Geometry.h"

struct Matrix3 {
    double m[9] = {};

    double& at(int row, int column) { return m[3 * row + column]; }
    double at(int row, int column) const { return m[3 * row + column]; }
};

Matrix3 transpose(const Matrix3& a);
// C[i][j] = (-1)^(i+j) * minor[i][j], not transposed. Inline, with invert: the quadric minimiser
// solves one system per candidate key.
inline Matrix3 cofactors(const Matrix3& a) {
    Matrix3 c;
    for (int i = 0; i < 3; ++i) {
        // The rows and columns left when row i and column j are struck out, in increasing order.
        const int r0 = i == 0 ? 1 : 0;
        const int r1 = i == 2 ? 1 : 2;
        for (int j = 0; j < 3; ++j) {
            const int c0 = j == 0 ? 1 : 0;
            const int c1 = j == 2 ? 1 : 2;
            const double minor = a.at(r0, c0) * a.at(r1, c1) - a.at(r0, c1) * a.at(r1, c0);
            c.at(i, j) = ((i + j) % 2 == 0) ? minor : -minor;
        }
    }
    return c;
}

// Returns the determinant. When it is exactly 0, `inverse` is not written; otherwise it receives
// transpose(cofactors(a)) / det.
inline double invert(const Matrix3& a, Matrix3& inverse) {
    const Matrix3 c = cofactors(a);
    const double det = c.at(0, 0) * a.at(0, 0) + c.at(0, 1) * a.at(0, 1) + c.at(0, 2) * a.at(0, 2);
    if (det == 0.0) return 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) inverse.at(i, j) = c.at(j, i) / det;
    return det;
}

// a * v.
Vector multiply(const Matrix3& a, const Vector& v);

// Starting values kept for the life of the module.
extern const Matrix3 kIdentity3;
extern const Matrix3 kZero3;
extern const Matrix3 kOnes3;
extern const double kIdentity4[4][4];
extern const double kZero4[4][4];
extern const double kOnes4[4][4];
