// The message queue: posted messages, SDL events as window messages, dispatch, key automation
// and close requests.
#include <gtest/gtest.h>

#include <SDL.h>

#include <csignal>
#include <vector>

#include "automation.h"
#include "dinput.h"
#include "platform/win32/win32_internal.h"
#include "windows.h"

namespace {

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK RecordingProc(HWND h, UINT message, WPARAM w, LPARAM l) {
  g_seen.push_back({h, message, w, l});
  if (message == WM_CLOSE) return 0;  // keep the window, like the runtime's service
  return DefWindowProcA(h, message, w, l);
}

class Win32Messages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AutomationUseHeadless();
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Win32MessageTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void SetUp() override {
    AutomationReleaseAllKeys();
    window_ = Make();
    ASSERT_NE(window_, nullptr);
    Drain();
    g_seen.clear();
  }
  void TearDown() override {
    AutomationReleaseAllKeys();
    for (HWND h : made_) DestroyWindow(h);
    Drain();
  }
  HWND Make() {
    HWND h = CreateWindowExA(0, "Win32MessageTest", "", WS_CAPTION | WS_SYSMENU, 0, 0, 200, 200,
                             nullptr, nullptr, nullptr, nullptr);
    if (h) {
      made_.push_back(h);
      ShowWindow(h, SW_SHOW);
    }
    return h;
  }
  // Takes every pending message (the window system's own included) without dispatching.
  static void Drain() {
    MSG m;
    for (int i = 0; i < 10000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
  }
  // The next message of the queue for a window, skipping what the window system posts on its
  // own (paint, show, focus, move and size notices).
  static bool NextInput(MSG* out, HWND window = nullptr) {
    MSG m{};
    while (PeekMessageA(&m, window, 0, 0, PM_REMOVE)) {
      switch (m.message) {
        case WM_PAINT:
        case WM_SHOWWINDOW:
        case WM_ACTIVATE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_MOVE:
        case WM_SIZE:
          continue;
        default:
          *out = m;
          return true;
      }
    }
    return false;
  }
  static Uint32 SdlId(HWND h) { return SDL_GetWindowID(Win32SdlWindow(h)); }

  HWND window_ = nullptr;
  std::vector<HWND> made_;
};

// --- Posted messages -----------------------------------------------------------------------------

TEST_F(Win32Messages, PostedMessagesComeInOrderAndPeekNeverWaits) {
  MSG m{};
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));

  ASSERT_TRUE(PostMessageA(window_, WM_USER + 1, 11, 12));
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 2, 21, 22));
  // PM_NOREMOVE looks without taking.
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.wParam, 11u);
  EXPECT_EQ(m.lParam, 12);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Win32Messages, FiltersSelectByWindowAndRange) {
  HWND other = Make();
  Drain();
  PostMessageA(window_, WM_USER + 1, 0, 0);
  PostMessageA(other, WM_USER + 2, 0, 0);
  PostMessageA(nullptr, WM_USER + 3, 0, 0);  // a thread message

  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, other, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
  ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 3));
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER + 2, WM_USER + 5, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER, WM_USER + 1, PM_REMOVE));
  EXPECT_EQ(m.hwnd, window_);
}

TEST_F(Win32Messages, DispatchCallsTheProcedureAndDestroyedWindowsLoseTheirMessages) {
  HWND doomed = Make();
  Drain();
  PostMessageA(doomed, WM_USER + 7, 1, 2);
  PostMessageA(window_, WM_USER + 8, 3, 4);
  ASSERT_TRUE(DestroyWindow(doomed));

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 8));
  EXPECT_FALSE(NextInput(&m));

  g_seen.clear();
  EXPECT_EQ(DispatchMessageA(&m), 0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, static_cast<UINT>(WM_USER + 8));
  EXPECT_EQ(g_seen[0].wParam, 3u);
  EXPECT_EQ(g_seen[0].lParam, 4);

  // A message of a window that is gone reaches nobody.
  g_seen.clear();
  m.hwnd = doomed;
  DispatchMessageA(&m);
  SendMessageA(doomed, WM_USER, 0, 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(DispatchMessageA(nullptr), 0);
  EXPECT_EQ(TranslateAcceleratorA(window_, nullptr, &m), 0);
}

TEST_F(Win32Messages, QuitComesAfterEverythingElse) {
  PostQuitMessage(3);
  PostMessageA(window_, WM_USER, 0, 0);
  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

// --- SDL events become messages ------------------------------------------------------------------

TEST_F(Win32Messages, CloseBoxBecomesWmCloseOfThatWindowOnly) {
  HWND other = Make();
  Drain();
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SdlId(other);
  ASSERT_EQ(SDL_PushEvent(&e), 1);

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, other);
  EXPECT_EQ(m.message, 16u);
  g_seen.clear();
  DispatchMessageA(&m);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].hwnd, other);
  EXPECT_EQ(g_seen[0].message, static_cast<UINT>(WM_CLOSE));
  EXPECT_FALSE(NextInput(&m));
  EXPECT_TRUE(IsWindow(other));
}

