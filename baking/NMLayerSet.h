// The four layers of one bake pass (normal sums, occlusion, displacement, sample counts) and the
// operations on the whole set: divide by the counts, merge the edge-fill set, finish the maps,
// dilate them into the holes, write the displacement map with its scale file.
//
// Every row loop asks for a stop first; a stop ends the pass early and the caller notices it
// itself.
#pragma once

#include <cstdint>

#include "baking/NMFloatLayer.h"
#include "baking/NMIntLayer.h"
#include "baking/NMVectorLayer.h"
#include "sources/HostFilename.h"
#include "sources/HostInterface.h"
#include "sources/ResourceIds.h"

// Longest text written to the displacement scale file.
constexpr int32_t NM_DISPLACEMENT_TEXT_MAX = 190;

struct NMLayerSet {
    int32_t width = 0;
    int32_t height = 0;
    float displacementScale = 0.0f;  // set by finishLayerSet
    // For float output: finishLayerSet leaves the displacements as signed distances in scene units.
    bool keepDistances = false;
    NMAbstractVectorLayer* normal = nullptr;
    NMAbstractFloatLayer* occlusion = nullptr;
    NMAbstractFloatLayer* displacement = nullptr;
    NMAbstractIntLayer* count = nullptr;
};

// True when the layer exists and holds pixels.
template <class Layer>
inline bool isAllocated(Layer* layer) {
    return layer != nullptr && !layer->isEmpty();
}

// Makes the four layers (banded or flat), allocating the normal layer always, the occlusion and
// displacement layers when asked for, and the count layer when either is. Any layers the set held
// are destroyed first. False when a layer cannot be made or allocated (the set is then left empty).
bool createLayerSet(NMLayerSet& set, bool banded, int32_t width, int32_t height, bool occlusionOn,
                    bool displacementOn);
void destroyLayerSet(NMLayerSet& set);

// Adds a normal (sum) to the set's normal layer at (x, y).
inline void addNormal(NMLayerSet& set, int32_t x, int32_t y, const NMVector3f& normal) {
    set.normal->add(x, y, normal);
}

// Occlusion and displacement sums become means where the count is not zero; normals stay sums.
void divideByCounts(NMLayerSet& set, HostThreadBase* thread);
// Where the main set has no normal and the edge-fill set has one, the edge-fill values are taken.
void mergeLayerSets(NMLayerSet& main, NMLayerSet& edgeFill, HostThreadBase* thread);
// Normalises the normals, clamps the occlusion to [0, 1] and scales the displacement into [0, 1]
// around 0.5, the 1% outliers at each end clamped; the scale is kept in displacementScale.
void finishLayerSet(NMLayerSet& set, HostThreadBase* thread);
// Grows the filled area by one ring of pixels per pass (wrapping at the borders), each new pixel
// the mean of its filled neighbours; `scratch` must have the layers of `main` and its values are
// overwritten. False when the working flags cannot be allocated.
bool dilateLayerSet(NMLayerSet& main, NMLayerSet& scratch, int32_t passes, HostThreadBase* thread);
// Writes the scale text file (the file name with the suffix "txt") and then the displacement image;
// True only when both were written.
bool writeDisplacement(NMLayerSet& set, const HostFilename& file, int32_t format, int32_t bitDepth,
                       HostThreadBase* thread);
// The pieces of writeDisplacement: the scale text (resource text and the scale, at most
// NM_DISPLACEMENT_TEXT_MAX characters) and its writing beside the image file.
void displacementText(const NMLayerSet& set, char out[NM_DISPLACEMENT_TEXT_MAX + 1]);
bool writeDisplacementText(const NMLayerSet& set, const HostFilename& file);
