#include "baking/NormalMapper.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "baking/NMBakeThread.h"
#include "baking/NMFloatLayer.h"
#include "baking/NMGather.h"
#include "baking/NMImageFile.h"
#include "baking/NMOctreeBuild.h"
#include "baking/NMProgress.h"
#include "baking/NMTexelSpans.h"
#include "shader/TangentFrame.h"
#include "sources/HostBitmap.h"
#include "sources/HostMemory.h"
#include "sources/HostString.h"
#include "sources/HostWorkers.h"
#include "sources/Module.h"
#include "sources/ResourceHolder.h"

namespace {

constexpr const char* kTag = "NormalMapper";
// Source tag of the state of each worker of the texel stage.
constexpr const char* kWorkerTag = "NMTexelWorker";
// Triangles smaller than this in pixel space (twice their area) get no texels.
constexpr double kDegenerate = 1e-7;
// Seed of the random occlusion directions when the settings bring no generator.
constexpr uint64_t kSeed = 1;
// Candidate texels between two looks at the clock.
constexpr int32_t kClockEvery = 64;
// Rows of one chunk of the texel stage.
constexpr int32_t kChunkRows = 8;
// Candidate texels a worker bakes between two asks for a stop (it looks at the other workers'
// stop flag before every texel).
constexpr int32_t kStopEvery = 16;
// Candidate texels a worker counts before it adds them to the shared progress.
constexpr int32_t kProgressEvery = 256;

// The seed of the random occlusion directions of the samples that one low triangle casts for one
// texel in one pass: a mix of the bake's seed, the texel, the triangle's index and the pass. The
// directions therefore never depend on which thread bakes the texel, or on what it baked before.
uint64_t texelSeed(uint64_t bakeSeed, int64_t x, int64_t y, int32_t width, int32_t triangle, bool edgePass) {
    const uint64_t texel = static_cast<uint64_t>(y) * static_cast<uint64_t>(width) + static_cast<uint64_t>(x);
    NMRandom mix(bakeSeed ^ (texel * 0x2545f4914f6cdd1dull));
    NMRandom mix2(mix.next() ^ ((static_cast<uint64_t>(static_cast<uint32_t>(triangle)) << 1) | (edgePass ? 1u : 0u)));
    return mix2.next();
}

int64_t nowMs() { return moduleApi()->clockMs(); }

// The highest bytes held through the host allocator since the last restart (0 when the host does
// not say); a restart begins the next span.
int64_t peakBytes(bool restart) {
    const HostApi* api = moduleApi();
    if (api->size < static_cast<int32_t>(offsetof(HostApi, memPeakBytes) + sizeof(void*)) ||
        api->memPeakBytes == nullptr)
        return 0;
    return api->memPeakBytes(restart ? 1 : 0);
}

// Times one stage of the bake: when it goes, the milliseconds since it was made and the highest
// bytes held meanwhile are stored in the stage's two figures (also when the stage failed), and the
// next stage's peak begins.
class StageTimer {
public:
    StageTimer(int64_t& ms, int64_t& peak) : ms_(ms), peak_(peak), start_(nowMs()) {}
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;
    ~StageTimer() {
        ms_ = nowMs() - start_;
        peak_ = peakBytes(true);
    }

private:
    int64_t& ms_;
    int64_t& peak_;
    const int64_t start_;
};

// Barycentric weights of (px, py) in the pixel-space triangle (X, Y), whose doubled signed area is d.
struct PixelTriangle {
    double X[3], Y[3], d;

