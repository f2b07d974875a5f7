#include "analysis/statistics_engine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/statistics_accumulator.h"
#include "base/verify.h"

namespace quorvant {
namespace {

// The kernel copies page-cache data fastest into a page-aligned buffer: on
// x86-64 a destination 16 bytes off a page boundary made pread about five
// times slower than the statistics themselves.
constexpr std::size_t PageLength = 4096;

struct FreeBuffer {
  void operator()(std::uint8_t* buffer) const { std::free(buffer); }
};
using ReadBuffer = std::unique_ptr<std::uint8_t[], FreeBuffer>;

Result<ReadBuffer> AllocateReadBuffer(std::size_t length) {
  const std::size_t rounded = (std::max<std::size_t>(length, 1) + PageLength - 1) / PageLength * PageLength;
  auto* buffer = static_cast<std::uint8_t*>(std::aligned_alloc(PageLength, rounded));
  if (buffer == nullptr) return Error{ENOMEM, "allocate read buffer"};
  return ReadBuffer(buffer);
}

struct ByteRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Cuts [0, length) into at most `count` ranges of nearly equal length. Every
// range but the last has an even length, so that each pair lies within one
// range; ranges of a page or more are whole pages, so reads start on page
// boundaries.
std::vector<ByteRange> SplitIntoRanges(std::uint64_t length, std::size_t count) {
  std::uint64_t step = (length + count - 1) / count;
  const std::uint64_t unit = step >= PageLength ? PageLength : 2;
  step = std::max<std::uint64_t>((step + unit - 1) / unit * unit, unit);
  std::vector<ByteRange> ranges;
  for (std::uint64_t begin = 0; begin < length; begin += step) {
    ranges.push_back({begin, std::min(begin + step, length)});
  }
  return ranges;
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

enum class RangeEnd { Done, Stopped };

// The buffer one thread reads into: a chunk, or the longest range if that is
// shorter. Allocated once per thread, since every fresh page of it costs a
// page fault.
Result<ReadBuffer> AllocateChunkBuffer(const std::vector<ByteRange>& ranges, std::size_t chunk_length) {
  const std::uint64_t longest = ranges.empty() ? 0 : ranges.front().end - ranges.front().begin;
  return AllocateReadBuffer(static_cast<std::size_t>(std::min<std::uint64_t>(chunk_length, longest)));
}

// Reads one range chunk by chunk into `buffer` (chunk_length bytes at least)
// and adds its bytes to `accumulator`. After each chunk, `counted(begin, end)`
// hears which bytes were added and answers whether to go on.
template <typename Counted>
Result<RangeEnd> CountRange(FileCalls& calls, int file, ByteRange range, std::uint8_t* buffer,
                            std::size_t chunk_length, StatisticsAccumulator& accumulator, Counted&& counted) {
  for (std::uint64_t offset = range.begin; offset < range.end;) {
    const std::span<std::uint8_t> chunk(
        buffer, static_cast<std::size_t>(std::min<std::uint64_t>(chunk_length, range.end - offset)));
    if (Status read = ReadExactly(calls, file, chunk, static_cast<std::int64_t>(offset), "the file"); !read) {
      return read.error();
    }
    accumulator.Add(chunk);
    offset += chunk.size();
    if (!counted(offset - chunk.size(), offset)) return RangeEnd::Stopped;
  }
  return RangeEnd::Done;
}

// What the counting threads share with the caller's thread: how many bytes
// they have counted in all, how many have ended, and the word that tells them
// to stop (a cancel, or another range's read error).
class RangeBoard {
 public:
  explicit RangeBoard(std::size_t threads) : threads_(threads) {}

  // Counting thread: `bytes` more bytes are counted. False when it must stop.
  bool Counted(std::uint64_t bytes) {
    {
      const std::lock_guard lock(mutex_);
      counted_ += bytes;
    }
    changed_.notify_one();
    return !stop_.load(std::memory_order_relaxed);
  }

  // Counting thread, as its last step.
  void Ended() {
    {
      const std::lock_guard lock(mutex_);
      ++ended_;
    }
    changed_.notify_one();
  }

  void Stop() { stop_.store(true, std::memory_order_relaxed); }
  bool Stopping() const { return stop_.load(std::memory_order_relaxed); }

  struct View {
    std::uint64_t counted = 0;
    bool all_ended = false;
  };

  // Caller's thread: waits until more than `seen` bytes are counted or every
  // thread has ended.
  View WaitBeyond(std::uint64_t seen) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return counted_ > seen || ended_ == threads_; });
    return {counted_, ended_ == threads_};
  }

