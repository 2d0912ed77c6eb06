#include "engine/scene/animated_mesh.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/scene/scene_files.h"
#include "engine/twod/lookup.h"

namespace {

// The engine's degree conversion, as the mesh pass uses it.
constexpr float kDegreesToRadians = 0.017453f;

bool CopyName(const char* name, char** out) {
  *out = nullptr;
  if (name == nullptr) return true;
  const size_t length = std::strlen(name);
  *out = new (std::nothrow) char[length + 1];
  if (*out == nullptr) return false;
  std::memcpy(*out, name, length + 1);
  return true;
}

void FreeContainer(MeshContainer* container) {
  delete[] container->Name;
  SafeRelease(container->MeshData.pMesh);
  if (container->Textures != nullptr) {
    for (DWORD i = 0; i < container->NumMaterials; ++i) SafeRelease(container->Textures[i].Texture);
  }
  delete[] container->Textures;
  delete[] container->Materials;
  delete[] container->pAdjacency;
  SafeRelease(container->SkinnedMesh);
  delete[] container->BoneOffsets;
  delete[] container->BoneMatrixPointers;
  SafeRelease(container->pSkinInfo);
  delete container;
}

// Builds the engine's frame and container records for D3DX. The tables a container holds are its
// own copies; the mesh and skin information are referenced.
class HierarchyAllocator final : public ID3DXAllocateHierarchy {
 public:
  const char* xFile = nullptr;  // the file being loaded, for the texture files it names

