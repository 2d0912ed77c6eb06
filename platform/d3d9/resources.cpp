// Surfaces, textures with mip chains, vertex and index buffers.
#include <algorithm>

#include "d3d9/device.h"

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

// --- Resource ----------------------------------------------------------------------------------

template <class I>
Resource<I>::Resource(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool,
                      DWORD usage, bool countAsDefaultPool)
    : link_(std::move(link)), type_(type), pool_(pool), usage_(usage) {
  if (countAsDefaultPool && pool == D3DPOOL_DEFAULT && link_ && link_->device) {
    counted_ = true;
    link_->device->DefaultPoolCreated();
  }
}

template <class I>
Resource<I>::~Resource() {
  for (auto& e : private_)
    if (e.unknown) e.unknown->Release();
  if (counted_ && link_ && link_->device) link_->device->DefaultPoolDestroyed();
}

template <class I>
HRESULT Resource<I>::GetDevice(IDirect3DDevice9** ppDevice) {
  if (!ppDevice) return D3DERR_INVALIDCALL;
  if (!link_ || !link_->device) {
    *ppDevice = nullptr;
    return D3DERR_INVALIDCALL;
  }
  link_->device->AddRef();
  *ppDevice = link_->device;
  return D3D_OK;
}

template <class I>
HRESULT Resource<I>::SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) {
  if (!data && size) return D3DERR_INVALIDCALL;
  FreePrivateData(guid);
  PrivateEntry e{guid, {}, nullptr};
  if (flags & D3DSPD_IUNKNOWN) {
    if (size != sizeof(IUnknown*)) return D3DERR_INVALIDCALL;
    std::memcpy(&e.unknown, data, sizeof(IUnknown*));
    if (e.unknown) e.unknown->AddRef();
  } else {
    e.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  }
  private_.push_back(std::move(e));
  return D3D_OK;
}

template <class I>
HRESULT Resource<I>::GetPrivateData(REFGUID guid, void* data, DWORD* size) {
  if (!size) return D3DERR_INVALIDCALL;
  for (auto& e : private_) {
    if (e.guid != guid) continue;
    DWORD need =
        e.unknown ? static_cast<DWORD>(sizeof(IUnknown*)) : static_cast<DWORD>(e.data.size());
    if (!data || *size < need) {
      *size = need;
      return D3DERR_MOREDATA;
    }
    if (e.unknown) {
      e.unknown->AddRef();
      std::memcpy(data, &e.unknown, sizeof(IUnknown*));
    } else if (need) {
      std::memcpy(data, e.data.data(), need);
    }
    *size = need;
    return D3D_OK;
  }
  return D3DERR_NOTFOUND;
}

template <class I>
HRESULT Resource<I>::FreePrivateData(REFGUID guid) {
  for (auto it = private_.begin(); it != private_.end(); ++it) {
    if (it->guid != guid) continue;
    if (it->unknown) it->unknown->Release();
    private_.erase(it);
    return D3D_OK;
  }
  return D3DERR_NOTFOUND;
}

template <class I>
void Resource<I>::FinishDeviceWork() const {
  if (link_ && link_->device) link_->device->Finish();
}

template class Resource<IDirect3DSurface9>;
template class Resource<IDirect3DTexture9>;
template class Resource<IDirect3DVertexBuffer9>;
template class Resource<IDirect3DIndexBuffer9>;

// --- Surface ----------------------------------------------------------------------------------

Surface::Surface(std::shared_ptr<DeviceLink> link, SurfaceKind k, D3DPOOL pool, DWORD usage,
                 bool lock, Texture* owner)
    : Resource(std::move(link), D3DRTYPE_SURFACE, pool, usage,
               k == SurfaceKind::Plain || k == SurfaceKind::RenderTarget ||
                   k == SurfaceKind::DepthStencil),
      kind(k),
      lockable(lock),
      container(owner) {}

ULONG Surface::AddRef() {
  return container ? container->AddRef() : ComObject::AddRef();
}
ULONG Surface::Release() {
  return container ? container->Release() : ComObject::Release();
}

void Surface::Pin() {
  if (container)
    container->Pin();
  else
    Resource::Pin();
}

void Surface::Unpin() {
  if (container)
    container->Unpin();
  else
    Resource::Unpin();
}

bool Surface::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DSurface9 || riid == IID_IDirect3DResource9;
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer) {
  if (!ppContainer) return D3DERR_INVALIDCALL;
  if (container) return container->QueryInterface(riid, ppContainer);
  if (link_ && link_->device) return link_->device->QueryInterface(riid, ppContainer);
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

// --- Texture ------------------------------------------------------------------------------------

Texture::Texture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage)
    : Resource(std::move(link), D3DRTYPE_TEXTURE, pool, usage, true) {}

Texture::~Texture() {
  for (Surface* s : levels) s->DestroyLevel();
}

bool Texture::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DTexture9 || riid == IID_IDirect3DBaseTexture9 ||
         riid == IID_IDirect3DResource9;
}

bool Texture::Allocate(UINT width, UINT height, UINT count, D3DFORMAT format) {
  UINT full = 1;
  for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2))
    ++full;
  if (count == 0 || count > full) count = full;
  // Default-pool textures can be locked only when dynamic; render targets never.
  bool lockable = pool_ != D3DPOOL_DEFAULT ||
                  ((usage_ & D3DUSAGE_DYNAMIC) && !(usage_ & D3DUSAGE_RENDERTARGET));
  UINT w = width, h = height;
  for (UINT i = 0; i < count; ++i) {
    auto* s = new Surface(link_, SurfaceKind::TextureLevel, pool_, usage_, lockable, this);
    levels.push_back(s);
    if (!s->store.Allocate(format, w, h)) return false;
    w = std::max(1u, w / 2);
    h = std::max(1u, h / 2);
  }
  return true;
}

