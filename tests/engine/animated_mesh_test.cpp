// The animated-mesh pass: frame matrices, the order of the walks, the placement of the world,
// software skinning against hand-computed vertices, the controller's time scale, and hierarchies
// that are broken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/scene/animated_mesh_pass.h"
#include "support/engine_fixture.h"
#include "support/mesh_spy.h"

namespace engine_test {
namespace {

constexpr DWORD kSkinFvf = D3DFVF_XYZ | D3DFVF_NORMAL;
struct SkinVertex {
  float x, y, z;
  float nx, ny, nz;
};

D3DXMATRIX Translation(float x, float y, float z) {
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, x, y, z);
  return m;
}

void ExpectTranslation(const D3DXMATRIX& m, float x, float y, float z) {
  EXPECT_NEAR(m._41, x, 1e-5f);
  EXPECT_NEAR(m._42, y, 1e-5f);
  EXPECT_NEAR(m._43, z, 1e-5f);
}

// Frames and containers owned by the test, zero-filled as a hierarchy allocator would leave them.
struct Hierarchy {
  std::vector<std::unique_ptr<AnimationFrame>> frames;
  std::vector<std::unique_ptr<MeshContainer>> containers;

  AnimationFrame* Frame(const D3DXMATRIX& transform) {
    frames.push_back(std::make_unique<AnimationFrame>());
    AnimationFrame* f = frames.back().get();
    f->TransformationMatrix = transform;
    return f;
  }
  // A container of one material drawing `mesh`, hung on `frame` after its other containers.
  MeshContainer* Container(AnimationFrame* frame, ID3DXMesh* mesh) {
    containers.push_back(std::make_unique<MeshContainer>());
    MeshContainer* c = containers.back().get();
    c->MeshData.Type = D3DXMESHTYPE_MESH;
    c->MeshData.pMesh = mesh;
    c->NumMaterials = 1;
    D3DXMESHCONTAINER** slot = &frame->pMeshContainer;
    while (*slot != nullptr) slot = &(*slot)->pNextMeshContainer;
    *slot = c;
    return c;
  }
};

class AnimatedMeshTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    MeshCallLog::calls.clear();
    ASSERT_EQ(D3DXCreateBox(Engine.Device, 1, 1, 1, &box_, nullptr), D3D_OK);
  }
  void TearDown() override {
    for (MeshSpy* spy : spies_) spy->Release();
    SafeRelease(box_);
    EngineTest::TearDown();
  }

  MeshSpy* Spy(ID3DXMesh* inner, const char* name) {
    spies_.push_back(new MeshSpy(inner, name));
    return spies_.back();
  }

  AnimatedMesh* Record(AnimationFrame* root) {
    AnimatedMesh* record = Engine.AnimatedMeshList.Add();
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    record->World = identity;
    record->RootFrame = root;
    record->TimeScale = 1.0f;
    return record;
  }

  ID3DXMesh* box_ = nullptr;
  std::vector<MeshSpy*> spies_;
  Hierarchy h_;
};

TEST_F(AnimatedMeshTest, SiblingsTakeTheParentMatrixAndChildrenTheirParentsCombinedMatrix) {
  AnimationFrame* root = h_.Frame(Translation(1, 0, 0));
  AnimationFrame* sibling = h_.Frame(Translation(0, 2, 0));
  AnimationFrame* child = h_.Frame(Translation(0, 0, 3));
  AnimationFrame* grandchild = h_.Frame(Translation(0, 0, 5));
  root->pFrameSibling = sibling;
  root->pFrameFirstChild = child;
  child->pFrameFirstChild = grandchild;

  D3DXMATRIX parent;
  D3DXMatrixScaling(&parent, 2, 2, 2);
  D3DXFRAME* link = root;
  UpdateFrameMatrices(&link, &parent);
  ExpectTranslation(root->CombinedTransformationMatrix, 2, 0, 0);
  ExpectTranslation(sibling->CombinedTransformationMatrix, 0, 4, 0);
  // The child's own translation is scaled by the root's scale, then moved by the root's offset.
  ExpectTranslation(child->CombinedTransformationMatrix, 2, 0, 6);
  ExpectTranslation(grandchild->CombinedTransformationMatrix, 2, 0, 16);
  EXPECT_FLOAT_EQ(grandchild->CombinedTransformationMatrix._11, 2.0f);

  // Without a parent the root's combined matrix is its own.
  UpdateFrameMatrices(&link, nullptr);
  ExpectTranslation(root->CombinedTransformationMatrix, 1, 0, 0);
  ExpectTranslation(child->CombinedTransformationMatrix, 1, 0, 3);

  // A null link or frame is nothing to update.
  UpdateFrameMatrices(nullptr, &parent);
  D3DXFRAME* none = nullptr;
  UpdateFrameMatrices(&none, &parent);
}

