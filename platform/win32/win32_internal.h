// What other platform modules need to know about a window: the SDL window behind an HWND.
#pragma once

#include <SDL.h>

#include "windows.h"

// The SDL window of a window made by CreateWindowExA; null for a handle that is not a live window.
SDL_Window* Win32SdlWindow(HWND window);
// The client size of a live window in pixels; false for an unknown handle.
bool Win32ClientSize(HWND window, int* width, int* height);

// Starts SDL's video subsystem (one more reference, paired with SDL_QuitSubSystem) on a driver that
// shows windows. Unless the caller chose a driver (SDL_VIDEODRIVER, which the automation's
// headless mode sets), only X11 is tried when DISPLAY names a display and Wayland when
// WAYLAND_DISPLAY does: SDL would otherwise fall back to a driver that shows nothing. False, with
// SDL_GetError saying why, when there is no display.
bool Win32StartVideo();

// Initialises SDL's video subsystem once (Win32StartVideo), with SDL's quit-on-last-window-close
// switched off (a close box reaches the program only as its window's WM_CLOSE). Platform modules
// that need SDL video call this rather than SDL_Init; false if SDL cannot start.
bool Win32EnsureVideo();

// The window keyboard messages go to: the window with keyboard focus, else the most recently
// created live window; null when there is none.
HWND Win32KeyboardWindow();
// Appends a message to the posted queue of the window (dropped for a handle that is not live).
bool Win32PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The device's presentation hooks. `pump` runs whenever the message pump looks for events: a
// finished frame is shown there when the program waits in its message loop instead of presenting
// again. `settle` runs before a window is resized or destroyed, so no frame is still being written
// into its surface.
void Win32SetPresentHooks(void (*pump)(), void (*settle)());
void Win32SettlePresents();
