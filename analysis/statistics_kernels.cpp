#include "analysis/statistics_kernels.h"

#include <algorithm>
#include <cstring>

#include "analysis/stat_figures.h"
#include "base/verify.h"

#if defined(__x86_64__) && defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define QUORVANT_X86_KERNELS 1
#include <immintrin.h>
#else
#define QUORVANT_X86_KERNELS 0
#endif

// Where the time goes: the byte counts are table increments, a load and a
// store per byte at scattered places, and a core does about one of them a
// cycle, so they bound every kernel (about 3.5 GB/s on a 3.5 GHz core;
// halving them with a table of byte pairs only moves the bound to the level-2
// cache). The sums run beside them in vector registers; the wider the
// registers, the fewer instructions they take from the increments. With
// AVX2 or AVX-512 they cost next to nothing: on a 2-core AMD EPYC those
// kernels count random bytes at 3.6 GB/s, as fast as a bare 16-table count
// without the sums, and 4, 8 or 16 tables, 32- or 64-bit loads and the table
// order (by value or by table) all land there too. A table of byte pairs
// reached 4.3 GB/s on random bytes there but 1.1 on zeros, where every
// increment waits for the one before; counting by bytes the 64-byte blocks
// whose pairs repeat within three pairs kept other data within 3 % of the
// byte tables and random bytes at 4.1 GB/s, but only while the piece sat in
// the level-2 cache: streamed from memory on a busy machine, its 128 KiB
// table made the pass about 15 % slower than the byte tables.

namespace quorvant {
namespace {

PieceSums ScanPortable(const std::uint8_t* data, std::size_t start, std::size_t size, CountTables& counts) {
  PieceSums sums;
  for (std::size_t index = start; index < size; ++index) {
    ++counts[index % CountTableCount][data[index]];
    if (index + 1 < size) sums.successor_sum += unsigned{data[index]} * data[index + 1];
  }
  for (std::size_t index = start; index + 1 < size; index += 2) {
    sums.inside_pairs += PairInsideCircle(data[index], data[index + 1]) ? 1 : 0;
  }
  return sums;
}

#if QUORVANT_X86_KERNELS

static_assert(CountTableCount == 16);

// Counts `blocks` × 16 bytes: two 64-bit words a step, byte k of the first
// into table k and of the second into table 8 + k, as the portable loop
// does. Inlined into each kernel, so it is compiled for its target.
__attribute__((always_inline)) inline void CountBlocks(const std::uint8_t* data, std::size_t blocks,
                                                       CountTables& counts) {
#pragma GCC unroll 4
  for (std::size_t block = 0; block < blocks; ++block, data += 16) {
    std::uint64_t low_word;
    std::uint64_t high_word;
    std::memcpy(&low_word, data, 8);
    std::memcpy(&high_word, data + 8, 8);
#pragma GCC unroll 8
    for (int shift = 0; shift < 64; shift += 8) {
      ++counts[shift >> 3][(low_word >> shift) & 255];
      ++counts[8 + (shift >> 3)][(high_word >> shift) & 255];
    }
  }
}

// Every kernel takes steps of its width W and reads one byte past each step
// (the successor of its last byte), so it stops while one byte is left; the
// portable loop does the rest. The 32-bit lanes are widened every
// LaneSteps steps: a lane gains at most 2 · 2 · 255² = 260100 a step, and
// 8192 · 260100 < 2^32.
constexpr std::size_t LaneSteps = 8192;

// The circle test of a pair (a, b) is a·(a + 1) + b·(b + 1) < 65535: with
// the bytes in 16-bit lanes, pmaddwd of the lanes with themselves plus one
// gives the left side of two neighbouring lanes' pair in one 32-bit lane,
// and pmaddwd of the lanes with those one byte further gives x0·x1 + x1·x2.
// (sum − 65535) >> 31 is 1 exactly when sum < 65535, as sum < 2^31.

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

PieceSums ScanSse2(const std::uint8_t* data, std::size_t size, CountTables& counts) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i circle_limit = _mm_set1_epi32(65535);
  __m128i product_wide = zero;
  __m128i inside_wide = zero;
  std::size_t index = 0;
  while (index + 16 < size) {
    const std::size_t steps = std::min((size - index - 1) / 16, LaneSteps);
    __m128i product_lanes = zero;
    __m128i inside_lanes = zero;
    for (std::size_t step = 0; step < steps; ++step, index += 16) {
      CountBlocks(data + index, 1, counts);
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
      inside_lanes = _mm_add_epi32(
          inside_lanes, _mm_add_epi32(_mm_srli_epi32(_mm_sub_epi32(circle_low, circle_limit), 31),
                                      _mm_srli_epi32(_mm_sub_epi32(circle_high, circle_limit), 31)));
    }
    product_wide = WidenInto(product_wide, product_lanes);
    inside_wide = WidenInto(inside_wide, inside_lanes);
  }
  PieceSums sums = ScanPortable(data, index, size, counts);
  sums.successor_sum += SumLanes(product_wide);
  sums.inside_pairs += SumLanes(inside_wide);
  return sums;
}

__attribute__((target("avx2"))) std::uint64_t SumLanesAvx2(__m256i lanes) {
  const __m256i wide = _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(lanes)),
                                        _mm256_cvtepu32_epi64(_mm256_extracti128_si256(lanes, 1)));
  std::uint64_t quarters[4];
  std::memcpy(quarters, &wide, sizeof quarters);
  return quarters[0] + quarters[1] + quarters[2] + quarters[3];
}

