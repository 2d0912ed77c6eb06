// The runtime's window service: window sizes and placement, numbers and handles, and the poll
// that returns one event per call.
#include <gtest/gtest.h>

#include <SDL.h>

#include "automation.h"
#include "dinput.h"
#include "platform/win32/win32_internal.h"
#include "runtime/window_service.h"

namespace {

constexpr int kCaptionSysMenu = 0x00C80000;  // WS_CAPTION | WS_SYSMENU

class WindowService : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    AutomationReleaseAllKeys();
    Drain();
  }
  void TearDown() override {
    AutomationReleaseAllKeys();
    ReleaseWindows();
    Drain();
  }
  // Empties the queue of whatever the window system reported on its own (show, paint, focus).
  static void Drain() {
    for (int i = 0; i < 10000 && PollWindowEvent() != 0; ++i) {
    }
  }
  static RECT Outer(int style, int w, int h) {
    RECT r{0, 0, w, h};
    AdjustWindowRectEx(&r, static_cast<DWORD>(style), FALSE, 0);
    return r;
  }
};

// --- Opening windows -----------------------------------------------------------------------------

TEST_F(WindowService, ClientIsTheRequestedSizeAndTheOuterSizeFollowsTheStyle) {
  HWND h = OpenWindow(0, 30, 40, 320, 240, "plain", kCaptionSysMenu);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WindowID(0), h);
  int w = 0, hgt = 0;
  ASSERT_TRUE(Win32ClientSize(h, &w, &hgt));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(hgt, 240);
  RECT outer{};
  ASSERT_TRUE(GetWindowRect(h, &outer));
  RECT expected = Outer(kCaptionSysMenu, 320, 240);
  EXPECT_EQ(outer.right - outer.left, expected.right - expected.left);
  EXPECT_EQ(outer.bottom - outer.top, expected.bottom - expected.top);
  // Not centred: the outer edges are where asked.
  EXPECT_EQ(WindowX(0), 30);
  EXPECT_EQ(WindowY(0), 40);
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_STREQ(SDL_GetWindowTitle(Win32SdlWindow(h)), "plain");
  Uint32 flags = SDL_GetWindowFlags(Win32SdlWindow(h));
  EXPECT_FALSE(flags & SDL_WINDOW_BORDERLESS);
  EXPECT_FALSE(flags & SDL_WINDOW_RESIZABLE);
}

TEST_F(WindowService, CentredWindowsSitInTheMiddleOfTheScreen) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_GT(sw, 200);
  ASSERT_GT(sh, 200);
  // The demo's window: caption, system menu, centred; the position arguments do not matter.
  ASSERT_NE(OpenWindow(0, 999, 999, 160, 120, "centred", kCaptionSysMenu | kWindowCentred),
            nullptr);
  RECT outer = Outer(kCaptionSysMenu, 160, 120);
  const int ow = outer.right - outer.left, oh = outer.bottom - outer.top;
  EXPECT_EQ(WindowX(0), (sw - ow) / 2);
  EXPECT_EQ(WindowY(0), (sh - oh) / 2);
  int w = 0, h = 0;
  Win32ClientSize(WindowID(0), &w, &h);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
}

TEST_F(WindowService, CentredWindowsLargerThanTheScreenAreClampedToIt) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  HWND h = OpenWindow(0, 0, 0, sw + 500, sh + 500, "big", kCaptionSysMenu | kWindowCentred);
  ASSERT_NE(h, nullptr);
  RECT r{};
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, sw);
  EXPECT_EQ(r.bottom, sh);
  // The client area shrinks by the frame.
  RECT frame = Outer(kCaptionSysMenu, 0, 0);
  int w = 0, hgt = 0;
  Win32ClientSize(h, &w, &hgt);
  EXPECT_EQ(w, sw - (frame.right - frame.left));
  EXPECT_EQ(hgt, sh - (frame.bottom - frame.top));
}

TEST_F(WindowService, PopupFlagsMakeABorderlessWindowWithoutFrame) {
  HWND h = OpenWindow(0, 0, 0, 200, 100, "", static_cast<int>(0x80000000u));
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(SDL_GetWindowFlags(Win32SdlWindow(h)) & SDL_WINDOW_BORDERLESS);
  RECT r{};
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 200);
  EXPECT_EQ(r.bottom - r.top, 100);
}

// --- Numbers and handles -------------------------------------------------------------------------

