// Textures: mip chains of surfaces, their descriptions, locks and generated levels.
#include "d3d9/d3d9_texture.h"

#include <algorithm>

#include "d3d9/pixel_format.h"

namespace d3d9 {

TextureImage::~TextureImage() {
  for (Surface* s : levels) s->DestroyLevel();
}

bool TextureImage::AllocateImages(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage,
                                  IDirect3DBaseTexture9* owner, int faces, UINT width, UINT height,
                                  UINT count, D3DFORMAT format) {
  UINT full = 1;
  for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2))
    ++full;
  if (count == 0 || count > full) count = full;
  faces_ = faces;
  levelCount_ = count;
  // Default-pool textures can be locked only when dynamic; render targets never.
  const bool lockable =
      pool != D3DPOOL_DEFAULT || ((usage & D3DUSAGE_DYNAMIC) && !(usage & D3DUSAGE_RENDERTARGET));
  levels.reserve(static_cast<size_t>(faces) * count);
  for (int f = 0; f < faces; ++f) {
    UINT w = width, h = height;
    for (UINT i = 0; i < count; ++i) {
      auto* s = new Surface(link, SurfaceKind::TextureLevel, pool, usage, lockable, owner, Pins());
      levels.push_back(s);
      if (!s->store.Allocate(format, w, h)) return false;
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
    }
  }
  return true;
}

void TextureImage::FilterMipLevels() {
  for (int f = 0; f < faces_; ++f) {
    for (UINT i = 1; i < levelCount_; ++i) {
      const SurfaceStore& src = Level(f, i - 1)->store;
      SurfaceStore& dst = Level(f, i)->store;
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
}

Texture::Texture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage)
    : Resource(std::move(link), D3DRTYPE_TEXTURE, pool, usage, true) {}

bool Texture::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DTexture9 || riid == IID_IDirect3DBaseTexture9 ||
         riid == IID_IDirect3DResource9;
}

bool Texture::Allocate(UINT width, UINT height, UINT count, D3DFORMAT format) {
  return AllocateImages(link_, pool_, usage_, this, 1, width, height, count, format);
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

void Texture::GenerateMipSubLevels() {
  FinishDeviceWork();
  FilterMipLevels();
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

TextureImage* AsTextureImage(IDirect3DBaseTexture9* t) {
  return dynamic_cast<TextureImage*>(t);
}

Texture* AsTexture(IDirect3DBaseTexture9* t) {
  return dynamic_cast<Texture*>(t);
}

}  // namespace d3d9
