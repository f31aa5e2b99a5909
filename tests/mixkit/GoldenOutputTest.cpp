// Golden output of the reduction core: a few meshes reduced with the reduction command's settings to
// several targets while recording, with a 64-bit FNV-1a digest over every output array (points,
// polygons, selections, hidden points, every tag's data) and over the recorded history (costs,
// counts, moved points, every change entry). The digests were taken from the core once its
// penalties were weighed at the size of the polygons around each candidate, its optimal points
// kept near their edge and a candidate keyed afresh when it reaches the top (outputs that every
// later speed change must keep); a change of any contraction, of its order or of a single float
// bit changes them. The digests of the second and later targets were taken again once a call that
// reaches its target put the candidate it had taken back into the heap (before, the next call never
// saw that edge); the first target's stayed as they were.
// They guard one platform and compiler: x86-64 with the project's GCC build flags, where no
// multiply-add is fused. Another compiler, architecture or -march may round differently and needs
// digests of its own, taken from a build known to be right.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mixkit/Decimator.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"
#include "tests/support/OutputDigest.h"

namespace mixtest {
namespace {

using GoldenOutputTest = MixkitTest;

using testsupport::Digest;

// `hidden`: with the hidden points (a recorded run hides each removed point; a direct one does not).
std::string objectDigest(const host::PolygonObject& obj, bool hidden = true) {
    Digest d;
    d.array(obj.points);
    d.array(obj.polygons);
    d.set(obj.pointSelection);
    d.set(obj.polygonSelection);
    if (hidden) d.set(obj.hiddenPoints);
    d.set(obj.hiddenPolygons);
    for (const auto& tag : obj.tags()) {
        d.value(tag->type());
        if (auto* u = dynamic_cast<const host::UVWTag*>(tag.get()))
            d.array(u->data);
        else if (auto* n = dynamic_cast<const host::NormalTag*>(tag.get()))
            d.array(n->data);
        else if (auto* f = dynamic_cast<const host::FloatMapTag*>(tag.get()))
            d.array(f->data);
        else if (auto* s = dynamic_cast<const host::SelectionTag*>(tag.get()))
            d.set(s->set);
    }
    return d.hex();
}

// Entry targets (a kind's slot) enter the digest as the order in which each was first seen.
std::string historyDigest(const ContractionHistory& h) {
    Digest d;
    std::map<std::pair<int32_t, int32_t>, int32_t> targets;
    d.value(h.size());
    for (int32_t r = 0; r < h.size(); ++r) {
        const ChangeRecord& rec = h.record(r);
        d.value(rec.cost);
        d.value(rec.pointCount);
        d.value(rec.point);
        d.bytes(rec.offset, sizeof rec.offset);
        d.bytes(rec.pointBits, sizeof rec.pointBits);
        d.value(rec.entryCount);
        ChangeReader entries = h.entries(r);
        ChangeEntry entry;
        while (entries.next(entry)) {
            const auto found =
                targets.emplace(std::make_pair(entry.kind, entry.slot), static_cast<int32_t>(targets.size())).first;
            d.value(entry.kind);
            d.value(entry.index);
            d.value(found->second);
            d.bytes(entry.values, sizeof entry.values);
        }
    }
    return d.hex();
}

using testsupport::commandSettings;

// Reduces the object down the targets (fractions of the reducible points) in one recorded run and
// returns, per target, "object digest/history digest".
// `afterBuild` may adjust the mesh before the decimator is set up.
std::vector<std::string> reduceAndDigest(host::PolygonObject* obj, const std::vector<double>& fractions,
                                         const std::function<void(ReductionMesh&)>& afterBuild = {}) {
    std::vector<std::string> out;
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    if (afterBuild) afterBuild(mesh);
    Decimator decimator;
    commandSettings(decimator);
    EXPECT_TRUE(mesh.startRecording());
    EXPECT_TRUE(decimator.initialise(&mesh, nullptr));
    const int32_t initial = mesh.reducibleCount();
    for (double f : fractions) {
        const int32_t target = static_cast<int32_t>(initial * f);
        EXPECT_TRUE(decimator.decimateToCount(target, false, nullptr));
        EXPECT_LE(mesh.reducibleCount(), std::max(target, 1) + 2);
        mesh.attributes().writeBackPointSets();
        out.push_back(objectDigest(*obj) + "/" + historyDigest(mesh.history()));
    }
    return out;
}

void expectDigests(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "target " << i;
}

TEST_F(GoldenOutputTest, DigestSeesASingleBit) {
    host::Document doc;
    host::PolygonObject* a = makeSphere(doc, 6, 8);
    const std::string before = objectDigest(*a);
    uint32_t bits;
    std::memcpy(&bits, &a->points[5].y, 4);
    bits ^= 1u;
    std::memcpy(&a->points[5].y, &bits, 4);
    EXPECT_NE(objectDigest(*a), before);
}

TEST_F(GoldenOutputTest, Sample) {
    host::Document doc;
    host::PolygonObject* obj = loadSample(doc);
    ASSERT_NE(obj, nullptr);
    addNormals(*obj);
    expectDigests(reduceAndDigest(obj, {0.5, 0.1, 0.01}), {
        "6995e0c0cc008bbb/9ecb556919432b6f",
        "14e27cc46ee1f7e4/0e9cb1d6fb6bd78f",
        "3bdfe01427b20b8f/af441569e5b62eb0",
    });
}

TEST_F(GoldenOutputTest, SeamGridWithEveryTag) {
    host::Document doc;
    const GridOptions o = GridOptions::withAllTags(200, 100, 83);
    host::PolygonObject* obj = makeGrid(doc, o);
    expectDigests(reduceAndDigest(obj, {0.3, 0.1, 0.01}), {
        "b86ed83325838175/ac04134d7df92407",
        "e5ddf2f665421ccb/02763e2d8ed9329f",
        "d4630687396bd4ea/b796e5b816c56780",
    });
}

TEST_F(GoldenOutputTest, TriangleSphere) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 40, 60);
    addNormals(*obj);
    expectDigests(reduceAndDigest(obj, {0.25, 0.05}), {
        "c75f9720caf9f365/3b0e433d701ff164",
        "ee5a759b66e429b3/0b66e91ff7ae9be0",
    });
}

