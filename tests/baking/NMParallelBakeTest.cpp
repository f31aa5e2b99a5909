// The bake on several threads: the maps must come out byte for byte the same for any number of
// workers (normal, occlusion with fixed and random directions, displacement, with and without a
// bump image), and a stop or a worker short of memory must end the bake cleanly.
#include <gtest/gtest.h>

#include <numbers>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "baking/BakeSettings.h"
#include "baking/NormalMapper.h"
#include "host/HostTable.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakeSceneFixture;
using baketest::handle;
using baketest::uvwOf;
namespace fs = std::filesystem;

const char* const kMaps[] = {"normal.tif", "occlusion.tif", "displacement.tif", "displacement.txt"};

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Low: a bent sheet of 5 × 4 quads. High: a finer, rippled sheet a little above it that leaves out
// a strip along one side (rays miss there, so the edge fill and the dilation have work), and a
// wall standing on it (occlusion with real blockers).
host::Vec3 lowPoint(double u, double v) { return {u, v, 0.15 * std::sin(std::numbers::pi * u)}; }
host::Vec3 highPoint(double u, double v) {
    const double x = 1.1 * u - 0.05, y = 0.8 * v - 0.05;
    return {x, y, 0.15 * std::sin(std::numbers::pi * x) + 0.02 * std::sin(9 * x) * std::cos(7 * y) + 0.01};
}
host::Vec3 wallPoint(double u, double v) { return {0.3 + 0.4 * u, 0.35, 0.4 * v - 0.05}; }

class NMParallelBakeTest : public BakeSceneFixture {
protected:
    void setUpScene(int w, int h) {
        host::Object* low = doc.insert(baketest::grid("low", 5, 4, lowPoint));
        host::Object* high = doc.insert(baketest::grid("high", 40, 30, highPoint, true));
        doc.insert(baketest::grid("wall", 6, 4, wallPoint, false), high);
        s.lowObject = handle(low);
        s.lowUvw = uvwOf(low);
        s.highObject = handle(high);
        s.highUvw = uvwOf(high);
        s.document = host::toHandle(&doc);
        s.width = w;
        s.height = h;
        s.normalFile.assign(path("normal.tif").c_str());
        s.occlusionFile.assign(path("occlusion.tif").c_str());
        s.displacementFile.assign(path("displacement.tif").c_str());
    }
    void removeMaps() {
        for (const char* name : kMaps) fs::remove(path(name));
    }
    // Bakes with `threads` workers; the bytes of every map written, by file name.
    std::map<std::string, std::string> bakeWith(int32_t threads, NormalMapperStats* stats = nullptr) {
        removeMaps();
        s.threads = threads;
        NormalMapper mapper;
        EXPECT_TRUE(mapper.bake(s)) << threads << " threads";
        if (stats) *stats = mapper.stats();
        std::map<std::string, std::string> out;
        for (const char* name : kMaps)
            if (fs::exists(path(name))) out[name] = bytesOf(path(name));
        return out;
    }
    void writeBump() {
        host::Bitmap heights;
        ASSERT_TRUE(heights.init(32, 32, 3, 8));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const uint8_t c = uint8_t(128 + 100 * std::sin(x * 0.7) * std::cos(y * 0.4));
                heights.setPixel(x, y, c, c, c);
            }
        ASSERT_TRUE(heights.save(path("bump.tif").string()));
    }
};

// Distinct grey levels of an 8-bit image: a map of one level would make the comparison hollow.
int distinctLevels(const fs::path& file) {
    const host::Bitmap b = baketest::readImage(file);
    std::vector<bool> seen(256, false);
    int n = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const int c = b.get8(x, y, 0);
            if (!seen[c]) ++n;
            seen[c] = true;
        }
    return n;
}

}  // namespace

