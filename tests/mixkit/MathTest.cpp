// Vectors, planes, polygon measures, border constraints, shape measures, 3x3 matrices and
// quadrics, against values worked by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "mixkit/BorderConstraint.h"
#include "mixkit/Matrix3.h"
#include "mixkit/Plane.h"
#include "mixkit/PolygonMeasures.h"
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

TEST(PolygonMeasures, NormalAndAreaOfATriangleAndAQuad) {
    // The unit square (0, 1, 2, 3) and its lower triangle (0, 1, 2); a quad's normal is the cross
    // product of its diagonals, twice its area long.
    const Vector points[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {3, 0, 0}};
    auto at = [&points](int32_t i) -> const Vector& { return points[i]; };
    expectVector(polygonNormal(HostPolygon{0, 1, 2, 2}, at), 0, 0, 1);
    expectVector(polygonNormal(HostPolygon{0, 1, 2, 3}, at), 0, 0, 2);
    EXPECT_DOUBLE_EQ(polygonArea(HostPolygon{0, 1, 2, 2}, at), 0.5);
    EXPECT_DOUBLE_EQ(polygonArea(HostPolygon{0, 1, 2, 3}, at), 1.0);
    // The quad (0, 4, 2, 3) as the triangles (0, 4, 3) and (2, 3, 4): 1.5 and 0.5.
    EXPECT_DOUBLE_EQ(polygonArea(HostPolygon{0, 4, 2, 3}, at), 2.0);
}

TEST(BorderConstraints, OpenBordersAndSeamsAreConstrained) {
    struct Case {
        int32_t polygons;
        bool acrossSeam;
        bool constrained;
        bool asked;  // whether the seam test is asked at all
    };
    const Case cases[] = {
        {0, true, false, false}, {1, false, true, false}, {2, false, false, true},
        {2, true, true, true},   {3, true, false, false},
    };
    for (const Case& c : cases) {
        bool asked = false;
        const bool constrained = isConstrainedEdge(c.polygons, [&] {
            asked = true;
            return c.acrossSeam;
        });
        EXPECT_EQ(constrained, c.constrained) << c.polygons << " polygons";
        EXPECT_EQ(asked, c.asked) << c.polygons << " polygons";
    }
}

