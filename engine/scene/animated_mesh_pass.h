// The animated-mesh pass of the frame: frame hierarchies advanced by their animation controller,
// one container per record skinned in software, every container drawn with the fixed-function
// pipeline.
#pragma once

#include "d3dx9.h"
#include "engine/scene/scene_records.h"

// One entry of a mesh container's texture table: the texture of a material and the file it came
// from. The entry is 88 bytes so tables written by other tools keep their stride.
struct MaterialTexture {
  IDirect3DTexture9* Texture;  // null: the material has no texture
  char FileName[88 - sizeof(IDirect3DTexture9*)];
};
static_assert(sizeof(MaterialTexture) == 88);

// A frame of an animated mesh: the D3DX frame, then its transformation combined with every
// ancestor's. The hierarchy allocator must create every frame as an AnimationFrame.
struct AnimationFrame : D3DXFRAME {
  D3DXMATRIX CombinedTransformationMatrix;
};

// A mesh container of an animated mesh: the D3DX container, then the tables the pass reads. The
// tables hold NumMaterials entries (textures, materials) or the skin information's bone count
// (offsets, matrix pointers).
struct MeshContainer : D3DXMESHCONTAINER {
  MaterialTexture* Textures;
  D3DMATERIAL9* Materials;
  ID3DXMesh*
      SkinnedMesh;  // receives the skinned vertices; same vertex count and size as the source
  D3DXMATRIX* BoneOffsets;
  D3DXMATRIX** BoneMatrixPointers;  // each at the combined matrix of the frame driving that bone
};

// Frames one walk of a hierarchy visits at most. A hierarchy whose sibling or child links loop
// would otherwise be walked forever; the walk stops after this many frames.
constexpr int kMaxAnimationFrames = 1 << 16;

// Advances, skins and draws every AnimatedMesh of AnimatedMeshList in list order.
void DrawAnimatedMeshes();
// Advances, skins and draws one record; nothing for a record that is not in AnimatedMeshList.
void DrawAnimatedMesh(AnimatedMesh* mesh);
// Advances the record's controller by frameTime / TimeScale (a TimeScale of 0 or one that is not
// finite counts as 1), rebuilds the combined matrices from the root, then skins the record's
// SkinnedContainer. Nothing for a record that is not in AnimatedMeshList.
void AnimateAnimatedMesh(AnimatedMesh* mesh, float frameTime, const D3DXMATRIX* parent);
// Rebuilds the combined matrix of the frame in `link`, of its siblings (from `parent`) and of
// their descendants (each from its parent's combined matrix). Order: a frame, its sibling chain,
// then children, as the recursion visits them. Nothing for a null link or frame.
void UpdateFrameMatrices(D3DXFRAME* const* link, const D3DXMATRIX* parent);
// Draws every container of the frame in `link`, then its sibling chain, then its children.
void DrawFrame(const D3DXMATRIX& world, D3DXFRAME* const* link);
// Places `world` on the frame's combined matrix (multiplied, and its translation added once
// more), makes that the world transform and draws one subset per material: from the skinned
// mesh when the container has skin information, else from the source mesh.
void DrawMeshContainer(const D3DXMATRIX& world, MeshContainer* container, AnimationFrame* frame);
