// EngineStart's defaults and lists, the error texts, a second OpenScreen, and EngineShutdown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/engine_fixture.h"

namespace {

using engine_test::ClosedEngineTest;
using engine_test::EngineTest;
using engine_test::kDemoWindowFlags;

// Counts of all sixteen lists, in creation order.
std::vector<int> ListCounts() {
  return {Engine.MeshList.Count(),
          Engine.PrimitiveBufferList.Count(),
          Engine.AnimatedMeshList.Count(),
          Engine.TextureList.Count(),
          Engine.CameraList.Count(),
          Engine.LightList.Count(),
          Engine.ScreenImageList.Count(),
          Engine.RenderViewList.Count(),
          Engine.ScreenPrimitiveQueue.Count(),
          Engine.SpriteList.Count(),
          Engine.SpriteDrawQueue.Count(),
          Engine.TextQueue.Count(),
          Engine.FontList.Count(),
          Engine.ParticleEmitterList.Count(),
          Engine.TextureShaderList.Count(),
          Engine.EffectList.Count()};
}

// Puts one record into every list.
void FillEveryList() {
  Engine.MeshList.Add();
  Engine.PrimitiveBufferList.Add();
  Engine.AnimatedMeshList.Add();
  Engine.TextureList.Add();
  Engine.CameraList.Add();
  Engine.LightList.Add();
  Engine.ScreenImageList.Add();
  Engine.RenderViewList.Add();
  Engine.ScreenPrimitiveQueue.Add();
  Engine.SpriteList.Add();
  Engine.SpriteDrawQueue.Add();
  Engine.TextQueue.Add()->Text = "a queued text long enough to live on the heap";
  Engine.FontList.Add();
  Engine.ParticleEmitterList.Add()->Particles.Add();
  Engine.TextureShaderList.Add();
  Engine.EffectList.Add();
}

using EngineStartTest = ClosedEngineTest;

TEST_F(EngineStartTest, SetsTextAndTimingDefaultsAndCreatesTheInterfaces) {
  AutomationUseManualClock(123456789);
  // Values a previous run might have left behind.
  Engine.TextColour = 0;
  Engine.TextAlign = 2;
  Engine.TextRotation = 45.0f;
  Engine.TextScaleX = Engine.TextScaleY = 3.0f;
  Engine.TextDepth = 0.5f;
  Font leftover{};
  Engine.TextFont = &leftover;
  Engine.FrustumCulling = 1;
  Engine.FrustumPlanes[2][3] = 7.0f;
  Engine.KeyboardState[0x39] = 0x80;

  ASSERT_EQ(EngineStart(), 1);
  EXPECT_EQ(Engine.TextFont, nullptr);
  EXPECT_EQ(Engine.TextColour, 0xFFFFFFFFu);
  EXPECT_EQ(Engine.TextAlign, 0);
  EXPECT_EQ(Engine.TextRotation, 0.0f);
  EXPECT_EQ(Engine.TextScaleX, 1.0f);
  EXPECT_EQ(Engine.TextScaleY, 1.0f);
  EXPECT_EQ(Engine.TextDepth, 0.0f);
  EXPECT_EQ(Engine.KeyboardState[0x39], 0);
  EXPECT_EQ(Engine.FrameTime, 0.016f);
  EXPECT_EQ(Engine.LastFrameStamp, 123456789);
  EXPECT_EQ(Engine.MeshLightDirection[0], -1.0f);
  EXPECT_EQ(Engine.MeshLightDirection[1], 0.0f);
  EXPECT_EQ(Engine.MeshLightDirection[2], 1.0f);
  EXPECT_EQ(Engine.FrustumCulling, 0);
  EXPECT_EQ(Engine.FrustumPlanes[2][3], 0.0f);
  EXPECT_NE(Engine.Direct3D, nullptr);
  EXPECT_NE(Engine.DirectInput, nullptr);
  EXPECT_NE(Engine.DirectSound, nullptr);
  // Start-up opens no window and makes no device.
  EXPECT_EQ(Engine.WindowHandle, nullptr);
  EXPECT_EQ(Engine.Device, nullptr);
}

TEST_F(EngineStartTest, DiscardsEveryListAndItsRecords) {
  FillEveryList();
  ASSERT_EQ(ListCounts(), std::vector<int>(16, 1));
  ASSERT_EQ(EngineStart(), 1);
  EXPECT_EQ(ListCounts(), std::vector<int>(16, 0));
  EXPECT_EQ(Engine.TextQueue.Index(), -1);
  EXPECT_EQ(Engine.FontList.Next(), nullptr);
}

TEST_F(EngineStartTest, ReplacesTheInterfacesOfAnEarlierStart) {
  // A start after an earlier, failed set-up replaces the top-level interfaces instead of
  // leaking them.
  ASSERT_EQ(EngineStart(), 1);
  IDirect3D9* firstDirect3D = Engine.Direct3D;
  ASSERT_NE(firstDirect3D, nullptr);
  IDirect3D9* held = firstDirect3D;
  held->AddRef();
  ASSERT_EQ(EngineStart(), 1);
  EXPECT_NE(Engine.Direct3D, nullptr);
  // The first interface lost the engine's reference: only ours is left.
  EXPECT_EQ(held->Release(), 0u);
}

TEST_F(EngineStartTest, StopsAtAMissingDirect3DWithListsAndDefaultsInPlace) {
  FillEveryList();
  AutomationSetFault(AutomationFault::Direct3DCreate, true);
  EXPECT_EQ(EngineStart(), 2);
  EXPECT_EQ(Engine.Direct3D, nullptr);
  EXPECT_EQ(Engine.DirectInput, nullptr);
  EXPECT_EQ(ListCounts(), std::vector<int>(16, 0));
  EXPECT_EQ(Engine.TextColour, 0xFFFFFFFFu);
}

TEST_F(EngineStartTest, MissingDirectInputIsNumberThree) {
  AutomationSetFault(AutomationFault::DirectInputCreate, true);
  EXPECT_EQ(EngineStart(), 3);
  EXPECT_NE(Engine.Direct3D, nullptr);
  EXPECT_EQ(Engine.DirectInput, nullptr);
  EXPECT_EQ(Engine.DirectSound, nullptr);
}

TEST_F(EngineStartTest, MissingDirectSoundIsNotFatal) {
  AutomationSetFault(AutomationFault::DirectSoundCreate, true);
  EXPECT_EQ(EngineStart(), 1);
  EXPECT_EQ(Engine.DirectSound, nullptr);
}

TEST(EngineErrorTexts, NumbersAndLatin1Bytes) {
  for (int number = 1; number <= kEngineErrorCount; ++number) {
    const std::string text = EngineErrorTexts[number];
    if (number == 6) {
      EXPECT_TRUE(text.empty());
      continue;
    }
    const std::string prefix = "#" + std::to_string(number) + " ";
    EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    // Only Latin-1: no UTF-8 lead bytes.
    for (unsigned char c : text) EXPECT_TRUE(c < 0xC0 || c == 0xFC || c == 0xF6) << number;
  }
  EXPECT_STREQ(EngineErrorTexts[1], "#1 Alles Okay");
  EXPECT_STREQ(EngineErrorTexts[13], "#13 DirectSound kann nicht  initialisiert werden");
  EXPECT_STREQ(EngineErrorTexts[14],
               "#14 Wave Header f\xFC"
               "r DirectSound ist fehlerhaft");
  EXPECT_STREQ(EngineErrorTexts[15],
               "#15 Wave Datei f\xFC"
               "r DirectSound konnte nicht ge\xF6"
               "ffnet werden");
  // The shader texts end in a line break, ready for the compiler's messages.
  const std::string shader = EngineErrorTexts[16];
  EXPECT_EQ(shader.back(), '\n');
  EXPECT_NE(shader.find("Texturshader konnte nicht erstellt werden: "), std::string::npos);
}

TEST_F(EngineTest, OpenScreenLeavesTheDocumentedState) {
  EXPECT_EQ(Engine.LastError, 1);
  EXPECT_EQ(Engine.ScreenWidth, 640);
  EXPECT_EQ(Engine.ScreenHeight, 640);
  EXPECT_EQ(Engine.WindowHandle, WindowID(0));
  EXPECT_NE(Engine.WindowHandle, nullptr);
  EXPECT_NE(Engine.KeyboardDevice, nullptr);
  EXPECT_NE(Engine.MouseDevice, nullptr);
  EXPECT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(Engine.ClearColour, 0u);
  EXPECT_EQ(Engine.ShadowMapping, 0);

  // Only the default font is in a list.
  std::vector<int> expected(16, 0);
  expected[12] = 1;
  EXPECT_EQ(ListCounts(), expected);
  Font* font = Engine.FontList.First();
  ASSERT_NE(font, nullptr);
  EXPECT_NE(font->D3DFont, nullptr);
  EXPECT_NE(font->D3DSprite, nullptr);
  EXPECT_EQ(font->Description.Height, 16);
  EXPECT_EQ(font->Description.Width, 0u);
  EXPECT_EQ(font->Description.Weight, 600u);
  EXPECT_EQ(font->Description.MipLevels, 0u);
  EXPECT_EQ(font->Description.Italic, FALSE);
  EXPECT_EQ(font->Description.CharSet, 1);
  EXPECT_EQ(font->Description.OutputPrecision, 4);
  EXPECT_EQ(font->Description.Quality, 0);
  EXPECT_EQ(font->Description.PitchAndFamily, 0);
  EXPECT_STREQ(font->Description.FaceName, "");

  // Windowed present parameters.
  D3DDISPLAYMODE desktop{};
  ASSERT_EQ(Engine.Direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop), D3D_OK);
  const D3DPRESENT_PARAMETERS& pp = Engine.PresentParameters;
  // Asked for as 0 x 0, the back buffer takes the client size, which the device writes back.
  EXPECT_EQ(pp.BackBufferWidth, 640u);
  EXPECT_EQ(pp.BackBufferHeight, 640u);
  EXPECT_EQ(pp.BackBufferFormat, desktop.Format);
  EXPECT_EQ(pp.BackBufferCount, 1u);
  EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_NONE);
  EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_COPY);
  EXPECT_EQ(pp.hDeviceWindow, Engine.WindowHandle);
  EXPECT_EQ(pp.Windowed, TRUE);
  EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
  EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
  EXPECT_EQ(pp.Flags, static_cast<DWORD>(D3DPRESENTFLAG_LOCKABLE_BACKBUFFER));
  EXPECT_EQ(pp.FullScreen_RefreshRateInHz, 0u);
  EXPECT_EQ(pp.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_DEFAULT));

  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  back->Release();
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Height, 640u);
}

