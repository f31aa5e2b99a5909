// Layers of one float per pixel (occlusion, displacement, bump heights), flat or banded, with
// bilinear sampling and image files.
#pragma once

#include <cstdint>

#include "baking/NMImageLayer.h"
#include "baking/NMLayerStorage.h"
#include "sources/HostBitmap.h"
#include "sources/HostFilename.h"
#include "sources/HostInterface.h"

class NMAbstractFloatLayer : public NMImageLayer<float> {
public:
    // Blends the four elements around (u × (width − 1), v × (height − 1)), u and v clamped to [0, 1].
    // An empty layer gives 0.
    virtual float bilinear(double u, double v);
    // Loads an image file as grey values (channel / 255); false when it cannot be loaded or held.
    virtual bool loadImageFile(const HostFilename& file);
    // Writes v × 255 (v × 65535 at 16 bits) truncated into every channel, row by row, asking for a
    // stop before each row. An empty layer writes nothing and answers true; a stop, a depth or format
    // that cannot be written, or a failed save answers false.
    virtual bool writeImageFile(const HostFilename& file, int32_t format, int32_t bitDepth, HostThreadBase* thread);
    // The first half of writeImageFile: the bitmap that would be saved. False on a stop or when the
    // depth and format cannot be written or the bitmap cannot be made (an empty layer too).
    bool makeImage(HostBitmap& bitmap, int32_t format, int32_t bitDepth, HostThreadBase* thread);
};

class NMFloatLayer final : public NMStoredLayer<NMAbstractFloatLayer, NMFlatStorage> {};
class NMBandedFloatLayer final : public NMStoredLayer<NMAbstractFloatLayer, NMBandedStorage> {};

// The four pixels and weights of a bilinear sample at (u, v) in a w × h layer.
struct NMBilinearTaps {
    int32_t x0, x1, y0, y1;
    double fx, fy;
};
NMBilinearTaps nmBilinearTaps(double u, double v, int32_t w, int32_t h);
