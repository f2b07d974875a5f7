#include "base/progress.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quorvant {
namespace {

TEST(ProgressTest, PercentOfTheProgressLine) {
  EXPECT_EQ(ProgressPercent(0, 32767), 0);
  EXPECT_EQ(ProgressPercent(16384, 32767), 50);
  EXPECT_EQ(ProgressPercent(81920, 99999), 81);
  EXPECT_EQ(ProgressPercent(99999, 99999), 100);
  EXPECT_EQ(ProgressPercent(std::int64_t{1} << 61, std::int64_t{1} << 62), 50);  // no overflow
  EXPECT_EQ(ProgressPercent(0, 0), 0);
}

}  // namespace
}  // namespace quorvant
