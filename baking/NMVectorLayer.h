// Layers of three floats per pixel (normals), flat or banded, with bilinear sampling, image files,
// normalisation and the tangent-space bump layer made from a height image.
#pragma once

#include <cstdint>

#include "baking/NMFloatLayer.h"
#include "baking/NMImageLayer.h"
#include "baking/NMLayerStorage.h"
#include "sources/HostFilename.h"
#include "sources/HostInterface.h"

class NMAbstractVectorLayer : public NMImageLayer<NMVector3f> {
public:
    // Componentwise bilinear blend as for the float layers; an empty layer gives (0, 0, 0).
    virtual NMVector3f bilinear(double u, double v);
    // Loads an image file as encoded vectors: (channel − 127.5) / 127.5 for red, green, blue.
    virtual bool loadImageFile(const HostFilename& file);
    // Writes x × 127.5 + 127.5 (x × 32767.5 + 32767.5 at 16 bits) truncated, and likewise y and z,
    // into red, green and blue; otherwise as the float layers write.
    virtual bool writeImageFile(const HostFilename& file, int32_t format, int32_t bitDepth, HostThreadBase* thread);
    // Every element becomes its unit vector; a zero vector stays zero.
    virtual void normaliseAll();
    // Makes this layer the tangent-space normals of the height image h (Sobel gradients gx, gy with
    // wrap-around at the borders): normalise(−s·gx, −s·gy, 1), x along growing columns (u) and y
    // along growing rows (v). False when memory runs out.
    virtual bool makeBumpLayer(NMAbstractFloatLayer& heights, float strength);
    // The first half of writeImageFile, as for the float layers.
    // negateY writes the second component negated (normal maps for engines whose tangent frame has
    // its y axis down the texture).
    bool makeImage(HostBitmap& bitmap, int32_t format, int32_t bitDepth, HostThreadBase* thread,
                   bool negateY = false);
};

class NMVectorLayer final : public NMStoredLayer<NMAbstractVectorLayer, NMFlatStorage> {};
class NMBandedVectorLayer final : public NMStoredLayer<NMAbstractVectorLayer, NMBandedStorage> {};

// The unit vector along v; a zero vector stays zero.
NMVector3f normalise(const NMVector3f& v);
