// The frame: pass order, frame timing and rate, a lost device, the sky box and render views.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::ClosedEngineTest;
using engine_test::EngineTest;
using engine_test::kDemoWindowFlags;
using engine_test::LastFrame;
using engine_test::PassLog;
using engine_test::PixelAt;
using engine_test::Rgb;
using Passes = std::vector<std::string>;

// --- Pass order ----------------------------------------------------------------------------------

using PassOrderTest = EngineTest;

TEST_F(PassOrderTest, WithoutRenderViews) {
  PassLog::Start();
  EXPECT_EQ(RenderWorld(), 0);
  EXPECT_EQ(PassLog::passes,
            (Passes{"UpdateParticleEmitters", "BeginFrame", "SkyBoxPass", "DrawScreenImages",
                    "DrawMeshes", "DrawPrimitiveBuffers", "DrawAnimatedMeshes", "DrawSprites",
                    "DrawParticleEmitters", "DrawTextPass", "DrawScreenPrimitives", "EndFrame"}));
}

TEST_F(PassOrderTest, ShadowMappingAndCullingWithoutRenderViews) {
  Engine.ShadowMapping = 1;
  Engine.FrustumCulling = 1;
  PassLog::Start();
  RenderWorld();
  EXPECT_EQ(PassLog::passes,
            (Passes{"UpdateParticleEmitters", "BeginFrame", "UpdateFrustumPlanes", "SkyBoxPass",
                    "DrawScreenImages", "DrawMeshesShadowMapped", "DrawPrimitiveBuffers",
                    "DrawAnimatedMeshes", "DrawSprites", "DrawParticleEmitters", "DrawTextPass",
                    "DrawScreenPrimitives", "EndFrame"}));
}

TEST_F(PassOrderTest, RenderViewsNeverUseTheShadowPass) {
  Camera* camera = Engine.CameraList.Add();
  camera->Active = 1;
  for (int i = 0; i < 2; ++i) {
    RenderView* view = Engine.RenderViewList.Add();
    view->CameraHandle = camera;
    view->Viewport = D3DVIEWPORT9{static_cast<DWORD>(320 * i), 0, 320, 640, 0.0f, 1.0f};
  }
  Engine.ShadowMapping = 1;
  Engine.FrustumCulling = 1;
  PassLog::Start();
  RenderWorld();
  const Passes perView = {"UpdateFrustumPlanes", "SkyBoxPass",           "DrawScreenImages",
                          "DrawMeshes",          "DrawPrimitiveBuffers", "DrawAnimatedMeshes",
                          "DrawParticleEmitters"};
  Passes expected = {"UpdateParticleEmitters"};
  expected.insert(expected.end(), perView.begin(), perView.end());
  expected.insert(expected.end(), perView.begin(), perView.end());
  expected.insert(expected.end(), {"DrawSprites", "DrawTextPass", "DrawScreenPrimitives"});
  EXPECT_EQ(PassLog::passes, expected);
  // The scenes were balanced: the device accepts a new one.
  EXPECT_EQ(Engine.Device->BeginScene(), D3D_OK);
  EXPECT_EQ(Engine.Device->EndScene(), D3D_OK);
}

// The same order seen in the pixels: a screen image under a sprite under text. Where all three
// overlap the text's colour shows; where the text leaves a gap the sprite's; elsewhere the image's.
TEST_F(PassOrderTest, LaterPassesDrawOverEarlierOnes) {
  Texture* red = CreateTexture(64, 64, 0xFFFF0000);
  Texture* green = CreateTexture(32, 32, 0xFF00FF00);
  ASSERT_NE(red, nullptr);
  ASSERT_NE(green, nullptr);
  ScreenImage* image = CreateScreenImage(red);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(PlaceScreenImage(image, 100, 100, 1), 1);
  Sprite* sprite = CreateSprite(green);
  ASSERT_NE(sprite, nullptr);
  ASSERT_EQ(DrawSprite(sprite, 110, 110), 1);
  ASSERT_EQ(DrawText(112, 112, "MMMM"), 1);  // the default font's text is white
  RenderWorld();
  Flip();
  const AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 102, 102)), 0xFF0000u) << "the image alone";
  EXPECT_EQ(Rgb(PixelAt(frame, 138, 138)), 0x00FF00u) << "the sprite over the image";
  int whitePixels = 0, greenPixels = 0;
  for (int y = 110; y < 142; ++y)
    for (int x = 110; x < 142; ++x) {
      whitePixels += Rgb(PixelAt(frame, x, y)) == 0xFFFFFFu;
      greenPixels += Rgb(PixelAt(frame, x, y)) == 0x00FF00u;
    }
  EXPECT_GT(whitePixels, 20) << "the text over the sprite";
  EXPECT_GT(greenPixels, 200);
}

