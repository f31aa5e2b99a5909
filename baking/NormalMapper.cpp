#include "baking/NormalMapper.h"

#include <cmath>
#include <cstdio>

#include "baking/NMBakeThread.h"
#include "baking/NMFloatLayer.h"
#include "baking/NMGather.h"
#include "baking/NMImageFile.h"
#include "baking/NMTexelSpans.h"
#include "shader/TangentFrame.h"
#include "sources/HostBitmap.h"
#include "sources/HostMemory.h"
#include "sources/HostString.h"
#include "sources/Module.h"
#include "sources/ResourceHolder.h"

namespace {

constexpr const char* kTag = "NormalMapper";
// Triangles smaller than this in pixel space (twice their area) get no texels.
constexpr double kDegenerate = 1e-7;
// Seed of the random occlusion directions when the settings bring no generator.
constexpr uint32_t kSeed = 1;
// Candidate texels between two looks at the clock.
constexpr int32_t kClockEvery = 64;

int64_t nowMs() { return moduleApi()->clockMs(); }

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

// Half the length of the cross product of the texture-coordinate differences.
double uvArea(const NMTriangle& t) {
    return 0.5 * length(cross(t.v[1].uvw - t.v[0].uvw, t.v[2].uvw - t.v[0].uvw));
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

bool NormalMapper::stopRequested() const { return bakeStopRequested(settings_->thread); }

// Shows a stage's text and sets the spinner; false when a stop was asked for.
bool NormalMapper::stage(int32_t textId, int32_t spinner) {
    settings_->statusText.set(resourceString(textId));
    settings_->spinner.store(spinner);
    return !stopRequested();
}

void NormalMapper::freeAll() {
    high_.clear();
    low_.clear();
    occluders_.clear();
    highTree_.destroy();
    occluderTree_.destroy();
    occlusionTree_ = nullptr;
    destroyLayerSet(main_);
    destroyLayerSet(edgeFill_);
    hostDelete(bump_);
    bump_ = nullptr;
    offsets_.clear();
    directions_.clear();
    if (ownRandom_ != nullptr) moduleApi()->randomDestroy(ownRandom_);
    ownRandom_ = nullptr;
    random_ = nullptr;
}

int32_t NormalMapper::bake(BakeSettings& settings) {
    settings_ = &settings;
    stats_ = NormalMapperStats();
    stopped_ = false;
    const int32_t ok = run();
    freeAll();
    settings.spinner.store(0);
    return ok;
}

// The height image becomes tangent-space bump normals over the high object's texture coordinates.
int32_t NormalMapper::prepareBump() {
    NMFloatLayer heights;
    if (!heights.loadImageFile(settings_->bumpFile)) return 0;
    bump_ = hostNew<NMBandedVectorLayer>(kTag, __LINE__);
    return bump_ != nullptr && bump_->makeBumpLayer(heights, settings_->bumpStrength) ? 1 : 0;
}

int32_t NormalMapper::run() {
    BakeSettings& s = *settings_;
    if (s.width < 1 || s.height < 1) return 0;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    const bool ownOccluders = occlusion && (s.occluderMode == BAKE_OCCLUDERS_HIERARCHY ||
                                            s.occluderMode == BAKE_OCCLUDERS_DOCUMENT);

    // Gathering.
    int64_t mark = nowMs();
    if (!stage(NM_TEXT_GATHERING, 1)) return 0;
    if (!gatherObject(low_, s.lowObject, s.lowUvw, NM_GATHER_LOW, s.thread)) return 0;
    if (!s.bumpFile.empty() && !prepareBump()) return 0;
    if (!gatherObject(high_, s.highObject, s.highUvw, NM_GATHER_HIGH, s.thread)) return 0;
    if (ownOccluders) {
        // A failed gather leaves fewer occluders (an empty list blocks nothing); the bake goes on.
        if (s.occluderMode == BAKE_OCCLUDERS_HIERARCHY)
            gatherOccludersFromObject(occluders_, s.highObject, s.thread);
        else
            gatherOccludersFromDocument(occluders_, s.document, s.thread);
    }
    totalTexels_ = 0.0;
    for (const NMTriangle& t : low_.triangles) totalTexels_ += uvArea(t) * s.width * s.height;
    if (totalTexels_ < 1.0) totalTexels_ = 1.0;
    stats_.gatherMs = nowMs() - mark;

    // Octrees.
    mark = nowMs();
    s.spinner.store(0);
    if (!highTree_.build(&s.statusText, &high_, s.thread)) return 0;
    occlusionTree_ = &highTree_;
    if (ownOccluders) {
        if (!stage(NM_TEXT_OCCLUDERS, 0)) return 0;
        if (!occluderTree_.build(&s.statusText, &occluders_, s.thread)) return 0;
        occlusionTree_ = &occluderTree_;
    }
    stats_.octreeMs = nowMs() - mark;

    // Texels.
    mark = nowMs();
    if (occlusion) {
        if (!makeOcclusionDirections(directions_, s.occlusionGrid, s.occlusionExponent)) return 0;
        random_ = s.random;
        if (s.randomDirections && random_ == nullptr) {
            ownRandom_ = moduleApi()->randomMake(kSeed);
            random_ = ownRandom_;
        }
    }
    if (!createLayerSet(main_, true, s.width, s.height, occlusion, displacement)) return 0;
    if (!createLayerSet(edgeFill_, true, s.width, s.height, occlusion, displacement)) return 0;
    if (!makeSampleOffsets(offsets_, s.supersampling)) return 0;
    processed_ = 0.0;
    startSecond_ = nowMs() / 1000;
    shownSecond_ = startSecond_;
    sinceClock_ = 0;
    for (int32_t i = 0; i < low_.triangles.count && !stopped_; ++i) bakeTriangle(low_.triangles.items[i], false);
    if (s.edgeFill)
        for (int32_t i = 0; i < low_.triangles.count && !stopped_; ++i) bakeTriangle(low_.triangles.items[i], true);
    stats_.texelMs = nowMs() - mark;
    stats_.nodeVisits = highTree_.nodeVisits + (occlusionTree_ != &highTree_ ? occlusionTree_->nodeVisits : 0);
    stats_.triangleTests = highTree_.triangleTests + (occlusionTree_ != &highTree_ ? occlusionTree_->triangleTests : 0);
    if (stopped_) return 0;

    // Finishing.
    mark = nowMs();
    if (!stage(NM_TEXT_FINISHING, 1)) return 0;
    if (occlusion || displacement) divideByCounts(main_, s.thread);
    if (stopRequested()) return 0;
    if (s.edgeFill) {
        if (occlusion || displacement) divideByCounts(edgeFill_, s.thread);
        if (stopRequested()) return 0;
        mergeLayerSets(main_, edgeFill_, s.thread);
    }
    if (stopRequested()) return 0;
    main_.keepDistances = nmFormatIsFloat(s.fileFormat);
    finishLayerSet(main_, s.thread);
    if (stopRequested()) return 0;
    if (!dilateLayerSet(main_, edgeFill_, s.dilationPasses, s.thread)) return 0;
    if (stopRequested()) return 0;
    if (edgeFill_.normal) edgeFill_.normal->release();
    if (edgeFill_.occlusion) edgeFill_.occlusion->release();
    if (edgeFill_.displacement) edgeFill_.displacement->release();
    stats_.finishMs = nowMs() - mark;

    // Writing.
    mark = nowMs();
    if (!stage(NM_TEXT_WRITING, 1)) return 0;
    // Every image is made before any file is written: a stop (asked while the images are made)
    // then leaves no map behind.
    HostBitmap normalImage, occlusionImage, displacementImage;
    if (s.normalOn && !main_.normal->makeImage(normalImage, s.fileFormat, s.bitDepth, s.thread)) return 0;
    if (occlusion && !main_.occlusion->makeImage(occlusionImage, s.fileFormat, s.bitDepth, s.thread)) return 0;
    if (displacement && !main_.displacement->makeImage(displacementImage, s.fileFormat, s.bitDepth, s.thread))
        return 0;
    if (stopRequested()) return 0;
    // The displacement scale first: a displacement image without it could not be read back.
    if (displacement && !nmFormatIsFloat(s.fileFormat) && !writeDisplacementText(main_, s.displacementFile)) return 0;
    if (s.normalOn && !normalImage.save(s.normalFile, s.fileFormat)) return 0;
    if (occlusion && !occlusionImage.save(s.occlusionFile, s.fileFormat)) return 0;
    if (displacement && !displacementImage.save(s.displacementFile, s.fileFormat)) return 0;
    stats_.writeMs = nowMs() - mark;
    return 1;
}

double NormalMapper::occlusionAt(const NMVec3& p, const NMVec3& n) {
    if (random_ != nullptr && settings_->randomDirections)
        randomiseDirections(directions_, random_, settings_->occlusionExponent);
    const uint64_t before = occlusionTree_->rayCount;
    const double open = occlusionSample(occlusionTree_, p, n, directions_, settings_->blockedHalfSpace);
    stats_.occlusionRays += occlusionTree_->rayCount - before;
    return open;
}

// Shows the percentage done and the time left, at most once a second (or at once when forced).
void NormalMapper::progress(bool force) {
    if (!force && ++sinceClock_ < kClockEvery) return;
    sinceClock_ = 0;
    const int64_t second = nowMs() / 1000;
    if (second == shownSecond_ && !force) return;
    shownSecond_ = second;
    settings_->statusText.set(bakeProgressText(processed_ / totalTexels_, second - startSecond_));
}

HostString bakeProgressText(double fraction, int64_t elapsedSeconds) {
    const double left = fraction != 0.0 ? elapsedSeconds / fraction * (1.0 - fraction) : 0.0;
    return HostString::fromReal(fraction * 100.0, 3) + "% " + clockText(left);
}

// A triangle's candidate texels: its rows and spans in pixel space with `border` texels around.
// The main pass casts the samples that fall on the triangle; the edge-fill pass comes after every
// triangle's main pass and fills only the texels that no triangle's samples reached (whose main
// normal is still empty, as the merge asks), with the same values and in the same order as if each
// texel had been filled when its triangle was baked. Texels that some triangle did reach would
// never have their edge-fill values used, so no ray is cast for them.
void NormalMapper::bakeTriangle(const NMTriangle& tri, bool edgePass) {
    const BakeSettings& s = *settings_;
    const int32_t W = s.width, H = s.height, P = s.border;
    const bool occlusion = s.occlusionOn != 0, displacement = s.displacementOn != 0;
    const bool counts = occlusion || displacement;

    PixelTriangle px;
    for (int k = 0; k < 3; ++k) {
        px.X[k] = (W - 1) * tri.v[k].uvw.x;
        px.Y[k] = (H - 1) * tri.v[k].uvw.y;
    }
    px.d = (px.Y[2] - px.Y[0]) * (px.X[1] - px.X[0]) - (px.Y[1] - px.Y[0]) * (px.X[2] - px.X[0]);
    if (!(std::fabs(px.d) >= kDegenerate)) return;  // degenerate in UV space (or not finite)

    const NMTexelSpans spans(px.X, px.Y);
    int64_t counted = 0;
    const int64_t rowFirst = spans.top() - P > 0 ? spans.top() - P : 0;
    const int64_t rowLast = spans.bottom() + P < H - 1 ? spans.bottom() + P : H - 1;
    for (int64_t y = rowFirst; y <= rowLast; ++y) {
        int64_t first, last;
        spans.span(y, &first, &last);
        const bool rowInside = y >= spans.top() && y <= spans.bottom();
        const int64_t colFirst = first - P > 0 ? first - P : 0;
        const int64_t colLast = last + P < W - 1 ? last + P : W - 1;
        const int32_t iy = static_cast<int32_t>(y);
        const NMVector3f* mainRow = main_.normal->row(iy);
        for (int64_t x = colFirst; x <= colLast; ++x) {
            if (stopRequested()) {
                stopped_ = true;
                return;
            }
            const int32_t ix = static_cast<int32_t>(x);
            if (edgePass && !emptyNormal(mainRow[ix])) continue;
            if (!edgePass) ++stats_.candidateTexels;

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
                ++stats_.surfaceRays;
                if (!highTree_.nearestHit(point, normal, bump_, &hit)) continue;
                ++hits;
                // The edge-fill pass only needs to know that this triangle's samples hit here.
                if (edgePass) break;
                displacementSum += hit.t;
                const NMVec3 hn = normalize(hit.normal);
                if (occlusion) occlusionSum += occlusionAt(hit.point, hn);
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
                if (rowInside && x >= first && x <= last) {
                    processed_ += 1.0;
                    ++counted;
                }
                progress(false);
            } else if (hits == 0) {
                // One ray from the nearest point of the triangle; a miss keeps the low surface.
                double w[3] = {wc[0], wc[1], wc[2]};
                pullInside(w);
                const NMVec3 point = blend(tri, w, &NMVertex::position);
                const NMVec3 lowNormal = normalize(blend(tri, w, &NMVertex::normal));
                NMVec3 normal = lowNormal;
                double open = 1.0, distance = 0.0;
                NMNearestHit hit;
                ++stats_.surfaceRays;
                if (highTree_.nearestHit(point, lowNormal, bump_, &hit)) {
                    normal = normalize(hit.normal);
                    if (occlusion) open = occlusionAt(hit.point, normal);
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
    // The progress base is the UV area; the texels actually counted for this triangle are traded
    // for it.
    if (!edgePass) processed_ += uvArea(tri) * W * H - static_cast<double>(counted);
}
