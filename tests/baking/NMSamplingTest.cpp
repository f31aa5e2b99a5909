// Supersampling offsets, occlusion directions and weights, the rotation onto a normal, and the
// occlusion sample over an open plane, beside a wall and with a blocked half-space.
#include <gtest/gtest.h>

#include <numbers>

#include <cmath>

#include "baking/BakeSettings.h"
#include "baking/NMOctreeBuild.h"
#include "baking/NMSampling.h"
#include "host/HostHandles.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;

NMTriangle flatTri(NMVec3 a, NMVec3 b, NMVec3 c) {
    NMTriangle t;
    t.v[0].position = a;
    t.v[1].position = b;
    t.v[2].position = c;
    const NMVec3 n = normalize(cross(b - a, c - a));
    for (NMVertex& v : t.v) v.normal = n;
    return t;
}

// A rectangle as two triangles.
void addRect(NMTriangleList& list, NMVec3 a, NMVec3 b, NMVec3 c, NMVec3 d) {
    list.triangles.push(flatTri(a, b, c));
    list.triangles.push(flatTri(a, c, d));
}

class NMSamplingTest : public BakingFixture {};

}  // namespace

TEST_F(NMSamplingTest, SampleOffsets) {
    Stack<NMVec3> offsets;
    ASSERT_TRUE(makeSampleOffsets(offsets, 1));
    ASSERT_EQ(offsets.count, 1);
    EXPECT_EQ(offsets[0].x, 0.0);
    ASSERT_TRUE(makeSampleOffsets(offsets, 2));
    ASSERT_EQ(offsets.count, 5);
    const double s = 1.0 / 6.0;
    const double want[5][2] = {{0, 0}, {-s, -s}, {s, -s}, {-s, s}, {s, s}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(offsets[i].x, want[i][0], 1e-15) << i;
        EXPECT_NEAR(offsets[i].y, want[i][1], 1e-15) << i;
        EXPECT_EQ(offsets[i].z, 0.0);
    }
    ASSERT_TRUE(makeSampleOffsets(offsets, 3));
    EXPECT_EQ(offsets.count, 10);
    EXPECT_DOUBLE_EQ(offsets[9].x, 0.25);
    EXPECT_DOUBLE_EQ(offsets[1].y, -0.25);
}

TEST_F(NMSamplingTest, FixedDirectionsOfGridThree) {
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    ASSERT_EQ(dirs.count, 41);
    // Row 0, column 0: height 1/4, elevation asin(1/4), azimuth π/8.
    const double e = std::asin(0.25), a = std::numbers::pi / 8.0;
    EXPECT_DOUBLE_EQ(dirs[0].x, std::cos(a) * std::cos(e));
    EXPECT_DOUBLE_EQ(dirs[0].y, std::sin(a) * std::cos(e));
    EXPECT_DOUBLE_EQ(dirs[0].z, 0.25);
    // Row 2, column 1: height 3/4, azimuth π/4.
    EXPECT_DOUBLE_EQ(dirs[7].z, 0.75);
    EXPECT_DOUBLE_EQ(dirs[7].x, dirs[7].y);
    // The mirrors: (x, −y), (−x, y), (−x, −y) of the first nine.
    EXPECT_EQ(dirs[9].x, dirs[0].x);
    EXPECT_EQ(dirs[9].y, -dirs[0].y);
    EXPECT_EQ(dirs[18].x, -dirs[0].x);
    EXPECT_EQ(dirs[27].y, -dirs[0].y);
    EXPECT_EQ(dirs[27].x, -dirs[0].x);
    EXPECT_EQ(dirs[36].x, 1.0);
    EXPECT_EQ(dirs[37].x, -1.0);
    EXPECT_EQ(dirs[38].y, 1.0);
    EXPECT_EQ(dirs[39].y, -1.0);
    EXPECT_EQ(dirs[40].z, 1.0);
    double total = 0.0;
    for (const NMSampleDir& d : dirs) {
        EXPECT_NEAR(d.x * d.x + d.y * d.y + d.z * d.z, 1.0, 1e-15);
        EXPECT_EQ(d.weight, d.z);  // k = 1
        total += d.weight;
    }
    EXPECT_DOUBLE_EQ(total, 19.0);  // 4 · 3 · (1/4 + 2/4 + 3/4) + 1
    EXPECT_EQ(dirs[36].weight, 0.0);
}

TEST_F(NMSamplingTest, ExponentShapesTheWeights) {
    EXPECT_DOUBLE_EQ(directionWeight(0.25, 1.0), 0.25);
    EXPECT_DOUBLE_EQ(directionWeight(0.25, 2.0), 1.0 - 0.75 * 0.75);
    EXPECT_DOUBLE_EQ(directionWeight(0.5, 3.0), 0.875);
    EXPECT_DOUBLE_EQ(directionWeight(0.0, 4.0), 0.0);
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 2, 2.0));
    EXPECT_EQ(dirs.count, 21);
    EXPECT_DOUBLE_EQ(dirs[0].weight, 1.0 - std::pow(1.0 - 1.0 / 3.0, 2.0));
}

