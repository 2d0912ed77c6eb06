// Key codes between SDL scancodes, DirectInput scan codes and virtual keys, and the automation
// of held keys (seen by the DirectInput keyboard and, as key messages, by the message queue).
#include "win32/win32_keys.h"

#include <array>

#include "automation.h"
#include "dinput.h"
#include "win32/win32_internal.h"

namespace {

struct KeyCodes {
  SDL_Scancode sdl;
  int dik;
  int vk;
};

// One row per physical key. DirectInput scan codes are set-1 scan codes, with 0x80 standing for
// the 0xE0 prefix of extended keys. Virtual keys follow the US layout.
constexpr KeyCodes kKeys[] = {
    {SDL_SCANCODE_ESCAPE, DIK_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_1, DIK_1, '1'},
    {SDL_SCANCODE_2, DIK_2, '2'},
    {SDL_SCANCODE_3, DIK_3, '3'},
    {SDL_SCANCODE_4, DIK_4, '4'},
    {SDL_SCANCODE_5, DIK_5, '5'},
    {SDL_SCANCODE_6, DIK_6, '6'},
    {SDL_SCANCODE_7, DIK_7, '7'},
    {SDL_SCANCODE_8, DIK_8, '8'},
    {SDL_SCANCODE_9, DIK_9, '9'},
    {SDL_SCANCODE_0, DIK_0, '0'},
    {SDL_SCANCODE_MINUS, DIK_MINUS, VK_OEM_MINUS},
    {SDL_SCANCODE_EQUALS, DIK_EQUALS, VK_OEM_PLUS},
    {SDL_SCANCODE_BACKSPACE, DIK_BACK, VK_BACK},
    {SDL_SCANCODE_TAB, DIK_TAB, VK_TAB},
    {SDL_SCANCODE_Q, DIK_Q, 'Q'},
    {SDL_SCANCODE_W, DIK_W, 'W'},
    {SDL_SCANCODE_E, DIK_E, 'E'},
    {SDL_SCANCODE_R, DIK_R, 'R'},
    {SDL_SCANCODE_T, DIK_T, 'T'},
    {SDL_SCANCODE_Y, DIK_Y, 'Y'},
    {SDL_SCANCODE_U, DIK_U, 'U'},
    {SDL_SCANCODE_I, DIK_I, 'I'},
    {SDL_SCANCODE_O, DIK_O, 'O'},
    {SDL_SCANCODE_P, DIK_P, 'P'},
    {SDL_SCANCODE_LEFTBRACKET, DIK_LBRACKET, VK_OEM_4},
    {SDL_SCANCODE_RIGHTBRACKET, DIK_RBRACKET, VK_OEM_6},
    {SDL_SCANCODE_RETURN, DIK_RETURN, VK_RETURN},
    {SDL_SCANCODE_LCTRL, DIK_LCONTROL, VK_CONTROL},
    {SDL_SCANCODE_A, DIK_A, 'A'},
    {SDL_SCANCODE_S, DIK_S, 'S'},
    {SDL_SCANCODE_D, DIK_D, 'D'},
    {SDL_SCANCODE_F, DIK_F, 'F'},
    {SDL_SCANCODE_G, DIK_G, 'G'},
    {SDL_SCANCODE_H, DIK_H, 'H'},
    {SDL_SCANCODE_J, DIK_J, 'J'},
    {SDL_SCANCODE_K, DIK_K, 'K'},
    {SDL_SCANCODE_L, DIK_L, 'L'},
    {SDL_SCANCODE_SEMICOLON, DIK_SEMICOLON, VK_OEM_1},
    {SDL_SCANCODE_APOSTROPHE, DIK_APOSTROPHE, VK_OEM_7},
    {SDL_SCANCODE_GRAVE, DIK_GRAVE, VK_OEM_3},
    {SDL_SCANCODE_LSHIFT, DIK_LSHIFT, VK_SHIFT},
    {SDL_SCANCODE_BACKSLASH, DIK_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_NONUSHASH, DIK_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_Z, DIK_Z, 'Z'},
    {SDL_SCANCODE_X, DIK_X, 'X'},
    {SDL_SCANCODE_C, DIK_C, 'C'},
    {SDL_SCANCODE_V, DIK_V, 'V'},
    {SDL_SCANCODE_B, DIK_B, 'B'},
    {SDL_SCANCODE_N, DIK_N, 'N'},
    {SDL_SCANCODE_M, DIK_M, 'M'},
    {SDL_SCANCODE_COMMA, DIK_COMMA, VK_OEM_COMMA},
    {SDL_SCANCODE_PERIOD, DIK_PERIOD, VK_OEM_PERIOD},
    {SDL_SCANCODE_SLASH, DIK_SLASH, VK_OEM_2},
    {SDL_SCANCODE_RSHIFT, DIK_RSHIFT, VK_SHIFT},
    {SDL_SCANCODE_KP_MULTIPLY, DIK_MULTIPLY, VK_MULTIPLY},
    {SDL_SCANCODE_LALT, DIK_LMENU, VK_MENU},
    {SDL_SCANCODE_SPACE, DIK_SPACE, VK_SPACE},
    {SDL_SCANCODE_CAPSLOCK, DIK_CAPITAL, VK_CAPITAL},
    {SDL_SCANCODE_F1, DIK_F1, VK_F1},
    {SDL_SCANCODE_F2, DIK_F2, VK_F2},
    {SDL_SCANCODE_F3, DIK_F3, VK_F3},
    {SDL_SCANCODE_F4, DIK_F4, VK_F4},
    {SDL_SCANCODE_F5, DIK_F5, VK_F5},
    {SDL_SCANCODE_F6, DIK_F6, VK_F6},
    {SDL_SCANCODE_F7, DIK_F7, VK_F7},
    {SDL_SCANCODE_F8, DIK_F8, VK_F8},
    {SDL_SCANCODE_F9, DIK_F9, VK_F9},
    {SDL_SCANCODE_F10, DIK_F10, VK_F10},
    {SDL_SCANCODE_NUMLOCKCLEAR, DIK_NUMLOCK, VK_NUMLOCK},
    {SDL_SCANCODE_SCROLLLOCK, DIK_SCROLL, VK_SCROLL},
    {SDL_SCANCODE_KP_7, DIK_NUMPAD7, VK_NUMPAD7},
    {SDL_SCANCODE_KP_8, DIK_NUMPAD8, VK_NUMPAD8},
    {SDL_SCANCODE_KP_9, DIK_NUMPAD9, VK_NUMPAD9},
    {SDL_SCANCODE_KP_MINUS, DIK_SUBTRACT, VK_SUBTRACT},
    {SDL_SCANCODE_KP_4, DIK_NUMPAD4, VK_NUMPAD4},
    {SDL_SCANCODE_KP_5, DIK_NUMPAD5, VK_NUMPAD5},
    {SDL_SCANCODE_KP_6, DIK_NUMPAD6, VK_NUMPAD6},
    {SDL_SCANCODE_KP_PLUS, DIK_ADD, VK_ADD},
    {SDL_SCANCODE_KP_1, DIK_NUMPAD1, VK_NUMPAD1},
    {SDL_SCANCODE_KP_2, DIK_NUMPAD2, VK_NUMPAD2},
    {SDL_SCANCODE_KP_3, DIK_NUMPAD3, VK_NUMPAD3},
    {SDL_SCANCODE_KP_0, DIK_NUMPAD0, VK_NUMPAD0},
    {SDL_SCANCODE_KP_PERIOD, DIK_DECIMAL, VK_DECIMAL},
    {SDL_SCANCODE_NONUSBACKSLASH, DIK_OEM_102, VK_OEM_102},
    {SDL_SCANCODE_F11, DIK_F11, VK_F11},
    {SDL_SCANCODE_F12, DIK_F12, VK_F12},
    {SDL_SCANCODE_F13, DIK_F13, VK_F13},
    {SDL_SCANCODE_F14, DIK_F14, VK_F14},
    {SDL_SCANCODE_F15, DIK_F15, VK_F15},
    {SDL_SCANCODE_INTERNATIONAL2, DIK_KANA, VK_KANA},
    {SDL_SCANCODE_INTERNATIONAL1, DIK_ABNT_C1, 0xC1},
    {SDL_SCANCODE_INTERNATIONAL4, DIK_CONVERT, VK_CONVERT},
    {SDL_SCANCODE_INTERNATIONAL5, DIK_NOCONVERT, VK_NONCONVERT},
    {SDL_SCANCODE_INTERNATIONAL3, DIK_YEN, 0},
    {SDL_SCANCODE_KP_EQUALS, DIK_NUMPADEQUALS, 0},
    {SDL_SCANCODE_AUDIOPREV, DIK_PREVTRACK, VK_MEDIA_PREV_TRACK},
    {SDL_SCANCODE_LANG2, DIK_KANJI, VK_KANJI},
    {SDL_SCANCODE_STOP, DIK_STOP, 0},
    {SDL_SCANCODE_AUDIONEXT, DIK_NEXTTRACK, VK_MEDIA_NEXT_TRACK},
    {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER, VK_RETURN},
    {SDL_SCANCODE_RCTRL, DIK_RCONTROL, VK_CONTROL},
    {SDL_SCANCODE_MUTE, DIK_MUTE, VK_VOLUME_MUTE},
    {SDL_SCANCODE_AUDIOMUTE, DIK_MUTE, VK_VOLUME_MUTE},
    {SDL_SCANCODE_CALCULATOR, DIK_CALCULATOR, VK_LAUNCH_APP2},
    {SDL_SCANCODE_AUDIOPLAY, DIK_PLAYPAUSE, VK_MEDIA_PLAY_PAUSE},
    {SDL_SCANCODE_AUDIOSTOP, DIK_MEDIASTOP, VK_MEDIA_STOP},
    {SDL_SCANCODE_VOLUMEDOWN, DIK_VOLUMEDOWN, VK_VOLUME_DOWN},
    {SDL_SCANCODE_VOLUMEUP, DIK_VOLUMEUP, VK_VOLUME_UP},
    {SDL_SCANCODE_AC_HOME, DIK_WEBHOME, VK_BROWSER_HOME},
    {SDL_SCANCODE_KP_COMMA, DIK_NUMPADCOMMA, VK_SEPARATOR},
    {SDL_SCANCODE_KP_DIVIDE, DIK_DIVIDE, VK_DIVIDE},
    {SDL_SCANCODE_PRINTSCREEN, DIK_SYSRQ, VK_SNAPSHOT},
    {SDL_SCANCODE_RALT, DIK_RMENU, VK_MENU},
    {SDL_SCANCODE_PAUSE, DIK_PAUSE, VK_PAUSE},
    {SDL_SCANCODE_HOME, DIK_HOME, VK_HOME},
    {SDL_SCANCODE_UP, DIK_UP, VK_UP},
    {SDL_SCANCODE_PAGEUP, DIK_PRIOR, VK_PRIOR},
    {SDL_SCANCODE_LEFT, DIK_LEFT, VK_LEFT},
    {SDL_SCANCODE_RIGHT, DIK_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_END, DIK_END, VK_END},
    {SDL_SCANCODE_DOWN, DIK_DOWN, VK_DOWN},
    {SDL_SCANCODE_PAGEDOWN, DIK_NEXT, VK_NEXT},
    {SDL_SCANCODE_INSERT, DIK_INSERT, VK_INSERT},
    {SDL_SCANCODE_DELETE, DIK_DELETE, VK_DELETE},
    {SDL_SCANCODE_LGUI, DIK_LWIN, VK_LWIN},
    {SDL_SCANCODE_RGUI, DIK_RWIN, VK_RWIN},
    {SDL_SCANCODE_APPLICATION, DIK_APPS, VK_APPS},
    {SDL_SCANCODE_POWER, DIK_POWER, 0},
    {SDL_SCANCODE_SLEEP, DIK_SLEEP, VK_SLEEP},
    {SDL_SCANCODE_AC_SEARCH, DIK_WEBSEARCH, VK_BROWSER_SEARCH},
    {SDL_SCANCODE_AC_BOOKMARKS, DIK_WEBFAVORITES, VK_BROWSER_FAVORITES},
    {SDL_SCANCODE_AC_REFRESH, DIK_WEBREFRESH, VK_BROWSER_REFRESH},
    {SDL_SCANCODE_AC_STOP, DIK_WEBSTOP, VK_BROWSER_STOP},
    {SDL_SCANCODE_AC_FORWARD, DIK_WEBFORWARD, VK_BROWSER_FORWARD},
    {SDL_SCANCODE_AC_BACK, DIK_WEBBACK, VK_BROWSER_BACK},
    {SDL_SCANCODE_COMPUTER, DIK_MYCOMPUTER, VK_LAUNCH_APP1},
    {SDL_SCANCODE_MAIL, DIK_MAIL, VK_LAUNCH_MAIL},
    {SDL_SCANCODE_MEDIASELECT, DIK_MEDIASELECT, VK_LAUNCH_MEDIA_SELECT},
};

struct Tables {
  std::array<uint8_t, SDL_NUM_SCANCODES> dikOfSdl{};
  std::array<SDL_Scancode, 256> sdlOfDik{};
  std::array<uint8_t, 256> vkOfDik{};
  Tables() {
    sdlOfDik.fill(SDL_SCANCODE_UNKNOWN);
    for (const KeyCodes& k : kKeys) {
      dikOfSdl[k.sdl] = static_cast<uint8_t>(k.dik);
      // The first row of a shared scan code is its primary SDL key.
      if (sdlOfDik[k.dik] == SDL_SCANCODE_UNKNOWN) sdlOfDik[k.dik] = k.sdl;
      if (vkOfDik[k.dik] == 0) vkOfDik[k.dik] = static_cast<uint8_t>(k.vk);
    }
  }
};

const Tables& KeyTables() {
  static const Tables tables;
  return tables;
}

std::array<bool, 256> g_held{};

bool AltHeld() {
  SDL_Keymod mods = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetModState() : KMOD_NONE;
  return (mods & KMOD_ALT) || g_held[DIK_LMENU] || g_held[DIK_RMENU];
}

bool CtrlHeld() {
  SDL_Keymod mods = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetModState() : KMOD_NONE;
  return (mods & KMOD_CTRL) || g_held[DIK_LCONTROL] || g_held[DIK_RCONTROL];
}

// Posts the key message automation makes for a key change, to the keyboard window.
void PostAutomationKey(int dik, bool down, bool wasDown) {
  HWND target = Win32KeyboardWindow();
  if (!target) return;
  int vk = Win32VkFromDik(dik);
  // Alt turns key messages into system key messages, as F10 always is; Ctrl+Alt is AltGr.
  bool alt = AltHeld();
  bool system = (alt && !CtrlHeld()) || vk == VK_F10;
  UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  Win32PostMessage(target, message, static_cast<WPARAM>(vk),
                   Win32KeyLParam(dik, down, wasDown, alt));
}

}  // namespace

