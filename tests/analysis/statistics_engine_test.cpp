#include "analysis/statistics_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/analysis/statistics_fixtures.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::Bytes;
using testing::TempFolder;

struct ReferenceCase {
  std::string name;
  std::string generator;
  std::vector<std::string> labels;
  std::vector<std::string> texts;
  std::vector<double> numbers;
  ByteHistogram byte_counts{};
};

// Reads tests/data/stats_reference.txt (see stats_reference.py for its form).
std::vector<ReferenceCase> ReadReferenceCases() {
  std::ifstream in(QUORVANT_SOURCE_DIR "/tests/data/stats_reference.txt");
  EXPECT_TRUE(in.good());
  std::vector<ReferenceCase> cases;
  ReferenceCase current;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (line.rfind("case ", 0) == 0) {
      current = ReferenceCase();
      std::istringstream words(line.substr(5));
      words >> current.name;
      std::getline(words >> std::ws, current.generator);
    } else if (fields[0] == "value" && fields.size() == 3) {
      current.labels.push_back(fields[1]);
      current.texts.push_back(fields[2]);
    } else if (fields[0] == "number" && fields.size() == 3) {
      current.numbers.push_back(std::stod(fields[2]));
    } else if (fields[0] == "counts") {
      std::istringstream pairs(fields.size() > 1 ? fields[1] : "");
      for (std::string pair; pairs >> pair;) {
        const auto colon = pair.find(':');
        current.byte_counts[std::stoul(pair.substr(0, colon))] = std::stoull(pair.substr(colon + 1));
      }
    } else if (fields[0] == "end") {
      cases.push_back(current);
    } else {
      ADD_FAILURE() << "unreadable reference line: " << line;
    }
  }
  return cases;
}

std::vector<double> FigureNumbers(const StatFigures& figures) {
  return {figures.Entropy,
          figures.ChiSquare,
          figures.ArithmeticMean,
          figures.MonteCarloPi,
          figures.SerialCorrelation,
          static_cast<double>(figures.ZeroBits),
          static_cast<double>(figures.OneBits),
          static_cast<double>(figures.TotalBits),
          figures.ZeroBitRatio,
          figures.OneBitRatio,
          figures.ExpectedValue};
}

FileStatistics StatisticsOf(int file, std::uint64_t length, StatisticsPlan plan) {
  FileCalls calls;
  auto result = ComputeStatisticsWithPlan(file, length, plan, nullptr, calls);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().Describe());
  if (!result.ok() || !result.value().has_value()) return {};
  return **result;
}

std::string Describe(const StatisticsPlan& plan) {
  return std::to_string(plan.threads) + " threads, " + std::to_string(plan.ranges) + " ranges, chunk " +
         std::to_string(plan.chunk_length);
}

// The same figures to the last bit (NaN equal to NaN), counts and texts.
void ExpectSameStatistics(const FileStatistics& actual, const FileStatistics& expected) {
  EXPECT_EQ(actual.ByteCounts, expected.ByteCounts);
  EXPECT_EQ(actual.StatValues, expected.StatValues);
  const std::vector<double> actual_numbers = FigureNumbers(actual.Figures);
  const std::vector<double> expected_numbers = FigureNumbers(expected.Figures);
  for (std::size_t index = 0; index < StatFigureCount; ++index) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual_numbers[index]),
              std::bit_cast<std::uint64_t>(expected_numbers[index]))
        << StatLabels[index] << actual_numbers[index] << " vs " << expected_numbers[index];
  }
}

