// Render targets and depth-stencil surfaces: the stencil test and its operations, counted through
// overdraw; two-sided stencil; clears of each buffer alone; rendering into textures of every
// render-target format and sampling them back; 16-bit back buffers drawn on by the CPU; and what
// CheckDeviceFormat answers.
#include <cmath>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

class StencilTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(device_->CreateDepthStencilSurface(kWidth, kHeight, D3DFMT_D24S8, D3DMULTISAMPLE_NONE,
                                                 0, FALSE, &depth_, nullptr),
              D3D_OK);
    ASSERT_EQ(device_->SetDepthStencilSurface(depth_), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0,
                             1.f, 0),
              D3D_OK);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  }
  void TearDown() override {
    if (device_) device_->SetDepthStencilSurface(nullptr);
    SafeRelease(depth_);
    SceneTest::TearDown();
  }
  // Paints every pixel whose stencil value is `value` with colour `value`, then reads back.
  std::vector<uint32_t> StencilMap(int maxValue) {
    device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device_->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device_->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, FALSE);
    for (int v = 0; v <= maxValue; ++v) {
      device_->SetRenderState(D3DRS_STENCILREF, static_cast<DWORD>(v));
      DrawQuad(0, 0, kWidth, kHeight, static_cast<D3DCOLOR>(0xFF000000u | v));
    }
    return ReadBackBuffer();
  }
  IDirect3DSurface9* depth_ = nullptr;
};

TEST_F(StencilTest, IncrementingOverdrawCountsTheLayersOverEachPixel) {
  device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCRSAT);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  // Three overlapping rectangles.
  DrawQuad(0, 0, 30, 30, 0xFFFFFFFF);
  DrawQuad(10, 10, 40, 40, 0xFFFFFFFF);
  DrawQuad(20, 5, 50, 25, 0xFFFFFFFF);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  auto map = StencilMap(4);
  for (int y = 0; y < static_cast<int>(kHeight); ++y)
    for (int x = 0; x < static_cast<int>(kWidth); ++x) {
      const int layers = (x < 30 && y < 30) + (x >= 10 && x < 40 && y >= 10 && y < 40) +
                         (x >= 20 && x < 50 && y >= 5 && y < 25);
      ASSERT_EQ(At(map, x, y), static_cast<uint32_t>(layers)) << x << "," << y;
    }
}

TEST_F(StencilTest, OperationsOnFailPassAndDepthFailWithMasks) {
  device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  // Replace with 5 everywhere on the left half.
  device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_STENCILREF, 5);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
  DrawQuad(0, 0, 32, kHeight, 0xFFFFFFFF);
  // Where the stencil is not 5 the test fails: INVERT there (0 -> 255 masked to 3 by the write
  // mask), DECRSAT where it passes (5 -> 4).
  device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
  device_->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_INVERT);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_DECRSAT);
  device_->SetRenderState(D3DRS_STENCILWRITEMASK, 0x03);
  DrawQuad(0, 0, kWidth, kHeight, 0xFFFFFFFF);
  // Depth fails on the top half: ZFAIL zeroes, PASS increments (wrapping).
  device_->SetRenderState(D3DRS_STENCILWRITEMASK, 0xFF);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
  DrawQuad(0, 0, kWidth, 24, 0xFFFFFFFF, 0.1f);  // depth 0.1 on top
  device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
  device_->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_ZERO);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
  DrawQuad(0, 0, kWidth, kHeight, 0xFFFFFFFF, 0.5f);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  auto map = StencilMap(6);
  // Left: 5 -> (5 & ~3) | (4 & 3) = 4 -> bottom +1 = 5; right: 0 -> 3 -> bottom +1 = 4; top: 0.
  EXPECT_EQ(At(map, 5, 5), 0u);
  EXPECT_EQ(At(map, 40, 5), 0u);
  EXPECT_EQ(At(map, 5, 40), 5u);
  EXPECT_EQ(At(map, 40, 40), 4u);
}

