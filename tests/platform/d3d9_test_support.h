// A headless window and Direct3D 9 device for the device and rasterizer tests, with helpers to
// draw pre-transformed quads and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "automation.h"
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

// A window whose client area is width x height.
inline HWND MakeWindow(int width, int height) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "D3D9TestWindow";
    RegisterClassA(&wc);
    registered = true;
  }
  // The outer size that gives the requested client area.
  RECT r = {0, 0, width, height};
  AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
  return CreateWindowExA(0, "D3D9TestWindow", "D3D9 test", WS_OVERLAPPEDWINDOW, 0, 0,
                         r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
}

inline D3DPRESENT_PARAMETERS WindowedParameters(HWND window, UINT width, UINT height) {
  D3DPRESENT_PARAMETERS pp = {};
  pp.BackBufferWidth = width;
  pp.BackBufferHeight = height;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.BackBufferCount = 1;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.hDeviceWindow = window;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

class DeviceTest : public ::testing::Test {
 protected:
  static constexpr UINT kWidth = 64;
  static constexpr UINT kHeight = 48;

  void SetUp() override {
    AutomationUseHeadless();
    AutomationClearFaults();
    AutomationUseFastPaths(true);
    window_ = MakeWindow(static_cast<int>(kWidth), static_cast<int>(kHeight));
    ASSERT_NE(window_, nullptr);
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr);
    pp_ = WindowedParameters(window_, kWidth, kHeight);
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp_, &device_),
              D3D_OK);
    ASSERT_NE(device_, nullptr);
  }

  void TearDown() override {
    if (device_) {
      EXPECT_EQ(device_->Release(), 0u) << "something still holds the device";
    }
    device_ = nullptr;
    SafeRelease(d3d_);
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    AutomationClearFaults();
  }

  void ClearTo(D3DCOLOR colour) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0),
              D3D_OK);
  }

  // The back buffer as 0x00RRGGBB, rows top first.
  std::vector<uint32_t> ReadBackBuffer() {
    std::vector<uint32_t> pixels(kWidth * kHeight, 0);
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface))) {
      ADD_FAILURE() << "GetBackBuffer failed";
      return pixels;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      ADD_FAILURE() << "LockRect failed";
      surface->Release();
      return pixels;
    }
    for (UINT y = 0; y < kHeight; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(
          static_cast<const uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch);
      for (UINT x = 0; x < kWidth; ++x) pixels[y * kWidth + x] = row[x] & 0x00FFFFFFu;
    }
    surface->UnlockRect();
    surface->Release();
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
