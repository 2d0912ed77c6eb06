// Test and tool automation of the platform layer. Used only by tests and tools, never by the
// engine or the demo: running without a display, holding keys, posting close requests, reading
// back presented frames, losing the device, failing chosen platform calls and driving the clock.
#pragma once

#include <cstdint>
#include <vector>

#include "windows.h"

struct IDirect3DDevice9;

// --- Display ---------------------------------------------------------------------------------
// Use SDL's offscreen video driver (no display needed). Must be called before the first window
// or device is created; sets SDL_VIDEODRIVER=offscreen unless the caller already chose a driver.
void AutomationUseHeadless();

// --- Keyboard and window events ---------------------------------------------------------------
// Hold or release a key by DirectInput scan code (DIK_*). The DirectInput keyboard reports it as
// held, and the message queue of the focused engine window sees WM_KEYDOWN / WM_KEYUP for it.
void AutomationSetKey(int dikScanCode, bool down);
void AutomationReleaseAllKeys();
// Post a close request for the window, exactly as the close box does (WM_CLOSE on the next poll).
void AutomationPostClose(HWND window);

// --- Frames -------------------------------------------------------------------------------------
struct AutomationFrame {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, row-major, top row first
};
// The last frame Present copied to a window; false if nothing has been presented yet.
bool AutomationLastPresentedFrame(AutomationFrame* out);
// Number of successful Present calls since the process started.
uint64_t AutomationPresentCount();
// Waits until the device has carried out every command recorded so far (its draws run on a
// worker thread, as on a graphics processor). Benchmarks use it to time work to completion.
void AutomationFinishDevice(IDirect3DDevice9* device);
// Whether devices draw on their worker thread (the default) or on the calling thread, command
// block by command block. Results are the same either way; benchmarks compare the two.
void AutomationUseDeviceWorker(bool enabled);
// Whether devices made from now on share their draws between two threads, by stripes of rows
// (the default where there are two processors). Results are the same either way.
void AutomationUseDeviceStripes(bool enabled);
// Whether draws, StretchRect and Clear may take their fast paths (the default). Tests switch them
// off to prove that the fast paths draw what the general path draws.
void AutomationUseFastPaths(bool enabled);
// Switches the fast paths off for its lifetime.
class AutomationFastPathsOff {
 public:
  AutomationFastPathsOff() { AutomationUseFastPaths(false); }
  ~AutomationFastPathsOff() { AutomationUseFastPaths(true); }
  AutomationFastPathsOff(const AutomationFastPathsOff&) = delete;
  AutomationFastPathsOff& operator=(const AutomationFastPathsOff&) = delete;
};
// Write a frame as a PNG file (RGB). Returns false on I/O failure.
bool AutomationWritePng(const AutomationFrame& frame, const char* path);

// --- Device loss ---------------------------------------------------------------------------------
// Make the device lost: Present and TestCooperativeLevel report D3DERR_DEVICELOST and Reset fails
// with it, until AutomationMakeDeviceResettable, after which TestCooperativeLevel reports
// D3DERR_DEVICENOTRESET and the next valid Reset restores the device.
void AutomationLoseDevice(IDirect3DDevice9* device);
void AutomationMakeDeviceResettable(IDirect3DDevice9* device);
// Number of successful Reset calls on any device since the process started.
uint64_t AutomationResetCount();

// --- Fault injection ----------------------------------------------------------------------------
enum class AutomationFault {
  Direct3DCreate,          // Direct3DCreate9 returns null
  GetAdapterDisplayMode,   // IDirect3D9::GetAdapterDisplayMode fails
  CheckDeviceType,         // IDirect3D9::CheckDeviceType fails
  DepthFormatD16,          // IDirect3D9::CheckDeviceFormat refuses D3DFMT_D16
  GetDeviceCaps,           // IDirect3D9::GetDeviceCaps fails
  EnumAdapterModes,        // IDirect3D9::EnumAdapterModes fails
  NoDisplayModes,          // the adapter lists no display modes
  CreateDevice,            // IDirect3D9::CreateDevice fails
  DirectInputCreate,       // DirectInput8Create fails
  KeyboardDevice,          // IDirectInput8::CreateDevice fails for the keyboard
  MouseDevice,             // ... for the mouse
  JoystickDevice,          // ... for the joystick
  DirectSoundCreate,       // DirectSoundCreate8 fails
  SoundCooperativeLevel,   // IDirectSound8::SetCooperativeLevel fails
  CreateFont,              // D3DXCreateFontIndirectA fails
  CreateSprite,            // D3DXCreateSprite fails
  CreateTexture,           // D3DXCreateTexture / IDirect3DDevice9::CreateTexture fail
  SaveSurfaceToFile,       // D3DXSaveSurfaceToFileInMemory / D3DXSaveTextureToFileInMemory fail
  CreateOffscreenSurface,  // IDirect3DDevice9::CreateOffscreenPlainSurface fails
  CreateDIBSection,        // CreateDIBSection fails
  Count
};
void AutomationSetFault(AutomationFault fault, bool active);
bool AutomationFaultActive(AutomationFault fault);
void AutomationClearFaults();

// --- Clock ---------------------------------------------------------------------------------------
// Replace the interrupt time (QueryInterruptTime) with a manual clock, in 100 ns units.
void AutomationUseManualClock(uint64_t start100ns);
void AutomationAdvanceClock(uint64_t delta100ns);
void AutomationUseRealClock();
// The manual clock's time, read by QueryInterruptTime; false while the real clock runs.
bool AutomationManualClockTime(uint64_t* time);
