// Surfaces: storage, description, locking, and the container relation of texture levels.
#include "d3d9/d3d9_surface.h"

#include "d3d9/pixel_format.h"

namespace d3d9 {

bool SurfaceStore::Allocate(D3DFORMAT fmt, UINT w, UINT h) {
  UINT b = FormatBytesPerPixel(fmt);
  if (b == 0 || w == 0 || h == 0 || w > 16384 || h > 16384) return false;
  if (static_cast<uint64_t>(w) * h * b > (uint64_t{1} << 28)) return false;  // 256 MB per surface
  format = fmt;
  width = w;
  height = h;
  bpp = b;
  pitch = static_cast<int>((w * b + 3) & ~3u);  // rows aligned to 4 bytes, as drivers do
  bits.assign(static_cast<size_t>(pitch) * h, 0);
  return true;
}

Surface::Surface(std::shared_ptr<DeviceLink> link, SurfaceKind k, D3DPOOL pool, DWORD usage,
                 bool lock, IDirect3DBaseTexture9* owner, Pinned* ownerPins)
    : Resource(std::move(link), D3DRTYPE_SURFACE, pool, usage,
               k == SurfaceKind::Plain || k == SurfaceKind::RenderTarget ||
                   k == SurfaceKind::DepthStencil),
      kind(k),
      lockable(lock),
      container(owner),
      containerPins_(ownerPins) {}

ULONG Surface::AddRef() {
  return container ? container->AddRef() : ComObject::AddRef();
}
ULONG Surface::Release() {
  return container ? container->Release() : ComObject::Release();
}

void Surface::Pin() {
  if (containerPins_)
    containerPins_->Pin();
  else
    Resource::Pin();
}

void Surface::Unpin() {
  if (containerPins_)
    containerPins_->Unpin();
  else
    Resource::Unpin();
}

bool Surface::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DSurface9 || riid == IID_IDirect3DResource9;
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer) {
  if (!ppContainer) return D3DERR_INVALIDCALL;
  if (container) return container->QueryInterface(riid, ppContainer);
  if (link_ && link_->device)
    return DeviceInterface(link_->device)->QueryInterface(riid, ppContainer);
  *ppContainer = nullptr;
  return E_NOINTERFACE;
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  // Written as one value: callers read width and height together, and a wide read of two
  // separate narrow writes stalls the processor (the sprite batch does it for every quad).
  *d = D3DSURFACE_DESC{store.format, D3DRTYPE_SURFACE, usage_, pool_, D3DMULTISAMPLE_NONE, 0,
                       store.width,  store.height};
  return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* out, const RECT* r, DWORD) {
  if (!out || !lockable || locked || store.bits.empty()) return D3DERR_INVALIDCALL;
  FinishDeviceWork();
  RECT full{0, 0, static_cast<LONG>(store.width), static_cast<LONG>(store.height)};
  if (r) {
    if (r->left < 0 || r->top < 0 || r->right > full.right || r->bottom > full.bottom ||
        r->left >= r->right || r->top >= r->bottom)
      return D3DERR_INVALIDCALL;
    full = *r;
  }
  locked = true;
  out->Pitch = store.pitch;
  out->pBits = store.Row(full.top) + static_cast<size_t>(full.left) * store.bpp;
  return D3D_OK;
}

HRESULT Surface::UnlockRect() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return D3D_OK;
}

HRESULT Surface::GetDC(HDC* phdc) {
  if (phdc) *phdc = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Surface::ReleaseDC(HDC) {
  return D3DERR_INVALIDCALL;
}

// Only objects made here can be drawn from; a foreign implementation of an interface is refused
// (QueryInterface answers the IID for both, so the check compares the vtable owner by RTTI).
Surface* AsSurface(IDirect3DSurface9* s) {
  return dynamic_cast<Surface*>(s);
}

}  // namespace d3d9
