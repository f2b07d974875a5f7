#include "analysis/statistics_accumulator.h"

#include <algorithm>
#include <limits>

#include "base/verify.h"

namespace quorvant {

StatisticsAccumulator::StatisticsAccumulator(ScanKernel kernel) : kernel_(kernel) {
  Verify(ScanKernelRuns(kernel));
}

void StatisticsAccumulator::Add(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t slice_length = std::min(bytes.size(), MaxScanLength);
    AddSlice(bytes.first(slice_length));
    bytes = bytes.subspan(slice_length);
  }
}

void StatisticsAccumulator::AddSlice(std::span<const std::uint8_t> slice) {
  if (partial_bytes_ + slice.size() > std::numeric_limits<std::uint32_t>::max()) FoldPartialCounts();
  partial_bytes_ += slice.size();

  const std::uint8_t* data = slice.data();
  const std::size_t size = slice.size();
  if (length_ == 0) {
    first_byte_ = data[0];
  } else {
    successor_sum_ += unsigned{last_byte_} * data[0];
  }
  std::size_t start = 0;
  if (length_ % 2 == 1) {
    // The previous slice ended after the first byte of a pair.
    inside_pairs_ += PairInsideCircle(last_byte_, data[0]) ? 1 : 0;
    ++partial_counts_[0][data[0]];
    if (size > 1) successor_sum_ += unsigned{data[0]} * data[1];
    start = 1;
  }
  const PieceSums sums = ScanPiece(kernel_, slice.subspan(start), partial_counts_);
  successor_sum_ += sums.successor_sum;
  inside_pairs_ += sums.inside_pairs;
  length_ += size;
  last_byte_ = data[size - 1];
}

void StatisticsAccumulator::Append(const StatisticsAccumulator& later) {
  if (later.length_ == 0) return;
  Verify(length_ % 2 == 0);
  for (std::size_t value = 0; value < 256; ++value) {
    std::uint64_t count = later.byte_counts_[value];
    for (const auto& table : later.partial_counts_) count += table[value];
    byte_counts_[value] += count;
  }
  if (length_ == 0) {
    first_byte_ = later.first_byte_;
  } else {
    successor_sum_ += unsigned{last_byte_} * later.first_byte_;
  }
  successor_sum_ += later.successor_sum_;
  inside_pairs_ += later.inside_pairs_;
  length_ += later.length_;
  last_byte_ = later.last_byte_;
}

void StatisticsAccumulator::FoldPartialCounts() {
  for (auto& table : partial_counts_) {
    for (std::size_t value = 0; value < 256; ++value) byte_counts_[value] += table[value];
    table.fill(0);
  }
  partial_bytes_ = 0;
}

ByteTotals StatisticsAccumulator::Totals() const {
  ByteTotals totals;
  totals.ByteCounts = byte_counts_;
  for (const auto& table : partial_counts_) {
    for (std::size_t value = 0; value < 256; ++value) totals.ByteCounts[value] += table[value];
  }
  totals.Length = length_;
  std::uint64_t inside_pairs = inside_pairs_;
  // An odd length leaves the last byte paired with a 0 that is no byte of the file.
  if (length_ % 2 == 1 && PairInsideCircle(last_byte_, 0)) ++inside_pairs;
  totals.CircleScore = 8 * inside_pairs;
  totals.SuccessorProductSum = successor_sum_;
  if (length_ > 0) totals.SuccessorProductSum += unsigned{last_byte_} * first_byte_;
  return totals;
}

}  // namespace quorvant