TEST_F(Win32Messages, TerminationRequestClosesEveryWindow) {
  HWND other = Make();
  Drain();
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&quit), 1);
  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, other);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
  EXPECT_FALSE(NextInput(&m));
}

TEST_F(Win32Messages, InterruptSignalBecomesACloseRequest) {
  struct sigaction current {};
  ASSERT_EQ(sigaction(SIGINT, nullptr, &current), 0);
  // Raising the signal is safe only while SDL's handler is in place.
  if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)
    GTEST_SKIP() << "SDL's signal handler is not installed";
  ASSERT_EQ(raise(SIGINT), 0);
  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
}

TEST_F(Win32Messages, PostedMessagesComeBeforeSdlEvents) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SdlId(window_);
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  PostMessageA(window_, WM_USER + 4, 0, 0);
  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 4));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
}

TEST_F(Win32Messages, SdlKeysBecomeKeyMessagesWithScanCodeBits) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = SdlId(window_);
  e.key.state = SDL_PRESSED;
  e.key.keysym.scancode = SDL_SCANCODE_SPACE;
  e.key.keysym.sym = SDLK_SPACE;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e.type = SDL_KEYUP;
  e.key.state = SDL_RELEASED;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  // An extended key, auto-repeated.
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.repeat = 1;
  e.key.keysym.scancode = SDL_SCANCODE_UP;
  e.key.keysym.sym = SDLK_UP;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  // Alt+letter is a system key.
  e.key.repeat = 0;
  e.key.keysym.scancode = SDL_SCANCODE_X;
  e.key.keysym.sym = SDLK_x;
  e.key.keysym.mod = KMOD_LALT;
  ASSERT_EQ(SDL_PushEvent(&e), 1);

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_SPACE));
  EXPECT_EQ((m.lParam >> 16) & 0xFF, DIK_SPACE);
  EXPECT_EQ(m.lParam & 0xFFFF, 1);
  EXPECT_EQ((m.lParam >> 24) & 1, 0);
  EXPECT_EQ((m.lParam >> 30) & 3, 0);

  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_SPACE));
  EXPECT_EQ((static_cast<uint32_t>(m.lParam) >> 30) & 3, 3u);

  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_UP));
  EXPECT_EQ((m.lParam >> 16) & 0xFF, DIK_UP & 0x7F);
  EXPECT_EQ((m.lParam >> 24) & 1, 1);
  EXPECT_EQ((m.lParam >> 30) & 1, 1);

  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('X'));
  EXPECT_EQ((m.lParam >> 29) & 1, 1);
}

TEST_F(Win32Messages, SdlMouseBecomesMouseMessages) {
  const Uint32 id = SdlId(window_);
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = id;
  e.motion.x = 17;
  e.motion.y = 23;
  e.motion.state = SDL_BUTTON_LMASK;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = id;
  b.button.button = SDL_BUTTON_RIGHT;
  b.button.state = SDL_PRESSED;
  b.button.clicks = 1;
  b.button.x = 5;
  b.button.y = 6;
  ASSERT_EQ(SDL_PushEvent(&b), 1);
  b.type = SDL_MOUSEBUTTONUP;
  b.button.button = SDL_BUTTON_MIDDLE;
  b.button.state = SDL_RELEASED;
  ASSERT_EQ(SDL_PushEvent(&b), 1);
  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.windowID = id;
  w.wheel.y = -2;
  ASSERT_EQ(SDL_PushEvent(&w), 1);

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(LOWORD(m.lParam), 17);
  EXPECT_EQ(HIWORD(m.lParam), 23);
  EXPECT_TRUE(m.wParam & MK_LBUTTON);
  EXPECT_FALSE(m.wParam & MK_RBUTTON);
  // The message's cursor position is on the screen: the client origin plus the offset.
  POINT origin{0, 0};
  ClientToScreen(window_, &origin);
  EXPECT_EQ(m.pt.x, origin.x + 17);
  EXPECT_EQ(m.pt.y, origin.y + 23);

  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_RBUTTONDOWN));
  EXPECT_EQ(LOWORD(m.lParam), 5);
  EXPECT_EQ(HIWORD(m.lParam), 6);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_MBUTTONUP));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_MOUSEWHEEL));
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(m.wParam), -2 * WHEEL_DELTA);
}

