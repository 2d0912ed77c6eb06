// The text pass of a demo frame: the prompt and the heads-up line queued with DrawText and drawn
// by DrawTextPass inside a scene, on the engine opened as the demo opens it (headless).
#include <benchmark/benchmark.h>

#include "automation.h"
#include "engine/vexa.h"

namespace {

constexpr const char* kPrompt = "Press SPACE to start this demo!";
constexpr const char* kHeadsUp = "FPS: 1234 Objekte: 3072";

bool OpenEngine() {
  if (Engine.Device != nullptr) return true;
  AutomationUseHeadless();
  if (OpenScreen(0, 0, 640, 640, "Text pass", 0x00C80001) != 1) return false;
  SetFrameSync(0);
  return Engine.Device != nullptr;
}

// Queue both lines and draw them: what one frame of the demo costs in text.
void BM_TextPassTwoLines(benchmark::State& state) {
  if (!OpenEngine()) return state.SkipWithError("engine did not open");
  IDirect3DDevice9* device = Engine.Device;
  for (auto _ : state) {
    DrawText(200, 500, kPrompt);
    DrawText(200, 560, kHeadsUp);
    device->BeginScene();
    DrawTextPass();
    device->EndScene();
  }
  state.counters["lines/frame"] = 2;
}
BENCHMARK(BM_TextPassTwoLines)->Unit(benchmark::kMicrosecond);

// Queueing alone: the DT_CALCRECT measurement and the command record.
void BM_QueueTwoLines(benchmark::State& state) {
  if (!OpenEngine()) return state.SkipWithError("engine did not open");
  for (auto _ : state) {
    DrawText(200, 500, kPrompt);
    DrawText(200, 560, kHeadsUp);
    state.PauseTiming();
    Engine.TextQueue.Clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_QueueTwoLines)->Unit(benchmark::kMicrosecond);

// The sprite pass's worst habit: a Flush after every examined command, mostly with nothing in
// the batch. The demo does about 15000 per frame.
void BM_EmptySpriteFlush(benchmark::State& state) {
  if (!OpenEngine()) return state.SkipWithError("engine did not open");
  ID3DXSprite* sprite = Engine.FontList.First()->D3DSprite;
  IDirect3DDevice9* device = Engine.Device;
  device->BeginScene();
  sprite->Begin(D3DXSPRITE_ALPHABLEND);
  for (auto _ : state) benchmark::DoNotOptimize(sprite->Flush());
  sprite->End();
  device->EndScene();
}
BENCHMARK(BM_EmptySpriteFlush)->Unit(benchmark::kNanosecond);

// One 3 x 3 quad per flush, as the sprite pass draws each body.
void BM_OneQuadSpriteFlush(benchmark::State& state) {
  if (!OpenEngine()) return state.SkipWithError("engine did not open");
  IDirect3DDevice9* device = Engine.Device;
  IDirect3DTexture9* texture = nullptr;
  if (FAILED(
          device->CreateTexture(3, 3, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)))
    return state.SkipWithError("texture");
  ID3DXSprite* sprite = Engine.FontList.First()->D3DSprite;
  const D3DXVECTOR3 centre(1.5f, 1.5f, 0.0f);
  D3DXMATRIX m;
  device->BeginScene();
  sprite->Begin(D3DXSPRITE_ALPHABLEND);
  int i = 0;
  for (auto _ : state) {
    D3DXMatrixTranslation(&m, (float)(100 + (i & 255)), (float)(100 + ((i >> 8) & 255)), 0.0f);
    ++i;
    sprite->SetTransform(&m);
    sprite->Draw(texture, nullptr, &centre, nullptr, 0xFFFFFFFF);
    sprite->Flush();
  }
  sprite->End();
  device->EndScene();
  texture->Release();
}
BENCHMARK(BM_OneQuadSpriteFlush)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
