// Key codes between SDL scancodes, DirectInput scan codes and virtual keys.
#include <gtest/gtest.h>

#include <SDL.h>

#include "dinput.h"
#include "platform/win32/win32_keys.h"
#include "windows.h"

namespace {

struct Key {
  SDL_Scancode sdl;
  int dik;
  int vk;
};

// Keys whose codes are fixed by DirectInput's and Win32's documentation.
constexpr Key kDocumented[] = {
    {SDL_SCANCODE_ESCAPE, 0x01, VK_ESCAPE},
    {SDL_SCANCODE_SPACE, 0x39, VK_SPACE},
    {SDL_SCANCODE_1, 0x02, '1'},
    {SDL_SCANCODE_0, 0x0B, '0'},
    {SDL_SCANCODE_Q, 0x10, 'Q'},
    {SDL_SCANCODE_A, 0x1E, 'A'},
    {SDL_SCANCODE_Z, 0x2C, 'Z'},
    {SDL_SCANCODE_M, 0x32, 'M'},
    {SDL_SCANCODE_RETURN, 0x1C, VK_RETURN},
    {SDL_SCANCODE_BACKSPACE, 0x0E, VK_BACK},
    {SDL_SCANCODE_TAB, 0x0F, VK_TAB},
    {SDL_SCANCODE_F1, 0x3B, VK_F1},
    {SDL_SCANCODE_F10, 0x44, VK_F10},
    {SDL_SCANCODE_F11, 0x57, VK_F11},
    {SDL_SCANCODE_F12, 0x58, VK_F12},
    {SDL_SCANCODE_LSHIFT, 0x2A, VK_SHIFT},
    {SDL_SCANCODE_RSHIFT, 0x36, VK_SHIFT},
    {SDL_SCANCODE_LCTRL, 0x1D, VK_CONTROL},
    {SDL_SCANCODE_RCTRL, 0x9D, VK_CONTROL},
    {SDL_SCANCODE_LALT, 0x38, VK_MENU},
    {SDL_SCANCODE_RALT, 0xB8, VK_MENU},
    {SDL_SCANCODE_UP, 0xC8, VK_UP},
    {SDL_SCANCODE_DOWN, 0xD0, VK_DOWN},
    {SDL_SCANCODE_LEFT, 0xCB, VK_LEFT},
    {SDL_SCANCODE_RIGHT, 0xCD, VK_RIGHT},
    {SDL_SCANCODE_HOME, 0xC7, VK_HOME},
    {SDL_SCANCODE_PAGEDOWN, 0xD1, VK_NEXT},
    {SDL_SCANCODE_DELETE, 0xD3, VK_DELETE},
    {SDL_SCANCODE_KP_0, 0x52, VK_NUMPAD0},
    {SDL_SCANCODE_KP_7, 0x47, VK_NUMPAD7},
    {SDL_SCANCODE_KP_ENTER, 0x9C, VK_RETURN},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5, VK_DIVIDE},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37, VK_MULTIPLY},
    {SDL_SCANCODE_CAPSLOCK, 0x3A, VK_CAPITAL},
    {SDL_SCANCODE_GRAVE, 0x29, VK_OEM_3},
    {SDL_SCANCODE_LGUI, 0xDB, VK_LWIN},
};

TEST(Win32Keys, DocumentedKeysHaveTheirCodes) {
  for (const Key& k : kDocumented) {
    SCOPED_TRACE(SDL_GetScancodeName(k.sdl));
    EXPECT_EQ(Win32DikFromSdlScancode(k.sdl), k.dik);
    EXPECT_EQ(Win32SdlScancodeFromDik(k.dik), k.sdl);
    EXPECT_EQ(Win32VkFromDik(k.dik), k.vk);
  }
}

TEST(Win32Keys, EveryLetterDigitAndFunctionKeyIsMapped) {
  for (int i = 0; i < 26; ++i) {
    auto sc = static_cast<SDL_Scancode>(SDL_SCANCODE_A + i);
    int dik = Win32DikFromSdlScancode(sc);
    ASSERT_NE(dik, 0) << char('A' + i);
    EXPECT_EQ(Win32VkFromDik(dik), 'A' + i);
  }
  for (int i = 0; i < 10; ++i) {
    auto sc = static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i);
    EXPECT_EQ(Win32DikFromSdlScancode(sc), DIK_1 + i);  // 1..9 then 0, in key order
  }
  for (int i = 0; i < 12; ++i) {
    int dik = Win32DikFromSdlScancode(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i));
    ASSERT_NE(dik, 0) << "F" << i + 1;
    EXPECT_EQ(Win32VkFromDik(dik), VK_F1 + i);
  }
  for (int i = 0; i < 9; ++i) {
    int dik = Win32DikFromSdlScancode(static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + i));
    ASSERT_NE(dik, 0) << "keypad " << i + 1;
    EXPECT_EQ(Win32VkFromDik(dik), VK_NUMPAD1 + i);
  }
}

TEST(Win32Keys, ScanCodesRoundTripAndDistinctKeysStayDistinct) {
  int mapped = 0;
  for (int dik = 0; dik < 256; ++dik) {
    SDL_Scancode sc = Win32SdlScancodeFromDik(dik);
    if (sc == SDL_SCANCODE_UNKNOWN) continue;
    ++mapped;
    EXPECT_EQ(Win32DikFromSdlScancode(sc), dik) << dik;
  }
  EXPECT_GE(mapped, 100);  // a full keyboard, not a handful of keys
  EXPECT_EQ(Win32DikFromSdlScancode(SDL_SCANCODE_UNKNOWN), 0);
  EXPECT_EQ(Win32DikFromSdlScancode(static_cast<SDL_Scancode>(SDL_NUM_SCANCODES)), 0);
  EXPECT_EQ(Win32SdlScancodeFromDik(-1), SDL_SCANCODE_UNKNOWN);
  EXPECT_EQ(Win32SdlScancodeFromDik(256), SDL_SCANCODE_UNKNOWN);
  EXPECT_EQ(Win32VkFromDik(1000), 0);
}

TEST(Win32Keys, KeyMessageParameterBits) {
  const uint32_t down = static_cast<uint32_t>(Win32KeyLParam(DIK_SPACE, true, false, false));
  EXPECT_EQ(down, 0x00390001u);
  const uint32_t repeat = static_cast<uint32_t>(Win32KeyLParam(DIK_SPACE, true, true, false));
  EXPECT_EQ(repeat, 0x40390001u);
  const uint32_t up = static_cast<uint32_t>(Win32KeyLParam(DIK_SPACE, false, true, false));
  EXPECT_EQ(up, 0xC0390001u);
  // Extended keys carry the low seven bits of their code and the extended flag.
  const uint32_t arrow = static_cast<uint32_t>(Win32KeyLParam(DIK_RIGHT, true, false, true));
  EXPECT_EQ(arrow, 0x214D0001u);
}

}  // namespace
