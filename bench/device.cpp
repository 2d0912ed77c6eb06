// Device benchmarks, headless: Clear + Present of the demo's 640 x 640 frame, textured quad fills
// (scaled through the general path and texel-aligned through the fast path), the demo's 3000
// sprite quads, and the background's 64 -> 640 point StretchRect. The device draws on its worker
// threads: every iteration waits for them, and times are wall-clock times.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "automation.h"
#include "d3d9.h"
#include "tests/support/headless_device.h"
#include "windows.h"

namespace {

constexpr UINT kSize = 640;

struct TLVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
struct LVertex {
  float x, y, z;
  D3DCOLOR colour;
  float u, v;
};

// One window and device for the whole run, as the demo has.
struct Rig {
  test_support::HeadlessDevice headless;
  IDirect3DDevice9* device = nullptr;

  Rig() {
    if (headless.Open(kSize, kSize)) device = headless.device;
  }

  IDirect3DTexture9* Texture(UINT w, UINT h, uint32_t seed) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(device->CreateTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
      return nullptr;
    D3DLOCKED_RECT lr;
    t->LockRect(0, &lr, nullptr, 0);
    std::mt19937 rng(seed);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
            rng() | 0x80000000u;
    t->UnlockRect(0);
    return t;
  }
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

void PixelRate(benchmark::State& state, double pixelsPerIteration) {
  state.counters["pixels/s"] = benchmark::Counter(
      pixelsPerIteration * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ClearPresent640(benchmark::State& state) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  for (auto _ : state) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
    d->Present(nullptr, nullptr, nullptr, nullptr);
  }
  PixelRate(state, kSize * kSize);
}
BENCHMARK(BM_ClearPresent640)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A full-target quad sampling a 64 x 64 texture with linear filtering: the general path.
void BM_TexturedQuadScaled(benchmark::State& state) {
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DTexture9* tex = rig.Texture(64, 64, 1);
  d->SetTexture(0, tex);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  const float e = kSize - 0.5f;
  TLVertex q[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0, 0},
                   {e, -0.5f, 0, 1, 0xFFFFFFFF, 1, 0},
                   {-0.5f, e, 0, 1, 0xFFFFFFFF, 0, 1},
                   {e, e, 0, 1, 0xFFFFFFFF, 1, 1}};
  for (auto _ : state) {
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex));
    d->EndScene();
    AutomationFinishDevice(d);
  }
  PixelRate(state, kSize * kSize);
  d->SetTexture(0, nullptr);
  d->SetRenderState(D3DRS_ZENABLE, TRUE);
  tex->Release();
}
BENCHMARK(BM_TexturedQuadScaled)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same fill with a 512 x 512 texture mapped one texel per pixel: the quad fast path.
void BM_TexturedQuadTexelAligned(benchmark::State& state) {
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DTexture9* tex = rig.Texture(512, 512, 2);
  d->SetTexture(0, tex);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  const float e = 512 - 0.5f;
  TLVertex q[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0, 0},
                   {e, -0.5f, 0, 1, 0xFFFFFFFF, 1, 0},
                   {-0.5f, e, 0, 1, 0xFFFFFFFF, 0, 1},
                   {e, e, 0, 1, 0xFFFFFFFF, 1, 1}};
  for (auto _ : state) {
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex));
    d->EndScene();
    AutomationFinishDevice(d);
  }
  PixelRate(state, 512.0 * 512.0);
  d->SetTexture(0, nullptr);
  d->SetRenderState(D3DRS_ZENABLE, TRUE);
  tex->Release();
}
BENCHMARK(BM_TexturedQuadTexelAligned)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The demo's body pass: 3000 separate DrawPrimitiveUP calls of 3 x 3 quads through an
// orthographic projection, alpha blended and tested, with render-state changes between draws.
void BM_SpriteQuads3000(benchmark::State& state) {
  const bool churn = state.range(0) != 0;  // states changed and restored around every draw
  Rig& rig = TheRig();
  IDirect3DDevice9* d = rig.device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DTexture9* tex = rig.Texture(16, 16, 3);
  D3DMATRIX identity = {}, proj = {};
  identity._11 = identity._22 = identity._33 = identity._44 = 1;
  proj._11 = 2.f / kSize;
  proj._22 = -2.f / kSize;
  proj._33 = 1;
  proj._41 = -(kSize + 1.f) / kSize;
  proj._42 = (kSize + 1.f) / kSize;
  proj._44 = 1;
  std::vector<LVertex> quads(3000 * 6);
  std::mt19937 rng(5);
  for (int i = 0; i < 3000; ++i) {
    float x = static_cast<float>(rng() % (kSize - 3)), y = static_cast<float>(rng() % (kSize - 3));
    D3DCOLOR c = rng() | 0xFF000000u;
    float u0 = static_cast<float>(rng() % 13) / 16.f, v0 = static_cast<float>(rng() % 13) / 16.f;
    float u1 = u0 + 3.f / 16, v1 = v0 + 3.f / 16;
    LVertex* q = &quads[6 * i];
    q[0] = {x, y, 0, c, u0, v0};
    q[1] = {x + 3, y, 0, c, u1, v0};
    q[2] = {x, y + 3, 0, c, u0, v1};
    q[3] = q[1];
    q[4] = {x + 3, y + 3, 0, c, u1, v1};
    q[5] = q[2];
  }
  for (auto _ : state) {
    d->BeginScene();
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->SetTexture(0, tex);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);  // as the sprite batch sets it
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    d->SetRenderState(D3DRS_ALPHAREF, 0);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    for (int i = 0; i < 3000; ++i) {
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, &quads[6 * i], sizeof(LVertex));
      if (churn) {
        // What a sprite batch's End does: put the caller's states back.
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
      }
    }
    d->EndScene();
    AutomationFinishDevice(d);
  }
  PixelRate(state, 3000.0 * 9.0);
  state.counters["sprites/s"] = benchmark::Counter(3000.0 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
  d->SetTexture(0, nullptr);
  d->SetRenderState(D3DRS_ZENABLE, TRUE);
  tex->Release();
}
BENCHMARK(BM_SpriteQuads3000)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The background: a 64 x 64 default-pool surface stretched over the 640 x 640 back buffer.
void BM_StretchRectPoint64To640(benchmark::State& state) {
  IDirect3DDevice9* d = TheRig().device;
  if (!d) return state.SkipWithError("no device");
  IDirect3DSurface9 *src = nullptr, *bb = nullptr;
  d->CreateOffscreenPlainSurface(64, 64, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &src, nullptr);
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
  RECT s = {0, 0, 64, 64}, t = {0, 0, static_cast<LONG>(kSize), static_cast<LONG>(kSize)};
  for (auto _ : state) {
    d->StretchRect(src, &s, bb, &t, D3DTEXF_NONE);
    AutomationFinishDevice(d);
  }
  PixelRate(state, kSize * kSize);
  bb->Release();
  src->Release();
}
BENCHMARK(BM_StretchRectPoint64To640)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
