// Window and device set-up: error numbers of each failing step, full screen, frame sync and
// device reset with the restoration of device-dependent state.
#include <gtest/gtest.h>

#include <cmath>

#include "support/engine_fixture.h"

namespace {

using engine_test::ClosedEngineTest;
using engine_test::EngineTest;
using engine_test::kDemoWindowFlags;

int OpenDemoScreen() {
  return OpenScreen(0, 0, 640, 640, "Screen test", kDemoWindowFlags);
}

// --- Failures and their numbers ------------------------------------------------------------------

using ScreenFailureTest = ClosedEngineTest;

struct FaultCase {
  AutomationFault fault;
  int expected;
};

TEST_F(ScreenFailureTest, EachFailingStepReportsItsNumberAndOpensNoWindow) {
  const FaultCase cases[] = {
      {AutomationFault::Direct3DCreate, 2},        {AutomationFault::DirectInputCreate, 3},
      {AutomationFault::DepthFormatD16, 3},        {AutomationFault::CheckDeviceType, 4},
      {AutomationFault::GetAdapterDisplayMode, 5}, {AutomationFault::GetDeviceCaps, 11},
      {AutomationFault::CreateDevice, 2},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    AutomationSetFault(c.fault, true);
    EXPECT_EQ(OpenDemoScreen(), c.expected);
    EXPECT_EQ(Engine.LastError, c.expected);
    EXPECT_EQ(Engine.Device, nullptr);
    EXPECT_EQ(Engine.WindowHandle, nullptr);
    EXPECT_EQ(WindowID(0), nullptr);
    AutomationSetFault(c.fault, false);
  }
  // None of the failures blocks a later, healthy set-up.
  EXPECT_EQ(OpenDemoScreen(), 1);
  EXPECT_NE(WindowID(0), nullptr);
}

TEST_F(ScreenFailureTest, FailedDeviceCreationLetsALaterOpenScreenSucceed) {
  AutomationSetFault(AutomationFault::CreateDevice, true);
  ASSERT_EQ(OpenDemoScreen(), 2);
  EXPECT_EQ(WindowID(0), nullptr);
  EXPECT_EQ(Engine.WindowHandle, nullptr);
  AutomationSetFault(AutomationFault::CreateDevice, false);
  EXPECT_EQ(OpenDemoScreen(), 1);
  EXPECT_EQ(Engine.LastError, 1);
  EXPECT_EQ(Engine.WindowHandle, WindowID(0));
  EXPECT_NE(Engine.Device, nullptr);
}

TEST_F(ScreenFailureTest, DefaultFontFailureIsRecordedAndLeavesNoBrokenFont) {
  AutomationSetFault(AutomationFault::CreateFont, true);
  EXPECT_EQ(OpenDemoScreen(), 10);
  EXPECT_EQ(Engine.LastError, 10);
  // The window and device stay; the font list holds no record without a font.
  EXPECT_NE(Engine.Device, nullptr);
  EXPECT_NE(WindowID(0), nullptr);
  EXPECT_EQ(Engine.FontList.Count(), 0);
  // The frame still runs without a font.
  EXPECT_EQ(RenderWorld(), 0);
  EXPECT_EQ(Flip(), 0);
}

TEST_F(ScreenFailureTest, DefaultFontNeedsItsSpriteToo) {
  AutomationSetFault(AutomationFault::CreateSprite, true);
  EXPECT_EQ(OpenDemoScreen(), 10);
  EXPECT_EQ(Engine.LastError, 10);
  EXPECT_EQ(Engine.FontList.Count(), 0);
}

TEST_F(ScreenFailureTest, SoundCooperativeLevelFailureIsNineButSucceeds) {
  AutomationSetFault(AutomationFault::SoundCooperativeLevel, true);
  EXPECT_EQ(OpenDemoScreen(), 1);
  EXPECT_EQ(Engine.LastError, 9);
  EXPECT_EQ(Engine.FontList.Count(), 1);
}

TEST_F(ScreenFailureTest, MissingInputDevicesDoNotAffectTheResult) {
  AutomationSetFault(AutomationFault::KeyboardDevice, true);
  AutomationSetFault(AutomationFault::MouseDevice, true);
  AutomationSetFault(AutomationFault::JoystickDevice, true);
  AutomationSetFault(AutomationFault::DirectSoundCreate, true);
  EXPECT_EQ(OpenDemoScreen(), 1);
  EXPECT_EQ(Engine.LastError, 1);
  EXPECT_EQ(Engine.KeyboardDevice, nullptr);
  EXPECT_EQ(Engine.MouseDevice, nullptr);
  EXPECT_EQ(Engine.JoystickDevice, nullptr);
  EXPECT_EQ(Engine.DirectSound, nullptr);
}

TEST_F(ScreenFailureTest, DeviceSetUpWithoutDirect3DOrWithADeviceIsSix) {
  EXPECT_EQ(OpenWindowedScreen(0, 0, 0, 100, 100, "none", kDemoWindowFlags), 6);
  EXPECT_EQ(OpenFullScreen(640, 480, 32, 60, ""), 6);
  ASSERT_EQ(OpenDemoScreen(), 1);
  HWND window = Engine.WindowHandle;
  EXPECT_EQ(OpenWindowedScreen(0, 0, 0, 100, 100, "second", kDemoWindowFlags), 6);
  EXPECT_EQ(OpenFullScreen(640, 480, 32, 60, ""), 6);
  EXPECT_EQ(Engine.WindowHandle, window);
}

// --- Windowed modes ------------------------------------------------------------------------------

using WindowedModeTest = ClosedEngineTest;

TEST_F(WindowedModeTest, ModesOneToFourPickTheWindowStyle) {
  constexpr DWORD kStyleBits = 0xFFFF0000u;
  const struct {
    int mode;
    int flags;
    DWORD style;
  } cases[] = {
      {1, 0x00CB0001, 0x00C00000},  // the flags argument is ignored by the fixed modes
      {2, 0, 0x00CA0000},
      {3, 0, 0x00CB0000},
      {4, 0x00C80001, 0x00C80000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(OpenScreenMode(40, 50, 320, 240, "mode", c.flags, c.mode), 1);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(Engine.WindowHandle, GWL_STYLE));
    EXPECT_EQ(style & kStyleBits & ~static_cast<DWORD>(WS_VISIBLE), c.style);
    EXPECT_EQ(Engine.ScreenWidth, 320);
    EXPECT_EQ(Engine.ScreenHeight, 240);
    EXPECT_EQ(Engine.PresentParameters.Windowed, TRUE);
    EngineShutdown();
  }
}

// --- Full screen ---------------------------------------------------------------------------------

using FullScreenTest = ClosedEngineTest;

TEST_F(FullScreenTest, ColourDepthEightFailsBeforeAnyWindow) {
  ASSERT_EQ(EngineStart(), 1);
  EXPECT_EQ(OpenFullScreen(640, 480, 8, 60, ""), 8);
  EXPECT_EQ(WindowID(0), nullptr);
  EXPECT_EQ(Engine.WindowHandle, nullptr);
}

TEST_F(FullScreenTest, UnlistedSizeOrRefreshRateIsSeven) {
  ASSERT_EQ(EngineStart(), 1);
  EXPECT_EQ(OpenFullScreen(12345, 77, 32, 60, ""), 7);
  // A listed size with a refresh rate the adapter does not offer.
  D3DDISPLAYMODE mode{};
  UINT count = Engine.Direct3D->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8);
  ASSERT_GT(count, 0u);
  ASSERT_EQ(Engine.Direct3D->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, 0, &mode),
            D3D_OK);
  EXPECT_EQ(OpenFullScreen(static_cast<int>(mode.Width), static_cast<int>(mode.Height), 32,
                           static_cast<int>(mode.RefreshRate) + 1000, ""),
            7);
  EXPECT_EQ(WindowID(0), nullptr);
  // Through OpenScreenMode the number reaches LastError.
  EngineShutdown();
  EXPECT_EQ(OpenScreenMode(0, 0, 12345, 77, "", 32, 5), 7);
  EXPECT_EQ(Engine.LastError, 7);
}

