// Draws shared between two threads by stripes of rows give the same pixels as one thread: shaded
// and fixed-function triangles across stripe edges, depth, lines, points, the sprite fast path,
// clears, and a texture rendered on one pass and read on the next.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "automation.h"
#include "d3d9_test_support.h"
#include "d3d9.h"
#include "d3dx9.h"
#include "tests/support/headless_device.h"

namespace {

constexpr UINT kWidth = 160, kHeight = 120;  // 7.5 stripes of rows

using d3d9_test::kTLFvf;
using d3d9_test::TLVertex;

struct Scene {
  std::vector<uint32_t> backBuffer;
  std::vector<uint32_t> target;  // the texture drawn into, as read back
};

void Quad(IDirect3DDevice9* d, float x0, float y0, float x1, float y1, D3DCOLOR c, float z) {
  const TLVertex q[4] = {{x0, y0, z, 1, c, 0, 0},
                         {x1, y0, z, 1, c, 1, 0},
                         {x0, y1, z, 1, c, 0, 1},
                         {x1, y1, z, 1, c, 1, 1}};
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex));
}

std::vector<DWORD> CompilePixelShader(const char* source) {
  ID3DXBuffer* code = nullptr;
  if (FAILED(D3DXCompileShader(source, static_cast<UINT>(std::strlen(source)), nullptr, nullptr,
                               "main", "ps_3_0", 0, &code, nullptr, nullptr)))
    return {};
  std::vector<DWORD> tokens(code->GetBufferSize() / sizeof(DWORD));
  std::memcpy(tokens.data(), code->GetBufferPointer(), tokens.size() * sizeof(DWORD));
  code->Release();
  return tokens;
}

Scene Draw(bool stripes) {
  Scene out;
  AutomationUseDeviceStripes(stripes);
  test_support::HeadlessDevice rig;
  const bool opened = rig.Open(kWidth, kHeight);
  AutomationUseDeviceStripes(true);
  if (!opened) {
    ADD_FAILURE() << "no device";
    return out;
  }
  IDirect3DDevice9* d = rig.device;
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetFVF(kTLFvf);

  // A texture drawn into first, then read by a pixel shader over the whole screen.
  IDirect3DTexture9* target = nullptr;
  IDirect3DSurface9* targetSurface = nullptr;
  IDirect3DSurface9* backBuffer = nullptr;
  EXPECT_EQ(d->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                             &target, nullptr),
            D3D_OK);
  if (!target) return out;
  target->GetSurfaceLevel(0, &targetSurface);
  d->GetRenderTarget(0, &backBuffer);
  d->BeginScene();
  d->SetRenderTarget(0, targetSurface);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.f, 0);
  const TLVertex fan[3] = {{2, 1, 0.5f, 1, 0xFFFF0000, 0, 0},
                           {63, 20, 0.5f, 1, 0xFF00FF00, 0, 0},
                           {10, 63, 0.5f, 1, 0xFF0000FF, 0, 0}};
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, fan, sizeof(TLVertex));
  d->SetRenderTarget(0, backBuffer);

  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101010, 1.f, 0);
  const std::vector<DWORD> tokens = CompilePixelShader(
      "sampler s : register(s0);"
      "float4 main(float2 uv : TEXCOORD0, float4 c : COLOR0) : COLOR {"
      "  return tex2D(s, uv * 1.5 - 0.2) * c + float4(ddx(uv.x) * 40, ddy(uv.y) * 40, 0, 0); }");
  EXPECT_FALSE(tokens.empty());
  IDirect3DPixelShader9* ps = nullptr;
  if (!tokens.empty()) d->CreatePixelShader(tokens.data(), &ps);
  d->SetTexture(0, target);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetPixelShader(ps);
  const TLVertex big[3] = {{-5, 3, 0.6f, 1, 0xFFFFFFFF, 0, 0},
                           {150, 30, 0.2f, 0.5f, 0xFFC0C0FF, 1, 0.2f},
                           {40, 118, 0.9f, 2, 0xFFFFC080, 0.3f, 1}};
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, big, sizeof(TLVertex));
  d->SetPixelShader(nullptr);

  // Fixed function: a depth-tested, Gouraud-shaded triangle through the first one.
  d->SetTexture(0, nullptr);
  const TLVertex cut[3] = {{20, 100, 0.1f, 1, 0xFF00FFFF, 0, 0},
                           {158, 5, 0.95f, 1, 0xFFFF00FF, 0, 0},
                           {120, 119, 0.4f, 1, 0xFFFFFF00, 0, 0}};
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cut, sizeof(TLVertex));
  // Lines and points crossing stripes.
  TLVertex lines[6] = {{1, 1, 0, 1, 0xFFFFFFFF, 0, 0},   {159, 118, 0, 1, 0xFF808080, 0, 0},
                       {80, 0, 0, 1, 0xFFFF8000, 0, 0},  {82, 119, 0, 1, 0xFF0080FF, 0, 0},
                       {150, 2, 0, 1, 0xFF00FF00, 0, 0}, {3, 60, 0, 1, 0xFFFF0000, 0, 0}};
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  d->DrawPrimitiveUP(D3DPT_LINELIST, 3, lines, sizeof(TLVertex));
  d->DrawPrimitiveUP(D3DPT_POINTLIST, 6, lines, sizeof(TLVertex));
  // The sprite fast path: a textured, alpha-blended screen quad.
  d->SetTexture(0, target);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  Quad(d, 70, 9, 134, 73, 0xC0FFFFFF, 0.f);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  // A cleared rectangle over all of that, and a draw over the rectangle.
  const D3DRECT hole{30, 14, 90, 50};
  d->Clear(1, &hole, D3DCLEAR_TARGET, 0xFF406080, 1.f, 0);
  d->SetTexture(0, nullptr);
  Quad(d, 40.5f, 20.25f, 100.75f, 40.5f, 0xFF80FF80, 0.f);
  d->EndScene();

  out.backBuffer = rig.ReadBackBuffer();
  // The texture, copied back through a system-memory surface.
  IDirect3DSurface9* copy = nullptr;
  if (SUCCEEDED(d->CreateOffscreenPlainSurface(64, 64, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy,
                                               nullptr)) &&
      SUCCEEDED(d->GetRenderTargetData(targetSurface, copy))) {
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
          uint32_t c;
          std::memcpy(&c, static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
          out.target.push_back(c);
        }
      copy->UnlockRect();
    }
  }
  if (copy) copy->Release();
  d->SetTexture(0, nullptr);
  if (ps) ps->Release();
  backBuffer->Release();
  targetSurface->Release();
  target->Release();
  return out;
}

TEST(DeviceStripes, TwoThreadsDrawWhatOneDraws) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: no second thread";
  const Scene one = Draw(false);
  ASSERT_EQ(one.backBuffer.size(), size_t{kWidth} * kHeight);
  ASSERT_EQ(one.target.size(), 64u * 64u);
  // The scene is not trivially uniform: the comparison below has something to compare.
  EXPECT_GT(std::set<uint32_t>(one.backBuffer.begin(), one.backBuffer.end()).size(), 500u);
  for (int run = 0; run < 3; ++run) {
    const Scene two = Draw(true);
    ASSERT_EQ(two.backBuffer.size(), one.backBuffer.size());
    size_t differ = 0;
    for (size_t i = 0; i < one.backBuffer.size(); ++i)
      differ += one.backBuffer[i] != two.backBuffer[i];
    EXPECT_EQ(differ, 0u) << "run " << run;
    EXPECT_EQ(two.target, one.target) << "run " << run;
  }
}

}  // namespace
