// D3DX texture creation: parameter adjustment, empty textures, textures from BMP/PNG files in
// memory, and mip-chain filtering.
#include <algorithm>
#include <vector>

#include "automation.h"
#include "d3dx9.h"
#include "d3dx9/file_bytes.h"
#include "d3dx9/tex_internal.h"

namespace d3dx {
namespace {

UINT NextPowerOfTwo(UINT v) {
  UINT p = 1;
  while (p < v && p < 0x80000000u) p <<= 1;
  return p;
}

UINT FullChainLength(UINT width, UINT height) {
  UINT levels = 1;
  UINT size = std::max(width, height);
  while (size > 1) {
    size >>= 1;
    ++levels;
  }
  return levels;
}

// The format with alpha that keeps an alpha-less format's colour channels, used when a colour key
// needs somewhere to put its transparency.
D3DFORMAT AlphaTwin(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_P8:
      return D3DFMT_A8R8G8B8;
    case D3DFMT_X8B8G8R8:
      return D3DFMT_A8B8G8R8;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_R5G6B5:
      return D3DFMT_A1R5G5B5;
    case D3DFMT_X4R4G4B4:
      return D3DFMT_A4R4G4B4;
    case D3DFMT_L8:
      return D3DFMT_A8L8;
    default:
      return format;
  }
}

// Asks the device's IDirect3D9 whether it can make a texture of this format; true when the
// question cannot be asked (the creation itself will then decide).
bool DeviceSupports(IDirect3DDevice9* device, DWORD usage, D3DFORMAT format) {
  IDirect3D9* d3d = nullptr;
  if (FAILED(device->GetDirect3D(&d3d)) || !d3d) return true;
  D3DDEVICE_CREATION_PARAMETERS params{};
  D3DDISPLAYMODE mode{};
  bool supported = true;
  if (SUCCEEDED(device->GetCreationParameters(&params)) &&
      SUCCEEDED(device->GetDisplayMode(0, &mode))) {
    supported = SUCCEEDED(d3d->CheckDeviceFormat(params.AdapterOrdinal, params.DeviceType,
                                                 mode.Format, usage, D3DRTYPE_TEXTURE, format));
  }
  d3d->Release();
  return supported;
}

D3DFORMAT ChooseFormat(IDirect3DDevice9* device, DWORD usage, D3DFORMAT format) {
  if (format == D3DFMT_UNKNOWN || format == D3DFMT_FROM_FILE) format = D3DFMT_A8R8G8B8;
  // No Direct3D 9 driver offers 24-bit textures; they all hand out the 32-bit X format instead.
  if (format == D3DFMT_R8G8B8) format = D3DFMT_X8R8G8B8;
  if (DeviceSupports(device, usage, format)) return format;
  const D3DFORMAT fallback = FormatHasAlpha(format) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
  if (DeviceSupports(device, usage, fallback)) return fallback;
  return D3DFMT_A8R8G8B8;
}

D3DFORMAT FileFormatForTexture(const ImageFileInfo& info) {
  if (info.format == FilePixelFormat::P8) return info.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
  if (info.format == FilePixelFormat::R8G8B8) return D3DFMT_X8R8G8B8;
  return ToD3DFormat(info.format);
}

UINT ResolveSize(UINT requested, UINT fromFile) {
  if (requested == 0 || requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE)
    return fromFile;
  if (requested == D3DX_DEFAULT) return NextPowerOfTwo(fromFile);
  return requested;
}

void FillSourceInfo(const ImageFileInfo& info, D3DXIMAGE_INFO* out) {
  out->Width = info.width;
  out->Height = info.height;
  out->Depth = 1;
  out->MipLevels = 1;
  out->Format = ToD3DFormat(info.format);
  out->ResourceType = D3DRTYPE_TEXTURE;
  out->ImageFileFormat = info.kind == ImageFileKind::Png ? D3DXIFF_PNG : D3DXIFF_BMP;
}

// Writes every level of `texture` from `level0`, each smaller level filtered from the one above
// it. With `mipFilter` none the levels below 0 keep what the device gave them.
HRESULT FillLevels(IDirect3DTexture9* texture, ArgbImage level, DWORD mipFilter) {
  const DWORD count = texture->GetLevelCount();
  for (DWORD i = 0; i < count; ++i) {
    D3DSURFACE_DESC desc{};
    HRESULT hr = texture->GetLevelDesc(i, &desc);
    if (FAILED(hr)) return hr;
    if (i > 0) {
      if ((mipFilter & 0xFF) == D3DX_FILTER_NONE) break;
      ArgbImage next;
      if (!ResampleImage(level, desc.Width, desc.Height, mipFilter, &next))
        return D3DERR_INVALIDCALL;
      level = std::move(next);
    }
    IDirect3DSurface9* surface = nullptr;
    hr = texture->GetSurfaceLevel(i, &surface);
    if (FAILED(hr)) return hr;
    hr = WriteSurface(surface, nullptr, level);
    surface->Release();
    if (FAILED(hr)) return hr;
  }
  return D3D_OK;
}

}  // namespace
}  // namespace d3dx

