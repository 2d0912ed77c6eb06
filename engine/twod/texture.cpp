#include "engine/twod/texture.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

constexpr size_t kBmpHeaderBytes = 54;

void SetTextureMaterial(Texture* texture) {
  texture->Material = D3DMATERIAL9{};
  texture->Material.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
  texture->Material.Emissive = {1.0f, 1.0f, 1.0f, 0.0f};
}

void ReadLevelDescription(Texture* texture) {
  D3DSURFACE_DESC desc{};
  if (SUCCEEDED(texture->D3DTexture->GetLevelDesc(0, &desc))) {
    texture->Format = desc.Format;
    texture->Height = static_cast<int32_t>(desc.Height);
    texture->Width = static_cast<int32_t>(desc.Width);
  }
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Removes the current element of TextureList when it is `texture` (it is right after Add).
void RemoveNewTexture(Texture* texture) {
  if (Engine.TextureList.Current() == texture) Engine.TextureList.Remove();
}

}  // namespace

uint32_t ComposeColour(int32_t alpha, int32_t red, int32_t green, int32_t blue) {
  return (static_cast<uint32_t>(alpha & 0xFF) << 24) | (static_cast<uint32_t>(red & 0xFF) << 16) |
         (static_cast<uint32_t>(green & 0xFF) << 8) | static_cast<uint32_t>(blue & 0xFF);
}

Texture* CreateTexture(int32_t width, int32_t height, uint32_t colour) {
  // D3DX reads 0 and (UINT)-1 as "choose a size for me": a caller's bad size must not turn into
  // a 256 x 256 texture.
  if (width < 1 || height < 1 || Engine.Device == nullptr) return nullptr;
  Texture* texture = Engine.TextureList.Add();
  SetTextureMaterial(texture);
  if (FAILED(D3DXCreateTexture(Engine.Device, static_cast<UINT>(width), static_cast<UINT>(height),
                               1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture->D3DTexture))) {
    texture->D3DTexture = nullptr;
    RemoveNewTexture(texture);
    return nullptr;
  }
  ReadLevelDescription(texture);

  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(texture->D3DTexture->LockRect(0, &locked, nullptr, 0))) {
    const int32_t w = width < texture->Width ? width : texture->Width;
    const int32_t h = height < texture->Height ? height : texture->Height;
    auto* bits = static_cast<uint8_t*>(locked.pBits);
    for (int32_t x = 0; x < w; ++x) {
      for (int32_t y = 0; y < h; ++y) {
        std::memcpy(bits + static_cast<size_t>(y) * locked.Pitch + 4 * static_cast<size_t>(x),
                    &colour, 4);
      }
    }
    texture->D3DTexture->UnlockRect(0);
  }
  return texture;
}

Texture* LoadTexture(const char* fileName) {
  if (Engine.Device == nullptr) return nullptr;
  const std::string name = fileName != nullptr ? fileName : "(no file name)";
  FILE* file = fileName != nullptr ? std::fopen(fileName, "rb") : nullptr;
  if (file == nullptr) {
    Engine.LastError = kEngineImageLoad;
    Engine.LastErrorText = name + ": the file cannot be read";
    return nullptr;
  }
  std::fclose(file);
  IDirect3DTexture9* d3dTexture = nullptr;
  if (FAILED(D3DXCreateTextureFromFileA(Engine.Device, fileName, &d3dTexture)) ||
      d3dTexture == nullptr) {
    Engine.LastError = kEngineImageLoad;
    Engine.LastErrorText = name + ": not a picture file this engine reads";
    SafeRelease(d3dTexture);
    return nullptr;
  }
  Engine.TextureList.Last();
  Texture* texture = Engine.TextureList.Add();
  SetTextureMaterial(texture);
  texture->D3DTexture = d3dTexture;
  ReadLevelDescription(texture);
  return texture;
}

