// `vexlor bake` end to end: maps baked from small meshes written here (whose answer is known) and
// from the bundled samples, the options reaching the dialog, every kind of bad input refused with a
// message and no files, a failed bake leaving nothing, and Ctrl-C stopping a bake.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "RunVexlor.h"
#include "host/Bitmap.h"
#include "tests/support/ObjGrid.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

// An OBJ object: a grid of n x n quads over (x, y) in [lo, hi]², at height z(x, y), with texture
// coordinates (u, v) = the position's share of the square when `uvs`. Point numbers start after
// `firstPoint` earlier points of the file (and texture coordinates likewise).
std::string gridObject(const std::string& name, int n, double lo, double hi,
                       const std::function<double(double, double)>& z, bool uvs, int firstPoint = 0) {
    return testsupport::objGridText({.quads = n,
                                     .point =
                                         [&](int i, int j) {
                                             const double x = lo + (hi - lo) * i / n, y = lo + (hi - lo) * j / n;
                                             return std::array<double, 3>{x, y, z(x, y)};
                                         },
                                     .uv = uvs ? testsupport::ObjUv::PerPoint : testsupport::ObjUv::None,
                                     .name = name,
                                     .firstPoint = firstPoint,
                                     .shortNumbers = true});
}

double flatZ(double, double) { return 0.0; }
// The high surface: a plane rising by 0.5 per unit of x, 0.1 above the low plane at x = 0.
double slopeZ(double x, double) { return 0.1 + 0.5 * x; }

class BakeCli : public ::testing::Test {
protected:
    void SetUp() override {
        folder = makeTempFolder();
        out = folder + "/out";
        fs::create_directories(out);
        high = folder + "/high.obj";
        low = folder + "/low.obj";
        writeFile(high, gridObject("slope", 6, -0.2, 1.2, slopeZ, false));
        writeFile(low, gridObject("plane", 4, 0.0, 1.0, flatZ, true));
    }
    std::vector<std::string> outFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
        return names;
    }
    // Runs a bake that must be refused: non-zero exit, `message` on stderr, nothing in out/.
    void expectRefused(const std::vector<std::string>& args, const std::string& message) {
        std::vector<std::string> all{"bake"};
        all.insert(all.end(), args.begin(), args.end());
        const RunResult r = runVexlor(all);
        EXPECT_NE(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << "expected \"" << message << "\" in: " << r.err;
        EXPECT_TRUE(outFiles().empty());
    }
    static host::Bitmap image(const std::string& path) {
        host::Bitmap b;
        std::string error;
        EXPECT_TRUE(b.load(path, &error)) << error;
        return b;
    }

    std::string folder, out, high, low;
};

