// The D3DX tests' fixture: the shared headless device at 160 x 120, with helpers to make
// textures and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "automation.h"
#include "d3d9.h"
#include "d3dx9.h"
#include "support/headless_device.h"
#include "windows.h"

namespace d3dx_test {

class DeviceTest : public ::testing::Test {
 protected:
  static constexpr UINT kWidth = 160;
  static constexpr UINT kHeight = 120;

  void SetUp() override {
    AutomationClearFaults();
    ASSERT_TRUE(rig_.Open(kWidth, kHeight));
    window_ = rig_.window;
    d3d_ = rig_.d3d;
    device_ = rig_.device;
  }

  void TearDown() override {
    EXPECT_EQ(rig_.Close(), 0u) << "something still holds the device";
    device_ = nullptr;
    d3d_ = nullptr;
    window_ = nullptr;
    AutomationClearFaults();
  }

  void Clear(D3DCOLOR colour) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK);
  }

  // The whole back buffer, 0x00RRGGBB per pixel (the X byte masked off), rows top first.
  std::vector<uint32_t> ReadBackBuffer() {
    std::vector<uint32_t> pixels = rig_.ReadBackBuffer();
    if (pixels.empty()) {
      ADD_FAILURE() << "the back buffer cannot be read";
      pixels.assign(kWidth * kHeight, 0);
    }
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

  test_support::HeadlessDevice rig_;
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
