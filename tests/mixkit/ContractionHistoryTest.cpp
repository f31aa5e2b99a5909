// The recorded history: exact round trips, seeking equal to direct reduction, error seeking after
// makeMonotone, and what is recorded.
#include <algorithm>
#include <initializer_list>
#include <random>
#include <utility>
#include <vector>

#include "mixkit/ContractionHistory.h"
#include "mixkit/Decimator.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"
#include "tests/support/OneWorker.h"

namespace mixtest {
namespace {

using ContractionHistoryTest = MixkitTest;

using testsupport::commandSettings;

GridOptions richGrid() {
    const GridOptions o = GridOptions::withAllTags(14, 11, 6);
    return o;
}

// An object with its reduction: mesh, sets, decimator.
struct Prepared {
    ModuleSet points, polygons;
    ReductionMesh mesh;
    Decimator decimator;
    explicit Prepared(host::PolygonObject* obj)
        : points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons) {
        EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        commandSettings(decimator);
    }
    // The preview's prepare: every point contracted while recording.
    void recordAll() {
        ASSERT_TRUE(mesh.startRecording());
        ASSERT_TRUE(decimator.initialise(&mesh, nullptr));
        ASSERT_TRUE(decimator.decimateToCount(1, false, nullptr));
        mesh.attributes().writeBackPointSets();
        mesh.history().makeMonotone();
    }
};

host::PolygonObject* snapshot(host::Document& doc, const host::PolygonObject& from) {
    auto copy = std::make_unique<host::PolygonObject>(from.name());
    copy->copyStateFrom(from);
    host::PolygonObject* raw = copy.get();
    doc.insert(std::move(copy));
    return raw;
}

TEST_F(ContractionHistoryTest, SeekingAnywhereAndBackRestoresTheObjectExactly) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, richGrid());
    obj->hiddenPoints.select(3);  // a hidden point keeps its state through the round trips
    const host::PolygonObject* original = snapshot(doc, *obj);
    Prepared p(obj);
    p.recordAll();
    ContractionHistory& h = p.mesh.history();
    ASSERT_GT(h.size(), 100);
    EXPECT_EQ(h.cursor, h.size() - 1);
    EXPECT_EQ(h.currentCount, p.mesh.reducibleCount());
    const host::PolygonObject* reduced = snapshot(doc, *obj);
    EXPECT_NE(differences(*obj, *original), "");

    h.seekToCount(h.initialCount, view(obj));
    EXPECT_EQ(h.cursor, -1);
    EXPECT_EQ(h.currentCount, h.initialCount);
    EXPECT_EQ(h.currentError, 0.0);
    EXPECT_EQ(differences(*obj, *original), "");

    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        const int32_t target = 1 + static_cast<int32_t>(random() % h.initialCount);
        h.seekToCount(target, view(obj));
        EXPECT_GE(h.currentCount, target);
        if (h.cursor < h.size() - 1) {
            EXPECT_LT(h.record(h.cursor + 1).pointCount, target);
        }
        if (round % 3 == 0) {
            h.seekToCount(h.initialCount, view(obj));
            ASSERT_EQ(differences(*obj, *original), "") << "back from " << target;
        }
    }
    // Below the final count every record is applied: the fully reduced object again.
    h.seekToCount(0, view(obj));
    EXPECT_EQ(h.cursor, h.size() - 1);
    EXPECT_EQ(differences(*obj, *reduced), "");
    h.seekToCount(h.initialCount, view(obj));
    EXPECT_EQ(differences(*obj, *original), "");
}

TEST_F(ContractionHistoryTest, SeekingToACountEqualsADirectReduction) {
    host::Document doc;
    host::PolygonObject* recorded = makeGrid(doc, richGrid());
    Prepared p(recorded);
    p.recordAll();
    ContractionHistory& h = p.mesh.history();
    for (int32_t target : {150, 97, 40, 12}) {
        host::Document direct;
        host::PolygonObject* fresh = makeGrid(direct, richGrid());
        Prepared d(fresh);
        ASSERT_TRUE(d.decimator.initialise(&d.mesh, nullptr));
        ASSERT_TRUE(d.decimator.decimateToCount(target, false, nullptr));
        d.mesh.attributes().writeBackPointSets();
        for (bool fromAbove : {false, true}) {
            if (fromAbove) h.seekToCount(h.initialCount, view(recorded));
            h.seekToCount(target, view(recorded));
            ASSERT_EQ(h.currentCount, target);
            // Equal bit for bit, except that the preview hides the removed points.
            ASSERT_EQ(differences(*recorded, *fresh, false), "") << "count " << target;
            for (int i = 0; i < recorded->pointCount(); ++i) {
                const bool removed = d.mesh.isReducible(i) == 0;
                ASSERT_EQ(recorded->hiddenPoints.isSelected(i), removed) << "point " << i;
                ASSERT_FALSE(fresh->hiddenPoints.isSelected(i));
            }
        }
    }
}

