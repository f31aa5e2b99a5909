// The bake end to end, against geometry whose maps are known: a height field over a plane, the
// same object as high and low, rays that miss, occlusion beside a wall and under a blocked
// half-space; and its failure paths (missing input, stop requests, memory, unwritable files).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "baking/BakeSettings.h"
#include "baking/NMSampling.h"
#include "baking/NormalMapper.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakeSceneFixture;
using baketest::handle;
using baketest::uvwOf;
namespace fs = std::filesystem;
constexpr double kPi = 3.141592653589793;

// One level of the 8-bit encodings.
int encode(double c) { return int(c * 127.5 + 127.5); }

class NormalMapperTest : public BakeSceneFixture {
protected:
    // Low and high objects and where the maps go.
    void setUp(host::Object* low, host::Object* high, int w, int h) {
        s.lowObject = handle(low);
        s.lowUvw = uvwOf(low);
        s.highObject = handle(high);
        s.document = host::toHandle(&doc);
        s.width = w;
        s.height = h;
        s.normalFile.assign(path("normal.tif").c_str());
        s.occlusionFile.assign(path("occlusion.tif").c_str());
        s.displacementFile.assign(path("displacement.tif").c_str());
    }
    bool bake() {
        NormalMapper mapper;
        const bool ok = mapper.bake(s);
        stats = mapper.stats();
        return ok;
    }
    double scaleFromFile() const {
        std::ifstream in(path("displacement.txt"));
        std::stringstream text;
        text << in.rdbuf();
        const std::string t = text.str();
        const std::string prefix = "Vexlor displacement scale: ";
        EXPECT_EQ(t.compare(0, prefix.size(), prefix), 0) << t;
        return std::stod(t.substr(prefix.size()));
    }
    NormalMapperStats stats;
};

// The high object reaches a little beyond the low one on every side, so that no ray runs along
// its border.
host::Vec3 highSurfacePoint(double u, double v) {
    const double x = 1.1 * u - 0.05, y = 1.1 * v - 0.05;
    return {x, y, 0.04 * std::sin(2 * kPi * x) + 0.03 * std::cos(2 * kPi * y) + 0.01};
}

// A height field with slopes in both directions, crossing zero.
double heightAt(double x, double y) { return 0.04 * std::sin(2 * kPi * x) + 0.03 * std::cos(2 * kPi * y) + 0.01; }
double heightDx(double x, double) { return 0.04 * 2 * kPi * std::cos(2 * kPi * x); }
double heightDy(double, double y) { return -0.03 * 2 * kPi * std::sin(2 * kPi * y); }

}  // namespace

TEST_F(NormalMapperTest, HeightFieldNormalsAndDisplacement) {
    // Low: the unit plane, UV = (x, y). High: z = h(x, y) as a fine grid without smoothing tag.
    // 230 rows cross two bands of 100.
    host::Object* low = doc.insert(baketest::grid("low", 4, 4, baketest::flat));
    host::Object* high = doc.insert(baketest::grid(
        "high", 160, 160, highSurfacePoint, false));
    const int W = 40, H = 230;
    setUp(low, high, W, H);
    s.supersampling = 1;
    s.displacementOn = 1;
    ASSERT_TRUE(bake());

    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    const host::Bitmap disp = baketest::readImage(path("displacement.tif"));
    ASSERT_EQ(normal.width(), W);
    ASSERT_EQ(normal.height(), H);
    const double A = scaleFromFile();
    double maxH = 0.0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) maxH = std::max(maxH, std::fabs(heightAt(x / (W - 1.0), y / (H - 1.0))));
    EXPECT_LE(A, maxH * 1.001);
    EXPECT_GE(A, maxH * 0.95) << "the trim cuts 1% tails only";

    int worst = 0;
    // Image rows count down from v = 1.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double u = x / (W - 1.0), v = 1.0 - y / (H - 1.0);
            const double nx = -heightDx(u, v), ny = -heightDy(u, v), l = std::sqrt(nx * nx + ny * ny + 1.0);
            const int want[3] = {encode(nx / l), encode(ny / l), encode(1.0 / l)};
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(int(normal.get8(x, y, c)) - want[c]);
                worst = std::max(worst, d);
                ASSERT_LE(d, 2) << "texel " << x << "," << y << " channel " << c;
            }
            // The displacement and its scale give back h (held to the scale, as the trim holds it).
            const double h = std::clamp(heightAt(u, v), -A, A);
            const double back = ((disp.get8(x, y, 0) + 0.5) / 255.0 - 0.5) * 2.0 * A;
            ASSERT_NEAR(back, h, 2.0 * A / 255.0 + 1e-4) << "texel " << x << "," << y;
        }
    EXPECT_LE(worst, 2);
    // Across the band boundaries (layer rows 99 | 100 and 199 | 200, image rows H - 1 - those) the
    // rows change as the surface does, no more.
    for (int layerRow : {99, 199})
        for (int x = 0; x < W; x += 7) {
            const int y = H - 2 - layerRow;
            const double u = x / (W - 1.0);
            const double d0 = heightAt(u, 1.0 - y / (H - 1.0)), d1 = heightAt(u, 1.0 - (y + 1) / (H - 1.0));
            const int step = int(disp.get8(x, y + 1, 0)) - int(disp.get8(x, y, 0));
            EXPECT_NEAR(step, (d1 - d0) / (2.0 * A) * 255.0, 1.5) << x << "," << y;
        }
}

