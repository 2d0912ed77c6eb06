// The mesh pass: which meshes are drawn, their world transforms below parents, materials and
// blend modes by pixels, DOT3 bump mapping, and view-frustum culling.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::BoundTexture;
using engine_test::EngineTest;
using engine_test::FloatBits;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;
using engine_test::RenderState;
using engine_test::StageState;
using engine_test::WorldTransform;

struct QuadVertex {
  float x, y, z;
  float nx, ny, nz;
  float u, v;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// Screen columns of the three quads' centres and the row through them (see ThreeQuads).
constexpr int kQuadColumn[3] = {192, 320, 448};
constexpr int kQuadRow = 320;

class MeshPassTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    LookAlongZ();
    Engine.ClearColour = 0xFF000000;
  }

  // A 2 x 2 x 2 box.
  static ID3DXMesh* Box() {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateBox(Engine.Device, 2, 2, 2, &mesh, nullptr), D3D_OK);
    return mesh;
  }

  // Three 2 x 2 quads side by side in the plane z = 5, facing the eye, subsets 0, 1 and 2 from
  // left to right: on screen they are 128 pixels wide, centred at kQuadColumn, kQuadRow.
  static ID3DXMesh* ThreeQuads() {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(6, 12, D3DXMESH_MANAGED, kQuadFvf, Engine.Device, &mesh), D3D_OK);
    if (mesh == nullptr) return nullptr;
    void* data = nullptr;
    mesh->LockVertexBuffer(0, &data);
    auto* v = static_cast<QuadVertex*>(data);
    for (int k = 0; k < 3; ++k) {
      const float left = -3.0f + 2.0f * static_cast<float>(k), right = left + 2.0f;
      v[4 * k + 0] = {left, 1, 5, 0, 0, -1, 0, 0};
      v[4 * k + 1] = {right, 1, 5, 0, 0, -1, 1, 0};
      v[4 * k + 2] = {left, -1, 5, 0, 0, -1, 0, 1};
      v[4 * k + 3] = {right, -1, 5, 0, 0, -1, 1, 1};
    }
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(0, &data);
    auto* index = static_cast<uint16_t*>(data);
    for (uint16_t k = 0; k < 3; ++k) {
      const uint16_t b = static_cast<uint16_t>(4 * k);
      const uint16_t quad[6] = {b, static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 3),
                                b, static_cast<uint16_t>(b + 3), static_cast<uint16_t>(b + 2)};
      std::memcpy(index + 6 * k, quad, sizeof(quad));
    }
    mesh->UnlockIndexBuffer();
    DWORD* attributes = nullptr;
    mesh->LockAttributeBuffer(0, &attributes);
    for (DWORD f = 0; f < 6; ++f) attributes[f] = f / 2;
    mesh->UnlockAttributeBuffer();
    return mesh;
  }

  // Empties MeshList, releasing the geometry the tests gave its records.
  static void ClearMeshes() {
    Engine.MeshList.ForEach([](Mesh& mesh) { SafeRelease(mesh.D3DMesh); });
    Engine.MeshList.Clear();
  }

  static Mesh* AddMesh(ID3DXMesh* geometry, float x = 0, float y = 0, float z = 0) {
    Engine.MeshList.Last();
    Mesh* mesh = Engine.MeshList.Add();
    mesh->D3DMesh = geometry;
    D3DXMatrixTranslation(reinterpret_cast<D3DXMATRIX*>(&mesh->World), x, y, z);
    return mesh;
  }

  // A texture of one colour in TextureList, as the engine creates it.
  static Texture* SolidTexture(uint32_t argb) { return CreateTexture(4, 4, argb); }

  static void AddMaterial(Mesh* mesh, Texture* texture) {
    mesh->MaterialRefs.Last();
    mesh->MaterialRefs.Add()->TextureHandle = texture;
  }

  // A material that shows `rgb` without any light, with alpha `alpha`.
  static D3DMATERIAL9 Glowing(float r, float g, float b, float alpha = 1.0f) {
    D3DMATERIAL9 m{};
    m.Diffuse = {0, 0, 0, alpha};
    m.Emissive = {r, g, b, 1};
    return m;
  }

  static BackBufferImage Frame() {
    RenderWorld();
    BackBufferImage image = ReadBackBuffer();
    Flip();
    return image;
  }

  // Runs the pass alone inside a scene.
  static void MeshPass() {
    ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
    DrawMeshes();
    Engine.Device->EndScene();
  }

  // Sets states the mesh pass would change to values it never uses, so that any change shows.
  static void DisturbState() {
    IDirect3DDevice9* d = Engine.Device;
    d->SetRenderState(D3DRS_COLORVERTEX, 7);
    d->SetRenderState(D3DRS_SPECULARENABLE, 7);
    d->SetRenderState(D3DRS_ZENABLE, 7);
    d->SetRenderState(D3DRS_CULLMODE, 7);
    D3DXMATRIX marker;
    D3DXMatrixScaling(&marker, 3, 3, 3);
    d->SetTransform(D3DTS_WORLD, &marker);
  }
  static bool StateUndisturbed() {
    return RenderState(D3DRS_COLORVERTEX) == 7 && RenderState(D3DRS_SPECULARENABLE) == 7 &&
           RenderState(D3DRS_ZENABLE) == 7 && RenderState(D3DRS_CULLMODE) == 7 &&
           WorldTransform()._11 == 3.0f;
  }
};

