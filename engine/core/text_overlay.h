// The text overlay: text queued during a frame and drawn by the frame's text pass.
#pragma once

#include <cstdint>

struct Font;

// Queues `text` at (x, y) in the current text style. 1 when queued, 0 for empty text or an
// unusable device.
int DrawText(int x, int y, const char* text);
int QueueText(int x, int y, const char* text, Font* font, uint32_t colour, int align,
              float rotationDegrees);
// The text pass, run by RenderWorld inside its scene: draws and empties the text queue.
void DrawTextPass();
