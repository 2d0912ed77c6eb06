// The message queue: posted messages, SDL events turned into window messages, dispatch.
//
// PeekMessageA never waits. It takes posted messages first (in posting order), then turns the
// SDL events that are pending into messages appended to the queue.
//
// SDL_QUIT: SDL's quit-on-last-window-close is switched off (Win32EnsureVideo), so the close box
// reaches a window only as its own SDL_WINDOWEVENT_CLOSE and SDL_QUIT means a termination
// request from outside (SIGINT or SIGTERM through SDL's signal handlers). It becomes a WM_CLOSE
// of every live window, so the program ends through its ordinary close path.
#include <algorithm>
#include <cctype>
#include <deque>

#include "win32/win32_internal.h"
#include "win32/win32_keys.h"
#include "win32/win32_windows.h"
#include "windows.h"

namespace {

std::deque<MSG> g_queue;
bool g_quitPosted = false;
int g_quitCode = 0;
POINT g_cursor{};  // last known cursor position on the screen

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  m.pt = g_cursor;
  return m;
}

bool Matches(const MSG& m, HWND filter, UINT first, UINT last) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (m.hwnd != nullptr) return false;
  } else if (filter != nullptr && m.hwnd != filter) {
    return false;
  }
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

WPARAM MouseKeyFlags(Uint32 buttons) {
  WPARAM flags = 0;
  if (buttons & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
  if (buttons & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
  if (buttons & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
  if (buttons & SDL_BUTTON_X1MASK) flags |= MK_XBUTTON1;
  if (buttons & SDL_BUTTON_X2MASK) flags |= MK_XBUTTON2;
  SDL_Keymod mods = SDL_GetModState();
  if ((mods & KMOD_SHIFT) || Win32AutomationKeyHeld(0x2A) || Win32AutomationKeyHeld(0x36))
    flags |= MK_SHIFT;
  if ((mods & KMOD_CTRL) || Win32AutomationKeyHeld(0x1D) || Win32AutomationKeyHeld(0x9D))
    flags |= MK_CONTROL;
  return flags;
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  g_queue.push_back(MakeMessage(hwnd, message, wParam, lParam));
}

// Posts a notice that only matters in its latest form: like Windows, a mouse move, window move
// or resize directly behind one of the same kind for the same window replaces it, and a window
// has at most one WM_PAINT waiting. A program that takes one message per frame then never falls
// behind a moving mouse.
void PostLatest(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    for (const MSG& m : g_queue)
      if (m.hwnd == hwnd && m.message == WM_PAINT) return;
  } else if (!g_queue.empty() && g_queue.back().hwnd == hwnd && g_queue.back().message == message) {
    g_queue.back() = MakeMessage(hwnd, message, wParam, lParam);
    return;
  }
  Post(hwnd, message, wParam, lParam);
}

// The window an input event belongs to: its own window, else the keyboard window.
Win32Window* InputWindow(Uint32 sdlId) {
  if (Win32Window* w = Win32FindSdlWindow(sdlId)) return w;
  return Win32FindWindow(Win32KeyboardWindow());
}

void NoteCursor(Win32Window* w, int clientX, int clientY) {
  POINT p{clientX, clientY};
  ClientToScreen(w->handle, &p);
  g_cursor = p;
}

void ConvertWindowEvent(const SDL_WindowEvent& e) {
  Win32Window* w = Win32FindSdlWindow(e.windowID);
  if (!w) return;
  HWND h = w->handle;
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
      Post(h, WM_CLOSE, 0, 0);
      break;
    case SDL_WINDOWEVENT_MOVED:
      if (Win32NoteClientPosition(w, e.data1, e.data2))
        PostLatest(h, WM_MOVE, 0, MAKELPARAM(e.data1, e.data2));
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (Win32NoteClientSize(w, e.data1, e.data2))
        PostLatest(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(e.data1, e.data2));
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      Post(h, WM_SIZE, SIZE_MINIMIZED, 0);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      Post(h, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(w->clientWidth, w->clientHeight));
      break;
    case SDL_WINDOWEVENT_RESTORED:
      Post(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->clientWidth, w->clientHeight));
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (Win32FocusWindow() != h) {
        Win32SetFocusWindow(h);
        Post(h, WM_ACTIVATE, WA_ACTIVE, 0);
        Post(h, WM_SETFOCUS, 0, 0);
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (Win32FocusWindow() == h) {
        Win32SetFocusWindow(nullptr);
        Post(h, WM_ACTIVATE, WA_INACTIVE, 0);
        Post(h, WM_KILLFOCUS, 0, 0);
      }
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      PostLatest(h, WM_PAINT, 0, 0);
      break;
    case SDL_WINDOWEVENT_SHOWN:
      w->visible = true;
      Post(h, WM_SHOWWINDOW, TRUE, 0);
      break;
    case SDL_WINDOWEVENT_HIDDEN:
      w->visible = false;
      Post(h, WM_SHOWWINDOW, FALSE, 0);
      break;
    default:
      break;
  }
}

void ConvertKeyEvent(const SDL_KeyboardEvent& e) {
  Win32Window* w = InputWindow(e.windowID);
  if (!w) return;
  bool down = e.type == SDL_KEYDOWN;
  int dik = Win32DikFromSdlScancode(e.keysym.scancode);
  int vk = Win32VkFromDik(dik);
  // Letters and digits follow the active layout.
  SDL_Keycode sym = e.keysym.sym;
  if (sym >= 'a' && sym <= 'z') vk = static_cast<int>(sym - 'a' + 'A');
  if (vk == 0) return;
  bool alt = (e.keysym.mod & KMOD_ALT) != 0;
  bool ctrl = (e.keysym.mod & KMOD_CTRL) != 0;
  bool system = (alt && !ctrl) || vk == VK_F10;
  UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  Post(w->handle, message, static_cast<WPARAM>(vk), Win32KeyLParam(dik, down, e.repeat != 0, alt));
}

void ConvertMouseButton(const SDL_MouseButtonEvent& e) {
  Win32Window* w = InputWindow(e.windowID);
  if (!w) return;
  bool down = e.type == SDL_MOUSEBUTTONDOWN;
  bool dbl = down && e.clicks == 2 && (w->classStyle & CS_DBLCLKS);
  UINT message = 0;
  WPARAM extra = 0;
  switch (e.button) {
    case SDL_BUTTON_LEFT:
      message = dbl ? WM_LBUTTONDBLCLK : down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
      break;
    case SDL_BUTTON_RIGHT:
      message = dbl ? WM_RBUTTONDBLCLK : down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
      break;
    case SDL_BUTTON_MIDDLE:
      message = dbl ? WM_MBUTTONDBLCLK : down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
      break;
    case SDL_BUTTON_X1:
    case SDL_BUTTON_X2:
      message = down ? WM_XBUTTONDOWN : WM_XBUTTONUP;
      extra = static_cast<WPARAM>(e.button == SDL_BUTTON_X1 ? XBUTTON1 : XBUTTON2) << 16;
      break;
    default:
      return;
  }
  NoteCursor(w, e.x, e.y);
  Post(w->handle, message, MouseKeyFlags(SDL_GetMouseState(nullptr, nullptr)) | extra,
       MAKELPARAM(e.x, e.y));
}

void ConvertSdlEvent(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT:
      ConvertWindowEvent(e.window);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      ConvertKeyEvent(e.key);
      break;
    case SDL_MOUSEMOTION: {
      Win32Window* w = InputWindow(e.motion.windowID);
      if (!w) break;
      NoteCursor(w, e.motion.x, e.motion.y);
      PostLatest(w->handle, WM_MOUSEMOVE, MouseKeyFlags(e.motion.state),
                 MAKELPARAM(e.motion.x, e.motion.y));
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      ConvertMouseButton(e.button);
      break;
    case SDL_MOUSEWHEEL: {
      Win32Window* w = InputWindow(e.wheel.windowID);
      if (!w) break;
      int sign = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
      WPARAM keys = MouseKeyFlags(SDL_GetMouseState(nullptr, nullptr));
      // Wheel messages carry the cursor in screen coordinates.
      LPARAM where = MAKELPARAM(g_cursor.x, g_cursor.y);
      if (e.wheel.y != 0) {
        int delta = sign * e.wheel.y * WHEEL_DELTA;
        Post(w->handle, WM_MOUSEWHEEL, keys | (static_cast<WPARAM>(static_cast<WORD>(delta)) << 16),
             where);
      }
      if (e.wheel.x != 0) {
        int delta = sign * e.wheel.x * WHEEL_DELTA;
        Post(w->handle, WM_MOUSEHWHEEL,
             keys | (static_cast<WPARAM>(static_cast<WORD>(delta)) << 16), where);
      }
      break;
    }
    case SDL_QUIT:
      Win32ForEachWindow([](HWND h) { Post(h, WM_CLOSE, 0, 0); });
      break;
    default:
      break;
  }
}

void (*g_pumpHook)() = nullptr;
void (*g_settleHook)() = nullptr;

void PumpSdlEvents() {
  if (g_pumpHook) g_pumpHook();
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
  SDL_PumpEvents();
  SDL_Event e;
  while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) ConvertSdlEvent(e);
}

