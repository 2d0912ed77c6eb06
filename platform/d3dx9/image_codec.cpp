// File-kind dispatch, colour keying and resampling of 32-bit ARGB images.
#include "d3dx9/image_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace d3dx {
namespace {

bool LooksLikePng(const uint8_t* data, size_t size) {
  return data && size >= 4 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
}
bool LooksLikeBmp(const uint8_t* data, size_t size) {
  return data && size >= 2 && data[0] == 'B' && data[1] == 'M';
}

// Filter kinds, the low byte of a D3DX filter value.
constexpr uint32_t kFilterNone = 1;
constexpr uint32_t kFilterPoint = 2;
constexpr uint32_t kFilterLinear = 3;
constexpr uint32_t kFilterTriangle = 4;
constexpr uint32_t kFilterBox = 5;
constexpr uint32_t kMirrorU = 1u << 16;
constexpr uint32_t kMirrorV = 2u << 16;

// Source index for a possibly out-of-range tap: wrap around, or reflect when mirrored.
uint32_t Address(int64_t i, uint32_t size, bool mirror) {
  const int64_t n = size;
  if (i >= 0 && i < n) return uint32_t(i);
  if (!mirror) return uint32_t(((i % n) + n) % n);
  const int64_t period = 2 * n;
  int64_t m = ((i % period) + period) % period;
  return uint32_t(m < n ? m : period - 1 - m);
}

struct Tap {
  uint32_t index;
  float weight;
};

// For each destination index, the weighted source taps along one axis. Weights are normalised.
std::vector<std::vector<Tap>> AxisTaps(uint32_t srcSize, uint32_t dstSize, uint32_t kind,
                                       bool mirror) {
  std::vector<std::vector<Tap>> taps(dstSize);
  const double scale = double(srcSize) / double(dstSize);
  for (uint32_t d = 0; d < dstSize; ++d) {
    std::vector<Tap>& list = taps[d];
    const double centre = (d + 0.5) * scale;  // in source pixel units, pixel i spans [i, i+1)
    switch (kind) {
      case kFilterPoint: {
        list.push_back({Address(int64_t(std::floor(centre)), srcSize, mirror), 1.0f});
        break;
      }
      case kFilterLinear: {
        const double c = centre - 0.5;
        const double i0 = std::floor(c);
        const float f = float(c - i0);
        list.push_back({Address(int64_t(i0), srcSize, mirror), 1.0f - f});
        if (f > 0.0f) list.push_back({Address(int64_t(i0) + 1, srcSize, mirror), f});
        break;
      }
      case kFilterTriangle: {
        // A tent as wide as the larger of one source pixel and the destination footprint.
        const double radius = std::max(1.0, scale);
        const int64_t first = int64_t(std::floor(centre - radius - 0.5));
        const int64_t last = int64_t(std::ceil(centre + radius - 0.5));
        for (int64_t i = first; i <= last; ++i) {
          const double w = 1.0 - std::fabs((i + 0.5) - centre) / radius;
          if (w > 0.0) list.push_back({Address(i, srcSize, mirror), float(w)});
        }
        break;
      }
      case kFilterBox: {
        // Area coverage of the destination footprint [centre - scale/2, centre + scale/2).
        const double lo = d * scale;
        const double hi = (d + 1) * scale;
        for (int64_t i = int64_t(std::floor(lo)); double(i) < hi; ++i) {
          const double w = std::min(hi, double(i + 1)) - std::max(lo, double(i));
          if (w > 1e-9) list.push_back({Address(i, srcSize, mirror), float(w)});
        }
        break;
      }
    }
    float total = 0.0f;
    for (const Tap& t : list) total += t.weight;
    for (Tap& t : list) t.weight /= total;
  }
  return taps;
}

uint8_t ToByte(float v) {
  const float r = std::floor(v + 0.5f);
  return uint8_t(std::clamp(r, 0.0f, 255.0f));
}

}  // namespace

bool ReadImageFileInfo(const uint8_t* data, size_t size, ImageFileInfo* info) {
  if (LooksLikePng(data, size)) return ReadPngInfo(data, size, info);
  if (LooksLikeBmp(data, size)) return ReadBmpInfo(data, size, info);
  return false;
}

bool DecodeImageFile(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out) {
  if (LooksLikePng(data, size)) return DecodePng(data, size, info, out);
  if (LooksLikeBmp(data, size)) return DecodeBmp(data, size, info, out);
  out->width = out->height = 0;
  out->pixels.clear();
  return false;
}

void ApplyColourKey(ArgbImage* image, uint32_t key, bool sourceHasAlpha) {
  if (key == 0) return;
  const uint32_t mask = sourceHasAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
  for (uint32_t& p : image->pixels)
    if ((p & mask) == (key & mask)) p = 0;
}

bool ResampleImage(const ArgbImage& src, uint32_t width, uint32_t height, uint32_t filter,
                   ArgbImage* dst) {
  const uint32_t kind = filter & 0xFF;
  if (kind < kFilterNone || kind > kFilterBox) return false;
  if (width == 0 || height == 0 || src.width == 0 || src.height == 0) return false;
  dst->width = width;
  dst->height = height;
  if (width == src.width && height == src.height) {
    dst->pixels = src.pixels;  // a 1:1 copy must not change a texel, whatever the filter
    return true;
  }
  if (kind == kFilterNone) {
    // No scaling: the overlap is copied, anything outside the source is transparent black.
    dst->pixels.assign(size_t{width} * height, 0);
    const uint32_t w = std::min(width, src.width), h = std::min(height, src.height);
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(&dst->pixels[size_t{y} * width], &src.pixels[size_t{y} * src.width], w * 4);
    return true;
  }
  const auto xs = AxisTaps(src.width, width, kind, (filter & kMirrorU) != 0);
  const auto ys = AxisTaps(src.height, height, kind, (filter & kMirrorV) != 0);

  // Horizontal pass into float channels, then vertical pass.
  std::vector<float> rowsH(size_t{width} * src.height * 4);
  for (uint32_t y = 0; y < src.height; ++y) {
    const uint32_t* in = &src.pixels[size_t{y} * src.width];
    float* out = &rowsH[size_t{y} * width * 4];
    for (uint32_t x = 0; x < width; ++x) {
      float a = 0, r = 0, g = 0, b = 0;
      for (const Tap& t : xs[x]) {
        const uint32_t p = in[t.index];
        a += t.weight * float(p >> 24);
        r += t.weight * float((p >> 16) & 0xFF);
        g += t.weight * float((p >> 8) & 0xFF);
        b += t.weight * float(p & 0xFF);
      }
      out[x * 4 + 0] = a;
      out[x * 4 + 1] = r;
      out[x * 4 + 2] = g;
      out[x * 4 + 3] = b;
    }
  }
  dst->pixels.assign(size_t{width} * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      float c[4] = {0, 0, 0, 0};
      for (const Tap& t : ys[y]) {
        const float* in = &rowsH[(size_t{t.index} * width + x) * 4];
        for (int k = 0; k < 4; ++k) c[k] += t.weight * in[k];
      }
      dst->pixels[size_t{y} * width + x] = (uint32_t(ToByte(c[0])) << 24) |
                                           (uint32_t(ToByte(c[1])) << 16) |
                                           (uint32_t(ToByte(c[2])) << 8) | ToByte(c[3]);
    }
  }
  return true;
}

}  // namespace d3dx
