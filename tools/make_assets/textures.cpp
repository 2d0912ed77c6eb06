// The showcase's pictures, painted pixel by pixel from hashed value noise. The floor and the
// figure's cloth repeat seamlessly (every noise lattice wraps with the picture); the sparks and the
// smoke puff have alpha and fall to transparent black well inside their borders, with colours
// premultiplied by alpha so that additive and alpha blending both show them cleanly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "assets.h"
#include "platform/d3dx9/image_codec.h"

namespace assets {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Colour {
  double r, g, b;
};

Colour Mix(const Colour& a, const Colour& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Colour Scale(const Colour& c, double k) {
  return {c.r * k, c.g * k, c.b * k};
}

uint32_t Channel(double v) {
  return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}
uint32_t Pack(const Colour& c, double alpha = 1.0) {
  return Channel(alpha) << 24 | Channel(c.r) << 16 | Channel(c.g) << 8 | Channel(c.b);
}

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}
double Random(int x, int y, uint32_t seed) {
  return Hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed) / 4294967296.0;
}

// Smooth value noise in [0, 1) with `cells` lattice cells across `period` pixels, wrapping.
double Noise(double x, double y, int cells, int period, uint32_t seed) {
  const double fx = x * cells / period, fy = y * cells / period;
  const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
  const double tx = fx - ix, ty = fy - iy;
  const double sx = tx * tx * (3.0 - 2.0 * tx), sy = ty * ty * (3.0 - 2.0 * ty);
  auto at = [&](int i, int j) {
    return Random(((i % cells) + cells) % cells, ((j % cells) + cells) % cells, seed);
  };
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

// Octaves of noise, each with twice the cells and half the weight, normalised to [0, 1).
double Fbm(double x, double y, int cells, int period, uint32_t seed, int octaves) {
  double sum = 0.0, weight = 1.0, total = 0.0;
  for (int o = 0; o < octaves; ++o) {
    sum += Noise(x, y, cells << o, period, seed + uint32_t(o)) * weight;
    total += weight;
    weight *= 0.5;
  }
  return sum / total;
}

double SmoothStep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

d3dx::ArgbImage Blank(uint32_t width, uint32_t height) {
  d3dx::ArgbImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(size_t{width} * height, 0);
  return image;
}

File Png(const std::string& name, const d3dx::ArgbImage& image, bool withAlpha) {
  File file{name, {}};
  if (!d3dx::EncodePng(image, withAlpha, &file.bytes)) file.bytes.clear();
  return file;
}

// Flagstones 64 pixels square in rows offset by half a stone, with grout, bevelled edges, a tint
// of their own and speckled grain.
d3dx::ArgbImage Floor() {
  constexpr int kSize = 256, kStone = 64;
  d3dx::ArgbImage image = Blank(kSize, kSize);
  const Colour grey{0.50, 0.49, 0.47}, warm{0.60, 0.53, 0.44}, grout{0.20, 0.19, 0.18};
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const int row = y / kStone;
      const int shifted = (x + (row % 2) * kStone / 2) % kSize;
      const int col = shifted / kStone;
      const int lx = shifted % kStone, ly = y % kStone;
      const double grain = Fbm(x, y, 8, kSize, 11, 4);
      const double speck = Random(x, y, 12);
      const int edge = std::min({lx, kStone - 1 - lx, ly, kStone - 1 - ly});
      Colour c;
      if (edge < 2) {
        c = Scale(grout, 0.8 + 0.4 * grain);
      } else {
        c = Mix(grey, warm, Random(col, row, 13));
        double light =
            0.85 + 0.25 * Random(col, row, 14) + 0.35 * (grain - 0.5) + 0.08 * (speck - 0.5);
        // Bevels: lit from the top left.
        if (edge < 6) {
          const double depth = (6.0 - edge) / 4.0;
          const bool litSide = std::min(lx, ly) == edge;
          light += (litSide ? 0.12 : -0.18) * depth;
        }
        c = Scale(c, light);
      }
      image.At(x, y) = Pack(c);
    }
  return image;
}

