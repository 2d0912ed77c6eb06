#include "engine/scene/animated_mesh_pass.h"

#include <cmath>
#include <vector>

#include "engine/core/engine_state.h"

namespace {

AnimationFrame* AsAnimationFrame(D3DXFRAME* frame) {
  return static_cast<AnimationFrame*>(frame);
}

MeshContainer* AsMeshContainer(D3DXMESHCONTAINER* container) {
  return static_cast<MeshContainer*>(container);
}

// The recursion of the hierarchy walks (a frame, then its sibling, then its first child, each
// recursively) run on an explicit stack: the sibling chains of real files are long enough to
// exhaust the thread's stack, and a looping hierarchy must stop after kMaxAnimationFrames.
struct PendingFrame {
  D3DXFRAME* frame;
  const D3DXMATRIX* parent;
};

std::vector<PendingFrame>& WalkStack() {
  // Engine thread only; kept to avoid allocating every frame.
  static std::vector<PendingFrame> stack;
  stack.clear();
  return stack;
}

// Calls visit(frame, parent) for each frame in the recursion's order. visit returns the parent
// matrix the frame's children use.
template <class Visit>
void WalkFrames(D3DXFRAME* root, const D3DXMATRIX* parent, Visit visit) {
  if (root == nullptr) return;
  std::vector<PendingFrame>& stack = WalkStack();
  stack.push_back({root, parent});
  int visited = 0;
  while (!stack.empty() && visited < kMaxAnimationFrames) {
    const PendingFrame pending = stack.back();
    stack.pop_back();
    ++visited;
    const D3DXMATRIX* childParent = visit(AsAnimationFrame(pending.frame), pending.parent);
    // The child runs after the whole sibling chain, so it goes under the sibling on the stack.
    if (pending.frame->pFrameFirstChild != nullptr)
      stack.push_back({pending.frame->pFrameFirstChild, childParent});
    if (pending.frame->pFrameSibling != nullptr)
      stack.push_back({pending.frame->pFrameSibling, pending.parent});
  }
}

void PlaceWorld(const D3DXMATRIX& world, AnimationFrame* frame) {
  D3DXMATRIX& combined = frame->CombinedTransformationMatrix;
  D3DXMatrixMultiply(&combined, &combined, &world);
  // The world's translation counts twice: the positioning operations store it with that in mind.
  combined._41 += world._41;
  combined._42 += world._42;
  combined._43 += world._43;
}

// Steps after the world is placed: the transform, then one subset per material.
void DrawContainerSubsets(MeshContainer* container, AnimationFrame* frame) {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  ID3DXMesh* mesh =
      container->pSkinInfo != nullptr ? container->SkinnedMesh : container->MeshData.pMesh;
  if (mesh == nullptr) return;
  device->SetTransform(D3DTS_WORLD, &frame->CombinedTransformationMatrix);
  for (DWORD i = 0; i < container->NumMaterials; ++i) {
    if (container->Materials != nullptr) device->SetMaterial(&container->Materials[i]);
    device->SetTexture(0,
                       container->Textures != nullptr ? container->Textures[i].Texture : nullptr);
    mesh->DrawSubset(i);
  }
}

// Skins the record's container from the combined matrices of this frame's update. Skipped when
// a table or mesh it needs is missing, or when either vertex buffer will not lock.
void SkinContainer(AnimatedMesh& mesh) {
  MeshContainer* container = mesh.SkinnedContainer;
  if (container == nullptr || container->pSkinInfo == nullptr) return;
  ID3DXSkinInfo* skin = container->pSkinInfo;
  ID3DXMesh* source = container->MeshData.pMesh;
  ID3DXMesh* skinned = container->SkinnedMesh;
  if (source == nullptr || skinned == nullptr || mesh.BoneMatrices == nullptr ||
      container->BoneOffsets == nullptr || container->BoneMatrixPointers == nullptr)
    return;
  // The skinning writes as many vertices as it reads.
  if (source->GetNumVertices() != skinned->GetNumVertices() ||
      source->GetNumBytesPerVertex() != skinned->GetNumBytesPerVertex())
    return;
  const DWORD bones = skin->GetNumBones();
  for (DWORD i = 0; i < bones; ++i) {
    const D3DXMATRIX* driver = container->BoneMatrixPointers[i];
    if (driver == nullptr) return;
    D3DXMatrixMultiply(&mesh.BoneMatrices[i], &container->BoneOffsets[i], driver);
  }
  void* from = nullptr;
  void* to = nullptr;
  const bool sourceLocked = SUCCEEDED(source->LockVertexBuffer(D3DLOCK_READONLY, &from));
  const bool skinnedLocked = SUCCEEDED(skinned->LockVertexBuffer(0, &to));
  if (sourceLocked && skinnedLocked && from != nullptr && to != nullptr)
    skin->UpdateSkinnedMesh(mesh.BoneMatrices, nullptr, from, to);
  if (skinnedLocked) skinned->UnlockVertexBuffer();
  if (sourceLocked) source->UnlockVertexBuffer();
}

void AnimateListed(AnimatedMesh& mesh, float frameTime, const D3DXMATRIX* parent) {
  // A scale of 0 would divide by zero and one that is not finite would poison the controller's
  // clock; both play at normal speed.
  const float scale =
      mesh.TimeScale != 0.0f && std::isfinite(mesh.TimeScale) ? mesh.TimeScale : 1.0f;
  const float step = frameTime / scale;
  if (mesh.Controller != nullptr) mesh.Controller->AdvanceTime(static_cast<double>(step), nullptr);
  // Without frames the bone matrix pointers lead nowhere current, so there is nothing to skin.
  if (mesh.RootFrame == nullptr) return;
  D3DXFRAME* root = mesh.RootFrame;
  UpdateFrameMatrices(&root, parent);
  SkinContainer(mesh);
}

void DrawListed(AnimatedMesh& mesh) {
  AnimateListed(mesh, Engine.FrameTime, nullptr);
  D3DXFRAME* root = mesh.RootFrame;
  DrawFrame(mesh.World, &root);
}

}  // namespace

