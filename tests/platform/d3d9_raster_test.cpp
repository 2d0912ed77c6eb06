// The rasterizer against hand-computed pixels: coverage and the fill rule, texel mapping,
// sampling modes, texture stages, alpha test, depth, blending, clipping, lines and points, and
// the fast paths against the general path.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <set>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

constexpr uint32_t R(uint32_t c) {
  return (c >> 16) & 255;
}
constexpr uint32_t G(uint32_t c) {
  return (c >> 8) & 255;
}
constexpr uint32_t B(uint32_t c) {
  return c & 255;
}

class RasterTest : public SceneTest {
 protected:
  // Additive blending: every covering of a pixel adds the colour once.
  void Additive() {
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  }
};

// --- Coverage --------------------------------------------------------------------------------

TEST_F(RasterTest, QuadOnIntegerCornersCoversTopLeftEdgesOnlyAndItsDiagonalOnce) {
  ClearTo(0);
  Additive();
  // Two triangles with a shared diagonal, listed separately so the general path draws them.
  TLVertex tri[6] = {{2, 2, 0, 1, 0x40404040, 0, 0},   {10, 2, 0, 1, 0x40404040, 0, 0},
                     {2, 10, 0, 1, 0x40404040, 0, 0},  {10, 2, 0, 1, 0x40404040, 0, 0},
                     {10, 10, 0, 1, 0x40404040, 0, 0}, {2, 10, 0, 1, 0x40404040, 0, 0}};
  device_->SetFVF(kTLFvf);
  for (int t = 0; t < 2; ++t)
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri + 3 * t, sizeof(TLVertex)),
              D3D_OK);
  auto px = ReadBackBuffer();
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 14; ++x) {
      bool inside = x >= 2 && x < 10 && y >= 2 && y < 10;
      EXPECT_EQ(At(px, x, y), inside ? 0x404040u : 0u) << x << "," << y;
    }
}

TEST_F(RasterTest, FanAroundACentreLeavesNoGapAndNoOverlap) {
  ClearTo(0);
  Additive();
  // Sixteen slivers around (30.3, 22.7): every pixel of the disc is covered exactly once.
  std::vector<TLVertex> fan;
  fan.push_back({30.3f, 22.7f, 0, 1, 0x20202020, 0, 0});
  for (int i = 0; i <= 16; ++i) {
    float a = static_cast<float>(i) * 6.2831853f / 16.f;
    fan.push_back({30.3f + 17.f * std::cos(a), 22.7f + 17.f * std::sin(a), 0, 1, 0x20202020, 0, 0});
  }
  device_->SetFVF(kTLFvf);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 16, fan.data(), sizeof(TLVertex)), D3D_OK);
  auto px = ReadBackBuffer();
  int covered = 0;
  for (int y = 0; y < (int)kHeight; ++y)
    for (int x = 0; x < (int)kWidth; ++x) {
      uint32_t c = At(px, x, y);
      ASSERT_TRUE(c == 0 || c == 0x202020u) << "pixel " << x << "," << y << " blended twice";
      float d = std::hypot(static_cast<float>(x) - 30.3f, static_cast<float>(y) - 22.7f);
      if (d < 15.f) {
        EXPECT_EQ(c, 0x202020u) << "gap at " << x << "," << y;
      }
      if (d > 17.5f) {
        EXPECT_EQ(c, 0u) << "outside " << x << "," << y;
      }
      covered += c != 0;
    }
  EXPECT_GT(covered, 700);  // pi * 16^2 ~ 800
}

// Random star-shaped polygons drawn as fans, with slivers, tiny triangles and vertices far off
// the target: every pixel clearly inside is covered exactly once, every pixel clearly outside not
// at all. A row's walk that starts or stops a quad too early shows as a gap.
TEST_F(RasterTest, RandomFansCoverTheirPolygonExactlyOnce) {
  Additive();
  device_->SetFVF(kTLFvf);
  std::mt19937 random(2024);
  std::uniform_real_distribution<float> unit(0.f, 1.f);
  int checked = 0;
  for (int round = 0; round < 60; ++round) {
    ClearTo(0);
    const float cx = -8.f + 80.f * unit(random), cy = -8.f + 64.f * unit(random);
    // Jittered spokes, under half a turn apart, so that the fan's triangles never overlap.
    const int spokes = 5 + static_cast<int>(unit(random) * 20);
    std::vector<float> angles(spokes);
    for (int i = 0; i < spokes; ++i)
      angles[i] = (static_cast<float>(i) + 0.9f * unit(random)) * 6.2831853f / spokes;
    std::vector<float> xs, ys;
    for (float a : angles) {
      // Mostly near, sometimes far beyond the target, sometimes under a pixel.
      const float pick = unit(random);
      const float radius = pick < 0.15f   ? 0.6f * unit(random)
                           : pick > 0.85f ? 300.f
                                          : 40.f * unit(random) + 1.f;
      xs.push_back(cx + radius * std::cos(a));
      ys.push_back(cy + radius * std::sin(a));
    }
    std::vector<TLVertex> fan{{cx, cy, 0, 1, 0x20202020, 0, 0}};
    for (int i = 0; i <= spokes; ++i)
      fan.push_back({xs[i % spokes], ys[i % spokes], 0, 1, 0x20202020, 0, 0});
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, spokes, fan.data(), sizeof(TLVertex)),
              D3D_OK);
    const auto px = ReadBackBuffer();
    for (int y = 0; y < (int)kHeight; ++y)
      for (int x = 0; x < (int)kWidth; ++x) {
        // Inside by the crossing rule, and the distance to the nearest edge (spokes included).
        bool inside = false;
        double nearest = 1e9;
        auto edge = [&](double ax, double ay, double bx, double by) {
          const double ex = bx - ax, ey = by - ay;
          const double t = std::clamp(
              ((x - ax) * ex + (y - ay) * ey) / std::max(ex * ex + ey * ey, 1e-12), 0.0, 1.0);
          nearest = std::min(nearest, std::hypot(ax + t * ex - x, ay + t * ey - y));
        };
        for (int i = 0; i < spokes; ++i) {
          const double ax = xs[i], ay = ys[i], bx = xs[(i + 1) % spokes], by = ys[(i + 1) % spokes];
          if ((ay > y) != (by > y) && x < ax + (y - ay) * (bx - ax) / (by - ay)) inside = !inside;
          edge(ax, ay, bx, by);
          edge(cx, cy, ax, ay);
        }
        const uint32_t c = At(px, x, y);
        ASSERT_TRUE(c == 0 || c == 0x202020u)
            << "round " << round << ": " << x << "," << y << " twice";
        if (nearest < 0.01) continue;
        if (inside) {
          // A spoke passes through the pixel centre only on a shared edge: covered once either way.
          ASSERT_EQ(c, 0x202020u) << "round " << round << ": gap at " << x << "," << y;
          ++checked;
        } else {
          ASSERT_EQ(c, 0u) << "round " << round << ": outside " << x << "," << y;
        }
      }
  }
  EXPECT_GT(checked, 20000);
}

TEST_F(RasterTest, CullModesFollowScreenWinding) {
  TLVertex cw[3] = {{4, 4, 0, 1, 0xFFFFFFFF, 0, 0},
                    {12, 4, 0, 1, 0xFFFFFFFF, 0, 0},
                    {4, 12, 0, 1, 0xFFFFFFFF, 0, 0}};
  TLVertex ccw[3] = {cw[0], cw[2], cw[1]};
  device_->SetFVF(kTLFvf);
  struct Case {
    DWORD mode;
    bool drawCw, drawCcw;
  } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
  for (const Case& c : cases) {
    device_->SetRenderState(D3DRS_CULLMODE, c.mode);
    ClearTo(0);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cw, sizeof(TLVertex));
    EXPECT_EQ(At(ReadBackBuffer(), 5, 5) != 0, c.drawCw) << "mode " << c.mode;
    ClearTo(0);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(TLVertex));
    EXPECT_EQ(At(ReadBackBuffer(), 5, 5) != 0, c.drawCcw) << "mode " << c.mode;
  }
}

