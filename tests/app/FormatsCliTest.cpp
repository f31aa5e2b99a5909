// The file formats from the command line: convert and info on every format, a split glTF cube that
// reduces like the OBJ cube, a level chain in one glb, maps baked as EXR and 16-bit PNG, and bad
// files refused with one line, exit code 1 and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "RunVexlor.h"
#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/formats/MeshFile.h"
#include "tests/app/LoadedFile.h"

namespace fs = std::filesystem;

namespace {

// A unit cube of six quads, each face with its own UV square (seams on every edge).
const char* kCubeObj = R"(o cube
v -1 -1 -1
v 1 -1 -1
v 1 1 -1
v -1 1 -1
v -1 -1 1
v 1 -1 1
v 1 1 1
v -1 1 1
vt 0 0
vt 0.25 0
vt 0.25 0.25
vt 0 0.25
vt 0.5 0
vt 0.75 0
vt 0.75 0.25
vt 0.5 0.25
vt 0 0.5
vt 0.25 0.5
vt 0.25 0.75
vt 0 0.75
vt 0.5 0.5
vt 0.75 0.5
vt 0.75 0.75
vt 0.5 0.75
vt 0.75 0.8
vt 1 0.8
vt 1 1
vt 0.75 1
vt 0.8 0
vt 1 0
vt 1 0.2
vt 0.8 0.2
f 1/1 4/2 3/3 2/4
f 5/5 6/6 7/7 8/8
f 1/9 2/10 6/11 5/12
f 2/13 3/14 7/15 6/16
f 3/17 4/18 8/19 7/20
f 4/21 1/22 5/23 8/24
)";

