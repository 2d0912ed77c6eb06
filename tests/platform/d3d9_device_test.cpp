// The Direct3D 9 object and device: creation and adapter queries, injected faults, default state,
// the rules callers must respect (scenes, Reset, lost devices, locking, copies), Clear, Present
// and the automation read-back.
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>

#include "d3d9_test_support.h"

// Pixel-format helpers shared by the device and D3DX.
#include "../../platform/d3d9/pixel_format.h"

namespace d3d9_test {
namespace {

// --- Direct3DCreate9 and the adapter ---------------------------------------------------------

class Direct3DTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    AutomationClearFaults();
  }
  void TearDown() override { AutomationClearFaults(); }
};

TEST_F(Direct3DTest, CreateAcceptsTheSdkVersionWithOrWithoutTheDebugBit) {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  EXPECT_EQ(d3d->Release(), 0u);
  d3d = Direct3DCreate9(0x80000000u | D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  d3d->Release();
  EXPECT_EQ(Direct3DCreate9(31), nullptr);
  EXPECT_EQ(Direct3DCreate9(0), nullptr);
}

TEST_F(Direct3DTest, AdapterReportsTheDesktopAsX8R8G8B8AndListsSdlModes) {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  D3DDISPLAYMODE desktop;
  ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop), D3D_OK);
  EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
  EXPECT_GT(desktop.Width, 0u);
  EXPECT_GT(desktop.RefreshRate, 0u);
  EXPECT_EQ(d3d->GetAdapterCount(), 1u);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &desktop), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(0, nullptr), D3DERR_INVALIDCALL);

  UINT count = d3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8);
  ASSERT_GT(count, 0u);
  int sdlModes = SDL_GetNumDisplayModes(0);
  EXPECT_LE(count, static_cast<UINT>(sdlModes));
  for (UINT i = 0; i < count; ++i) {
    D3DDISPLAYMODE m;
    ASSERT_EQ(d3d->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, i, &m), D3D_OK);
    EXPECT_EQ(m.Format, D3DFMT_X8R8G8B8);
    EXPECT_GT(m.Width, 0u);
  }
  D3DDISPLAYMODE m;
  EXPECT_EQ(d3d->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, count, &m),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_A8R8G8B8), 0u)
      << "not a display format";

  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                   D3DRTYPE_SURFACE, D3DFMT_D16),
            D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                   D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8),
            D3DERR_NOTAVAILABLE);
  D3DCAPS9 caps;
  ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_NE(caps.VertexProcessingCaps, 0u);
  EXPECT_TRUE(caps.PresentationIntervals & D3DPRESENT_INTERVAL_IMMEDIATE);
  d3d->Release();
}

// Every injected fault makes its call fail, and only that call.
TEST_F(Direct3DTest, InjectedFaultsFailTheirCall) {
  AutomationSetFault(AutomationFault::Direct3DCreate, true);
  EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
  AutomationClearFaults();

  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  D3DDISPLAYMODE mode;
  D3DCAPS9 caps;
  struct Case {
    AutomationFault fault;
    std::function<bool()> fails;
  } cases[] = {
      {AutomationFault::GetAdapterDisplayMode,
       [&] { return FAILED(d3d->GetAdapterDisplayMode(0, &mode)); }},
      {AutomationFault::CheckDeviceType,
       [&] {
         return FAILED(
             d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE));
       }},
      {AutomationFault::DepthFormatD16,
       [&] {
         return FAILED(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                              D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16));
       }},
      {AutomationFault::GetDeviceCaps,
       [&] { return FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps)); }},
      {AutomationFault::EnumAdapterModes,
       [&] { return FAILED(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, &mode)); }},
      {AutomationFault::NoDisplayModes,
       [&] { return d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8) == 0; }},
  };
  for (auto& c : cases) {
    EXPECT_FALSE(c.fails()) << "fails without the fault: " << static_cast<int>(c.fault);
    AutomationSetFault(c.fault, true);
    EXPECT_TRUE(c.fails()) << "fault " << static_cast<int>(c.fault);
    AutomationSetFault(c.fault, false);
  }

  HWND window = MakeWindow(32, 32);
  D3DPRESENT_PARAMETERS pp = WindowedParameters(window, 32, 32);
  IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
  AutomationSetFault(AutomationFault::CreateDevice, true);
  EXPECT_TRUE(FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window,
                                       D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device)));
  EXPECT_EQ(device, nullptr);
  AutomationClearFaults();
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                              &device),
            D3D_OK);

  IDirect3DTexture9* tex = nullptr;
  IDirect3DSurface9* surf = nullptr;
  AutomationSetFault(AutomationFault::CreateTexture, true);
  EXPECT_TRUE(
      FAILED(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr)));
  EXPECT_EQ(tex, nullptr);
  AutomationSetFault(AutomationFault::CreateOffscreenSurface, true);
  EXPECT_TRUE(FAILED(
      device->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &surf, nullptr)));
  EXPECT_EQ(surf, nullptr);
  AutomationClearFaults();
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(d3d->Release(), 0u);
  DestroyWindow(window);
}

