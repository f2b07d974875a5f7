// Times one pass over a file:
//   quorvant_stats_driver MODE FILE [CHUNK] [REPEATS] [THREADS] [RANGES]
// MODE is one of
//   read        pread only, page-aligned buffer, one thread
//   read16      pread only, buffer 16 bytes past a page, one thread
//   stats       ComputeStatisticsWithPlan: THREADS threads taking RANGES
//               ranges in turn (by default the plan ComputeStatistics would
//               choose; THREADS alone keeps its ranges), CHUNK-byte preads
//   stats-mmap  the same ranges and threads, but the file mapped with mmap
//               instead of read: the other way to read it, kept to measure
//   kernel      the counting alone: the file is read into memory first (not
//               timed), then counted on one thread in CHUNK-byte pieces, with
//               the kernel the engine chooses, or the one named by the
//               environment's QUORVANT_SCAN_KERNEL (portable, sse2, avx2,
//               avx512)
// Prints "<mode> <bytes> <best seconds> <threads> <CPU seconds per pass>
// <kernel>" to stderr; the stats modes also print their report (figures and
// byte counts) to stdout.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "analysis/statistics_accumulator.h"
#include "analysis/statistics_engine.h"
#include "analysis/statistics_kernels.h"

namespace {

using Seconds = std::chrono::duration<double>;

bool ReadOnly(int file, std::uint64_t length, std::size_t chunk_length, std::size_t misalignment) {
  auto* raw = static_cast<std::uint8_t*>(std::aligned_alloc(4096, (chunk_length + 8191) / 4096 * 4096));
  if (raw == nullptr) return false;
  std::memset(raw, 0, chunk_length + misalignment);
  std::uint8_t* buffer = raw + misalignment;
  bool ok = true;
  for (std::uint64_t offset = 0; offset < length && ok;) {
    const ssize_t got = pread(file, buffer, chunk_length, static_cast<off_t>(offset));
    ok = got > 0;
    offset += static_cast<std::uint64_t>(got > 0 ? got : 0);
  }
  std::free(raw);
  return ok;
}

// The statistics of a mapped file, ranges cut as the engine cuts them (whole
// pages) and taken in turn by the threads, each added in CHUNK-byte steps.
// Nothing is copied; the price is a page fault per few pages, and a SIGBUS
// should the file shrink meanwhile, which is why the engine reads instead.
bool MappedStatistics(int file, std::uint64_t length, const quorvant::StatisticsPlan& plan,
                      quorvant::FileStatistics& statistics) {
  if (length == 0) return false;
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_SHARED, file, 0);
  if (mapped == MAP_FAILED) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(mapped);
  std::uint64_t step = (length + plan.ranges - 1) / plan.ranges;
  step = (step + 4095) / 4096 * 4096;
  const std::size_t ranges = static_cast<std::size_t>((length + step - 1) / step);
  std::vector<quorvant::StatisticsAccumulator> accumulators(ranges);
  std::atomic<std::size_t> next_range{0};
  {
    std::vector<std::jthread> threads;
    for (std::size_t thread = 0; thread < plan.threads; ++thread) {
      threads.emplace_back([&] {
        for (std::size_t index; (index = next_range.fetch_add(1)) < ranges;) {
          const std::uint64_t end = std::min(length, (index + 1) * step);
          quorvant::StatisticsAccumulator accumulator;
          for (std::uint64_t offset = index * step; offset < end; offset += plan.chunk_length) {
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(plan.chunk_length, end - offset));
            // One call maps the chunk's pages, instead of a fault every few
            // pages (a little faster here); older kernels ignore it.
            madvise(const_cast<std::uint8_t*>(bytes + offset), size, MADV_POPULATE_READ);
            accumulator.Add({bytes + offset, size});
          }
          accumulators[index] = accumulator;
        }
      });
    }
  }
  quorvant::StatisticsAccumulator total;
  for (const auto& accumulator : accumulators) total.Append(accumulator);
  statistics = quorvant::ComputeFileStatistics(total.Totals());
  munmap(mapped, length);
  return true;
}