TEST_F(Win32Messages, MouseMovesInARowCollapseIntoTheLatest) {
  const Uint32 id = SdlId(window_);
  auto move = [id](int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id;
    e.motion.x = x;
    e.motion.y = y;
    return SDL_PushEvent(&e) == 1;
  };
  ASSERT_TRUE(move(1, 1));
  ASSERT_TRUE(move(2, 2));
  ASSERT_TRUE(move(3, 3));
  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = id;
  b.button.button = SDL_BUTTON_LEFT;
  b.button.clicks = 1;
  b.button.x = b.button.y = 3;
  ASSERT_EQ(SDL_PushEvent(&b), 1);
  ASSERT_TRUE(move(4, 4));
  ASSERT_TRUE(move(5, 6));

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(LOWORD(m.lParam), 3);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_LBUTTONDOWN));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(LOWORD(m.lParam), 5);
  EXPECT_EQ(HIWORD(m.lParam), 6);
  EXPECT_FALSE(NextInput(&m));

  // Posted messages are never merged.
  PostMessageA(window_, WM_MOUSEMOVE, 0, 1);
  PostMessageA(window_, WM_MOUSEMOVE, 0, 2);
  ASSERT_TRUE(NextInput(&m));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.lParam, 2);
}

TEST_F(Win32Messages, SdlMovesAndResizesUpdateTheWindow) {
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU, FALSE, 0);
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SdlId(window_);
  e.window.event = SDL_WINDOWEVENT_MOVED;
  e.window.data1 = 300;
  e.window.data2 = 200;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  e.window.data1 = 123;
  e.window.data2 = 45;
  ASSERT_EQ(SDL_PushEvent(&e), 1);

  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_MOVE, WM_MOVE, PM_REMOVE));
  EXPECT_EQ(LOWORD(m.lParam), 300);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_SIZE, WM_SIZE, PM_REMOVE));
  EXPECT_EQ(LOWORD(m.lParam), 123);
  EXPECT_EQ(HIWORD(m.lParam), 45);
  RECT r{};
  GetWindowRect(window_, &r);
  EXPECT_EQ(r.left, 300 + frame.left);
  EXPECT_EQ(r.top, 200 + frame.top);
  int w = 0, h = 0;
  Win32ClientSize(window_, &w, &h);
  EXPECT_EQ(w, 123);
  EXPECT_EQ(h, 45);
}

TEST_F(Win32Messages, TranslateMessageTypesCharacters) {
  PostMessageA(window_, WM_KEYDOWN, 'A', 0x001E0001);
  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_TRUE(TranslateMessage(&m));
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('a'));

  AutomationSetKey(DIK_LSHIFT, true);
  Drain();
  PostMessageA(window_, WM_KEYDOWN, '1', 0x00020001);
  ASSERT_TRUE(NextInput(&m));
  TranslateMessage(&m);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('!'));

  // Keys without a character make none.
  Drain();
  PostMessageA(window_, WM_KEYDOWN, VK_F5, 0);
  ASSERT_TRUE(NextInput(&m));
  TranslateMessage(&m);
  EXPECT_FALSE(NextInput(&m));
}

// --- Automation ----------------------------------------------------------------------------------

TEST_F(Win32Messages, AutomationKeysGoToTheNewestWindowOrTheFocusedOne) {
  HWND newest = Make();
  Drain();
  AutomationSetKey(DIK_SPACE, true);
  AutomationSetKey(DIK_SPACE, true);  // held on: an auto-repeat
  AutomationSetKey(DIK_SPACE, false);
  AutomationSetKey(DIK_SPACE, false);  // not held: nothing

  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, newest);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_SPACE));
  EXPECT_EQ((m.lParam >> 16) & 0xFF, DIK_SPACE);
  EXPECT_EQ((m.lParam >> 30) & 1, 0);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ((m.lParam >> 30) & 1, 1);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYUP));
  EXPECT_FALSE(NextInput(&m));

  SetFocus(window_);
  Drain();
  AutomationSetKey(DIK_ESCAPE, true);
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_ESCAPE));
  EXPECT_EQ(GetFocus(), window_);

  // Releasing everything sends the key-up of every held key.
  AutomationSetKey(DIK_A, true);
  Drain();
  AutomationReleaseAllKeys();
  int ups = 0;
  while (NextInput(&m)) ups += m.message == WM_KEYUP;
  EXPECT_EQ(ups, 2);

  // Codes outside a byte are no keys.
  AutomationSetKey(0, true);
  AutomationSetKey(256, true);
  AutomationSetKey(-1, true);
  EXPECT_FALSE(NextInput(&m));
}

TEST_F(Win32Messages, AutomationCloseIsAWmCloseForThatWindow) {
  AutomationPostClose(window_);
  AutomationPostClose(nullptr);  // no window: nothing
  MSG m{};
  ASSERT_TRUE(NextInput(&m));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
  EXPECT_FALSE(NextInput(&m));
}

}  // namespace