TEST_F(FullScreenTest, ModeEnumerationFaultsAreFiveOrSeven) {
  ASSERT_EQ(EngineStart(), 1);
  AutomationSetFault(AutomationFault::EnumAdapterModes, true);
  EXPECT_EQ(OpenFullScreen(640, 480, 32, 60, ""), 5);
  AutomationSetFault(AutomationFault::EnumAdapterModes, false);
  AutomationSetFault(AutomationFault::NoDisplayModes, true);
  EXPECT_EQ(OpenFullScreen(640, 480, 32, 60, ""), 7);
  EXPECT_EQ(WindowID(0), nullptr);
}

TEST_F(FullScreenTest, ListedModeOpensAPopupWithFullScreenParameters) {
  ASSERT_EQ(EngineStart(), 1);
  D3DDISPLAYMODE mode{};
  const UINT count = Engine.Direct3D->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8);
  for (UINT i = 0; i < count; ++i) {
    ASSERT_EQ(Engine.Direct3D->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, i, &mode),
              D3D_OK);
    if (mode.Width > 0 && mode.Height > 0) break;
  }
  if (mode.Width == 0 || mode.Height == 0) {
    GTEST_SKIP() << "the adapter lists no display mode with a size (headless display)";
  }
  const int result = OpenFullScreen(static_cast<int>(mode.Width), static_cast<int>(mode.Height), 32,
                                    static_cast<int>(mode.RefreshRate), "");
  ASSERT_EQ(result, 1);
  const D3DPRESENT_PARAMETERS& pp = Engine.PresentParameters;
  EXPECT_EQ(pp.BackBufferWidth, mode.Width);
  EXPECT_EQ(pp.BackBufferHeight, mode.Height);
  EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);
  EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(pp.Windowed, FALSE);
  EXPECT_EQ(pp.FullScreen_RefreshRateInHz, mode.RefreshRate);
  EXPECT_EQ(pp.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_ONE));
  EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
  EXPECT_EQ(Engine.WindowHandle, WindowID(0));
  EXPECT_EQ(WindowX(0), 0);
  EXPECT_EQ(WindowY(0), 0);
}