  HRESULT STDMETHODCALLTYPE CreateFrame(LPCSTR name, LPD3DXFRAME* out) override {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    auto* frame = new (std::nothrow) AnimationFrame();
    if (frame == nullptr) return E_OUTOFMEMORY;
    if (!CopyName(name, &frame->Name)) {
      delete frame;
      return E_OUTOFMEMORY;
    }
    D3DXMatrixIdentity(&frame->TransformationMatrix);
    D3DXMatrixIdentity(&frame->CombinedTransformationMatrix);
    *out = frame;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE CreateMeshContainer(LPCSTR name, const D3DXMESHDATA* data,
                                                const D3DXMATERIAL* materials,
                                                const D3DXEFFECTINSTANCE* effects,
                                                DWORD materialCount, const DWORD* adjacency,
                                                LPD3DXSKININFO skin,
                                                LPD3DXMESHCONTAINER* out) override {
    (void)effects;  // effect instances belong to the effect operations
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (data == nullptr || data->Type != D3DXMESHTYPE_MESH || data->pMesh == nullptr) {
      return D3DERR_INVALIDCALL;
    }
    auto* container = new (std::nothrow) MeshContainer();
    if (container == nullptr) return E_OUTOFMEMORY;
    const HRESULT result =
        Fill(container, name, data->pMesh, materials, materialCount, adjacency, skin);
    if (FAILED(result)) {
      FreeContainer(container);
      return result;
    }
    *out = container;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE DestroyFrame(LPD3DXFRAME frame) override {
    if (frame == nullptr) return D3DERR_INVALIDCALL;
    delete[] frame->Name;
    delete static_cast<AnimationFrame*>(frame);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE DestroyMeshContainer(LPD3DXMESHCONTAINER container) override {
    if (container == nullptr) return D3DERR_INVALIDCALL;
    FreeContainer(static_cast<MeshContainer*>(container));
    return D3D_OK;
  }

 private:
  HRESULT Fill(MeshContainer* c, const char* name, ID3DXMesh* mesh, const D3DXMATERIAL* materials,
               DWORD materialCount, const DWORD* adjacency, ID3DXSkinInfo* skin) const {
    if (!CopyName(name, &c->Name)) return E_OUTOFMEMORY;
    c->MeshData.Type = D3DXMESHTYPE_MESH;
    c->MeshData.pMesh = mesh;
    mesh->AddRef();

    // The pass draws one subset per material: a mesh without any still gets drawn.
    if (materials == nullptr) materialCount = 0;
    const DWORD tables = materialCount > 0 ? materialCount : 1;
    c->Materials = new (std::nothrow) D3DMATERIAL9[tables]();
    c->Textures = new (std::nothrow) MaterialTexture[tables]();
    if (c->Materials == nullptr || c->Textures == nullptr) return E_OUTOFMEMORY;
    c->NumMaterials = tables;
    for (DWORD i = 0; i < tables; ++i) {
      if (i >= materialCount) {
        c->Materials[i].Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
        c->Materials[i].Ambient = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
        continue;
      }
      c->Materials[i] = materials[i].MatD3D;
      const char* file = materials[i].pTextureFilename;
      if (file == nullptr || file[0] == '\0') continue;
      std::strncpy(c->Textures[i].FileName, file, sizeof(c->Textures[i].FileName) - 1);
      c->Textures[i].Texture = LoadTextureNamedBy(xFile, file);
      if (c->Textures[i].Texture == nullptr) {
        Engine.LastError = kEngineImageLoad;
        Engine.LastErrorText = std::string(xFile != nullptr ? xFile : "") + ": the texture " +
                               file + " cannot be read";
      }
    }

    if (adjacency != nullptr && mesh->GetNumFaces() > 0) {
      const size_t entries = 3 * static_cast<size_t>(mesh->GetNumFaces());
      c->pAdjacency = new (std::nothrow) DWORD[entries];
      if (c->pAdjacency == nullptr) return E_OUTOFMEMORY;
      std::memcpy(c->pAdjacency, adjacency, entries * sizeof(DWORD));
    }

    // Skin information without bones would skin every vertex to the origin: drawn unskinned.
    if (skin == nullptr || skin->GetNumBones() == 0) return D3D_OK;
    c->pSkinInfo = skin;
    skin->AddRef();
    const DWORD bones = skin->GetNumBones();
    c->BoneOffsets = new (std::nothrow) D3DXMATRIX[bones];
    c->BoneMatrixPointers = new (std::nothrow) D3DXMATRIX*[bones]();
    if (c->BoneOffsets == nullptr || c->BoneMatrixPointers == nullptr) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < bones; ++i) {
      const D3DXMATRIX* offset = skin->GetBoneOffsetMatrix(i);
      if (offset != nullptr) {
        c->BoneOffsets[i] = *offset;
      } else {
        D3DXMatrixIdentity(&c->BoneOffsets[i]);
      }
    }
    // The skinned copy receives the skinning's output: same layout, same vertex count.
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    HRESULT result = mesh->GetDeclaration(declaration);
    if (SUCCEEDED(result)) {
      result = mesh->CloneMesh(D3DXMESH_MANAGED, declaration, Engine.Device, &c->SkinnedMesh);
    }
    if (FAILED(result) || c->SkinnedMesh == nullptr) return FAILED(result) ? result : E_FAIL;
    return D3D_OK;
  }
};

HierarchyAllocator& Allocator() {
  static HierarchyAllocator allocator;
  return allocator;
}

// A hierarchy this module loaded, with the bone matrices it made for the record.
struct Loaded {
  AnimatedMesh* record;
  D3DXFRAME* root;
  D3DXMATRIX* boneMatrices;
};
std::vector<Loaded> loadedHierarchies;

void Destroy(const Loaded& loaded) {
  D3DXFrameDestroy(loaded.root, &Allocator());
  delete[] loaded.boneMatrices;
}

// Calls visit(container) for every container of the hierarchy; stops at the first false.
template <class Visit>
bool EachContainer(D3DXFRAME* root, Visit visit) {
  std::vector<D3DXFRAME*> pending{root};
  int frames = 0;
  while (!pending.empty() && frames++ < kMaxAnimationFrames) {
    D3DXFRAME* frame = pending.back();
    pending.pop_back();
    int containers = 0;
    for (D3DXMESHCONTAINER* c = frame->pMeshContainer;
         c != nullptr && containers < kMaxAnimationFrames;
         c = c->pNextMeshContainer, ++containers) {
      if (!visit(static_cast<MeshContainer*>(c))) return false;
    }
    if (frame->pFrameSibling != nullptr) pending.push_back(frame->pFrameSibling);
    if (frame->pFrameFirstChild != nullptr) pending.push_back(frame->pFrameFirstChild);
  }
  return true;
}

// Points every bone at the combined matrix of the frame of its name. The missing bone's name,
// or empty when every bone has its frame.
std::string LinkBones(D3DXFRAME* root, MeshContainer** skinned) {
  std::string missing;
  *skinned = nullptr;
  EachContainer(root, [&](MeshContainer* container) {
    ID3DXSkinInfo* skin = container->pSkinInfo;
    if (skin == nullptr) return true;
    for (DWORD i = 0; i < skin->GetNumBones(); ++i) {
      const char* name = skin->GetBoneName(i);
      D3DXFRAME* frame = name != nullptr ? D3DXFrameFind(root, name) : nullptr;
      if (frame == nullptr) {
        missing = name != nullptr && name[0] != '\0' ? name : "(unnamed)";
        return false;
      }
      container->BoneMatrixPointers[i] =
          &static_cast<AnimationFrame*>(frame)->CombinedTransformationMatrix;
    }
    if (*skinned == nullptr) *skinned = container;
    return true;
  });
  return missing;
}

AnimatedMesh* Find(AnimatedMesh* handle) {
  return FindRecord(Engine.AnimatedMeshList, handle);
}

}  // namespace

AnimatedMesh* LoadAnimatedMesh(const char* fileName) {
  if (Engine.Device == nullptr) return nullptr;
  if (!CheckLoadable(fileName)) return nullptr;
  HierarchyAllocator& allocator = Allocator();
  allocator.xFile = fileName;
  D3DXFRAME* root = nullptr;
  ID3DXAnimationController* controller = nullptr;
  const HRESULT result = D3DXLoadMeshHierarchyFromXA(fileName, D3DXMESH_MANAGED, Engine.Device,
                                                     &allocator, nullptr, &root, &controller);
  allocator.xFile = nullptr;
  if (FAILED(result) || root == nullptr) {
    SafeRelease(controller);
    if (root != nullptr) D3DXFrameDestroy(root, &allocator);
    RecordLoadError(fileName,
                    result == E_FAIL ? "the file holds no frame or mesh" : "not a valid .x file");
    return nullptr;
  }

  MeshContainer* skinned = nullptr;
  const std::string missing = LinkBones(root, &skinned);
  D3DXMATRIX* boneMatrices = nullptr;
  if (missing.empty() && skinned != nullptr) {
    const DWORD bones = skinned->pSkinInfo->GetNumBones();
    boneMatrices = new (std::nothrow) D3DXMATRIX[bones];
    for (DWORD i = 0; boneMatrices != nullptr && i < bones; ++i) {
      D3DXMatrixIdentity(&boneMatrices[i]);
    }
  }
  if (!missing.empty() || (skinned != nullptr && boneMatrices == nullptr)) {
    SafeRelease(controller);
    D3DXFrameDestroy(root, &allocator);
    RecordLoadError(fileName, missing.empty() ? "out of memory"
                                              : ("the bone " + missing + " has no frame").c_str());
    return nullptr;
  }
  D3DXFRAME* link = root;
  UpdateFrameMatrices(&link, nullptr);

  Engine.AnimatedMeshList.Last();
  AnimatedMesh* mesh = Engine.AnimatedMeshList.Add();
  // A hierarchy whose record left the list by other code is still ours to destroy.
  std::erase_if(loadedHierarchies, [mesh](const Loaded& loaded) {
    if (loaded.record != mesh) return false;
    Destroy(loaded);
    return true;
  });
  D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&mesh->World));
  mesh->RootFrame = static_cast<AnimationFrame*>(root);
  mesh->Controller = controller;
  mesh->TimeScale = 1.0f;
  mesh->SkinnedContainer = skinned;
  mesh->BoneMatrices = boneMatrices;
  loadedHierarchies.push_back({mesh, root, boneMatrices});
  return mesh;
}

