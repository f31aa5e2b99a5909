// The candidate heap: its invariant under random operations, its tie rules and its failure path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "host/Memory.h"
#include "mixkit/CandidateHeap.h"
#include "mixkit/IndexedHeap.h"
#include "tests/module/ModuleTestSupport.h"

namespace {

class CandidateHeapTest : public moduletest::ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(VEXLOR_SOURCE_DIR);
    }

    static void expectInvariant(const CandidateHeap& heap) {
        for (int32_t i = 0; i < heap.size(); ++i) {
            ASSERT_EQ(heap.at(i)->heapPosition, i);
            if (i > 0) {
                ASSERT_GE(heap.at((i - 1) / 2)->heapKey, heap.at(i)->heapKey) << "at " << i;
            }
        }
    }
};

TEST_F(CandidateHeapTest, InvariantHoldsUnderRandomOperations) {
    std::mt19937 random(1234);
    std::vector<HeapItem> items(400);
    CandidateHeap heap;
    std::uniform_real_distribution<double> key(-100.0, 100.0);
    for (int step = 0; step < 6000; ++step) {
        HeapItem& item = items[random() % items.size()];
        switch (random() % 4) {
            case 0:
                if (item.heapPosition == HEAP_ABSENT) heap.insert(&item, std::floor(key(random)));
                break;
            case 1:
                if (item.heapPosition != HEAP_ABSENT) {
                    const double k = std::floor(key(random));
                    heap.updateKey(&item, k);
                    EXPECT_EQ(item.heapKey, k - 1e-10);
                }
                break;
            case 2: {
                const bool in = item.heapPosition != HEAP_ABSENT;
                EXPECT_EQ(heap.remove(&item), in ? &item : nullptr);
                EXPECT_EQ(item.heapPosition, HEAP_ABSENT);
                break;
            }
            default: {
                HeapItem* top = heap.popTop();
                if (top == nullptr) {
                    EXPECT_EQ(heap.size(), 0);
                    break;
                }
                EXPECT_EQ(top->heapPosition, HEAP_ABSENT);
                for (int32_t i = 0; i < heap.size(); ++i) ASSERT_GE(top->heapKey, heap.at(i)->heapKey);
            }
        }
        expectInvariant(heap);
        int32_t inHeap = 0;
        for (const HeapItem& i : items) inHeap += i.heapPosition != HEAP_ABSENT;
        ASSERT_EQ(inHeap, heap.size());
    }
    // Emptying it gives the keys in non-increasing order.
    double last = 1e300;
    while (HeapItem* top = heap.popTop()) {
        EXPECT_LE(top->heapKey, last);
        last = top->heapKey;
    }
}

TEST_F(CandidateHeapTest, EqualParentStopsTheRiseAndEqualChildStopsTheSink) {
    HeapItem a, b, c;
    CandidateHeap heap;
    heap.insert(&a, 10);
    heap.insert(&b, 5);
    heap.insert(&c, 5);
    EXPECT_EQ(heap.at(1), &b);
    EXPECT_EQ(heap.at(2), &c);
    EXPECT_EQ(heap.popTop(), &a);
    // c came up from the last slot and met b, equal: it stays on top.
    EXPECT_EQ(heap.popTop(), &c);
    EXPECT_EQ(heap.popTop(), &b);
    EXPECT_EQ(heap.popTop(), nullptr);
}

TEST_F(CandidateHeapTest, OfTwoEqualChildrenTheLeftRises) {
    HeapItem a, b, c, d;
    CandidateHeap heap;
    heap.insert(&a, 10);
    heap.insert(&b, 5);
    heap.insert(&c, 5);
    heap.insert(&d, 1);
    EXPECT_EQ(heap.popTop(), &a);
    EXPECT_EQ(heap.at(0), &b);
    EXPECT_EQ(heap.at(1), &d);
    EXPECT_EQ(heap.at(2), &c);
}

TEST_F(CandidateHeapTest, ReKeyedItemSortsBelowAFreshOneOfTheSameKey) {
    HeapItem old, fresh;
    CandidateHeap heap;
    heap.insert(&old, 2.0);
    heap.updateKey(&old, 3.0);
    EXPECT_EQ(old.heapKey, 3.0 - 1e-10);
    heap.insert(&fresh, 3.0);
    EXPECT_EQ(heap.popTop(), &fresh);
    EXPECT_EQ(heap.popTop(), &old);
}

TEST_F(CandidateHeapTest, UpdateKeyMovesBothWays) {
    std::vector<HeapItem> items(7);
    CandidateHeap heap;
    for (int i = 0; i < 7; ++i) heap.insert(&items[i], 10.0 * i);
    heap.updateKey(&items[0], 100.0);
    EXPECT_EQ(heap.at(0), &items[0]);
    heap.updateKey(&items[0], -100.0);
    EXPECT_EQ(heap.at(0), &items[6]);
    expectInvariant(heap);
    EXPECT_GE(items[0].heapPosition, 3);  // sunk to a leaf
}

TEST_F(CandidateHeapTest, RemovingTheLastSlotAndAnAbsentItem) {
    HeapItem a, b, outside;
    CandidateHeap heap;
    heap.insert(&a, 3);
    heap.insert(&b, 1);
    EXPECT_EQ(heap.remove(&b), &b);
    EXPECT_EQ(b.heapPosition, HEAP_ABSENT);
    EXPECT_EQ(heap.size(), 1);
    EXPECT_EQ(heap.at(0), &a);
    EXPECT_EQ(heap.remove(&outside), nullptr);
    EXPECT_EQ(heap.remove(&b), nullptr);
    EXPECT_EQ(heap.size(), 1);
}