// --- Frame sync and reset ----------------------------------------------------------------------

using FrameSyncTest = EngineTest;

TEST_F(FrameSyncTest, ZeroSwitchesToImmediateAndResetsOnce) {
  ASSERT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_DEFAULT));
  const uint64_t resets = AutomationResetCount();
  EXPECT_EQ(SetFrameSync(0), 0);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  EXPECT_EQ(Engine.PresentResult, 0);
  // Already immediate and healthy: nothing to do.
  EXPECT_EQ(SetFrameSync(0), 0);
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  // Other values do nothing at all.
  EXPECT_EQ(SetFrameSync(7), 0);
  EXPECT_EQ(SetFrameSync(-1), 0);
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
  // One waits for the retrace.
  EXPECT_EQ(SetFrameSync(1), 0);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_ONE));
  EXPECT_EQ(AutomationResetCount(), resets + 2);
}

TEST_F(FrameSyncTest, SameIntervalOnALostDeviceStillResets) {
  ASSERT_EQ(SetFrameSync(0), 0);
  const uint64_t resets = AutomationResetCount();
  AutomationLoseDevice(Engine.Device);
  AutomationMakeDeviceResettable(Engine.Device);
  EXPECT_EQ(SetFrameSync(0), 0);
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  EXPECT_EQ(Engine.PresentResult, 0);
}

using ResetDeviceTest = EngineTest;

TEST_F(ResetDeviceTest, ModesOneAndTwoSetTheInterval) {
  const uint64_t resets = AutomationResetCount();
  EXPECT_EQ(ResetDevice(2), 0);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
  EXPECT_EQ(ResetDevice(1), 0);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval,
            static_cast<UINT>(D3DPRESENT_INTERVAL_ONE));
  EXPECT_EQ(AutomationResetCount(), resets + 2);
  EXPECT_EQ(Engine.PresentResult, 0);
}

TEST_F(ResetDeviceTest, ModeFiveRecoversWithUnchangedParameters) {
  D3DPRESENT_PARAMETERS before = Engine.PresentParameters;
  const uint64_t resets = AutomationResetCount();
  Engine.Device->SetRenderState(D3DRS_ZENABLE, FALSE);
  EXPECT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  EXPECT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(Engine.PresentParameters.PresentationInterval, before.PresentationInterval);
  EXPECT_EQ(Engine.PresentParameters.Windowed, before.Windowed);
  EXPECT_EQ(Engine.PresentParameters.BackBufferFormat, before.BackBufferFormat);
  // The fixed render state is applied again after the reset.
  DWORD z = 0;
  Engine.Device->GetRenderState(D3DRS_ZENABLE, &z);
  EXPECT_EQ(z, static_cast<DWORD>(TRUE));
  // Any other mode number recovers the same way.
  EXPECT_EQ(ResetDevice(99), 0);
  EXPECT_EQ(AutomationResetCount(), resets + 2);
}