TEST_F(AnimatedMeshTest, DrawsFrameThenSiblingChainThenChildrenAsTheRecursionDoes) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  AnimationFrame* root = h_.Frame(identity);
  AnimationFrame* sibling = h_.Frame(identity);
  AnimationFrame* siblingChild = h_.Frame(identity);
  AnimationFrame* rootChild = h_.Frame(identity);
  root->pFrameSibling = sibling;
  root->pFrameFirstChild = rootChild;
  sibling->pFrameFirstChild = siblingChild;
  h_.Container(root, Spy(box_, "root"));
  h_.Container(sibling, Spy(box_, "sibling"));
  h_.Container(siblingChild, Spy(box_, "siblingChild"));
  h_.Container(rootChild, Spy(box_, "rootChild"));
  Record(root);

  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  DrawAnimatedMeshes();
  Engine.Device->EndScene();
  const std::vector<std::string> expected = {"root:draw 0", "sibling:draw 0", "siblingChild:draw 0",
                                             "rootChild:draw 0"};
  EXPECT_EQ(MeshCallLog::calls, expected);
}

TEST_F(AnimatedMeshTest, WorldIsPlacedOncePerFrameWithItsTranslationCountedTwice) {
  AnimationFrame* root = h_.Frame(Translation(1, 0, 0));
  MeshContainer* first = h_.Container(root, Spy(box_, "first"));
  h_.Container(root, Spy(box_, "second"));
  AnimatedMesh* record = Record(root);
  D3DXMATRIX world;
  D3DXMatrixScaling(&world, 2, 2, 2);
  world._41 = 10;
  world._42 = 20;
  world._43 = 30;
  record->World = world;

  DrawAnimatedMesh(record);
  // (1, 0, 0) scaled by 2 and moved by the world's translation, which is then added once more:
  // a frame with two containers gets the world once, not once per container.
  const D3DXMATRIX& combined = root->CombinedTransformationMatrix;
  ExpectTranslation(combined, 22, 40, 60);
  EXPECT_FLOAT_EQ(combined._11, 2.0f);
  const D3DMATRIX set = WorldTransform();
  EXPECT_EQ(std::memcmp(&set, &combined, sizeof(set)), 0);
  const std::vector<std::string> expected = {"first:draw 0", "second:draw 0"};
  EXPECT_EQ(MeshCallLog::calls, expected);

  // The next frame rebuilds the combined matrix before placing the world again.
  DrawAnimatedMesh(record);
  ExpectTranslation(root->CombinedTransformationMatrix, 22, 40, 60);

  // DrawMeshContainer on its own places the world each time it is called.
  D3DXMATRIX shift = Translation(1, 1, 1);
  DrawMeshContainer(shift, first, root);
  ExpectTranslation(root->CombinedTransformationMatrix, 24, 42, 62);
  DrawMeshContainer(shift, nullptr, root);
  DrawMeshContainer(shift, first, nullptr);
  ExpectTranslation(root->CombinedTransformationMatrix, 24, 42, 62);
}

