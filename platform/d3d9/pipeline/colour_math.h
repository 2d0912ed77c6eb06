// The small arithmetic the pixel and output stages share: 8-bit colour channels, rounding
// without library calls.
#pragma once

#include <cmath>
#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace d3d9 {

struct C4 {
  int r, g, b, a;
};

inline C4 Unpack(uint32_t c) {
  return C4{static_cast<int>((c >> 16) & 255), static_cast<int>((c >> 8) & 255),
            static_cast<int>(c & 255), static_cast<int>(c >> 24)};
}
inline uint32_t Pack(const C4& c) {
  return (static_cast<uint32_t>(c.a) << 24) | (static_cast<uint32_t>(c.r) << 16) |
         (static_cast<uint32_t>(c.g) << 8) | static_cast<uint32_t>(c.b);
}
// x * y / 255, rounded to nearest.
inline int Mul255(int x, int y) {
  return (x * y + 127) / 255;
}
inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Nearest integer, ties to even, as lrint in the default rounding mode; values beyond the int
// range (and NaN) give INT_MIN, which every caller clamps or refuses.
inline int RoundToInt(float v) {
#if defined(__x86_64__)
  return _mm_cvtss_si32(_mm_set_ss(v));
#else
  return static_cast<int>(std::lrint(v));
#endif
}

// A colour channel in 0..255 from an interpolated value.
inline int ChannelOf(float v) {
  return Clamp255(RoundToInt(v));
}

}  // namespace d3d9