void UpdateFrameMatrices(D3DXFRAME* const* link, const D3DXMATRIX* parent) {
  if (link == nullptr) return;
  WalkFrames(*link, parent, [](AnimationFrame* frame, const D3DXMATRIX* from) {
    D3DXMATRIX& combined = frame->CombinedTransformationMatrix;
    if (from != nullptr) {
      D3DXMatrixMultiply(&combined, &frame->TransformationMatrix, from);
    } else {
      combined = frame->TransformationMatrix;
    }
    return static_cast<const D3DXMATRIX*>(&combined);
  });
}

void DrawFrame(const D3DXMATRIX& world, D3DXFRAME* const* link) {
  if (link == nullptr) return;
  WalkFrames(*link, nullptr, [&world](AnimationFrame* frame, const D3DXMATRIX*) {
    // The world is placed once per frame: a second container would otherwise multiply it in again.
    bool placed = false;
    int containers = 0;
    for (D3DXMESHCONTAINER* c = frame->pMeshContainer;
         c != nullptr && containers < kMaxAnimationFrames;
         c = c->pNextMeshContainer, ++containers) {
      if (!placed) PlaceWorld(world, frame);
      placed = true;
      DrawContainerSubsets(AsMeshContainer(c), frame);
    }
    return static_cast<const D3DXMATRIX*>(nullptr);
  });
}

void DrawMeshContainer(const D3DXMATRIX& world, MeshContainer* container, AnimationFrame* frame) {
  if (container == nullptr || frame == nullptr) return;
  PlaceWorld(world, frame);
  DrawContainerSubsets(container, frame);
}

void AnimateAnimatedMesh(AnimatedMesh* mesh, float frameTime, const D3DXMATRIX* parent) {
  if (Engine.AnimatedMeshList.Contains(mesh)) AnimateListed(*mesh, frameTime, parent);
}

void DrawAnimatedMesh(AnimatedMesh* mesh) {
  if (Engine.AnimatedMeshList.Contains(mesh)) DrawListed(*mesh);
}

void DrawAnimatedMeshes() {
  Engine.AnimatedMeshList.ForEach([](AnimatedMesh& mesh) { DrawListed(mesh); });
}
