// Quad reconstruction on host polygon objects: which triangle pairs merge (convex, same facing,
// continuous UVW, same selection-tag memberships), in which order (best key first), how the merged
// quad's corners and their UVW and normal rows are laid out, and what a refused allocation does.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/Memory.h"
#include "mixkit/UnTriag3.h"
#include "sources/HostSelection.h"
#include "tests/mixkit/UnTriagTestSupport.h"
#include "tests/support/GridMesh.h"
#include "tests/support/OneWorker.h"

using namespace untritest;

namespace {

const host::Polygon kEmpty{0, 0, 0, 0};

host::Polygon tri(int a, int b, int c) { return {a, b, c, c}; }

class UnTriag3Test : public ModuleTest {
protected:
    // Runs the reconstruction on the whole object (or on the members of `only`).
    bool rebuild(host::PolygonObject* obj, const std::vector<int>* only = nullptr) {
        UnTriag3 quads;
        bool ok = false;
        if (only != nullptr) {
            HostSelectionSet set;
            EXPECT_TRUE(set.make());
            for (int i : *only) set.select(i);
            ok = quads.run(view(obj), set.view());
        } else {
            ok = quads.run(view(obj));
        }
        merged = quads.mergedCount();
        return ok;
    }
    int merged = -1;
    host::Document doc;
};

// The unit square (0,0) (1,0) (1,1) (0,1) as two triangles along the diagonal 0-2.
host::PolygonObject* square(host::Document& doc) {
    return makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {tri(0, 1, 2), tri(0, 2, 3)});
}

// ---------------------------------------------------------------------------------------------
// The key

TEST(QuadCandidateKey, HandWorkedQuads) {
    double key = -1;
    const double unitSquare[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    ASSERT_TRUE(quadCandidateKey(unitSquare, &key));
    EXPECT_DOUBLE_EQ(key, 2.0);

    // Parallelogram of area 1 with edges 1, sqrt 2, 1, sqrt 2: compactness 2 * 2 / 6, flat.
    const double slanted[4][3] = {{0, 1, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}};
    ASSERT_TRUE(quadCandidateKey(slanted, &key));
    EXPECT_DOUBLE_EQ(key, 1.0 + 4.0 / 6.0);

    // A 2 x 1 rectangle: 2 * (2 + 2) / (4 + 1 + 4 + 1) = 0.8.
    const double rectangle[4][3] = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}};
    ASSERT_TRUE(quadCandidateKey(rectangle, &key));
    EXPECT_DOUBLE_EQ(key, 1.8);

    // Folded along p1-p3: p2 lifted to (1, 1, 1). Halves: |(p1-p0) x (p3-p0)| = 1 and
    // |(p2-p1) x (p3-p1)| = |(-1, -1, 1)| = sqrt 3; squared edges 1 + 2 + 2 + 1 = 6; the halves'
    // unit normals (0, 0, 1) and (-1, -1, 1) / sqrt 3 meet at cosine 1 / sqrt 3.
    const double folded[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 1}, {0, 1, 0}};
    ASSERT_TRUE(quadCandidateKey(folded, &key));
    EXPECT_NEAR(key, 2.0 * (1.0 + std::sqrt(3.0)) / 6.0 + 1.0 / std::sqrt(3.0), 1e-12);

    // A dart: the corner at p2 points inwards.
    const double dart[4][3] = {{0, 0, 0}, {4, -1, 0}, {2, 0, 0}, {0, 2, 0}};
    EXPECT_FALSE(quadCandidateKey(dart, &key));

    // Every point in one place: no edge length, compactness 1, zero normals.
    const double point[4][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    ASSERT_TRUE(quadCandidateKey(point, &key));
    EXPECT_DOUBLE_EQ(key, 1.0);
}

// ---------------------------------------------------------------------------------------------
// Single pairs

TEST_F(UnTriag3Test, SquareFromTwoTrianglesBecomesOneQuad) {
    host::PolygonObject* obj = square(doc);
    addPointUvw(*obj);
    addPointNormals(*obj);
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 1);
    ASSERT_EQ(obj->polygonCount(), 2);
    EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 1, 2, 3}));
    EXPECT_EQ(obj->polygons[1], kEmpty);
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
    // A second run finds nothing more to do.
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 1, 2, 3}));
}