__attribute__((target("avx2"))) PieceSums ScanAvx2(const std::uint8_t* data, std::size_t size,
                                                   CountTables& counts) {
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i circle_limit = _mm256_set1_epi32(65535);
  PieceSums sums;
  std::size_t index = 0;
  while (index + 32 < size) {
    const std::size_t steps = std::min((size - index - 1) / 32, LaneSteps);
    __m256i product_lanes = _mm256_setzero_si256();
    __m256i inside_lanes = _mm256_setzero_si256();
    for (std::size_t step = 0; step < steps; ++step, index += 32) {
      CountBlocks(data + index, 2, counts);
      const std::uint8_t* bytes = data + index;
      const __m256i low = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
      const __m256i high =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16)));
      const __m256i next_low =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 1)));
      const __m256i next_high =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 17)));
      product_lanes = _mm256_add_epi32(product_lanes, _mm256_add_epi32(_mm256_madd_epi16(low, next_low),
                                                                       _mm256_madd_epi16(high, next_high)));
      const __m256i circle_low = _mm256_madd_epi16(low, _mm256_add_epi16(low, one));
      const __m256i circle_high = _mm256_madd_epi16(high, _mm256_add_epi16(high, one));
      inside_lanes = _mm256_add_epi32(
          inside_lanes, _mm256_add_epi32(_mm256_srli_epi32(_mm256_sub_epi32(circle_low, circle_limit), 31),
                                         _mm256_srli_epi32(_mm256_sub_epi32(circle_high, circle_limit), 31)));
    }
    sums.successor_sum += SumLanesAvx2(product_lanes);
    sums.inside_pairs += SumLanesAvx2(inside_lanes);
  }
  const PieceSums tail = ScanPortable(data, index, size, counts);
  sums.successor_sum += tail.successor_sum;
  sums.inside_pairs += tail.inside_pairs;
  return sums;
}

// GCC 12's AVX-512 intrinsics fill the unused operand of their masked forms
// with an "undefined" vector, which its own warning takes for uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

__attribute__((target("avx512f,avx512bw"))) std::uint64_t SumLanesAvx512(__m512i lanes) {
  const __m512i wide = _mm512_add_epi64(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(lanes)),
                                        _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(lanes, 1)));
  return static_cast<std::uint64_t>(_mm512_reduce_add_epi64(wide));
}

