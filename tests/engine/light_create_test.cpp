// Lights made through the engine's operations: free indices up to the device's limit, the
// device's copy of every setting, refused settings, light that reaches a mesh, handles that are
// not the engine's, release and device resets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;

D3DLIGHT9 DeviceLight(const Light* light) {
  D3DLIGHT9 d3dLight{};
  EXPECT_EQ(Engine.Device->GetLight(static_cast<DWORD>(light->LightIndex), &d3dLight), D3D_OK);
  return d3dLight;
}

bool DeviceEnabled(int32_t index) {
  BOOL enabled = FALSE;
  Engine.Device->GetLightEnable(static_cast<DWORD>(index), &enabled);
  return enabled != FALSE;
}

DWORD MaxLights() {
  D3DCAPS9 caps{};
  Engine.Device->GetDeviceCaps(&caps);
  return caps.MaxActiveLights;
}

using LightCreateTest = EngineTest;

TEST_F(LightCreateTest, LightsTakeTheLowestFreeIndexUpToTheDeviceLimit) {
  EXPECT_EQ(CreateLight(0), nullptr);
  EXPECT_EQ(CreateLight(4), nullptr);
  const DWORD limit = MaxLights();
  ASSERT_GE(limit, 3u);
  std::vector<Light*> lights;
  for (DWORD i = 0; i < limit; ++i) {
    Light* light = CreateLight(static_cast<int32_t>(1 + i % 3));
    ASSERT_NE(light, nullptr) << i;
    EXPECT_EQ(light->LightIndex, static_cast<int32_t>(i));
    EXPECT_TRUE(DeviceEnabled(light->LightIndex));
    EXPECT_EQ(DeviceLight(light).Type, light->D3DLight.Type);
    lights.push_back(light);
  }
  EXPECT_EQ(CreateLight(D3DLIGHT_POINT), nullptr);
  EXPECT_EQ(Engine.LightList.Count(), static_cast<int32_t>(limit));

  // Releasing frees the index (and switches the device's light off) for the next light.
  ASSERT_EQ(ReleaseLight(lights[1]), 1);
  EXPECT_FALSE(DeviceEnabled(1));
  EXPECT_EQ(ReleaseLight(lights[1]), 0);
  Light* again = CreateLight(D3DLIGHT_SPOT);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->LightIndex, 1);
  EXPECT_TRUE(DeviceEnabled(1));
}

TEST_F(LightCreateTest, SettingsReachTheDeviceAndRefusedOnesChangeNothing) {
  Light* spot = CreateLight(D3DLIGHT_SPOT);
  ASSERT_NE(spot, nullptr);
  ASSERT_EQ(PositionLight(spot, 0, 10, 0), 1);
  ASSERT_EQ(AimLight(spot, 0, 10, 5), 1);
  D3DLIGHT9 d = DeviceLight(spot);
  EXPECT_EQ(d.Position.y, 10.0f);
  EXPECT_NEAR(d.Direction.z, 1.0f, 1e-6f);
  EXPECT_NEAR(d.Direction.y, 0.0f, 1e-6f);
  // Moving keeps the point aimed at: now straight down onto it.
  ASSERT_EQ(PositionLight(spot, 0, 20, 5), 1);
  d = DeviceLight(spot);
  EXPECT_NEAR(d.Direction.y, -1.0f, 1e-6f);
  EXPECT_EQ(spot->Target[2], 5.0f);

  ASSERT_EQ(SetLightColour(spot, 0xFFFF8000, 0x80FFFFFF, 0xFF000040), 1);
  ASSERT_EQ(SetLightRange(spot, 50.0f, 0.0f, 0.5f, 0.0f), 1);
  ASSERT_EQ(SetLightCone(spot, 10.0f, 20.0f, 2.0f), 1);
  d = DeviceLight(spot);
  EXPECT_EQ(d.Diffuse.r, 1.0f);
  EXPECT_NEAR(d.Diffuse.g, 128.0f / 255.0f, 1e-6f);
  EXPECT_NEAR(d.Specular.a, 128.0f / 255.0f, 1e-6f);
  EXPECT_NEAR(d.Ambient.b, 64.0f / 255.0f, 1e-6f);
  EXPECT_EQ(d.Range, 50.0f);
  EXPECT_EQ(d.Attenuation1, 0.5f);
  EXPECT_NEAR(d.Theta, 10.0f * 0.017453f, 1e-6f);
  EXPECT_NEAR(d.Phi, 20.0f * 0.017453f, 1e-6f);
  EXPECT_EQ(d.Falloff, 2.0f);
  EXPECT_EQ(std::memcmp(&d, &spot->D3DLight, sizeof(d)), 0);

  const D3DLIGHT9 before = spot->D3DLight;
  EXPECT_EQ(AimLight(spot, 0, 20, 5), 0);       // its own position
  EXPECT_EQ(PositionLight(spot, 0, 10, 5), 0);  // onto its target
  EXPECT_EQ(AimLight(spot, std::nanf(""), 0, 0), 0);
  EXPECT_EQ(SetLightRange(spot, 0.0f, 1, 0, 0), 0);
  EXPECT_EQ(SetLightRange(spot, 1e30f, 1, 0, 0), 0);
  EXPECT_EQ(SetLightRange(spot, 10.0f, 0, 0, 0), 0);
  EXPECT_EQ(SetLightRange(spot, 10.0f, -1, 1, 0), 0);
  EXPECT_EQ(SetLightCone(spot, 30.0f, 20.0f, 1.0f), 0);
  EXPECT_EQ(SetLightCone(spot, 10.0f, 190.0f, 1.0f), 0);
  EXPECT_EQ(SetLightCone(spot, 10.0f, 20.0f, INFINITY), 0);
  EXPECT_EQ(std::memcmp(&before, &spot->D3DLight, sizeof(before)), 0);
  d = DeviceLight(spot);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof(before)), 0);

  Light* sun = CreateLight(D3DLIGHT_DIRECTIONAL);
  ASSERT_NE(sun, nullptr);
  EXPECT_EQ(SetLightCone(sun, 10.0f, 20.0f, 1.0f), 0);
  ASSERT_EQ(EnableLight(sun, 0), 1);
  EXPECT_FALSE(DeviceEnabled(sun->LightIndex));
  ASSERT_EQ(EnableLight(sun, 7), 1);
  EXPECT_TRUE(DeviceEnabled(sun->LightIndex));
}

