#include "engine/scene/static_mesh.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/scene/scene_files.h"
#include "engine/twod/lookup.h"

namespace {

// The engine's degree conversion, as the mesh pass uses it.
constexpr float kDegreesToRadians = 0.017453f;
// Attribute ids past this are not counted as subsets: each subset may get a texture record.
constexpr DWORD kMaxSubsets = 4096;

struct LocalBounds {
  D3DXVECTOR3 sphereCentre{0, 0, 0};
  float sphereRadius = 0.0f;
  D3DXVECTOR3 boxCentre{0, 0, 0};
  D3DXVECTOR3 boxHalf{0, 0, 0};
};

// What a record cannot hold: the pass reads bounds as offsets in world axes and the world as one
// matrix, so the unturned bounds and the scale live here. An entry describes the record only
// while `geometry` is still its D3DMesh; otherwise it is rebuilt from the record.
struct MeshState {
  ID3DXMesh* geometry = nullptr;
  D3DXVECTOR3 scale{1, 1, 1};
  LocalBounds bounds;
  std::vector<Texture*> ownTextures;  // subset records this mesh made
};
std::unordered_map<const Mesh*, MeshState> meshStates;

bool Finite(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

D3DXMATRIX Rotation(const float degrees[3]) {
  D3DXMATRIX m;
  D3DXMatrixRotationYawPitchRoll(&m, degrees[0] * kDegreesToRadians, degrees[1] * kDegreesToRadians,
                                 degrees[2] * kDegreesToRadians);
  return m;
}

D3DCOLORVALUE ColourValue(uint32_t argb) {
  return D3DCOLORVALUE{static_cast<float>((argb >> 16) & 0xFF) / 255.0f,
                       static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
                       static_cast<float>(argb & 0xFF) / 255.0f,
                       static_cast<float>(argb >> 24) / 255.0f};
}

D3DMATERIAL9 DefaultMaterial() {
  D3DMATERIAL9 material{};
  material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  material.Ambient = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  return material;
}

// Sphere and box around the mesh's vertex positions, in its own space.
bool GeometryBounds(ID3DXMesh* mesh, LocalBounds* bounds) {
  if (mesh == nullptr || mesh->GetNumVertices() == 0) return false;
  D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
  if (FAILED(mesh->GetDeclaration(declaration))) return false;
  int32_t offset = -1;
  for (int i = 0; i < MAX_FVF_DECL_SIZE && declaration[i].Stream != 0xFF; ++i) {
    if (declaration[i].Stream == 0 && declaration[i].Usage == D3DDECLUSAGE_POSITION &&
        declaration[i].UsageIndex == 0 &&
        (declaration[i].Type == D3DDECLTYPE_FLOAT3 || declaration[i].Type == D3DDECLTYPE_FLOAT4)) {
      offset = declaration[i].Offset;
      break;
    }
  }
  const DWORD stride = mesh->GetNumBytesPerVertex();
  if (offset < 0 || static_cast<DWORD>(offset) + 12 > stride) return false;
  void* data = nullptr;
  if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)) || data == nullptr) return false;
  const auto* first =
      reinterpret_cast<const D3DXVECTOR3*>(static_cast<const uint8_t*>(data) + offset);
  D3DXVECTOR3 low, high;
  const bool ok =
      SUCCEEDED(D3DXComputeBoundingSphere(first, mesh->GetNumVertices(), stride,
                                          &bounds->sphereCentre, &bounds->sphereRadius)) &&
      SUCCEEDED(D3DXComputeBoundingBox(first, mesh->GetNumVertices(), stride, &low, &high));
  mesh->UnlockVertexBuffer();
  if (!ok) return false;
  bounds->boxCentre = (low + high) * 0.5f;
  bounds->boxHalf = (high - low) * 0.5f;
  return true;
}

