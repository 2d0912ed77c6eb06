// Pixel formats of surfaces and textures: sizes and conversion to and from 32-bit A8R8G8B8 and
// four floats. Shared by the device, the D3DX image files and texture shaders. Formats without an
// alpha channel read alpha as 0xFF (1.0); the floating-point formats read their missing colour
// channels as 1.0, as Direct3D 9 drivers do; writing drops what the format cannot hold
// (truncating the low bits of integer channels).
#pragma once

#include <cstdint>
#include <cstring>

#include "d3d9types.h"

// Bytes per pixel of a format this platform can store, 0 for any other (compressed, planar and
// palettised formats are not supported).
inline UINT FormatBytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A32B32G32R32F:
      return 16;
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_G32R32F:
      return 8;
    case D3DFMT_R32F:
    case D3DFMT_G16R16F:
    case D3DFMT_D24X4S4:
    case D3DFMT_D32F_LOCKABLE:
      return 4;
    case D3DFMT_R16F:
      return 2;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A2R10G10B10:
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    case D3DFMT_D32:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
      return 4;
    case D3DFMT_R8G8B8:
      return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8L8:
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE:
      return 2;
    case D3DFMT_A8:
    case D3DFMT_L8:
      return 1;
    default:
      return 0;
  }
}

// True for colour formats with an alpha channel.
inline bool FormatHasAlpha(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_A32B32G32R32F:
    case D3DFMT_A8R8G8B8:
    case D3DFMT_A2R10G10B10:
    case D3DFMT_A2B10G10R10:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8L8:
    case D3DFMT_A8:
      return true;
    default:
      return false;
  }
}

// True for the depth formats the device can allocate.
inline bool FormatIsDepth(D3DFORMAT format) {
  return format == D3DFMT_D16 || format == D3DFMT_D16_LOCKABLE || format == D3DFMT_D32 ||
         format == D3DFMT_D24S8 || format == D3DFMT_D24X8 || format == D3DFMT_D24X4S4 ||
         format == D3DFMT_D32F_LOCKABLE;
}

// True for the floating-point colour formats.
inline bool FormatIsFloat(D3DFORMAT format) {
  return format == D3DFMT_R16F || format == D3DFMT_G16R16F || format == D3DFMT_A16B16G16R16F ||
         format == D3DFMT_R32F || format == D3DFMT_G32R32F || format == D3DFMT_A32B32G32R32F;
}

// True for the colour formats ReadPixelArgb and WritePixelArgb convert.
inline bool FormatIsColour(D3DFORMAT format) {
  return FormatBytesPerPixel(format) != 0 && !FormatIsDepth(format);
}

