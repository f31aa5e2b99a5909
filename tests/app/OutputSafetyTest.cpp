// What the commands write and what they refuse to write: an output that is one of the inputs or
// another output is refused before any work; devices are written in place and a full one fails the
// command; links are followed; `lod` puts its levels in place only when all were written and never
// removes a file it did not make. Also the input checks of `reduce`: empty group names, targets that
// leave no polygon, polygon soups and --weld (reduce, lod and brush).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "RunVexlor.h"
#include "host/Document.h"
#include "host/ObjFile.h"
#include "tests/support/ObjGrid.h"

namespace fs = std::filesystem;

namespace {

// A flat grid of n x n quads, each point shared by its neighbours.
std::string gridText(int n) {
    return testsupport::objGridText(
        {.quads = n, .point = [](int i, int j) { return std::array<double, 3>{double(i), double(j), double((i * j) % 3)}; }});
}

// The same grid with every quad's corners written out on their own.
std::string soupText(int n) {
    std::string s;
    int next = 1;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            for (const auto& [x, y] : {std::pair{i, j}, {i + 1, j}, {i + 1, j + 1}, {i, j + 1}})
                s += "v " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string((x * y) % 3) + "\n";
            s += "f " + std::to_string(next) + " " + std::to_string(next + 1) + " " + std::to_string(next + 2) + " " +
                 std::to_string(next + 3) + "\n";
            next += 4;
        }
    return s;
}

int pointsIn(const std::string& path) {
    host::Document doc;
    std::vector<host::Object*> loaded;
    std::string error;
    EXPECT_TRUE(host::readObj(path, doc, &loaded, &error)) << error;
    return loaded.empty() ? -1 : static_cast<host::PolygonObject*>(loaded.front())->pointCount();
}

void expectFailure(const RunResult& r, const std::string& message) {
    EXPECT_NE(r.exitCode, 0) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected \"" << message << "\" in: " << r.err;
}

}  // namespace

TEST(OutputSafety, AnOutputThatIsAnInputIsRefusedBeforeAnyWork) {
    const std::string folder = makeTempFolder();
    const std::string in = folder + "/in.obj";
    writeFile(in, gridText(6));
    const std::string original = readFile(in);
    fs::create_symlink("in.obj", folder + "/alias.obj");
    fs::create_hard_link(in, folder + "/hard.obj");
    for (const std::string& out : {in, folder + "/alias.obj", folder + "/hard.obj", folder + "/./in.obj"}) {
        const RunResult r = runVexlor({"reduce", in, "-o", out, "--ratio", "50"});
        expectFailure(r, "-o " + out + " is the input file " + in);
        EXPECT_EQ(r.err.find("reducing"), std::string::npos) << "refused only after the work: " << r.err;
    }
    // A level of lod that would write over the input, or two levels writing one file.
    const std::string x1 = folder + "/x1.obj";
    writeFile(x1, gridText(4));
    const std::string x1Original = readFile(x1);
    expectFailure(runVexlor({"lod", x1, "-o", folder + "/x{n}.obj", "--levels", "50%,5"}),
                  "-o " + x1 + " is the input file " + x1);
    EXPECT_EQ(readFile(in), original);
    EXPECT_EQ(readFile(x1), x1Original);
}

TEST(OutputSafety, LevelsWritingOneFileAreRefused) {
    const std::string folder = makeTempFolder();
    const std::string in = folder + "/in.obj";
    writeFile(in, gridText(6));
    fs::create_directories(folder + "/a");
    fs::create_symlink("../shared.obj", folder + "/a/l1.obj");
    fs::create_symlink("../shared.obj", folder + "/a/l2.obj");
    expectFailure(runVexlor({"lod", in, "-o", folder + "/a/l{n}.obj", "--levels", "50%,25%"}),
                  "levels 1 and 2 would both write " + folder + "/a/l2.obj");
    EXPECT_FALSE(fs::exists(folder + "/shared.obj"));
}

