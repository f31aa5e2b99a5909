// The baker's triangle records: world-space, double-precision triangles with smooth normals,
// tangent frames and texture coordinates. The bake's gathering fills them; the tangent frames, the
// octree and the bake read them.
#pragma once

#include "shader/NMVector.h"

// Fifteen doubles: position, smooth normal (unit), tangent, bitangent, texture coordinates u, v, w.
struct NMVertex {
    NMVec3 position;
    NMVec3 normal;
    NMVec3 tangent;
    NMVec3 bitangent;
    NMVec3 uvw;
};
static_assert(sizeof(NMVertex) == 15 * sizeof(double));

struct NMTriangle {
    NMVertex v[3];
};
