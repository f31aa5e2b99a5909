// Vectors, planes, shape measures, 3x3 matrices and quadrics, against values worked by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mixkit/Matrix3.h"
#include "mixkit/Plane.h"
#include "mixkit/Quadric.h"
#include "mixkit/ShapeMeasures.h"
#include "sources/Geometry.h"

namespace {

constexpr double kPi = 3.141592653589793;

void expectVector(const Vector& v, double x, double y, double z) {
    EXPECT_DOUBLE_EQ(v.x, x);
    EXPECT_DOUBLE_EQ(v.y, y);
    EXPECT_DOUBLE_EQ(v.z, z);
}

TEST(VectorMath, CrossFollowsTheRightHandRule) {
    expectVector(cross({1, 0, 0}, {0, 1, 0}), 0, 0, 1);
    expectVector(cross({0, 1, 0}, {1, 0, 0}), 0, 0, -1);
    expectVector(cross({1, 2, 3}, {4, 5, 6}), -3, 6, -3);
}

TEST(VectorMath, NormalizeOfZeroIsZero) {
    const Vector n = normalize({0, 0, 0});
    EXPECT_EQ(n.x, 0.0);
    EXPECT_EQ(n.y, 0.0);
    EXPECT_EQ(n.z, 0.0);
    EXPECT_FALSE(std::isnan(n.x));
    expectVector(normalize({3, 0, 4}), 0.6, 0.0, 0.8);
}

TEST(VectorMath, FloatFormsAddAndScaleInPlace) {
    FloatVector v{1.5f, -2.0f, 0.25f};
    addInPlace(v, FloatVector{0.5f, 1.0f, 0.75f});
    EXPECT_EQ(v.x, 2.0f);
    EXPECT_EQ(v.y, -1.0f);
    EXPECT_EQ(v.z, 1.0f);
    scaleInPlace(v, 2.0f);
    EXPECT_EQ(v.y, -2.0f);
    const FloatVector rounded = toFloatVector({0.1, 0.2, 0.3});
    EXPECT_EQ(rounded.x, 0.1f);
}

TEST(Planes, TrianglePlaneRawKeepsTwiceTheAreaAndUnitNormalises) {
    const Plane raw = trianglePlaneRaw({0, 0, 2}, {2, 0, 2}, {0, 2, 2});
    EXPECT_DOUBLE_EQ(raw.a, 0.0);
    EXPECT_DOUBLE_EQ(raw.b, 0.0);
    EXPECT_DOUBLE_EQ(raw.c, 4.0);
    EXPECT_DOUBLE_EQ(raw.d, -8.0);
    const Plane unit = trianglePlaneUnit({0, 0, 2}, {2, 0, 2}, {0, 2, 2});
    EXPECT_DOUBLE_EQ(unit.c, 1.0);
    EXPECT_DOUBLE_EQ(unit.d, -2.0);
    // Clockwise seen from +z: the normal points down.
    EXPECT_DOUBLE_EQ(trianglePlaneUnit({0, 0, 2}, {0, 2, 2}, {2, 0, 2}).c, -1.0);
}

TEST(Planes, QuadPlaneUsesTheDiagonalsAndTheCentre) {
    const Plane raw = quadPlaneRaw({0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1});
    EXPECT_DOUBLE_EQ(raw.a, 0.0);
    EXPECT_DOUBLE_EQ(raw.b, 0.0);
    EXPECT_DOUBLE_EQ(raw.c, 2.0);
    EXPECT_DOUBLE_EQ(raw.d, -2.0);
    const Plane unit = quadPlaneUnit({0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1});
    EXPECT_DOUBLE_EQ(unit.c, 1.0);
    EXPECT_DOUBLE_EQ(unit.d, -1.0);
    // A non-planar quad: d is taken at the centre (0.5, 0.5, 0.5), not at a corner.
    const Plane bent = quadPlaneUnit({0, 0, 0}, {1, 0, 1}, {1, 1, 0}, {0, 1, 1});
    EXPECT_NEAR(bent.a * 0.5 + bent.b * 0.5 + bent.c * 0.5 + bent.d, 0.0, 1e-15);
}

TEST(Planes, DegenerateUnitPlaneIsAllZero) {
    const Plane p = trianglePlaneUnit({1, 2, 3}, {1, 2, 3}, {1, 2, 3});
    EXPECT_EQ(p.a, 0.0);
    EXPECT_EQ(p.b, 0.0);
    EXPECT_EQ(p.c, 0.0);
    EXPECT_EQ(p.d, 0.0);
}

TEST(Shapes, TriangleCompactness) {
    EXPECT_NEAR(triangleCompactness({0, 0, 0}, {1, 0, 0}, {0.5, std::sqrt(3.0) / 2.0, 0}), 1.0, 1e-15);
    // Right isosceles: |cross| = 1, sides 1 + 2 + 1 = 4, so 2*sqrt(3)/4.
    EXPECT_DOUBLE_EQ(triangleCompactness({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), 3.4641016151377544 / 4.0);
    EXPECT_EQ(triangleCompactness({2, 2, 2}, {2, 2, 2}, {2, 2, 2}), 1.0);
    EXPECT_LT(triangleCompactness({0, 0, 0}, {1, 0, 0}, {2, 1e-9, 0}), 1e-8);
}

TEST(Shapes, QuadCompactness) {
    EXPECT_EQ(quadCompactness({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}), 1.0);
    // A 2 x 1 rectangle: 2 * (2 + 2) / (4 + 1 + 4 + 1).
    EXPECT_DOUBLE_EQ(quadCompactness({0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}), 0.8);
    EXPECT_EQ(quadCompactness({1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}), 1.0);
}

TEST(Shapes, CornerAngle) {
    EXPECT_DOUBLE_EQ(cornerAngle({1, 0, 0}, {0, 0, 0}, {0, 1, 0}), kPi / 2.0);
    EXPECT_EQ(cornerAngle({1, 0, 0}, {0, 0, 0}, {2, 0, 0}), 0.0);
    EXPECT_EQ(cornerAngle({1, 0, 0}, {0, 0, 0}, {-1, 0, 0}), kPi);
    // A repeated point makes a zero side: t = 0, a right angle.
    EXPECT_DOUBLE_EQ(cornerAngle({0, 0, 0}, {0, 0, 0}, {1, 0, 0}), kPi / 2.0);
    EXPECT_NEAR(cornerAngle({1, 0, 0}, {0, 0, 0}, {1, 1, 0}), kPi / 4.0, 1e-15);
}

TEST(Matrix3Math, CofactorsAndInverseWorkedByHand) {
    const Matrix3 m{{2, 0, 1, 1, 3, 2, 1, 1, 2}};
    const Matrix3 c = cofactors(m);
    const double expectedC[9] = {4, 0, -2, 1, 3, -2, -3, -3, 6};
    for (int i = 0; i < 9; ++i) EXPECT_DOUBLE_EQ(c.m[i], expectedC[i]) << i;
    Matrix3 inverse;
    EXPECT_DOUBLE_EQ(invert(m, inverse), 6.0);
    const double expectedInverse[9] = {4, 1, -3, 0, 3, -3, -2, -2, 6};
    for (int i = 0; i < 9; ++i) EXPECT_DOUBLE_EQ(inverse.m[i], expectedInverse[i] / 6.0) << i;
    const Matrix3 t = transpose(m);
    EXPECT_EQ(t.at(0, 1), 1.0);
    EXPECT_EQ(t.at(1, 0), 0.0);
}

TEST(Matrix3Math, SingularInverseLeavesTheOutputAlone) {
    const Matrix3 m{{1, 2, 3, 2, 4, 6, 0, 0, 1}};
    Matrix3 out;
    for (double& v : out.m) v = 7.0;
    EXPECT_EQ(invert(m, out), 0.0);
    for (double v : out.m) EXPECT_EQ(v, 7.0);
}

TEST(QuadricMath, FromPlaneAndEvaluate) {
    const Quadric q = Quadric::fromPlane(1, 2, 3, 4, 5);
    const double expected[10] = {1, 2, 3, 4, 4, 6, 8, 9, 12, 16};
    const double got[10] = {q.a2, q.ab, q.ac, q.ad, q.b2, q.bc, q.bd, q.c2, q.cd, q.d2};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], expected[i]) << i;
    EXPECT_EQ(q.area, 5.0);
    // (1 + 2 + 3 + 4)^2.
    EXPECT_EQ(q.evaluate(1, 1, 1), 100.0);
    // (2 - 2 + 0 + 4)^2: the sign of each cross term matters.
    EXPECT_EQ(q.evaluate(2, -1, 0), 16.0);
}

