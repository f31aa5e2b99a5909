// Double-precision 3-vectors for the renderer: camera rays, lights and shading.
#pragma once

#include <cmath>

namespace host::render {

struct V3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline V3 operator+(const V3& a, const V3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(const V3& a, const V3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator-(const V3& a) { return {-a.x, -a.y, -a.z}; }
inline V3 operator*(const V3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 operator*(double s, const V3& a) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 mul(const V3& a, const V3& b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline V3& operator+=(V3& a, const V3& b) {
    a.x += b.x;
    a.y += b.y;
    a.z += b.z;
    return a;
}
inline double dot(const V3& a, const V3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(const V3& a, const V3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double length(const V3& a) { return std::sqrt(dot(a, a)); }
// The unit vector along a; zero stays zero.
inline V3 normalized(const V3& a) {
    const double l = length(a);
    return l > 0.0 ? a * (1.0 / l) : V3{};
}

// An axis-aligned box; empty until the first point.
struct Bounds {
    V3 min, max;
    bool empty = true;
    void grow(const V3& p) {
        if (empty) {
            min = max = p;
            empty = false;
            return;
        }
        min = {std::fmin(min.x, p.x), std::fmin(min.y, p.y), std::fmin(min.z, p.z)};
        max = {std::fmax(max.x, p.x), std::fmax(max.y, p.y), std::fmax(max.z, p.z)};
    }
    void grow(const Bounds& b) {
        if (b.empty) return;
        grow(b.min);
        grow(b.max);
    }
    V3 centre() const { return (min + max) * 0.5; }
    double radius() const { return length(max - min) * 0.5; }
};

}  // namespace host::render