TEST_F(Direct3DTest, CreateDeviceNeedsALiveWindowAndTakesTheClientSizeWhenAskedForZero) {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  HWND window = MakeWindow(96, 72);
  D3DPRESENT_PARAMETERS pp = WindowedParameters(window, 0, 0);
  pp.BackBufferFormat = D3DFMT_UNKNOWN;
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                              &device),
            D3D_OK);
  EXPECT_EQ(pp.BackBufferWidth, 96u);
  EXPECT_EQ(pp.BackBufferHeight, 72u);
  EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);
  IDirect3DSurface9* bb = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
  D3DSURFACE_DESC desc;
  bb->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 96u);
  EXPECT_EQ(desc.Height, 72u);
  EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
  bb->Release();
  EXPECT_EQ(device->Release(), 0u);

  // No window, a destroyed window, or no vertex-processing choice: refused.
  D3DPRESENT_PARAMETERS bad = WindowedParameters(nullptr, 32, 32);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &bad,
                              &device),
            D3DERR_INVALIDCALL);
  D3DPRESENT_PARAMETERS ok = WindowedParameters(window, 32, 32);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0, &ok, &device), D3DERR_INVALIDCALL);
  DestroyWindow(window);
  ok = WindowedParameters(window, 32, 32);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &ok,
                              &device),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->Release(), 0u);
}

// --- Default state ---------------------------------------------------------------------------

using DeviceStateTest = DeviceTest;

