// Pixel formats of surfaces and textures: sizes and conversion to and from 32-bit A8R8G8B8.
// Shared by the device, the D3DX image files and texture shaders. Formats without an alpha
// channel read alpha as 0xFF; writing drops what the format cannot hold (truncating the low bits).
#pragma once

#include <cstdint>
#include <cstring>

#include "d3d9types.h"

// Bytes per pixel of a format this platform can store, 0 for any other (compressed, planar,
// palettised and floating-point formats are not supported).
inline UINT FormatBytesPerPixel(D3DFORMAT format) {
  switch (format) {
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
         format == D3DFMT_D24S8 || format == D3DFMT_D24X8;
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
}  // namespace pixel_format_detail

// One pixel of `format` at `p` as 0xAARRGGBB. Unsupported formats read as 0.
inline uint32_t ReadPixelArgb(D3DFORMAT format, const void* p) {
  using namespace pixel_format_detail;
  const uint8_t* b = static_cast<const uint8_t*>(p);
  switch (format) {
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
