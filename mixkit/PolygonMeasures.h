// The normal and the area of a host polygon, measured on points that the caller looks up (the
// reduction mesh's double positions, the brush's measuring frame or its object points), so that
// the decimator and the brush measure alike. A triangle has c == d.
#pragma once

#include <cstdint>

#include "sources/Geometry.h"

// Triangle: (b - a) x (c - a); quad: the cross product of the diagonals, (b - d) x (c - a). Not
// normalised: its length is twice a triangle's area. `at(i)` gives point i. Inlined: the reduction's
// penalties make it for every face they weigh.
template <typename PointAt>
[[gnu::always_inline]] inline Vector polygonNormal(const HostPolygon& p, const PointAt& at) {
    const Vector& a = at(p.a);
    const Vector& b = at(p.b);
    const Vector& c = at(p.c);
    if (p.c == p.d) return cross(subtract(b, a), subtract(c, a));
    const Vector& d = at(p.d);
    return cross(subtract(b, d), subtract(c, a));
}

// A quad's area as the triangles (a, b, d) and (c, d, b).
template <typename PointAt>
double polygonArea(const HostPolygon& p, const PointAt& at) {
    const Vector& a = at(p.a);
    const Vector& b = at(p.b);
    const Vector& c = at(p.c);
    if (p.c == p.d) return 0.5 * length(cross(subtract(b, a), subtract(c, a)));
    const Vector& d = at(p.d);
    return 0.5 * length(cross(subtract(b, a), subtract(d, a))) + 0.5 * length(cross(subtract(d, c), subtract(b, c)));
}