TEST_F(ContractionHistoryTest, ErrorSeekingAfterMakeMonotoneSelectsAPrefix) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, richGrid());
    Prepared p(obj);
    p.recordAll();
    ContractionHistory& h = p.mesh.history();
    for (int32_t i = 1; i < h.size(); ++i) ASSERT_GE(h.record(i).error, h.record(i - 1).error);
    const double top = h.record(h.size() - 1).error;
    for (double fraction : {0.0, 1e-6, 0.001, 0.01, 0.1, 0.5, 1.0, 2.0}) {
        const double limit = top * fraction;
        h.seekToError(limit, view(obj));
        // Exactly the records within the limit are applied.
        for (int32_t i = 0; i <= h.cursor; ++i) ASSERT_LE(h.record(i).error, limit);
        if (h.cursor + 1 < h.size()) {
            ASSERT_GT(h.record(h.cursor + 1).error, limit);
        }
        EXPECT_EQ(h.currentError, h.cursor < 0 ? 0.0 : h.record(h.cursor).error);
        // The same level reached by count gives the same object.
        host::Document other;
        host::PolygonObject* same = snapshot(other, *obj);
        const int32_t count = h.currentCount;
        h.seekToCount(h.initialCount, view(obj));
        h.seekToCount(count, view(obj));
        EXPECT_EQ(differences(*obj, *same), "");
    }
}

TEST_F(ContractionHistoryTest, ErrorLimitZeroKeepsTheFreeContractions) {
    host::Document doc;
    GridOptions o;
    o.columns = 8;
    o.rows = 8;
    o.bumpy = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    ModuleSet points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    Decimator d;
    d.settings.useChecks = 0;
    mesh.startRecording();
    ASSERT_TRUE(d.initialise(&mesh, nullptr));
    ASSERT_TRUE(d.decimateToCount(1, false, nullptr));
    mesh.history().makeMonotone();
    ContractionHistory& h = mesh.history();
    int32_t free = 0;
    while (free < h.size() && h.record(free).error == 0.0) ++free;
    ASSERT_GT(free, 0);
    ASSERT_LT(free, h.size());
    h.seekToCount(h.initialCount, view(obj));
    h.seekToError(0.0, view(obj));
    EXPECT_EQ(h.cursor, free - 1);
    h.seekToError(0.0, view(obj));
    EXPECT_EQ(h.cursor, free - 1);
}

TEST_F(ContractionHistoryTest, MakeMonotoneRaisesDips) {
    ContractionHistory h;
    // Costs and errors dip at different records; each becomes its own running maximum.
    const double costs[6] = {1.0, 3.0, 2.0, 2.5, 5.0, 4.0};
    const double errors[6] = {0.5, 0.25, 0.75, 0.5, 0.125, 1.0};
    for (int i = 0; i < 6; ++i) {
        ChangeRecord r;
        r.cost = costs[i];
        r.error = errors[i];
        ASSERT_TRUE(h.append(r, nullptr, 0));
    }
    h.makeMonotone();
    const double expectedCosts[6] = {1.0, 3.0, 3.0, 3.0, 5.0, 5.0};
    const double expectedErrors[6] = {0.5, 0.5, 0.75, 0.75, 0.75, 1.0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(h.record(i).cost, expectedCosts[i]) << i;
        EXPECT_EQ(h.record(i).error, expectedErrors[i]) << i;
    }
    ContractionHistory empty;
    empty.makeMonotone();
    EXPECT_EQ(empty.size(), 0);
    h.release();
}

TEST_F(ContractionHistoryTest, OnlyChangesAreRecorded) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, richGrid());
    Prepared p(obj);
    p.recordAll();
    int kinds[5] = {};
    const ContractionHistory& h = p.mesh.history();
    for (int32_t i = 0; i < h.size(); ++i) {
        ASSERT_GE(h.record(i).point, 0);
        ChangeReader entries = h.entries(i);
        ChangeEntry e;
        while (entries.next(e)) {
            ASSERT_GE(e.kind, 0);
            ASSERT_LE(e.kind, 4);
            ++kinds[e.kind];
            if (e.kind == CHANGE_MEMBERSHIP) {
                EXPECT_NE(e.values[0], e.values[1]);
                continue;
            }
            bool any = false;
            for (uint32_t v : e.values) any = any || v != 0;
            EXPECT_TRUE(any) << "an entry of kind " << e.kind << " that changes nothing";
        }
    }
    for (int k = 0; k < 5; ++k) EXPECT_GT(kinds[k], 0) << "no entry of kind " << k;
}

