// IDirect3DDevice9: state, resources, scene rules, Reset and the copy operations.
#include <algorithm>
#include <cmath>

#include "automation.h"
#include "d3d9/commands.h"
#include "d3d9/device.h"
#include "win32/win32_internal.h"

namespace d3d9 {

std::atomic<bool> g_disableFastPaths{false};

namespace {

DWORD FloatBits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.f;
  return m;
}

bool IsRenderTargetFormat(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
         f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A2R10G10B10;
}

}  // namespace

Device::Device(Direct3D* d3d, HWND focus, DWORD behavior)
    : d3d_(d3d), link_(std::make_shared<DeviceLink>()), focusWindow_(focus), behavior_(behavior) {
  d3d_->AddRef();
  link_->device = this;
  softwareVp_ = (behavior & D3DCREATE_SOFTWARE_VERTEXPROCESSING) ? TRUE : FALSE;
}

Device::~Device() {
  CompletePresent(true);
  Finish();
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_one();
    worker_.join();
  }
  ResetExecState(false);
  ReleaseBindings();
  SafeRelease(api_.renderTarget);
  SafeRelease(api_.depthStencil);
  if (backBuffer_) backBuffer_->DestroyLevel();
  if (autoDepth_) autoDepth_->DestroyLevel();
  link_->device = nullptr;
  d3d_->Release();
}

void Device::ReleaseBindings() {
  for (auto& t : api_.textures) SafeRelease(t);
  for (auto& s : api_.streams) {
    if (s.buffer) s.buffer->Release();
    s = StreamBinding{};
  }
  if (api_.indices) api_.indices->Release();
  api_.indices = nullptr;
}

// Fills in what the caller may leave open (windowed size and format) and checks the rest.
bool Device::ResolvePresentParameters(D3DPRESENT_PARAMETERS* pp) {
  HWND window = pp->hDeviceWindow ? pp->hDeviceWindow : focusWindow_;
  if (!window || !Win32SdlWindow(window)) return false;
  if (pp->BackBufferCount > D3DPRESENT_BACK_BUFFERS_MAX) return false;
  if (pp->SwapEffect < D3DSWAPEFFECT_DISCARD || pp->SwapEffect > D3DSWAPEFFECT_COPY) return false;
  if (pp->SwapEffect == D3DSWAPEFFECT_COPY && pp->BackBufferCount > 1) return false;
  if (pp->MultiSampleType != D3DMULTISAMPLE_NONE) return false;
  if (pp->Windowed) {
    if (pp->BackBufferWidth == 0 || pp->BackBufferHeight == 0) {
      int w = 0, h = 0;
      if (!Win32ClientSize(window, &w, &h)) return false;
      if (pp->BackBufferWidth == 0) pp->BackBufferWidth = static_cast<UINT>(std::max(1, w));
      if (pp->BackBufferHeight == 0) pp->BackBufferHeight = static_cast<UINT>(std::max(1, h));
    }
    if (pp->BackBufferFormat == D3DFMT_UNKNOWN) pp->BackBufferFormat = D3DFMT_X8R8G8B8;
    if (pp->FullScreen_RefreshRateInHz != 0) return false;
  } else {
    if (pp->BackBufferWidth == 0 || pp->BackBufferHeight == 0) return false;
  }
  if (!IsRenderTargetFormat(pp->BackBufferFormat)) return false;
  if (pp->EnableAutoDepthStencil && !FormatIsDepth(pp->AutoDepthStencilFormat)) return false;
  UINT interval = pp->PresentationInterval;
  if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
      interval != D3DPRESENT_INTERVAL_IMMEDIATE)
    return false;
  if (pp->BackBufferCount == 0) pp->BackBufferCount = 1;
  return true;
}

