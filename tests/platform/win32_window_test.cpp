// Win32 windows on SDL2: classes, outer and client geometry, styles as SDL flags, window
// position and style changes, system metrics, destruction, and the kernel helpers.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <string>
#include <vector>

#include "automation.h"
#include "platform/win32/win32_internal.h"
#include "windows.h"

namespace {

LRESULT CALLBACK CountingProc(HWND, UINT, WPARAM, LPARAM);

std::vector<UINT> g_seen;

LRESULT CALLBACK CountingProc(HWND h, UINT message, WPARAM w, LPARAM l) {
  g_seen.push_back(message);
  return DefWindowProcA(h, message, w, l);
}

class Win32Window : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AutomationUseHeadless();
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountingProc;
    wc.lpszClassName = "Win32WindowTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    for (HWND h : made_) DestroyWindow(h);
    g_seen.clear();
  }
  HWND Make(DWORD style, int x, int y, int w, int h, DWORD exStyle = 0) {
    HWND window = CreateWindowExA(exStyle, "Win32WindowTest", "test", style, x, y, w, h, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window) made_.push_back(window);
    return window;
  }
  std::vector<HWND> made_;
};

// SDL's offscreen driver fixes border, resizability and always-on-top at creation; real drivers
// apply later changes too.
bool DriverAppliesStyleChanges() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && std::string(driver) != "offscreen";
}

RECT Outer(DWORD style, DWORD exStyle, int w, int h) {
  RECT r{0, 0, w, h};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return r;
}

// --- AdjustWindowRectEx follows the documented frame metrics -------------------------------------

TEST_F(Win32Window, AdjustWindowRectExAddsCaptionAndFramesPerStyle) {
  const int caption = GetSystemMetrics(SM_CYCAPTION);
  const int dlg = GetSystemMetrics(SM_CXDLGFRAME);
  const int sizing = GetSystemMetrics(SM_CXFRAME);
  const int border = GetSystemMetrics(SM_CXBORDER);
  ASSERT_GT(caption, 0);
  ASSERT_GT(sizing, dlg);

  RECT r = Outer(WS_CAPTION | WS_SYSMENU, 0, 640, 640);
  EXPECT_EQ(r.left, -dlg);
  EXPECT_EQ(r.top, -dlg - caption);
  EXPECT_EQ(r.right, 640 + dlg);
  EXPECT_EQ(r.bottom, 640 + dlg);

  r = Outer(WS_OVERLAPPEDWINDOW, 0, 100, 50);
  EXPECT_EQ(r.left, -sizing);
  EXPECT_EQ(r.top, -sizing - caption);
  EXPECT_EQ(r.right - r.left, 100 + 2 * sizing);

  r = Outer(WS_POPUP, 0, 100, 50);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 100);
  EXPECT_EQ(r.bottom, 50);

  r = Outer(WS_POPUP | WS_BORDER, 0, 100, 50);
  EXPECT_EQ(r.left, -border);
  EXPECT_EQ(r.bottom, 50 + border);

  RECT plain = Outer(WS_CAPTION, 0, 10, 10);
  RECT edged = Outer(WS_CAPTION, WS_EX_CLIENTEDGE, 10, 10);
  EXPECT_EQ(plain.left - edged.left, 2);
  EXPECT_EQ(plain.top - edged.top, 2);

  EXPECT_FALSE(AdjustWindowRectEx(nullptr, WS_CAPTION, FALSE, 0));
}

// --- Creation: the outer size given, the client size derived, SDL's window the client ------------

TEST_F(Win32Window, ClientAreaIsExactlyTheRequestedSize) {
  const DWORD styles[] = {WS_CAPTION | WS_SYSMENU, WS_OVERLAPPEDWINDOW, WS_POPUP,
                          WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX};
  for (DWORD style : styles) {
    RECT r = Outer(style, 0, 320, 200);
    HWND h = Make(style, 40, 30, r.right - r.left, r.bottom - r.top);
    ASSERT_NE(h, nullptr) << std::hex << style;

    RECT client{};
    ASSERT_TRUE(GetClientRect(h, &client));
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
    int w = 0, hgt = 0;
    ASSERT_TRUE(Win32ClientSize(h, &w, &hgt));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(hgt, 200);
    SDL_GetWindowSize(Win32SdlWindow(h), &w, &hgt);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(hgt, 200);

    RECT outer{};
    ASSERT_TRUE(GetWindowRect(h, &outer));
    EXPECT_EQ(outer.left, 40);
    EXPECT_EQ(outer.top, 30);
    EXPECT_EQ(outer.right - outer.left, r.right - r.left);
    EXPECT_EQ(outer.bottom - outer.top, r.bottom - r.top);

    // The SDL window (the client area) sits inside the frame.
    int sx = 0, sy = 0;
    SDL_GetWindowPosition(Win32SdlWindow(h), &sx, &sy);
    EXPECT_EQ(sx, 40 - r.left);
    EXPECT_EQ(sy, 30 - r.top);
    POINT p{0, 0};
    ASSERT_TRUE(ClientToScreen(h, &p));
    EXPECT_EQ(p.x, 40 - r.left);
    EXPECT_EQ(p.y, 30 - r.top);
  }
}

