// `vexlor brush` end to end, as a user runs it: strokes coarsen the sample where they pass and leave
// a clean mesh with its groups and UVs, --undo takes drags back exactly, a stroke off the object or
// off the view changes nothing, the panel shows the options, and bad input is refused with a
// message that names the problem and without writing anything.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "RunVexlor.h"
#include "app/BrushCommandLine.h"
#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/ObjFile.h"
#include "host/Tags.h"
#include "tests/app/LoadedFile.h"

namespace {

// Over the torus's right-hand side in a front view of 400 x 300.
const std::string kStroke = "260,115 300,150 260,185";
const std::string kOtherStroke = "140,115 100,150 140,185";
// Large enough for the curved surface of the sample to be coarsened.
const std::string kCoarse = "100000";

std::vector<std::string> brush(const std::string& out, const std::vector<std::string>& more) {
    std::vector<std::string> args = {"brush", kSample, "-o", out, "--view", "front", "--size", "400x300"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

bool sameGeometry(const host::PolygonObject& a, const host::PolygonObject& b) {
    return a.points == b.points && a.polygons == b.polygons;
}

TEST(BrushCliTest, StrokeCoarsensTheSampleAndLeavesACleanMeshWithItsTags) {
    const std::string dir = makeTempFolder();
    const RunResult r =
        runVexlor(brush(dir + "/out.obj", {"--stroke", kStroke, "--snapshot", dir + "/view.png", "--max-error", kCoarse}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("stroke 1: 3456 -> "), std::string::npos) << r.out;
    LoadedFile in = loadObj(kSample), out = loadObj(dir + "/out.obj");
    host::PolygonObject& obj = out.first();
    EXPECT_LT(obj.polygonCount(), in.first().polygonCount() - 10);
    EXPECT_LT(obj.pointCount(), in.first().pointCount() - 10);
    std::vector<int> uses(obj.points.size(), 0);
    for (const host::Polygon& p : obj.polygons) {
        const int c[4] = {p.a, p.b, p.c, p.d};
        const int n = p.c == p.d ? 3 : 4;
        for (int k = 0; k < n; ++k) {
            ASSERT_TRUE(c[k] >= 0 && c[k] < obj.pointCount());
            ++uses[c[k]];
            for (int m = k + 1; m < n; ++m) EXPECT_NE(c[k], c[m]) << "degenerate polygon";
        }
    }
    for (int u : uses) EXPECT_GT(u, 0) << "a point no polygon uses";
    EXPECT_NE(obj.tag(host::TAG_UVW), nullptr);
    EXPECT_EQ(obj.tagCount(host::TAG_POLYGON_SELECTION), 2);
    // The left-hand side, away from the stroke, is untouched: its points are still there as they were.
    int kept = 0, left = 0;
    for (const host::Vec3f& p : in.first().points) {
        if (p.x > -0.5f) continue;
        ++left;
        for (const host::Vec3f& q : obj.points)
            if (q == p) {
                ++kept;
                break;
            }
    }
    EXPECT_EQ(kept, left);

    host::Bitmap snapshot;
    ASSERT_TRUE(snapshot.load(dir + "/view.png"));
    EXPECT_EQ(snapshot.width(), 400);
    EXPECT_EQ(snapshot.height(), 300);
    EXPECT_NE(snapshot.get8(270, 150, 0), snapshot.get8(2, 2, 0)) << "the torus is not in the picture";
}

TEST(BrushCliTest, UndoTakesDragsBackExactly) {
    const std::string dir = makeTempFolder();
    RunResult r = runVexlor(brush(dir + "/both.obj", {"--stroke", kStroke, "--stroke", kOtherStroke, "--undo", "2",
                                                    "--max-error", kCoarse}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("took back 2 of 2 drags"), std::string::npos) << r.out;
    LoadedFile in = loadObj(kSample), both = loadObj(dir + "/both.obj");
    EXPECT_TRUE(sameGeometry(in.first(), both.first()));

    r = runVexlor(brush(dir + "/one.obj", {"--stroke", kStroke, "--max-error", kCoarse}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runVexlor(brush(dir + "/undone.obj",
                        {"--stroke", kStroke, "--stroke", kOtherStroke, "--undo", "1", "--max-error", kCoarse}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    LoadedFile one = loadObj(dir + "/one.obj"), undone = loadObj(dir + "/undone.obj");
    EXPECT_TRUE(sameGeometry(one.first(), undone.first()));
    EXPECT_FALSE(sameGeometry(one.first(), in.first()));
}

TEST(BrushCliTest, StrokesOffTheObjectOrTheViewChangeNothing) {
    const std::string dir = makeTempFolder();
    const RunResult r = runVexlor(
        brush(dir + "/out.obj", {"--stroke", "200,150 205,150", "--stroke", "450,100 500,200", "--stroke", "5,5 20,5",
                                 "--max-error", kCoarse}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("stroke 2 leaves the view at 450,100"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("stroke 1: nothing collapsed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stroke 3: nothing collapsed"), std::string::npos) << r.out;
    LoadedFile in = loadObj(kSample), out = loadObj(dir + "/out.obj");
    EXPECT_TRUE(sameGeometry(in.first(), out.first()));
}

TEST(BrushCliTest, PanelShowsTheOptionsAsSet) {
    const std::string dir = makeTempFolder();
    const RunResult r =
        runVexlor(brush(dir + "/out.obj", {"--stroke", "5,5", "--show-panel", "--max-error", "2.5", "--max-neighbours",
                                           "7", "--no-fold-check", "--boundary-weight", "40", "--weighting", "angle"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"Weighting: Angle", "Most neighbours: 7", "[ ] Check for folds", "Boundary weight: 40",
                             "Largest error: 2.5"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
}

TEST(BrushCliTest, BadInputIsRefusedWithAMessageAndNothingWritten) {
    const std::string dir = makeTempFolder();
    writeFile(dir + "/points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string out = dir + "/out.obj";
    const Case cases[] = {
        {{"brush", dir + "/points.obj", "-o", out, "--stroke", "1,1"}, "no polygons"},
        {brush(out, {"--stroke", "10,20 30;40 50,60"}), "\"30;40\" (position 2) is not a pair x,y of numbers"},
        {brush(out, {"--stroke", "  "}), "has no position x,y"},
        {{"brush", kSample, "-o", out, "--stroke", "1,1", "--view", "sideways"}, "--view sideways is not one of"},
        {{"brush", kSample, "-o", out, "--stroke", "1,1", "--size", "400"}, "--size 400 is not WIDTHxHEIGHT"},
        {{"brush", kSample, "-o", out, "--stroke", "1,1", "--size", "10x10"}, "each side must be from 16"},
        {brush(out, {"--stroke", "1,1", "--max-neighbours", "2"}), "--max-neighbours 2 is outside 3 to"},
        {brush(out, {"--stroke", "1,1", "--max-error", "-1"}), "--max-error -1 cannot be negative"},
        {brush(out, {"--stroke", "1,1", "--weighting", "volume"}), "--weighting volume is not one of"},
        {brush(out, {"--stroke", "1,1", "--undo", "2"}), "--undo 2 is more than the 1 strokes given"},
        {brush(out, {"--stroke", "1,1", "--snapshot", dir + "/view.txt"}), "needs an image suffix"},
        {brush(dir + "/missing/out.obj", {"--stroke", "1,1"}), "does not exist"},
        {{"brush", kSample, "-o", kSample, "--stroke", "1,1"}, "-o " + kSample + " is the input file " + kSample},
    };
    for (const Case& c : cases) {
        const RunResult r = runVexlor(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(out)) << c.message;
    }
}

TEST(BrushCliTest, StrokePathFillsSegmentsEvenly) {
    const std::vector<app::StrokePoint> path = app::strokePath({{0, 0}, {5, 0}, {5, 1}}, 2.0);
    // 5 px in three parts, then 1 px in one.
    const std::vector<std::pair<double, double>> expected = {{0, 0}, {5.0 / 3, 0}, {10.0 / 3, 0}, {5, 0}, {5, 1}};
    ASSERT_EQ(path.size(), expected.size());
    for (size_t i = 0; i < path.size(); ++i) {
        EXPECT_DOUBLE_EQ(path[i].x, expected[i].first) << i;
        EXPECT_DOUBLE_EQ(path[i].y, expected[i].second) << i;
    }
    EXPECT_EQ(app::strokePath({{3, 4}}, 2.0).size(), 1u);
}

// --step is bounded: a stroke gives at most kMostStrokePositions positions, and one that would give
// more is refused with a message before any work (no exhausted memory, no count that overflows an
// int and brushes nothing with exit 0).
TEST(BrushCliTest, StepsThatWouldGiveTooManyPositionsAreRefused) {
    const std::string dir = makeTempFolder();
    const std::string out = dir + "/out.obj";
    struct Case {
        std::string stroke, step;
        std::string message;  // "" when accepted
    };
    const Case cases[] = {
        {"100,150 300,150", "1e-6", "positions; a stroke gives at most 2000000 (raise --step or shorten the stroke)"},
        {"100,150 300,150", "1e-9", "--step 1e-9: stroke 1 would give 2000000000"},
        {"100,150 300,150", "1e-300", "would give 2e+302 positions"},
        {"0,0 1e300,0 -1e300,0", "2", "would give 1.5e+300 positions"},
        {"0,0 1.7e308,0 -1.7e308,0", "2", "would give endless positions"},
        {"0,0 1000000,0", "0.5", "would give 2000001 positions"},
        {"260,115 300,150", "1,1 0,0", "--step 1,1 0,0 is not a distance"},
        {"100,150 300,150", "0", "--step 0 is not a distance in pixels above 0"},
        {"100,150 300,150", "-1", "--step -1 is not a distance in pixels above 0"},
        {"100,150 300,150", "nan", "--step nan is not a distance in pixels above 0"},
        {"260,115 300,150", "2", ""},
    };
    for (const Case& c : cases) {
        std::remove(out.c_str());
        const RunResult r = runVexlor(brush(out, {"--stroke", c.stroke, "--step", c.step}));
        if (c.message.empty()) {
            EXPECT_EQ(r.exitCode, 0) << c.step << ": " << r.err;
            EXPECT_TRUE(fileExists(out)) << c.step;
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << c.step;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.step << ": " << r.err;
        EXPECT_FALSE(fileExists(out)) << c.step;
    }
    // The count itself, and a path refused whole rather than cut.
    EXPECT_DOUBLE_EQ(app::strokePositionCount({{0, 0}, {1000000, 0}}, 0.5), 2000001.0);
    EXPECT_DOUBLE_EQ(app::strokePositionCount({{0, 0}, {999999.5, 0}}, 0.5), 2000000.0);
    EXPECT_EQ(app::strokePath({{0, 0}, {999999.5, 0}}, 0.5).size(), 2000000u);
    EXPECT_TRUE(app::strokePath({{0, 0}, {1000000, 0}}, 0.5).empty());
    EXPECT_EQ(app::strokePositionCount({{0, 0}, {1.7e308, 0}, {-1.7e308, 0}}, 2.0), INFINITY);
}

}  // namespace
