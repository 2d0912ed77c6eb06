// IDirect3DDevice9: transforms, viewport, material, lights, clip planes, render, texture-stage and
// sampler states, textures, streams, indices, FVFs and vertex declarations.
#include <algorithm>
#include <cmath>

#include "d3d9/commands.h"
#include "d3d9/d3d9_index_buffer.h"
#include "d3d9/d3d9_texture.h"
#include "d3d9/d3d9_vertex_buffer.h"
#include "d3d9/d3d9_vertex_declaration.h"
#include "d3d9/device.h"

namespace d3d9 {

namespace {

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.f;
  return m;
}

}  // namespace

// --- Transforms, viewport, material, lights ------------------------------------------------------

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  switch (static_cast<DWORD>(state)) {
    case D3DTS_VIEW:
      api_.view = *m;
      break;
    case D3DTS_PROJECTION:
      api_.proj = *m;
      break;
    case 256:
      api_.world = *m;
      break;
    default:
      if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
        api_.texTransform[state - D3DTS_TEXTURE0] = *m;
        break;
      }
      // Other world matrices (vertex blending) are accepted and not used.
      if (static_cast<DWORD>(state) > 256 && static_cast<DWORD>(state) < 512) return D3D_OK;
      return D3DERR_INVALIDCALL;
  }
  *Record<CmdTransform>(kOpTransform) = CmdTransform{static_cast<DWORD>(state), *m};
  return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  switch (static_cast<DWORD>(state)) {
    case D3DTS_VIEW:
      *m = api_.view;
      return D3D_OK;
    case D3DTS_PROJECTION:
      *m = api_.proj;
      return D3D_OK;
    case 256:
      *m = api_.world;
      return D3D_OK;
    default:
      if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
        *m = api_.texTransform[state - D3DTS_TEXTURE0];
        return D3D_OK;
      }
      if (static_cast<DWORD>(state) > 256 && static_cast<DWORD>(state) < 512) {
        *m = Identity();
        return D3D_OK;
      }
      return D3DERR_INVALIDCALL;
  }
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  D3DMATRIX cur;
  HRESULT hr = GetTransform(state, &cur);
  if (FAILED(hr)) return hr;
  D3DMATRIX out{};
  // Direct3D pre-multiplies: the new matrix is m * current.
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += m->m[i][k] * cur.m[k][j];
      out.m[i][j] = s;
    }
  return SetTransform(state, &out);
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* vp) {
  if (!vp) return D3DERR_INVALIDCALL;
  const SurfaceStore& rt = api_.renderTarget->store;
  if (vp->Width == 0 || vp->Height == 0 || vp->X >= rt.width || vp->Y >= rt.height ||
      vp->Width > rt.width - vp->X || vp->Height > rt.height - vp->Y)
    return D3DERR_INVALIDCALL;
  if (!(vp->MinZ >= 0.f && vp->MinZ <= 1.f && vp->MaxZ >= 0.f && vp->MaxZ <= 1.f))
    return D3DERR_INVALIDCALL;
  api_.viewport = *vp;
  Record<CmdViewport>(kOpViewport)->vp = *vp;
  return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* vp) {
  if (!vp) return D3DERR_INVALIDCALL;
  *vp = api_.viewport;
  return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* m) {
  if (!m) return D3DERR_INVALIDCALL;
  api_.material = *m;
  Record<CmdMaterial>(kOpMaterial)->m = *m;
  return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* m) {
  if (!m) return D3DERR_INVALIDCALL;
  *m = api_.material;
  return D3D_OK;
}

