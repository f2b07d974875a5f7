#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/number_format.h"
#include "analysis/stat_figures.h"
#include "analysis/statistics_accumulator.h"
#include "analysis/statistics_kernels.h"

namespace quorvant {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::uint64_t state = 1;
  for (auto& byte : bytes) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  return bytes;
}

// One statistics pass over a buffer already in memory (no reading), fed in
// pieces of range(1) bytes: random data, or all zeros, the worst case for
// the byte counts (every increment hits the same counter).
void BM_AccumulatorPass(benchmark::State& state) {
  const std::size_t piece = static_cast<std::size_t>(state.range(1));
  const std::vector<std::uint8_t> bytes = state.range(0) == 0
                                              ? RandomBytes(std::size_t{64} << 20)
                                              : std::vector<std::uint8_t>(std::size_t{64} << 20, 0);
  for (auto _ : state) {
    StatisticsAccumulator accumulator;
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
      accumulator.Add(std::span(bytes).subspan(offset, std::min(piece, bytes.size() - offset)));
    }
    benchmark::DoNotOptimize(accumulator.Totals());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(state.range(0) == 0 ? "random" : "zeros");
}
BENCHMARK(BM_AccumulatorPass)
    ->Args({0, 16384})
    ->Args({0, 1 << 20})
    ->Args({1, 1 << 20})
    ->Unit(benchmark::kMillisecond);

// One kernel alone over random data in memory, fed in 1 MiB pieces:
// range(0) is the ScanKernel (0 portable, 1 SSE2, 2 AVX2, 3 AVX-512).
void BM_ScanKernel(benchmark::State& state) {
  const auto kernel = static_cast<ScanKernel>(state.range(0));
  if (!ScanKernelRuns(kernel)) {
    state.SkipWithError("does not run here");
    return;
  }
  const std::vector<std::uint8_t> bytes = RandomBytes(std::size_t{64} << 20);
  for (auto _ : state) {
    StatisticsAccumulator accumulator(kernel);
    for (std::size_t offset = 0; offset < bytes.size(); offset += std::size_t{1} << 20) {
      accumulator.Add(std::span(bytes).subspan(offset, std::size_t{1} << 20));
    }
    benchmark::DoNotOptimize(accumulator.Totals());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(ScanKernelName(kernel));
}
BENCHMARK(BM_ScanKernel)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Figures and texts from the totals: the per-run cost after the pass.
void BM_FiguresAndTexts(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = RandomBytes(1 << 20);
  StatisticsAccumulator accumulator;
  accumulator.Add(bytes);
  const ByteTotals totals = accumulator.Totals();
  for (auto _ : state) benchmark::DoNotOptimize(ComputeFileStatistics(totals));
}
BENCHMARK(BM_FiguresAndTexts);

void BM_FormatFixed(benchmark::State& state) {
  double value = 0.123456789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatFixed(value, 6));
    value += 1e-7;
  }
}
BENCHMARK(BM_FormatFixed);

}  // namespace
}  // namespace quorvant

BENCHMARK_MAIN();
