// The runtime's raster images (GDI DIB sections held in memory) and 2D drawing on them.
//
// Images live in a numbered table: a caller picks a number (0 or more) or passes -1 ("any") and
// then identifies the image by the returned handle, the address of its record. Identifiers are
// pointer-sized so that both numbers and handles pass.
//
// Colours are 0xAABBGGRR: red in the low byte, then green, then blue; the top byte is alpha where
// the alpha-channel drawing mode uses it and is ignored otherwise. Coordinates have their origin
// at the top left of the image, y downward.
#pragma once

#include <cstdint>

#include "windows.h"

typedef intptr_t RuntimeId;  // an object number (0, 1, ...) or a handle returned for "any" (-1)
constexpr RuntimeId kAnyObject = -1;

// Depth flag: a 32-bit image starts transparent black (0) instead of opaque black (0xFF000000).
constexpr int kImageStartTransparent = 0x100;
// Largest width or height of an image (the record holds 16-bit signed sizes).
constexpr int kMaxImageSide = 32767;

// Creates an image of width x height at `depth` bits (below 24 gives 24; 32 adds an alpha channel;
// add kImageStartTransparent for a transparent 32-bit start). A 24-bit image starts black, a
// 32-bit one opaque black. Returns the GDI bitmap handle for a number, the image handle for -1,
// 0 on failure (bad size, bitmap not created). Whatever the number held before is released.
RuntimeId NewRasterImage(RuntimeId number, int width, int height, int depth = 24);
// Releases an image; -1 and images that do not exist are ignored. An image being drawn on ends
// its drawing first.
void ReleaseRasterImage(RuntimeId image);
// Size in pixels; 0 for an image that does not exist.
int RasterImageWidth(RuntimeId image);
int RasterImageHeight(RuntimeId image);
// Non-zero if the image exists.
int IsRasterImage(RuntimeId image);
// The image's GDI bitmap (a DIB section), null if the image does not exist.
HBITMAP RasterImageBitmap(RuntimeId image);

// Makes the image the drawing target and returns the memory device context holding its bitmap
// (usable with GDI calls such as GetDIBits until EndDrawing). Null if the image does not exist,
// if drawing cannot start, or if a drawing is already open (that drawing is left as it is).
HDC BeginImageDrawing(RuntimeId image);
// Ends the open drawing; nothing happens when none is open.
void EndDrawing();
// Non-zero while a drawing is open.
int DrawingIsOpen();

// Drawing modes (DrawingMode). 0: plain writes, text drawn over an opaque background (the back
// colour). kDrawTransparent: text leaves the background untouched. kDrawAlphaChannel: at 32 bits
// ReadPixel reports the alpha byte and PlotPixel, FillCircle and DrawString write it.
constexpr int kDrawOpaque = 0;
constexpr int kDrawTransparent = 1;
constexpr int kDrawAlphaChannel = 2;
// Sets the mode of the open drawing (a combination of the flags above); returns the previous
// mode, 0 when no drawing is open.
int DrawingMode(int mode);
// Sets the back colour of the open drawing (black, 0xFF000000, when drawing begins); returns
// the previous one, 0 when no drawing is open.
uint32_t DrawingBackColour(uint32_t colour);

// Selects a font (number, handle from OpenFont(-1, ...), or the GDI font handle) for DrawString.
// Returns 1, or 0 if no drawing is open or the font does not exist.
int SetDrawingFont(RuntimeId font);
// Draws text (Windows-1252) with its top-left corner at (x, y) in the front colour; returns the
// x coordinate just after the text (x for an empty text or when no drawing is open).
int DrawString(int x, int y, const char* text, uint32_t front);
// Fills the circle of radius r around (x, y) in the colour, clipped to the target.
void FillCircle(int x, int y, int r, uint32_t colour);
// The pixel at (x, y): red | green << 8 | blue << 16 (plus alpha << 24 at 32 bits in the
// alpha-channel mode). 0 outside the target or when no drawing is open.
uint32_t ReadPixel(int x, int y);
// Writes the colour's red, green and blue into the pixel (and alpha in the alpha-channel mode at
// 32 bits); nothing happens outside the target or when no drawing is open.
void PlotPixel(int x, int y, uint32_t colour);

// Colour components and their composition (0x00BBGGRR).
inline int Red(uint32_t colour) {
  return static_cast<int>(colour & 255);
}
inline int Green(uint32_t colour) {
  return static_cast<int>((colour >> 8) & 255);
}
inline int Blue(uint32_t colour) {
  return static_cast<int>((colour >> 16) & 255);
}
inline int Alpha(uint32_t colour) {
  return static_cast<int>((colour >> 24) & 255);
}
inline uint32_t ComposeRGB(int red, int green, int blue) {
  return (static_cast<uint32_t>(red) & 255) | ((static_cast<uint32_t>(green) & 255) << 8) |
         ((static_cast<uint32_t>(blue) & 255) << 16);
}

// End of program: ends an open drawing and releases every image and font the runtime holds.
void ReleaseRuntimeObjects();
// End of program for the whole runtime: ReleaseRuntimeObjects and ReleaseWindows.
void EndRuntime();