int SetAnimatedMeshAnimation(AnimatedMesh* handle, const char* name) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr || mesh->Controller == nullptr || name == nullptr) return 0;
  ID3DXAnimationSet* set = nullptr;
  if (FAILED(mesh->Controller->GetAnimationSetByName(name, &set)) || set == nullptr) return 0;
  const bool playing = SUCCEEDED(mesh->Controller->SetTrackAnimationSet(0, set));
  set->Release();
  if (!playing) return 0;
  mesh->Controller->SetTrackPosition(0, 0.0);
  mesh->Controller->SetTrackEnable(0, TRUE);
  return 1;
}

int SetAnimatedMeshSpeed(AnimatedMesh* handle, float speed) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr || mesh->Controller == nullptr || !std::isfinite(speed)) return 0;
  return SUCCEEDED(mesh->Controller->SetTrackSpeed(0, speed)) ? 1 : 0;
}

int SetAnimatedMeshTimeScale(AnimatedMesh* handle, float scale) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr || !std::isfinite(scale) || !(scale > 0.0f)) return 0;
  mesh->TimeScale = scale;
  return 1;
}

int PositionAnimatedMesh(AnimatedMesh* handle, float x, float y, float z) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0;
  mesh->World._41 = x * 0.5f;
  mesh->World._42 = y * 0.5f;
  mesh->World._43 = z * 0.5f;
  return 1;
}

int OrientAnimatedMesh(AnimatedMesh* handle, float yawDegrees, float pitchDegrees,
                       float rollDegrees, float scale) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr || !std::isfinite(yawDegrees) || !std::isfinite(pitchDegrees) ||
      !std::isfinite(rollDegrees) || !std::isfinite(scale) || scale == 0.0f) {
    return 0;
  }
  D3DXMATRIX rotation;
  D3DXMatrixRotationYawPitchRoll(&rotation, yawDegrees * kDegreesToRadians,
                                 pitchDegrees * kDegreesToRadians, rollDegrees * kDegreesToRadians);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) mesh->World.m[r][c] = rotation.m[r][c] * scale;
  }
  return 1;
}

int ReleaseAnimatedMesh(AnimatedMesh* handle) {
  AnimatedMesh* mesh = Find(handle);
  if (mesh == nullptr) return 0;
  // The controller writes into the frames: it goes first.
  ReleaseSceneInterface(mesh->Controller);
  std::erase_if(loadedHierarchies, [mesh](const Loaded& loaded) {
    if (loaded.record != mesh) return false;
    Destroy(loaded);
    return true;
  });
  if (Find(mesh) != nullptr) Engine.AnimatedMeshList.Remove();
  return 1;
}

void DiscardAnimatedMeshes() {
  for (const Loaded& loaded : loadedHierarchies) {
    AnimatedMesh* mesh = loaded.record;
    if (Engine.AnimatedMeshList.Contains(mesh) && mesh->RootFrame == loaded.root) {
      ReleaseSceneInterface(mesh->Controller);
      mesh->RootFrame = nullptr;
      mesh->SkinnedContainer = nullptr;
      mesh->BoneMatrices = nullptr;
    }
    Destroy(loaded);
  }
  loadedHierarchies.clear();
  loadedHierarchies.shrink_to_fit();
}