TEST_F(StencilTest, TwoSidedStencilUsesTheCounterClockwiseStatesForBackFaces) {
  device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  device_->SetRenderState(D3DRS_TWOSIDEDSTENCILMODE, TRUE);
  device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS);
  device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
  device_->SetRenderState(D3DRS_CCW_STENCILPASS, D3DSTENCILOP_DECR);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  // Clockwise on screen on the left, counter-clockwise on the right.
  TLVertex cw[3] = {{0, 0, 0.5f, 1, 0, 0, 0}, {30, 0, 0.5f, 1, 0, 0, 0}, {0, 40, 0.5f, 1, 0, 0, 0}};
  TLVertex ccw[3] = {
      {34, 0, 0.5f, 1, 0, 0, 0}, {34, 40, 0.5f, 1, 0, 0, 0}, {64, 0, 0.5f, 1, 0, 0, 0}};
  ASSERT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cw, sizeof(TLVertex)), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(TLVertex)), D3D_OK);
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  auto map = StencilMap(255);
  EXPECT_EQ(At(map, 5, 5), 1u);
  EXPECT_EQ(At(map, 40, 5), 255u);  // 0 - 1 wraps
  EXPECT_EQ(At(map, 32, 30), 0u);
}

TEST_F(StencilTest, EachClearTouchesOnlyItsBuffer) {
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 0.f, 0), D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 0.f, 7), D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 0.25f, 99), D3D_OK);
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 10, 10), 0x123456u) << "a depth or stencil clear keeps the colour";
  // Depth 0.25: a quad at 0.2 passes LESS, one at 0.3 does not; the stencil is still 7.
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
  DrawQuad(0, 0, 32, kHeight, 0xFFFF0000, 0.2f);
  DrawQuad(32, 0, kWidth, kHeight, 0xFFFF0000, 0.3f);
  px = ReadBackBuffer();
  EXPECT_EQ(At(px, 10, 10), 0xFF0000u);
  EXPECT_EQ(At(px, 40, 10), 0x123456u);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  EXPECT_EQ(At(StencilMap(8), 20, 20), 7u);
  // A stencil clear of a buffer without stencil is refused.
  device_->SetDepthStencilSurface(nullptr);
  IDirect3DSurface9* d16 = nullptr;
  ASSERT_EQ(device_->CreateDepthStencilSurface(kWidth, kHeight, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0,
                                               FALSE, &d16, nullptr),
            D3D_OK);
  device_->SetDepthStencilSurface(d16);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.f, 0), D3DERR_INVALIDCALL);
  device_->SetDepthStencilSurface(depth_);
  d16->Release();
}

// --- Render to texture -------------------------------------------------------------------------

// A colour as the format keeps it, read back through the texture as A8R8G8B8 (the formats' own
// rules: 5/6/5 bits expanded by copying the high bits; float formats exact for 8-bit values, the
// missing channels of R32F read as 1).
uint32_t AsStored(D3DFORMAT format, uint32_t argb) {
  const uint32_t r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  switch (format) {
    case D3DFMT_X8R8G8B8:
      return argb | 0xFF000000u;
    case D3DFMT_R5G6B5: {
      const uint32_t r5 = r >> 3, g6 = g >> 2, b5 = b >> 3;
      return 0xFF000000u | ((r5 << 3 | r5 >> 2) << 16) | ((g6 << 2 | g6 >> 4) << 8) |
             (b5 << 3 | b5 >> 2);
    }
    case D3DFMT_R32F:
      return 0xFF00FFFFu | (r << 16);
    default:
      return argb;
  }
}

