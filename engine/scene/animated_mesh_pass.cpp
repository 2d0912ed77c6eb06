#include "engine/scene/animated_mesh_pass.h"

#include "engine/core/engine_state.h"

// Serves AnimatedMeshList; animation and skinning come with the animated meshes.
void DrawAnimatedMeshes() {
  Engine.AnimatedMeshList.Reset();
  while (Engine.AnimatedMeshList.Next() != nullptr) {
  }
}
