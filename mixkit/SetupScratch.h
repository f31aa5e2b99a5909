// Scratch of one worker of the decimator's set-up passes: lists and marks of its own, so that
// several workers walk the mesh's adjacency side by side while nothing changes it.
#pragma once

#include <cstdint>

#include "mixkit/ReductionMesh.h"
#include "mixkit/StackHelpers.h"
#include "sources/HostWorkers.h"
#include "sources/Stack.h"

// Points per block of the set-up passes over points: enough that taking a block costs nothing
// beside its work, few enough that a mesh of some ten thousand points already spreads out.
constexpr int32_t SETUP_POINT_BLOCK = 4096;

struct SetupScratch {
    Stack<int32_t> neighbours;
    Stack<int32_t> edgePolygons;
    Stack<uint8_t> pointMarks;    // one byte per point of the mesh
    Stack<uint8_t> polygonMarks;  // one per polygon
    // The workers' scratches lie side by side in one array, and the stacks' counts are written for
    // every point and edge: the next worker's scratch starts on another cache line.
    char apart_[WORKER_LINE_BYTES];

    // Marks for every point and polygon of the mesh (kept once made); false when refused.
    bool ready(const ReductionMesh& m) {
        return pointMarks.resize(m.pointCount()) && polygonMarks.resize(m.polygonCount());
    }
    // The neighbours of p in first-met order, with room for the polygons of each of its edges;
    // false when refused.
    bool walkAround(const ReductionMesh& m, int32_t p) {
        const int32_t polys = m.polygonsOf(p).count;
        if (!neighbours.reserve(4 * polys) || !edgePolygons.reserve(polys)) return false;
        emptyKeepingStorage(neighbours);
        m.pointNeighbours(p, neighbours, pointMarks.items);
        return true;
    }
    // The polygons that use both i and j, in i's list order.
    void edgeOf(const ReductionMesh& m, int32_t i, int32_t j) {
        emptyKeepingStorage(edgePolygons);
        m.polygonsOfEdge(i, j, edgePolygons, polygonMarks.items);
    }
};
