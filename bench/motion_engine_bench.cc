// Cost of simulated motion: a 1,000,000-pulse move at 4,000,000 PPS from start
// to end, tick by tick as a polling board would advance it. The counter
// "realtime" is simulated seconds per second of computing.
#include <benchmark/benchmark.h>

#include "sim/motion_engine.h"

namespace rvx::sim {
namespace {

// R 16,000 (M 500), drive 8000 x 500 PPS; ramps of 10 ms (trapezoid) and 23 ms (S-curve at
// the steepest jerk).
MotionParams FastMove(bool s_curve) {
  return s_curve ? MotionParams{16000, 100, 8000, 8000, 8000, 1, 1, true, false}
                 : MotionParams{16000, 1, 8000, 6400, 6400, 65535, 65535, false, true};
}

void BM_MillionPulseMove(benchmark::State& state) {
  const MotionParams params = FastMove(state.range(0) != 0);
  uint64_t ticks = 0;
  for (auto _ : state) {
    AxisMotion axis{};
    StartFixedDrive(&axis, params, 1000000, 1);
    while (axis.busy) {
      Advance(&axis, 1);
      ++ticks;
    }
    benchmark::DoNotOptimize(axis.position);
  }
  state.counters["realtime"] =
      benchmark::Counter(static_cast<double>(ticks) * kTickSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MillionPulseMove)->ArgName("s_curve")->Arg(0)->Arg(1);

}  // namespace
}  // namespace rvx::sim
