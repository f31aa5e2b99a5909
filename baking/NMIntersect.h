// The three intersection tests of the baking octree, in double precision:
//
// - triangle / axis-aligned box overlap by separating axes (T. Akenine-Möller, "Fast 3D
//   Triangle-Box Overlap Testing", 2001): the nine cross products of the triangle's edges with the
//   box axes, the box axes themselves, then the triangle's plane against the box. Touching counts
//   as overlapping.
// - ray / box by slabs, with ±9e18 standing for infinity.
// - ray / triangle (T. Möller, B. Trumbore, "Fast, Minimum Storage Ray/Triangle Intersection",
//   1997), two-sided, without epsilon and without a restriction on the sign of t.
#pragma once

#include <cmath>

#include "baking/NMTriangle.h"
#include "shader/NMVector.h"

// Stands for an infinite ray parameter.
constexpr double NM_INFINITY = 9e18;

// True when the triangle (a, b, c) overlaps the box of centre `centre` and half extents `half`.
bool triangleBoxOverlap(const NMVec3& centre, const NMVec3& half, const NMVec3& a, const NMVec3& b,
                        const NMVec3& c);

// The ray (origin p, direction d) against the box [lo, hi]: a hit when the slab interval is not
// empty and does not lie wholly behind the origin. A box that holds the origin is hit.
inline bool rayBoxHit(const NMVec3& p, const NMVec3& d, const NMVec3& lo, const NMVec3& hi) {
    double tNear = -NM_INFINITY, tFar = NM_INFINITY;
    const double pc[3] = {p.x, p.y, p.z}, dc[3] = {d.x, d.y, d.z};
    const double lc[3] = {lo.x, lo.y, lo.z}, hc[3] = {hi.x, hi.y, hi.z};
    for (int i = 0; i < 3; ++i) {
        if (dc[i] == 0.0) {
            if (pc[i] < lc[i] || pc[i] > hc[i]) return false;
        } else {
            double t1 = (lc[i] - pc[i]) / dc[i], t2 = (hc[i] - pc[i]) / dc[i];
            if (t1 > t2) {
                const double s = t1;
                t1 = t2;
                t2 = s;
            }
            if (t1 > tNear) tNear = t1;
            if (t2 < tFar) tFar = t2;
        }
        if (tFar < tNear || tFar < 0.0) return false;
    }
    return true;
}

// A ray hit on a triangle: the line parameter and the weights of vertices 1 and 2 (vertex 0 weighs
// 1 - u - v).
struct NMRayHit {
    double t, u, v;
};

// Möller–Trumbore on the vertex positions v0 and the edges e1 = v1 - v0, e2 = v2 - v0.
inline bool rayTriangle(const NMVec3& p, const NMVec3& d, const NMVec3& v0, const NMVec3& e1, const NMVec3& e2,
                        NMRayHit* hit) {
    const NMVec3 pv = cross(d, e2);
    const double det = dot(e1, pv);
    if (det == 0.0) return false;
    const double inv = 1.0 / det;
    const NMVec3 tv = p - v0;
    const double u = dot(tv, pv) * inv;
    if (u < 0.0 || u > 1.0) return false;
    const NMVec3 qv = cross(tv, e1);
    const double v = dot(d, qv) * inv;
    if (v < 0.0 || u + v > 1.0) return false;
    hit->t = dot(e2, qv) * inv;
    hit->u = u;
    hit->v = v;
    return true;
}

// The same test for several rays from one origin p against one triangle: p − v0, its cross product
// with e1 and that product's dot with e2 depend only on the origin and the triangle, so they are
// computed once (the last two when a ray first gets that far). Every answer, t, u and v are bit for
// bit those of rayTriangle.
class NMOriginTriangle {
public:
    NMOriginTriangle(const NMVec3& p, const NMVec3& v0, const NMVec3& e1, const NMVec3& e2)
        : e1_(e1), e2_(e2), tv_(p - v0) {}

    bool hit(const NMVec3& d, NMRayHit* hit) {
        const NMVec3 pv = cross(d, e2_);
        const double det = dot(e1_, pv);
        if (det == 0.0) return false;
        const double inv = 1.0 / det;
        const double u = dot(tv_, pv) * inv;
        if (u < 0.0 || u > 1.0) return false;
        if (!haveQ_) {
            qv_ = cross(tv_, e1_);
            tq_ = dot(e2_, qv_);
            haveQ_ = true;
        }
        const double v = dot(d, qv_) * inv;
        if (v < 0.0 || u + v > 1.0) return false;
        hit->t = tq_ * inv;
        hit->u = u;
        hit->v = v;
        return true;
    }

private:
    NMVec3 e1_, e2_, tv_;
    NMVec3 qv_;
    double tq_ = 0.0;
    bool haveQ_ = false;
};