DWORD Texture::SetLOD(DWORD lod) {
  DWORD old = lod_;
  if (pool_ == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, GetLevelCount() - 1);
  return old;
}

HRESULT Texture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE f) {
  if (f != D3DTEXF_POINT && f != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
  autoGen_ = f;
  return D3D_OK;
}

// Box-filters each level from the one above it.
void Texture::GenerateMipSubLevels() {
  FinishDeviceWork();
  for (size_t i = 1; i < levels.size(); ++i) {
    const SurfaceStore& src = levels[i - 1]->store;
    SurfaceStore& dst = levels[i]->store;
    for (UINT y = 0; y < dst.height; ++y) {
      for (UINT x = 0; x < dst.width; ++x) {
        UINT sx0 = std::min(src.width - 1, x * 2), sx1 = std::min(src.width - 1, x * 2 + 1);
        UINT sy0 = std::min(src.height - 1, y * 2), sy1 = std::min(src.height - 1, y * 2 + 1);
        uint32_t p[4] = {ReadPixelArgb(src.format, src.Row(sy0) + sx0 * src.bpp),
                         ReadPixelArgb(src.format, src.Row(sy0) + sx1 * src.bpp),
                         ReadPixelArgb(src.format, src.Row(sy1) + sx0 * src.bpp),
                         ReadPixelArgb(src.format, src.Row(sy1) + sx1 * src.bpp)};
        uint32_t out = 0;
        for (int c = 0; c < 32; c += 8) {
          uint32_t sum = 0;
          for (uint32_t v : p) sum += (v >> c) & 255;
          out |= ((sum + 2) / 4) << c;
        }
        WritePixelArgb(dst.format, dst.Row(static_cast<int>(y)) + x * dst.bpp, out);
      }
    }
  }
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* d) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->GetDesc(d);
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  if (level >= levels.size()) {
    *out = nullptr;
    return D3DERR_INVALIDCALL;
  }
  levels[level]->AddRef();
  *out = levels[level];
  return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* out, const RECT* r, DWORD flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockRect(out, r, flags);
}

HRESULT Texture::UnlockRect(UINT level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockRect();
}

// --- Buffers ------------------------------------------------------------------------------------

template <class I, class Desc>
Buffer<I, Desc>::Buffer(std::shared_ptr<DeviceLink> link, D3DRESOURCETYPE type, D3DPOOL pool,
                        DWORD usage, UINT size, DWORD fvf)
    : Resource<I>(std::move(link), type, pool, usage, true), data(size), fvfOrFormat(fvf) {}

template <class I, class Desc>
bool Buffer<I, Desc>::IsOwnInterface(REFIID riid) const {
  if (riid == IID_IDirect3DResource9) return true;
  return this->type_ == D3DRTYPE_VERTEXBUFFER ? riid == IID_IDirect3DVertexBuffer9
                                              : riid == IID_IDirect3DIndexBuffer9;
}

// A lock waits for the draws already recorded, so D3DLOCK_DISCARD and NOOVERWRITE need no
// renaming: the memory is never in use by a pending draw once the lock returns.
template <class I, class Desc>
HRESULT Buffer<I, Desc>::Lock(UINT offset, UINT size, void** out, DWORD) {
  if (!out) return D3DERR_INVALIDCALL;
  if (offset > data.size() || (size && size > data.size() - offset)) {
    *out = nullptr;
    return D3DERR_INVALIDCALL;
  }
  this->FinishDeviceWork();
  ++lockCount;
  *out = data.data() + offset;
  return D3D_OK;
}

template <class I, class Desc>
HRESULT Buffer<I, Desc>::Unlock() {
  if (lockCount == 0) return D3DERR_INVALIDCALL;
  --lockCount;
  return D3D_OK;
}

template <>
HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = D3DFMT_VERTEXDATA;
  d->Type = D3DRTYPE_VERTEXBUFFER;
  d->Usage = usage_;
  d->Pool = pool_;
  d->Size = static_cast<UINT>(data.size());
  d->FVF = fvfOrFormat;
  return D3D_OK;
}

template <>
HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = static_cast<D3DFORMAT>(fvfOrFormat);
  d->Type = D3DRTYPE_INDEXBUFFER;
  d->Usage = usage_;
  d->Pool = pool_;
  d->Size = static_cast<UINT>(data.size());
  return D3D_OK;
}

template class Buffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
template class Buffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

// Only objects made here can be drawn from; a foreign implementation of an interface is refused
// (QueryInterface answers the IID for both, so the check compares the vtable owner by RTTI).
Surface* AsSurface(IDirect3DSurface9* s) {
  return dynamic_cast<Surface*>(s);
}
Texture* AsTexture(IDirect3DBaseTexture9* t) {
  return dynamic_cast<Texture*>(t);
}
VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* b) {
  return dynamic_cast<VertexBuffer*>(b);
}
IndexBuffer* AsIndexBuffer(IDirect3DIndexBuffer9* b) {
  return dynamic_cast<IndexBuffer*>(b);
}

}  // namespace d3d9
