// Textures: empty ones filled with one colour, ones converted from runtime raster images through
// an in-memory BMP file, and colour keys.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/twod/twod_records.h"
#include "runtime/raster_image.h"

// (a & 0xFF) << 24 | (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF): an engine ARGB colour.
uint32_t ComposeColour(int32_t alpha, int32_t red, int32_t green, int32_t blue);

// A width x height A8R8G8B8 managed texture with every texel set to `colour`; 0 if the texture
// cannot be made (also for sizes below 1).
Texture* CreateTexture(int32_t width, int32_t height, uint32_t colour);

// A texture read from a picture file (PNG or BMP), full mip chain, in the file's format with alpha
// kept; its material as CreateTexture gives it. 0 without a device; 0 and LastError 18 with the
// file and the reason in LastErrorText when the file cannot be read or decoded.
Texture* LoadTexture(const char* fileName);

// The image converted into a texture (R8G8B8 requested, no flip, full mip chain); 0 for an
// unknown image or a failed conversion (LastError 18 when D3DX refused the file).
Texture* CreateTextureFromImage(RuntimeId image);
// The full conversion: flipRows non-zero takes the rows top-down (the texture comes out upside
// down), withAlpha 1 asks for A8R8G8B8, mipLevels 0..10 is passed on (0 = full chain), anything
// else means "as the file says".
Texture* CreateTextureFromImageEx(RuntimeId image, int32_t flipRows, int32_t withAlpha,
                                  int32_t mipLevels);
// The in-memory 32-bit BMP file the conversion hands to D3DX. False for an unknown image.
bool BuildImageBmpFile(RuntimeId image, int32_t flipRows, std::vector<uint8_t>* file);

// Rebuilds the texture as A8R8G8B8 with the runtime colour (0x00BBGGRR) made transparent black.
// 1 on success; 0 for an unknown texture or when the rebuild fails (the texture is then kept as
// it was). Format, Height and Width of the record keep describing the texture as created.
int ApplyColourKey(Texture* texture, uint32_t colour);

// Level-0 size of the texture's current Direct3D texture; 0 for an unknown texture.
int TextureWidth(Texture* texture);
int TextureHeight(Texture* texture);
