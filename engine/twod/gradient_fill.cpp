// Four-corner gradient fill of a raster image, one PlotPixel per pixel.
//
// Every intermediate value is stored as a float, exactly as the gradient has always been
// computed, so the rounding of each pixel (ties to even) is reproducible.
#include "engine/twod/gradient_fill.h"

#include <algorithm>
#include <cmath>

namespace {

struct Channels {
  float c[3];
};

int Channel(uint32_t colour, int k) {
  return static_cast<int>((colour >> (8 * k)) & 0xFF);
}

// Nearest integer, ties to even, limited to a channel. Adding and removing 1.5 x 2^23 leaves a
// float with no fraction bits, rounded by the hardware's default mode (to nearest, ties to even);
// exact for |v| < 2^22, far beyond any channel value.
int RoundHalfEven(float v) {
  constexpr float kShift = 12582912.0f;
  const float rounded = (v + kShift) - kShift;
  return std::clamp(static_cast<int>(rounded), 0, 255);
}

}  // namespace

int GradientFillImage(RuntimeId image, int32_t reserved, uint32_t topLeft, uint32_t topRight,
                      uint32_t bottomLeft, uint32_t bottomRight) {
  const int width = RasterImageWidth(image);
  const int height = RasterImageHeight(image);
  if (width <= 0 || height <= 0) return 0;  // no image: nothing to draw, and no step to divide by

  Channels leftStep{}, rightStep{};
  for (int k = 0; k < 3; ++k) {
    leftStep.c[k] = static_cast<float>(
        static_cast<double>(Channel(topLeft, k) - Channel(bottomLeft, k)) / height);
    rightStep.c[k] = static_cast<float>(
        static_cast<double>(Channel(topRight, k) - Channel(bottomRight, k)) / height);
  }
  if (!BeginImageDrawing(image)) return 0;
  for (int y = 0; y < height; ++y) {
    Channels left{}, columnStep{};
    for (int k = 0; k < 3; ++k) {
      left.c[k] = static_cast<float>(Channel(topLeft, k) - static_cast<double>(y) * leftStep.c[k]);
      const float right =
          static_cast<float>(Channel(topRight, k) - static_cast<double>(y) * rightStep.c[k]);
      columnStep.c[k] = static_cast<float>((static_cast<double>(left.c[k]) - right) / width);
    }
    for (int x = 0; x < width; ++x) {
      uint32_t colour = 0;
      for (int k = 0; k < 3; ++k) {
        const float v = static_cast<float>(left.c[k] - static_cast<double>(x) * columnStep.c[k]);
        colour |= static_cast<uint32_t>(RoundHalfEven(v)) << (8 * k);
      }
      PlotPixel(x, y, colour);
    }
  }
  EndDrawing();
  return 0;
}
