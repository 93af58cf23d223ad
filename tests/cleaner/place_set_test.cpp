#include "cleaner/place_set.h"

#include <gtest/gtest.h>

namespace brisko {
namespace {

// Enough places to grow the table many times over, with ids that crowd
// together as a folder's files do, on two volumes, and the all-zero place.
TEST(PlaceSet, EachPlaceOnceThroughGrowth) {
    PlaceSet set;
    EXPECT_FALSE(set.contains({0, 0}));
    EXPECT_TRUE(set.insert({0, 0}));
    EXPECT_FALSE(set.insert({0, 0}));
    for (uint64_t i = 1; i <= 200000; ++i) {
        ASSERT_TRUE(set.insert({1, i}));
        ASSERT_TRUE(set.insert({2, i}));
    }
    for (uint64_t i = 1; i <= 200000; i += 997) {
        EXPECT_FALSE(set.insert({1, i}));
        EXPECT_TRUE(set.contains({2, i}));
    }
    EXPECT_FALSE(set.contains({3, 1}));
    EXPECT_FALSE(set.contains({1, 200001}));
    EXPECT_EQ(set.size(), 400001u);
}

}  // namespace
}  // namespace brisko
