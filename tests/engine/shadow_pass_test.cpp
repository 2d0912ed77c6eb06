// The shadow-mapped mesh pass with the engine's own effect, the effect path of the mesh pass, the
// effect-parameter operations and the shadow-mapping switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/engine_fixture.h"
#include "support/mesh_spy.h"

namespace {

using namespace engine_test;

// Two passes that both draw the mesh in one flat colour.
constexpr const char* kTwoPassEffect = R"(
float4 g_vColour = {1, 0, 0, 1};
float4x4 g_mWorldViewProj;
float4 VS(float4 p : POSITION) : POSITION { return mul(p, g_mWorldViewProj); }
float4 PS() : COLOR { return g_vColour; }
technique Flat {
  pass A { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); }
  pass B { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); }
}
)";

uint32_t Brightness(uint32_t rgb) {
  return ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
}

class ShadowPassTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    LookAlongZ();
    Engine.ClearColour = 0xFF000000;
    MeshCallLog::calls.clear();
  }

  static Mesh* AddBox(float w, float h, float d, float x, float y, float z) {
    ID3DXMesh* geometry = nullptr;
    EXPECT_EQ(D3DXCreateBox(Engine.Device, w, h, d, &geometry, nullptr), D3D_OK);
    Engine.MeshList.Last();
    Mesh* mesh = Engine.MeshList.Add();
    mesh->D3DMesh = geometry;
    D3DXMatrixTranslation(reinterpret_cast<D3DXMATRIX*>(&mesh->World), x, y, z);
    mesh->OwnMaterial.Diffuse = {1, 1, 1, 1};
    return mesh;
  }

  // Wraps the mesh's geometry in a spy that logs its draws under `name`.
  static MeshSpy* Spy(Mesh* mesh, const char* name) {
    auto* spy = new MeshSpy(mesh->D3DMesh, name);
    mesh->D3DMesh->Release();
    mesh->D3DMesh = spy;
    return spy;
  }

  static void AddMaterial(Mesh* mesh, Texture* texture) {
    mesh->MaterialRefs.Last();
    mesh->MaterialRefs.Add()->TextureHandle = texture;
  }

  // A spot light above (0, -2, 8) looking straight down, reaching 20 units.
  static Light* AddSpotLight() {
    Engine.LightList.Last();
    Light* light = Engine.LightList.Add();
    D3DLIGHT9& l = light->D3DLight;
    l.Type = D3DLIGHT_SPOT;
    l.Diffuse = {1, 1, 1, 1};
    l.Position = {0, 6, 8};
    l.Direction = {0, -1, 0};
    l.Range = 20;
    l.Theta = 0.7f;
    l.Phi = 1.0f;
    light->LightIndex = 0;
    light->Target[0] = 0;
    light->Target[1] = -2;
    light->Target[2] = 8;
    return light;
  }

  static BackBufferImage Frame() {
    RenderWorld();
    BackBufferImage image = ReadBackBuffer();
    Flip();
    return image;
  }

  // Level 0 of the shadow map, as floats.
  static std::vector<float> ShadowMapValues(UINT* width) {
    std::vector<float> values;
    IDirect3DSurface9* level = nullptr;
    if (Engine.ShadowMapTexture == nullptr ||
        FAILED(Engine.ShadowMapTexture->GetSurfaceLevel(0, &level)))
      return values;
    D3DSURFACE_DESC desc;
    level->GetDesc(&desc);
    IDirect3DSurface9* copy = nullptr;
    Engine.Device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                               D3DPOOL_SYSTEMMEM, &copy, nullptr);
    if (copy != nullptr && SUCCEEDED(Engine.Device->GetRenderTargetData(level, copy))) {
      D3DLOCKED_RECT locked;
      if (SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        values.resize(static_cast<size_t>(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
          std::memcpy(&values[static_cast<size_t>(y) * desc.Width],
                      static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch,
                      desc.Width * sizeof(float));
        copy->UnlockRect();
      }
    }
    if (copy != nullptr) copy->Release();
    level->Release();
    *width = desc.Width;
    return values;
  }
};

