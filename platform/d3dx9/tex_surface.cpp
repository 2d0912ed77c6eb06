// D3DX surface functions: image info, loading surfaces from files, memory and other surfaces,
// and saving surfaces and textures as BMP or PNG files in memory.
#include <algorithm>
#include <cstring>
#include <new>

#include "win32/com_object.h"
#include "automation.h"
#include "d3dx9.h"
#include "d3dx9/tex_internal.h"

namespace d3dx {

D3DFORMAT ToD3DFormat(FilePixelFormat format) {
  switch (format) {
    case FilePixelFormat::R8G8B8:
      return D3DFMT_R8G8B8;
    case FilePixelFormat::X8R8G8B8:
      return D3DFMT_X8R8G8B8;
    case FilePixelFormat::A8R8G8B8:
      return D3DFMT_A8R8G8B8;
    case FilePixelFormat::R5G6B5:
      return D3DFMT_R5G6B5;
    case FilePixelFormat::X1R5G5B5:
      return D3DFMT_X1R5G5B5;
    case FilePixelFormat::A1R5G5B5:
      return D3DFMT_A1R5G5B5;
    case FilePixelFormat::P8:
      return D3DFMT_P8;
    case FilePixelFormat::L8:
      return D3DFMT_L8;
    case FilePixelFormat::A8L8:
      return D3DFMT_A8L8;
  }
  return D3DFMT_UNKNOWN;
}

bool ResolveFilter(DWORD filter, DWORD defaultFilter, DWORD* resolved) {
  if (filter == D3DX_DEFAULT) filter = defaultFilter;
  const DWORD kind = filter & 0xFF;
  if (kind < D3DX_FILTER_NONE || kind > D3DX_FILTER_BOX) return false;
  *resolved = filter;
  return true;
}

namespace {

// Bytes per pixel of a colour format the converters handle; 0 otherwise (depth formats included).
UINT ColourBytes(D3DFORMAT format) {
  return FormatIsColour(format) ? FormatBytesPerPixel(format) : 0;
}

bool RectInside(const RECT& r, UINT width, UINT height) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         UINT(r.right) <= width && UINT(r.bottom) <= height;
}

// Locks a surface for reading or writing; for surfaces that refuse the lock (render targets in the
// default pool) reading goes through a system-memory copy made with GetRenderTargetData.
class SurfaceAccess {
 public:
  explicit SurfaceAccess(IDirect3DSurface9* surface) : surface_(surface) {}
  ~SurfaceAccess() {
    if (locked_) locked_->UnlockRect();
    SafeRelease(copy_);
  }
  SurfaceAccess(const SurfaceAccess&) = delete;
  SurfaceAccess& operator=(const SurfaceAccess&) = delete;

  HRESULT Lock(const RECT* rect, DWORD flags, bool forReading) {
    HRESULT hr = surface_->LockRect(&bits_, rect, flags);
    if (SUCCEEDED(hr)) {
      locked_ = surface_;
      return hr;
    }
    if (!forReading) return hr;
    D3DSURFACE_DESC desc{};
    if (FAILED(surface_->GetDesc(&desc)) || !(desc.Usage & D3DUSAGE_RENDERTARGET)) return hr;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(surface_->GetDevice(&device)) || !device) return hr;
    HRESULT made = device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                       D3DPOOL_SYSTEMMEM, &copy_, nullptr);
    if (SUCCEEDED(made)) made = device->GetRenderTargetData(surface_, copy_);
    device->Release();
    if (FAILED(made)) return made;
    hr = copy_->LockRect(&bits_, rect, flags);
    if (SUCCEEDED(hr)) locked_ = copy_;
    return hr;
  }
  const D3DLOCKED_RECT& Bits() const { return bits_; }

 private:
  IDirect3DSurface9* surface_;
  IDirect3DSurface9* copy_ = nullptr;
  IDirect3DSurface9* locked_ = nullptr;
  D3DLOCKED_RECT bits_{};
};

// Reads w x h pixels of `format` from rows `pitch` bytes apart.
bool ReadPixels(const uint8_t* bits, INT pitch, D3DFORMAT format, UINT width, UINT height,
                ArgbImage* out) {
  const UINT bytes = ColourBytes(format);
  if (bytes == 0) return false;
  out->width = width;
  out->height = height;
  out->pixels.resize(size_t{width} * height);
  for (UINT y = 0; y < height; ++y) {
    const uint8_t* row = bits + ptrdiff_t(y) * pitch;
    for (UINT x = 0; x < width; ++x) out->At(x, y) = ReadPixelArgb(format, row + size_t{x} * bytes);
  }
  return true;
}

