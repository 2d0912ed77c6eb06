// What other platform modules need to know about a window: the SDL window behind an HWND.
#pragma once

#include <SDL.h>

#include "windows.h"

// The SDL window of a window made by CreateWindowExA; null for a handle that is not a live window.
SDL_Window* Win32SdlWindow(HWND window);
// The client size of a live window in pixels; false for an unknown handle.
bool Win32ClientSize(HWND window, int* width, int* height);