TEST(QuadricMath, ScaleLeavesTheAreaAndAddSumsIt) {
    Quadric q = Quadric::fromPlane(0, 0, 1, -1, 2.0);
    q.scale(3.0);
    EXPECT_EQ(q.c2, 3.0);
    EXPECT_EQ(q.cd, -3.0);
    EXPECT_EQ(q.area, 2.0);
    q.add(Quadric::fromPlane(1, 0, 0, 0, 0.5));
    EXPECT_EQ(q.a2, 1.0);
    EXPECT_EQ(q.area, 2.5);
    q.fill(0.0);
    EXPECT_EQ(q.area, 0.0);
    EXPECT_EQ(q.d2, 0.0);
}

TEST(QuadricMath, OptimalPointOfThreePlanesIsTheirCorner) {
    Quadric q = Quadric::fromPlane(1, 0, 0, -1, 1);
    q.add(Quadric::fromPlane(0, 1, 0, -2, 1));
    q.add(Quadric::fromPlane(0, 0, 1, -3, 1));
    Vector v;
    ASSERT_TRUE(q.optimalPoint(v));
    expectVector(v, 1, 2, 3);
    EXPECT_EQ(q.evaluate(v), 0.0);
}

TEST(QuadricMath, OptimalPointRefusesSingularAndNearlySingularTensors) {
    Quadric flat = Quadric::fromPlane(1, 0, 0, -1, 1);
    flat.add(Quadric::fromPlane(0, 1, 0, -2, 1));
    Vector v{9, 9, 9};
    EXPECT_FALSE(flat.optimalPoint(v));
    expectVector(v, 9, 9, 9);
    Quadric thin = flat;
    Quadric z = Quadric::fromPlane(0, 0, 1, -3, 1);
    z.scale(1e-13);  // det = 1e-13: not 0, but below the limit
    thin.add(z);
    EXPECT_FALSE(thin.optimalPoint(v));
    expectVector(v, 9, 9, 9);
    z = Quadric::fromPlane(0, 0, 1, -3, 1);
    z.scale(1e-11);
    flat.add(z);
    EXPECT_TRUE(flat.optimalPoint(v));
    EXPECT_NEAR(v.z, 3.0, 1e-9);
}

