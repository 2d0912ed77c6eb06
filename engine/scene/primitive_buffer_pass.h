// The primitive-buffer pass of the frame.
#pragma once

// Draws every PrimitiveBuffer on top of the scene, depth and lighting off while it runs.
void DrawPrimitiveBuffers();
