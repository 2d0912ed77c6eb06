// IDirect3DDevice9: resource creation, copies between surfaces and the render targets.
#include <algorithm>
#include <cmath>

#include "automation.h"
#include "d3d9/commands.h"
#include "d3d9/d3d9_cube_texture.h"
#include "d3d9/d3d9_index_buffer.h"
#include "d3d9/d3d9_texture.h"
#include "d3d9/d3d9_vertex_buffer.h"
#include "d3d9/device.h"
#include "d3d9/pixel_format.h"

namespace d3d9 {

// --- Resource creation ---------------------------------------------------------------------------

HRESULT Device::CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateTexture)) return D3DERR_OUTOFVIDEOMEMORY;
  if (shared || w == 0 || h == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (!FormatIsColour(format) && !(FormatIsDepth(format) && (usage & D3DUSAGE_DEPTHSTENCIL)))
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_RENDERTARGET) && !FormatIsRenderTarget(format)) return D3DERR_INVALIDCALL;
  if (usage & D3DUSAGE_AUTOGENMIPMAP) levels = 1;
  auto* t = new Texture(link_, pool, usage);
  if (!t->Allocate(w, h, levels, format)) {
    t->Release();
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  *out = t;
  return D3D_OK;
}

HRESULT Device::CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                    IDirect3DVolumeTexture9** out, HANDLE*) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format,
                                  D3DPOOL pool, IDirect3DCubeTexture9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateTexture)) return D3DERR_OUTOFVIDEOMEMORY;
  if (shared || edge == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
  if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
  if (!FormatIsColour(format)) return D3DERR_INVALIDCALL;
  if ((usage & D3DUSAGE_RENDERTARGET) && !FormatIsRenderTarget(format)) return D3DERR_INVALIDCALL;
  if (usage & D3DUSAGE_AUTOGENMIPMAP) levels = 1;
  auto* t = new CubeTexture(link_, pool, usage);
  if (!t->Allocate(edge, levels, format)) {
    t->Release();
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  *out = t;
  return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || length == 0 || pool > D3DPOOL_SCRATCH || length > (1u << 28))
    return D3DERR_INVALIDCALL;
  if (fvf && !VertexLayout::FromFvf(fvf).valid) return D3DERR_INVALIDCALL;
  *out = new VertexBuffer(link_, pool, usage, length, fvf);
  return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || length == 0 || pool > D3DPOOL_SCRATCH || length > (1u << 28) ||
      (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  *out = new IndexBuffer(link_, pool, usage, length, format);
  return D3D_OK;
}

HRESULT Device::CreateRenderTarget(UINT w, UINT h, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms, DWORD,
                                   BOOL lockable, IDirect3DSurface9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || ms != D3DMULTISAMPLE_NONE || !FormatIsRenderTarget(format))
    return D3DERR_INVALIDCALL;
  auto* s = new Surface(link_, SurfaceKind::RenderTarget, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
                        lockable != FALSE, nullptr, nullptr);
  if (!s->store.Allocate(format, w, h)) {
    s->Release();
    return D3DERR_INVALIDCALL;
  }
  *out = s;
  return D3D_OK;
}

HRESULT Device::CreateDepthStencilSurface(UINT w, UINT h, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms,
                                          DWORD, BOOL, IDirect3DSurface9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || ms != D3DMULTISAMPLE_NONE || !FormatIsDepth(format)) return D3DERR_INVALIDCALL;
  auto* s = new Surface(link_, SurfaceKind::DepthStencil, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL,
                        format == D3DFMT_D16_LOCKABLE || format == D3DFMT_D32F_LOCKABLE, nullptr,
                        nullptr);
  if (!s->store.Allocate(format, w, h)) {
    s->Release();
    return D3DERR_INVALIDCALL;
  }
  *out = s;
  return D3D_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT w, UINT h, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateOffscreenSurface))
    return D3DERR_OUTOFVIDEOMEMORY;
  if (shared || pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH || !FormatIsColour(format))
    return D3DERR_INVALIDCALL;
  auto* s = new Surface(link_, SurfaceKind::Plain, pool, 0, true, nullptr, nullptr);
  if (!s->store.Allocate(format, w, h)) {
    s->Release();
    return D3DERR_INVALIDCALL;
  }
  *out = s;
  return D3D_OK;
}

// --- Copies between surfaces ---------------------------------------------------------------------

namespace {

bool RectInside(const RECT& r, const SurfaceStore& s) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         r.right <= static_cast<LONG>(s.width) && r.bottom <= static_cast<LONG>(s.height);
}