TEST_F(DeviceStateTest, StartsWithTheDocumentedDefaults) {
  struct {
    D3DRENDERSTATETYPE state;
    DWORD value;
  } render[] = {{D3DRS_ZENABLE, D3DZB_TRUE},
                {D3DRS_FILLMODE, D3DFILL_SOLID},
                {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
                {D3DRS_ZWRITEENABLE, TRUE},
                {D3DRS_SRCBLEND, D3DBLEND_ONE},
                {D3DRS_DESTBLEND, D3DBLEND_ZERO},
                {D3DRS_CULLMODE, D3DCULL_CCW},
                {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
                {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
                {D3DRS_ALPHABLENDENABLE, FALSE},
                {D3DRS_LIGHTING, TRUE},
                {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
                {D3DRS_COLORWRITEENABLE, 0xF},
                {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
                {D3DRS_FOGEND, 0x3F800000},
                {D3DRS_CLIPPING, TRUE}};
  for (auto& r : render) {
    DWORD v = 0xDEADBEEF;
    ASSERT_EQ(device_->GetRenderState(r.state, &v), D3D_OK);
    EXPECT_EQ(v, r.value) << "render state " << r.state;
  }
  DWORD v;
  device_->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, (DWORD)D3DTOP_MODULATE);
  device_->GetTextureStageState(0, D3DTSS_ALPHAOP, &v);
  EXPECT_EQ(v, (DWORD)D3DTOP_SELECTARG1);
  device_->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, (DWORD)D3DTOP_DISABLE);
  device_->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &v);
  EXPECT_EQ(v, 3u);
  device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &v);
  EXPECT_EQ(v, (DWORD)D3DTEXF_POINT);
  device_->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
  EXPECT_EQ(v, (DWORD)D3DTADDRESS_WRAP);
  D3DVIEWPORT9 vp;
  device_->GetViewport(&vp);
  EXPECT_EQ(vp.Width, kWidth);
  EXPECT_EQ(vp.Height, kHeight);
  EXPECT_EQ(vp.MaxZ, 1.f);
  D3DMATRIX m;
  device_->GetTransform(D3DTS_WORLD, &m);
  EXPECT_EQ(m._11, 1.f);
  EXPECT_EQ(m._41, 0.f);
}

TEST_F(DeviceStateTest, StatesTransformsLightsAndMaterialReadBackWhatWasSet) {
  ASSERT_EQ(device_->SetRenderState(D3DRS_ALPHAREF, 0x42), D3D_OK);
  DWORD v;
  device_->GetRenderState(D3DRS_ALPHAREF, &v);
  EXPECT_EQ(v, 0x42u);
  EXPECT_EQ(device_->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetSamplerState(16, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);

  D3DMATRIX view = {};
  view._11 = 2;
  view._44 = 1;
  ASSERT_EQ(device_->SetTransform(D3DTS_VIEW, &view), D3D_OK);
  D3DMATRIX scale = {};
  scale._11 = 3;
  scale._22 = scale._33 = scale._44 = 1;
  ASSERT_EQ(device_->MultiplyTransform(D3DTS_VIEW, &scale), D3D_OK);
  D3DMATRIX back;
  device_->GetTransform(D3DTS_VIEW, &back);
  EXPECT_EQ(back._11, 6.f);

  D3DLIGHT9 light = {};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Direction = {1, 1, 1};
  light.Diffuse = {1, 0.5f, 0.25f, 1};
  ASSERT_EQ(device_->SetLight(3, &light), D3D_OK);
  ASSERT_EQ(device_->LightEnable(3, TRUE), D3D_OK);
  D3DLIGHT9 got;
  ASSERT_EQ(device_->GetLight(3, &got), D3D_OK);
  EXPECT_EQ(got.Diffuse.g, 0.5f);
  BOOL enabled = FALSE;
  ASSERT_EQ(device_->GetLightEnable(3, &enabled), D3D_OK);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(device_->GetLight(2, &got), D3DERR_INVALIDCALL) << "never set";
  light.Type = static_cast<D3DLIGHTTYPE>(9);
  EXPECT_EQ(device_->SetLight(4, &light), D3DERR_INVALIDCALL);

  D3DMATERIAL9 mat = {};
  mat.Power = 12;
  ASSERT_EQ(device_->SetMaterial(&mat), D3D_OK);
  D3DMATERIAL9 gotMat;
  device_->GetMaterial(&gotMat);
  EXPECT_EQ(gotMat.Power, 12.f);

  D3DVIEWPORT9 vp = {0, 0, kWidth + 1, kHeight, 0, 1};
  EXPECT_EQ(device_->SetViewport(&vp), D3DERR_INVALIDCALL) << "larger than the render target";
}

// --- Rules callers must respect ------------------------------------------------------------------

using DeviceRulesTest = DeviceTest;

TEST_F(DeviceRulesTest, ScenesDoNotNestAndDrawingNeedsOne) {
  EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
  TLVertex tri[3] = {{0, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                     {4, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                     {0, 4, 0, 1, 0xFFFFFFFF, 0, 0}};
  device_->SetFVF(kTLFvf);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TLVertex)),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TLVertex)), D3D_OK);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0, tri, sizeof(TLVertex)),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(9), 1, tri, sizeof(TLVertex)),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, sizeof(TLVertex)),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL)
      << "no stream source";
  EXPECT_EQ(device_->EndScene(), D3D_OK);
  EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
}

