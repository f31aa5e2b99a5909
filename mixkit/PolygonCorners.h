// Corner access and the triangle form of quads, shared by the mesh, the decimator and the effects.
#pragma once

#include <cassert>
#include <cstdint>

#include "sources/HostInterface.h"

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
