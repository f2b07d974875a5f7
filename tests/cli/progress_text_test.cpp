#include "cli/progress_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvant::cli {
namespace {

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;
constexpr std::int64_t GiB = 1024 * MiB;

TEST(ProgressTextTest, ByteCountsInBinaryUnits) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},
      {MiB - 1, "1.0 MiB"},  // not "1024.0 KiB"
      {12 * MiB + 300 * KiB, "12.3 MiB"},
      {GiB, "1.0 GiB"},
      {3 * GiB / 2 * 1024, "1.5 TiB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatByteCount(bytes), text) << bytes;
}

TEST(ProgressTextTest, Durations) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0:00"}, {5, "0:05"}, {754, "12:34"}, {3599, "59:59"}, {3723, "1:02:03"}, {100 * 3600, "100:00:00"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatDuration(seconds), text) << seconds;
}

struct LineCase {
  const char* what;
  std::string label;
  ProgressPoint point;
  std::size_t width;
  std::string line;
};

void PrintTo(const LineCase& line, std::ostream* output) { *output << line.what; }

class ProgressLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLine, SaysHowFarHowFastAndHowLong) {
  const LineCase& line = GetParam();
  const std::string text = FormatProgressLine(line.label, line.point, line.width);
  EXPECT_EQ(text, line.line);
  EXPECT_LE(TextColumns(text), line.width);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLine,
    ::testing::Values(LineCase{"at the start",
                               "Encrypting report.txt",
                               {0, GiB, 0, false},
                               79,
                               "Encrypting report.txt  0%  0 B of 1.0 GiB"},
                      LineCase{"before a second has passed",
                               "Encrypting report.txt",
                               {300 * MiB, GiB, 999, false},
                               79,
                               "Encrypting report.txt  29%  300.0 MiB of 1.0 GiB"},
                      // 450 MiB in 3.75 s is 120 MiB/s; 574 MiB are left: 4.78 s, shown as 5.
                      LineCase{"with rate and time left",
                               "Encrypting report.txt",
                               {450 * MiB, GiB, 3750, false},
                               79,
                               "Encrypting report.txt  43%  450.0 MiB of 1.0 GiB  120.0 MiB/s  0:05 left"},
                      LineCase{"the last block",
                               "Erasing x",
                               {GiB - 16 * KiB, GiB, 60'000, false},
                               79,
                               "Erasing x  99%  1.0 GiB of 1.0 GiB  17.1 MiB/s  0:01 left"},
                      LineCase{"syncing",
                               "Encrypting report.txt",
                               {GiB, GiB, 9000, true},
                               79,
                               "Encrypting report.txt  100%  1.0 GiB  syncing"},
                      LineCase{"a long name is cut",
                               "Encrypting 'a rather long file name.tar.gz'",
                               {0, GiB, 0, false},
                               40,
                               "Encrypting 'a rat...  0%  0 B of 1.0 GiB"},
                      LineCase{"a name is cut between characters",
                               "Reading \xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9",
                               {0, 10, 0, false},
                               30,
                               "Reading \xc3\xa9\xc3\xa9...  0%  0 B of 10 B"},
                      LineCase{
                          "an empty file", "Reading e", {0, 0, 0, false}, 79, "Reading e  100%  0 B of 0 B"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return "Case" + std::to_string(info.index); });

// The meter times the run by the clock it is given and redraws at most
// every 200 ms, whatever the number of blocks.
TEST(ProgressMeterTest, TimesTheRunAndLimitsRedraws) {
  TestClock clock(10 * 3600 * 1000);
  ProgressMeter meter("Encrypting f", clock, 79);
  EXPECT_EQ(meter.Step(0, 100 * MiB), "Encrypting f  0%  0 B of 100.0 MiB");
  clock.Advance(150);
  EXPECT_EQ(meter.Step(MiB, 100 * MiB), std::nullopt);
  clock.Advance(50);
  EXPECT_EQ(meter.Step(2 * MiB, 100 * MiB), "Encrypting f  2%  2.0 MiB of 100.0 MiB");
  clock.Advance(1800);
  EXPECT_EQ(meter.Step(20 * MiB, 100 * MiB),
            "Encrypting f  20%  20.0 MiB of 100.0 MiB  10.0 MiB/s  0:08 left");
  // The sync is always shown, however soon after the last line.
  clock.Advance(1);
  EXPECT_EQ(meter.Syncing(100 * MiB), "Encrypting f  100%  100.0 MiB  syncing");
}

TEST(ProgressMeterTest, ARunPastMidnightKeepsItsTime) {
  TestClock clock(86'400'000 - 500);
  ProgressMeter meter("Reading f", clock, 79);
  ASSERT_TRUE(meter.Step(0, 4 * MiB).has_value());
  clock.Set(1500);  // two seconds later, the next day
  EXPECT_EQ(meter.Step(2 * MiB, 4 * MiB), "Reading f  50%  2.0 MiB of 4.0 MiB  1.0 MiB/s  0:02 left");
}

}  // namespace
}  // namespace quorvant::cli