bool TakeQueued(LPMSG out, HWND filter, UINT first, UINT last, UINT remove) {
  for (auto it = g_queue.begin(); it != g_queue.end(); ++it) {
    if (!Matches(*it, filter, first, last)) continue;
    *out = *it;
    if (remove & PM_REMOVE) g_queue.erase(it);
    return true;
  }
  return false;
}

// The character a key-down of virtual key vk types on a US layout, 0 if none.
int CharacterOf(int vk, bool shift, bool caps, bool ctrl) {
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl) return vk - 'A' + 1;
    return (shift != caps) ? vk : std::tolower(vk);
  }
  if (ctrl) return 0;
  if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : vk;
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return '0' + (vk - VK_NUMPAD0);
  switch (vk) {
    case VK_SPACE:
      return ' ';
    case VK_RETURN:
      return '\r';
    case VK_ESCAPE:
      return 0x1B;
    case VK_BACK:
      return '\b';
    case VK_TAB:
      return '\t';
    case VK_MULTIPLY:
      return '*';
    case VK_ADD:
      return '+';
    case VK_SUBTRACT:
      return '-';
    case VK_DECIMAL:
      return '.';
    case VK_DIVIDE:
      return '/';
    case VK_OEM_1:
      return shift ? ':' : ';';
    case VK_OEM_PLUS:
      return shift ? '+' : '=';
    case VK_OEM_COMMA:
      return shift ? '<' : ',';
    case VK_OEM_MINUS:
      return shift ? '_' : '-';
    case VK_OEM_PERIOD:
      return shift ? '>' : '.';
    case VK_OEM_2:
      return shift ? '?' : '/';
    case VK_OEM_3:
      return shift ? '~' : '`';
    case VK_OEM_4:
      return shift ? '{' : '[';
    case VK_OEM_5:
      return shift ? '|' : '\\';
    case VK_OEM_6:
      return shift ? '}' : ']';
    case VK_OEM_7:
      return shift ? '"' : '\'';
    default:
      return 0;
  }
}

}  // namespace