HRESULT Device::CreateImplicitSurfaces(const D3DPRESENT_PARAMETERS& pp) {
  bool lockable = (pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
  if (!backBuffer_)
    backBuffer_ = new Surface(link_, SurfaceKind::BackBuffer, D3DPOOL_DEFAULT,
                              D3DUSAGE_RENDERTARGET, lockable, nullptr);
  backBuffer_->lockable = lockable;
  if (!backBuffer_->store.Allocate(pp.BackBufferFormat, pp.BackBufferWidth, pp.BackBufferHeight))
    return D3DERR_OUTOFVIDEOMEMORY;
  if (pp.EnableAutoDepthStencil) {
    if (!autoDepth_)
      autoDepth_ = new Surface(link_, SurfaceKind::AutoDepth, D3DPOOL_DEFAULT,
                               D3DUSAGE_DEPTHSTENCIL, false, nullptr);
    autoDepth_->lockable = pp.AutoDepthStencilFormat == D3DFMT_D16_LOCKABLE;
    if (!autoDepth_->store.Allocate(pp.AutoDepthStencilFormat, pp.BackBufferWidth,
                                    pp.BackBufferHeight))
      return D3DERR_OUTOFVIDEOMEMORY;
  } else if (autoDepth_) {
    autoDepth_->DestroyLevel();
    autoDepth_ = nullptr;
  }
  return D3D_OK;
}

HRESULT Device::Initialize(const D3DPRESENT_PARAMETERS& pp) {
  pp_ = pp;
  HRESULT hr = CreateImplicitSurfaces(pp_);
  if (FAILED(hr)) return hr;
  SetDefaultState();
  return D3D_OK;
}

// The documented default state of a new or reset device.
void Device::SetDefaultState() {
  std::fill(std::begin(api_.rs), std::end(api_.rs), 0u);
  api_.rs[D3DRS_ZENABLE] = pp_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
  api_.rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  api_.rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  api_.rs[D3DRS_ZWRITEENABLE] = TRUE;
  api_.rs[D3DRS_LASTPIXEL] = TRUE;
  api_.rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  api_.rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  api_.rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  api_.rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  api_.rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  api_.rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
  api_.rs[D3DRS_FOGSTART] = FloatBits(0.f);
  api_.rs[D3DRS_FOGEND] = FloatBits(1.f);
  api_.rs[D3DRS_FOGDENSITY] = FloatBits(1.f);
  api_.rs[D3DRS_STENCILFAIL] = api_.rs[D3DRS_STENCILZFAIL] = api_.rs[D3DRS_STENCILPASS] =
      D3DSTENCILOP_KEEP;
  api_.rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  api_.rs[D3DRS_STENCILMASK] = api_.rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
  api_.rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  api_.rs[D3DRS_CLIPPING] = TRUE;
  api_.rs[D3DRS_LIGHTING] = TRUE;
  api_.rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
  api_.rs[D3DRS_COLORVERTEX] = TRUE;
  api_.rs[D3DRS_LOCALVIEWER] = TRUE;
  api_.rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  api_.rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  api_.rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  api_.rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  api_.rs[D3DRS_POINTSIZE] = FloatBits(1.f);
  api_.rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.f);
  api_.rs[D3DRS_POINTSCALE_A] = FloatBits(1.f);
  api_.rs[D3DRS_POINTSCALE_B] = FloatBits(0.f);
  api_.rs[D3DRS_POINTSCALE_C] = FloatBits(0.f);
  api_.rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
  api_.rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
  api_.rs[D3DRS_PATCHEDGESTYLE] = D3DPATCHEDGE_DISCRETE;
  api_.rs[D3DRS_POINTSIZE_MAX] = FloatBits(64.f);
  api_.rs[D3DRS_COLORWRITEENABLE] = 0xF;
  api_.rs[D3DRS_TWEENFACTOR] = FloatBits(0.f);
  api_.rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  api_.rs[D3DRS_POSITIONDEGREE] = D3DDEGREE_CUBIC;
  api_.rs[D3DRS_NORMALDEGREE] = D3DDEGREE_LINEAR;
  api_.rs[D3DRS_MINTESSELLATIONLEVEL] = FloatBits(1.f);
  api_.rs[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.f);
  api_.rs[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.f);
  api_.rs[D3DRS_CCW_STENCILFAIL] = api_.rs[D3DRS_CCW_STENCILZFAIL] =
      api_.rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
  api_.rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
  api_.rs[D3DRS_COLORWRITEENABLE1] = api_.rs[D3DRS_COLORWRITEENABLE2] =
      api_.rs[D3DRS_COLORWRITEENABLE3] = 0xF;
  api_.rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
  api_.rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
  api_.rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
  api_.rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

  for (int s = 0; s < 8; ++s) {
    DWORD* t = api_.tss[s];
    std::fill(t, t + 33, 0u);
    t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(s);
    t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
  }
  for (auto& s : api_.samp) {
    std::fill(s, s + 14, 0u);
    s[D3DSAMP_ADDRESSU] = s[D3DSAMP_ADDRESSV] = s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    s[D3DSAMP_MAGFILTER] = s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    s[D3DSAMP_MAXANISOTROPY] = 1;
  }
  api_.world = api_.view = api_.proj = Identity();
  for (auto& m : api_.texTransform) m = Identity();
  api_.material = D3DMATERIAL9{};
  api_.lights.clear();
  std::memset(api_.clipPlanes, 0, sizeof(api_.clipPlanes));
  ReleaseBindings();
  api_.fvf = 0;
  api_.layout = FvfLayout{};
  SafeRelease(api_.renderTarget);
  SafeRelease(api_.depthStencil);
  api_.renderTarget = backBuffer_;
  api_.renderTarget->AddRef();
  if (autoDepth_) {
    api_.depthStencil = autoDepth_;
    api_.depthStencil->AddRef();
  }
  api_.viewport = {0, 0, backBuffer_->store.width, backBuffer_->store.height, 0.f, 1.f};
  api_.scissor = {0, 0, static_cast<LONG>(backBuffer_->store.width),
                  static_cast<LONG>(backBuffer_->store.height)};
  Finish();
  ResetExecState(true);
}

// With the worker idle: drops the worker's bindings and, when `copy`, gives it the application's
// state.
void Device::ResetExecState(bool copy) {
  for (IDirect3DBaseTexture9* t : ex_.textures)
    if (t) AsTexture(t)->Unpin();
  for (StreamBinding& s : ex_.streams)
    if (s.buffer) s.buffer->Unpin();
  if (ex_.indices) ex_.indices->Unpin();
  if (ex_.renderTarget) ex_.renderTarget->Unpin();
  if (ex_.depthStencil) ex_.depthStencil->Unpin();
  ex_ = DeviceState{};
  if (copy) {
    ex_ = api_;
    for (IDirect3DBaseTexture9* t : ex_.textures)
      if (t) AsTexture(t)->Pin();
    for (StreamBinding& s : ex_.streams)
      if (s.buffer) s.buffer->Pin();
    if (ex_.indices) ex_.indices->Pin();
    if (ex_.renderTarget) ex_.renderTarget->Pin();
    if (ex_.depthStencil) ex_.depthStencil->Pin();
  }
  pixelDirty_ = matrixDirty_ = stagesDirty_ = true;
}

