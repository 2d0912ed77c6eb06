// The mesh pass of the frame and view-frustum culling.
#pragma once

// Rebuilds FrustumPlanes from the device's current view and projection transforms.
void UpdateFrustumPlanes();
// Draws every Mesh of MeshList in list order.
void DrawMeshes();
