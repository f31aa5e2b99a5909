#include "baking/NMIntersect.h"

namespace {

// Projections of the three (box-relative) vertices on an axis against the box's radius on it.
inline bool separated(double p0, double p1, double p2, double radius) {
    double lo = p0, hi = p0;
    if (p1 < lo) lo = p1;
    if (p1 > hi) hi = p1;
    if (p2 < lo) lo = p2;
    if (p2 > hi) hi = p2;
    return lo > radius || hi < -radius;
}

// The plane n·x + d = 0 against the box [-half, half].
bool planeBoxOverlap(const NMVec3& n, double d, const NMVec3& half) {
    NMVec3 vmin, vmax;
    const double nc[3] = {n.x, n.y, n.z}, hc[3] = {half.x, half.y, half.z};
    double mn[3], mx[3];
    for (int i = 0; i < 3; ++i) {
        if (nc[i] > 0.0) {
            mn[i] = -hc[i];
            mx[i] = hc[i];
        } else {
            mn[i] = hc[i];
            mx[i] = -hc[i];
        }
    }
    vmin = {mn[0], mn[1], mn[2]};
    vmax = {mx[0], mx[1], mx[2]};
    if (dot(n, vmin) + d > 0.0) return false;
    return dot(n, vmax) + d >= 0.0;
}

}  // namespace

bool triangleBoxOverlap(const NMVec3& centre, const NMVec3& half, const NMVec3& a, const NMVec3& b,
                        const NMVec3& c) {
    const NMVec3 v0 = a - centre, v1 = b - centre, v2 = c - centre;

    // The box axes first: the triangle's extent on each. They are the cheapest and separate most
    // of the triangles a node's octants are asked about. (Every axis must fail to separate, so the
    // order of the tests does not change the answer.)
    if (separated(v0.x, v1.x, v2.x, half.x)) return false;
    if (separated(v0.y, v1.y, v2.y, half.y)) return false;
    if (separated(v0.z, v1.z, v2.z, half.z)) return false;

    // Axes e × x, e × y, e × z for the three edges.
    const NMVec3 edges[3] = {v1 - v0, v2 - v1, v0 - v2};
    for (const NMVec3& e : edges) {
        // x × e = (0, -e.z, e.y)
        {
            const double p0 = -e.z * v0.y + e.y * v0.z, p1 = -e.z * v1.y + e.y * v1.z, p2 = -e.z * v2.y + e.y * v2.z;
            const double r = half.y * std::fabs(e.z) + half.z * std::fabs(e.y);
            if (separated(p0, p1, p2, r)) return false;
        }
        // y × e = (e.z, 0, -e.x)
        {
            const double p0 = e.z * v0.x - e.x * v0.z, p1 = e.z * v1.x - e.x * v1.z, p2 = e.z * v2.x - e.x * v2.z;
            const double r = half.x * std::fabs(e.z) + half.z * std::fabs(e.x);
            if (separated(p0, p1, p2, r)) return false;
        }
        // z × e = (-e.y, e.x, 0)
        {
            const double p0 = -e.y * v0.x + e.x * v0.y, p1 = -e.y * v1.x + e.x * v1.y, p2 = -e.y * v2.x + e.x * v2.y;
            const double r = half.x * std::fabs(e.y) + half.y * std::fabs(e.x);
            if (separated(p0, p1, p2, r)) return false;
        }
    }

    // The triangle's plane, with a unit normal (zero for a degenerate triangle).
    const NMVec3 n = normalize(cross(edges[0], edges[1]));
    return planeBoxOverlap(n, -dot(n, v0), half);
}