TEST_F(Win32Window, StylesDecideWhatSdlShows) {
  HWND captioned = Make(WS_CAPTION | WS_SYSMENU, 0, 0, 200, 200);
  HWND popup = Make(WS_POPUP, 0, 0, 200, 200);
  HWND sizable = Make(WS_OVERLAPPEDWINDOW, 0, 0, 200, 200);
  HWND topmost = Make(WS_POPUP, 0, 0, 200, 200, WS_EX_TOPMOST);
  ASSERT_TRUE(captioned && popup && sizable && topmost);

  Uint32 f = SDL_GetWindowFlags(Win32SdlWindow(captioned));
  EXPECT_FALSE(f & SDL_WINDOW_BORDERLESS);
  EXPECT_FALSE(f & SDL_WINDOW_RESIZABLE);
  EXPECT_FALSE(f & SDL_WINDOW_ALWAYS_ON_TOP);
  f = SDL_GetWindowFlags(Win32SdlWindow(popup));
  EXPECT_TRUE(f & SDL_WINDOW_BORDERLESS);
  EXPECT_FALSE(f & SDL_WINDOW_RESIZABLE);
  f = SDL_GetWindowFlags(Win32SdlWindow(sizable));
  EXPECT_FALSE(f & SDL_WINDOW_BORDERLESS);
  EXPECT_TRUE(f & SDL_WINDOW_RESIZABLE);
  f = SDL_GetWindowFlags(Win32SdlWindow(topmost));
  EXPECT_TRUE(f & SDL_WINDOW_ALWAYS_ON_TOP);

  // Hidden until shown, unless created visible.
  EXPECT_FALSE(IsWindowVisible(captioned));
  EXPECT_FALSE(ShowWindow(captioned, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(captioned));
  EXPECT_TRUE(SDL_GetWindowFlags(Win32SdlWindow(captioned)) & SDL_WINDOW_SHOWN);
  EXPECT_TRUE(GetWindowLongA(captioned, GWL_STYLE) & WS_VISIBLE);
  HWND visible = Make(WS_POPUP | WS_VISIBLE, 0, 0, 50, 50);
  EXPECT_TRUE(IsWindowVisible(visible));
}

TEST_F(Win32Window, OversizedAndNegativeSizesAreClamped) {
  HWND tiny = Make(WS_CAPTION, 0, 0, -50, 3);
  ASSERT_NE(tiny, nullptr);
  RECT client{};
  GetClientRect(tiny, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(client.bottom, 0);
  int w = 0, h = 0;
  SDL_GetWindowSize(Win32SdlWindow(tiny), &w, &h);
  EXPECT_GE(w, 1);  // SDL cannot hold an empty window
  EXPECT_GE(h, 1);

  HWND huge = Make(WS_POPUP, 0, 0, 1 << 30, 1 << 30);
  ASSERT_NE(huge, nullptr);
  GetClientRect(huge, &client);
  EXPECT_LE(client.right, 16384);
  EXPECT_LE(client.bottom, 16384);
}

// --- Moving, resizing and restyling --------------------------------------------------------------

TEST_F(Win32Window, SetWindowPosMovesResizesAndChangesTopmost) {
  const DWORD style = WS_CAPTION | WS_SYSMENU;
  HWND h = Make(style, 10, 20, 300, 300);
  ASSERT_NE(h, nullptr);
  RECT before{};
  GetWindowRect(h, &before);

  g_seen.clear();
  ASSERT_TRUE(SetWindowPos(h, HWND_TOPMOST, 0, 0, 500, 400, SWP_SHOWWINDOW));
  RECT r{};
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 500);
  EXPECT_EQ(r.bottom, 400);
  RECT frame = Outer(style, 0, 0, 0);
  int cw = 0, ch = 0;
  Win32ClientSize(h, &cw, &ch);
  EXPECT_EQ(cw, 500 - (frame.right - frame.left));
  EXPECT_EQ(ch, 400 - (frame.bottom - frame.top));
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_TRUE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (DriverAppliesStyleChanges()) {
    EXPECT_TRUE(SDL_GetWindowFlags(Win32SdlWindow(h)) & SDL_WINDOW_ALWAYS_ON_TOP);
  }
  // The window hears of the move and the new size before SetWindowPos returns.
  EXPECT_NE(std::find(g_seen.begin(), g_seen.end(), WM_MOVE), g_seen.end());
  EXPECT_NE(std::find(g_seen.begin(), g_seen.end(), WM_SIZE), g_seen.end());

  // Back out of topmost without size change: -1 sizes are ignored with SWP_NOSIZE.
  ASSERT_TRUE(SetWindowPos(h, HWND_NOTOPMOST, 70, 80, -1, -1, SWP_NOSIZE | SWP_NOOWNERZORDER));
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 70);
  EXPECT_EQ(r.top, 80);
  EXPECT_EQ(r.right - r.left, 500);
  EXPECT_FALSE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (DriverAppliesStyleChanges()) {
    EXPECT_FALSE(SDL_GetWindowFlags(Win32SdlWindow(h)) & SDL_WINDOW_ALWAYS_ON_TOP);
  }

  // SWP_NOZORDER leaves the z-order alone; SWP_NOMOVE the position.
  ASSERT_TRUE(SetWindowPos(h, HWND_TOPMOST, 1, 1, 200, 200, SWP_NOZORDER | SWP_NOMOVE));
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 70);
  EXPECT_EQ(r.right - r.left, 200);
  EXPECT_FALSE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);

  EXPECT_FALSE(SetWindowPos(nullptr, HWND_TOP, 0, 0, 1, 1, 0));
}