TEST_F(DeviceRulesTest, ResetIsRefusedWhileADefaultPoolResourceLives) {
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &surface,
                                                 nullptr),
            D3D_OK);
  IDirect3DTexture9* managed = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr),
            D3D_OK);
  uint64_t resets = AutomationResetCount();
  D3DPRESENT_PARAMETERS pp = pp_;
  EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(AutomationResetCount(), resets);
  surface->Release();
  // Managed resources and the implicit surfaces do not block Reset.
  IDirect3DSurface9* backBuffer = nullptr;
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  EXPECT_EQ(device_->Reset(&pp), D3D_OK);
  EXPECT_EQ(AutomationResetCount(), resets + 1);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  backBuffer->Release();
  managed->Release();

  // A default-pool vertex buffer or texture blocks it too.
  IDirect3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(device_->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
  EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
  vb->Release();
  IDirect3DTexture9* rt = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                   &rt, nullptr),
            D3D_OK);
  EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
  rt->Release();
  EXPECT_EQ(device_->Reset(&pp), D3D_OK);
}

TEST_F(DeviceRulesTest, ResetRestoresDefaultStateAndResizes) {
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  D3DPRESENT_PARAMETERS pp = pp_;
  pp.BackBufferWidth = 40;
  pp.BackBufferHeight = 30;
  ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  DWORD v;
  device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
  EXPECT_EQ(v, (DWORD)FALSE);
  D3DVIEWPORT9 vp;
  device_->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 40u);
  IDirect3DSurface9* bb = nullptr;
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
  D3DSURFACE_DESC d;
  bb->GetDesc(&d);
  EXPECT_EQ(d.Height, 30u);
  bb->Release();
  pp.BackBufferFormat = D3DFMT_DXT1;
  EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
  pp = pp_;
  EXPECT_EQ(device_->Reset(&pp), D3D_OK) << "a valid Reset recovers from a failed one";
}

TEST_F(DeviceRulesTest, LostDeviceReportsLostThenNotResetThenRecovers) {
  uint64_t presents = AutomationPresentCount();
  AutomationLoseDevice(device_);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  D3DPRESENT_PARAMETERS pp = pp_;
  EXPECT_EQ(device_->Reset(&pp), D3DERR_DEVICELOST);
  // Drawing and clearing quietly succeed while lost.
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.f, 0), D3D_OK);
  EXPECT_EQ(AutomationPresentCount(), presents);
  AutomationMakeDeviceResettable(device_);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(AutomationPresentCount(), presents + 1);
}

