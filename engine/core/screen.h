// The engine window and the Direct3D device: opening, presentation mode and recovery.
#pragma once

#include <cstdint>

// Window style bits of the window service's flags, and the flags of the fixed windowed modes.
constexpr int32_t kScreenFlagsCaption = 0x00C00001;           // caption, centred
constexpr int32_t kScreenFlagsCaptionMenu = 0x00CA0001;       // + system menu, minimise box
constexpr int32_t kScreenFlagsCaptionMenuBoxes = 0x00CB0001;  // + maximise box
constexpr int32_t kScreenFlagsPopup = static_cast<int32_t>(0x80000000u);

// Opens the engine window at (x, y) with the given client size, title and window flags, creates
// the device, the input devices and the default font. 1 on success, else an error number.
int OpenScreen(int x, int y, int width, int height, const char* title, int windowFlags);
// Modes 1-3: windowed at (0, 0) with fixed flags; 4: windowed with `flagsOrDepth` as the window
// flags; any other mode: full screen with colour depth 16 (when `flagsOrDepth` is 16) or 32.
int OpenScreenMode(int x, int y, int width, int height, const char* title, int flagsOrDepth,
                   int mode);
// The two device set-ups; the window number is always 0.
int OpenWindowedScreen(int window, int x, int y, int width, int height, const char* title,
                       int flags);
int OpenFullScreen(int width, int height, int depth, int refreshRate, const char* title);
// The engine's fixed render and sampler state; run after every reset too.
void ApplyDefaultRenderStates();
// 0: present immediately; 1: wait for the vertical retrace; other values do nothing. Returns 0.
int SetFrameSync(int sync);
// 1: interval ONE; 2: interval IMMEDIATE; 3: windowed; 4: full screen; other: recover as is.
// Returns 0; the outcome of the reset is left in PresentResult.
int ResetDevice(int mode);
