// The runtime's numbered fonts: GDI fonts opened by point size and style flags.
#pragma once

#include "runtime/raster_image.h"

// Style flags of OpenFont.
constexpr int kFontUnderline = 0x4;
constexpr int kFontStrikeOut = 0x8;
constexpr int kFontProofQuality = 0x10;
constexpr int kFontBold = 0x100;
constexpr int kFontItalic = 0x200;

// Opens a font of `size` points (at the display's 96 pixels per inch) under a number or as "any"
// (-1). Returns the GDI font handle for a number, the font handle for -1, 0 on failure.
// Whatever the number held before is released.
RuntimeId OpenFont(RuntimeId number, const char* face, int size, int flags);
// The GDI font handle of a font number or handle; null if the font does not exist.
HFONT FontHandle(RuntimeId font);
// Releases a font; -1 and fonts that do not exist are ignored.
void ReleaseFont(RuntimeId font);