TEST_F(ShadowPassTest, SwitchingOnMakesTheResourcesAndRefusesWhatCannotWork) {
  Light* light = AddSpotLight();
  Light stranger{};
  EXPECT_EQ(EnableShadowMapping(&stranger, 256), 0);
  EXPECT_EQ(EnableShadowMapping(light, 0), 0);
  EXPECT_EQ(EnableShadowMapping(light, 5000), 0);
  // The map is drawn with the 640 x 640 depth surface: a larger one is refused with a reason.
  EXPECT_EQ(EnableShadowMapping(light, 1024), 0);
  EXPECT_NE(Engine.LastErrorText.find("depth-stencil"), std::string::npos) << Engine.LastErrorText;
  EXPECT_EQ(Engine.ShadowMapping, 0);
  EXPECT_EQ(Engine.ShadowMapTexture, nullptr);
  EXPECT_EQ(Engine.EffectList.Count(), 0);

  Light* second = AddSpotLight();
  ASSERT_EQ(EnableShadowMapping(second, 256), 1) << Engine.LastErrorText;
  EXPECT_EQ(Engine.ShadowMapping, 1);
  EXPECT_EQ(Engine.LightList.First(), second) << "the shadow light is the one the pass reads";
  ASSERT_NE(Engine.ShadowEffect, nullptr);
  EXPECT_TRUE(Engine.EffectList.Contains(Engine.ShadowEffect));
  ASSERT_NE(Engine.ShadowMapTexture, nullptr);
  D3DSURFACE_DESC desc;
  Engine.ShadowMapTexture->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_R32F);
  EXPECT_EQ(desc.Width, 256u);
  EXPECT_TRUE(Engine.TextureList.Contains(Engine.DefaultSceneTexture));

  // Switching on again keeps the effect and the scene texture, and takes the new size.
  Effect* effect = Engine.ShadowEffect;
  ASSERT_EQ(EnableShadowMapping(light, 128), 1);
  EXPECT_EQ(Engine.ShadowEffect, effect);
  EXPECT_EQ(Engine.EffectList.Count(), 1);
  Engine.ShadowMapTexture->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Width, 128u);

  DisableShadowMapping();
  EXPECT_EQ(Engine.ShadowMapping, 0);
  EXPECT_EQ(Engine.ShadowMapTexture, nullptr);
  EXPECT_EQ(Engine.ShadowEffect, nullptr);
  EXPECT_EQ(Engine.DefaultSceneTexture, nullptr);
  EXPECT_EQ(Engine.EffectList.Count(), 0);
  EXPECT_EQ(Engine.TextureList.Count(), 0);
}

TEST_F(ShadowPassTest, EffectCreationReportsTheCompilersMessage) {
  EXPECT_EQ(CreateEffect("float4 main() : COLOR { return undefinedThing; }\n"
                         "technique T { pass P { PixelShader = compile ps_2_0 main(); } }"),
            nullptr);
  EXPECT_EQ(Engine.LastError, kEngineShader);
  EXPECT_NE(Engine.LastErrorText.find("undefinedThing"), std::string::npos) << Engine.LastErrorText;
  EXPECT_EQ(CreateEffectFromFile("/nonexistent/effect.fx"), nullptr);
  EXPECT_FALSE(Engine.LastErrorText.empty());
  EXPECT_EQ(Engine.EffectList.Count(), 0);

  Effect* effect = CreateEffect(kTwoPassEffect);
  ASSERT_NE(effect, nullptr) << Engine.LastErrorText;
  Mesh* mesh = AddBox(2, 2, 2, 0, 0, 5);
  EXPECT_EQ(SetMeshEffect(mesh, effect), 1);
  Effect stranger{};
  EXPECT_EQ(SetMeshEffect(mesh, &stranger), 0);
  EXPECT_EQ(mesh->MeshEffect, effect);
  EXPECT_EQ(ReleaseEffect(&stranger), 0);
  EXPECT_EQ(ReleaseEffect(effect), 1);
  EXPECT_EQ(mesh->MeshEffect, nullptr) << "a released effect no longer draws the mesh";
  EXPECT_EQ(ReleaseEffect(effect), 0);
}