// The figures of small files against values worked out independently from
// their definitions, read whole, in 7-byte chunks, and in three ranges.
TEST(StatisticsEngineTest, FiguresMatchTheIndependentReference) {
  const std::vector<ReferenceCase> cases = ReadReferenceCases();
  ASSERT_GE(cases.size(), 15u);
  TempFolder folder;
  for (const ReferenceCase& reference : cases) {
    SCOPED_TRACE(reference.name + " (" + reference.generator + ")");
    ASSERT_EQ(reference.texts.size(), StatFigureCount);
    ASSERT_EQ(reference.numbers.size(), StatFigureCount);
    for (std::size_t index = 0; index < StatFigureCount; ++index) {
      EXPECT_EQ(reference.labels[index], StatLabels[index]);
    }
    const Bytes bytes = testing::GenerateBytes(reference.generator);
    const UniqueFd file(folder.WriteAndOpen(reference.name, bytes));
    for (const StatisticsPlan plan :
         {StatisticsPlan{1, 1, StatisticsChunkLength}, StatisticsPlan{1, 1, 7}, StatisticsPlan{3, 5, 7}}) {
      SCOPED_TRACE(Describe(plan));
      const FileStatistics statistics = StatisticsOf(file.Get(), bytes.size(), plan);
      EXPECT_EQ(statistics.ByteCounts, reference.byte_counts);
      const std::vector<double> numbers = FigureNumbers(statistics.Figures);
      for (std::size_t index = 0; index < StatFigureCount; ++index) {
        SCOPED_TRACE(StatLabels[index]);
        EXPECT_EQ(statistics.StatValues[index], reference.texts[index]);
        if (std::isnan(reference.numbers[index])) {
          EXPECT_TRUE(std::isnan(numbers[index])) << numbers[index];
        } else {
          EXPECT_NEAR(numbers[index], reference.numbers[index],
                      1e-12 * std::max(1.0, std::fabs(numbers[index])));
        }
      }
    }
  }
}

// Lengths at which a cut could go wrong: tiny files, whose ranges are a
// few bytes long; page-sized range edges and the bytes either side; one and
// two progress pieces; multiples of six and their neighbours; and lengths
// split into many ranges with an odd last one.
// clang-format off
const std::uint64_t EdgeLengths[] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
    31, 33, 63, 65,
    4095, 4096, 4097, 4098, 4099,
    8191, 8192, 8193, 12287, 12288, 12289,
    16383, 16384, 16385, 16386, 16387,
    24575, 24576, 24577, 32767, 32768, 32769,
    49151, 49153, 65535, 65536, 65537, 98305,
};
// clang-format on

// Threads and the ranges they share: one each, more ranges than threads, more
// threads than ranges can hold (tiny files), the most threads.
const std::pair<std::size_t, std::size_t> ThreadsAndRanges[] = {{1, 1}, {1, 3},  {2, 2},  {3, 3},
                                                                {2, 5}, {3, 16}, {16, 16}};

class MergedRangesTest : public ::testing::TestWithParam<std::uint64_t> {};