// Barrel wood: staves with dark joints and lengthwise grain, iron hoops, end grain above and
// below the side, and the lid's boards inside a disc.
d3dx::ArgbImage PropPicture() {
  constexpr int kSize = 256;
  d3dx::ArgbImage image = Blank(kSize, kSize);
  const Colour wood{0.55, 0.36, 0.20}, dark{0.25, 0.15, 0.08}, iron{0.28, 0.28, 0.30};
  const Colour endGrain{0.45, 0.30, 0.17};
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double u = (x + 0.5) / kSize, v = (y + 0.5) / kSize;
      Colour c;
      if (v < 0.5) {
        const int staveWidth = kSize / kPropStaves;
        const int stave = x / staveWidth, sx = x % staveWidth;
        const double streaks = Noise(x * 8.0, y * 0.5, 64, kSize, 21 + uint32_t(stave));
        c = Scale(Mix(wood, dark, 0.35 * streaks + 0.15 * Random(stave, 0, 22)),
                  0.9 + 0.2 * Fbm(x, y, 16, kSize, 23, 3));
        if (sx == 0 || sx == staveWidth - 1) c = Scale(c, 0.55);
        if (v < kPropSideTop - 0.01 || v > kPropSideBottom + 0.01) {
          const double rings = 0.5 + 0.5 * std::sin(x * 0.9 + 3.0 * Noise(x, y, 16, kSize, 24));
          c = Scale(endGrain, 0.8 + 0.25 * rings);
        }
        for (float hoop : kPropHoops) {
          const float hv = kPropSideTop + (kPropSideBottom - kPropSideTop) * (1.0f - hoop);
          const double d = std::fabs(v - hv);
          if (d < kPropHoopHalfHeight * (kPropSideBottom - kPropSideTop)) {
            const double rivet = (x % 32 == 16 && std::fabs(d) < 0.004) ? 1.6 : 1.0;
            c = Scale(iron, (0.8 + 0.3 * Fbm(x, y, 32, kSize, 25, 2)) * rivet);
          }
        }
      } else if (u < 0.5) {
        const double du = u - kPropLidU, dv = v - kPropLidV;
        const double r = std::sqrt(du * du + dv * dv) / kPropLidRadius;
        const int board = static_cast<int>((dv / kPropLidRadius + 1.0) * 2.5);
        const double streaks = Noise(x * 0.5, y * 8.0, 64, kSize, 31 + uint32_t(board));
        c = Scale(Mix(wood, dark, 0.3 * streaks + 0.15 * Random(board, 1, 32)),
                  0.85 + 0.2 * Fbm(x, y, 16, kSize, 33, 3));
        const double joint = std::fmod((dv / kPropLidRadius + 1.0) * 2.5, 1.0);
        if (joint < 0.03 || joint > 0.97) c = Scale(c, 0.55);
        if (r > 0.93) c = Scale(dark, 0.9);
      } else {
        c = Scale(wood, 0.8 + 0.2 * Fbm(x, y, 16, kSize, 34, 3));
      }
      image.At(x, y) = Pack(c);
    }
  return image;
}