 private:
  const std::size_t threads_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t counted_ = 0;  // guarded by mutex_
  std::size_t ended_ = 0;      // guarded by mutex_
};

// All ranges in order on the caller's thread, reporting progress as it goes.
Result<std::optional<FileStatistics>> CountOnThisThread(int file, std::uint64_t length,
                                                        const std::vector<ByteRange>& ranges,
                                                        std::size_t chunk_length,
                                                        const ProgressFunction& progress, FileCalls& calls) {
  const bool reports_progress = progress && length > ProgressPieceLength;
  Result<ReadBuffer> buffer = AllocateChunkBuffer(ranges, chunk_length);
  if (!buffer) return buffer.error();
  StatisticsAccumulator accumulator;
  for (const ByteRange& range : ranges) {
    const Result<RangeEnd> end =
        CountRange(calls, file, range, buffer->get(), chunk_length, accumulator,
                   [&](std::uint64_t from, std::uint64_t to) {
                     return !reports_progress || ReportPieces(progress, from, to, length);
                   });
    if (!end) return end.error();
    if (end.value() == RangeEnd::Stopped) return std::optional<FileStatistics>();
  }
  return std::optional<FileStatistics>(ComputeFileStatistics(accumulator.Totals()));
}

enum class ThreadStart { Started, Failed };

// One buffer per counting thread; nothing when one cannot be had.
std::optional<std::vector<ReadBuffer>> AllocateThreadBuffers(const std::vector<ByteRange>& ranges,
                                                             std::size_t thread_count,
                                                             std::size_t chunk_length) {
  std::vector<ReadBuffer> buffers;
  for (std::size_t index = 0; index < thread_count; ++index) {
    Result<ReadBuffer> buffer = AllocateChunkBuffer(ranges, chunk_length);
    if (!buffer) return std::nullopt;
    buffers.push_back(std::move(*buffer));
  }
  return buffers;
}

// What the counting threads work on together: the ranges, taken in turn,
// and a slot per range for its count or its read error.
struct SharedCount {
  SharedCount(const std::vector<ByteRange>& file_ranges, std::size_t thread_count)
      : ranges(file_ranges), board(thread_count), accumulators(ranges.size()), errors(ranges.size()) {}

  const std::vector<ByteRange>& ranges;
  RangeBoard board;
  std::atomic<std::size_t> next_range{0};
  // A range's slots are written only by the thread that took it, and read
  // only after every thread has been joined.
  std::vector<StatisticsAccumulator> accumulators;
  std::vector<std::optional<Error>> errors;
};

// A counting thread: takes ranges in turn until none is left or the board
// says stop, then tells the board it has ended.
void CountRangesInTurn(SharedCount& shared, int file, std::uint8_t* buffer, std::size_t chunk_length,
                       FileCalls& calls) {
  while (!shared.board.Stopping()) {
    const std::size_t index = shared.next_range.fetch_add(1, std::memory_order_relaxed);
    if (index >= shared.ranges.size()) break;
    // Counted on this thread's own stack, off the other threads' cache lines.
    StatisticsAccumulator accumulator;
    const Result<RangeEnd> end =
        CountRange(calls, file, shared.ranges[index], buffer, chunk_length, accumulator,
                   [&](std::uint64_t from, std::uint64_t to) { return shared.board.Counted(to - from); });
    if (!end) {
      shared.errors[index] = end.error();
      shared.board.Stop();
      break;
    }
    if (end.value() == RangeEnd::Stopped) break;
    shared.accumulators[index] = accumulator;
  }
  shared.board.Ended();
}

// The caller's thread, while the others count: progress from the bytes
// counted in all, until every thread has ended. False when it answered Cancel.
bool ReportWhileCounting(RangeBoard& board, const ProgressFunction& progress, std::uint64_t length) {
  for (std::uint64_t reported = 0;;) {
    const RangeBoard::View view = board.WaitBeyond(reported);
    if (!board.Stopping() && !ReportPieces(progress, reported, view.counted, length)) {
      board.Stop();
      return false;
    }
    reported = view.counted;
    if (view.all_ended) return true;
  }
}

