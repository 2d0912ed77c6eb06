// Cameras and render views made through the engine's operations: lenses, the active camera's
// transforms on the device, aiming, views on the back buffer, handles that are not the engine's,
// and the camera through a device reset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::ReadBackBuffer;

D3DMATRIX DeviceTransform(D3DTRANSFORMSTATETYPE state) {
  D3DMATRIX m{};
  Engine.Device->GetTransform(state, &m);
  return m;
}

void ExpectMatrixNear(const D3DMATRIX& a, const D3DMATRIX& b) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], 1e-5f) << r << "," << c;
  }
}

D3DXMATRIX LookAt(float ex, float ey, float ez, float ax, float ay, float az, float ux, float uy,
                  float uz) {
  const D3DXVECTOR3 eye(ex, ey, ez), at(ax, ay, az), up(ux, uy, uz);
  D3DXMATRIX view;
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  return view;
}

using CameraCreateTest = EngineTest;

TEST_F(CameraCreateTest, TheFirstCameraIsActiveAndPutsItsTransformsOnTheDevice) {
  EXPECT_EQ(CreateCamera(0.0f, 1, 100), nullptr);
  EXPECT_EQ(CreateCamera(180.0f, 1, 100), nullptr);
  EXPECT_EQ(CreateCamera(60.0f, 0, 100), nullptr);
  EXPECT_EQ(CreateCamera(60.0f, 10, 10), nullptr);
  EXPECT_EQ(CreateCamera(std::nanf(""), 1, 100), nullptr);
  EXPECT_EQ(Engine.CameraList.Count(), 0);

  Camera* camera = CreateCamera(60.0f, 0.5f, 200.0f);
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(camera->Active, 1);
  D3DXMATRIX projection;
  D3DXMatrixPerspectiveFovLH(&projection, 60.0f * 0.017453f, 1.0f, 0.5f, 200.0f);
  ExpectMatrixNear(camera->Projection, projection);
  ExpectMatrixNear(DeviceTransform(D3DTS_PROJECTION), projection);
  ExpectMatrixNear(DeviceTransform(D3DTS_VIEW), LookAt(0, 0, 0, 0, 0, 1, 0, 1, 0));

  ASSERT_EQ(PositionCamera(camera, 0, 5, -10), 1);
  ASSERT_EQ(PointCamera(camera, 1, 0, 0), 1);
  const D3DXMATRIX view = LookAt(0, 5, -10, 1, 0, 0, 0, 1, 0);
  ExpectMatrixNear(camera->View, view);
  ExpectMatrixNear(DeviceTransform(D3DTS_VIEW), view);

  // A second camera waits; changing it leaves the device alone until it is activated.
  Camera* second = CreateCamera(90.0f, 1.0f, 50.0f);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Active, 0);
  ASSERT_EQ(PositionCamera(second, 3, 3, 3), 1);
  ExpectMatrixNear(DeviceTransform(D3DTS_VIEW), view);
  ASSERT_EQ(ActivateCamera(second), 1);
  EXPECT_EQ(camera->Active, 0);
  EXPECT_EQ(second->Active, 1);
  ExpectMatrixNear(DeviceTransform(D3DTS_VIEW), LookAt(3, 3, 3, 0, 0, 1, 0, 1, 0));
  ASSERT_EQ(SetCameraLens(second, 45.0f, 2.0f, 20.0f), 1);
  D3DXMatrixPerspectiveFovLH(&projection, 45.0f * 0.017453f, 1.0f, 2.0f, 20.0f);
  ExpectMatrixNear(DeviceTransform(D3DTS_PROJECTION), projection);
}

TEST_F(CameraCreateTest, AimingRefusesTheEyeAndKeepsTheViewDefinedStraightUp) {
  Camera* camera = CreateCamera(60.0f, 1.0f, 100.0f);
  ASSERT_NE(camera, nullptr);
  const D3DMATRIX before = camera->View;
  EXPECT_EQ(PointCamera(camera, 0, 0, 0), 0);     // the eye itself
  EXPECT_EQ(PositionCamera(camera, 0, 0, 1), 0);  // onto the point looked at
  EXPECT_EQ(PointCamera(camera, INFINITY, 0, 0), 0);
  EXPECT_EQ(SetCameraLens(camera, 60.0f, -1.0f, 100.0f), 0);
  EXPECT_EQ(std::memcmp(&before, &camera->View, sizeof(before)), 0);
  EXPECT_EQ(camera->FieldOfView, 60.0f);

  ASSERT_EQ(PointCamera(camera, 0, 10, 0), 1);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(std::isfinite(camera->View.m[r][c]));
  }
  // The view still looks up: a point above the eye lands in front of it.
  D3DXVECTOR3 above(0, 5, 0), seen;
  D3DXVec3TransformCoord(&seen, &above, reinterpret_cast<const D3DXMATRIX*>(&camera->View));
  EXPECT_NEAR(seen.z, 5.0f, 1e-5f);
}