// The first triangle turned so that the shared edge is each of its three edges in turn; the quad
// takes the other triangle's corner at the matching place, turned so that the shared edge is its
// diagonal a-c (the quad's triangles (a, b, c) and (a, c, d) are then the two it came from), and
// UVW and normal rows follow.
struct EdgeCase {
    host::Polygon first;
    host::Polygon quad;
};
class UnTriag3EdgeTest : public UnTriag3Test, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(UnTriag3EdgeTest, QuadCornersFollowTheSharedEdge) {
    host::PolygonObject* obj =
        makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {GetParam().first, tri(0, 2, 3)});
    addPointUvw(*obj, "first");
    addPointNormals(*obj);
    addPointUvw(*obj, "second");
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 1);
    EXPECT_EQ(obj->polygons[0], GetParam().quad);
    EXPECT_EQ(obj->polygons[1], kEmpty);
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
}

INSTANTIATE_TEST_SUITE_P(Edges, UnTriag3EdgeTest,
                         ::testing::Values(EdgeCase{tri(0, 1, 2), {0, 1, 2, 3}},    // c-a shared
                                           EdgeCase{tri(1, 2, 0), {2, 3, 0, 1}},    // b-c shared
                                           EdgeCase{tri(2, 0, 1), {2, 3, 0, 1}}));  // a-b shared

TEST_F(UnTriag3Test, DartIsNotMergedButTheConvexPairIs) {
    // Triangle (a, b, c) and its neighbour across a-b, whose far corner X makes the quad
    // (a, X, b, c). At (4, -1) the corner at b turns inwards; at (1, -1) the quad is convex.
    for (const bool dart : {true, false}) {
        host::Document local;
        const host::Vec3f x = dart ? host::Vec3f{4, -1, 0} : host::Vec3f{1, -1, 0};
        host::PolygonObject* obj = makeObject(local, {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, x}, {tri(0, 1, 2), tri(1, 0, 3)});
        ASSERT_TRUE(rebuild(obj));
        if (dart) {
            EXPECT_EQ(merged, 0);
            EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
            EXPECT_EQ(obj->polygons[1], tri(1, 0, 3));
        } else {
            EXPECT_EQ(merged, 1);
            EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 3, 1, 2}));
            EXPECT_EQ(obj->polygons[1], kEmpty);
        }
    }
}

TEST_F(UnTriag3Test, UvwSeamBlocksTheMerge) {
    // Moving one shared corner's coordinate in the second triangle: by 0.001 (or any w) it is a
    // seam; by 0.00005 it is still continuous.
    struct Case {
        int component;
        float shift;
        bool merges;
    };
    for (const Case c : {Case{0, 0.001f, false}, Case{1, -0.001f, false}, Case{2, 0.5f, false}, Case{0, 0.00005f, true},
                         Case{2, -0.00005f, true}}) {
        host::Document local;
        host::PolygonObject* obj = square(local);
        host::UVWTag* uvw = addPointUvw(*obj);
        // Polygon 1 is (0, 2, 3): its slot 1 is point 2, shared with polygon 0.
        host::Vec3f& at = uvw->data[1].b;
        (c.component == 0 ? at.x : c.component == 1 ? at.y : at.z) += c.shift;
        const host::UVWRow before = uvw->data[0];
        ASSERT_TRUE(rebuild(obj));
        EXPECT_EQ(merged, c.merges ? 1 : 0) << c.component << " " << c.shift;
        if (c.merges) {
            EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 1, 2, 3}));
            // The quad keeps its own coordinates at a, b, c and takes X's from the neighbour.
            EXPECT_EQ(uvw->data[0].a, before.a);
            EXPECT_EQ(uvw->data[0].c, before.c);
            EXPECT_EQ(uvw->data[0].d, uvwOfPoint(*obj, 3));
        } else {
            EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
            EXPECT_EQ(obj->polygons[1], tri(0, 2, 3));
            EXPECT_EQ(uvw->data[0], before);
        }
    }
}

TEST_F(UnTriag3Test, SeamInAnyUvwTagBlocksTheMerge) {
    host::PolygonObject* obj = square(doc);
    addPointUvw(*obj, "continuous");
    host::UVWTag* second = addPointUvw(*obj, "seamed");
    second->data[0].a.x += 0.25f;  // point 0, shared with polygon 1
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
}

