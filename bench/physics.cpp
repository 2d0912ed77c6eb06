// The physics floor of the frame time: a full rebuild of the banner world, one frame of stepping
// with the banner at rest, and one frame of stepping while the balls smash it.
#include <benchmark/benchmark.h>

#include <chrono>

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

// Reported time: the mean of one StepPhysics over the first 120 frames after SPACE.
void BM_StepPhysicsSmash(benchmark::State& state) {
  if (!PrepareBanner()) return state.SkipWithError("banner image");
  for (auto _ : state) {
    if (!Rebuild()) return state.SkipWithError("world");
    AddBall(-300, 200, 700, 105);
    AddBall(900, 390, -700, -105);
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < kSmashFrames; ++frame) StepPhysics();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count() / kSmashFrames);
  }
  state.counters["bodies"] = BodyCount;
  FreePhysics();
}
BENCHMARK(BM_StepPhysicsSmash)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