TEST_F(NormalMapperTest, DefaultSupersamplingStaysWithinTwoLevels) {
    host::Object* low = doc.insert(baketest::grid("low", 3, 3, baketest::flat));
    host::Object* high = doc.insert(baketest::grid(
        "high", 120, 120, highSurfacePoint, false));
    const int W = 48, H = 48;
    setUp(low, high, W, H);
    ASSERT_EQ(s.supersampling, 2);
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double u = x / (W - 1.0), v = 1.0 - y / (H - 1.0);
            const double nx = -heightDx(u, v), ny = -heightDy(u, v), l = std::sqrt(nx * nx + ny * ny + 1.0);
            ASSERT_NEAR(normal.get8(x, y, 0), encode(nx / l), 2) << x << "," << y;
            ASSERT_NEAR(normal.get8(x, y, 1), encode(ny / l), 2) << x << "," << y;
            ASSERT_NEAR(normal.get8(x, y, 2), encode(1.0 / l), 2) << x << "," << y;
        }
    // Five samples per texel inside the triangles: far more rays than texels.
    EXPECT_GT(stats.surfaceRays, uint64_t(4 * W * H));
}

TEST_F(NormalMapperTest, SameFlatObjectGivesTheFlatNormal) {
    host::Object* plane = doc.insert(baketest::grid("plane", 6, 6, baketest::flat));
    setUp(plane, plane, 64, 64);
    s.displacementOn = 1;
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            ASSERT_EQ(normal.get8(x, y, 0), 127) << x << "," << y;
            ASSERT_EQ(normal.get8(x, y, 1), 127) << x << "," << y;
            ASSERT_EQ(normal.get8(x, y, 2), 255) << x << "," << y;
        }
    EXPECT_EQ(scaleFromFile(), 0.0);
}

TEST_F(NormalMapperTest, SameSmoothObjectGivesTheFlatNormal) {
    // A smooth dome, low and high alike, its UVs a skewed copy of (x, y) so that the tangent frame
    // is not the world's.
    host::Object* dome = doc.insert(baketest::grid("dome", 24, 24, [](double u, double v) {
        const double x = u + 0.3 * v, y = v;
        return host::Vec3{x, y, 0.4 * std::sin(kPi * u) * std::sin(kPi * v)};
    }));
    setUp(dome, dome, 80, 80);
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    int exact = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
            ASSERT_NEAR(normal.get8(x, y, 0), 127, 1) << x << "," << y;
            ASSERT_NEAR(normal.get8(x, y, 1), 127, 1) << x << "," << y;
            ASSERT_GE(normal.get8(x, y, 2), 254) << x << "," << y;
            exact += normal.get8(x, y, 0) == 127 && normal.get8(x, y, 1) == 127 && normal.get8(x, y, 2) == 255;
        }
    // On a curved surface the blended frame is not quite orthogonal to the blended normal: most
    // texels are exact, the rest one level off.
    EXPECT_GT(exact, 80 * 80 * 3 / 4);
}

