// Presentation to the SDL window, and the automation calls that observe or drive the device.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "automation.h"
#include "d3d9/commands.h"
#include "d3d9/device.h"
#include "d3d9/pipeline/pipeline.h"
#include "win32/win32_internal.h"

namespace d3d9 {

namespace {
AutomationFrame g_lastFrame;
bool g_haveFrame = false;
uint64_t g_presentCount = 0;
uint64_t g_resetCount = 0;

// The device whose last Present the worker may still be converting. One frame at most is in
// flight: the next Present, a read of the presented frame and the message pump complete it.
Device* g_presenter = nullptr;
// When set, the last presented frame was written straight into this window's surface (in the
// frame's own opaque ARGB), and g_lastFrame's pixels are taken from there when first asked for.
HWND g_frameWindow = nullptr;

void CompletePendingPresent() {
  if (g_presenter) g_presenter->CompletePresent(false);
}

void PullFrameFromWindow() {
  HWND window = g_frameWindow;
  g_frameWindow = nullptr;
  SDL_Window* sdl = window ? Win32SdlWindow(window) : nullptr;
  SDL_Surface* ws = sdl ? SDL_GetWindowSurface(sdl) : nullptr;
  const int fw = g_lastFrame.width, fh = g_lastFrame.height;
  g_lastFrame.pixels.assign(static_cast<size_t>(fw) * fh, 0xFF000000u);
  if (!ws) return;
  const int w = std::min(ws->w, fw), h = std::min(ws->h, fh);
  for (int y = 0; y < h; ++y)
    std::memcpy(g_lastFrame.pixels.data() + static_cast<size_t>(y) * fw,
                static_cast<const uint8_t*>(ws->pixels) + static_cast<size_t>(y) * ws->pitch,
                static_cast<size_t>(w) * 4);
}

// Before a window is resized or destroyed: the frame in flight lands, and a frame kept in a
// window's surface is copied out while the surface still exists.
void SettlePendingPresent() {
  if (g_presenter) g_presenter->CompletePresent(true);
  if (g_frameWindow) PullFrameFromWindow();
}

bool DirectFormat(const SDL_Surface* ws) {
  return ws->format->BytesPerPixel == 4 && ws->format->Rmask == 0x00FF0000 &&
         ws->format->Gmask == 0x0000FF00 && ws->format->Bmask == 0x000000FF && !SDL_MUSTLOCK(ws);
}

}  // namespace

void NoteReset() {
  ++g_resetCount;
}

// Records the copy of the back buffer (or its source rectangle, stretched to the destination
// rectangle) into the frame the window shows; the worker makes it after the frame's draws, and
// the frame reaches the window when it is done. IMMEDIATE never waits; ONE (and DEFAULT) waits
// for the next refresh of the display after the previous present.
HRESULT Device::Present(const RECT* srcRect, const RECT* dstRect, HWND override, const RGNDATA*) {
  if (health_ != DeviceHealth::Ok) return D3DERR_DEVICELOST;
  HWND window = override ? override : (pp_.hDeviceWindow ? pp_.hDeviceWindow : focusWindow_);
  SDL_Window* sdl = Win32SdlWindow(window);
  if (!sdl) return D3DERR_INVALIDCALL;
  const SurfaceStore& bb = backBuffer_->store;
  RECT sr{0, 0, static_cast<LONG>(bb.width), static_cast<LONG>(bb.height)};
  if (srcRect) {
    sr.left = std::max<LONG>(0, srcRect->left);
    sr.top = std::max<LONG>(0, srcRect->top);
    sr.right = std::min<LONG>(sr.right, srcRect->right);
    sr.bottom = std::min<LONG>(sr.bottom, srcRect->bottom);
    if (sr.left >= sr.right || sr.top >= sr.bottom) return D3DERR_INVALIDCALL;
  }

  if (pp_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE) {
    int hz = 60;
    SDL_DisplayMode mode;
    int display = SDL_GetWindowDisplayIndex(sdl);
    if (display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate > 0)
      hz = mode.refresh_rate;
    auto period = std::chrono::microseconds(1000000 / hz);
    auto now = std::chrono::steady_clock::now();
    auto next = lastPresent_ + period;
    if (next > now) std::this_thread::sleep_until(next);
  }
  lastPresent_ = std::chrono::steady_clock::now();

  // The previous frame goes to its window first.
  if (g_presenter && g_presenter != this) g_presenter->CompletePresent(true);
  CompletePresent(true);

  // The frame as the window shows it: the source rectangle, scaled to the window's client area
  // (or to the destination rectangle).
  SDL_Surface* ws = SDL_GetWindowSurface(sdl);
  int fw = ws ? ws->w : static_cast<int>(sr.right - sr.left);
  int fh = ws ? ws->h : static_cast<int>(sr.bottom - sr.top);
  RECT dr{0, 0, fw, fh};
  if (dstRect) dr = *dstRect;
  const bool direct = ws && DirectFormat(ws);
  *Record<CmdPresent>(kOpPresentCopy) = CmdPresent{
      backBuffer_,           sr, dr, fw, fh, direct ? static_cast<uint8_t*>(ws->pixels) : nullptr,
      direct ? ws->pitch : 0};
  presentPending_ = true;
  presentChunk_ = queue_.Publish();
  presentWindow_ = window;
  windowWritten_ = direct;
  g_presenter = this;
  Win32SetPresentHooks(&CompletePendingPresent, &SettlePendingPresent);
  ++g_presentCount;
  return D3D_OK;
}

// Worker: converts the back buffer into the frame as the window shows it (opaque ARGB): straight
// into the window's surface when it has that format, otherwise into the device's frame copy.

bool Device::CompletePresent(bool wait) {
  if (!presentPending_) return true;
  if (!queue_.Executed(presentChunk_, wait)) return false;
  presentPending_ = false;
  if (g_presenter == this) g_presenter = nullptr;
  const int frameWidth = pipeline_.FrameWidth(), frameHeight = pipeline_.FrameHeight();
  g_lastFrame.width = frameWidth;
  g_lastFrame.height = frameHeight;
  g_haveFrame = true;
  SDL_Window* sdl = Win32SdlWindow(presentWindow_);
  if (windowWritten_) {
    g_frameWindow = presentWindow_;
    if (sdl) SDL_UpdateWindowSurface(sdl);
    queue_.UnpinReleased();
    return true;
  }
  g_frameWindow = nullptr;
  g_lastFrame.pixels.swap(pipeline_.Frame());
  // The window may have gone or changed size since the Present: what overlaps is shown.
  if (SDL_Surface* ws = sdl ? SDL_GetWindowSurface(sdl) : nullptr) {
    if (SDL_MUSTLOCK(ws)) SDL_LockSurface(ws);
    const bool direct = DirectFormat(ws);
    const int w = std::min(ws->w, frameWidth), h = std::min(ws->h, frameHeight);
    for (int y = 0; y < h; ++y) {
      auto* dst = static_cast<uint8_t*>(ws->pixels) + static_cast<size_t>(y) * ws->pitch;
      const uint32_t* src = g_lastFrame.pixels.data() + static_cast<size_t>(y) * frameWidth;
      if (direct) {
        std::memcpy(dst, src, static_cast<size_t>(w) * 4);
      } else {
        for (int x = 0; x < w; ++x) {
          uint32_t c = src[x];
          uint32_t mapped = SDL_MapRGB(ws->format, (c >> 16) & 255, (c >> 8) & 255, c & 255);
          std::memcpy(dst + static_cast<size_t>(x) * ws->format->BytesPerPixel, &mapped,
                      ws->format->BytesPerPixel);
        }
      }
    }
    if (SDL_MUSTLOCK(ws)) SDL_UnlockSurface(ws);
    SDL_UpdateWindowSurface(sdl);
  }
  queue_.UnpinReleased();
  return true;
}

}  // namespace d3d9