TEST_F(CameraCreateTest, ViewsDrawTheirCameraIntoTheirRectangle) {
  Camera* camera = CreateCamera(90.0f, 1.0f, 100.0f);
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(CreateRenderView(camera, 0, 0, 641, 100, 0), nullptr);
  EXPECT_EQ(CreateRenderView(camera, -1, 0, 10, 10, 0), nullptr);
  EXPECT_EQ(CreateRenderView(camera, 0, 0, 0, 10, 0), nullptr);
  Camera foreign{};
  EXPECT_EQ(CreateRenderView(&foreign, 0, 0, 10, 10, 0), nullptr);
  EXPECT_EQ(Engine.RenderViewList.Count(), 0);

  RenderView* left = CreateRenderView(camera, 0, 0, 320, 640, 0xFF0000FF);
  RenderView* right = CreateRenderView(camera, 320, 0, 320, 640, 0xFF00FF00);
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(left->Viewport.Width, 320u);
  RenderWorld();
  const engine_test::BackBufferImage image = ReadBackBuffer();
  EXPECT_EQ(image.At(10, 300), 0x0000FFu);
  EXPECT_EQ(image.At(630, 300), 0x00FF00u);
  Flip();

  Camera* other = CreateCamera(60.0f, 1.0f, 10.0f);
  ASSERT_EQ(SetRenderViewCamera(right, other), 1);
  EXPECT_EQ(SetRenderViewCamera(right, &foreign), 0);
  EXPECT_EQ(right->CameraHandle, other);
  // Views lose a released camera rather than keep a handle to its record.
  ASSERT_EQ(ReleaseCamera(other), 1);
  EXPECT_EQ(right->CameraHandle, nullptr);
  EXPECT_EQ(ReleaseCamera(other), 0);
  RenderWorld();
  Flip();
  ASSERT_EQ(ReleaseRenderView(left), 1);
  EXPECT_EQ(ReleaseRenderView(left), 0);
  EXPECT_EQ(Engine.RenderViewList.Count(), 1);
}

TEST_F(CameraCreateTest, HandlesThatAreNotListedAreRefused) {
  Camera* kept = CreateCamera(60.0f, 1.0f, 100.0f);
  Camera* gone = CreateCamera(60.0f, 1.0f, 100.0f);
  ASSERT_EQ(ReleaseCamera(gone), 1);
  Camera foreign{};
  for (Camera* handle : {gone, &foreign, static_cast<Camera*>(nullptr)}) {
    EXPECT_EQ(ActivateCamera(handle), 0);
    EXPECT_EQ(SetCameraLens(handle, 50.0f, 1.0f, 10.0f), 0);
    EXPECT_EQ(PositionCamera(handle, 1, 2, 3), 0);
    EXPECT_EQ(PointCamera(handle, 1, 2, 4), 0);
    EXPECT_EQ(ReleaseCamera(handle), 0);
    EXPECT_EQ(CreateRenderView(handle, 0, 0, 10, 10, 0), nullptr);
  }
  RenderView foreignView{};
  EXPECT_EQ(SetRenderViewCamera(&foreignView, kept), 0);
  EXPECT_EQ(ReleaseRenderView(&foreignView), 0);
  EXPECT_EQ(foreign.Eye[0], 0.0f);
  EXPECT_EQ(Engine.CameraList.Count(), 1);
  EXPECT_EQ(kept->Active, 1);
}

TEST_F(CameraCreateTest, TheActiveCameraSurvivesAResetAtTheScreensSize) {
  Camera* camera = CreateCamera(70.0f, 1.0f, 100.0f);
  ASSERT_NE(camera, nullptr);
  ASSERT_EQ(PositionCamera(camera, 2, 3, -4), 1);
  const D3DMATRIX view = camera->View;
  const D3DMATRIX projection = camera->Projection;
  ASSERT_EQ(ResetDevice(5), 0);
  ASSERT_EQ(Engine.PresentResult, 0);
  // The reset rebuilds the camera from the engine's viewport: still the whole screen.
  EXPECT_EQ(Engine.ScreenWidth, 640);
  EXPECT_EQ(Engine.ScreenHeight, 640);
  ExpectMatrixNear(DeviceTransform(D3DTS_VIEW), view);
  ExpectMatrixNear(DeviceTransform(D3DTS_PROJECTION), projection);
  // Screen primitives still reach the whole screen.
  ASSERT_EQ(QueueScreenPixel(600, 600, 0xFFFFFFFF), 1);
  RenderWorld();
  EXPECT_EQ(ReadBackBuffer().At(600, 600), 0xFFFFFFu);
  Flip();
}

}  // namespace
