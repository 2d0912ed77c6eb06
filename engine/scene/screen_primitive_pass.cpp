#include "engine/scene/screen_primitive_pass.h"

#include "engine/core/engine_state.h"

// Serves ScreenPrimitiveQueue; CPU drawing comes with the screen primitives.
void DrawScreenPrimitives() {
  Engine.ScreenPrimitiveQueue.Reset();
  while (Engine.ScreenPrimitiveQueue.Next() != nullptr) {
  }
}
