// The mesh pass: fixed-function drawing of every Mesh with its parent chain, materials, blend
// modes and DOT3 bump mapping, and view-frustum culling.
#include "engine/scene/mesh_pass.h"

#include <cmath>

#include "engine/core/engine_state.h"
#include "engine/scene/scene_values.h"

namespace {

constexpr float kDegreesToRadians = 0.017453f;
// The operations that set Parent keep chains acyclic; should one still loop, the world transform
// is composed from this many links and the mesh drawn with it.
constexpr int kMaxParentLinks = 256;

// Normalises plane `index` so that its value is a signed distance. A degenerate plane (from a
// singular projection) has no direction: it is made to pass everything rather than divide by 0.
void NormalisePlane(int index) {
  float* plane = Engine.FrustumPlanes[index];
  const float length = static_cast<float>(
      std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]));
  if (!(length > 0.0f) || !std::isfinite(length)) {
    plane[0] = plane[1] = plane[2] = 0.0f;
    plane[3] = 1.0f;
    return;
  }
  for (int c = 0; c < 4; ++c) plane[c] /= length;
}

void SetPlane(int index, float a, float b, float c, float d) {
  float* plane = Engine.FrustumPlanes[index];
  plane[0] = a;
  plane[1] = b;
  plane[2] = c;
  plane[3] = d;
  NormalisePlane(index);
}

// A texture handle of a mesh, or null when it is not in TextureList.
Texture* ListedTexture(Texture* handle) {
  return Engine.TextureList.Contains(handle) ? handle : nullptr;
}

// Whether the mesh lies outside the frustum; only meshes with a sphere or a box are ever culled.
bool Culled(const Mesh& mesh) {
  const float x = mesh.World._41, y = mesh.World._42, z = mesh.World._43;
  if (mesh.BoundsKind == 1) {
    return SphereInFrustum(x + mesh.SphereOffset[0], y + mesh.SphereOffset[1],
                           z + mesh.SphereOffset[2], mesh.SphereRadius) == 0;
  }
  if (mesh.BoundsKind == 2) {
    return BoxInFrustum(x + mesh.BoxOffset[0], y + mesh.BoxOffset[1], z + mesh.BoxOffset[2],
                        mesh.BoxHalfSize[0], mesh.BoxHalfSize[1], mesh.BoxHalfSize[2]) == 0;
  }
  return false;
}

D3DXMATRIX YawPitchRoll(const float degrees[3]) {
  D3DXMATRIX m;
  D3DXMatrixRotationYawPitchRoll(&m, degrees[0] * kDegreesToRadians, degrees[1] * kDegreesToRadians,
                                 degrees[2] * kDegreesToRadians);
  return m;
}

// The mesh's world transform below its parents. A parent contributes its angles and its
// position, never its scale or the rest of its matrix.
D3DXMATRIX ComposedWorld(const Mesh& mesh) {
  D3DXMATRIX world(mesh.World);
  int links = 0;
  for (const Mesh* parent = mesh.Parent; parent != nullptr && links < kMaxParentLinks;
       parent = parent->Parent, ++links) {
    // A parent that has left MeshList ends the chain: its record is no longer the engine's.
    if (!Engine.MeshList.Contains(parent)) break;
    const D3DXMATRIX rotation = YawPitchRoll(parent->RotationAngles);
    const D3DXMATRIX offset = YawPitchRoll(parent->OffsetAngles);
    D3DXMATRIX link;
    D3DXMatrixMultiply(&link, &offset, &rotation);
    link._41 = parent->World._41;
    link._42 = parent->World._42;
    link._43 = parent->World._43;
    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, &world, &link);
    world = product;
  }
  if (mesh.InheritPositionOnly != 0) {
    const float x = world._41, y = world._42, z = world._43;
    world = D3DXMATRIX(mesh.World);
    world._41 = x;
    world._42 = y;
    world._43 = z;
  }
  return world;
}

