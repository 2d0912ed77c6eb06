// The primitive-buffer pass of the frame.
#pragma once

#include "engine/scene/scene_records.h"

// Draws every PrimitiveBuffer on top of the scene, depth and lighting off while it runs.
void DrawPrimitiveBuffers();
// Draws one buffer with the states the device has; nothing for a buffer that is not in
// PrimitiveBufferList or has no vertex buffer. A count or type the device refuses draws nothing.
void DrawPrimitiveBuffer(PrimitiveBuffer* buffer);
