// One headless window with a Direct3D 9 device, shared by the platform tests' fixtures and the
// benchmarks: a lockable back buffer of a chosen size and format, an automatic depth buffer, and
// a read-back of the back buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "automation.h"
#include "d3d9.h"
#include "windows.h"

namespace test_support {

// A window whose client area is width x height.
inline HWND MakeWindow(int width, int height) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "HeadlessDeviceWindow";
    RegisterClassA(&wc);
    registered = true;
  }
  // The outer size that gives the requested client area.
  RECT r = {0, 0, width, height};
  AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
  return CreateWindowExA(0, "HeadlessDeviceWindow", "headless device", WS_OVERLAPPEDWINDOW, 0, 0,
                         r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
}

// Windowed presentation of a lockable back buffer with a D16 depth buffer, never waiting.
inline D3DPRESENT_PARAMETERS WindowedParameters(HWND window, UINT width, UINT height,
                                                D3DFORMAT format = D3DFMT_X8R8G8B8) {
  D3DPRESENT_PARAMETERS pp = {};
  pp.BackBufferWidth = width;
  pp.BackBufferHeight = height;
  pp.BackBufferFormat = format;
  pp.BackBufferCount = 1;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.hDeviceWindow = window;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

class HeadlessDevice {
 public:
  HeadlessDevice() = default;
  HeadlessDevice(const HeadlessDevice&) = delete;
  HeadlessDevice& operator=(const HeadlessDevice&) = delete;
  ~HeadlessDevice() { Close(); }

  // False, with nothing left open, when the window or the device cannot be made.
  bool Open(UINT width, UINT height, D3DFORMAT format = D3DFMT_X8R8G8B8) {
    AutomationUseHeadless();
    width_ = width;
    height_ = height;
    window = MakeWindow(static_cast<int>(width), static_cast<int>(height));
    d3d = window ? Direct3DCreate9(D3D_SDK_VERSION) : nullptr;
    parameters = WindowedParameters(window, width, height, format);
    if (!d3d ||
        FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device))) {
      device = nullptr;
      Close();
      return false;
    }
    return true;
  }

  // Releases the device and returns the count it had left (0 when nothing else holds it).
  ULONG Close() {
    ULONG left = device ? device->Release() : 0;
    device = nullptr;
    if (d3d) d3d->Release();
    d3d = nullptr;
    if (window) DestroyWindow(window);
    window = nullptr;
    return left;
  }

  // The back buffer as 0x00RRGGBB, rows top first; empty when it cannot be read.
  std::vector<uint32_t> ReadBackBuffer() const {
    std::vector<uint32_t> pixels;
    IDirect3DSurface9* surface = nullptr;
    if (!device || FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface)))
      return pixels;
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      pixels.assign(static_cast<size_t>(width_) * height_, 0);
      for (UINT y = 0; y < height_; ++y) {
        const auto* row = static_cast<const uint8_t*>(locked.pBits) +
                          static_cast<size_t>(y) * static_cast<size_t>(locked.Pitch);
        for (UINT x = 0; x < width_; ++x) {
          uint32_t c;
          std::memcpy(&c, row + 4 * static_cast<size_t>(x), 4);
          pixels[static_cast<size_t>(y) * width_ + x] = c & 0x00FFFFFFu;
        }
      }
      surface->UnlockRect();
    }
    surface->Release();
    return pixels;
  }

  HWND window = nullptr;
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
  D3DPRESENT_PARAMETERS parameters = {};

 private:
  UINT width_ = 0, height_ = 0;
};

}  // namespace test_support
