// Double-precision 3-vectors for the baker: world-space positions, normals, tangent frames and
// texture coordinates. Plain values and inline free functions; nothing allocates.
#pragma once

#include <cmath>

struct NMVec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline NMVec3 operator+(const NMVec3& a, const NMVec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline NMVec3 operator-(const NMVec3& a, const NMVec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline NMVec3 operator-(const NMVec3& a) { return {-a.x, -a.y, -a.z}; }
inline NMVec3 operator*(const NMVec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline NMVec3 operator*(double s, const NMVec3& a) { return {a.x * s, a.y * s, a.z * s}; }
inline NMVec3& operator+=(NMVec3& a, const NMVec3& b) {
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    return a;
}

inline double dot(const NMVec3& a, const NMVec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline NMVec3 cross(const NMVec3& a, const NMVec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(const NMVec3& a) { return std::sqrt(dot(a, a)); }
// The unit vector along a; a zero vector stays zero (no division happens).
inline NMVec3 normalize(const NMVec3& a) {
    const double l = length(a);
    if (l == 0.0) return {0.0, 0.0, 0.0};
    return {a.x / l, a.y / l, a.z / l};
}
inline bool isZero(const NMVec3& a) { return a.x == 0.0 && a.y == 0.0 && a.z == 0.0; }
