// Meshes made through the engine's operations: .x files with materials and textures, files that
// cannot be loaded, the D3DX shapes and their refused arguments, placement with bounds that turn
// and scale with the mesh, parents without cycles, subsets' textures and materials on screen,
// handles that are not the engine's, release, device resets and shutdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "support/temp_dir.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;
using engine_test::TempDir;

// A 2 x 2 square in the z = 0 plane, one triangle per material; the first material names a
// picture file.
std::string QuadFile(const std::string& picture) {
  return "xof 0303txt 0032\n"
         "Mesh Quad {\n"
         " 4; -1.0;-1.0;0.0;, 1.0;-1.0;0.0;, 1.0;1.0;0.0;, -1.0;1.0;0.0;;\n"
         " 2; 3; 0,2,1;, 3; 0,3,2;;\n"
         " MeshMaterialList { 2; 2; 0, 1;;\n"
         "  Material { 1.0;0.0;0.0;1.0;; 5.0; 0.25;0.25;0.25;; 0.0;0.0;0.0;;\n"
         "   TextureFilename { \"" +
         picture +
         "\"; } }\n"
         "  Material { 0.0;0.0;1.0;0.5;; 0.0; 0.0;0.0;0.0;; 0.0;0.5;0.0;; }\n"
         " }\n"
         "}\n";
}

// A PNG file of one colour, `size` texels square.
std::string PngOf(uint32_t argb, UINT size) {
  IDirect3DTexture9* texture = engine_test::MakeSolidTexture(Engine.Device, argb, size);
  ID3DXBuffer* file = nullptr;
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_PNG, texture, nullptr), D3D_OK);
  texture->Release();
  if (file == nullptr) return {};
  std::string bytes(static_cast<const char*>(file->GetBufferPointer()), file->GetBufferSize());
  file->Release();
  return bytes;
}

void ExpectMatrixNear(const D3DMATRIX& a, const D3DMATRIX& b) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], 1e-4f) << r << "," << c;
  }
}

D3DXMATRIX At(D3DXMATRIX m, float x, float y, float z) {
  m._41 = x;
  m._42 = y;
  m._43 = z;
  return m;
}

class MeshCreateTest : public EngineTest {
 protected:
  // A 2 x 2 x 2 box glowing red at (0, 0, 10), straight ahead of the eye.
  static Mesh* RedBox() {
    Mesh* mesh = CreateBoxMesh(2, 2, 2);
    EXPECT_NE(mesh, nullptr);
    EXPECT_EQ(SetMeshMaterial(mesh, -1, 0xFF000000, 0, 0, 0xFFFF0000, 0), 1);
    EXPECT_EQ(PositionMesh(mesh, 0, 0, 10), 1);
    return mesh;
  }
  static uint32_t CentrePixel() {
    LookAlongZ();
    Engine.ClearColour = 0xFF000000;
    RenderWorld();
    const uint32_t pixel = ReadBackBuffer().At(320, 320);
    Flip();
    return pixel;
  }
  TempDir dir_;
};

