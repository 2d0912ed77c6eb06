// Win32 windows on SDL2: window classes, creation and destruction, geometry, styles, system
// metrics and focus.
//
// A window is an SDL window whose client area is exactly the Win32 client rectangle. The outer
// rectangle is bookkeeping derived from the style with the fixed frame metrics of
// win32_windows.h; it is what GetWindowRect reports and what CreateWindowExA and SetWindowPos
// take. Styles map to what SDL can express: WS_CAPTION gives a decorated window, any style
// without a caption (WS_POPUP in particular) a borderless one, WS_THICKFRAME a resizable one and
// WS_EX_TOPMOST an always-on-top one. Child windows are not supported.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win32/win32_internal.h"
#include "win32/win32_windows.h"
#include "windows.h"

namespace {

constexpr int kMenuHeight = 19;
constexpr int kDefaultOuterWidth = 640;
constexpr int kDefaultOuterHeight = 480;
constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorClassAlreadyExists = 1410;
constexpr DWORD kErrorClassDoesNotExist = 1411;
constexpr DWORD kErrorClassHasWindows = 1412;
constexpr DWORD kErrorInvalidIndex = 1413;
constexpr DWORD kErrorNotSupported = 50;

struct WindowClass {
  std::string name;
  ATOM atom = 0;
  WNDPROC proc = nullptr;
  UINT style = 0;
};

std::vector<WindowClass> g_classes;
ATOM g_nextAtom = 0xC000;
// Handles are never reused: a stale handle can never reach a newer window.
std::map<uintptr_t, std::unique_ptr<Win32Window>> g_windows;
uint64_t g_serial = 0;
HWND g_focus = nullptr;
int g_cursorCount = 0;
int g_predefinedCursor;  // address used as the handle of every predefined cursor and icon

constexpr uintptr_t HandleValue(uint64_t serial) {
  return 0x10000 + serial * 16;
}

bool IsAtom(LPCSTR name) {
  return reinterpret_cast<uintptr_t>(name) < 0x10000;
}

WindowClass* FindClass(LPCSTR name) {
  if (name == nullptr) return nullptr;
  for (auto& c : g_classes) {
    if (IsAtom(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name))
                     : strcasecmp(c.name.c_str(), name) == 0)
      return &c;
  }
  return nullptr;
}