// Every cut into ranges and chunks gives what one pass over the file in one
// read gives, to the last bit of every figure: random bytes, and bytes all
// 255 (the largest products, and a serial correlation that is not a number).
TEST_P(MergedRangesTest, MatchOnePass) {
  const std::uint64_t length = GetParam();
  TempFolder folder;
  for (const Bytes& bytes : {testing::LcgBytes(length, length), Bytes(length, 255)}) {
    SCOPED_TRACE(bytes.empty() ? "empty" : "first byte " + std::to_string(bytes[0]));
    const UniqueFd file(folder.WriteAndOpen("bytes", bytes));
    const FileStatistics one_pass =
        StatisticsOf(file.Get(), length, {1, 1, std::max<std::size_t>(length, 1)});
    for (const auto& [threads, ranges] : ThreadsAndRanges) {
      for (const std::size_t chunk_length : {1, 3, 4096, 16384, 1 << 20}) {
        if (chunk_length < 4096 && length / chunk_length > 2000) continue;  // only slow, no new edge
        const StatisticsPlan plan{threads, ranges, chunk_length};
        SCOPED_TRACE(Describe(plan));
        ExpectSameStatistics(StatisticsOf(file.Get(), length, plan), one_pass);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, MergedRangesTest, ::testing::ValuesIn(EdgeLengths),
                         [](const ::testing::TestParamInfo<std::uint64_t>& info) {
                           return "length_" + std::to_string(info.param);
                         });

// Real reads, shared by the counting threads: a read that covers a chosen
// offset fails with a chosen errno, and each read moves at most
// `max_transfer` bytes. With `hold_from` set, every read from that one on
// waits until the thread that runs the engine has answered Cancel and gone
// to sleep joining the counting threads: then the reads made after a cancel
// are exactly those already asked for when it came, whatever the timing.
class SharedCalls : public FileCalls {
 public:
  std::map<std::uint64_t, int> fail_at;  // file offset → errno
  std::size_t max_transfer = std::numeric_limits<std::size_t>::max();
  int hold_from = 0;  // read number, counted from 1; 0 holds none

  ssize_t ReadAt(int descriptor, void* data, std::size_t size, off_t offset) override {
    std::unique_lock lock(mutex_);
    if (++reads_ >= hold_from && hold_from > 0) {
      cancelled_changed_.wait(lock, [&] { return cancelled_; });
      const pid_t engine_thread = engine_thread_;
      // The engine's thread takes no lock between its answer and the join,
      // so its first sleep after answering is the join.
      lock.unlock();
      while (!Sleeping(engine_thread)) sched_yield();
    } else {
      lock.unlock();
    }
    const auto begin = static_cast<std::uint64_t>(offset);
    for (const auto& [at, code] : fail_at) {
      if (at >= begin && at < begin + size) {
        errno = code;
        return -1;
      }
    }
    return FileCalls::ReadAt(descriptor, data, std::min(size, max_transfer), offset);
  }

  // Called by the progress callback, on the engine's thread, as it answers Cancel.
  void AnsweringCancel() {
    const std::lock_guard lock(mutex_);
    engine_thread_ = gettid();
    cancelled_ = true;
    cancelled_changed_.notify_all();
  }

  int Reads() {
    const std::lock_guard lock(mutex_);
    return reads_;
  }

 private:
  // True when the thread waits in the kernel (state S in /proc).
  static bool Sleeping(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto name_end = line.rfind(')');
    return name_end != std::string::npos && line.size() > name_end + 2 && line[name_end + 2] == 'S';
  }

  std::mutex mutex_;
  std::condition_variable cancelled_changed_;
  int reads_ = 0;
  bool cancelled_ = false;
  pid_t engine_thread_ = 0;
};

struct ProgressCase {
  std::uint64_t length;
  std::vector<std::int64_t> offsets;
};

// The calls come in file order and on the caller's thread (the screen draws
// from it), however many threads count and however the chunks fall.
TEST(StatisticsEngineTest, ProgressComesOncePerFullPieceOfLargerFiles) {
  const ProgressCase cases[] = {
      {1, {}},
      {16384, {}},
      {16385, {0}},
      {32767, {0}},
      {32768, {0, 16384}},
      {49152, {0, 16384, 32768}},
      {100000, {0, 16384, 32768, 49152, 65536, 81920}},
  };
  TempFolder folder;
  const std::thread::id caller = std::this_thread::get_id();
  for (const ProgressCase& item : cases) {
    const Bytes bytes = testing::LcgBytes(3, item.length);
    const UniqueFd file(folder.WriteAndOpen("progress" + std::to_string(item.length), bytes));
    for (const std::size_t ranges : {1, 2, 5}) {
      for (const std::size_t chunk_length : {std::size_t{1000}, std::size_t{16384}, StatisticsChunkLength}) {
        const StatisticsPlan plan{ranges, 2 * ranges, chunk_length};
        SCOPED_TRACE("length " + std::to_string(item.length) + ", " + Describe(plan));
        std::vector<std::int64_t> offsets;
        FileCalls calls;
        const auto result = ComputeStatisticsWithPlan(
            file.Get(), item.length, plan,
            [&](std::int64_t offset, std::int64_t last_offset) {
              EXPECT_EQ(last_offset, std::int64_t(item.length) - 1);
              EXPECT_EQ(std::this_thread::get_id(), caller);
              offsets.push_back(offset);
              return ProgressAnswer::Continue;
            },
            calls);
        ASSERT_TRUE(result.ok());
        EXPECT_TRUE(result.value().has_value());
        EXPECT_EQ(offsets, item.offsets);
      }
    }
  }
}

TEST(StatisticsEngineTest, CancelProducesNoFiguresAndStopsAsking) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(9, 100000);
  const UniqueFd file(folder.WriteAndOpen("cancel", bytes));
  for (const std::size_t ranges : {1, 3}) {
    for (const int cancel_at : {1, 2, 6}) {
      SCOPED_TRACE(std::to_string(ranges) + " ranges, cancel at call " + std::to_string(cancel_at));
      int calls = 0;
      FileCalls file_calls;
      const auto result = ComputeStatisticsWithPlan(
          file.Get(), bytes.size(), {ranges, 2 * ranges, 4096},
          [&](std::int64_t, std::int64_t) {
            return ++calls == cancel_at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
          },
          file_calls);
      ASSERT_TRUE(result.ok());
      EXPECT_FALSE(result.value().has_value());
      EXPECT_EQ(calls, cancel_at);
    }
  }
}

// After a cancel each thread finishes at most the read it had asked for and
// starts no other, though most of the file is still to read.
TEST(StatisticsEngineTest, CancelStopsEveryThreadAtItsNextChunk) {
  TempFolder folder;
  constexpr std::size_t Threads = 4;
  constexpr std::size_t ChunkLength = 4096;
  const Bytes bytes = testing::LcgBytes(10, 2 * Threads * 32 * ChunkLength);
  const UniqueFd file(folder.WriteAndOpen("cancel", bytes));
  SharedCalls calls;
  calls.hold_from = 2;
  int progress_calls = 0;
  const auto result = ComputeStatisticsWithPlan(
      file.Get(), bytes.size(), {Threads, 2 * Threads, ChunkLength},
      [&](std::int64_t, std::int64_t) {
        ++progress_calls;
        calls.AnsweringCancel();
        return ProgressAnswer::Cancel;
      },
      calls);
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(result.value().has_value());
  EXPECT_EQ(progress_calls, 1);
  // The read that let the first chunk be counted, and one in flight per thread.
  EXPECT_LE(calls.Reads(), 1 + static_cast<int>(Threads));
}

TEST(StatisticsEngineTest, ReadsFromTheStartWhateverTheFilePosition) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(4, 5000);
  const UniqueFd file(folder.WriteAndOpen("position", bytes));
  for (const std::size_t ranges : {1, 2}) {
    const FileStatistics before =
        StatisticsOf(file.Get(), bytes.size(), {ranges, ranges, StatisticsChunkLength});
    ASSERT_EQ(lseek(file.Get(), 1234, SEEK_SET), 1234);
    const FileStatistics after =
        StatisticsOf(file.Get(), bytes.size(), {ranges, ranges, StatisticsChunkLength});
    EXPECT_EQ(after.StatValues, before.StatValues);
    EXPECT_EQ(lseek(file.Get(), 0, SEEK_CUR), 1234);
  }
}

// Short transfers on every thread add up to the same figures.
TEST(StatisticsEngineTest, ShortReadsOnEveryThreadChangeNothing) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(6, 70001);
  const UniqueFd file(folder.WriteAndOpen("short reads", bytes));
  const FileStatistics one_pass = StatisticsOf(file.Get(), bytes.size(), {1, 1, StatisticsChunkLength});
  SharedCalls calls;
  calls.max_transfer = 1001;
  auto result = ComputeStatisticsWithPlan(file.Get(), bytes.size(), {3, 6, 16384}, nullptr, calls);
  ASSERT_TRUE(result.ok() && result.value().has_value());
  ExpectSameStatistics(**result, one_pass);
}