TEST_F(ResetDeviceTest, ModesThreeAndFourSwitchWindowedAndKeepThePosition) {
  const int x = WindowX(0);
  const int y = WindowY(0);
  EXPECT_EQ(ResetDevice(4), 0);
  EXPECT_EQ(Engine.PresentParameters.Windowed, FALSE);
  EXPECT_EQ(Engine.SavedWindowX, x);
  EXPECT_EQ(Engine.SavedWindowY, y);

  EXPECT_EQ(ResetDevice(3), 0);
  EXPECT_EQ(Engine.PresentParameters.Windowed, TRUE);
  // Saved positions that are set are kept, and the window returns to them.
  EXPECT_EQ(Engine.SavedWindowX, x);
  EXPECT_EQ(Engine.SavedWindowY, y);
  EXPECT_EQ(WindowX(0), x);
  EXPECT_EQ(WindowY(0), y);
  EXPECT_EQ(Engine.PresentResult, 0);
}

TEST_F(ResetDeviceTest, ModeThreeTakesUnsetPositionsFromTheWindow) {
  Engine.SavedWindowX = 0;
  Engine.SavedWindowY = 0;
  const int x = WindowX(0);
  const int y = WindowY(0);
  EXPECT_EQ(ResetDevice(3), 0);
  EXPECT_EQ(Engine.SavedWindowX, x);
  EXPECT_EQ(Engine.SavedWindowY, y);
  EXPECT_EQ(Engine.PresentParameters.Windowed, TRUE);
}

TEST_F(ResetDeviceTest, ActiveCameraGetsViewportAndTransformsRebuilt) {
  Camera* idle = Engine.CameraList.Add();
  idle->FieldOfView = 10.0f;
  idle->Active = 0;
  Camera* camera = Engine.CameraList.Add();
  camera->FieldOfView = 60.0f;
  camera->NearPlane = 0.5f;
  camera->FarPlane = 100.0f;
  camera->Eye[0] = 1.0f;
  camera->Eye[1] = 2.0f;
  camera->Eye[2] = -5.0f;
  camera->LookAt[2] = 10.0f;
  camera->Up[1] = 1.0f;
  camera->Active = 1;
  Engine.Viewport = D3DVIEWPORT9{10, 20, 600, 400, 0.0f, 1.0f};

  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  // The screen size is taken as the viewport's width and height less its origin.
  EXPECT_EQ(Engine.ScreenWidth, 590);
  EXPECT_EQ(Engine.ScreenHeight, 380);

  D3DXMATRIX projection;
  D3DXMatrixPerspectiveFovLH(&projection, 60.0f * 0.017453f, 590.0f / 380.0f, 0.5f, 100.0f);
  D3DXVECTOR3 eye(1, 2, -5), at(0, 0, 10), up(0, 1, 0);
  D3DXMATRIX view;
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);

  D3DMATRIX deviceProjection{}, deviceView{};
  Engine.Device->GetTransform(D3DTS_PROJECTION, &deviceProjection);
  Engine.Device->GetTransform(D3DTS_VIEW, &deviceView);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_FLOAT_EQ(camera->Projection.m[r][c], projection.m[r][c]);
      EXPECT_FLOAT_EQ(deviceProjection.m[r][c], projection.m[r][c]);
      EXPECT_FLOAT_EQ(camera->View.m[r][c], view.m[r][c]);
      EXPECT_FLOAT_EQ(deviceView.m[r][c], view.m[r][c]);
    }
  }
  // The camera that is not active is left alone.
  EXPECT_FLOAT_EQ(idle->Projection.m[0][0], 0.0f);

  D3DVIEWPORT9 viewport{};
  Engine.Device->GetViewport(&viewport);
  EXPECT_EQ(viewport.X, 10u);
  EXPECT_EQ(viewport.Y, 20u);
  EXPECT_EQ(viewport.Width, 600u);
  EXPECT_EQ(viewport.Height, 400u);
}

TEST_F(ResetDeviceTest, WithoutCamerasTheScreenSizeStays) {
  Camera* inactive = Engine.CameraList.Add();
  inactive->Active = 0;
  Engine.Viewport = D3DVIEWPORT9{0, 0, 100, 100, 0.0f, 1.0f};
  ASSERT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(Engine.ScreenWidth, 640);
  EXPECT_EQ(Engine.ScreenHeight, 640);
  EXPECT_FLOAT_EQ(inactive->Projection.m[0][0], 0.0f);
}