TEST_F(MeshCreateTest, XFileGivesOneTexturedSubsetPerMaterial) {
  dir_.Write("green.png", PngOf(0xFF00FF00, 8));
  const std::string file = dir_.Write("quad.x", QuadFile("green.png"));
  const int32_t textures = Engine.TextureList.Count();
  Mesh* mesh = LoadMesh(file.c_str());
  ASSERT_NE(mesh, nullptr) << Engine.LastErrorText;
  EXPECT_TRUE(Engine.MeshList.Contains(mesh));
  EXPECT_EQ(mesh->D3DMesh->GetNumFaces(), 2u);
  // The file has no normals; the mesh gets them so lights reach it.
  EXPECT_NE(mesh->D3DMesh->GetFVF() & D3DFVF_NORMAL, 0u);
  EXPECT_EQ(MeshSubsetCount(mesh), 2);
  ASSERT_EQ(mesh->MaterialRefs.Count(), 2);
  EXPECT_EQ(Engine.TextureList.Count(), textures + 2);

  Texture* first = mesh->MaterialRefs.Select(0)->TextureHandle;
  Texture* second = mesh->MaterialRefs.Select(1)->TextureHandle;
  ASSERT_TRUE(Engine.TextureList.Contains(first));
  ASSERT_TRUE(Engine.TextureList.Contains(second));
  EXPECT_EQ(first->Material.Diffuse.r, 1.0f);
  EXPECT_EQ(first->Material.Power, 5.0f);
  EXPECT_EQ(first->Material.Specular.g, 0.25f);
  ASSERT_NE(first->D3DTexture, nullptr);
  EXPECT_EQ(first->Width, 8);
  EXPECT_EQ(second->D3DTexture, nullptr);
  EXPECT_EQ(second->Material.Diffuse.a, 0.5f);
  EXPECT_EQ(second->Material.Emissive.g, 0.5f);
  // The pass draws per subset while the references' current entry has a texture record.
  ASSERT_NE(mesh->MaterialRefs.Current(), nullptr);
  EXPECT_NE(mesh->MaterialRefs.Current()->TextureHandle, nullptr);

  // Bounds from the vertices: a sphere around the square's centre.
  EXPECT_EQ(mesh->BoundsKind, 1);
  EXPECT_NEAR(mesh->SphereRadius, std::sqrt(2.0f), 1e-5f);
  EXPECT_NEAR(mesh->SphereOffset[0], 0.0f, 1e-6f);
  ASSERT_EQ(SetMeshBoundsKind(mesh, 2), 1);
  EXPECT_NEAR(mesh->BoxHalfSize[0], 1.0f, 1e-6f);
  EXPECT_NEAR(mesh->BoxHalfSize[2], 0.0f, 1e-6f);

  // A subset's material belongs to that subset alone.
  ASSERT_EQ(SetMeshMaterial(mesh, 1, 0xFF808080, 0, 0, 0, 2.0f), 1);
  EXPECT_EQ(mesh->MaterialRefs.Select(1)->TextureHandle, second);
  EXPECT_NEAR(second->Material.Diffuse.r, 128.0f / 255.0f, 1e-6f);
  EXPECT_EQ(first->Material.Diffuse.g, 0.0f);

  // Release takes the subset records with it.
  ID3DXMesh* d3dMesh = mesh->D3DMesh;
  d3dMesh->AddRef();
  ASSERT_EQ(ReleaseMesh(mesh), 1);
  EXPECT_EQ(Engine.TextureList.Count(), textures);
  EXPECT_EQ(d3dMesh->Release(), 0u);
  EXPECT_EQ(Engine.MeshList.Count(), 0);
}

TEST_F(MeshCreateTest, AMissingPictureLeavesItsSubsetUntextured) {
  const std::string file = dir_.Write("quad.x", QuadFile("absent.png"));
  Engine.LastError = 1;
  Mesh* mesh = LoadMesh(file.c_str());
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(Engine.LastError, 18);
  EXPECT_NE(Engine.LastErrorText.find("absent.png"), std::string::npos);
  EXPECT_EQ(mesh->MaterialRefs.Select(0)->TextureHandle->D3DTexture, nullptr);
}

TEST_F(MeshCreateTest, FilesThatCannotBeLoadedChangeNothing) {
  Mesh* kept = CreateTeapotMesh();
  ASSERT_NE(kept, nullptr);
  const std::vector<std::string> files = {
      dir_.Path("missing.x"),
      dir_.Path(""),  // the directory itself
      dir_.Write("empty.x", ""),
      dir_.Write("text.x", "this is no .x file"),
      dir_.Write("cut.x", "xof 0303txt 0032\nMesh Cut {\n 4; -1.0;-1.0;0.0;, 1.0;"),
      dir_.Write("faces.x",
                 "xof 0303txt 0032\nMesh Bad { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, "
                 "0.0;1.0;0.0;; 1; 3; 0,1,7;; }\n"),
      dir_.Write("header.x", "xof 0303txt 0032\nHeader { 1; 0; 1; }\n"),
  };
  const int32_t textures = Engine.TextureList.Count();
  for (const std::string& file : files) {
    Engine.LastError = 1;
    EXPECT_EQ(LoadMesh(file.c_str()), nullptr) << file;
    EXPECT_EQ(Engine.LastError, 20) << file;
    EXPECT_NE(Engine.LastErrorText.find(file), std::string::npos) << Engine.LastErrorText;
  }
  EXPECT_EQ(LoadMesh(nullptr), nullptr);
  EXPECT_EQ(Engine.LastError, 20);
  EXPECT_EQ(Engine.MeshList.Count(), 1);
  EXPECT_TRUE(Engine.MeshList.Contains(kept));
  EXPECT_EQ(Engine.TextureList.Count(), textures);
}