__attribute__((target("avx512f,avx512bw"))) PieceSums ScanAvx512(const std::uint8_t* data, std::size_t size,
                                                                 CountTables& counts) {
  const __m512i one = _mm512_set1_epi16(1);
  const __m512i circle_limit = _mm512_set1_epi32(65535);
  PieceSums sums;
  std::size_t index = 0;
  while (index + 64 < size) {
    const std::size_t steps = std::min((size - index - 1) / 64, LaneSteps);
    __m512i product_lanes = _mm512_setzero_si512();
    __m512i inside_lanes = _mm512_setzero_si512();
    for (std::size_t step = 0; step < steps; ++step, index += 64) {
      CountBlocks(data + index, 4, counts);
      const std::uint8_t* bytes = data + index;
      const __m512i low = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
      const __m512i high =
          _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32)));
      const __m512i next_low =
          _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 1)));
      const __m512i next_high =
          _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 33)));
      product_lanes = _mm512_add_epi32(product_lanes, _mm512_add_epi32(_mm512_madd_epi16(low, next_low),
                                                                       _mm512_madd_epi16(high, next_high)));
      const __m512i circle_low = _mm512_madd_epi16(low, _mm512_add_epi16(low, one));
      const __m512i circle_high = _mm512_madd_epi16(high, _mm512_add_epi16(high, one));
      inside_lanes = _mm512_add_epi32(
          inside_lanes, _mm512_add_epi32(_mm512_srli_epi32(_mm512_sub_epi32(circle_low, circle_limit), 31),
                                         _mm512_srli_epi32(_mm512_sub_epi32(circle_high, circle_limit), 31)));
    }
    sums.successor_sum += SumLanesAvx512(product_lanes);
    sums.inside_pairs += SumLanesAvx512(inside_lanes);
  }
  const PieceSums tail = ScanPortable(data, index, size, counts);
  sums.successor_sum += tail.successor_sum;
  sums.inside_pairs += tail.inside_pairs;
  return sums;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

// The first Intel processors with AVX-512 (Skylake, Cascade Lake and Cooper
// Lake servers) lower their clock while 512-bit multiplies run; the
// increments, which bound the pass, would then run slower than beside AVX2.
bool Avx512LowersTheClock() {
#if QUORVANT_X86_KERNELS
  return __builtin_cpu_is("skylake-avx512");
#else
  return false;
#endif
}

ScanKernel ChooseFastestScanKernel() {
  if (ScanKernelRuns(ScanKernel::Avx512) && !Avx512LowersTheClock()) return ScanKernel::Avx512;
  for (const ScanKernel kernel : {ScanKernel::Avx2, ScanKernel::Sse2}) {
    if (ScanKernelRuns(kernel)) return kernel;
  }
  return ScanKernel::Portable;
}

}  // namespace

const char* ScanKernelName(ScanKernel kernel) {
  switch (kernel) {
    case ScanKernel::Portable: return "portable";
    case ScanKernel::Sse2: return "sse2";
    case ScanKernel::Avx2: return "avx2";
    case ScanKernel::Avx512: return "avx512";
  }
  return "?";
}

bool ScanKernelRuns(ScanKernel kernel) {
  switch (kernel) {
    case ScanKernel::Portable: return true;
#if QUORVANT_X86_KERNELS
    // The checks include the operating system's saving of the wide registers.
    case ScanKernel::Sse2: return true;
    case ScanKernel::Avx2: return __builtin_cpu_supports("avx2");
    case ScanKernel::Avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    case ScanKernel::Sse2:
    case ScanKernel::Avx2:
    case ScanKernel::Avx512: return false;
#endif
  }
  return false;
}

ScanKernel FastestScanKernel() {
  static const ScanKernel fastest = ChooseFastestScanKernel();
  return fastest;
}

PieceSums ScanPiece(ScanKernel kernel, std::span<const std::uint8_t> piece, CountTables& counts) {
  Verify(piece.size() <= MaxScanLength);
  Verify(ScanKernelRuns(kernel));
  switch (kernel) {
#if QUORVANT_X86_KERNELS
    case ScanKernel::Sse2: return ScanSse2(piece.data(), piece.size(), counts);
    case ScanKernel::Avx2: return ScanAvx2(piece.data(), piece.size(), counts);
    case ScanKernel::Avx512: return ScanAvx512(piece.data(), piece.size(), counts);
#endif
    default: return ScanPortable(piece.data(), 0, piece.size(), counts);
  }
}

}  // namespace quorvant
