// The runtime's window service: numbered program windows of one window class, their window
// procedure, and the poll that hands the program one window event at a time.
#include "runtime/window_service.h"

#include <algorithm>
#include <deque>
#include <map>

namespace {

constexpr char kClassName[] = "VexaRuntimeWindow";

bool g_classRegistered = false;
std::map<int, HWND> g_windows;
// Events raised by the window procedure, waiting for PollWindowEvent.
std::deque<int> g_events;

LRESULT CALLBACK ServiceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // A close request is the program's decision: raise it and keep the window open.
      g_events.push_back(kWindowEventClose);
      return 0;
    case WM_DESTROY:
      // However the window goes, its number is free again and no stale handle is handed out.
      for (auto it = g_windows.begin(); it != g_windows.end(); ++it) {
        if (it->second == window) {
          g_windows.erase(it);
          break;
        }
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

bool EnsureClass() {
  if (g_classRegistered) return true;
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  wc.lpfnWndProc = ServiceWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  g_classRegistered = RegisterClassA(&wc) != 0;
  return g_classRegistered;
}

}  // namespace

HWND OpenWindow(int number, int x, int y, int width, int height, const char* title, int flags) {
  if (number < 0 || width <= 0 || height <= 0) return nullptr;
  CloseWindow(number);
  if (!EnsureClass()) return nullptr;

  DWORD style = static_cast<DWORD>(flags) & ~static_cast<DWORD>(kWindowCentred);
  RECT outer{0, 0, width, height};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  int outerWidth = outer.right - outer.left;
  int outerHeight = outer.bottom - outer.top;
  if (flags & kWindowCentred) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (screenWidth > 0 && screenHeight > 0) {
      outerWidth = std::min(outerWidth, screenWidth);
      outerHeight = std::min(outerHeight, screenHeight);
      x = (screenWidth - outerWidth) / 2;
      y = (screenHeight - outerHeight) / 2;
    }
  }
  HWND window = CreateWindowExA(0, kClassName, title ? title : "", style, x, y, outerWidth,
                                outerHeight, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window) return nullptr;
  g_windows[number] = window;
  ShowWindow(window, SW_SHOW);
  return window;
}

void CloseWindow(int number) {
  auto it = g_windows.find(number);
  if (it == g_windows.end()) return;
  HWND window = it->second;
  g_windows.erase(it);
  DestroyWindow(window);
}

HWND WindowID(int number) {
  auto it = g_windows.find(number);
  return it == g_windows.end() ? nullptr : it->second;
}

int WindowX(int number) {
  RECT r{};
  return GetWindowRect(WindowID(number), &r) ? r.left : 0;
}

int WindowY(int number) {
  RECT r{};
  return GetWindowRect(WindowID(number), &r) ? r.top : 0;
}

int PollWindowEvent() {
  if (!g_events.empty()) {
    int event = g_events.front();
    g_events.pop_front();
    return event;
  }
  MSG msg{};
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  // The service's windows have no accelerator tables, so every message is translated and
  // dispatched.
  HACCEL accelerators = nullptr;
  if (!accelerators || !TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (!g_events.empty()) {
    int event = g_events.front();
    g_events.pop_front();
    return event;
  }
  return static_cast<int>(msg.message);
}

void ReleaseWindows() {
  while (!g_windows.empty()) CloseWindow(g_windows.begin()->first);
  g_events.clear();
}