TEST_F(NormalMapperTest, MissedTexelsGetTheLowSurface) {
    // The high object covers x < 0.3, tilted: z = 0.1 + 0.2 x, normal normalise(−0.2, 0, 1), open
    // above. Rays from the rest of the plane miss it.
    host::Object* low = doc.insert(baketest::grid("low", 4, 4, baketest::flat));
    host::Object* high = doc.insert(baketest::grid(
        "high", 4, 4,
        [](double u, double v) {
            const double x = 0.5 * u - 0.2;
            return host::Vec3{x, v, 0.1 + 0.2 * x};
        },
        false));
    setUp(low, high, 32, 32);
    s.occlusionOn = 1;
    s.occlusionGrid = 3;
    s.displacementOn = 1;
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    const host::Bitmap occ = baketest::readImage(path("occlusion.tif"));
    const host::Bitmap disp = baketest::readImage(path("displacement.tif"));
    const double A = scaleFromFile();
    EXPECT_NEAR(A, 0.1 + 0.2 * 0.3, 0.01);
    const int tilted = encode(-0.2 / std::sqrt(1.04));
    ASSERT_EQ(tilted, 102);
    int hits = 0, misses = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const double u = x / 31.0;
            if (std::fabs(u - 0.3) < 0.05) continue;  // the edge of the high object
            const bool hit = u < 0.3;
            EXPECT_EQ(normal.get8(x, y, 0), hit ? tilted : 127) << x << "," << y;
            EXPECT_EQ(normal.get8(x, y, 1), 127);
            EXPECT_EQ(occ.get8(x, y, 0), 255) << x << "," << y;
            if (hit) {
                // The distance up to the tilted plane, given back through the scale.
                const double back = ((disp.get8(x, y, 0) + 0.5) / 255.0 - 0.5) * 2.0 * A;
                EXPECT_NEAR(back, 0.1 + 0.2 * u, 2.0 * A / 255.0) << x << "," << y;
                ++hits;
            } else {
                EXPECT_EQ(disp.get8(x, y, 0), 127) << "zero distance, " << x << "," << y;
                ++misses;
            }
        }
    EXPECT_GT(hits, 200);
    EXPECT_GT(misses, 500);
}

TEST_F(NormalMapperTest, OcclusionOfAnOpenPlaneAndBesideAWall) {
    // High: the plane and, along its edge x = 1, a wall 0.3 high. The low plane's texels near the
    // wall see less of the sky; each is checked against the directions that clear the wall.
    host::Object* low = doc.insert(baketest::grid("low", 4, 4, baketest::flat));
    auto high = baketest::grid("high", 8, 8, baketest::flat, false);
    const int base = high->pointCount();
    for (const host::Vec3f& p : std::vector<host::Vec3f>{{1, -1, 0}, {1, 2, 0}, {1, 2, 0.3f}, {1, -1, 0.3f}})
        high->points.push_back(p);
    high->polygons.push_back({base, base + 1, base + 2, base + 3});
    host::Object* highObject = doc.insert(std::move(high));
    const int W = 24, H = 24;
    setUp(low, highObject, W, H);
    s.normalOn = 0;
    s.occlusionOn = 1;
    s.occlusionGrid = 3;
    s.supersampling = 1;
    ASSERT_TRUE(bake());
    EXPECT_FALSE(fs::exists(path("normal.tif")));
    const host::Bitmap occ = baketest::readImage(path("occlusion.tif"));

    Stack<NMSampleDir> dirs;
    ASSERT_TRUE(makeOcclusionDirections(dirs, 3, 1.0));
    int darker = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W - 1; ++x) {
            const double px = x / (W - 1.0), py = y / (H - 1.0);
            double total = 0.0, open = 0.0;
            for (const NMSampleDir& d : dirs) {
                total += d.weight;
                bool blocked = false;
                if (d.x > 0.0) {
                    const double t = (1.0 - px) / d.x;
                    const double wy = py + t * d.y, wz = 0.00001 + t * d.z;
                    blocked = wz <= 0.3 && wy >= -1.0 && wy <= 2.0;
                }
                if (!blocked) open += d.weight;
            }
            const int want = int(open / total * 255.0);
            ASSERT_NEAR(occ.get8(x, y, 0), want, 1) << x << "," << y;
            darker += want < 255;
        }
    EXPECT_GT(darker, H * 3);
    EXPECT_GT(occ.get8(0, 5, 0), occ.get8(W - 2, 5, 0)) << "darker beside the wall";
}

