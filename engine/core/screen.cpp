// The engine window and the Direct3D device: set-up, fixed render state, presentation mode and
// recovery of a lost device.
#include "engine/core/screen.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/core/input.h"
#include "engine/scene/scene_effect.h"
#include "engine/scene/scene_lifetime.h"
#include "engine/twod/screen_image.h"
#include "runtime/window_service.h"

namespace {

constexpr float kDegreesToRadians = 0.017453f;

// DirectInput cooperative flags the screen opens its devices with.
constexpr int kSharedBackground = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
constexpr int kExclusiveBackground = DISCL_EXCLUSIVE | DISCL_BACKGROUND;

D3DFORMAT FormatForDepth(int depth, bool* known) {
  *known = true;
  switch (depth) {
    case 0:
    case 24:
      return D3DFMT_R8G8B8;
    case 16:
      return D3DFMT_R5G6B5;
    case 32:
      return D3DFMT_X8R8G8B8;
    default:
      *known = false;
      return D3DFMT_UNKNOWN;
  }
}

// Checks shared by both set-ups once the back-buffer format is known: the device type, a 16-bit
// depth buffer and the capabilities, which pick the vertex processing. 1 or an error number.
int CheckAdapter(D3DFORMAT format, DWORD* behaviourFlags) {
  IDirect3D9* d3d = Engine.Direct3D;
  if (FAILED(d3d->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, format, format, TRUE))) {
    return kEngineBackBufferFormat;
  }
  if (FAILED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, format,
                                    D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16))) {
    return kEngineNoDepthBuffer;
  }
  D3DCAPS9 caps;
  std::memset(&caps, 0, sizeof(caps));
  if (FAILED(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps))) {
    return kEngineDeviceCaps;
  }
  *behaviourFlags = caps.VertexProcessingCaps != 0 ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                   : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  return kEngineOk;
}

// Creates the device for the window just opened. On failure the window is closed again and
// forgotten, so a later OpenScreen starts from a clean slate.
int CreateDeviceForWindow(DWORD behaviourFlags) {
  if (Engine.WindowHandle != nullptr &&
      SUCCEEDED(Engine.Direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL,
                                              Engine.WindowHandle, behaviourFlags,
                                              &Engine.PresentParameters, &Engine.Device))) {
    return kEngineOk;
  }
  Engine.Device = nullptr;
  CloseWindow(0);
  Engine.WindowHandle = nullptr;
  return kEngineNoDevice;
}

// Adds the default font to FontList: bold 16-pixel default face, with its own sprite batch.
// A font that cannot be made in full is not kept, so the text pass never meets a broken record.
bool CreateDefaultFont() {
  Engine.FontList.Last();
  Font* font = Engine.FontList.Add();
  D3DXFONT_DESCA& description = font->Description;
  description.Height = 16;
  description.Width = 0;
  description.Weight = 600;
  description.MipLevels = 0;
  description.Italic = FALSE;
  description.CharSet = DEFAULT_CHARSET;
  description.OutputPrecision = OUT_TT_PRECIS;
  description.Quality = 0;
  description.PitchAndFamily = 0;
  description.FaceName[0] = '\0';

  HRESULT spriteResult = D3DXCreateSprite(Engine.Device, &font->D3DSprite);
  HRESULT fontResult = D3DXCreateFontIndirectA(Engine.Device, &description, &font->D3DFont);
  if (SUCCEEDED(spriteResult) && SUCCEEDED(fontResult) && font->D3DSprite != nullptr &&
      font->D3DFont != nullptr) {
    return true;
  }
  SafeRelease(font->D3DFont);
  SafeRelease(font->D3DSprite);
  Engine.FontList.Remove();
  return false;
}

