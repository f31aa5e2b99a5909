#include <gtest/gtest.h>

#include <cstdint>

#include <string>
#include <vector>

#include "baking/NMNodeArena.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;

class NMNodeArenaTest : public BakingFixture {};

// Grows a list to each capacity in turn, appending to its count after every step, and checks that
// it holds 0, 1, 2, ... throughout.
void growThrough(NMNodeArena& arena, NMIndexList& list, const std::vector<int32_t>& capacities) {
    for (const int32_t capacity : capacities) {
        const int32_t count = list.count;
        ASSERT_TRUE(arena.regrow(list, capacity, __LINE__));
        ASSERT_EQ(list.capacity, capacity > count ? capacity : count);
        while (list.count < capacity) {
            list.items[list.count] = list.count;
            ++list.count;
        }
        for (int32_t i = 0; i < list.count; ++i) ASSERT_EQ(list.items[i], i) << "capacity " << capacity;
    }
}

TEST_F(NMNodeArenaTest, ListsKeepTheirEntriesAcrossSmallAndOwnBlockRoom) {
    // Small room is cut from shared blocks; from 16384 entries a list has a block of its own, which
    // goes back when the list moves again. Many lists side by side, so that blocks fill and follow.
    NMNodeArena arena;
    std::vector<NMIndexList> lists(200);
    for (NMIndexList& list : lists) growThrough(arena, list, {10, 15, 22, 33});
    growThrough(arena, lists[7], {49, 20000, 30000, 100000, 60});
    EXPECT_EQ(lists[7].count, 100000);  // never below its count
    const size_t live = host::memory::liveBytes();
    growThrough(arena, lists[7], {150000});
    // The 100000-entry block went back when the list moved on.
    EXPECT_LT(host::memory::liveBytes(), live + 150000 * sizeof(int32_t));
    for (const NMIndexList& list : lists)
        for (int32_t i = 0; i < list.count; ++i) ASSERT_EQ(list.items[i], i);
    arena.release();
}

TEST_F(NMNodeArenaTest, RoomALongerListLeftIsTakenByTheNextListOfThatSize) {
    NMNodeArena arena;
    NMIndexList a, b;
    ASSERT_TRUE(arena.regrow(a, 10, __LINE__));
    int32_t* first = a.items;
    ASSERT_TRUE(arena.regrow(a, 15, __LINE__));
    ASSERT_TRUE(arena.regrow(b, 10, __LINE__));
    EXPECT_EQ(b.items, first);
    // Blocks of eight nodes come from the same blocks, aligned for any type.
    void* nodes = arena.take(8 * 184, __LINE__);
    ASSERT_NE(nodes, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(nodes) % alignof(std::max_align_t), 0u);
}

TEST_F(NMNodeArenaTest, RefusedMemoryLeavesTheListAsItWasAndIsReported) {
    NMNodeArena arena;
    NMIndexList list;
    growThrough(arena, list, {10});
    // The first block has room for these; the own block of a long list is refused.
    host::memory::failMatching("NMOctree", 0);
    EXPECT_FALSE(arena.regrow(list, 20000, 77));
    EXPECT_EQ(arena.take(size_t{1} << 20, 78), nullptr);
    host::memory::resetFailures();
    EXPECT_EQ(list.capacity, 10);
    for (int32_t i = 0; i < list.count; ++i) EXPECT_EQ(list.items[i], i);
    bool reported = false;
    for (const std::string& line : console()) reported |= line == "NO MEMORY: NMOctree 77";
    EXPECT_TRUE(reported);
    // Released, the arena holds nothing of the host's.
    const size_t before = host::memory::liveBlocks();
    growThrough(arena, list, {30000});
    arena.release();
    EXPECT_LT(host::memory::liveBlocks(), before);
}

}  // namespace