TEST_F(RasterTest, ViewportLimitsDrawing) {
  ClearTo(0);
  D3DVIEWPORT9 vp = {8, 6, 10, 12, 0.f, 1.f};
  ASSERT_EQ(device_->SetViewport(&vp), D3D_OK);
  DrawQuad(0, 0, 64, 48, 0xFFFF0000);
  auto px = ReadBackBuffer();
  for (int y = 0; y < (int)kHeight; ++y)
    for (int x = 0; x < (int)kWidth; ++x) {
      bool inside = x >= 8 && x < 18 && y >= 6 && y < 18;
      ASSERT_EQ(At(px, x, y), inside ? 0xFF0000u : 0u) << x << "," << y;
    }
}

// --- Texture mapping --------------------------------------------------------------------------

TEST_F(RasterTest, QuadShiftedByHalfAPixelMapsTexelsExactly) {
  std::vector<uint32_t> texels(16);
  for (int i = 0; i < 16; ++i) texels[i] = 0xFF000000u | (i * 0x0F0B07u);
  IDirect3DTexture9* tex = MakeTexture(4, 4, texels);
  ASSERT_NE(tex, nullptr);
  device_->SetTexture(0, tex);
  for (DWORD filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    for (bool fast : {false, true}) {
      AutomationUseFastPaths(fast);
      ClearTo(0);
      DrawQuad(10 - 0.5f, 20 - 0.5f, 14 - 0.5f, 24 - 0.5f, 0xFFFFFFFF);
      auto px = ReadBackBuffer();
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
          bool in = x >= 1 && x < 5 && y >= 1 && y < 5;
          uint32_t want = in ? texels[(y - 1) * 4 + (x - 1)] & 0xFFFFFF : 0;
          EXPECT_EQ(At(px, 9 + x, 19 + y), want) << "filter " << filter << " fast " << fast;
        }
    }
  }
  AutomationUseFastPaths(true);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(RasterTest, LinearFilterHalfwayBetweenTexelsAverages) {
  IDirect3DTexture9* tex = MakeTexture(2, 1, {0xFF000000, 0xFFFF8040});
  device_->SetTexture(0, tex);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  ClearTo(0);
  // Pixel 5's centre sits at u = 0.5: exactly between the two texel centres.
  DrawQuad(4, 4.5f, 6, 5.5f, 0xFFFFFFFF, 0.5f, 0.25f, 0, 0.75f, 1);
  uint32_t c = At(ReadBackBuffer(), 5, 5);
  EXPECT_NEAR((int)R(c), 0x80, 1);
  EXPECT_NEAR((int)G(c), 0x40, 1);
  EXPECT_NEAR((int)B(c), 0x20, 1);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(RasterTest, WrapRepeatsAndClampHoldsTheEdgeTexel) {
  IDirect3DTexture9* tex = MakeTexture(2, 1, {0xFFFF0000, 0xFF00FF00});
  device_->SetTexture(0, tex);
  const uint32_t r = 0xFF0000, g = 0x00FF00;
  struct Case {
    DWORD mode;
    uint32_t want[8];
  } cases[] = {{D3DTADDRESS_WRAP, {r, r, g, g, r, r, g, g}},
               {D3DTADDRESS_CLAMP, {r, r, g, g, g, g, g, g}},
               {D3DTADDRESS_MIRROR, {r, r, g, g, g, g, r, r}}};
  for (const Case& c : cases) {
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, c.mode);
    ClearTo(0);
    // Eight pixels across u = 0..2: each texel spans two pixels.
    DrawQuad(-0.5f, -0.5f, 7.5f, 0.5f, 0xFFFFFFFF, 0.5f, 0, 0, 2, 1);
    auto px = ReadBackBuffer();
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(At(px, x, 0), c.want[x]) << "mode " << c.mode << " x " << x;
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(RasterTest, MipLevelFollowsMinification) {
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
            D3D_OK);
  ASSERT_EQ(tex->GetLevelCount(), 4u);
  const uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
  for (UINT l = 0; l < 4; ++l) {
    D3DSURFACE_DESC d;
    tex->GetLevelDesc(l, &d);
    EXPECT_EQ(d.Width, 8u >> l);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(l, &lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < d.Height; ++y)
      for (UINT x = 0; x < d.Width; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] = colours[l];
    tex->UnlockRect(l);
  }
  device_->SetTexture(0, tex);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
  ClearTo(0);
  DrawQuad(0, 0, 8, 8, 0xFFFFFFFF);    // 1:1
  DrawQuad(10, 0, 12, 2, 0xFFFFFFFF);  // 4:1
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 3, 3), 0xFF0000u);
  EXPECT_EQ(At(px, 10, 1), 0x0000FFu);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  ClearTo(0);
  DrawQuad(10, 0, 12, 2, 0xFFFFFFFF);
  EXPECT_EQ(At(ReadBackBuffer(), 10, 1), 0xFF0000u) << "without a mip filter level 0 is used";
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// --- Texture stages ---------------------------------------------------------------------------

TEST_F(RasterTest, StageOperationsCombineTheirArguments) {
  IDirect3DTexture9* tex = MakeTexture(1, 1, {0x80C08040});
  device_->SetTexture(0, tex);
  device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40204080);
  const D3DCOLOR diffuse = 0xFF8080FF;
  struct Case {
    const char* name;
    DWORD op, arg1, arg2;
    uint32_t want;
  } cases[] = {
      {"select texture", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0xC08040},
      {"select diffuse", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0x8080FF},
      {"select tfactor", D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_DIFFUSE, 0x204080},
      // (0xC0 * 0x80 + 127) / 255 = 0x60; 0x80 * 0x80 -> 0x40; 0x40 * 0xFF -> 0x40
      {"modulate", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0x604040},
      {"add saturates", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0xFFFFFF},
      {"add tfactor", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR, 0xE0C0C0},
      {"complement", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, 0x3F7FBF},
      {"alpha replicate", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE,
       0x808080},
  };
  for (const Case& c : cases) {
    device_->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
    ClearTo(0);
    DrawQuad(0, 0, 4, 4, diffuse);
    EXPECT_EQ(At(ReadBackBuffer(), 1, 1), c.want) << c.name;
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(RasterTest, DotProduct3AndSecondStageAndDisable) {
  // DOTPRODUCT3 of (191,128,128) and (255,128,128): 4 * (0.249 * 0.5 + ...) ~ 127 in every channel.
  device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFF8080);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  ClearTo(0);
  DrawQuad(0, 0, 4, 4, 0xFFBF8080);
  uint32_t c = At(ReadBackBuffer(), 1, 1);
  EXPECT_NEAR((int)R(c), 127, 1);
  EXPECT_EQ(R(c), G(c));
  EXPECT_EQ(G(c), B(c));

  // Stage 1 modulates the result of stage 0 (CURRENT) with the texture factor.
  device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF808080);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device_->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  device_->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  ClearTo(0);
  DrawQuad(0, 0, 4, 4, 0xFFFF4000);
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0x802000u);

  // A disabled stage 0 ends the cascade: the diffuse colour comes through untouched.
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
  ClearTo(0);
  DrawQuad(0, 0, 4, 4, 0xFF123456);
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0x123456u);
}