TEST_F(ContractionHistoryTest, RecordsCarryCountAndCost) {
    host::Document doc;
    host::PolygonObject* obj = makeSphere(doc, 8, 10);
    Prepared p(obj);
    ASSERT_TRUE(p.mesh.startRecording());
    EXPECT_EQ(p.mesh.recording(), 1u);
    ASSERT_TRUE(p.decimator.initialise(&p.mesh, nullptr));
    const int32_t initial = p.mesh.reducibleCount();
    ASSERT_TRUE(p.decimator.decimateToCount(initial - 5, false, nullptr));
    const ContractionHistory& h = p.mesh.history();
    ASSERT_EQ(h.size(), 5);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(h.record(i).pointCount, initial - 1 - i);
        EXPECT_GE(h.record(i).cost, 0.0);
    }
    EXPECT_EQ(h.currentCount, initial - 5);
    EXPECT_EQ(h.currentError, h.record(4).error);
}

ChangeEntry entryOf(int32_t kind, int32_t slot, int32_t index, std::initializer_list<std::pair<int, uint32_t>> words) {
    ChangeEntry e;
    e.kind = kind;
    e.slot = slot;
    e.index = index;
    for (const auto& [k, v] : words) e.values[k] = v;
    return e;
}

bool sameEntry(const ChangeEntry& a, const ChangeEntry& b) {
    return a.kind == b.kind && a.slot == b.slot && a.index == b.index &&
           std::equal(std::begin(a.values), std::end(a.values), std::begin(b.values));
}

// Packed bytes worked out by hand: head byte (kind | slot << 3), zigzag index difference, mask of
// the non-zero words, the words (polygon differences zigzag coded).
TEST_F(ContractionHistoryTest, EntriesPackToTheExpectedBytes) {
    struct Case {
        ChangeEntry entry;
        int32_t previous;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        // polygon 10 after 12: difference -2 -> 3; corner b moved by -3 -> 5
        {entryOf(CHANGE_POLYGON, 0, 10, {{1, static_cast<uint32_t>(-3)}}), 12, {0x00, 0x03, 0x02, 0x05}},
        // UVW tag 40 (31 in the head, 9 after it), polygon 1000 after 0 (zigzag 2000), word 11 all ones
        {entryOf(CHANGE_UVW, 40, 1000, {{11, 0xffffffffu}}), 0, {0xfb, 0x09, 0xd0, 0x0f, 0x80, 0x10, 0xff, 0xff, 0xff, 0xff, 0x0f}},
        // a selection set's element 5 after 5 becomes a member
        {entryOf(CHANGE_MEMBERSHIP, 2, 5, {{0, 1u}}), 5, {0x11, 0x00, 0x01, 0x01}},
        // float map 1, point 7 after 9, one bit flipped
        {entryOf(CHANGE_FLOAT, 1, 7, {{0, 0x80u}}), 9, {0x0a, 0x03, 0x01, 0x80, 0x01}},
    };
    for (const Case& c : cases) {
        uint8_t out[MAX_PACKED_ENTRY + 8] = {};
        int32_t previous = c.previous;
        const int32_t n = packEntry(c.entry, previous, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << "kind " << c.entry.kind;
        EXPECT_EQ(previous, c.entry.index);
        ChangeEntry back;
        int32_t readPrevious = c.previous;
        EXPECT_EQ(unpackEntry(out, readPrevious, back), n);
        EXPECT_TRUE(sameEntry(back, c.entry)) << "kind " << c.entry.kind;
    }
}

// Any entry, extremes included, comes back as it went in, within the bound of packed bytes.
TEST_F(ContractionHistoryTest, PackedEntriesComeBackWhole) {
    std::mt19937 random(11);
    std::vector<ChangeEntry> entries;
    entries.push_back(entryOf(CHANGE_UVW, INT32_MAX, INT32_MAX, {}));
    for (int k = 0; k < 12; ++k) entries.back().values[k] = 0xffffffffu;
    entries.push_back(entryOf(CHANGE_POLYGON, 0, 0, {{0, 0x80000000u}, {1, 0x7fffffffu}, {2, 1u}, {3, 0xffffffffu}}));
    entries.push_back(entryOf(CHANGE_NORMALS, 0, INT32_MAX, {{5, 0xffffu}}));
    for (int i = 0; i < 2000; ++i) {
        ChangeEntry e;
        e.kind = static_cast<int32_t>(random() % CHANGE_KINDS);
        e.slot = static_cast<int32_t>(random() % (i % 2 == 0 ? 40 : 100000));
        e.index = static_cast<int32_t>(random() % (i % 3 == 0 ? 100 : 2000000000));
        for (int k = 0; k < changeWords(e.kind); ++k) e.values[k] = random() % 3 == 0 ? 0u : static_cast<uint32_t>(random() >> (random() % 32));
        entries.push_back(e);
    }
    std::vector<uint8_t> bytes(entries.size() * MAX_PACKED_ENTRY);
    int32_t previous = 3, at = 0;
    for (const ChangeEntry& e : entries) {
        const int32_t n = packEntry(e, previous, bytes.data() + at);
        ASSERT_LE(n, MAX_PACKED_ENTRY);
        at += n;
    }
    int32_t readPrevious = 3, read = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        ChangeEntry back;
        read += unpackEntry(bytes.data() + read, readPrevious, back);
        ASSERT_TRUE(sameEntry(back, entries[i])) << "entry " << i;
    }
    EXPECT_EQ(read, at);
}

