// Times one pass over a file:
//   quorvant_stats_driver read   FILE [CHUNK] [REPEATS]  pread only, page-aligned buffer
//   quorvant_stats_driver read16 FILE [CHUNK] [REPEATS]  pread only, buffer 16 bytes past a page
//   quorvant_stats_driver stats  FILE [CHUNK] [REPEATS]  ComputeStatisticsInChunks
// The best time goes to stderr as "<mode> <bytes> <seconds>"; stats also
// prints its report (figures and byte counts) to stdout.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/statistics_engine.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s read|read16|stats FILE [CHUNK] [REPEATS]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::size_t chunk_length =
      argc > 3 ? std::strtoull(argv[3], nullptr, 10) : quorvant::StatisticsChunkLength;
  const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;
  const int file = open(argv[2], O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (file < 0 || fstat(file, &status) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  const auto length = static_cast<std::uint64_t>(status.st_size);

  double best = 1e300;
  std::string report;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    if (mode == "stats") {
      auto result = quorvant::ComputeStatisticsInChunks(file, length, chunk_length, nullptr);
      if (!result.ok() || !result->has_value()) {
        std::fprintf(stderr, "statistics failed\n");
        return 1;
      }
      report = quorvant::RenderStatisticsReport(**result, quorvant::ReportCounts::Include);
    } else if (mode == "read" || mode == "read16") {
      if (!ReadOnly(file, length, chunk_length, mode == "read16" ? 16 : 0)) {
        std::fprintf(stderr, "read failed\n");
        return 1;
      }
    } else {
      std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
      return 2;
    }
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start).count());
  }
  std::fprintf(stderr, "%s %llu %.6f\n", mode.c_str(), static_cast<unsigned long long>(length), best);
  std::fputs(report.c_str(), stdout);
  close(file);
  return 0;
}
