// The 3D showcase headless at 640 x 640, advancing 1/60 s a frame: whole frames as the program
// runs them (the application thread preparing the next frame while the device's worker draws
// this one, with and without shadows, and with the device drawing on one thread instead of
// sharing its rows with a second), then the same frames with the worker finished after every pass,
// which gives each pass's own cost. The figure's load is timed on its own. `cpu_ms` is the whole
// process's CPU time per frame, every thread included: steadier than wall time on a shared
// machine.
#include <benchmark/benchmark.h>
#include <SDL.h>
#include <time.h>

#include <chrono>
#include <map>
#include <string>

#include "automation.h"
#include "engine/vexa.h"
#include "runtime/random.h"
#include "showcase/showcase.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

bool Start() {
  AutomationUseHeadless();
  static const bool videoHeld = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  (void)videoHeld;
  SeedRandom(1);  // the same particles, so the same work, on every run
  Showcase.fixedStep = true;
  if (ShowcaseStartup() != 0) return false;
  for (int i = 0; i < 60; ++i) ShowcaseFrame();  // particles out, caches warm
  AutomationFinishDevice(Engine.Device);
  return true;
}

void BM_ShowcaseFrame(benchmark::State& state) {
  AutomationUseDeviceStripes(state.range(1) != 0);
  const bool started = Start();
  AutomationUseDeviceStripes(true);
  if (!started) {
    state.SkipWithError("the showcase did not start");
    ShowcaseShutdown();
    return;
  }
  Showcase.shadows = state.range(0) != 0;
  SetShadowMapping(Showcase.shadows ? 1 : 0);
  const double cpuStart = ProcessSeconds();
  for (auto _ : state) ShowcaseFrame();
  AutomationFinishDevice(Engine.Device);
  const double frames = static_cast<double>(state.iterations());
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["cpu_ms"] = benchmark::Counter((ProcessSeconds() - cpuStart) * 1000.0 / frames);
  ShowcaseShutdown();
}
BENCHMARK(BM_ShowcaseFrame)
    ->ArgNames({"shadows", "stripes"})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Per pass: the time from one reported pass to the next, with the worker finished at each report.
std::map<std::string, double> passSeconds;
std::string currentPass;
Clock::time_point passStart;

void ObservePass(const char* pass) {
  AutomationFinishDevice(Engine.Device);
  const Clock::time_point now = Clock::now();
  if (!currentPass.empty())
    passSeconds[currentPass] += std::chrono::duration<double>(now - passStart).count();
  currentPass = pass;
  passStart = now;
}

void BM_ShowcasePasses(benchmark::State& state) {
  if (!Start()) {
    state.SkipWithError("the showcase did not start");
    ShowcaseShutdown();
    return;
  }
  passSeconds.clear();
  SetFramePassObserver(ObservePass);
  const double cpuStart = ProcessSeconds();
  for (auto _ : state) {
    currentPass.clear();
    ShowcaseFrame();
    ObservePass("");  // closes the last pass (Flip)
  }
  SetFramePassObserver(nullptr);
  const double frames = static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = benchmark::Counter((ProcessSeconds() - cpuStart) * 1000.0 / frames);
  for (const auto& [pass, seconds] : passSeconds)
    state.counters[pass] = benchmark::Counter(seconds * 1000.0 / frames);
  ShowcaseShutdown();
}
BENCHMARK(BM_ShowcasePasses)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(120);

void BM_LoadFigure(benchmark::State& state) {
  if (!Start()) {
    state.SkipWithError("the showcase did not start");
    ShowcaseShutdown();
    return;
  }
  const std::string path = ShowcaseAssetDirectory() + "/figure.x";
  for (auto _ : state) {
    AnimatedMesh* figure = LoadAnimatedMesh(path.c_str());
    if (figure == nullptr) {
      state.SkipWithError("the figure did not load");
      break;
    }
    ReleaseAnimatedMesh(figure);
  }
  ShowcaseShutdown();
}
BENCHMARK(BM_LoadFigure)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
