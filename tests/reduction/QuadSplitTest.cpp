// The bad-quad split of the finishing step: the quad test and the corner table on hand-worked quads,
// and the split on host objects (new triangles at the end, UVW and normal rows following their
// corners, selections carried over, the polygon set respected, a refused allocation).
#include <string>
#include <vector>

#include "host/Memory.h"
#include "reduction/QuadSplit.h"
#include "sources/HostSelection.h"
#include "tests/mixkit/UnTriagTestSupport.h"

using namespace untritest;

namespace {

HostPolygon poly(int a, int b, int c, int d) { return HostPolygon{a, b, c, d}; }
bool same(const HostPolygon& p, const HostPolygon& q) { return p.a == q.a && p.b == q.b && p.c == q.c && p.d == q.d; }
std::string text(const HostPolygon& p) {
    return "(" + std::to_string(p.a) + " " + std::to_string(p.b) + " " + std::to_string(p.c) + " " +
           std::to_string(p.d) + ")";
}

// Four points given as x, y (z = 0), in slots 0..3.
std::vector<float> flat(std::initializer_list<std::pair<float, float>> xy) {
    std::vector<float> out;
    for (const auto& [x, y] : xy) out.insert(out.end(), {x, y, 0.0f});
    return out;
}

const HostPolygon kQuad = poly(0, 1, 2, 3);

// A dart whose corner at (1, 0.3) points inwards, held in slot `concaveSlot`; the others follow in
// the same cyclic order.
std::vector<float> dart(int concaveSlot) {
    const std::pair<float, float> ring[4] = {{1.0f, 0.3f}, {1.0f, 2.0f}, {0.0f, 0.0f}, {2.0f, 0.0f}};
    std::vector<float> out(12);
    for (int k = 0; k < 4; ++k) {
        const auto& p = ring[(k - concaveSlot + 4) % 4];
        out[3 * k] = p.first;
        out[3 * k + 1] = p.second;
    }
    return out;
}

TEST(QuadTest, APlanarConvexQuadIsSound) {
    const std::vector<float> square = flat({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    EXPECT_EQ(soundQuadCorners(square.data(), kQuad), 15);
    EXPECT_FALSE(isBadQuad(square.data(), kQuad));
    const std::vector<float> kite = flat({{0, 0}, {3, -1}, {4, 0}, {3, 1}});
    EXPECT_FALSE(isBadQuad(kite.data(), kQuad));
}

TEST(QuadTest, ACornerOfNearlyHalfATurnIsUnsound) {
    // At b the edges to a and c are (-1, 0) and (1, 0.01): cosine -0.99995, below -0.99. The other
    // corners make proper angles and face the quad's normal (0, 0, 2).
    const std::vector<float> q = flat({{0, 0}, {1, 0}, {2, 0.01f}, {1, 1}});
    EXPECT_EQ(soundQuadCorners(q.data(), kQuad), 1 | 4 | 8);
    EXPECT_TRUE(isBadQuad(q.data(), kQuad));
    // Bent by a fifth the corner's cosine is -0.9806, no longer below -0.99.
    const std::vector<float> bent = flat({{0, 0}, {1, 0}, {2, 0.2f}, {1, 1}});
    EXPECT_FALSE(isBadQuad(bent.data(), kQuad));
}

TEST(QuadTest, ACornerPointingInwardsIsUnsound) {
    for (int slot = 0; slot < 4; ++slot) {
        const std::vector<float> q = dart(slot);
        EXPECT_EQ(soundQuadCorners(q.data(), kQuad), 15 & ~(1 << slot)) << "concave corner in slot " << slot;
        EXPECT_TRUE(isBadQuad(q.data(), kQuad));
    }
}

TEST(QuadTest, TrianglesAndDeadPolygonsAreNeverBad) {
    const std::vector<float> q = dart(2);
    EXPECT_FALSE(isBadQuad(q.data(), poly(0, 1, 2, 2)));
    EXPECT_FALSE(isBadQuad(q.data(), poly(0, 0, 0, 0)));
}

TEST(QuadSplit, TheDiagonalEndsAtTheFirstUnsoundCorner) {
    struct Case {
        int concave;
        HostPolygon kept, added;
    };
    // The table: a unsound -> (a b c) (a c d); b -> (b c d) (b d a); c -> (c d a) (c a b); only d
    // unsound -> (d a b) (d b c).
    const Case cases[] = {{0, poly(0, 1, 2, 2), poly(0, 2, 3, 3)},
                          {1, poly(1, 2, 3, 3), poly(1, 3, 0, 0)},
                          {2, poly(2, 3, 0, 0), poly(2, 0, 1, 1)},
                          {3, poly(3, 0, 1, 1), poly(3, 1, 2, 2)}};
    for (const Case& c : cases) {
        const std::vector<float> q = dart(c.concave);
        HostPolygon kept{}, added{};
        splitQuadCorners(q.data(), kQuad, &kept, &added);
        EXPECT_TRUE(same(kept, c.kept)) << "concave " << c.concave << ": kept " << text(kept);
        EXPECT_TRUE(same(added, c.added)) << "concave " << c.concave << ": added " << text(added);
    }
    // The straight corner at b.
    const std::vector<float> straight = flat({{0, 0}, {1, 0}, {2, 0.01f}, {1, 1}});
    HostPolygon kept{}, added{};
    splitQuadCorners(straight.data(), kQuad, &kept, &added);
    EXPECT_TRUE(same(kept, poly(1, 2, 3, 3))) << text(kept);
    EXPECT_TRUE(same(added, poly(1, 3, 0, 0))) << text(added);
}

class SplitBadQuadsTest : public ModuleTest {
protected:
    // Three quads side by side: 0 a square, 1 a dart (concave at its corner c), 2 a square.
    host::PolygonObject* strip() {
        return makeObject(doc,
                          {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},          // square 0..3
                           {2, 0, 0}, {4, 0, 0}, {3, 0.3f, 0}, {3, 2, 0},       // dart 4..7
                           {5, 0, 0}, {6, 0, 0}, {6, 1, 0}, {5, 1, 0}},         // square 8..11
                          {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}});
    }
    int split(host::PolygonObject* obj, const std::vector<int>* only = nullptr) {
        if (only == nullptr) return splitBadQuads(view(obj), HostSelection());
        HostSelectionSet set;
        EXPECT_TRUE(set.make());
        for (int i : *only) set.select(i);
        return splitBadQuads(view(obj), set.view());
    }
    host::Document doc;
};

TEST_F(SplitBadQuadsTest, OnlyTheBadQuadIsCutAndTheNewTriangleGoesLast) {
    host::PolygonObject* obj = strip();
    EXPECT_EQ(split(obj), 1);
    ASSERT_EQ(obj->polygonCount(), 4);
    EXPECT_EQ(obj->polygons[0], (host::Polygon{0, 1, 2, 3}));
    EXPECT_EQ(obj->polygons[1], (host::Polygon{6, 7, 4, 4}));  // (c d a)
    EXPECT_EQ(obj->polygons[2], (host::Polygon{8, 9, 10, 11}));
    EXPECT_EQ(obj->polygons[3], (host::Polygon{6, 4, 5, 5}));  // (c a b)
    EXPECT_EQ(split(obj), 0) << "nothing left to cut";
}

TEST_F(SplitBadQuadsTest, UvwAndNormalRowsFollowTheCornersAndSelectionsCarryOver) {
    host::PolygonObject* obj = strip();
    addPointUvw(*obj, "first");
    addPointUvw(*obj, "second");
    addPointNormals(*obj);
    host::SelectionTag* withDart = addPolygonSelection(*obj, {1, 2}, "with dart");
    host::SelectionTag* without = addPolygonSelection(*obj, {0, 2}, "without");
    obj->polygonSelection.select(1);
    obj->hiddenPolygons.select(1);
    ASSERT_EQ(split(obj), 1);
    EXPECT_EQ(cornersOffTheirPoints(*obj), "");
    EXPECT_TRUE(withDart->set.isSelected(3));
    EXPECT_TRUE(withDart->set.isSelected(1));
    EXPECT_FALSE(without->set.isSelected(3));
    EXPECT_TRUE(obj->polygonSelection.isSelected(3));
    EXPECT_TRUE(obj->hiddenPolygons.isSelected(3));
    EXPECT_EQ(withDart->set.size(), 4);
}

TEST_F(SplitBadQuadsTest, PolygonsOutsideTheSetAreLeftAlone) {
    host::PolygonObject* obj = strip();
    const std::vector<int> squaresOnly = {0, 2};
    EXPECT_EQ(split(obj, &squaresOnly), 0);
    EXPECT_EQ(obj->polygonCount(), 3);
    EXPECT_EQ(obj->polygons[1], (host::Polygon{4, 5, 6, 7}));
    const std::vector<int> withDart = {1};
    EXPECT_EQ(split(obj, &withDart), 1);
    EXPECT_EQ(obj->polygonCount(), 4);
}

TEST_F(SplitBadQuadsTest, ARefusedListLeavesTheObjectAsItWas) {
    host::PolygonObject* obj = strip();
    addPointUvw(*obj);
    const std::unique_ptr<host::Object> before = obj->cloneAlone();
    host::memory::failMatching("Stack", 0);
    EXPECT_EQ(split(obj), -1);
    host::memory::resetFailures();
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_FALSE(memoryFaults().empty());
}

}  // namespace
