// Stack: growth, exact reserve and resize, faults on the console, allocation failure, copying
// (deep for stacks of stacks) and elements with constructors and destructors.
#include <cstdint>
#include <string>
#include <vector>

#include "ModuleTestSupport.h"
#include "sources/HostString.h"
#include "sources/Stack.h"

using namespace moduletest;

namespace {

class StackTest : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(kSourceFolder);
    }
    std::vector<std::string> expectLines(std::initializer_list<int> lines) {
        std::vector<std::string> out;
        for (int l : lines) out.push_back("NO MEMORY: Stack " + std::to_string(l));
        return out;
    }
    // The host block that holds a stack's storage.
    static const host::memory::LiveBlock* blockOf(size_t size) {
        static std::vector<host::memory::LiveBlock> blocks;
        blocks = host::memory::liveBlockList();
        for (const auto& b : blocks)
            if (b.tag == "Stack" && b.size == size) return &b;
        return nullptr;
    }
};

// An element type with a constructor and destructor that counts its live instances.
struct Tracked {
    static int live;
    int value = 0;
    Tracked() { ++live; }
    Tracked(int v) : value(v) { ++live; }
    Tracked(const Tracked& o) : value(o.value) { ++live; }
    Tracked& operator=(const Tracked& o) = default;
    ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST_F(StackTest, StartsEmpty) {
    Stack<int32_t> s;
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.capacity, 0);
    EXPECT_EQ(s.items, nullptr);
}

TEST_F(StackTest, PushGrowsByOneBelowFiveThenByHalf) {
    Stack<int32_t> s;
    std::vector<int32_t> capacities;
    for (int32_t i = 0; i < 11; ++i) {
        s.push(i * 3);
        capacities.push_back(s.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{1, 2, 3, 4, 5, 7, 7, 10, 10, 10, 15}));
    EXPECT_EQ(s.count, 11);
    EXPECT_EQ(s.capacity, 15);
    for (int32_t i = 0; i < 11; ++i) EXPECT_EQ(s.value(i), i * 3);
    // The storage is one host block of exactly 15 slots, under the stack's tag and line.
    const auto* block = blockOf(15 * sizeof(int32_t));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->line, 215);
    for (int32_t i = 11; i < 22; ++i) s.push(i);
    EXPECT_EQ(s.capacity, 22);
    s.push(0);
    EXPECT_EQ(s.capacity, 33);
    EXPECT_TRUE(console().empty());
}

TEST_F(StackTest, ReserveWithinCapacityChangesNothing) {
    Stack<int32_t> s;
    EXPECT_TRUE(s.reserve(0));
    EXPECT_EQ(s.capacity, 0);
    EXPECT_EQ(s.items, nullptr);
    for (int32_t i = 0; i < 6; ++i) s.push(i);
    int32_t* items = s.items;
    const uint64_t calls = host::memory::allocationCount();
    EXPECT_TRUE(s.reserve(0));
    EXPECT_TRUE(s.reserve(3));
    EXPECT_TRUE(s.reserve(7));
    EXPECT_EQ(host::memory::allocationCount(), calls);
    EXPECT_EQ(s.items, items);
    EXPECT_EQ(s.capacity, 7);
    EXPECT_EQ(s.count, 6);
}

TEST_F(StackTest, ReserveAllocatesExactlyAndKeepsTheElements) {
    Stack<int32_t> s;
    for (int32_t i = 0; i < 3; ++i) s.push(10 + i);
    EXPECT_TRUE(s.reserve(40));
    EXPECT_EQ(s.capacity, 40);
    EXPECT_EQ(s.count, 3);
    EXPECT_NE(blockOf(40 * sizeof(int32_t)), nullptr);
    EXPECT_EQ(s.value(0), 10);
    EXPECT_EQ(s.value(2), 12);
    // Pushing within the reserved room does not grow.
    for (int32_t i = 0; i < 37; ++i) s.push(i);
    EXPECT_EQ(s.capacity, 40);
}