TEST_F(WindowService, NumbersMapToHandlesUntilClosed) {
  HWND first = OpenWindow(0, 0, 0, 50, 50, "a", kCaptionSysMenu);
  HWND other = OpenWindow(3, 10, 10, 50, 50, "b", kCaptionSysMenu);
  ASSERT_TRUE(first && other);
  EXPECT_EQ(WindowID(3), other);

  // Opening a number in use closes its window first.
  HWND second = OpenWindow(0, 0, 0, 60, 60, "c", kCaptionSysMenu);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(WindowID(0), second);

  CloseWindow(3);
  EXPECT_FALSE(IsWindow(other));
  EXPECT_EQ(WindowID(3), nullptr);
  EXPECT_EQ(WindowX(3), 0);
  EXPECT_EQ(WindowY(3), 0);
  CloseWindow(3);  // unknown numbers are ignored
  CloseWindow(-7);

  // A window destroyed behind the service's back frees its number.
  DestroyWindow(second);
  EXPECT_EQ(WindowID(0), nullptr);

  EXPECT_EQ(OpenWindow(-1, 0, 0, 50, 50, "", kCaptionSysMenu), nullptr);
  EXPECT_EQ(OpenWindow(1, 0, 0, 0, 50, "", kCaptionSysMenu), nullptr);
  EXPECT_EQ(OpenWindow(1, 0, 0, 50, -5, "", kCaptionSysMenu), nullptr);
  EXPECT_NE(OpenWindow(1, 0, 0, 50, 50, nullptr, kCaptionSysMenu), nullptr);

  ReleaseWindows();
  EXPECT_EQ(WindowID(1), nullptr);
}

// --- The poll ------------------------------------------------------------------------------------

TEST_F(WindowService, EmptyQueuePollsZero) {
  EXPECT_EQ(PollWindowEvent(), 0);
  ASSERT_NE(OpenWindow(0, 0, 0, 50, 50, "", kCaptionSysMenu), nullptr);
  Drain();
  EXPECT_EQ(PollWindowEvent(), 0);
  EXPECT_EQ(PollWindowEvent(), 0);
}

TEST_F(WindowService, CloseRequestIsEventSixteenOnceAndTheWindowStays) {
  HWND h = OpenWindow(0, 0, 0, 50, 50, "", kCaptionSysMenu | kWindowCentred);
  ASSERT_NE(h, nullptr);
  Drain();
  AutomationPostClose(h);
  EXPECT_EQ(PollWindowEvent(), kWindowEventClose);
  EXPECT_EQ(PollWindowEvent(), 0);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(WindowID(0), h);

  // The real close box: SDL's close event for the window.
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(Win32SdlWindow(h));
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  EXPECT_EQ(PollWindowEvent(), 16);
  EXPECT_EQ(PollWindowEvent(), 0);
  EXPECT_TRUE(IsWindow(h));
}

TEST_F(WindowService, OneMessagePerCallInOrder) {
  HWND h = OpenWindow(0, 0, 0, 50, 50, "", kCaptionSysMenu);
  ASSERT_NE(h, nullptr);
  Drain();
  PostMessageA(h, WM_USER + 1, 0, 0);
  AutomationPostClose(h);
  PostMessageA(h, WM_USER + 2, 0, 0);
  EXPECT_EQ(PollWindowEvent(), WM_USER + 1);
  EXPECT_EQ(PollWindowEvent(), 16);
  EXPECT_EQ(PollWindowEvent(), WM_USER + 2);
  EXPECT_EQ(PollWindowEvent(), 0);
}

TEST_F(WindowService, KeysArriveAsKeyMessagesWithTheirCharacters) {
  HWND h = OpenWindow(0, 0, 0, 50, 50, "", kCaptionSysMenu);
  ASSERT_NE(h, nullptr);
  Drain();
  AutomationSetKey(DIK_SPACE, true);
  AutomationSetKey(DIK_SPACE, false);
  // The key-down is translated: its character comes as the next event.
  EXPECT_EQ(PollWindowEvent(), WM_KEYDOWN);
  EXPECT_EQ(PollWindowEvent(), WM_CHAR);
  EXPECT_EQ(PollWindowEvent(), WM_KEYUP);
  EXPECT_EQ(PollWindowEvent(), 0);
}

TEST_F(WindowService, EventsOfTheProcedureComeBeforeNewMessages) {
  HWND h = OpenWindow(0, 0, 0, 50, 50, "", kCaptionSysMenu);
  ASSERT_NE(h, nullptr);
  Drain();
  // A close request sent straight to the procedure is raised without a message.
  SendMessageA(h, WM_CLOSE, 0, 0);
  PostMessageA(h, WM_USER + 9, 0, 0);
  EXPECT_EQ(PollWindowEvent(), 16);
  EXPECT_EQ(PollWindowEvent(), WM_USER + 9);
  EXPECT_EQ(PollWindowEvent(), 0);
  EXPECT_TRUE(IsWindow(h));
}

}  // namespace