    void weights(double px, double py, double w[3]) const {
        w[1] = ((px - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (py - Y[0])) / d;
        w[2] = ((X[1] - X[0]) * (py - Y[0]) - (px - X[0]) * (Y[1] - Y[0])) / d;
        w[0] = 1.0 - w[1] - w[2];
    }
};

// A sample point lies on the triangle when every weight is in [0, 1]. Points on an edge shared by
// two triangles (or on the border of a UV island) come out a rounding error outside, on both sides
// alike; the hair of tolerance keeps them inside instead of leaving them to the edge fill.
constexpr double kOnEdge = 1e-9;
bool inside(const double w[3]) {
    for (int i = 0; i < 3; ++i)
        if (!(w[i] >= -kOnEdge && w[i] <= 1.0 + kOnEdge)) return false;
    return true;
}

// Pulls weights outside [0, 1] onto the triangle: in turn, a weight above 1 becomes 1 and one below 0
// becomes 0, the difference shared equally by the other two.
void pullInside(double w[3]) {
    for (int i = 0; i < 3; ++i) {
        double excess = 0.0;
        if (w[i] > 1.0)
            excess = w[i] - 1.0;
        else if (w[i] < 0.0)
            excess = w[i];
        else
            continue;
        w[i] -= excess;
        w[(i + 1) % 3] += excess * 0.5;
        w[(i + 2) % 3] += excess * 0.5;
    }
}

NMVec3 blend(const NMTriangle& t, const double w[3], NMVec3 NMVertex::*field) {
    return t.v[0].*field * w[0] + t.v[1].*field * w[1] + t.v[2].*field * w[2];
}

// The merge's test for a texel without a normal: every component within 1e-7 of zero.
bool emptyNormal(const NMVector3f& n) {
    return std::fabs(n.x) <= 1e-7 && std::fabs(n.y) <= 1e-7 && std::fabs(n.z) <= 1e-7;
}

NMVector3f toFloat(const NMVec3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// "hh:mm:ss", two digits at least each; a negative or absurd time shows as 0.
HostString clockText(double seconds) {
    if (!(seconds > 0.0) || seconds > 1e12) seconds = 0.0;
    const int64_t s = static_cast<int64_t>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return HostString(text);
}

}  // namespace

// A worker's own: its query scratch, its copy of the directions when they are drawn at random,
// the generator they are drawn from, and its counts.
struct NormalMapper::Worker {
    NMQueryScratch scratch;
    Stack<NMSampleDir> randomDirections;
    NMRandom random;
    NMTexelWorkerStats stats;
    int32_t sinceStop = 0;
    int32_t sinceProgress = 0;
    bool progressShown = false;  // this worker shows the progress (the bake's own thread)
};

class NormalMapper::TexelJob : public WorkerJob {
public:
    explicit TexelJob(NormalMapper& mapper) : mapper_(mapper) {}
    void work(int32_t worker) override { mapper_.texelWorker(worker); }

private:
    NormalMapper& mapper_;
};

bool NormalMapper::stopRequested() const { return bakeStopRequested(settings_->thread); }

// Shows a stage's text and sets the spinner; false when a stop was asked for.
bool NormalMapper::stage(int32_t textId, int32_t spinner) {
    settings_->statusText.set(resourceString(textId));
    settings_->spinner.store(spinner);
    return !stopRequested();
}

void NormalMapper::freeAll() {
    high_.clear();
    highGeometry_.clear();
    low_.clear();
    occluders_.clear();
    highTree_.clear();
    occluderTree_.clear();
    occlusionTree_ = nullptr;
    destroyLayerSet(main_);
    destroyLayerSet(edgeFill_);
    hostDelete(bump_);
    bump_ = nullptr;
    offsets_.clear();
    directions_.clear();
    chunkFirst_.clear();
    chunkTriangles_.clear();
    workerStats_.clear();
    chunkCount_ = 0;
}

bool NormalMapper::bake(BakeSettings& settings) {
    settings_ = &settings;
    stats_ = NormalMapperStats();
    stopped_ = false;
    failed_ = false;
    abort_ = false;
    peakBytes(true);
    stats_.startBytes = peakBytes(true);
    const bool ok = run();
    freeAll();
    settings.spinner.store(0);
    return ok;
}

// The height image becomes tangent-space bump normals over the high object's texture coordinates.
bool NormalMapper::prepareBump() {
    NMFloatLayer heights;
    if (!heights.loadImageFile(settings_->bumpFile)) return false;
    bump_ = hostNew<NMBandedVectorLayer>(kTag, __LINE__);
    return bump_ != nullptr && bump_->makeBumpLayer(heights, settings_->bumpStrength);
}

// The bake's stages one after the other, each timed on its own; the first that fails (or meets a
// stop request) ends the bake.
bool NormalMapper::run() {
    const BakeSettings& s = *settings_;
    if (s.width < 1 || s.height < 1) return false;
    workers_ = workerCount(s.threads);
    {
        const StageTimer timer(stats_.gatherMs, stats_.gatherPeakBytes);
        if (!gatherStage()) return false;
    }
    {
        const StageTimer timer(stats_.octreeMs, stats_.octreePeakBytes);
        if (!octreeStage()) return false;
    }
    {
        const StageTimer timer(stats_.texelMs, stats_.texelPeakBytes);
        if (!texelStage()) return false;
    }
    {
        const StageTimer timer(stats_.finishMs, stats_.finishPeakBytes);
        if (!finishStage()) return false;
    }
    const StageTimer timer(stats_.writeMs, stats_.writePeakBytes);
    return writeStage();
}

bool NormalMapper::gatherStage() {
    BakeSettings& s = *settings_;
    if (!stage(NM_TEXT_GATHERING, 1)) return false;
    if (!gatherObject(low_, s.lowObject, s.lowUvw, NM_GATHER_LOW, s.thread, workers_)) return false;
    if (!s.bumpFile.empty() && !prepareBump()) return false;
    // The trees keep only the corners and normals of their triangles. The high object's full
    // records (texture coordinates, tangent frames) are read only for the bump detail; without a
    // bump image only what the tree keeps is gathered.
    if (bump_ != nullptr) return gatherObject(high_, s.highObject, s.highUvw, NM_GATHER_HIGH, s.thread, workers_);
    return gatherObject(highGeometry_, s.highObject, s.thread, workers_);
}

bool NormalMapper::octreeStage() {
    BakeSettings& s = *settings_;
    s.spinner.store(0);
    const bool ownOccluders = s.occlusionOn != 0 && (s.occluderMode == BAKE_OCCLUDERS_HIERARCHY ||
                                                     s.occluderMode == BAKE_OCCLUDERS_DOCUMENT);
    // Each build shows its percentage after the stage's text.
    auto build = [&s, this](auto& source, NMOctree& tree) {
        NMStatusPercent percent(s.statusText);
        NMOctreeBuildOptions options;
        options.threads = workers_;
        options.thread = s.thread;
        options.progress = &percent;
        return NMOctreeBuilder(options).build(source, tree);
    };
    if (!(bump_ != nullptr ? build(high_, highTree_) : build(highGeometry_, highTree_))) return false;
    occlusionTree_ = &highTree_;
    if (!ownOccluders) return true;
    if (!stage(NM_TEXT_OCCLUDERS, 0)) return false;
    // Gathered only now, once the high object's records are freed, so that the two are never held
    // at once. A failed gather leaves fewer occluders (an empty list blocks nothing); the bake goes on.
    if (s.occluderMode == BAKE_OCCLUDERS_HIERARCHY)
        gatherOccludersFromObject(occluders_, s.highObject, s.thread, workers_);
    else
        gatherOccludersFromDocument(occluders_, s.document, s.thread, workers_);
    if (!build(occluders_, occluderTree_)) return false;
    occlusionTree_ = &occluderTree_;
    return true;
}

bool NormalMapper::texelStage() {
    const BakeSettings& s = *settings_;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    if (occlusion) {
        if (!makeOcclusionDirections(directions_, s.occlusionGrid, s.occlusionExponent)) return false;
        // One draw from the settings' generator seeds the whole bake.
        seed_ = s.random != nullptr ? static_cast<uint64_t>(moduleApi()->randomReal(s.random) * 9007199254740992.0)
                                    : kSeed;
    }
    if (!createLayerSet(main_, true, s.width, s.height, occlusion, displacement)) return false;
    if (!createLayerSet(edgeFill_, true, s.width, s.height, occlusion, displacement)) return false;
    if (!makeSampleOffsets(offsets_, s.supersampling)) return false;
    if (!planChunks()) return false;
    if (!workerStats_.resize(workers_)) return false;
    processed_ = 0;
    nextChunk_ = 0;
    startSecond_ = nowMs() / 1000;
    shownSecond_ = startSecond_;
    sinceClock_ = 0;
    {
        TexelJob job(*this);
        stats_.threads = runWorkers(job, workers_, s.thread);
    }
    for (const NMTexelWorkerStats& w : workerStats_) {
        stats_.candidateTexels += w.candidateTexels;
        stats_.surfaceRays += w.surfaceRays;
        stats_.occlusionRays += w.occlusionRays;
        stats_.nodeVisits += w.nodeVisits;
        stats_.triangleTests += w.triangleTests;
    }
    return !stopped_ && !failed_;
}

bool NormalMapper::finishStage() {
    const BakeSettings& s = *settings_;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    if (!stage(NM_TEXT_FINISHING, 1)) return false;
    if (occlusion || displacement) divideByCounts(main_, s.thread);
    if (stopRequested()) return false;
    if (s.edgeFill) {
        if (occlusion || displacement) divideByCounts(edgeFill_, s.thread);
        if (stopRequested()) return false;
        mergeLayerSets(main_, edgeFill_, s.thread);
    }
    if (stopRequested()) return false;
    main_.keepDistances = nmFormatIsFloat(s.fileFormat);
    finishLayerSet(main_, s.thread);
    if (stopRequested()) return false;
    if (!dilateLayerSet(main_, edgeFill_, s.dilationPasses, s.thread)) return false;
    if (stopRequested()) return false;
    if (edgeFill_.normal) edgeFill_.normal->release();
    if (edgeFill_.occlusion) edgeFill_.occlusion->release();
    if (edgeFill_.displacement) edgeFill_.displacement->release();
    return true;
}

bool NormalMapper::writeStage() {
    const BakeSettings& s = *settings_;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    if (!stage(NM_TEXT_WRITING, 1)) return false;
    // Every image is made before any file is written: a stop (asked while the images are made)
    // then leaves no map behind.
    HostBitmap normalImage, occlusionImage, displacementImage;
    if (s.normalOn && !main_.normal->makeImage(normalImage, s.fileFormat, s.bitDepth, s.thread, s.normalYDown != 0)) return false;
    if (occlusion && !main_.occlusion->makeImage(occlusionImage, s.fileFormat, s.bitDepth, s.thread)) return false;
    if (displacement && !main_.displacement->makeImage(displacementImage, s.fileFormat, s.bitDepth, s.thread))
        return false;
    if (stopRequested()) return false;
    // The displacement scale first: a displacement image without it could not be read back.
    if (displacement && !nmFormatIsFloat(s.fileFormat) && !writeDisplacementText(main_, s.displacementFile))
        return false;
    if (s.normalOn && !normalImage.save(s.normalFile, s.fileFormat)) return false;
    if (occlusion && !occlusionImage.save(s.occlusionFile, s.fileFormat)) return false;
    if (displacement && !displacementImage.save(s.displacementFile, s.fileFormat)) return false;
    return true;
}

// The chunks of rows and the low triangles that reach into each, and the number of candidate
// texels in all (the base of the progress).
bool NormalMapper::planChunks() {
    const BakeSettings& s = *settings_;
    const int32_t W = s.width, H = s.height, P = s.border;
    chunkCount_ = (H + kChunkRows - 1) / kChunkRows;
    struct Rows {
        int32_t first, last;
    };
    Stack<Rows> rows;
    if (!rows.resize(low_.count()) || !chunkFirst_.resize(chunkCount_ + 1)) return false;
    int64_t candidates = 0, entries = 0;
    for (int32_t i = 0; i < low_.count(); ++i) {
        const NMTriangle& tri = low_.triangles.items[i];
        rows.items[i] = {1, 0};
        double X[3], Y[3];
        for (int k = 0; k < 3; ++k) {
            X[k] = (W - 1) * tri.v[k].uvw.x;
            Y[k] = (H - 1) * tri.v[k].uvw.y;
        }
        const double d = (Y[2] - Y[0]) * (X[1] - X[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
        if (!(std::fabs(d) >= kDegenerate)) continue;
        const NMTexelSpans spans(X, Y);
        const int64_t first = spans.top() - P > 0 ? spans.top() - P : 0;
        const int64_t last = spans.bottom() + P < H - 1 ? spans.bottom() + P : H - 1;
        if (first > last) continue;
        rows.items[i] = {static_cast<int32_t>(first), static_cast<int32_t>(last)};
        for (int64_t y = first; y <= last; ++y) {
            int64_t a, b;
            spans.span(y, &a, &b);
            a = a - P > 0 ? a - P : 0;
            b = b + P < W - 1 ? b + P : W - 1;
            if (b >= a) candidates += b - a + 1;
        }
        for (int32_t c = rows.items[i].first / kChunkRows; c <= rows.items[i].last / kChunkRows; ++c) {
            ++chunkFirst_.items[c + 1];
            ++entries;
        }
    }
    if (entries > 0x7fffffff || !chunkTriangles_.resize(static_cast<int32_t>(entries > 0 ? entries : 1))) return false;
    for (int32_t c = 0; c < chunkCount_; ++c) chunkFirst_.items[c + 1] += chunkFirst_.items[c];
    Stack<int32_t> fill;
    if (!fill.resize(chunkCount_ > 0 ? chunkCount_ : 1)) return false;
    for (int32_t c = 0; c < chunkCount_; ++c) fill.items[c] = chunkFirst_.items[c];
    for (int32_t i = 0; i < low_.count(); ++i) {
        if (rows.items[i].first > rows.items[i].last) continue;
        for (int32_t c = rows.items[i].first / kChunkRows; c <= rows.items[i].last / kChunkRows; ++c)
            chunkTriangles_.items[fill.items[c]++] = i;
    }
    totalTexels_ = candidates > 1 ? static_cast<double>(candidates) : 1.0;
    return true;
}

// One worker of the texel stage: takes the next chunk of rows until none is left and bakes it,
// every low triangle that reaches into it in list order, then the edge fill of its empty texels.
// Each texel belongs to one chunk, so its sums are made by one thread, in the order of the
// triangles as on a single thread: the maps come out the same for any number of workers.
void NormalMapper::texelWorker(int32_t index) {
    const BakeSettings& s = *settings_;
    // Made on the worker's own thread; a worker short of memory fails the whole bake.
    Worker* own = hostNew<Worker>(kWorkerTag, __LINE__);
    bool ok = own != nullptr && highTree_.prepareScratch(own->scratch) &&
              (occlusionTree_ == &highTree_ || occlusionTree_->prepareScratch(own->scratch));
    if (ok && s.occlusionOn && s.randomDirections) ok = own->randomDirections.resize(directions_.count);
    if (!ok) {
        hostDelete(own);
        failed_ = true;
        abort_ = true;
        return;
    }
    Worker& w = *own;
    w.progressShown = index == 0;
    while (!abort_.load(std::memory_order_relaxed)) {
        const int32_t chunk = nextChunk_.fetch_add(1);
        if (chunk >= chunkCount_) break;
        const int64_t fromRow = static_cast<int64_t>(chunk) * kChunkRows;
        const int64_t toRow = fromRow + kChunkRows - 1 < s.height - 1 ? fromRow + kChunkRows - 1 : s.height - 1;
        const int32_t first = chunkFirst_.items[chunk], end = chunkFirst_.items[chunk + 1];
        for (int32_t k = first; k < end && !abort_.load(std::memory_order_relaxed); ++k)
            bakeRows(chunkTriangles_.items[k], fromRow, toRow, false, w);
        if (s.edgeFill)
            for (int32_t k = first; k < end && !abort_.load(std::memory_order_relaxed); ++k)
                bakeRows(chunkTriangles_.items[k], fromRow, toRow, true, w);
    }
    processed_.fetch_add(w.sinceProgress);
    if (w.scratch.failed) {
        failed_ = true;
        abort_ = true;
    }
    w.stats.nodeVisits = w.scratch.nodeVisits;
    w.stats.triangleTests = w.scratch.triangleTests;
    workerStats_.items[index] = w.stats;
    hostDelete(own);
}

double NormalMapper::occlusionAt(const NMVec3& p, const NMVec3& n, Worker& w) {
    const Stack<NMSampleDir>* dirs = &directions_;
    if (settings_->randomDirections) {
        randomiseDirections(w.randomDirections, w.random, settings_->occlusionExponent);
        dirs = &w.randomDirections;
    }
    const uint64_t before = w.scratch.rays;
    const double open = occlusionSample(occlusionTree_, w.scratch, p, n, *dirs, settings_->blockedHalfSpace);
    w.stats.occlusionRays += w.scratch.rays - before;
    return open;
}

// Shows the percentage done and the time left, at most once a second (or at once when forced).
void NormalMapper::progress(bool force) {
    if (!force && ++sinceClock_ < kClockEvery) return;
    sinceClock_ = 0;
    const int64_t second = nowMs() / 1000;
    if (second == shownSecond_ && !force) return;
    shownSecond_ = second;
    const double done = static_cast<double>(processed_.load(std::memory_order_relaxed)) / totalTexels_;
    settings_->statusText.set(bakeProgressText(done < 1.0 ? done : 1.0, second - startSecond_));
}

HostString bakeProgressText(double fraction, int64_t elapsedSeconds) {
    const double left = fraction != 0.0 ? elapsedSeconds / fraction * (1.0 - fraction) : 0.0;
    return HostString::fromReal(fraction * 100.0, 3) + "% " + clockText(left);
}

// A triangle's candidate texels in rows fromRow to toRow: its rows and spans in pixel space with
// `border` texels around. The main pass casts the samples that fall on the triangle; the edge-fill
// pass comes after the main pass of every triangle of the rows and fills only the texels that no
// triangle's samples reached (whose main normal is still empty, as the merge asks), with the same
// values and in the same order as if each texel had been filled when its triangle was baked.
// Texels that some triangle did reach would never have their edge-fill values used, so no ray is
// cast for them.
void NormalMapper::bakeRows(int32_t triangle, int64_t fromRow, int64_t toRow, bool edgePass, Worker& wk) {
    const NMTriangle& tri = low_.triangles.items[triangle];
    const BakeSettings& s = *settings_;
    const int32_t W = s.width, H = s.height, P = s.border;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    const bool counts = occlusion || displacement;
    const bool randomRays = occlusion && s.randomDirections != 0;

    PixelTriangle px;
    for (int k = 0; k < 3; ++k) {
        px.X[k] = (W - 1) * tri.v[k].uvw.x;
        px.Y[k] = (H - 1) * tri.v[k].uvw.y;
    }
    px.d = (px.Y[2] - px.Y[0]) * (px.X[1] - px.X[0]) - (px.Y[1] - px.Y[0]) * (px.X[2] - px.X[0]);
    if (!(std::fabs(px.d) >= kDegenerate)) return;  // degenerate in UV space (or not finite)

    const NMTexelSpans spans(px.X, px.Y);
    int64_t rowFirst = spans.top() - P > 0 ? spans.top() - P : 0;
    int64_t rowLast = spans.bottom() + P < H - 1 ? spans.bottom() + P : H - 1;
    if (rowFirst < fromRow) rowFirst = fromRow;
    if (rowLast > toRow) rowLast = toRow;
    for (int64_t y = rowFirst; y <= rowLast; ++y) {
        int64_t first, last;
        spans.span(y, &first, &last);
        const int64_t colFirst = first - P > 0 ? first - P : 0;
        const int64_t colLast = last + P < W - 1 ? last + P : W - 1;
        const int32_t iy = static_cast<int32_t>(y);
        const NMVector3f* mainRow = main_.normal->row(iy);
        for (int64_t x = colFirst; x <= colLast; ++x) {
            if (abort_.load(std::memory_order_relaxed)) return;
            if (++wk.sinceStop >= kStopEvery) {
                wk.sinceStop = 0;
                if (stopRequested()) {
                    stopped_ = true;
                    abort_ = true;
                    return;
                }
            }
            const int32_t ix = static_cast<int32_t>(x);
            if (edgePass && !emptyNormal(mainRow[ix])) continue;
            if (!edgePass) ++wk.stats.candidateTexels;
            if (randomRays) wk.random = NMRandom(texelSeed(seed_, x, y, W, triangle, edgePass));

            // The tangent frame at the texel centre (weights may lie outside the triangle).
            double wc[3];
            px.weights(static_cast<double>(x), static_cast<double>(y), wc);
            TangentFrame frame;
            if (s.tangentSpace) {
                frame.t = blend(tri, wc, &NMVertex::tangent);
                frame.b = blend(tri, wc, &NMVertex::bitangent);
                frame.n = blend(tri, wc, &NMVertex::normal);
            }

            NMVec3 normalSum;
            double occlusionSum = 0.0, displacementSum = 0.0;
            int32_t hits = 0;
            for (const NMVec3& o : offsets_) {
                double w[3];
                px.weights(x + o.x, y + o.y, w);
                if (!inside(w)) continue;
                const NMVec3 point = blend(tri, w, &NMVertex::position);
                const NMVec3 normal = normalize(blend(tri, w, &NMVertex::normal));
                NMNearestHit hit;
                ++wk.stats.surfaceRays;
                if (!highTree_.nearestHit(point, normal, bump_, &hit, wk.scratch)) continue;
                ++hits;
                // The edge-fill pass only needs to know that this triangle's samples hit here.
                if (edgePass) break;
                displacementSum += hit.t;
                const NMVec3 hn = normalize(hit.normal);
                if (occlusion) occlusionSum += occlusionAt(hit.point, hn, wk);
                normalSum += hn;
            }

            if (!edgePass) {
                if (hits > 0) {
                    if (s.tangentSpace) normalSum = toTangentSpace(frame, normalSum);
                    addNormal(main_, ix, iy, toFloat(normalSum));
                    if (occlusion) main_.occlusion->add(ix, iy, static_cast<float>(occlusionSum));
                    if (displacement) main_.displacement->add(ix, iy, static_cast<float>(displacementSum));
                    if (counts) main_.count->add(ix, iy, hits);
                }
                if (++wk.sinceProgress >= kProgressEvery) {
                    processed_.fetch_add(wk.sinceProgress, std::memory_order_relaxed);
                    wk.sinceProgress = 0;
                }
                if (wk.progressShown) progress(false);
            } else if (hits == 0) {
                // One ray from the nearest point of the triangle; a miss keeps the low surface.
                double w[3] = {wc[0], wc[1], wc[2]};
                pullInside(w);
                const NMVec3 point = blend(tri, w, &NMVertex::position);
                const NMVec3 lowNormal = normalize(blend(tri, w, &NMVertex::normal));
                NMVec3 normal = lowNormal;
                double open = 1.0, distance = 0.0;
                NMNearestHit hit;
                ++wk.stats.surfaceRays;
                if (highTree_.nearestHit(point, lowNormal, bump_, &hit, wk.scratch)) {
                    normal = normalize(hit.normal);
                    if (occlusion) open = occlusionAt(hit.point, normal, wk);
                    distance = hit.t;
                }
                if (s.tangentSpace) normal = toTangentSpace(frame, normal);
                addNormal(edgeFill_, ix, iy, toFloat(normal));
                if (occlusion) edgeFill_.occlusion->add(ix, iy, static_cast<float>(open));
                if (displacement) edgeFill_.displacement->add(ix, iy, static_cast<float>(distance));
                if (counts) edgeFill_.count->add(ix, iy, 1);
            }
        }
    }
}