// Default-pool texture levels refuse locks: write a system-memory surface of the rectangle's
// size and let the device copy it in.
HRESULT WriteThroughStaging(IDirect3DSurface9* surface, D3DFORMAT format, const RECT& rect,
                            const ArgbImage& image) {
  IDirect3DDevice9* device = nullptr;
  HRESULT hr = surface->GetDevice(&device);
  if (FAILED(hr) || !device) return FAILED(hr) ? hr : D3DERR_INVALIDCALL;
  IDirect3DSurface9* staging = nullptr;
  hr = device->CreateOffscreenPlainSurface(image.width, image.height, format, D3DPOOL_SYSTEMMEM,
                                           &staging, nullptr);
  if (SUCCEEDED(hr)) hr = WriteSurface(staging, nullptr, image);
  const POINT at{rect.left, rect.top};
  if (SUCCEEDED(hr)) hr = device->UpdateSurface(staging, nullptr, surface, &at);
  SafeRelease(staging);
  device->Release();
  return hr;
}

}  // namespace

HRESULT ReadSurface(IDirect3DSurface9* surface, const RECT* rect, ArgbImage* out) {
  D3DSURFACE_DESC desc{};
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  RECT whole{0, 0, LONG(desc.Width), LONG(desc.Height)};
  if (!rect) rect = &whole;
  if (!RectInside(*rect, desc.Width, desc.Height)) return D3DERR_INVALIDCALL;
  if (ColourBytes(desc.Format) == 0) return D3DERR_INVALIDCALL;
  SurfaceAccess access(surface);
  hr = access.Lock(rect, D3DLOCK_READONLY, true);
  if (FAILED(hr)) return hr;
  const bool ok =
      ReadPixels(static_cast<const uint8_t*>(access.Bits().pBits), access.Bits().Pitch, desc.Format,
                 UINT(rect->right - rect->left), UINT(rect->bottom - rect->top), out);
  return ok ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT WriteSurface(IDirect3DSurface9* surface, const RECT* rect, const ArgbImage& image) {
  D3DSURFACE_DESC desc{};
  HRESULT hr = surface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  RECT whole{0, 0, LONG(desc.Width), LONG(desc.Height)};
  if (!rect) rect = &whole;
  if (!RectInside(*rect, desc.Width, desc.Height)) return D3DERR_INVALIDCALL;
  const UINT width = UINT(rect->right - rect->left), height = UINT(rect->bottom - rect->top);
  if (image.width != width || image.height != height) return D3DERR_INVALIDCALL;
  const UINT bytes = ColourBytes(desc.Format);
  if (bytes == 0) return D3DERR_INVALIDCALL;
  SurfaceAccess access(surface);
  hr = access.Lock(rect, 0, false);
  if (FAILED(hr) && desc.Pool == D3DPOOL_DEFAULT && !(desc.Usage & D3DUSAGE_RENDERTARGET))
    return WriteThroughStaging(surface, desc.Format, *rect, image);
  if (FAILED(hr)) return hr;
  auto* bits = static_cast<uint8_t*>(access.Bits().pBits);
  for (UINT y = 0; y < height; ++y) {
    uint8_t* row = bits + ptrdiff_t(y) * access.Bits().Pitch;
    for (UINT x = 0; x < width; ++x)
      WritePixelArgb(desc.Format, row + size_t{x} * bytes, image.At(x, y));
  }
  return D3D_OK;
}

HRESULT LoadSurfaceFromImage(IDirect3DSurface9* dest, const RECT* destRect, const ArgbImage& src,
                             const RECT* srcRect, DWORD filter, D3DCOLOR colourKey,
                             bool sourceHasAlpha) {
  DWORD resolved = 0;
  if (!ResolveFilter(filter, D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, &resolved))
    return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc{};
  HRESULT hr = dest->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  RECT whole{0, 0, LONG(desc.Width), LONG(desc.Height)};
  if (!destRect) destRect = &whole;
  if (!RectInside(*destRect, desc.Width, desc.Height)) return D3DERR_INVALIDCALL;

  ArgbImage part;
  if (srcRect) {
    if (!RectInside(*srcRect, src.width, src.height)) return D3DERR_INVALIDCALL;
    part.width = UINT(srcRect->right - srcRect->left);
    part.height = UINT(srcRect->bottom - srcRect->top);
    part.pixels.resize(size_t{part.width} * part.height);
    for (UINT y = 0; y < part.height; ++y)
      std::memcpy(&part.pixels[size_t{y} * part.width],
                  &src.pixels[size_t(srcRect->top + y) * src.width + srcRect->left],
                  size_t{part.width} * 4);
  } else {
    part = src;
  }
  ApplyColourKey(&part, colourKey, sourceHasAlpha);
  ArgbImage scaled;
  if (!ResampleImage(part, UINT(destRect->right - destRect->left),
                     UINT(destRect->bottom - destRect->top), resolved, &scaled))
    return D3DERR_INVALIDCALL;
  return WriteSurface(dest, destRect, scaled);
}

}  // namespace d3dx

