// The engine's one global state record, its object lists and its error numbers.
#pragma once

#include <cstdint>
#include <string>

#include "windows.h"
#include "d3d9.h"
#include "d3dx9.h"
#include "dinput.h"
#include "dsound.h"
#include "engine/core/engine_records.h"
#include "engine/core/object_list.h"
#include "engine/scene/scene_records.h"
#include "engine/twod/twod_records.h"

// Error numbers of the engine's set-up steps; LastError holds the last one recorded.
enum EngineError : int32_t {
  kEngineOk = 1,
  kEngineNoDevice = 2,            // no Direct3D 9, or the device could not be created
  kEngineNoDepthBuffer = 3,       // no 16-bit depth buffer; also DirectInput creation failed
  kEngineBackBufferFormat = 4,    // the device type check failed
  kEngineDisplayAdapter = 5,      // display mode query or mode enumeration failed
  kEngineDeviceSetupRefused = 6,  // device set-up without Direct3D or with a device present
  kEngineModeMatch = 7,           // no full-screen mode matches
  kEngineColourDepth = 8,         // unsupported colour depth
  kEngineSoundCooperative = 9,    // DirectSound's exclusive cooperative level failed
  kEngineDefaultFont = 10,        // the default font could not be made
  kEngineDeviceCaps = 11,         // the device capabilities query failed
  kEngineAlreadyOpen = 12,        // set-up while a window is already open
  kEngineNoDirectSound = 13,
  kEngineWaveHeader = 14,
  kEngineWaveFile = 15,
  kEngineTextureShader = 16,  // texture shader compilation failed
  kEngineShader = 17,
  kEngineImageLoad = 18,  // texture or screen image creation failed
  kEngineImageSave = 19,
  kEngineObjectLoad = 20,
  kEngineObjectSave = 21,
};
constexpr int kEngineErrorCount = 21;

// The engine's text for each error number, in the Latin-1 code page; index 0 is unused and
// number 6 has no text. Nothing in the engine turns numbers into texts: the table documents
// what each number means.
extern const char* const EngineErrorTexts[kEngineErrorCount + 1];

// Six view-frustum planes (a, b, c, d) in the order right, left, bottom, top, far, near; the
// table keeps one spare row and column.
using FrustumPlaneTable = float[7][5];

// The sky box: one vertex buffer of six four-vertex strips, and one texture per face.
struct SkyBoxSet {
  IDirect3DVertexBuffer9* VertexBuffer;
  IDirect3DTexture9* Textures[6];
};

struct EngineState {
  // DirectX top-level interfaces and the device.
  IDirect3D9* Direct3D;
  IDirectInput8A* DirectInput;
  IDirectSound8* DirectSound;  // null when DirectSound could not be created
  IDirect3DDevice9* Device;

  // Window and presentation.
  HWND WindowHandle;  // non-null: the engine is set up
  int32_t ScreenWidth;
  int32_t ScreenHeight;
  D3DPRESENT_PARAMETERS PresentParameters;
  D3DVIEWPORT9 Viewport;
  uint8_t ViewportFlag;  // 1: Viewport is set on reset and bounds presentation

  // Input.
  IDirectInputDevice8A* KeyboardDevice;
  IDirectInputDevice8A* MouseDevice;
  IDirectInputDevice8A* JoystickDevice;
  uint8_t KeyboardState[256];
  DIMOUSESTATE MouseState;
  DIJOYSTATE JoystickState;

  // Results.
  int32_t LastError;
  std::string LastErrorText;
  HRESULT PresentResult;  // non-zero: the device is unusable until a reset succeeds

  // Frame timing.
  float FrameTime;         // seconds of the last frame
  int64_t LastFrameStamp;  // interrupt time, 100 ns units
  int32_t FrameRateValue;
  int32_t FrameRateFrames;
  float FrameRateSeconds;

  // Scene switches and the shadow-map pass.
  D3DCOLOR ClearColour;
  int32_t ShadowMapping;
  int32_t FrustumCulling;
  Effect* ShadowEffect;
  IDirect3DTexture9* ShadowMapTexture;
  Texture* DefaultSceneTexture;
  Effect* CurrentEffect;

  // Text style.
  Font* TextFont;  // null: the font list's current font
  D3DCOLOR TextColour;
  int32_t TextAlign;   // 0 left, 1 right, 2 centre
  float TextRotation;  // degrees
  float TextScaleX;
  float TextScaleY;
  float TextDepth;

  // Window position saved while full screen.
  int32_t SavedWindowX;
  int32_t SavedWindowY;

  SkyBoxSet SkyBox;
  float MeshLightDirection[3];
  FrustumPlaneTable FrustumPlanes;

  // The object lists, in the order EngineStart creates them.
  ObjectList<Mesh> MeshList;
  ObjectList<PrimitiveBuffer> PrimitiveBufferList;
  ObjectList<AnimatedMesh> AnimatedMeshList;
  ObjectList<Texture> TextureList;
  ObjectList<Camera> CameraList;
  ObjectList<Light> LightList;
  ObjectList<ScreenImage> ScreenImageList;
  ObjectList<RenderView> RenderViewList;
  ObjectList<ScreenPrimitive> ScreenPrimitiveQueue;
  ObjectList<Sprite> SpriteList;
  ObjectList<SpriteDrawCommand> SpriteDrawQueue;
  ObjectList<TextCommand> TextQueue;
  ObjectList<Font> FontList;
  ObjectList<ParticleEmitter> ParticleEmitterList;
  ObjectList<TextureShader> TextureShaderList;
  ObjectList<Effect> EffectList;
};

extern EngineState Engine;

// Creates every list anew, sets the defaults and creates Direct3D, DirectInput and DirectSound.
// 1, or 12 while a window is open, 2 without Direct3D, 3 without DirectInput. Run by OpenScreen.
int EngineStart();

// Releases every engine object (the COM interfaces held by every record of every list, the sky
// box, fonts, sprites, the device, the input devices, DirectSound, DirectInput, Direct3D), closes
// the engine window and returns the state to its zero-filled start, so OpenScreen can run again.
void EngineShutdown();