TEST_F(DeviceRulesTest, BackBufferLocksOnlyWhenCreatedLockable) {
  IDirect3DSurface9* bb = nullptr;
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(bb->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(bb->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL) << "already locked";
  EXPECT_EQ(bb->UnlockRect(), D3D_OK);
  EXPECT_EQ(bb->UnlockRect(), D3DERR_INVALIDCALL);
  RECT outside = {0, 0, (LONG)kWidth + 1, 4};
  EXPECT_EQ(bb->LockRect(&lr, &outside, 0), D3DERR_INVALIDCALL);
  bb->Release();
  D3DPRESENT_PARAMETERS pp = pp_;
  pp.Flags = 0;
  ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
  EXPECT_EQ(bb->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);
  bb->Release();
  EXPECT_EQ(device_->GetBackBuffer(0, 1, D3DBACKBUFFER_TYPE_MONO, &bb), D3DERR_INVALIDCALL);
  EXPECT_EQ(bb, nullptr);
}

TEST_F(DeviceRulesTest, TextureLockingFollowsPoolAndUsage) {
  IDirect3DTexture9* t = nullptr;
  D3DLOCKED_RECT lr;
  ASSERT_EQ(device_->CreateTexture(16, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
            D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 5u);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL) << "static default-pool texture";
  t->Release();
  ASSERT_EQ(device_->CreateTexture(16, 8, 2, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &t,
                                   nullptr),
            D3D_OK);
  EXPECT_EQ(t->LockRect(1, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK);
  EXPECT_EQ(t->UnlockRect(1), D3D_OK);
  EXPECT_EQ(t->LockRect(2, &lr, nullptr, 0), D3DERR_INVALIDCALL) << "no such level";
  // A level's surface keeps its texture alive and names it as its container.
  IDirect3DSurface9* level = nullptr;
  ASSERT_EQ(t->GetSurfaceLevel(1, &level), D3D_OK);
  D3DSURFACE_DESC d;
  level->GetDesc(&d);
  EXPECT_EQ(d.Width, 8u);
  EXPECT_EQ(d.Height, 4u);
  EXPECT_EQ(t->Release(), 1u);
  IDirect3DTexture9* container = nullptr;
  ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)),
            D3D_OK);
  EXPECT_EQ(container, t);
  container->Release();
  EXPECT_EQ(level->Release(), 0u);
  EXPECT_EQ(device_->CreateTexture(0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                   &t, nullptr),
            D3DERR_INVALIDCALL);
}

TEST_F(DeviceRulesTest, StretchRectAndColorFillFollowThePoolRules) {
  IDirect3DSurface9 *plain = nullptr, *sys = nullptr, *bb = nullptr, *depth = nullptr;
  ASSERT_EQ(
      device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &plain, nullptr),
      D3D_OK);
  ASSERT_EQ(
      device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &sys, nullptr),
      D3D_OK);
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
  device_->GetDepthStencilSurface(&depth);
  ASSERT_NE(depth, nullptr);
  EXPECT_EQ(device_->ColorFill(plain, nullptr, 0xFF00FF00), D3D_OK);
  EXPECT_EQ(device_->ColorFill(sys, nullptr, 0xFF00FF00), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->ColorFill(depth, nullptr, 0), D3DERR_INVALIDCALL);
  RECT beyond = {4, 4, 9, 8};
  EXPECT_EQ(device_->ColorFill(plain, &beyond, 0), D3DERR_INVALIDCALL);

  RECT src = {0, 0, 8, 8}, dst = {10, 10, 26, 26};
  EXPECT_EQ(device_->StretchRect(plain, &src, bb, &dst, D3DTEXF_POINT), D3D_OK);
  EXPECT_EQ(device_->StretchRect(sys, &src, bb, &dst, D3DTEXF_POINT), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->StretchRect(plain, &src, sys, nullptr, D3DTEXF_POINT), D3DERR_INVALIDCALL);
  RECT offTarget = {60, 40, 70, 50};
  EXPECT_EQ(device_->StretchRect(plain, &src, bb, &offTarget, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  RECT inverted = {20, 20, 10, 30};
  EXPECT_EQ(device_->StretchRect(plain, &src, bb, &inverted, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->StretchRect(plain, &src, bb, &dst, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->StretchRect(plain, &src, depth, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 10, 10), 0x00FF00u);
  EXPECT_EQ(At(px, 25, 25), 0x00FF00u);
  EXPECT_EQ(At(px, 26, 25), 0u);

  // LINEAR between two colours blends at the boundary.
  D3DLOCKED_RECT lr;
  ASSERT_EQ(plain->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[x] =
          x < 4 ? 0xFF000000 : 0xFFFFFFFF;
  plain->UnlockRect();
  RECT wide = {0, 0, 32, 8};
  ASSERT_EQ(device_->StretchRect(plain, nullptr, bb, &wide, D3DTEXF_LINEAR), D3D_OK);
  px = ReadBackBuffer();
  EXPECT_EQ(At(px, 2, 2), 0u);
  EXPECT_EQ(At(px, 30, 2), 0xFFFFFFu);
  uint32_t mid = At(px, 15, 2) & 0xFF;
  EXPECT_GT(mid, 0u);
  EXPECT_LT(mid, 255u);
  for (auto* s : {plain, sys, bb, depth}) s->Release();
}

TEST_F(DeviceRulesTest, ClearIsClippedToTheViewportAndRectangles) {
  ClearTo(0x000000);
  D3DVIEWPORT9 vp = {10, 5, 20, 10, 0, 1};
  ASSERT_EQ(device_->SetViewport(&vp), D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.f, 0), D3D_OK);
  D3DRECT rect = {0, 0, 12, 7};  // overlaps the viewport's corner only
  ASSERT_EQ(device_->Clear(1, &rect, D3DCLEAR_TARGET, 0xFF0000FF, 1.f, 0), D3D_OK);
  auto px = ReadBackBuffer();
  for (int y = 0; y < (int)kHeight; ++y)
    for (int x = 0; x < (int)kWidth; ++x) {
      uint32_t want = 0;
      if (x >= 10 && x < 30 && y >= 5 && y < 15) want = (x < 12 && y < 7) ? 0x0000FFu : 0xFF0000u;
      ASSERT_EQ(At(px, x, y), want) << x << "," << y;
    }
  EXPECT_EQ(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 2.f, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.f, 0), D3DERR_INVALIDCALL)
      << "D16 has no stencil";
  ASSERT_EQ(device_->SetDepthStencilSurface(nullptr), D3D_OK);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.f, 0), D3DERR_INVALIDCALL);
}

