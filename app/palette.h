// The five palette sprites, the per-body sprite draws and the heads-up line.
#pragma once

#include <string>

#include "app/demo.h"

struct Texture;

// The palette colours (0x00BBGGRR), indexed by banner pixel value: grey for the grid, then red,
// yellow, green and blue for the four banner lines.
constexpr uint32_t kPaletteColours[kPaletteSize] = {0x808080, 0x0000FF, 0x00FFFF, 0x00FF00,
                                                    0xFF0000};
// The 3 x 3 textures behind the palette sprites, kept for the program's life.
extern Texture* PaletteTextures[kPaletteSize];

// The per-shape callback of DrawShapes (5.3's hash iterator shape): turns the shape's sprite to
// the body's angle and queues it at the shape's centre rounded half to even. Shapes without a
// sprite (the balls) queue nothing.
void DrawShape(void* shape, void* data);
// "FPS: <rate> Objekte: <count>" in plain decimal.
std::string HudText(int32_t frameRate, int32_t bodyCount);