using namespace d3dx;

HRESULT WINAPI D3DXCheckTextureRequirements(LPDIRECT3DDEVICE9 pDevice, UINT* pWidth, UINT* pHeight,
                                            UINT* pNumMipLevels, DWORD Usage, D3DFORMAT* pFormat,
                                            D3DPOOL Pool) {
  if (!pDevice) return D3DERR_INVALIDCALL;
  D3DCAPS9 caps{};
  const bool haveCaps = SUCCEEDED(pDevice->GetDeviceCaps(&caps));

  UINT width = pWidth ? *pWidth : 256;
  UINT height = pHeight ? *pHeight : 256;
  if (width == D3DX_DEFAULT) width = 256;
  if (height == D3DX_DEFAULT) height = 256;
  if (width == 0) width = 1;
  if (height == 0) height = 1;
  if (haveCaps) {
    // Strict power-of-two hardware gets rounded-up sizes.
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) &&
        !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) {
      width = NextPowerOfTwo(width);
      height = NextPowerOfTwo(height);
    }
    if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) width = height = std::max(width, height);
    if (caps.MaxTextureWidth) width = std::min<UINT>(width, caps.MaxTextureWidth);
    if (caps.MaxTextureHeight) height = std::min<UINT>(height, caps.MaxTextureHeight);
  }
  if (pWidth) *pWidth = width;
  if (pHeight) *pHeight = height;

  if (pNumMipLevels) {
    const UINT full = FullChainLength(width, height);
    UINT levels = *pNumMipLevels;
    if (levels == 0 || levels == D3DX_DEFAULT) levels = full;
    levels = std::min(levels, full);
    if (haveCaps && !(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP)) levels = 1;
    *pNumMipLevels = levels;
  }
  if (pFormat) *pFormat = ChooseFormat(pDevice, Usage, *pFormat);
  (void)Pool;
  return D3D_OK;
}

HRESULT WINAPI D3DXCreateTexture(LPDIRECT3DDEVICE9 pDevice, UINT Width, UINT Height, UINT MipLevels,
                                 DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 LPDIRECT3DTEXTURE9* ppTexture) {
  if (!pDevice || !ppTexture) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  if (AutomationFaultActive(AutomationFault::CreateTexture)) return D3DERR_OUTOFVIDEOMEMORY;
  HRESULT hr =
      D3DXCheckTextureRequirements(pDevice, &Width, &Height, &MipLevels, Usage, &Format, Pool);
  if (FAILED(hr)) return hr;
  return pDevice->CreateTexture(Width, Height, MipLevels, Usage, Format, Pool, ppTexture, nullptr);
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height,
                                                   UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                   D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                                   D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                                   PALETTEENTRY* pPalette,
                                                   LPDIRECT3DTEXTURE9* ppTexture) {
  (void)pPalette;  // palettized textures are never created, so there is no palette to report
  if (!pDevice || !ppTexture || !pSrcData) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  if (SrcDataSize == 0) return D3DXERR_INVALIDDATA;
  DWORD filter = 0, mipFilter = 0;
  if (!ResolveFilter(Filter, D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, &filter) ||
      !ResolveFilter(MipFilter, D3DX_FILTER_BOX, &mipFilter))
    return D3DERR_INVALIDCALL;

  ImageFileInfo info;
  ArgbImage image;
  if (!DecodeImageFile(static_cast<const uint8_t*>(pSrcData), SrcDataSize, &info, &image))
    return D3DXERR_INVALIDDATA;

  const UINT width = ResolveSize(Width, info.width);
  const UINT height = ResolveSize(Height, info.height);
  const UINT levels = MipLevels == D3DX_FROM_FILE ? 1 : MipLevels;  // BMP and PNG hold one level
  D3DFORMAT format = Format;
  if (format == D3DFMT_FROM_FILE) {
    format = ToD3DFormat(info.format);
  } else if (format == D3DFMT_UNKNOWN) {
    format = FileFormatForTexture(info);
    if (ColorKey != 0) format = AlphaTwin(format);
  }

  IDirect3DTexture9* texture = nullptr;
  HRESULT hr = D3DXCreateTexture(pDevice, width, height, levels, Usage, format, Pool, &texture);
  if (FAILED(hr)) return hr;

  D3DSURFACE_DESC top{};
  hr = texture->GetLevelDesc(0, &top);
  if (SUCCEEDED(hr)) {
    ApplyColourKey(&image, ColorKey, info.hasAlpha);
    ArgbImage level0;
    if (!ResampleImage(image, top.Width, top.Height, filter, &level0)) {
      hr = D3DERR_INVALIDCALL;
    } else {
      image = ArgbImage();  // release the source before the mip chain allocates
      hr = FillLevels(texture, std::move(level0), mipFilter);
    }
  }
  if (FAILED(hr)) {
    texture->Release();
    return hr;
  }
  if (pSrcInfo) FillSourceInfo(info, pSrcInfo);
  *ppTexture = texture;
  return D3D_OK;
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, LPDIRECT3DTEXTURE9* ppTexture) {
  return D3DXCreateTextureFromFileInMemoryEx(
      pDevice, pSrcData, SrcDataSize, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
      D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, ppTexture);
}

HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile, UINT Width,
                                            UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                                            DWORD MipFilter, D3DCOLOR ColorKey,
                                            D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                            LPDIRECT3DTEXTURE9* ppTexture) {
  if (!pDevice || !pSrcFile || !ppTexture) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  std::vector<uint8_t> bytes;
  const HRESULT hr = vexa::ReadFileBytes(pSrcFile, &bytes);
  if (FAILED(hr)) return hr;
  if (bytes.empty()) return D3DXERR_INVALIDDATA;
  return D3DXCreateTextureFromFileInMemoryEx(pDevice, bytes.data(), static_cast<UINT>(bytes.size()),
                                             Width, Height, MipLevels, Usage, Format, Pool, Filter,
                                             MipFilter, ColorKey, pSrcInfo, pPalette, ppTexture);
}

HRESULT WINAPI D3DXCreateTextureFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                          LPDIRECT3DTEXTURE9* ppTexture) {
  return D3DXCreateTextureFromFileExA(pDevice, pSrcFile, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT,
                                      0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                      D3DX_DEFAULT, 0, nullptr, nullptr, ppTexture);
}

HRESULT WINAPI D3DXFilterTexture(LPDIRECT3DBASETEXTURE9 pBaseTexture, const PALETTEENTRY* pPalette,
                                 UINT SrcLevel, DWORD Filter) {
  (void)pPalette;
  if (!pBaseTexture) return D3DERR_INVALIDCALL;
  if (pBaseTexture->GetType() != D3DRTYPE_TEXTURE) return D3DERR_NOTAVAILABLE;
  DWORD filter = 0;
  if (!ResolveFilter(Filter, D3DX_FILTER_BOX, &filter)) return D3DERR_INVALIDCALL;
  auto* texture = static_cast<IDirect3DTexture9*>(pBaseTexture);
  if (SrcLevel == D3DX_DEFAULT) SrcLevel = 0;
  const DWORD count = texture->GetLevelCount();
  if (SrcLevel >= count) return D3DERR_INVALIDCALL;
  if ((filter & 0xFF) == D3DX_FILTER_NONE) return D3D_OK;

  ArgbImage level;
  IDirect3DSurface9* surface = nullptr;
  HRESULT hr = texture->GetSurfaceLevel(SrcLevel, &surface);
  if (FAILED(hr)) return hr;
  hr = ReadSurface(surface, nullptr, &level);
  surface->Release();
  if (FAILED(hr)) return hr;
  for (DWORD i = SrcLevel + 1; i < count; ++i) {
    D3DSURFACE_DESC desc{};
    hr = texture->GetLevelDesc(i, &desc);
    if (FAILED(hr)) return hr;
    ArgbImage next;
    if (!ResampleImage(level, desc.Width, desc.Height, filter, &next)) return D3DERR_INVALIDCALL;
    level = std::move(next);
    hr = texture->GetSurfaceLevel(i, &surface);
    if (FAILED(hr)) return hr;
    hr = WriteSurface(surface, nullptr, level);
    surface->Release();
    if (FAILED(hr)) return hr;
  }
  return D3D_OK;
}