// --- Cooperative level, presentation parameters --------------------------------------------------

HRESULT Device::TestCooperativeLevel() {
  switch (health_) {
    case DeviceHealth::Ok:
      return D3D_OK;
    case DeviceHealth::Lost:
      return D3DERR_DEVICELOST;
    case DeviceHealth::NotReset:
      return D3DERR_DEVICENOTRESET;
  }
  return D3D_OK;
}

UINT Device::GetAvailableTextureMem() {
  return 512u * 1024u * 1024u;
}

HRESULT Device::GetDirect3D(IDirect3D9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  d3d_->AddRef();
  *out = d3d_;
  return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
  if (!caps) return D3DERR_INVALIDCALL;
  Direct3D::FillCaps(caps);
  return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swap, D3DDISPLAYMODE* mode) {
  if (swap != 0 || !mode) return D3DERR_INVALIDCALL;
  HRESULT hr = d3d_->GetAdapterDisplayMode(0, mode);
  if (SUCCEEDED(hr) && !pp_.Windowed) {
    mode->Width = pp_.BackBufferWidth;
    mode->Height = pp_.BackBufferHeight;
    mode->Format = pp_.BackBufferFormat;
  }
  return hr;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) {
  if (!p) return D3DERR_INVALIDCALL;
  p->AdapterOrdinal = 0;
  p->DeviceType = D3DDEVTYPE_HAL;
  p->hFocusWindow = focusWindow_;
  p->BehaviorFlags = behavior_;
  return D3D_OK;
}

HRESULT Device::SetCursorProperties(UINT, UINT, IDirect3DSurface9* s) {
  return s ? D3D_OK : D3DERR_INVALIDCALL;
}

BOOL Device::ShowCursor(BOOL show) {
  BOOL old = cursorShown_;
  cursorShown_ = show != FALSE;
  return old;
}

HRESULT Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT Device::GetSwapChain(UINT, IDirect3DSwapChain9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

// Reset keeps the implicit surfaces (resized) and returns every state to its default, as Direct3D
// does. It is refused while the app still holds default-pool resources of its own.
HRESULT Device::Reset(D3DPRESENT_PARAMETERS* pp) {
  if (!pp) return D3DERR_INVALIDCALL;
  if (health_ == DeviceHealth::Lost) return D3DERR_DEVICELOST;
  // Resources the worker still pinned may have been released by the application: they go now,
  // before the count of live default-pool resources is read.
  CompletePresent(true);
  Finish();
  if (liveDefaultPool_ > 0) {
    health_ = DeviceHealth::NotReset;
    return D3DERR_INVALIDCALL;
  }
  D3DPRESENT_PARAMETERS resolved = *pp;
  if (!ResolvePresentParameters(&resolved)) {
    health_ = DeviceHealth::NotReset;
    return D3DERR_INVALIDCALL;
  }
  pp_ = resolved;
  HRESULT hr = CreateImplicitSurfaces(pp_);
  if (FAILED(hr)) {
    health_ = DeviceHealth::NotReset;
    return hr;
  }
  *pp = resolved;
  inScene_ = false;
  health_ = DeviceHealth::Ok;
  SetDefaultState();
  NoteReset();
  return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swap, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (swap != 0 || index >= pp_.BackBufferCount) return D3DERR_INVALIDCALL;
  backBuffer_->AddRef();
  *out = backBuffer_;
  return D3D_OK;
}

HRESULT Device::GetRasterStatus(UINT swap, D3DRASTER_STATUS* s) {
  if (swap != 0 || !s) return D3DERR_INVALIDCALL;
  s->InVBlank = FALSE;
  s->ScanLine = 0;
  return D3D_OK;
}

void Device::GetGammaRamp(UINT, D3DGAMMARAMP* ramp) {
  if (!ramp) return;
  for (int i = 0; i < 256; ++i)
    ramp->red[i] = ramp->green[i] = ramp->blue[i] = static_cast<WORD>(i * 257);
}

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

HRESULT Device::CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                  IDirect3DCubeTexture9** out, HANDLE*) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || length == 0 || pool > D3DPOOL_SCRATCH || length > (1u << 28))
    return D3DERR_INVALIDCALL;
  if (fvf && !FvfLayout::From(fvf).valid) return D3DERR_INVALIDCALL;
  *out = new VertexBuffer(link_, D3DRTYPE_VERTEXBUFFER, pool, usage, length, fvf);
  return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || length == 0 || pool > D3DPOOL_SCRATCH || length > (1u << 28) ||
      (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  *out = new IndexBuffer(link_, D3DRTYPE_INDEXBUFFER, pool, usage, length, format);
  return D3D_OK;
}

