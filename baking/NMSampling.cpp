#include "baking/NMSampling.h"

#include <cmath>

#include "baking/BakeSettings.h"
#include "sources/Module.h"

namespace {

constexpr double kPi = 3.141592653589793;
// Beyond this |n·z| the closed-form rotation loses precision.
constexpr double kParallel = 0.9999999;
// Occlusion rays start this far above the surface.
constexpr double kLift = 0.00001;

}  // namespace

bool makeSampleOffsets(Stack<NMVec3>& offsets, int32_t n) {
    offsets.clear();
    const int32_t count = n >= 2 ? 1 + n * n : 1;
    if (!offsets.reserve(count)) return false;
    offsets.push({0.0, 0.0, 0.0});
    if (n < 2) return true;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < n; ++j)
            offsets.push({(j + 1.0) / (n + 1.0) - 0.5, (i + 1.0) / (n + 1.0) - 0.5, 0.0});
    return true;
}

double directionWeight(double z, double k) {
    if (k == 1.0) return z;
    return 1.0 - std::pow(1.0 - z, k);
}

bool makeOcclusionDirections(Stack<NMSampleDir>& dirs, int32_t m, double k) {
    dirs.clear();
    if (m < 0) m = 0;
    const int32_t quadrant = m * m;
    if (!dirs.reserve(4 * quadrant + 5)) return false;
    for (int32_t r = 0; r < m; ++r) {
        const double s = (r + 1.0) / (m + 1.0);
        const double e = s >= 1.0 ? kPi / 2.0 : std::asin(s);
        for (int32_t q = 0; q < m; ++q) {
            const double a = (q + 1.0) / (m + 1.0) * kPi / 2.0;
            dirs.push({std::cos(a) * std::cos(e), std::sin(a) * std::cos(e), s, 0.0});
        }
    }
    for (int32_t i = 0; i < quadrant; ++i) dirs.push({dirs[i].x, -dirs[i].y, dirs[i].z, 0.0});
    for (int32_t i = 0; i < quadrant; ++i) dirs.push({-dirs[i].x, dirs[i].y, dirs[i].z, 0.0});
    for (int32_t i = 0; i < quadrant; ++i) dirs.push({-dirs[i].x, -dirs[i].y, dirs[i].z, 0.0});
    dirs.push({1.0, 0.0, 0.0, 0.0});
    dirs.push({-1.0, 0.0, 0.0, 0.0});
    dirs.push({0.0, 1.0, 0.0, 0.0});
    dirs.push({0.0, -1.0, 0.0, 0.0});
    dirs.push({0.0, 0.0, 1.0, 0.0});
    for (NMSampleDir& d : dirs) d.weight = directionWeight(d.z, k);
    return true;
}

void randomiseDirections(Stack<NMSampleDir>& dirs, HstRandom* random, double k) {
    const HostApi* api = moduleApi();
    for (NMSampleDir& d : dirs) {
        const double phi = 2.0 * kPi * api->randomReal(random);
        const double theta = kPi / 2.0 * api->randomReal(random);
        const NMVec3 v = normalize({std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)});
        d = {v.x, v.y, v.z, directionWeight(v.z, k)};
    }
}

void randomiseDirections(Stack<NMSampleDir>& dirs, NMRandom& random, double k) {
    for (NMSampleDir& d : dirs) {
        const double phi = 2.0 * kPi * random.real();
        const double theta = kPi / 2.0 * random.real();
        const NMVec3 v = normalize({std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)});
        d = {v.x, v.y, v.z, directionWeight(v.z, k)};
    }
}