// Once every thread is joined: the first read error, else the ranges'
// counts merged in file order (nothing after a cancel).
Result<std::optional<FileStatistics>> MergeCounts(const SharedCount& shared, bool cancelled) {
  for (const std::optional<Error>& error : shared.errors) {
    if (error) return *error;
  }
  if (cancelled) return std::optional<FileStatistics>();
  StatisticsAccumulator total;
  for (const StatisticsAccumulator& accumulator : shared.accumulators) total.Append(accumulator);
  return std::optional<FileStatistics>(ComputeFileStatistics(total.Totals()));
}

// The threads take the ranges in turn, each counted into an accumulator of
// its own, and the caller's thread reports the progress from the bytes
// counted in all, so its calls still come in order and on its thread. The
// ranges' accumulators are merged in file order at the end.
Result<std::optional<FileStatistics>> CountOnThreads(int file, std::uint64_t length,
                                                     const std::vector<ByteRange>& ranges,
                                                     std::size_t thread_count, std::size_t chunk_length,
                                                     const ProgressFunction& progress, FileCalls& calls,
                                                     ThreadStart& start) {
  const bool reports_progress = progress && length > ProgressPieceLength;
  SharedCount shared(ranges, thread_count);
  start = ThreadStart::Failed;
  std::optional<std::vector<ReadBuffer>> buffers = AllocateThreadBuffers(ranges, thread_count, chunk_length);
  if (!buffers) return std::optional<FileStatistics>();
  std::vector<std::jthread> threads;
  threads.reserve(thread_count);
  // std::thread reports a thread it could not start by throwing. Without
  // its threads or their buffers, the run falls back to the caller's thread.
  try {
    for (std::size_t index = 0; index < thread_count; ++index) {
      threads.emplace_back(CountRangesInTurn, std::ref(shared), file, (*buffers)[index].get(), chunk_length,
                           std::ref(calls));
    }
  } catch (const std::system_error&) {
    shared.board.Stop();
    threads.clear();
    return std::optional<FileStatistics>();
  }
  start = ThreadStart::Started;

  const bool cancelled = reports_progress && !ReportWhileCounting(shared.board, progress, length);
  threads.clear();  // joins
  return MergeCounts(shared, cancelled);
}

}  // namespace

StatisticsPlan PlanStatistics(std::uint64_t length) {
  StatisticsPlan plan;
  plan.threads = std::clamp<std::size_t>(UsableCores(), 2, MaxStatisticsThreads);
  plan.ranges = static_cast<std::size_t>(std::clamp<std::uint64_t>(length / MinStatisticsRangeLength, 1,
                                                                   plan.threads * StatisticsRangesPerThread));
  plan.threads = std::min(plan.threads, plan.ranges);
  return plan;
}

Result<std::optional<FileStatistics>> ComputeStatistics(int file, std::uint64_t length,
                                                        const ProgressFunction& progress) {
  FileCalls calls;
  return ComputeStatisticsWithPlan(file, length, PlanStatistics(length), progress, calls);
}

Result<std::optional<FileStatistics>> ComputeStatisticsWithPlan(int file, std::uint64_t length,
                                                                const StatisticsPlan& plan,
                                                                const ProgressFunction& progress,
                                                                FileCalls& calls) {
  Verify(plan.threads > 0 && plan.ranges > 0 && plan.chunk_length > 0);
  if (length > MaxStatisticsLength) return Error{EFBIG, "analyse file"};
  const std::vector<ByteRange> ranges = SplitIntoRanges(length, plan.ranges);
  const std::size_t thread_count = std::min(plan.threads, ranges.size());
  if (thread_count > 1) {
    ThreadStart start = ThreadStart::Failed;
    auto result =
        CountOnThreads(file, length, ranges, thread_count, plan.chunk_length, progress, calls, start);
    if (start == ThreadStart::Started) return result;
  }
  return CountOnThisThread(file, length, ranges, plan.chunk_length, progress, calls);
}

}  // namespace quorvant
