// Shared pieces of the baker's tests: the module started against the real host table, host
// polygon objects built in code (grids over the unit square with their UVW tags), a thread whose
// break test turns true after a number of polls, and reading written images back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "baking/BakeSettings.h"
#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "sources/HostThread.h"
#include "tests/support/GridMesh.h"
#include "tests/module/ModuleTestSupport.h"

namespace baketest {

// The module initialised with the host's table and the source tree's resources.
class BakingFixture : public moduletest::ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(moduletest::kSourceFolder);
        ASSERT_EQ(moduletest::message(1), 1) << "resources of the source tree";
    }
};

// A bake's surroundings: a document, a folder for the maps, and the bake's settings. The settings
// hold host file names, so they go before the fixture counts the live handles.
class BakeSceneFixture : public BakingFixture {
protected:
    void TearDown() override {
        settings.reset();
        BakingFixture::TearDown();
    }
    moduletest::TempFolder folder;
    host::Document doc;
    std::unique_ptr<BakeSettings> settings = std::make_unique<BakeSettings>();
    BakeSettings& s = *settings;

    std::filesystem::path path(const char* name) const { return folder.path() / name; }
};

using Surface = std::function<host::Vec3(double u, double v)>;

// A grid of nx × ny quads over (u, v) in [0, 1]², placed by `surface`, with one UVW row per quad
// (corners a, b, c, d at (u, v), (u + du, v), (u + du, v + dv), (u, v + dv)). With `triangles`
// every quad is written as the two triangles (a, b, c) and (a, c, d) instead.
inline std::unique_ptr<host::PolygonObject> grid(const std::string& name, int nx, int ny, const Surface& surface,
                                                 bool withUvw = true, bool triangles = false) {
    using namespace testsupport;
    const GridCells cells = triangles ? GridCells::Triangles : GridCells::Quads;
    auto obj = gridObject(name, nx, ny, [&](int i, int j) {
        const host::Vec3 p = surface(double(i) / nx, double(j) / ny);
        return host::Vec3f{float(p.x), float(p.y), float(p.z)};
    }, cells);
    if (withUvw) addGridUvw(*obj, nx, ny, unitSquareUv(nx, ny), cells, "UVW");
    return obj;
}

// The plane z = 0 over the unit square.
inline host::Vec3 flat(double u, double v) { return {u, v, 0.0}; }

inline HstObject* handle(host::Object* o) { return host::toHandle(o); }
inline HstTag* uvwOf(host::Object* o) { return host::toHandle(o->tag(host::TAG_UVW)); }

// A module thread that is never started; its break test turns true at the `stopAt`-th poll
// (0: never). The bake's workers poll it from several threads at once.
class PollingThread : public HostThread {
public:
    explicit PollingThread(int64_t stopAt = 0) : stopAt_(stopAt) {}
    int32_t testBreak() override {
        const int64_t poll = ++polls_;
        return stopAt_ > 0 && poll >= stopAt_ ? 1 : 0;
    }
    void main() override {}
    int64_t polls() const { return polls_.load(); }

private:
    int64_t stopAt_;
    std::atomic<int64_t> polls_{0};
};

// A written image read back by the host's bitmap code; fails the test when it cannot be read.
inline host::Bitmap readImage(const std::filesystem::path& path) {
    host::Bitmap bitmap;
    std::string error;
    EXPECT_TRUE(bitmap.load(path.string(), &error)) << path << ": " << error;
    return bitmap;
}

}  // namespace baketest
