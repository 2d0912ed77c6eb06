// IDirect3DCubeTexture9: six square faces, each with the same chain of levels.
#pragma once

#include "d3d9/d3d9_texture.h"

namespace d3d9 {

class CubeTexture final : public Resource<IDirect3DCubeTexture9>, public TextureImage {
 public:
  CubeTexture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage);
  bool Allocate(UINT edge, UINT levels, D3DFORMAT format);
  Pinned* Pins() override { return this; }

  DWORD STDMETHODCALLTYPE SetLOD(DWORD LODNew) override;
  DWORD STDMETHODCALLTYPE GetLOD() override { return lod_; }
  DWORD STDMETHODCALLTYPE GetLevelCount() override { return LevelCount(); }
  HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override;
  D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return autoGen_; }
  void STDMETHODCALLTYPE GenerateMipSubLevels() override;
  HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level,
                                              IDirect3DSurface9** ppCubeMapSurface) override;
  HRESULT STDMETHODCALLTYPE LockRect(D3DCUBEMAP_FACES FaceType, UINT Level,
                                     D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                     DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) override;
  HRESULT STDMETHODCALLTYPE AddDirtyRect(D3DCUBEMAP_FACES, const RECT*) override { return D3D_OK; }

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  Surface* Find(D3DCUBEMAP_FACES face, UINT level) const;

  DWORD lod_ = 0;
  D3DTEXTUREFILTERTYPE autoGen_ = D3DTEXF_LINEAR;
};

}  // namespace d3d9
