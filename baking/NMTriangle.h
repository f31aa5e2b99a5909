// The list that gathers the baker's triangles, with its bounding box. The gathering fills it; the
// octree and the bake read it.
#pragma once

#include <cstdint>

#include "shader/NMVector.h"
#include "shader/NMVertex.h"
#include "sources/Stack.h"

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

// What the octree and its queries read of a list: three corners and three vertex normals per
// triangle, in list order, and the box around all corners. A gathering may fill this instead of a
// full list when nothing will ask for the other fields, which holds 144 of a triangle's 360 bytes.
struct NMTriangleGeometry {
    Stack<NMVec3> corners;
    Stack<NMVec3> normals;
    NMBox box;

    int32_t count() const { return corners.count / 3; }
    void clear() {
        corners.clear();
        normals.clear();
        box = NMBox();
    }
    // Recomputes the box over every corner, in the order NMTriangleList::computeBox visits them.
    void computeBox() {
        box = NMBox();
        for (const NMVec3& p : corners) box.grow(p);
        box.finish();
    }
};