TEST_F(ResetDeviceTest, FlaggedViewportIsSetAgain) {
  Engine.Viewport = D3DVIEWPORT9{5, 6, 200, 100, 0.0f, 1.0f};
  Engine.ViewportFlag = 1;
  ASSERT_EQ(ResetDevice(5), 0);
  D3DVIEWPORT9 viewport{};
  Engine.Device->GetViewport(&viewport);
  EXPECT_EQ(viewport.X, 5u);
  EXPECT_EQ(viewport.Y, 6u);
  EXPECT_EQ(viewport.Width, 200u);
  EXPECT_EQ(viewport.Height, 100u);
}

// A reset re-applies every light and enables it, keeping its own direction: a spot light aimed
// at the scene stays aimed at it.
TEST_F(ResetDeviceTest, LightsAreReappliedWithTheirOwnDirection) {
  Light* light = Engine.LightList.Add();
  light->LightIndex = 3;
  light->D3DLight.Type = D3DLIGHT_DIRECTIONAL;
  light->D3DLight.Diffuse = D3DCOLORVALUE{1.0f, 0.5f, 0.25f, 1.0f};
  light->D3DLight.Direction = D3DVECTOR{0.0f, -1.0f, 0.0f};
  ASSERT_EQ(ResetDevice(5), 0);

  EXPECT_EQ(light->D3DLight.Direction.y, -1.0f);
  D3DLIGHT9 deviceLight{};
  ASSERT_EQ(Engine.Device->GetLight(3, &deviceLight), D3D_OK);
  EXPECT_EQ(deviceLight.Direction.x, 0.0f);
  EXPECT_EQ(deviceLight.Direction.y, -1.0f);
  EXPECT_FLOAT_EQ(deviceLight.Diffuse.g, 0.5f);
  BOOL enabled = FALSE;
  ASSERT_EQ(Engine.Device->GetLightEnable(3, &enabled), D3D_OK);
  EXPECT_NE(enabled, FALSE);
}

TEST_F(ResetDeviceTest, RenderTargetTexturesAreReleasedAndMadeAgain) {
  Texture* target = Engine.TextureList.Add();
  target->RenderTarget = 1;
  target->Width = 32;
  target->Height = 16;
  target->Format = D3DFMT_A8R8G8B8;
  ASSERT_EQ(D3DXCreateTexture(Engine.Device, 32, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                              D3DPOOL_DEFAULT, &target->D3DTexture),
            D3D_OK);
  // An ordinary texture is left as it is.
  Texture* plain = Engine.TextureList.Add();
  plain->D3DTexture = engine_test::MakeSolidTexture(Engine.Device, 0xFF00FF00);
  IDirect3DTexture9* plainBefore = plain->D3DTexture;

  // A default-pool texture alive across Reset would make it fail.
  ASSERT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(Engine.PresentResult, 0);
  ASSERT_NE(target->D3DTexture, nullptr);
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(target->D3DTexture->GetLevelDesc(0, &desc), D3D_OK);
  EXPECT_EQ(desc.Width, 32u);
  EXPECT_EQ(desc.Height, 16u);
  EXPECT_EQ(desc.Usage, static_cast<DWORD>(D3DUSAGE_RENDERTARGET));
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(plain->D3DTexture, plainBefore);

  // A render target that cannot be made again is left null.
  AutomationSetFault(AutomationFault::CreateTexture, true);
  ASSERT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(target->D3DTexture, nullptr);
}

TEST_F(ResetDeviceTest, FailedResetLeavesAResultThatStopsDrawing) {
  AutomationLoseDevice(Engine.Device);
  EXPECT_EQ(ResetDevice(5), 0);
  EXPECT_NE(Engine.PresentResult, 0);
  AutomationMakeDeviceResettable(Engine.Device);
  EXPECT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(Engine.PresentResult, 0);
}

TEST(ScreenWithoutDevice, SyncAndResetDoNothing) {
  // Before any OpenScreen there is no device to reset.
  const uint64_t resets = AutomationResetCount();
  EXPECT_EQ(SetFrameSync(0), 0);
  EXPECT_EQ(ResetDevice(5), 0);
  EXPECT_EQ(AutomationResetCount(), resets);
  EXPECT_EQ(Engine.PresentResult, 0);
}

}  // namespace
