// The ray as the queries' box tests see it, shared by the single-ray and the packet queries.
#pragma once

#include <cstdint>

#include "baking/NMOctree.h"
#include "shader/NMVector.h"

namespace nmquery {

// Whether the packet query may test many rays at a time where the processor can (eight against a
// box, four against a triangle; it does by default); the answers are the same either way. True
// when the wide tests are in use afterwards.
bool useWideTests(bool allow);

// A ray prepared for the box tests: per axis the inverse direction and which corner of a box it
// meets first (for a zero component, whether the origin lies in the slab is asked instead).
struct Ray {
    float p[3];
    float inv[3];
    int nearHi[3];  // 1 when the direction is negative: the box's upper side is met first
    bool flat[3];   // direction component exactly zero
    bool anyFlat;
};

inline Ray prepare(const NMVec3& p, const NMVec3& d) {
    Ray r;
    const double pc[3] = {p.x, p.y, p.z}, dc[3] = {d.x, d.y, d.z};
    r.anyFlat = false;
    for (int i = 0; i < 3; ++i) {
        r.p[i] = static_cast<float>(pc[i]);
        const float f = static_cast<float>(dc[i]);
        r.flat[i] = f == 0.0f;
        r.anyFlat = r.anyFlat || r.flat[i];
        r.inv[i] = r.flat[i] ? 0.0f : 1.0f / f;
        r.nearHi[i] = f < 0.0f ? 1 : 0;
    }
    return r;
}

// The interval of the line through the box; false when the line misses it.
inline bool lineThrough(const NMOctree::QueryNode& n, const Ray& r, double* tNear, double* tFar) {
    const float* corner[2] = {n.lo, n.hi};
    float tn = -3e38f, tf = 3e38f;
    if (r.anyFlat) {
        for (int i = 0; i < 3; ++i) {
            if (r.flat[i]) {
                if (r.p[i] < corner[0][i] || r.p[i] > corner[1][i]) return false;
                continue;
            }
            const float t1 = (corner[r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            const float t2 = (corner[1 - r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            if (t1 > tn) tn = t1;
            if (t2 < tf) tf = t2;
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            const float t1 = (corner[r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            const float t2 = (corner[1 - r.nearHi[i]][i] - r.p[i]) * r.inv[i];
            tn = t1 > tn ? t1 : tn;
            tf = t2 < tf ? t2 : tf;
        }
    }
    *tNear = tn;
    *tFar = tf;
    return tn <= tf;
}

}  // namespace nmquery
