#include "baking/NMLayerSet.h"

#include <cmath>
#include <cstring>

#include "baking/NMBakeThread.h"
#include "baking/NMImageFile.h"
#include "sources/HostMemory.h"
#include "sources/HostString.h"
#include "sources/Module.h"
#include "sources/ResourceHolder.h"

namespace {

constexpr const char* kTag = "NMLayerSet";
// A normal component counts as zero within this distance of it.
constexpr double kZero = 1e-7;
// Bins of the displacement histogram that trims the outliers.
constexpr int32_t kBins = 50;

// Every component within kZero of zero.
inline bool emptyNormal(const NMVector3f& n) {
    return std::fabs(n.x) <= kZero && std::fabs(n.y) <= kZero && std::fabs(n.z) <= kZero;
}

template <class Flat, class Banded, class Abstract>
Abstract* makeLayer(bool banded, int32_t line) {
    if (banded) return hostNew<Banded>(kTag, line);
    return hostNew<Flat>(kTag, line);
}

template <class Layer>
void destroyLayer(Layer*& layer) {
    hostDelete(layer);
    layer = nullptr;
}

}  // namespace

bool createLayerSet(NMLayerSet& set, bool banded, int32_t width, int32_t height, bool occlusionOn,
                    bool displacementOn) {
    destroyLayerSet(set);
    set.normal = makeLayer<NMVectorLayer, NMBandedVectorLayer, NMAbstractVectorLayer>(banded, __LINE__);
    set.occlusion = makeLayer<NMFloatLayer, NMBandedFloatLayer, NMAbstractFloatLayer>(banded, __LINE__);
    set.displacement = makeLayer<NMFloatLayer, NMBandedFloatLayer, NMAbstractFloatLayer>(banded, __LINE__);
    set.count = makeLayer<NMIntLayer, NMBandedIntLayer, NMAbstractIntLayer>(banded, __LINE__);
    bool ok = set.normal != nullptr && set.occlusion != nullptr && set.displacement != nullptr && set.count != nullptr;
    ok = ok && set.normal->allocate(width, height);
    if (ok && occlusionOn) ok = set.occlusion->allocate(width, height);
    if (ok && displacementOn) ok = set.displacement->allocate(width, height);
    if (ok && (occlusionOn || displacementOn)) ok = set.count->allocate(width, height);
    if (!ok) {
        destroyLayerSet(set);
        return false;
    }
    set.width = width;
    set.height = height;
    return true;
}

void destroyLayerSet(NMLayerSet& set) {
    destroyLayer(set.normal);
    destroyLayer(set.occlusion);
    destroyLayer(set.displacement);
    destroyLayer(set.count);
    set.width = 0;
    set.height = 0;
    set.displacementScale = 0.0f;
}

void divideByCounts(NMLayerSet& set, HostThreadBase* thread) {
    if (!isAllocated(set.count)) return;
    const bool occlusion = isAllocated(set.occlusion), displacement = isAllocated(set.displacement);
    for (int32_t y = 0; y < set.height; ++y) {
        if (bakeStopRequested(thread)) return;
        const int32_t* counts = set.count->row(y);
        float* occ = occlusion ? set.occlusion->row(y) : nullptr;
        float* disp = displacement ? set.displacement->row(y) : nullptr;
        for (int32_t x = 0; x < set.width; ++x) {
            const int32_t c = counts[x];
            if (c == 0) continue;
            if (occ) occ[x] /= static_cast<float>(c);
            if (disp) disp[x] /= static_cast<float>(c);
        }
    }
}

