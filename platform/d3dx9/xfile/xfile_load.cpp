// The D3DX entry points for .x files: a Scene made into one ID3DXMesh (D3DXLoadMeshFromX*) or into
// frames and mesh containers through the application's allocator, with skin information and an
// animation controller (D3DXLoadMeshHierarchyFromX*).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "d3dx9.h"
#include "d3dx9/file_bytes.h"
#include "d3dx9/xfile/xfile_scene.h"

namespace {

using xfile::MaterialData;
using xfile::MeshData;
using xfile::Scene;

// Loaded controllers get this many tracks and events; CloneAnimationController makes more.
constexpr UINT kLoadedTracks = 2;
constexpr UINT kLoadedEvents = 30;

// Fills a block in two passes: the first measures, the second writes into the buffer.
class Packer {
 public:
  explicit Packer(BYTE* base) : base_(base) {}
  size_t Reserve(size_t bytes, size_t align) {
    at_ = (at_ + align - 1) / align * align;
    const size_t offset = at_;
    at_ += bytes;
    return offset;
  }
  template <class T>
  T* At(size_t offset) const {
    return base_ ? reinterpret_cast<T*>(base_ + offset) : nullptr;
  }
  char* String(const std::string& s) {
    const size_t offset = Reserve(s.size() + 1, 1);
    if (!base_) return nullptr;
    std::memcpy(base_ + offset, s.c_str(), s.size() + 1);
    return reinterpret_cast<char*>(base_ + offset);
  }
  size_t Size() const { return at_; }

