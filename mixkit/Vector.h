// Double-precision 3-vectors for the reduction core, and the float vectors of the host's point and
// UVW arrays. Plain values and free functions; nothing here allocates or calls the host.
#pragma once

#include <cmath>

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

// Each component rounded to float.
inline FloatVector toFloatVector(const Vector& v) {
    return FloatVector{static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// Each component widened to double.
inline Vector toVector(const FloatVector& v) {
    return Vector{static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