TEST_F(ShadowPassTest, ParameterOperationsCheckTheirHandles) {
  Effect* effect = CreateEffect(kTwoPassEffect);
  ASSERT_NE(effect, nullptr) << Engine.LastErrorText;
  Effect stranger{};
  const float colour[4] = {0, 1, 0, 1};
  EXPECT_EQ(SetEffectVector4(&stranger, "g_vColour", colour), 0);
  EXPECT_EQ(SetEffectVector4(effect, "g_vColour", nullptr), 0);
  EXPECT_EQ(SetEffectVector4(effect, "g_vColour", colour), 1);
  D3DXVECTOR4 got;
  effect->D3DEffect->GetVector("g_vColour", &got);
  EXPECT_EQ(got.y, 1.0f);
  EXPECT_EQ(SetEffectTechnique(effect, "Flat"), 1);
  EXPECT_EQ(SetEffectTechnique(effect, "NoSuchTechnique"), 0);
  EXPECT_EQ(SetEffectTechnique(&stranger, "Flat"), 0);
  D3DXMATRIX m;
  D3DXMatrixScaling(&m, 2, 3, 4);
  EXPECT_EQ(SetEffectMatrix(effect, "g_mWorldViewProj", nullptr), 0);
  EXPECT_EQ(SetEffectMatrix(effect, "g_mWorldViewProj", &m), 1);
  D3DXMATRIX back;
  effect->D3DEffect->GetMatrix("g_mWorldViewProj", &back);
  EXPECT_EQ(back._22, 3.0f);

  Texture fake{};
  EXPECT_EQ(SetEffectTexture(effect, "g_txScene", &fake), 0) << "not in TextureList";
  Light* light = AddSpotLight();
  Light unknown{};
  EXPECT_EQ(LightPosition(&unknown), nullptr);
  EXPECT_EQ(LightDirection(nullptr), nullptr);
  ASSERT_EQ(LightPosition(light), &light->D3DLight.Position);
  EXPECT_EQ(LightDirection(light)->y, -1.0f);
  EXPECT_EQ(Engine.LightList.Current(), light);
}

TEST_F(ShadowPassTest, EffectPathDrawsEveryPassForEachMaterialReference) {
  Effect* effect = CreateEffect(kTwoPassEffect);
  ASSERT_NE(effect, nullptr) << Engine.LastErrorText;
  Mesh* mesh = AddBox(2, 2, 2, 0, 0, 5);
  Spy(mesh, "m");
  mesh->MeshEffect = effect;
  Texture* texture = CreateTexture(4, 4, 0xFFFFFFFF);
  for (int i = 0; i < 3; ++i) AddMaterial(mesh, texture);
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  DrawMeshes();
  EXPECT_EQ(Engine.CurrentEffect, effect);
  EXPECT_EQ(MeshCallLog::calls, (std::vector<std::string>{"m:draw 0", "m:draw 0", "m:draw 1",
                                                          "m:draw 1", "m:draw 2", "m:draw 2"}));

  // Without references the effect still runs but draws nothing; a released effect's handle is
  // never followed.
  MeshCallLog::calls.clear();
  mesh->MaterialRefs.Clear();
  DrawMeshes();
  EXPECT_TRUE(MeshCallLog::calls.empty());
  for (int i = 0; i < 3; ++i) AddMaterial(mesh, texture);
  Effect* dangling = effect;
  Engine.EffectList.Reset();
  Engine.EffectList.Next();
  SafeRelease(effect->D3DEffect);
  Engine.EffectList.Remove();
  mesh->MeshEffect = dangling;
  DrawMeshes();
  EXPECT_TRUE(MeshCallLog::calls.empty());
  Engine.Device->EndScene();
  mesh->MeshEffect = nullptr;
}

