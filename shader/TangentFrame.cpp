#include "shader/TangentFrame.h"

#include <cmath>

namespace {

// Below this a difference of texture coordinates or a vector length counts as zero.
constexpr double kTiny = 1e-7;

struct Scratch {
    NMVec3 p;
    double u, v;
};

void swapIf(bool cond, Scratch& a, Scratch& b) {
    if (!cond) return;
    const Scratch t = a;
    a = b;
    b = t;
}

// Largest first, by three conditional swaps.
void sortByV(Scratch s[3]) {
    swapIf(s[0].v < s[1].v, s[0], s[1]);
    swapIf(s[0].v < s[2].v, s[0], s[2]);
    swapIf(s[1].v < s[2].v, s[1], s[2]);
}
void sortByU(Scratch s[3]) {
    swapIf(s[0].u < s[1].u, s[0], s[1]);
    swapIf(s[0].u < s[2].u, s[0], s[2]);
    swapIf(s[1].u < s[2].u, s[1], s[2]);
}

// Removes the part along n (n as given, not normalised) and normalises, or gives the fall-back.
NMVec3 orthogonalUnit(NMVec3 d, const NMVec3& n, const NMVec3& fallback) {
    d = d - n * dot(d, n);
    const double l = length(d);
    if (l >= kTiny) return d * (1.0 / l);
    return fallback;
}

}  // namespace

void makeTriangle(NMTriangle& tri, const NMVec3& p0, const NMVec3& p1, const NMVec3& p2) {
    tri.v[0].position = p0;
    tri.v[1].position = p1;
    tri.v[2].position = p2;
}

void computeTangentFrame(NMTriangle& tri, int k) {
    Scratch s[3];
    for (int i = 0; i < 3; ++i) s[i] = {tri.v[i].position, tri.v[i].uvw.x, tri.v[i].uvw.y};
    const NMVec3& n = tri.v[k].normal;

    // The tangent: from the middle vertex (by v) to the point of equal v on the opposite edge,
    // turned so that u grows along it.
    sortByV(s);
    double f = std::fabs(s[2].v - s[0].v) > kTiny ? (s[1].v - s[0].v) / (s[2].v - s[0].v) : 1.0;
    NMVec3 t = s[0].p + (s[2].p - s[0].p) * f - s[1].p;
    if (s[0].u + f * (s[2].u - s[0].u) < s[1].u) t = -t;
    tri.v[k].tangent = orthogonalUnit(t, n, {1.0, 0.0, 0.0});

    // The bitangent: the same along a line of constant u, turned so that v grows along it. It is
    // made orthogonal to the normal only, not to the tangent.
    sortByU(s);
    f = std::fabs(s[2].u - s[0].u) > kTiny ? (s[1].u - s[0].u) / (s[2].u - s[0].u) : 1.0;
    NMVec3 b = s[0].p + (s[2].p - s[0].p) * f - s[1].p;
    if (s[0].v + f * (s[2].v - s[0].v) < s[1].v) b = -b;
    tri.v[k].bitangent = orthogonalUnit(b, n, {0.0, 0.0, 1.0});
}

void computeFrames(NMTriangle& tri) {
    computeTangentFrame(tri, 0);
    computeTangentFrame(tri, 1);
    computeTangentFrame(tri, 2);
}
