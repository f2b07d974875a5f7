#pragma once

// The counting kernels of the statistics pass: byte counts, successor
// products and circle pairs of one piece of a file. Several variants give
// the same numbers; the fastest one this CPU runs is chosen at run time, so
// a plain x86-64 build still runs on any x86-64 and builds elsewhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvant {

// The byte counts are spread over sixteen 32-bit tables, byte i of every
// sixteen going to table i, so that neighbouring equal bytes do not wait on
// each other's increment: a run of one value (zeros) would otherwise chain
// the increments of a table through memory. A table's cell grows by at most
// one per sixteen bytes; the caller folds them before 2^32 bytes.
//
// Each table is followed by one unused cache line. Without it the tables lie
// 1 KiB apart and a cell of table k shares its address's low 12 bits with the
// same cell of table k + 4: the processor's early check of a load against
// the stores in flight, which looks at those bits only, then holds the load
// back, and a run of one value slowed the AVX2 kernel by about a tenth.
// Only cells 0 to 255 of a table are counts; the padding stays 0.
inline constexpr std::size_t CountTableCount = 16;
inline constexpr std::size_t CountTableStride = 256 + 16;
using CountTables = std::array<std::array<std::uint32_t, CountTableStride>, CountTableCount>;

struct PieceSums {
  std::uint64_t successor_sum = 0;  // data[i] · data[i + 1] for every i + 1 < size
  std::uint64_t inside_pairs = 0;   // pairs (data[2j], data[2j + 1]) inside the circle
};

// Pieces no longer than this keep the 64-bit sums clear of overflow
// (255 · 255 · 2^30 < 2^46).
inline constexpr std::size_t MaxScanLength = std::size_t{1} << 30;

enum class ScanKernel {
  Portable,  // one byte at a time, any processor: the reference of the others
  Sse2,      // 16 bytes a step, sums in SSE2 registers (every x86-64)
  Avx2,      // 32 bytes a step, sums in AVX2 registers
  Avx512,    // 64 bytes a step, sums in AVX-512 registers (AVX512BW)
};

inline constexpr std::array<ScanKernel, 4> AllScanKernels = {ScanKernel::Portable, ScanKernel::Sse2,
                                                             ScanKernel::Avx2, ScanKernel::Avx512};

// "portable", "sse2", "avx2", "avx512".
const char* ScanKernelName(ScanKernel kernel);

// True when the kernel is built into this program and this processor (and
// its operating system) runs its instructions.
bool ScanKernelRuns(ScanKernel kernel);

// The fastest kernel that runs here; asked of the processor once.
ScanKernel FastestScanKernel();

// Counts data[0 .. size) into `counts` and returns the sums of that piece,
// whose first byte lies at an even offset of the file. `size` is at most
// MaxScanLength; `kernel` must run here. Every kernel gives the same result.
PieceSums ScanPiece(ScanKernel kernel, std::span<const std::uint8_t> piece, CountTables& counts);

}  // namespace quorvant
