#include "services/filesystem/IdentitySet.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quavelle {
namespace {

TEST(IdentitySet, KeepsEveryPairThroughGrowthAndTellsPairsApartByBothHalves) {
  IdentitySet set;
  constexpr std::uint64_t kCount = 50000;  // many times the first table
  for (std::uint64_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(set.Insert(i % 3 + 1, i)) << i;
  }
  for (std::uint64_t i = 0; i < kCount; ++i) {
    ASSERT_FALSE(set.Insert(i % 3 + 1, i)) << i;
  }
  EXPECT_TRUE(set.Insert(7, 1));  // same inode, another device
  EXPECT_TRUE(set.Insert(0, 0));  // the pair a free slot looks like
  EXPECT_FALSE(set.Insert(0, 0));
  EXPECT_TRUE(set.Insert(~std::uint64_t{0}, ~std::uint64_t{0}));
  EXPECT_EQ(set.size(), kCount + 3);
}

}  // namespace
}  // namespace quavelle
