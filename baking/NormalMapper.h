// NormalMapper: the bake. For every texel of the low object's UV layout it casts a ray from the low
// surface along its normal to the high surface and accumulates up to three maps: the high normal
// in the low object's tangent space, the open fraction of the hemisphere above the high surface,
// and the signed distance between the surfaces. Then it finishes the maps, fills the holes around
// the UV islands and writes the image files.
#pragma once

#include <atomic>
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
    int32_t threads = 1;          // workers of the texel stage
    // Highest bytes held through the host allocator during each stage (0 when the host does not
    // say), and at the start of the bake.
    int64_t startBytes = 0;
    int64_t gatherPeakBytes = 0;
    int64_t octreePeakBytes = 0;
    int64_t texelPeakBytes = 0;
    int64_t finishPeakBytes = 0;
    int64_t writePeakBytes = 0;
};

// What one worker of the texel stage counted.
struct NMTexelWorkerStats {
    int64_t candidateTexels = 0;
    uint64_t surfaceRays = 0;
    uint64_t occlusionRays = 0;
    uint64_t nodeVisits = 0;
    uint64_t triangleTests = 0;
};

class NormalMapper {
public:
    NormalMapper() = default;
    NormalMapper(const NormalMapper&) = delete;
    NormalMapper& operator=(const NormalMapper&) = delete;
    ~NormalMapper() { freeAll(); }

    // The whole bake with the given settings: true on success, false on failure or on a stop request.
    // Everything it builds is freed before it returns.
    bool bake(BakeSettings& settings);

    const NormalMapperStats& stats() const { return stats_; }

private:
    bool run();
    bool gatherStage();
    bool octreeStage();
    bool texelStage();
    bool finishStage();
    bool writeStage();
    void freeAll();
    bool stopRequested() const;
    bool stage(int32_t textId, int32_t spinner);
    bool prepareBump();
    struct Worker;
    class TexelJob;
    bool planChunks();
    void texelWorker(int32_t index);
    void bakeRows(int32_t triangle, int64_t fromRow, int64_t toRow, bool edgePass, Worker& w);
    double occlusionAt(const NMVec3& p, const NMVec3& n, Worker& w);
    void progress(bool force);

    BakeSettings* settings_ = nullptr;
    NMTriangleList high_, low_;
    // The high object's and the occluders' corners and normals, while their trees take them over.
    NMTriangleGeometry highGeometry_, occluders_;
    NMOctree highTree_, occluderTree_;
    const NMOctree* occlusionTree_ = nullptr;
    // Workers of the gathering, the octree builds and the texel stage.
    int32_t workers_ = 1;
    NMLayerSet main_, edgeFill_;
    NMBandedVectorLayer* bump_ = nullptr;
    Stack<NMVec3> offsets_;
    Stack<NMSampleDir> directions_;
    // Seed of the random occlusion directions, drawn once per bake.
    uint64_t seed_ = 0;

    // The texel stage runs over chunks of rows; chunk c holds rows c·chunkRows to c·chunkRows +
    // chunkRows − 1, and the low triangles whose padded rows meet them, in list order, are
    // chunkTriangles_[chunkFirst_[c]] up to chunkFirst_[c + 1].
    int32_t chunkCount_ = 0;
    Stack<int32_t> chunkFirst_;
    Stack<int32_t> chunkTriangles_;
    Stack<NMTexelWorkerStats> workerStats_;
    std::atomic<int32_t> nextChunk_{0};
    std::atomic<bool> abort_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> failed_{false};

    // Progress of the texel pass: candidate texels done of all.
    double totalTexels_ = 1.0;
    std::atomic<int64_t> processed_{0};
    int64_t startSecond_ = 0;
    int64_t shownSecond_ = 0;
    int32_t sinceClock_ = 0;

    NormalMapperStats stats_;
};