TEST_F(StackTest, ResizeNeverShortens) {
    Stack<int32_t> s;
    for (int32_t i = 1; i <= 5; ++i) s.push(i);
    EXPECT_TRUE(s.resize(3));
    EXPECT_EQ(s.count, 5);
    EXPECT_EQ(s.value(4), 5);
    EXPECT_TRUE(s.resize(8));
    EXPECT_EQ(s.count, 8);
    EXPECT_EQ(s.capacity, 8);
    EXPECT_EQ(s.value(4), 5);
    EXPECT_EQ(s.value(5), 0);
    EXPECT_EQ(s.value(7), 0);
}

TEST_F(StackTest, ResizeAfterPopsShowsZeroes) {
    Stack<int32_t> s;
    for (int32_t i = 1; i <= 5; ++i) s.push(i * 11);
    EXPECT_EQ(s.pop(), 55);
    EXPECT_EQ(s.pop(), 44);
    EXPECT_EQ(s.count, 3);
    EXPECT_TRUE(s.resize(5));
    EXPECT_EQ(s.value(3), 0);
    EXPECT_EQ(s.value(4), 0);
    EXPECT_EQ(s.value(2), 33);
}

TEST_F(StackTest, PopOnEmptyReportsAndReturnsZero) {
    Stack<int32_t> s;
    EXPECT_EQ(s.pop(), 0);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(console(), expectLines({160}));
    s.push(7);
    EXPECT_EQ(s.pop(), 7);
    EXPECT_EQ(s.pop(), 0);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.capacity, 1);
    EXPECT_EQ(console(), expectLines({160}));
}

TEST_F(StackTest, ElementPastTheEndReportsAndYieldsSlotZero) {
    Stack<int32_t> s;
    s.push(5);
    s.push(6);
    int32_t& r = s.element(s.count);
    EXPECT_EQ(&r, &s.items[0]);
    EXPECT_EQ(console(), expectLines({98}));
    EXPECT_EQ(s.value(2), 5);
    EXPECT_EQ(s.value(100), 5);
    EXPECT_EQ(console(), expectLines({109, 109}));
    // In range: no report.
    EXPECT_EQ(s.element(1), 6);
    EXPECT_EQ(s[0], 5);
    EXPECT_TRUE(console().empty());
}

// A negative index is refused like one past the end: reported, and slot 0 stands in.
TEST_F(StackTest, NegativeIndexReportsAndYieldsSlotZero) {
    Stack<int32_t> s;
    s.push(5);
    s.push(6);
    for (const int32_t i : {-1, -2, INT32_MIN}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(&s.element(i), &s.items[0]);
        EXPECT_EQ(s.value(i), 5);
        EXPECT_EQ(console(), expectLines({98, 109}));
    }
    Stack<int32_t> empty;
    EXPECT_EQ(empty.element(-1), 0);
    EXPECT_EQ(empty.value(-1), 0);
    EXPECT_EQ(empty.items, nullptr);
    EXPECT_EQ(console(), expectLines({98, 109}));
    EXPECT_EQ(s.count, 2);
    EXPECT_EQ(s[1], 6);
}

TEST_F(StackTest, OutOfRangeOnEmptyStackNeverTouchesStorage) {
    Stack<int32_t> s;
    int32_t& r = s.element(0);
    EXPECT_EQ(r, 0);
    r = 99;  // lands in the spare slot, not in any stack
    EXPECT_EQ(s.element(3), 0);  // reset before it is handed out again
    EXPECT_EQ(s.value(0), 0);
    EXPECT_EQ(s.items, nullptr);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(console(), expectLines({98, 98, 109}));

    // The same after the storage was released.
    s.push(1);
    s.clear();
    EXPECT_EQ(s.element(0), 0);
    EXPECT_EQ(s.value(0), 0);

    Stack<Stack<int32_t>> nested;
    Stack<int32_t>& inner = nested.element(0);
    EXPECT_EQ(inner.count, 0);
    EXPECT_EQ(inner.items, nullptr);
    EXPECT_EQ(nested.value(0).count, 0);
}

