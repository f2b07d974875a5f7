// TransformBlock throughput on a 16384-byte block in memory, against memcpy
// of the same block (and a plain copy loop); prints the rates and the ratios
// (target: at least 0.5).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "crypto/cipher.h"

namespace {

using quorvant::BuildKeyWords;
using quorvant::Direction;
using quorvant::EncryptedSuffix;
using quorvant::KeyWords;
using quorvant::MaxBlockLength;

const EncryptedSuffix Suffix = {' ', 'b', 'e', 'n', 'c', 'h', '!', '~', '['};

void TransformBlockBenchmark(benchmark::State& state, Direction direction) {
  std::vector<std::uint8_t> block(MaxBlockLength);
  for (std::size_t index = 0; index < block.size(); ++index)
    block[index] = static_cast<std::uint8_t>(index * 13);
  KeyWords words = BuildKeyWords("benchmark key", Suffix);
  for (auto _ : state) {
    quorvant::TransformBlock(block, MaxBlockLength, direction, words);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * MaxBlockLength);
}

void BM_TransformBlockEncrypt(benchmark::State& state) { TransformBlockBenchmark(state, Direction::Encrypt); }
void BM_TransformBlockDecrypt(benchmark::State& state) { TransformBlockBenchmark(state, Direction::Decrypt); }

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> source(MaxBlockLength, 1);
  std::vector<std::uint8_t> target(MaxBlockLength);
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.data());
    std::memcpy(target.data(), source.data(), MaxBlockLength);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * MaxBlockLength);
}

// A plain copy loop of 8-byte words: on some machines (virtual machines
// whose "rep movsb" is slow) it beats the C library's memcpy by far, so it is
// the fairer limit of what one pass over the block costs.
#if defined(__GNUC__) && !defined(__clang__)
// Keep GCC from turning the loop back into a memcpy call.
__attribute__((optimize("no-tree-loop-distribute-patterns")))
#endif
void BM_CopyLoop(benchmark::State& state) {
  std::vector<std::uint64_t> source(MaxBlockLength / 8, 1);
  std::vector<std::uint64_t> target(MaxBlockLength / 8);
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.data());
    for (std::size_t index = 0; index < source.size(); ++index) target[index] = source[index];
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * MaxBlockLength);
}

BENCHMARK(BM_TransformBlockEncrypt);
BENCHMARK(BM_TransformBlockDecrypt);
BENCHMARK(BM_Memcpy);
BENCHMARK(BM_CopyLoop);

// The console output plus, at the end, the throughput ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto found = run.counters.find("bytes_per_second");
      if (found != run.counters.end()) throughput_[run.benchmark_name()] = found->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double memcpy_rate = throughput_["BM_Memcpy"];
    const double copy_loop_rate = throughput_["BM_CopyLoop"];
    if (memcpy_rate <= 0 || copy_loop_rate <= 0) return;
    for (const char* name : {"BM_TransformBlockEncrypt", "BM_TransformBlockDecrypt"}) {
      const double rate = throughput_[name];
      std::printf(
          "%s: %.2f GB/s; memcpy %.2f GB/s, ratio %.3f; copy loop %.2f GB/s, ratio %.3f (target >= 0.5)\n",
          name, rate / 1e9, memcpy_rate / 1e9, rate / memcpy_rate, copy_loop_rate / 1e9,
          rate / copy_loop_rate);
    }
  }

 private:
  std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
