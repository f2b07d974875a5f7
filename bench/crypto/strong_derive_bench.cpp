// Figures for choosing the strong format's Argon2id cost, and the chunk
// cipher's speed. Run by hand; not part of the tests.
//
//   strong_derive_bench [ROUNDS]     (default 5)
//
// For each cost, in a child process of its own so that its peak resident
// memory (from wait4) is its alone: min / median / max seconds of one
// DeriveStrongMasterKey over ROUNDS rounds. Then MiB/s of EncryptChunks and
// DecryptChunks over 64 MiB in memory.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

void MeasureChunks() {
  constexpr std::uint64_t Length = 64 << 20;
  const StrongFreshParts parts = DrawStrongFreshParts();
  const StrongChunkCipher cipher(parts.file_key, parts.nonce_prefix, Length);
  std::vector<std::uint8_t> data(Length, 0x5A);
  std::vector<std::uint8_t> tags(cipher.ChunkCount() * StrongTagLength);
  auto start = std::chrono::steady_clock::now();
  cipher.EncryptChunks(0, data, tags);
  const double encrypt = Seconds(std::chrono::steady_clock::now() - start).count();
  start = std::chrono::steady_clock::now();
  const bool sound = cipher.DecryptChunks(0, data, tags).empty();
  const double decrypt = Seconds(std::chrono::steady_clock::now() - start).count();
  std::printf("chunks over 64 MiB: encrypt %.0f MiB/s, decrypt %.0f MiB/s%s\n", 64 / encrypt, 64 / decrypt,
              sound ? "" : " (tags failed!)");
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  for (const quorvant::StrongCost cost : quorvant::Costs) quorvant::MeasureCost(cost, rounds);
  quorvant::MeasureChunks();
  return 0;
}