ATOM AddClass(UINT style, WNDPROC proc, LPCSTR name) {
  if (proc == nullptr || name == nullptr || (!IsAtom(name) && name[0] == '\0') || IsAtom(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (FindClass(name)) {
    SetLastError(kErrorClassAlreadyExists);
    return 0;
  }
  if (g_nextAtom == 0xFFFF) return 0;
  WindowClass c;
  c.name = name;
  c.atom = g_nextAtom++;
  c.proc = proc;
  c.style = style;
  g_classes.push_back(c);
  return c.atom;
}

bool HasCaption(DWORD style) {
  return (style & WS_CAPTION) == WS_CAPTION;
}

// Applies the style-dependent SDL window properties.
void ApplySdlStyle(Win32Window* w) {
  SDL_SetWindowBordered(w->sdl, HasCaption(w->style) ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowResizable(w->sdl, (w->style & WS_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowAlwaysOnTop(w->sdl, (w->exStyle & WS_EX_TOPMOST) ? SDL_TRUE : SDL_FALSE);
}

void PlaceSdlWindow(Win32Window* w) {
  RECT in = Win32FrameInsets(w->style, w->exStyle);
  SDL_SetWindowPosition(w->sdl, w->outerX + in.left, w->outerY + in.top);
}

void ResizeSdlWindow(Win32Window* w) {
  Win32SettlePresents();
  SDL_SetWindowSize(w->sdl, std::max(1, w->clientWidth), std::max(1, w->clientHeight));
}

LRESULT CallProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Window* w = Win32FindWindow(h);
  if (!w || !w->proc) return 0;
  return w->proc(h, message, wParam, lParam);
}

}  // namespace

// --- Internal interface --------------------------------------------------------------------------

bool Win32StartVideo() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) {
    const char* chosen = std::getenv("SDL_VIDEODRIVER");
    if (!chosen || !*chosen) {
      auto named = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value && *value;
      };
      // Wayland's probe also prints to standard error when no compositor answers, so it is not
      // tried without one.
      std::string drivers;
      if (named("DISPLAY")) drivers = "x11";
      if (named("WAYLAND_DISPLAY")) drivers += drivers.empty() ? "wayland" : ",wayland";
      if (drivers.empty()) {
        SDL_SetError("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        return false;
      }
      SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    }
  }
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

bool Win32EnsureVideo() {
  // Read by SDL when a close event arrives, so set even if another module started SDL's video:
  // a close box is its window's close request and nothing more (see win32_messages.cpp).
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  return Win32StartVideo();
}

Win32Window* Win32FindWindow(HWND handle) {
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_windows.end() ? nullptr : it->second.get();
}

Win32Window* Win32FindSdlWindow(Uint32 sdlId) {
  if (sdlId == 0) return nullptr;
  for (auto& [key, w] : g_windows)
    if (w->sdlId == sdlId) return w.get();
  return nullptr;
}

RECT Win32FrameInsets(DWORD style, DWORD exStyle) {
  int edge = 0;
  if (style & WS_THICKFRAME)
    edge = kWin32SizingFrame;
  else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
    edge = kWin32FixedFrame;
  else if (style & WS_BORDER)
    edge = kWin32Border;
  if (exStyle & WS_EX_CLIENTEDGE) edge += kWin32ClientEdge;
  int top = edge + (HasCaption(style) ? kWin32CaptionHeight : 0);
  return RECT{edge, top, edge, edge};
}

bool Win32NoteClientPosition(Win32Window* w, int clientX, int clientY) {
  RECT in = Win32FrameInsets(w->style, w->exStyle);
  LONG x = clientX - in.left, y = clientY - in.top;
  if (x == w->outerX && y == w->outerY) return false;
  w->outerX = x;
  w->outerY = y;
  return true;
}

bool Win32NoteClientSize(Win32Window* w, int width, int height) {
  // A zero-sized client area is kept as 0 even though SDL holds it as 1 pixel.
  if (width == std::max(1, w->clientWidth) && height == std::max(1, w->clientHeight)) return false;
  w->clientWidth = width;
  w->clientHeight = height;
  return true;
}

void Win32SetFocusWindow(HWND handle) {
  g_focus = Win32FindWindow(handle) ? handle : nullptr;
}

HWND Win32FocusWindow() {
  if (g_focus && !Win32FindWindow(g_focus)) g_focus = nullptr;
  return g_focus;
}

void Win32ForEachWindow(void (*f)(HWND)) {
  std::vector<HWND> live;
  for (auto& [key, w] : g_windows)
    if (!w->destroying) live.push_back(w->handle);
  for (HWND h : live)
    if (Win32FindWindow(h)) f(h);
}

HWND Win32KeyboardWindow() {
  if (HWND f = Win32FocusWindow()) return f;
  // The map is ordered by handle value, which grows with creation order.
  for (auto it = g_windows.rbegin(); it != g_windows.rend(); ++it)
    if (!it->second->destroying) return it->second->handle;
  return nullptr;
}

SDL_Window* Win32SdlWindow(HWND window) {
  Win32Window* w = Win32FindWindow(window);
  return w ? w->sdl : nullptr;
}

bool Win32ClientSize(HWND window, int* width, int* height) {
  Win32Window* w = Win32FindWindow(window);
  if (!w) return false;
  if (width) *width = w->clientWidth;
  if (height) *height = w->clientHeight;
  return true;
}

// --- Classes -------------------------------------------------------------------------------------

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (!wc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return AddClass(wc->style, wc->lpfnWndProc, wc->lpszClassName);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return AddClass(wc->style, wc->lpfnWndProc, wc->lpszClassName);
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
  WindowClass* c = FindClass(name);
  if (!c) {
    SetLastError(kErrorClassDoesNotExist);
    return FALSE;
  }
  for (auto& [key, w] : g_windows) {
    if (strcasecmp(w->className.c_str(), c->name.c_str()) == 0) {
      SetLastError(kErrorClassHasWindows);
      return FALSE;
    }
  }
  g_classes.erase(g_classes.begin() + (c - g_classes.data()));
  return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // Only the predefined cursors exist; they all look like SDL's default cursor.
  if (instance == nullptr && name != nullptr && IsAtom(name))
    return reinterpret_cast<HCURSOR>(&g_predefinedCursor);
  return nullptr;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (instance == nullptr && name != nullptr && IsAtom(name))
    return reinterpret_cast<HICON>(&g_predefinedCursor);
  return nullptr;
}

// --- Windows -------------------------------------------------------------------------------------

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU, HINSTANCE, LPVOID) {
  WindowClass* c = FindClass(className);
  if (!c) {
    SetLastError(kErrorClassDoesNotExist);
    return nullptr;
  }
  if ((style & WS_CHILD) || (parent && !Win32FindWindow(parent))) {
    SetLastError(kErrorNotSupported);
    return nullptr;
  }
  if (!Win32EnsureVideo()) return nullptr;

  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = kDefaultOuterWidth;
    height = kDefaultOuterHeight;
  }
  RECT in = Win32FrameInsets(style, exStyle);
  auto w = std::make_unique<Win32Window>();
  w->proc = c->proc;
  w->classStyle = c->style;
  w->className = c->name;
  w->style = style & ~static_cast<DWORD>(WS_VISIBLE);
  w->exStyle = exStyle;
  w->outerX = x;
  w->outerY = y;
  w->clientWidth = static_cast<int>(
      std::clamp<int64_t>(int64_t{width} - in.left - in.right, 0, kWin32MaxClientExtent));
  w->clientHeight = static_cast<int>(
      std::clamp<int64_t>(int64_t{height} - in.top - in.bottom, 0, kWin32MaxClientExtent));

  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (!HasCaption(style)) flags |= SDL_WINDOW_BORDERLESS;
  if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
  if (exStyle & WS_EX_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  w->sdl = SDL_CreateWindow(title ? title : "", x + in.left, y + in.top,
                            std::max(1, w->clientWidth), std::max(1, w->clientHeight), flags);
  if (!w->sdl) return nullptr;
  w->sdlId = SDL_GetWindowID(w->sdl);
  w->serial = ++g_serial;
  w->handle = reinterpret_cast<HWND>(HandleValue(w->serial));
  HWND handle = w->handle;
  g_windows.emplace(reinterpret_cast<uintptr_t>(handle), std::move(w));
  if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
  return handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || w->destroying) {
    SetLastError(kErrorInvalidWindowHandle);
    return FALSE;
  }
  w->destroying = true;
  // The window is still a window while it hears of its destruction, as on Windows.
  CallProc(handle, WM_DESTROY, 0, 0);
  CallProc(handle, WM_NCDESTROY, 0, 0);
  w = Win32FindWindow(handle);
  if (w) {
    Win32SettlePresents();
    SDL_DestroyWindow(w->sdl);
    g_windows.erase(reinterpret_cast<uintptr_t>(handle));
  }
  if (g_focus == handle) g_focus = nullptr;
  Win32DropQueuedMessages(handle);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND handle) {
  return Win32FindWindow(handle) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND handle) {
  Win32Window* w = Win32FindWindow(handle);
  return w && w->visible ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND handle, int command) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w) return FALSE;
  BOOL wasVisible = w->visible ? TRUE : FALSE;
  switch (command) {
    case SW_HIDE:
      SDL_HideWindow(w->sdl);
      w->visible = false;
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      SDL_ShowWindow(w->sdl);
      SDL_MinimizeWindow(w->sdl);
      w->visible = true;
      break;
    case SW_SHOWMAXIMIZED:
      SDL_ShowWindow(w->sdl);
      SDL_MaximizeWindow(w->sdl);
      w->visible = true;
      break;
    case SW_RESTORE:
      SDL_ShowWindow(w->sdl);
      SDL_RestoreWindow(w->sdl);
      w->visible = true;
      break;
    case SW_SHOWNOACTIVATE:
    case SW_SHOWNA:
      SDL_ShowWindow(w->sdl);
      w->visible = true;
      break;
    default:
      // Showing activates the window, as on Windows.
      SDL_ShowWindow(w->sdl);
      SDL_RaiseWindow(w->sdl);
      w->visible = true;
      break;
  }
  return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND handle) {
  return IsWindow(handle);
}

LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_NCCREATE:
      return TRUE;
    case WM_ERASEBKGND:
      return 1;
    default:
      return 0;
  }
}

BOOL WINAPI SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return FALSE;
  }
  bool moved = false, sized = false;
  if (!(flags & SWP_NOMOVE) && (x != w->outerX || y != w->outerY)) {
    w->outerX = x;
    w->outerY = y;
    moved = true;
  }
  if (!(flags & SWP_NOSIZE)) {
    RECT in = Win32FrameInsets(w->style, w->exStyle);
    int cw = static_cast<int>(
        std::clamp<int64_t>(int64_t{cx} - in.left - in.right, 0, kWin32MaxClientExtent));
    int ch = static_cast<int>(
        std::clamp<int64_t>(int64_t{cy} - in.top - in.bottom, 0, kWin32MaxClientExtent));
    if (cw != w->clientWidth || ch != w->clientHeight) {
      w->clientWidth = cw;
      w->clientHeight = ch;
      sized = true;
    }
  }
  if (!(flags & SWP_NOZORDER)) {
    if (insertAfter == HWND_TOPMOST) {
      w->exStyle |= WS_EX_TOPMOST;
      SDL_SetWindowAlwaysOnTop(w->sdl, SDL_TRUE);
    } else if (insertAfter == HWND_NOTOPMOST) {
      w->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
      SDL_SetWindowAlwaysOnTop(w->sdl, SDL_FALSE);
    } else if (insertAfter == HWND_TOP && !(flags & SWP_NOACTIVATE)) {
      SDL_RaiseWindow(w->sdl);
    }
  }
  if (flags & SWP_FRAMECHANGED) ApplySdlStyle(w);
  if (moved || (flags & SWP_FRAMECHANGED)) PlaceSdlWindow(w);
  if (sized) ResizeSdlWindow(w);
  if (flags & SWP_SHOWWINDOW) ShowWindow(handle, SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(handle, SW_HIDE);
  // As on Windows, the window hears of the change before SetWindowPos returns.
  if (moved) {
    RECT in = Win32FrameInsets(w->style, w->exStyle);
    CallProc(handle, WM_MOVE, 0, MAKELPARAM(w->outerX + in.left, w->outerY + in.top));
  }
  if ((w = Win32FindWindow(handle)) && sized)
    CallProc(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->clientWidth, w->clientHeight));
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND handle, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(handle, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

LONG WINAPI GetWindowLongA(HWND handle, int index) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(w->style | (w->visible ? static_cast<DWORD>(WS_VISIBLE) : 0));
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->exStyle);
    case GWL_USERDATA:
      return w->userData;
    case GWL_ID:
      return w->controlId;
    default:
      // Pointers (GWL_WNDPROC, GWL_HINSTANCE) do not fit in a LONG on a 64-bit system.
      SetLastError(kErrorInvalidIndex);
      return 0;
  }
}