namespace {

constexpr DWORD kMaxLightIndex = 4096;

// What Direct3D refuses in a light: an unknown type, a negative or undefined range or
// attenuation, a positional light whose attenuation is zero everywhere, a direction of length
// zero, and spot cones outside 0 <= Theta <= Phi <= pi.
bool LightIsValid(const D3DLIGHT9& l) {
  if (l.Type < D3DLIGHT_POINT || l.Type > D3DLIGHT_DIRECTIONAL) return false;
  const D3DVECTOR& d = l.Direction;
  if (l.Type != D3DLIGHT_POINT && !(d.x * d.x + d.y * d.y + d.z * d.z > 0.f)) return false;
  if (l.Type == D3DLIGHT_DIRECTIONAL) return true;
  if (!(l.Range >= 0.f) || !(l.Attenuation0 >= 0.f) || !(l.Attenuation1 >= 0.f) ||
      !(l.Attenuation2 >= 0.f))
    return false;
  if (l.Attenuation0 == 0.f && l.Attenuation1 == 0.f && l.Attenuation2 == 0.f) return false;
  if (l.Type == D3DLIGHT_SPOT &&
      !(l.Theta >= 0.f && l.Phi >= l.Theta && l.Phi <= 3.14159275f && std::isfinite(l.Falloff)))
    return false;
  return true;
}

}  // namespace

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* l) {
  if (!l || index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
  if (!LightIsValid(*l)) return D3DERR_INVALIDCALL;
  if (api_.lights.size() <= index) api_.lights.resize(index + 1, LightSlot{D3DLIGHT9{}, false});
  api_.lights[index].light = *l;
  *Record<CmdLight>(kOpLight) = CmdLight{index, *l, FALSE};
  return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* l) {
  if (!l || index >= api_.lights.size() || api_.lights[index].light.Type == 0)
    return D3DERR_INVALIDCALL;
  *l = api_.lights[index].light;
  return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
  if (index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
  if (api_.lights.size() <= index) api_.lights.resize(index + 1, LightSlot{D3DLIGHT9{}, false});
  LightSlot& s = api_.lights[index];
  // Enabling a light that was never set gives it the default directional light.
  if (s.light.Type == 0) {
    s.light.Type = D3DLIGHT_DIRECTIONAL;
    s.light.Diffuse = {1.f, 1.f, 1.f, 0.f};
    s.light.Direction = {0.f, 0.f, 1.f};
  }
  s.enabled = enable != FALSE;
  *Record<CmdLight>(kOpLightEnable) = CmdLight{index, s.light, enable};
  return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
  if (!enable || index >= api_.lights.size() || api_.lights[index].light.Type == 0)
    return D3DERR_INVALIDCALL;
  *enable = api_.lights[index].enabled ? 128 : FALSE;  // Direct3D reports TRUE as 128
  return D3D_OK;
}

HRESULT Device::SetClipPlane(DWORD index, const float* plane) {
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  std::memcpy(api_.clipPlanes[index], plane, sizeof(api_.clipPlanes[index]));
  auto* c = Record<CmdClipPlane>(kOpClipPlane);
  c->index = index;
  std::memcpy(c->plane, plane, sizeof(c->plane));
  return D3D_OK;
}

HRESULT Device::GetClipPlane(DWORD index, float* plane) {
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  std::memcpy(plane, api_.clipPlanes[index], sizeof(api_.clipPlanes[index]));
  return D3D_OK;
}

// --- States --------------------------------------------------------------------------------------

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  DWORD i = static_cast<DWORD>(state);
  if (i >= 256) return D3DERR_INVALIDCALL;
  if (api_.rs[i] == value) return D3D_OK;
  api_.rs[i] = value;
  *Record<CmdState>(kOpRenderState) = CmdState{i, value, 0};
  return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  DWORD i = static_cast<DWORD>(state);
  if (!value || i >= 256) return D3DERR_INVALIDCALL;
  *value = api_.rs[i];
  return D3D_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}
HRESULT Device::BeginStateBlock() {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::EndStateBlock(IDirect3DStateBlock9** out) {
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT Device::SetClipStatus(const D3DCLIPSTATUS9* s) {
  if (!s) return D3DERR_INVALIDCALL;
  clipStatus_ = *s;
  return D3D_OK;
}

HRESULT Device::GetClipStatus(D3DCLIPSTATUS9* s) {
  if (!s) return D3DERR_INVALIDCALL;
  *s = clipStatus_;
  return D3D_OK;
}

// Samplers 0 .. 15 serve pixel shaders (0 .. 7 also the texture stages); the displacement-map
// sampler is accepted and never read; the four vertex-texture samplers serve vertex shaders.
HRESULT Device::GetTexture(DWORD sampler, IDirect3DBaseTexture9** out) {
  const int slot = SamplerSlot(sampler);
  if (!out || slot < 0) return D3DERR_INVALIDCALL;
  *out = api_.textures[slot];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Device::SetTexture(DWORD sampler, IDirect3DBaseTexture9* t) {
  const int slot = SamplerSlot(sampler);
  if (slot < 0) return D3DERR_INVALIDCALL;
  // Rebinding the bound texture (the sprite pass does it per quad) needs no type check: it
  // passed one when it was bound.
  if (api_.textures[slot] == t) return D3D_OK;
  TextureImage* image = t ? AsTextureImage(t) : nullptr;
  if (t && !image) return D3DERR_INVALIDCALL;
  if (t) t->AddRef();
  SafeRelease(api_.textures[slot]);
  api_.textures[slot] = t;
  if (image) image->Pins()->Pin();
  auto* c = Record<CmdBind>(kOpTexture);
  c->slot = static_cast<DWORD>(slot);
  c->object = t;
  return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  if (!value || stage >= kMaxStages || static_cast<DWORD>(type) >= 33) return D3DERR_INVALIDCALL;
  *value = api_.tss[stage][type];
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  if (stage >= kMaxStages || static_cast<DWORD>(type) >= 33) return D3DERR_INVALIDCALL;
  if (api_.tss[stage][type] == value) return D3D_OK;
  api_.tss[stage][type] = value;
  *Record<CmdState>(kOpStageState) = CmdState{stage, static_cast<DWORD>(type), value};
  return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  const int slot = SamplerSlot(sampler);
  if (!value || static_cast<DWORD>(type) >= 14 || slot < 0) return D3DERR_INVALIDCALL;
  *value = api_.samp[slot][type];
  return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  const int slot = SamplerSlot(sampler);
  if (static_cast<DWORD>(type) >= 14 || slot < 0) return D3DERR_INVALIDCALL;
  if (api_.samp[slot][type] == value) return D3D_OK;
  api_.samp[slot][type] = value;
  *Record<CmdState>(kOpSamplerState) =
      CmdState{static_cast<DWORD>(slot), static_cast<DWORD>(type), value};
  return D3D_OK;
}

HRESULT Device::ValidateDevice(DWORD* passes) {
  if (!passes) return D3DERR_INVALIDCALL;
  *passes = 1;
  return D3D_OK;
}

HRESULT Device::SetPaletteEntries(UINT, const PALETTEENTRY*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetPaletteEntries(UINT, PALETTEENTRY*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::SetCurrentTexturePalette(UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::GetCurrentTexturePalette(UINT*) {
  return D3DERR_INVALIDCALL;
}

HRESULT Device::SetScissorRect(const RECT* r) {
  if (!r) return D3DERR_INVALIDCALL;
  api_.scissor = *r;
  Record<CmdRect>(kOpScissor)->r = *r;
  return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* r) {
  if (!r) return D3DERR_INVALIDCALL;
  *r = api_.scissor;
  return D3D_OK;
}

HRESULT Device::SetSoftwareVertexProcessing(BOOL sw) {
  if (!(behavior_ & D3DCREATE_MIXED_VERTEXPROCESSING) &&
      (sw != FALSE) != ((behavior_ & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0))
    return D3DERR_INVALIDCALL;
  softwareVp_ = sw ? TRUE : FALSE;
  return D3D_OK;
}

HRESULT Device::SetNPatchMode(float n) {
  nPatch_ = n;
  return D3D_OK;
}

// --- Streams and declarations --------------------------------------------------------------------

// Setting an FVF replaces the vertex declaration, as Direct3D does.
HRESULT Device::SetFVF(DWORD fvf) {
  if (fvf == api_.fvf && !api_.declaration) return D3D_OK;
  VertexLayout l = VertexLayout::FromFvf(fvf);
  if (fvf && !l.valid) return D3DERR_INVALIDCALL;
  if (api_.declaration) {
    SafeRelease(api_.declaration);
    Record<CmdBind>(kOpDeclaration)->object = nullptr;
  }
  api_.fvf = fvf;
  api_.layout = l;
  Record<CmdBind>(kOpFvf)->value = fvf;
  return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
  if (!fvf) return D3DERR_INVALIDCALL;
  *fvf = api_.fvf;
  return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT n, IDirect3DVertexBuffer9* vbI, UINT offset, UINT stride) {
  if (n >= 16) return D3DERR_INVALIDCALL;
  VertexBuffer* vb = nullptr;
  if (vbI) {
    vb = AsVertexBuffer(vbI);
    if (!vb) return D3DERR_INVALIDCALL;
    vb->AddRef();
  }
  if (api_.streams[n].buffer) api_.streams[n].buffer->Release();
  api_.streams[n].buffer = vb;
  api_.streams[n].offset = offset;
  api_.streams[n].stride = stride;
  if (vb) vb->Pin();
  *Record<CmdBind>(kOpStream) = CmdBind{n, vb, offset, stride, 0};
  return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT n, IDirect3DVertexBuffer9** out, UINT* offset, UINT* stride) {
  if (n >= 16 || !out || !offset || !stride) return D3DERR_INVALIDCALL;
  *out = api_.streams[n].buffer;
  if (*out) (*out)->AddRef();
  *offset = api_.streams[n].offset;
  *stride = api_.streams[n].stride;
  return D3D_OK;
}

HRESULT Device::SetStreamSourceFreq(UINT n, UINT setting) {
  if (n >= 16) return D3DERR_INVALIDCALL;
  api_.streams[n].freq = setting;
  return D3D_OK;
}

HRESULT Device::GetStreamSourceFreq(UINT n, UINT* setting) {
  if (n >= 16 || !setting) return D3DERR_INVALIDCALL;
  *setting = api_.streams[n].freq;
  return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* ibI) {
  IndexBuffer* ib = nullptr;
  if (ibI) {
    ib = AsIndexBuffer(ibI);
    if (!ib) return D3DERR_INVALIDCALL;
    ib->AddRef();
  }
  if (api_.indices) api_.indices->Release();
  api_.indices = ib;
  if (ib) ib->Pin();
  Record<CmdBind>(kOpIndices)->object = ib;
  return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = api_.indices;
  if (api_.indices) api_.indices->AddRef();
  return D3D_OK;
}

// Programmable stages and patches are not part of this device yet: the interface answers
// D3DERR_INVALIDCALL (or accepts clearing the slot).
HRESULT Device::ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*,
                                IDirect3DVertexDeclaration9*, DWORD) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        IDirect3DVertexDeclaration9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!elements) return D3DERR_INVALIDCALL;
  VertexDeclaration* d = VertexDeclaration::Create(link_, elements);
  if (!d) return D3DERR_INVALIDCALL;
  *out = d;
  return D3D_OK;
}

// Setting a declaration replaces the FVF for drawing; GetFVF then answers 0.
HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* di) {
  VertexDeclaration* d = nullptr;
  if (di) {
    d = AsVertexDeclaration(di);
    if (!d) return D3DERR_INVALIDCALL;
  }
  if (d == api_.declaration) return D3D_OK;
  if (d) d->AddRef();
  SafeRelease(api_.declaration);
  api_.declaration = d;
  if (d) {
    api_.fvf = 0;
    api_.layout = d->layout;
    d->Pin();
  } else {
    api_.layout = VertexLayout::FromFvf(api_.fvf);
  }
  Record<CmdBind>(kOpDeclaration)->object = d;
  return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = api_.declaration;
  if (*out) (*out)->AddRef();
  return D3D_OK;
}
HRESULT Device::DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::DeletePatch(UINT) {
  return D3DERR_INVALIDCALL;
}
HRESULT Device::CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** o) {
  if (o) *o = nullptr;
  return D3DERR_NOTAVAILABLE;
}

}  // namespace d3d9
