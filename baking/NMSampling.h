// What the bake samples with: the sub-texel offsets of supersampling, the occlusion directions
// (fixed or random) with their weights, the rotation that stands them on a surface normal, and the
// occlusion sample itself.
#pragma once

#include <cstdint>

#include "baking/NMOctree.h"
#include "shader/NMVector.h"
#include "sources/HostInterface.h"
#include "sources/Stack.h"

// An occlusion direction in the frame whose +Z is the surface normal, with its weight.
struct NMSampleDir {
    double x = 0.0, y = 0.0, z = 0.0, weight = 0.0;
};

// Offsets from a texel centre: (0, 0) first; for n ≥ 2 then n × n offsets row by row,
// ((j + 1)/(n + 1) − 0.5, (i + 1)/(n + 1) − 0.5) for row i, column j. False when memory runs out.
bool makeSampleOffsets(Stack<NMVec3>& offsets, int32_t n);

// Weight of a direction of height z for the exponent k: z when k = 1, else 1 − (1 − z)^k.
double directionWeight(double z, double k);

// The 4·m² + 5 fixed directions of grid m: m × m per quadrant spread over elevation and azimuth
// (first quadrant, then mirrored in y, in x, in both), then the four horizontal axes and the normal.
// False when memory runs out.
bool makeOcclusionDirections(Stack<NMSampleDir>& dirs, int32_t m, double k);

// Replaces every direction by a random one over the hemisphere (azimuth uniform, polar angle
// uniform in [0, π/2]) with its weight.
void randomiseDirections(Stack<NMSampleDir>& dirs, HstRandom* random, double k);

// The rotation that takes (0, 0, 1) onto the unit vector n (T. Möller, J. F. Hughes, "Efficiently
// Building a Matrix to Rotate One Vector to Another", 1999): the closed form about their cross
// product, or, for n nearly parallel or opposite to (0, 0, 1), the form through reflections about
// the coordinate axis least aligned with (0, 0, 1).
struct NMRotation {
    double m[3][3];
    NMVec3 apply(const NMVec3& v) const {
        return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
    }
};
NMRotation rotationFromZ(const NMVec3& n);

// True when the world direction r lies in the blocked half-space (beyond 0.5 along its axis).
bool inBlockedHalfSpace(const NMVec3& r, int32_t blocked);

// The open fraction of the hemisphere above p (unit normal n): the weights of the directions that
// neither lie in the blocked half-space nor meet an occluder at t > 0 from p + 0.00001·n, over all
// weights (0 when they sum to 0). Directions of weight 0 are not cast. A null octree blocks nothing.
// The rays are cast in packets of up to 64 with the caller's query scratch (so that several threads
// can sample one octree at once).
double occlusionSample(const NMOctree* occluders, NMQueryScratch& scratch, const NMVec3& p, const NMVec3& n,
                       const Stack<NMSampleDir>& dirs, int32_t blocked);
// The same open fraction with the rays cast one by one: the sums run in the order of the directions
// in both, so the results are the same bit for bit (the packet form is checked against this one).
double occlusionSampleRayByRay(const NMOctree* occluders, NMQueryScratch& scratch, const NMVec3& p,
                               const NMVec3& n, const Stack<NMSampleDir>& dirs, int32_t blocked);

// A small generator of the bake's random numbers (splitmix64): the same seed gives the same
// sequence on every thread and every run.
class NMRandom {
public:
    explicit NMRandom(uint64_t seed = 0) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), 53 bits.
    double real() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    uint64_t state_;
};

// The same as randomiseDirections above, drawing from `random`.
void randomiseDirections(Stack<NMSampleDir>& dirs, NMRandom& random, double k);
