#include "analysis/statistics_accumulator.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/verify.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvant {
namespace {

using PartialCounts = std::array<std::array<std::uint32_t, 256>, 4>;

struct PieceSums {
  std::uint64_t successor_sum = 0;
  std::uint64_t inside_pairs = 0;
};

// Pieces are cut so that a kernel's 64-bit sums cannot overflow
// (255 · 255 · 2^30 < 2^46) and the 32-bit counts are folded in time.
constexpr std::size_t MaxSliceLength = std::size_t{1} << 30;

// data[0] lies at an even file offset. Counts every byte, adds
// data[i] · data[i + 1] for every i + 1 < size, and counts the pairs
// (data[2j], data[2j + 1]) inside the circle. Handles bytes from `start` on.
PieceSums ScanScalar(const std::uint8_t* data, std::size_t start, std::size_t size, PartialCounts& counts) {
  PieceSums sums;
  for (std::size_t index = start; index < size; ++index) {
    ++counts[index & 3][data[index]];
    if (index + 1 < size) sums.successor_sum += unsigned{data[index]} * data[index + 1];
  }
  for (std::size_t index = start; index + 1 < size; index += 2) {
    sums.inside_pairs += PairInsideCircle(data[index], data[index + 1]) ? 1 : 0;
  }
  return sums;
}

#if defined(__SSE2__)

std::uint64_t SumLanes(__m128i lanes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &lanes, sizeof halves);
  return halves[0] + halves[1];
}

// Adds the four unsigned 32-bit lanes of `lanes` into two 64-bit lanes.
__m128i WidenInto(__m128i wide, __m128i lanes) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_add_epi64(wide, _mm_add_epi64(_mm_unpacklo_epi32(lanes, zero), _mm_unpackhi_epi32(lanes, zero)));
}

// 16 bytes a step. The byte counts are table increments (the part that
// bounds the speed); the products and the circle test run beside them in
// vector registers: bytes widened to 16-bit lanes, pmaddwd of the lanes with
// the lanes one byte further gives x0·x1 + x1·x2, and of the lanes with
// themselves plus one gives a·(a + 1) + b·(b + 1) for a pair at once.
PieceSums ScanPiece(const std::uint8_t* data, std::size_t size, PartialCounts& counts) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i circle_limit = _mm_set1_epi32(65535);
  __m128i product_lanes = zero;  // each step adds at most 4 · 255², so flush
  __m128i inside_lanes = zero;   // every 8192 steps, long before 2^32
  __m128i product_wide = zero;
  __m128i inside_wide = zero;
  unsigned steps = 0;
  std::size_t index = 0;
  // The step reads one byte past its 16, so it stops while one is left.
  for (; index + 16 < size; index += 16) {
    std::uint64_t low_word;
    std::uint64_t high_word;
    std::memcpy(&low_word, data + index, 8);
    std::memcpy(&high_word, data + index + 8, 8);
#pragma GCC unroll 8
    for (int shift = 0; shift < 64; shift += 8) {
      ++counts[(shift >> 3) & 3][(low_word >> shift) & 255];
      ++counts[(shift >> 3) & 3][(high_word >> shift) & 255];
    }

    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
    const __m128i next_bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index + 1));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    const __m128i high = _mm_unpackhi_epi8(bytes, zero);
    const __m128i next_low = _mm_unpacklo_epi8(next_bytes, zero);
    const __m128i next_high = _mm_unpackhi_epi8(next_bytes, zero);
    product_lanes = _mm_add_epi32(
        product_lanes, _mm_add_epi32(_mm_madd_epi16(low, next_low), _mm_madd_epi16(high, next_high)));
    const __m128i circle_low = _mm_madd_epi16(low, _mm_add_epi16(low, one));
    const __m128i circle_high = _mm_madd_epi16(high, _mm_add_epi16(high, one));
    // A comparison yields -1 per inside pair; subtracting it counts up.
    inside_lanes = _mm_sub_epi32(inside_lanes, _mm_add_epi32(_mm_cmpgt_epi32(circle_limit, circle_low),
                                                             _mm_cmpgt_epi32(circle_limit, circle_high)));
    if (++steps == 8192) {
      steps = 0;
      product_wide = WidenInto(product_wide, product_lanes);
      inside_wide = WidenInto(inside_wide, inside_lanes);
      product_lanes = zero;
      inside_lanes = zero;
    }
  }
  PieceSums sums = ScanScalar(data, index, size, counts);
  sums.successor_sum += SumLanes(WidenInto(product_wide, product_lanes));
  sums.inside_pairs += SumLanes(WidenInto(inside_wide, inside_lanes));
  return sums;
}

#else

PieceSums ScanPiece(const std::uint8_t* data, std::size_t size, PartialCounts& counts) {
  return ScanScalar(data, 0, size, counts);
}

#endif

}  // namespace

void StatisticsAccumulator::Add(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t slice_length = std::min(bytes.size(), MaxSliceLength);
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
  const PieceSums sums = ScanPiece(data + start, size - start, partial_counts_);
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