// Several rectangles in one call, each several rows high, for colour and the D16 depth buffer:
// the depth left in each pixel decides whether a later quad behind it shows.
TEST_F(DeviceRulesTest, ClearFillsEveryRowOfEachRectangleInColourAndDepth) {
  ClearTo(0x000000);
  const D3DRECT rects[2] = {{3, 2, 20, 9}, {30, 20, 61, 47}};
  ASSERT_EQ(device_->Clear(2, rects, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00, 0.25f, 0),
            D3D_OK);
  auto inside = [&](int x, int y) {
    for (const D3DRECT& r : rects)
      if (x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2) return true;
    return false;
  };
  auto px = ReadBackBuffer();
  for (int y = 0; y < (int)kHeight; ++y)
    for (int x = 0; x < (int)kWidth; ++x)
      ASSERT_EQ(At(px, x, y), inside(x, y) ? 0x00FF00u : 0u) << x << "," << y;
  // A quad at depth 0.5 passes LESSEQUAL only where the depth is still 1.
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  DrawQuad(0, 0, (float)kWidth, (float)kHeight, 0xFFFF0000, 0.5f);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  px = ReadBackBuffer();
  for (int y = 0; y < (int)kHeight; ++y)
    for (int x = 0; x < (int)kWidth; ++x)
      ASSERT_EQ(At(px, x, y), inside(x, y) ? 0x00FF00u : 0xFF0000u) << x << "," << y;
}

TEST_F(DeviceRulesTest, RenderTargetsCanBeSwappedAndRestored) {
  IDirect3DSurface9 *rt = nullptr, *bb = nullptr, *current = nullptr;
  ASSERT_EQ(device_->CreateRenderTarget(16, 16, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &rt,
                                        nullptr),
            D3D_OK);
  device_->GetRenderTarget(0, &bb);
  ASSERT_EQ(device_->SetRenderTarget(0, rt), D3D_OK);
  D3DVIEWPORT9 vp;
  device_->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 16u) << "the viewport follows the new target";
  device_->SetDepthStencilSurface(nullptr);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.f, 0), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(rt->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(*static_cast<uint32_t*>(lr.pBits) & 0xFFFFFF, 0x123456u);
  rt->UnlockRect();
  device_->GetRenderTarget(0, &current);
  EXPECT_EQ(current, rt);
  current->Release();
  EXPECT_EQ(device_->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetRenderTarget(1, rt), D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->SetRenderTarget(0, bb), D3D_OK);
  bb->Release();
  rt->Release();
}