TEST_F(UnTriag3Test, SelectionBorderBlocksTheMerge) {
    struct Case {
        std::vector<int> firstTag, secondTag;
        bool merges;
    };
    for (const Case& c : {Case{{0}, {}, false}, Case{{1}, {0, 1}, false}, Case{{0, 1}, {}, true},
                          Case{{0, 1}, {0, 1}, true}, Case{{}, {}, true}}) {
        host::Document local;
        host::PolygonObject* obj = square(local);
        host::SelectionTag* first = addPolygonSelection(*obj, c.firstTag, "first");
        host::SelectionTag* second = addPolygonSelection(*obj, c.secondTag, "second");
        const host::SelectionSet firstBefore = first->set, secondBefore = second->set;
        ASSERT_TRUE(rebuild(obj));
        EXPECT_EQ(merged, c.merges ? 1 : 0);
        EXPECT_EQ(obj->polygons[0], (c.merges ? host::Polygon{0, 1, 2, 3} : tri(0, 1, 2)));
        // The tags themselves are left alone.
        EXPECT_TRUE(first->set == firstBefore);
        EXPECT_TRUE(second->set == secondBefore);
    }
}

// ---------------------------------------------------------------------------------------------
// Order

TEST_F(UnTriag3Test, BetterPairOfThreeInARowWinsWhenItIsFound) {
    // Bottom 0 (0,0) 1 (1,0) 2 (2,0), top 3 (0,1) 4 (1,1). Polygons 0 and 1 make the unit square
    // (key 2); polygons 1 and 2 the parallelogram 3 1 2 4 (key 1 + 2/3).
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}},
                                          {tri(0, 1, 3), tri(1, 4, 3), tri(1, 2, 4)});
    addPointUvw(*obj);
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 1);
    // The square 0 1 4 3 with the shared edge 1-3 as its diagonal a-c.
    EXPECT_EQ(obj->polygons[0], (host::Polygon{1, 4, 3, 0}));
    EXPECT_EQ(obj->polygons[1], kEmpty);
    EXPECT_EQ(obj->polygons[2], tri(1, 2, 4));
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
}

TEST_F(UnTriag3Test, BetterPairOfThreeInARowWinsWhenTheWorseIsFoundFirst) {
    // Bottom 0 (0,0) 1 (1,0) 2 (2,0), top 3 (1,1) 4 (2,1). Polygons 0 and 1 make the
    // parallelogram 0 1 4 3 (key 1 + 2/3, collected first); polygons 1 and 2 the unit square 3 1 2 4.
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 1, 0}},
                                          {tri(0, 1, 3), tri(3, 1, 4), tri(1, 2, 4)});
    addPointUvw(*obj);
    addPointNormals(*obj);
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 1);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 3));
    // The square 3 1 2 4 with the shared edge 1-4 as its diagonal a-c.
    EXPECT_EQ(obj->polygons[1], (host::Polygon{1, 2, 4, 3}));
    EXPECT_EQ(obj->polygons[2], kEmpty);
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
}

// ---------------------------------------------------------------------------------------------
// A whole mesh

// A flat grid of cols x rows unit cells, each cut into two triangles along alternating diagonals;
// cell c's triangles are polygons 2c and 2c + 1.
host::PolygonObject* triangulatedGrid(host::Document& doc, int cols, int rows) {
    auto obj = testsupport::gridObject(
        "grid", cols, rows, [](int x, int y) { return host::Vec3f{static_cast<float>(x), static_cast<float>(y), 0.0f}; },
        testsupport::GridCells::AlternateCuts);
    return static_cast<host::PolygonObject*>(doc.insert(std::move(obj)));
}

// Cell c's quad as the rebuild makes it: starting at an end of the diagonal the cell was cut along
// (p00-p11 where x + y is even, p10-p01 elsewhere), so that the cut is the quad's diagonal a-c.
host::Polygon cellQuad(int cols, int cell) {
    const int x = cell % cols, y = cell / cols;
    const int p00 = y * (cols + 1) + x, p10 = p00 + 1, p01 = p00 + cols + 1, p11 = p01 + 1;
    if ((x + y) % 2 == 0) return {p00, p10, p11, p01};
    return {p10, p11, p01, p00};
}