void NotifyLost() {
  Engine.FontList.Reset();
  while (Font* font = Engine.FontList.Next()) {
    if (font->D3DFont != nullptr) font->D3DFont->OnLostDevice();
    if (font->D3DSprite != nullptr) font->D3DSprite->OnLostDevice();
  }
  Engine.SpriteList.Reset();
  while (Sprite* sprite = Engine.SpriteList.Next()) {
    if (sprite->D3DSprite != nullptr) sprite->D3DSprite->OnLostDevice();
  }
  Engine.EffectList.Reset();
  while (Effect* effect = Engine.EffectList.Next()) {
    NotifySceneInterfaceLost(effect->D3DEffect);
  }
  // Default-pool textures would make Reset fail; render targets are made again afterwards.
  Engine.TextureList.Reset();
  while (Texture* texture = Engine.TextureList.Next()) {
    if (texture->RenderTarget != 0) SafeRelease(texture->D3DTexture);
  }
}

void NotifyReset() {
  Engine.FontList.Reset();
  while (Font* font = Engine.FontList.Next()) {
    if (font->D3DFont != nullptr) font->D3DFont->OnResetDevice();
    if (font->D3DSprite != nullptr) font->D3DSprite->OnResetDevice();
  }
  Engine.SpriteList.Reset();
  while (Sprite* sprite = Engine.SpriteList.Next()) {
    if (sprite->D3DSprite != nullptr) sprite->D3DSprite->OnResetDevice();
  }
  Engine.EffectList.Reset();
  while (Effect* effect = Engine.EffectList.Next()) {
    NotifySceneInterfaceReset(effect->D3DEffect);
  }
  Engine.TextureList.Reset();
  while (Texture* texture = Engine.TextureList.Next()) {
    if (texture->RenderTarget == 0) continue;
    SafeRelease(texture->D3DTexture);
    if (FAILED(D3DXCreateTexture(Engine.Device, texture->Width, texture->Height, 1,
                                 D3DUSAGE_RENDERTARGET, texture->Format, D3DPOOL_DEFAULT,
                                 &texture->D3DTexture))) {
      texture->D3DTexture = nullptr;
    }
  }
}

// The active camera's viewport and transforms, rebuilt for the reset device.
void RestoreCamera() {
  Camera* camera = nullptr;
  Engine.CameraList.Reset();
  while (Camera* candidate = Engine.CameraList.Next()) {
    if (candidate->Active == 1) {
      camera = candidate;
      break;
    }
  }
  if (camera == nullptr) return;

  IDirect3DDevice9* device = Engine.Device;
  device->SetViewport(&Engine.Viewport);
  Engine.ScreenWidth = static_cast<int32_t>(Engine.Viewport.Width - Engine.Viewport.X);
  Engine.ScreenHeight = static_cast<int32_t>(Engine.Viewport.Height - Engine.Viewport.Y);
  // An empty viewport would give a NaN projection; it keeps a square aspect instead.
  float aspect = Engine.ScreenHeight != 0 ? static_cast<float>(Engine.ScreenWidth) /
                                                static_cast<float>(Engine.ScreenHeight)
                                          : 1.0f;
  D3DXMatrixPerspectiveFovLH(reinterpret_cast<D3DXMATRIX*>(&camera->Projection),
                             camera->FieldOfView * kDegreesToRadians, aspect, camera->NearPlane,
                             camera->FarPlane);
  device->SetTransform(D3DTS_PROJECTION, &camera->Projection);
  D3DXVECTOR3 eye(camera->Eye[0], camera->Eye[1], camera->Eye[2]);
  D3DXVECTOR3 at(camera->LookAt[0], camera->LookAt[1], camera->LookAt[2]);
  D3DXVECTOR3 up(camera->Up[0], camera->Up[1], camera->Up[2]);
  D3DXMatrixLookAtLH(reinterpret_cast<D3DXMATRIX*>(&camera->View), &eye, &at, &up);
  device->SetTransform(D3DTS_VIEW, &camera->View);
}

// Every light again, enabled, as it was: its own direction is kept (overwriting it with one fixed
// direction would turn every aimed light away from what it lit).
void RestoreLights() {
  Engine.LightList.Reset();
  while (Light* light = Engine.LightList.Next()) {
    Engine.Device->SetLight(static_cast<DWORD>(light->LightIndex), &light->D3DLight);
    Engine.Device->LightEnable(static_cast<DWORD>(light->LightIndex), TRUE);
  }
}

}  // namespace

int OpenScreen(int x, int y, int width, int height, const char* title, int windowFlags) {
  return OpenScreenMode(x, y, width, height, title, windowFlags, 4);
}

