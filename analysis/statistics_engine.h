#pragma once

// ComputeStatistics: one pass over an open file that yields its byte counts
// and the eleven figures. Knows nothing of drawing: progress and the question
// "cancel?" go through a callback, so the statistics screen and the
// command-line tool share it.
//
// A large file is cut into ranges that threads, one per core, count side by
// side; the ranges' totals are merged in file order, so the figures are
// exactly those of one pass, whatever the cut.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "analysis/stat_figures.h"
#include "base/progress.h"
#include "base/result.h"
#include "base/usable_cores.h"
#include "files/file_calls.h"

namespace quorvant {

// The progress step is called with the file offset of each full 16384-byte
// piece (0, 16384, ...) and the file's last offset (length − 1), only for
// files longer than 16384 bytes, in increasing order and always on the
// caller's thread. The screen shows ProgressPercent(offset, last_offset).
inline constexpr std::uint64_t ProgressPieceLength = 16384;

// The read size of each thread: large reads, one bounded buffer per thread.
inline constexpr std::size_t StatisticsChunkLength = std::size_t{1} << 20;

// No more threads than this, whatever the machine, so the buffers stay
// bounded (MaxStatisticsThreads × StatisticsChunkLength).
inline constexpr std::size_t MaxStatisticsThreads = 16;

// The file is cut into this many ranges per thread, which the threads take
// in turn: a thread slowed by other programs then holds up the end of the
// run by one short range at most, not by a whole share of the file.
inline constexpr std::size_t StatisticsRangesPerThread = 16;

// A range shorter than this is not worth a thread's turn.
inline constexpr std::uint64_t MinStatisticsRangeLength = std::uint64_t{1} << 20;

// Lengths beyond this are refused (EFBIG): 8 × length bits must fit in 64 bits.
inline constexpr std::uint64_t MaxStatisticsLength = std::uint64_t{1} << 60;

// How a run divides the work: the file is cut into `ranges` ranges of nearly
// equal length, which `threads` threads take one after another, each range
// read in chunks of `chunk_length` bytes. With one thread (or one range) all
// runs on the caller's thread; with more, the caller's thread only reports
// the progress. The results do not depend on any of the three numbers.
struct StatisticsPlan {
  std::size_t threads = 1;
  std::size_t ranges = 1;
  std::size_t chunk_length = StatisticsChunkLength;  // at least 1
};

// One thread per usable core, but at least two and at most
// MaxStatisticsThreads; StatisticsRangesPerThread ranges per thread, but none
// shorter than MinStatisticsRangeLength (so a file of less than two such
// lengths is one range, counted on the caller's thread).
StatisticsPlan PlanStatistics(std::uint64_t length);

// Reads bytes 0 .. length − 1 of `file` (opened by the caller, at least for
// reading; its file position is not used) with pread and computes their
// statistics. Returns no value when the progress callback answered Cancel:
// then every thread stops at its next chunk and no figures are produced. A
// read error, or a file that ends before `length`, is an Error (the one
// nearest the file's start of those met, if several ranges fail: the others
// stop at the first). `progress` may be empty.
Result<std::optional<FileStatistics>> ComputeStatistics(int file, std::uint64_t length,
                                                        const ProgressFunction& progress);

// ComputeStatistics with a chosen plan and system-call seam, for tests and
// benchmarks.
Result<std::optional<FileStatistics>> ComputeStatisticsWithPlan(int file, std::uint64_t length,
                                                                const StatisticsPlan& plan,
                                                                const ProgressFunction& progress,
                                                                FileCalls& calls);

}  // namespace quorvant
