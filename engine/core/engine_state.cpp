// The engine state, its error texts, EngineStart and EngineShutdown.
#include "engine/core/engine_state.h"

#include <memory>

#include "engine/core/clock.h"
#include "engine/scene/scene_effect.h"
#include "engine/scene/scene_lifetime.h"
#include "runtime/window_service.h"

EngineState Engine;

// Latin-1 bytes: \xFC is u-umlaut, \xF6 o-umlaut (split from following hex-looking letters).
const char* const EngineErrorTexts[kEngineErrorCount + 1] = {
    "",
    "#1 Alles Okay",
    "#2 Directx Device kann nicht erzeugt werden, DX9 fehlt",
    "#3 16bit z-buffer funktioniert nicht",
    "#4 back buffer Format kann nicht erzeugt werden",
    "#5 display adapter kann nicht initialisiert werden",
    "",
    "#7 Mode match kann nicht initialisiert werden",
    "#8 Farbtiefe kann nicht gesetzt werden",
    "#9 SetCooperativeLevel konnte nicht exclusive erfolgen",
    "#10 Standard Font konnte nicht erzeugt werden",
    "#11 GetDeviceCaps Fehler, Grafikadapter kann kein VERTEXPROCESSING",
    "#12 hwnd ist schon initalisiert",
    "#13 DirectSound kann nicht  initialisiert werden",
    "#14 Wave Header f\xFCr DirectSound ist fehlerhaft",
    "#15 Wave Datei f\xFCr DirectSound konnte nicht ge\xF6"
    "ffnet werden",
    "#16 Texturshader konnte nicht erstellt werden: \r\n",
    "#17 Shader konnte nicht erstellt werden: \r\n",
    "#18 Grafik konnte nicht geladen werden",
    "#19 Grafik konnte nicht gespeichert werden",
    "#20 Objekt konnte nicht geladen werden",
    "#21 Objekt konnte nicht gespeichert werden",
};

namespace {

// Releases the interfaces held by the records of every list and empties the lists, in the order
// the lists are created.
void DiscardLists() {
  DiscardShadowMapping();
  DiscardSceneRecords();
  Engine.MeshList.ForEach([](Mesh& mesh) { ReleaseSceneInterface(mesh.D3DMesh); });
  Engine.MeshList.Clear();
  Engine.PrimitiveBufferList.ForEach(
      [](PrimitiveBuffer& buffer) { SafeRelease(buffer.VertexBuffer); });
  Engine.PrimitiveBufferList.Clear();
  // The frame hierarchy of an animated mesh belongs to the loader that built it; the engine
  // holds only the controller.
  Engine.AnimatedMeshList.ForEach(
      [](AnimatedMesh& mesh) { ReleaseSceneInterface(mesh.Controller); });
  Engine.AnimatedMeshList.Clear();
  Engine.TextureList.ForEach([](Texture& texture) { SafeRelease(texture.D3DTexture); });
  Engine.TextureList.Clear();
  Engine.CameraList.Clear();
  Engine.LightList.Clear();
  Engine.ScreenImageList.ForEach([](ScreenImage& image) { SafeRelease(image.Surface); });
  Engine.ScreenImageList.Clear();
  Engine.RenderViewList.Clear();
  Engine.ScreenPrimitiveQueue.Clear();
  Engine.SpriteList.ForEach([](Sprite& sprite) { SafeRelease(sprite.D3DSprite); });
  Engine.SpriteList.Clear();
  Engine.SpriteDrawQueue.Clear();
  Engine.TextQueue.Clear();
  Engine.FontList.ForEach([](Font& font) {
    SafeRelease(font.D3DFont);
    SafeRelease(font.D3DSprite);
  });
  Engine.FontList.Clear();
  Engine.ParticleEmitterList.ForEach([](ParticleEmitter& emitter) {
    SafeRelease(emitter.VertexBuffer);
    SafeRelease(emitter.BaseTexture);
    for (IDirect3DTexture9*& frame : emitter.FrameTextures) SafeRelease(frame);
  });
  Engine.ParticleEmitterList.Clear();
  Engine.TextureShaderList.ForEach(
      [](TextureShader& shader) { SafeRelease(shader.D3DTextureShader); });
  Engine.TextureShaderList.Clear();
  Engine.EffectList.ForEach([](Effect& effect) { ReleaseSceneInterface(effect.D3DEffect); });
  Engine.EffectList.Clear();
}

void ReleaseInputDevice(IDirectInputDevice8A*& device) {
  if (device == nullptr) return;
  device->Unacquire();
  SafeRelease(device);
}

}  // namespace

int EngineStart() {
  if (Engine.WindowHandle != nullptr) return kEngineAlreadyOpen;

  DiscardLists();

  Engine.TextFont = nullptr;
  Engine.TextColour = 0xFFFFFFFF;
  Engine.TextAlign = 0;
  Engine.TextRotation = 0.0f;
  Engine.TextScaleX = 1.0f;
  Engine.TextScaleY = 1.0f;
  Engine.TextDepth = 0.0f;

  std::memset(Engine.KeyboardState, 0, sizeof(Engine.KeyboardState));

  Engine.FrameTime = 0.016f;
  Engine.LastFrameStamp = ReadSystemTime();
  Engine.MeshLightDirection[0] = -1.0f;
  Engine.MeshLightDirection[1] = 0.0f;
  Engine.MeshLightDirection[2] = 1.0f;

  Engine.FrustumCulling = 0;
  std::memset(Engine.FrustumPlanes, 0, sizeof(Engine.FrustumPlanes));

  // A start that failed earlier may have left interfaces behind; they are replaced, not leaked.
  SafeRelease(Engine.DirectSound);
  SafeRelease(Engine.DirectInput);
  SafeRelease(Engine.Direct3D);

  // SDK version 32 with the debug-information bit.
  Engine.Direct3D = Direct3DCreate9(D3D_SDK_VERSION | 0x80000000u);
  if (Engine.Direct3D == nullptr) return kEngineNoDevice;

  if (FAILED(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                reinterpret_cast<void**>(&Engine.DirectInput), nullptr))) {
    Engine.DirectInput = nullptr;
    return kEngineNoDepthBuffer;
  }

  // The engine runs without sound when DirectSound is missing.
  if (FAILED(DirectSoundCreate8(nullptr, &Engine.DirectSound, nullptr))) {
    Engine.DirectSound = nullptr;
  }
  return kEngineOk;
}

void EngineShutdown() {
  DiscardLists();

  SafeRelease(Engine.SkyBox.VertexBuffer);
  for (IDirect3DTexture9*& face : Engine.SkyBox.Textures) SafeRelease(face);
  SafeRelease(Engine.ShadowMapTexture);

  ReleaseInputDevice(Engine.KeyboardDevice);
  ReleaseInputDevice(Engine.MouseDevice);
  ReleaseInputDevice(Engine.JoystickDevice);
  SafeRelease(Engine.DirectInput);
  SafeRelease(Engine.DirectSound);
  SafeRelease(Engine.Device);
  SafeRelease(Engine.Direct3D);

  if (Engine.WindowHandle != nullptr) CloseWindow(0);

  // Back to the zero-filled state of program start; the lists are empty and stay in place.
  std::destroy_at(&Engine);
  std::construct_at(&Engine);
}
