#include "engine/twod/screen_image.h"

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

// Loads a PNG picture into a new default-pool surface of the picture's size.
IDirect3DSurface9* SurfaceFromPicture(const std::vector<uint8_t>& picture) {
  D3DXIMAGE_INFO info{};
  if (Engine.Device == nullptr || picture.empty() ||
      FAILED(D3DXGetImageInfoFromFileInMemory(picture.data(), static_cast<UINT>(picture.size()),
                                              &info))) {
    return nullptr;
  }
  IDirect3DSurface9* surface = nullptr;
  if (FAILED(Engine.Device->CreateOffscreenPlainSurface(info.Width, info.Height, D3DFMT_A8R8G8B8,
                                                        D3DPOOL_DEFAULT, &surface, nullptr))) {
    return nullptr;
  }
  if (FAILED(D3DXLoadSurfaceFromFileInMemory(surface, nullptr, nullptr, picture.data(),
                                             static_cast<UINT>(picture.size()), nullptr,
                                             D3DX_DEFAULT, 0, nullptr))) {
    surface->Release();
    return nullptr;
  }
  return surface;
}

// The picture's size: from the surface, or from the kept picture while the surface is away.
bool PictureSize(const ScreenImage* image, LONG* width, LONG* height) {
  if (image->Surface != nullptr) {
    D3DSURFACE_DESC desc{};
    if (FAILED(image->Surface->GetDesc(&desc))) return false;
    *width = static_cast<LONG>(desc.Width);
    *height = static_cast<LONG>(desc.Height);
    return true;
  }
  *width = image->Source.right - image->Source.left;
  *height = image->Source.bottom - image->Source.top;
  return true;
}

// Clips the destination to the device's viewport, refreshing the engine's copy of it. Right and
// bottom are compared with the viewport's width and height themselves.
void ClipToViewport(RECT* destination) {
  if (Engine.Device == nullptr) return;
  D3DVIEWPORT9 viewport{};
  if (FAILED(Engine.Device->GetViewport(&viewport))) return;
  Engine.Viewport = viewport;
  if (destination->left < static_cast<LONG>(viewport.X))
    destination->left = static_cast<LONG>(viewport.X);
  if (destination->top < static_cast<LONG>(viewport.Y))
    destination->top = static_cast<LONG>(viewport.Y);
  if (destination->bottom > static_cast<LONG>(viewport.Height)) {
    destination->bottom = static_cast<LONG>(viewport.Height);
  }
  if (destination->right > static_cast<LONG>(viewport.Width)) {
    destination->right = static_cast<LONG>(viewport.Width);
  }
}

}  // namespace

ScreenImage* CreateScreenImage(Texture* handle) {
  Texture* texture = FindRecord(Engine.TextureList, handle);
  if (texture == nullptr) return nullptr;

  ID3DXBuffer* buffer = nullptr;
  if (texture->D3DTexture == nullptr ||
      FAILED(D3DXSaveTextureToFileInMemory(&buffer, D3DXIFF_PNG, texture->D3DTexture, nullptr)) ||
      buffer == nullptr) {
    SafeRelease(buffer);
    Engine.LastError = kEngineImageLoad;
    return nullptr;
  }
  const auto* bytes = static_cast<const uint8_t*>(buffer->GetBufferPointer());
  std::vector<uint8_t> picture(bytes, bytes + buffer->GetBufferSize());
  buffer->Release();

  IDirect3DSurface9* surface = SurfaceFromPicture(picture);
  D3DSURFACE_DESC desc{};
  if (surface == nullptr || FAILED(surface->GetDesc(&desc))) {
    SafeRelease(surface);
    Engine.LastError = kEngineImageLoad;
    return nullptr;
  }
  ScreenImage* image = Engine.ScreenImageList.Add();
  image->Surface = surface;
  image->Picture = std::move(picture);
  const LONG w = static_cast<LONG>(desc.Width);
  const LONG h = static_cast<LONG>(desc.Height);
  image->Destination = RECT{0, 0, w, h};
  image->Source = RECT{0, 0, w, h};
  return image;
}

int PlaceScreenImage(ScreenImage* handle, int32_t x, int32_t y, int32_t visible) {
  ScreenImage* image = FindRecord(Engine.ScreenImageList, handle);
  if (image == nullptr) return 0;
  LONG w = 0;
  LONG h = 0;
  PictureSize(image, &w, &h);
  image->Destination = RECT{x, y, x + w, y + h};
  image->Visible = static_cast<int8_t>(visible & 0xFF);
  ClipToViewport(&image->Destination);
  return 1;
}

int StretchScreenImage(ScreenImage* handle, int32_t left, int32_t top, int32_t right,
                       int32_t bottom) {
  ScreenImage* image = FindRecord(Engine.ScreenImageList, handle);
  if (image == nullptr) return 0;
  image->Destination = RECT{left, top, right, bottom};
  ClipToViewport(&image->Destination);
  return 1;
}

int DrawScreenImages() {
  Engine.ScreenImageList.Reset();
  while (ScreenImage* image = Engine.ScreenImageList.Next()) {
    if (image->Visible != 1 || image->Surface == nullptr) continue;
    IDirect3DSurface9* backBuffer = nullptr;
    if (SUCCEEDED(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
      // An empty or inverted destination makes StretchRect fail: the image is simply not drawn.
      Engine.Device->StretchRect(image->Surface, &image->Source, backBuffer, &image->Destination,
                                 D3DTEXF_NONE);
      backBuffer->Release();
    }
  }
  return 0;
}

void ReleaseScreenImageSurfaces() {
  Engine.ScreenImageList.Reset();
  while (ScreenImage* image = Engine.ScreenImageList.Next()) SafeRelease(image->Surface);
}

void RestoreScreenImageSurfaces() {
  Engine.ScreenImageList.Reset();
  while (ScreenImage* image = Engine.ScreenImageList.Next()) {
    if (image->Surface == nullptr) image->Surface = SurfaceFromPicture(image->Picture);
  }
}