// The world's scale along each axis, read against the rotation the angles give (each row of the
// world is a row of the rotation times that axis's scale). A row that is not set counts as 1.
D3DXVECTOR3 ScaleOf(const Mesh& mesh) {
  const D3DXMATRIX rotation = Rotation(mesh.RotationAngles);
  float scale[3];
  for (int r = 0; r < 3; ++r) {
    scale[r] = mesh.World.m[r][0] * rotation.m[r][0] + mesh.World.m[r][1] * rotation.m[r][1] +
               mesh.World.m[r][2] * rotation.m[r][2];
    if (scale[r] == 0.0f || !std::isfinite(scale[r])) scale[r] = 1.0f;
  }
  return D3DXVECTOR3(scale[0], scale[1], scale[2]);
}

MeshState& StateOf(const Mesh& mesh) {
  MeshState& state = meshStates[&mesh];
  if (state.geometry != mesh.D3DMesh || mesh.D3DMesh == nullptr) {
    state.geometry = mesh.D3DMesh;
    state.scale = ScaleOf(mesh);
    state.bounds = LocalBounds{};
    GeometryBounds(mesh.D3DMesh, &state.bounds);
    state.ownTextures.clear();
  }
  return state;
}

// The record's bounds: the local ones turned and scaled as the world's upper 3 x 3 does.
void ApplyBounds(Mesh& mesh, const LocalBounds& local) {
  const D3DMATRIX& w = mesh.World;
  float longest = 0.0f;
  for (int r = 0; r < 3; ++r) {
    longest = std::max(
        longest, std::sqrt(w.m[r][0] * w.m[r][0] + w.m[r][1] * w.m[r][1] + w.m[r][2] * w.m[r][2]));
  }
  const float sphere[3] = {local.sphereCentre.x, local.sphereCentre.y, local.sphereCentre.z};
  const float box[3] = {local.boxCentre.x, local.boxCentre.y, local.boxCentre.z};
  const float half[3] = {local.boxHalf.x, local.boxHalf.y, local.boxHalf.z};
  for (int c = 0; c < 3; ++c) {
    mesh.SphereOffset[c] = 0.0f;
    mesh.BoxOffset[c] = 0.0f;
    mesh.BoxHalfSize[c] = 0.0f;
    for (int r = 0; r < 3; ++r) {
      mesh.SphereOffset[c] += sphere[r] * w.m[r][c];
      mesh.BoxOffset[c] += box[r] * w.m[r][c];
      mesh.BoxHalfSize[c] += half[r] * std::fabs(w.m[r][c]);
    }
  }
  mesh.SphereRadius = local.sphereRadius * longest;
}

// The world's upper 3 x 3 as scale, then rotation by the angles; the translation stays.
void ApplyWorld(Mesh& mesh, const MeshState& state) {
  D3DXMATRIX scaled;
  D3DXMatrixScaling(&scaled, state.scale.x, state.scale.y, state.scale.z);
  const D3DXMATRIX rotation = Rotation(mesh.RotationAngles);
  D3DXMATRIX m;
  D3DXMatrixMultiply(&m, &scaled, &rotation);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) mesh.World.m[r][c] = m.m[r][c];
  }
  ApplyBounds(mesh, state.bounds);
}

DWORD SubsetCount(ID3DXMesh* mesh) {
  if (mesh == nullptr || mesh->GetNumFaces() == 0) return 0;
  DWORD highest = 0;
  DWORD entries = 0;
  if (SUCCEEDED(mesh->GetAttributeTable(nullptr, &entries)) && entries > 0) {
    std::vector<D3DXATTRIBUTERANGE> table(entries);
    if (SUCCEEDED(mesh->GetAttributeTable(table.data(), &entries))) {
      for (DWORD i = 0; i < entries && i < table.size(); ++i) {
        highest = std::max(highest, table[i].AttribId);
      }
      return std::min(highest, kMaxSubsets - 1) + 1;
    }
  }
  DWORD* ids = nullptr;
  if (FAILED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &ids)) || ids == nullptr) return 1;
  for (DWORD face = 0; face < mesh->GetNumFaces(); ++face) highest = std::max(highest, ids[face]);
  mesh->UnlockAttributeBuffer();
  return std::min(highest, kMaxSubsets - 1) + 1;
}

