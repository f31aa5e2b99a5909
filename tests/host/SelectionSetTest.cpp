#include <gtest/gtest.h>

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
