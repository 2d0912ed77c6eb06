// The frame: the fixed order of the render passes, the sky box, presentation with recovery,
// frame timing and the frame rate.
#include "engine/core/frame.h"

#include "engine/core/clock.h"
#include "engine/core/engine_state.h"
#include "engine/core/input.h"
#include "engine/core/screen.h"
#include "engine/core/text_overlay.h"
#include "engine/scene/animated_mesh_pass.h"
#include "engine/scene/mesh_pass.h"
#include "engine/scene/particle_pass.h"
#include "engine/scene/primitive_buffer_pass.h"
#include "engine/scene/screen_primitive_pass.h"
#include "engine/scene/shadow_pass.h"
#include "engine/twod/screen_image_pass.h"
#include "engine/twod/sprite_pass.h"

namespace {

constexpr DWORD kSkyBoxFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr UINT kSkyBoxStride = 36;
constexpr DWORD kClearTargetAndDepth = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;

FramePassObserver passObserver = nullptr;

inline void Report(const char* pass) {
  if (passObserver != nullptr) passObserver(pass);
}

// The camera the sky box follows: the current camera when it is active, else the first active
// one, else the last camera of the list.
Camera* SkyBoxCamera() {
  ObjectList<Camera>& cameras = Engine.CameraList;
  Camera* current = cameras.Current();
  if (current != nullptr && current->Active != 0) return current;
  Camera* camera = nullptr;
  cameras.Reset();
  while (Camera* next = cameras.Next()) {
    camera = next;
    if (camera->Active == 1) break;
  }
  return camera;
}

void RenderWithoutViews() {
  Report("BeginFrame");
  BeginFrame();
  Report("SkyBoxPass");
  SkyBoxPass();
  Report("DrawScreenImages");
  DrawScreenImages();
  if (Engine.ShadowMapping == 0) {
    Report("DrawMeshes");
    DrawMeshes();
  } else {
    Report("DrawMeshesShadowMapped");
    DrawMeshesShadowMapped();
  }
  Report("DrawPrimitiveBuffers");
  DrawPrimitiveBuffers();
  Report("DrawAnimatedMeshes");
  DrawAnimatedMeshes();
  Report("DrawSprites");
  DrawSprites();
  Report("DrawParticleEmitters");
  DrawParticleEmitters();
  Report("DrawTextPass");
  DrawTextPass();
  Report("DrawScreenPrimitives");
  DrawScreenPrimitives();
  Report("EndFrame");
  EndFrame();
}

void RenderViews() {
  IDirect3DDevice9* device = Engine.Device;
  device->Clear(0, nullptr, kClearTargetAndDepth, Engine.ClearColour, 1.0f, 0);

  ObjectList<RenderView>& views = Engine.RenderViewList;
  views.Reset();
  while (RenderView* view = views.Next()) {
    device->SetViewport(&view->Viewport);
    // A view whose camera is no longer in CameraList keeps the transforms already set.
    if (Engine.CameraList.Contains(view->CameraHandle)) {
      device->SetTransform(D3DTS_PROJECTION, &view->CameraHandle->Projection);
      device->SetTransform(D3DTS_VIEW, &view->CameraHandle->View);
    }
    if (Engine.FrustumCulling != 0) {
      Report("UpdateFrustumPlanes");
      UpdateFrustumPlanes();
    }
    device->BeginScene();
    device->Clear(0, nullptr, kClearTargetAndDepth, view->ClearColour, 1.0f, 0);
    Report("SkyBoxPass");
    SkyBoxPass();
    Report("DrawScreenImages");
    DrawScreenImages();
    // Shadow mapping is a whole-screen technique: views always use the plain mesh pass.
    Report("DrawMeshes");
    DrawMeshes();
    Report("DrawPrimitiveBuffers");
    DrawPrimitiveBuffers();
    Report("DrawAnimatedMeshes");
    DrawAnimatedMeshes();
    Report("DrawParticleEmitters");
    DrawParticleEmitters();
    device->EndScene();
  }

  // The overlays lie over every view, in the screen's own viewport.
  device->BeginScene();
  device->SetViewport(&Engine.Viewport);
  Report("DrawSprites");
  DrawSprites();
  Report("DrawTextPass");
  DrawTextPass();
  Report("DrawScreenPrimitives");
  DrawScreenPrimitives();
  device->EndScene();
}

}  // namespace

