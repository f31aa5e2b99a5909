// The one-block lists of the mesh model and the decimator: every operation against a plain model
// of separate vectors, lists that move and an array that grows, and refused memory.
#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "host/Memory.h"
#include "mixkit/FlatLists.h"
#include "mixkit/StackHelpers.h"
#include "mixkit/TopologyView.h"
#include "tests/mixkit/MixkitFixture.h"

namespace mixtest {
namespace {

using FlatListsTest = MixkitTest;

std::vector<int32_t> contents(const FlatLists<int32_t>& lists, int32_t p) {
    const FlatLists<int32_t>::List l = lists[p];
    return std::vector<int32_t>(l.begin(), l.end());
}

TEST_F(FlatListsTest, FollowsSeparateListsThroughMovesAndGrowth) {
    constexpr int32_t kLists = 7;
    const int32_t room[kLists] = {2, 0, 3, 1, 0, 4, 2};
    FlatLists<int32_t> lists;
    ASSERT_TRUE(lists.build(kLists, room));
    ASSERT_EQ(lists.size(), kLists);
    for (int32_t p = 0; p < kLists; ++p) EXPECT_EQ(lists.capacity(p), room[p]);
    std::vector<std::vector<int32_t>> model(kLists);
    std::mt19937 random(7);
    // Mostly pushes, so that lists outgrow their runs and the array grows several times.
    for (int step = 0; step < 6000; ++step) {
        const int32_t p = static_cast<int32_t>(random() % kLists);
        const int32_t v = static_cast<int32_t>(random() % 50);
        const unsigned op = random() % 10;
        if (op < 6) {
            ASSERT_TRUE(lists.push(p, v));
            model[p].push_back(v);
        } else if (op < 8) {
            bool found = false;
            for (size_t i = 0; i < model[p].size() && !found; ++i) {
                if (model[p][i] != v) continue;
                model[p][i] = model[p].back();
                model[p].pop_back();
                found = true;
            }
            EXPECT_EQ(lists.removeFirst(p, v), found);
        } else if (op < 9) {
            const int32_t n = static_cast<int32_t>(model[p].size()) + static_cast<int32_t>(random() % 9);
            ASSERT_TRUE(lists.reserve(p, n));
            EXPECT_GE(lists.capacity(p), n);
        } else if (random() % 8 == 0) {
            lists.empty(p);
            model[p].clear();
        } else if (random() % 16 == 0) {
            // Into an array of the room the lists need now: twice each count, 4 at least, none empty.
            ASSERT_TRUE(lists.repack());
            for (int32_t q = 0; q < kLists; ++q) {
                const int32_t n = lists.count(q);
                EXPECT_EQ(lists.capacity(q), n == 0 ? 0 : std::max(4, 2 * n)) << "list " << q;
            }
        }
        EXPECT_EQ(lists.contains(p, v), std::find(model[p].begin(), model[p].end(), v) != model[p].end());
        for (int32_t q = 0; q < kLists; ++q) {
            ASSERT_EQ(contents(lists, q), model[q]) << "list " << q << " after step " << step;
            ASSERT_LE(lists.count(q), lists.capacity(q));
        }
    }
}

// Repacked on several workers, many blocks of lists each land where one pass would put them: the
// same starts (lists side by side in index order), contents and room.
TEST_F(FlatListsTest, RepackOnWorkersKeepsEveryListAcrossBlocks) {
    constexpr int32_t kLists = 70000;
    std::mt19937 random(11);
    std::vector<std::vector<int32_t>> model(kLists);
    FlatLists<int32_t> lists;
    ASSERT_TRUE(lists.build(kLists, nullptr));
    for (int32_t p = 0; p < kLists; ++p)
        for (int32_t k = static_cast<int32_t>(random() % 7); k > 0; --k) {
            const int32_t v = static_cast<int32_t>(random());
            ASSERT_TRUE(lists.push(p, v));
            model[p].push_back(v);
        }
    ASSERT_TRUE(lists.repack(3));
    const int32_t* base = lists[0].items;
    int64_t at = 0;
    for (int32_t p = 0; p < kLists; ++p) {
        const int32_t n = static_cast<int32_t>(model[p].size());
        ASSERT_EQ(contents(lists, p), model[p]) << "list " << p;
        ASSERT_EQ(lists.capacity(p), n == 0 ? 0 : std::max(4, 2 * n)) << "list " << p;
        ASSERT_EQ(lists[p].items - base, at) << "list " << p;
        at += lists.capacity(p);
    }
}

// A big array cleared by blocks on several workers: every new element is set, however stale the
// memory under it, the elements already there stay, and the count is exact.
TEST_F(FlatListsTest, ArraysResizedOnWorkersSetEveryNewElement) {
    constexpr int32_t kItems = 3 << 20;  // 12 MB: big enough to go to the workers
    for (const int32_t workers : {1, 3}) {
        Stack<int32_t> s;
        ASSERT_TRUE(s.reserve(kItems));
        for (int32_t i = 0; i < kItems; ++i) s.items[i] = -1 - i;  // stale room
        s.push(41);
        s.push(42);
        ASSERT_TRUE(resizeOnWorkers(s, kItems - 5, workers));
        ASSERT_EQ(s.count, kItems - 5);
        EXPECT_EQ(s.items[0], 41);
        EXPECT_EQ(s.items[1], 42);
        EXPECT_EQ(std::count(s.items + 2, s.items + s.count, 0), kItems - 7) << workers << " workers";
        EXPECT_EQ(s.items[kItems - 5], -1 - (kItems - 5)) << "past the new count";
    }
}

TEST_F(FlatListsTest, ReserveWithinTheRunDoesNotMoveTheList) {
    const int32_t room[2] = {4, 4};
    FlatLists<int32_t> lists;
    ASSERT_TRUE(lists.build(2, room));
    ASSERT_TRUE(lists.push(0, 5));
    const int32_t* before = lists[0].items;
    ASSERT_TRUE(lists.reserve(0, 4));
    EXPECT_EQ(lists[0].items, before);
    // Beyond the run it moves, half as much room again at least, and keeps its elements.
    ASSERT_TRUE(lists.reserve(0, 5));
    EXPECT_NE(lists[0].items, before);
    EXPECT_GE(lists.capacity(0), 6);
    EXPECT_EQ(contents(lists, 0), std::vector<int32_t>{5});
}

TEST_F(FlatListsTest, RefusedMemoryLeavesEveryListAsItWas) {
    const int32_t room[3] = {1, 1, 1};
    FlatLists<int32_t> lists;
    ASSERT_TRUE(lists.build(3, room));
    ASSERT_TRUE(lists.push(1, 7));
    // List 0 keeps outgrowing its run until a move needs a larger array, which is refused.
    bool refused = false;
    for (int32_t v = 0; v < 10000 && !refused; ++v) {
        const std::vector<int32_t> before = contents(lists, 0);
        const size_t live = host::memory::liveBlocks();
        console();
        host::memory::failAfter(1);
        const bool ok = lists.push(0, v);
        host::memory::resetFailures();
        if (ok) continue;
        refused = true;
        EXPECT_FALSE(memoryFaults().empty());
        EXPECT_EQ(host::memory::liveBlocks(), live);
        EXPECT_EQ(contents(lists, 0), before);
    }
    ASSERT_TRUE(refused) << "no push needed a larger array";
    // A repack refused its array leaves the lists where they were.
    const std::vector<int32_t> first = contents(lists, 0);
    const int32_t* at = lists[0].items;
    const size_t live = host::memory::liveBlocks();
    console();
    host::memory::failAfter(1);
    EXPECT_FALSE(lists.repack());
    host::memory::resetFailures();
    EXPECT_FALSE(memoryFaults().empty());
    EXPECT_EQ(host::memory::liveBlocks(), live);
    EXPECT_EQ(lists[0].items, at);
    EXPECT_EQ(contents(lists, 0), first);
    EXPECT_EQ(contents(lists, 1), std::vector<int32_t>{7});
    EXPECT_EQ(contents(lists, 2), std::vector<int32_t>{});
    // With memory again the same push goes through.
    ASSERT_TRUE(lists.push(0, -1));
    EXPECT_EQ(contents(lists, 0).back(), -1);
}

TEST_F(FlatListsTest, BuildFailsWithNothingKept) {
    const int32_t room[2] = {3, 3};
    for (uint64_t n = 1; n <= 3; ++n) {
        const size_t live = host::memory::liveBlocks();
        FlatLists<int32_t> lists;
        host::memory::failAfter(n);
        const bool ok = lists.build(2, room);
        host::memory::resetFailures();
        if (ok) break;
        EXPECT_EQ(lists.size(), 0);
        EXPECT_EQ(host::memory::liveBlocks(), live);
    }
}

// The marks of a contraction's ends count each end once per polygon, also where a polygon repeats
// a corner and so stands twice in that point's list: 2 only where both ends are corners.
TEST_F(FlatListsTest, EndMarksCountEachEndOncePerPolygon) {
    // Points 0..4; polygon 0 = (0, 1, 0, 2) repeats point 0, polygon 1 = (1, 3, 4, 4) is a
    // triangle, polygon 2 = (0, 3, 4, 4).
    const HostPolygon polygons[3] = {{0, 1, 0, 2}, {1, 3, 4, 4}, {0, 3, 4, 4}};
    const int32_t room[5] = {3, 2, 1, 2, 2};
    FlatLists<int32_t> lists;
    ASSERT_TRUE(lists.build(5, room));
    for (int32_t f = 0; f < 3; ++f) {
        const HostPolygon& p = polygons[f];
        for (int32_t c : {p.a, p.b, p.c}) ASSERT_TRUE(lists.push(c, f));
        if (p.d != p.c) {
            ASSERT_TRUE(lists.push(p.d, f));
        }
    }
    TopologyView view;
    view.polygons = polygons;
    view.pointPolygons = &lists;
    struct Case {
        int32_t v1, v2;
        uint8_t marks[3];  // 9: left as it was
    };
    const Case cases[] = {
        {3, 0, {1, 1, 2}},  // the repeated point second, with no polygon of the first: 1, not 2
        {0, 3, {1, 1, 2}},  // the repeated point first
        {1, 0, {2, 1, 1}},  // both ends in the polygon that repeats one of them
        {0, 1, {2, 1, 1}},
        {2, 4, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        uint8_t marks[3] = {9, 9, 9};
        view.markEnds(c.v1, c.v2, marks);
        for (int32_t f = 0; f < 3; ++f) {
            const bool touched = cornerOf(polygons[f], c.v1) >= 0 || cornerOf(polygons[f], c.v2) >= 0;
            EXPECT_EQ(marks[f], touched ? c.marks[f] : 9) << "ends " << c.v1 << ", " << c.v2 << ", polygon " << f;
        }
    }
}

// Lists moved into a phase's arenas from two threads: whether a move is allowed depends on the
// arenas' budgets alone, so a pool changes none of it; wherever its chunks and spare room put the
// runs, no two overlap and every list keeps its elements. The parts grow their lists until their
// budgets are spent, so chunks are left with room at their ends and the pool reaches into its
// spare room; the array then grows (no repack between), and the runs there come along.
TEST_F(FlatListsTest, ArenasAllowTheSameMovesWithAPoolAndTheirRunsNeverOverlap) {
    constexpr int32_t kLists = 200000;
    constexpr int32_t kParts = 16;
    struct Outcome {
        std::vector<std::vector<uint8_t>> moved = std::vector<std::vector<uint8_t>>(kParts);
        std::vector<std::vector<int32_t>> lists;
        bool pastArenas = false;  // a run placed beyond the arenas' stretch
    };
    auto run = [&](bool pooled) {
        Outcome out;
        const std::vector<int32_t> room(kLists, 2);
        FlatLists<int32_t> lists;
        EXPECT_TRUE(lists.build(kLists, room.data()));
        for (int32_t p = 0; p < kLists; ++p) lists.push(p, p);
        const int32_t* base = lists[0].items;
        int32_t weights[kParts];
        for (int32_t t = 0; t < kParts; ++t) weights[t] = 1 + t % 4;
        FlatLists<int32_t>::Arena arenas[kParts];
        FlatLists<int32_t>::Pool pool;
        lists.makeArenas(0.95, weights, kParts, arenas, pooled ? &pool : nullptr);
        if (pooled) {
            EXPECT_GT(pool.chunk, 0) << "the spare room cannot cover the pool";
        }
        // Part t owns the lists p with p % kParts == t and grows each by 1 to 7 elements a round,
        // until a whole round finds its arena without room.
        auto grow = [&](int32_t t) {
            for (int32_t round = 0;; ++round) {
                bool any = false;
                for (int32_t p = t; p < kLists; p += kParts) {
                    const int32_t more = 1 + (p / kParts + round) % 7;
                    const bool ok = lists.reserveIn(p, lists.count(p) + more, arenas[t]);
                    out.moved[t].push_back(ok);
                    any = any || ok;
                    for (int32_t k = 0; ok && k < more; ++k) lists.push(p, lists.count(p));
                }
                if (!any) return;
            }
        };
        std::thread other([&] {
            for (int32_t t = 1; t < kParts; t += 2) grow(t);
        });
        for (int32_t t = 0; t < kParts; t += 2) grow(t);
        other.join();
        if (pooled) lists.closeArenas(pool);
        for (int32_t p = 0; p < kLists; ++p)
            out.pastArenas = out.pastArenas || lists[p].items - base + lists.capacity(p) > arenas[kParts - 1].end;
        // No repack follows here: a list that outgrows the whole array makes it grow, and the runs
        // that the pool placed past the array's own room must come along.
        EXPECT_TRUE(lists.reserve(0, kLists));
        std::vector<std::pair<const int32_t*, const int32_t*>> runs;
        for (int32_t p = 0; p < kLists; ++p) {
            runs.emplace_back(lists[p].items, lists[p].items + lists.capacity(p));
            out.lists.push_back(contents(lists, p));
        }
        std::sort(runs.begin(), runs.end());
        for (size_t i = 1; i < runs.size(); ++i) EXPECT_LE(runs[i - 1].second, runs[i].first) << "runs overlap";
        return out;
    };
    const Outcome own = run(false);
    const Outcome pooled = run(true);
    for (int32_t t = 0; t < kParts; ++t) EXPECT_EQ(pooled.moved[t], own.moved[t]) << "part " << t;
    EXPECT_FALSE(own.pastArenas);
    EXPECT_TRUE(pooled.pastArenas) << "the budgets were spent without the pool reaching its spare room";
    for (int32_t p = 0; p < kLists; ++p) {
        ASSERT_EQ(pooled.lists[p], own.lists[p]) << "list " << p;
        ASSERT_FALSE(own.lists[p].empty());
        EXPECT_EQ(own.lists[p][0], p);
        for (size_t k = 1; k < own.lists[p].size(); ++k) ASSERT_EQ(own.lists[p][k], static_cast<int32_t>(k));
    }
}

}  // namespace
}  // namespace mixtest
