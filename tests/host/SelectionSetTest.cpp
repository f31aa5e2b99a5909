#include <gtest/gtest.h>

#include <algorithm>

#include "host/SelectionSet.h"

using host::SelectionSet;

TEST(SelectionSet, MembershipCountAndRanges) {
    SelectionSet s(10);
    EXPECT_EQ(s.count(), 0);
    EXPECT_TRUE(s.select(2));
    EXPECT_TRUE(s.select(3));
    EXPECT_TRUE(s.toggle(7));
    EXPECT_FALSE(s.select(10));
    EXPECT_FALSE(s.select(-1));
    EXPECT_EQ(s.count(), 3);
    s.selectRange(8, 40);
    EXPECT_EQ(s.ranges(), (std::vector<std::pair<int, int>>{{2, 3}, {7, 9}}));
    EXPECT_TRUE(s.toggle(7));
    EXPECT_FALSE(s.isSelected(7));
    s.deselectRange(0, 2);
    EXPECT_EQ(s.ranges(), (std::vector<std::pair<int, int>>{{3, 3}, {8, 9}}));
    EXPECT_EQ(s.memberBytes()[3], 1);
    EXPECT_EQ(s.memberBytes()[4], 0);
}

TEST(SelectionSet, CompactFollowsRemap) {
    SelectionSet s(5);
    s.select(1);
    s.select(4);
    // 0 -> dropped, 1 -> 0, 2 -> 1, 3 -> dropped, 4 -> 2
    s.compact({-1, 0, 1, -1, 2}, 3);
    EXPECT_EQ(s.size(), 3);
    EXPECT_TRUE(s.isSelected(0));
    EXPECT_FALSE(s.isSelected(1));
    EXPECT_TRUE(s.isSelected(2));
}

// Against a plain array of flags: every operation, on sets that stay runs (few, ordered members) and
// on sets scattered enough to turn into a byte per element and back (cleared). The answers must not
// depend on the form the set is in.
TEST(SelectionSet, EveryOperationAgreesWithAPlainArrayInEitherForm) {
    const int size = 3000;
    SelectionSet s(size);
    std::vector<char> model(size, 0);
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u, static_cast<int>((seed >> 8) % size); };
    auto agree = [&](const char* after) {
        int count = 0;
        std::vector<std::pair<int, int>> ranges;
        for (int i = 0; i < size; ++i) {
            ASSERT_EQ(s.isSelected(i), model[i] != 0) << after << " at " << i;
            count += model[i];
            if (model[i] && (i == 0 || !model[i - 1])) ranges.push_back({i, i});
            if (model[i]) ranges.back().second = i;
        }
        ASSERT_EQ(s.count(), count) << after;
        ASSERT_EQ(s.ranges(), ranges) << after;
    };
    for (int round = 0; round < 3; ++round) {
        // Ordered members (the readers' way), then scattered ones until the set changes form.
        for (int i = 0; i < size; i += 7) s.select(i), model[i] = 1;
        agree("ordered selects");
        for (int k = 0; k < 400; ++k) {
            const int a = next(), b = next();
            switch (k % 5) {
                case 0: s.select(a), model[a] = 1; break;
                case 1: s.deselect(a), model[a] = 0; break;
                case 2: s.toggle(a), model[a] = !model[a]; break;
                case 3:
                    s.selectRange(std::min(a, b), std::min(a, b) + 20);
                    for (int i = std::min(a, b); i <= std::min(a, b) + 20 && i < size; ++i) model[i] = 1;
                    break;
                case 4:
                    s.deselectRange(std::min(a, b), std::max(a, b) / 2 + std::min(a, b) / 2);
                    for (int i = std::min(a, b); i <= std::max(a, b) / 2 + std::min(a, b) / 2; ++i) model[i] = 0;
                    break;
            }
        }
        agree("mixed operations");
        SelectionSet copy = s;
        EXPECT_TRUE(copy == s);
        s.resize(size - 100);
        for (int i = size - 100; i < size; ++i) model[i] = 0;
        s.resize(size);
        agree("shrunk and grown");
        s.deselectAll();
        std::fill(model.begin(), model.end(), 0);
        agree("cleared");
    }
    s.selectAll();
    std::fill(model.begin(), model.end(), 1);
    agree("all");
    EXPECT_EQ(s.memberBytes()[size - 1], 1);
}
