#include "analysis/stat_figures.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace quorvant {
namespace {

std::string Value(const StatValueTexts& values, StatFigure figure) {
  return values[static_cast<std::size_t>(figure)];
}

TEST(StatFiguresTest, CircleTestAtItsBoundary) {
  struct Pair {
    unsigned first;
    unsigned second;
    bool inside;
  };
  const Pair pairs[] = {
      {0, 0, true},      {255, 0, true},    // 65280
      {255, 1, true},                       // 65282
      {0, 255, true},    {180, 181, true},  // 65522
      {181, 181, false},                    // 65884
      {255, 255, false}, {254, 30, false},  // 64770 + 930 = 65700
  };
  for (const Pair& pair : pairs) {
    EXPECT_EQ(PairInsideCircle(pair.first, pair.second), pair.inside) << pair.first << ", " << pair.second;
  }
}

// Totals of a file of `length` bytes with every value equally often and a
// successor sum chosen so that the serial correlation is exactly one half:
// with c bytes of each value, n·t3 − t2² = 357908480·c² and t2² = 1065369600·c².
ByteTotals UniformTotalsWithHalfCorrelation(std::uint64_t each) {
  ByteTotals totals;
  totals.ByteCounts.fill(each);
  totals.Length = 256 * each;
  totals.CircleScore = 8 * (totals.Length / 2);
  totals.SuccessorProductSum = static_cast<unsigned __int128>(4860640) * each;
  return totals;
}

TEST(StatFiguresTest, HugeLengthsKeepExactFigures) {
  // 2^54 bytes takes the exact 128-bit path, 2^56 the wide floating one.
  for (const std::uint64_t each : {std::uint64_t{1} << 46, std::uint64_t{1} << 48}) {
    SCOPED_TRACE(each);
    const FileStatistics statistics = ComputeFileStatistics(UniformTotalsWithHalfCorrelation(each));
    EXPECT_EQ(Value(statistics.StatValues, StatFigure::SerialCorrelation), "0.500000");
    EXPECT_EQ(Value(statistics.StatValues, StatFigure::Entropy), "8.000000");
    EXPECT_EQ(Value(statistics.StatValues, StatFigure::ChiSquare), "0.00");
    EXPECT_EQ(Value(statistics.StatValues, StatFigure::ArithmeticMean), "127.5000");
    EXPECT_EQ(Value(statistics.StatValues, StatFigure::BitZeroRatio), "0.500000");
    EXPECT_EQ(statistics.Figures.TotalBits, 8 * 256 * each);
    EXPECT_EQ(statistics.Figures.OneBits, 4 * 256 * each);
  }
  const FileStatistics statistics =
      ComputeFileStatistics(UniformTotalsWithHalfCorrelation(std::uint64_t{1} << 46));
  EXPECT_EQ(Value(statistics.StatValues, StatFigure::BitTotal), "144 115 188 075 855 872");
  EXPECT_EQ(Value(statistics.StatValues, StatFigure::ExpectedValue), "70 368 744 177 664");
}

TEST(StatFiguresTest, RatiosAreTheSharesOfZeroAndOneBits) {
  // Three bytes 0x0F, 0xFF, 0x01: 13 one bits of 24.
  ByteTotals totals;
  totals.ByteCounts[0x0F] = 1;
  totals.ByteCounts[0xFF] = 1;
  totals.ByteCounts[0x01] = 1;
  totals.Length = 3;
  const StatFigures figures = ComputeStatFigures(totals);
  EXPECT_EQ(figures.OneBits, 13u);
  EXPECT_EQ(figures.ZeroBits, 11u);
  EXPECT_DOUBLE_EQ(figures.ZeroBitRatio, 11.0 / 24);
  EXPECT_DOUBLE_EQ(figures.OneBitRatio, 13.0 / 24);
  const StatValueTexts values = FormatStatValues(figures);
  EXPECT_EQ(Value(values, StatFigure::BitZeroRatio), "0.458333");
  EXPECT_EQ(Value(values, StatFigure::BitOneRatio), "0.541667");
}

TEST(StatFiguresTest, ReportListsLabelsWithValuesThenOptionalCounts) {
  ByteTotals totals;
  for (unsigned value = 0; value < 256; ++value) totals.ByteCounts[value] = 1;
  totals.ByteCounts[65] = 1234;
  totals.Length = 255 + 1234;
  FileStatistics statistics = ComputeFileStatistics(totals);
  statistics.StatValues[0] = "7.123456";

  const std::string short_report = RenderStatisticsReport(statistics, ReportCounts::Omit);
  EXPECT_EQ(short_report.rfind("Entropy 7.123456\nChi square ", 0), 0u) << short_report;
  EXPECT_NE(short_report.find("\nBit total 11 912\n"), std::string::npos) << short_report;
  EXPECT_NE(short_report.find("\nBit 1 ratio "), std::string::npos);
  EXPECT_EQ(std::count(short_report.begin(), short_report.end(), '\n'), 11);
  EXPECT_EQ(short_report.substr(short_report.size() - std::string("Expected value 6\n").size()),
            "Expected value 6\n");

  const std::string full_report = RenderStatisticsReport(statistics, ReportCounts::Include);
  EXPECT_EQ(full_report.rfind(short_report, 0), 0u);
  EXPECT_NE(full_report.find("\n0 1\n1 1\n"), std::string::npos);
  EXPECT_NE(full_report.find("\n65 1 234\n"), std::string::npos);
  EXPECT_EQ(full_report.substr(full_report.size() - 7), "\n255 1\n");
  EXPECT_EQ(std::count(full_report.begin(), full_report.end(), '\n'), 11 + 256);
}

}  // namespace
}  // namespace quorvant