TEST_F(RasterTest, AlphaOperationFeedsBlending) {
  device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40FFFFFF);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  ClearTo(0x000000);
  DrawQuad(0, 0, 4, 4, 0xFFFFFFFF);  // white at alpha 0x40 over black
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0x404040u);
}

// --- Alpha test, depth, blending ---------------------------------------------------------------

TEST_F(RasterTest, AlphaTestComparesWithTheReference) {
  device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device_->SetRenderState(D3DRS_ALPHAREF, 0x80);
  const DWORD alphas[3] = {0x10, 0x80, 0xF0};
  struct Case {
    DWORD func;
    bool pass[3];
  } cases[] = {{D3DCMP_NEVER, {false, false, false}},      {D3DCMP_LESS, {true, false, false}},
               {D3DCMP_EQUAL, {false, true, false}},       {D3DCMP_LESSEQUAL, {true, true, false}},
               {D3DCMP_GREATER, {false, false, true}},     {D3DCMP_NOTEQUAL, {true, false, true}},
               {D3DCMP_GREATEREQUAL, {false, true, true}}, {D3DCMP_ALWAYS, {true, true, true}}};
  for (const Case& c : cases) {
    device_->SetRenderState(D3DRS_ALPHAFUNC, c.func);
    ClearTo(0);
    for (int i = 0; i < 3; ++i)
      DrawQuad(static_cast<float>(4 * i), 0, static_cast<float>(4 * i + 4), 4,
               (alphas[i] << 24) | 0x00FFFFFF);
    auto px = ReadBackBuffer();
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(At(px, 4 * i + 1, 1) != 0, c.pass[i])
          << "func " << c.func << " alpha " << alphas[i];
  }
}

TEST_F(RasterTest, DepthTestKeepsTheNearestAndWriteCanBeSwitchedOff) {
  ClearTo(0);
  DrawQuad(0, 0, 8, 8, 0xFFFF0000, 0.5f);
  DrawQuad(4, 0, 12, 8, 0xFF00FF00, 0.7f);  // behind: hidden where they overlap
  DrawQuad(6, 0, 16, 8, 0xFF0000FF, 0.3f);  // in front
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 2, 2), 0xFF0000u);
  EXPECT_EQ(At(px, 5, 2), 0xFF0000u);
  EXPECT_EQ(At(px, 7, 2), 0x0000FFu);
  EXPECT_EQ(At(px, 14, 2), 0x0000FFu);

  device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  DrawQuad(0, 10, 8, 18, 0xFFFF0000, 0.2f);
  device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  DrawQuad(0, 10, 8, 18, 0xFF00FF00, 0.25f);  // passes: the first quad wrote no depth
  EXPECT_EQ(At(ReadBackBuffer(), 3, 12), 0x00FF00u);

  device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
  DrawQuad(0, 10, 8, 18, 0xFFFFFFFF, 0.1f);  // nearer, so GREATER fails
  EXPECT_EQ(At(ReadBackBuffer(), 3, 12), 0x00FF00u);
  device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  DrawQuad(0, 10, 8, 18, 0xFFFFFFFF, 0.1f);
  EXPECT_EQ(At(ReadBackBuffer(), 3, 12), 0xFFFFFFu);
}

TEST_F(RasterTest, BlendFactorsCombineSourceAndDestination) {
  device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device_->SetRenderState(D3DRS_BLENDFACTOR, 0x40404040);
  const D3DCOLOR dst = 0x0000FF, src = 0x80FF0000;
  struct Case {
    const char* name;
    DWORD s, d;
    uint32_t want;
  } cases[] = {
      // r = (255 * 128 + 127) / 255 = 128, b = (255 * 127 + 127) / 255 = 127
      {"srcalpha", D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0x80007F},
      {"one zero", D3DBLEND_ONE, D3DBLEND_ZERO, 0xFF0000},
      {"zero one", D3DBLEND_ZERO, D3DBLEND_ONE, 0x0000FF},
      {"one one", D3DBLEND_ONE, D3DBLEND_ONE, 0xFF00FF},
      {"blend factor", D3DBLEND_BLENDFACTOR, D3DBLEND_INVBLENDFACTOR, 0x4000BF},
      {"dest colour", D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, 0x000000},
      {"src colour", D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR, 0xFF00FF},
  };
  for (const Case& c : cases) {
    device_->SetRenderState(D3DRS_SRCBLEND, c.s);
    device_->SetRenderState(D3DRS_DESTBLEND, c.d);
    ClearTo(dst);
    DrawQuad(0, 0, 4, 4, src);
    EXPECT_EQ(At(ReadBackBuffer(), 1, 1), c.want) << c.name;
  }
  // DESTALPHA reads the target's alpha: an X8R8G8B8 target counts as opaque.
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
  ClearTo(dst);
  DrawQuad(0, 0, 4, 4, src);
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0xFF0000u);
  // ONE, ONE saturates each channel on its own.
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  ClearTo(0xC08040);
  DrawQuad(0, 0, 4, 4, 0x808060F0);
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0xFFE0FFu);
}

// --- Transformed geometry ------------------------------------------------------------------------

TEST_F(RasterTest, TransformedVerticesGoThroughWorldViewProjectionAndViewport) {
  D3DMATRIX world = {}, proj = {};
  world._11 = world._22 = world._33 = world._44 = 1;
  world._41 = 0.25f;  // move right by a quarter of the half-width
  proj._11 = proj._22 = proj._33 = proj._44 = 1;
  device_->SetTransform(D3DTS_WORLD, &world);
  device_->SetTransform(D3DTS_PROJECTION, &proj);
  LVertex tri[3] = {{-0.5f, 0.5f, 0.5f, 0xFFFFFFFF, 0, 0},
                    {0.5f, 0.5f, 0.5f, 0xFFFFFFFF, 0, 0},
                    {-0.5f, -0.5f, 0.5f, 0xFFFFFFFF, 0, 0}};
  device_->SetFVF(kLFvf);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(LVertex)), D3D_OK);
  // x: -0.25 .. 0.75 -> 24 .. 56; y: 0.5 .. -0.5 -> 12 .. 36.
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 24, 12), 0xFFFFFFu);
  EXPECT_EQ(At(px, 23, 12), 0u);
  EXPECT_EQ(At(px, 24, 11), 0u);
  EXPECT_EQ(At(px, 55, 12), 0xFFFFFFu);
  EXPECT_EQ(At(px, 56, 12), 0u);
  EXPECT_EQ(At(px, 24, 35), 0xFFFFFFu);
  EXPECT_EQ(At(px, 24, 36), 0u);
}

TEST_F(RasterTest, TriangleCrossingTheNearPlaneIsClippedThere) {
  // Perspective with the near plane at z = 1: clip = (x, y, z - 1, z).
  D3DMATRIX proj = {};
  proj._11 = 1;
  proj._22 = 1;
  proj._33 = 1;
  proj._34 = 1;
  proj._43 = -1;
  device_->SetTransform(D3DTS_PROJECTION, &proj);
  device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  // The apex lies behind the near plane; clipped, the triangle becomes the quad
  // (21.3, 16) (42.7, 16) (48, 36) (16, 36) on this 64 x 48 target.
  LVertex tri[3] = {
      {-1, -1, 2, 0xFFFFFFFF, 0, 0}, {1, -1, 2, 0xFFFFFFFF, 0, 0}, {0, 1, 0.5f, 0xFFFFFFFF, 0, 0}};
  device_->SetFVF(kLFvf);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(LVertex)), D3D_OK);
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 32, 20), 0xFFFFFFu);
  EXPECT_EQ(At(px, 32, 35), 0xFFFFFFu);
  EXPECT_EQ(At(px, 17, 35), 0xFFFFFFu);
  EXPECT_EQ(At(px, 32, 14), 0u) << "the part behind the near plane must not be drawn";
  EXPECT_EQ(At(px, 32, 5), 0u);
  EXPECT_EQ(At(px, 32, 37), 0u);
  int rows = 0;
  for (int y = 0; y < (int)kHeight; ++y) rows += At(px, 32, y) != 0;
  EXPECT_EQ(rows, 20);  // y 16 .. 35
}