using namespace d3dx;

namespace {

void FillInfo(const ImageFileInfo& info, D3DXIMAGE_INFO* out) {
  out->Width = info.width;
  out->Height = info.height;
  out->Depth = 1;
  out->MipLevels = 1;
  out->Format = ToD3DFormat(info.format);
  out->ResourceType = D3DRTYPE_TEXTURE;
  out->ImageFileFormat = info.kind == ImageFileKind::Png ? D3DXIFF_PNG : D3DXIFF_BMP;
}

HRESULT EncodeToBuffer(const ArgbImage& image, D3DXIMAGE_FILEFORMAT fileFormat, bool withAlpha,
                       LPD3DXBUFFER* out) {
  std::vector<uint8_t> bytes;
  bool ok = false;
  try {
    ok = fileFormat == D3DXIFF_PNG ? EncodePng(image, withAlpha, &bytes)
                                   : EncodeBmp(image, withAlpha, &bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!ok) return E_FAIL;
  LPD3DXBUFFER buffer = nullptr;
  HRESULT hr = D3DXCreateBuffer(DWORD(bytes.size()), &buffer);
  if (FAILED(hr)) return hr;
  std::memcpy(buffer->GetBufferPointer(), bytes.data(), bytes.size());
  *out = buffer;
  return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXGetImageInfoFromFileInMemory(LPCVOID pSrcData, UINT SrcDataSize,
                                                D3DXIMAGE_INFO* pSrcInfo) {
  if (!pSrcData) return D3DERR_INVALIDCALL;
  if (SrcDataSize == 0) return D3DXERR_INVALIDDATA;
  ImageFileInfo info;
  if (!ReadImageFileInfo(static_cast<const uint8_t*>(pSrcData), SrcDataSize, &info))
    return D3DXERR_INVALIDDATA;
  if (pSrcInfo) FillInfo(info, pSrcInfo);
  return D3D_OK;
}

HRESULT WINAPI D3DXLoadSurfaceFromFileInMemory(LPDIRECT3DSURFACE9 pDestSurface,
                                               const PALETTEENTRY* pDestPalette,
                                               const RECT* pDestRect, LPCVOID pSrcData,
                                               UINT SrcDataSize, const RECT* pSrcRect, DWORD Filter,
                                               D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo) {
  (void)pDestPalette;
  if (!pDestSurface || !pSrcData) return D3DERR_INVALIDCALL;
  if (SrcDataSize == 0) return D3DXERR_INVALIDDATA;
  ImageFileInfo info;
  ArgbImage image;
  if (!DecodeImageFile(static_cast<const uint8_t*>(pSrcData), SrcDataSize, &info, &image))
    return D3DXERR_INVALIDDATA;
  HRESULT hr = LoadSurfaceFromImage(pDestSurface, pDestRect, image, pSrcRect, Filter, ColorKey,
                                    info.hasAlpha);
  if (SUCCEEDED(hr) && pSrcInfo) FillInfo(info, pSrcInfo);
  return hr;
}

HRESULT WINAPI D3DXLoadSurfaceFromMemory(LPDIRECT3DSURFACE9 pDestSurface,
                                         const PALETTEENTRY* pDestPalette, const RECT* pDestRect,
                                         LPCVOID pSrcMemory, D3DFORMAT SrcFormat, UINT SrcPitch,
                                         const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect,
                                         DWORD Filter, D3DCOLOR ColorKey) {
  (void)pDestPalette;
  (void)pSrcPalette;
  // The source rectangle is required: it is the only description of the memory's extent.
  if (!pDestSurface || !pSrcMemory || !pSrcRect) return D3DERR_INVALIDCALL;
  if (pSrcRect->left < 0 || pSrcRect->top < 0 || pSrcRect->right <= pSrcRect->left ||
      pSrcRect->bottom <= pSrcRect->top)
    return D3DERR_INVALIDCALL;
  const UINT bytes = ColourBytes(SrcFormat);
  if (bytes == 0) return E_NOTIMPL;
  const UINT width = UINT(pSrcRect->right - pSrcRect->left);
  const UINT height = UINT(pSrcRect->bottom - pSrcRect->top);
  if (width > kMaxImageSide || height > kMaxImageSide) return D3DERR_INVALIDCALL;
  if (uint64_t{UINT(pSrcRect->right)} * bytes > SrcPitch) return D3DERR_INVALIDCALL;
  // pSrcMemory points at the first pixel of the whole source, not of the rectangle.
  const auto* first = static_cast<const uint8_t*>(pSrcMemory) + size_t(pSrcRect->top) * SrcPitch +
                      size_t(pSrcRect->left) * bytes;
  ArgbImage image;
  if (!ReadPixels(first, INT(SrcPitch), SrcFormat, width, height, &image))
    return D3DERR_INVALIDCALL;
  return LoadSurfaceFromImage(pDestSurface, pDestRect, image, nullptr, Filter, ColorKey,
                              FormatHasAlpha(SrcFormat));
}

HRESULT WINAPI D3DXLoadSurfaceFromSurface(LPDIRECT3DSURFACE9 pDestSurface,
                                          const PALETTEENTRY* pDestPalette, const RECT* pDestRect,
                                          LPDIRECT3DSURFACE9 pSrcSurface,
                                          const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect,
                                          DWORD Filter, D3DCOLOR ColorKey) {
  (void)pDestPalette;
  (void)pSrcPalette;
  if (!pDestSurface || !pSrcSurface) return D3DERR_INVALIDCALL;
  ArgbImage image;
  HRESULT hr = ReadSurface(pSrcSurface, pSrcRect, &image);
  if (FAILED(hr)) return hr;
  D3DSURFACE_DESC source{};
  hr = pSrcSurface->GetDesc(&source);
  if (FAILED(hr)) return hr;
  return LoadSurfaceFromImage(pDestSurface, pDestRect, image, nullptr, Filter, ColorKey,
                              FormatHasAlpha(source.Format));
}

HRESULT WINAPI D3DXSaveSurfaceToFileInMemory(LPD3DXBUFFER* ppDestBuf,
                                             D3DXIMAGE_FILEFORMAT DestFormat,
                                             LPDIRECT3DSURFACE9 pSrcSurface,
                                             const PALETTEENTRY* pSrcPalette,
                                             const RECT* pSrcRect) {
  (void)pSrcPalette;
  if (!ppDestBuf || !pSrcSurface) return D3DERR_INVALIDCALL;
  *ppDestBuf = nullptr;
  if (DestFormat != D3DXIFF_BMP && DestFormat != D3DXIFF_DIB && DestFormat != D3DXIFF_PNG)
    return E_NOTIMPL;
  if (AutomationFaultActive(AutomationFault::SaveSurfaceToFile)) return E_FAIL;
  D3DSURFACE_DESC desc{};
  HRESULT hr = pSrcSurface->GetDesc(&desc);
  if (FAILED(hr)) return hr;
  ArgbImage image;
  hr = ReadSurface(pSrcSurface, pSrcRect, &image);
  if (FAILED(hr)) return hr;
  return EncodeToBuffer(image, DestFormat, FormatHasAlpha(desc.Format), ppDestBuf);
}

HRESULT WINAPI D3DXSaveTextureToFileInMemory(LPD3DXBUFFER* ppDestBuf,
                                             D3DXIMAGE_FILEFORMAT DestFormat,
                                             LPDIRECT3DBASETEXTURE9 pSrcTexture,
                                             const PALETTEENTRY* pSrcPalette) {
  if (!ppDestBuf || !pSrcTexture) return D3DERR_INVALIDCALL;
  *ppDestBuf = nullptr;
  // Cube and volume textures would need DDS; BMP and PNG hold one 2D image.
  if (pSrcTexture->GetType() != D3DRTYPE_TEXTURE) return E_NOTIMPL;
  auto* texture = static_cast<IDirect3DTexture9*>(pSrcTexture);
  IDirect3DSurface9* level0 = nullptr;
  HRESULT hr = texture->GetSurfaceLevel(0, &level0);
  if (FAILED(hr)) return hr;
  hr = D3DXSaveSurfaceToFileInMemory(ppDestBuf, DestFormat, level0, pSrcPalette, nullptr);
  level0->Release();
  return hr;
}