TEST_F(AnimatedMeshTest, MaterialsAndTexturesChangePerSubset) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  AnimationFrame* root = h_.Frame(identity);
  MeshContainer* c = h_.Container(root, Spy(box_, "box"));
  IDirect3DTexture9* red = MakeSolidTexture(Engine.Device, 0xFFFF0000);
  D3DMATERIAL9 materials[2] = {};
  materials[0].Diffuse = {1, 0, 0, 1};
  materials[1].Diffuse = {0, 0, 1, 1};
  MaterialTexture textures[2] = {};
  textures[0].Texture = nullptr;
  textures[1].Texture = red;
  c->NumMaterials = 2;
  c->Materials = materials;
  c->Textures = textures;
  Record(root);

  DrawAnimatedMeshes();
  const std::vector<std::string> expected = {"box:draw 0", "box:draw 1"};
  EXPECT_EQ(MeshCallLog::calls, expected);
  D3DMATERIAL9 last{};
  Engine.Device->GetMaterial(&last);
  EXPECT_FLOAT_EQ(last.Diffuse.b, 1.0f);
  EXPECT_EQ(BoundTexture(0), red);

  // A container without tables still draws its subsets, with no texture.
  c->Materials = nullptr;
  c->Textures = nullptr;
  DrawAnimatedMeshes();
  EXPECT_EQ(BoundTexture(0), nullptr);
  EXPECT_EQ(MeshCallLog::calls.size(), 4u);
  red->Release();
}

TEST_F(AnimatedMeshTest, ContainerWithoutSkinInformationDrawsItsSourceMesh) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  AnimationFrame* root = h_.Frame(identity);
  MeshContainer* c = h_.Container(root, Spy(box_, "source"));
  c->SkinnedMesh = Spy(box_, "skinned");
  Record(root);
  DrawAnimatedMeshes();
  EXPECT_EQ(MeshCallLog::calls, std::vector<std::string>{"source:draw 0"});
}

TEST_F(AnimatedMeshTest, TimeScaleDividesTheFrameTime) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  AnimatedMesh* record = Record(h_.Frame(identity));
  ASSERT_EQ(D3DXCreateAnimationController(1, 1, 1, 1, &record->Controller), D3D_OK);
  Engine.FrameTime = 0.016f;

  record->TimeScale = 2.0f;
  DrawAnimatedMeshes();
  EXPECT_NEAR(record->Controller->GetTime(), 0.008, 1e-7);

  // A scale of 0 or NaN plays at normal speed instead of sending the clock to infinity.
  record->TimeScale = 0.0f;
  DrawAnimatedMeshes();
  EXPECT_NEAR(record->Controller->GetTime(), 0.024, 1e-7);
  record->TimeScale = std::nanf("");
  DrawAnimatedMeshes();
  EXPECT_NEAR(record->Controller->GetTime(), 0.040, 1e-7);

  // Called directly, with its own frame time.
  AnimateAnimatedMesh(record, 0.5f, nullptr);
  EXPECT_NEAR(record->Controller->GetTime(), 0.540, 1e-6);

  // A record that is not in the list is not a record: nothing advances.
  AnimatedMesh stray = *record;
  AnimateAnimatedMesh(&stray, 1.0f, nullptr);
  DrawAnimatedMesh(&stray);
  EXPECT_NEAR(record->Controller->GetTime(), 0.540, 1e-6);
}

TEST_F(AnimatedMeshTest, NullRootAdvancesTheControllerButDrawsNothing) {
  AnimatedMesh* record = Record(nullptr);
  ASSERT_EQ(D3DXCreateAnimationController(1, 1, 1, 1, &record->Controller), D3D_OK);
  Engine.FrameTime = 0.016f;
  DrawAnimatedMeshes();
  EXPECT_NEAR(record->Controller->GetTime(), 0.016, 1e-7);
  EXPECT_TRUE(MeshCallLog::calls.empty());
}

TEST_F(AnimatedMeshTest, LoopingHierarchiesStop) {
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  AnimationFrame* root = h_.Frame(identity);
  AnimationFrame* child = h_.Frame(identity);
  root->pFrameFirstChild = child;
  child->pFrameSibling = root;  // the child's sibling chain leads back to the root
  MeshContainer* c = h_.Container(child, Spy(box_, "child"));
  Record(root);
  DrawAnimatedMeshes();
  // The walk stopped; each visit of the child drew its one container.
  EXPECT_GT(MeshCallLog::calls.size(), 1u);
  EXPECT_LE(MeshCallLog::calls.size(), static_cast<size_t>(kMaxAnimationFrames));

  // A container list that loops on itself is cut as well.
  root->pFrameFirstChild = nullptr;
  root->pMeshContainer = c;
  c->pNextMeshContainer = c;
  MeshCallLog::calls.clear();
  DrawAnimatedMeshes();
  EXPECT_EQ(MeshCallLog::calls.size(), static_cast<size_t>(kMaxAnimationFrames));
}