void ReportFramePass(const char* pass) {
  Report(pass);
}

void SetFramePassObserver(FramePassObserver observer) {
  passObserver = observer;
}

int RenderWorld() {
  Report("UpdateParticleEmitters");
  UpdateParticleEmitters();
  // A lost device draws nothing; queued work waits for the frame after recovery.
  if (Engine.PresentResult != 0 || Engine.Device == nullptr) return 0;
  if (Engine.RenderViewList.Count() == 0) {
    RenderWithoutViews();
  } else {
    RenderViews();
  }
  return 0;
}

void BeginFrame() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  device->Clear(0, nullptr, kClearTargetAndDepth, Engine.ClearColour, 1.0f, 0);
  if (Engine.FrustumCulling != 0) {
    Report("UpdateFrustumPlanes");
    UpdateFrustumPlanes();
  }
  device->BeginScene();
}

void EndFrame() {
  if (Engine.Device != nullptr) Engine.Device->EndScene();
}

void SkyBoxPass() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr || Engine.SkyBox.VertexBuffer == nullptr ||
      Engine.CameraList.Count() == 0) {
    return;
  }
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);

  // The box travels with the eye and never turns, so it always surrounds the viewer.
  Camera* camera = SkyBoxCamera();
  D3DXMATRIX world;
  D3DXMatrixTranslation(&world, camera->Eye[0], camera->Eye[1], camera->Eye[2]);
  device->SetTransform(D3DTS_WORLD, &world);

  device->SetStreamSource(0, Engine.SkyBox.VertexBuffer, 0, kSkyBoxStride);
  device->SetFVF(kSkyBoxFvf);
  for (UINT face = 0; face < 6; ++face) {
    device->SetTexture(0, Engine.SkyBox.Textures[face]);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, face * 4, 2);
  }

  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
  device->SetRenderState(D3DRS_ZENABLE, TRUE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
}

int Flip() {
  PollMouse();
  PollJoystick();

  const int64_t now = ReadSystemTime();
  Engine.FrameTime = static_cast<float>(static_cast<double>(now - Engine.LastFrameStamp) * 1.0e-7);
  Engine.LastFrameStamp = now;

  if (Engine.Device == nullptr) return 0;
  if (Engine.ViewportFlag == 1) {
    // The viewport's X, Y, Width and Height fields serve as left, top, right and bottom.
    RECT area;
    area.left = static_cast<LONG>(Engine.Viewport.X);
    area.top = static_cast<LONG>(Engine.Viewport.Y);
    area.right = static_cast<LONG>(Engine.Viewport.Width);
    area.bottom = static_cast<LONG>(Engine.Viewport.Height);
    Engine.PresentResult = Engine.Device->Present(&area, &area, nullptr, nullptr);
  } else {
    Engine.PresentResult = Engine.Device->Present(nullptr, nullptr, nullptr, nullptr);
  }
  if (Engine.PresentResult != 0) ResetDevice(5);
  return 0;
}

int FrameRate() {
  Engine.FrameRateSeconds += Engine.FrameTime;
  Engine.FrameRateFrames += 1;
  if (Engine.FrameRateSeconds > 0.5f) {
    Engine.FrameRateValue = Engine.FrameRateFrames * 2;
    Engine.FrameRateSeconds = 0.0f;
    Engine.FrameRateFrames = 0;
  }
  return Engine.FrameRateValue;
}