std::vector<host::PolygonObject*> polygonObjectsBelow(host::Object* root) {
    std::vector<host::PolygonObject*> out;
    if (root->isPolygonObject()) out.push_back(static_cast<host::PolygonObject*>(root));
    for (const auto& c : root->children()) {
        auto more = polygonObjectsBelow(c.get());
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

int lineCount(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

}  // namespace

TEST(VexlorFormats, ConvertAndInfoGoThroughEveryWritableFormat) {
    const std::string dir = makeTempFolder();
    writeFile(dir + "/cube.obj", kCubeObj);
    for (const char* suffix : {"glb", "gltf", "ply", "stl", "obj"}) {
        const std::string out = dir + "/c." + suffix;
        const RunResult r = runVexlor({"convert", dir + "/cube.obj", "-o", out});
        ASSERT_EQ(r.exitCode, 0) << suffix << ": " << r.err;
        EXPECT_NE(r.out.find("converted"), std::string::npos);
        const RunResult info = runVexlor({"info", out});
        ASSERT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find("points:   8\n"), std::string::npos) << suffix << ":\n" << info.out;
    }
    // The split glTF cube: 24 vertices in the file, welded to 8 points, which info reports.
    const RunResult info = runVexlor({"info", dir + "/c.glb"});
    EXPECT_NE(info.out.find("welded \"cube\": 24 vertices -> 8 points"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("(glTF binary)"), std::string::npos) << info.out;
}

TEST(VexlorFormats, TheSplitGltfCubeReducesLikeTheObjCube) {
    const std::string dir = makeTempFolder();
    writeFile(dir + "/cube.obj", kCubeObj);
    ASSERT_EQ(runVexlor({"convert", dir + "/cube.obj", "-o", dir + "/cube.glb"}).exitCode, 0);
    const RunResult a = runVexlor({"reduce", dir + "/cube.obj", "-o", dir + "/a.obj", "--points", "6"});
    const RunResult b = runVexlor({"reduce", dir + "/cube.glb", "-o", dir + "/b.obj", "--points", "6"});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    LoadedFile la = loadMeshFile(dir + "/a.obj"), lb = loadMeshFile(dir + "/b.obj");
    auto* oa = static_cast<host::PolygonObject*>(la.objects.at(0));
    auto* ob = static_cast<host::PolygonObject*>(lb.objects.at(0));
    EXPECT_EQ(oa->pointCount(), 6);
    EXPECT_EQ(ob->pointCount(), 6);
    // One surface in both: no open border appears, every edge has two polygons.
    for (host::PolygonObject* o : {oa, ob}) {
        std::map<std::pair<int, int>, int> edges;
        for (const host::Polygon& p : o->polygons) {
            const int c[4] = {p.a, p.b, p.c, p.d};
            const int n = p.isTriangle() ? 3 : 4;
            for (int k = 0; k < n; ++k) edges[{std::min(c[k], c[(k + 1) % n]), std::max(c[k], c[(k + 1) % n])}]++;
        }
        for (const auto& [e, count] : edges) EXPECT_EQ(count, 2) << o->name() << " edge " << e.first << "-" << e.second;
    }
}

TEST(VexlorFormats, ALodChainInOneGlbHoldsTheInputAndEveryLevelAsWrittenAlone) {
    const std::string dir = makeTempFolder();
    const RunResult chain = runVexlor({"lod", kSample, "-o", dir + "/chain.glb", "--levels", "50%,25%"});
    ASSERT_EQ(chain.exitCode, 0) << chain.err;
    EXPECT_NE(chain.out.find("wrote 3 levels"), std::string::npos) << chain.out;
    const RunResult alone = runVexlor({"lod", kSample, "-o", dir + "/level{n}.glb", "--levels", "50%,25%"});
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    ASSERT_EQ(runVexlor({"convert", kSample, "-o", dir + "/level0.glb"}).exitCode, 0);

    LoadedFile c = loadMeshFile(dir + "/chain.glb");
    ASSERT_EQ(c.objects.size(), 3u);
    const int expectedPoints[] = {3456, 1728, 864};
    for (int level = 0; level < 3; ++level) {
        LoadedFile a = loadMeshFile(dir + "/level" + std::to_string(level) + ".glb");
        std::vector<host::PolygonObject*> fromChain = polygonObjectsBelow(c.objects[level]);
        std::vector<host::PolygonObject*> fromAlone;
        for (host::Object* r : a.objects) {
            auto more = polygonObjectsBelow(r);
            fromAlone.insert(fromAlone.end(), more.begin(), more.end());
        }
        ASSERT_EQ(fromChain.size(), 1u);
        ASSERT_EQ(fromAlone.size(), 1u);
        EXPECT_EQ(fromChain[0]->pointCount(), expectedPoints[level]);
        EXPECT_TRUE(fromChain[0]->sameStateAs(*fromAlone[0])) << "level " << level;
    }
    const std::string bytes = readFile(dir + "/chain.glb");
    EXPECT_NE(bytes.find("MSFT_lod"), std::string::npos);
    EXPECT_NE(bytes.find("MSFT_screencoverage"), std::string::npos);
}

TEST(VexlorFormats, BadFilesAreRefusedWithOneLineExitOneAndNothingWritten) {
    const std::string dir = makeTempFolder();
    writeFile(dir + "/cube.obj", kCubeObj);
    ASSERT_EQ(runVexlor({"convert", dir + "/cube.obj", "-o", dir + "/cube.glb"}).exitCode, 0);
    const std::string glb = readFile(dir + "/cube.glb");
    writeFile(dir + "/cut.glb", glb.substr(0, glb.size() - 40));
    writeFile(dir + "/nobuf.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"gone.bin","byteLength":8}]})");
    std::string stl(80, ' ');
    stl += std::string("\x10\x27\0\0", 4) + std::string(50, '\0');  // says 10000 triangles, holds one
    writeFile(dir + "/short.stl", stl);
    writeFile(dir + "/old.fbx", "; FBX 6.1.0 project file\nFBXHeaderExtension:  {\n\tFBXVersion: 6100\n}\n");
    writeFile(dir + "/nomesh.gltf", R"({"asset":{"version":"2.0"},"scenes":[{"nodes":[]}]})");
    for (const char* name : {"cut.glb", "nobuf.gltf", "short.stl", "old.fbx", "nomesh.gltf"}) {
        const std::string in = dir + "/" + name;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"convert", in, "-o", dir + "/out.obj"},
              std::vector<std::string>{"reduce", in, "-o", dir + "/out.obj", "--ratio", "50"},
              std::vector<std::string>{"info", in}}) {
            const RunResult r = runVexlor(args);
            EXPECT_EQ(r.exitCode, 1) << args[0] << " " << name;
            EXPECT_EQ(lineCount(r.err), 1) << args[0] << " " << name << ": " << r.err;
            EXPECT_NE(r.err.find(in), std::string::npos) << r.err;
            EXPECT_FALSE(fileExists(dir + "/out.obj")) << args[0] << " " << name;
        }
    }
    // An output format we cannot write is refused before anything is read.
    const RunResult r = runVexlor({"convert", dir + "/cube.obj", "-o", dir + "/out.fbx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(".glb"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir + "/out.fbx"));
}

TEST(VexlorFormats, MapsBakeAsExrDistancesAndSixteenBitPng) {
    const std::string dir = makeTempFolder();
    // Low: the unit square at z = 0 with UVs = (x, y); high: 0.1 + 0.5 x above it.
    std::ostringstream low, high;
    low << "o plane\n";
    high << "o slope\n";
    const int n = 4;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = double(i) / n, y = double(j) / n;
            low << "v " << x << " " << y << " 0\n";
            high << "v " << (x * 1.4 - 0.2) << " " << (y * 1.4 - 0.2) << " " << 0.1 + 0.5 * (x * 1.4 - 0.2) << "\n";
        }
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) low << "vt " << double(i) / n << " " << double(j) / n << "\n";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
            low << "f " << a << "/" << a << " " << b << "/" << b << " " << c << "/" << c << " " << d << "/" << d << "\n";
            high << "f " << a << " " << b << " " << c << " " << d << "\n";
        }
    writeFile(dir + "/low.obj", low.str());
    writeFile(dir + "/high.obj", high.str());

    RunResult r = runVexlor({"bake", "--high", dir + "/high.obj", "--low", dir + "/low.obj", "--normal", dir + "/n.exr",
                             "--displacement", dir + "/d.exr", "--size", "16", "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(dir + "/d.txt"));
    host::Bitmap d, nm;
    std::string error;
    ASSERT_TRUE(d.load(dir + "/d.exr", &error)) << error;
    ASSERT_TRUE(nm.load(dir + "/n.exr", &error)) << error;
    ASSERT_TRUE(d.isFloat());
    // Texel x samples u = x / 15: the distance up to the slope is 0.1 + 0.5 u, in scene units.
    for (int x : {2, 8, 13}) {
        const double u = x / 15.0;
        EXPECT_NEAR(d.getFloat(x, 7, 0), 0.1 + 0.5 * u, 1e-5) << x;
    }
    // The normal leans against the slope: signed components, unit length.
    const float nx = nm.getFloat(8, 8, 0), ny = nm.getFloat(8, 8, 1), nz = nm.getFloat(8, 8, 2);
    EXPECT_LT(nx, -0.3f);
    EXPECT_NEAR(nx * nx + ny * ny + nz * nz, 1.0f, 1e-4);

    r = runVexlor({"bake", "--high", dir + "/high.obj", "--low", dir + "/low.obj", "--normal", dir + "/n16.png",
                   "--bits", "16", "--size", "16", "--supersampling", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    host::Bitmap p;
    ASSERT_TRUE(p.load(dir + "/n16.png", &error)) << error;
    EXPECT_EQ(p.bitsPerChannel(), 16);

    r = runVexlor({"bake", "--high", dir + "/high.obj", "--low", dir + "/low.obj", "--normal", dir + "/n.bmp",
                   "--bits", "16", "--size", "16"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("hold 8 bits"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir + "/n.bmp"));
}