TEST_F(UnTriag3Test, TriangulatedQuadGridBecomesQuadsAgain) {
    const int cols = 7, rows = 5;
    host::PolygonObject* obj = triangulatedGrid(doc, cols, rows);
    addPointUvw(*obj);
    addPointNormals(*obj);
    // A group over the lower rows of cells: its border runs along cell edges.
    std::vector<int> lower;
    for (int cell = 0; cell < cols * 2; ++cell) lower.push_back(2 * cell), lower.push_back(2 * cell + 1);
    host::SelectionTag* group = addPolygonSelection(*obj, lower);
    const host::SelectionSet groupBefore = group->set;

    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, cols * rows);
    for (int cell = 0; cell < cols * rows; ++cell) {
        EXPECT_EQ(obj->polygons[2 * cell], cellQuad(cols, cell)) << "cell " << cell;
        EXPECT_EQ(obj->polygons[2 * cell + 1], kEmpty) << "cell " << cell;
    }
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
    EXPECT_TRUE(group->set == groupBefore);
}

TEST_F(UnTriag3Test, SeamsAndGroupsAlongCellEdgesDoNotStopTheCells) {
    const int cols = 6, rows = 4;
    host::PolygonObject* obj = triangulatedGrid(doc, cols, rows);
    host::UVWTag* uvw = addPointUvw(*obj);
    // The cells right of x = 3 get their own island: a seam along that column of points.
    for (int cell = 0; cell < cols * rows; ++cell)
        if (cell % cols >= 3)
            for (int k = 0; k < 4; ++k) uvw->data[2 * cell].corner(k).x += 2.0f, uvw->data[2 * cell + 1].corner(k).x += 2.0f;
    std::vector<int> odd;  // a checkerboard group
    for (int cell = 0; cell < cols * rows; ++cell)
        if ((cell % cols + cell / cols) % 2 == 1) odd.push_back(2 * cell), odd.push_back(2 * cell + 1);
    addPolygonSelection(*obj, odd);
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, cols * rows);
    for (int cell = 0; cell < cols * rows; ++cell) EXPECT_EQ(obj->polygons[2 * cell], cellQuad(cols, cell));
}

TEST_F(UnTriag3Test, SeamsAndGroupsAcrossCellsKeepThoseCellsTriangles) {
    const int cols = 4, rows = 3;
    host::PolygonObject* obj = triangulatedGrid(doc, cols, rows);
    host::UVWTag* uvw = addPointUvw(*obj);
    // Cell 5: a seam between its triangles. Cell 6: only its first triangle in the group.
    for (int k = 0; k < 4; ++k) uvw->data[2 * 5 + 1].corner(k).y += 1.0f;
    addPolygonSelection(*obj, {2 * 6});
    ASSERT_TRUE(rebuild(obj));
    // Every other cell is whole again; those two triangles found no partner.
    EXPECT_EQ(merged, cols * rows - 2);
    for (int cell = 0; cell < cols * rows; ++cell) {
        if (cell == 5 || cell == 6) {
            EXPECT_EQ(obj->polygons[2 * cell].c, obj->polygons[2 * cell].d) << cell;
            EXPECT_EQ(obj->polygons[2 * cell + 1].c, obj->polygons[2 * cell + 1].d) << cell;
            EXPECT_NE(obj->polygons[2 * cell + 1], kEmpty) << cell;
        } else {
            EXPECT_EQ(obj->polygons[2 * cell], cellQuad(cols, cell)) << cell;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// What is never touched

TEST_F(UnTriag3Test, PolygonsOutsideTheSetQuadsAndEmptyPolygonsAreLeftAlone) {
    // Two squares side by side as triangle pairs (0, 1) and (2, 3); a quad (4) beside them; an
    // empty polygon (5) and a dead one (6).
    host::PolygonObject* obj = makeObject(
        doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}, {3, 0, 0}, {3, 1, 0}},
        {tri(0, 1, 2), tri(0, 2, 3), tri(1, 4, 5), tri(1, 5, 2), {4, 6, 7, 5}, kEmpty, {6, 6, 7, 7}});
    const std::vector<host::Polygon> before = obj->polygons;
    // The set holds the first pair whole, only one triangle of the second, and the quad.
    const std::vector<int> only = {0, 1, 2, 4, 5, 6};
    ASSERT_TRUE(rebuild(obj, &only));
    EXPECT_EQ(merged, 1);
    EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 1, 2, 3}));
    EXPECT_EQ(obj->polygons[1], kEmpty);
    for (int i = 2; i < obj->polygonCount(); ++i) EXPECT_EQ(obj->polygons[i], before[i]) << i;

    // Without a set the second pair merges too; the quad and the others stay as they were.
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 1);
    EXPECT_EQ(obj->polygons[2], (host::Polygon{1, 4, 5, 2}));
    EXPECT_EQ(obj->polygons[3], kEmpty);
    for (int i = 4; i < obj->polygonCount(); ++i) EXPECT_EQ(obj->polygons[i], before[i]) << i;
}

