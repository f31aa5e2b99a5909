// The packet query of NMOctree: the any-hit test of up to 64 rays from one origin in one walk.
#include <atomic>
#include <cmath>
#include <cstdint>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "baking/NMIntersect.h"
#include "baking/NMOctree.h"
#include "baking/NMQueryRay.h"

using nmquery::Ray;
using nmquery::lineThrough;
using nmquery::prepare;

namespace {

// A box with its corners taken relative to the packet's origin.
struct RelativeBox {
    float lo[3], hi[3];
};

// The inverse directions of the packet's rays side by side, axis by axis, for testing many rays
// against one box at once. Lanes of rays that take the one-by-one test, and lanes past the packet,
// hold 1 (their answers are dropped).
struct RayLanes {
    alignas(32) float inv[3][64];
};

// The rays of `live` whose slab test the box passes, many rays at a time. Only rays whose inverse
// direction is finite and non-zero on every axis go this way: then no product is NaN, the two
// products of an axis are ordered as the direction's sign says (rounding keeps lo − p ≤ hi − p and
// the order of their products), and min and max pick exactly the entry and exit the one-by-one
// test picks by the sign. So every answer is the one-by-one answer.
uint64_t enterRaysPortable(const RelativeBox& b, const RayLanes& r, uint64_t live) {
    uint64_t in = 0;
#if defined(__SSE2__)
    const __m128 lowest = _mm_set1_ps(-3e38f), highest = _mm_set1_ps(3e38f), zero = _mm_setzero_ps();
    for (int g = 0; g < 64; g += 4) {
        if (((live >> g) & 0xf) == 0) continue;
        __m128 tn = lowest, tf = highest;
        for (int a = 0; a < 3; ++a) {
            const __m128 inv = _mm_load_ps(r.inv[a] + g);
            const __m128 t1 = _mm_mul_ps(_mm_set1_ps(b.lo[a]), inv), t2 = _mm_mul_ps(_mm_set1_ps(b.hi[a]), inv);
            tn = _mm_max_ps(_mm_min_ps(t1, t2), tn);
            tf = _mm_min_ps(_mm_max_ps(t1, t2), tf);
        }
        const __m128 ok = _mm_and_ps(_mm_cmple_ps(tn, tf), _mm_cmpge_ps(tf, zero));
        in |= uint64_t(uint32_t(_mm_movemask_ps(ok))) << g;
    }
#else
    for (int i = 0; i < 64; ++i) {
        if (((live >> i) & 1) == 0) continue;
        float tn = -3e38f, tf = 3e38f;
        for (int a = 0; a < 3; ++a) {
            const float t1 = b.lo[a] * r.inv[a][i], t2 = b.hi[a] * r.inv[a][i];
            const float near = t1 < t2 ? t1 : t2, far = t1 < t2 ? t2 : t1;
            tn = near > tn ? near : tn;
            tf = far < tf ? far : tf;
        }
        if (tn <= tf && tf >= 0.0f) in |= uint64_t(1) << i;
    }
#endif
    return in & live;
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same, eight rays at a time, for processors with AVX2 (chosen when the program runs).
__attribute__((target("avx2"))) uint64_t enterRaysWide(const RelativeBox& b, const RayLanes& r, uint64_t live) {
    const __m256 lowest = _mm256_set1_ps(-3e38f), highest = _mm256_set1_ps(3e38f), zero = _mm256_setzero_ps();
    const __m256 lo[3] = {_mm256_set1_ps(b.lo[0]), _mm256_set1_ps(b.lo[1]), _mm256_set1_ps(b.lo[2])};
    const __m256 hi[3] = {_mm256_set1_ps(b.hi[0]), _mm256_set1_ps(b.hi[1]), _mm256_set1_ps(b.hi[2])};
    uint64_t in = 0;
    for (int g = 0; g < 64; g += 8) {
        if (((live >> g) & 0xff) == 0) continue;
        __m256 tn = lowest, tf = highest;
        for (int a = 0; a < 3; ++a) {
            const __m256 inv = _mm256_load_ps(r.inv[a] + g);
            const __m256 t1 = _mm256_mul_ps(lo[a], inv), t2 = _mm256_mul_ps(hi[a], inv);
            tn = _mm256_max_ps(_mm256_min_ps(t1, t2), tn);
            tf = _mm256_min_ps(_mm256_max_ps(t1, t2), tf);
        }
        const __m256 ok = _mm256_and_ps(_mm256_cmp_ps(tn, tf, _CMP_LE_OQ), _mm256_cmp_ps(tf, zero, _CMP_GE_OQ));
        in |= uint64_t(uint32_t(_mm256_movemask_ps(ok))) << g;
    }
    return in & live;
}
#endif

// The packet's directions axis by axis, for testing many rays against one triangle at once; lanes
// past the packet hold 0 (their answers are dropped).
struct DirectionLanes {
    alignas(32) double d[3][64];
};

// The rays of `live` that hit the triangle with corners c[0], c[1], c[2] at a t above 0, ray by ray.
// Each ray tested counts in `tests`.
uint64_t hitRaysPortable(const NMVec3& o, const NMVec3* c, const NMVec3* dirs, const DirectionLanes&, uint64_t live,
                         uint64_t& tests) {
    NMOriginTriangle tri(o, c[0], c[1] - c[0], c[2] - c[0]);
    uint64_t hits = 0;
    for (uint64_t left = live; left != 0; left &= left - 1) {
        const int32_t i = __builtin_ctzll(left);
        ++tests;
        NMRayHit h;
        if (tri.hit(dirs[i], &h) && h.t > 0.0) hits |= uint64_t(1) << i;
    }
    return hits;
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same, four rays at a time and without a branch per ray, for processors with AVX2 (which all
// count bits in one instruction). Every lane makes the one-by-one test's products, sums and
// quotient in the same order, in double precision and without fused multiply-adds, so its t, u and
// v are those bits; the comparisons are the one-by-one test's, written so that a NaN passes or
// fails each of them as it does there.
__attribute__((target("avx2,popcnt"))) uint64_t hitRaysWide(const NMVec3& o, const NMVec3* c, const NMVec3*,
                                                            const DirectionLanes& r, uint64_t live, uint64_t& tests) {
    tests += static_cast<uint64_t>(__builtin_popcountll(live));
    const NMVec3 e1 = c[1] - c[0], e2 = c[2] - c[0], tv = o - c[0];
    const NMVec3 qv = cross(tv, e1);
    const double tq = dot(e2, qv);
    const __m256d e1x = _mm256_set1_pd(e1.x), e1y = _mm256_set1_pd(e1.y), e1z = _mm256_set1_pd(e1.z);
    const __m256d e2x = _mm256_set1_pd(e2.x), e2y = _mm256_set1_pd(e2.y), e2z = _mm256_set1_pd(e2.z);
    const __m256d tvx = _mm256_set1_pd(tv.x), tvy = _mm256_set1_pd(tv.y), tvz = _mm256_set1_pd(tv.z);
    const __m256d qvx = _mm256_set1_pd(qv.x), qvy = _mm256_set1_pd(qv.y), qvz = _mm256_set1_pd(qv.z);
    const __m256d tqv = _mm256_set1_pd(tq), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    uint64_t hits = 0;
    for (int g = 0; g < 64; g += 4) {
        if (((live >> g) & 0xf) == 0) continue;
        const __m256d dx = _mm256_load_pd(r.d[0] + g), dy = _mm256_load_pd(r.d[1] + g), dz = _mm256_load_pd(r.d[2] + g);
        // pv = cross(d, e2), det = e1 · pv, u = (tv · pv) / det, v = (d · qv) / det, t = tq / det
        const __m256d pvx = _mm256_sub_pd(_mm256_mul_pd(dy, e2z), _mm256_mul_pd(dz, e2y));
        const __m256d pvy = _mm256_sub_pd(_mm256_mul_pd(dz, e2x), _mm256_mul_pd(dx, e2z));
        const __m256d pvz = _mm256_sub_pd(_mm256_mul_pd(dx, e2y), _mm256_mul_pd(dy, e2x));
        const __m256d det =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(e1x, pvx), _mm256_mul_pd(e1y, pvy)), _mm256_mul_pd(e1z, pvz));
        const __m256d inv = _mm256_div_pd(one, det);
        const __m256d u = _mm256_mul_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(tvx, pvx), _mm256_mul_pd(tvy, pvy)), _mm256_mul_pd(tvz, pvz)), inv);
        const __m256d v = _mm256_mul_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, qvx), _mm256_mul_pd(dy, qvy)), _mm256_mul_pd(dz, qvz)), inv);
        const __m256d t = _mm256_mul_pd(tqv, inv);
        __m256d ok = _mm256_cmp_pd(det, zero, _CMP_NEQ_UQ);
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(u, zero, _CMP_NLT_UQ));
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(u, one, _CMP_NGT_UQ));
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(v, zero, _CMP_NLT_UQ));
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(_mm256_add_pd(u, v), one, _CMP_NGT_UQ));
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(t, zero, _CMP_GT_OQ));
        hits |= uint64_t(uint32_t(_mm256_movemask_pd(ok))) << g;
    }
    return hits & live;
}
#endif

