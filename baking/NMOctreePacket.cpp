// The packet query of NMOctree: the any-hit test of up to 64 rays from one origin in one walk.
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "baking/NMIntersect.h"
#include "baking/NMOctree.h"
#include "baking/NMQueryRay.h"

using nmquery::Ray;
using nmquery::prepare;

namespace {

// Up to eight boxes side by side, their corners taken relative to a ray origin: lo[axis][lane] and
// hi[axis][lane].
struct BoxLanes {
    float lo[3][8];
    float hi[3][8];
};

// Adds `bit` to enters[k] for every box k < n that the ray (no zero component) enters at some
// t ≥ 0: box by box the same operations, in the same order, as the single ray's slab test. With
// SSE four boxes are tested at once: maxps and minps pick as `t1 > tn ? t1 : tn` and
// `t2 < tf ? t2 : tf` do (the second operand when either is NaN), so every lane's answer is the
// scalar one. Lanes past n hold zeros and their answers are dropped.
inline void enterBoxes(const BoxLanes& b, int32_t n, const Ray& r, uint64_t bit, uint64_t* enters) {
    const float* nearX = r.nearHi[0] ? b.hi[0] : b.lo[0];
    const float* farX = r.nearHi[0] ? b.lo[0] : b.hi[0];
    const float* nearY = r.nearHi[1] ? b.hi[1] : b.lo[1];
    const float* farY = r.nearHi[1] ? b.lo[1] : b.hi[1];
    const float* nearZ = r.nearHi[2] ? b.hi[2] : b.lo[2];
    const float* farZ = r.nearHi[2] ? b.lo[2] : b.hi[2];
#if defined(__SSE2__)
    const __m128 ix = _mm_set1_ps(r.inv[0]), iy = _mm_set1_ps(r.inv[1]), iz = _mm_set1_ps(r.inv[2]);
    const __m128 zero = _mm_setzero_ps();
    for (int32_t k = 0; k < n; k += 4) {
        __m128 tn = _mm_max_ps(_mm_mul_ps(_mm_loadu_ps(nearX + k), ix), _mm_set1_ps(-3e38f));
        __m128 tf = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(farX + k), ix), _mm_set1_ps(3e38f));
        tn = _mm_max_ps(_mm_mul_ps(_mm_loadu_ps(nearY + k), iy), tn);
        tf = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(farY + k), iy), tf);
        tn = _mm_max_ps(_mm_mul_ps(_mm_loadu_ps(nearZ + k), iz), tn);
        tf = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(farZ + k), iz), tf);
        uint32_t hit = static_cast<uint32_t>(_mm_movemask_ps(_mm_and_ps(_mm_cmple_ps(tn, tf), _mm_cmpge_ps(tf, zero))));
        if (n - k < 4) hit &= (1u << (n - k)) - 1u;
        while (hit != 0) {
            enters[k + __builtin_ctz(hit)] |= bit;
            hit &= hit - 1;
        }
    }
#else
    const float ix = r.inv[0], iy = r.inv[1], iz = r.inv[2];
    for (int32_t k = 0; k < n; ++k) {
        float tn = -3e38f, tf = 3e38f;
        float t1 = nearX[k] * ix, t2 = farX[k] * ix;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        t1 = nearY[k] * iy;
        t2 = farY[k] * iy;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        t1 = nearZ[k] * iz;
        t2 = farZ[k] * iz;
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
        enters[k] |= (tn <= tf) & (tf >= 0.0f) ? bit : 0;
    }
#endif
}

// The same for one lane and a ray that may have zero components (the origin must then lie in the
// slab).
inline bool enteredLane(const BoxLanes& b, int32_t k, const Ray& r) {
    float tn = -3e38f, tf = 3e38f;
    for (int a = 0; a < 3; ++a) {
        if (r.flat[a]) {
            // lo ≤ p ≤ hi, as (lo − p) ≤ 0 ≤ (hi − p).
            if (b.lo[a][k] > 0.0f || b.hi[a][k] < 0.0f) return false;
            continue;
        }
        const float t1 = (r.nearHi[a] ? b.hi : b.lo)[a][k] * r.inv[a];
        const float t2 = (r.nearHi[a] ? b.lo : b.hi)[a][k] * r.inv[a];
        tn = t1 > tn ? t1 : tn;
        tf = t2 < tf ? t2 : tf;
    }
    return tn <= tf && tf >= 0.0f;
}

}  // namespace