void mergeLayerSets(NMLayerSet& main, NMLayerSet& edgeFill, HostThreadBase* thread) {
    if (!isAllocated(main.normal) || !isAllocated(edgeFill.normal)) return;
    const bool occlusion = isAllocated(main.occlusion) && isAllocated(edgeFill.occlusion);
    const bool displacement = isAllocated(main.displacement) && isAllocated(edgeFill.displacement);
    for (int32_t y = 0; y < main.height; ++y) {
        if (bakeStopRequested(thread)) return;
        NMVector3f* mn = main.normal->row(y);
        const NMVector3f* en = edgeFill.normal->row(y);
        for (int32_t x = 0; x < main.width; ++x) {
            if (!emptyNormal(mn[x])) continue;
            const NMVector3f& e = en[x];
            if (!(std::fabs(e.x) >= kZero || std::fabs(e.y) >= kZero || std::fabs(e.z) >= kZero)) continue;
            mn[x] = e;
            if (occlusion) main.occlusion->row(y)[x] = edgeFill.occlusion->row(y)[x];
            if (displacement) main.displacement->row(y)[x] = edgeFill.displacement->row(y)[x];
        }
    }
}

void finishLayerSet(NMLayerSet& set, HostThreadBase* thread) {
    if (isAllocated(set.normal)) set.normal->normaliseAll();

    if (isAllocated(set.occlusion)) {
        for (int32_t y = 0; y < set.height; ++y) {
            if (bakeStopRequested(thread)) return;
            float* occ = set.occlusion->row(y);
            for (int32_t x = 0; x < set.width; ++x) {
                if (!(occ[x] > 0.0f))
                    occ[x] = 0.0f;
                else if (occ[x] > 1.0f)
                    occ[x] = 1.0f;
            }
        }
    }

    if (!isAllocated(set.displacement)) return;
    double lo = 0.0, hi = 0.0;
    for (int32_t y = 0; y < set.height; ++y) {
        if (bakeStopRequested(thread)) return;
        const float* disp = set.displacement->row(y);
        for (int32_t x = 0; x < set.width; ++x) {
            if (disp[x] < lo) lo = disp[x];
            if (disp[x] > hi) hi = disp[x];
        }
    }
    if (hi - lo != 0.0) {
        // Histogram of the displacements of the pixels that have a normal, then the tails that
        // hold at most 1% of them are cut off at each end.
        int64_t bins[kBins] = {};
        int64_t n = 0;
        const double range = hi - lo;
        for (int32_t y = 0; y < set.height; ++y) {
            if (bakeStopRequested(thread)) return;
            const float* disp = set.displacement->row(y);
            const NMVector3f* nrm = isAllocated(set.normal) ? set.normal->row(y) : nullptr;
            for (int32_t x = 0; x < set.width; ++x) {
                if (nrm == nullptr || (nrm[x].x == 0.0f && nrm[x].y == 0.0f && nrm[x].z == 0.0f)) continue;
                double b = (disp[x] - lo) / range * kBins;
                int32_t bin = b >= kBins ? kBins - 1 : static_cast<int32_t>(b);
                if (bin < 0) bin = 0;
                ++bins[bin];
                ++n;
            }
        }
        const double binWidth = range / kBins;
        const int64_t limit = n / 100;
        int64_t sum = 0;
        for (int32_t i = 0; i < kBins && sum + bins[i] <= limit; ++i) {
            lo += binWidth;
            sum += bins[i];
        }
        sum = 0;
        for (int32_t i = kBins - 1; i >= 0 && sum + bins[i] <= limit; --i) {
            hi -= binWidth;
            sum += bins[i];
        }
    }
    const double scale = std::fabs(lo) > std::fabs(hi) ? std::fabs(lo) : std::fabs(hi);
    set.displacementScale = static_cast<float>(scale);
    if (set.keepDistances) return;
    for (int32_t y = 0; y < set.height; ++y) {
        if (bakeStopRequested(thread)) return;
        float* disp = set.displacement->row(y);
        for (int32_t x = 0; x < set.width; ++x) {
            if (scale == 0.0) {
                disp[x] = 1.0f;
                continue;
            }
            double d = disp[x] * 0.5 / scale + 0.5;
            if (!(d > 0.0)) d = 0.0;
            if (d > 1.0) d = 1.0;
            disp[x] = static_cast<float>(d);
        }
    }
}

