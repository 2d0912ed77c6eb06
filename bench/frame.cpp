// The whole demo frame against the physics step alone, at rest and during the smash, and the
// sprite and screen-image passes on their own. Prints the frame / physics ratios from the medians
// of one run, so both sides share the machine's state.
//
// The device draws on a worker thread while the program goes on (as a graphics processor does),
// so frames are timed by the clock on the wall: the "Time" column is the frame rate's measure and
// the ratios use it. The "CPU" column is the whole process's CPU time, both threads together.
// The drawing benchmarks run with the worker (worker:1) and with the same commands carried out on
// the program's thread (worker:0), so one run compares the two under the same load.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/demo.h"
#include "automation.h"
#include "engine/vexa.h"

namespace {

constexpr int kSmashFrames = 120;

struct Demo {
  Demo() {
    AutomationUseHeadless();
    ok = DemoStartup() == 0;
  }
  ~Demo() { DemoShutdown(); }
  bool ok = false;
};

Demo& TheDemo() {
  static Demo demo;
  return demo;
}

// The world as SPACE leaves it: rebuilt, balls fired.
void Restart() {
  FreePhysics();
  InitPhysics();
  BodyCount = 0;
  BuildLogo();
  AddBall(-300, 200, 700, 105);
  AddBall(900, 390, -700, -105);
}

void BM_StepPhysicsAtRest(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  FreePhysics();
  InitPhysics();
  BodyCount = 0;
  BuildLogo();
  for (auto _ : state) StepPhysics();
  state.counters["bodies"] = BodyCount;
}
BENCHMARK(BM_StepPhysicsAtRest)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// Applies the benchmark's worker argument, and puts the default back when the benchmark ends.
struct WorkerChoice {
  explicit WorkerChoice(const benchmark::State& state) {
    AutomationUseDeviceWorker(state.range(0) != 0);
  }
  ~WorkerChoice() {
    AutomationFinishDevice(Engine.Device);
    AutomationUseDeviceWorker(true);
  }
};

void BM_FrameAtRest(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  WorkerChoice worker(state);
  FreePhysics();
  InitPhysics();
  BodyCount = 0;
  BuildLogo();
  for (auto _ : state) {
    if (!DemoFrame()) return state.SkipWithError("the demo ended");
  }
  state.counters["bodies"] = BodyCount;
}
BENCHMARK(BM_FrameAtRest)
    ->ArgName("worker")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// Per-frame cost averaged over the first 120 frames after SPACE.
void BM_StepPhysicsSmash(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  for (auto _ : state) {
    state.PauseTiming();
    Restart();
    state.ResumeTiming();
    for (int f = 0; f < kSmashFrames; ++f) StepPhysics();
  }
  state.SetItemsProcessed(state.iterations() * kSmashFrames);
}
BENCHMARK(BM_StepPhysicsSmash)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

void BM_FrameSmash(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  WorkerChoice worker(state);
  for (auto _ : state) {
    state.PauseTiming();
    Restart();
    state.ResumeTiming();
    for (int f = 0; f < kSmashFrames; ++f) {
      if (!DemoFrame()) return state.SkipWithError("the demo ended");
    }
  }
  state.SetItemsProcessed(state.iterations() * kSmashFrames);
}
BENCHMARK(BM_FrameSmash)
    ->ArgName("worker")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The banner's sprite draws queued (one command per body) and drawn by the pass.
void BM_SpriteQueueAndPass(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  FreePhysics();
  InitPhysics();
  BodyCount = 0;
  BuildLogo();
  WorkerChoice worker(state);
  IDirect3DDevice9* device = Engine.Device;
  for (auto _ : state) {
    DrawShapes();
    device->BeginScene();
    DrawSprites();
    device->EndScene();
    AutomationFinishDevice(device);
  }
  state.counters["commands"] = BodyCount;
}
BENCHMARK(BM_SpriteQueueAndPass)
    ->ArgName("worker")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The background: a 64 x 64 picture point-stretched over the 640 x 640 back buffer.
void BM_ScreenImagePass(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  IDirect3DDevice9* device = Engine.Device;
  for (auto _ : state) {
    device->BeginScene();
    DrawScreenImages();
    device->EndScene();
    AutomationFinishDevice(device);
  }
  state.SetItemsProcessed(state.iterations() * 640 * 640);
}
BENCHMARK(BM_ScreenImagePass)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The ratio itself, with frames and steps alternating in short blocks so both see the same load:
// the machine's load drifts over the seconds between two separate benchmarks. The worker's last
// frame is finished, untimed, before each block of steps, so no drawing overlaps a step alone.
double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

constexpr int kBlock = 20;

void BM_PairedAtRest(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  FreePhysics();
  InitPhysics();
  BodyCount = 0;
  BuildLogo();
  double steps = 0, frames = 0;
  for (auto _ : state) {
    AutomationFinishDevice(Engine.Device);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBlock; ++i) StepPhysics();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBlock; ++i)
      if (!DemoFrame()) return state.SkipWithError("the demo ended");
    auto t2 = std::chrono::steady_clock::now();
    steps += Seconds(t1 - t0);
    frames += Seconds(t2 - t1);
  }
  const double n = static_cast<double>(state.iterations()) * kBlock;
  state.counters["step_us"] = steps / n * 1e6;
  state.counters["frame_us"] = frames / n * 1e6;
  state.counters["ratio"] = frames / steps;
}
BENCHMARK(BM_PairedAtRest)->Unit(benchmark::kMillisecond);

