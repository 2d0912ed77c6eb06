#include "engine/scene/mesh_pass.h"

#include "engine/core/engine_state.h"

// Serves FrustumPlanes for the culling of MeshList; the planes come with the mesh pass.
void UpdateFrustumPlanes() {}

// Serves MeshList; fixed-function drawing comes with the mesh pass.
void DrawMeshes() {
  Engine.MeshList.Reset();
  while (Engine.MeshList.Next() != nullptr) {
  }
}