bool dilateLayerSet(NMLayerSet& main, NMLayerSet& scratch, int32_t passes, HostThreadBase* thread) {
    if (!isAllocated(main.normal) || !isAllocated(scratch.normal)) return true;
    const int32_t w = main.width, h = main.height;
    NMBandedStorage<uint8_t> flags;
    if (!flags.allocate(w, h)) return false;
    const bool occlusion = isAllocated(main.occlusion) && isAllocated(scratch.occlusion);
    const bool displacement = isAllocated(main.displacement) && isAllocated(scratch.displacement);
    for (int32_t y = 0; y < h; ++y) {
        NMVector3f* s = scratch.normal->row(y);
        for (int32_t x = 0; x < w; ++x) s[x] = NMVector3f{};
    }

    for (int32_t pass = 0; pass < passes; ++pass) {
        for (int32_t y = 0; y < h; ++y) {
            if (bakeStopRequested(thread)) return true;
            const int32_t rows[3] = {y == 0 ? h - 1 : y - 1, y, y == h - 1 ? 0 : y + 1};
            const NMVector3f* mn = main.normal->row(y);
            for (int32_t x = 0; x < w; ++x) {
                if (!emptyNormal(mn[x])) continue;
                const int32_t cols[3] = {x == 0 ? w - 1 : x - 1, x, x == w - 1 ? 0 : x + 1};
                NMVector3f normalSum;
                double occSum = 0.0, dispSum = 0.0;
                int32_t count = 0;
                for (int32_t j = 0; j < 3; ++j) {
                    const NMVector3f* nr = main.normal->row(rows[j]);
                    for (int32_t i = 0; i < 3; ++i) {
                        if (i == 1 && j == 1) continue;
                        const NMVector3f& n = nr[cols[i]];
                        if (!(std::fabs(n.x) > kZero || std::fabs(n.y) > kZero || std::fabs(n.z) > kZero)) continue;
                        normalSum += n;
                        if (occlusion) occSum += main.occlusion->row(rows[j])[cols[i]];
                        if (displacement) dispSum += main.displacement->row(rows[j])[cols[i]];
                        ++count;
                    }
                }
                if (count == 0) continue;
                flags.row(y)[x] = 1;
                scratch.normal->row(y)[x] = normalise(normalSum);
                if (occlusion) scratch.occlusion->row(y)[x] = static_cast<float>(occSum / count);
                if (displacement) scratch.displacement->row(y)[x] = static_cast<float>(dispSum / count);
            }
        }
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* f = flags.row(y);
            for (int32_t x = 0; x < w; ++x) {
                if (f[x] == 0) continue;
                f[x] = 0;
                main.normal->row(y)[x] = scratch.normal->row(y)[x];
                if (occlusion) main.occlusion->row(y)[x] = scratch.occlusion->row(y)[x];
                if (displacement) main.displacement->row(y)[x] = scratch.displacement->row(y)[x];
            }
        }
    }
    return true;
}

void displacementText(const NMLayerSet& set, char out[NM_DISPLACEMENT_TEXT_MAX + 1]) {
    const HostString text = resourceString(NM_DISPLACEMENT_TEXT_ID) + HostString::fromReal(set.displacementScale);
    const char* chars = text.chars();
    size_t n = std::strlen(chars);
    if (n > NM_DISPLACEMENT_TEXT_MAX) n = NM_DISPLACEMENT_TEXT_MAX;
    std::memcpy(out, chars, n);
    out[n] = 0;
}

bool writeDisplacementText(const NMLayerSet& set, const HostFilename& file) {
    char text[NM_DISPLACEMENT_TEXT_MAX + 1];
    displacementText(set, text);
    HostFilename textFile(file);
    textFile.setSuffix("txt");
    return !textFile.empty() && moduleApi()->fileWriteText(textFile.handle(), text) == 1;
}

bool writeDisplacement(NMLayerSet& set, const HostFilename& file, int32_t format, int32_t bitDepth,
                       HostThreadBase* thread) {
    if (set.displacement == nullptr) return false;
    // Without its scale the displacement image cannot be read back, so a scale file that cannot be
    // written fails the whole write.
    // Float images hold the distances themselves and need no scale.
    if (!nmFormatIsFloat(format) && !writeDisplacementText(set, file)) return false;
    return set.displacement->writeImageFile(file, format, bitDepth, thread);
}