// --- Timing and frame rate -----------------------------------------------------------------------

class FrameTimingTest : public ClosedEngineTest {
 protected:
  // Near the top of the 64-bit range, where a difference taken after conversion to floating
  // point would lose the low digits.
  static constexpr uint64_t kStart = (uint64_t{1} << 60) + 5;
  void SetUp() override {
    ClosedEngineTest::SetUp();
    AutomationUseManualClock(kStart);
    ASSERT_EQ(OpenScreen(0, 0, 640, 640, "timing", kDemoWindowFlags), 1);
  }
};

TEST_F(FrameTimingTest, FlipMeasuresTheExactClockDifference) {
  EXPECT_EQ(Engine.LastFrameStamp, static_cast<int64_t>(kStart));
  EXPECT_EQ(Engine.FrameTime, 0.016f);  // before the first Flip
  EXPECT_EQ(ReadSystemTime(), static_cast<int64_t>(kStart));

  AutomationAdvanceClock(1);
  Flip();
  EXPECT_FLOAT_EQ(Engine.FrameTime, 1.0e-7f);
  EXPECT_EQ(Engine.LastFrameStamp, static_cast<int64_t>(kStart + 1));

  AutomationAdvanceClock(166667);
  Flip();
  EXPECT_FLOAT_EQ(Engine.FrameTime, 0.0166667f);
  EXPECT_EQ(Engine.LastFrameStamp, static_cast<int64_t>(kStart + 166668));

  Flip();  // no time passed
  EXPECT_EQ(Engine.FrameTime, 0.0f);
}

TEST_F(FrameTimingTest, FrameRateRefreshesOnlyPastHalfASecond) {
  // Frames of a quarter second: two of them make exactly 0.5 s, which is not enough.
  std::vector<int> rates;
  for (int frame = 0; frame < 6; ++frame) {
    AutomationAdvanceClock(2500000);
    Flip();
    rates.push_back(FrameRate());
  }
  // The third frame passes 0.5 s: 3 frames counted, reported doubled; the window starts again
  // and closes once more in the sixth frame.
  EXPECT_EQ(rates, (std::vector<int>{0, 0, 6, 6, 6, 6}));
  EXPECT_EQ(Engine.FrameRateFrames, 0);
  EXPECT_EQ(Engine.FrameRateSeconds, 0.0f);
  AutomationAdvanceClock(2500000);
  Flip();
  EXPECT_EQ(FrameRate(), 6);
  EXPECT_EQ(Engine.FrameRateFrames, 1);
  EXPECT_EQ(Engine.FrameRateSeconds, 0.25f);
}

TEST_F(FrameTimingTest, FrameRateCountsItsCallsNotTheFrames) {
  // Eighth-second frames: once per frame, the window closes in the fifth frame (0.625 s).
  std::vector<int> once;
  for (int frame = 0; frame < 5; ++frame) {
    AutomationAdvanceClock(1250000);
    Flip();
    once.push_back(FrameRate());
  }
  EXPECT_EQ(once, (std::vector<int>{0, 0, 0, 0, 10}));

  // Twice per frame, every call counts as a frame and adds the frame time again: the window
  // closes after half the frames, in the third one, on the fifth call.
  EngineShutdown();
  AutomationUseManualClock(kStart);
  ASSERT_EQ(OpenScreen(0, 0, 640, 640, "timing", kDemoWindowFlags), 1);
  std::vector<int> twice;
  for (int frame = 0; frame < 3; ++frame) {
    AutomationAdvanceClock(1250000);
    Flip();
    twice.push_back(FrameRate());
    twice.push_back(FrameRate());
  }
  EXPECT_EQ(twice, (std::vector<int>{0, 0, 0, 0, 10, 10}));
  EXPECT_EQ(Engine.FrameRateFrames, 1);
}

