// Screen primitives: pixels, lines, circles and rectangles queued for the screen-primitive pass,
// which draws them into the back buffer after every other pass of the frame and then empties the
// queue. Coordinates are back-buffer pixels; colours 0xAARRGGBB (stored as they are on 32-bit
// screens). Each operation returns 1 when it queued a command, 0 when the engine is not open or
// the arguments are refused.
#pragma once

#include <cstdint>

#include "engine/scene/screen_primitive_pass.h"

int QueueScreenPixel(int32_t x, int32_t y, uint32_t colour);
// Both end points included.
int QueueScreenLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
// The outline of the circle of `radius` (0 or more) around (cx, cy).
int QueueScreenCircle(int32_t cx, int32_t cy, int32_t radius, uint32_t colour);
// A filled disc as the pass draws it (see FillScreenCircle); radii below 2 draw nothing.
int QueueScreenFilledCircle(int32_t cx, int32_t cy, int32_t radius, uint32_t colour);
// The outline of the rectangle with corners (x1, y1) and (x2, y2), both included.
int QueueScreenRectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
// Every pixel from (x1, y1) to (x2, y2), both corners included, in either order. The part on the
// screen is queued; 1 and nothing queued when none of it is.
int QueueScreenFilledRectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
