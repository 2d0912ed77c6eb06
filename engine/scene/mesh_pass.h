// The mesh pass of the frame and view-frustum culling.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// Rebuilds FrustumPlanes from the device's current view and projection transforms.
void UpdateFrustumPlanes();
// Draws every Mesh of MeshList in list order.
void DrawMeshes();
// Draws one mesh as the mesh pass does; does nothing for a mesh that is not in MeshList.
void DrawMesh(Mesh* mesh);
// DrawMesh for passes that walk MeshList themselves and so already know the record is listed;
// it skips the lookup, which would make a pass over n meshes cost n * n.
void DrawListedMesh(Mesh& mesh);
// 1 when the sphere reaches inside every plane of FrustumPlanes, 0 when it lies outside one
// (touching a plane from outside counts as outside).
int SphereInFrustum(float x, float y, float z, float radius);
// 1 unless all eight corners of the axis-aligned box lie outside one plane. Conservative: a box
// outside the frustum but across two planes counts as visible.
int BoxInFrustum(float x, float y, float z, float halfX, float halfY, float halfZ);
// A direction packed into a colour for DOT3 lighting: each component c in -1..1 becomes the byte
// nearest c * 127 + 128 (clamped to 0..255), as 0xFF000000 | x << 16 | y << 8 | z. 0 for null.
uint32_t PackDirection(const float* direction);