// The figure's cloth: a striped jersey in the upper half (rows run around the body), denim with a
// diagonal twill in the lower half.
d3dx::ArgbImage FigurePicture() {
  constexpr int kSize = 256;
  d3dx::ArgbImage image = Blank(kSize, kSize);
  const Colour red{0.72, 0.14, 0.16}, cream{0.93, 0.89, 0.78}, navy{0.12, 0.14, 0.30};
  const Colour denim{0.21, 0.30, 0.50};
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double weave = ((x + y) & 1) ? 1.03 : 0.97;
      Colour c;
      if (y < kSize / 2) {
        const int band = (y / 16) % 2;
        c = band == 0 ? red : cream;
        if (y % 16 == 0 || y % 16 == 15) c = navy;
        c = Scale(c, weave * (0.92 + 0.12 * Fbm(x, y, 16, kSize, 41, 3)));
      } else {
        const double twill = ((x + y) % 4 < 2) ? 1.08 : 0.92;
        const double fade = 0.85 + 0.3 * Noise(x, 0, 16, kSize, 42);
        c = Scale(denim, twill * fade * (0.9 + 0.15 * Fbm(x, y, 32, kSize, 43, 3)));
      }
      image.At(x, y) = Pack(c);
    }
  return image;
}

// Frame `f` of 8: a white-hot centre in an orange glow that swells and shrinks once over the
// eight frames, with four long rays and four short ones turning a quarter turn (so the last frame
// leads back into the first).
d3dx::ArgbImage Spark(int f) {
  constexpr int kSize = 32;
  d3dx::ArgbImage image = Blank(kSize, kSize);
  const double centre = (kSize - 1) / 2.0;
  const double turn = f * (kPi / 2.0) / 8.0;
  const double pulse = 1.0 + 0.25 * std::sin(2.0 * kPi * f / 8.0);
  const Colour orange{1.0, 0.55, 0.12}, white{1.0, 1.0, 0.92};
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double dx = x - centre, dy = y - centre;
      const double r = std::sqrt(dx * dx + dy * dy);
      const double a = std::atan2(dy, dx);
      const double core = std::exp(-std::pow(r / (2.0 * pulse), 2.0));
      const double glow = 0.5 * std::exp(-std::pow(r / (5.5 * pulse), 2.0));
      const double longRays =
          std::pow(std::fabs(std::cos(2.0 * (a - turn))), 40.0) * std::exp(-r / (9.0 * pulse));
      const double shortRays = 0.5 *
                               std::pow(std::fabs(std::cos(2.0 * (a - turn - kPi / 4.0))), 60.0) *
                               std::exp(-r / (5.0 * pulse));
      const double window = std::clamp((centre - r) / 3.0, 0.0, 1.0);
      const double intensity = std::min(1.0, core + glow + longRays + shortRays) * window;
      const Colour c = Mix(orange, white, std::clamp(1.3 * core + 0.3 * longRays, 0.0, 1.0));
      image.At(x, y) = Pack(Scale(c, intensity), intensity);
    }
  return image;
}

// A soft, lumpy puff, lighter on top.
d3dx::ArgbImage Smoke() {
  constexpr int kSize = 64;
  d3dx::ArgbImage image = Blank(kSize, kSize);
  const double centre = (kSize - 1) / 2.0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double dx = x - centre, dy = y - centre;
      const double r = std::sqrt(dx * dx + dy * dy) / 30.0;
      const double body = r < 1.0 ? (1.0 - r * r) * (1.0 - r * r) : 0.0;
      const double lumps = Fbm(x, y, 4, kSize, 51, 3);
      const double alpha = 0.85 * body * (0.5 + 0.5 * SmoothStep(0.2, 0.8, lumps));
      const double shade = 0.62 + 0.25 * (1.0 - y / double(kSize - 1)) + 0.1 * (lumps - 0.5);
      image.At(x, y) = Pack(Scale(Colour{shade, shade, shade * 1.02}, alpha), alpha);
    }
  return image;
}

}  // namespace

std::vector<File> MakeTextures() {
  std::vector<File> files;
  files.push_back(Png("floor.png", Floor(), false));
  files.push_back(Png("prop.png", PropPicture(), false));
  files.push_back(Png("figure.png", FigurePicture(), false));
  for (int f = 0; f < 8; ++f)
    files.push_back(Png("spark" + std::to_string(f) + ".png", Spark(f), true));
  files.push_back(Png("smoke.png", Smoke(), true));
  return files;
}

}  // namespace assets
