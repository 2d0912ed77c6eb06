// Animated meshes loaded through the engine's operations: the frame and container records the
// pass reads, skinning driven by the chosen animation, its speed and the time scale, files that
// cannot be loaded, handles that are not the engine's, release, device resets and shutdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "support/temp_dir.h"

namespace {

using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;
using engine_test::TempDir;

const char* const kIdentity =
    "1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;;";

// One red, glowing triangle skinned wholly to the frame `bone`, which the skin weights call
// `weightsBone`; with `animated`, two animation sets move that frame: Still keeps it in place,
// Lift raises it by 10 over one second.
std::string SkinnedFile(const std::string& weightsBone, bool animated) {
  std::string file = "xof 0303txt 0032\nFrame Root {\n FrameTransformMatrix { ";
  file += kIdentity;
  file +=
      " }\n"
      " Mesh Tri {\n"
      "  3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;;\n"
      "  1; 3; 0,1,2;;\n"
      "  MeshNormals { 1; 0.0;0.0;-1.0;; 1; 3; 0,0,0;; }\n"
      "  MeshMaterialList { 2; 1; 0;;\n"
      "   Material { 1.0;0.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 1.0;0.0;0.0;; }\n"
      "   Material { 0.0;1.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;\n"
      "    TextureFilename { \"skin.png\"; } }\n"
      "  }\n"
      "  XSkinMeshHeader { 1; 1; 1; }\n"
      "  SkinWeights { \"" +
      weightsBone + "\"; 3; 0, 1, 2; 1.0, 1.0, 1.0; " + kIdentity +
      " }\n"
      " }\n"
      " Frame Bone {\n  FrameTransformMatrix { " +
      kIdentity + " }\n }\n}\n";
  if (animated) {
    file +=
        "AnimTicksPerSecond { 100; }\n"
        "AnimationSet Still { Animation { { Bone } AnimationKey { 2; 2;"
        " 0; 3; 0.0, 0.0, 0.0;;, 100; 3; 0.0, 0.0, 0.0;;; } } }\n"
        "AnimationSet Lift { Animation { { Bone } AnimationKey { 2; 2;"
        " 0; 3; 0.0, 0.0, 0.0;;, 100; 3; 0.0, 10.0, 0.0;;; } } }\n";
  }
  return file;
}

std::string PngOf(uint32_t argb) {
  IDirect3DTexture9* texture = engine_test::MakeSolidTexture(Engine.Device, argb, 4);
  ID3DXBuffer* file = nullptr;
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_PNG, texture, nullptr), D3D_OK);
  texture->Release();
  if (file == nullptr) return {};
  std::string bytes(static_cast<const char*>(file->GetBufferPointer()), file->GetBufferSize());
  file->Release();
  return bytes;
}

// The y of the skinned copy's first vertex.
float SkinnedY(const AnimatedMesh* mesh) {
  ID3DXMesh* skinned = mesh->SkinnedContainer->SkinnedMesh;
  void* data = nullptr;
  if (FAILED(skinned->LockVertexBuffer(D3DLOCK_READONLY, &data))) return NAN;
  float y;
  std::memcpy(&y, static_cast<const uint8_t*>(data) + 4, sizeof(y));
  skinned->UnlockVertexBuffer();
  return y;
}

class AnimatedMeshCreateTest : public EngineTest {
 protected:
  AnimatedMesh* Load(const std::string& text) {
    return LoadAnimatedMesh(dir_.Write("model.x", text).c_str());
  }
  TempDir dir_;
};

TEST_F(AnimatedMeshCreateTest, LoadBuildsTheRecordsThePassReads) {
  dir_.Write("skin.png", PngOf(0xFF00FF00));
  Engine.LastError = 1;
  AnimatedMesh* mesh = Load(SkinnedFile("Bone", true));
  ASSERT_NE(mesh, nullptr) << Engine.LastErrorText;
  EXPECT_EQ(Engine.LastError, 1);
  EXPECT_TRUE(Engine.AnimatedMeshList.Contains(mesh));
  EXPECT_EQ(mesh->TimeScale, 1.0f);
  ASSERT_NE(mesh->Controller, nullptr);
  EXPECT_EQ(mesh->Controller->GetNumAnimationSets(), 2u);

  AnimationFrame* root = mesh->RootFrame;
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->Name, "Root");
  auto* bone = static_cast<AnimationFrame*>(D3DXFrameFind(root, "Bone"));
  ASSERT_NE(bone, nullptr);
  auto* container = static_cast<MeshContainer*>(root->pMeshContainer);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(mesh->SkinnedContainer, container);
  EXPECT_STREQ(container->Name, "Tri");
  ASSERT_EQ(container->NumMaterials, 2u);
  EXPECT_EQ(container->Materials[0].Emissive.r, 1.0f);
  EXPECT_EQ(container->Materials[1].Diffuse.g, 1.0f);
  EXPECT_EQ(container->Textures[0].Texture, nullptr);
  EXPECT_NE(container->Textures[1].Texture, nullptr);
  EXPECT_STREQ(container->Textures[1].FileName, "skin.png");
  ASSERT_NE(container->pAdjacency, nullptr);
  ASSERT_NE(container->pSkinInfo, nullptr);
  ASSERT_EQ(container->pSkinInfo->GetNumBones(), 1u);
  EXPECT_EQ(container->BoneMatrixPointers[0], &bone->CombinedTransformationMatrix);
  EXPECT_EQ(container->BoneOffsets[0]._11, 1.0f);
  ASSERT_NE(container->SkinnedMesh, nullptr);
  EXPECT_NE(container->SkinnedMesh, container->MeshData.pMesh);
  EXPECT_EQ(container->SkinnedMesh->GetNumVertices(), container->MeshData.pMesh->GetNumVertices());
  EXPECT_EQ(container->SkinnedMesh->GetNumBytesPerVertex(),
            container->MeshData.pMesh->GetNumBytesPerVertex());
  EXPECT_NE(mesh->BoneMatrices, nullptr);
}