void DescribePicture(Texture* texture) {
  texture->Format = D3DFMT_UNKNOWN;
  texture->Width = texture->Height = 0;
  D3DSURFACE_DESC desc{};
  if (texture->D3DTexture != nullptr && SUCCEEDED(texture->D3DTexture->GetLevelDesc(0, &desc))) {
    texture->Format = desc.Format;
    texture->Width = static_cast<int32_t>(desc.Width);
    texture->Height = static_cast<int32_t>(desc.Height);
  }
}

// A texture record holding one subset's material and picture; takes the picture's reference.
Texture* MakeSubsetRecord(MeshState& state, const D3DMATERIAL9& material,
                          IDirect3DTexture9* picture) {
  Engine.TextureList.Last();
  Texture* texture = Engine.TextureList.Add();
  texture->Material = material;
  texture->D3DTexture = picture;
  DescribePicture(texture);
  state.ownTextures.push_back(texture);
  return texture;
}

bool Owns(const MeshState& state, const Texture* texture) {
  return std::find(state.ownTextures.begin(), state.ownTextures.end(), texture) !=
         state.ownTextures.end();
}

// Gives the mesh material references up to `count` subsets, each a record of its own with the
// mesh's material. The pass takes the reference list's current entry as the sign that the mesh
// draws per subset, so the cursor is left on the last entry.
void EnsureSubsets(Mesh& mesh, MeshState& state, int32_t count) {
  ObjectList<MaterialRef>& refs = mesh.MaterialRefs;
  while (refs.Count() < count) {
    Texture* record = MakeSubsetRecord(state, mesh.OwnMaterial, nullptr);
    refs.Last();
    refs.Add()->TextureHandle = record;
  }
  refs.Last();
}

// The subset's own record, made when the subset has none or shares another's.
Texture* SubsetRecord(Mesh& mesh, MeshState& state, int32_t subset) {
  EnsureSubsets(mesh, state, subset + 1);
  MaterialRef* ref = mesh.MaterialRefs.Select(subset);
  Texture* texture = ref->TextureHandle;
  if (!Owns(state, texture) || !Engine.TextureList.Contains(texture)) {
    const bool listed = Engine.TextureList.Contains(texture);
    IDirect3DTexture9* picture = listed ? texture->D3DTexture : nullptr;
    if (picture != nullptr) picture->AddRef();
    texture = MakeSubsetRecord(state, listed ? texture->Material : mesh.OwnMaterial, picture);
    ref->TextureHandle = texture;
  }
  mesh.MaterialRefs.Last();
  return texture;
}

Mesh* AddMesh(ID3DXMesh* d3dMesh) {
  Engine.MeshList.Last();
  Mesh* mesh = Engine.MeshList.Add();
  D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&mesh->World));
  mesh->D3DMesh = d3dMesh;
  mesh->OwnMaterial = DefaultMaterial();
  mesh->BoundsKind = 1;
  // An entry left by a record that once had this address describes something else.
  meshStates.erase(mesh);
  MeshState& state = StateOf(*mesh);
  ApplyBounds(*mesh, state.bounds);
  return mesh;
}

Mesh* ShapeMesh(HRESULT result, ID3DXMesh* d3dMesh) {
  if (FAILED(result) || d3dMesh == nullptr) {
    SafeRelease(d3dMesh);
    Engine.LastError = kEngineObjectLoad;
    Engine.LastErrorText = "D3DX could not make the shape";
    return nullptr;
  }
  return AddMesh(d3dMesh);
}

bool CountInRange(int32_t count, int32_t least) {
  return count >= least && count <= kMaxShapeSegments;
}

// A mesh without normals is lit as black; D3DX computes them for a copy that has room.
ID3DXMesh* WithNormals(ID3DXMesh* mesh, const DWORD* adjacency) {
  const DWORD fvf = mesh->GetFVF();
  if (fvf == 0 || (fvf & D3DFVF_NORMAL) != 0) return mesh;
  ID3DXMesh* copy = nullptr;
  if (FAILED(mesh->CloneMeshFVF(D3DXMESH_MANAGED, fvf | D3DFVF_NORMAL, Engine.Device, &copy)) ||
      copy == nullptr || FAILED(D3DXComputeNormals(copy, adjacency))) {
    SafeRelease(copy);
    return mesh;
  }
  mesh->Release();
  return copy;
}

