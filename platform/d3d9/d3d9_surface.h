// IDirect3DSurface9: plain surfaces, render targets, depth-stencil surfaces, the implicit back
// and depth buffers, and the levels of textures and cube-texture faces.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9/device_child.h"

namespace d3d9 {

// Pixel storage of one surface, in its own format.
struct SurfaceStore {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  UINT width = 0;
  UINT height = 0;
  UINT bpp = 0;
  int pitch = 0;
  std::vector<uint8_t> bits;

  bool Allocate(D3DFORMAT fmt, UINT w, UINT h);
  uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * pitch; }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * pitch; }
};

enum class SurfaceKind { Plain, RenderTarget, DepthStencil, TextureLevel, BackBuffer, AutoDepth };

class Surface final : public Resource<IDirect3DSurface9> {
 public:
  // Implicit surfaces (back buffer, automatic depth buffer) and texture levels are not counted
  // as default-pool resources of their own. A level's `container` is its texture, which holds
  // its references and pins.
  Surface(std::shared_ptr<DeviceLink> link, SurfaceKind kind, D3DPOOL pool, DWORD usage,
          bool lockable, IDirect3DBaseTexture9* container, Pinned* containerPins);

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetContainer(REFIID riid, void** ppContainer) override;
  HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                     DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE UnlockRect() override;
  HRESULT STDMETHODCALLTYPE GetDC(HDC* phdc) override;
  HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hdc) override;

  // A texture level lives as long as its texture: pins go to the texture.
  void Pin() override;
  void Unpin() override;

  // Texture levels die with their texture, whatever their own count says.
  void DestroyLevel() { delete this; }

  SurfaceStore store;
  SurfaceKind kind;
  bool lockable;
  bool locked = false;
  IDirect3DBaseTexture9* container;

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  Pinned* containerPins_;
};

// Our implementation object behind an interface pointer, or null for a foreign object.
Surface* AsSurface(IDirect3DSurface9* s);

}  // namespace d3d9