TEST_F(ShadowPassTest, EmptyMeshListStillRendersTheMapAndSetsTheLight) {
  Light* light = AddSpotLight();
  ASSERT_EQ(EnableShadowMapping(light, 64), 1) << Engine.LastErrorText;
  // Something in the map and in the depth buffer beforehand, to see both cleared.
  IDirect3DSurface9* level = nullptr;
  Engine.ShadowMapTexture->GetSurfaceLevel(0, &level);
  IDirect3DSurface9* old = nullptr;
  Engine.Device->GetRenderTarget(0, &old);
  Engine.Device->SetRenderTarget(0, level);
  Engine.Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
  Engine.Device->SetRenderTarget(0, old);
  old->Release();
  Engine.Device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0);

  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  DrawMeshesShadowMapped();
  IDirect3DSurface9* target = nullptr;
  Engine.Device->GetRenderTarget(0, &target);
  IDirect3DSurface9* back = nullptr;
  Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
  EXPECT_EQ(target, back) << "the frame's target is back";
  target->Release();
  back->Release();
  level->Release();
  EXPECT_EQ(Engine.CurrentEffect, Engine.ShadowEffect);
  // The scene is open again: a draw after the pass is accepted and the frame's EndScene works.
  struct V {
    float x, y, z, rhw;
    D3DCOLOR c;
  } quad[4] = {{0, 0, 0.5f, 1, 0xFF00FF00},
               {8, 0, 0.5f, 1, 0xFF00FF00},
               {0, 8, 0.5f, 1, 0xFF00FF00},
               {8, 8, 0.5f, 1, 0xFF00FF00}};
  Engine.Device->SetVertexShader(nullptr);
  Engine.Device->SetPixelShader(nullptr);
  Engine.Device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  EXPECT_EQ(Engine.Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK)
      << "depth cleared to 1, inside a scene";
  EXPECT_EQ(Engine.Device->EndScene(), D3D_OK);
  EXPECT_EQ(Rgb(ReadBackBuffer().At(4, 4)), 0x00FF00u);

  UINT width = 0;
  const std::vector<float> map = ShadowMapValues(&width);
  ASSERT_EQ(map.size(), 64u * 64u);
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](float v) { return v == 0.0f; }))
      << "cleared to opaque black";
  D3DXVECTOR4 position;
  Engine.ShadowEffect->D3DEffect->GetVector("g_vLightPos", &position);
  EXPECT_EQ(position.y, 6.0f);
  D3DXVECTOR4 direction;
  Engine.ShadowEffect->D3DEffect->GetVector("g_vLightDir", &direction);
  EXPECT_EQ(direction.y, -1.0f);
  // The light's matrices were rebuilt: the light's target lies on its axis, in front of it.
  D3DXVECTOR3 target3(0, -2, 8), inLight;
  D3DXVec3TransformCoord(&inLight, &target3, reinterpret_cast<D3DXMATRIX*>(&light->ShadowView));
  EXPECT_NEAR(inLight.x, 0, 1e-4);
  EXPECT_NEAR(inLight.y, 0, 1e-4);
  EXPECT_NEAR(inLight.z, 8, 1e-4);
  EXPECT_NEAR(light->ShadowProjection._11, 1.0f / std::tan(1.04718f / 2), 1e-4);
}

TEST_F(ShadowPassTest, MeshesKeepTheirEffectsAndEmptyReferencesDrawNothing) {
  Light* light = AddSpotLight();
  ASSERT_EQ(EnableShadowMapping(light, 64), 1) << Engine.LastErrorText;
  Effect* own = CreateEffect(kTwoPassEffect);
  ASSERT_NE(own, nullptr);
  Mesh* withEffect = AddBox(2, 2, 2, 0, 0, 8);
  Spy(withEffect, "own");
  withEffect->MeshEffect = own;
  AddMaterial(withEffect, CreateTexture(4, 4, 0xFFFFFFFF));
  Mesh* bare = AddBox(2, 2, 2, 3, 0, 8);
  Spy(bare, "bare");
  Frame();
  // One pass per technique: once into the map, once into the scene, through the shadow effect
  // (the own effect has two passes and would have drawn twice per phase).
  EXPECT_EQ(MeshCallLog::calls, (std::vector<std::string>{"own:draw 0", "own:draw 0"}));
  EXPECT_EQ(withEffect->MeshEffect, own);
  EXPECT_EQ(bare->MeshEffect, nullptr);
  EXPECT_EQ(Engine.CurrentEffect, Engine.ShadowEffect);
}

TEST_F(ShadowPassTest, WithoutALightTheMeshPassDraws) {
  Mesh* mesh = AddBox(2, 2, 2, 0, 0, 5);
  Spy(mesh, "m");
  mesh->OwnMaterial.Emissive = {0, 0, 1, 1};
  Engine.ShadowMapping = 1;  // switched on, but nothing to cast from
  const BackBufferImage frame = Frame();
  EXPECT_EQ(MeshCallLog::calls, (std::vector<std::string>{"m:draw 0"}));
  EXPECT_EQ(Rgb(frame.At(320, 320)), 0x0000FFu);
}

