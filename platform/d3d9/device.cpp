// IDirect3DDevice9: creation and destruction, the default state, the cooperative level, Reset
// and what the device tells about itself.
#include "d3d9/device.h"

#include <algorithm>
#include <cmath>

#include "automation.h"
#include "d3d9/commands.h"
#include "d3d9/d3d9_index_buffer.h"
#include "d3d9/d3d9_texture.h"
#include "d3d9/d3d9_vertex_buffer.h"
#include "d3d9/d3d9_shader.h"
#include "d3d9/d3d9_vertex_declaration.h"
#include "d3d9/pixel_format.h"
#include "win32/win32_internal.h"

namespace d3d9 {

void NoteDefaultPoolResource(Device* device, int delta) {
  if (delta > 0)
    device->DefaultPoolCreated();
  else
    device->DefaultPoolDestroyed();
}

void FinishDeviceWork(Device* device) {
  device->Finish();
}

IDirect3DDevice9* DeviceInterface(Device* device) {
  return device;
}

namespace {

bool IsBackBufferFormat(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
         f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A2R10G10B10;
}

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
  pipeline_.Reset(nullptr);
  queue_.UnpinReleased();
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
  SafeRelease(api_.declaration);
  SafeRelease(api_.vertexShader);
  SafeRelease(api_.pixelShader);
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
  if (!IsBackBufferFormat(pp->BackBufferFormat)) return false;
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
                              D3DUSAGE_RENDERTARGET, lockable, nullptr, nullptr);
  backBuffer_->lockable = lockable;
  if (!backBuffer_->store.Allocate(pp.BackBufferFormat, pp.BackBufferWidth, pp.BackBufferHeight))
    return D3DERR_OUTOFVIDEOMEMORY;
  if (pp.EnableAutoDepthStencil) {
    if (!autoDepth_)
      autoDepth_ = new Surface(link_, SurfaceKind::AutoDepth, D3DPOOL_DEFAULT,
                               D3DUSAGE_DEPTHSTENCIL, false, nullptr, nullptr);
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
  api_.layout = VertexLayout{};
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
  pipeline_.Reset(&api_);
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

}  // namespace d3d9
