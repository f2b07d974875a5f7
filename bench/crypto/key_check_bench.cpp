// Figures for choosing the key check's cost. Run by hand; not part of the tests.
//   BM_MakeKeyCheck/P/M       one derivation at P passes and M MiB
//   BM_RunMakeKeyCheck/M      one more check in a run that already derived
//                             (a run's checker at 3 passes and M MiB)
//   BM_JudgeStart/kind        one judgement of a 16 KiB start
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/key_check.h"
#include "crypto/key_judge.h"

namespace quorvant {
namespace {

constexpr EncryptedSuffix Suffix{' ', 'a', 'B', '3', 'x', '(', 'Q', '~', '['};

void BM_MakeKeyCheck(benchmark::State& state) {
  const KeyCheckCost cost{static_cast<std::uint8_t>(state.range(0)),
                          static_cast<std::uint16_t>(state.range(1))};
  for (auto _ : state) {
    Result<KeyCheckValue> value = MakeKeyCheck("correct horse battery", Suffix, 1 << 20, cost);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_MakeKeyCheck)
    ->ArgsProduct({{1, 2, 3, 4, 5, 6}, {16, 32}})
    ->Args({1, 64})
    ->Args({2, 64})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

void BM_RunMakeKeyCheck(benchmark::State& state) {
  RunKeyChecker checker("correct horse battery", KeyCheckCost{3, static_cast<std::uint16_t>(state.range(0))});
  benchmark::DoNotOptimize(checker.Make("correct horse battery", Suffix, 1));
  for (auto _ : state) {
    Result<KeyCheckValue> value = checker.Make("correct horse battery", Suffix, 1 << 20);
    benchmark::DoNotOptimize(value);
  }
  if (checker.Derivations() != 1) state.SkipWithError("derived more than once");
}
BENCHMARK(BM_RunMakeKeyCheck)->Arg(32)->Unit(benchmark::kMicrosecond);

void BM_JudgeStart(benchmark::State& state) {
  static StartJudge judge;
  std::mt19937_64 random(1);
  std::vector<std::uint8_t> start(16384);
  for (auto& byte : start)
    byte = static_cast<std::uint8_t>(state.range(0) == 0 ? random() : 'a' + random() % 26);
  for (auto _ : state) benchmark::DoNotOptimize(judge.Judge(start));
}
BENCHMARK(BM_JudgeStart)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvant

BENCHMARK_MAIN();
