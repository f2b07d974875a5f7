#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "analysis/stat_figures.h"
#include "analysis/statistics_kernels.h"

namespace quorvant {

// Gathers the ByteTotals of a file from its bytes, fed in file order in
// pieces of any size: the totals do not depend on where the pieces are cut.
// A pair that straddles two pieces, and the product of the last byte of one
// piece with the first of the next, are carried over.
class StatisticsAccumulator {
 public:
  // Counts with the fastest kernel this processor runs.
  StatisticsAccumulator() = default;
  // Counts with `kernel`, which must run here (tests and benchmarks).
  explicit StatisticsAccumulator(ScanKernel kernel);

  void Add(std::span<const std::uint8_t> bytes);

  // Takes in the totals of `later`, which gathered the bytes that follow
  // this one's in the file, as if they had been added here. Unless `later`
  // is empty, this one's length must be even: `later` paired its bytes from
  // its own first byte on. The product across the seam is added.
  void Append(const StatisticsAccumulator& later);

  // The totals of everything added so far, as if the file ended here: the
  // last byte of an odd length pairs with a 0 (which is not counted as a
  // byte), and the last byte's successor is the first byte.
  ByteTotals Totals() const;

 private:
  void AddSlice(std::span<const std::uint8_t> slice);
  void FoldPartialCounts();

  ScanKernel kernel_ = FastestScanKernel();
  // The kernel counts into 32-bit tables; they are folded into byte_counts_
  // before any of them could overflow.
  CountTables partial_counts_{};
  std::uint64_t partial_bytes_ = 0;
  ByteHistogram byte_counts_{};
  std::uint64_t length_ = 0;
  std::uint64_t inside_pairs_ = 0;
  unsigned __int128 successor_sum_ = 0;  // without the wrap-around product
  std::uint8_t first_byte_ = 0;
  std::uint8_t last_byte_ = 0;
};

}  // namespace quorvant