bool ReferencedElsewhere(const Texture* texture, const Mesh* owner) {
  if (Engine.DefaultSceneTexture == texture) return true;
  bool used = false;
  Engine.SpriteList.ForEach(
      [&used, texture](Sprite& sprite) { used = used || sprite.TextureHandle == texture; });
  Engine.MeshList.ForEach([&used, texture, owner](Mesh& mesh) {
    if (used || &mesh == owner) return;
    used = mesh.BumpTexture == texture;
    mesh.MaterialRefs.ForEach(
        [&used, texture](MaterialRef& ref) { used = used || ref.TextureHandle == texture; });
  });
  return used;
}

void ReleaseOwnTextures(const Mesh* mesh, const MeshState& state) {
  for (Texture* texture : state.ownTextures) {
    if (ReferencedElsewhere(texture, mesh)) continue;
    if (Texture* listed = FindRecord(Engine.TextureList, texture)) {
      SafeRelease(listed->D3DTexture);
      Engine.TextureList.Remove();
    }
  }
}

Mesh* Find(Mesh* handle) {
  return FindRecord(Engine.MeshList, handle);
}

}  // namespace

Mesh* LoadMesh(const char* fileName) {
  if (Engine.Device == nullptr) return nullptr;
  if (!CheckLoadable(fileName)) return nullptr;
  ID3DXBuffer* adjacency = nullptr;
  ID3DXBuffer* materials = nullptr;
  DWORD materialCount = 0;
  ID3DXMesh* d3dMesh = nullptr;
  const HRESULT result = D3DXLoadMeshFromXA(fileName, D3DXMESH_MANAGED, Engine.Device, &adjacency,
                                            &materials, nullptr, &materialCount, &d3dMesh);
  if (FAILED(result) || d3dMesh == nullptr) {
    SafeRelease(adjacency);
    SafeRelease(materials);
    SafeRelease(d3dMesh);
    RecordLoadError(fileName, result == E_FAIL ? "the file holds no mesh" : "not a valid .x file");
    return nullptr;
  }
  d3dMesh = WithNormals(d3dMesh, adjacency != nullptr
                                     ? static_cast<const DWORD*>(adjacency->GetBufferPointer())
                                     : nullptr);
  SafeRelease(adjacency);

  Mesh* mesh = AddMesh(d3dMesh);
  MeshState& state = StateOf(*mesh);
  const auto* entries = materials != nullptr
                            ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer())
                            : nullptr;
  const DWORD subsets = entries != nullptr ? std::min(materialCount, kMaxSubsets) : 0;
  for (DWORD i = 0; i < subsets; ++i) {
    const char* name = entries[i].pTextureFilename;
    IDirect3DTexture9* picture = LoadTextureNamedBy(fileName, name);
    if (picture == nullptr && name != nullptr && name[0] != '\0') {
      Engine.LastError = kEngineImageLoad;
      Engine.LastErrorText = std::string(fileName) + ": the texture " + name + " cannot be read";
    }
    Texture* record = MakeSubsetRecord(state, entries[i].MatD3D, picture);
    mesh->MaterialRefs.Last();
    mesh->MaterialRefs.Add()->TextureHandle = record;
  }
  SafeRelease(materials);
  return mesh;
}