// --- Present and read-back -----------------------------------------------------------------------

using PresentTest = DeviceTest;

TEST_F(PresentTest, PresentCopiesTheBackBufferToTheWindowFrame) {
  ClearTo(0xFF102030);
  D3DRECT r = {5, 6, 9, 8};
  device_->Clear(1, &r, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.f, 0);
  uint64_t before = AutomationPresentCount();
  ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  EXPECT_EQ(AutomationPresentCount(), before + 1);
  AutomationFrame frame;
  ASSERT_TRUE(AutomationLastPresentedFrame(&frame));
  ASSERT_EQ(frame.width, (int)kWidth);
  ASSERT_EQ(frame.height, (int)kHeight);
  EXPECT_EQ(frame.pixels[0], 0xFF102030u);
  EXPECT_EQ(frame.pixels[6 * kWidth + 5], 0xFFFFFFFFu);
  EXPECT_EQ(frame.pixels[7 * kWidth + 8], 0xFFFFFFFFu);
  EXPECT_EQ(frame.pixels[8 * kWidth + 8], 0xFF102030u);

  // Every pixel of the frame is the back buffer's, made opaque.
  auto back = ReadBackBuffer();
  size_t wrong = 0;
  for (size_t i = 0; i < back.size(); ++i) wrong += frame.pixels[i] != (back[i] | 0xFF000000u);
  EXPECT_EQ(wrong, 0u);
  // A 7-pixel-wide source copied to a rectangle of the same size at the window's corner: the
  // frame outside it is black.
  for (int k = 0; k < 7; ++k) {
    D3DRECT column = {k, 0, k + 1, 5};
    device_->Clear(1, &column, D3DCLEAR_TARGET,
                   0xFF000000u | (0x10203u * static_cast<uint32_t>(k + 1)), 1.f, 0);
  }
  RECT src = {1, 0, 8, 5}, dst = {0, 0, 7, 5};
  ASSERT_EQ(device_->Present(&src, &dst, nullptr, nullptr), D3D_OK);
  ASSERT_TRUE(AutomationLastPresentedFrame(&frame));
  back = ReadBackBuffer();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      uint32_t want = (x < 7 && y < 5) ? (At(back, x + 1, y) | 0xFF000000u) : 0xFF000000u;
      EXPECT_EQ(frame.pixels[static_cast<size_t>(y) * kWidth + x], want) << x << "," << y;
    }

  const char* path = "/tmp/d3d9_present_test.png";
  ASSERT_TRUE(AutomationWritePng(frame, path));
  std::ifstream f(path, std::ios::binary);
  unsigned char head[24] = {};
  f.read(reinterpret_cast<char*>(head), 24);
  EXPECT_EQ(head[1], 'P');
  EXPECT_EQ(head[2], 'N');
  EXPECT_EQ(head[3], 'G');
  EXPECT_EQ((head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19], (int)kWidth);
  EXPECT_EQ((head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23], (int)kHeight);
  std::remove(path);
  EXPECT_FALSE(AutomationWritePng(frame, "/nonexistent-dir/x.png"));
  AutomationFrame empty;
  EXPECT_FALSE(AutomationWritePng(empty, path));
}

TEST_F(PresentTest, ImmediateNeverWaitsAndIntervalOneWaitsForTheRefresh) {
  using Clock = std::chrono::steady_clock;
  auto t0 = Clock::now();
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  auto immediate = Clock::now() - t0;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(immediate).count(), 30);
  D3DPRESENT_PARAMETERS pp = pp_;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
  ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  t0 = Clock::now();
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  auto synced = Clock::now() - t0;
  // Three refreshes at no more than 240 Hz.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(synced).count(), 12);
}

