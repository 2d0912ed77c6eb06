// Text and raster-image drawing: a banner line through DrawString, and the 256 x 256 gradient.
#include <benchmark/benchmark.h>

#include "engine/twod/gradient_fill.h"
#include "runtime/runtime.h"
#include "platform/text/font_service.h"

namespace {

// One banner line as the demo draws it: "Lucida Console" 10 pt bold on a 180 x 70 image, drawing
// open, glyphs already cached after the first iteration.
void BM_DrawStringBannerLine(benchmark::State& state) {
  NewRasterImage(1, 180, 70);
  OpenFont(1, "Lucida Console", 10, kFontBold);
  BeginImageDrawing(1);
  SetDrawingFont(1);
  int end = 0;
  for (auto _ : state) {
    end = DrawString(2, 4, "*   Kestrelwing   *", 0xFF);
    benchmark::DoNotOptimize(end);
  }
  EndDrawing();
  ReleaseRuntimeObjects();
  state.counters["width_px"] = end - 2;
}
BENCHMARK(BM_DrawStringBannerLine);

// The same line including opening and closing the drawing, as a one-shot banner draw costs.
void BM_DrawStringBannerLineWithSession(benchmark::State& state) {
  NewRasterImage(1, 180, 70);
  OpenFont(1, "Lucida Console", 10, kFontBold);
  for (auto _ : state) {
    BeginImageDrawing(1);
    SetDrawingFont(1);
    benchmark::DoNotOptimize(DrawString(2, 4, "*   Kestrelwing   *", 0xFF));
    EndDrawing();
  }
  ReleaseRuntimeObjects();
}
BENCHMARK(BM_DrawStringBannerLineWithSession);

void BM_GradientFillImage256(benchmark::State& state) {
  NewRasterImage(1, 256, 256);
  for (auto _ : state)
    benchmark::DoNotOptimize(GradientFillImage(1, 0, 0xFF0000, 0x00FFFF, 0x0000FF, 0x00FF00));
  ReleaseRuntimeObjects();
  state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(BM_GradientFillImage256);

}  // namespace

BENCHMARK_MAIN();