TEST_F(Win32Window, SetWindowLongStoresAndReturnsThePreviousValue) {
  HWND h = Make(WS_POPUP, 0, 0, 100, 100, WS_EX_TOPMOST);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SetWindowLongA(h, GWL_EXSTYLE, 0), WS_EX_TOPMOST);
  EXPECT_EQ(GetWindowLongA(h, GWL_EXSTYLE), 0);
  if (DriverAppliesStyleChanges()) {
    EXPECT_FALSE(SDL_GetWindowFlags(Win32SdlWindow(h)) & SDL_WINDOW_ALWAYS_ON_TOP);
  }
  EXPECT_EQ(SetWindowLongA(h, GWL_EXSTYLE, WS_EX_TOOLWINDOW), 0);
  EXPECT_EQ(GetWindowLongA(h, GWL_EXSTYLE), WS_EX_TOOLWINDOW);

  EXPECT_EQ(SetWindowLongA(h, GWL_USERDATA, 1234), 0);
  EXPECT_EQ(SetWindowLongA(h, GWL_USERDATA, 5), 1234);

  // A new style keeps the client size and changes what SDL shows.
  ASSERT_EQ(static_cast<DWORD>(SetWindowLongA(h, GWL_STYLE, WS_OVERLAPPEDWINDOW)),
            static_cast<DWORD>(WS_POPUP));
  int cw = 0, ch = 0;
  Win32ClientSize(h, &cw, &ch);
  EXPECT_EQ(cw, 100);
  EXPECT_EQ(ch, 100);
  if (DriverAppliesStyleChanges()) {
    Uint32 f = SDL_GetWindowFlags(Win32SdlWindow(h));
    EXPECT_FALSE(f & SDL_WINDOW_BORDERLESS);
    EXPECT_TRUE(f & SDL_WINDOW_RESIZABLE);
  }
  RECT r{};
  GetWindowRect(h, &r);
  RECT frame = Outer(WS_OVERLAPPEDWINDOW, 0, 100, 100);
  EXPECT_EQ(r.right - r.left, frame.right - frame.left);

  // Pointer-sized slots do not fit in a LONG here; unknown windows give 0.
  EXPECT_EQ(GetWindowLongA(h, GWL_WNDPROC), 0);
  EXPECT_EQ(SetWindowLongA(nullptr, GWL_EXSTYLE, 8), 0);
}

