// DirectInput devices of the engine window: keyboard, mouse and the first joystick.
#pragma once

#include "windows.h"

// 1 on success; otherwise the number of the failing step: 5 device creation, 4 data format,
// 3 cooperative level, 2 acquisition. A device that fails stays absent.
int OpenKeyboard(HWND window, int cooperativeFlags);
int OpenMouse(HWND window, int cooperativeFlags);
int OpenJoystick(HWND window, int cooperativeFlags);
// 1 while the key with DirectInput scan code `key` (0..255) is held; -1 asks for any key. 0 for
// keys outside -1..255, without a keyboard, or when the device cannot be read.
int KeyDown(int key);
// Refresh MouseState or JoystickState: 1 on success, 0 when the device is absent or unreadable.
int PollMouse();
int PollJoystick();
