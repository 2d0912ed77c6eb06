// Scan codes between SDL, DirectInput and Win32 virtual keys, and the keys automation holds.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "windows.h"

// DirectInput scan code (DIK_*) of an SDL scancode, 0 for keys DirectInput has no code for.
int Win32DikFromSdlScancode(SDL_Scancode scancode);
// SDL scancode of a DirectInput scan code, SDL_SCANCODE_UNKNOWN if there is none.
SDL_Scancode Win32SdlScancodeFromDik(int dik);
// Virtual-key code that WM_KEYDOWN carries for a DirectInput scan code (US layout), 0 if none.
int Win32VkFromDik(int dik);
// The lParam of a key message: repeat count 1, scan code bits 16-23, extended-key bit 24,
// context (Alt) bit 29, previous-state bit 30, transition bit 31.
LPARAM Win32KeyLParam(int dik, bool down, bool wasDown, bool altHeld);

// The keys held through automation, as DirectInput keyboard state (0x80 for held, else 0).
void Win32AutomationKeyState(uint8_t state[256]);
bool Win32AutomationKeyHeld(int dik);
