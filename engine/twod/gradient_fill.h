// Bilinear four-corner colour gradient painted into a runtime raster image.
#pragma once

#include <cstdint>

#include "runtime/raster_image.h"

// Paints the whole image with a gradient between four corner colours (0x00BBGGRR; the top byte
// is ignored): pixel (0, 0) is exactly topLeft, and each row (column) moves one H-th (W-th) of
// the way to the bottom (right) colours. `reserved` is ignored. Always returns 0; an image that
// does not exist is left alone.
int GradientFillImage(RuntimeId image, int32_t reserved, uint32_t topLeft, uint32_t topRight,
                      uint32_t bottomLeft, uint32_t bottomRight);