TEST_F(CandidateHeapTest, RemovalFromTheMiddleSiftsTheMovedItem) {
    std::vector<HeapItem> items(8);
    CandidateHeap heap;
    const double keys[8] = {50, 40, 30, 10, 5, 25, 20, 1};
    for (int i = 0; i < 8; ++i) heap.insert(&items[i], keys[i]);
    // Taking out 40 (slot 1) brings 1 from the end into slot 1, which must sink.
    EXPECT_EQ(heap.remove(&items[1]), &items[1]);
    expectInvariant(heap);
    // Taking out 10 brings a larger item up into a subtree of smaller ones: it must rise.
    std::vector<HeapItem> more(7);
    CandidateHeap rising;
    const double k2[7] = {100, 10, 90, 9, 8, 80, 70};
    for (int i = 0; i < 7; ++i) rising.insert(&more[i], k2[i]);
    EXPECT_EQ(rising.remove(&more[3]), &more[3]);
    expectInvariant(rising);
}

TEST_F(CandidateHeapTest, InsertWithoutMemoryLeavesTheItemOut) {
    HeapItem item;
    CandidateHeap heap;
    host::memory::failAfter(1);
    heap.insert(&item, 1.0);
    host::memory::resetFailures();
    EXPECT_EQ(item.heapPosition, HEAP_ABSENT);
    EXPECT_EQ(heap.size(), 0);
    EXPECT_EQ(console(), std::vector<std::string>{"NO MEMORY: Stack 218"});
    heap.insert(&item, 1.0);
    EXPECT_EQ(item.heapPosition, 0);
    heap.clear();
}

// The decimator builds its heaps in place: the keys made side by side on several threads (in
// any order of writing), then put in order. That must be the very heap that inserting them one by
// one gives, slot for slot and with ties (whole-number keys) falling alike, on top of items already
// in the heap; moved into fitted arrays, the heap keeps every slot and goes on alike.
TEST_F(CandidateHeapTest, BuildingInPlaceIsInsertingInSlotOrder) {
    struct Positions {
        std::vector<int32_t>* of = nullptr;
        int32_t& operator()(int32_t id) const { return (*of)[id]; }
    };
    using Heap = IndexedHeap<int32_t, Positions>;
    std::mt19937 random(77);
    for (const int32_t before : {0, 1, 37}) {
        const int32_t n = 500;
        std::vector<int32_t> atInserted(before + n, HEAP_ABSENT), atBuilt(before + n, HEAP_ABSENT);
        Heap inserted(Positions{&atInserted}), built(Positions{&atBuilt});
        std::vector<double> keys(before + n);
        for (double& k : keys) k = std::floor(std::uniform_real_distribution<double>(-20.0, 20.0)(random));
        for (int32_t i = 0; i < before; ++i) {
            inserted.insert(i, keys[i]);
            built.insert(i, keys[i]);
        }
        for (int32_t i = before; i < before + n; ++i) inserted.insert(i, keys[i]);
        ASSERT_TRUE(built.resizeForBuild(n));
        std::vector<int32_t> order(n);
        for (int32_t i = 0; i < n; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), random);
        if (before == 37) {
            // Placed as they are set: each key is found at its item's place while the slots wait.
            for (const int32_t i : order) built.setPendingPlaced(i, before + i, keys[before + i]);
            for (int32_t i = 0; i < n; ++i) ASSERT_EQ(built.keyAt(atBuilt[before + i]), keys[before + i]);
        } else {
            for (const int32_t i : order) built.setPendingKey(i, keys[before + i]);
            std::shuffle(order.begin(), order.end(), random);
            for (const int32_t i : order) built.setPendingRef(i, before + i);
        }
        ASSERT_TRUE(built.hasPending());
        built.insertPending();
        ASSERT_FALSE(built.hasPending());
        ASSERT_TRUE(built.shrinkToFit());
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(built.size(), inserted.size());
            for (int32_t i = 0; i < built.size(); ++i) {
                ASSERT_EQ(built.at(i), inserted.at(i)) << "slot " << i << " after " << before;
                ASSERT_EQ(built.keyAt(i), inserted.keyAt(i));
                ASSERT_EQ(atBuilt[built.at(i)], i);
            }
            // Both go on alike: re-keyed, taken out, a quarter emptied.
            for (int32_t i = 0; i < 40; ++i) {
                const int32_t id = static_cast<int32_t>(random() % (before + n));
                const double k = std::floor(std::uniform_real_distribution<double>(-20.0, 20.0)(random));
                built.updateKey(id, k);
                inserted.updateKey(id, k);
                EXPECT_EQ(built.remove((id * 7) % (before + n)), inserted.remove((id * 7) % (before + n)));
            }
            for (int32_t i = 0; i < n / 4; ++i) {
                int32_t a = -1, b = -1;
                double ka = 0.0, kb = 0.0;
                ASSERT_TRUE(built.popTop(a, ka));
                ASSERT_TRUE(inserted.popTop(b, kb));
                ASSERT_EQ(a, b);
                ASSERT_EQ(ka, kb);
                ASSERT_EQ(atBuilt[a], HEAP_ABSENT);
            }
        }
    }
}

}  // namespace