HRESULT Device::CreateRenderTarget(UINT w, UINT h, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms, DWORD,
                                   BOOL lockable, IDirect3DSurface9** out, HANDLE* shared) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (shared || ms != D3DMULTISAMPLE_NONE || !IsRenderTargetFormat(format))
    return D3DERR_INVALIDCALL;
  auto* s = new Surface(link_, SurfaceKind::RenderTarget, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
                        lockable != FALSE, nullptr);
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
                        format == D3DFMT_D16_LOCKABLE, nullptr);
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
  auto* s = new Surface(link_, SurfaceKind::Plain, pool, 0, true, nullptr);
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
  auto* c = Record<CmdStretch>(kOpStretchRect);
  src->Pin();
  dst->Pin();
  *c = CmdStretch{src, dst, sr, dr, filter};
  return D3D_OK;
}

void Device::ExecStretchRect(Surface* src, const RECT& sr, Surface* dst, const RECT& dr,
                             D3DTEXTUREFILTERTYPE filter) {
  const SurfaceStore& s = src->store;
  SurfaceStore& d = dst->store;
  int sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  int dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  if (filter == D3DTEXF_LINEAR && (sw != dw || sh != dh)) {
    // Bilinear, sampling the source at the destination pixel centres, clamped to the rectangle.
    for (int y = 0; y < dh; ++y) {
      float fy =
          (static_cast<float>(y) + 0.5f) * static_cast<float>(sh) / static_cast<float>(dh) - 0.5f;
      fy = std::clamp(fy, 0.f, static_cast<float>(sh - 1));
      int y0 = static_cast<int>(fy), y1 = std::min(sh - 1, y0 + 1);
      int wy = static_cast<int>(std::lround((fy - static_cast<float>(y0)) * 256.f));
      uint8_t* drow = d.Row(dr.top + y);
      for (int x = 0; x < dw; ++x) {
        float fx =
            (static_cast<float>(x) + 0.5f) * static_cast<float>(sw) / static_cast<float>(dw) - 0.5f;
        fx = std::clamp(fx, 0.f, static_cast<float>(sw - 1));
        int x0 = static_cast<int>(fx), x1 = std::min(sw - 1, x0 + 1);
        int wx = static_cast<int>(std::lround((fx - static_cast<float>(x0)) * 256.f));
        uint32_t c00 = ReadPixelArgb(s.format, s.Row(sr.top + y0) + (sr.left + x0) * s.bpp);
        uint32_t c10 = ReadPixelArgb(s.format, s.Row(sr.top + y0) + (sr.left + x1) * s.bpp);
        uint32_t c01 = ReadPixelArgb(s.format, s.Row(sr.top + y1) + (sr.left + x0) * s.bpp);
        uint32_t c11 = ReadPixelArgb(s.format, s.Row(sr.top + y1) + (sr.left + x1) * s.bpp);
        uint32_t out = 0;
        for (int c = 0; c < 32; c += 8) {
          int top = static_cast<int>((c00 >> c) & 255) * (256 - wx) +
                    static_cast<int>((c10 >> c) & 255) * wx;
          int bot = static_cast<int>((c01 >> c) & 255) * (256 - wx) +
                    static_cast<int>((c11 >> c) & 255) * wx;
          out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << c;
        }
        WritePixelArgb(d.format, drow + (dr.left + x) * d.bpp, out);
      }
    }
    return;
  }
  // Point sampling: destination pixel x takes source column floor((x + 0.5) * sw / dw), computed
  // exactly in integers so the fast and general paths agree.
  stretchCols_.resize(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x)
    stretchCols_[x] = static_cast<uint32_t>(
        sr.left + static_cast<int>((static_cast<int64_t>(2 * x + 1) * sw) / (2 * dw)));
  // 32-bit ARGB and XRGB copy each other as words; an X format on either side makes alpha opaque,
  // exactly as reading and writing through the format would.
  auto argb32 = [](D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; };
  bool words = argb32(s.format) && argb32(d.format) && !g_disableFastPaths;
  uint32_t orMask = (s.format == D3DFMT_X8R8G8B8 || d.format == D3DFMT_X8R8G8B8) ? 0xFF000000u : 0u;
  bool same = (s.format == d.format || words) && !g_disableFastPaths;
  int lastSy = -1;
  for (int y = 0; y < dh; ++y) {
    int sy = sr.top + static_cast<int>((static_cast<int64_t>(2 * y + 1) * sh) / (2 * dh));
    uint8_t* drow = d.Row(dr.top + y) + static_cast<size_t>(dr.left) * d.bpp;
    if (same && sy == lastSy) {
      // Rows that repeat a source row copy the previous destination row.
      std::memcpy(drow, d.Row(dr.top + y - 1) + static_cast<size_t>(dr.left) * d.bpp,
                  static_cast<size_t>(dw) * d.bpp);
      continue;
    }
    lastSy = sy;
    const uint8_t* srow = s.Row(sy);
    if (same && d.bpp == 4) {
      auto* out = reinterpret_cast<uint32_t*>(drow);
      const auto* in = reinterpret_cast<const uint32_t*>(srow);
      for (int x = 0; x < dw; ++x) out[x] = in[stretchCols_[x]] | orMask;
    } else if (same) {
      for (int x = 0; x < dw; ++x)
        std::memcpy(drow + static_cast<size_t>(x) * d.bpp, srow + stretchCols_[x] * s.bpp, d.bpp);
    } else {
      for (int x = 0; x < dw; ++x)
        WritePixelArgb(d.format, drow + static_cast<size_t>(x) * d.bpp,
                       ReadPixelArgb(s.format, srow + stretchCols_[x] * s.bpp));
    }
  }
  return;
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

void Device::ExecColorFill(Surface* s, const RECT& r, D3DCOLOR color) {
  uint8_t px[4];
  WritePixelArgb(s->store.format, px, color);
  for (LONG y = r.top; y < r.bottom; ++y) {
    uint8_t* row = s->store.Row(y) + static_cast<size_t>(r.left) * s->store.bpp;
    if (s->store.bpp == 4) {
      uint32_t v;
      std::memcpy(&v, px, 4);
      std::fill_n(reinterpret_cast<uint32_t*>(row), r.right - r.left, v);
    } else {
      for (LONG x = r.left; x < r.right; ++x, row += s->store.bpp)
        std::memcpy(row, px, s->store.bpp);
    }
  }
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

void Device::ExecRenderTarget(Surface* rt) {
  ExecUnpin(ex_.renderTarget);
  ex_.renderTarget = rt;
  ex_.viewport = {0, 0, rt->store.width, rt->store.height, 0.f, 1.f};
  ex_.scissor = {0, 0, static_cast<LONG>(rt->store.width), static_cast<LONG>(rt->store.height)};
  pixelDirty_ = matrixDirty_ = true;
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

// --- Scene ---------------------------------------------------------------------------------------

HRESULT Device::BeginScene() {
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  return D3D_OK;
}

HRESULT Device::EndScene() {
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return D3D_OK;
}

// Clears the rectangles (or the whole viewport), each clipped to the viewport.
HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
  if (count > 0 && !rects) return D3DERR_INVALIDCALL;
  if (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) return D3DERR_INVALIDCALL;
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !api_.depthStencil)
    return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_STENCIL) && api_.depthStencil->store.format != D3DFMT_D24S8)
    return D3DERR_INVALIDCALL;
  if (!std::isfinite(z) || z < 0.f || z > 1.f) return D3DERR_INVALIDCALL;
  if (count > 1u << 20) return D3DERR_INVALIDCALL;
  if (health_ != DeviceHealth::Ok) return D3D_OK;
  auto* c = Record<CmdClear>(kOpClear, count * sizeof(D3DRECT));
  *c = CmdClear{count, flags, color, z, stencil};
  if (count) std::memcpy(c + 1, rects, count * sizeof(D3DRECT));
  return D3D_OK;
}