TEST_F(LightCreateTest, ALightAimedAtAMeshLightsIt) {
  // A white box at (0, 0, 10) lit only by the light: its face towards the eye looks along -z.
  Mesh* box = CreateBoxMesh(2, 2, 2);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(PositionMesh(box, 0, 0, 10), 1);
  Light* sun = CreateLight(D3DLIGHT_DIRECTIONAL);
  ASSERT_NE(sun, nullptr);
  ASSERT_EQ(AimLight(sun, 0, 0, 1), 1);  // shining along +z, onto that face
  auto centre = [] {
    LookAlongZ();
    Engine.ClearColour = 0xFF000000;
    RenderWorld();
    const uint32_t pixel = ReadBackBuffer().At(320, 320);
    Flip();
    return pixel;
  };
  EXPECT_EQ(centre(), 0xFFFFFFu);
  ASSERT_EQ(SetLightColour(sun, 0xFF0000FF, 0, 0), 1);
  EXPECT_EQ(centre(), 0x0000FFu);
  ASSERT_EQ(AimLight(sun, 0, 0, -1), 1);  // from behind: the face stays dark
  EXPECT_EQ(centre(), 0u);
  ASSERT_EQ(AimLight(sun, 0, 0, 1), 1);
  ASSERT_EQ(EnableLight(sun, 0), 1);
  EXPECT_EQ(centre(), 0u);
  ASSERT_EQ(EnableLight(sun, 1), 1);
  ASSERT_EQ(ReleaseLight(sun), 1);
  EXPECT_EQ(centre(), 0u);
}

TEST_F(LightCreateTest, HandlesThatAreNotListedAreRefused) {
  Light* kept = CreateLight(D3DLIGHT_POINT);
  Light* gone = CreateLight(D3DLIGHT_POINT);
  ASSERT_NE(gone, nullptr);
  const int32_t goneIndex = gone->LightIndex;
  ASSERT_EQ(ReleaseLight(gone), 1);
  Light foreign{};
  foreign.LightIndex = kept->LightIndex;
  for (Light* handle : {gone, &foreign, static_cast<Light*>(nullptr)}) {
    EXPECT_EQ(PositionLight(handle, 1, 1, 1), 0);
    EXPECT_EQ(AimLight(handle, 1, 2, 3), 0);
    EXPECT_EQ(SetLightColour(handle, 0, 0, 0), 0);
    EXPECT_EQ(SetLightRange(handle, 1, 1, 0, 0), 0);
    EXPECT_EQ(SetLightCone(handle, 1, 2, 1), 0);
    EXPECT_EQ(EnableLight(handle, 0), 0);
    EXPECT_EQ(ReleaseLight(handle), 0);
  }
  EXPECT_TRUE(DeviceEnabled(kept->LightIndex));
  EXPECT_FALSE(DeviceEnabled(goneIndex));
  EXPECT_EQ(Engine.LightList.Count(), 1);
}

TEST_F(LightCreateTest, ResetReappliesListedLightsAndShutdownForgetsThem) {
  Light* point = CreateLight(D3DLIGHT_POINT);
  Light* spot = CreateLight(D3DLIGHT_SPOT);
  ASSERT_NE(spot, nullptr);
  ASSERT_EQ(SetLightRange(point, 12.0f, 1, 0, 0), 1);
  ASSERT_EQ(AimLight(spot, 0, -1, 0), 1);
  ASSERT_EQ(EnableLight(spot, 0), 1);
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  // The engine's reset path sets every listed light again as recorded, enabled.
  EXPECT_EQ(DeviceLight(point).Range, 12.0f);
  EXPECT_NEAR(DeviceLight(spot).Direction.y, -1.0f, 1e-6f);
  EXPECT_TRUE(DeviceEnabled(point->LightIndex));
  EXPECT_TRUE(DeviceEnabled(spot->LightIndex));
  EXPECT_EQ(EnableLight(spot, 0), 1);
  // Their indices stay taken.
  Light* third = CreateLight(D3DLIGHT_POINT);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->LightIndex, 2);
  EngineShutdown();
  EXPECT_EQ(Engine.LightList.Count(), 0);
}

}  // namespace