TEST_F(MeshCreateTest, ShapesAreMadeAndBadArgumentsRefused) {
  const float nan = std::nanf("");
  const std::vector<std::function<Mesh*()>> good = {
      [] { return CreateBoxMesh(1, 2, 3); },
      [] { return CreateSphereMesh(1, 2, 2); },
      [] { return CreateCylinderMesh(1, 0, 2, 2, 1); },
      [] { return CreateTorusMesh(0.25f, 1, 3, 3); },
      [] { return CreateTeapotMesh(); },
      [] { return CreatePolygonMesh(1, 3); },
      [] { return CreatePlaneMesh(1, 1, 1, 1); },
  };
  for (size_t i = 0; i < good.size(); ++i) {
    Mesh* mesh = good[i]();
    ASSERT_NE(mesh, nullptr) << i;
    EXPECT_GT(mesh->D3DMesh->GetNumFaces(), 0u) << i;
    EXPECT_EQ(mesh->BoundsKind, 1) << i;
    EXPECT_GT(mesh->SphereRadius, 0.0f) << i;
  }
  const std::vector<std::function<Mesh*()>> bad = {
      [] { return CreateBoxMesh(-1, 1, 1); },
      [=] { return CreateBoxMesh(1, nan, 1); },
      [] { return CreateBoxMesh(1, 1, INFINITY); },
      [] { return CreateSphereMesh(1, 1, 2); },
      [] { return CreateSphereMesh(1, 2, 1); },
      [] { return CreateSphereMesh(1, kMaxShapeSegments + 1, 2); },
      [] { return CreateSphereMesh(-1, 8, 8); },
      [] { return CreateCylinderMesh(1, 1, 1, 1, 1); },
      [] { return CreateCylinderMesh(1, 1, 1, 8, 0); },
      [] { return CreateCylinderMesh(1, -1, 1, 8, 1); },
      [] { return CreateTorusMesh(1, 2, 2, 8); },
      [] { return CreateTorusMesh(1, 2, 8, -5); },
      [] { return CreatePolygonMesh(1, 2); },
      [=] { return CreatePolygonMesh(nan, 5); },
      [] { return CreatePlaneMesh(1, 1, 0, 1); },
      [] { return CreatePlaneMesh(1, 1, kMaxShapeSegments + 1, 1); },
      [] { return CreatePlaneMesh(1, -1, 4, 1); },
      [=] { return CreatePlaneMesh(1, 1, 4, nan); },
  };
  const int32_t errorBefore = Engine.LastError;
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(bad[i](), nullptr) << i;
  EXPECT_EQ(Engine.MeshList.Count(), static_cast<int32_t>(good.size()));
  EXPECT_EQ(Engine.LastError, errorBefore);

  // The floor: a grid facing up whose texture coordinates run to the repeat count.
  Mesh* floor = CreatePlaneMesh(24, 12, 8, 6);
  ASSERT_NE(floor, nullptr);
  ID3DXMesh* grid = floor->D3DMesh;
  ASSERT_EQ(grid->GetNumVertices(), 81u);
  ASSERT_EQ(grid->GetNumFaces(), 128u);
  ASSERT_EQ(grid->GetFVF(), static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
  EXPECT_NEAR(floor->SphereRadius, std::sqrt(12.0f * 12.0f + 6.0f * 6.0f), 1e-4f);
  struct Vertex {
    float x, y, z, nx, ny, nz, u, v;
  };
  void* data = nullptr;
  ASSERT_EQ(grid->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  const auto* v = static_cast<const Vertex*>(data);
  EXPECT_EQ(v[0].x, -12.0f);
  EXPECT_EQ(v[0].z, 6.0f);
  EXPECT_EQ(v[80].x, 12.0f);
  EXPECT_EQ(v[80].u, 6.0f);
  EXPECT_EQ(v[80].v, 6.0f);
  EXPECT_EQ(v[40].ny, 1.0f);
  grid->UnlockVertexBuffer();
  // Seen from above, every triangle is wound clockwise: Direct3D's front.
  uint16_t* indices = nullptr;
  ASSERT_EQ(grid->LockIndexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&indices)), D3D_OK);
  ASSERT_EQ(grid->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  v = static_cast<const Vertex*>(data);
  for (DWORD face = 0; face < 128; ++face) {
    const Vertex& a = v[indices[3 * face]];
    const Vertex& b = v[indices[3 * face + 1]];
    const Vertex& c = v[indices[3 * face + 2]];
    // Looking down -y with +z up the screen, clockwise means a negative x-z cross product.
    EXPECT_LT((b.x - a.x) * (c.z - a.z) - (b.z - a.z) * (c.x - a.x), 0.0f) << face;
  }
  grid->UnlockVertexBuffer();
  grid->UnlockIndexBuffer();
}

TEST_F(MeshCreateTest, PlacementComposesScaleRotationAndPositionAndKeepsEachPart) {
  Mesh* mesh = CreateBoxMesh(2, 4, 6);
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(PositionMesh(mesh, 1, 2, 3), 1);
  ASSERT_EQ(RotateMesh(mesh, 30, 20, 10), 1);
  ASSERT_EQ(ScaleMesh(mesh, 2, 3, 4), 1);
  D3DXMATRIX scale, rotation, expected;
  D3DXMatrixScaling(&scale, 2, 3, 4);
  D3DXMatrixRotationYawPitchRoll(&rotation, 30 * 0.017453f, 20 * 0.017453f, 10 * 0.017453f);
  D3DXMatrixMultiply(&expected, &scale, &rotation);
  ExpectMatrixNear(mesh->World, At(expected, 1, 2, 3));
  EXPECT_EQ(mesh->RotationAngles[0], 30.0f);

  // Turning again keeps the scale; scaling again keeps the angles.
  ASSERT_EQ(RotateMesh(mesh, 0, 0, 0), 1);
  ExpectMatrixNear(mesh->World, At(scale, 1, 2, 3));
  ASSERT_EQ(RotateMesh(mesh, 30, 20, 10), 1);
  ASSERT_EQ(ScaleMesh(mesh, 1, 1, 1), 1);
  ExpectMatrixNear(mesh->World, At(rotation, 1, 2, 3));

  // A box turned a quarter about y swaps its x and z extents.
  ASSERT_EQ(SetMeshBoundsKind(mesh, 2), 1);
  ASSERT_EQ(RotateMesh(mesh, 90, 0, 0), 1);
  EXPECT_NEAR(mesh->BoxHalfSize[0], 3.0f, 1e-3f);
  EXPECT_NEAR(mesh->BoxHalfSize[1], 2.0f, 1e-3f);
  EXPECT_NEAR(mesh->BoxHalfSize[2], 1.0f, 1e-3f);
  ASSERT_EQ(ScaleMesh(mesh, 2, 2, 2), 1);
  EXPECT_NEAR(mesh->BoxHalfSize[0], 6.0f, 1e-3f);
  EXPECT_NEAR(mesh->SphereRadius, 2.0f * std::sqrt(14.0f), 1e-3f);

  // Refused placements change nothing.
  const D3DMATRIX before = mesh->World;
  EXPECT_EQ(ScaleMesh(mesh, 0, 1, 1), 0);
  EXPECT_EQ(ScaleMesh(mesh, 1, std::nanf(""), 1), 0);
  EXPECT_EQ(RotateMesh(mesh, INFINITY, 0, 0), 0);
  EXPECT_EQ(PositionMesh(mesh, 0, 0, std::nanf("")), 0);
  EXPECT_EQ(std::memcmp(&before, &mesh->World, sizeof(before)), 0);
}

TEST_F(MeshCreateTest, CullingUsesBoundsThatTurnWithTheMeshAndHiddenMeshesAreSkipped) {
  Mesh* mesh = RedBox();
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ((CentrePixel() >> 16) & 0xFF, 0xFFu);
  // Bounds of our own, 20 units behind the box: the mesh counts as behind the eye.
  ASSERT_EQ(SetMeshBoundingSphere(mesh, 0, 0, -20, 1), 1);
  ASSERT_EQ(SetFrustumCulling(1), 1);
  EXPECT_EQ(CentrePixel(), 0u);
  ASSERT_EQ(SetFrustumCulling(0), 1);
  EXPECT_EQ(Engine.FrustumCulling, 0);
  EXPECT_NE(CentrePixel(), 0u);
  // Turned half round, the bounds lie 20 units beyond the box, inside the frustum.
  SetFrustumCulling(1);
  ASSERT_EQ(RotateMesh(mesh, 180, 0, 0), 1);
  EXPECT_NEAR(mesh->SphereOffset[2], 20.0f, 1e-3f);
  EXPECT_NE(CentrePixel(), 0u);
  // A box of our own, off to the side: culled; without bounds: never culled.
  ASSERT_EQ(SetMeshBoundingBox(mesh, 100, 0, 0, 1, 1, 1), 1);
  EXPECT_EQ(CentrePixel(), 0u);
  ASSERT_EQ(SetMeshBoundsKind(mesh, 0), 1);
  EXPECT_NE(CentrePixel(), 0u);
  ASSERT_EQ(HideMesh(mesh), 1);
  EXPECT_EQ(CentrePixel(), 0u);
  ASSERT_EQ(ShowMesh(mesh), 1);
  EXPECT_NE(CentrePixel(), 0u);
  EXPECT_EQ(SetMeshBoundsKind(mesh, 3), 0);
  EXPECT_EQ(SetMeshBoundingSphere(mesh, 0, 0, 0, -1), 0);
  EXPECT_EQ(SetMeshBoundingBox(mesh, 0, 0, 0, 1, -1, 1), 0);
  EXPECT_EQ(mesh->BoundsKind, 0);
}

TEST_F(MeshCreateTest, SubsetTexturesAndMaterialsReachTheScreen) {
  Mesh* mesh = RedBox();
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(MeshSubsetCount(mesh), 1);
  ASSERT_EQ(mesh->MaterialRefs.Count(), 0);
  // The mesh's own material, white light of its own, and a green picture on subset 0.
  ASSERT_EQ(SetMeshMaterial(mesh, -1, 0xFF000000, 0, 0, 0xFFFFFFFF, 0), 1);
  Texture* green = CreateTexture(4, 4, 0xFF00FF00);
  const int32_t textures = Engine.TextureList.Count();
  ASSERT_EQ(SetMeshTexture(mesh, 0, green), 1);
  ASSERT_EQ(mesh->MaterialRefs.Count(), 1);
  Texture* subset = mesh->MaterialRefs.Select(0)->TextureHandle;
  EXPECT_NE(subset, green);  // the subset's record of its own, holding the same picture
  EXPECT_EQ(subset->D3DTexture, green->D3DTexture);
  EXPECT_EQ(Engine.TextureList.Count(), textures + 1);
  EXPECT_EQ(CentrePixel(), 0x00FF00u);
  // The subset's material darkens the picture; the texture record's own material is untouched.
  ASSERT_EQ(SetMeshMaterial(mesh, 0, 0xFF000000, 0, 0, 0xFF808080, 0), 1);
  EXPECT_EQ(green->Material.Emissive.r, 1.0f);
  const uint32_t darker = CentrePixel();
  EXPECT_NEAR(static_cast<int>((darker >> 8) & 0xFF), 0x80, 2);
  // Untextured again: the subset's material alone.
  ASSERT_EQ(SetMeshTexture(mesh, 0, nullptr), 1);
  EXPECT_EQ(subset->D3DTexture, nullptr);
  EXPECT_NEAR(static_cast<int>(CentrePixel() & 0xFF), 0x80, 2);

  Texture foreign{};
  EXPECT_EQ(SetMeshTexture(mesh, 1, green), 0);
  EXPECT_EQ(SetMeshTexture(mesh, -1, green), 0);
  EXPECT_EQ(SetMeshTexture(mesh, 0, &foreign), 0);
  EXPECT_EQ(SetMeshMaterial(mesh, 1, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(SetMeshMaterial(mesh, -2, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(SetMeshMaterial(mesh, 0, 0, 0, 0, 0, -1.0f), 0);
  EXPECT_EQ(SetMeshBumpTexture(mesh, &foreign), 0);
  ASSERT_EQ(SetMeshBumpTexture(mesh, green), 1);
  EXPECT_EQ(mesh->BumpTexture, green);
  // The texture handed in stays with the application.
  ASSERT_EQ(ReleaseMesh(mesh), 1);
  EXPECT_TRUE(Engine.TextureList.Contains(green));
  EXPECT_EQ(Engine.TextureList.Count(), textures);
}

TEST_F(MeshCreateTest, ParentsRefuseCyclesAndReleaseDetachesChildren) {
  Mesh* a = CreateBoxMesh(1, 1, 1);
  Mesh* b = CreateBoxMesh(1, 1, 1);
  Mesh* c = CreateBoxMesh(1, 1, 1);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(AttachMesh(b, a, 0), 1);
  ASSERT_EQ(AttachMesh(c, b, 1), 1);
  EXPECT_EQ(c->Parent, b);
  EXPECT_EQ(c->InheritPositionOnly, 1);
  EXPECT_EQ(AttachMesh(a, c, 0), 0);  // a -> c -> b -> a
  EXPECT_EQ(AttachMesh(a, a, 0), 0);
  Mesh foreign{};
  EXPECT_EQ(AttachMesh(a, &foreign, 0), 0);
  EXPECT_EQ(a->Parent, nullptr);
  ASSERT_EQ(SetMeshOffsetAngles(a, 10, 20, 30), 1);
  EXPECT_EQ(a->OffsetAngles[2], 30.0f);

  ASSERT_EQ(ReleaseMesh(b), 1);
  EXPECT_EQ(c->Parent, nullptr);
  EXPECT_EQ(AttachMesh(c, b, 0), 0);
  ASSERT_EQ(AttachMesh(c, a, 0), 1);
  ASSERT_EQ(AttachMesh(c, nullptr, 0), 1);
  EXPECT_EQ(c->Parent, nullptr);
  // A child draws after its parent has gone.
  ASSERT_EQ(AttachMesh(c, a, 0), 1);
  ASSERT_EQ(ReleaseMesh(a), 1);
  LookAlongZ();
  RenderWorld();
  Flip();
  EXPECT_EQ(Engine.MeshList.Count(), 1);
}

TEST_F(MeshCreateTest, HandlesThatAreNotListedAreRefused) {
  Mesh* kept = CreateBoxMesh(1, 1, 1);
  Mesh* gone = CreateBoxMesh(1, 1, 1);
  ASSERT_EQ(ReleaseMesh(gone), 1);
  Mesh foreign{};
  for (Mesh* handle : {gone, &foreign, static_cast<Mesh*>(nullptr)}) {
    EXPECT_EQ(PositionMesh(handle, 1, 1, 1), 0);
    EXPECT_EQ(RotateMesh(handle, 1, 1, 1), 0);
    EXPECT_EQ(ScaleMesh(handle, 2, 2, 2), 0);
    EXPECT_EQ(SetMeshOffsetAngles(handle, 1, 1, 1), 0);
    EXPECT_EQ(AttachMesh(handle, kept, 0), 0);
    EXPECT_EQ(HideMesh(handle), 0);
    EXPECT_EQ(ShowMesh(handle), 0);
    EXPECT_EQ(SetMeshBlendMode(handle, 1, 0), 0);
    EXPECT_EQ(SetMeshBumpTexture(handle, nullptr), 0);
    EXPECT_EQ(SetMeshTexture(handle, 0, nullptr), 0);
    EXPECT_EQ(SetMeshMaterial(handle, -1, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(MeshSubsetCount(handle), 0);
    EXPECT_EQ(SetMeshBoundsKind(handle, 0), 0);
    EXPECT_EQ(SetMeshBoundingSphere(handle, 0, 0, 0, 1), 0);
    EXPECT_EQ(SetMeshBoundingBox(handle, 0, 0, 0, 1, 1, 1), 0);
    EXPECT_EQ(ReleaseMesh(handle), 0);
  }
  EXPECT_EQ(foreign.World._41, 0.0f);
  EXPECT_EQ(foreign.Hidden, 0);
  EXPECT_EQ(Engine.MeshList.Count(), 1);

  ASSERT_EQ(SetMeshBlendMode(kept, 3, 0x80FFFFFF), 1);
  EXPECT_EQ(SetMeshBlendMode(kept, 4, 0), 0);
  EXPECT_EQ(SetMeshBlendMode(kept, -1, 0), 0);
  EXPECT_EQ(kept->MeshBlendMode, 3);
}

TEST_F(MeshCreateTest, MeshesDrawAfterAResetAndGoAtShutdown) {
  dir_.Write("green.png", PngOf(0xFF00FF00, 4));
  Mesh* loaded = LoadMesh(dir_.Write("quad.x", QuadFile("green.png")).c_str());
  ASSERT_NE(loaded, nullptr);
  Mesh* box = RedBox();
  ASSERT_NE(box, nullptr);
  ASSERT_NE(CentrePixel(), 0u);
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ((CentrePixel() >> 16) & 0xFF, 0xFFu);

  ID3DXMesh* d3dMesh = loaded->D3DMesh;
  IDirect3DTexture9* picture = loaded->MaterialRefs.Select(0)->TextureHandle->D3DTexture;
  d3dMesh->AddRef();
  picture->AddRef();
  EngineShutdown();
  EXPECT_EQ(d3dMesh->Release(), 0u);
  EXPECT_EQ(picture->Release(), 0u);
}

}  // namespace
