// The per-polygon records of the host's UVW and corner-normal tags, as the tags' data arrays hold
// them: one record per polygon, corners a, b, c, d.
#pragma once

#include <cstdint>

#include "mixkit/Vector.h"

struct UvwRecord {
    FloatVector corner[4];
};
static_assert(sizeof(UvwRecord) == 48, "a UVW record is four float triples");

// x, y, z of the unit normal of corners a, b, c, d, each times 32000 and truncated.
struct NormalRecord {
    int16_t v[12];
};
static_assert(sizeof(NormalRecord) == 24, "a normal record is twelve 16-bit values");

// The scale of the stored corner normals.
constexpr double NORMAL_SCALE = 32000.0;