LONG WINAPI SetWindowLongA(HWND handle, int index, LONG value) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  SetLastError(0);
  LONG previous = 0;
  switch (index) {
    case GWL_STYLE: {
      previous = GetWindowLongA(handle, GWL_STYLE);
      DWORD style = static_cast<DWORD>(value);
      // The client area keeps its size and the outer left/top edges stay where they are.
      w->style = style & ~static_cast<DWORD>(WS_VISIBLE);
      ApplySdlStyle(w);
      PlaceSdlWindow(w);
      if ((style & WS_VISIBLE) && !w->visible) ShowWindow(handle, SW_SHOW);
      if (!(style & WS_VISIBLE) && w->visible) ShowWindow(handle, SW_HIDE);
      return previous;
    }
    case GWL_EXSTYLE:
      previous = static_cast<LONG>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      ApplySdlStyle(w);
      PlaceSdlWindow(w);
      return previous;
    case GWL_USERDATA:
      previous = w->userData;
      w->userData = value;
      return previous;
    case GWL_ID:
      previous = w->controlId;
      w->controlId = value;
      return previous;
    default:
      SetLastError(kErrorInvalidIndex);
      return 0;
  }
}

BOOL WINAPI GetWindowRect(HWND handle, LPRECT rect) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || !rect) return FALSE;
  RECT in = Win32FrameInsets(w->style, w->exStyle);
  rect->left = w->outerX;
  rect->top = w->outerY;
  rect->right = w->outerX + in.left + w->clientWidth + in.right;
  rect->bottom = w->outerY + in.top + w->clientHeight + in.bottom;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || !rect) return FALSE;
  *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND handle, LPPOINT point) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || !point) return FALSE;
  RECT in = Win32FrameInsets(w->style, w->exStyle);
  point->x += w->outerX + in.left;
  point->y += w->outerY + in.top;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND handle, LPPOINT point) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || !point) return FALSE;
  RECT in = Win32FrameInsets(w->style, w->exStyle);
  point->x -= w->outerX + in.left;
  point->y -= w->outerY + in.top;
  return TRUE;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
  if (!rect) return FALSE;
  RECT in = Win32FrameInsets(style, exStyle);
  rect->left -= in.left;
  rect->top -= in.top + (menu ? kMenuHeight : 0);
  rect->right += in.right;
  rect->bottom += in.bottom;
  return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
  return AdjustWindowRectEx(rect, style, menu, 0);
}