TEST_F(NMSamplingTest, RandomDirectionsCoverTheUpperHemisphere) {
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    HstRandom* random = moduleApi()->randomMake(42);
    randomiseDirections(dirs, random, 1.0);
    const NMSampleDir first = dirs[0];
    double meanZ = 0.0;
    for (const NMSampleDir& d : dirs) {
        EXPECT_NEAR(d.x * d.x + d.y * d.y + d.z * d.z, 1.0, 1e-12);
        EXPECT_GE(d.z, 0.0);
        EXPECT_EQ(d.weight, d.z);
        meanZ += d.z;
    }
    EXPECT_GT(meanZ / dirs.count, 0.4);
    randomiseDirections(dirs, random, 1.0);
    EXPECT_NE(dirs[0].x, first.x) << "a fresh draw";
    moduleApi()->randomDestroy(random);
}

TEST_F(NMSamplingTest, RotationTakesZOntoTheNormal) {
    const NMVec3 normals[] = {{0, 0, 1},
                              {0, 0, -1},
                              {1, 0, 0},
                              {0, -1, 0},
                              normalize(NMVec3{1, 2, 3}),
                              normalize(NMVec3{1e-5, 0, 1}),
                              normalize(NMVec3{0, 1e-5, -1}),
                              normalize(NMVec3{-3, 1, -0.2})};
    for (const NMVec3& n : normals) {
        const NMRotation r = rotationFromZ(n);
        const NMVec3 z = r.apply({0, 0, 1});
        EXPECT_NEAR(z.x, n.x, 1e-12);
        EXPECT_NEAR(z.y, n.y, 1e-12);
        EXPECT_NEAR(z.z, n.z, 1e-12);
        // A rotation: orthonormal columns of determinant 1.
        const NMVec3 c0 = r.apply({1, 0, 0}), c1 = r.apply({0, 1, 0});
        EXPECT_NEAR(dot(c0, c1), 0.0, 1e-12);
        EXPECT_NEAR(length(c0), 1.0, 1e-12);
        EXPECT_NEAR(dot(cross(c0, c1), z), 1.0, 1e-12);
    }
    // Straight down in −y: (x, y, z) → (x, −z, y).
    const NMRotation d = rotationFromZ({0, -1, 0});
    const NMVec3 v = d.apply({0.1, 0.2, 0.3});
    EXPECT_DOUBLE_EQ(v.x, 0.1);
    EXPECT_DOUBLE_EQ(v.y, -0.3);
    EXPECT_DOUBLE_EQ(v.z, 0.2);
}