TEST_F(SceneTest, EveryRenderTargetFormatRoundTripsThroughATexture) {
  IDirect3DSurface9* backBuffer = nullptr;
  ASSERT_EQ(device_->GetRenderTarget(0, &backBuffer), D3D_OK);
  for (D3DFORMAT format :
       {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_R32F, D3DFMT_A16B16G16R16F}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(d3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                      D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, format),
              D3D_OK);
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device_->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT,
                                     &target, nullptr),
              D3D_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &level), D3D_OK);
    ASSERT_EQ(device_->SetRenderTarget(0, level), D3D_OK);
    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device_->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, 16u) << "setting a target resets the viewport to it";
    // Left half cleared, right half drawn.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.f, 0), D3D_OK);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    DrawQuad(8, 0, 16, 16, 0xFFCC8844);
    ASSERT_EQ(device_->SetRenderTarget(0, backBuffer), D3D_OK);
    // Sampled one texel per pixel onto the back buffer.
    ClearTo(0);
    device_->SetTexture(0, target);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    DrawQuad(0, 0, 16, 16, 0xFFFFFFFF);
    device_->SetTexture(0, nullptr);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    auto px = ReadBackBuffer();
    EXPECT_EQ(At(px, 2, 5), AsStored(format, 0xFF336699) & 0xFFFFFF);
    EXPECT_EQ(At(px, 12, 5), AsStored(format, 0xFFCC8844) & 0xFFFFFF);
    level->Release();
    target->Release();
  }
  backBuffer->Release();
}

TEST(CheckDeviceFormat, AnswersForEachUseWhatTheDeviceCreates) {
  AutomationUseHeadless();
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  auto check = [&](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    return d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type,
                                  format);
  };
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
  EXPECT_EQ(check(0, D3DRTYPE_CUBETEXTURE, D3DFMT_A16B16G16R16F), D3D_OK);
  EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_R32F), D3D_OK);
  EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_L8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3D_OK);
  EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24X4S4), D3D_OK);
  EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, D3DFMT_D24S8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_DXT1), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(D3DUSAGE_QUERY_SRGBREAD, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(check(D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
  EXPECT_EQ(check(0, D3DRTYPE_VOLUMETEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
  d3d->Release();
}

// --- 16-bit back buffers ------------------------------------------------------------------------

class SixteenBitTest : public ::testing::TestWithParam<D3DFORMAT> {};

TEST_P(SixteenBitTest, TheBackBufferIsLockedInsideASceneFilledAndPresented) {
  AutomationUseHeadless();
  HWND window = MakeWindow(32, 16);
  ASSERT_NE(window, nullptr);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  D3DPRESENT_PARAMETERS pp = WindowedParameters(window, 32, 16);
  pp.BackBufferFormat = GetParam();
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                              D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
            D3D_OK);
  IDirect3DSurface9* bb = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(bb->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Format, GetParam());
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.f, 0), D3D_OK);
  RECT right{16, 0, 32, 16};
  ASSERT_EQ(device->ColorFill(bb, &right, 0xFFFF0000), D3D_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(bb->LockRect(&locked, nullptr, 0), D3D_OK);
  auto* row = static_cast<uint16_t*>(locked.pBits);
  const uint16_t blue = GetParam() == D3DFMT_R5G6B5 ? 0x001F : 0x801F;
  const uint16_t red = GetParam() == D3DFMT_R5G6B5 ? 0xF800 : 0xFC00;
  EXPECT_EQ(row[0], blue);
  EXPECT_EQ(row[20], red);
  row[1] = red;  // drawn by the CPU, as the screen primitives do
  ASSERT_EQ(bb->UnlockRect(), D3D_OK);
  ASSERT_EQ(device->EndScene(), D3D_OK);
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  AutomationFrame frame;
  ASSERT_TRUE(AutomationLastPresentedFrame(&frame));
  ASSERT_EQ(frame.width, 32);
  EXPECT_EQ(frame.pixels[0] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(frame.pixels[1] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(frame.pixels[20] & 0xFFFFFF, 0xFF0000u);
  bb->Release();
  EXPECT_EQ(device->Release(), 0u);
  d3d->Release();
  DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Formats, SixteenBitTest,
                         ::testing::Values(D3DFMT_R5G6B5, D3DFMT_X1R5G5B5));

}  // namespace
}  // namespace d3d9_test