// --- What is drawn -------------------------------------------------------------------------------

TEST_F(MeshPassTest, EmptyListAndSkippedMeshesSetNoState) {
  DisturbState();
  MeshPass();
  EXPECT_TRUE(StateUndisturbed());

  AddMesh(nullptr, 0, 0, 5);  // no geometry
  Mesh* hidden = AddMesh(Box(), 0, 0, 5);
  hidden->Hidden = 1;
  MeshPass();
  EXPECT_TRUE(StateUndisturbed());

  // A record outside MeshList is not drawn by DrawMesh.
  Mesh stranger{};
  stranger.D3DMesh = hidden->D3DMesh;
  Engine.Device->BeginScene();
  DrawMesh(&stranger);
  DrawMesh(nullptr);
  Engine.Device->EndScene();
  EXPECT_TRUE(StateUndisturbed());
}

TEST_F(MeshPassTest, HiddenOneSkipsAndOtherValuesDraw) {
  Mesh* mesh = AddMesh(Box(), 0, 0, 5);
  mesh->OwnMaterial = Glowing(0, 1, 0);
  mesh->Hidden = 1;
  EXPECT_EQ(Frame().At(320, 320), 0x000000u);
  mesh->Hidden = 2;
  EXPECT_EQ(Frame().At(320, 320), 0x00FF00u);
  mesh->Hidden = 0;
  EXPECT_EQ(Frame().At(320, 320), 0x00FF00u);
}

TEST_F(MeshPassTest, OwnMaterialPathStates) {
  Mesh* mesh = AddMesh(Box(), 0, 0, 5);
  mesh->OwnMaterial = Glowing(1, 0, 0);
  mesh->NoVertexColour = 1;
  Engine.Device->SetRenderState(D3DRS_ZENABLE, FALSE);
  // A texture left bound by an earlier pass would tint the mesh.
  IDirect3DTexture9* stray = engine_test::MakeSolidTexture(Engine.Device, 0xFF00FF00);
  Engine.Device->SetTexture(0, stray);
  EXPECT_EQ(Frame().At(320, 320), 0xFF0000u);
  // The states as the mesh pass leaves them (the primitive-buffer pass after it changes some).
  Engine.Device->SetRenderState(D3DRS_ZENABLE, FALSE);
  Engine.Device->SetTexture(0, stray);
  stray->Release();
  MeshPass();
  EXPECT_EQ(RenderState(D3DRS_COLORVERTEX), 0u);
  EXPECT_EQ(RenderState(D3DRS_SPECULARENABLE), 0u);  // power 0
  EXPECT_EQ(RenderState(D3DRS_ZENABLE), 1u);
  EXPECT_EQ(BoundTexture(0), nullptr);
  D3DMATERIAL9 material{};
  Engine.Device->GetMaterial(&material);
  EXPECT_EQ(std::memcmp(&material, &mesh->OwnMaterial, sizeof(material)), 0);

  // Any bit of the power switches highlights on, -0.0 included; vertex colours come back.
  mesh->NoVertexColour = 0;
  mesh->OwnMaterial.Power = -0.0f;
  MeshPass();
  EXPECT_EQ(RenderState(D3DRS_SPECULARENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_COLORVERTEX), 1u);
}