// The packet walks the tree once for all its rays. A node is entered with the rays whose box tests
// passed on the way down, less those already blocked; each ray meets exactly the boxes (and so the
// triangles) it would meet alone, so the answers are those of anyHit. All rays share the origin, so
// the box corners relative to it are computed once per box; a ray is then tested against all the
// children of a node side by side, and a child box that holds the origin lets every ray in without
// a test (a ray starting inside a box always passes its slab test). Children are visited nearest
// to the origin first.
uint64_t NMOctree::anyHitPacket(const NMVec3& o, const NMVec3* dirs, int32_t count, NMQueryScratch& scratch) const {
    if (count <= 0) return 0;
    if (count > 64) count = 64;
    scratch.rays += static_cast<uint64_t>(count);
    if (!ready_ || queryNodes_.items[0].size == 0) return 0;
    if (scratch.packets.capacity < queryStackSize_) {
        scratch.failed = true;
        return 0;
    }
    Ray rays[64];
    uint64_t flatRays = 0;  // rays with a zero direction component: the slab test's special case
    for (int32_t i = 0; i < count; ++i) {
        rays[i] = prepare(o, dirs[i]);
        if (rays[i].anyFlat) flatRays |= uint64_t(1) << i;
    }
    const float origin[3] = {rays[0].p[0], rays[0].p[1], rays[0].p[2]};

    // in[k]: the rays of `live` that enter the box of node first + k (k < n). A box that holds the
    // origin lets them all in; the others are put side by side, relative to the origin, and every
    // ray is tested against them together.
    uint64_t in[8];
    auto enter = [&](int32_t first, int32_t n, uint64_t live) {
        BoxLanes lanes;
        int32_t laneNode[8];
        int32_t m = 0;
        for (int32_t k = 0; k < n; ++k) {
            const QueryNode& b = queryNodes_.items[first + k];
            bool holds = true;
            for (int a = 0; a < 3; ++a) {
                const float lo = b.lo[a] - origin[a], hi = b.hi[a] - origin[a];
                lanes.lo[a][m] = lo;
                lanes.hi[a][m] = hi;
                holds &= (lo <= 0.0f) & (hi >= 0.0f);
            }
            in[k] = holds ? live : 0;
            laneNode[m] = k;
            m += !holds;
        }
        if (m == 0) return;
        // The lanes up to the next four hold zeros: the box tests read them.
        for (int32_t j = m; j < ((m + 3) & ~3); ++j)
            for (int a = 0; a < 3; ++a) lanes.lo[a][j] = lanes.hi[a][j] = 0.0f;
        uint64_t lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        uint64_t left = live & ~flatRays;
        while (left != 0) {
            const int32_t i = __builtin_ctzll(left);
            left &= left - 1;
            enterBoxes(lanes, m, rays[i], uint64_t(1) << i, lane);
        }
        left = live & flatRays;
        while (left != 0) {
            const int32_t i = __builtin_ctzll(left);
            left &= left - 1;
            for (int32_t j = 0; j < m; ++j)
                if (enteredLane(lanes, j, rays[i])) lane[j] |= uint64_t(1) << i;
        }
        for (int32_t j = 0; j < m; ++j) in[laneNode[j]] = lane[j];
    };
    // The squared distance of a node's box from the origin.
    auto distanceOf = [&](const QueryNode& b) {
        float dist = 0.0f;
        for (int a = 0; a < 3; ++a) {
            const float lo = b.lo[a] - origin[a], hi = b.hi[a] - origin[a];
            const float outside = lo > 0.0f ? lo : (hi < 0.0f ? -hi : 0.0f);
            dist += outside * outside;
        }
        return dist;
    };

    const uint64_t all = count == 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
    enter(0, 1, all);
    const uint64_t rootRays = in[0];
    if (rootRays == 0) return 0;
    uint64_t blocked = 0;
    Stack<PacketEntry>& work = scratch.packets;
    work.count = 0;
    work.items[work.count++] = {0, rootRays};
    while (work.count > 0) {
        const PacketEntry e = work.items[--work.count];
        uint64_t live = e.rays & ~blocked;
        if (live == 0) continue;
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.isLeaf()) {
            const int32_t* tris = queryEntries_.items + q.first;
            for (int32_t t = 0; t < q.count() && live != 0; ++t) {
                const NMVec3* c = corners_.items + 3 * tris[t];
                NMOriginTriangle tri(o, c[0], c[1] - c[0], c[2] - c[0]);
                uint64_t left = live;
                while (left != 0) {
                    const int32_t i = __builtin_ctzll(left);
                    left &= left - 1;
                    ++scratch.triangleTests;
                    NMRayHit h;
                    if (tri.hit(dirs[i], &h) && h.t > 0.0) {
                        blocked |= uint64_t(1) << i;
                        live &= ~(uint64_t(1) << i);
                    }
                }
            }
            continue;
        }
        const int32_t n = q.childCount();
        enter(q.first, n, live);
        struct Child {
            int32_t node;
            uint64_t rays;
            float distance;
        } c[8];
        int32_t m = 0;
        for (int32_t k = 0; k < n; ++k) {
            if (in[k] == 0) continue;
            const float dk = distanceOf(queryNodes_.items[q.first + k]);
            // Kept ordered farthest first, so that the nearest is popped first.
            int32_t j = m++;
            while (j > 0 && c[j - 1].distance < dk) {
                c[j] = c[j - 1];
                --j;
            }
            c[j] = {q.first + k, in[k], dk};
        }
        if (work.count + m > work.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return 0;
        }
        for (int32_t k = 0; k < m; ++k) {
            work.items[work.count++] = {c[k].node, c[k].rays};
            // What the child's visit reads first: its children's boxes, or its triangle indices.
            const QueryNode& child = queryNodes_.items[c[k].node];
            if (!child.isLeaf())
                __builtin_prefetch(queryNodes_.items + child.first);
            else
                __builtin_prefetch(queryEntries_.items + child.first);
        }
    }
    return blocked;
}