// The penalties find the polygons shared by a candidate's ends from the corners when no polygon
// repeats a corner, and by counting over the adjacency lists otherwise. On a clean mesh both ways
// must give the same reduction, bit for bit.
TEST_F(GoldenOutputTest, CornerMarksAndListMarksAgree) {
    host::Document doc;
    const GridOptions o = GridOptions::withAllTags(40, 30, 17);
    host::PolygonObject* a = makeGrid(doc, o, "a");
    host::PolygonObject* b = makeGrid(doc, o, "b");
    bool sawRepeats = true;
    const auto byCorners = reduceAndDigest(a, {0.2, 0.02}, [&](ReductionMesh& m) { sawRepeats = m.hasRepeatedCorners(); });
    EXPECT_FALSE(sawRepeats);
    const auto byLists = reduceAndDigest(b, {0.2, 0.02}, [](ReductionMesh& m) { m.walkByLists(); });
    EXPECT_EQ(byCorners, byLists);
}

// Without a history, the corner normals are written once at the end of a run instead of at every
// contraction: the object must come out as the recorded road leaves it, bit for bit. Also where a
// vanishing triangle takes a point off the ring: fins on a grid's border, two fins sharing a tip.
TEST_F(GoldenOutputTest, AnUnrecordedRunLeavesTheSameObject) {
    auto finnedGrid = [](host::Document& doc, const std::string& name) {
        GridOptions o;
        o.columns = 40;
        o.rows = 12;
        o.uvw = false;
        host::PolygonObject* obj = makeGrid(doc, o, name);
        for (int i = 0; i + 4 <= o.columns; i += 5) {
            const int tip = static_cast<int>(obj->points.size());
            obj->points.push_back({i + 2.0f, -0.5f, 0.3f * static_cast<float>(i % 3)});
            obj->polygons.push_back({i, i + 1, tip, tip});
            obj->polygons.push_back({i + 3, i + 4, tip, tip});
        }
        obj->resize(static_cast<int>(obj->points.size()), static_cast<int>(obj->polygons.size()));
        addNormals(*obj);
        return obj;
    };
    const std::vector<std::pair<std::string, std::function<host::PolygonObject*(host::Document&, const std::string&)>>>
        meshes = {
            {"sample", [](host::Document& doc, const std::string&) {
                 host::PolygonObject* obj = loadSample(doc);
                 addNormals(*obj);
                 return obj;
             }},
            {"seam grid", [](host::Document& doc, const std::string& name) {
                 return makeGrid(doc, GridOptions::withAllTags(60, 30, 23), name);
             }},
            {"finned grid", finnedGrid},
        };
    for (const auto& [what, make] : meshes) {
        host::Document doc;
        // The same object reduced on both roads side by side, compared at each target.
        struct Road {
            host::PolygonObject* obj;
            std::unique_ptr<WholeSets> whole;
            std::unique_ptr<ModuleSet> points, polygons;  // the mesh keeps their handles
            ReductionMesh mesh;
            Decimator decimator;
        };
        Road roads[2];
        for (int r = 0; r < 2; ++r) {
            Road& road = roads[r];
            road.obj = make(doc, r == 0 ? "recorded" : "direct");
            road.whole = std::make_unique<WholeSets>(*road.obj);
            road.points = std::make_unique<ModuleSet>(road.whole->points);
            road.polygons = std::make_unique<ModuleSet>(road.whole->polygons);
            ASSERT_TRUE(road.mesh.build(view(road.obj), road.points->view(), road.polygons->view()));
            commandSettings(road.decimator);
            if (r == 0) {
                ASSERT_TRUE(road.mesh.startRecording());
            }
            ASSERT_TRUE(road.decimator.initialise(&road.mesh, nullptr));
        }
        const int32_t initial = roads[0].mesh.reducibleCount();
        for (double f : {0.5, 0.1, 0.02}) {
            for (Road& road : roads) {
                ASSERT_TRUE(road.decimator.decimateToCount(static_cast<int32_t>(initial * f), false, nullptr));
                road.mesh.attributes().writeBackPointSets();
            }
            EXPECT_EQ(objectDigest(*roads[1].obj, false), objectDigest(*roads[0].obj, false)) << what << " at " << f;
        }
    }
}

TEST_F(GoldenOutputTest, BuildNoticesARepeatedCorner) {
    host::Document doc;
    GridOptions o;
    o.columns = 6;
    o.rows = 5;
    host::PolygonObject* clean = makeGrid(doc, o, "clean");
    host::PolygonObject* odd = makeGrid(doc, o, "odd");
    // A quad that visits its first corner again at c: (a, b, a, d).
    host::Polygon& q = odd->polygons[8];
    q.c = q.a;
    for (host::PolygonObject* obj : {clean, odd}) {
        WholeSets whole(*obj);
        ModuleSet points(whole.points), polygons(whole.polygons);
        ReductionMesh mesh;
        ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        EXPECT_EQ(mesh.hasRepeatedCorners(), obj == odd) << obj->name();
        Decimator decimator;
        commandSettings(decimator);
        ASSERT_TRUE(decimator.initialise(&mesh, nullptr));
        EXPECT_TRUE(decimator.decimateToCount(mesh.reducibleCount() / 2, false, nullptr));
        mesh.release();
        EXPECT_FALSE(mesh.hasRepeatedCorners());
    }
}

}  // namespace
}  // namespace mixtest