// Blend modes 1 to 3: back faces first, then front faces, each a draw of the subset.
void DrawBlended(IDirect3DDevice9* device, const Mesh& mesh, DWORD subset) {
  const uint8_t mode = mesh.MeshBlendMode;
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  if (mode == 1) {
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  } else if (mode == 2) {
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  } else {
    device->SetRenderState(D3DRS_BLENDFACTOR, mesh.BlendFactorColour);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_BLENDFACTOR);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  }
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  mesh.D3DMesh->DrawSubset(subset);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  mesh.D3DMesh->DrawSubset(subset);
  // Blending stays enabled; ONE and ZERO make the following draws come out unblended.
  if (mode != 1) device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
}

// DOT3 bump mapping: the normal map dotted with the light direction in stage 0, modulated by the
// first material's texture in stage 1. Only subset 0 is drawn.
void DrawBumpMapped(IDirect3DDevice9* device, const Mesh& mesh, Texture* bump, Texture* material) {
  device->SetRenderState(D3DRS_TEXTUREFACTOR, PackDirection(Engine.MeshLightDirection));
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
  device->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTexture(0, bump->D3DTexture);
  device->SetTexture(1, material != nullptr ? material->D3DTexture : nullptr);
  mesh.D3DMesh->DrawSubset(0);
  device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTexture(1, nullptr);
}

void ApplyMaterial(IDirect3DDevice9* device, const D3DMATERIAL9& material, Texture* texture) {
  // A material without power gets no specular highlights.
  device->SetRenderState(D3DRS_SPECULARENABLE, AnyBitSet(material.Power) ? TRUE : FALSE);
  device->SetTexture(0, texture != nullptr ? texture->D3DTexture : nullptr);
  device->SetMaterial(&material);
}

// The mesh's own material on subset 0, untextured; blend mode 3 needs a material reference and
// draws opaque here.
void DrawWithOwnMaterial(IDirect3DDevice9* device, Mesh& mesh) {
  ApplyMaterial(device, mesh.OwnMaterial, nullptr);
  if (mesh.MeshBlendMode == 1 || mesh.MeshBlendMode == 2) {
    DrawBlended(device, mesh, 0);
  } else {
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    mesh.D3DMesh->DrawSubset(0);
  }
}

// One subset per material reference, each with its texture and material. An entry without a
// listed texture draws its subset with the mesh's own material, untextured.
void DrawWithMaterialRefs(IDirect3DDevice9* device, Mesh& mesh) {
  Texture* bump = mesh.BumpTexture != nullptr ? ListedTexture(mesh.BumpTexture) : nullptr;
  ObjectList<MaterialRef>& refs = mesh.MaterialRefs;
  DWORD subset = 0;
  refs.Reset();
  while (MaterialRef* ref = refs.Next()) {
    Texture* texture = ref->TextureHandle != nullptr ? ListedTexture(ref->TextureHandle) : nullptr;
    ApplyMaterial(device, texture != nullptr ? texture->Material : mesh.OwnMaterial, texture);
    const uint8_t mode = mesh.MeshBlendMode;
    if (mode >= 1 && mode <= 3) {
      DrawBlended(device, mesh, subset);
    } else if (bump != nullptr) {
      DrawBumpMapped(device, mesh, bump, texture);
      return;
    } else {
      mesh.D3DMesh->DrawSubset(subset);
    }
    ++subset;
  }
}

}  // namespace

void UpdateFrustumPlanes() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  D3DXMATRIX view, projection, m;
  device->GetTransform(D3DTS_VIEW, &view);
  device->GetTransform(D3DTS_PROJECTION, &projection);
  D3DXMatrixMultiply(&m, &view, &projection);
  SetPlane(0, m._14 - m._11, m._24 - m._21, m._34 - m._31, m._44 - m._41);  // right
  SetPlane(1, m._14 + m._11, m._24 + m._21, m._34 + m._31, m._44 + m._41);  // left
  SetPlane(2, m._14 + m._12, m._24 + m._22, m._34 + m._32, m._44 + m._42);  // bottom
  SetPlane(3, m._14 - m._12, m._24 - m._22, m._34 - m._32, m._44 - m._42);  // top
  SetPlane(4, m._14 - m._13, m._24 - m._23, m._34 - m._33, m._44 - m._43);  // far
  SetPlane(5, m._13, m._23, m._33, m._43);  // near: Direct3D clips at z = 0
}