void Device::ExecClear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                       DWORD stencil) {
  SurfaceStore& rt = ex_.renderTarget->store;
  LONG vx0 = static_cast<LONG>(ex_.viewport.X), vy0 = static_cast<LONG>(ex_.viewport.Y);
  LONG vx1 =
      std::min<LONG>(vx0 + static_cast<LONG>(ex_.viewport.Width), static_cast<LONG>(rt.width));
  LONG vy1 =
      std::min<LONG>(vy0 + static_cast<LONG>(ex_.viewport.Height), static_cast<LONG>(rt.height));
  D3DRECT whole{vx0, vy0, vx1, vy1};
  if (count == 0) {
    rects = &whole;
    count = 1;
  }
  uint8_t cpx[4] = {};
  WritePixelArgb(rt.format, cpx, color);
  uint32_t c32;
  std::memcpy(&c32, cpx, 4);
  uint32_t dval = 0;
  SurfaceStore* ds = ex_.depthStencil ? &ex_.depthStencil->store : nullptr;
  if (ds) {
    switch (ds->bpp) {
      case 2:
        dval = static_cast<uint32_t>(std::lround(z * 65535.f));
        break;
      default:
        if (ds->format == D3DFMT_D32)
          dval = static_cast<uint32_t>(std::llround(static_cast<double>(z) * 4294967295.0));
        else
          dval = (static_cast<uint32_t>(std::lround(static_cast<double>(z) * 16777215.0)) << 8) |
                 (stencil & 0xFF);
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    LONG x0 = std::max(rects[i].x1, vx0), y0 = std::max(rects[i].y1, vy0);
    LONG x1 = std::min(rects[i].x2, vx1), y1 = std::min(rects[i].y2, vy1);
    if (x0 >= x1 || y0 >= y1) continue;
    size_t w = static_cast<size_t>(x1 - x0);
    // The first row of a rectangle is filled pixel by pixel and copied to the others: the
    // library copy is several times faster than the element loop.
    if (flags & D3DCLEAR_TARGET) {
      const uint8_t* first = rt.Row(y0) + static_cast<size_t>(x0) * rt.bpp;
      for (LONG y = y0; y < y1; ++y) {
        uint8_t* row = rt.Row(y) + static_cast<size_t>(x0) * rt.bpp;
        if (y > y0)
          std::memcpy(row, first, w * rt.bpp);
        else if (rt.bpp == 4)
          std::fill_n(reinterpret_cast<uint32_t*>(row), w, c32);
        else
          for (size_t x = 0; x < w; ++x) std::memcpy(row + x * rt.bpp, cpx, rt.bpp);
      }
    }
    if (ds && (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
      LONG dx1 = std::min<LONG>(x1, static_cast<LONG>(ds->width));
      LONG dy1 = std::min<LONG>(y1, static_cast<LONG>(ds->height));
      for (LONG y = y0; y < dy1; ++y) {
        if (x0 >= dx1) break;
        uint8_t* row = ds->Row(y) + static_cast<size_t>(x0) * ds->bpp;
        size_t dw = static_cast<size_t>(dx1 - x0);
        if (ds->bpp == 2) {
          if (y > y0)
            std::memcpy(row, ds->Row(y0) + static_cast<size_t>(x0) * 2, dw * 2);
          else
            std::fill_n(reinterpret_cast<uint16_t*>(row), dw, static_cast<uint16_t>(dval));
        } else {
          auto* p = reinterpret_cast<uint32_t*>(row);
          for (size_t x = 0; x < dw; ++x) {
            uint32_t v = p[x];
            if (flags & D3DCLEAR_ZBUFFER)
              v = ds->format == D3DFMT_D32 ? dval : ((dval & ~0xFFu) | (v & 0xFF));
            if (flags & D3DCLEAR_STENCIL) v = (v & ~0xFFu) | (stencil & 0xFF);
            p[x] = v;
          }
        }
      }
    }
  }
}

// --- Transforms, viewport, material, lights ------------------------------------------------------

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  switch (static_cast<DWORD>(state)) {
    case D3DTS_VIEW:
      api_.view = *m;
      break;
    case D3DTS_PROJECTION:
      api_.proj = *m;
      break;
    case 256:
      api_.world = *m;
      break;
    default:
      if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
        api_.texTransform[state - D3DTS_TEXTURE0] = *m;
        break;
      }
      // Other world matrices (vertex blending) are accepted and not used.
      if (static_cast<DWORD>(state) > 256 && static_cast<DWORD>(state) < 512) return D3D_OK;
      return D3DERR_INVALIDCALL;
  }
  *Record<CmdTransform>(kOpTransform) = CmdTransform{static_cast<DWORD>(state), *m};
  return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  switch (static_cast<DWORD>(state)) {
    case D3DTS_VIEW:
      *m = api_.view;
      return D3D_OK;
    case D3DTS_PROJECTION:
      *m = api_.proj;
      return D3D_OK;
    case 256:
      *m = api_.world;
      return D3D_OK;
    default:
      if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
        *m = api_.texTransform[state - D3DTS_TEXTURE0];
        return D3D_OK;
      }
      if (static_cast<DWORD>(state) > 256 && static_cast<DWORD>(state) < 512) {
        *m = Identity();
        return D3D_OK;
      }
      return D3DERR_INVALIDCALL;
  }
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  D3DMATRIX cur;
  HRESULT hr = GetTransform(state, &cur);
  if (FAILED(hr)) return hr;
  D3DMATRIX out{};
  // Direct3D pre-multiplies: the new matrix is m * current.
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += m->m[i][k] * cur.m[k][j];
      out.m[i][j] = s;
    }
  return SetTransform(state, &out);
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* vp) {
  if (!vp) return D3DERR_INVALIDCALL;
  const SurfaceStore& rt = api_.renderTarget->store;
  if (vp->Width == 0 || vp->Height == 0 || vp->X >= rt.width || vp->Y >= rt.height ||
      vp->Width > rt.width - vp->X || vp->Height > rt.height - vp->Y)
    return D3DERR_INVALIDCALL;
  if (!(vp->MinZ >= 0.f && vp->MinZ <= 1.f && vp->MaxZ >= 0.f && vp->MaxZ <= 1.f))
    return D3DERR_INVALIDCALL;
  api_.viewport = *vp;
  Record<CmdViewport>(kOpViewport)->vp = *vp;
  return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* vp) {
  if (!vp) return D3DERR_INVALIDCALL;
  *vp = api_.viewport;
  return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* m) {
  if (!m) return D3DERR_INVALIDCALL;
  api_.material = *m;
  Record<CmdMaterial>(kOpMaterial)->m = *m;
  return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* m) {
  if (!m) return D3DERR_INVALIDCALL;
  *m = api_.material;
  return D3D_OK;
}