// The kernel QUORVANT_SCAN_KERNEL names, if it names one that runs here.
quorvant::ScanKernel ChosenKernel() {
  const char* name = std::getenv("QUORVANT_SCAN_KERNEL");
  for (const quorvant::ScanKernel kernel : quorvant::AllScanKernels) {
    if (name != nullptr && std::strcmp(name, quorvant::ScanKernelName(kernel)) == 0 &&
        quorvant::ScanKernelRuns(kernel))
      return kernel;
  }
  return quorvant::FastestScanKernel();
}

// The whole file in memory, page-aligned, its pages touched.
std::vector<std::uint8_t> ReadWhole(int file, std::uint64_t length) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  for (std::uint64_t offset = 0; offset < length;) {
    const ssize_t got = pread(file, bytes.data() + offset, static_cast<std::size_t>(length - offset),
                              static_cast<off_t>(offset));
    if (got <= 0) return {};
    offset += static_cast<std::uint64_t>(got);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s read|read16|stats|stats-mmap|kernel FILE [CHUNK] [REPEATS] [THREADS] [RANGES]\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const int file = open(argv[2], O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (file < 0 || fstat(file, &status) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  const auto length = static_cast<std::uint64_t>(status.st_size);
  quorvant::StatisticsPlan plan = quorvant::PlanStatistics(length);
  if (argc > 3) plan.chunk_length = std::max<std::size_t>(std::strtoull(argv[3], nullptr, 10), 1);
  const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;
  if (argc > 5) plan.threads = std::max<std::size_t>(std::strtoull(argv[5], nullptr, 10), 1);
  if (argc > 6) plan.ranges = std::max<std::size_t>(std::strtoull(argv[6], nullptr, 10), 1);

  const quorvant::ScanKernel kernel = ChosenKernel();
  std::vector<std::uint8_t> whole;
  if (mode == "kernel") {
    whole = ReadWhole(file, length);
    if (whole.size() != length) {
      std::fprintf(stderr, "read failed\n");
      return 1;
    }
    plan.threads = 1;
  }

  rusage usage_before{};
  getrusage(RUSAGE_SELF, &usage_before);
  double best = 1e300;
  std::string report;
  quorvant::FileCalls calls;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    if (mode == "stats") {
      auto result = quorvant::ComputeStatisticsWithPlan(file, length, plan, nullptr, calls);
      if (!result.ok() || !result->has_value()) {
        std::fprintf(stderr, "statistics failed\n");
        return 1;
      }
      report = quorvant::RenderStatisticsReport(**result, quorvant::ReportCounts::Include);
    } else if (mode == "stats-mmap") {
      quorvant::FileStatistics statistics;
      if (!MappedStatistics(file, length, plan, statistics)) {
        std::fprintf(stderr, "mapped statistics failed\n");
        return 1;
      }
      report = quorvant::RenderStatisticsReport(statistics, quorvant::ReportCounts::Include);
    } else if (mode == "kernel") {
      quorvant::StatisticsAccumulator accumulator(kernel);
      for (std::size_t offset = 0; offset < whole.size(); offset += plan.chunk_length) {
        accumulator.Add(std::span(whole).subspan(offset, std::min(plan.chunk_length, whole.size() - offset)));
      }
      report = quorvant::RenderStatisticsReport(quorvant::ComputeFileStatistics(accumulator.Totals()),
                                                quorvant::ReportCounts::Include);
    } else if (mode == "read" || mode == "read16") {
      if (!ReadOnly(file, length, plan.chunk_length, mode == "read16" ? 16 : 0)) {
        std::fprintf(stderr, "read failed\n");
        return 1;
      }
    } else {
      std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
      return 2;
    }
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start).count());
  }
  rusage usage_after{};
  getrusage(RUSAGE_SELF, &usage_after);
  auto cpu_seconds = [](const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  const double cpu_per_pass = (cpu_seconds(usage_after) - cpu_seconds(usage_before)) / std::max(repeats, 1);
  std::fprintf(stderr, "%s %llu %.6f %zu %.6f %s\n", mode.c_str(), static_cast<unsigned long long>(length),
               best, plan.threads, cpu_per_pass,
               quorvant::ScanKernelName(mode == "kernel" ? kernel : quorvant::FastestScanKernel()));
  std::fputs(report.c_str(), stdout);
  close(file);
  return 0;
}
