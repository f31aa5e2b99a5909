// Small value types shared by the document model: float points as stored in objects,
// double vectors for matrices and settings, and an object's placement matrix.
#pragma once

namespace host {

struct Vec3f {
    float x = 0, y = 0, z = 0;
    bool operator==(const Vec3f&) const = default;
};

struct Vec3 {
    double x = 0, y = 0, z = 0;
    bool operator==(const Vec3&) const = default;
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
};

// Placement of an object: offset plus three axes (columns). A point p maps to off + x*v1 + y*v2 + z*v3.
struct Matrix {
    Vec3 off{0, 0, 0};
    Vec3 v1{1, 0, 0};
    Vec3 v2{0, 1, 0};
    Vec3 v3{0, 0, 1};
    bool operator==(const Matrix&) const = default;

    Vec3 apply(const Vec3& p) const { return off + v1 * p.x + v2 * p.y + v3 * p.z; }
    Vec3 applyDirection(const Vec3& d) const { return v1 * d.x + v2 * d.y + v3 * d.z; }
    // this * inner: first inner, then this.
    Matrix operator*(const Matrix& inner) const {
        return {apply(inner.off), applyDirection(inner.v1), applyDirection(inner.v2), applyDirection(inner.v3)};
    }
};

// One polygon of a polygon object: four point indices; a triangle has c == d.
struct Polygon {
    int a = 0, b = 0, c = 0, d = 0;
    bool isTriangle() const { return c == d; }
    bool operator==(const Polygon&) const = default;
};

}  // namespace host
