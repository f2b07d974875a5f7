#include "analysis/statistics_accumulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tests/analysis/statistics_fixtures.h"

namespace quorvant {
namespace {

using testing::Bytes;

// The totals worked out directly from their definitions, one byte at a time.
ByteTotals DirectTotals(const Bytes& bytes) {
  ByteTotals totals;
  const std::size_t length = bytes.size();
  totals.Length = length;
  for (std::size_t index = 0; index < length; ++index) {
    ++totals.ByteCounts[bytes[index]];
    totals.SuccessorProductSum += unsigned{bytes[index]} * bytes[(index + 1) % length];
  }
  for (std::size_t index = 0; index < length; index += 2) {
    const unsigned first = bytes[index];
    const unsigned second = index + 1 < length ? bytes[index + 1] : 0;
    if (first * (first + 1) + second * (second + 1) < 65535) totals.CircleScore += 8;
  }
  return totals;
}

void ExpectSameTotals(const ByteTotals& actual, const ByteTotals& expected) {
  EXPECT_EQ(actual.Length, expected.Length);
  EXPECT_EQ(actual.ByteCounts, expected.ByteCounts);
  EXPECT_EQ(actual.CircleScore, expected.CircleScore);
  EXPECT_TRUE(actual.SuccessorProductSum == expected.SuccessorProductSum)
      << static_cast<std::uint64_t>(actual.SuccessorProductSum) << " vs "
      << static_cast<std::uint64_t>(expected.SuccessorProductSum);
}

ByteTotals InChunks(const Bytes& bytes, std::size_t chunk_length) {
  StatisticsAccumulator accumulator;
  for (std::size_t offset = 0; offset < bytes.size(); offset += chunk_length) {
    const std::size_t length = std::min(chunk_length, bytes.size() - offset);
    accumulator.Add(std::span(bytes).subspan(offset, length));
  }
  return accumulator.Totals();
}

// Every length up to a few vector steps, so each tail and straddle of the
// 16-byte loop is met, on data that is random, all 255 (the largest products)
// and all 0.
TEST(StatisticsAccumulatorTest, ShortInputsMatchTheDefinitions) {
  for (std::size_t length = 0; length <= 80; ++length) {
    for (const Bytes& bytes : {testing::LcgBytes(length + 1, length), Bytes(length, 255), Bytes(length, 0)}) {
      SCOPED_TRACE("length " + std::to_string(length) + " first byte " +
                   std::to_string(bytes.empty() ? -1 : bytes[0]));
      StatisticsAccumulator accumulator;
      accumulator.Add(bytes);
      ExpectSameTotals(accumulator.Totals(), DirectTotals(bytes));
    }
  }
}

// Every pair whose circle sum a·(a + 1) + b·(b + 1) lies near 65535, twice:
// once at even offsets, where it is a pair, and once shifted by one byte.
Bytes PairsNearTheCircle() {
  Bytes bytes;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const int sum = static_cast<int>(first * (first + 1) + second * (second + 1));
      if (std::abs(sum - 65535) < 800) bytes.insert(bytes.end(), {std::uint8_t(first), std::uint8_t(second)});
    }
  }
  Bytes shifted = bytes;
  shifted.insert(shifted.begin(), 7);
  bytes.insert(bytes.end(), shifted.begin(), shifted.end());
  return bytes;
}

TEST(StatisticsAccumulatorTest, PairsAtTheCircleEdgeMatchTheDefinition) {
  const Bytes bytes = PairsNearTheCircle();
  ASSERT_GT(bytes.size(), 1000u);
  StatisticsAccumulator accumulator;
  accumulator.Add(bytes);
  ExpectSameTotals(accumulator.Totals(), DirectTotals(bytes));
}

// Long runs fill the vector lanes to their flush points: 600000 bytes of 255
// add 4 · 255² per lane and step for 37500 steps.
TEST(StatisticsAccumulatorTest, LongInputsMatchTheDefinitions) {
  for (const Bytes& bytes :
       {Bytes(600001, 255), testing::LcgBytes(5, 300000), testing::GenerateBytes("doubled 70001")}) {
    SCOPED_TRACE(bytes.size());
    StatisticsAccumulator accumulator;
    accumulator.Add(bytes);
    ExpectSameTotals(accumulator.Totals(), DirectTotals(bytes));
  }
}