TEST_F(RasterTest, PerspectiveCorrectTextureCoordinates) {
  // A quad whose far edge has rhw 1/4: the texture's midpoint lies a fifth of the way down.
  IDirect3DTexture9* tex = MakeTexture(1, 2, {0xFFFF0000, 0xFF0000FF});
  device_->SetTexture(0, tex);
  TLVertex q[4] = {{0, 0, 0.5f, 0.25f, 0xFFFFFFFF, 0, 0},
                   {16, 0, 0.5f, 0.25f, 0xFFFFFFFF, 1, 0},
                   {0, 40, 0.5f, 1.f, 0xFFFFFFFF, 0, 1},
                   {16, 40, 0.5f, 1.f, 0xFFFFFFFF, 1, 1}};
  device_->SetFVF(kTLFvf);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex)), D3D_OK);
  auto px = ReadBackBuffer();
  // v = 0.5 where (t / 1) / ((1 - t) / 4 + t) = 0.5, t = 0.2: row 8.
  EXPECT_EQ(At(px, 8, 6), 0xFF0000u);
  EXPECT_EQ(At(px, 8, 10), 0x0000FFu);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(RasterTest, LinesIncludeTheLastPixelAndPointsLandOnTheNearestCentre) {
  device_->SetFVF(kTLFvf);
  ClearTo(0);
  TLVertex line[2] = {{2, 3, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {6, 3, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(TLVertex)), D3D_OK);
  TLVertex point = {10.4f, 10.6f, 0.5f, 1, 0xFF00FF00, 0, 0};
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof(TLVertex)), D3D_OK);
  auto px = ReadBackBuffer();
  for (int x = 0; x < 9; ++x) EXPECT_EQ(At(px, x, 3) != 0, x >= 2 && x <= 6) << x;
  EXPECT_EQ(At(px, 10, 11), 0x00FF00u);
  EXPECT_EQ(At(px, 10, 10), 0u);
}

TEST_F(RasterTest, BuffersAndIndicesDrawLikeUserPointers) {
  TLVertex verts[4] = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                       {8, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                       {0, 8, 0.5f, 1, 0xFFFF0000, 0, 0},
                       {8, 8, 0.5f, 1, 0xFFFF0000, 0, 0}};
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  ASSERT_EQ(device_->CreateVertexBuffer(sizeof(verts), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                        kTLFvf, D3DPOOL_DEFAULT, &vb, nullptr),
            D3D_OK);
  ASSERT_EQ(device_->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr),
            D3D_OK);
  void* p = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
  std::memcpy(p, verts, sizeof(verts));
  vb->Unlock();
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
  std::memcpy(p, idx, sizeof(idx));
  ib->Unlock();
  device_->SetFVF(kTLFvf);
  device_->SetStreamSource(0, vb, 0, sizeof(TLVertex));
  device_->SetIndices(ib);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 7, 7), 0xFF0000u);
  ClearTo(0);
  ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 7, 7), 0xFF0000u);
  // Reading past the buffer is refused rather than drawn.
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 2, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 2, 2), D3DERR_INVALIDCALL);
  ClearTo(0);
  ASSERT_EQ(device_->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, idx, D3DFMT_INDEX16, verts,
                                            sizeof(TLVertex)),
            D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 0, 0), 0xFF0000u);
  device_->SetStreamSource(0, nullptr, 0, 0);
  device_->SetIndices(nullptr);
  vb->Release();
  ib->Release();
}

TEST_F(RasterTest, AbsurdCoordinatesAreDrawnClippedOrNotAtAll) {
  const float nan = std::nanf(""), huge = 1e30f;
  IDirect3DTexture9* tex = MakeTexture(2, 2, {0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFFFFFFFF});
  device_->SetTexture(0, tex);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device_->SetFVF(kTLFvf);
  ClearTo(0);
  TLVertex tris[9] = {{nan, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                      {10, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                      {0, 10, 0, 1, 0xFFFFFFFF, 0, 0},
                      {-huge, -huge, 0, 1, 0xFFFFFFFF, 0, 0},
                      {huge, -huge, 0, 1, 0xFFFFFFFF, huge, 0},
                      {0, huge, 0, 1, 0xFFFFFFFF, nan, nan},
                      {1, 1, 0, 0, 0xFFFFFFFF, 0, 0},
                      {9, 1, 0, 1e-30f, 0xFFFFFFFF, 1, 0},
                      {1, 9, 0, 1, 0xFFFFFFFF, 0, 1}};
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 3, tris, sizeof(TLVertex)), D3D_OK);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_LINELIST, 4, tris, sizeof(TLVertex)), D3D_OK);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 9, tris, sizeof(TLVertex)), D3D_OK);
  // A triangle far beyond the guard band still covers the target it spans.
  device_->SetTexture(0, nullptr);
  TLVertex cover[3] = {{-huge, -huge, 0, 1, 0xFF00FF00, 0, 0},
                       {huge, -huge, 0, 1, 0xFF00FF00, 0, 0},
                       {0, huge, 0, 1, 0xFF00FF00, 0, 0}};
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cover, sizeof(TLVertex)), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 40, 40), 0x00FF00u);
  LVertex world[3] = {{nan, 0, 0.5f, 0xFFFFFFFF, 0, 0},
                      {huge, 0, 0.5f, 0xFFFFFFFF, 0, 0},
                      {0, -huge, 0.5f, 0xFFFFFFFF, 0, 0}};
  device_->SetFVF(kLFvf);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, world, sizeof(LVertex)), D3D_OK);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_LINESTRIP, 2, world, sizeof(LVertex)), D3D_OK);
  device_->SetTexture(0, nullptr);
  tex->Release();
  IDirect3DTexture9* big = nullptr;
  EXPECT_EQ(
      device_->CreateTexture(16384, 16384, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &big, nullptr),
      D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(big, nullptr);
}

// --- Fast paths equal the general path -----------------------------------------------------------

// The demo's sprite pass: transformed quads under an orthographic projection that maps texels one
// to one, alpha blended and alpha tested, with render-state changes between draws.
class FastPathTest : public RasterTest {
 protected:
  // World and view identity, and an off-centre orthographic projection of [0.5, 64.5] x
  // [0.5, 48.5] (the half-texel shift), so texels map one to one onto pixels.
  void SetPixelExactTransforms() {
    D3DMATRIX identity = {}, proj = {};
    identity._11 = identity._22 = identity._33 = identity._44 = 1;
    proj._11 = 2.f / 64;
    proj._22 = -2.f / 48;
    proj._33 = 1;
    proj._41 = -(64.5f + 0.5f) / 64;
    proj._42 = (48.5f + 0.5f) / 48;
    proj._44 = 1;
    device_->SetTransform(D3DTS_WORLD, &identity);
    device_->SetTransform(D3DTS_VIEW, &identity);
    device_->SetTransform(D3DTS_PROJECTION, &proj);
  }

