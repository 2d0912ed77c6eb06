#include "engine/scene/primitive_buffer_pass.h"

#include "engine/core/engine_state.h"

// Serves PrimitiveBufferList; drawing comes with the primitive buffers.
void DrawPrimitiveBuffers() {
  Engine.PrimitiveBufferList.Reset();
  while (Engine.PrimitiveBufferList.Next() != nullptr) {
  }
}