TEST_F(StackTest, FailedGrowthOnPushLeavesTheStackUnchanged) {
    Stack<int32_t> s;
    host::memory::failMatching("Stack", 215);
    s.push(1);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.capacity, 0);
    EXPECT_EQ(s.items, nullptr);
    EXPECT_EQ(console(), expectLines({218}));
    host::memory::resetFailures();

    for (int32_t i = 0; i < 5; ++i) s.push(i + 1);
    int32_t* items = s.items;
    host::memory::failAfter(1);
    s.push(6);
    EXPECT_EQ(s.count, 5);
    EXPECT_EQ(s.capacity, 5);
    EXPECT_EQ(s.items, items);
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(s.value(i), i + 1);
    EXPECT_EQ(console(), expectLines({218}));
    // The next push grows normally.
    s.push(6);
    EXPECT_EQ(s.capacity, 7);
    EXPECT_EQ(s.value(5), 6);
}

TEST_F(StackTest, FailedReserveAndResizeLeaveTheStackUnchanged) {
    Stack<int32_t> s;
    for (int32_t i = 0; i < 4; ++i) s.push(i);
    int32_t* items = s.items;
    host::memory::failMatching("Stack", 215);
    EXPECT_FALSE(s.reserve(50));
    EXPECT_FALSE(s.resize(50));
    EXPECT_EQ(s.count, 4);
    EXPECT_EQ(s.capacity, 4);
    EXPECT_EQ(s.items, items);
    EXPECT_EQ(s.value(3), 3);
    EXPECT_EQ(console(), expectLines({218, 218}));
    // Reserving within the capacity needs no allocation and still succeeds.
    EXPECT_TRUE(s.reserve(4));
    EXPECT_TRUE(s.resize(4));
    EXPECT_TRUE(console().empty());
}

TEST_F(StackTest, AssigningAnEmptyStackEmpties) {
    Stack<int32_t> s, empty;
    for (int32_t i = 0; i < 6; ++i) s.push(i);
    s.assign(empty);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.capacity, 0);
    EXPECT_EQ(s.items, nullptr);
}

TEST_F(StackTest, AssignCopiesIntoExactStorage) {
    Stack<int32_t> a, b;
    for (int32_t i = 0; i < 6; ++i) a.push(i * i);
    ASSERT_EQ(a.capacity, 7);
    b.push(100);
    b.assign(a);
    EXPECT_EQ(b.count, 6);
    EXPECT_EQ(b.capacity, 6);
    EXPECT_NE(b.items, a.items);
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(b.value(i), i * i);
    b.element(0) = -1;
    EXPECT_EQ(a.value(0), 0);

    Stack<int32_t> c(a);
    EXPECT_EQ(c.count, 6);
    EXPECT_EQ(c.value(5), 25);
    Stack<int32_t> d;
    d = a;
    EXPECT_EQ(d.count, 6);
    d = d;
    EXPECT_EQ(d.count, 6);
    EXPECT_EQ(d.value(5), 25);
}

TEST_F(StackTest, FailedAssignLeavesAnEmptyStack) {
    Stack<int32_t> a, b;
    for (int32_t i = 0; i < 6; ++i) a.push(i);
    b.push(9);
    host::memory::failMatching("Stack", 215);
    b.assign(a);
    EXPECT_EQ(b.count, 0);
    EXPECT_EQ(b.capacity, 0);
    EXPECT_EQ(console(), expectLines({218}));
}