namespace {
constexpr DWORD kMaxLightIndex = 4096;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* l) {
  if (!l || index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
  if (l->Type < D3DLIGHT_POINT || l->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
  if (api_.lights.size() <= index) api_.lights.resize(index + 1, LightSlot{D3DLIGHT9{}, false});
  api_.lights[index].light = *l;
  *Record<CmdLight>(kOpLight) = CmdLight{index, *l, FALSE};
  return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* l) {
  if (!l || index >= api_.lights.size() || api_.lights[index].light.Type == 0)
    return D3DERR_INVALIDCALL;
  *l = api_.lights[index].light;
  return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
  if (index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
  if (api_.lights.size() <= index) api_.lights.resize(index + 1, LightSlot{D3DLIGHT9{}, false});
  LightSlot& s = api_.lights[index];
  // Enabling a light that was never set gives it the default directional light.
  if (s.light.Type == 0) {
    s.light.Type = D3DLIGHT_DIRECTIONAL;
    s.light.Diffuse = {1.f, 1.f, 1.f, 0.f};
    s.light.Direction = {0.f, 0.f, 1.f};
  }
  s.enabled = enable != FALSE;
  *Record<CmdLight>(kOpLightEnable) = CmdLight{index, s.light, enable};
  return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
  if (!enable || index >= api_.lights.size() || api_.lights[index].light.Type == 0)
    return D3DERR_INVALIDCALL;
  *enable = api_.lights[index].enabled ? 128 : FALSE;  // Direct3D reports TRUE as 128
  return D3D_OK;
}

HRESULT Device::SetClipPlane(DWORD index, const float* plane) {
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  std::memcpy(api_.clipPlanes[index], plane, sizeof(api_.clipPlanes[index]));
  auto* c = Record<CmdClipPlane>(kOpClipPlane);
  c->index = index;
  std::memcpy(c->plane, plane, sizeof(c->plane));
  return D3D_OK;
}

HRESULT Device::GetClipPlane(DWORD index, float* plane) {
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  std::memcpy(plane, api_.clipPlanes[index], sizeof(api_.clipPlanes[index]));
  return D3D_OK;
}

// --- States --------------------------------------------------------------------------------------

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  DWORD i = static_cast<DWORD>(state);
  if (i >= 256) return D3DERR_INVALIDCALL;
  if (api_.rs[i] == value) return D3D_OK;
  api_.rs[i] = value;
  *Record<CmdState>(kOpRenderState) = CmdState{i, value, 0};
  return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  DWORD i = static_cast<DWORD>(state);
  if (!value || i >= 256) return D3DERR_INVALIDCALL;
  *value = api_.rs[i];
  return D3D_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Device::BeginStateBlock() {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::EndStateBlock(IDirect3DStateBlock9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT Device::SetClipStatus(const D3DCLIPSTATUS9* s) {
  if (!s) return D3DERR_INVALIDCALL;
  clipStatus_ = *s;
  return D3D_OK;
}

HRESULT Device::GetClipStatus(D3DCLIPSTATUS9* s) {
  if (!s) return D3DERR_INVALIDCALL;
  *s = clipStatus_;
  return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** out) {
  if (!out || stage >= 8) return D3DERR_INVALIDCALL;
  *out = api_.textures[stage];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* t) {
  if (stage >= 8) {
    // Displacement-map and vertex-texture samplers exist in the interface but sample nothing here.
    return stage >= D3DDMAPSAMPLER && stage <= D3DVERTEXTEXTURESAMPLER3 ? D3D_OK
                                                                        : D3DERR_INVALIDCALL;
  }
  // Rebinding the bound texture (the sprite pass does it per quad) needs no type check: it
  // passed one when it was bound.
  if (api_.textures[stage] == t) return D3D_OK;
  if (t && !AsTexture(t)) return D3DERR_INVALIDCALL;
  if (t) t->AddRef();
  SafeRelease(api_.textures[stage]);
  api_.textures[stage] = t;
  Texture* texture = t ? AsTexture(t) : nullptr;
  if (texture) texture->Pin();
  auto* c = Record<CmdBind>(kOpTexture);
  c->slot = stage;
  c->object = texture;
  return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  if (!value || stage >= 8 || static_cast<DWORD>(type) >= 33) return D3DERR_INVALIDCALL;
  *value = api_.tss[stage][type];
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  if (stage >= 8 || static_cast<DWORD>(type) >= 33) return D3DERR_INVALIDCALL;
  if (api_.tss[stage][type] == value) return D3D_OK;
  api_.tss[stage][type] = value;
  *Record<CmdState>(kOpStageState) = CmdState{stage, static_cast<DWORD>(type), value};
  return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  if (!value || static_cast<DWORD>(type) >= 14) return D3DERR_INVALIDCALL;
  if (sampler >= D3DDMAPSAMPLER) sampler = sampler - D3DDMAPSAMPLER + 8;
  if (sampler >= 16) return D3DERR_INVALIDCALL;
  *value = api_.samp[sampler][type];
  return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (static_cast<DWORD>(type) >= 14) return D3DERR_INVALIDCALL;
  if (sampler >= D3DDMAPSAMPLER) sampler = sampler - D3DDMAPSAMPLER + 8;
  if (sampler >= 16) return D3DERR_INVALIDCALL;
  if (api_.samp[sampler][type] == value) return D3D_OK;
  api_.samp[sampler][type] = value;
  *Record<CmdState>(kOpSamplerState) = CmdState{sampler, static_cast<DWORD>(type), value};
  return D3D_OK;
}

HRESULT Device::ValidateDevice(DWORD* passes) {
  if (!passes) return D3DERR_INVALIDCALL;
  *passes = 1;
  return D3D_OK;
}

HRESULT Device::SetPaletteEntries(UINT, const PALETTEENTRY*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetPaletteEntries(UINT, PALETTEENTRY*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetCurrentTexturePalette(UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetCurrentTexturePalette(UINT*) {
  return D3DERR_INVALIDCALL;
}

HRESULT Device::SetScissorRect(const RECT* r) {
  if (!r) return D3DERR_INVALIDCALL;
  api_.scissor = *r;
  Record<CmdRect>(kOpScissor)->r = *r;
  return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* r) {
  if (!r) return D3DERR_INVALIDCALL;
  *r = api_.scissor;
  return D3D_OK;
}

HRESULT Device::SetSoftwareVertexProcessing(BOOL sw) {
  if (!(behavior_ & D3DCREATE_MIXED_VERTEXPROCESSING) &&
      (sw != FALSE) != ((behavior_ & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0))
    return D3DERR_INVALIDCALL;
  softwareVp_ = sw ? TRUE : FALSE;
  return D3D_OK;
}

HRESULT Device::SetNPatchMode(float n) {
  nPatch_ = n;
  return D3D_OK;
}

// --- Streams and declarations --------------------------------------------------------------------

HRESULT Device::SetFVF(DWORD fvf) {
  if (fvf == api_.fvf) return D3D_OK;
  FvfLayout l = FvfLayout::From(fvf);
  if (fvf && !l.valid) return D3DERR_INVALIDCALL;
  api_.fvf = fvf;
  api_.layout = l;
  Record<CmdBind>(kOpFvf)->value = fvf;
  return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
  if (!fvf) return D3DERR_INVALIDCALL;
  *fvf = api_.fvf;
  return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT n, IDirect3DVertexBuffer9* vbI, UINT offset, UINT stride) {
  if (n >= 16) return D3DERR_INVALIDCALL;
  VertexBuffer* vb = nullptr;
  if (vbI) {
    vb = AsVertexBuffer(vbI);
    if (!vb) return D3DERR_INVALIDCALL;
    vb->AddRef();
  }
  if (api_.streams[n].buffer) api_.streams[n].buffer->Release();
  api_.streams[n].buffer = vb;
  api_.streams[n].offset = offset;
  api_.streams[n].stride = stride;
  if (vb) vb->Pin();
  *Record<CmdBind>(kOpStream) = CmdBind{n, vb, offset, stride, 0};
  return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT n, IDirect3DVertexBuffer9** out, UINT* offset, UINT* stride) {
  if (n >= 16 || !out || !offset || !stride) return D3DERR_INVALIDCALL;
  *out = api_.streams[n].buffer;
  if (*out) (*out)->AddRef();
  *offset = api_.streams[n].offset;
  *stride = api_.streams[n].stride;
  return D3D_OK;
}

HRESULT Device::SetStreamSourceFreq(UINT n, UINT setting) {
  if (n >= 16) return D3DERR_INVALIDCALL;
  api_.streams[n].freq = setting;
  return D3D_OK;
}

HRESULT Device::GetStreamSourceFreq(UINT n, UINT* setting) {
  if (n >= 16 || !setting) return D3DERR_INVALIDCALL;
  *setting = api_.streams[n].freq;
  return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* ibI) {
  IndexBuffer* ib = nullptr;
  if (ibI) {
    ib = AsIndexBuffer(ibI);
    if (!ib) return D3DERR_INVALIDCALL;
    ib->AddRef();
  }
  if (api_.indices) api_.indices->Release();
  api_.indices = ib;
  if (ib) ib->Pin();
  Record<CmdBind>(kOpIndices)->object = ib;
  return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = api_.indices;
  if (api_.indices) api_.indices->AddRef();
  return D3D_OK;
}

// Programmable stages, declarations and patches are not part of this device yet: the interface
// answers D3DERR_INVALIDCALL (or accepts clearing the slot).
HRESULT Device::ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*,
                                IDirect3DVertexDeclaration9*, DWORD) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9** o) {
  if (o) *o = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* d) {
  return d ? D3DERR_INVALIDCALL : D3D_OK;
}
HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** d) {
  if (!d) return D3DERR_INVALIDCALL;
  *d = nullptr;
  return D3D_OK;
}
HRESULT Device::CreateVertexShader(const DWORD*, IDirect3DVertexShader9** o) {
  if (o) *o = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetVertexShader(IDirect3DVertexShader9* s) {
  return s ? D3DERR_INVALIDCALL : D3D_OK;
}
HRESULT Device::GetVertexShader(IDirect3DVertexShader9** s) {
  if (!s) return D3DERR_INVALIDCALL;
  *s = nullptr;
  return D3D_OK;
}
HRESULT Device::SetVertexShaderConstantF(UINT, const float*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetVertexShaderConstantF(UINT, float*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetVertexShaderConstantI(UINT, const int*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetVertexShaderConstantI(UINT, int*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetVertexShaderConstantB(UINT, const BOOL*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetVertexShaderConstantB(UINT, BOOL*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::CreatePixelShader(const DWORD*, IDirect3DPixelShader9** o) {
  if (o) *o = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetPixelShader(IDirect3DPixelShader9* s) {
  return s ? D3DERR_INVALIDCALL : D3D_OK;
}
HRESULT Device::GetPixelShader(IDirect3DPixelShader9** s) {
  if (!s) return D3DERR_INVALIDCALL;
  *s = nullptr;
  return D3D_OK;
}
HRESULT Device::SetPixelShaderConstantF(UINT, const float*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetPixelShaderConstantF(UINT, float*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetPixelShaderConstantI(UINT, const int*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetPixelShaderConstantI(UINT, int*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetPixelShaderConstantB(UINT, const BOOL*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetPixelShaderConstantB(UINT, BOOL*, UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::DeletePatch(UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** o) {
  if (o) *o = nullptr;
  return D3DERR_NOTAVAILABLE;
}

}  // namespace d3d9
