// Cube textures: six faces of one texture image set.
#include "d3d9/d3d9_cube_texture.h"

#include <algorithm>

namespace d3d9 {

CubeTexture::CubeTexture(std::shared_ptr<DeviceLink> link, D3DPOOL pool, DWORD usage)
    : Resource(std::move(link), D3DRTYPE_CUBETEXTURE, pool, usage, true) {}

bool CubeTexture::IsOwnInterface(REFIID riid) const {
  return riid == IID_IDirect3DCubeTexture9 || riid == IID_IDirect3DBaseTexture9 ||
         riid == IID_IDirect3DResource9;
}

bool CubeTexture::Allocate(UINT edge, UINT count, D3DFORMAT format) {
  return AllocateImages(link_, pool_, usage_, this, 6, edge, edge, count, format);
}

Surface* CubeTexture::Find(D3DCUBEMAP_FACES face, UINT level) const {
  if (static_cast<UINT>(face) > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= LevelCount()) return nullptr;
  return Level(static_cast<int>(face), level);
}

DWORD CubeTexture::SetLOD(DWORD lod) {
  DWORD old = lod_;
  if (pool_ == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, GetLevelCount() - 1);
  return old;
}

HRESULT CubeTexture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE f) {
  if (f != D3DTEXF_POINT && f != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
  autoGen_ = f;
  return D3D_OK;
}

void CubeTexture::GenerateMipSubLevels() {
  FinishDeviceWork();
  FilterMipLevels();
}

HRESULT CubeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* d) {
  if (level >= LevelCount()) return D3DERR_INVALIDCALL;
  return Level(0, level)->GetDesc(d);
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  Surface* s = Find(face, level);
  *out = s;
  if (!s) return D3DERR_INVALIDCALL;
  s->AddRef();
  return D3D_OK;
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* out, const RECT* r,
                              DWORD flags) {
  Surface* s = Find(face, level);
  return s ? s->LockRect(out, r, flags) : D3DERR_INVALIDCALL;
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level) {
  Surface* s = Find(face, level);
  return s ? s->UnlockRect() : D3DERR_INVALIDCALL;
}

}  // namespace d3d9