TEST(QuadricMath, OptimalOnSegmentWorkedByHand) {
    const Quadric q = Quadric::fromPlane(1, 0, 0, -1, 1);  // the plane x = 1
    Vector v;
    // d = (3, 0, 0), t = (-2 * (-3) - 0 - 0) / (2 * 9) = 1/3.
    ASSERT_TRUE(q.optimalOnSegment({3, 0, 0}, {0, 0, 0}, v));
    expectVector(v, 1, 0, 0);
    // t = 2 is clamped to 1: v1.
    ASSERT_TRUE(q.optimalOnSegment({0.5, 0, 0}, {0, 0, 0}, v));
    expectVector(v, 0.5, 0, 0);
    // t = -1 is clamped to 0: exactly v2.
    ASSERT_TRUE(q.optimalOnSegment({3, 0, 0}, {2, 0, 0}, v));
    expectVector(v, 2, 0, 0);
    // Along the plane the error does not change: no answer.
    v = {5, 5, 5};
    EXPECT_FALSE(q.optimalOnSegment({0, 1, 0}, {0, 0, 0}, v));
    expectVector(v, 5, 5, 5);
}

TEST(QuadricMath, OptimalOnSegmentTurnsNaNIntoTheSecondEnd) {
    Quadric q = Quadric::fromPlane(1, 0, 0, -1, 1);
    q.ad = std::numeric_limits<double>::quiet_NaN();
    Vector v;
    ASSERT_TRUE(q.optimalOnSegment({3, 0, 0}, {-1, 0, 0}, v));
    expectVector(v, -1, 0, 0);
}

TEST(Constants, StartingMatrices) {
    EXPECT_EQ(kIdentity3.at(1, 1), 1.0);
    EXPECT_EQ(kIdentity3.at(0, 1), 0.0);
    EXPECT_EQ(kOnes3.at(2, 0), 1.0);
    EXPECT_EQ(kZero3.at(2, 2), 0.0);
    EXPECT_EQ(kIdentity4[3][3], 1.0);
    EXPECT_EQ(kOnes4[0][3], 1.0);
    EXPECT_EQ(kZero4[1][1], 0.0);
}

}  // namespace
