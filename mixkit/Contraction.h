// One planned edge contraction: point v2 merges into v1, which moves to the target.
#pragma once

#include <cstdint>

#include "sources/Geometry.h"
#include "sources/Stack.h"

struct Contraction {
    int32_t v1 = 0;  // the point that stays
    int32_t v2 = 0;  // the point that goes
    Vector dv1;      // target - position(v1)
    Vector dv2;      // target - position(v2)
    double cost = 0.0;       // what the contraction was ordered by: the error plus the penalties
    double rawError = 0.0;   // the quadric error alone, which error limits are measured against
    // changedPolygons[0, pivot) use v1 but not v2 and keep their indices; from pivot on come the
    // polygons that used v2 but not v1, then the quads that use both and survive as triangles.
    int32_t pivot = 0;
    Stack<int32_t> changedPolygons;
    // Polygons that use both points and vanish.
    Stack<int32_t> dyingPolygons;

    // Where between v1 (0) and v2 (1) the merged point sits: |dv1| / (|dv1| + |dv2|), 0.5 when
    // both offsets are 0.
    double interpolation() const {
        const double l1 = length(dv1);
        const double l2 = length(dv2);
        if (l1 + l2 == 0.0) return 0.5;
        return l1 / (l1 + l2);
    }
};