// --- Lost device ---------------------------------------------------------------------------------

using LostDeviceTest = EngineTest;

TEST_F(LostDeviceTest, NothingIsDrawnUntilFlipResetsTheDevice) {
  Engine.ClearColour = 0xFF0000FF;
  RenderWorld();
  Flip();
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 320, 320)), 0x0000FFu);

  AutomationLoseDevice(Engine.Device);
  Engine.ClearColour = 0xFF00FF00;
  const uint64_t presents = AutomationPresentCount();
  const uint64_t resets = AutomationResetCount();

  // The frame in which the loss is discovered: Present fails and the reset fails too.
  RenderWorld();
  Flip();
  EXPECT_NE(Engine.PresentResult, 0);
  EXPECT_EQ(AutomationPresentCount(), presents);
  EXPECT_EQ(AutomationResetCount(), resets);

  // Work queued while the device is known to be lost.
  Engine.SpriteDrawQueue.Add()->X = 5.0f;
  TextCommand* text = Engine.TextQueue.Add();
  text->Text = "kept";
  text->FontHandle = Engine.FontList.First();

  // While lost, only the particle update runs and the queues keep their contents.
  for (int frame = 0; frame < 2; ++frame) {
    PassLog::Start();
    EXPECT_EQ(RenderWorld(), 0);
    EXPECT_EQ(PassLog::passes, (Passes{"UpdateParticleEmitters"}));
    EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 1);
    EXPECT_EQ(Engine.TextQueue.Count(), 1);
    EXPECT_EQ(Flip(), 0);
    EXPECT_NE(Engine.PresentResult, 0);
  }
  EXPECT_EQ(AutomationPresentCount(), presents);

  // Once the device can be reset, Flip's recovery succeeds...
  AutomationMakeDeviceResettable(Engine.Device);
  Flip();
  EXPECT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(AutomationResetCount(), resets + 1);

  // ...and the next frame draws again.
  PassLog::Start();
  RenderWorld();
  EXPECT_EQ(PassLog::passes.size(), 12u);
  // The text kept through the loss was drawn and left its queue.
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  Flip();
  EXPECT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(AutomationPresentCount(), presents + 1);
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 320, 320)), 0x00FF00u);
}

// --- Sky box -------------------------------------------------------------------------------------

struct SkyVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR diffuse;
  float u, v;
};
static_assert(sizeof(SkyVertex) == 36);

// Face colours by face index: +z, -z, +x, -x, +y, -y.
constexpr uint32_t kFaceColours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                      0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};

class SkyBoxTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(Engine.Device->CreateVertexBuffer(24 * sizeof(SkyVertex), D3DUSAGE_WRITEONLY, 0x152,
                                                D3DPOOL_MANAGED, &buffer, nullptr),
              D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    auto* v = static_cast<SkyVertex*>(data);
    // Each face as a strip: top-left, top-right, bottom-left, bottom-right seen from inside.
    const float faces[6][4][3] = {
        {{-1, 1, 1}, {1, 1, 1}, {-1, -1, 1}, {1, -1, 1}},
        {{1, 1, -1}, {-1, 1, -1}, {1, -1, -1}, {-1, -1, -1}},
        {{1, 1, 1}, {1, 1, -1}, {1, -1, 1}, {1, -1, -1}},
        {{-1, 1, -1}, {-1, 1, 1}, {-1, -1, -1}, {-1, -1, 1}},
        {{-1, 1, -1}, {1, 1, -1}, {-1, 1, 1}, {1, 1, 1}},
        {{-1, -1, 1}, {1, -1, 1}, {-1, -1, -1}, {1, -1, -1}},
    };
    const float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int f = 0; f < 6; ++f) {
      for (int k = 0; k < 4; ++k) {
        v[f * 4 + k] = SkyVertex{faces[f][k][0], faces[f][k][1], faces[f][k][2], 0, 0, 0,
                                 0xFFFFFFFF,     uv[k][0],       uv[k][1]};
      }
    }
    buffer->Unlock();
    Engine.SkyBox.VertexBuffer = buffer;
    for (int f = 0; f < 6; ++f) {
      Engine.SkyBox.Textures[f] = engine_test::MakeSolidTexture(Engine.Device, kFaceColours[f]);
    }
    Engine.ClearColour = 0xFF202020;
  }

  // A camera at `eye` looking along `direction`, with its matrices for a viewport of the given
  // aspect; the device transforms are set to it as well.
  static Camera* AddCamera(D3DXVECTOR3 eye, D3DXVECTOR3 direction, uint8_t active,
                           float aspect = 1.0f, D3DXVECTOR3 up = D3DXVECTOR3(0, 1, 0)) {
    Camera* camera = Engine.CameraList.Add();
    camera->FieldOfView = 90.0f;
    camera->NearPlane = 0.1f;
    camera->FarPlane = 10.0f;
    const D3DXVECTOR3 at = eye + direction;
    std::memcpy(camera->Eye, &eye, sizeof(camera->Eye));
    std::memcpy(camera->LookAt, &at, sizeof(camera->LookAt));
    std::memcpy(camera->Up, &up, sizeof(camera->Up));
    camera->Active = active;
    D3DXMatrixPerspectiveFovLH(reinterpret_cast<D3DXMATRIX*>(&camera->Projection),
                               90.0f * 0.017453f, aspect, 0.1f, 10.0f);
    D3DXMatrixLookAtLH(reinterpret_cast<D3DXMATRIX*>(&camera->View), &eye, &at, &up);
    return camera;
  }

  static void UseCameraTransforms(const Camera* camera) {
    Engine.Device->SetTransform(D3DTS_PROJECTION, &camera->Projection);
    Engine.Device->SetTransform(D3DTS_VIEW, &camera->View);
  }

  static uint32_t CentrePixelAfterFrame(int x = 320, int y = 320) {
    RenderWorld();
    Flip();
    return Rgb(PixelAt(LastFrame(), x, y));
  }
};

TEST_F(SkyBoxTest, DrawsTheFaceEachDirectionLooksAt) {
  Engine.Viewport = D3DVIEWPORT9{0, 0, 640, 640, 0.0f, 1.0f};
  Camera* camera = AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 1);
  // The reset builds the device transforms from the active camera.
  ASSERT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(CentrePixelAfterFrame(), 0xFF0000u);
  // Near the edges of a 90 degree view the same face still fills the screen.
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 40, 600)), 0xFF0000u);

  const struct {
    D3DXVECTOR3 direction;
    D3DXVECTOR3 up;
    uint32_t colour;
  } views[] = {
      {D3DXVECTOR3(0, 0, -1), D3DXVECTOR3(0, 1, 0), 0x00FF00},
      {D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 1, 0), 0x0000FF},
      {D3DXVECTOR3(-1, 0, 0), D3DXVECTOR3(0, 1, 0), 0xFFFF00},
      {D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(0, 0, 1), 0x00FFFF},
      {D3DXVECTOR3(0, -1, 0), D3DXVECTOR3(0, 0, 1), 0xFF00FF},
  };
  for (const auto& view : views) {
    const D3DXVECTOR3 eye(0, 0, 0);
    const D3DXVECTOR3 at = eye + view.direction;
    std::memcpy(camera->LookAt, &at, sizeof(camera->LookAt));
    std::memcpy(camera->Up, &view.up, sizeof(camera->Up));
    ASSERT_EQ(ResetDevice(5), 0);
    EXPECT_EQ(CentrePixelAfterFrame(), view.colour);
  }
}

TEST_F(SkyBoxTest, TheBoxTravelsWithTheEye) {
  // Far from the origin (beyond the far plane) the box is still around the viewer.
  Camera* camera = AddCamera(D3DXVECTOR3(50, -20, 7), D3DXVECTOR3(0, 0, 1), 1);
  UseCameraTransforms(camera);
  EXPECT_EQ(CentrePixelAfterFrame(), 0xFF0000u);
}