TEST_F(UnTriag3Test, TrianglesFacingOppositeWaysAreNotMerged) {
    // The second triangle runs the shared edge 0 -> 2 the same way as the first (it faces down):
    // joining them would turn one of them over.
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {tri(0, 1, 2), tri(2, 0, 3)});
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
    EXPECT_EQ(obj->polygons[1], tri(2, 0, 3));
}

TEST_F(UnTriag3Test, TwoSidedTriangleIsNotMergedWithItsBack) {
    // The same three points in both orders: the "quad" would repeat a point.
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {tri(0, 1, 2), tri(1, 0, 2)});
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
    EXPECT_EQ(obj->polygons[1], tri(1, 0, 2));
}

TEST_F(UnTriag3Test, EdgeOfThreeTrianglesIsNotMergedAcross) {
    // A fin: a third triangle stands on the diagonal 0-2 of the square.
    host::PolygonObject* obj = makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 0.5f, 1}},
                                          {tri(0, 1, 2), tri(0, 2, 3), tri(0, 2, 4)});
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
    EXPECT_EQ(obj->polygons[1], tri(0, 2, 3));
}

TEST_F(UnTriag3Test, PolygonsPointingPastThePointsAreLeftAlone) {
    host::PolygonObject* obj =
        makeObject(doc, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {tri(0, 1, 2), tri(0, 2, 9), tri(-1, 0, 2)});
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[1], tri(0, 2, 9));
    EXPECT_EQ(obj->polygons[2], tri(-1, 0, 2));
}

TEST_F(UnTriag3Test, ShortUvwTagKeepsItsPolygonsTriangles) {
    // The tag has a row for polygon 0 only: polygon 1 has no coordinates to carry over.
    host::PolygonObject* obj = square(doc);
    host::UVWTag* uvw = addPointUvw(*obj);
    uvw->data.resize(1);
    ASSERT_TRUE(rebuild(obj));
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(UnTriag3Test, NoPolygonObjectFails) {
    UnTriag3 quads;
    EXPECT_FALSE(quads.run(HostPolygonObject()));
    host::Object* group = doc.insert(std::make_unique<host::Object>(host::OBJECT_GROUP, "group"));
    EXPECT_FALSE(quads.run(HostPolygonObject(host::toHandle(group))));
    host::PolygonObject* empty = makeObject(doc, {}, {});
    EXPECT_TRUE(quads.run(view(empty)));
    EXPECT_EQ(quads.mergedCount(), 0);
}

// Rows of congruent triangles, base 1 and height 1, each row half a unit along from the last: every
// triangle can merge across either slanted side into the same parallelogram, so those merges all
// tie on their key and which of them the rebuild makes follows the heap's order for equal keys.
host::PolygonObject* slantedRows(host::Document& doc, int cols, int rows) {
    std::vector<host::Vec3f> points;
    for (int y = 0; y <= rows; ++y)
        for (int x = 0; x <= cols; ++x)
            points.push_back({static_cast<float>(x) + 0.5f * static_cast<float>(y), static_cast<float>(y), 0.0f});
    std::vector<host::Polygon> polygons;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int p = y * (cols + 1) + x, q = p + cols + 1;
            polygons.push_back(tri(p, p + 1, q));
            polygons.push_back(tri(p + 1, q + 1, q));
        }
    return makeObject(doc, points, polygons);
}

