// A bare Direct3D device for the D3DX sprite and font tests: a headless window, a lockable
// X8R8G8B8 back buffer of a fixed size, and helpers to make textures and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "automation.h"
#include "d3d9.h"
#include "d3dx9.h"
#include "d3d9_test_support.h"
#include "windows.h"

namespace d3dx_test {

class DeviceTest : public ::testing::Test {
 protected:
  static constexpr UINT kWidth = 160;
  static constexpr UINT kHeight = 120;

  void SetUp() override {
    AutomationUseHeadless();
    AutomationClearFaults();
    window_ = d3d9_test::MakeWindow(static_cast<int>(kWidth), static_cast<int>(kHeight));
    ASSERT_NE(window_, nullptr);
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr);
    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters(window_, kWidth, kHeight);
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device_),
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

  void Clear(D3DCOLOR colour) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK);
  }

  // The whole back buffer, 0x00RRGGBB per pixel (the X byte masked off), rows top first.
  std::vector<uint32_t> ReadBackBuffer() {
    std::vector<uint32_t> pixels(kWidth * kHeight, 0);
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface)) || !surface) {
      ADD_FAILURE() << "GetBackBuffer failed";
      return pixels;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      ADD_FAILURE() << "back buffer LockRect failed";
      surface->Release();
      return pixels;
    }
    for (UINT y = 0; y < kHeight; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(
          static_cast<const uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch);
      for (UINT x = 0; x < kWidth; ++x) pixels[y * kWidth + x] = row[x] & 0x00FFFFFFu;
    }
    surface->UnlockRect();
    surface->Release();
    return pixels;
  }

  static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) {
    if (x < 0 || y < 0 || x >= (int)kWidth || y >= (int)kHeight) return 0;
    return pixels[(size_t)y * kWidth + (size_t)x];
  }

  // A managed A8R8G8B8 texture holding `texels` (width x height, rows top first).
  IDirect3DTexture9* MakeTexture(UINT width, UINT height, const std::vector<uint32_t>& texels) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device_->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                      &texture, nullptr))) {
      ADD_FAILURE() << "CreateTexture failed";
      return nullptr;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
      ADD_FAILURE() << "texture LockRect failed";
      texture->Release();
      return nullptr;
    }
    for (UINT y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                              (size_t)y * locked.Pitch);
      for (UINT x = 0; x < width; ++x) row[x] = texels[y * width + x];
    }
    texture->UnlockRect(0);
    return texture;
  }

  HWND window_ = nullptr;
  IDirect3D9* d3d_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
};

// The bounding box of the pixels that differ from `background`; empty (left > right) if none.
struct InkBox {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int count = 0;
  bool Empty() const { return count == 0; }
};

inline InkBox FindInk(const std::vector<uint32_t>& pixels, UINT width, UINT height,
                      uint32_t background) {
  InkBox box;
  for (UINT y = 0; y < height; ++y)
    for (UINT x = 0; x < width; ++x)
      if (pixels[y * width + x] != background) {
        box.left = std::min(box.left, (int)x);
        box.right = std::max(box.right, (int)x);
        box.top = std::min(box.top, (int)y);
        box.bottom = std::max(box.bottom, (int)y);
        ++box.count;
      }
  return box;
}

}  // namespace d3dx_test