TEST_F(BakeCli, BakesTheSlopesNormalOcclusionAndDisplacement) {
    const RunResult r = runVexlor({"bake", "--high", high, "--low", low, "--normal", out + "/n.tif", "--occlusion",
                                   out + "/ao.tif", "--displacement", out + "/d.tif", "--width", "32", "--height", "16",
                                   "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("normal map: " + out + "/n.tif (32 x 16)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("occlusion map: " + out + "/ao.tif (32 x 16)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scale in " + out + "/d.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("baking \"plane\" from \"slope\", 32 x 16"), std::string::npos) << r.err;

    // The slope's normal normalise(-0.5, 0, 1) in the plane's tangent space, × 127.5 + 127.5.
    const host::Bitmap normal = image(out + "/n.tif");
    ASSERT_EQ(normal.width(), 32);
    ASSERT_EQ(normal.height(), 16);
    const double s = std::sqrt(1.25);
    const int expected[3] = {int(-0.5 / s * 127.5 + 127.5), 127, int(1.0 / s * 127.5 + 127.5)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(normal.get8(x, y, k), expected[k], 1) << x << ", " << y;
    // Nothing stands above the slope: every texel is open.
    const host::Bitmap ao = image(out + "/ao.tif");
    ASSERT_EQ(ao.width(), 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(ao.get8(x, y, 0), 255) << x << ", " << y;
    // The distance to the slope grows with x.
    const host::Bitmap disp = image(out + "/d.tif");
    ASSERT_EQ(disp.width(), 32);
    for (int x = 1; x < 32; ++x) EXPECT_GT(disp.get8(x, 8, 0), disp.get8(x - 1, 8, 0)) << x;
    EXPECT_FALSE(readFile(out + "/d.txt").empty());
}

TEST_F(BakeCli, FormatFollowsTheSuffixOrTheOption) {
    RunResult r = runVexlor({"bake", "--high", high, "--low", low, "--normal", out + "/n.tga", "--size", "16",
                             "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(image(out + "/n.tga").width(), 16);
    // TGA files carry their size at byte 12 (little endian).
    const std::string tga = readFile(out + "/n.tga");
    ASSERT_GT(tga.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(tga[12]), 16);

    r = runVexlor({"bake", "--high", high, "--low", low, "--normal", out + "/plain", "--format", "bmp", "--size", "12",
                   "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bmp = readFile(out + "/plain.bmp");
    ASSERT_GT(bmp.size(), 2u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(image(out + "/plain.bmp").height(), 12);
}

TEST_F(BakeCli, AMapNamedWithoutItsSuffixGoesIntoTheAsset) {
    // The map is written with the format's suffix and the asset is made from that file: the same bake
    // into a map named in full gives the same asset.
    auto bake = [&](const std::string& normal, const std::string& asset) {
        const RunResult r = runVexlor({"bake", "--high", high, "--low", low, "--normal", normal, "--asset", asset,
                                       "--size", "16", "--supersampling", "1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    };
    EXPECT_NE(bake(out + "/n", out + "/a.glb").find("normal map: " + out + "/n.tif"), std::string::npos);
    bake(out + "/m.tif", out + "/b.glb");
    const std::string asset = readFile(out + "/a.glb");
    EXPECT_GT(asset.size(), 100u);
    EXPECT_TRUE(asset == readFile(out + "/b.glb"));
    std::vector<std::string> files = outFiles();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"a.glb", "b.glb", "m.tif", "n.tif"}));
}

TEST_F(BakeCli, ObjectsAreNamedInsideOneFileAndTheDialogCanBeShown) {
    const std::string both = folder + "/both.obj";
    // The low plane first, then the slope; point numbers run on through the file.
    writeFile(both, gridObject("plane", 4, 0.0, 1.0, flatZ, true) + gridObject("slope", 6, -0.2, 1.2, slopeZ, false, 25));
    const RunResult r = runVexlor({"bake", "--high", both + ":slope", "--low", both + ":plane", "--normal",
                                   out + "/n.tif", "--size", "20", "--supersampling", "1", "--show-dialog"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Width: 20\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Supersampling: 1 x 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File: " + out + "/n.tif\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      slope\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      UVWTag 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  [Bake]\n"), std::string::npos) << r.out;
    const host::Bitmap normal = image(out + "/n.tif");
    ASSERT_EQ(normal.width(), 20);
    EXPECT_NEAR(normal.get8(10, 10, 0), 70, 1);  // the slope, not the plane

    // Without a name a file of two objects is ambiguous.
    fs::remove(out + "/n.tif");
    expectRefused({"--high", both, "--low", both + ":plane", "--normal", out + "/n.tif"}, "several objects");
}

TEST_F(BakeCli, OcclusionOptionsReachTheBake) {
    // A level high plane under a roof loaded with --scene: only scene occluders see the roof, and
    // it closes every direction above the plane.
    const std::string level = folder + "/level.obj", roofFile = folder + "/roof.obj";
    writeFile(level, gridObject("level", 2, -0.2, 1.2, [](double, double) { return 0.1; }, false));
    writeFile(roofFile, gridObject("roof", 1, -50, 50, [](double, double) { return 3.0; }, false));
    RunResult r = runVexlor({"bake", "--high", level, "--low", low, "--occlusion", out + "/ao.tif", "--size", "16",
                             "--supersampling", "1", "--occluders", "scene", "--scene", roofFile, "--ao-grid", "2",
                             "--ao-exponent", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(out + "/n.tif")) << "the normal map was not asked for";
    host::Bitmap ao = image(out + "/ao.tif");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(ao.get8(x, y, 0), 0) << x << ", " << y;

    // The slope alone leaves every direction open; a blocked half-space closes the upper ones.
    r = runVexlor({"bake", "--high", high, "--low", low, "--occlusion", out + "/ao2.tif", "--size", "16",
                   "--supersampling", "1", "--ao-block", "+z", "--ao-random"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ao = image(out + "/ao2.tif");
    r = runVexlor({"bake", "--high", high, "--low", low, "--occlusion", out + "/ao3.tif", "--size", "16",
                   "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const host::Bitmap open = image(out + "/ao3.tif");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(open.get8(x, y, 0), 255) << x << ", " << y;
            ASSERT_LT(ao.get8(x, y, 0), 255) << x << ", " << y;
        }
}

TEST_F(BakeCli, BundledSamplesBakeADetailedNormalMap) {
    const std::string samples = std::string(VEXLOR_SOURCE_DIR) + "/samples/";
    const RunResult r = runVexlor({"bake", "--high", samples + "bake_high.obj", "--low", samples + "bake_low.obj",
                                   "--normal", out + "/n.tif", "--size", "64", "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const host::Bitmap normal = image(out + "/n.tif");
    ASSERT_EQ(normal.width(), 64);
    ASSERT_EQ(normal.height(), 64);
    // The studs tilt the normals both ways around the flat (127, 127, 255).
    int minX = 255, maxX = 0, minZ = 255;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            minX = std::min<int>(minX, normal.get8(x, y, 0));
            maxX = std::max<int>(maxX, normal.get8(x, y, 0));
            minZ = std::min<int>(minZ, normal.get8(x, y, 2));
        }
    EXPECT_LT(minX, 110);
    EXPECT_GT(maxX, 145);
    EXPECT_GT(minZ, 127) << "every normal faces out of the surface";
}

TEST_F(BakeCli, BumpImageGoesWithTheHighObjectsUvwTag) {
    // The slope with texture coordinates, and a level grey bump image: no normal bends.
    const std::string detailed = folder + "/detailed.obj";
    writeFile(detailed, gridObject("slope", 6, -0.2, 1.2, slopeZ, true));
    host::Bitmap grey;
    ASSERT_TRUE(grey.init(8, 8, 1, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) grey.setPixel(x, y, 90, 90, 90);
    ASSERT_TRUE(grey.save(folder + "/bump.tif"));
    const RunResult r = runVexlor({"bake", "--high", detailed, "--low", low, "--normal", out + "/n.tif", "--size", "16",
                                   "--supersampling", "1", "--bump", folder + "/bump.tif", "--bump-strength", "2.5",
                                   "--show-dialog"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Bump map: " + folder + "/bump.tif\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Bump strength: 250 %\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    [Choose bump map...]\n"), std::string::npos) << r.out;
    const host::Bitmap normal = image(out + "/n.tif");
    ASSERT_EQ(normal.width(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_NEAR(normal.get8(x, y, 0), 70, 1) << x << ", " << y;
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST_F(BakeCli, LowObjectWithoutUvsIsRefused) {
    expectRefused({"--high", high, "--low", high, "--normal", out + "/n.tif"}, "has no texture coordinates");
}

TEST_F(BakeCli, MissingObjectNameIsRefused) {
    expectRefused({"--high", high + ":nothing", "--low", low, "--normal", out + "/n.tif"},
                  "has no object \"nothing\" (it has \"slope\")");
}

TEST_F(BakeCli, MissingMeshFileIsRefused) {
    expectRefused({"--high", folder + "/none.obj", "--low", low, "--normal", out + "/n.tif"}, "none.obj");
}

TEST_F(BakeCli, UnreadableBumpImageIsRefused) {
    writeFile(folder + "/bump.png", "not an image at all");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--bump", folder + "/bump.png"},
                  "cannot read the bump image " + folder + "/bump.png");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--bump", folder + "/missing.tif"},
                  "cannot read the bump image");
}

TEST_F(BakeCli, BumpNeedsUvsOnTheHighObject) {
    host::Bitmap grey;
    ASSERT_TRUE(grey.init(4, 4, 1, 8));
    ASSERT_TRUE(grey.save(folder + "/bump.tif"));
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--bump", folder + "/bump.tif"},
                  "--bump needs texture coordinates (UVs) on the high object \"slope\"");
}

TEST_F(BakeCli, SizeOutsideTheRangeIsRefused) {
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--size", "9"},
                  "--size 9: the map size must be 10 to 6400 pixels");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--size", "6401"},
                  "--size 6401: the map size must be 10 to 6400 pixels");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--width", "64", "--height", "0"},
                  "--height 0: the map size must be 10 to 6400 pixels");
}

TEST_F(BakeCli, MissingOutputFolderIsRefused) {
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--occlusion", out + "/no/ao.tif"},
                  "--occlusion " + out + "/no/ao.tif: the folder " + out + "/no does not exist");
    EXPECT_FALSE(fs::exists(out + "/no"));
}

TEST_F(BakeCli, NoMapAskedForIsRefused) {
    expectRefused({"--high", high, "--low", low, "--size", "64"}, "no map asked for");
}

TEST_F(BakeCli, OptionsThatCannotApplyAreRefused) {
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--ao-grid", "4"},
                  "--ao-grid: for the occlusion map only");
    expectRefused({"--high", high, "--low", low, "--occlusion", out + "/ao.tif", "--ao-grid", "13"},
                  "--ao-grid 13 is outside 1 to 12");
    expectRefused({"--high", high, "--low", low, "--occlusion", out + "/ao.tif", "--ao-block", "up"},
                  "--ao-block up is not one of");
    expectRefused({"--high", high, "--low", low, "--occlusion", out + "/ao.tif", "--scene", high},
                  "--scene only applies with --occluders scene");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--supersampling", "9"},
                  "--supersampling 9 is outside 1 to 8");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--threads", "257"},
                  "--threads 257 is outside 1 to 256");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--threads", "-2"},
                  "--threads -2 is outside 1 to 256");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.jpg"},
                  "maps are written as .tif, .png, .exr, .tga or .bmp files");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.exr", "--bits", "8"},
                  "--bits 8: .exr maps hold 16 or 32 bits per channel");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/n.tif", "--occlusion", out + "/ao.tga"},
                  "the maps of one bake are all .tif files");
    expectRefused({"--high", high, "--low", low, "--normal", out + "/m", "--occlusion", out + "/m.tif"},
                  "--normal and --occlusion both write " + out + "/m.tif");
    // An output folder as the map's name, and the displacement's scale file a folder.
    fs::create_directories(folder + "/maps");
    expectRefused({"--high", high, "--low", low, "--normal", folder + "/maps"},
                  "--normal " + folder + "/maps is a folder; give a file name for the normal map");
    EXPECT_FALSE(fs::exists(folder + "/maps.tif"));
    fs::create_directories(folder + "/d.txt");
    expectRefused({"--high", high, "--low", low, "--displacement", out + "/../d.tif"},
                  "--displacement " + out + "/../d.tif: its scale file " + out + "/../d.txt is a folder");
}

TEST_F(BakeCli, AnOutputThatIsAnInputIsRefusedBeforeBaking) {
    // An OBJ under another suffix is still the low object's file: the displacement's scale file
    // would be written over it.
    const std::string lowText = out + "/low.txt";
    fs::copy_file(low, lowText);
    const std::string original = readFile(lowText);
    const RunResult r = runVexlor({"bake", "--high", high, "--low", lowText, "--displacement", out + "/low.tif"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("--displacement (its scale) " + out + "/low.txt is the same file as the input --low " +
                         lowText),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("baking"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(lowText), original);
    EXPECT_EQ(outFiles(), std::vector<std::string>{"low.txt"});
    // A map written over the high object's file, through a link.
    fs::remove(lowText);
    fs::create_symlink(high, folder + "/high_link.tif");
    expectRefused({"--high", high, "--low", low, "--normal", folder + "/high_link.tif"},
                  "--normal " + folder + "/high_link.tif is the same file as the input --high " + high);
}

TEST_F(BakeCli, FailedBakeLeavesNoFiles) {
    // The displacement map goes to a full device, which fails the bake after the checks: the maps
    // this bake made are taken away again, the link it was given stays.
    fs::create_symlink("/dev/full", out + "/d.tif");
    const RunResult r = runVexlor({"bake", "--high", high, "--low", low, "--normal", out + "/n.tif", "--displacement",
                                   out + "/d.tif", "--size", "16", "--supersampling", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no map was written"), std::string::npos) << r.err;
    EXPECT_EQ(outFiles(), std::vector<std::string>{"d.tif"});
    EXPECT_TRUE(fs::is_symlink(out + "/d.tif"));
}

// ---------------------------------------------------------------------------------------------
// Ctrl-C

TEST_F(BakeCli, CtrlCStopsTheBakeAndWritesNoMap) {
    const std::string samples = std::string(VEXLOR_SOURCE_DIR) + "/samples/";
    const std::string errPath = folder + "/stderr";
    const std::string program = std::string(VEXLOR_BIN_DIR) + "/vexlor";
    // Far too much work to finish: 1024 x 1024 texels of 65 samples with 581 occlusion rays each.
    std::vector<std::string> args = {program,     "bake", "--high", samples + "bake_high.obj",
                                     "--low",     samples + "bake_low.obj", "--normal", out + "/n.tif",
                                     "--occlusion", out + "/ao.tif", "--size", "1024", "--supersampling", "8",
                                     "--ao-grid", "12"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Once the bake is under way (the front end then handles Ctrl-C), interrupt it.
    const auto start = std::chrono::steady_clock::now();
    while (readFile(errPath).find("Ctrl-C stops") == std::string::npos &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(120))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(readFile(errPath).find("Ctrl-C stops"), std::string::npos) << readFile(errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(pid, SIGINT), 0);

    int status = 0;
    bool ended = false;
    for (int i = 0; i < 600 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the bake did not stop: " << readFile(errPath);
    }
    ASSERT_TRUE(WIFEXITED(status)) << readFile(errPath);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(readFile(errPath).find("stopped; no map was written"), std::string::npos) << readFile(errPath);
    EXPECT_TRUE(outFiles().empty());
}

}  // namespace

TEST_F(BakeCli, ThreadCountDoesNotChangeTheMaps) {
    // Random occlusion directions included: every thread count writes the same bytes.
    auto bakeWith = [&](const std::string& threads) {
        const RunResult r = runVexlor({"bake", "--high", high, "--low", low, "--normal", out + "/n" + threads + ".tif",
                                       "--occlusion", out + "/ao" + threads + ".tif", "--ao-random", "--displacement",
                                       out + "/d" + threads + ".tif", "--size", "40", "--supersampling", "2",
                                       "--threads", threads});
        EXPECT_EQ(r.exitCode, 0) << r.err;
    };
    auto bytes = [&](const std::string& name) {
        std::ifstream in(out + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const char* threads : {"1", "3"}) bakeWith(threads);
    for (const char* map : {"n", "ao", "d"}) {
        const std::string one = bytes(std::string(map) + "1.tif");
        EXPECT_GT(one.size(), 100u) << map << ": no image written";
        EXPECT_TRUE(one == bytes(std::string(map) + "3.tif")) << map << " differs between 1 and 3 threads";
    }
}
