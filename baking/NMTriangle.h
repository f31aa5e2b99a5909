// The baker's triangle records: world-space, double-precision triangles with smooth normals,
// tangent frames and texture coordinates, and the list that gathers them with its bounding box.
// The gathering fills them; the octree, the bake and the shader read them.
#pragma once

#include <cstdint>

#include "baking/NMVector.h"
#include "sources/Stack.h"

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

// An axis-aligned box grown point by point; finish() derives half extents and centre.
struct NMBox {
    NMVec3 min;
    NMVec3 max;
    NMVec3 half;
    NMVec3 centre;
    int32_t set = 0;

    // The first point sets both corners; later points lower a minimum coordinate when smaller, else
    // raise the maximum coordinate when larger, axis by axis.
    void grow(const NMVec3& p) {
        if (set == 0) {
            min = p;
            max = p;
            set = 1;
            return;
        }
        growAxis(p.x, min.x, max.x);
        growAxis(p.y, min.y, max.y);
        growAxis(p.z, min.z, max.z);
    }
    void finish() {
        half = (max - min) * 0.5;
        centre = min + half;
    }

private:
    static void growAxis(double v, double& lo, double& hi) {
        if (v < lo)
            lo = v;
        else if (v > hi)
            hi = v;
    }
};

// Triangles referred to everywhere by their index here, and the box around all their vertices.
struct NMTriangleList {
    Stack<NMTriangle> triangles;
    NMBox box;

    int32_t count() const { return triangles.count; }
    void clear() {
        triangles.clear();
        box = NMBox();
    }
    // Recomputes the box over every vertex position and finishes it.
    void computeBox() {
        box = NMBox();
        for (const NMTriangle& t : triangles)
            for (const NMVertex& v : t.v) box.grow(v.position);
        box.finish();
    }
};