TEST(StatisticsEngineTest, ReadFailuresAreErrorsNotFigures) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(8, 3000);
  const UniqueFd file(folder.WriteAndOpen("short", bytes));
  const UniqueFd directory(open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));

  struct FailureCase {
    const char* what;
    int file;
    std::uint64_t length;
    int code;
  };
  const FailureCase cases[] = {
      {"closed descriptor", -1, 100, EBADF},
      {"folder", directory.Get(), 100, EISDIR},
      {"file shorter than the length", file.Get(), bytes.size() + 1, 0},
      {"length beyond 2^60", file.Get(), MaxStatisticsLength + 1, EFBIG},
  };
  for (const FailureCase& item : cases) {
    for (const std::size_t ranges : {1, 3}) {
      SCOPED_TRACE(std::string(item.what) + ", " + std::to_string(ranges) + " ranges");
      FileCalls calls;
      const auto result =
          ComputeStatisticsWithPlan(item.file, item.length, {ranges, ranges, 512}, nullptr, calls);
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().code, item.code) << result.error().Describe();
    }
  }
  const auto result = ComputeStatistics(-1, 100, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code, EBADF);
}

// A failed read in any range fails the run, progress or not. When two ranges
// fail, the one met first stops the other threads, so either error may be
// the one reported.
TEST(StatisticsEngineTest, AFailedReadInAnyRangeFailsTheRun) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(12, 8 * 32768);
  const UniqueFd file(folder.WriteAndOpen("faulty", bytes));
  struct FaultCase {
    const char* what;
    std::map<std::uint64_t, int> fail_at;
    std::vector<int> codes;
  };
  const FaultCase cases[] = {
      {"first chunk", {{0, EIO}}, {EIO}},
      {"middle of the second range", {{32768 + 20000, EIO}}, {EIO}},
      {"last byte", {{8 * 32768 - 1, ENXIO}}, {ENXIO}},
      {"two ranges", {{6 * 32768 + 5, ENXIO}, {32768 + 5, EIO}}, {EIO, ENXIO}},
  };
  for (const FaultCase& item : cases) {
    for (const bool with_progress : {false, true}) {
      SCOPED_TRACE(std::string(item.what) + (with_progress ? ", with progress" : ""));
      SharedCalls calls;
      calls.fail_at = item.fail_at;
      const auto result = ComputeStatisticsWithPlan(
          file.Get(), bytes.size(), {3, 8, 8192},
          with_progress
              ? ProgressFunction([](std::int64_t, std::int64_t) { return ProgressAnswer::Continue; })
              : ProgressFunction(),
          calls);
      ASSERT_FALSE(result.ok());
      EXPECT_NE(std::find(item.codes.begin(), item.codes.end(), result.error().code), item.codes.end())
          << result.error().Describe();
    }
  }
}

