// The picking routines: triangle planes, coefficients of a point and the ray test.
#include <gtest/gtest.h>

#include "mixkit/PolygonPlanes.h"
#include "mixkit/RayTest.h"
#include "mixkit/SolveCoefficients.h"
#include "mixkit/TrianglePlane.h"

namespace {

void expectCoefficients(const Coefficients& c, double a, double b, double g) {
    EXPECT_DOUBLE_EQ(c.alpha, a);
    EXPECT_DOUBLE_EQ(c.beta, b);
    EXPECT_DOUBLE_EQ(c.gamma, g);
}

TEST(TrianglePlaneRecord, UnitNormalAndOffset) {
    const TrianglePlane t = TrianglePlane::build({0, 0, 1}, {2, 0, 1}, {0, 2, 1});
    EXPECT_EQ(t.normal[0], 0.0f);
    EXPECT_EQ(t.normal[1], 0.0f);
    EXPECT_EQ(t.normal[2], 1.0f);
    EXPECT_EQ(t.offset, -1.0f);
    EXPECT_EQ(t.p1.x, 2.0f);
    const TrianglePlane flat = TrianglePlane::build({1, 1, 1}, {2, 2, 2}, {3, 3, 3});
    EXPECT_EQ(flat.normal[0], 0.0f);
    EXPECT_EQ(flat.normal[2], 0.0f);
}

TEST(PolygonPlanesRecord, SplitsAlongTheFirstDiagonal) {
    const PolygonPlanes p = PolygonPlanes::build({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0});
    EXPECT_EQ(p.first.p2.x, 1.0f);  // (a, b, c)
    EXPECT_EQ(p.second.p1.x, 1.0f);  // (a, c, d)
    EXPECT_EQ(p.second.p2.x, 0.0f);
    EXPECT_EQ(p.second.normal[2], 1.0f);
}

TEST(Coefficients, GeneralPositionUsesCramersRule) {
    Coefficients c;
    ASSERT_TRUE(solveCoefficients({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.2, 0.3, 0.5}, c));
    expectCoefficients(c, 0.2, 0.3, 0.5);
    // Off the plane, the coefficients no longer sum to 1.
    ASSERT_TRUE(solveCoefficients({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, c));
    expectCoefficients(c, 1, 1, 1);
}

TEST(Coefficients, TrianglesInCoordinatePlanesThroughTheOrigin) {
    Coefficients c;
    ASSERT_TRUE(solveCoefficients({0, 0, 0}, {0, 2, 0}, {0, 0, 2}, {0, 0.5, 0.5}, c));  // x = 0
    expectCoefficients(c, 0.5, 0.25, 0.25);
    ASSERT_TRUE(solveCoefficients({0, 0, 0}, {2, 0, 0}, {0, 0, 2}, {0.5, 0, 0.5}, c));  // y = 0
    expectCoefficients(c, 0.5, 0.25, 0.25);
    ASSERT_TRUE(solveCoefficients({0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0.5, 0.5, 0}, c));  // z = 0
    expectCoefficients(c, 0.5, 0.25, 0.25);
}

TEST(Coefficients, GeneralPlaneThroughTheOriginFails) {
    Coefficients c;
    EXPECT_FALSE(solveCoefficients({1, 1, 0}, {0, 1, 1}, {1, 2, 1}, {0.5, 1, 0.5}, c));
    expectCoefficients(c, 1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0);
    // A degenerate triangle in a coordinate plane has no area there either.
    EXPECT_FALSE(solveCoefficients({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0.5, 0, 0}, c));
}

TEST(RayTest, HitsInsideAndReportsT) {
    const TrianglePlane t = TrianglePlane::build({0, 0, 1}, {1, 0, 1}, {0, 1, 1});
    double at = 0.0;
    EXPECT_TRUE(rayHitsTriangle(t, {0.25, 0.25, 5}, {0, 0, -1}, &at));
    EXPECT_DOUBLE_EQ(at, 4.0);
    // Behind the origin still counts; t is negative.
    EXPECT_TRUE(rayHitsTriangle(t, {0.25, 0.25, -5}, {0, 0, -1}, &at));
    EXPECT_DOUBLE_EQ(at, -6.0);
    EXPECT_TRUE(rayHitsTriangle(t, {0.25, 0.25, 5}, {0, 0, -1}));
}

TEST(RayTest, MissesOutsideParallelAndDegenerate) {
    const TrianglePlane t = TrianglePlane::build({0, 0, 1}, {1, 0, 1}, {0, 1, 1});
    double at = 42.0;
    EXPECT_FALSE(rayHitsTriangle(t, {0.75, 0.75, 5}, {0, 0, -1}, &at));
    EXPECT_FALSE(rayHitsTriangle(t, {0.25, 0.25, 1}, {1, 0, 0}, &at));
    EXPECT_EQ(at, 42.0);
    const TrianglePlane flat = TrianglePlane::build({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_FALSE(rayHitsTriangle(flat, {1, 1, 5}, {0, 0, -1}, &at));
}

TEST(RayTest, TriangleWhosePlaneMeetsTheOrigin) {
    // The plane of these corners passes through the origin outside the coordinate planes, where
    // the coefficient solve gives up; the ray test still finds the triangle.
    const TrianglePlane t = TrianglePlane::build({1, 1, 0}, {0, 1, 1}, {1, 2, 1});
    const Vector centre{2.0 / 3.0, 4.0 / 3.0, 2.0 / 3.0};
    const Vector n{-1, 1, -1};
    double at = 0.0;
    EXPECT_TRUE(rayHitsTriangle(t, add(centre, scale(n, 3.0)), scale(n, -1.0), &at));
    EXPECT_NEAR(at, 3.0, 1e-6);
    EXPECT_FALSE(rayHitsTriangle(t, add({5, 5, 0}, scale(n, 3.0)), scale(n, -1.0), &at));
}

}  // namespace
