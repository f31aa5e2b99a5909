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

// Cuts a polygon of n >= 3 corners into the pieces a polygon object holds: a triangle as (0 1 2 2), a
// quad as it is, larger polygons as a fan of quads around the first corner that ends in a triangle
// when a single corner is left over: 5 -> (0 1 2 3) (0 3 4 4); 6 -> (0 1 2 3) (0 3 4 5);
// 7 -> (0 1 2 3) (0 3 4 5) (0 5 6 6). piece(i0, i1, i2, i3) gets corner positions, not point indices.
template <class Index, class Piece>
void cutIntoQuadFan(Index n, Piece&& piece) {
    if (n == 3) {
        piece(Index(0), Index(1), Index(2), Index(2));
        return;
    }
    piece(Index(0), Index(1), Index(2), Index(3));
    Index k = 3;
    while (k + 2 < n) {
        piece(Index(0), k, k + 1, k + 2);
        k += 2;
    }
    if (k + 1 < n) piece(Index(0), k, k + 1, k + 1);
}

}  // namespace host
