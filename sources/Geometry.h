// The geometry every part of the module shares: double-precision 3-vectors for the reduction core,
// the tool and the baker; the float vectors of the host's point and UVW arrays; corner access on
// host polygons; and the per-polygon records of the UVW and corner-normal tags. Plain values and
// inline free functions; nothing here allocates or calls the host.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>

#include "sources/HostInterface.h"

// ---- Vectors ----

struct Vector {
    double x = 0.0, y = 0.0, z = 0.0;
};

// The host's point and UVW format.
struct FloatVector {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

inline Vector subtract(const Vector& u, const Vector& v) { return Vector{u.x - v.x, u.y - v.y, u.z - v.z}; }
inline Vector add(const Vector& u, const Vector& v) { return Vector{u.x + v.x, u.y + v.y, u.z + v.z}; }
inline Vector scale(const Vector& v, double s) { return Vector{s * v.x, s * v.y, s * v.z}; }
inline double dot(const Vector& u, const Vector& v) { return u.x * v.x + u.y * v.y + u.z * v.z; }
inline Vector cross(const Vector& u, const Vector& v) {
    return Vector{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}
inline double length(const Vector& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
// v / |v|; the zero vector stays zero and nothing is divided.
inline Vector normalize(const Vector& v) {
    const double l = length(v);
    if (l == 0.0) return Vector{};
    return Vector{v.x / l, v.y / l, v.z / l};
}
inline bool isZero(const Vector& v) { return v.x == 0.0 && v.y == 0.0 && v.z == 0.0; }

// The same operations as operators, for the longer formulas of the baker and the shader.
inline Vector operator+(const Vector& u, const Vector& v) { return add(u, v); }
inline Vector operator-(const Vector& u, const Vector& v) { return subtract(u, v); }
inline Vector operator-(const Vector& v) { return Vector{-v.x, -v.y, -v.z}; }
inline Vector operator*(const Vector& v, double s) { return scale(v, s); }
inline Vector operator*(double s, const Vector& v) { return scale(v, s); }
inline Vector& operator+=(Vector& u, const Vector& v) {
    u.x += v.x;
    u.y += v.y;
    u.z += v.z;
    return u;
}

inline FloatVector add(const FloatVector& u, const FloatVector& v) {
    return FloatVector{u.x + v.x, u.y + v.y, u.z + v.z};
}
inline void addInPlace(FloatVector& u, const FloatVector& v) {
    u.x += v.x;
    u.y += v.y;
    u.z += v.z;
}
inline FloatVector scale(const FloatVector& v, float s) { return FloatVector{s * v.x, s * v.y, s * v.z}; }
inline void scaleInPlace(FloatVector& v, float s) {
    v.x *= s;
    v.y *= s;
    v.z *= s;
}
// Component by component, as the host stores them (so -0 equals 0 and a NaN equals nothing).
inline bool sameComponents(const FloatVector& u, const FloatVector& v) {
    return u.x == v.x && u.y == v.y && u.z == v.z;
}

// Each component rounded to float.
inline FloatVector toFloatVector(const Vector& v) {
    return FloatVector{static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// Each component widened to double.
inline Vector toVector(const FloatVector& v) {
    return Vector{static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
// Three doubles x, y, z.
inline Vector toVector(const double (&v)[3]) { return Vector{v[0], v[1], v[2]}; }

// Point i of a host point array (three floats a point), widened to double.
inline Vector pointAt(const float* points, int32_t i) {
    const float* p = points + 3 * static_cast<int64_t>(i);
    return Vector{p[0], p[1], p[2]};
}

// ---- Corners of host polygons ----

// Corner k (0 = a, 1 = b, 2 = c, 3 = d) of a host polygon.
inline int32_t& corner(HostPolygon& p, int k) {
    assert(k >= 0 && k < 4);
    return (&p.a)[k];
}
inline int32_t corner(const HostPolygon& p, int k) {
    assert(k >= 0 && k < 4);
    return (&p.a)[k];
}

inline bool isTriangle(const HostPolygon& p) { return p.c == p.d; }
inline bool isDead(const HostPolygon& p) { return p.a == p.b; }
// Corners a, b, c and, for a quad, d.
inline int cornerCount(const HostPolygon& p) { return p.c == p.d ? 3 : 4; }

// True when every corner names one of the `pointCount` points.
inline bool cornersWithin(const HostPolygon& p, int32_t pointCount) {
    return p.a >= 0 && p.a < pointCount && p.b >= 0 && p.b < pointCount && p.c >= 0 && p.c < pointCount &&
           p.d >= 0 && p.d < pointCount;
}

// True when one of the corners a, b, c, d is point x.
inline bool hasCorner(const HostPolygon& p, int32_t x) { return p.a == x || p.b == x || p.c == x || p.d == x; }

// The first corner (in the order a, b, c, d) that is point p, or -1.
inline int cornerOf(const HostPolygon& p, int32_t point) {
    for (int k = 0; k < 4; ++k)
        if (corner(p, k) == point) return k;
    return -1;
}

// When a quad has two equal neighbouring corners, it is rotated so that they sit at c and d while
// the other two keep their cyclic order: a = b gives (c, d, a, b), b = c gives (d, a, b, c), and
// d = a (with c != d) gives (b, c, d, a). Returns the shift s with new corner k = old corner
// (k + s) mod 4, or 0 when nothing rotates (no equal neighbours, or c = d already).
inline int triangleFormShift(const HostPolygon& p) {
    if (p.a == p.b) return 2;
    if (p.b == p.c) return 3;
    if (p.d == p.a && p.c != p.d) return 1;
    return 0;
}

// True when some two neighbouring corners are equal.
inline bool hasEqualNeighbours(const HostPolygon& p) {
    return p.a == p.b || p.b == p.c || p.c == p.d || p.d == p.a;
}

// Rotates four values of any kind by the shift of triangleFormShift.
template <typename T>
void rotateCorners(T (&values)[4], int shift) {
    if (shift == 0) return;
    T old[4] = {values[0], values[1], values[2], values[3]};
    for (int k = 0; k < 4; ++k) values[k] = old[(k + shift) % 4];
}

// ---- Per-polygon tag records ----

// The texture coordinates of one polygon as the UVW tag's data array holds them: corners a, b, c, d.
struct UvwRecord {
    FloatVector corner[4];
};
static_assert(sizeof(UvwRecord) == 48, "a UVW record is four float triples");

// x, y, z of the unit normal of corners a, b, c, d, each times 32000 and truncated.
struct NormalRecord {
    int16_t v[12];
};
static_assert(sizeof(NormalRecord) == 24, "a normal record is twelve 16-bit values");

// The scale of the stored corner normals.
constexpr double NORMAL_SCALE = 32000.0;
