// Random valid meshes through `vexlor reduce`, `reduce --preview` and `lod`: grids with triangles and
// quads, flipped faces, duplicated faces, non-manifold fins, texture seams and groups. Every output
// must reload, point only at points it has, hold no degenerate polygon, and the three roads must keep
// the same points and polygons. VEXLOR_REDUCTION_FUZZ=N runs N meshes instead of the few in CI.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "RunVexlor.h"
#include "host/Document.h"
#include "host/ObjFile.h"

namespace {

std::string randomMesh(std::mt19937& rng) {
    std::uniform_int_distribution<int> side(3, 12);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int w = side(rng), h = side(rng);
    std::string s = "o random\n";
    for (int y = 0; y <= h; ++y)
        for (int x = 0; x <= w; ++x)
            s += "v " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(unit(rng) * 0.6) + "\n";
    const int gridPoints = (w + 1) * (h + 1);
    int points = gridPoints;
    // Texture coordinates: one per point, and a shifted copy for the seam's other side.
    for (int k = 0; k < 2; ++k)
        for (int y = 0; y <= h; ++y)
            for (int x = 0; x <= w; ++x)
                s += "vt " + std::to_string((x + 0.5 * k) / (w + 1)) + " " + std::to_string(y / double(h + 1)) + "\n";
    const int seamColumn = std::uniform_int_distribution<int>(0, w - 1)(rng);
    std::set<int> groupStarts;
    auto corner = [&](int x, int y, bool otherSide) {
        const int p = y * (w + 1) + x + 1;
        return std::to_string(p) + "/" + std::to_string(p + (otherSide ? gridPoints : 0));
    };
    std::string faces;
    int group = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (unit(rng) < 0.08) faces += "g part" + std::to_string(group++ % 3) + "\n";
            const bool seam = x == seamColumn;
            std::vector<std::string> c = {corner(x, y, seam), corner(x + 1, y, false), corner(x + 1, y + 1, false),
                                          corner(x, y + 1, seam)};
            if (unit(rng) < 0.1) std::swap(c[1], c[3]);  // flipped
            const double kind = unit(rng);
            std::string face;
            if (kind < 0.5) {
                face = "f " + c[0] + " " + c[1] + " " + c[2] + " " + c[3] + "\n";
            } else {
                face = "f " + c[0] + " " + c[1] + " " + c[2] + "\nf " + c[0] + " " + c[2] + " " + c[3] + "\n";
            }
            faces += face;
            if (unit(rng) < 0.03) faces += face;  // duplicated
            if (unit(rng) < 0.04) {
                // A fin: a third polygon on the edge, with a point of its own above it.
                s += "v " + std::to_string(x + 0.5) + " " + std::to_string(y) + " 2\n";
                ++points;
                faces += "f " + std::to_string(y * (w + 1) + x + 1) + " " + std::to_string(y * (w + 1) + x + 2) + " " +
                         std::to_string(points) + "\n";
            }
        }
    return s + faces;
}

struct Result {
    int points = 0, polygons = 0;
    std::string flaw;
};

Result inspect(const std::string& path) {
    host::Document doc;
    std::vector<host::Object*> loaded;
    std::string error;
    Result r;
    if (!host::readObj(path, doc, &loaded, &error)) {
        r.flaw = "does not reload: " + error;
        return r;
    }
    for (host::Object* o : loaded) {
        auto* obj = static_cast<host::PolygonObject*>(o);
        r.points += obj->pointCount();
        r.polygons += obj->polygonCount();
        for (int i = 0; i < obj->polygonCount() && r.flaw.empty(); ++i) {
            const host::Polygon& p = obj->polygons[i];
            const int c[4] = {p.a, p.b, p.c, p.d};
            const int n = p.c == p.d ? 3 : 4;
            for (int k = 0; k < 4; ++k)
                if (c[k] < 0 || c[k] >= obj->pointCount()) r.flaw = "polygon " + std::to_string(i) + " dangles";
            for (int k = 0; k < n; ++k)
                for (int m = k + 1; m < n; ++m)
                    if (c[k] == c[m]) r.flaw = "polygon " + std::to_string(i) + " is degenerate";
        }
    }
    return r;
}

}  // namespace

TEST(ReductionFuzz, RandomMeshesKeepTheirInvariantsOnEveryRoad) {
    const char* asked = std::getenv("VEXLOR_REDUCTION_FUZZ");
    const int meshes = asked ? std::atoi(asked) : 4;
    const std::string folder = makeTempFolder();
    std::mt19937 rng(20261208);
    for (int m = 0; m < meshes; ++m) {
        const std::string input = folder + "/mesh.obj";
        const std::string text = randomMesh(rng);
        writeFile(input, text);
        const std::string ratio = std::to_string(std::uniform_int_distribution<int>(20, 80)(rng));
        SCOPED_TRACE("mesh " + std::to_string(m) + " at " + ratio + " %:\n" + (text.size() < 4000 ? text : ""));
        const RunResult direct = runVexlor({"reduce", input, "-o", folder + "/direct.obj", "--ratio", ratio});
        const RunResult preview =
            runVexlor({"reduce", input, "-o", folder + "/preview.obj", "--ratio", ratio, "--preview"});
        const RunResult lod =
            runVexlor({"lod", input, "-o", folder + "/lod{n}.obj", "--levels", ratio + "%,e1000"});
        ASSERT_EQ(direct.exitCode, 0) << direct.err;
        ASSERT_EQ(preview.exitCode, 0) << preview.err;
        ASSERT_EQ(lod.exitCode, 0) << lod.err;
        const Result d = inspect(folder + "/direct.obj"), p = inspect(folder + "/preview.obj"),
                     l = inspect(folder + "/lod1.obj"), e = inspect(folder + "/lod2.obj");
        EXPECT_EQ(d.flaw, "");
        EXPECT_EQ(p.flaw, "");
        EXPECT_EQ(l.flaw, "");
        EXPECT_EQ(e.flaw, "");
        EXPECT_EQ(p.points, d.points);
        EXPECT_EQ(p.polygons, d.polygons);
        EXPECT_EQ(l.points, d.points);
        EXPECT_EQ(l.polygons, d.polygons);
        // The error level matches the direct reduction to that limit.
        const RunResult byError = runVexlor({"reduce", input, "-o", folder + "/error.obj", "--error", "1000"});
        ASSERT_EQ(byError.exitCode, 0) << byError.err;
        EXPECT_EQ(inspect(folder + "/error.obj").points, e.points);
    }
}
