// The history recorder: one exact entry per edit that changed something, nothing for edits that did
// not or while not recording, the record closed with its counts, and a lost entry stopping the
// reduction. Also the attribute lists following tag data that the object moved.
#include <cstring>
#include <vector>

#include "mixkit/HistoryRecorder.h"
#include "mixkit/ReductionMesh.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/GridMesh.h"

namespace mixtest {
namespace {

using HistoryRecorderTest = MixkitTest;

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// One of each edit, some of which change nothing; what a recording recorder makes of them.
void makeEdits(HistoryRecorder& r) {
    r.begin();
    r.pointMoved(9, Vector{1, 2, 3}, FloatVector{1, 1, 1}, FloatVector{1, 1, 2});
    r.polygonChanged(2, HostPolygon{1, 2, 3, 3}, HostPolygon{1, 2, 3, 3});  // the same: nothing
    r.polygonChanged(2, HostPolygon{1, 4, 3, 3}, HostPolygon{1, 2, 3, 3});
    r.floatChanged(0, 5, 1.5f, 1.5f);  // the same bits: nothing
    r.floatChanged(0, 5, 0.0f, -0.0f);  // equal values, other bits: kept
    r.membershipChanged(HISTORY_POINT_SETS, 7, true, true);  // nothing
    r.membershipChanged(HISTORY_POINT_SETS, 7, false, true);
    r.membershipChanged(HISTORY_HIDDEN_POINTS, 8, true, false);
    NormalRecord n0{}, n1{};
    n1.v[4] = -2;  // 0xfffe
    r.normalsChanged(3, n0, n1);
    UvwRecord u0{}, u1{};
    u0.corner[1].y = 0.25f;
    u1.corner[1].y = 0.5f;
    r.uvwChanged(0, 4, u0, u1);
    r.close(HostPolygonObject(), 41, 2.5, 1.5);
}

TEST_F(HistoryRecorderTest, EveryChangeBecomesOneExactEntry) {
    host::Document doc;
    GridOptions o;
    o.columns = 4;
    o.rows = 3;
    o.uvw = true;
    o.pointSelection = true;
    o.floatMap = true;
    host::PolygonObject* obj = makeGrid(doc, o);
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));

    // Not recording: every call is a flag test, nothing is kept.
    HistoryRecorder idle;
    makeEdits(idle);
    EXPECT_FALSE(idle.recording());
    EXPECT_FALSE(idle.failed());
    EXPECT_EQ(idle.history().size(), 0);
    EXPECT_EQ(idle.history().currentEntryCount(), 0);

    HistoryRecorder r;
    ASSERT_TRUE(r.start(mesh.reducibleCount(), 1, 1, 1, HostSelection()));
    EXPECT_TRUE(r.recording());
    EXPECT_EQ(r.history().initialCount, 20);
    ASSERT_TRUE(r.reserve(16));
    makeEdits(r);
    EXPECT_FALSE(r.failed());
    const ContractionHistory& h = r.history();
    ASSERT_EQ(h.size(), 1);
    EXPECT_EQ(h.cursor, 0);
    EXPECT_EQ(h.currentCount, 41);
    const ChangeRecord& rec = h.record(0);
    EXPECT_EQ(rec.cost, 2.5);
    EXPECT_EQ(rec.error, 1.5);
    EXPECT_EQ(rec.pointCount, 41);
    EXPECT_EQ(rec.point, 9);
    EXPECT_EQ(rec.offset[2], 3.0f);
    EXPECT_EQ(rec.pointBits[0], 0u);
    EXPECT_EQ(rec.pointBits[2], bits(1.0f) ^ bits(2.0f));