int SphereInFrustum(float x, float y, float z, float radius) {
  for (int i = 0; i < 6; ++i) {
    const float* p = Engine.FrustumPlanes[i];
    if (p[0] * x + p[1] * y + p[2] * z + p[3] + radius <= 0.0f) return 0;
  }
  return 1;
}

int BoxInFrustum(float x, float y, float z, float halfX, float halfY, float halfZ) {
  const float xs[2] = {x - halfX, x + halfX};
  const float ys[2] = {y - halfY, y + halfY};
  const float zs[2] = {z - halfZ, z + halfZ};
  for (int i = 0; i < 6; ++i) {
    const float* p = Engine.FrustumPlanes[i];
    bool inside = false;
    // Corners in the order (-,-,-), (+,-,-), (-,+,-), (+,+,-), (-,-,+), ...
    for (int corner = 0; corner < 8 && !inside; ++corner) {
      inside =
          p[0] * xs[corner & 1] + p[1] * ys[(corner >> 1) & 1] + p[2] * zs[corner >> 2] + p[3] >
          0.0f;
    }
    if (!inside) return 0;
  }
  return 1;
}

uint32_t PackDirection(const float* direction) {
  if (direction == nullptr) return 0;
  uint32_t packed = 0xFF000000u;
  for (int c = 0; c < 3; ++c) {
    // Components outside -1..1 would carry into the neighbouring bytes; NaN packs as 0.
    const double value = direction[c] * 127.0 + 128.0;
    const double byte = value >= 0.0 ? std::nearbyint(std::fmin(value, 255.0)) : 0.0;
    packed |= static_cast<uint32_t>(byte) << (16 - 8 * c);
  }
  return packed;
}

namespace {

// The effect draws the mesh: every pass of its technique once per material reference, one subset
// each. A handle that is no longer in EffectList is never followed: its record may be gone.
void DrawWithEffect(Mesh& mesh) {
  Engine.CurrentEffect = mesh.MeshEffect;
  if (!Engine.EffectList.Contains(mesh.MeshEffect)) return;
  ID3DXEffect* effect = mesh.MeshEffect->D3DEffect;
  if (effect == nullptr) return;
  UINT passes = 0;
  effect->Begin(&passes, 0);  // a failed Begin leaves no passes: only End follows
  const int32_t subsets = mesh.MaterialRefs.Count();
  for (int32_t subset = 0; subset < subsets; ++subset) {
    for (UINT pass = 0; pass < passes; ++pass) {
      effect->BeginPass(pass);
      mesh.D3DMesh->DrawSubset(static_cast<DWORD>(subset));
      effect->EndPass();
    }
  }
  effect->End();
}

}  // namespace

void DrawListedMesh(Mesh& mesh) {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr || mesh.D3DMesh == nullptr || mesh.Hidden == 1) return;
  // Culling comes before any device call, so a culled mesh costs no state change.
  if (Engine.FrustumCulling != 0 && Culled(mesh)) return;

  device->SetRenderState(D3DRS_COLORVERTEX, mesh.NoVertexColour != 0 ? FALSE : TRUE);
  if (mesh.Parent == nullptr) {
    device->SetTransform(D3DTS_WORLD, &mesh.World);
  } else {
    const D3DXMATRIX world = ComposedWorld(mesh);
    device->SetTransform(D3DTS_WORLD, &world);
  }

  if (mesh.MeshEffect != nullptr) {
    DrawWithEffect(mesh);
    return;
  }

  const MaterialRef* current = mesh.MaterialRefs.Current();
  if (current == nullptr || current->TextureHandle == nullptr) {
    DrawWithOwnMaterial(device, mesh);
  } else {
    DrawWithMaterialRefs(device, mesh);
  }
}

void DrawMesh(Mesh* mesh) {
  if (Engine.MeshList.Contains(mesh)) DrawListedMesh(*mesh);
}

void DrawMeshes() {
  ObjectList<Mesh>& meshes = Engine.MeshList;
  meshes.Reset();
  while (Mesh* mesh = meshes.Next()) DrawListedMesh(*mesh);
}