// Records large enough to fill several storage blocks read back whole, each from where it lies.
TEST_F(ContractionHistoryTest, RecordsSpanningManyBlocksReadBackWhole) {
    ContractionHistory h;
    std::mt19937 random(5);
    std::vector<std::vector<ChangeEntry>> written;
    for (int r = 0; r < 60; ++r) {
        std::vector<ChangeEntry> entries(static_cast<size_t>(r % 7 == 0 ? 0 : 150 + r * 13));
        for (ChangeEntry& e : entries) {
            e.kind = CHANGE_UVW;
            e.slot = static_cast<int32_t>(random() % 3);
            e.index = static_cast<int32_t>(random() % 500000);
            for (uint32_t& v : e.values) v = static_cast<uint32_t>(random());
        }
        ChangeRecord record;
        record.point = r * 11;
        record.pointCount = 1000 - r;
        record.error = r * 0.5;
        ASSERT_TRUE(h.append(record, entries.data(), static_cast<int32_t>(entries.size())));
        written.push_back(entries);
    }
    ASSERT_EQ(h.size(), 60);
    EXPECT_GT(h.record(59).block, 2) << "the records should have needed several blocks";
    for (int r = 0; r < 60; ++r) {
        EXPECT_EQ(h.record(r).point, r * 11);
        EXPECT_EQ(h.record(r).pointCount, 1000 - r);
        EXPECT_EQ(h.record(r).entryCount, static_cast<int32_t>(written[r].size()));
        ChangeReader reader = h.entries(r);
        ChangeEntry e;
        size_t i = 0;
        while (reader.next(e)) {
            ASSERT_LT(i, written[r].size());
            ASSERT_TRUE(sameEntry(e, written[r][i])) << "record " << r << " entry " << i;
            ++i;
        }
        EXPECT_EQ(i, written[r].size());
    }
}

TEST_F(ContractionHistoryTest, RecordingStopsWholeWhenMemoryRunsOut) {
    const testsupport::OneWorker oneWorker;
    // How many allocations a whole recorded reduction makes; then each of them refused in turn.
    uint64_t total = 0;
    {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, richGrid());
        Prepared p(obj);
        ASSERT_TRUE(p.mesh.startRecording());
        ASSERT_TRUE(p.decimator.initialise(&p.mesh, nullptr));
        const uint64_t calls = host::memory::allocationCount();
        ASSERT_TRUE(p.decimator.decimateToCount(1, false, nullptr));
        total = host::memory::allocationCount() - calls;
    }
    ASSERT_GT(total, 3u);
    for (uint64_t n = 1; n <= total; ++n) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, richGrid());
        const host::PolygonObject* original = snapshot(doc, *obj);
        Prepared p(obj);
        ASSERT_TRUE(p.mesh.startRecording());
        ASSERT_TRUE(p.decimator.initialise(&p.mesh, nullptr));
        console();
        host::memory::failAfter(n, true);
        const bool finished = p.decimator.decimateToCount(1, false, nullptr);
        host::memory::resetFailures();
        EXPECT_FALSE(finished) << "allocation " << n;
        EXPECT_FALSE(memoryFaults().empty());
        ContractionHistory& h = p.mesh.history();
        // The object stands at the last stored record: it goes back exactly.
        EXPECT_EQ(h.currentCount, p.mesh.reducibleCount());
        h.seekToCount(h.initialCount, view(obj));
        ASSERT_EQ(differences(*obj, *original), "") << "after failing from allocation " << n;
    }
}

}  // namespace
}  // namespace mixtest