bool BuildImageBmpFile(RuntimeId image, int32_t flipRows, std::vector<uint8_t>* file) {
  if (!IsRasterImage(image) || file == nullptr) return false;
  const int32_t w = RasterImageWidth(image);
  const int32_t h = RasterImageHeight(image);
  HBITMAP bitmap = RasterImageBitmap(image);
  const size_t rowBytes = static_cast<size_t>(w) * 32 / 8;
  const size_t padding = (4 - rowBytes % 4) % 4;
  const size_t imageBytes = (rowBytes + padding) * static_cast<size_t>(h);
  try {
    file->assign(kBmpHeaderBytes + imageBytes, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* p = file->data();
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<uint32_t>(kBmpHeaderBytes + imageBytes));
  Put32(p + 10, kBmpHeaderBytes);
  Put32(p + 14, 40);
  Put32(p + 18, static_cast<uint32_t>(w));
  Put32(p + 22, static_cast<uint32_t>(h));
  Put16(p + 26, 1);
  Put16(p + 28, 32);
  Put32(p + 30, BI_RGB);
  Put32(p + 34, static_cast<uint32_t>(imageBytes));

  BITMAPINFO request{};
  request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  request.bmiHeader.biWidth = w;
  request.bmiHeader.biHeight = flipRows == 0 ? h : -h;
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  HDC dc = BeginImageDrawing(image);
  if (dc != nullptr) {
    // A failed copy leaves the pixels black.
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(h), p + kBmpHeaderBytes, &request, DIB_RGB_COLORS);
    EndDrawing();
  }
  return true;
}

Texture* CreateTextureFromImage(RuntimeId image) {
  return CreateTextureFromImageEx(image, 0, 0, 0);
}

Texture* CreateTextureFromImageEx(RuntimeId image, int32_t flipRows, int32_t withAlpha,
                                  int32_t mipLevels) {
  const D3DFORMAT format = withAlpha == 1 ? D3DFMT_A8R8G8B8 : D3DFMT_R8G8B8;
  const UINT levels =
      (mipLevels < 0 || mipLevels > 10) ? D3DX_FROM_FILE : static_cast<UINT>(mipLevels);
  std::vector<uint8_t> file;
  if (!BuildImageBmpFile(image, flipRows, &file)) return nullptr;

  Texture* texture = Engine.TextureList.Add();
  SetTextureMaterial(texture);
  HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
      Engine.Device, file.data(), static_cast<UINT>(file.size()),
      static_cast<UINT>(RasterImageWidth(image)), static_cast<UINT>(RasterImageHeight(image)),
      levels, 0, format, D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE, D3DX_DEFAULT, 0, nullptr, nullptr,
      &texture->D3DTexture);
  if (FAILED(hr) || texture->D3DTexture == nullptr) {
    texture->D3DTexture = nullptr;
    Engine.LastError = kEngineImageLoad;
    RemoveNewTexture(texture);
    return nullptr;
  }
  ReadLevelDescription(texture);
  return texture;
}

int ApplyColourKey(Texture* handle, uint32_t colour) {
  Texture* texture = FindRecord(Engine.TextureList, handle);
  if (texture == nullptr || texture->D3DTexture == nullptr) return 0;

  IDirect3DSurface9* level0 = nullptr;
  if (FAILED(texture->D3DTexture->GetSurfaceLevel(0, &level0))) return 0;
  ID3DXBuffer* png = nullptr;
  HRESULT hr = D3DXSaveSurfaceToFileInMemory(&png, D3DXIFF_PNG, level0, nullptr, nullptr);
  level0->Release();
  if (FAILED(hr) || png == nullptr) return 0;

  const D3DCOLOR key =
      0xFF000000u | ((colour & 0xFF0000u) >> 16) | (colour & 0xFF00u) | ((colour & 0xFFu) << 16);
  IDirect3DTexture9* keyed = nullptr;
  hr = D3DXCreateTextureFromFileInMemoryEx(
      Engine.Device, png->GetBufferPointer(), png->GetBufferSize(), D3DX_DEFAULT_NONPOW2,
      D3DX_DEFAULT_NONPOW2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE,
      D3DX_FILTER_NONE, key, nullptr, nullptr, &keyed);
  png->Release();
  // A failed rebuild keeps the texture as it was: its holders must not lose their picture.
  if (FAILED(hr) || keyed == nullptr) return 0;
  texture->D3DTexture->Release();
  texture->D3DTexture = keyed;
  return 1;
}

int TextureWidth(Texture* handle) {
  Texture* texture = FindRecord(Engine.TextureList, handle);
  D3DSURFACE_DESC desc{};
  if (texture == nullptr || texture->D3DTexture == nullptr ||
      FAILED(texture->D3DTexture->GetLevelDesc(0, &desc))) {
    return 0;
  }
  return static_cast<int>(desc.Width);
}

int TextureHeight(Texture* handle) {
  Texture* texture = FindRecord(Engine.TextureList, handle);
  D3DSURFACE_DESC desc{};
  if (texture == nullptr || texture->D3DTexture == nullptr ||
      FAILED(texture->D3DTexture->GetLevelDesc(0, &desc))) {
    return 0;
  }
  return static_cast<int>(desc.Height);
}