TEST_F(NormalMapperTest, BlockedHalfSpaceInTheBake) {
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    setUp(plane, plane, 16, 16);
    s.normalOn = 0;
    s.occlusionOn = 1;
    s.occlusionGrid = 3;
    s.blockedHalfSpace = BAKE_BLOCK_POS_Z;
    ASSERT_TRUE(bake());
    const host::Bitmap occ = baketest::readImage(path("occlusion.tif"));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(occ.get8(x, y, 0), 120) << x << "," << y;  // 9/19 · 255
    s.blockedHalfSpace = BAKE_BLOCK_NEG_Z;
    ASSERT_TRUE(bake());
    const host::Bitmap open = baketest::readImage(path("occlusion.tif"));
    EXPECT_EQ(open.get8(7, 7, 0), 255);
}

TEST_F(NormalMapperTest, OccludersFromTheDocument) {
    // The high object alone leaves the plane open; the document also holds a roof over it.
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    doc.insert(baketest::grid(
        "roof", 2, 2, [](double u, double v) { return host::Vec3{3 * u - 1, 3 * v - 1, 0.2}; }, false));
    setUp(plane, plane, 8, 8);
    s.normalOn = 0;
    s.occlusionOn = 1;
    s.occlusionGrid = 3;
    ASSERT_TRUE(bake());
    EXPECT_EQ(baketest::readImage(path("occlusion.tif")).get8(4, 4, 0), 255);
    s.occluderMode = BAKE_OCCLUDERS_DOCUMENT;
    ASSERT_TRUE(bake());
    EXPECT_EQ(baketest::readImage(path("occlusion.tif")).get8(4, 4, 0), 0);
    s.occluderMode = BAKE_OCCLUDERS_HIERARCHY;
    ASSERT_TRUE(bake());
    EXPECT_EQ(baketest::readImage(path("occlusion.tif")).get8(4, 4, 0), 255);
}

TEST_F(NormalMapperTest, SixteenBitMaps) {
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    setUp(plane, plane, 8, 8);
    s.bitDepth = 16;
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    EXPECT_EQ(normal.bitsPerChannel(), 16);
    EXPECT_EQ(normal.get16(3, 3, 0), 32767);
    EXPECT_EQ(normal.get16(3, 3, 2), 65535);
    // A format that cannot hold 16 bits fails the bake instead of writing nothing.
    fs::remove(path("normal.tif"));
    s.fileFormat = BAKE_FORMAT_BMP;
    s.normalFile.assign(path("normal.bmp").c_str());
    EXPECT_FALSE(bake());
    EXPECT_FALSE(fs::exists(path("normal.bmp")));
}

TEST_F(NormalMapperTest, StatusTextAndSpinnerAtTheEnd) {
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    setUp(plane, plane, 8, 8);
    ASSERT_TRUE(bake());
    EXPECT_STREQ(s.statusText.text().chars(), "Writing the image files");
    EXPECT_EQ(s.spinner.load(), 0);
    EXPECT_GT(stats.candidateTexels, 64);
}

TEST_F(NormalMapperTest, MissingInputFails) {
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    setUp(plane, plane, 8, 8);
    s.lowUvw = nullptr;
    EXPECT_FALSE(bake());
    s.lowUvw = uvwOf(plane);
    s.highObject = nullptr;
    EXPECT_FALSE(bake());
    s.highObject = handle(plane);
    s.bumpFile.assign(path("no-such-bump.tif").c_str());
    EXPECT_FALSE(bake());
    EXPECT_FALSE(fs::exists(path("normal.tif")));
}