Mesh* CreateBoxMesh(float width, float height, float depth) {
  if (Engine.Device == nullptr || !Finite({width, height, depth}) || width < 0.0f ||
      height < 0.0f || depth < 0.0f) {
    return nullptr;
  }
  ID3DXMesh* mesh = nullptr;
  const HRESULT result = D3DXCreateBox(Engine.Device, width, height, depth, &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreateSphereMesh(float radius, int32_t slices, int32_t stacks) {
  if (Engine.Device == nullptr || !Finite({radius}) || radius < 0.0f || !CountInRange(slices, 2) ||
      !CountInRange(stacks, 2)) {
    return nullptr;
  }
  ID3DXMesh* mesh = nullptr;
  const HRESULT result = D3DXCreateSphere(Engine.Device, radius, static_cast<UINT>(slices),
                                          static_cast<UINT>(stacks), &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreateCylinderMesh(float radius1, float radius2, float length, int32_t slices,
                         int32_t stacks) {
  if (Engine.Device == nullptr || !Finite({radius1, radius2, length}) || radius1 < 0.0f ||
      radius2 < 0.0f || length < 0.0f || !CountInRange(slices, 2) || !CountInRange(stacks, 1)) {
    return nullptr;
  }
  ID3DXMesh* mesh = nullptr;
  const HRESULT result =
      D3DXCreateCylinder(Engine.Device, radius1, radius2, length, static_cast<UINT>(slices),
                         static_cast<UINT>(stacks), &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreateTorusMesh(float innerRadius, float outerRadius, int32_t sides, int32_t rings) {
  if (Engine.Device == nullptr || !Finite({innerRadius, outerRadius}) || innerRadius < 0.0f ||
      outerRadius < 0.0f || !CountInRange(sides, 3) || !CountInRange(rings, 3)) {
    return nullptr;
  }
  ID3DXMesh* mesh = nullptr;
  const HRESULT result =
      D3DXCreateTorus(Engine.Device, innerRadius, outerRadius, static_cast<UINT>(sides),
                      static_cast<UINT>(rings), &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreateTeapotMesh() {
  if (Engine.Device == nullptr) return nullptr;
  ID3DXMesh* mesh = nullptr;
  const HRESULT result = D3DXCreateTeapot(Engine.Device, &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreatePolygonMesh(float length, int32_t sides) {
  if (Engine.Device == nullptr || !Finite({length}) || length < 0.0f || !CountInRange(sides, 3)) {
    return nullptr;
  }
  ID3DXMesh* mesh = nullptr;
  const HRESULT result =
      D3DXCreatePolygon(Engine.Device, length, static_cast<UINT>(sides), &mesh, nullptr);
  return ShapeMesh(result, mesh);
}

Mesh* CreatePlaneMesh(float width, float depth, int32_t divisions, float textureRepeat) {
  if (Engine.Device == nullptr || !Finite({width, depth, textureRepeat}) || width < 0.0f ||
      depth < 0.0f || !CountInRange(divisions, 1)) {
    return nullptr;
  }
  struct PlaneVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
  };
  const DWORD side = static_cast<DWORD>(divisions) + 1;
  const DWORD vertices = side * side;
  const DWORD faces = 2 * static_cast<DWORD>(divisions) * static_cast<DWORD>(divisions);
  const bool wide = vertices > 0xFFFF;
  ID3DXMesh* mesh = nullptr;
  HRESULT result =
      D3DXCreateMeshFVF(faces, vertices, D3DXMESH_MANAGED | (wide ? D3DXMESH_32BIT : 0),
                        D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, Engine.Device, &mesh);
  void* vertexData = nullptr;
  void* indexData = nullptr;
  DWORD* attributes = nullptr;
  if (SUCCEEDED(result)) result = mesh->LockVertexBuffer(0, &vertexData);
  if (SUCCEEDED(result)) {
    auto* out = static_cast<PlaneVertex*>(vertexData);
    for (DWORD row = 0; row < side; ++row) {
      for (DWORD column = 0; column < side; ++column) {
        const float across = static_cast<float>(column) / static_cast<float>(divisions);
        const float along = static_cast<float>(row) / static_cast<float>(divisions);
        *out++ = PlaneVertex{(across - 0.5f) * width,
                             0.0f,
                             (0.5f - along) * depth,
                             0.0f,
                             1.0f,
                             0.0f,
                             across * textureRepeat,
                             along * textureRepeat};
      }
    }
    mesh->UnlockVertexBuffer();
    result = mesh->LockIndexBuffer(0, &indexData);
  }
  if (SUCCEEDED(result)) {
    // Rows run from the far edge (+z) towards the near one; each square's two triangles are wound
    // clockwise seen from above, Direct3D's front.
    DWORD at = 0;
    auto put = [&](DWORD index) {
      if (wide) {
        static_cast<uint32_t*>(indexData)[at++] = index;
      } else {
        static_cast<uint16_t*>(indexData)[at++] = static_cast<uint16_t>(index);
      }
    };
    for (DWORD row = 0; row + 1 < side; ++row) {
      for (DWORD column = 0; column + 1 < side; ++column) {
        const DWORD farLeft = row * side + column;
        const DWORD nearLeft = farLeft + side;
        put(nearLeft);
        put(farLeft);
        put(farLeft + 1);
        put(nearLeft);
        put(farLeft + 1);
        put(nearLeft + 1);
      }
    }
    mesh->UnlockIndexBuffer();
    result = mesh->LockAttributeBuffer(0, &attributes);
  }
  if (SUCCEEDED(result)) {
    std::fill(attributes, attributes + faces, 0u);
    mesh->UnlockAttributeBuffer();
  }
  return ShapeMesh(result, mesh);
}

int PositionMesh(Mesh* handle, float x, float y, float z) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({x, y, z})) return 0;
  mesh->World._41 = x;
  mesh->World._42 = y;
  mesh->World._43 = z;
  return 1;
}

int RotateMesh(Mesh* handle, float yawDegrees, float pitchDegrees, float rollDegrees) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({yawDegrees, pitchDegrees, rollDegrees})) return 0;
  // The scale is read against the old angles before they change.
  const MeshState& state = StateOf(*mesh);
  mesh->RotationAngles[0] = yawDegrees;
  mesh->RotationAngles[1] = pitchDegrees;
  mesh->RotationAngles[2] = rollDegrees;
  ApplyWorld(*mesh, state);
  return 1;
}

int ScaleMesh(Mesh* handle, float x, float y, float z) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({x, y, z}) || x == 0.0f || y == 0.0f || z == 0.0f) return 0;
  MeshState& state = StateOf(*mesh);
  state.scale = D3DXVECTOR3(x, y, z);
  ApplyWorld(*mesh, state);
  return 1;
}

int SetMeshOffsetAngles(Mesh* handle, float yawDegrees, float pitchDegrees, float rollDegrees) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({yawDegrees, pitchDegrees, rollDegrees})) return 0;
  mesh->OffsetAngles[0] = yawDegrees;
  mesh->OffsetAngles[1] = pitchDegrees;
  mesh->OffsetAngles[2] = rollDegrees;
  return 1;
}

int AttachMesh(Mesh* handle, Mesh* parent, int32_t positionOnly) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr) return 0;
  if (parent == nullptr) {
    mesh->Parent = nullptr;
    mesh->InheritPositionOnly = 0;
    return 1;
  }
  if (parent == mesh || !Engine.MeshList.Contains(parent)) return 0;
  // Up the parent's chain: meeting the mesh would close a loop. A chain longer than the list
  // already loops and is refused as well.
  int32_t links = 0;
  for (const Mesh* up = parent; up != nullptr && Engine.MeshList.Contains(up); up = up->Parent) {
    if (up == mesh || ++links > Engine.MeshList.Count()) return 0;
  }
  mesh->Parent = parent;
  mesh->InheritPositionOnly = positionOnly != 0 ? 1 : 0;
  return 1;
}

