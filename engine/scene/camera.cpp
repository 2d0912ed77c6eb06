#include "engine/scene/camera.h"

#include <cmath>

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"

namespace {

// The engine's degree conversion, as the reset path uses it.
constexpr float kDegreesToRadians = 0.017453f;

bool Finite3(float x, float y, float z) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

bool LensValid(float fieldOfView, float nearPlane, float farPlane) {
  return std::isfinite(fieldOfView) && std::isfinite(nearPlane) && std::isfinite(farPlane) &&
         fieldOfView > 0.0f && fieldOfView < 180.0f && nearPlane > 0.0f && farPlane > nearPlane;
}

// The engine's viewport, read from the device while it has never been set, so that the reset
// path (which takes the screen size from it) and the aspect see the real screen.
const D3DVIEWPORT9& ScreenViewport() {
  if ((Engine.Viewport.Width == 0 || Engine.Viewport.Height == 0) && Engine.Device != nullptr) {
    D3DVIEWPORT9 viewport{};
    if (SUCCEEDED(Engine.Device->GetViewport(&viewport))) Engine.Viewport = viewport;
  }
  return Engine.Viewport;
}

void BuildProjection(Camera& camera) {
  const D3DVIEWPORT9& viewport = ScreenViewport();
  const float width = static_cast<float>(viewport.Width) - static_cast<float>(viewport.X);
  const float height = static_cast<float>(viewport.Height) - static_cast<float>(viewport.Y);
  const float aspect = width > 0.0f && height > 0.0f ? width / height : 1.0f;
  D3DXMatrixPerspectiveFovLH(reinterpret_cast<D3DXMATRIX*>(&camera.Projection),
                             camera.FieldOfView * kDegreesToRadians, aspect, camera.NearPlane,
                             camera.FarPlane);
}

// An up direction that is not parallel to the line of sight.
void KeepUpUsable(Camera& camera, const D3DXVECTOR3& sight) {
  D3DXVECTOR3 up(camera.Up[0], camera.Up[1], camera.Up[2]);
  D3DXVECTOR3 side;
  D3DXVec3Cross(&side, &up, &sight);
  if (D3DXVec3LengthSq(&side) > 1e-12f * D3DXVec3LengthSq(&sight) * D3DXVec3LengthSq(&up)) return;
  const bool alongZ =
      std::fabs(sight.z) >= std::fabs(sight.x) && std::fabs(sight.z) >= std::fabs(sight.y);
  camera.Up[0] = alongZ ? 1.0f : 0.0f;
  camera.Up[1] = 0.0f;
  camera.Up[2] = alongZ ? 0.0f : 1.0f;
}

void BuildView(Camera& camera) {
  const D3DXVECTOR3 eye(camera.Eye[0], camera.Eye[1], camera.Eye[2]);
  const D3DXVECTOR3 at(camera.LookAt[0], camera.LookAt[1], camera.LookAt[2]);
  KeepUpUsable(camera, at - eye);
  const D3DXVECTOR3 up(camera.Up[0], camera.Up[1], camera.Up[2]);
  D3DXMatrixLookAtLH(reinterpret_cast<D3DXMATRIX*>(&camera.View), &eye, &at, &up);
}

void ApplyIfActive(const Camera& camera) {
  if (camera.Active != 1 || Engine.Device == nullptr) return;
  Engine.Device->SetTransform(D3DTS_VIEW, &camera.View);
  Engine.Device->SetTransform(D3DTS_PROJECTION, &camera.Projection);
}

bool AnyActiveCamera() {
  bool active = false;
  Engine.CameraList.ForEach([&active](Camera& camera) { active = active || camera.Active != 0; });
  return active;
}

// Whether the rectangle lies inside the back buffer, which the device's viewport must.
bool InsideBackBuffer(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (x < 0 || y < 0 || width < 1 || height < 1) return false;
  IDirect3DSurface9* backBuffer = nullptr;
  if (FAILED(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) ||
      backBuffer == nullptr) {
    return false;
  }
  D3DSURFACE_DESC description{};
  const bool described = SUCCEEDED(backBuffer->GetDesc(&description));
  backBuffer->Release();
  return described && static_cast<int64_t>(x) + width <= description.Width &&
         static_cast<int64_t>(y) + height <= description.Height;
}

}  // namespace

