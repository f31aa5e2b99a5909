#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/LargeFile.h"
#include "host/Memory.h"
#include "host/Threads.h"

namespace mem = host::memory;

class MemoryTest : public ::testing::Test {
protected:
    void TearDown() override { mem::resetFailures(); }
};

TEST_F(MemoryTest, LiveBlocksAreCountedAndSizeZeroGivesABlock) {
    const size_t before = mem::liveBlocks();
    void* a = mem::allocate(0, 12, "Test");
    void* b = mem::allocate(100, 13, "Test");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(std::max_align_t), 0u);
    std::memset(b, 0xab, 100);
    EXPECT_EQ(mem::liveBlocks(), before + 2);
    bool found = false;
    for (const auto& blk : mem::liveBlockList())
        if (blk.tag == "Test" && blk.line == 13 && blk.size == 100) found = true;
    EXPECT_TRUE(found);
    mem::release(a);
    mem::release(b);
    mem::release(nullptr);
    EXPECT_EQ(mem::liveBlocks(), before);
}

// Blocks small and large (the sizes the bake and the reduction ask for) are whole, aligned, counted
// and listed, and injected failures reach them all.
TEST_F(MemoryTest, BlocksOfEverySizeAreWholeCountedAndReleased) {
    // Across the sizes where blocks start on a huge page, and where their last huge page is whole.
    for (const size_t size : {size_t{1}, size_t{1 << 20} - 1, size_t{1 << 20}, size_t{2 << 20} - 4096, size_t{2 << 20},
                              size_t{4 << 20} - 1, size_t{4 << 20}, size_t{9 << 20} + 13}) {
        const size_t blocks = mem::liveBlocks(), bytes = mem::liveBytes();
        auto* p = static_cast<unsigned char*>(mem::allocate(size, 7, "Big"));
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << size;
        std::memset(p, 0x5a, size);
        EXPECT_EQ(p[0] + p[size - 1], 2 * 0x5a) << size;
        EXPECT_EQ(mem::liveBlocks(), blocks + 1) << size;
        EXPECT_EQ(mem::liveBytes(), bytes + size) << size;
        bool listed = false;
        for (const auto& blk : mem::liveBlockList()) listed |= blk.tag == "Big" && blk.size == size;
        EXPECT_TRUE(listed) << size;
        mem::release(p);
        EXPECT_EQ(mem::liveBytes(), bytes) << size;
        mem::failAfter(1);
        EXPECT_EQ(mem::allocate(size, 8, "Big"), nullptr) << size;
    }
}

// Threads that allocate and release at once (the bake's octree build on every worker) leave every
// block they keep listed once, with its tag, and the counts exact.
TEST_F(MemoryTest, BlocksMadeAndReleasedOnManyThreadsAtOnceAreListedAndCounted) {
    const size_t blocks = mem::liveBlocks(), bytes = mem::liveBytes();
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::vector<void*>> kept(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &kept] {
            const std::string tag = "Kept" + std::to_string(t);
            void* recent[8] = {};
            for (int i = 0; i < kRounds; ++i) {
                void*& slot = recent[i % 8];
                mem::release(slot);  // the one made eight rounds ago
                slot = mem::allocate(16 + i % 200, 1, "Churn");
                if (i % 1000 == 0) kept[t].push_back(mem::allocate(40, i / 1000, tag.c_str()));
            }
            for (void* p : recent) mem::release(p);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(mem::liveBlocks(), blocks + kThreads * kRounds / 1000);
    EXPECT_EQ(mem::liveBytes(), bytes + 40 * kThreads * kRounds / 1000);
    std::vector<int> listed(kThreads, 0);
    int churn = 0;
    for (const auto& blk : mem::liveBlockList()) {
        churn += blk.tag == "Churn";
        for (int t = 0; t < kThreads; ++t) listed[t] += blk.tag == "Kept" + std::to_string(t) && blk.size == 40;
    }
    EXPECT_EQ(churn, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(listed[t], kRounds / 1000) << t;
    for (auto& list : kept)
        for (void* p : list) mem::release(p);
    EXPECT_EQ(mem::liveBlocks(), blocks);
}

TEST_F(MemoryTest, InjectedFailureHitsExactlyTheNthAllocation) {
    mem::failAfter(3);
    void* p1 = mem::allocate(8, 1, "T");
    void* p2 = mem::allocate(8, 2, "T");
    void* p3 = mem::allocate(8, 3, "T");
    void* p4 = mem::allocate(8, 4, "T");
    EXPECT_NE(p1, nullptr);
    EXPECT_NE(p2, nullptr);
    EXPECT_EQ(p3, nullptr);
    EXPECT_NE(p4, nullptr);
    for (void* p : {p1, p2, p4}) mem::release(p);
}

TEST_F(MemoryTest, StickyFailureAndTagMatching) {
    mem::failAfter(2, true);
    void* ok = mem::allocate(8, 1, "T");
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(mem::allocate(8, 1, "T"), nullptr);
    EXPECT_EQ(mem::allocate(8, 1, "T"), nullptr);
    mem::resetFailures();
    mem::release(ok);

    mem::failMatching("Stack", 215);
    EXPECT_EQ(mem::allocate(8, 215, "Stack"), nullptr);
    void* other = mem::allocate(8, 216, "Stack");
    void* otherTag = mem::allocate(8, 215, "Heap");
    EXPECT_NE(other, nullptr);
    EXPECT_NE(otherTag, nullptr);
    mem::release(other);
    mem::release(otherTag);
}

TEST_F(MemoryTest, HugeRequestFailsInsteadOfOverflowing) {
    EXPECT_EQ(mem::allocate(SIZE_MAX - 4, 1, "T"), nullptr);
}

// Giving a big array its pages ahead of use must leave what it holds as it was, on one thread or
// several, whatever the block's alignment (a populate that dropped or zeroed pages would lose data).
TEST_F(MemoryTest, PopulatedPagesKeepTheirContentsOnAnyThreadCount) {
    for (const int threads : {1, 3}) {
        host::setWorkerThreadCount(threads);
        std::vector<uint32_t> v;
        host::reserveLarge(v, size_t{3} << 20);
        for (uint32_t i = 0; i < (1u << 20); ++i) v.push_back(i * 2654435761u);
        host::populatePages(reinterpret_cast<char*>(v.data()) + 3, v.capacity() * sizeof(uint32_t) - 3);
        host::reserveLarge(v, v.capacity(), v.capacity());
        for (uint32_t i = 0; i < (1u << 20); ++i) ASSERT_EQ(v[i], i * 2654435761u) << threads << " threads, " << i;
        // The populated room takes new elements as any other.
        v.resize(v.capacity(), 7u);
        EXPECT_EQ(v.back(), 7u);
    }
    host::setWorkerThreadCount(0);
}