// Two bones: bone 0 on a root frame moved by (1, 0, 0), bone 1 on its child turned 90 degrees
// about z, with an offset that first brings the vertex back by (-1, 0, 0).
class SkinnedMeshTest : public AnimatedMeshTest {
 protected:
  void SetUp() override {
    AnimatedMeshTest::SetUp();
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, kSkinFvf, Engine.Device, &source_), D3D_OK);
    const SkinVertex vertices[3] = {{0, 0, 0, 0, 0, 1}, {2, 0, 0, 1, 0, 0}, {1, 1, 0, 1, 0, 0}};
    WriteVertices(source_, vertices);
    ASSERT_EQ(source_->CloneMeshFVF(D3DXMESH_MANAGED, kSkinFvf, Engine.Device, &skinned_), D3D_OK);

    ASSERT_EQ(D3DXCreateSkinInfoFVF(3, kSkinFvf, 2, &skin_), D3D_OK);
    const DWORD bone0[2] = {0, 2};
    const float weights0[2] = {1.0f, 0.5f};
    const DWORD bone1[2] = {1, 2};
    const float weights1[2] = {1.0f, 0.5f};
    ASSERT_EQ(skin_->SetBoneInfluence(0, 2, bone0, weights0), D3D_OK);
    ASSERT_EQ(skin_->SetBoneInfluence(1, 2, bone1, weights1), D3D_OK);

    root_ = h_.Frame(Translation(1, 0, 0));
    D3DXMATRIX turn;
    D3DXMatrixRotationZ(&turn, D3DX_PI / 2);
    child_ = h_.Frame(turn);
    root_->pFrameFirstChild = child_;

    sourceSpy_ = Spy(source_, "source");
    skinnedSpy_ = Spy(skinned_, "skinned");
    container_ = h_.Container(root_, sourceSpy_);
    container_->NumMaterials = 0;
    container_->pSkinInfo = skin_;
    container_->SkinnedMesh = skinnedSpy_;
    D3DXMatrixIdentity(&offsets_[0]);
    offsets_[1] = Translation(-1, 0, 0);
    container_->BoneOffsets = offsets_;
    pointers_[0] = &root_->CombinedTransformationMatrix;
    pointers_[1] = &child_->CombinedTransformationMatrix;
    container_->BoneMatrixPointers = pointers_;

    record_ = Record(root_);
    record_->SkinnedContainer = container_;
    record_->BoneMatrices = boneMatrices_;
  }
  void TearDown() override {
    SafeRelease(skin_);
    SafeRelease(skinned_);
    SafeRelease(source_);
    AnimatedMeshTest::TearDown();
  }

  static void WriteVertices(ID3DXMesh* mesh, const SkinVertex (&vertices)[3]) {
    void* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(0, &data), D3D_OK);
    std::memcpy(data, vertices, sizeof(vertices));
    mesh->UnlockVertexBuffer();
  }
  std::vector<SkinVertex> Skinned() {
    std::vector<SkinVertex> out(3);
    void* data = nullptr;
    EXPECT_EQ(skinned_->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    if (data != nullptr) std::memcpy(out.data(), data, sizeof(SkinVertex) * 3);
    skinned_->UnlockVertexBuffer();
    return out;
  }

  ID3DXMesh* source_ = nullptr;
  ID3DXMesh* skinned_ = nullptr;
  ID3DXSkinInfo* skin_ = nullptr;
  MeshSpy* sourceSpy_ = nullptr;
  MeshSpy* skinnedSpy_ = nullptr;
  AnimationFrame* root_ = nullptr;
  AnimationFrame* child_ = nullptr;
  MeshContainer* container_ = nullptr;
  AnimatedMesh* record_ = nullptr;
  D3DXMATRIX offsets_[2];
  D3DXMATRIX* pointers_[2] = {};
  D3DXMATRIX boneMatrices_[2];
};