TEST_F(NormalMapperTest, StopRequestsEndTheBakeWithoutFiles) {
    host::Object* low = doc.insert(baketest::grid("low", 3, 3, baketest::flat));
    host::Object* high = doc.insert(baketest::grid(
        "high", 20, 20, highSurfacePoint, false));
    setUp(low, high, 24, 24);
    s.occlusionOn = 1;
    s.occlusionGrid = 2;
    s.displacementOn = 1;
    baketest::PollingThread probe(0);
    s.thread = &probe;
    ASSERT_TRUE(bake());
    const int64_t polls = probe.polls();
    ASSERT_GT(polls, 600);
    for (const fs::path& f : {path("normal.tif"), path("occlusion.tif"), path("displacement.tif"),
                              path("displacement.txt")})
        fs::remove(f);
    for (int64_t stopAt : {int64_t(1), int64_t(2), int64_t(5), polls / 4, polls / 2, polls - 30, polls - 1, polls}) {
        baketest::PollingThread thread(stopAt);
        s.thread = &thread;
        EXPECT_FALSE(bake()) << "stop at poll " << stopAt << " of " << polls;
        for (const char* name : {"normal.tif", "occlusion.tif", "displacement.tif", "displacement.txt"})
            EXPECT_FALSE(fs::exists(path(name))) << name << " after a stop at poll " << stopAt;
    }
    s.thread = nullptr;
}

TEST_F(NormalMapperTest, AllocationFailuresFailTheBake) {
    host::Object* low = doc.insert(baketest::grid("low", 2, 2, baketest::flat));
    host::Object* high = doc.insert(baketest::grid(
        "high", 6, 6, highSurfacePoint, false));
    setUp(low, high, 10, 110);
    s.occlusionOn = 1;
    s.occlusionGrid = 2;
    s.displacementOn = 1;
    s.occluderMode = BAKE_OCCLUDERS_HIERARCHY;
    const uint64_t before = host::memory::allocationCount();
    ASSERT_TRUE(bake());
    const uint64_t allocations = host::memory::allocationCount() - before;
    const fs::path files[] = {path("normal.tif"), path("occlusion.tif"), path("displacement.tif")};
    // Every allocation of the bake made to fail in turn: the bake fails without writing a map, or
    // (where only the occluders are short, which the bake goes on without) succeeds in full.
    int failures = 0;
    for (uint64_t n = 1; n <= allocations; ++n) {
        for (const fs::path& f : files) fs::remove(f);
        host::memory::failAfter(n);
        const bool ok = bake();
        host::memory::resetFailures();
        for (const fs::path& f : files) ASSERT_EQ(fs::exists(f), ok == 1) << "allocation " << n << " " << f;
        failures += ok == 0;
    }
    EXPECT_GT(failures, int(allocations / 2));
    console();
}

TEST_F(NormalMapperTest, UnwritableScaleFileFailsTheBake) {
    host::Object* plane = doc.insert(baketest::grid("plane", 2, 2, baketest::flat));
    setUp(plane, plane, 8, 8);
    s.normalOn = 0;
    s.displacementOn = 1;
    fs::create_directories(path("displacement.txt") / "blocked");
    EXPECT_FALSE(bake());
    EXPECT_FALSE(fs::exists(path("displacement.tif")));
}


TEST_F(NormalMapperTest, BumpImageTiltsTheHighNormal) {
    // A flat high plane with UVs and a 64 × 64 height image rising along x by 4 levels a pixel:
    // inside, gx = (8 / 255) · 4, so with strength 2 the bump normal is normalise(−0.251, 0, 1),
    // written as x = 96 and z = 251. The same ramp down the image's rows rises against v (the
    // image's first row holds v = 1), so it tilts y the other way: y = 158.
    host::Object* low = doc.insert(baketest::grid("low", 2, 2, baketest::flat));
    host::Object* high = doc.insert(baketest::grid("high", 4, 4, [](double u, double v) {
        return host::Vec3{1.2 * u - 0.1, 1.2 * v - 0.1, 0.05};
    }));
    for (int axis = 0; axis < 2; ++axis) {
        host::Bitmap heights;
        ASSERT_TRUE(heights.init(64, 64, 3, 8));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t c = uint8_t(4 * (axis == 0 ? x : y));
                heights.setPixel(x, y, c, c, c);
            }
        ASSERT_TRUE(heights.save(path("bump.tif").string()));
        setUp(low, high, 32, 32);
        s.highUvw = uvwOf(high);
        s.bumpFile.assign(path("bump.tif").c_str());
        s.bumpStrength = 2.0f;
        s.supersampling = 1;
        ASSERT_TRUE(bake());
        const host::Bitmap normal = baketest::readImage(path("normal.tif"));
        const double g = 2.0 * 4.0 * 8.0 / 255.0, l = std::sqrt(g * g + 1.0);
        for (int y = 6; y < 26; ++y)
            for (int x = 6; x < 26; ++x) {
                ASSERT_NEAR(normal.get8(x, y, axis), encode((axis == 0 ? -g : g) / l), 1) << axis << ": " << x << "," << y;
                ASSERT_NEAR(normal.get8(x, y, 1 - axis), 127, 1) << axis << ": " << x << "," << y;
                ASSERT_NEAR(normal.get8(x, y, 2), encode(1.0 / l), 1) << axis << ": " << x << "," << y;
            }
    }
}

