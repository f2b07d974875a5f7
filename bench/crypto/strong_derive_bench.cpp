// Figures for choosing the strong format's Argon2id cost, and the chunk
// cipher's speed. Run by hand; not part of the tests.
//
//   strong_derive_bench [ROUNDS]     (default 5)
//   strong_derive_bench chunks       the chunk cipher alone
//
// For each cost, in a child process of its own so that its peak resident
// memory (from wait4) is its alone: min / median / max seconds of one
// DeriveStrongMasterKey over ROUNDS rounds. Then MiB/s of EncryptChunks and
// DecryptChunks over 64 MiB in memory, on one thread and shared out on
// ChunkWorkers in windows of 1 MiB (as a run's windows get them), with the
// CPU time of the process's threads against the wall time.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "crypto/strong_format.h"

namespace quorvant {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr StrongCost Costs[] = {
    MinStrongCost,      // the floor, as the tests use
    {3, 64 * 1024},     // a quarter of the default
    {3, 128 * 1024},    // half the default
    DefaultStrongCost,  // 3 passes, 256 MiB
    {2, 512 * 1024},    // a longer wait, twice the memory
};

// Runs in the child: prints the times, exits 1 when a derivation failed.
void TimeDerivations(StrongCost cost, int rounds) {
  const StrongFreshParts parts = DrawStrongFreshParts();
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    Result<StrongMasterKey, StrongKeyFailure> master_key =
        DeriveStrongMasterKey("correct horse battery staple", parts.salt, cost);
    times.push_back(Seconds(std::chrono::steady_clock::now() - start).count());
    if (!master_key.ok()) _exit(1);
  }
  std::sort(times.begin(), times.end());
  std::printf("derive %2u passes %5u MiB: min %.3f s  median %.3f s  max %.3f s", cost.passes,
              cost.memory_kib / 1024, times.front(), times[times.size() / 2], times.back());
  std::fflush(stdout);
  _exit(0);
}

void MeasureCost(StrongCost cost, int rounds) {
  std::fflush(stdout);  // else the child prints the parent's lines again
  const pid_t child = fork();
  if (child == 0) TimeDerivations(cost, rounds);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::printf("%s  peak %ld MiB\n", ok ? "" : "derive failed", usage.ru_maxrss / 1024);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `work` and prints its speed over `mib` MiB and its CPU time per wall second.
template <typename Work>
void Time(const char* what, double mib, Work work) {
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const bool sound = work();
  const double wall = Seconds(std::chrono::steady_clock::now() - start).count();
  std::printf("  %-34s %6.0f MiB/s  CPU %.2f of wall%s\n", what, mib / wall, (CpuSeconds() - cpu) / wall,
              sound ? "" : " (tags failed!)");
}

void MeasureChunks() {
  constexpr std::uint64_t Length = 64 << 20;
  constexpr std::uint64_t Window = 1 << 20;
  const StrongFreshParts parts = DrawStrongFreshParts();
  const StrongChunkCipher cipher(parts.file_key, parts.nonce_prefix, Length);
  std::vector<std::uint8_t> data(Length, 0x5A);
  std::vector<std::uint8_t> tags(cipher.ChunkCount() * StrongTagLength);
  const auto windows = [&](auto turn) {
    bool sound = true;
    for (std::uint64_t at = 0; at < Length; at += Window) {
      const std::uint64_t first = at / StrongChunkLength;
      const std::uint64_t chunks = Window / StrongChunkLength;
      sound = turn(first, std::span(data).subspan(at, Window),
                   std::span(tags).subspan(first * StrongTagLength, chunks * StrongTagLength)) &&
              sound;
    }
    return sound;
  };
  std::printf("chunks over 64 MiB in memory:\n");
  Time("encrypt, one thread", 64, [&] {
    cipher.EncryptChunks(0, data, tags);
    return true;
  });
  Time("decrypt, one thread", 64, [&] { return cipher.DecryptChunks(0, data, tags).empty(); });
  ChunkWorkers workers(ChunkWorkers::BesideCaller());
  Time("encrypt, 1 MiB windows on workers", 64, [&] {
    return windows(
        [&](std::uint64_t first, std::span<std::uint8_t> window, std::span<std::uint8_t> window_tags) {
          EncryptChunksOn(workers, cipher, first, window, window_tags);
          return true;
        });
  });
  Time("decrypt, 1 MiB windows on workers", 64, [&] {
    return windows(
        [&](std::uint64_t first, std::span<std::uint8_t> window, std::span<std::uint8_t> window_tags) {
          return DecryptChunksOn(workers, cipher, first, window, window_tags).empty();
        });
  });
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  const bool chunks_only = argc > 1 && std::string_view(argv[1]) == "chunks";
  const int rounds = argc > 1 && !chunks_only ? std::max(1, std::atoi(argv[1])) : 5;
  if (!chunks_only) {
    for (const quorvant::StrongCost cost : quorvant::Costs) quorvant::MeasureCost(cost, rounds);
  }
  quorvant::MeasureChunks();
  return 0;
}
