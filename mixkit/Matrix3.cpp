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

Vector multiply(const Matrix3& a, const Vector& v) {
    return Vector{a.at(0, 0) * v.x + a.at(0, 1) * v.y + a.at(0, 2) * v.z,
                  a.at(1, 0) * v.x + a.at(1, 1) * v.y + a.at(1, 2) * v.z,
                  a.at(2, 0) * v.x + a.at(2, 1) * v.y + a.at(2, 2) * v.z};
}