TEST(StatisticsAccumulatorTest, TotalsDoNotDependOnHowTheBytesAreCut) {
  const std::vector<Bytes> inputs = {
      testing::LcgBytes(11, 40001),
      testing::GenerateBytes("doubled 33333"),
      testing::GenerateBytes("ramp 16385"),
      Bytes(1, 200),
  };
  for (const Bytes& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const ByteTotals whole = DirectTotals(bytes);
    for (const std::size_t chunk_length : {1, 2, 3, 15, 16, 17, 33, 4096, 16383, 16384, 16385}) {
      SCOPED_TRACE("chunk " + std::to_string(chunk_length));
      ExpectSameTotals(InChunks(bytes, chunk_length), whole);
    }
    // Cuts at random places, odd and even.
    std::mt19937 random(static_cast<unsigned>(bytes.size()));
    StatisticsAccumulator accumulator;
    for (std::size_t offset = 0; offset < bytes.size();) {
      const std::size_t length = std::min<std::size_t>(1 + random() % 300, bytes.size() - offset);
      accumulator.Add(std::span(bytes).subspan(offset, length));
      offset += length;
    }
    ExpectSameTotals(accumulator.Totals(), whole);
  }
}

// Ranges counted apart and appended in order give the totals of one pass:
// cuts at every even offset, into two ranges and into three (the middle one
// empty, short or longer), on data whose seams meet large products and
// circle-edge pairs.
TEST(StatisticsAccumulatorTest, AppendedRangesMatchOnePass) {
  for (const Bytes& bytes : {testing::LcgBytes(21, 77), Bytes(41, 255), PairsNearTheCircle()}) {
    SCOPED_TRACE(bytes.size());
    const ByteTotals whole = DirectTotals(bytes);
    const std::size_t step = bytes.size() > 100 ? 38 : 2;
    for (std::size_t first_cut = 0; first_cut <= bytes.size(); first_cut += step) {
      for (const std::size_t gap : {0, 2, 10}) {
        const std::size_t second_cut = std::min(bytes.size(), first_cut + gap);
        SCOPED_TRACE("cuts " + std::to_string(first_cut) + ", " + std::to_string(second_cut));
        StatisticsAccumulator first;
        StatisticsAccumulator second;
        StatisticsAccumulator third;
        first.Add(std::span(bytes).first(first_cut));
        second.Add(std::span(bytes).subspan(first_cut, second_cut - first_cut));
        third.Add(std::span(bytes).subspan(second_cut));
        first.Append(second);
        first.Append(third);
        ExpectSameTotals(first.Totals(), whole);
      }
    }
  }
}

// Every kernel that runs here, through the accumulator: cut at odd and even
// places, so that pieces start after the first byte of a pair, and in
// pieces around the lanes' widening point of each step width.
class AccumulatorKernelTest : public ::testing::TestWithParam<ScanKernel> {};

TEST_P(AccumulatorKernelTest, EveryKernelGivesTheTotalsOfTheDefinitions) {
  if (!ScanKernelRuns(GetParam())) GTEST_SKIP() << ScanKernelName(GetParam()) << " does not run here";
  const std::vector<Bytes> inputs = {
      Bytes(),
      Bytes(1, 200),
      testing::LcgBytes(13, 99),
      PairsNearTheCircle(),
      Bytes(64 * 8192 + 65, 255),
      testing::LcgBytes(17, 3 * 64 * 8192 + 7),
  };
  for (const Bytes& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const ByteTotals whole = DirectTotals(bytes);
    for (const std::size_t chunk_length : {std::size_t{1}, std::size_t{63}, std::size_t{16385},
                                           std::size_t{32 * 8192 + 1}, std::size_t{1} << 20}) {
      SCOPED_TRACE("chunk " + std::to_string(chunk_length));
      StatisticsAccumulator accumulator(GetParam());
      for (std::size_t offset = 0; offset < bytes.size(); offset += chunk_length) {
        accumulator.Add(std::span(bytes).subspan(offset, std::min(chunk_length, bytes.size() - offset)));
      }
      ExpectSameTotals(accumulator.Totals(), whole);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllKernels, AccumulatorKernelTest, ::testing::ValuesIn(AllScanKernels),
                         [](const ::testing::TestParamInfo<ScanKernel>& info) {
                           return std::string(ScanKernelName(info.param));
                         });

TEST(StatisticsAccumulatorTest, EmptyPiecesChangeNothing) {
  const Bytes bytes = testing::LcgBytes(3, 101);
  StatisticsAccumulator accumulator;
  accumulator.Add({});
  accumulator.Add(std::span(bytes).first(50));
  accumulator.Add({});
  accumulator.Add(std::span(bytes).subspan(50));
  ExpectSameTotals(accumulator.Totals(), DirectTotals(bytes));
  ExpectSameTotals(StatisticsAccumulator().Totals(), DirectTotals({}));
}

}  // namespace
}  // namespace quorvant