using EnterRays = uint64_t (*)(const RelativeBox&, const RayLanes&, uint64_t);
using HitRays = uint64_t (*)(const NMVec3&, const NMVec3*, const NMVec3*, const DirectionLanes&, uint64_t, uint64_t&);

// The box and triangle tests in use: both wide, or both portable.
struct PacketTests {
    EnterRays enterRays;
    HitRays hitRays;
};

constexpr PacketTests kPortableTests{enterRaysPortable, hitRaysPortable};
#if defined(__x86_64__) && defined(__GNUC__)
constexpr PacketTests kWideTests{enterRaysWide, hitRaysWide};
#endif

const PacketTests* choosePacketTests(bool allowWide) {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();  // may run before the program's own start-up has asked the processor
    if (allowWide && __builtin_cpu_supports("avx2")) return &kWideTests;
#endif
    (void)allowWide;
    return &kPortableTests;
}

std::atomic<const PacketTests*> gTests{choosePacketTests(true)};

}  // namespace

namespace nmquery {

bool useWideTests(bool allow) {
    const PacketTests* chosen = choosePacketTests(allow);
    gTests.store(chosen, std::memory_order_relaxed);
    return chosen != &kPortableTests;
}

}  // namespace nmquery

// The packet walks the tree once for all its rays. A node is entered with the rays whose box tests
// passed on the way down, less those already blocked; each ray meets exactly the boxes (and so the
// triangles) it would meet alone, so the answers are those of anyHit. All rays share the origin, so
// the box corners relative to it are computed once per box; each child box of a node is then tested
// against the rays side by side, and a child box that holds the origin lets every ray in without a
// test (a ray starting inside a box always passes its slab test). Children are visited nearest
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
    RayLanes lanes;
    // Rays with a zero or an infinite inverse direction component take the one-by-one box test.
    uint64_t oddRays = 0;
    for (int32_t i = 0; i < 64; ++i) {
        bool odd = false;
        if (i < count) {
            rays[i] = prepare(o, dirs[i]);
            odd = rays[i].anyFlat;
            for (int a = 0; a < 3; ++a) odd = odd || !std::isfinite(rays[i].inv[a]);
            if (odd) oddRays |= uint64_t(1) << i;
        }
        for (int a = 0; a < 3; ++a) lanes.inv[a][i] = i < count && !odd ? rays[i].inv[a] : 1.0f;
    }
    const float origin[3] = {rays[0].p[0], rays[0].p[1], rays[0].p[2]};
    const PacketTests& tests = *gTests.load(std::memory_order_relaxed);
    const EnterRays enterRays = tests.enterRays;
    const HitRays hitRays = tests.hitRays;
    DirectionLanes directions;
    for (int32_t i = 0; i < (count + 3) / 4 * 4; ++i) {
        const bool in = i < count;
        directions.d[0][i] = in ? dirs[i].x : 0.0;
        directions.d[1][i] = in ? dirs[i].y : 0.0;
        directions.d[2][i] = in ? dirs[i].z : 0.0;
    }

    // in[k]: the rays of `live` that enter the box of node first + k (k < n). A box that holds the
    // origin lets them all in; the others are taken relative to the origin, and the rays are tested
    // against each side by side.
    uint64_t in[8];
    auto enter = [&](int32_t first, int32_t n, uint64_t live) {
        for (int32_t k = 0; k < n; ++k) {
            const QueryNode& node = queryNodes_.items[first + k];
            RelativeBox b;
            bool holds = true;
            for (int a = 0; a < 3; ++a) {
                b.lo[a] = node.lo[a] - origin[a];
                b.hi[a] = node.hi[a] - origin[a];
                holds &= (b.lo[a] <= 0.0f) & (b.hi[a] >= 0.0f);
            }
            if (holds) {
                in[k] = live;
                continue;
            }
            in[k] = enterRays(b, lanes, live & ~oddRays);
            // The odd rays take the single-ray query's own test.
            for (uint64_t left = live & oddRays; left != 0; left &= left - 1) {
                const int32_t i = __builtin_ctzll(left);
                double tn, tf;
                if (lineThrough(node, rays[i], &tn, &tf) && tf >= 0.0) in[k] |= uint64_t(1) << i;
            }
        }
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
                const uint64_t hits = hitRays(o, corners_.items + 3 * tris[t], dirs, directions, live, scratch.triangleTests);
                blocked |= hits;
                live &= ~hits;
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

