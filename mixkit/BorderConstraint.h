// The constraint planes that hold open borders, and the borders between polygon-selection groups,
// in place: which edges get them and the plane itself. The decimator and the brush both sum them
// into the quadrics of the edges' ends.
#pragma once

#include <cstdint>

#include "mixkit/Quadric.h"
#include "sources/Geometry.h"

// An edge is constrained when one polygon alone uses it (an open border), or when its two polygons
// lie on different sides of a polygon-selection border (`acrossSeam()`, asked only then). An edge
// of more polygons is not.
template <typename AcrossSeam>
bool isConstrainedEdge(int32_t edgePolygons, const AcrossSeam& acrossSeam) {
    return edgePolygons == 1 || (edgePolygons == 2 && acrossSeam());
}

// The quadric of the plane through the edge from `from` to `to` that stands upright on a polygon
// of the edge (unit normal `faceNormal`), times `weight` and, under the area weightings
// (`byLength`), times the edge's squared length, so that it keeps pace with the polygons' planes.
inline Quadric borderPlaneQuadric(const Vector& from, const Vector& to, const Vector& faceNormal, double weight,
                                  bool byLength) {
    const Vector edge = subtract(to, from);
    const Vector m = normalize(cross(edge, faceNormal));
    Quadric q = Quadric::fromPlane(m.x, m.y, m.z, -dot(m, from), 1.0);
    q.scale(weight);
    if (byLength) q.scale(dot(edge, edge));
    return q;
}