 private:
  BYTE* base_;
  size_t at_ = 0;
};

template <class Fill>
HRESULT Pack(Fill fill, ID3DXBuffer** out) {
  Packer measure(nullptr);
  fill(measure);
  if (measure.Size() > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  HRESULT hr = D3DXCreateBuffer(DWORD(measure.Size()), out);
  if (FAILED(hr)) return hr;
  Packer write(static_cast<BYTE*>((*out)->GetBufferPointer()));
  fill(write);
  return D3D_OK;
}

// D3DXMATERIAL records, then the texture file names they point to.
HRESULT MaterialBuffer(const std::vector<MaterialData>& materials, ID3DXBuffer** out) {
  *out = nullptr;
  if (materials.empty()) return D3D_OK;
  return Pack(
      [&](Packer& p) {
        const size_t array = p.Reserve(sizeof(D3DXMATERIAL) * materials.size(), 8);
        for (size_t i = 0; i < materials.size(); ++i) {
          char* name = materials[i].hasTexture ? p.String(materials[i].texture) : nullptr;
          if (D3DXMATERIAL* m = p.At<D3DXMATERIAL>(array + i * sizeof(D3DXMATERIAL))) {
            m->MatD3D = materials[i].material;
            m->pTextureFilename = name;
          }
        }
      },
      out);
}

// One D3DXEFFECTINSTANCE per material: the material's colours and power as float defaults
// ("Diffuse", "Power", "Specular", "Emissive", "Ambient"), its texture as "Texture0@Name", then
// the parameters of the material's EffectInstance, whose file name the instance carries.
HRESULT EffectBuffer(const std::vector<MaterialData>& materials, ID3DXBuffer** out) {
  *out = nullptr;
  if (materials.empty()) return D3D_OK;
  struct Default {
    const char* name;
    D3DXEFFECTDEFAULTTYPE type;
    const void* value;
    size_t bytes;
  };
  return Pack(
      [&](Packer& p) {
        const size_t instances = p.Reserve(sizeof(D3DXEFFECTINSTANCE) * materials.size(), 8);
        for (size_t i = 0; i < materials.size(); ++i) {
          const MaterialData& m = materials[i];
          const D3DMATERIAL9& d = m.material;
          std::vector<Default> defaults = {
              {"Diffuse", D3DXEDT_FLOATS, &d.Diffuse, sizeof d.Diffuse},
              {"Power", D3DXEDT_FLOATS, &d.Power, sizeof d.Power},
              {"Specular", D3DXEDT_FLOATS, &d.Specular, sizeof d.Specular},
              {"Emissive", D3DXEDT_FLOATS, &d.Emissive, sizeof d.Emissive},
              {"Ambient", D3DXEDT_FLOATS, &d.Ambient, sizeof d.Ambient},
          };
          if (m.hasTexture)
            defaults.push_back(
                {"Texture0@Name", D3DXEDT_STRING, m.texture.c_str(), m.texture.size() + 1});
          for (const xfile::EffectParam& e : m.params)
            defaults.push_back({e.name.c_str(), e.type, e.value.data(), e.value.size()});
          const size_t array = p.Reserve(sizeof(D3DXEFFECTDEFAULT) * defaults.size(), 8);
          char* file = m.hasEffect ? p.String(m.effectFile) : nullptr;
          for (size_t k = 0; k < defaults.size(); ++k) {
            char* name = p.String(defaults[k].name);
            const size_t value = p.Reserve(defaults[k].bytes, 4);
            auto* slot = p.At<D3DXEFFECTDEFAULT>(array + k * sizeof(D3DXEFFECTDEFAULT));
            if (!slot) continue;  // measuring
            if (defaults[k].bytes)
              std::memcpy(p.At<BYTE>(value), defaults[k].value, defaults[k].bytes);
            *slot = D3DXEFFECTDEFAULT{name, defaults[k].type, DWORD(defaults[k].bytes),
                                      p.At<BYTE>(value)};
          }
          if (auto* inst = p.At<D3DXEFFECTINSTANCE>(instances + i * sizeof(D3DXEFFECTINSTANCE)))
            *inst =
                D3DXEFFECTINSTANCE{file, DWORD(defaults.size()), p.At<D3DXEFFECTDEFAULT>(array)};
        }
      },
      out);
}

HRESULT DwordBuffer(const std::vector<DWORD>& values, ID3DXBuffer** out) {
  *out = nullptr;
  const HRESULT hr = D3DXCreateBuffer(DWORD(values.size() * sizeof(DWORD)), out);
  if (SUCCEEDED(hr) && !values.empty())
    std::memcpy((*out)->GetBufferPointer(), values.data(), values.size() * sizeof(DWORD));
  return hr;
}

HRESULT CreateMesh(const MeshData& m, DWORD options, IDirect3DDevice9* device, ID3DXMesh** out) {
  *out = nullptr;
  if (m.NumVertices() > 0xFFFF) options |= D3DXMESH_32BIT;
  ID3DXMesh* mesh = nullptr;
  HRESULT hr = D3DXCreateMeshFVF(m.NumFaces(), m.NumVertices(), options, m.fvf, device, &mesh);
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  hr = mesh->LockVertexBuffer(0, &data);
  if (SUCCEEDED(hr)) {
    auto* v = static_cast<BYTE*>(data);
    for (DWORD i = 0; i < m.NumVertices(); ++i) {
      auto put = [&](const void* src, size_t bytes) {
        std::memcpy(v, src, bytes);
        v += bytes;
      };
      put(&m.positions[i], 12);
      if (m.fvf & D3DFVF_NORMAL) put(&m.normals[i], 12);
      if (m.fvf & D3DFVF_DIFFUSE) put(&m.colors[i], 4);
      if (m.fvf & D3DFVF_TEX1) put(&m.texcoords[i], 8);
    }
    mesh->UnlockVertexBuffer();
    hr = mesh->LockIndexBuffer(0, &data);
  }
  if (SUCCEEDED(hr)) {
    if (mesh->GetOptions() & D3DXMESH_32BIT) {
      std::memcpy(data, m.indices.data(), m.indices.size() * sizeof(DWORD));
    } else {
      auto* out16 = static_cast<WORD*>(data);
      for (size_t i = 0; i < m.indices.size(); ++i) out16[i] = WORD(m.indices[i]);
    }
    mesh->UnlockIndexBuffer();
    // The attribute lock drops the table, so the table goes in afterwards.
    DWORD* attributes = nullptr;
    hr = mesh->LockAttributeBuffer(0, &attributes);
    if (SUCCEEDED(hr)) {
      std::copy(m.attributes.begin(), m.attributes.end(), attributes);
      mesh->UnlockAttributeBuffer();
      hr = mesh->SetAttributeTable(m.attributeTable.data(), DWORD(m.attributeTable.size()));
    }
  }
  if (FAILED(hr)) {
    mesh->Release();
    return hr;
  }
  *out = mesh;
  return D3D_OK;
}

HRESULT CreateSkinInfo(const MeshData& m, ID3DXSkinInfo** out) {
  HRESULT hr = D3DXCreateSkinInfoFVF(m.NumVertices(), m.fvf, DWORD(m.bones.size()), out);
  for (DWORD b = 0; SUCCEEDED(hr) && b < m.bones.size(); ++b) {
    const xfile::BoneData& bone = m.bones[b];
    hr = (*out)->SetBoneName(b, bone.name.c_str());
    if (SUCCEEDED(hr)) hr = (*out)->SetBoneOffsetMatrix(b, &bone.offset);
    if (SUCCEEDED(hr))
      hr = (*out)->SetBoneInfluence(b, DWORD(bone.vertices.size()), bone.vertices.data(),
                                    bone.weights.data());
  }
  if (FAILED(hr)) SafeRelease(*out);
  return hr;
}

// --- One mesh of the whole file --------------------------------------------------------------

struct Placed {
  const MeshData* mesh;
  D3DXMATRIX world;
};

void PlaceFrame(const Scene& scene, uint32_t index, const D3DXMATRIX& parent,
                std::vector<Placed>* out) {
  const xfile::FrameData& f = scene.frames[index];
  const D3DXMATRIX world = f.transform * parent;
  for (uint32_t m : f.meshes) out->push_back(Placed{&scene.meshes[m], world});
  for (uint32_t c : f.children) PlaceFrame(scene, c, world, out);
}

MaterialData DefaultMaterial() {
  MaterialData m;
  m.material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  m.material.Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
  m.material.Specular = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
  m.material.Emissive = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
  return m;
}

// Every placed mesh in one: positions by their frames' matrices, normals by the inverse
// transposes; a mesh without materials gets a white one when others have materials.
void Merge(const std::vector<Placed>& placed, MeshData* out) {
  bool anyMaterials = false;
  for (const Placed& p : placed) {
    out->fvf |= p.mesh->fvf;
    anyMaterials = anyMaterials || !p.mesh->materials.empty();
  }
  for (const Placed& p : placed) {
    const MeshData& m = *p.mesh;
    const DWORD base = out->NumVertices();
    const DWORD attributeBase = DWORD(out->materials.size());
    const bool identity = D3DXMatrixIsIdentity(&p.world);
    D3DXMATRIX normalMatrix = p.world, inverse;
    if (D3DXMatrixInverse(&inverse, nullptr, &p.world))
      D3DXMatrixTranspose(&normalMatrix, &inverse);
    for (DWORD v = 0; v < m.NumVertices(); ++v) {
      D3DXVECTOR3 pos = m.positions[v];
      if (!identity) D3DXVec3TransformCoord(&pos, &pos, &p.world);
      out->positions.push_back(pos);
      out->pointReps.push_back(base + m.pointReps[v]);
      if (out->fvf & D3DFVF_NORMAL) {
        D3DXVECTOR3 n(0.0f, 0.0f, 0.0f);
        if (m.fvf & D3DFVF_NORMAL) {
          n = m.normals[v];
          if (!identity) {
            D3DXVec3TransformNormal(&n, &n, &normalMatrix);
            D3DXVec3Normalize(&n, &n);
          }
        }
        out->normals.push_back(n);
      }
      if (out->fvf & D3DFVF_DIFFUSE)
        out->colors.push_back((m.fvf & D3DFVF_DIFFUSE) ? m.colors[v] : 0x00FFFFFF);
      if (out->fvf & D3DFVF_TEX1)
        out->texcoords.push_back((m.fvf & D3DFVF_TEX1) ? m.texcoords[v] : D3DXVECTOR2(0, 0));
    }
    for (DWORD i : m.indices) out->indices.push_back(base + i);
    for (DWORD a : m.attributes) out->attributes.push_back(attributeBase + a);
    if (!m.materials.empty())
      out->materials.insert(out->materials.end(), m.materials.begin(), m.materials.end());
    else if (anyMaterials)
      out->materials.push_back(DefaultMaterial());
  }
  xfile::FinishMesh(out);
}

// --- Hierarchies -------------------------------------------------------------------------------

class HierarchyBuilder {
 public:
  HierarchyBuilder(const Scene& scene, DWORD options, IDirect3DDevice9* device,
                   ID3DXAllocateHierarchy* alloc)
      : scene_(scene), options_(options), device_(device), alloc_(alloc) {}

  // Builds the top-level frames (a frame of its own for each top-level mesh) and, when there
  // are several, a root above them.
  HRESULT Build(D3DXFRAME** root) {
    *root = nullptr;
    D3DXFRAME* first = nullptr;
    D3DXFRAME** link = &first;
    HRESULT hr = D3D_OK;
    size_t count = 0;
    for (const xfile::TopLevelItem& item : scene_.topLevel) {
      D3DXFRAME* f = nullptr;
      if (item.isMesh) {
        hr = NewFrame(nullptr, &f);
        if (SUCCEEDED(hr)) hr = AddContainer(scene_.meshes[item.index], f);
        if (FAILED(hr) && f) D3DXFrameDestroy(f, alloc_);
      } else {
        hr = Frame(item.index, &f);
      }
      if (FAILED(hr)) break;
      *link = f;
      link = &f->pFrameSibling;
      ++count;
    }
    if (SUCCEEDED(hr) && count == 0) hr = E_FAIL;
    if (SUCCEEDED(hr) && count > 1) {
      D3DXFRAME* top = nullptr;
      hr = NewFrame(nullptr, &top);
      if (SUCCEEDED(hr)) {
        top->pFrameFirstChild = first;
        first = top;
      }
    }
    if (FAILED(hr)) {
      if (first) D3DXFrameDestroy(first, alloc_);
      return hr;
    }
    *root = first;
    return D3D_OK;
  }

 private:
  HRESULT NewFrame(LPCSTR name, D3DXFRAME** out) {
    *out = nullptr;
    const HRESULT hr = alloc_->CreateFrame(name, out);
    if (FAILED(hr)) {
      *out = nullptr;
      return hr;
    }
    if (!*out) return E_FAIL;
    D3DXMatrixIdentity(&(*out)->TransformationMatrix);
    (*out)->pMeshContainer = nullptr;
    (*out)->pFrameSibling = nullptr;
    (*out)->pFrameFirstChild = nullptr;
    return D3D_OK;
  }

  // On failure the frame and what it holds so far are destroyed.
  HRESULT Frame(uint32_t index, D3DXFRAME** out) {
    const xfile::FrameData& data = scene_.frames[index];
    D3DXFRAME* f = nullptr;
    HRESULT hr = NewFrame(data.name.c_str(), &f);
    if (FAILED(hr)) return hr;
    f->TransformationMatrix = data.transform;
    for (uint32_t m : data.meshes)
      if (FAILED(hr = AddContainer(scene_.meshes[m], f))) break;
    D3DXFRAME** link = &f->pFrameFirstChild;
    for (size_t i = 0; SUCCEEDED(hr) && i < data.children.size(); ++i) {
      D3DXFRAME* child = nullptr;
      hr = Frame(data.children[i], &child);
      if (SUCCEEDED(hr)) {
        *link = child;
        link = &child->pFrameSibling;
      }
    }
    if (FAILED(hr)) {
      D3DXFrameDestroy(f, alloc_);
      return hr;
    }
    *out = f;
    return D3D_OK;
  }

  // Appends a mesh container for `m` to the frame's list; an allocator that returns none skips
  // the mesh.
  HRESULT AddContainer(const MeshData& m, D3DXFRAME* frame) {
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* materials = nullptr;
    ID3DXBuffer* effects = nullptr;
    ID3DXSkinInfo* skin = nullptr;
    HRESULT hr = CreateMesh(m, options_, device_, &mesh);
    if (SUCCEEDED(hr)) hr = MaterialBuffer(m.materials, &materials);
    if (SUCCEEDED(hr)) hr = EffectBuffer(m.materials, &effects);
    if (SUCCEEDED(hr) && m.skinned) hr = CreateSkinInfo(m, &skin);
    D3DXMESHCONTAINER* container = nullptr;
    if (SUCCEEDED(hr)) {
      D3DXMESHDATA data{};
      data.Type = D3DXMESHTYPE_MESH;
      data.pMesh = mesh;
      hr = alloc_->CreateMeshContainer(
          m.name.c_str(), &data,
          materials ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr,
          effects ? static_cast<const D3DXEFFECTINSTANCE*>(effects->GetBufferPointer()) : nullptr,
          DWORD(m.materials.size()), m.adjacency.data(), skin, &container);
      if (FAILED(hr)) container = nullptr;
    }
    SafeRelease(mesh);
    SafeRelease(materials);
    SafeRelease(effects);
    SafeRelease(skin);
    if (FAILED(hr)) return hr;
    if (container) {
      container->pNextMeshContainer = nullptr;
      D3DXMESHCONTAINER** link = &frame->pMeshContainer;
      while (*link) link = &(*link)->pNextMeshContainer;
      *link = container;
    }
    return D3D_OK;
  }

  const Scene& scene_;
  DWORD options_;
  IDirect3DDevice9* device_;
  ID3DXAllocateHierarchy* alloc_;
};

// A controller with every named frame as an output and one keyframed set per AnimationSet, the
// first on track 0.
HRESULT CreateController(const Scene& scene, D3DXFRAME* root, ID3DXAnimationController** out) {
  *out = nullptr;
  ID3DXAnimationController* ac = nullptr;
  HRESULT hr = D3DXCreateAnimationController(D3DXFrameNumNamedMatrices(root),
                                             UINT(scene.animationSets.size()), kLoadedTracks,
                                             kLoadedEvents, &ac);
  if (SUCCEEDED(hr)) hr = D3DXFrameRegisterNamedMatrices(root, ac);
  for (size_t s = 0; SUCCEEDED(hr) && s < scene.animationSets.size(); ++s) {
    const xfile::AnimationSetData& data = scene.animationSets[s];
    ID3DXKeyframedAnimationSet* set = nullptr;
    hr = D3DXCreateKeyframedAnimationSet(data.name.c_str(), scene.ticksPerSecond, D3DXPLAY_LOOP,
                                         UINT(data.animations.size()), 0, nullptr, &set);
    for (size_t a = 0; SUCCEEDED(hr) && a < data.animations.size(); ++a) {
      const xfile::AnimationData& anim = data.animations[a];
      UINT existing;
      if (SUCCEEDED(set->GetAnimationIndexByName(anim.target.c_str(), &existing)))
        continue;  // a second animation of the same frame: the first one plays
      hr = set->RegisterAnimationSRTKeys(anim.target.c_str(), UINT(anim.scale.size()),
                                         UINT(anim.rotation.size()), UINT(anim.translation.size()),
                                         anim.scale.data(), anim.rotation.data(),
                                         anim.translation.data(), nullptr);
    }
    if (SUCCEEDED(hr)) hr = ac->RegisterAnimationSet(set);
    if (SUCCEEDED(hr) && s == 0) hr = ac->SetTrackAnimationSet(0, set);
    SafeRelease(set);
  }
  if (FAILED(hr)) {
    SafeRelease(ac);
    return hr;
  }
  *out = ac;
  return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXLoadMeshFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory, DWORD Options,
                                         LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXBUFFER* ppAdjacency,
                                         LPD3DXBUFFER* ppMaterials, LPD3DXBUFFER* ppEffectInstances,
                                         DWORD* pNumMaterials, LPD3DXMESH* ppMesh) {
  if (ppAdjacency) *ppAdjacency = nullptr;
  if (ppMaterials) *ppMaterials = nullptr;
  if (ppEffectInstances) *ppEffectInstances = nullptr;
  if (pNumMaterials) *pNumMaterials = 0;
  if (ppMesh) *ppMesh = nullptr;
  if (!Memory || !SizeOfMemory || !pD3DDevice || !ppMesh) return D3DERR_INVALIDCALL;

  Scene scene;
  HRESULT hr = xfile::LoadScene(Memory, SizeOfMemory, &scene);
  if (FAILED(hr)) return hr;
  MeshData merged;
  try {
    std::vector<Placed> placed;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    for (const xfile::TopLevelItem& item : scene.topLevel) {
      if (item.isMesh)
        placed.push_back(Placed{&scene.meshes[item.index], identity});
      else
        PlaceFrame(scene, item.index, identity, &placed);
    }
    if (placed.empty()) return E_FAIL;
    Merge(placed, &merged);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  ID3DXMesh* mesh = nullptr;
  ID3DXBuffer* adjacency = nullptr;
  ID3DXBuffer* materials = nullptr;
  ID3DXBuffer* effects = nullptr;
  hr = CreateMesh(merged, Options, pD3DDevice, &mesh);
  if (SUCCEEDED(hr) && ppAdjacency) hr = DwordBuffer(merged.adjacency, &adjacency);
  if (SUCCEEDED(hr) && ppMaterials) hr = MaterialBuffer(merged.materials, &materials);
  if (SUCCEEDED(hr) && ppEffectInstances) hr = EffectBuffer(merged.materials, &effects);
  if (FAILED(hr)) {
    SafeRelease(mesh);
    SafeRelease(adjacency);
    SafeRelease(materials);
    SafeRelease(effects);
    return hr;
  }
  *ppMesh = mesh;
  if (ppAdjacency) *ppAdjacency = adjacency;
  if (ppMaterials) *ppMaterials = materials;
  if (ppEffectInstances) *ppEffectInstances = effects;
  if (pNumMaterials) *pNumMaterials = DWORD(merged.materials.size());
  return D3D_OK;
}

HRESULT WINAPI D3DXLoadMeshFromXA(LPCSTR pFilename, DWORD Options, LPDIRECT3DDEVICE9 pD3DDevice,
                                  LPD3DXBUFFER* ppAdjacency, LPD3DXBUFFER* ppMaterials,
                                  LPD3DXBUFFER* ppEffectInstances, DWORD* pNumMaterials,
                                  LPD3DXMESH* ppMesh) {
  if (ppMesh) *ppMesh = nullptr;
  if (!pFilename || !pD3DDevice || !ppMesh) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  const HRESULT hr = vexa::ReadFileBytes(pFilename, &bytes);
  if (FAILED(hr)) return hr;
  if (bytes.empty()) return D3DXERR_INVALIDDATA;
  return D3DXLoadMeshFromXInMemory(bytes.data(), DWORD(bytes.size()), Options, pD3DDevice,
                                   ppAdjacency, ppMaterials, ppEffectInstances, pNumMaterials,
                                   ppMesh);
}

HRESULT WINAPI D3DXLoadMeshHierarchyFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory,
                                                  DWORD MeshOptions, LPDIRECT3DDEVICE9 pD3DDevice,
                                                  LPD3DXALLOCATEHIERARCHY pAlloc,
                                                  LPD3DXLOADUSERDATA pUserDataLoader,
                                                  LPD3DXFRAME* ppFrameHierarchy,
                                                  LPD3DXANIMATIONCONTROLLER* ppAnimController) {
  (void)pUserDataLoader;  // no ID3DXFileData to hand it
  if (ppFrameHierarchy) *ppFrameHierarchy = nullptr;
  if (ppAnimController) *ppAnimController = nullptr;
  if (!Memory || !SizeOfMemory || !pD3DDevice || !pAlloc || !ppFrameHierarchy)
    return D3DERR_INVALIDCALL;
  Scene scene;
  HRESULT hr = xfile::LoadScene(Memory, SizeOfMemory, &scene);
  if (FAILED(hr)) return hr;
  D3DXFRAME* root = nullptr;
  try {
    hr = HierarchyBuilder(scene, MeshOptions, pD3DDevice, pAlloc).Build(&root);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  ID3DXAnimationController* controller = nullptr;
  if (ppAnimController && !scene.animationSets.empty()) {
    hr = CreateController(scene, root, &controller);
    if (FAILED(hr)) {
      D3DXFrameDestroy(root, pAlloc);
      return hr;
    }
  }
  *ppFrameHierarchy = root;
  if (ppAnimController) *ppAnimController = controller;
  return D3D_OK;
}

HRESULT WINAPI D3DXLoadMeshHierarchyFromXA(LPCSTR Filename, DWORD MeshOptions,
                                           LPDIRECT3DDEVICE9 pD3DDevice,
                                           LPD3DXALLOCATEHIERARCHY pAlloc,
                                           LPD3DXLOADUSERDATA pUserDataLoader,
                                           LPD3DXFRAME* ppFrameHierarchy,
                                           LPD3DXANIMATIONCONTROLLER* ppAnimController) {
  if (ppFrameHierarchy) *ppFrameHierarchy = nullptr;
  if (ppAnimController) *ppAnimController = nullptr;
  if (!Filename || !pD3DDevice || !pAlloc || !ppFrameHierarchy) return D3DERR_INVALIDCALL;
  std::vector<uint8_t> bytes;
  const HRESULT hr = vexa::ReadFileBytes(Filename, &bytes);
  if (FAILED(hr)) return hr;
  if (bytes.empty()) return D3DXERR_INVALIDDATA;
  return D3DXLoadMeshHierarchyFromXInMemory(bytes.data(), DWORD(bytes.size()), MeshOptions,
                                            pD3DDevice, pAlloc, pUserDataLoader, ppFrameHierarchy,
                                            ppAnimController);
}
