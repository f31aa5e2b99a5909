// Picking record of one triangle: its float corners and its unit plane (zero normal when the
// triangle has no area).
#pragma once

#include "sources/Geometry.h"

struct TrianglePlane {
    float normal[3] = {0.0f, 0.0f, 0.0f};
    float offset = 0.0f;
    FloatVector p0, p1, p2;

    // Stores the corners; normal = (p1 - p0) x (p2 - p0) in float, divided by its length when that
    // is not 0; offset = -(normal . p0).
    static TrianglePlane build(const FloatVector& p0, const FloatVector& p1, const FloatVector& p2);
};
