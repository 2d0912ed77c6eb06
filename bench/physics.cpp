// The physics floor of the frame time: a full rebuild of the banner world, one frame of stepping
// with the banner at rest, and one frame of stepping while the balls smash it.
#include <benchmark/benchmark.h>

#include "app/demo.h"
#include "runtime/runtime.h"

namespace {

constexpr int kSmashFrames = 120;

// The banner image exactly as start-up draws it.
bool PrepareBanner() {
  if (LogoImage != 0) return true;
  LogoImage = NewRasterImage(kAnyObject, kLogoWidth, kLogoHeight, 24);
  if (LogoImage == 0) return false;
  return DrawBanner();
}

bool Rebuild() {
  FreePhysics();
  if (!InitPhysics()) return false;
  BodyCount = 0;
  BuildLogo();
  return true;
}

void BM_BuildLogo(benchmark::State& state) {
  if (!PrepareBanner()) return state.SkipWithError("banner image");
  for (auto _ : state) {
    if (!Rebuild()) return state.SkipWithError("world");
  }
  state.counters["bodies"] = BodyCount;
  FreePhysics();
}
BENCHMARK(BM_BuildLogo)->Unit(benchmark::kMillisecond);

void BM_StepPhysicsAtRest(benchmark::State& state) {
  if (!PrepareBanner() || !Rebuild()) return state.SkipWithError("world");
  for (auto _ : state) StepPhysics();
  state.counters["bodies"] = BodyCount;
  FreePhysics();
}
BENCHMARK(BM_StepPhysicsAtRest)->Unit(benchmark::kMicrosecond);

// One iteration: the first 120 frames after SPACE (the rebuild itself is not timed). The
// counter per_frame is the CPU time of one StepPhysics averaged over those frames.
void BM_StepPhysicsSmash(benchmark::State& state) {
  if (!PrepareBanner()) return state.SkipWithError("banner image");
  for (auto _ : state) {
    state.PauseTiming();
    if (!Rebuild()) return state.SkipWithError("world");
    AddBall(-300, 200, 700, 105);
    AddBall(900, 390, -700, -105);
    state.ResumeTiming();
    for (int frame = 0; frame < kSmashFrames; ++frame) StepPhysics();
  }
  state.counters["bodies"] = BodyCount;
  state.counters["per_frame"] = benchmark::Counter(
      kSmashFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  FreePhysics();
}
BENCHMARK(BM_StepPhysicsSmash)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
