// `vexlor render` end to end: the renders of baked normal maps against the objects they were baked
// from (the proof that the baker's and the shader's tangent frames agree), the reduction sheet, the
// image files written, and bad input refused with a message and no image.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunVexlor.h"
#include "host/Bitmap.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = std::string(VEXLOR_SOURCE_DIR) + "/samples/";
constexpr double kPi = 3.14159265358979323846;

// A latitude-longitude sphere of radius r about (cx, cy, 0) with `around` × `rings` cells: quads, with
// triangles at the poles. With `uvs`, u runs around (0 to 1, the seam carrying both ends) and v from
// pole to pole.
std::string sphere(const std::string& name, int around, int rings, double r, bool uvs, double cx = 0, double cy = 0) {
    std::ostringstream s;
    s.precision(9);
    s << "o " << name << "\n";
    // Points: the south pole, the inner rings, the north pole.
    s << "v " << cx << " " << cy - r << " 0\n";
    for (int j = 1; j < rings; ++j) {
        const double phi = -kPi / 2 + kPi * j / rings;
        for (int i = 0; i < around; ++i) {
            const double theta = 2 * kPi * i / around;
            s << "v " << cx + r * std::cos(phi) * std::cos(theta) << " " << cy + r * std::sin(phi) << " "
              << -r * std::cos(phi) * std::sin(theta) << "\n";
        }
    }
    s << "v " << cx << " " << cy + r << " 0\n";
    if (uvs)
        for (int j = 0; j <= rings; ++j)
            for (int i = 0; i <= around; ++i) s << "vt " << double(i) / around << " " << double(j) / rings << "\n";
    const int north = 2 + (rings - 1) * around;
    auto point = [&](int i, int j) { return j == 0 ? 1 : j == rings ? north : 2 + (j - 1) * around + i % around; };
    auto uv = [&](int i, int j) { return 1 + j * (around + 1) + i; };
    auto corner = [&](int i, int j) {
        return uvs ? std::to_string(point(i, j)) + "/" + std::to_string(uv(i, j)) : std::to_string(point(i, j));
    };
    for (int j = 0; j < rings; ++j)
        for (int i = 0; i < around; ++i) {
            if (j == 0)
                s << "f " << corner(i, 0) << " " << corner(i + 1, 1) << " " << corner(i, 1) << "\n";
            else if (j == rings - 1)
                s << "f " << corner(i, j) << " " << corner(i + 1, j) << " " << corner(i, j + 1) << "\n";
            else
                s << "f " << corner(i, j) << " " << corner(i + 1, j) << " " << corner(i + 1, j + 1) << " "
                  << corner(i, j + 1) << "\n";
        }
    return s.str();
}

// The number after `label` in the output; NaN when it is not there.
double numberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return NAN;
    return std::stod(text.substr(at + label.size()));
}

struct Means {
    double withMap, without;
};

// Bakes HIGH onto LOW and compares the renders; fails the test when a step fails.
Means bakeAndCompare(const std::string& folder, const std::string& high, const std::string& low, int mapSize,
                     const std::string& size, const std::string& view) {
    const std::string map = folder + "/normal.tif";
    const RunResult bake = runVexlor({"bake", "--high", high, "--low", low, "--normal", map, "--size",
                                      std::to_string(mapSize), "--supersampling", "1"});
    EXPECT_EQ(bake.exitCode, 0) << bake.err;
    const std::string sheet = folder + "/sheet.png";
    const RunResult r = runVexlor({"render", "--compare", high, low, map, "-o", sheet, "--size", size, "--samples", "1", "--view", view});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    host::Bitmap image;
    EXPECT_TRUE(image.load(sheet)) << "the sheet was not written";
    return {numberAfter(r.out, "low with its normal map:"), numberAfter(r.out, "low without the map:")};
}

TEST(RenderCli, BakedMapOfASphereBringsTheCoarseSphereCloseToIt) {
    // A coarse sphere's smooth normals point away from its centre, and so do the normals of a fine
    // sphere about the same centre: the map of such a pair holds almost nothing but straight up. The
    // fine sphere here sits a little off the coarse one's centre, so the map has to turn the normals
    // along both texture axes; a slip of either axis's sign makes the mapped render worse than the
    // plain one.
    const std::string folder = makeTempFolder();
    writeFile(folder + "/high.obj", sphere("high", 96, 48, 1.0, false, 0.1, 0.05));
    writeFile(folder + "/low.obj", sphere("low", 12, 8, 1.0, true));
    const Means m = bakeAndCompare(folder, folder + "/high.obj", folder + "/low.obj", 128, "128x128", "front");
    ASSERT_FALSE(std::isnan(m.withMap));
    ASSERT_FALSE(std::isnan(m.without));
    EXPECT_GT(m.without, 0.0);
    EXPECT_LE(m.withMap, 0.5 * m.without) << "with the map " << m.withMap << ", without " << m.without;
}