void CopyRect(const SurfaceStore& src, const RECT& sr, SurfaceStore& dst, int dx, int dy) {
  int w = sr.right - sr.left, h = sr.bottom - sr.top;
  std::vector<uint32_t> row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src.Row(sr.top + y) + static_cast<size_t>(sr.left) * src.bpp;
    uint8_t* d = dst.Row(dy + y) + static_cast<size_t>(dx) * dst.bpp;
    if (src.format == dst.format) {
      std::memcpy(d, s, static_cast<size_t>(w) * src.bpp);
    } else {
      ReadRowArgb(src.format, s, row.data(), w);
      WriteRowArgb(dst.format, d, row.data(), w);
    }
  }
}

}  // namespace

HRESULT Device::UpdateSurface(IDirect3DSurface9* srcI, const RECT* srcRect, IDirect3DSurface9* dstI,
                              const POINT* point) {
  Surface* src = AsSurface(srcI);
  Surface* dst = AsSurface(dstI);
  if (!src || !dst || src == dst) return D3DERR_INVALIDCALL;
  if (src->Pool() != D3DPOOL_SYSTEMMEM || dst->Pool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (src->store.format != dst->store.format) return D3DERR_INVALIDCALL;
  RECT sr{0, 0, static_cast<LONG>(src->store.width), static_cast<LONG>(src->store.height)};
  if (srcRect) sr = *srcRect;
  if (!RectInside(sr, src->store)) return D3DERR_INVALIDCALL;
  POINT p = point ? *point : POINT{0, 0};
  RECT dr{p.x, p.y, p.x + (sr.right - sr.left), p.y + (sr.bottom - sr.top)};
  if (!RectInside(dr, dst->store)) return D3DERR_INVALIDCALL;
  Finish();
  CopyRect(src->store, sr, dst->store, p.x, p.y);
  return D3D_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* srcI, IDirect3DBaseTexture9* dstI) {
  Texture* src = AsTexture(srcI);
  Texture* dst = AsTexture(dstI);
  if (!src || !dst || src == dst) return D3DERR_INVALIDCALL;
  if (src->Pool() != D3DPOOL_SYSTEMMEM || dst->Pool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (src->levels.empty() || dst->levels.empty() ||
      src->levels[0]->store.format != dst->levels[0]->store.format)
    return D3DERR_INVALIDCALL;
  // Levels are matched by size: the source may carry more levels than the destination.
  size_t offset = 0;
  while (offset < src->levels.size() &&
         src->levels[offset]->store.width != dst->levels[0]->store.width)
    ++offset;
  if (offset == src->levels.size() || src->levels.size() - offset < dst->levels.size())
    return D3DERR_INVALIDCALL;
  for (size_t i = 0; i < dst->levels.size(); ++i) {
    const SurfaceStore& s = src->levels[i + offset]->store;
    const SurfaceStore& d = dst->levels[i]->store;
    if (s.width != d.width || s.height != d.height) return D3DERR_INVALIDCALL;
  }
  Finish();
  for (size_t i = 0; i < dst->levels.size(); ++i) {
    const SurfaceStore& s = src->levels[i + offset]->store;
    SurfaceStore& d = dst->levels[i]->store;
    if (s.width != d.width || s.height != d.height) return D3DERR_INVALIDCALL;
    d.bits = s.bits;
  }
  return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* rtI, IDirect3DSurface9* dstI) {
  Surface* rt = AsSurface(rtI);
  Surface* dst = AsSurface(dstI);
  if (!rt || !dst || rt == dst) return D3DERR_INVALIDCALL;
  if (rt->Pool() != D3DPOOL_DEFAULT || !(rt->Usage() & D3DUSAGE_RENDERTARGET) ||
      dst->Pool() != D3DPOOL_SYSTEMMEM)
    return D3DERR_INVALIDCALL;
  if (rt->store.width != dst->store.width || rt->store.height != dst->store.height ||
      rt->store.format != dst->store.format)
    return D3DERR_INVALIDCALL;
  Finish();
  dst->store.bits = rt->store.bits;
  return D3D_OK;
}

HRESULT Device::GetFrontBufferData(UINT, IDirect3DSurface9*) {
  return D3DERR_INVALIDCALL;
}

// Both surfaces must live in the default pool; a depth surface or a plain texture level cannot
// take part. Rectangles must lie inside their surface.
HRESULT Device::CheckStretchSurface(Surface* s, const RECT* r, RECT* out, bool dest) const {
  if (!s || s->Pool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
  if (s->kind == SurfaceKind::DepthStencil || s->kind == SurfaceKind::AutoDepth)
    return D3DERR_INVALIDCALL;
  if (dest && s->kind == SurfaceKind::TextureLevel && !(s->Usage() & D3DUSAGE_RENDERTARGET))
    return D3DERR_INVALIDCALL;
  if (s->locked) return D3DERR_INVALIDCALL;
  *out = RECT{0, 0, static_cast<LONG>(s->store.width), static_cast<LONG>(s->store.height)};
  if (r) {
    if (!RectInside(*r, s->store)) return D3DERR_INVALIDCALL;
    *out = *r;
  }
  return D3D_OK;
}

HRESULT Device::StretchRect(IDirect3DSurface9* srcI, const RECT* srcRect, IDirect3DSurface9* dstI,
                            const RECT* dstRect, D3DTEXTUREFILTERTYPE filter) {
  Surface* src = AsSurface(srcI);
  Surface* dst = AsSurface(dstI);
  RECT sr, dr;
  if (!src || !dst) return D3DERR_INVALIDCALL;
  if (FAILED(CheckStretchSurface(src, srcRect, &sr, false)) ||
      FAILED(CheckStretchSurface(dst, dstRect, &dr, true)))
    return D3DERR_INVALIDCALL;
  if (filter != D3DTEXF_NONE && filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR)
    return D3DERR_INVALIDCALL;
  if (src == dst) {
    // Overlapping copies within one surface are not allowed.
    if (sr.left < dr.right && dr.left < sr.right && sr.top < dr.bottom && dr.top < sr.bottom)
      return D3DERR_INVALIDCALL;
  }
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  NoteFastPaths();
  auto* c = Record<CmdStretch>(kOpStretchRect);
  src->Pin();
  dst->Pin();
  *c = CmdStretch{src, dst, sr, dr, filter};
  return D3D_OK;
}

HRESULT Device::ColorFill(IDirect3DSurface9* surfaceI, const RECT* rect, D3DCOLOR color) {
  Surface* s = AsSurface(surfaceI);
  if (!s || s->Pool() != D3DPOOL_DEFAULT || s->locked) return D3DERR_INVALIDCALL;
  bool target = s->kind == SurfaceKind::Plain || s->kind == SurfaceKind::RenderTarget ||
                s->kind == SurfaceKind::BackBuffer ||
                (s->kind == SurfaceKind::TextureLevel && (s->Usage() & D3DUSAGE_RENDERTARGET));
  if (!target) return D3DERR_INVALIDCALL;
  RECT r{0, 0, static_cast<LONG>(s->store.width), static_cast<LONG>(s->store.height)};
  if (rect) {
    if (!RectInside(*rect, s->store)) return D3DERR_INVALIDCALL;
    r = *rect;
  }
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  auto* c = Record<CmdFill>(kOpColorFill);
  s->Pin();
  *c = CmdFill{s, r, color};
  return D3D_OK;
}

// --- Render targets ------------------------------------------------------------------------------

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* rtI) {
  if (index != 0) return D3DERR_INVALIDCALL;
  Surface* rt = AsSurface(rtI);
  if (!rt || !(rt->Usage() & D3DUSAGE_RENDERTARGET) || rt->Pool() != D3DPOOL_DEFAULT)
    return D3DERR_INVALIDCALL;
  rt->AddRef();
  SafeRelease(api_.renderTarget);
  api_.renderTarget = rt;
  // Setting a render target resets the viewport to cover it.
  api_.viewport = {0, 0, rt->store.width, rt->store.height, 0.f, 1.f};
  api_.scissor = {0, 0, static_cast<LONG>(rt->store.width), static_cast<LONG>(rt->store.height)};
  rt->Pin();
  Record<CmdBind>(kOpRenderTarget)->object = rt;
  return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (index != 0) return D3DERR_INVALIDCALL;
  if (!api_.renderTarget) return D3DERR_NOTFOUND;
  api_.renderTarget->AddRef();
  *out = api_.renderTarget;
  return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* dsI) {
  Surface* ds = nullptr;
  if (dsI) {
    ds = AsSurface(dsI);
    if (!ds || !FormatIsDepth(ds->store.format)) return D3DERR_INVALIDCALL;
    ds->AddRef();
  }
  SafeRelease(api_.depthStencil);
  api_.depthStencil = ds;
  if (ds) ds->Pin();
  Record<CmdBind>(kOpDepthStencil)->object = ds;
  return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!api_.depthStencil) return D3DERR_NOTFOUND;
  api_.depthStencil->AddRef();
  *out = api_.depthStencil;
  return D3D_OK;
}

}  // namespace d3d9