int OpenScreenMode(int x, int y, int width, int height, const char* title, int flagsOrDepth,
                   int mode) {
  Engine.LastError = EngineStart();
  if (Engine.LastError != kEngineOk) return Engine.LastError;

  int result;
  switch (mode) {
    case 1:
      result = OpenWindowedScreen(0, 0, 0, width, height, title, kScreenFlagsCaption);
      break;
    case 2:
      result = OpenWindowedScreen(0, 0, 0, width, height, title, kScreenFlagsCaptionMenu);
      break;
    case 3:
      result = OpenWindowedScreen(0, 0, 0, width, height, title, kScreenFlagsCaptionMenuBoxes);
      break;
    case 4:
      result = OpenWindowedScreen(0, x, y, width, height, title, flagsOrDepth);
      break;
    default:
      result = OpenFullScreen(width, height, flagsOrDepth == 16 ? 16 : 32, 60, "");
      break;
  }
  Engine.LastError = result;
  if (result != kEngineOk) return result;

  Engine.ScreenWidth = width;
  Engine.ScreenHeight = height;
  ApplyDefaultRenderStates();

  // Input devices that cannot be opened stay absent; set-up goes on without them.
  OpenKeyboard(Engine.WindowHandle, kSharedBackground);
  OpenMouse(Engine.WindowHandle, kSharedBackground);
  OpenJoystick(Engine.WindowHandle, kExclusiveBackground);

  if (Engine.DirectSound != nullptr &&
      FAILED(Engine.DirectSound->SetCooperativeLevel(Engine.WindowHandle, DSSCL_EXCLUSIVE))) {
    Engine.LastError = kEngineSoundCooperative;
  }

  if (!CreateDefaultFont()) {
    Engine.LastError = kEngineDefaultFont;
    return kEngineDefaultFont;
  }
  return kEngineOk;
}

int OpenWindowedScreen(int window, int x, int y, int width, int height, const char* title,
                       int flags) {
  (void)window;  // the engine's window is always number 0
  Engine.ScreenWidth = width;
  Engine.ScreenHeight = height;
  if (Engine.Direct3D == nullptr || Engine.Device != nullptr) return kEngineDeviceSetupRefused;

  D3DDISPLAYMODE desktop;
  std::memset(&desktop, 0, sizeof(desktop));
  if (FAILED(Engine.Direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop))) {
    return kEngineDisplayAdapter;
  }
  DWORD behaviourFlags = 0;
  int checked = CheckAdapter(desktop.Format, &behaviourFlags);
  if (checked != kEngineOk) return checked;

  Engine.WindowHandle = OpenWindow(0, x, y, width, height, title, flags);

  D3DPRESENT_PARAMETERS& pp = Engine.PresentParameters;
  std::memset(&pp, 0, sizeof(pp));
  pp.BackBufferWidth = 0;
  pp.BackBufferHeight = 0;
  pp.BackBufferFormat = desktop.Format;
  pp.BackBufferCount = 1;
  pp.MultiSampleType = D3DMULTISAMPLE_NONE;
  pp.MultiSampleQuality = 0;
  pp.SwapEffect = D3DSWAPEFFECT_COPY;
  pp.hDeviceWindow = Engine.WindowHandle;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.FullScreen_RefreshRateInHz = 0;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
  return CreateDeviceForWindow(behaviourFlags);
}