  // The frames drawn by the general path and by the fast paths must be identical, and the
  // scene must actually draw: at least `minDrawn` pixels differ from the cleared background.
  static void ExpectSameFrames(const std::vector<uint32_t> (&out)[2], uint32_t background,
                               size_t minDrawn) {
    size_t differing = 0, drawn = 0;
    for (size_t i = 0; i < out[0].size(); ++i) {
      differing += out[0][i] != out[1][i];
      drawn += out[0][i] != background;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(drawn, minDrawn) << "the scene must actually draw";
  }

  std::vector<uint32_t> DrawSpriteScene(IDirect3DTexture9* tex, bool fast) {
    IDirect3DDevice9* dev = device_;
    AutomationUseFastPaths(fast);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.f, 0);
    SetPixelExactTransforms();
    dev->SetFVF(kLFvf);
    dev->SetTexture(0, tex);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    dev->SetRenderState(D3DRS_ALPHAREF, 0);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) {
      float x = static_cast<float>(static_cast<int>(rng() % 70) - 3);
      float y = static_cast<float>(static_cast<int>(rng() % 54) - 3);
      D3DCOLOR c = static_cast<D3DCOLOR>(rng()) | 0x40000000u;
      float u0 = static_cast<float>(rng() % 5) / 8.f, v0 = static_cast<float>(rng() % 5) / 8.f;
      float u1 = u0 + 3.f / 8, v1 = v0 + 3.f / 8;
      LVertex q[6] = {{x, y, 0, c, u0, v0},         {x + 3, y, 0, c, u1, v0},
                      {x, y + 3, 0, c, u0, v1},     {x + 3, y, 0, c, u1, v0},
                      {x + 3, y + 3, 0, c, u1, v1}, {x, y + 3, 0, c, u0, v1}};
      dev->SetRenderState(D3DRS_ALPHABLENDENABLE, (i % 7) != 0);
      EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, q, sizeof(LVertex)), D3D_OK);
    }
    dev->SetTexture(0, nullptr);
    AutomationUseFastPaths(true);
    return ReadBackBuffer();
  }
};

TEST_F(FastPathTest, SpriteQuadsMatchTheGeneralPath) {
  std::vector<uint32_t> texels(64);
  std::mt19937 rng(3);
  for (auto& t : texels) t = rng() & (rng() % 3 ? 0xFFFFFFFFu : 0x00FFFFFFu);  // some transparent
  IDirect3DTexture9* tex = MakeTexture(8, 8, texels);
  auto general = DrawSpriteScene(tex, false);
  auto fast = DrawSpriteScene(tex, true);
  size_t differing = 0;
  for (size_t i = 0; i < general.size(); ++i) differing += general[i] != fast[i];
  EXPECT_EQ(differing, 0u);
  size_t drawn = 0;
  for (uint32_t c : fast) drawn += c != 0x203040u;
  EXPECT_GT(drawn, 1000u) << "the scene must actually draw";
  tex->Release();
}

// Source-alpha blending of every alpha value over every background level: the sprite loop and
// the general path round (src * a + dst * (255 - a) + 127) / 255 alike, whatever the alpha.
TEST_F(FastPathTest, PartialAlphaBlendsRoundAlikeOnBothPaths) {
  // 16 x 16 texels: alpha rises along the rows, colour along the columns.
  std::vector<uint32_t> texels(256);
  for (int i = 0; i < 256; ++i)
    texels[i] = (static_cast<uint32_t>(i) << 24) | (static_cast<uint32_t>((i * 7) & 255) << 16) |
                (static_cast<uint32_t>(255 - i) << 8) | static_cast<uint32_t>((i * 13) & 255);
  IDirect3DTexture9* tex = MakeTexture(16, 16, texels);
  ASSERT_NE(tex, nullptr);
  std::vector<uint32_t> out[2];
  for (int fast = 0; fast < 2; ++fast) {
    AutomationUseFastPaths(fast != 0);
    ClearTo(0);
    // A background of many levels: each pixel its own colour.
    device_->SetTexture(0, nullptr);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    for (int y = 0; y < 16; ++y) {
      TLVertex row[4] = {
          {0, static_cast<float>(y), 0.5f, 1, 0xFF000000u | (y * 0x0F1101u), 0, 0},
          {16, static_cast<float>(y), 0.5f, 1, 0xFF000000u | (y * 0x0F1101u) | 0xF0, 1, 0},
          {0, y + 1.f, 0.5f, 1, 0xFF000000u | (y * 0x0F1101u), 0, 1},
          {16, y + 1.f, 0.5f, 1, 0xFF000000u | (y * 0x0F1101u) | 0xF0, 1, 1}};
      device_->SetFVF(kTLFvf);
      ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, row, sizeof(TLVertex)), D3D_OK);
    }
    auto background = ReadBackBuffer();
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);  // the sprite loop's case: no depth
    device_->SetTexture(0, tex);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    // Shifted by half a pixel, so that pixel centres fall on texel centres.
    DrawQuad(-0.5f, -0.5f, 15.5f, 15.5f, 0xFFFFFFFF);
    out[fast] = ReadBackBuffer();
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const uint32_t src = texels[y * 16 + x], dst = At(background, x, y);
        const uint32_t a = src >> 24;
        uint32_t want = 0;
        for (int sh = 0; sh < 24; sh += 8)
          want |= ((((src >> sh) & 255) * a + ((dst >> sh) & 255) * (255 - a) + 127) / 255) << sh;
        ASSERT_EQ(At(out[fast], x, y), want) << x << "," << y << (fast ? " fast" : " general");
      }
  }
  AutomationUseFastPaths(true);
  EXPECT_EQ(out[0], out[1]);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

// Sprite-like quads under state variations around the demo's: texture formats, diffuse colours
// (white and not), the alpha operations, alpha-test functions, addressing outside the texture,
// opaque drawing, and turned or fractional quads that must leave the fast path. Every variant
// must draw the same pixels as the general path.
struct SpriteVariant {
  const char* name;
  D3DFORMAT format;
  bool whiteDiffuse;
  DWORD alphaOp, alphaArg1;
  DWORD alphaFunc, alphaRef;
  DWORD address;
  bool blend;
};