bool AutomationLastPresentedFrame(AutomationFrame* out) {
  if (d3d9::g_presenter) d3d9::g_presenter->CompletePresent(true);
  if (d3d9::g_frameWindow) d3d9::PullFrameFromWindow();
  if (!out || !d3d9::g_haveFrame) return false;
  *out = d3d9::g_lastFrame;
  return true;
}

uint64_t AutomationPresentCount() {
  return d3d9::g_presentCount;
}
uint64_t AutomationResetCount() {
  return d3d9::g_resetCount;
}

void AutomationFinishDevice(IDirect3DDevice9* device) {
  if (auto* d = dynamic_cast<d3d9::Device*>(device)) d->Finish();
}

void AutomationUseDeviceWorker(bool enabled) {
  d3d9::g_deviceWorker = enabled;
}

void AutomationUseDeviceStripes(bool enabled) {
  d3d9::g_deviceStripes = enabled;
}

void AutomationUseFastPaths(bool enabled) {
  d3d9::g_disableFastPaths = !enabled;
}

void AutomationLoseDevice(IDirect3DDevice9* device) {
  if (auto* d = dynamic_cast<d3d9::Device*>(device)) d->MarkLost();
}

void AutomationMakeDeviceResettable(IDirect3DDevice9* device) {
  if (auto* d = dynamic_cast<d3d9::Device*>(device)) d->MarkResettable();
}