Camera* CreateCamera(float fieldOfViewDegrees, float nearPlane, float farPlane) {
  if (Engine.Device == nullptr || !LensValid(fieldOfViewDegrees, nearPlane, farPlane)) {
    return nullptr;
  }
  const bool becomesActive = !AnyActiveCamera();
  Engine.CameraList.Last();
  Camera* camera = Engine.CameraList.Add();
  camera->FieldOfView = fieldOfViewDegrees;
  camera->NearPlane = nearPlane;
  camera->FarPlane = farPlane;
  camera->LookAt[2] = 1.0f;
  camera->Up[1] = 1.0f;
  camera->Active = becomesActive ? 1 : 0;
  BuildProjection(*camera);
  BuildView(*camera);
  ApplyIfActive(*camera);
  return camera;
}

int ActivateCamera(Camera* handle) {
  Camera* camera = FindRecord(Engine.CameraList, handle);
  if (camera == nullptr) return 0;
  Engine.CameraList.ForEach([camera](Camera& other) { other.Active = &other == camera ? 1 : 0; });
  // The screen may have changed since the camera was last built.
  BuildProjection(*camera);
  ApplyIfActive(*camera);
  return 1;
}

int SetCameraLens(Camera* handle, float fieldOfViewDegrees, float nearPlane, float farPlane) {
  Camera* camera = FindRecord(Engine.CameraList, handle);
  if (camera == nullptr || !LensValid(fieldOfViewDegrees, nearPlane, farPlane)) return 0;
  camera->FieldOfView = fieldOfViewDegrees;
  camera->NearPlane = nearPlane;
  camera->FarPlane = farPlane;
  BuildProjection(*camera);
  ApplyIfActive(*camera);
  return 1;
}

int PositionCamera(Camera* handle, float x, float y, float z) {
  Camera* camera = FindRecord(Engine.CameraList, handle);
  if (camera == nullptr || !Finite3(x, y, z)) return 0;
  if (x == camera->LookAt[0] && y == camera->LookAt[1] && z == camera->LookAt[2]) return 0;
  camera->Eye[0] = x;
  camera->Eye[1] = y;
  camera->Eye[2] = z;
  BuildView(*camera);
  ApplyIfActive(*camera);
  return 1;
}

int PointCamera(Camera* handle, float x, float y, float z) {
  Camera* camera = FindRecord(Engine.CameraList, handle);
  if (camera == nullptr || !Finite3(x, y, z)) return 0;
  if (x == camera->Eye[0] && y == camera->Eye[1] && z == camera->Eye[2]) return 0;
  camera->LookAt[0] = x;
  camera->LookAt[1] = y;
  camera->LookAt[2] = z;
  BuildView(*camera);
  ApplyIfActive(*camera);
  return 1;
}

int ReleaseCamera(Camera* handle) {
  Camera* camera = FindRecord(Engine.CameraList, handle);
  if (camera == nullptr) return 0;
  // A later camera may reuse the record's address; views must not pick it up unasked.
  Engine.RenderViewList.ForEach([camera](RenderView& view) {
    if (view.CameraHandle == camera) view.CameraHandle = nullptr;
  });
  Engine.CameraList.Remove();
  return 1;
}

RenderView* CreateRenderView(Camera* camera, int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t clearColour) {
  if (Engine.Device == nullptr || !Engine.CameraList.Contains(camera) ||
      !InsideBackBuffer(x, y, width, height)) {
    return nullptr;
  }
  Engine.RenderViewList.Last();
  RenderView* view = Engine.RenderViewList.Add();
  view->CameraHandle = camera;
  view->Viewport = D3DVIEWPORT9{static_cast<DWORD>(x),
                                static_cast<DWORD>(y),
                                static_cast<DWORD>(width),
                                static_cast<DWORD>(height),
                                0.0f,
                                1.0f};
  view->ClearColour = clearColour;
  return view;
}

int SetRenderViewCamera(RenderView* handle, Camera* camera) {
  RenderView* view = FindRecord(Engine.RenderViewList, handle);
  if (view == nullptr || !Engine.CameraList.Contains(camera)) return 0;
  view->CameraHandle = camera;
  return 1;
}

int ReleaseRenderView(RenderView* handle) {
  RenderView* view = FindRecord(Engine.RenderViewList, handle);
  if (view == nullptr) return 0;
  Engine.RenderViewList.Remove();
  return 1;
}

int SetFrustumCulling(int32_t enabled) {
  Engine.FrustumCulling = enabled != 0 ? 1 : 0;
  return 1;
}