int WINAPI GetSystemMetrics(int index) {
  switch (index) {
    case SM_CYCAPTION:
      return kWin32CaptionHeight;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return kWin32Border;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return kWin32FixedFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return kWin32SizingFrame;
    default:
      break;
  }
  if (!Win32EnsureVideo()) return 0;
  SDL_Rect r{};
  switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CYFULLSCREEN:
      if (SDL_GetDisplayBounds(0, &r) != 0) return 0;
      if (index == SM_CXSCREEN || index == SM_CXFULLSCREEN) return r.w;
      return index == SM_CYSCREEN ? r.h : std::max(0, r.h - kWin32CaptionHeight);
    case SM_CXVIRTUALSCREEN:
    case SM_CYVIRTUALSCREEN: {
      int n = SDL_GetNumVideoDisplays();
      SDL_Rect all{};
      for (int i = 0; i < n; ++i) {
        if (SDL_GetDisplayBounds(i, &r) != 0) continue;
        if (all.w == 0)
          all = r;
        else
          SDL_UnionRect(&all, &r, &all);
      }
      return index == SM_CXVIRTUALSCREEN ? all.w : all.h;
    }
    case SM_CMONITORS:
      return std::max(0, SDL_GetNumVideoDisplays());
    default:
      return 0;
  }
}

BOOL WINAPI SetWindowTextA(HWND handle, LPCSTR text) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w) return FALSE;
  SDL_SetWindowTitle(w->sdl, text ? text : "");
  return TRUE;
}

int WINAPI GetWindowTextA(HWND handle, LPSTR buffer, int size) {
  Win32Window* w = Win32FindWindow(handle);
  if (!w || !buffer || size <= 0) return 0;
  const char* title = SDL_GetWindowTitle(w->sdl);
  size_t n = std::min(std::strlen(title), static_cast<size_t>(size - 1));
  std::memcpy(buffer, title, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HWND WINAPI GetForegroundWindow(void) {
  return Win32FocusWindow();
}

HWND WINAPI GetFocus(void) {
  return Win32FocusWindow();
}

HWND WINAPI SetFocus(HWND handle) {
  HWND previous = Win32FocusWindow();
  if (handle && !Win32FindWindow(handle)) return nullptr;
  if (handle == previous) return previous;
  if (previous) Win32PostMessage(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(handle), 0);
  Win32SetFocusWindow(handle);
  if (handle) {
    SDL_RaiseWindow(Win32FindWindow(handle)->sdl);
    Win32PostMessage(handle, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

BOOL WINAPI SetForegroundWindow(HWND handle) {
  if (!Win32FindWindow(handle)) return FALSE;
  HWND previous = Win32FocusWindow();
  if (previous != handle) {
    if (previous) Win32PostMessage(previous, WM_ACTIVATE, WA_INACTIVE, 0);
    Win32PostMessage(handle, WM_ACTIVATE, WA_ACTIVE, 0);
  }
  SetFocus(handle);
  return TRUE;
}

int WINAPI ShowCursor(BOOL show) {
  g_cursorCount += show ? 1 : -1;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(g_cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return g_cursorCount;
}