TEST_F(SkyBoxTest, CameraChoiceFollowsTheCursorAndActiveFlags) {
  // The device always looks from the origin along +z; only the chosen camera's eye moves the
  // box. From an eye at z = 100 the box lies beyond the far plane and the clear colour shows.
  const uint32_t box = 0xFF0000;
  const uint32_t clear = 0x202020;
  Camera* atOrigin = AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 0);
  Camera* distant = AddCamera(D3DXVECTOR3(0, 0, 100), D3DXVECTOR3(0, 0, 1), 0);
  UseCameraTransforms(atOrigin);

  // No camera active: the walk ends on the last one.
  Engine.CameraList.Reset();
  EXPECT_EQ(CentrePixelAfterFrame(), clear);

  // The current camera is used when its flag is non-zero, even when it is not 1.
  atOrigin->Active = 2;
  Engine.CameraList.First();
  EXPECT_EQ(CentrePixelAfterFrame(), box);

  // A current camera that is not active leads to the first camera flagged 1.
  atOrigin->Active = 1;
  distant->Active = 0;
  Engine.CameraList.Last();
  EXPECT_EQ(CentrePixelAfterFrame(), box);
  atOrigin->Active = 0;
  distant->Active = 1;
  Engine.CameraList.First();
  EXPECT_EQ(CentrePixelAfterFrame(), clear);

  // The walk looks for a flag of exactly 1; other non-zero flags count only for the current one.
  atOrigin->Active = 2;
  distant->Active = 1;
  Engine.CameraList.Reset();
  EXPECT_EQ(CentrePixelAfterFrame(), clear);
}

TEST_F(SkyBoxTest, RestoresItsStatesAfterDrawing) {
  AddCamera(D3DXVECTOR3(2, 3, 4), D3DXVECTOR3(0, 0, 1), 1);
  IDirect3DDevice9* device = Engine.Device;
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  SkyBoxPass();
  ASSERT_EQ(device->EndScene(), D3D_OK);
  DWORD value = 0;
  device->GetSamplerState(0, D3DSAMP_ADDRESSU, &value);
  EXPECT_EQ(value, static_cast<DWORD>(D3DTADDRESS_WRAP));
  device->GetSamplerState(0, D3DSAMP_ADDRESSV, &value);
  EXPECT_EQ(value, static_cast<DWORD>(D3DTADDRESS_WRAP));
  device->GetRenderState(D3DRS_ZENABLE, &value);
  EXPECT_EQ(value, static_cast<DWORD>(TRUE));
  device->GetRenderState(D3DRS_ZWRITEENABLE, &value);
  EXPECT_EQ(value, static_cast<DWORD>(TRUE));
  device->GetRenderState(D3DRS_LIGHTING, &value);
  EXPECT_EQ(value, static_cast<DWORD>(TRUE));
  // The world transform places the box at the eye; the last face's texture stays bound.
  D3DMATRIX world{};
  device->GetTransform(D3DTS_WORLD, &world);
  EXPECT_FLOAT_EQ(world._11, 1.0f);
  EXPECT_FLOAT_EQ(world._22, 1.0f);
  EXPECT_FLOAT_EQ(world._41, 2.0f);
  EXPECT_FLOAT_EQ(world._42, 3.0f);
  EXPECT_FLOAT_EQ(world._43, 4.0f);
  IDirect3DBaseTexture9* bound = nullptr;
  device->GetTexture(0, &bound);
  EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(Engine.SkyBox.Textures[5]));
  if (bound != nullptr) bound->Release();
}

// Device state the sky box pass would touch, to see that it was left alone.
struct TouchedState {
  DWORD addressU, addressV, zEnable, zWrite, lighting, fvf;
  D3DMATRIX world;
  IDirect3DBaseTexture9* texture;