NMRotation rotationFromZ(const NMVec3& n) {
    const NMVec3 f{0.0, 0.0, 1.0};
    const double e = n.z;  // f·n
    NMRotation r;
    if (std::fabs(e) <= kParallel) {
        const NMVec3 v = cross(f, n);
        const double h = 1.0 / (1.0 + e);
        r.m[0][0] = e + h * v.x * v.x;
        r.m[0][1] = h * v.x * v.y - v.z;
        r.m[0][2] = h * v.x * v.z + v.y;
        r.m[1][0] = h * v.x * v.y + v.z;
        r.m[1][1] = e + h * v.y * v.y;
        r.m[1][2] = h * v.y * v.z - v.x;
        r.m[2][0] = h * v.x * v.z - v.y;
        r.m[2][1] = h * v.y * v.z + v.x;
        r.m[2][2] = e + h * v.z * v.z;
        return r;
    }
    // The axis least aligned with f; with f = (0, 0, 1) the comparisons pick y.
    NMVec3 x;
    if (std::fabs(f.x) < std::fabs(f.y))
        x = std::fabs(f.x) < std::fabs(f.z) ? NMVec3{1, 0, 0} : NMVec3{0, 0, 1};
    else
        x = std::fabs(f.y) < std::fabs(f.z) ? NMVec3{0, 1, 0} : NMVec3{0, 0, 1};
    const NMVec3 u = x - f, v = x - n;
    const double c1 = 2.0 / dot(u, u), c2 = 2.0 / dot(v, v), c3 = c1 * c2 * dot(u, v);
    const double uc[3] = {u.x, u.y, u.z}, vc[3] = {v.x, v.y, v.z};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = (i == j ? 1.0 : 0.0) - c1 * uc[i] * uc[j] - c2 * vc[i] * vc[j] + c3 * vc[i] * uc[j];
    return r;
}

bool inBlockedHalfSpace(const NMVec3& r, int32_t blocked) {
    switch (blocked) {
        case BAKE_BLOCK_NEG_X: return r.x < -0.5;
        case BAKE_BLOCK_POS_X: return r.x > 0.5;
        case BAKE_BLOCK_NEG_Y: return r.y < -0.5;
        case BAKE_BLOCK_POS_Y: return r.y > 0.5;
        case BAKE_BLOCK_NEG_Z: return r.z < -0.5;
        case BAKE_BLOCK_POS_Z: return r.z > 0.5;
        default: return false;
    }
}

double occlusionSampleRayByRay(const NMOctree* occluders, NMQueryScratch& scratch, const NMVec3& p,
                               const NMVec3& n, const Stack<NMSampleDir>& dirs, int32_t blocked) {
    const NMVec3 origin = p + n * kLift;
    const NMRotation rot = rotationFromZ(n);
    double total = 0.0, blockedTotal = 0.0;
    for (const NMSampleDir& d : dirs) {
        total += d.weight;
        if (d.weight == 0.0) continue;  // adds nothing either way
        const NMVec3 r = rot.apply({d.x, d.y, d.z});
        if (inBlockedHalfSpace(r, blocked) || (occluders != nullptr && occluders->anyHit(origin, r, scratch)))
            blockedTotal += d.weight;
    }
    return total != 0.0 ? (total - blockedTotal) / total : 0.0;
}

double occlusionSample(const NMOctree* occluders, NMQueryScratch& scratch, const NMVec3& p, const NMVec3& n,
                       const Stack<NMSampleDir>& dirs, int32_t blocked) {
    constexpr int32_t kPacket = 64;
    const NMVec3 origin = p + n * kLift;
    const NMRotation rot = rotationFromZ(n);
    double total = 0.0, blockedTotal = 0.0;
    NMVec3 rays[kPacket];
    int32_t slot[kPacket];  // direction index of each ray of the packet
    bool inHalfSpace[kPacket];
    int32_t i = 0;
    while (i < dirs.count) {
        // The next packet: directions up to kPacket rays further on (weight-0 directions add nothing
        // either way and are not cast).
        int32_t cast = 0;
        const int32_t from = i;
        for (; i < dirs.count && i - from < kPacket; ++i) {
            const NMSampleDir& d = dirs.items[i];
            inHalfSpace[i - from] = false;
            if (d.weight == 0.0) continue;
            const NMVec3 r = rot.apply({d.x, d.y, d.z});
            if (inBlockedHalfSpace(r, blocked)) {
                inHalfSpace[i - from] = true;
                continue;
            }
            rays[cast] = r;
            slot[cast] = i - from;
            ++cast;
        }
        const uint64_t hits = occluders != nullptr ? occluders->anyHitPacket(origin, rays, cast, scratch) : 0;
        uint64_t hitSlots = 0;
        for (int32_t k = 0; k < cast; ++k)
            if ((hits >> k) & 1) hitSlots |= uint64_t(1) << slot[k];
        for (int32_t k = from; k < i; ++k) {
            const double w = dirs.items[k].weight;
            total += w;
            if (w != 0.0 && (inHalfSpace[k - from] || ((hitSlots >> (k - from)) & 1))) blockedTotal += w;
        }
    }
    return total != 0.0 ? (total - blockedTotal) / total : 0.0;
}