int HideMesh(Mesh* handle) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr) return 0;
  mesh->Hidden = 1;
  return 1;
}

int ShowMesh(Mesh* handle) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr) return 0;
  mesh->Hidden = 0;
  return 1;
}

int SetMeshBlendMode(Mesh* handle, int32_t mode, uint32_t factor) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || mode < 0 || mode > 3) return 0;
  mesh->MeshBlendMode = static_cast<uint8_t>(mode);
  mesh->BlendFactorColour = factor;
  return 1;
}

int SetMeshBumpTexture(Mesh* handle, Texture* texture) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || (texture != nullptr && !Engine.TextureList.Contains(texture))) return 0;
  mesh->BumpTexture = texture;
  return 1;
}

int SetMeshTexture(Mesh* handle, int32_t subset, Texture* texture) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || subset < 0 || static_cast<DWORD>(subset) >= SubsetCount(mesh->D3DMesh) ||
      (texture != nullptr && !Engine.TextureList.Contains(texture))) {
    return 0;
  }
  Texture* record = SubsetRecord(*mesh, StateOf(*mesh), subset);
  IDirect3DTexture9* picture = texture != nullptr ? texture->D3DTexture : nullptr;
  if (picture != nullptr) picture->AddRef();
  SafeRelease(record->D3DTexture);
  record->D3DTexture = picture;
  DescribePicture(record);
  return 1;
}