TEST_F(EngineTest, DefaultRenderStatesAreApplied) {
  struct Expected {
    D3DRENDERSTATETYPE state;
    DWORD value;
  };
  const Expected states[] = {
      {D3DRS_ZENABLE, TRUE},
      {D3DRS_FILLMODE, D3DFILL_SOLID},
      {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
      {D3DRS_ZWRITEENABLE, TRUE},
      {D3DRS_ALPHATESTENABLE, FALSE},
      {D3DRS_LASTPIXEL, TRUE},
      {D3DRS_SRCBLEND, D3DBLEND_ONE},
      {D3DRS_CULLMODE, D3DCULL_NONE},
      {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
      {D3DRS_ALPHAREF, 0},
      {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
      {D3DRS_DITHERENABLE, FALSE},
      {D3DRS_ALPHABLENDENABLE, FALSE},
      {D3DRS_FOGENABLE, FALSE},
      {D3DRS_FOGCOLOR, 0},
      {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
      {D3DRS_FOGSTART, 0},
      {D3DRS_FOGEND, 1},
      {D3DRS_FOGDENSITY, 1},
      {D3DRS_RANGEFOGENABLE, FALSE},
      {D3DRS_CLIPPING, TRUE},
      {D3DRS_LIGHTING, TRUE},
      {D3DRS_SPECULARENABLE, FALSE},
  };
  // Disturb everything first, so each value must come from ApplyDefaultRenderStates itself.
  for (const Expected& e : states) Engine.Device->SetRenderState(e.state, e.value ^ 0x5u);
  ApplyDefaultRenderStates();
  for (const Expected& e : states) {
    DWORD value = 0xDEADBEEF;
    Engine.Device->GetRenderState(e.state, &value);
    EXPECT_EQ(value, e.value) << "render state " << e.state;
  }
  const std::pair<D3DSAMPLERSTATETYPE, DWORD> samplers[] = {{D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
                                                            {D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
                                                            {D3DSAMP_MIPFILTER, D3DTEXF_LINEAR},
                                                            {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
                                                            {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP}};
  for (const auto& [type, expected] : samplers) {
    DWORD value = 0;
    Engine.Device->GetSamplerState(0, type, &value);
    EXPECT_EQ(value, expected) << "sampler state " << type;
  }
}

TEST_F(EngineTest, SecondOpenScreenReportsTwelveAndChangesNothingElse) {
  // State an application might have built since the first OpenScreen.
  Engine.TextColour = 0x12345678;
  Camera* camera = Engine.CameraList.Add();
  camera->FieldOfView = 60.0f;
  Font* font = Engine.FontList.First();
  IDirect3DDevice9* device = Engine.Device;
  HWND window = Engine.WindowHandle;
  D3DPRESENT_PARAMETERS pp = Engine.PresentParameters;
  const std::vector<int> counts = ListCounts();

  EXPECT_EQ(OpenScreen(10, 10, 320, 200, "again", kDemoWindowFlags), 12);
  EXPECT_EQ(Engine.LastError, 12);
  EXPECT_EQ(Engine.TextColour, 0x12345678u);
  EXPECT_EQ(ListCounts(), counts);
  EXPECT_EQ(Engine.CameraList.First(), camera);
  EXPECT_EQ(Engine.FontList.First(), font);
  EXPECT_EQ(Engine.Device, device);
  EXPECT_EQ(Engine.WindowHandle, window);
  EXPECT_EQ(WindowID(0), window);
  EXPECT_EQ(Engine.ScreenWidth, 640);
  EXPECT_EQ(std::memcmp(&pp, &Engine.PresentParameters, sizeof(pp)), 0);
}

TEST_F(EngineTest, ShutdownClosesEverythingAndTheScreenOpensAgain) {
  Texture* texture = Engine.TextureList.Add();
  texture->D3DTexture = engine_test::MakeSolidTexture(Engine.Device, 0xFF112233);
  Engine.SkyBox.Textures[3] = engine_test::MakeSolidTexture(Engine.Device, 0xFF445566);

  EngineShutdown();
  EXPECT_EQ(WindowID(0), nullptr);
  EXPECT_EQ(Engine.WindowHandle, nullptr);
  EXPECT_EQ(Engine.Device, nullptr);
  EXPECT_EQ(Engine.Direct3D, nullptr);
  EXPECT_EQ(Engine.KeyboardDevice, nullptr);
  EXPECT_EQ(Engine.SkyBox.Textures[3], nullptr);
  EXPECT_EQ(Engine.LastError, 0);
  EXPECT_EQ(Engine.TextColour, 0u);
  EXPECT_EQ(ListCounts(), std::vector<int>(16, 0));
  // A second shutdown finds nothing to do.
  EngineShutdown();

  ASSERT_EQ(OpenScreen(0, 0, 320, 240, "reopened", kDemoWindowFlags), 1);
  EXPECT_NE(WindowID(0), nullptr);
  EXPECT_EQ(Engine.ScreenWidth, 320);
  EXPECT_EQ(Engine.FontList.Count(), 1);
}

}  // namespace