TEST_F(FastPathTest, SpriteVariantsMatchTheGeneralPath) {
  const SpriteVariant variants[] = {
      {"demo", D3DFMT_A8R8G8B8, true, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DCMP_GREATER, 0,
       D3DTADDRESS_CLAMP, true},
      {"tinted", D3DFMT_A8R8G8B8, false, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DCMP_GREATER, 0,
       D3DTADDRESS_CLAMP, true},
      {"xrgb", D3DFMT_X8R8G8B8, false, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DCMP_GREATER, 0,
       D3DTADDRESS_BORDER, true},
      {"texalpha", D3DFMT_A8R8G8B8, false, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DCMP_GREATEREQUAL,
       128, D3DTADDRESS_WRAP, true},
      {"diffalpha", D3DFMT_A8R8G8B8, false, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DCMP_LESS, 200,
       D3DTADDRESS_MIRROR, true},
      {"whitediffalpha", D3DFMT_A8R8G8B8, true, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DCMP_GREATER, 0,
       D3DTADDRESS_CLAMP, true},
      {"opaque", D3DFMT_A8R8G8B8, false, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DCMP_NOTEQUAL, 255,
       D3DTADDRESS_CLAMP, false},
  };
  std::vector<uint32_t> texels(64);
  std::mt19937 texRng(11);
  for (auto& t : texels) t = texRng() & (texRng() % 3 ? 0xFFFFFFFFu : 0x00FFFFFFu);
  for (const SpriteVariant& var : variants) {
    SCOPED_TRACE(var.name);
    IDirect3DTexture9* tex = MakeTexture(8, 8, texels, var.format);
    ASSERT_NE(tex, nullptr);
    std::vector<uint32_t> out[2];
    for (int fast = 0; fast < 2; ++fast) {
      IDirect3DDevice9* dev = device_;
      AutomationUseFastPaths(fast != 0);
      dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.f, 0);
      D3DMATRIX identity = {}, proj = {};
      identity._11 = identity._22 = identity._33 = identity._44 = 1;
      proj._11 = 2.f / 64;
      proj._22 = -2.f / 48;
      proj._33 = 1;
      proj._41 = -(64.5f + 0.5f) / 64;
      proj._42 = (48.5f + 0.5f) / 48;
      proj._44 = 1;
      dev->SetTransform(D3DTS_WORLD, &identity);
      dev->SetTransform(D3DTS_VIEW, &identity);
      dev->SetTransform(D3DTS_PROJECTION, &proj);
      dev->SetFVF(kLFvf);
      dev->SetTexture(0, tex);
      dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
      dev->SetRenderState(D3DRS_ALPHABLENDENABLE, var.blend);
      dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
      dev->SetRenderState(D3DRS_ALPHAFUNC, var.alphaFunc);
      dev->SetRenderState(D3DRS_ALPHAREF, var.alphaRef);
      dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
      dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
      dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
      dev->SetTextureStageState(0, D3DTSS_ALPHAOP, var.alphaOp);
      dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, var.alphaArg1);
      dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
      dev->SetSamplerState(0, D3DSAMP_ADDRESSU, var.address);
      dev->SetSamplerState(0, D3DSAMP_ADDRESSV, var.address);
      dev->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0x80FF8000);
      dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
      dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
      std::mt19937 rng(5);
      for (int i = 0; i < 300; ++i) {
        float x = static_cast<float>(static_cast<int>(rng() % 70) - 3);
        float y = static_cast<float>(static_cast<int>(rng() % 54) - 3);
        if (i % 5 == 1) x += 0.25f;  // off the pixel grid: texel centres missed
        int size = 1 + static_cast<int>(rng() % 6);
        D3DCOLOR c = var.whiteDiffuse ? 0xFFFFFFFFu : static_cast<D3DCOLOR>(rng());
        // Texel offsets from -3 to 8: some quads read outside the texture.
        float u0 = (static_cast<float>(rng() % 12) - 3.f) / 8.f,
              v0 = (static_cast<float>(rng() % 12) - 3.f) / 8.f;
        float u1 = u0 + static_cast<float>(size) / 8, v1 = v0 + static_cast<float>(size) / 8;
        float s = static_cast<float>(size);
        LVertex q[6] = {{x, y, 0, c, u0, v0},         {x + s, y, 0, c, u1, v0},
                        {x, y + s, 0, c, u0, v1},     {x + s, y, 0, c, u1, v0},
                        {x + s, y + s, 0, c, u1, v1}, {x, y + s, 0, c, u0, v1}};
        if (i % 9 == 4) {  // a turned quad
          for (LVertex& v : q) {
            float dx = v.x - x, dy = v.y - y;
            v.x = x + dx * 0.8f - dy * 0.6f;
            v.y = y + dx * 0.6f + dy * 0.8f;
          }
        }
        EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, q, sizeof(LVertex)), D3D_OK);
      }
      dev->SetTexture(0, nullptr);
      AutomationUseFastPaths(true);
      out[fast] = ReadBackBuffer();
    }
    ExpectSameFrames(out, 0x203040u, 500u);
    tex->Release();
  }
}

// Pre-transformed quads as strips and fans: whole and half-pixel corners, one or two depths, and
// textured with the sprite state, drawn by both paths.
TEST_F(FastPathTest, PretransformedQuadsMatchTheGeneralPath) {
  std::vector<uint32_t> texels(64);
  std::mt19937 texRng(17);
  for (auto& t : texels) t = texRng() & (texRng() % 4 ? 0xFFFFFFFFu : 0x00FFFFFFu);
  IDirect3DTexture9* tex = MakeTexture(8, 8, texels);
  ASSERT_NE(tex, nullptr);
  std::vector<uint32_t> out[2];
  for (int fast = 0; fast < 2; ++fast) {
    AutomationUseFastPaths(fast != 0);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.f, 0);
    device_->SetFVF(kTLFvf);
    device_->SetTexture(0, tex);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    std::mt19937 rng(23);
    for (int i = 0; i < 300; ++i) {
      float x = static_cast<float>(static_cast<int>(rng() % 70) - 3) - 0.5f;
      float y = static_cast<float>(static_cast<int>(rng() % 54) - 3) - 0.5f;
      if (i % 4 == 3) y += 0.5f;  // corners on pixel centres: not texel-aligned
      float s = static_cast<float>(1 + rng() % 8);
      float z0 = 0.25f, z1 = i % 6 == 5 ? 0.75f : z0;  // some quads slope in depth
      D3DCOLOR c = static_cast<D3DCOLOR>(rng()) | 0x80000000u;
      float u0 = static_cast<float>(rng() % 4) / 8.f, v0 = static_cast<float>(rng() % 4) / 8.f;
      float u1 = u0 + s / 8, v1 = v0 + s / 8;
      TLVertex strip[4] = {{x, y, z0, 1, c, u0, v0},
                           {x + s, y, z0, 1, c, u1, v0},
                           {x, y + s, z1, 1, c, u0, v1},
                           {x + s, y + s, z1, 1, c, u1, v1}};
      TLVertex fan[4] = {strip[0], strip[1], strip[3], strip[2]};
      bool useFan = i % 2 == 1;
      EXPECT_EQ(device_->DrawPrimitiveUP(useFan ? D3DPT_TRIANGLEFAN : D3DPT_TRIANGLESTRIP, 2,
                                         useFan ? fan : strip, sizeof(TLVertex)),
                D3D_OK);
    }
    device_->SetTexture(0, nullptr);
    AutomationUseFastPaths(true);
    out[fast] = ReadBackBuffer();
  }
  ExpectSameFrames(out, 0x102030u, 1000u);
  tex->Release();
}