    struct Expected {
        int32_t kind, slot, index;
        std::vector<uint32_t> values;  // the words named, in order; the rest are 0
    };
    const Expected expected[] = {
        {CHANGE_POLYGON, 0, 2, {0, static_cast<uint32_t>(-2), 0, 0}},
        {CHANGE_FLOAT, 0, 5, {0x80000000u}},
        {CHANGE_MEMBERSHIP, HISTORY_POINT_SETS, 7, {1, 0}},
        {CHANGE_MEMBERSHIP, HISTORY_HIDDEN_POINTS, 8, {0, 1}},
        {CHANGE_NORMALS, 0, 3, {0, 0, 0, 0, 0xfffeu}},
        {CHANGE_UVW, 0, 4, {0, 0, 0, 0, bits(0.25f) ^ bits(0.5f)}},
    };
    ASSERT_EQ(rec.entryCount, 6);
    ChangeReader reader = h.entries(0);
    for (const Expected& x : expected) {
        ChangeEntry e;
        ASSERT_TRUE(reader.next(e));
        EXPECT_EQ(e.kind, x.kind);
        EXPECT_EQ(e.slot, x.slot);
        EXPECT_EQ(e.index, x.index);
        for (int w = 0; w < 12; ++w)
            EXPECT_EQ(e.values[w], w < int(x.values.size()) ? x.values[w] : 0u) << "kind " << x.kind << " word " << w;
    }
    ChangeEntry extra;
    EXPECT_FALSE(reader.next(extra));
}

TEST_F(HistoryRecorderTest, AnEntryThatCannotBeKeptStopsTheRecording) {
    HistoryRecorder r;
    ASSERT_TRUE(r.start(3, 0, 0, 0, HostSelection()));
    r.begin();
    // No room reserved and the host refuses the memory: the record cannot be trusted any more.
    host::memory::failAfter(1, true);
    r.polygonChanged(0, HostPolygon{0, 1, 2, 2}, HostPolygon{0, 1, 3, 3});
    host::memory::resetFailures();
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(memoryFaults().empty());
    r.release();
    EXPECT_FALSE(r.failed());
    EXPECT_FALSE(r.recording());
    EXPECT_EQ(r.history().size(), 0);
}

TEST_F(HistoryRecorderTest, StartRefusedForMemoryLeavesRecordingOff) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, GridOptions::withAllTags(4, 3, 2));
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    ASSERT_GT(mesh.attributes().uvwTagCount(), 0);
    ASSERT_GT(mesh.attributes().floatMapCount(), 0);
    int refused = 0;
    for (uint64_t n = 1;; ++n) {
        host::memory::failAfter(n);
        const bool started = mesh.startRecording();
        host::memory::resetFailures();
        EXPECT_EQ(mesh.recording(), started);
        if (started) break;
        ++refused;
        EXPECT_EQ(mesh.history().size(), 0);
        ASSERT_LT(n, 50u);
    }
    // The slot lists of both tag kinds and of the sets: each allocation refused once.
    EXPECT_GE(refused, 5);
}

TEST_F(HistoryRecorderTest, AttributesFollowTagDataTheObjectMoved) {
    host::Document doc;
    host::PolygonObject* obj = makeStrip(doc);
    auto* map = static_cast<host::FloatMapTag*>(
        testsupport::addFloatMap(*obj, "w", [](int i) { return 2.0f * i; }));
    WholeSets whole(*obj);
    ModuleSet points(whole.points), polygons(whole.polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    {
        // The data moves to a new block and the old one is freed.
        std::vector<float> fresh(map->data);
        map->data.swap(fresh);
    }
    mesh.followObjectArrays();
    // Halfway between 1 (2.0) and 4 (8.0), in the moved data.
    Contraction k;
    mesh.planContraction(1, 4, mesh.frame().toFrame(FloatVector{1, 0.5f, 0}), 0.0, k);
    ASSERT_TRUE(mesh.reserveContraction(k));
    mesh.contract(k);
    EXPECT_EQ(map->data[1], 5.0f);
    EXPECT_EQ(map->data[4], 8.0f);
}

}  // namespace
}  // namespace mixtest
