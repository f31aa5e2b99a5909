// Tangent frames of triangles and the transforms into and out of tangent space, against frames
// worked out by hand from the triangles' texture mappings.
#include <gtest/gtest.h>

#include <cmath>

#include "shader/TangentFrame.h"

namespace {

constexpr double kFrameEps = 1e-12;

void expectVec(const NMVec3& v, double x, double y, double z, double eps = kFrameEps) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

NMTriangle triangle(NMVec3 p0, NMVec3 p1, NMVec3 p2, NMVec3 uv0, NMVec3 uv1, NMVec3 uv2, NMVec3 n = {0, 0, 1}) {
    NMTriangle t;
    makeTriangle(t, p0, p1, p2);
    t.v[0].uvw = uv0;
    t.v[1].uvw = uv1;
    t.v[2].uvw = uv2;
    for (NMVertex& v : t.v) v.normal = n;
    return t;
}

}  // namespace

TEST(TangentFrame, PlaneMappedByXAndYGivesTheAxes) {
    // u = x / 2, v = y: u grows along +x, v along +y, at every corner.
    NMTriangle t = triangle({0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    computeFrames(t);
    for (const NMVertex& v : t.v) {
        expectVec(v.tangent, 1, 0, 0);
        expectVec(v.bitangent, 0, 1, 0);
    }
}

TEST(TangentFrame, RotatedMappingTurnsTheFrame) {
    // u = -y, v = x: u grows along -y, v along +x.
    NMTriangle t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 1, 0}, {-1, 0, 0});
    computeFrames(t);
    for (const NMVertex& v : t.v) {
        expectVec(v.tangent, 0, -1, 0);
        expectVec(v.bitangent, 1, 0, 0);
    }
}

TEST(TangentFrame, ShearedMappingKeepsTangentAndBitangentApart) {
    // u = x, v = x + y. Along the tangent v stays constant and u grows: (1, -1, 0)/√2. Along the
    // bitangent u stays constant and v grows: (0, 1, 0). They are not orthogonal, and stay so.
    NMTriangle t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0});
    computeFrames(t);
    const double r = std::sqrt(0.5);
    for (const NMVertex& v : t.v) {
        expectVec(v.tangent, r, -r, 0);
        expectVec(v.bitangent, 0, 1, 0);
    }
}

TEST(TangentFrame, TiltedNormalIsRemovedFromTheTangentOnly) {
    // Corner 0: the raw tangent is p0 − p1 turned towards growing u, (2, 0, 0). With the normal
    // N = (0.6, 0, 0.8): t − (t·N)N = (2, 0, 0) − 1.2·N = (1.28, 0, -0.96), of length 1.6, so
    // (0.8, 0, -0.6). The raw bitangent (0, 1, 0) is orthogonal to N and stays.
    NMTriangle t = triangle({0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    t.v[0].normal = {0.6, 0, 0.8};
    computeTangentFrame(t, 0);
    expectVec(t.v[0].tangent, 0.8, 0, -0.6);
    expectVec(t.v[0].bitangent, 0, 1, 0);
    // The other corners were not asked for and keep zero frames.
    expectVec(t.v[1].tangent, 0, 0, 0);
}

TEST(TangentFrame, NormalIsUsedAsStoredNotNormalised) {
    // Raw tangent (2, 0, 0). With N = (0.5, 0, 0): t·N = 1, t − N = (1.5, 0, 0) → (1, 0, 0).
    NMTriangle t = triangle({0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    t.v[0].normal = {0.5, 0, 0};
    computeTangentFrame(t, 0);
    expectVec(t.v[0].tangent, 1, 0, 0);
    // With N = (2, 0, 0): t·N = 4, t − 4N = (-6, 0, 0): the tangent flips, which a unit normal
    // along x would have turned into the fall-back instead.
    t.v[0].normal = {2, 0, 0};
    computeTangentFrame(t, 0);
    expectVec(t.v[0].tangent, -1, 0, 0);
}

TEST(TangentFrame, EqualVTakesTheLastEdge) {
    // All three corners share v = 0.5: s = 1, so the tangent is S2.P − S1.P of the unsorted list,
    // p2 − p1 = (-1, 1, 0), and u does not fall along it (u2 = 0.2 vs u1 = 0.9 → flipped to (1, -1, 0)).
    NMTriangle t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.1, 0.5, 0}, {0.9, 0.5, 0}, {0.2, 0.5, 0});
    computeTangentFrame(t, 0);
    const double r = std::sqrt(0.5);
    expectVec(t.v[0].tangent, r, -r, 0);
}

TEST(TangentFrame, DegenerateLayoutFallsBack) {
    // Every corner has the same texture coordinates and the normal lies along p2 − p1, the
    // direction both constructions end on: nothing is left after removing the normal.
    const NMVec3 n = normalize(NMVec3{-1, 1, 0});
    NMTriangle t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.3, 0.3, 0}, {0.3, 0.3, 0}, {0.3, 0.3, 0}, n);
    computeTangentFrame(t, 1);
    expectVec(t.v[1].tangent, 1, 0, 0, 0);
    expectVec(t.v[1].bitangent, 0, 0, 1, 0);
}

TEST(TangentFrame, MakeTriangleSetsOnlyPositions) {
    NMTriangle t;
    t.v[1].uvw = {0.25, 0.5, 0};
    t.v[2].normal = {0, 1, 0};
    makeTriangle(t, {1, 2, 3}, {4, 5, 6}, {7, 8, 9});
    expectVec(t.v[0].position, 1, 2, 3);
    expectVec(t.v[2].position, 7, 8, 9);
    expectVec(t.v[1].uvw, 0.25, 0.5, 0);
    expectVec(t.v[2].normal, 0, 1, 0);
}

TEST(TangentFrame, TransformsByHand) {
    // Frame rows N, T, B = x, y, z axes permuted.
    const TangentFrame f{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    expectVec(toTangentSpace(f, {1, 2, 3}), 2, 3, 1);
    expectVec(fromTangentSpace(f, {2, 3, 1}), 1, 2, 3);
    // A frame that is neither orthogonal nor of unit vectors: from = x·T + y·B + z·N.
    const TangentFrame g{{0, 0, 2}, {1, 0, 0}, {1, 1, 0}};
    expectVec(fromTangentSpace(g, {1, 2, 3}), 3, 2, 6);
    expectVec(toTangentSpace(g, {3, 2, 6}), 3, 5, 12);
}

TEST(TangentFrame, RoundTripThroughAnOrthonormalFrame) {
    const NMVec3 n = normalize(NMVec3{1, 2, 2});
    const NMVec3 t = normalize(cross({0, 0, 1}, n));
    const NMVec3 b = cross(n, t);
    const TangentFrame f{n, t, b};
    const NMVec3 v{0.3, -0.7, 0.2};
    const NMVec3 back = fromTangentSpace(f, toTangentSpace(f, v));
    expectVec(back, v.x, v.y, v.z, 1e-15);
    // The frame's own normal is (0, 0, 1) in tangent space.
    expectVec(toTangentSpace(f, n), 0, 0, 1, 1e-15);
}