// --- Pixel formats -------------------------------------------------------------------------------

TEST(PixelFormatTest, SizesAndAlphaOfTheSupportedFormats) {
  struct {
    D3DFORMAT f;
    UINT bytes;
    bool alpha;
  } cases[] = {
      {D3DFMT_A8R8G8B8, 4, true},  {D3DFMT_X8R8G8B8, 4, false},   {D3DFMT_R8G8B8, 3, false},
      {D3DFMT_R5G6B5, 2, false},   {D3DFMT_X1R5G5B5, 2, false},   {D3DFMT_A1R5G5B5, 2, true},
      {D3DFMT_A4R4G4B4, 2, true},  {D3DFMT_A2R10G10B10, 4, true}, {D3DFMT_A8B8G8R8, 4, true},
      {D3DFMT_X8B8G8R8, 4, false}, {D3DFMT_A8, 1, true},          {D3DFMT_L8, 1, false},
      {D3DFMT_DXT1, 0, false},     {D3DFMT_UNKNOWN, 0, false}};
  for (auto& c : cases) {
    EXPECT_EQ(FormatBytesPerPixel(c.f), c.bytes) << c.f;
    EXPECT_EQ(FormatHasAlpha(c.f), c.alpha) << c.f;
  }
}

TEST(PixelFormatTest, ReadsExpandAndWritesPack) {
  uint8_t p[4];
  struct {
    D3DFORMAT f;
    uint32_t bits;
    uint32_t argb;
  } reads[] = {{D3DFMT_R5G6B5, 0xF800, 0xFFFF0000},
               {D3DFMT_R5G6B5, 0x07E0, 0xFF00FF00},
               {D3DFMT_A1R5G5B5, 0x7C00, 0x00FF0000},
               {D3DFMT_X1R5G5B5, 0x001F, 0xFF0000FF},
               {D3DFMT_A4R4G4B4, 0x8F00, 0x88FF0000},
               {D3DFMT_X8R8G8B8, 0x00123456, 0xFF123456},
               {D3DFMT_A8B8G8R8, 0x80563412, 0x80123456},
               {D3DFMT_L8, 0x7F, 0xFF7F7F7F},
               {D3DFMT_A8, 0x40, 0x40000000},
               {D3DFMT_A2R10G10B10, 0xC0000000u | (1023u << 20), 0xFFFF0000}};
  for (auto& r : reads) {
    std::memcpy(p, &r.bits, 4);
    EXPECT_EQ(ReadPixelArgb(r.f, p), r.argb) << r.f;
  }
  // Writing and reading back keeps what the format can hold.
  const uint32_t colours[] = {0xFF000000, 0xFFFFFFFF, 0x80FF8000, 0x12345678, 0x00FFFFFF};
  for (D3DFORMAT f : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8, D3DFMT_R5G6B5,
                      D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_A2R10G10B10, D3DFMT_A8B8G8R8}) {
    for (uint32_t c : colours) {
      WritePixelArgb(f, p, c);
      uint32_t once = ReadPixelArgb(f, p);
      WritePixelArgb(f, p, once);
      EXPECT_EQ(ReadPixelArgb(f, p), once) << "format " << f << " colour " << std::hex << c;
      if (f == D3DFMT_A8R8G8B8) {
        EXPECT_EQ(once, c);
      }
      if (!FormatHasAlpha(f)) {
        EXPECT_EQ(once >> 24, 0xFFu);
      }
    }
  }
  WritePixelArgb(D3DFMT_L8, p, 0xFFFFFFFF);
  EXPECT_EQ(p[0], 255);
  WritePixelArgb(D3DFMT_L8, p, 0xFF00FF00);
  EXPECT_EQ(p[0], 182);  // 0.7152 * 255
}

}  // namespace
}  // namespace d3d9_test