TEST_F(SkinnedMeshTest, SkinsPositionsAndNormalsFromTheFrameMatrices) {
  // A world far away must not reach the skinning, which runs on the matrices before the draw
  // places the world on them, in this frame and the next.
  record_->World = Translation(100, 0, 0);
  DrawAnimatedMeshes();
  DrawAnimatedMeshes();

  // Bone 1: (x - 1, y) turned a quarter about z, then moved by (1, 0, 0).
  ExpectTranslation(boneMatrices_[0], 1, 0, 0);
  ExpectTranslation(boneMatrices_[1], 1, -1, 0);
  const std::vector<SkinVertex> v = Skinned();
  // Vertex 0, bone 0 only: (0, 0, 0) + (1, 0, 0); its normal is untouched by a translation.
  EXPECT_NEAR(v[0].x, 1, 1e-5f);
  EXPECT_NEAR(v[0].y, 0, 1e-5f);
  EXPECT_NEAR(v[0].nz, 1, 1e-5f);
  // Vertex 1, bone 1 only: (2, 0) -> (1, 0) -> (0, 1) -> (1, 1); the normal (1, 0, 0) turns to y.
  EXPECT_NEAR(v[1].x, 1, 1e-5f);
  EXPECT_NEAR(v[1].y, 1, 1e-5f);
  EXPECT_NEAR(v[1].nx, 0, 1e-5f);
  EXPECT_NEAR(v[1].ny, 1, 1e-5f);
  // Vertex 2, half each: bone 0 gives (2, 1), bone 1 gives (0, 0); the normal is the normalised
  // mean of x and y.
  EXPECT_NEAR(v[2].x, 1, 1e-5f);
  EXPECT_NEAR(v[2].y, 0.5f, 1e-5f);
  EXPECT_NEAR(v[2].nx, std::sqrt(0.5f), 1e-5f);
  EXPECT_NEAR(v[2].ny, std::sqrt(0.5f), 1e-5f);

  const std::vector<std::string> oneFrame = {"source:lock", "skinned:lock", "skinned:unlock",
                                             "source:unlock"};
  std::vector<std::string> twoFrames = oneFrame;
  twoFrames.insert(twoFrames.end(), oneFrame.begin(), oneFrame.end());
  EXPECT_EQ(MeshCallLog::calls, twoFrames);
}

TEST_F(SkinnedMeshTest, SkinnedContainerDrawsTheSkinnedMesh) {
  container_->NumMaterials = 1;
  DrawAnimatedMeshes();
  EXPECT_EQ(MeshCallLog::calls.back(), "skinned:draw 0");
}

TEST_F(SkinnedMeshTest, FailedLockSkipsTheSkinningAndUnlocksWhatWasLocked) {
  const std::vector<SkinVertex> before = Skinned();
  skinnedSpy_->failLocks = true;
  DrawAnimatedMeshes();
  EXPECT_EQ(sourceSpy_->openLocks, 0);
  EXPECT_EQ(skinnedSpy_->openLocks, 0);
  EXPECT_EQ(MeshCallLog::calls,
            (std::vector<std::string>{"source:lock", "skinned:lock", "source:unlock"}));
  EXPECT_EQ(Skinned()[1].x, before[1].x);

  skinnedSpy_->failLocks = false;
  sourceSpy_->failLocks = true;
  MeshCallLog::calls.clear();
  DrawAnimatedMeshes();
  EXPECT_EQ(skinnedSpy_->openLocks, 0);
  EXPECT_EQ(MeshCallLog::calls,
            (std::vector<std::string>{"source:lock", "skinned:lock", "skinned:unlock"}));
  EXPECT_EQ(Skinned()[1].x, before[1].x);
}

TEST_F(SkinnedMeshTest, MissingTablesSkipTheSkinning) {
  const std::vector<SkinVertex> before = Skinned();
  pointers_[1] = nullptr;
  DrawAnimatedMeshes();
  container_->BoneMatrixPointers = nullptr;
  DrawAnimatedMeshes();
  container_->BoneMatrixPointers = pointers_;
  pointers_[1] = &child_->CombinedTransformationMatrix;
  record_->BoneMatrices = nullptr;
  DrawAnimatedMeshes();
  // A skinned mesh of another size would be written past its end.
  record_->BoneMatrices = boneMatrices_;
  container_->SkinnedMesh = Spy(box_, "box");
  DrawAnimatedMeshes();
  EXPECT_TRUE(MeshCallLog::calls.empty());
  EXPECT_EQ(Skinned()[1].x, before[1].x);
}

}  // namespace
}  // namespace engine_test
