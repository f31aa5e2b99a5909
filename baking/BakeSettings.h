// The record that the baking dialog fills and the baking thread hands to the bake. Defaults are the
// thread's starting values; the dialog sets the others before every bake.
#pragma once

#include <atomic>
#include <cstdint>

#include "baking/BakeStatus.h"
#include "sources/HostFilename.h"
#include "sources/HostInterface.h"

// Host image format codes.
enum : int32_t {
    BAKE_FORMAT_TIFF = 1100,
    BAKE_FORMAT_TGA = 1101,
    BAKE_FORMAT_BMP = 1102,
    BAKE_FORMAT_PNG = 1103,
    BAKE_FORMAT_EXR = 1104,       // OpenEXR, 32-bit float channels
    BAKE_FORMAT_EXR_HALF = 1105,  // OpenEXR, 16-bit half float channels
};

// Blocked half-space of the occlusion samples.
enum : int32_t {
    BAKE_BLOCK_NONE = 0,
    BAKE_BLOCK_NEG_X = 1,
    BAKE_BLOCK_POS_X = 2,
    BAKE_BLOCK_NEG_Y = 3,
    BAKE_BLOCK_POS_Y = 4,
    BAKE_BLOCK_NEG_Z = 5,
    BAKE_BLOCK_POS_Z = 6,
};

// What the occlusion rays are cast against.
enum : int32_t {
    BAKE_OCCLUDERS_HIGH = 0,       // the high object's own triangles
    BAKE_OCCLUDERS_HIERARCHY = 1,  // the high object with its children, as currently evaluated
    BAKE_OCCLUDERS_DOCUMENT = 2,   // every object of the document
};

struct BakeSettings {
    // Asked for stop requests; null bakes without being stoppable.
    HostThreadBase* thread = nullptr;
    // Shown by the dialog in its status line; the spinner flag is 1 while it should spin.
    BakeStatusText statusText;
    std::atomic<int32_t> spinner{0};

    HstObject* highObject = nullptr;
    HstTag* highUvw = nullptr;  // optional
    HostFilename bumpFile;      // optional grey height image for the high object
    float bumpStrength = 0.0f;

    HstObject* lowObject = nullptr;
    HstTag* lowUvw = nullptr;

    int32_t width = 600;
    int32_t height = 600;
    int32_t supersampling = 2;  // grid size N of the sample offsets
    int32_t fileFormat = BAKE_FORMAT_TIFF;
    int32_t bitDepth = 8;  // 8 or 16 bits per channel; 16 or 32 for OpenEXR (half or float)

    int32_t normalOn = 1;
    HostFilename normalFile;
    // 1 writes the normal map's y (green) negated: y down the texture, for engines that want it so;
    // 0 (the default) writes y along growing v, up the image.
    int32_t normalYDown = 0;
    int32_t occlusionOn = 0;
    HostFilename occlusionFile;
    int32_t randomDirections = 0;
    float occlusionExponent = 1.0f;
    int32_t blockedHalfSpace = BAKE_BLOCK_NONE;
    int32_t occluderMode = BAKE_OCCLUDERS_HIGH;
    HstDocument* document = nullptr;  // of the high object
    int32_t displacementOn = 0;
    HostFilename displacementFile;

    // Fixed: extra texels around each triangle, tangent-space normals, edge fill, passes of hole
    // filling.
    int32_t border = 2;
    int32_t tangentSpace = 1;
    int32_t edgeFill = 1;
    int32_t occlusionGrid = 6;  // directions per quadrant row and column
    int32_t dilationPasses = 10;

    // Source of the random occlusion directions: one number drawn from it seeds the bake (a fixed
    // seed when none is given). The directions of the samples that one low triangle casts for one
    // texel come from a generator seeded with that seed, the texel's position, the triangle's index
    // and the pass (main or edge fill), so they are the same whichever thread bakes the texel.
    HstRandom* random = nullptr;

    // Threads of the texel stage: 0 takes the host's worker thread count (by default one per
    // processor core). The maps are the same for every count.
    int32_t threads = 0;
};
