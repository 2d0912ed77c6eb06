// The choice of SDL video driver: a window only on a driver that shows it, unless the caller chose
// one. Each test sets the environment itself; only the last one starts SDL's video.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <string>

#include "d3d9.h"
#include "platform/win32/win32_internal.h"
#include "windows.h"

namespace {

class VideoDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "VideoDriverTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void SetUp() override {
    ::unsetenv("SDL_VIDEODRIVER");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  }
  // Video started by the last test stays up: shutting SDL's video down leaves D-Bus allocations
  // behind that LeakSanitizer would report as ours.
  void TearDown() override {
    if (window_) DestroyWindow(window_);
  }
  HWND Open() {
    window_ = CreateWindowExA(0, "VideoDriverTest", "test", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    return window_;
  }
  // Whether Direct3D finds a display to describe.
  static bool AdapterAnswers() {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d) return false;
    D3DDISPLAYMODE mode{};
    const bool answers = SUCCEEDED(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode));
    d3d->Release();
    return answers;
  }
  HWND window_ = nullptr;
};

TEST_F(VideoDriver, NoDisplayMeansNoWindowAndNoAdapterRatherThanAnInvisibleOne) {
  EXPECT_EQ(Open(), nullptr);
  EXPECT_NE(std::string(SDL_GetError()).find("no display"), std::string::npos) << SDL_GetError();
  EXPECT_FALSE(AdapterAnswers());
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(VideoDriver, ADisplayThatDoesNotAnswerIsNoDisplayEither) {
  ::setenv("DISPLAY", ":987", 1);
  EXPECT_EQ(Open(), nullptr);
  EXPECT_FALSE(AdapterAnswers());
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(VideoDriver, ADriverTheCallerChoseIsUsedEvenIfItShowsNothing) {
  ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ASSERT_NE(Open(), nullptr);
  EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "offscreen");
  EXPECT_TRUE(AdapterAnswers());
}

}  // namespace
