// Direct3DCreate9 and IDirect3D9: one adapter whose display modes are SDL's.
#include <algorithm>
#include <cstdio>

#include "automation.h"
#include "d3d9/device.h"
#include "d3d9/pixel_format.h"
#include "d3d9/pipeline/vertex_processing.h"
#include "win32/win32_internal.h"

namespace d3d9 {

namespace {

bool IsDisplayFormat(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5;
}

bool IsBackBufferFormat(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
         f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A2R10G10B10;
}

bool IsTextureFormat(D3DFORMAT f) {
  return FormatIsColour(f);
}

}  // namespace

Direct3D::Direct3D() {
  // Present copies into the window's own framebuffer; SDL's accelerated framebuffer (a renderer
  // behind the window surface) costs milliseconds per update on software GL.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  videoReady_ = Win32StartVideo();
  if (!videoReady_) return;
  auto add = [&](const SDL_DisplayMode& m) {
    if (m.w <= 0 || m.h <= 0) return;
    D3DDISPLAYMODE d{static_cast<UINT>(m.w), static_cast<UINT>(m.h),
                     static_cast<UINT>(m.refresh_rate > 0 ? m.refresh_rate : 60), D3DFMT_X8R8G8B8};
    bool dup = std::any_of(modes_.begin(), modes_.end(), [&](const D3DDISPLAYMODE& e) {
      return e.Width == d.Width && e.Height == d.Height && e.RefreshRate == d.RefreshRate;
    });
    if (!dup) modes_.push_back(d);
  };
  int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) == 0) add(m);
  }
  // Some drivers (the offscreen one among them) list no usable mode: the desktop is one.
  SDL_DisplayMode desktop;
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) add(desktop);
  // SDL lists modes largest first; Direct3D lists them smallest first.
  std::sort(modes_.begin(), modes_.end(), [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    if (a.Width != b.Width) return a.Width < b.Width;
    if (a.Height != b.Height) return a.Height < b.Height;
    return a.RefreshRate < b.RefreshRate;
  });
}

Direct3D::~Direct3D() {
  if (videoReady_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

HRESULT Direct3D::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* id) {
  if (adapter != 0 || !id) return D3DERR_INVALIDCALL;
  std::memset(id, 0, sizeof(*id));
  std::snprintf(id->Driver, sizeof(id->Driver), "vexa_d3d9");
  std::snprintf(id->Description, sizeof(id->Description), "Vexa CPU rasterizer on SDL2");
  std::snprintf(id->DeviceName, sizeof(id->DeviceName), "\\\\.\\DISPLAY1");
  id->DriverVersion.QuadPart = 0x0009000000000000LL;
  id->DeviceIdentifier = {
      0x7665786a, 0x6433, 0x6439, {0x63, 0x70, 0x75, 0x72, 0x61, 0x73, 0x74, 0x72}};
  id->WHQLLevel = 1;
  return D3D_OK;
}

UINT Direct3D::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
  if (adapter != 0 || !IsDisplayFormat(format)) return 0;
  if (AutomationFaultActive(AutomationFault::NoDisplayModes)) return 0;
  return static_cast<UINT>(modes_.size());
}

HRESULT Direct3D::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
  if (AutomationFaultActive(AutomationFault::EnumAdapterModes)) return D3DERR_INVALIDCALL;
  if (!out || adapter != 0) return D3DERR_INVALIDCALL;
  if (!IsDisplayFormat(format)) return D3DERR_NOTAVAILABLE;
  if (mode >= GetAdapterModeCount(adapter, format)) return D3DERR_INVALIDCALL;
  *out = modes_[mode];
  out->Format = format;
  return D3D_OK;
}

HRESULT Direct3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) {
  if (AutomationFaultActive(AutomationFault::GetAdapterDisplayMode)) return D3DERR_INVALIDCALL;
  if (!out || adapter != 0 || !videoReady_) return D3DERR_INVALIDCALL;
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) != 0) return D3DERR_NOTAVAILABLE;
  out->Width = static_cast<UINT>(m.w);
  out->Height = static_cast<UINT>(m.h);
  out->RefreshRate = static_cast<UINT>(m.refresh_rate > 0 ? m.refresh_rate : 60);
  out->Format = D3DFMT_X8R8G8B8;
  return D3D_OK;
}

