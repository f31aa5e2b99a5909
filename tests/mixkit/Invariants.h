// Checks of the reduction core's state during a reduction, and a stepper that contracts one
// candidate at a time with the checks after each step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Object.h"
#include "mixkit/Decimator.h"
#include "mixkit/ReductionMesh.h"

namespace mixtest {

// What the checks compare against: the object before the reduction, and the expected point-set
// bytes and float-map values, kept up to date by the stepper with the blending rule.
struct Shadow {
    std::vector<host::Vec3f> points;
    std::vector<uint8_t> reducible;
    std::vector<bool> removed;
    std::vector<std::vector<uint8_t>> pointSetBytes;
    std::vector<std::vector<float>> floatMaps;
    int contractions = 0;

    Shadow(const host::PolygonObject& obj, const ReductionMesh& mesh);
};

// Mesh state: adjacency matches the polygons, no live polygon uses a removed point or repeats a
// corner, reducibleCount counts the live reducible points, fixed points have not moved, positions
// match the host points, the point-set bytes and float maps match the shadow. "" when all hold.
std::string checkMesh(const host::PolygonObject& obj, const ReductionMesh& mesh, const Shadow& shadow);

// Decimator state: heap invariant and back-indices, every candidate in the heap joins two live
// reducible points and is listed at both ends.
std::string checkDecimator(Decimator& decimator);

// Corner normals around v1 are the normalised sums of the unit normals around each ring point,
// times 32000 and truncated.
std::string checkNormalsAround(const host::PolygonObject& obj, const ReductionMesh& mesh, int32_t v1);

// For a grid made with a UV seam: no live polygon has corners on both UV islands (u below `split`
// and u above it).
std::string checkIslands(const host::PolygonObject& obj, float split);

// Pops and contracts the cheapest candidate, updates the shadow, and tells what it contracted.
// False when the heap is empty.
struct Step {
    int32_t v1 = -1, v2 = -1;
};
bool stepOnce(Decimator& decimator, Shadow& shadow, Step* step = nullptr);

}  // namespace mixtest