TEST_F(MeshPassTest, MeshWithAnEffectSkipsTheFixedFunctionPaths) {
  Mesh* mesh = AddMesh(Box(), 0, 0, 5);
  mesh->OwnMaterial = Glowing(1, 1, 1);
  Engine.EffectList.Last();
  mesh->MeshEffect = Engine.EffectList.Add();  // a record without an ID3DXEffect draws nothing
  EXPECT_EQ(Frame().At(320, 320), 0x000000u);
  EXPECT_EQ(Engine.CurrentEffect, mesh->MeshEffect);
  // Its world transform is in place for the effect.
  EXPECT_EQ(WorldTransform()._43, 5.0f);
}

// --- World transforms ----------------------------------------------------------------------------

// Degrees become radians by 0.017453, so a quarter turn leaves cos = 2.6e-5 behind.
const float kQuarterTurnCos = std::cos(90.0f * 0.017453f);
const float kQuarterTurnSin = std::sin(90.0f * 0.017453f);

TEST_F(MeshPassTest, ChildBelowARotatedParent) {
  Mesh* parent = AddMesh(nullptr, 10, 0, 0);
  parent->RotationAngles[0] = 90.0f;
  // The parent's own scale never reaches the child.
  parent->World._11 = parent->World._22 = parent->World._33 = 5.0f;
  Mesh* child = AddMesh(Box(), 1, 0, 0);
  child->Parent = parent;
  MeshPass();
  D3DMATRIX w = WorldTransform();
  EXPECT_NEAR(w._41, 10.0f + kQuarterTurnCos, 2e-6f);
  EXPECT_NEAR(w._41, 10.0000263f, 2e-6f);
  EXPECT_FLOAT_EQ(w._42, 0.0f);
  EXPECT_NEAR(w._43, -kQuarterTurnSin, 1e-6f);
  // The child turned with the parent: its x axis now points along -z.
  EXPECT_NEAR(w._13, -1.0f, 1e-4f);
  EXPECT_NEAR(w._31, 1.0f, 1e-4f);

  // Taking the position only: the same place, the child's own orientation.
  child->InheritPositionOnly = 1;
  MeshPass();
  w = WorldTransform();
  EXPECT_NEAR(w._41, 10.0f, 1e-4f);
  EXPECT_NEAR(w._43, -1.0f, 1e-4f);
  EXPECT_EQ(w._11, 1.0f);
  EXPECT_EQ(w._13, 0.0f);
  EXPECT_EQ(w._33, 1.0f);
}

TEST_F(MeshPassTest, ChainComposesOffsetThenRotationUpToTheRoot) {
  // The offset turns first (pitch up), then the rotation (yaw): (0, 1, 0) -> (0, 0, 1) ->
  // (1, 0, 0). Then the grandparent's quarter yaw: (1 + 2, 0, 0) -> (0, 0, -3), plus (0, 0, 5).
  Mesh* grandparent = AddMesh(nullptr, 0, 0, 5);
  grandparent->RotationAngles[0] = 90.0f;
  Mesh* parent = AddMesh(nullptr, 2, 0, 0);
  parent->RotationAngles[0] = 90.0f;
  parent->OffsetAngles[1] = 90.0f;
  parent->Parent = grandparent;
  Mesh* child = AddMesh(Box(), 0, 1, 0);
  child->Parent = parent;
  MeshPass();
  const D3DMATRIX w = WorldTransform();
  EXPECT_NEAR(w._41, 0.0f, 1e-3f);
  EXPECT_NEAR(w._42, 0.0f, 1e-3f);
  EXPECT_NEAR(w._43, 2.0f, 1e-3f);
}