int SetMeshMaterial(Mesh* handle, int32_t subset, uint32_t diffuse, uint32_t ambient,
                    uint32_t specular, uint32_t emissive, float power) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({power}) || power < 0.0f || subset < -1 ||
      (subset >= 0 && static_cast<DWORD>(subset) >= SubsetCount(mesh->D3DMesh))) {
    return 0;
  }
  D3DMATERIAL9 material{};
  material.Diffuse = ColourValue(diffuse);
  material.Ambient = ColourValue(ambient);
  material.Specular = ColourValue(specular);
  material.Emissive = ColourValue(emissive);
  material.Power = power;
  // Without subsets of its own the mesh draws subset 0 with its own material.
  if (subset == -1 || (subset == 0 && mesh->MaterialRefs.Count() == 0)) {
    mesh->OwnMaterial = material;
  } else {
    SubsetRecord(*mesh, StateOf(*mesh), subset)->Material = material;
  }
  return 1;
}

int MeshSubsetCount(Mesh* handle) {
  Mesh* mesh = Find(handle);
  return mesh == nullptr ? 0 : static_cast<int>(SubsetCount(mesh->D3DMesh));
}

int SetMeshBoundsKind(Mesh* handle, int32_t kind) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || kind < 0 || kind > 2) return 0;
  mesh->BoundsKind = kind;
  ApplyBounds(*mesh, StateOf(*mesh).bounds);
  return 1;
}

int SetMeshBoundingSphere(Mesh* handle, float x, float y, float z, float radius) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({x, y, z, radius}) || radius < 0.0f) return 0;
  MeshState& state = StateOf(*mesh);
  state.bounds.sphereCentre = D3DXVECTOR3(x, y, z);
  state.bounds.sphereRadius = radius;
  mesh->BoundsKind = 1;
  ApplyBounds(*mesh, state.bounds);
  return 1;
}

int SetMeshBoundingBox(Mesh* handle, float x, float y, float z, float halfX, float halfY,
                       float halfZ) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr || !Finite({x, y, z, halfX, halfY, halfZ}) || halfX < 0.0f || halfY < 0.0f ||
      halfZ < 0.0f) {
    return 0;
  }
  MeshState& state = StateOf(*mesh);
  state.bounds.boxCentre = D3DXVECTOR3(x, y, z);
  state.bounds.boxHalf = D3DXVECTOR3(halfX, halfY, halfZ);
  mesh->BoundsKind = 2;
  ApplyBounds(*mesh, state.bounds);
  return 1;
}

int ReleaseMesh(Mesh* handle) {
  Mesh* mesh = Find(handle);
  if (mesh == nullptr) return 0;
  Engine.MeshList.ForEach([mesh](Mesh& child) {
    if (child.Parent != mesh) return;
    child.Parent = nullptr;
    child.InheritPositionOnly = 0;
  });
  const auto state = meshStates.find(mesh);
  if (state != meshStates.end()) {
    ReleaseOwnTextures(mesh, state->second);
    meshStates.erase(state);
  }
  ReleaseSceneInterface(mesh->D3DMesh);
  if (Find(mesh) != nullptr) Engine.MeshList.Remove();
  return 1;
}

void DiscardMeshState() {
  meshStates.clear();
}
