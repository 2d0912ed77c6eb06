// The window table shared by the window and message-queue sources of this module.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>

#include "windows.h"

// Fixed frame metrics (pixels): title bar, dialog frame, sizing frame, thin border. Outer and
// client rectangles are derived from the style with these, never from what a window manager
// draws, so AdjustWindowRectEx, CreateWindowExA and GetWindowRect always agree.
constexpr int kWin32CaptionHeight = 23;
constexpr int kWin32FixedFrame = 3;
constexpr int kWin32SizingFrame = 8;
constexpr int kWin32Border = 1;
constexpr int kWin32ClientEdge = 2;
// Largest client extent a window may have; larger requests are clamped.
constexpr int kWin32MaxClientExtent = 16384;

struct Win32Window {
  HWND handle = nullptr;
  WNDPROC proc = nullptr;
  UINT classStyle = 0;
  std::string className;
  SDL_Window* sdl = nullptr;
  Uint32 sdlId = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG userData = 0;
  LONG controlId = 0;
  LONG outerX = 0;  // screen position of the outer left/top edges
  LONG outerY = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  uint64_t serial = 0;  // creation order
  bool visible = false;
  bool destroying = false;
};

// The live window of a handle, null for anything else (destroyed, never created, null).
Win32Window* Win32FindWindow(HWND handle);
// The live window of an SDL window id, null if none.
Win32Window* Win32FindSdlWindow(Uint32 sdlId);
// Insets of the outer rectangle around the client area for a style (left, top, right, bottom
// are all non-negative amounts).
RECT Win32FrameInsets(DWORD style, DWORD exStyle);
// Updates the table after SDL reports a move or size change; returns true if anything changed.
bool Win32NoteClientPosition(Win32Window* window, int clientX, int clientY);
bool Win32NoteClientSize(Win32Window* window, int width, int height);
// Sets and reads the window with keyboard focus (null for none).
void Win32SetFocusWindow(HWND handle);
HWND Win32FocusWindow();
// Calls f for every live window, in creation order.
void Win32ForEachWindow(void (*f)(HWND));
// Removes every queued message of a window (on destruction).
void Win32DropQueuedMessages(HWND handle);
