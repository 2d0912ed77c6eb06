// Fixtures for engine tests: headless platform, the engine opened in SetUp and shut down in
// TearDown (so every test starts from the zero state and LeakSanitizer sees a clean exit), and
// small helpers for textures and presented pixels.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "automation.h"
#include "engine/vexa.h"

namespace engine_test {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 640;
// Caption, system menu, centred: what the demo opens.
constexpr int kDemoWindowFlags = 0x00C80001;

// An engine that is not open: headless platform, no faults, no keys, the real clock.
class ClosedEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    // The video subsystem stays up for the whole test program. Otherwise it is shut down with
    // each closed screen, SDL unloads the offscreen driver's EGL and Mesa libraries, and their
    // still-held allocations show as leaks of unknown modules at exit.
    static const bool videoHeld = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    (void)videoHeld;
    AutomationClearFaults();
    AutomationReleaseAllKeys();
  }
  void TearDown() override {
    SetFramePassObserver(nullptr);
    EngineShutdown();
    AutomationClearFaults();
    AutomationReleaseAllKeys();
    AutomationUseRealClock();
  }
};

// An engine opened as the demo opens it: 640 x 640, windowed, headless.
class EngineTest : public ClosedEngineTest {
 protected:
  void SetUp() override {
    ClosedEngineTest::SetUp();
    ASSERT_EQ(OpenScreen(0, 0, kScreenWidth, kScreenHeight, "Engine test", kDemoWindowFlags), 1);
    ASSERT_NE(Engine.Device, nullptr);
  }
};

// The pixel (x, y) of a presented frame, 0xAARRGGBB; 0 outside it.
inline uint32_t PixelAt(const AutomationFrame& frame, int x, int y) {
  if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) return 0;
  return frame
      .pixels[static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x)];
}

// The colour channels of a pixel, alpha ignored (the window has no alpha).
inline uint32_t Rgb(uint32_t pixel) {
  return pixel & 0x00FFFFFFu;
}

// The last presented frame; fails the test when nothing was presented.
inline AutomationFrame LastFrame() {
  AutomationFrame frame;
  EXPECT_TRUE(AutomationLastPresentedFrame(&frame));
  return frame;
}

// A managed-pool texture of one opaque colour (A8R8G8B8), owned by the caller.
inline IDirect3DTexture9* MakeSolidTexture(IDirect3DDevice9* device, uint32_t argb, UINT size = 4) {
  IDirect3DTexture9* texture = nullptr;
  if (FAILED(device->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                   nullptr))) {
    ADD_FAILURE() << "CreateTexture failed";
    return nullptr;
  }
  D3DLOCKED_RECT locked;
  if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
    ADD_FAILURE() << "LockRect failed";
    texture->Release();
    return nullptr;
  }
  for (UINT y = 0; y < size; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                            static_cast<size_t>(y) * locked.Pitch);
    for (UINT x = 0; x < size; ++x) row[x] = argb;
  }
  texture->UnlockRect(0);
  return texture;
}

// Device state of the engine's device, read back as the passes left it.
inline DWORD RenderState(D3DRENDERSTATETYPE state) {
  DWORD value = 0xDEADBEEF;
  Engine.Device->GetRenderState(state, &value);
  return value;
}
inline DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
  DWORD value = 0xDEADBEEF;
  Engine.Device->GetTextureStageState(stage, type, &value);
  return value;
}
inline DWORD SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) {
  DWORD value = 0xDEADBEEF;
  Engine.Device->GetSamplerState(sampler, type, &value);
  return value;
}
inline D3DMATRIX WorldTransform() {
  D3DMATRIX world{};
  Engine.Device->GetTransform(D3DTS_WORLD, &world);
  return world;
}
// The texture bound to a stage, without keeping a reference.
inline IDirect3DBaseTexture9* BoundTexture(DWORD stage) {
  IDirect3DBaseTexture9* texture = nullptr;
  Engine.Device->GetTexture(stage, &texture);
  if (texture != nullptr) texture->Release();
  return texture;
}
inline DWORD FloatBits(float value) {
  DWORD bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

// Sets the device's view and projection: the eye at the origin looking along +z, a 90 degree
// vertical field of view with a square aspect, near plane 1, far plane 100. On the 640 x 640
// screen a point (x, y, z) lands at (320 + 320 x / z, 320 - 320 y / z).
inline void LookAlongZ() {
  D3DXMATRIX view, projection;
  D3DXMatrixIdentity(&view);
  D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 2, 1.0f, 1.0f, 100.0f);
  Engine.Device->SetTransform(D3DTS_VIEW, &view);
  Engine.Device->SetTransform(D3DTS_PROJECTION, &projection);
}

// The engine's back buffer as it stands: 0x00RRGGBB per pixel for 32-bit formats, the raw value
// for 16-bit ones. Empty when it cannot be locked.
struct BackBufferImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xDEADBEEF;
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  // How many pixels of the rectangle [x0, x1) x [y0, y1) hold `value`.
  int Count(int x0, int y0, int x1, int y1, uint32_t value) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y) == value;
    return n;
  }
};
inline BackBufferImage ReadBackBuffer() {
  BackBufferImage image;
  IDirect3DSurface9* surface = nullptr;
  if (FAILED(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface))) return image;
  D3DSURFACE_DESC desc{};
  surface->GetDesc(&desc);
  const bool wide = desc.Format == D3DFMT_X8R8G8B8 || desc.Format == D3DFMT_A8R8G8B8;
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    image.width = static_cast<int>(desc.Width);
    image.height = static_cast<int>(desc.Height);
    image.pixels.resize(static_cast<size_t>(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y) {
      const auto* row = static_cast<const uint8_t*>(locked.pBits) +
                        static_cast<size_t>(y) * static_cast<size_t>(locked.Pitch);
      for (UINT x = 0; x < desc.Width; ++x) {
        uint32_t value = 0;
        if (wide) {
          std::memcpy(&value, row + 4 * static_cast<size_t>(x), 4);
          value &= 0x00FFFFFFu;
        } else {
          uint16_t packed;
          std::memcpy(&packed, row + 2 * static_cast<size_t>(x), 2);
          value = packed;
        }
        image.pixels[static_cast<size_t>(y) * desc.Width + x] = value;
      }
    }
    surface->UnlockRect();
  }
  surface->Release();
  return image;
}

// Records the passes RenderWorld runs, in order.
struct PassLog {
  static inline std::vector<std::string> passes;
  static void Record(const char* pass) { passes.emplace_back(pass); }
  static void Start() {
    passes.clear();
    SetFramePassObserver(&Record);
  }
};

}  // namespace engine_test