TEST_F(UnTriag3Test, TiedMergesComeOutTheSameOnAnyWorkersAndAfterARefusedSearch) {
    // Over two search blocks of triangles. One worker gives the reference; three workers, and a
    // single pass where the host refuses the blocks' lists (each allocation in turn up to the
    // first candidate record), must leave every polygon as it does.
    host::Document reference;
    host::PolygonObject* original = slantedRows(reference, 120, 140);
    addPointUvw(*original);
    auto rebuiltCopy = [&](host::Document& local) {
        auto* obj = static_cast<host::PolygonObject*>(local.insert(original->cloneAlone()));
        const bool ok = rebuild(obj);
        return ok ? obj : nullptr;
    };
    host::Document single;
    host::PolygonObject* expected = nullptr;
    {
        testsupport::OneWorker one;
        expected = rebuiltCopy(single);
    }
    ASSERT_NE(expected, nullptr);
    ASSERT_GT(merged, 10000);
    ASSERT_LT(merged, 120 * 140);  // ties went both ways: not every row's pairs could merge
    host::setWorkerThreadCount(3);
    host::Document parallel;
    host::PolygonObject* shared = rebuiltCopy(parallel);
    host::setWorkerThreadCount(0);
    ASSERT_NE(shared, nullptr);
    EXPECT_TRUE(shared->polygons == expected->polygons);

    testsupport::OneWorker one;
    int fallbacks = 0;
    for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 400u);
        console();
        host::Document local;
        auto* obj = static_cast<host::PolygonObject*>(local.insert(original->cloneAlone()));
        host::memory::failAfter(n);
        const bool ok = rebuild(obj);
        host::memory::resetFailures();
        const std::vector<std::string> faults = memoryFaults();
        if (std::find(faults.begin(), faults.end(), "NO MEMORY: UnTriag3 120") != faults.end()) break;
        if (!ok) {
            EXPECT_TRUE(obj->sameStateAs(*original)) << "allocation " << n;
            continue;
        }
        EXPECT_TRUE(obj->polygons == expected->polygons) << "allocation " << n;
        ++fallbacks;
    }
    EXPECT_GT(fallbacks, 10);
}

TEST_F(UnTriag3Test, RefusedCandidateRecordsSkipTheirMerges) {
    host::PolygonObject* obj = square(doc);
    host::memory::failMatching(UnTriag3::sourceTag, 0);
    ASSERT_TRUE(rebuild(obj));
    host::memory::resetFailures();
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(obj->polygons[0], tri(0, 1, 2));
    EXPECT_EQ(obj->polygons[1], tri(0, 2, 3));
    const std::vector<std::string> faults = memoryFaults();
    ASSERT_FALSE(faults.empty());
    EXPECT_EQ(faults.front(), "NO MEMORY: UnTriag3 120");
}

TEST_F(UnTriag3Test, EveryRefusedAllocationLeavesAWholeResult) {
    // The n-th allocation of a run fails, for every n until a run needs fewer. A failed run has
    // changed nothing; a successful one has merged only whole cells, with their rows in place.
    const int cols = 4, rows = 3;
    host::Document reference;
    host::PolygonObject* original = triangulatedGrid(reference, cols, rows);
    addPointUvw(*original);
    addPointNormals(*original);
    addPolygonSelection(*original, {0, 1, 2, 3});

    int failedRuns = 0, partialRuns = 0;
    for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 500u);
        host::Document local;
        auto* obj = static_cast<host::PolygonObject*>(local.insert(original->cloneAlone()));
        const uint64_t callsBefore = host::memory::allocationCount();
        host::memory::failAfter(n);
        const bool ok = rebuild(obj);
        host::memory::resetFailures();
        const bool failureHit = host::memory::allocationCount() - callsBefore >= n;
        if (!ok) {
            ++failedRuns;
            EXPECT_TRUE(obj->sameStateAs(*original)) << "allocation " << n;
        } else {
            int quads = 0;
            for (int cell = 0; cell < cols * rows; ++cell) {
                const host::Polygon& first = obj->polygons[2 * cell];
                if (first == cellQuad(cols, cell)) {
                    ++quads;
                    EXPECT_EQ(obj->polygons[2 * cell + 1], kEmpty) << "allocation " << n;
                } else {
                    EXPECT_EQ(first, original->polygons[2 * cell]) << "allocation " << n;
                    EXPECT_EQ(obj->polygons[2 * cell + 1], original->polygons[2 * cell + 1]) << "allocation " << n;
                }
            }
            EXPECT_EQ(quads, merged);
            EXPECT_EQ(cornersOffTheirPoints(*obj), "") << "allocation " << n;
            if (merged < cols * rows) ++partialRuns;
        }
        console();
        if (!failureHit) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(merged, cols * rows);
            break;
        }
    }
    EXPECT_GT(failedRuns, 0);
    EXPECT_GT(partialRuns, 0);
}

}  // namespace