int OpenFullScreen(int width, int height, int depth, int refreshRate, const char* title) {
  if (Engine.Direct3D == nullptr || Engine.Device != nullptr) return kEngineDeviceSetupRefused;

  bool knownDepth = false;
  D3DFORMAT format = FormatForDepth(depth, &knownDepth);
  if (!knownDepth) return kEngineColourDepth;

  bool matched = false;
  UINT modes = Engine.Direct3D->GetAdapterModeCount(D3DADAPTER_DEFAULT, format);
  for (UINT i = 0; i < modes && !matched; ++i) {
    D3DDISPLAYMODE mode;
    std::memset(&mode, 0, sizeof(mode));
    if (FAILED(Engine.Direct3D->EnumAdapterModes(D3DADAPTER_DEFAULT, format, i, &mode))) {
      return kEngineDisplayAdapter;
    }
    matched = static_cast<int>(mode.Width) == width && static_cast<int>(mode.Height) == height &&
              mode.Format == format && static_cast<int>(mode.RefreshRate) == refreshRate;
  }
  if (!matched) return kEngineModeMatch;

  DWORD behaviourFlags = 0;
  int checked = CheckAdapter(format, &behaviourFlags);
  if (checked != kEngineOk) return checked;

  Engine.WindowHandle = OpenWindow(0, 0, 0, width, height, title, kScreenFlagsPopup);
  if (Engine.WindowHandle != nullptr) {
    SetWindowPos(Engine.WindowHandle, HWND_TOPMOST, 0, 0, width, height, SWP_SHOWWINDOW);
  }

  D3DPRESENT_PARAMETERS& pp = Engine.PresentParameters;
  std::memset(&pp, 0, sizeof(pp));
  pp.BackBufferWidth = static_cast<UINT>(width);
  pp.BackBufferHeight = static_cast<UINT>(height);
  pp.BackBufferFormat = format;
  pp.BackBufferCount = 1;
  pp.MultiSampleType = D3DMULTISAMPLE_NONE;
  pp.MultiSampleQuality = 0;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.hDeviceWindow = Engine.WindowHandle;
  pp.Windowed = FALSE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  pp.FullScreen_RefreshRateInHz = static_cast<UINT>(refreshRate);
  pp.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
  return CreateDeviceForWindow(behaviourFlags);
}

void ApplyDefaultRenderStates() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  device->SetRenderState(D3DRS_ZENABLE, TRUE);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  device->SetRenderState(D3DRS_LASTPIXEL, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  device->SetRenderState(D3DRS_ALPHAREF, 0);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
  device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  device->SetRenderState(D3DRS_FOGCOLOR, 0);
  device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  // The fog range is stored as the integers 0, 1 and 1, not as float bit patterns.
  device->SetRenderState(D3DRS_FOGSTART, 0);
  device->SetRenderState(D3DRS_FOGEND, 1);
  device->SetRenderState(D3DRS_FOGDENSITY, 1);
  device->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
  device->SetRenderState(D3DRS_CLIPPING, TRUE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}

int SetFrameSync(int sync) {
  if (sync == 0) {
    ResetDevice(2);
  } else if (sync == 1) {
    ResetDevice(1);
  }
  return 0;
}

int ResetDevice(int mode) {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return 0;
  D3DPRESENT_PARAMETERS& pp = Engine.PresentParameters;

  if (mode == 1 || mode == 2) {
    const UINT interval = mode == 1 ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
    if (pp.PresentationInterval == interval && device->TestCooperativeLevel() == D3D_OK) return 0;
    pp.PresentationInterval = interval;
  } else if (mode == 3) {
    if (Engine.SavedWindowX == 0) Engine.SavedWindowX = WindowX(0);
    if (Engine.SavedWindowY == 0) Engine.SavedWindowY = WindowY(0);
    pp.Windowed = TRUE;
  } else if (mode == 4) {
    Engine.SavedWindowX = WindowX(0);
    Engine.SavedWindowY = WindowY(0);
    pp.Windowed = FALSE;
  }

  NotifyLost();
  ReleaseScreenImageSurfaces();
  ShadowMapLost();
  ReleaseSceneDeviceResources();
  Sleep(100);
  Engine.PresentResult = device->Reset(&pp);

  if (mode == 3 && Engine.WindowHandle != nullptr) {
    SetWindowLongA(Engine.WindowHandle, GWL_EXSTYLE, 0);
    SetWindowPos(Engine.WindowHandle, HWND_NOTOPMOST, Engine.SavedWindowX, Engine.SavedWindowY, -1,
                 -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER);
  }

  RestoreCamera();
  if (Engine.ViewportFlag == 1) device->SetViewport(&Engine.Viewport);
  RestoreLights();
  NotifyReset();
  if (Engine.PresentResult == D3D_OK) {
    RestoreScreenImageSurfaces();
    ShadowMapReset();
    RestoreSceneDeviceResources();
  }
  ApplyDefaultRenderStates();
  return 0;
}
