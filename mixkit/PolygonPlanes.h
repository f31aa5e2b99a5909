// Picking records of one polygon: the triangle (a, b, c) and, for a quad, the triangle (a, c, d).
#pragma once

#include "mixkit/TrianglePlane.h"

struct PolygonPlanes {
    TrianglePlane first;
    TrianglePlane second;

    static PolygonPlanes build(const FloatVector& a, const FloatVector& b, const FloatVector& c,
                               const FloatVector& d) {
        return PolygonPlanes{TrianglePlane::build(a, b, c), TrianglePlane::build(a, c, d)};
    }
};