// Filter and level choice: magnified and minified quads (whole, fractional, off-screen and
// turned) under every pairing of point and linear minification and magnification, on a texture
// with one level and on one with three, some with a vertex colour that differs. A shortcut that
// ignored the footprint where the two filters differ, or where there are levels to choose from,
// would change pixels.
TEST_F(FastPathTest, FilterAndLevelChoiceMatchesTheGeneralPath) {
  std::vector<uint32_t> texels(64);
  std::mt19937 texRng(23);
  for (auto& t : texels) t = texRng() | 0xFF000000u;
  IDirect3DTexture9* single = MakeTexture(8, 8, texels);
  ASSERT_NE(single, nullptr);
  IDirect3DTexture9* mipped = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &mipped, nullptr),
            D3D_OK);
  for (UINT level = 0; level < 3; ++level) {
    D3DLOCKED_RECT lr;
    ASSERT_EQ(mipped->LockRect(level, &lr, nullptr, 0), D3D_OK);
    UINT side = 8u >> level;
    for (UINT y = 0; y < side; ++y)
      for (UINT x = 0; x < side; ++x)  // each level its own colour family
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
            0xFF000000u | (0xFFu << (8 * level)) | ((x * 30 + y * 7) << (8 * ((level + 1) % 3)));
    mipped->UnlockRect(level);
  }
  struct Filters {
    DWORD min, mag, mip;
  };
  const Filters pairs[] = {{D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE},
                           {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE},
                           {D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_NONE},
                           {D3DTEXF_LINEAR, D3DTEXF_POINT, D3DTEXF_NONE},
                           {D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR, D3DTEXF_NONE},
                           {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_POINT},
                           {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_LINEAR},
                           {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_LINEAR}};
  DWORD address = D3DTADDRESS_WRAP;
  auto draw = [&](IDirect3DTexture9* tex, const Filters& f, bool fast) {
    IDirect3DDevice9* dev = device_;
    AutomationUseFastPaths(fast);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.f, 0);
    SetPixelExactTransforms();
    dev->SetFVF(kLFvf);
    dev->SetTexture(0, tex);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, f.min);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, f.mag);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, f.mip);
    std::mt19937 rng(31);
    for (int i = 0; i < 200; ++i) {
      float x = static_cast<float>(static_cast<int>(rng() % 80) - 8);
      float y = static_cast<float>(static_cast<int>(rng() % 64) - 8);
      if (i % 3 == 1) y += 0.375f;
      float s = static_cast<float>(2 + rng() % 11);
      // From a quarter of the texture (magnified) to three times it (minified).
      float span = static_cast<float>(1 + rng() % 12) / 4.f;
      if (i % 5 == 2) span = s / 8;  // one texel per pixel, as the sprite path wants
      D3DCOLOR c = static_cast<D3DCOLOR>(rng()) | 0x80000000u;
      LVertex q[6] = {
          {x, y, 0, c, 0, 0},        {x + s, y, 0, c, span, 0},        {x, y + s, 0, c, 0, span},
          {x + s, y, 0, c, span, 0}, {x + s, y + s, 0, c, span, span}, {x, y + s, 0, c, 0, span}};
      if (i % 7 == 3)
        for (LVertex& v : q) {
          float dx = v.x - x, dy = v.y - y;
          v.x = x + dx * 0.6f - dy * 0.8f;
          v.y = y + dx * 0.8f + dy * 0.6f;
        }
      if (i % 5 == 2)  // one vertex's colour differs in one bit: the quad is shaded, not flat
        q[rng() % 6].colour ^= 1u << (rng() % 32);
      EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, q, sizeof(LVertex)), D3D_OK);
    }
    dev->SetTexture(0, nullptr);
    AutomationUseFastPaths(true);
    return ReadBackBuffer();
  };
  for (const DWORD mode : {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP})
    for (IDirect3DTexture9* tex : {single, mipped}) {
      address = mode;
      std::vector<uint32_t> linear;
      for (const Filters& f : pairs) {
        SCOPED_TRACE(testing::Message()
                     << (tex == single ? "one level" : "three levels") << " min " << f.min
                     << " mag " << f.mag << " mip " << f.mip << " address " << mode);
        auto general = draw(tex, f, false);
        auto fast = draw(tex, f, true);
        size_t differing = 0;
        for (size_t i = 0; i < general.size(); ++i) differing += general[i] != fast[i];
        EXPECT_EQ(differing, 0u);
        if (linear.empty()) {
          linear = general;
          size_t drawn = 0;
          for (uint32_t c : general) drawn += c != 0x102030u;
          EXPECT_GT(drawn, 1000u) << "the scene must actually draw";
        } else if (f.min != D3DTEXF_ANISOTROPIC && (tex == mipped || f.mip == D3DTEXF_NONE)) {
          // (Anisotropic minification filters as linear; one level leaves nothing to choose.)
          EXPECT_NE(general, linear) << "the filter choice must show in the scene";
        }
      }
    }
  single->Release();
  mipped->Release();
}

// Sprite-format draws after draws in a richer format (specular colour, a second coordinate set)
// reuse the device's vertex storage: with the second set selected and specular added, whatever
// the richer draws left behind must not show. The sprite format has no second set, so it reads
// zero, and no specular colour.
TEST_F(FastPathTest, SpriteFormatAfterARicherFormatMatchesTheGeneralPath) {
  struct RichVertex {
    float x, y, z;
    D3DCOLOR diffuse, specular;
    float u0, v0, u1, v1;
  };
  const DWORD kRichFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2;
  std::vector<uint32_t> texels(64);
  std::mt19937 texRng(29);
  for (auto& t : texels) t = texRng() | 0xFF000000u;
  IDirect3DTexture9* tex = MakeTexture(8, 8, texels);
  ASSERT_NE(tex, nullptr);
  std::vector<uint32_t> out[2];
  for (int fast = 0; fast < 2; ++fast) {
    IDirect3DDevice9* dev = device_;
    AutomationUseFastPaths(fast != 0);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.f, 0);
    SetPixelExactTransforms();
    dev->SetTexture(0, tex);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    std::mt19937 rng(37);
    for (int i = 0; i < 60; ++i) {
      // A richer draw of one to four triangles far off screen: it only fills the storage.
      RichVertex rich[12];
      for (RichVertex& r : rich)
        r = RichVertex{500.f + static_cast<float>(rng() % 50),
                       static_cast<float>(rng() % 50),
                       0.f,
                       static_cast<D3DCOLOR>(rng()),
                       static_cast<D3DCOLOR>(rng()),
                       0.f,
                       0.f,
                       static_cast<float>(1 + rng() % 7) / 8.f,
                       static_cast<float>(1 + rng() % 7) / 8.f};
      dev->SetFVF(kRichFvf);
      UINT triangles = 1 + rng() % 4;
      EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, triangles, rich, sizeof(RichVertex)),
                D3D_OK);
      float x = static_cast<float>(static_cast<int>(rng() % 70) - 3);
      float y = static_cast<float>(static_cast<int>(rng() % 54) - 3);
      float sz = static_cast<float>(2 + rng() % 6);
      D3DCOLOR c = static_cast<D3DCOLOR>(rng()) | 0xFF000000u;
      LVertex q[6] = {{x, y, 0, c, 0, 0},
                      {x + sz, y, 0, c, sz / 8, 0},
                      {x, y + sz, 0, c, 0, sz / 8},
                      {x + sz, y, 0, c, sz / 8, 0},
                      {x + sz, y + sz, 0, c, sz / 8, sz / 8},
                      {x, y + sz, 0, c, 0, sz / 8}};
      dev->SetFVF(kLFvf);
      EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, q, sizeof(LVertex)), D3D_OK);
    }
    dev->SetTexture(0, nullptr);
    dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    AutomationUseFastPaths(true);
    out[fast] = ReadBackBuffer();
  }
  ExpectSameFrames(out, 0x102030u, 300u);
  // Every sprite reads texel (0, 0) times its own colour: no specular colour was added.
  uint32_t t00 = texels[0] & 0xFFFFFFu;
  size_t brighter = 0;
  for (uint32_t px : out[0])
    if (px != 0x102030u) brighter += R(px) > R(t00) || G(px) > G(t00) || B(px) > B(t00);
  EXPECT_EQ(brighter, 0u);
  tex->Release();
}