// One thread per usable core, at least two, with a few ranges each; a small
// file is one range; a process pinned to one core is told so.
TEST(StatisticsEngineTest, PlanFollowsTheUsableCores) {
  const std::uint64_t large = std::uint64_t{1} << 30;
  const std::size_t threads = std::clamp<std::size_t>(UsableCores(), 2, MaxStatisticsThreads);
  EXPECT_EQ(PlanStatistics(large).threads, threads);
  EXPECT_EQ(PlanStatistics(large).ranges, threads * StatisticsRangesPerThread);
  EXPECT_EQ(PlanStatistics(MinStatisticsRangeLength).ranges, 1u);
  EXPECT_EQ(PlanStatistics(0).ranges, 1u);
  EXPECT_EQ(PlanStatistics(2 * MinStatisticsRangeLength).ranges, 2u);
  EXPECT_EQ(PlanStatistics(2 * MinStatisticsRangeLength).threads, 2u);

  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  int first_cpu = 0;
  while (!CPU_ISSET(first_cpu, &before)) ++first_cpu;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first_cpu, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const unsigned pinned_cores = UsableCores();
  const std::size_t pinned_threads = PlanStatistics(large).threads;
  ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(pinned_cores, 1u);
  EXPECT_EQ(pinned_threads, 2u);
}

}  // namespace
}  // namespace quorvant
