// Fixtures for engine tests: headless platform, the engine opened in SetUp and shut down in
// TearDown (so every test starts from the zero state and LeakSanitizer sees a clean exit), and
// small helpers for textures and presented pixels.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
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