TEST_F(Win32Window, ScreenMetricsComeFromThePrimaryDisplay) {
  SDL_Rect bounds{};
  ASSERT_EQ(SDL_GetDisplayBounds(0, &bounds), 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), bounds.w);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), bounds.h);
  EXPECT_GT(bounds.w, 0);
  EXPECT_GE(GetSystemMetrics(SM_CMONITORS), 1);
  EXPECT_EQ(GetSystemMetrics(9999), 0);
}

// --- Classes, destruction, stale handles ---------------------------------------------------------

TEST_F(Win32Window, ClassesRegisterOnceAndCannotGoWhileUsed) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = CountingProc;
  wc.lpszClassName = "win32windowtest";  // names compare without case
  EXPECT_EQ(RegisterClassA(&wc), 0);
  wc.lpszClassName = "";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  wc.lpszClassName = "NoProc";
  wc.lpfnWndProc = nullptr;
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(RegisterClassA(nullptr), 0);

  WNDCLASSEXA ex{};
  ex.cbSize = sizeof(ex);
  ex.lpfnWndProc = CountingProc;
  ex.lpszClassName = "Second";
  ATOM atom = RegisterClassExA(&ex);
  ASSERT_NE(atom, 0);
  ex.cbSize = 0;
  ex.lpszClassName = "Third";
  EXPECT_EQ(RegisterClassExA(&ex), 0);

  // A class can be named by its atom.
  HWND h = CreateWindowExA(0, MAKEINTRESOURCEA(atom), "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(UnregisterClassA("Second", nullptr));
  DestroyWindow(h);
  EXPECT_TRUE(UnregisterClassA("Second", nullptr));
  EXPECT_FALSE(UnregisterClassA("Second", nullptr));

  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                            nullptr),
            nullptr);
  EXPECT_EQ(CreateWindowExA(0, "Win32WindowTest", "", WS_CHILD, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
}

TEST_F(Win32Window, DestroyedWindowsAreGoneForEveryCall) {
  HWND h = Make(WS_CAPTION, 5, 5, 100, 100);
  ASSERT_NE(h, nullptr);
  g_seen.clear();
  ASSERT_TRUE(DestroyWindow(h));
  // The procedure heard WM_DESTROY then WM_NCDESTROY.
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0], static_cast<UINT>(WM_DESTROY));
  EXPECT_EQ(g_seen[1], static_cast<UINT>(WM_NCDESTROY));

  RECT r{};
  int w = 0, hgt = 0;
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(GetWindowRect(h, &r));
  EXPECT_FALSE(GetClientRect(h, &r));
  EXPECT_EQ(Win32SdlWindow(h), nullptr);
  EXPECT_FALSE(Win32ClientSize(h, &w, &hgt));
  EXPECT_FALSE(DestroyWindow(h));
  EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
  EXPECT_FALSE(ShowWindow(h, SW_SHOW));

  // A new window never takes over the old handle.
  HWND next = Make(WS_CAPTION, 5, 5, 100, 100);
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, h);
  EXPECT_FALSE(IsWindow(h));

  // DefWindowProcA closes a window on WM_CLOSE.
  EXPECT_EQ(DefWindowProcA(next, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(next));
}

TEST_F(Win32Window, TitlesGoToTheSdlWindow) {
  HWND h = Make(WS_CAPTION, 0, 0, 50, 50);
  ASSERT_TRUE(SetWindowTextA(h, "Kestrel"));
  EXPECT_STREQ(SDL_GetWindowTitle(Win32SdlWindow(h)), "Kestrel");
  char buffer[4];
  EXPECT_EQ(GetWindowTextA(h, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "Kes");
}

// --- Kernel helpers ------------------------------------------------------------------------------

TEST(Win32Kernel, MulDivRoundsHalfAwayFromZeroWithoutOverflow) {
  EXPECT_EQ(MulDiv(12, 96, 72), 16);
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(5, -1, 2), -3);
  EXPECT_EQ(MulDiv(-5, -1, -2), -3);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);
  // The product exceeds 32 bits but the quotient does not.
  EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(2000000000, 2000000000, 1), -1);
}

TEST(Win32Kernel, SleepWaitsAndTicksAdvance) {
  DWORD start = GetTickCount();
  Sleep(30);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 1000u);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
  EXPECT_EQ(GetModuleHandleA("not-loaded.dll"), nullptr);
  EXPECT_NE(GetCurrentThreadId(), 0u);
}

}  // namespace