int Win32DikFromSdlScancode(SDL_Scancode scancode) {
  if (scancode <= SDL_SCANCODE_UNKNOWN || scancode >= SDL_NUM_SCANCODES) return 0;
  return KeyTables().dikOfSdl[scancode];
}

SDL_Scancode Win32SdlScancodeFromDik(int dik) {
  if (dik < 0 || dik > 255) return SDL_SCANCODE_UNKNOWN;
  return KeyTables().sdlOfDik[dik];
}

int Win32VkFromDik(int dik) {
  if (dik < 0 || dik > 255) return 0;
  return KeyTables().vkOfDik[dik];
}

LPARAM Win32KeyLParam(int dik, bool down, bool wasDown, bool altHeld) {
  uint32_t bits = 1u;
  bits |= static_cast<uint32_t>(dik & 0x7F) << 16;
  if (dik & 0x80) bits |= 1u << 24;
  if (altHeld) bits |= 1u << 29;
  if (wasDown || !down) bits |= 1u << 30;
  if (!down) bits |= 1u << 31;
  return static_cast<LPARAM>(bits);
}

void Win32AutomationKeyState(uint8_t state[256]) {
  for (int i = 0; i < 256; ++i) state[i] = g_held[i] ? 0x80 : 0;
}

bool Win32AutomationKeyHeld(int dik) {
  return dik >= 0 && dik < 256 && g_held[dik];
}

// --- Automation ----------------------------------------------------------------------------------

void AutomationSetKey(int dik, bool down) {
  // Scan code 0 is no key; anything outside a byte is not a scan code.
  if (dik <= 0 || dik > 255) return;
  bool wasDown = g_held[dik];
  if (!down && !wasDown) return;
  g_held[dik] = down;
  // Holding a held key again is an auto-repeat: another key-down with the previous-state bit.
  PostAutomationKey(dik, down, wasDown);
}

void AutomationReleaseAllKeys() {
  for (int dik = 1; dik < 256; ++dik)
    if (g_held[dik]) AutomationSetKey(dik, false);
}

void AutomationPostClose(HWND window) {
  Win32PostMessage(window, WM_CLOSE, 0, 0);
}