TEST_F(AnimatedMeshCreateTest, TheChosenAnimationSkinsTheMeshAtItsSpeedAndTimeScale) {
  AnimatedMesh* mesh = Load(SkinnedFile("Bone", true));
  ASSERT_NE(mesh, nullptr) << Engine.LastErrorText;
  ASSERT_EQ(SetAnimatedMeshAnimation(mesh, "Still"), 1);
  AnimateAnimatedMesh(mesh, 0.5f, nullptr);
  EXPECT_NEAR(SkinnedY(mesh), 0.0f, 1e-4f);

  ASSERT_EQ(SetAnimatedMeshAnimation(mesh, "Lift"), 1);
  AnimateAnimatedMesh(mesh, 0.5f, nullptr);
  EXPECT_NEAR(SkinnedY(mesh), 5.0f, 1e-3f);
  // Chosen again: from its start. Twice the speed covers the same ground in half the time.
  ASSERT_EQ(SetAnimatedMeshAnimation(mesh, "Lift"), 1);
  ASSERT_EQ(SetAnimatedMeshSpeed(mesh, 2.0f), 1);
  AnimateAnimatedMesh(mesh, 0.25f, nullptr);
  EXPECT_NEAR(SkinnedY(mesh), 5.0f, 1e-3f);
  // A time scale of 4 makes half a second of frame time an eighth: 2 * 0.125 s more, to 7.5.
  ASSERT_EQ(SetAnimatedMeshTimeScale(mesh, 4.0f), 1);
  AnimateAnimatedMesh(mesh, 0.5f, nullptr);
  EXPECT_NEAR(SkinnedY(mesh), 7.5f, 1e-3f);

  EXPECT_EQ(SetAnimatedMeshAnimation(mesh, "Walk"), 0);
  EXPECT_EQ(SetAnimatedMeshAnimation(mesh, nullptr), 0);
  EXPECT_EQ(SetAnimatedMeshSpeed(mesh, NAN), 0);
  EXPECT_EQ(SetAnimatedMeshTimeScale(mesh, 0.0f), 0);
  EXPECT_EQ(SetAnimatedMeshTimeScale(mesh, -1.0f), 0);
  EXPECT_EQ(SetAnimatedMeshTimeScale(mesh, INFINITY), 0);
  EXPECT_EQ(mesh->TimeScale, 4.0f);

  // Without animation sets there is no controller to choose from.
  AnimatedMesh* still = LoadAnimatedMesh(dir_.Write("still.x", SkinnedFile("Bone", false)).c_str());
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(still->Controller, nullptr);
  EXPECT_EQ(SetAnimatedMeshAnimation(still, "Lift"), 0);
  EXPECT_EQ(SetAnimatedMeshSpeed(still, 1.0f), 0);
}

TEST_F(AnimatedMeshCreateTest, PlacementStoresHalfTheTranslationForThePass) {
  AnimatedMesh* mesh = Load(SkinnedFile("Bone", true));
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(SetAnimatedMeshAnimation(mesh, "Still"), 1);
  ASSERT_EQ(PositionAnimatedMesh(mesh, 0, 0, 10), 1);
  EXPECT_EQ(mesh->World._43, 5.0f);
  LookAlongZ();
  Engine.ClearColour = 0xFF000000;
  RenderWorld();
  // The triangle (0, 0)-(1, 0)-(0, 1) at z = 10 covers the pixels just up and right of the centre.
  EXPECT_EQ(ReadBackBuffer().At(325, 315), 0xFF0000u);
  Flip();

  ASSERT_EQ(OrientAnimatedMesh(mesh, 0, 0, 0, 2.0f), 1);
  EXPECT_EQ(mesh->World._11, 2.0f);
  EXPECT_EQ(mesh->World._43, 5.0f);
  EXPECT_EQ(OrientAnimatedMesh(mesh, 0, 0, 0, 0.0f), 0);
  EXPECT_EQ(OrientAnimatedMesh(mesh, NAN, 0, 0, 1.0f), 0);
  EXPECT_EQ(PositionAnimatedMesh(mesh, INFINITY, 0, 0), 0);
  EXPECT_EQ(mesh->World._11, 2.0f);
  EXPECT_EQ(mesh->World._41, 0.0f);
}

