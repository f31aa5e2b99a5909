#include "mixkit/Matrix3.h"

const Matrix3 kIdentity3 = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
const Matrix3 kZero3 = {{0, 0, 0, 0, 0, 0, 0, 0, 0}};
const Matrix3 kOnes3 = {{1, 1, 1, 1, 1, 1, 1, 1, 1}};
const double kIdentity4[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
const double kZero4[4][4] = {};
const double kOnes4[4][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}};

Matrix3 transpose(const Matrix3& a) {
    Matrix3 t;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) t.at(i, j) = a.at(j, i);
    return t;
}

Matrix3 cofactors(const Matrix3& a) {
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

double invert(const Matrix3& a, Matrix3& inverse) {
    const Matrix3 c = cofactors(a);
    const double det = c.at(0, 0) * a.at(0, 0) + c.at(0, 1) * a.at(0, 1) + c.at(0, 2) * a.at(0, 2);
    if (det == 0.0) return 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) inverse.at(i, j) = c.at(j, i) / det;
    return det;
}

Vector multiply(const Matrix3& a, const Vector& v) {
    return Vector{a.at(0, 0) * v.x + a.at(0, 1) * v.y + a.at(0, 2) * v.z,
                  a.at(1, 0) * v.x + a.at(1, 1) * v.y + a.at(1, 2) * v.z,
                  a.at(2, 0) * v.x + a.at(2, 1) * v.y + a.at(2, 2) * v.z};
}
