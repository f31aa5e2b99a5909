// NormalMapper: the bake. For every texel of the low object's UV layout it casts a ray from the low
// surface along its normal to the high surface and accumulates up to three maps: the high normal
// in the low object's tangent space, the open fraction of the hemisphere above the high surface,
// and the signed distance between the surfaces. Then it finishes the maps, fills the holes around
// the UV islands and writes the image files.
#pragma once

#include <cstdint>

#include "baking/BakeSettings.h"
#include "baking/NMLayerSet.h"
#include "baking/NMOctree.h"
#include "baking/NMSampling.h"
#include "baking/NMTriangle.h"
#include "baking/NMVectorLayer.h"
#include "sources/HostString.h"
#include "sources/ResourceIds.h"
#include "sources/Stack.h"

// The progress text: the fraction done as a percentage with three decimals, then the time left
// at the pace so far as hours, minutes and seconds ("12.500% 00:03:30").
HostString bakeProgressText(double fraction, int64_t elapsedSeconds);

// Where the time of the last bake went (host clock, milliseconds) and how many rays it cast.
struct NormalMapperStats {
    int64_t gatherMs = 0;
    int64_t octreeMs = 0;
    int64_t texelMs = 0;
    int64_t finishMs = 0;
    int64_t writeMs = 0;
    int64_t candidateTexels = 0;  // texels looked at, padding included
    uint64_t surfaceRays = 0;     // nearest-hit queries into the high object
    uint64_t occlusionRays = 0;   // any-hit queries of the occlusion samples
    uint64_t nodeVisits = 0;      // octree nodes opened by all queries
    uint64_t triangleTests = 0;   // ray/triangle tests of all queries
};

class NormalMapper {
public:
    NormalMapper() = default;
    NormalMapper(const NormalMapper&) = delete;
    NormalMapper& operator=(const NormalMapper&) = delete;
    ~NormalMapper() { freeAll(); }

    // The whole bake with the given settings: 1 on success, 0 on failure or on a stop request.
    // Everything it builds is freed before it returns.
    int32_t bake(BakeSettings& settings);

    const NormalMapperStats& stats() const { return stats_; }

private:
    int32_t run();
    void freeAll();
    bool stopRequested() const;
    bool stage(int32_t textId, int32_t spinner);
    int32_t prepareBump();
    void bakeTriangle(const NMTriangle& tri, bool edgePass);
    double occlusionAt(const NMVec3& p, const NMVec3& n);
    void progress(bool force);

    BakeSettings* settings_ = nullptr;
    NMTriangleList high_, low_, occluders_;
    NMOctree highTree_, occluderTree_;
    NMOctree* occlusionTree_ = nullptr;
    NMLayerSet main_, edgeFill_;
    NMBandedVectorLayer* bump_ = nullptr;
    Stack<NMVec3> offsets_;
    Stack<NMSampleDir> directions_;
    HstRandom* ownRandom_ = nullptr;
    HstRandom* random_ = nullptr;
    bool stopped_ = false;

    // Progress of the texel pass.
    double totalTexels_ = 1.0;
    double processed_ = 0.0;
    int64_t startSecond_ = 0;
    int64_t shownSecond_ = 0;
    int32_t sinceClock_ = 0;

    NormalMapperStats stats_;
};
