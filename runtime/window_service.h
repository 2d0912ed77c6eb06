// The runtime's window service: numbered program windows and the one-event-at-a-time poll.
#pragma once

#include "windows.h"

// Window flags: the high bits are Win32 window styles (WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX,
// WS_MAXIMIZEBOX, WS_POPUP, ...); bit 0 centres the window on the primary screen.
constexpr int kWindowCentred = 0x1;
// Event code of a window's close request (WM_CLOSE).
constexpr int kWindowEventClose = 16;

// Opens window `number` with a client area of width x height at (x, y) and returns its handle,
// or null on failure. A number already in use is closed first.
HWND OpenWindow(int number, int x, int y, int width, int height, const char* title, int flags);
// Closes window `number`; unknown numbers are ignored.
void CloseWindow(int number);
// The handle of window `number`, null if it is not open.
HWND WindowID(int number);
// The screen position of the window's outer left and top edges; 0 if it is not open.
int WindowX(int number);
int WindowY(int number);
// One event of the program's windows, 0 if none is pending. A close request is 16 and is
// consumed: the window stays open.
int PollWindowEvent();
// End of program: closes every window the service still holds.
void ReleaseWindows();