  static TouchedState Read() {
    TouchedState s{};
    IDirect3DDevice9* device = Engine.Device;
    device->GetSamplerState(0, D3DSAMP_ADDRESSU, &s.addressU);
    device->GetSamplerState(0, D3DSAMP_ADDRESSV, &s.addressV);
    device->GetRenderState(D3DRS_ZENABLE, &s.zEnable);
    device->GetRenderState(D3DRS_ZWRITEENABLE, &s.zWrite);
    device->GetRenderState(D3DRS_LIGHTING, &s.lighting);
    device->GetFVF(&s.fvf);
    device->GetTransform(D3DTS_WORLD, &s.world);
    device->GetTexture(0, &s.texture);
    if (s.texture != nullptr) s.texture->Release();
    return s;
  }
  bool operator==(const TouchedState& o) const {
    return addressU == o.addressU && addressV == o.addressV && zEnable == o.zEnable &&
           zWrite == o.zWrite && lighting == o.lighting && fvf == o.fvf &&
           std::memcmp(&world, &o.world, sizeof(world)) == 0 && texture == o.texture;
  }
};

void DisturbState() {
  IDirect3DDevice9* device = Engine.Device;
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_MIRROR);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  D3DXMATRIX world;
  D3DXMatrixTranslation(&world, 3.0f, 4.0f, 5.0f);
  device->SetTransform(D3DTS_WORLD, &world);
}

TEST_F(SkyBoxTest, WithoutACameraNothingChanges) {
  DisturbState();
  const TouchedState before = TouchedState::Read();
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  SkyBoxPass();
  Engine.Device->EndScene();
  EXPECT_TRUE(TouchedState::Read() == before);
}

TEST_F(SkyBoxTest, WithoutAVertexBufferNothingChanges) {
  AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 1);
  SafeRelease(Engine.SkyBox.VertexBuffer);
  DisturbState();
  const TouchedState before = TouchedState::Read();
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  SkyBoxPass();
  Engine.Device->EndScene();
  EXPECT_TRUE(TouchedState::Read() == before);
}

// --- Render views --------------------------------------------------------------------------------

using RenderViewTest = SkyBoxTest;

TEST_F(RenderViewTest, EachViewClearsItsOwnViewport) {
  SafeRelease(Engine.SkyBox.VertexBuffer);  // clears only
  Camera* camera = AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 1);
  Engine.ClearColour = 0xFF800000;
  RenderView* left = Engine.RenderViewList.Add();
  left->CameraHandle = camera;
  left->Viewport = D3DVIEWPORT9{0, 0, 200, 640, 0.0f, 1.0f};
  left->ClearColour = 0xFF0000FF;
  RenderView* right = Engine.RenderViewList.Add();
  right->CameraHandle = camera;
  right->Viewport = D3DVIEWPORT9{440, 0, 200, 640, 0.0f, 1.0f};
  right->ClearColour = 0xFF00FF00;
  RenderWorld();
  Flip();
  const AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 100, 320)), 0x0000FFu);
  EXPECT_EQ(Rgb(PixelAt(frame, 199, 10)), 0x0000FFu);
  EXPECT_EQ(Rgb(PixelAt(frame, 200, 10)), 0x800000u);
  EXPECT_EQ(Rgb(PixelAt(frame, 320, 320)), 0x800000u);
  EXPECT_EQ(Rgb(PixelAt(frame, 439, 630)), 0x800000u);
  EXPECT_EQ(Rgb(PixelAt(frame, 440, 630)), 0x00FF00u);
  EXPECT_EQ(Rgb(PixelAt(frame, 639, 0)), 0x00FF00u);
}

TEST_F(RenderViewTest, EachViewDrawsThroughItsOwnCamera) {
  Camera* ahead = AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 1, 0.5f);
  Camera* aside = AddCamera(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(-1, 0, 0), 0, 0.5f);
  RenderView* left = Engine.RenderViewList.Add();
  left->CameraHandle = ahead;
  left->Viewport = D3DVIEWPORT9{0, 0, 320, 640, 0.0f, 1.0f};
  RenderView* right = Engine.RenderViewList.Add();
  right->CameraHandle = aside;
  right->Viewport = D3DVIEWPORT9{320, 0, 320, 640, 0.0f, 1.0f};
  // Each view clears, then draws the sky box with its own camera's transforms.
  RenderWorld();
  Flip();
  const AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 160, 320)), 0xFF0000u);
  EXPECT_EQ(Rgb(PixelAt(frame, 480, 320)), 0xFFFF00u);
}

}  // namespace
