// The device and rasteriser tests' fixture: the shared headless device, with helpers to draw
// pre-transformed quads and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "automation.h"
#include "support/headless_device.h"
#include "platform/win32/com_object.h"
#include "d3d9.h"
#include "windows.h"

namespace d3d9_test {

// Pre-transformed, coloured, textured vertex (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1).
struct TLVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kTLFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Untransformed, coloured, textured vertex (D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1).
struct LVertex {
  float x, y, z;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kLFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

using test_support::MakeWindow;
using test_support::WindowedParameters;

class DeviceTest : public ::testing::Test {
 protected:
  static constexpr UINT kWidth = 64;
  static constexpr UINT kHeight = 48;

  void SetUp() override {
    AutomationClearFaults();
    AutomationUseFastPaths(true);
    ASSERT_TRUE(rig_.Open(kWidth, kHeight));
    window_ = rig_.window;
    d3d_ = rig_.d3d;
    device_ = rig_.device;
    pp_ = rig_.parameters;
  }

  void TearDown() override {
    EXPECT_EQ(rig_.Close(), 0u) << "something still holds the device";
    device_ = nullptr;
    d3d_ = nullptr;
    window_ = nullptr;
    AutomationClearFaults();
    AutomationUseFastPaths(true);
  }

  void ClearTo(D3DCOLOR colour) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0),
              D3D_OK);
  }

  // The back buffer as 0x00RRGGBB, rows top first.
  std::vector<uint32_t> ReadBackBuffer() {
    std::vector<uint32_t> pixels = rig_.ReadBackBuffer();
    if (pixels.empty()) {
      ADD_FAILURE() << "the back buffer cannot be read";
      pixels.assign(kWidth * kHeight, 0);
    }
    return pixels;
  }

  static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) {
    return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
  }

  // A managed texture of `format` holding `texels` (0xAARRGGBB, rows top first).
  IDirect3DTexture9* MakeTexture(UINT width, UINT height, const std::vector<uint32_t>& texels,
                                 D3DFORMAT format = D3DFMT_A8R8G8B8) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device_->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &texture,
                                      nullptr))) {
      ADD_FAILURE() << "CreateTexture failed";
      return nullptr;
    }
    D3DLOCKED_RECT locked;
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < height; ++y)
      std::memcpy(static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch,
                  &texels[y * width], width * 4);
    texture->UnlockRect(0);
    return texture;
  }

  // A pre-transformed quad covering [x0, x1) x [y0, y1) in screen coordinates, as a strip.
  void DrawQuad(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f,
                float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
    TLVertex q[4] = {{x0, y0, z, 1, colour, u0, v0},
                     {x1, y0, z, 1, colour, u1, v0},
                     {x0, y1, z, 1, colour, u0, v1},
                     {x1, y1, z, 1, colour, u1, v1}};
    ASSERT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex)), D3D_OK);
  }

  test_support::HeadlessDevice rig_;
  HWND window_ = nullptr;
  IDirect3D9* d3d_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
  D3DPRESENT_PARAMETERS pp_ = {};
};

// A device inside BeginScene/EndScene, unlit and without culling, for tests that draw.
class SceneTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  }
  void TearDown() override {
    device_->EndScene();
    DeviceTest::TearDown();
  }
};

}  // namespace d3d9_test