TEST_F(StackTest, StacksOfStacksCopyDeeply) {
    Stack<Stack<int32_t>> outer;
    for (int32_t i = 0; i < 3; ++i) {
        Stack<int32_t> inner;
        for (int32_t j = 0; j <= i; ++j) inner.push(10 * i + j);
        outer.push(inner);
    }
    ASSERT_EQ(outer.count, 3);
    EXPECT_EQ(outer.element(2).count, 3);
    EXPECT_EQ(outer.element(2).value(2), 22);

    Stack<Stack<int32_t>> copy(outer);
    ASSERT_EQ(copy.count, 3);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_NE(copy.element(i).items, outer.element(i).items);
        EXPECT_EQ(copy.element(i).count, i + 1);
        EXPECT_EQ(copy.element(i).capacity, i + 1);
    }
    copy.element(1).element(0) = -5;
    copy.element(1).push(77);
    EXPECT_EQ(outer.element(1).value(0), 10);
    EXPECT_EQ(outer.element(1).count, 2);

    // Growing the outer stack keeps the inner ones intact (they are moved, not copied).
    const uint64_t calls = host::memory::allocationCount();
    for (int32_t i = 0; i < 5; ++i) outer.push(Stack<int32_t>());
    // Capacities 4, 5, 7 and 10, and nothing for the inner stacks.
    EXPECT_EQ(host::memory::allocationCount() - calls, 4u);
    EXPECT_EQ(outer.capacity, 10);
    EXPECT_EQ(outer.element(2).value(1), 21);

    // Popping hands back the inner stack and leaves an empty one in its slot.
    Stack<int32_t> last = outer.pop();
    EXPECT_EQ(last.count, 0);
    outer.element(6).push(8);
    Stack<int32_t> popped = outer.pop();
    EXPECT_EQ(popped.count, 1);
    EXPECT_EQ(popped.value(0), 8);
    EXPECT_EQ(outer.count, 6);
    EXPECT_EQ(outer.items[6].count, 0);
    EXPECT_EQ(outer.items[6].items, nullptr);
}

TEST_F(StackTest, PushOfOwnElementSurvivesGrowth) {
    Stack<int32_t> s;
    for (int32_t i = 0; i < 5; ++i) s.push(i + 40);
    ASSERT_EQ(s.count, s.capacity);
    s.push(s.element(2));  // the storage moves while the argument points into it
    EXPECT_EQ(s.count, 6);
    EXPECT_EQ(s.value(5), 42);

    Stack<Stack<int32_t>> nested;
    Stack<int32_t> inner;
    inner.push(3);
    inner.push(4);
    nested.push(inner);
    nested.push(nested.element(0));
    ASSERT_EQ(nested.count, 2);
    EXPECT_EQ(nested.element(1).count, 2);
    EXPECT_EQ(nested.element(1).value(1), 4);
    EXPECT_NE(nested.element(1).items, nested.element(0).items);
}

TEST_F(StackTest, NonTrivialElementsAreConstructedAndDestroyedWithTheStorage) {
    Tracked::live = 0;
    {
        Stack<Tracked> s;
        EXPECT_TRUE(s.reserve(10));
        EXPECT_EQ(Tracked::live, 10);  // every slot built
        s.push(Tracked(4));
        s.push(Tracked(5));
        EXPECT_EQ(Tracked::live, 10);
        EXPECT_EQ(s.pop().value, 5);
        EXPECT_EQ(s.items[1].value, 0);  // the popped slot holds the zero value again
        EXPECT_TRUE(s.resize(12));
        EXPECT_EQ(Tracked::live, 12);
        EXPECT_EQ(s.value(0).value, 4);
        EXPECT_EQ(s.value(11).value, 0);
        s.clear();
        EXPECT_EQ(Tracked::live, 0);
        for (int i = 0; i < 6; ++i) s.push(Tracked(i));
        EXPECT_EQ(Tracked::live, 7);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST_F(StackTest, StackOfHostStringsReleasesEveryString) {
    const size_t handles = host::liveHandles();
    {
        Stack<HostString> s;
        for (int i = 0; i < 9; ++i) s.push(HostString::fromInt(i));
        EXPECT_STREQ(s.element(8).chars(), "8");
        Stack<HostString> copy(s);
        copy.element(0).assign("changed");
        EXPECT_STREQ(s.element(0).chars(), "0");
        EXPECT_STREQ(copy.pop().chars(), "8");
        EXPECT_GT(host::liveHandles(), handles);
    }
    EXPECT_EQ(host::liveHandles(), handles);
}

TEST_F(StackTest, MovingHandsTheStorageOver) {
    Stack<int32_t> a;
    for (int32_t i = 0; i < 4; ++i) a.push(i);
    int32_t* items = a.items;
    Stack<int32_t> b(std::move(a));
    EXPECT_EQ(b.items, items);
    EXPECT_EQ(b.count, 4);
    EXPECT_EQ(a.items, nullptr);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(a.capacity, 0);
    Stack<int32_t> c;
    c.push(1);
    c = std::move(b);
    EXPECT_EQ(c.items, items);
    EXPECT_EQ(c.value(3), 3);
}

}  // namespace