HRESULT Direct3D::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                  D3DFORMAT backFormat, BOOL) {
  if (AutomationFaultActive(AutomationFault::CheckDeviceType)) return D3DERR_NOTAVAILABLE;
  if (adapter != 0) return D3DERR_INVALIDCALL;
  if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
  if (!IsDisplayFormat(displayFormat)) return D3DERR_NOTAVAILABLE;
  if (backFormat != D3DFMT_UNKNOWN && !IsBackBufferFormat(backFormat)) return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

// What the device can make of each format for each use, answered from the same predicates the
// creation calls check.
HRESULT Direct3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                    DWORD usage, D3DRESOURCETYPE rtype, D3DFORMAT format) {
  if (adapter != 0) return D3DERR_INVALIDCALL;
  if (type != D3DDEVTYPE_HAL || !IsDisplayFormat(displayFormat)) return D3DERR_NOTAVAILABLE;
  const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC |
                      D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_QUERY_FILTER |
                      D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_QUERY_WRAPANDMIP |
                      D3DUSAGE_QUERY_LEGACYBUMPMAP | D3DUSAGE_QUERY_SRGBREAD |
                      D3DUSAGE_QUERY_SRGBWRITE | D3DUSAGE_QUERY_VERTEXTEXTURE;
  if (usage & ~known) return D3DERR_NOTAVAILABLE;
  // Not supported: gamma-correct reads and writes, bump maps, vertex textures.
  if (usage & (D3DUSAGE_QUERY_SRGBREAD | D3DUSAGE_QUERY_SRGBWRITE | D3DUSAGE_QUERY_LEGACYBUMPMAP |
               D3DUSAGE_QUERY_VERTEXTEXTURE))
    return D3DERR_NOTAVAILABLE;
  if (usage & D3DUSAGE_DEPTHSTENCIL) {
    if (format == D3DFMT_D16 && AutomationFaultActive(AutomationFault::DepthFormatD16))
      return D3DERR_NOTAVAILABLE;
    if (!FormatIsDepth(format) || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP)))
      return D3DERR_NOTAVAILABLE;
    // Depth textures are not sampled: depth-stencil formats make surfaces only.
    return rtype == D3DRTYPE_SURFACE ? D3D_OK : D3DERR_NOTAVAILABLE;
  }
  switch (rtype) {
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE:
      break;
    case D3DRTYPE_VERTEXBUFFER:
      return format == D3DFMT_VERTEXDATA && !(usage & ~D3DUSAGE_DYNAMIC) ? D3D_OK
                                                                         : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_INDEXBUFFER:
      return (format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32) && !(usage & ~D3DUSAGE_DYNAMIC)
                 ? D3D_OK
                 : D3DERR_NOTAVAILABLE;
    default:
      return D3DERR_NOTAVAILABLE;
  }
  if (!IsTextureFormat(format)) return D3DERR_NOTAVAILABLE;
  if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING)) &&
      !FormatIsRenderTarget(format))
    return D3DERR_NOTAVAILABLE;
  if ((usage & D3DUSAGE_AUTOGENMIPMAP) && rtype == D3DRTYPE_SURFACE) return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT Direct3D::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE, D3DFORMAT, BOOL,
                                             D3DMULTISAMPLE_TYPE type, DWORD* quality) {
  if (adapter != 0) return D3DERR_INVALIDCALL;
  if (quality) *quality = type == D3DMULTISAMPLE_NONE ? 1 : 0;
  return type == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE, D3DFORMAT, D3DFORMAT rt,
                                         D3DFORMAT ds) {
  if (adapter != 0) return D3DERR_INVALIDCALL;
  return IsBackBufferFormat(rt) && FormatIsDepth(ds) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE, D3DFORMAT src,
                                              D3DFORMAT dst) {
  if (adapter != 0) return D3DERR_INVALIDCALL;
  return FormatIsColour(src) && IsBackBufferFormat(dst) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

void Direct3D::FillCaps(D3DCAPS9* c) {
  std::memset(c, 0, sizeof(*c));
  c->DeviceType = D3DDEVTYPE_HAL;
  c->AdapterOrdinal = 0;
  c->Caps2 = D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_CANAUTOGENMIPMAP;
  c->Caps3 = D3DCAPS3_COPY_TO_VIDMEM | D3DCAPS3_COPY_TO_SYSTEMMEM;
  c->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
  c->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
               D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
               D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
               D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT |
               D3DDEVCAPS_HWRASTERIZATION;
  c->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                         D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE |
                         D3DPMISCCAPS_CLIPTLVERTS | D3DPMISCCAPS_TSSARGTEMP | D3DPMISCCAPS_BLENDOP |
                         D3DPMISCCAPS_SEPARATEALPHABLEND | D3DPMISCCAPS_PERSTAGECONSTANT |
                         D3DPMISCCAPS_FOGVERTEXCLAMPED;
  c->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE |
                  D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ZFOG | D3DPRASTERCAPS_WFOG |
                  D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_COLORPERSPECTIVE |
                  D3DPRASTERCAPS_SCISSORTEST;
  c->ZCmpCaps = c->AlphaCmpCaps = 0xFF;
  c->SrcBlendCaps = c->DestBlendCaps = 0x3FFF;
  c->ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                 D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
  c->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                   D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
  c->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                         D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR |
                         D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c->CubeTextureFilterCaps = c->TextureFilterCaps;
  c->StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                             D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                          D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV |
                          D3DPTADDRESSCAPS_MIRRORONCE;
  c->LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP |
                D3DLINECAPS_FOG;
  c->MaxTextureWidth = c->MaxTextureHeight = 16384;
  c->MaxTextureRepeat = 8192;
  c->MaxTextureAspectRatio = 16384;
  c->MaxAnisotropy = 1;
  c->MaxVertexW = 1e10f;
  c->GuardBandLeft = c->GuardBandTop = -16384.f;
  c->GuardBandRight = c->GuardBandBottom = 16384.f;
  c->StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE |
                   D3DSTENCILCAPS_INCRSAT | D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT |
                   D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR | D3DSTENCILCAPS_TWOSIDED;
  c->FVFCaps = 8 | D3DFVFCAPS_PSIZE;
  c->TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                     D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                     D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_ADDSIGNED2X |
                     D3DTEXOPCAPS_SUBTRACT | D3DTEXOPCAPS_ADDSMOOTH |
                     D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA |
                     D3DTEXOPCAPS_BLENDFACTORALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHAPM |
                     D3DTEXOPCAPS_BLENDCURRENTALPHA | D3DTEXOPCAPS_MODULATEALPHA_ADDCOLOR |
                     D3DTEXOPCAPS_MODULATECOLOR_ADDALPHA | D3DTEXOPCAPS_MODULATEINVALPHA_ADDCOLOR |
                     D3DTEXOPCAPS_MODULATEINVCOLOR_ADDALPHA | D3DTEXOPCAPS_DOTPRODUCT3 |
                     D3DTEXOPCAPS_MULTIPLYADD | D3DTEXOPCAPS_LERP;
  c->MaxTextureBlendStages = 8;
  c->MaxSimultaneousTextures = 8;
  c->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 |
                            D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                            D3DVTXPCAPS_LOCALVIEWER | D3DVTXPCAPS_TEXGEN_SPHEREMAP;
  c->MaxActiveLights = 8;
  c->MaxUserClipPlanes = 6;
  c->MaxVertexBlendMatrices = 1;
  c->MaxPointSize = kMaxPointSize;
  c->MaxPrimitiveCount = 0xFFFFF;
  c->MaxVertexIndex = 0xFFFFFF;
  c->MaxStreams = 16;
  c->MaxStreamStride = 508;
  c->DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N |
                 D3DDTCAPS_USHORT2N | D3DDTCAPS_USHORT4N | D3DDTCAPS_UDEC3 | D3DDTCAPS_DEC3N |
                 D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
  // Shader models 2 and 3, as the shader executor runs them.
  c->VertexShaderVersion = D3DVS_VERSION(3, 0);
  c->PixelShaderVersion = D3DPS_VERSION(3, 0);
  c->MaxVertexShaderConst = kVertexFloatConstants;
  c->PixelShader1xMaxValue = 3.402823466e38f;
  c->DevCaps2 = 0x00000001;       // D3DDEVCAPS2_STREAMOFFSET
  c->VS20Caps.Caps = 0x00000001;  // D3DVS20CAPS_PREDICATION
  c->VS20Caps.DynamicFlowControlDepth = 24;
  c->VS20Caps.NumTemps = 32;
  c->VS20Caps.StaticFlowControlDepth = 4;
  // Arbitrary swizzles, gradient instructions, predication, no dependent-read or texture
  // instruction limits.
  c->PS20Caps.Caps = 0x0000001F;
  c->PS20Caps.DynamicFlowControlDepth = 24;
  c->PS20Caps.NumTemps = 32;
  c->PS20Caps.StaticFlowControlDepth = 4;
  c->PS20Caps.NumInstructionSlots = 512;
  c->VertexTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                               D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c->MaxVShaderInstructionsExecuted = 65535;
  c->MaxPShaderInstructionsExecuted = 65535;
  c->MaxVertexShader30InstructionSlots = 32768;
  c->MaxPixelShader30InstructionSlots = 32768;
  c->MasterAdapterOrdinal = 0;
  c->AdapterOrdinalInGroup = 0;
  c->NumberOfAdaptersInGroup = 1;
  c->NumSimultaneousRTs = 1;
}

HRESULT Direct3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
  if (AutomationFaultActive(AutomationFault::GetDeviceCaps)) return D3DERR_INVALIDCALL;
  if (adapter != 0 || !caps) return D3DERR_INVALIDCALL;
  if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
  FillCaps(caps);
  return D3D_OK;
}

HMONITOR Direct3D::GetAdapterMonitor(UINT adapter) {
  // One monitor; any non-null value names it.
  return adapter == 0 ? reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(1)) : nullptr;
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behavior,
                               D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateDevice)) return D3DERR_NOTAVAILABLE;
  if (adapter != 0 || !pp) return D3DERR_INVALIDCALL;
  if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
  const DWORD vp = D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                   D3DCREATE_MIXED_VERTEXPROCESSING;
  DWORD chosen = behavior & vp;
  if (chosen == 0 || (chosen & (chosen - 1)) != 0) return D3DERR_INVALIDCALL;
  auto* device = new Device(this, focus, behavior);
  if (!device->ResolvePresentParameters(pp)) {
    device->Release();
    return D3DERR_INVALIDCALL;
  }
  HRESULT hr = device->Initialize(*pp);
  if (FAILED(hr)) {
    device->Release();
    return hr;
  }
  *out = device;
  return D3D_OK;
}

}  // namespace d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
  if ((sdkVersion & 0x7FFFFFFFu) != D3D_SDK_VERSION) return nullptr;
  if (AutomationFaultActive(AutomationFault::Direct3DCreate)) return nullptr;
  return new d3d9::Direct3D();
}