TEST_F(FastPathTest, PointStretchRectMatchesTheGeneralPathAndTheFormula) {
  IDirect3DSurface9* src = nullptr;
  ASSERT_EQ(
      device_->CreateOffscreenPlainSurface(6, 5, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &src, nullptr),
      D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(src->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
          (static_cast<uint32_t>(x * 40) << 24) | (x << 16) | (y << 8);
  src->UnlockRect();
  auto read = [&](IDirect3DSurface9* s) {
    std::vector<uint32_t> out(kWidth * kHeight);
    D3DLOCKED_RECT l;
    EXPECT_EQ(s->LockRect(&l, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (UINT y = 0; y < kHeight; ++y)
      std::memcpy(&out[y * kWidth], static_cast<uint8_t*>(l.pBits) + y * l.Pitch, kWidth * 4);
    s->UnlockRect();
    return out;
  };
  const RECT dst = {3, 2, 63, 47};
  // The same format on both sides, and ARGB into XRGB (the demo's background into the back buffer).
  for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}) {
    IDirect3DSurface9* target = nullptr;
    ASSERT_EQ(device_->CreateRenderTarget(kWidth, kHeight, format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                          &target, nullptr),
              D3D_OK);
    AutomationUseFastPaths(false);
    ASSERT_EQ(device_->ColorFill(target, nullptr, 0), D3D_OK);
    ASSERT_EQ(device_->StretchRect(src, nullptr, target, &dst, D3DTEXF_NONE), D3D_OK);
    auto general = read(target);
    AutomationUseFastPaths(true);
    ASSERT_EQ(device_->ColorFill(target, nullptr, 0), D3D_OK);
    ASSERT_EQ(device_->StretchRect(src, nullptr, target, &dst, D3DTEXF_POINT), D3D_OK);
    auto fast = read(target);
    EXPECT_EQ(general, fast) << "format " << format;
    // Destination pixel x takes source column floor((x + 0.5) * 6 / 60).
    uint32_t opaque = format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    for (int y = 2; y < 47; ++y)
      for (int x = 3; x < 63; ++x) {
        uint32_t sx = ((x - 3) * 2 + 1) * 6 / 120, sy = ((y - 2) * 2 + 1) * 5 / 90;
        uint32_t want = ((sx * 40) << 24 | sx << 16 | sy << 8) | opaque;
        ASSERT_EQ(fast[y * kWidth + x], want) << x << "," << y << " format " << format;
      }
    EXPECT_EQ(fast[0], opaque) << "outside the destination rectangle nothing changes";
    target->Release();
  }
  src->Release();
}

// Depth-tested triangles under every depth function, with and without depth writes, opaque or
// blended (source alpha, additive), into A8R8G8B8 and X8R8G8B8 targets: the quad-at-a-time test
// and write leave the same colours and the same depth buffer as one pixel at a time. Depths run
// past 0 .. 1 (clamped) and edges cut quads, so whole and partial quads meet at the same pixels.
// An odd-sized target, and an odd scissor rectangle, have quads that stick out of them.
TEST_F(FastPathTest, DepthTestedAndBlendedQuadsMatchTheGeneralPath) {
  struct Case {
    D3DFORMAT format;
    UINT width, height;
    RECT scissor;  // empty: none
  } cases[] = {{D3DFMT_A8R8G8B8, kWidth, kHeight, {}},
               {D3DFMT_X8R8G8B8, kWidth, kHeight, {}},
               {D3DFMT_A8R8G8B8, 63, 47, {}},
               {D3DFMT_X8R8G8B8, kWidth, kHeight, {3, 5, 61, 45}}};
  auto read = [](IDirect3DSurface9* s, UINT w, UINT h, int bytes) {
    std::vector<uint32_t> out(w * h);
    D3DLOCKED_RECT l;
    EXPECT_EQ(s->LockRect(&l, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) {
        uint32_t v = 0;
        std::memcpy(&v, static_cast<uint8_t*>(l.pBits) + y * l.Pitch + x * bytes, bytes);
        out[y * w + x] = v;
      }
    s->UnlockRect();
    return out;
  };
  const DWORD funcs[] = {D3DCMP_NEVER,   D3DCMP_LESS,     D3DCMP_EQUAL,        D3DCMP_LESSEQUAL,
                         D3DCMP_GREATER, D3DCMP_NOTEQUAL, D3DCMP_GREATEREQUAL, D3DCMP_ALWAYS};
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  IDirect3DSurface9* autoDepth = nullptr;
  ASSERT_EQ(device_->GetDepthStencilSurface(&autoDepth), D3D_OK);
  for (const Case& k : cases) {
    const bool scissor = k.scissor.right > 0;
    IDirect3DSurface9 *target = nullptr, *depth = nullptr;
    ASSERT_EQ(device_->CreateRenderTarget(k.width, k.height, k.format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                          &target, nullptr),
              D3D_OK);
    ASSERT_EQ(device_->CreateDepthStencilSurface(k.width, k.height, D3DFMT_D16_LOCKABLE,
                                                 D3DMULTISAMPLE_NONE, 0, FALSE, &depth, nullptr),
              D3D_OK);
    std::vector<uint32_t> colours[2], depths[2];
    for (int fast = 0; fast < 2; ++fast) {
      AutomationUseFastPaths(fast != 0);
      ASSERT_EQ(device_->SetRenderTarget(0, target), D3D_OK);
      ASSERT_EQ(device_->SetDepthStencilSurface(depth), D3D_OK);
      device_->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
      ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0), D3D_OK);
      device_->SetScissorRect(&k.scissor);
      device_->SetRenderState(D3DRS_SCISSORTESTENABLE, scissor);
      device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
      device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
      device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
      device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
      device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
      device_->SetFVF(kTLFvf);
      std::mt19937 rng(11);
      std::uniform_real_distribution<float> pos(-10.f, 74.f), z(-0.2f, 1.2f);
      for (int i = 0; i < 300; ++i) {
        device_->SetRenderState(D3DRS_ZFUNC, funcs[rng() % 8]);
        device_->SetRenderState(D3DRS_ZWRITEENABLE, rng() % 4 != 0);
        // Opaque, source-alpha and additive blending.
        const unsigned blend = rng() % 3;
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, blend != 0);
        device_->SetRenderState(D3DRS_SRCBLEND, blend == 1 ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
        device_->SetRenderState(D3DRS_DESTBLEND, blend == 1 ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE);
        // Some triangles share one depth, so EQUAL and NOTEQUAL meet exact ties.
        const float flat = rng() % 3 == 0 ? 0.5f : -1.f;
        TLVertex t[3];
        const D3DCOLOR c = static_cast<D3DCOLOR>(rng());
        for (TLVertex& v : t) v = {pos(rng), pos(rng), flat >= 0 ? flat : z(rng), 1, c, 0, 0};
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, t, sizeof(TLVertex)), D3D_OK);
      }
      device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
      device_->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
      colours[fast] = read(target, k.width, k.height, 4);
      depths[fast] = read(depth, k.width, k.height, 2);
    }
    ASSERT_EQ(device_->SetRenderTarget(0, back), D3D_OK);
    ASSERT_EQ(device_->SetDepthStencilSurface(autoDepth), D3D_OK);
    target->Release();
    depth->Release();
    const std::string name = "format " + std::to_string(k.format) + ", " + std::to_string(k.width) +
                             " x " + std::to_string(k.height);
    EXPECT_EQ(colours[0], colours[1]) << name;
    EXPECT_EQ(depths[0], depths[1]) << name;
    size_t drawn = 0, opaque = 0, outside = 0;
    std::set<uint32_t> levels;
    for (UINT y = 0; y < k.height; ++y)
      for (UINT x = 0; x < k.width; ++x) {
        const uint32_t colour = colours[1][y * k.width + x];
        drawn += (colour & 0xFFFFFF) != 0;
        opaque += colour >> 24 == 255;
        levels.insert(depths[1][y * k.width + x]);
        if (scissor && (x < UINT(k.scissor.left) || x >= UINT(k.scissor.right) ||
                        y < UINT(k.scissor.top) || y >= UINT(k.scissor.bottom)))
          outside += (colour & 0xFFFFFF) != 0;
      }
    EXPECT_GT(drawn, k.width * k.height / 2) << name << ": the scene must actually draw";
    EXPECT_GT(levels.size(), 500u) << name << ": depths must vary within quads";
    EXPECT_EQ(outside, 0u) << name << ": nothing is drawn outside the scissor rectangle";
    if (k.format == D3DFMT_X8R8G8B8) {
      EXPECT_EQ(opaque, size_t{k.width} * k.height) << "X8 targets store opaque pixels";
    }
  }
  AutomationUseFastPaths(true);
  back->Release();
  autoDepth->Release();
}

}  // namespace
}  // namespace d3d9_test