// A mesh that is its own parent is drawn as if it hung below a chain of 256 copies of itself.
TEST_F(MeshPassTest, CyclicOrForeignParentsEndTheChain) {
  Mesh* looped = AddMesh(Box(), 1, 0, 0);
  looped->Parent = looped;
  looped->RotationAngles[0] = 1.0f;
  const auto start = std::chrono::steady_clock::now();
  MeshPass();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  const D3DMATRIX cycle = WorldTransform();
  EXPECT_TRUE(std::isfinite(cycle._41) && std::isfinite(cycle._43));

  ClearMeshes();
  Mesh* below = AddMesh(nullptr, 1, 0, 0);
  for (int link = 0; link < 256; ++link) {
    Mesh* parent = AddMesh(nullptr, 1, 0, 0);
    parent->RotationAngles[0] = 1.0f;
    below->Parent = parent;
    below = parent;
  }
  Mesh* chained = Engine.MeshList.First();
  chained->D3DMesh = Box();
  MeshPass();
  const D3DMATRIX chain = WorldTransform();
  EXPECT_NEAR(chain._41, cycle._41, 1e-3f);
  EXPECT_NEAR(chain._43, cycle._43, 1e-3f);
  EXPECT_NEAR(chain._13, cycle._13, 1e-5f);
  EXPECT_GT(std::hypot(chain._41, chain._43), 2.0f);  // the links did add up

  // A parent that is not in MeshList is not followed.
  ClearMeshes();
  Mesh outsider{};
  outsider.RotationAngles[0] = 90.0f;
  outsider.World._41 = 50.0f;
  Mesh* child = AddMesh(Box(), 1, 2, 3);
  child->Parent = &outsider;
  MeshPass();
  EXPECT_EQ(WorldTransform()._41, 1.0f);
  EXPECT_EQ(WorldTransform()._43, 3.0f);
}

// --- Materials and blend modes -------------------------------------------------------------------

TEST_F(MeshPassTest, EachMaterialReferenceDrawsItsSubset) {
  Mesh* mesh = AddMesh(ThreeQuads());
  Texture* red = SolidTexture(0xFFFF0000);
  Texture* blue = SolidTexture(0xFF0000FF);
  mesh->OwnMaterial = Glowing(0, 1, 0);
  AddMaterial(mesh, red);
  AddMaterial(mesh, nullptr);  // a gap in the table: the mesh's own material, untextured
  AddMaterial(mesh, blue);
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.At(kQuadColumn[0], kQuadRow), 0xFF0000u);
  EXPECT_EQ(image.At(kQuadColumn[1], kQuadRow), 0x00FF00u);
  EXPECT_EQ(image.At(kQuadColumn[2], kQuadRow), 0x0000FFu);
  EXPECT_EQ(BoundTexture(0), blue->D3DTexture);
  D3DMATERIAL9 material{};
  Engine.Device->GetMaterial(&material);
  EXPECT_EQ(std::memcmp(&material, &blue->Material, sizeof(material)), 0);
  EXPECT_EQ(RenderState(D3DRS_SPECULARENABLE), 0u);
}

TEST_F(MeshPassTest, ACurrentNullReferenceMeansTheOwnMaterialOnSubsetZero) {
  Mesh* mesh = AddMesh(ThreeQuads());
  mesh->OwnMaterial = Glowing(0, 1, 0);
  AddMaterial(mesh, SolidTexture(0xFFFF0000));
  AddMaterial(mesh, nullptr);  // the list's cursor rests here
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.At(kQuadColumn[0], kQuadRow), 0x00FF00u);
  EXPECT_EQ(image.At(kQuadColumn[1], kQuadRow), 0x000000u);
  EXPECT_EQ(image.At(kQuadColumn[2], kQuadRow), 0x000000u);
}

// Blended boxes are drawn twice, back faces first. With depth writes on, the back faces' depth
// lets the front faces blend over them; the other order would leave one layer. The texture is
// red 0x40 at alpha 0x80 over a clear red of 0x10.
class BlendModeTest : public MeshPassTest {
 protected:
  uint32_t CentreRed(uint8_t mode, bool withReference) {
    ClearMeshes();
    Engine.ClearColour = 0xFF100000;
    Mesh* mesh = AddMesh(Box(), 0, 0, 5);
    mesh->MeshBlendMode = mode;
    mesh->BlendFactorColour = 0x00404040;
    mesh->OwnMaterial = Glowing(0x40 / 255.0f, 0, 0, 0.5f);
    if (withReference) AddMaterial(mesh, SolidTexture(0x80400000));
    return (Frame().At(320, 320) >> 16) & 0xFF;
  }
};

