// Feeds arbitrary bytes to the .x reader. Without a device: the document parser and the scene
// builder, whose output must hold together (indices within their arrays, attribute tables
// covering the faces, adjacency naming faces, bones naming vertices). Then, for inputs that build
// and stay small, both D3DX loaders on one headless device, with an allocator that counts what it
// hands out: after D3DXFrameDestroy nothing may be alive. Any crash, sanitizer report, leak or
// hang is a finding, and so is an inconsistent scene.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../../platform/d3dx9/xfile/xfile_scene.h"
#include "../support/headless_device.h"
#include "d3dx9.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

void CheckMesh(const xfile::MeshData& m) {
  const size_t vertices = m.positions.size(), faces = m.indices.size() / 3;
  Require(m.indices.size() % 3 == 0 && faces > 0 && vertices > 0);
  Require(m.pointReps.size() == vertices);
  Require(m.normals.size() == ((m.fvf & D3DFVF_NORMAL) ? vertices : 0));
  Require(m.colors.size() == ((m.fvf & D3DFVF_DIFFUSE) ? vertices : 0));
  Require(m.texcoords.size() == ((m.fvf & D3DFVF_TEX1) ? vertices : 0));
  for (DWORD i : m.indices) Require(i < vertices);
  for (size_t v = 0; v < vertices; ++v) Require(m.pointReps[v] <= v);
  Require(m.attributes.size() == faces && m.adjacency.size() == 3 * faces);
  for (DWORD a : m.adjacency) Require(a == 0xFFFFFFFF || a < faces);
  DWORD next = 0;
  for (const D3DXATTRIBUTERANGE& r : m.attributeTable) {
    Require(r.FaceStart == next && r.FaceCount > 0);
    Require(r.VertexStart + r.VertexCount <= vertices);
    for (DWORD f = r.FaceStart; f < r.FaceStart + r.FaceCount; ++f)
      Require(m.attributes[f] == r.AttribId);
    next += r.FaceCount;
  }
  Require(next == faces);
  if (!m.materials.empty())
    for (DWORD a : m.attributes) Require(a < m.materials.size());
  for (const xfile::BoneData& b : m.bones) {
    Require(b.vertices.size() == b.weights.size());
    for (DWORD v : b.vertices) Require(v < vertices);
  }
}

void CheckScene(const xfile::Scene& s) {
  for (const xfile::MeshData& m : s.meshes) CheckMesh(m);
  for (const xfile::FrameData& f : s.frames) {
    for (uint32_t m : f.meshes) Require(m < s.meshes.size());
    for (uint32_t c : f.children) Require(c < s.frames.size());
  }
  for (const xfile::TopLevelItem& t : s.topLevel)
    Require(t.index < (t.isMesh ? s.meshes.size() : s.frames.size()));
  Require(s.ticksPerSecond > 0);
}

class Allocator : public ID3DXAllocateHierarchy {
 public:
  HRESULT STDMETHODCALLTYPE CreateFrame(LPCSTR, LPD3DXFRAME* out) override {
    *out = new D3DXFRAME{};
    ++alive;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateMeshContainer(LPCSTR, const D3DXMESHDATA* data,
                                                const D3DXMATERIAL*, const D3DXEFFECTINSTANCE*,
                                                DWORD, const DWORD*, LPD3DXSKININFO skin,
                                                LPD3DXMESHCONTAINER* out) override {
    auto* c = new D3DXMESHCONTAINER{};
    c->MeshData = *data;
    c->MeshData.pMesh->AddRef();
    c->pSkinInfo = skin;
    if (skin) skin->AddRef();
    *out = c;
    ++alive;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DestroyFrame(LPD3DXFRAME f) override {
    delete f;
    --alive;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DestroyMeshContainer(LPD3DXMESHCONTAINER c) override {
    c->MeshData.pMesh->Release();
    if (c->pSkinInfo) c->pSkinInfo->Release();
    delete c;
    --alive;
    return S_OK;
  }
  int alive = 0;
};

IDirect3DDevice9* Device() {
  static test_support::HeadlessDevice headless;
  static const bool open = headless.Open(32, 32);
  return open ? headless.device : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  xfile::Scene scene;
  if (FAILED(xfile::LoadScene(data, size, &scene))) {
    Require(scene.frames.empty() && scene.meshes.empty() && scene.topLevel.empty());
    return 0;
  }
  CheckScene(scene);

  size_t vertices = 0;
  for (const xfile::MeshData& m : scene.meshes) vertices += m.positions.size();
  IDirect3DDevice9* device = vertices <= 4096 ? Device() : nullptr;
  if (!device) return 0;

  ID3DXMesh* mesh = nullptr;
  ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
  DWORD numMaterials = 0;
  const HRESULT hr =
      D3DXLoadMeshFromXInMemory(data, DWORD(size), D3DXMESH_SYSTEMMEM, device, &adjacency,
                                &materials, &effects, &numMaterials, &mesh);
  Require(SUCCEEDED(hr) == !scene.meshes.empty());
  if (mesh) Require(adjacency && adjacency->GetBufferSize() == 12 * mesh->GetNumFaces());
  SafeRelease(mesh);
  SafeRelease(adjacency);
  SafeRelease(materials);
  SafeRelease(effects);

  Allocator alloc;
  D3DXFRAME* root = nullptr;
  ID3DXAnimationController* controller = nullptr;
  if (SUCCEEDED(D3DXLoadMeshHierarchyFromXInMemory(data, DWORD(size), D3DXMESH_SYSTEMMEM, device,
                                                   &alloc, nullptr, &root, &controller))) {
    if (controller) {
      controller->AdvanceTime(0.25, nullptr);
      controller->Release();
    }
    D3DXFrameDestroy(root, &alloc);
  }
  Require(alloc.alive == 0);
  return 0;
}