TEST(RenderCli, BakedMapOfTheSamplesBringsTheLowObjectCloseToTheHighOne) {
    const std::string folder = makeTempFolder();
    const Means m = bakeAndCompare(folder, kSamples + "bake_high.obj", kSamples + "bake_low.obj", 256, "128x96",
                                   "perspective");
    ASSERT_FALSE(std::isnan(m.withMap));
    EXPECT_LE(m.withMap, 0.5 * m.without) << "with the map " << m.withMap << ", without " << m.without;
}

TEST(RenderCli, RendersAFileToTheSizeAndFormatAsked) {
    const std::string folder = makeTempFolder();
    for (const std::string name : {"a.png", "b.tif", "c.tiff"}) {
        const std::string out = folder + "/" + name;
        const RunResult r = runVexlor({"render", kSamples + "bake_low.obj", "-o", out, "--size", "40x30", "--view",
                                       "top", "--samples", "2", "--wireframe"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        host::Bitmap image;
        ASSERT_TRUE(image.load(out));
        EXPECT_EQ(image.width(), 40);
        EXPECT_EQ(image.height(), 30);
    }
    // The same picture through either format, byte for byte.
    host::Bitmap png, tif;
    ASSERT_TRUE(png.load(folder + "/a.png"));
    ASSERT_TRUE(tif.load(folder + "/b.tif"));
    EXPECT_TRUE(png == tif);
    // A camera given by hand, framed on another file, and a normal map on a named object.
    const RunResult bake = runVexlor({"bake", "--high", kSamples + "bake_high.obj", "--low", kSamples + "bake_low.obj",
                                      "--normal", folder + "/n.tif", "--size", "32", "--supersampling", "1"});
    ASSERT_EQ(bake.exitCode, 0) << bake.err;
    const RunResult r = runVexlor({"render", kSamples + "bake_low.obj:low", "-o", folder + "/d.png", "--size", "24x24",
                                   "--camera", "3,2,4", "0,0,0", "--normal-map", folder + "/n.tif", "--frame-on",
                                   kSamples + "bake_high.obj", "--threads", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fileExists(folder + "/d.png"));
}

TEST(RenderCli, ReductionSheetShowsBothObjectsWithTheirCounts) {
    const std::string folder = makeTempFolder();
    const std::string reduced = folder + "/reduced.obj";
    const RunResult reduce = runVexlor({"reduce", kSamples + "sample.obj", "-o", reduced, "--ratio", "25"});
    ASSERT_EQ(reduce.exitCode, 0) << reduce.err;
    // Counts of the files, read from their lines.
    auto count = [](const std::string& path, const std::string& prefix) {
        std::ifstream in(path);
        std::string line;
        int n = 0;
        while (std::getline(in, line)) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    };
    const std::string sheet = folder + "/sheet.png";
    const RunResult r = runVexlor({"render", "--compare-reduction", kSamples + "sample.obj", reduced, "-o", sheet,
                                   "--size", "80x60", "--samples", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("input:   " + std::to_string(count(kSamples + "sample.obj", "v ")) + " points, " +
                         std::to_string(count(kSamples + "sample.obj", "f ")) + " polygons"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("reduced: " + std::to_string(count(reduced, "v ")) + " points, " +
                         std::to_string(count(reduced, "f ")) + " polygons"),
              std::string::npos)
        << r.out;
    host::Bitmap image;
    ASSERT_TRUE(image.load(sheet));
    EXPECT_GT(image.width(), 160);  // two panels side by side
    EXPECT_GT(image.height(), 60);  // under their captions
}

TEST(RenderCli, BadInputIsRefusedWithAMessageAndNoImage) {
    const std::string folder = makeTempFolder();
    writeFile(folder + "/bad.png", "not a picture");
    const std::string low = kSamples + "bake_low.obj", out = folder + "/out.png";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"render", "-o", out}, "name a mesh file"},
        {{"render", low, "-o", out, "--size", "100"}, "--size 100"},
        {{"render", low, "-o", out, "--size", "4x4"}, "--size 4x4"},
        {{"render", low, "-o", folder + "/out.jpg"}, "must end in .png"},
        {{"render", low, "-o", out, "--samples", "0"}, "--samples"},
        {{"render", low, "-o", out, "--view", "below"}, "--view below"},
        {{"render", low, "-o", out, "--view", "top", "--camera", "1,2,3", "0,0,0"}, "exclude each other"},
        {{"render", low, "-o", out, "--camera", "1,2", "0,0,0"}, "--camera needs"},
        {{"render", low, "-o", out, "--camera", "1,2,3", "1,2,3"}, "same point"},
        {{"render", folder + "/missing.obj", "-o", out}, "missing.obj"},
        {{"render", low + ":nothing", "-o", out}, "no object \"nothing\""},
        {{"render", low, "-o", out, "--normal-map", folder + "/missing.tif"}, "cannot read the normal map"},
        {{"render", low, "-o", out, "--normal-map", folder + "/bad.png"}, "cannot read the normal map"},
        {{"render", low, "-o", out, "--normal-map", folder + "/bad.png", "--uv-set", "2"}, "needs set 2"},
        {{"render", low, "-o", folder + "/no/such/folder/out.png"}, "does not exist"},
        {{"render", low, "--compare", low, low, folder + "/bad.png", "-o", out}, "give either"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const RunResult r = runVexlor(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(out));
    }
}

}  // namespace
