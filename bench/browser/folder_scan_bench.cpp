// Cost of keeping the file list current: one full listing of a folder of
// 2000 files, and one idle question to the folder watch.
//
// The share_of_24ms counter is the scan's CPU time over the 24 ms input cycle:
// the share of one core that re-listing on every cycle would take.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/clock.h"
#include "browser/file_table.h"
#include "browser/folder_scan.h"
#include "browser/folder_watch.h"

namespace quorvant {
namespace {

constexpr double CycleSeconds = 0.024;

// A folder of files under /tmp with names of a realistic length, a quarter of
// them encrypted; removed at the end.
class BenchFolder {
 public:
  explicit BenchFolder(int file_count) {
    char pattern[] = "/tmp/quorvant-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::perror("mkdtemp");
    path_ = pattern;
    fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < file_count; ++i) {
      std::string name = "holiday photo " + std::to_string(i) + ".jpg";
      if (i % 4 == 0) name += " Ab3xZ9q[";
      const int file = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file < 0 || write(file, "data", 4) != 4) std::perror("create");
      if (file >= 0) close(file);
    }
  }
  ~BenchFolder() {
    close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  int fd() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
};

void BM_FolderScan(benchmark::State& state) {
  const int file_count = static_cast<int>(state.range(0));
  BenchFolder folder(file_count);
  FileTable table;
  for (auto _ : state) {
    const Status status = FolderScan(folder.fd(), table);
    benchmark::DoNotOptimize(status.ok());
  }
  if (table.FileCount() != file_count) state.SkipWithError("listing incomplete");
  state.counters["files"] = table.FileCount();
  state.counters["share_of_24ms"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * CycleSeconds,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FolderScan)->Arg(20)->Arg(2000)->Unit(benchmark::kMicrosecond);

// What an idle input cycle costs with the watch: the question (a clock reading
// and one empty read) instead of a listing.
void BM_FolderWatchIdleQuestion(benchmark::State& state) {
  BenchFolder folder(2000);
  FolderWatch watch(folder.fd());
  if (watch.Mode() != WatchMode::Trusted) state.SkipWithError("no folder watch");
  RealClock clock;
  int rescans = 0;
  for (auto _ : state) rescans += watch.MustRescan(clock) ? 1 : 0;
  state.counters["rescans"] = rescans;
  state.counters["share_of_24ms"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * CycleSeconds,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FolderWatchIdleQuestion)->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace quorvant

BENCHMARK_MAIN();
