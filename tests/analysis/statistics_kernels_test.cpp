#include "analysis/statistics_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/analysis/statistics_fixtures.h"

namespace quorvant {
namespace {

using testing::Bytes;

struct PieceResult {
  std::array<std::uint64_t, 256> counts{};
  std::uint64_t successor_sum = 0;
  std::uint64_t inside_pairs = 0;
};

// A piece's results worked out from their definitions, one byte at a time.
PieceResult DirectPiece(std::span<const std::uint8_t> bytes) {
  PieceResult result;
  for (std::size_t index = 0; index < bytes.size(); ++index) {
    ++result.counts[bytes[index]];
    if (index + 1 < bytes.size()) result.successor_sum += unsigned{bytes[index]} * bytes[index + 1];
  }
  for (std::size_t index = 0; index + 1 < bytes.size(); index += 2) {
    const unsigned first = bytes[index];
    const unsigned second = bytes[index + 1];
    if (first * (first + 1) + second * (second + 1) < 65535) ++result.inside_pairs;
  }
  return result;
}

PieceResult ScanWith(ScanKernel kernel, std::span<const std::uint8_t> bytes) {
  CountTables tables{};
  const PieceSums sums = ScanPiece(kernel, bytes, tables);
  PieceResult result;
  for (const auto& table : tables) {
    for (std::size_t value = 0; value < 256; ++value) result.counts[value] += table[value];
  }
  result.successor_sum = sums.successor_sum;
  result.inside_pairs = sums.inside_pairs;
  return result;
}

void ExpectSamePiece(const PieceResult& actual, const PieceResult& expected) {
  EXPECT_EQ(actual.counts, expected.counts);
  EXPECT_EQ(actual.successor_sum, expected.successor_sum);
  EXPECT_EQ(actual.inside_pairs, expected.inside_pairs);
}

// Every pair of byte values (a, b), at even offsets: all circle tests and
// all products.
Bytes EveryPair() {
  Bytes bytes;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      bytes.push_back(static_cast<std::uint8_t>(first));
      bytes.push_back(static_cast<std::uint8_t>(second));
    }
  }
  return bytes;
}

// The widths of the kernels' steps, and the steps between two widenings of
// their 32-bit lanes.
constexpr std::size_t StepWidths[] = {16, 32, 64};
constexpr std::size_t LaneSteps = 8192;

class ScanKernelTest : public ::testing::TestWithParam<ScanKernel> {
 protected:
  void SetUp() override {
    if (!ScanKernelRuns(GetParam())) GTEST_SKIP() << ScanKernelName(GetParam()) << " does not run here";
  }

  // Compares the kernel with the definitions on `bytes` as given and moved
  // off their alignment by 1 to shifts − 1 bytes.
  void ExpectDefinitions(const Bytes& bytes, std::size_t shifts = 4) {
    for (std::size_t shift = 0; shift < shifts; ++shift) {
      SCOPED_TRACE("length " + std::to_string(bytes.size()) + " shift " + std::to_string(shift));
      Bytes shifted(shift, 0x5a);
      shifted.insert(shifted.end(), bytes.begin(), bytes.end());
      const std::span<const std::uint8_t> piece = std::span<const std::uint8_t>(shifted).subspan(shift);
      ExpectSamePiece(ScanWith(GetParam(), piece), DirectPiece(piece));
    }
  }
};

// Lengths 0 to 300: every tail after every number of steps of each width,
// on random bytes, all 255 (the largest products, no pair inside) and all 0.
TEST_P(ScanKernelTest, ShortPiecesMatchTheDefinitions) {
  for (std::size_t length = 0; length <= 300; ++length) {
    ExpectDefinitions(testing::LcgBytes(length + 7, length));
    ExpectDefinitions(Bytes(length, 255));
    ExpectDefinitions(Bytes(length, 0));
  }
}

TEST_P(ScanKernelTest, EveryByteValueAndPairMatchesTheDefinitions) {
  ExpectDefinitions(testing::GenerateBytes("ramp 256"));
  const Bytes pairs = EveryPair();
  ExpectDefinitions(pairs);
  // The same bytes one further: every pair now straddles two pairs.
  ExpectDefinitions(Bytes(pairs.begin() + 1, pairs.end()));
}

// Around the point where each width widens its 32-bit lanes, on all 255,
// where the lanes fill fastest, and on random bytes.
TEST_P(ScanKernelTest, PiecesAroundTheLaneWideningMatchTheDefinitions) {
  for (const std::size_t width : StepWidths) {
    const std::size_t block = width * LaneSteps;
    for (const std::size_t length : {block - 1, block, block + 1, block + 2, block + width, block + width + 1,
                                     2 * block + 3, 3 * block - 5}) {
      ExpectDefinitions(Bytes(length, 255), 2);
      ExpectDefinitions(testing::LcgBytes(width, length), 2);
    }
  }
}

TEST_P(ScanKernelTest, LongPiecesMatchTheDefinitions) {
  ExpectDefinitions(testing::LcgBytes(3, (std::size_t{1} << 21) + 13), 2);
  ExpectDefinitions(testing::GenerateBytes("halves 9 1048577"), 2);
  ExpectDefinitions(testing::GenerateBytes("alternate 1048576"), 2);
}

INSTANTIATE_TEST_SUITE_P(AllKernels, ScanKernelTest, ::testing::ValuesIn(AllScanKernels),
                         [](const ::testing::TestParamInfo<ScanKernel>& info) {
                           return std::string(ScanKernelName(info.param));
                         });

TEST(ScanKernelChoiceTest, TheFastestKernelRunsHere) {
  EXPECT_TRUE(ScanKernelRuns(FastestScanKernel()));
  EXPECT_TRUE(ScanKernelRuns(ScanKernel::Portable));
  std::printf("kernels that run here:");
  for (const ScanKernel kernel : AllScanKernels) {
    if (ScanKernelRuns(kernel)) std::printf(" %s", ScanKernelName(kernel));
  }
  std::printf("; chosen: %s\n", ScanKernelName(FastestScanKernel()));
}

}  // namespace
}  // namespace quorvant
