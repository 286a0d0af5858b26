// Cost of turning one set of user speeds into chip parameters, which every
// move start pays while it holds the library mutex.
#include <benchmark/benchmark.h>

#include "motion/profile.h"

namespace rvx {
namespace {

// A spread of speeds and times, so that neither branch nor clamp is always taken.
constexpr ProfileInput kInputs[] = {
    {1000, 100000, 100, 100},
    {100, 10000, 50, 200},
    {500, 5000, 300, 300},
    {1, 4000000, 1000, 1000},
    {7000, 7000, 0, 0},
    {8000, 10, 64000, 1},
    {0, 0, 0, 0},
    {250, 1234567, 12, 3456},
};
constexpr int kInputCount = sizeof kInputs / sizeof kInputs[0];

void BM_ComputeProfile(benchmark::State& state) {
  const ProfileKind kind = state.range(0) ? ProfileKind::kPositioning : ProfileKind::kContinuous;
  const bool s_curve = state.range(1) != 0;
  int i = 0;
  for (auto _ : state) {
    SpeedProfile p = ComputeProfile(kind, s_curve, kInputs[i], 100, 0);
    benchmark::DoNotOptimize(p);
    i = (i + 1) % kInputCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComputeProfile)
    ->ArgNames({"positioning", "s_curve"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({0, 1});

}  // namespace
}  // namespace rvx

BENCHMARK_MAIN();
