// Cameras, render views and view-frustum culling. A camera's projection uses the screen's aspect
// (the engine's viewport), as the device reset rebuilds it. The active camera's transforms are
// the device's view and projection, which the mesh pass and the frustum planes read; render views
// set their own camera's transforms while they draw.
#pragma once

#include <cstdint>

#include "engine/core/engine_records.h"

// A new camera at the origin looking along +z with +y up: vertical field of view in degrees
// (more than 0, less than 180) and near and far planes (0 < near < far). It becomes the active
// camera when no other camera is active. 0 for a lens out of range or without a device.
Camera* CreateCamera(float fieldOfViewDegrees, float nearPlane, float farPlane);
// Makes the camera the only active one and puts its view and projection on the device.
int ActivateCamera(Camera* camera);
// A new lens, as CreateCamera takes it; a lens out of range is refused.
int SetCameraLens(Camera* camera, float fieldOfViewDegrees, float nearPlane, float farPlane);
// Moves the eye, keeping the point looked at. 0 when the eye would land on that point.
int PositionCamera(Camera* camera, float x, float y, float z);
// Aims the camera at a point. 0 when the point is the eye itself. Looking straight along the
// up direction swaps it for +z (or +x when looking along z), so the view stays defined.
int PointCamera(Camera* camera, float x, float y, float z);
// Removes the camera from CameraList; render views that showed it keep no camera (and draw with
// the transforms already set). 1, or 0 for a camera that is not listed.
int ReleaseCamera(Camera* camera);

// A new render view: the rectangle (x, y, width, height) of the back buffer seen through the
// camera, cleared to `clearColour` each frame. While any view exists the frame draws the 3D
// passes once per view. 0 for a camera that is not listed, or a rectangle that is empty or
// reaches outside the back buffer.
RenderView* CreateRenderView(Camera* camera, int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t clearColour);
// Shows another listed camera in the view.
int SetRenderViewCamera(RenderView* view, Camera* camera);
// Removes the view from RenderViewList. 1, or 0 for a view that is not listed.
int ReleaseRenderView(RenderView* view);

// Non-zero: meshes with bounds that lie outside the view frustum are skipped. Returns 1.
int SetFrustumCulling(int32_t enabled);
