#include "analysis/statistics_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <span>

#include "analysis/statistics_accumulator.h"
#include "base/verify.h"
#include "files/file_calls.h"

namespace quorvant {
namespace {

// The kernel copies page-cache data fastest into a page-aligned buffer: on
// x86-64 a destination 16 bytes off a page boundary made pread about five
// times slower than the statistics themselves.
constexpr std::size_t BufferAlignment = 4096;

struct FreeBuffer {
  void operator()(std::uint8_t* buffer) const { std::free(buffer); }
};
using ReadBuffer = std::unique_ptr<std::uint8_t[], FreeBuffer>;

Result<ReadBuffer> AllocateReadBuffer(std::size_t length) {
  const std::size_t rounded = (length + BufferAlignment - 1) / BufferAlignment * BufferAlignment;
  auto* buffer = static_cast<std::uint8_t*>(std::aligned_alloc(BufferAlignment, rounded));
  if (buffer == nullptr) return Error{ENOMEM, "allocate read buffer"};
  return ReadBuffer(buffer);
}

// Offers every full progress piece that starts in [begin, end) to the
// callback, in order. False when it answered Cancel.
bool ReportPieces(const ProgressFunction& progress, std::uint64_t begin, std::uint64_t end,
                  std::uint64_t length) {
  std::uint64_t piece = (begin + ProgressPieceLength - 1) / ProgressPieceLength * ProgressPieceLength;
  for (; piece < end && piece + ProgressPieceLength <= length; piece += ProgressPieceLength) {
    if (progress(static_cast<std::int64_t>(piece), static_cast<std::int64_t>(length - 1)) ==
        ProgressAnswer::Cancel) {
      return false;
    }
  }
  return true;
}

}  // namespace

Result<std::optional<FileStatistics>> ComputeStatistics(int file, std::uint64_t length,
                                                        const ProgressFunction& progress) {
  return ComputeStatisticsInChunks(file, length, StatisticsChunkLength, progress);
}

Result<std::optional<FileStatistics>> ComputeStatisticsInChunks(int file, std::uint64_t length,
                                                                std::size_t chunk_length,
                                                                const ProgressFunction& progress) {
  Verify(chunk_length > 0);
  if (length > MaxStatisticsLength) return Error{EFBIG, "analyse file"};
  const bool reports_progress = progress && length > ProgressPieceLength;

  const std::size_t buffer_length = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_length, length));
  Result<ReadBuffer> buffer = AllocateReadBuffer(std::max<std::size_t>(buffer_length, 1));
  if (!buffer) return buffer.error();

  FileCalls calls;
  StatisticsAccumulator accumulator;
  for (std::uint64_t offset = 0; offset < length;) {
    const std::span<std::uint8_t> chunk(
        buffer->get(), static_cast<std::size_t>(std::min<std::uint64_t>(chunk_length, length - offset)));
    if (Status read = ReadExactly(calls, file, chunk, static_cast<std::int64_t>(offset), "the file"); !read) {
      return read.error();
    }
    if (reports_progress && !ReportPieces(progress, offset, offset + chunk.size(), length)) {
      return std::optional<FileStatistics>();
    }
    accumulator.Add(chunk);
    offset += chunk.size();
  }
  return std::optional<FileStatistics>(ComputeFileStatistics(accumulator.Totals()));
}

}  // namespace quorvant
