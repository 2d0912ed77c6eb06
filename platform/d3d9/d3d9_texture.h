// IDirect3DTexture9, and what it shares with cube textures: a set of faces, each a chain of
// mip levels held as surfaces.
#pragma once

#include <vector>

#include "d3d9/d3d9_surface.h"

namespace d3d9 {

// The images of a texture as the pipeline samples them: one face for a 2D texture, six for a cube
// texture (in D3DCUBEMAP_FACES order), each with the same chain of levels.
class TextureImage {
 public:
  UINT LevelCount() const { return levelCount_; }
  int FaceCount() const { return faces_; }
  bool IsCube() const { return faces_ == 6; }
  D3DFORMAT Format() const { return levels.empty() ? D3DFMT_UNKNOWN : levels[0]->store.format; }
  Surface* Level(int face, UINT level) const { return levels[face * levelCount_ + level]; }
  // The pins of the COM object that owns the images.
  virtual Pinned* Pins() = 0;

  // On a cache line of its own: the device's worker reads it for every draw while the
  // application's thread changes the reference count beside it. Face-major.
  alignas(64) std::vector<Surface*> levels;

 protected:
  ~TextureImage();
  // Makes `faces` chains of `count` levels (0: down to 1 x 1). False when a level cannot be
  // allocated; the levels made so far stay for the destructor.
  bool AllocateImages(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage,
                      IDirect3DBaseTexture9* owner, int faces, UINT width, UINT height, UINT count,
                      D3DFORMAT format);
  // Box-filters every level of every face from the one above it.
  void FilterMipLevels();

 private:
  UINT levelCount_ = 0;
  int faces_ = 1;
};

class Texture final : public Resource<IDirect3DTexture9>, public TextureImage {
 public:
  Texture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage);
  bool Allocate(UINT width, UINT height, UINT levels, D3DFORMAT format);
  Pinned* Pins() override { return this; }

  DWORD STDMETHODCALLTYPE SetLOD(DWORD LODNew) override;
  DWORD STDMETHODCALLTYPE GetLOD() override { return lod_; }
  DWORD STDMETHODCALLTYPE GetLevelCount() override { return LevelCount(); }
  HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override;
  D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return autoGen_; }
  void STDMETHODCALLTYPE GenerateMipSubLevels() override;
  HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT Level,
                                            IDirect3DSurface9** ppSurfaceLevel) override;
  HRESULT STDMETHODCALLTYPE LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                     DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE UnlockRect(UINT Level) override;
  HRESULT STDMETHODCALLTYPE AddDirtyRect(const RECT*) override { return D3D_OK; }

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  DWORD lod_ = 0;
  D3DTEXTUREFILTERTYPE autoGen_ = D3DTEXF_LINEAR;
};

// Our texture or cube texture behind an interface pointer, or null for a foreign object.
TextureImage* AsTextureImage(IDirect3DBaseTexture9* t);
Texture* AsTexture(IDirect3DBaseTexture9* t);

}  // namespace d3d9