TEST_F(NormalMapperTest, ProgressText) {
    EXPECT_STREQ(bakeProgressText(0.25, 30).chars(), "25.000% 00:01:30");
    EXPECT_STREQ(bakeProgressText(0.0, 12).chars(), "0.000% 00:00:00");
    EXPECT_STREQ(bakeProgressText(0.5, 3725).chars(), "50.000% 01:02:05");
    EXPECT_STREQ(bakeProgressText(0.123456, 0).chars(), "12.346% 00:00:00");
}

TEST_F(NormalMapperTest, AroundAnIslandEdgeFillThenDilation) {
    // The low plane's UVs cover [0.25, 0.75]² of a 64 × 64 map: texels 16 to 47 lie on the island.
    // The padding of 2 texels around each triangle gets edge-fill values (14 and 15, 48 and 49),
    // ten passes of dilation reach ten texels further (4 to 59), and the rest stays empty,
    // written as (127, 127, 127).
    auto lowObject = baketest::grid("low", 4, 4, baketest::flat);
    for (host::UVWRow& row : static_cast<host::UVWTag*>(lowObject->tag(host::TAG_UVW))->data)
        for (int c = 0; c < 4; ++c) {
            row.corner(c).x = 0.25f + 0.5f * row.corner(c).x;
            row.corner(c).y = 0.25f + 0.5f * row.corner(c).y;
        }
    host::Object* low = doc.insert(std::move(lowObject));
    host::Object* high = doc.insert(baketest::grid("high", 60, 60, highSurfacePoint, false));
    setUp(low, high, 64, 64);
    s.supersampling = 1;
    ASSERT_TRUE(bake());
    const host::Bitmap normal = baketest::readImage(path("normal.tif"));
    for (int x = 0; x < 64; ++x) {
        const bool empty = x < 4 || x > 59;
        EXPECT_EQ(normal.get8(x, 32, 2) == 127, empty) << x;
        EXPECT_EQ(normal.get8(32, x, 2) == 127, empty) << x;
    }
    // The island's own texels follow the high surface over the plane's points (x, y) = (u − 0.25) · 2.
    for (int x = 16; x <= 47; ++x) {
        const double px = (x / 63.0 - 0.25) * 2.0, py = (1.0 - 32 / 63.0 - 0.25) * 2.0;  // image row 32: v = 31 / 63
        const double nx = -heightDx(px, py), ny = -heightDy(px, py), l = std::sqrt(nx * nx + ny * ny + 1.0);
        EXPECT_NEAR(normal.get8(x, 32, 0), encode(nx / l), 2) << x;
        EXPECT_NEAR(normal.get8(x, 32, 1), encode(ny / l), 2) << x;
    }
    // Next to the island the edge fill continues the border texels' normals, and the dilation
    // spreads them outwards unchanged along a row.
    EXPECT_NEAR(normal.get8(14, 32, 0), normal.get8(16, 32, 0), 3);
    EXPECT_NEAR(normal.get8(50, 32, 0), normal.get8(47, 32, 0), 3);
    EXPECT_NEAR(normal.get8(5, 32, 0), normal.get8(14, 32, 0), 3);
}