void BM_PairedSmash(benchmark::State& state) {
  if (!TheDemo().ok) return state.SkipWithError("demo start-up failed");
  double steps = 0, frames = 0;
  for (auto _ : state) {
    AutomationFinishDevice(Engine.Device);
    Restart();
    auto t0 = std::chrono::steady_clock::now();
    for (int f = 0; f < kSmashFrames; ++f) StepPhysics();
    auto t1 = std::chrono::steady_clock::now();
    Restart();
    auto t2 = std::chrono::steady_clock::now();
    for (int f = 0; f < kSmashFrames; ++f)
      if (!DemoFrame()) return state.SkipWithError("the demo ended");
    auto t3 = std::chrono::steady_clock::now();
    steps += Seconds(t1 - t0);
    frames += Seconds(t3 - t2);
  }
  const double n = static_cast<double>(state.iterations()) * kSmashFrames;
  state.counters["step_us"] = steps / n * 1e6;
  state.counters["frame_us"] = frames / n * 1e6;
  state.counters["ratio"] = frames / steps;
}
BENCHMARK(BM_PairedSmash)->Unit(benchmark::kMillisecond);

// Keeps the median wall-clock time of every benchmark to print the ratios after the run.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
        medians[name] = run.GetAdjustedRealTime();
        auto ratio = run.counters.find("ratio");
        if (ratio != run.counters.end()) pairedRatios[name] = ratio->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;  // in each benchmark's own unit
  std::map<std::string, double> pairedRatios;
};

void PrintRatio(const MedianReporter& r, const char* frame, const char* physics, const char* what) {
  auto f = r.medians.find(frame), p = r.medians.find(physics);
  if (f == r.medians.end() || p == r.medians.end() || p->second <= 0) return;
  std::printf("%s: whole frame / StepPhysics = %.2f (median %.3f vs %.3f)\n", what,
              f->second / p->second, f->second, p->second);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=5";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  bool hasReps = false;
  for (int i = 1; i < argc; ++i)
    hasReps |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  if (!hasReps) {
    args.push_back(reps.data());
    args.push_back(aggregates.data());
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatio(reporter, "BM_FrameAtRest/worker:1", "BM_StepPhysicsAtRest", "at rest");
  PrintRatio(reporter, "BM_FrameSmash/worker:1", "BM_StepPhysicsSmash", "smash (120 frames)");
  for (const auto& [name, ratio] : reporter.pairedRatios)
    std::printf("%s: whole frame / StepPhysics = %.2f (blocks of frames and steps alternating)\n",
                name.c_str(), ratio);
  PrintRatio(reporter, "BM_FrameAtRest/worker:0", "BM_StepPhysicsAtRest",
             "at rest, drawing on the program's thread");
  PrintRatio(reporter, "BM_FrameSmash/worker:0", "BM_StepPhysicsSmash",
             "smash, drawing on the program's thread");
  benchmark::Shutdown();
  return 0;
}