TEST_F(BlendModeTest, ModesByPixels) {
  EXPECT_EQ(CentreRed(0, true), 0x40u);
  EXPECT_NEAR(CentreRed(1, true), 0x10 + 0x20 + 0x20, 2);                    // SRCALPHA, ONE: twice
  EXPECT_NEAR(CentreRed(2, true), 0x40 / 2 + (0x40 / 2 + 0x10 / 2) / 2, 2);  // over, twice
  EXPECT_NEAR(CentreRed(3, true), 0x10 + 0x10 + 0x10, 2);  // a quarter of 0x40, twice
  EXPECT_EQ(CentreRed(9, true), 0x40u);                    // unknown modes are opaque
}

TEST_F(BlendModeTest, StatesLeftBehind) {
  CentreRed(1, true);
  EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
  EXPECT_EQ(RenderState(D3DRS_SRCBLEND), static_cast<DWORD>(D3DBLEND_ONE));
  EXPECT_EQ(RenderState(D3DRS_DESTBLEND), static_cast<DWORD>(D3DBLEND_ZERO));
  EXPECT_EQ(RenderState(D3DRS_ALPHATESTENABLE), 0u);
  CentreRed(2, true);
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
  CentreRed(3, true);
  EXPECT_EQ(RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
  EXPECT_EQ(RenderState(D3DRS_BLENDFACTOR), 0x00404040u);
}

TEST_F(BlendModeTest, WithoutReferencesModeThreeIsOpaque) {
  // The own material: red 0x40 with alpha 1 (an unbound stage reads as opaque white).
  EXPECT_EQ(CentreRed(0, false), 0x40u);
  EXPECT_NEAR(CentreRed(1, false), 0x10 + 0x40 + 0x40, 2);
  EXPECT_EQ(CentreRed(3, false), 0x40u);
  EXPECT_NE(RenderState(D3DRS_BLENDFACTOR), 0x00404040u);
}

// --- DOT3 ----------------------------------------------------------------------------------------

TEST_F(MeshPassTest, BumpMappedMeshDrawsSubsetZeroLitByTheLightDirection) {
  Mesh* mesh = AddMesh(ThreeQuads());
  Texture* green = SolidTexture(0xFF00C000);
  AddMaterial(mesh, green);
  AddMaterial(mesh, green);
  AddMaterial(mesh, green);
  // A flat normal map, (0, 0, 1) everywhere; the default light direction (-1, 0, 1) packs to
  // 0xFF0180FF, whose dot product with it is 1: the material texture at full strength.
  Texture* bump = SolidTexture(0xFF8080FF);
  mesh->BumpTexture = bump;
  BackBufferImage image = Frame();
  const uint32_t lit = image.At(kQuadColumn[0], kQuadRow);
  EXPECT_EQ(lit & 0xFF00FFu, 0u);
  EXPECT_NEAR((lit >> 8) & 0xFF, 0xC0, 2);
  EXPECT_EQ(image.At(kQuadColumn[1], kQuadRow), 0x000000u);
  EXPECT_EQ(image.At(kQuadColumn[2], kQuadRow), 0x000000u);
  EXPECT_EQ(RenderState(D3DRS_TEXTUREFACTOR), 0xFF0180FFu);

  // Stage 0 back to texture times diffuse; stage 1 keeps MODULATE and loses its texture.
  EXPECT_EQ(StageState(0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
  EXPECT_EQ(StageState(0, D3DTSS_COLORARG1), static_cast<DWORD>(D3DTA_TEXTURE));
  EXPECT_EQ(StageState(0, D3DTSS_COLORARG2), static_cast<DWORD>(D3DTA_DIFFUSE));
  EXPECT_EQ(StageState(0, D3DTSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(StageState(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
  EXPECT_EQ(BoundTexture(1), nullptr);
  EXPECT_EQ(BoundTexture(0), bump->D3DTexture);
  EXPECT_EQ(engine_test::SamplerState(1, D3DSAMP_MAGFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
  // The later stage would modulate by an unbound texture (white): no harm to the next draws.
  Engine.Device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

  // Light from behind the surface: the dot product is negative and clamps to black.
  Engine.MeshLightDirection[2] = -1.0f;
  image = Frame();
  EXPECT_EQ(image.At(kQuadColumn[0], kQuadRow), 0x000000u);
  Engine.Device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

  // Without the normal map all three subsets are drawn.
  mesh->BumpTexture = nullptr;
  image = Frame();
  EXPECT_EQ(image.At(kQuadColumn[2], kQuadRow), 0x00C000u);

  // A normal map that is not in TextureList counts as none.
  Texture stranger{};
  mesh->BumpTexture = &stranger;
  image = Frame();
  EXPECT_EQ(image.At(kQuadColumn[1], kQuadRow), 0x00C000u);
}

TEST(PackDirection, ComponentsBecomeBytes) {
  const float zero[3] = {0, 0, 0};
  EXPECT_EQ(PackDirection(zero), 0xFF808080u);
  const float light[3] = {-1, 0, 1};
  EXPECT_EQ(PackDirection(light), 0xFF0180FFu);
  // Halfway values round to even: 0.5 * 127 + 128 = 191.5 -> 192.
  const float half[3] = {0.5f, -0.5f, 0};
  EXPECT_EQ(PackDirection(half), 0xFFC04080u);
  // Out of range and NaN stay within their own byte.
  const float wild[3] = {3, -3, std::numeric_limits<float>::quiet_NaN()};
  EXPECT_EQ(PackDirection(wild), 0xFFFF0000u);
  EXPECT_EQ(PackDirection(nullptr), 0u);
}

// --- Frustum culling -----------------------------------------------------------------------------

// An orthographic view of x and y in -10..10 and z in 1..11, seen from the origin.
void OrthographicView(float eyeX = 0) {
  D3DXMATRIX view, projection;
  D3DXMatrixTranslation(&view, -eyeX, 0, 0);
  D3DXMatrixOrthoLH(&projection, 20, 20, 1, 11);
  Engine.Device->SetTransform(D3DTS_VIEW, &view);
  Engine.Device->SetTransform(D3DTS_PROJECTION, &projection);
}

void ExpectPlane(int index, float a, float b, float c, float d) {
  const float* p = Engine.FrustumPlanes[index];
  EXPECT_NEAR(p[0], a, 1e-5f) << "plane " << index;
  EXPECT_NEAR(p[1], b, 1e-5f) << "plane " << index;
  EXPECT_NEAR(p[2], c, 1e-5f) << "plane " << index;
  EXPECT_NEAR(p[3], d, 1e-4f) << "plane " << index;
}

using FrustumTest = MeshPassTest;

TEST_F(FrustumTest, PlanesComeFromViewTimesProjectionInTheirOrder) {
  OrthographicView();
  UpdateFrustumPlanes();
  ExpectPlane(0, -1, 0, 0, 10);  // right: x < 10
  ExpectPlane(1, 1, 0, 0, 10);   // left
  ExpectPlane(2, 0, 1, 0, 10);   // bottom
  ExpectPlane(3, 0, -1, 0, 10);  // top
  ExpectPlane(4, 0, 0, -1, 11);  // far
  ExpectPlane(5, 0, 0, 1, -1);   // near
  // The view moves the box with the eye.
  OrthographicView(5);
  UpdateFrustumPlanes();
  ExpectPlane(0, -1, 0, 0, 15);
  ExpectPlane(1, 1, 0, 0, 5);

  // A perspective view: every plane normalised.
  LookAlongZ();
  UpdateFrustumPlanes();
  for (int i = 0; i < 6; ++i) {
    const float* p = Engine.FrustumPlanes[i];
    EXPECT_NEAR(p[0] * p[0] + p[1] * p[1] + p[2] * p[2], 1.0f, 1e-5f);
  }
  EXPECT_EQ(SphereInFrustum(0, 0, 50, 1), 1);
  EXPECT_EQ(SphereInFrustum(0, 0, -5, 1), 0);  // behind the eye
  EXPECT_EQ(SphereInFrustum(60, 0, 50, 5), 0);

  // A singular projection leaves no plane to cull against.
  D3DXMATRIX zero;
  std::memset(&zero, 0, sizeof(zero));
  Engine.Device->SetTransform(D3DTS_PROJECTION, &zero);
  UpdateFrustumPlanes();
  EXPECT_EQ(SphereInFrustum(1e6f, 0, 0, 0), 1);
  EXPECT_EQ(BoxInFrustum(1e6f, 0, 0, 0, 0, 0), 1);
}

TEST_F(FrustumTest, TouchingAPlaneFromOutsideIsCulled) {
  OrthographicView();
  UpdateFrustumPlanes();
  // Right plane: -x + 10. A sphere at x = 12 of radius 2 touches it from outside.
  EXPECT_EQ(SphereInFrustum(12, 0, 5, 2), 0);
  EXPECT_EQ(SphereInFrustum(12, 0, 5, 2.5f), 1);
  EXPECT_EQ(SphereInFrustum(0, 0, 12, 1), 0);  // beyond the far plane, touching
  EXPECT_EQ(SphereInFrustum(0, 0, 0, 1), 0);   // before the near plane, touching
  // A box whose nearest corners lie on the plane is out; one that reaches past it is in.
  EXPECT_EQ(BoxInFrustum(12, 0, 5, 2, 1, 1), 0);
  EXPECT_EQ(BoxInFrustum(12, 0, 5, 2.5f, 1, 1), 1);
  EXPECT_EQ(BoxInFrustum(0, -13, 5, 1, 2, 1), 0);
  EXPECT_EQ(BoxInFrustum(0, 0, 5, 100, 100, 100), 1);  // all around the frustum
}

TEST_F(FrustumTest, CullingDecidesBeforeAnyDeviceCall) {
  OrthographicView();
  Engine.FrustumCulling = 1;
  UpdateFrustumPlanes();
  Mesh* mesh = AddMesh(Box(), 12, 0, 5);
  mesh->BoundsKind = 1;
  mesh->SphereRadius = 2;
  DisturbState();
  MeshPass();
  EXPECT_TRUE(StateUndisturbed());
  // The sphere offset is relative to the mesh's position.
  mesh->SphereOffset[0] = -0.5f;
  MeshPass();
  EXPECT_FALSE(StateUndisturbed());
  EXPECT_EQ(WorldTransform()._41, 12.0f);

  mesh->BoundsKind = 2;
  mesh->BoxHalfSize[0] = 2;
  mesh->BoxHalfSize[1] = mesh->BoxHalfSize[2] = 1;
  DisturbState();
  MeshPass();
  EXPECT_TRUE(StateUndisturbed());
  mesh->BoxOffset[0] = -0.5f;
  MeshPass();
  EXPECT_FALSE(StateUndisturbed());

  // Only spheres and boxes are ever culled.
  mesh->World._41 = 1000.0f;
  for (int32_t kind : {0, 3}) {
    mesh->BoundsKind = kind;
    DisturbState();
    MeshPass();
    EXPECT_EQ(WorldTransform()._41, 1000.0f) << "bounds kind " << kind;
  }
  // With culling off nothing is culled.
  Engine.FrustumCulling = 0;
  mesh->BoundsKind = 1;
  DisturbState();
  MeshPass();
  EXPECT_EQ(WorldTransform()._41, 1000.0f);
}

// Through the frame: the planes are rebuilt before the scene from the device's transforms. The
// box stands in the middle of the view while its sphere is declared far to the side.
TEST_F(FrustumTest, TheFrameCullsByTheDeclaredVolume) {
  Mesh* mesh = AddMesh(Box(), 0, 0, 5);
  mesh->OwnMaterial = Glowing(1, 1, 0);
  mesh->BoundsKind = 1;
  mesh->SphereOffset[0] = 100.0f;
  mesh->SphereRadius = 1.0f;
  EXPECT_EQ(Frame().At(320, 320), 0xFFFF00u);
  Engine.FrustumCulling = 1;
  EXPECT_EQ(Frame().At(320, 320), 0x000000u);
  mesh->SphereOffset[0] = 0.0f;
  EXPECT_EQ(Frame().At(320, 320), 0xFFFF00u);
}

}  // namespace