TEST_F(NMSamplingTest, OpenPlaneIsFullyOpen) {
    NMTriangleList list;
    addRect(list, {-10, -10, 0}, {10, -10, 0}, {10, 10, 0}, {-10, 10, 0});
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(NMOctreeBuilder().build(list, tree));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    EXPECT_EQ(occlusionSample(&tree, scratch, {0.3, -2, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE), 1.0);
    // The plane seen from below, its normal pointing down: the rays go down and away too.
    EXPECT_EQ(occlusionSample(&tree, scratch, {0.3, -2, 0}, {0, 0, -1}, dirs, BAKE_BLOCK_NONE), 1.0);
    // Facing the plane from above at a distance, normal down: everything below is blocked; only the
    // horizontal directions (weight 0) would escape.
    EXPECT_EQ(occlusionSample(&tree, scratch, {0.3, -2, 1}, {0, 0, -1}, dirs, BAKE_BLOCK_NONE), 0.0);
}

TEST_F(NMSamplingTest, WallBesideThePointBlocksHalfTheHemisphere) {
    // Floor z = 0 and a wall x = 1 far higher and wider than the rays can climb before reaching it:
    // every direction with x > 0 (two quadrants, 2 · 4.5 of the weight 19) is blocked.
    NMTriangleList list;
    addRect(list, {-50, -50, 0}, {1, -50, 0}, {1, 50, 0}, {-50, 50, 0});
    addRect(list, {1, -50, 0}, {1, 50, 0}, {1, 50, 50}, {1, -50, 50});
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(NMOctreeBuilder().build(list, tree));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    EXPECT_DOUBLE_EQ(occlusionSample(&tree, scratch, {0.5, 0, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE), 10.0 / 19.0);
    EXPECT_DOUBLE_EQ(occlusionSample(&tree, scratch, {-0.5, 3, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE), 10.0 / 19.0);
    // A short wall: far from it more directions pass over it.
    NMTriangleList low;
    addRect(low, {-50, -50, 0}, {1, -50, 0}, {1, 50, 0}, {-50, 50, 0});
    addRect(low, {1, -50, 0}, {1, 50, 0}, {1, 50, 0.5}, {1, -50, 0.5});
    low.computeBox();
    NMOctree shortWall;
    ASSERT_TRUE(NMOctreeBuilder().build(low, shortWall));
    ASSERT_TRUE(shortWall.prepareScratch(scratch));
    const double near = occlusionSample(&shortWall, scratch, {0.9, 0, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE);
    const double mid = occlusionSample(&shortWall, scratch, {0.5, 0, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE);
    const double far = occlusionSample(&shortWall, scratch, {-5, 0, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_NONE);
    EXPECT_LT(near, mid);
    EXPECT_LT(mid, far);
    EXPECT_EQ(far, 1.0);
}

TEST_F(NMSamplingTest, BlockedHalfSpaceBlocksWithoutCasting) {
    // Nothing to hit. Normal straight down in −y, half-space −Y: the local directions higher than
    // 0.5 (the 12 at height 3/4 and the normal itself, weight 10 of 19) turn below y = −0.5.
    NMTriangleList none;
    none.computeBox();
    NMOctree tree;
    ASSERT_TRUE(NMOctreeBuilder().build(none, tree));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    const uint64_t before = scratch.rays;
    EXPECT_DOUBLE_EQ(occlusionSample(&tree, scratch, {0, 0, 0}, {0, -1, 0}, dirs, BAKE_BLOCK_NEG_Y), 9.0 / 19.0);
    // 36 + 1 directions have weight; the 13 blocked ones were not cast.
    EXPECT_EQ(scratch.rays - before, 24u);
    // The other sense blocks nothing here.
    EXPECT_DOUBLE_EQ(occlusionSample(&tree, scratch, {0, 0, 0}, {0, -1, 0}, dirs, BAKE_BLOCK_POS_Y), 1.0);
    EXPECT_DOUBLE_EQ(occlusionSample(nullptr, scratch, {0, 0, 0}, {0, 0, 1}, dirs, BAKE_BLOCK_POS_Z), 9.0 / 19.0);
    EXPECT_TRUE(inBlockedHalfSpace({-0.6, 0, 0}, BAKE_BLOCK_NEG_X));
    EXPECT_FALSE(inBlockedHalfSpace({-0.5, 0, 0}, BAKE_BLOCK_NEG_X));
    EXPECT_TRUE(inBlockedHalfSpace({0, 0, -0.51}, BAKE_BLOCK_NEG_Z));
    EXPECT_FALSE(inBlockedHalfSpace({0.9, 0.9, 0.9}, BAKE_BLOCK_NONE));
}

TEST_F(NMSamplingTest, PacketSampleEqualsRayByRaySample) {
    // Floor, a wall and a roof piece; grid 6 (149 directions: three packets) and grid 3, exponent 1
    // and 2.5, every blocked half-space: the packet form must give the very same double.
    NMTriangleList list;
    addRect(list, {-3, -3, 0}, {3, -3, 0}, {3, 3, 0}, {-3, 3, 0});
    addRect(list, {1, -3, 0}, {1, 3, 0}, {1, 3, 2}, {1, -3, 2});
    addRect(list, {-1, -1, 1}, {0.5, -1, 1}, {0.5, 1, 1.2}, {-1, 1, 1.2});
    list.computeBox();
    NMOctree tree;
    ASSERT_TRUE(NMOctreeBuilder().build(list, tree));
    NMQueryScratch scratch;
    ASSERT_TRUE(tree.prepareScratch(scratch));
    NMRandom random(99);
    int partial = 0;
    for (int grid : {3, 6})
        for (double k : {1.0, 2.5}) {
            Stack<NMSampleDir> dirs;
            ASSERT_TRUE(makeOcclusionDirections(dirs, grid, k));
            for (int i = 0; i < 60; ++i) {
                const NMVec3 p{random.real() * 3 - 2, random.real() * 4 - 2, random.real() * 0.5};
                const NMVec3 n = normalize(NMVec3{random.real() - 0.5, random.real() - 0.5, random.real() + 0.2});
                for (int32_t blocked = BAKE_BLOCK_NONE; blocked <= BAKE_BLOCK_POS_Z; ++blocked) {
                    const double single = occlusionSampleRayByRay(&tree, scratch, p, n, dirs, blocked);
                    const double packet = occlusionSample(&tree, scratch, p, n, dirs, blocked);
                    ASSERT_EQ(packet, single) << "grid " << grid << " k " << k << " point " << i;
                    partial += single > 0.0 && single < 1.0;
                }
            }
        }
    EXPECT_GT(partial, 500);
    EXPECT_FALSE(scratch.failed);
}

TEST(NMRandomTest, SplitMixSequenceAndRange) {
    // splitmix64 from seed 0: the published first outputs.
    NMRandom r(0);
    EXPECT_EQ(r.next(), 0xe220a8397b1dcdafull);
    EXPECT_EQ(r.next(), 0x6e789e6aa1b965f4ull);
    NMRandom a(42), b(42);
    for (int i = 0; i < 1000; ++i) {
        const double x = a.real();
        ASSERT_EQ(x, b.real());
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
    }
}
