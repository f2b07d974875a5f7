#pragma once

// ComputeStatistics: one pass over an open file that yields its byte counts
// and the eleven figures. Knows nothing of drawing: progress and the question
// "cancel?" go through a callback, so the statistics screen and the
// command-line tool share it.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "analysis/stat_figures.h"
#include "base/progress.h"
#include "base/result.h"

namespace quorvant {

// The progress step is called with the file offset of each full 16384-byte
// piece (0, 16384, ...) and the file's last offset (length − 1), only for
// files longer than 16384 bytes. The screen shows ProgressPercent(offset,
// last_offset).
inline constexpr std::uint64_t ProgressPieceLength = 16384;

// The read size of ComputeStatistics: large reads, one bounded buffer.
inline constexpr std::size_t StatisticsChunkLength = std::size_t{1} << 20;

// Lengths beyond this are refused (EFBIG): 8 × length bits must fit in 64 bits.
inline constexpr std::uint64_t MaxStatisticsLength = std::uint64_t{1} << 60;

// Reads bytes 0 .. length − 1 of `file` (opened by the caller, at least for
// reading; its file position is not used) with pread and computes their
// statistics. Returns no value when the progress callback answered Cancel:
// then no figures are produced. A read error, or a file that ends before
// `length`, is an Error. `progress` may be empty.
Result<std::optional<FileStatistics>> ComputeStatistics(int file, std::uint64_t length,
                                                        const ProgressFunction& progress);

// ComputeStatistics with reads of `chunk_length` bytes (at least 1); the
// results do not depend on it. For tests and benchmarks.
Result<std::optional<FileStatistics>> ComputeStatisticsInChunks(int file, std::uint64_t length,
                                                                std::size_t chunk_length,
                                                                const ProgressFunction& progress);

}  // namespace quorvant