bool Win32PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Win32FindWindow(window)) return false;
  Post(window, message, wParam, lParam);
  return true;
}

void Win32SetPresentHooks(void (*pump)(), void (*settle)()) {
  g_pumpHook = pump;
  g_settleHook = settle;
}

void Win32SettlePresents() {
  if (g_settleHook) g_settleHook();
}

void Win32DropQueuedMessages(HWND handle) {
  g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(),
                               [handle](const MSG& m) { return m.hwnd == handle; }),
                g_queue.end());
}

BOOL WINAPI PeekMessageA(LPMSG out, HWND window, UINT first, UINT last, UINT remove) {
  if (!out) return FALSE;
  if (TakeQueued(out, window, first, last, remove)) return TRUE;
  PumpSdlEvents();
  if (TakeQueued(out, window, first, last, remove)) return TRUE;
  // WM_QUIT comes when nothing else is left, as on Windows.
  if (g_quitPosted && (window == nullptr || window == reinterpret_cast<HWND>(-1)) &&
      ((first == 0 && last == 0) || (WM_QUIT >= first && WM_QUIT <= last))) {
    *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(g_quitCode), 0);
    if (remove & PM_REMOVE) g_quitPosted = false;
    return TRUE;
  }
  return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) {
    return msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
  }
  SDL_Keymod mods = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetModState() : KMOD_NONE;
  bool shift = (mods & KMOD_SHIFT) || Win32AutomationKeyHeld(0x2A) || Win32AutomationKeyHeld(0x36);
  bool ctrl = (mods & KMOD_CTRL) || Win32AutomationKeyHeld(0x1D) || Win32AutomationKeyHeld(0x9D);
  bool caps = (mods & KMOD_CAPS) != 0;
  int ch = CharacterOf(static_cast<int>(msg->wParam), shift, caps, ctrl);
  if (ch != 0 && Win32FindWindow(msg->hwnd)) {
    // The character is the next message the window sees.
    UINT message = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    g_queue.push_front(MakeMessage(msg->hwnd, message, static_cast<WPARAM>(ch), msg->lParam));
  }
  return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  Win32Window* w = Win32FindWindow(msg->hwnd);
  if (!w || !w->proc) return 0;
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

int WINAPI TranslateAcceleratorA(HWND, HACCEL, LPMSG) {
  // There are no accelerator tables: nothing is ever translated.
  return 0;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window == nullptr) {
    Post(nullptr, message, wParam, lParam);  // a thread message
    return TRUE;
  }
  return Win32PostMessage(window, message, wParam, lParam) ? TRUE : FALSE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Window* w = Win32FindWindow(window);
  if (!w || !w->proc) return 0;
  return w->proc(window, message, wParam, lParam);
}

void WINAPI PostQuitMessage(int code) {
  g_quitPosted = true;
  g_quitCode = code;
}