TEST_F(NMParallelBakeTest, MapsAreTheSameForEveryThreadCount) {
    // 45 rows: six chunks of rows, the last one short; the low triangles span several chunks.
    setUpScene(37, 45);
    writeBump();
    struct Case {
        const char* what;
        int32_t occlusion, random, displacement, supersampling, occluders;
        bool bump;
    };
    const Case cases[] = {
        {"normal and displacement, 5 samples", 0, 0, 1, 2, BAKE_OCCLUDERS_HIGH, false},
        {"normal and displacement with bump", 0, 0, 1, 1, BAKE_OCCLUDERS_HIGH, true},
        {"fixed occlusion directions", 1, 0, 1, 1, BAKE_OCCLUDERS_HIERARCHY, false},
        {"fixed occlusion directions with bump", 1, 0, 0, 2, BAKE_OCCLUDERS_HIERARCHY, true},
        {"random occlusion directions", 1, 1, 1, 1, BAKE_OCCLUDERS_HIERARCHY, false},
        {"random occlusion directions with bump", 1, 1, 0, 2, BAKE_OCCLUDERS_DOCUMENT, true},
    };
    std::map<std::string, std::string> fixedOcclusion;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s.occlusionOn = c.occlusion;
        s.randomDirections = c.random;
        s.occlusionGrid = 2;
        s.displacementOn = c.displacement;
        s.supersampling = c.supersampling;
        s.occluderMode = c.occluders;
        s.bumpFile.assign(c.bump ? path("bump.tif").c_str() : "");
        s.bumpStrength = 1.5f;
        NormalMapperStats stats;
        const auto one = bakeWith(1, &stats);
        EXPECT_EQ(stats.threads, 1);
        ASSERT_EQ(one.count("normal.tif"), 1u);
        EXPECT_EQ(one.count("occlusion.tif"), size_t(c.occlusion));
        EXPECT_EQ(one.count("displacement.tif"), size_t(c.displacement));
        EXPECT_GT(distinctLevels(path("normal.tif")), 10);
        if (c.occlusion) {
            EXPECT_GT(distinctLevels(path("occlusion.tif")), 3);
        }
        for (int32_t threads : {2, 3, 8}) {
            const auto many = bakeWith(threads, &stats);
            EXPECT_EQ(stats.threads, threads);
            ASSERT_EQ(many.size(), one.size());
            for (const auto& [name, bytes] : one)
                EXPECT_TRUE(many.at(name) == bytes) << name << " differs with " << threads << " threads";
        }
        if (c.occlusion && !c.random && !c.bump) fixedOcclusion = one;
        if (c.occlusion && c.random && !c.bump) {
            // The random directions are really drawn (the map differs from the fixed directions').
            EXPECT_FALSE(one.at("occlusion.tif") == fixedOcclusion.at("occlusion.tif"));
        }
    }
    s.bumpFile.assign("");
}

TEST_F(NMParallelBakeTest, RandomDirectionsFollowTheSeedOfTheSettings) {
    setUpScene(24, 20);
    s.occlusionOn = 1;
    s.randomDirections = 1;
    s.occlusionGrid = 2;
    s.supersampling = 1;
    s.occluderMode = BAKE_OCCLUDERS_HIERARCHY;
    const HostApi* api = host::hostApi();
    // The same seed gives the same map; another seed another map.
    std::string maps[3];
    for (int i = 0; i < 3; ++i) {
        HstRandom* random = api->randomMake(i < 2 ? 7 : 8);
        s.random = random;
        maps[i] = bakeWith(i == 0 ? 1 : 3).at("occlusion.tif");
        api->randomDestroy(random);
    }
    s.random = nullptr;
    EXPECT_TRUE(maps[0] == maps[1]);
    EXPECT_FALSE(maps[0] == maps[2]);
}

TEST_F(NMParallelBakeTest, StopsWithSeveralThreadsWriteNothing) {
    setUpScene(32, 40);
    s.occlusionOn = 1;
    s.occlusionGrid = 2;
    s.displacementOn = 1;
    s.occluderMode = BAKE_OCCLUDERS_HIERARCHY;
    s.threads = 4;
    baketest::PollingThread probe(0);
    s.thread = &probe;
    {
        NormalMapper mapper;
        ASSERT_TRUE(mapper.bake(s));
    }
    const int64_t polls = probe.polls();
    ASSERT_GT(polls, 200);
    // Stops in the gathering, the octree builds, early and late in the texel stage, and in the
    // finishing and writing (the last few hundred polls ask once per row): the workers notice
    // within a few polls each. How many polls a bake makes varies by a few with the threads' shares
    // of the texels, so the last stop is asked well before the probe's count.
    for (int64_t stopAt : {int64_t(1), int64_t(3), polls / 8, polls / 3, polls / 2, polls * 3 / 4, polls - 60}) {
        removeMaps();
        baketest::PollingThread thread(stopAt);
        s.thread = &thread;
        NormalMapper mapper;
        EXPECT_FALSE(mapper.bake(s)) << "stop at poll " << stopAt << " of " << polls;
        EXPECT_LE(thread.polls(), stopAt + 4 * 4 + 8) << "polls after the stop at " << stopAt;
        for (const char* name : kMaps) EXPECT_FALSE(fs::exists(path(name))) << name << " after a stop at " << stopAt;
    }
    s.thread = nullptr;
}

TEST_F(NMParallelBakeTest, WorkerShortOfMemoryFailsTheBake) {
    setUpScene(24, 30);
    s.occlusionOn = 1;
    s.occlusionGrid = 2;
    s.displacementOn = 1;
    for (int32_t threads : {1, 2, 3, 8}) {
        removeMaps();
        s.threads = threads;
        const size_t blocks = host::memory::liveBlocks();
        host::memory::failMatching("NMTexelWorker", 0);
        NormalMapper mapper;
        EXPECT_FALSE(mapper.bake(s)) << threads << " threads";
        host::memory::resetFailures();
        EXPECT_EQ(host::memory::liveBlocks(), blocks) << threads << " threads";
        for (const char* name : kMaps) EXPECT_FALSE(fs::exists(path(name))) << name << ", " << threads << " threads";
        const std::vector<std::string> lines = console();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().rfind("NO MEMORY: NMTexelWorker ", 0), 0u) << lines.front();
    }
    // And one bake with memory enough succeeds with the same settings.
    removeMaps();
    NormalMapper mapper;
    EXPECT_TRUE(mapper.bake(s));
}