namespace pixel_format_detail {
inline uint32_t Expand5(uint32_t v) {
  return (v << 3) | (v >> 2);
}
inline uint32_t Expand6(uint32_t v) {
  return (v << 2) | (v >> 4);
}
inline uint32_t Expand4(uint32_t v) {
  return v * 17;
}
inline uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
inline uint16_t Load16(const void* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store16(void* p, uint32_t v) {
  uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(p, &w, 2);
}
inline void Store32(void* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}
inline float HalfToFloat(uint16_t h) {
  const uint32_t sign = static_cast<uint32_t>(h & 0x8000) << 16;
  uint32_t exponent = (h >> 10) & 31, mantissa = h & 1023, bits;
  if (exponent == 0) {
    if (mantissa == 0) {
      bits = sign;
    } else {  // subnormal: normalise
      exponent = 127 - 15 + 1;
      while (!(mantissa & 1024)) {
        mantissa <<= 1;
        --exponent;
      }
      bits = sign | (exponent << 23) | ((mantissa & 1023) << 13);
    }
  } else if (exponent == 31) {
    bits = sign | 0x7F800000u | (mantissa << 13);
  } else {
    bits = sign | ((exponent + 127 - 15) << 23) | (mantissa << 13);
  }
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}
// Rounds to nearest even; out of range becomes infinity, NaN stays NaN.
inline uint16_t FloatToHalf(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  const uint32_t abs = bits & 0x7FFFFFFFu;
  if (abs >= 0x7F800000u) return sign | (abs > 0x7F800000u ? 0x7E00 : 0x7C00);
  if (abs >= 0x477FF000u) return sign | 0x7C00;  // rounds beyond 65504
  if (abs < 0x38800000u) {                       // subnormal or zero in half
    if (abs < 0x33000000u) return sign;
    const uint32_t e = abs >> 23, m = (abs & 0x7FFFFF) | 0x800000;
    const uint32_t shift = 126 - e;  // 14 + (113 - e) - 1
    uint32_t v = m >> shift;
    const uint32_t rest = m & ((1u << shift) - 1), half = 1u << (shift - 1);
    if (rest > half || (rest == half && (v & 1))) ++v;
    return static_cast<uint16_t>(sign | v);
  }
  uint32_t v = ((abs - 0x38000000u) >> 13);
  const uint32_t rest = abs & 0x1FFF;
  if (rest > 0x1000 || (rest == 0x1000 && (v & 1))) ++v;
  return static_cast<uint16_t>(sign | v);
}
inline float LoadFloat(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}
inline uint32_t ToByte(float v) {
  if (!(v > 0.f)) return 0;  // also NaN
  if (v >= 1.f) return 255;
  return static_cast<uint32_t>(v * 255.f + 0.5f);
}
}  // namespace pixel_format_detail

inline uint32_t ReadPixelArgb(D3DFORMAT format, const void* p);
inline void WritePixelFloat4(D3DFORMAT format, void* p, const float in[4]);

// One pixel of `format` at `p` as four floats r, g, b, a. Integer channels map to 0..1.
inline void ReadPixelFloat4(D3DFORMAT format, const void* p, float out[4]) {
  using namespace pixel_format_detail;
  const uint8_t* b = static_cast<const uint8_t*>(p);
  out[0] = out[1] = out[2] = out[3] = 1.f;
  switch (format) {
    case D3DFMT_R16F:
      out[0] = HalfToFloat(Load16(b));
      return;
    case D3DFMT_G16R16F:
      out[0] = HalfToFloat(Load16(b));
      out[1] = HalfToFloat(Load16(b + 2));
      return;
    case D3DFMT_A16B16G16R16F:
      for (int i = 0; i < 4; ++i) out[i] = HalfToFloat(Load16(b + 2 * i));
      return;
    case D3DFMT_R32F:
      out[0] = LoadFloat(b);
      return;
    case D3DFMT_G32R32F:
      out[0] = LoadFloat(b);
      out[1] = LoadFloat(b + 4);
      return;
    case D3DFMT_A32B32G32R32F:
      for (int i = 0; i < 4; ++i) out[i] = LoadFloat(b + 4 * i);
      return;
    default:
      break;
  }
  const uint32_t c = ReadPixelArgb(format, p);
  out[0] = ((c >> 16) & 255) / 255.f;
  out[1] = ((c >> 8) & 255) / 255.f;
  out[2] = (c & 255) / 255.f;
  out[3] = (c >> 24) / 255.f;
}

// One pixel of `format` at `p` as 0xAARRGGBB. Unsupported formats read as 0.
inline uint32_t ReadPixelArgb(D3DFORMAT format, const void* p) {
  using namespace pixel_format_detail;
  const uint8_t* b = static_cast<const uint8_t*>(p);
  switch (format) {
    case D3DFMT_R16F:
    case D3DFMT_G16R16F:
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_R32F:
    case D3DFMT_G32R32F:
    case D3DFMT_A32B32G32R32F: {
      float f[4];
      ReadPixelFloat4(format, p, f);
      return Pack(ToByte(f[3]), ToByte(f[0]), ToByte(f[1]), ToByte(f[2]));
    }
    case D3DFMT_A8R8G8B8:
      return Load32(p);
    case D3DFMT_X8R8G8B8:
      return Load32(p) | 0xFF000000u;
    case D3DFMT_R8G8B8:  // bytes in memory: blue, green, red
      return Pack(0xFF, b[2], b[1], b[0]);
    case D3DFMT_R5G6B5: {
      uint32_t v = Load16(p);
      return Pack(0xFF, Expand5(v >> 11), Expand6((v >> 5) & 63), Expand5(v & 31));
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      uint32_t v = Load16(p);
      uint32_t a = (format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xFF : 0;
      return Pack(a, Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
      uint32_t v = Load16(p);
      uint32_t a = format == D3DFMT_X4R4G4B4 ? 0xFF : Expand4(v >> 12);
      return Pack(a, Expand4((v >> 8) & 15), Expand4((v >> 4) & 15), Expand4(v & 15));
    }
    case D3DFMT_A2R10G10B10: {
      uint32_t v = Load32(p);
      return Pack((v >> 30) * 85, (v >> 22) & 255, (v >> 12) & 255, (v >> 2) & 255);
    }
    case D3DFMT_A2B10G10R10: {
      uint32_t v = Load32(p);
      return Pack((v >> 30) * 85, (v >> 2) & 255, (v >> 12) & 255, (v >> 22) & 255);
    }
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8: {
      uint32_t v = Load32(p);
      uint32_t a = format == D3DFMT_X8B8G8R8 ? 0xFF : v >> 24;
      return Pack(a, v & 255, (v >> 8) & 255, (v >> 16) & 255);
    }
    case D3DFMT_A8:
      return static_cast<uint32_t>(b[0]) << 24;
    case D3DFMT_L8:
      return Pack(0xFF, b[0], b[0], b[0]);
    case D3DFMT_A8L8:
      return Pack(b[1], b[0], b[0], b[0]);
    default:
      return 0;
  }
}

// Store 0xAARRGGBB into one pixel of `format` at `p`. Unsupported formats are left untouched.
inline void WritePixelArgb(D3DFORMAT format, void* p, uint32_t argb) {
  using namespace pixel_format_detail;
  uint8_t* b = static_cast<uint8_t*>(p);
  uint32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, bl = argb & 255;
  switch (format) {
    case D3DFMT_R16F:
    case D3DFMT_G16R16F:
    case D3DFMT_A16B16G16R16F:
    case D3DFMT_R32F:
    case D3DFMT_G32R32F:
    case D3DFMT_A32B32G32R32F: {
      const float f[4] = {r / 255.f, g / 255.f, bl / 255.f, a / 255.f};
      WritePixelFloat4(format, p, f);
      break;
    }
    case D3DFMT_A8R8G8B8:
      Store32(p, argb);
      break;
    case D3DFMT_X8R8G8B8:
      Store32(p, argb | 0xFF000000u);
      break;
    case D3DFMT_R8G8B8:
      b[0] = static_cast<uint8_t>(bl);
      b[1] = static_cast<uint8_t>(g);
      b[2] = static_cast<uint8_t>(r);
      break;
    case D3DFMT_R5G6B5:
      Store16(p, ((r >> 3) << 11) | ((g >> 2) << 5) | (bl >> 3));
      break;
    case D3DFMT_X1R5G5B5:
      Store16(p, 0x8000 | ((r >> 3) << 10) | ((g >> 3) << 5) | (bl >> 3));
      break;
    case D3DFMT_A1R5G5B5:
      Store16(p, ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (bl >> 3));
      break;
    case D3DFMT_A4R4G4B4:
      Store16(p, ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (bl >> 4));
      break;
    case D3DFMT_X4R4G4B4:
      Store16(p, 0xF000 | ((r >> 4) << 8) | ((g >> 4) << 4) | (bl >> 4));
      break;
    case D3DFMT_A2R10G10B10:
      Store32(p, ((a >> 6) << 30) | (((r << 2) | (r >> 6)) << 20) | (((g << 2) | (g >> 6)) << 10) |
                     ((bl << 2) | (bl >> 6)));
      break;
    case D3DFMT_A2B10G10R10:
      Store32(p, ((a >> 6) << 30) | (((bl << 2) | (bl >> 6)) << 20) |
                     (((g << 2) | (g >> 6)) << 10) | ((r << 2) | (r >> 6)));
      break;
    case D3DFMT_A8B8G8R8:
      Store32(p, (a << 24) | (bl << 16) | (g << 8) | r);
      break;
    case D3DFMT_X8B8G8R8:
      Store32(p, 0xFF000000u | (bl << 16) | (g << 8) | r);
      break;
    case D3DFMT_A8:
      b[0] = static_cast<uint8_t>(a);
      break;
    case D3DFMT_L8:
    case D3DFMT_A8L8: {
      // Rec. 709 luminance, rounded.
      uint32_t l = (r * 2126 + g * 7152 + bl * 722 + 5000) / 10000;
      b[0] = static_cast<uint8_t>(l);
      if (format == D3DFMT_A8L8) b[1] = static_cast<uint8_t>(a);
      break;
    }
    default:
      break;
  }
}

// Store four floats r, g, b, a into one pixel of `format`; integer channels take them clamped to
// 0..1 and rounded.
inline void WritePixelFloat4(D3DFORMAT format, void* p, const float in[4]) {
  using namespace pixel_format_detail;
  uint8_t* b = static_cast<uint8_t*>(p);
  switch (format) {
    case D3DFMT_R16F:
      Store16(b, FloatToHalf(in[0]));
      return;
    case D3DFMT_G16R16F:
      Store16(b, FloatToHalf(in[0]));
      Store16(b + 2, FloatToHalf(in[1]));
      return;
    case D3DFMT_A16B16G16R16F:
      for (int i = 0; i < 4; ++i) Store16(b + 2 * i, FloatToHalf(in[i]));
      return;
    case D3DFMT_R32F:
      std::memcpy(b, in, 4);
      return;
    case D3DFMT_G32R32F:
      std::memcpy(b, in, 8);
      return;
    case D3DFMT_A32B32G32R32F:
      std::memcpy(b, in, 16);
      return;
    default:
      WritePixelArgb(format, p, Pack(ToByte(in[3]), ToByte(in[0]), ToByte(in[1]), ToByte(in[2])));
  }
}

// True for the formats a render target (and a render-target texture) can have.
inline bool FormatIsRenderTarget(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
         f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A2R10G10B10 ||
         f == D3DFMT_A4R4G4B4 || f == D3DFMT_X4R4G4B4 || f == D3DFMT_A8B8G8R8 ||
         f == D3DFMT_X8B8G8R8 || f == D3DFMT_A2B10G10R10 || FormatIsFloat(f);
}

// Convert a row of `count` pixels; the fast cases are plain copies.
inline void ReadRowArgb(D3DFORMAT format, const void* src, uint32_t* dst, int count) {
  if (format == D3DFMT_A8R8G8B8) {
    std::memcpy(dst, src, static_cast<size_t>(count) * 4);
    return;
  }
  UINT bpp = FormatBytesPerPixel(format);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  for (int i = 0; i < count; ++i) dst[i] = ReadPixelArgb(format, s + static_cast<size_t>(i) * bpp);
}

inline void WriteRowArgb(D3DFORMAT format, void* dst, const uint32_t* src, int count) {
  if (format == D3DFMT_A8R8G8B8) {
    std::memcpy(dst, src, static_cast<size_t>(count) * 4);
    return;
  }
  UINT bpp = FormatBytesPerPixel(format);
  uint8_t* d = static_cast<uint8_t*>(dst);
  for (int i = 0; i < count; ++i) WritePixelArgb(format, d + static_cast<size_t>(i) * bpp, src[i]);
}
