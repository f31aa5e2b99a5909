// The picking routines: triangle planes, coefficients of a point and the ray test.
#include <gtest/gtest.h>

#include <cmath>

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

// Triangles whose plane passes through or near the origin, with coordinates that are not exact: the
// coefficient solve's determinant is rounding there but not exactly 0. The ray test still finds the
// inside and refuses the outside (issue 22, fault 9).
TEST(RayTest, TrianglesInPlanesThroughOrNearTheOriginAreHitInsideAndMissedOutside) {
    const struct {
        double lift;    // the plane's distance from the origin, before turning
        double ax, ay;  // turns about x and y
        double size;
    } cases[] = {{0.0, 0.7, 0.4, 1.0},   {0.0, 1.3, -2.1, 0.01}, {1e-7, 0.3, 0.9, 1.0}, {1e-4, 2.0, 0.5, 5.0},
                 {0.02, 0.6, 0.6, 1.0},  {0.0, 0.0, 0.0, 1.0},   {0.5, 0.7, 0.4, 1.0},  {0.0, 1e-3, 2e-3, 100.0}};
    for (const auto& c : cases) {
        auto turn = [&](double x, double y, double z) {
            const double y1 = y * std::cos(c.ax) - z * std::sin(c.ax), z1 = y * std::sin(c.ax) + z * std::cos(c.ax);
            return FloatVector{static_cast<float>(x * std::cos(c.ay) + z1 * std::sin(c.ay)), static_cast<float>(y1),
                               static_cast<float>(-x * std::sin(c.ay) + z1 * std::cos(c.ay))};
        };
        // Centred on the origin's foot in the plane, as a card's middle triangles are.
        const FloatVector p0 = turn(-0.6 * c.size, -0.3 * c.size, c.lift), p1 = turn(0.7 * c.size, -0.4 * c.size, c.lift),
                          p2 = turn(0.1 * c.size, 0.8 * c.size, c.lift);
        const TrianglePlane t = TrianglePlane::build(p0, p1, p2);
        const Vector a = toVector(p0), b = toVector(p1), q = toVector(p2);
        const Vector n = normalize(cross(subtract(b, a), subtract(q, a)));
        const double inside[][3] = {{1 / 3.0, 1 / 3.0, 1 / 3.0}, {0.9, 0.05, 0.05}, {0.05, 0.9, 0.05}, {0.05, 0.05, 0.9},
                                    {0.5, 0.49, 0.01}};
        for (const auto& w : inside) {
            const Vector at = add(add(scale(a, w[0]), scale(b, w[1])), scale(q, w[2]));
            double hit = 0.0;
            EXPECT_TRUE(rayHitsTriangle(t, add(at, scale(n, 2.0 * c.size)), scale(n, -1.0), &hit))
                << "lift " << c.lift << " size " << c.size << " at " << w[0] << "," << w[1];
            EXPECT_NEAR(hit, 2.0 * c.size, 1e-4 * c.size);
        }
        const double outside[][3] = {{1.2, -0.1, -0.1}, {-0.1, 0.55, 0.55}, {0.6, 0.6, -0.2}, {-1.0, 1.0, 1.0}};
        for (const auto& w : outside) {
            const Vector at = add(add(scale(a, w[0]), scale(b, w[1])), scale(q, w[2]));
            EXPECT_FALSE(rayHitsTriangle(t, add(at, scale(n, 2.0 * c.size)), scale(n, -1.0)))
                << "lift " << c.lift << " size " << c.size << " at " << w[0] << "," << w[1];
        }
    }
}

}  // namespace