TEST_F(AnimatedMeshCreateTest, FilesThatCannotBeLoadedLeaveNothingBehind) {
  AnimatedMesh* kept = Load(SkinnedFile("Bone", true));
  ASSERT_NE(kept, nullptr);
  const std::vector<std::string> files = {
      dir_.Path("missing.x"),
      dir_.Path(""),
      dir_.Write("empty.x", ""),
      dir_.Write("text.x", "not an .x file at all"),
      dir_.Write("cut.x", SkinnedFile("Bone", true).substr(0, 200)),
      dir_.Write("nothing.x", "xof 0303txt 0032\nHeader { 1; 0; 1; }\n"),
      dir_.Write("ghost.x", SkinnedFile("Ghost", true)),
  };
  for (const std::string& file : files) {
    Engine.LastError = 1;
    EXPECT_EQ(LoadAnimatedMesh(file.c_str()), nullptr) << file;
    EXPECT_EQ(Engine.LastError, 20) << file;
    EXPECT_NE(Engine.LastErrorText.find(file), std::string::npos) << Engine.LastErrorText;
  }
  EXPECT_NE(Engine.LastErrorText.find("Ghost"), std::string::npos) << Engine.LastErrorText;
  EXPECT_EQ(LoadAnimatedMesh(nullptr), nullptr);
  EXPECT_EQ(Engine.AnimatedMeshList.Count(), 1);
  EXPECT_TRUE(Engine.AnimatedMeshList.Contains(kept));
}

TEST_F(AnimatedMeshCreateTest, HandlesThatAreNotListedAreRefused) {
  AnimatedMesh* kept = Load(SkinnedFile("Bone", true));
  AnimatedMesh* gone = Load(SkinnedFile("Bone", true));
  ASSERT_NE(gone, nullptr);
  ASSERT_EQ(ReleaseAnimatedMesh(gone), 1);
  AnimatedMesh foreign{};
  for (AnimatedMesh* handle : {gone, &foreign, static_cast<AnimatedMesh*>(nullptr)}) {
    EXPECT_EQ(SetAnimatedMeshAnimation(handle, "Lift"), 0);
    EXPECT_EQ(SetAnimatedMeshSpeed(handle, 1.0f), 0);
    EXPECT_EQ(SetAnimatedMeshTimeScale(handle, 2.0f), 0);
    EXPECT_EQ(PositionAnimatedMesh(handle, 1, 1, 1), 0);
    EXPECT_EQ(OrientAnimatedMesh(handle, 1, 1, 1, 1), 0);
    EXPECT_EQ(ReleaseAnimatedMesh(handle), 0);
  }
  EXPECT_EQ(foreign.TimeScale, 0.0f);
  EXPECT_EQ(Engine.AnimatedMeshList.Count(), 1);
  EXPECT_TRUE(Engine.AnimatedMeshList.Contains(kept));
}

TEST_F(AnimatedMeshCreateTest, ReleaseFreesTheHierarchyAndTheOthersDrawOn) {
  AnimatedMesh* first = Load(SkinnedFile("Bone", true));
  AnimatedMesh* second = Load(SkinnedFile("Bone", true));
  ASSERT_NE(second, nullptr);
  ID3DXAnimationController* controller = first->Controller;
  ID3DXMesh* source = first->SkinnedContainer->MeshData.pMesh;
  ID3DXSkinInfo* skin = first->SkinnedContainer->pSkinInfo;
  controller->AddRef();
  source->AddRef();
  skin->AddRef();
  LookAlongZ();
  RenderWorld();
  // Released after its draw was recorded and before the frame is shown.
  ASSERT_EQ(ReleaseAnimatedMesh(first), 1);
  Flip();
  EXPECT_EQ(controller->Release(), 0u);
  EXPECT_EQ(source->Release(), 0u);
  EXPECT_EQ(skin->Release(), 0u);
  ASSERT_EQ(SetAnimatedMeshAnimation(second, "Lift"), 1);
  RenderWorld();
  Flip();
  EXPECT_GT(SkinnedY(second), 0.0f);
}

TEST_F(AnimatedMeshCreateTest, MeshesDrawAfterAResetAndGoAtShutdown) {
  AnimatedMesh* mesh = Load(SkinnedFile("Bone", true));
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(SetAnimatedMeshAnimation(mesh, "Still"), 1);
  ASSERT_EQ(PositionAnimatedMesh(mesh, 0, 0, 10), 1);
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  LookAlongZ();
  Engine.ClearColour = 0xFF000000;
  RenderWorld();
  EXPECT_EQ(ReadBackBuffer().At(325, 315), 0xFF0000u);
  Flip();

  ID3DXAnimationController* controller = mesh->Controller;
  ID3DXMesh* skinned = mesh->SkinnedContainer->SkinnedMesh;
  controller->AddRef();
  skinned->AddRef();
  EngineShutdown();
  EXPECT_EQ(controller->Release(), 0u);
  EXPECT_EQ(skinned->Release(), 0u);
}

}  // namespace
