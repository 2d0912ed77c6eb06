// The screen-primitive pass, the last drawing pass of the frame: pixels, lines, circles and
// rectangles drawn by the CPU into the locked back buffer.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// Draws the commands of ScreenPrimitiveQueue into the locked back buffer and empties the queue.
// The queue is also emptied when the back buffer cannot be had, and kept when it cannot be
// locked (a later frame draws it).
void DrawScreenPrimitives();

// The drawing operations work on a locked surface at `base`: `bytesPerPixel` 4 stores the colour
// as it is, any other value stores it as a 16-bit R5G6B5 pixel; a row is `rowLength` pixels.
// Writes are clipped to `width` x `height` (and to the row length); the caller vouches that the
// surface holds that many rows.
void PlotScreenPixel(void* base, int32_t x, int32_t y, uint32_t colour, int32_t bytesPerPixel,
                     int32_t rowLength, int32_t width, int32_t height);
// Bresenham's line, both end points included.
void DrawScreenLine(void* base, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                    int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height);
// The midpoint circle of the given radius around (cx, cy).
void DrawScreenCircle(void* base, int32_t cx, int32_t cy, int32_t radius, uint32_t colour,
                      int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height);
// A filled disc spanning rows cy - radius + 1 to cy + radius - 2, each row reaching one pixel
// less far right than left. Its pixels land only in columns 1 .. width - 1, and in rows 1 ..
// height - 1 above the centre's half and 0 .. height - 2 below it.
void FillScreenCircle(void* base, int32_t cx, int32_t cy, int32_t radius, uint32_t colour,
                      int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height);
// An ARGB colour as R5G6B5: the top five bits of red, six of green, five of blue; alpha dropped.
uint16_t PackR5G6B5(uint32_t colour);