TEST(OutputSafety, ALaterLevelThatFailsLeavesEveryFileAsItWas) {
    // Level 2 goes to a full device: level 1 must not have replaced (or, worse, removed) the older file.
    const std::string folder = makeTempFolder();
    const std::string in = folder + "/in.obj";
    writeFile(in, gridText(8));
    writeFile(folder + "/lod1.obj", "an older file\n");
    fs::create_symlink("/dev/full", folder + "/lod2.obj");
    const RunResult r = runVexlor({"lod", in, "-o", folder + "/lod{n}.obj", "--levels", "50%,25%,10%"});
    expectFailure(r, "no level was written");
    EXPECT_EQ(readFile(folder + "/lod1.obj"), "an older file\n");
    EXPECT_FALSE(fs::exists(folder + "/lod3.obj"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.obj", "lod1.obj", "lod2.obj"}));

    // With every level writable, all of them are put in place.
    fs::remove(folder + "/lod2.obj");
    const RunResult ok = runVexlor({"lod", in, "-o", folder + "/lod{n}.obj", "--levels", "50%,25%,10%"});
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(pointsIn(folder + "/lod1.obj"), 40);
    EXPECT_EQ(pointsIn(folder + "/lod2.obj"), 20);
    EXPECT_EQ(pointsIn(folder + "/lod3.obj"), 8);
}

TEST(OutputSafety, DevicesLinksAndModesOfOutputs) {
    const std::string folder = makeTempFolder();
    const std::string in = folder + "/in.obj";
    writeFile(in, gridText(6));
    // A full device fails the command instead of "succeeding".
    const RunResult full = runVexlor({"reduce", in, "-o", "/dev/full", "--ratio", "50"});
    expectFailure(full, "/dev/full: cannot write: " + std::string(std::strerror(ENOSPC)));
    // /dev/null takes the output and stays a device.
    EXPECT_EQ(runVexlor({"reduce", in, "-o", "/dev/null", "--ratio", "50"}).exitCode, 0);
    struct stat st{};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    // A link is followed: the file it names is replaced, the link stays.
    writeFile(folder + "/real.obj", "old\n");
    ::chmod((folder + "/real.obj").c_str(), 0600);
    fs::create_symlink("real.obj", folder + "/link.obj");
    const RunResult linked = runVexlor({"reduce", in, "-o", folder + "/link.obj", "--ratio", "50"});
    ASSERT_EQ(linked.exitCode, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(folder + "/link.obj"));
    EXPECT_EQ(pointsIn(folder + "/real.obj"), 24);
    ASSERT_EQ(::stat((folder + "/real.obj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(OutputSafety, ReduceRefusesTargetsAndGroupsThatCannotWork) {
    const std::string folder = makeTempFolder();
    const std::string out = folder + "/out.obj";
    expectFailure(runVexlor({"reduce", kSample, "-o", out, "--ratio", "50", "--group", ""}),
                  "--group needs the name of a group");
    for (const char* points : {"1", "2"})
        expectFailure(runVexlor({"reduce", kSample, "-o", out, "--points", points}),
                      std::string("--points ") + points + ": a polygon needs at least 3 points; the smallest target is 3");
    expectFailure(runVexlor({"reduce", kSample, "-o", out, "--ratio", "0.08"}),
                  "0.08 % of the 3456 points of \"torus\" keeps fewer than the 3 points of a polygon; the smallest "
                  "share is 0.0869 %");
    // A closed surface folds away before its last polygon: the target is met with no polygon left.
    expectFailure(runVexlor({"reduce", kSample, "-o", out, "--points", "3"}),
                  "the target 3 leaves no polygon of \"torus\"; give a larger target (nothing was written)");
    EXPECT_FALSE(fs::exists(out));
}

TEST(OutputSafety, APolygonSoupIsNamedAndWeldMakesItReducible) {
    const std::string folder = makeTempFolder();
    const std::string soup = folder + "/soup.obj";
    writeFile(soup, soupText(6));
    const std::string out = folder + "/out.obj";
    expectFailure(runVexlor({"reduce", soup, "-o", out, "--ratio", "50"}),
                  "\"soup\" of " + soup + " is a polygon soup: none of its 36 polygons shares a point with another");
    EXPECT_FALSE(fs::exists(out));
    // Welded, the soup is the 7 x 7 grid and reduces as the grid does.
    const RunResult welded = runVexlor({"reduce", soup, "-o", out, "--ratio", "50", "--weld"});
    ASSERT_EQ(welded.exitCode, 0) << welded.err;
    EXPECT_NE(welded.err.find("welded \"soup\": 144 -> 49 points"), std::string::npos) << welded.err;
    const std::string grid = folder + "/grid.obj";
    writeFile(grid, gridText(6));
    ASSERT_EQ(runVexlor({"reduce", grid, "-o", folder + "/grid_out.obj", "--ratio", "50"}).exitCode, 0);
    EXPECT_EQ(pointsIn(out), pointsIn(folder + "/grid_out.obj"));
    EXPECT_EQ(pointsIn(out), 24);
    // The brush refuses the soup too (a collapse would only make polygons vanish) and brushes it welded.
    const std::vector<std::string> brush = {"brush", soup, "-o", out, "--view", "front", "--size", "400x300",
                                            "--max-error", "1e12", "--stroke", "150,150 250,150"};
    fs::remove(out);
    expectFailure(runVexlor(brush), "\"soup\" of " + soup + " is a polygon soup");
    EXPECT_FALSE(fs::exists(out));
    std::vector<std::string> weldedBrush = brush;
    weldedBrush.push_back("--weld");
    const RunResult brushed = runVexlor(weldedBrush);
    ASSERT_EQ(brushed.exitCode, 0) << brushed.err;
    EXPECT_NE(brushed.err.find("vexlor brush: welded \"soup\": 144 -> 49 points"), std::string::npos) << brushed.err;
    EXPECT_NE(brushed.out.find("stroke 1: 36 -> "), std::string::npos) << brushed.out;
    EXPECT_LT(pointsIn(out), 49);
    EXPECT_GT(pointsIn(out), 0);

    // A soup whose pieces are apart stays a soup.
    writeFile(soup, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 0 0\nv 6 0 0\nv 5 1 0\nf 1 2 3\nf 4 5 6\n");
    expectFailure(runVexlor({"lod", soup, "-o", folder + "/l{n}.obj", "--levels", "50%", "--weld"}),
                  "even with --weld");
}

namespace {

// Every mesh format goes through the same safe output as OBJ: the input is never a target, a level
// chain in PLY is put in place whole or not at all, and a device without a suffix gets OBJ.
TEST(OutputSafety, EveryMeshFormatFollowsTheSameRules) {
    const std::string folder = makeTempFolder();
    const std::string in = folder + "/in.obj";
    writeFile(in, gridText(8));
    const std::string original = readFile(in);
    expectFailure(runVexlor({"convert", in, "-o", in}), "-o " + in + " is the input file " + in);
    EXPECT_EQ(readFile(in), original);

    writeFile(folder + "/lod1.ply", "an older file\n");
    fs::create_symlink("/dev/full", folder + "/lod2.ply");
    expectFailure(runVexlor({"lod", in, "-o", folder + "/lod{n}.ply", "--levels", "50%,25%"}), "no level was written");
    EXPECT_EQ(readFile(folder + "/lod1.ply"), "an older file\n");

    const RunResult toNull = runVexlor({"convert", in, "-o", "/dev/null"});
    EXPECT_EQ(toNull.exitCode, 0) << toNull.err;
    expectFailure(runVexlor({"convert", in, "-o", "/dev/full"}), "/dev/full: cannot write");
}

}  // namespace