TEST_F(ShadowPassTest, GeometryBeyondTheLightsRangeLeavesNoDepth) {
  Light* light = AddSpotLight();
  light->D3DLight.Range = 7.5f;  // the top of a box at y 1 is 5 away, its bottom 7
  ASSERT_EQ(EnableShadowMapping(light, 64), 1) << Engine.LastErrorText;
  Mesh* near = AddBox(2, 2, 2, 0, 0, 8);
  AddMaterial(near, CreateTexture(4, 4, 0xFFFFFFFF));
  Frame();
  UINT width = 0;
  std::vector<float> map = ShadowMapValues(&width);
  ASSERT_EQ(map.size(), 64u * 64u);
  // Straight below the light, the box's top at distance 5 is stored as 1 / 5.
  EXPECT_NEAR(map[32 * 64 + 32], 0.2f, 0.01f);

  near->World._42 = -3.0f;  // top now 8 away: beyond the far plane
  Frame();
  map = ShadowMapValues(&width);
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](float v) { return v == 0.0f; }));
}

// A box above a floor, lit by a spot light straight above it: the box's shadow on the floor is
// where the light's rays through the box's top edges reach the floor.
TEST_F(ShadowPassTest, BoxCastsItsShadowOntoTheFloor) {
  Light* light = AddSpotLight();
  ASSERT_EQ(EnableShadowMapping(light, 512), 1) << Engine.LastErrorText;
  Texture* white = CreateTexture(4, 4, 0xFFFFFFFF);
  Mesh* floor = AddBox(20, 0.1f, 20, 0, -2.05f, 10);  // top face at y = -2
  AddMaterial(floor, white);
  Mesh* box = AddBox(2, 2, 2, 0, 0, 8);
  AddMaterial(box, white);
  const BackBufferImage frame = Frame();

  // Floor point (x, -2, z) is at screen (320 + 320 x / z, 320 + 640 / z). The light at height 6
  // above the floor at 8 sees the box's top (y = 1) at 5, so the shadow spans x and z - 8 in
  // +-1 * 8 / 5 = +-1.6.
  auto floorPixel = [&](float x, float z) {
    return Brightness(Rgb(frame.At(static_cast<int>(std::lround(320 + 320 * x / z)),
                                   static_cast<int>(std::lround(320 + 640 / z)))));
  };
  const uint32_t shadowed[] = {floorPixel(0, 8), floorPixel(1.2f, 8), floorPixel(-1.2f, 8),
                               floorPixel(0, 7), floorPixel(0, 9.2f)};
  const uint32_t lit[] = {floorPixel(2.1f, 8), floorPixel(-2.1f, 8), floorPixel(0, 5.9f),
                          floorPixel(0, 10.2f)};
  const uint32_t darkestLit = *std::min_element(std::begin(lit), std::end(lit));
  for (uint32_t s : shadowed) EXPECT_LT(s * 2, darkestLit) << s << " vs " << darkestLit;
  EXPECT_GT(darkestLit, 3u * 150) << "the floor in the cone is lit";

  // No acne: the lit floor beside the shadow is smooth, no pixel dropping towards the shadow.
  uint32_t low = 1000, high = 0;
  for (float z = 6.5f; z <= 9.5f; z += 0.1f) {
    for (float x = 2.0f; x <= 2.8f; x += 0.05f) {
      const uint32_t b = floorPixel(x, z);
      low = std::min(low, b);
      high = std::max(high, b);
    }
  }
  EXPECT_GT(low * 10, high * 9) << low << " .. " << high;
}

TEST_F(ShadowPassTest, ShadowMappingSurvivesADeviceReset) {
  Light* light = AddSpotLight();
  ASSERT_EQ(EnableShadowMapping(light, 256), 1) << Engine.LastErrorText;
  Mesh* box = AddBox(2, 2, 2, 0, 0, 8);
  AddMaterial(box, CreateTexture(4, 4, 0xFFFFFFFF));
  Frame();
  ResetDevice(3);
  ASSERT_EQ(Engine.PresentResult, D3D_OK);
  ASSERT_EQ(Engine.ShadowMapping, 1);
  ASSERT_NE(Engine.ShadowMapTexture, nullptr);
  D3DSURFACE_DESC desc;
  Engine.ShadowMapTexture->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Width, 256u);
  LookAlongZ();
  Frame();
  UINT width = 0;
  const std::vector<float> map = ShadowMapValues(&width);
  ASSERT_EQ(map.size(), 256u * 256u);
  EXPECT_NEAR(map[128 * 256 + 128], 0.2f, 0.01f) << "the box drawn into the rebuilt map";
}

}  // namespace