TEST(BorderConstraints, PlaneStandsUprightOnThePolygonThroughTheEdge) {
    // Edge (0, 0, 0)-(2, 0, 0) of a polygon facing +z: the plane y = 0, normal (0, -1, 0).
    const Vector from{0, 0, 0}, to{2, 0, 0}, up{0, 0, 1};
    const Quadric plain = borderPlaneQuadric(from, to, up, 1000.0, false);
    EXPECT_DOUBLE_EQ(plain.evaluate(Vector{5, 3, 7}), 1000.0 * 9.0);
    EXPECT_DOUBLE_EQ(plain.evaluate(Vector{-4, 0, 2}), 0.0);
    // Under the area weightings it grows with the edge's squared length (4).
    const Quadric byLength = borderPlaneQuadric(from, to, up, 1000.0, true);
    EXPECT_DOUBLE_EQ(byLength.evaluate(Vector{5, 3, 7}), 4000.0 * 9.0);
    // Off the origin: edge (1, 1, 0)-(1, 3, 0) of a polygon facing +z holds the plane x = 1.
    const Quadric side = borderPlaneQuadric(Vector{1, 1, 0}, Vector{1, 3, 0}, up, 1.0, false);
    EXPECT_DOUBLE_EQ(side.evaluate(Vector{4, 9, -2}), 9.0);
    EXPECT_DOUBLE_EQ(side.evaluate(Vector{1, -5, 3}), 0.0);
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

namespace {

bool plainTurnsOver(const Vector& n, const Vector& m) { return dot(normalize(n), normalize(m)) < 0.0; }
double plainLeastTriangle(double least, const Vector& p0, const Vector& p1, const Vector& p2) {
    const double c = triangleCompactness(p0, p1, p2);
    return c < least ? c : least;
}
double plainLeastQuad(double least, const Vector& p0, const Vector& p1, const Vector& p2, const Vector& p3) {
    const double c = quadCompactness(p0, p1, p2, p3);
    return c < least ? c : least;
}
double leastTriangle(double least, const Vector& p0, const Vector& p1, const Vector& p2) {
    const Vector e0 = subtract(p1, p0);
    return leastTriangleCompactness(least, p0, p1, p2, e0, cross(e0, subtract(p2, p0)));
}
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// The penalty shortcuts give the plain formulas' results bit for bit: at the edges of their
// ranges (zero, tiny, huge, not a number, exactly perpendicular) and over many random shapes,
// near-degenerate ones and near-ties with the running least included.
TEST(Shapes, PenaltyShortcutsMatchThePlainFormulas) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Vector up{0, 0, 1};
    const Vector edges[] = {{0, 0, 0},       {0, 0, 1e-170},  {0, 0, -1e-170}, {1e-160, 0, -1e-160},
                            {1e200, 0, -1},  {0, 0, -1e200},  {1, 0, 0},       {1, 1e-17, -1e-17},
                            {nan, 0, 1},     {0, inf, -1},    {3, 4, -1e-300}, {-2, 5, 1e-320}};
    // The old normal unnormalised, from tiny to huge lengths (and zero), against every new one.
    const Vector olds[] = {up, {1, 1, 1}, {0, 0, 1e-150}, {3e-120, -1e-120, 2e-120}, {1e150, 1e150, -1}, {0, 0, 0}};
    for (const Vector& n : edges)
        for (const Vector& m : olds) EXPECT_EQ(turnsOver(n, m), plainTurnsOver(n, m)) << n.x << " " << n.y << " " << n.z;
    const Vector a{0, 0, 0}, b{1, 0, 0};
    const Vector degenerate[][2] = {{{2, 1e-9, 0}, {0, 1, 0}},  {{1e-170, 0, 0}, {0, 1e-170, 0}},
                                    {{1e120, 0, 0}, {0, 1e120, 0}}, {{nan, 0, 0}, {0, 1, 0}},
                                    {{0.5, 0.8660254037844386, 0}, {0, 1, 0}}};
    for (const auto& [c, d] : degenerate)
        for (double least : {1.0, 0.5, 1e-12, 0.0}) {
            EXPECT_TRUE(sameBits(leastTriangle(least, a, b, c), plainLeastTriangle(least, a, b, c)));
            EXPECT_TRUE(sameBits(leastQuadCompactness(least, a, b, c, d), plainLeastQuad(least, a, b, c, d)));
        }

    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    auto point = [&] { return Vector{coordinate(random), coordinate(random), coordinate(random)}; };
    int decidedByTheMargin = 0;
    for (int i = 0; i < 200000; ++i) {
        const Vector p0 = point(), p1 = point(), p2 = point();
        // Every fourth quad nearly flat, every fourth normal nearly perpendicular to the old one.
        Vector p3 = point();
        if (i % 4 == 1) p3 = add(scale(add(p0, p2), 0.5), scale(point(), 1e-13));
        const Vector n = cross(subtract(p1, p0), subtract(p2, p0));
        // The old normal at lengths from 1e-60 to 1e60.
        const double size = std::pow(10.0, 60.0 * coordinate(random));
        Vector m = scale(point(), size);
        if (i % 4 == 2) m = scale(add(cross(n, normalize(m)), scale(point(), 1e-15)), size);
        ASSERT_EQ(turnsOver(n, m), plainTurnsOver(n, m)) << i;
        // A running least just above, at and below each face's own value.
        const double own = triangleCompactness(p0, p1, p2);
        const double ownQuad = quadCompactness(p0, p1, p2, p3);
        for (double least : {own, std::nextafter(own, 2.0), std::nextafter(own, 0.0), own * 1.5, 1.0}) {
            ASSERT_TRUE(sameBits(leastTriangle(least, p0, p1, p2), plainLeastTriangle(least, p0, p1, p2))) << i;
        }
        for (double least : {ownQuad, std::nextafter(ownQuad, 2.0), std::nextafter(ownQuad, 0.0), ownQuad * 1.5}) {
            ASSERT_TRUE(sameBits(leastQuadCompactness(least, p0, p1, p2, p3), plainLeastQuad(least, p0, p1, p2, p3)))
                << i;
        }
        decidedByTheMargin += std::fabs(dot(normalize(n), normalize(m))) < 1e-9 ? 1 : 0;
    }
    // The near-perpendicular cases did reach the plain path.
    EXPECT_GT(decidedByTheMargin, 1000);
}
