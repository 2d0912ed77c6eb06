// What D3DX makes of a DirectX file's standard templates, before any device is involved: frames
// with their matrices, meshes ready to become ID3DXMesh objects (polygons split into fans,
// vertices split where a position has several normals, faces sorted by material, adjacency),
// materials and effect instances, skin weights on the final vertices, and animation sets as
// scale, rotation and translation keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d3dx9anim.h"
#include "xfile_document.h"

namespace xfile {

// The default of AnimTicksPerSecond when a file has none.
constexpr DWORD kDefaultTicksPerSecond = 4800;

struct EffectParam {
  std::string name;
  D3DXEFFECTDEFAULTTYPE type;
  std::vector<BYTE> value;  // strings with their terminating zero
};

struct MaterialData {
  D3DMATERIAL9 material{};
  bool hasTexture = false;
  std::string texture;
  bool hasEffect = false;
  std::string effectFile;
  std::vector<EffectParam> params;
};

struct BoneData {
  std::string name;
  D3DXMATRIX offset;
  std::vector<DWORD> vertices;  // final vertex indices
  std::vector<float> weights;
};

struct MeshData {
  std::string name;
  DWORD fvf = D3DFVF_XYZ;  // plus D3DFVF_NORMAL, D3DFVF_DIFFUSE, D3DFVF_TEX1 as the file has them
  std::vector<D3DXVECTOR3> positions;
  std::vector<D3DXVECTOR3> normals;
  std::vector<D3DCOLOR> colors;
  std::vector<D3DXVECTOR2> texcoords;
  // Each vertex's representative: the first vertex made from the same file vertex.
  std::vector<DWORD> pointReps;
  std::vector<DWORD> indices;     // three per face, faces in attribute order
  std::vector<DWORD> attributes;  // one per face
  std::vector<D3DXATTRIBUTERANGE> attributeTable;
  std::vector<DWORD> adjacency;  // three per face
  std::vector<MaterialData> materials;
  bool skinned = false;  // the mesh has an XSkinMeshHeader
  WORD maxWeightsPerVertex = 0;
  WORD maxWeightsPerFace = 0;
  std::vector<BoneData> bones;

  DWORD NumFaces() const { return DWORD(indices.size() / 3); }
  DWORD NumVertices() const { return DWORD(positions.size()); }
};

struct FrameData {
  std::string name;
  D3DXMATRIX transform;
  std::vector<uint32_t> meshes;    // into Scene::meshes
  std::vector<uint32_t> children;  // into Scene::frames
};

struct AnimationData {
  std::string target;  // the frame it moves
  std::vector<D3DXKEY_VECTOR3> scale;
  std::vector<D3DXKEY_QUATERNION> rotation;
  std::vector<D3DXKEY_VECTOR3> translation;
};

struct AnimationSetData {
  std::string name;
  std::vector<AnimationData> animations;
};

struct TopLevelItem {
  bool isMesh;
  uint32_t index;  // into Scene::meshes or Scene::frames
};

struct Scene {
  std::vector<FrameData> frames;
  std::vector<MeshData> meshes;  // meshes without faces are left out
  std::vector<TopLevelItem> topLevel;
  std::vector<AnimationSetData> animationSets;
  DWORD ticksPerSecond = kDefaultTicksPerSecond;
};

// D3DXERR_INVALIDDATA when an object breaks its template (wrong counts, indices out of range,
// missing or surplus values, references that loop), E_OUTOFMEMORY when memory runs out.
HRESULT BuildScene(const Document& doc, Scene* scene, std::string* why = nullptr);

// ParseDocument and BuildScene together.
HRESULT LoadScene(const void* data, size_t size, Scene* scene, std::string* why = nullptr);

// Sorts the faces by attribute (stably), then fills the attribute table and the adjacency from
// the point representatives. For meshes put together from others.
void FinishMesh(MeshData* mesh);

}  // namespace xfile
