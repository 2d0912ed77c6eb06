// BMP files: BITMAPFILEHEADER + BITMAPINFOHEADER (or its V2..V5 extensions), 1/4/8-bit palettes,
// 16/24/32-bit BI_RGB and 16/32-bit BI_BITFIELDS, bottom-up or top-down rows.
//
// Every size and offset in the headers is checked against the real buffer length in 64-bit
// arithmetic before a single pixel is read, so a lying header can never cause an out-of-bounds
// read or a huge allocation.
#include <algorithm>
#include <cstring>

#include "d3dx9/image_codec.h"

namespace d3dx {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

uint16_t Read16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// One colour channel described by a bit mask: where it sits and how wide it is.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  static Channel FromMask(uint32_t mask) {
    Channel c;
    c.mask = mask;
    if (mask == 0) return c;
    while (!((mask >> c.shift) & 1)) ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1)) ++c.bits;
    return c;
  }
  // The channel scaled to 8 bits by bit replication (so 5-bit 31 becomes 255).
  uint32_t Expand(uint32_t pixel) const {
    if (bits == 0) return 0;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return v >> (bits - 8);
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
      out = (out << bits) | v;
      filled += bits;
    }
    return out >> (filled - 8);
  }
  // Contiguous masks only: a mask with holes is not a pixel layout.
  bool Contiguous() const { return mask == 0 || (mask >> shift) == ((uint64_t{1} << bits) - 1); }
};

// Everything the pixel loop needs, validated.
struct BmpLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  bool topDown = false;
  uint32_t bitCount = 0;
  uint32_t compression = kBiRgb;
  uint64_t pixelOffset = 0;
  uint64_t stride = 0;
  uint64_t paletteOffset = 0;
  uint32_t paletteCount = 0;
  uint32_t paletteEntrySize = 4;
  Channel red, green, blue, alpha;
  FilePixelFormat format = FilePixelFormat::X8R8G8B8;
  bool hasAlpha = false;
};

bool ParseLayout(const uint8_t* data, size_t size, BmpLayout* layout) {
  if (!data || size < kFileHeaderSize + 4) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const uint64_t pixelOffset = Read32(data + 10);
  const uint32_t headerSize = Read32(data + 14);
  // BITMAPINFOHEADER and its documented successors (V2 52, V3 56, V4 108, V5 124 bytes).
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return false;
  if (kFileHeaderSize + uint64_t{headerSize} > size) return false;
  const uint8_t* h = data + kFileHeaderSize;
  const int32_t width = int32_t(Read32(h + 4));
  const int32_t height = int32_t(Read32(h + 8));
  const uint16_t planes = Read16(h + 12);
  const uint16_t bitCount = Read16(h + 14);
  const uint32_t compression = Read32(h + 16);
  const uint32_t colorsUsed = Read32(h + 32);

  if (planes != 1) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  const uint32_t w = uint32_t(width);
  const uint32_t hAbs = height < 0 ? uint32_t(-int64_t{height}) : uint32_t(height);
  if (w > kMaxImageSide || hAbs > kMaxImageSide) return false;
  if (uint64_t{w} * hAbs > kMaxImagePixels) return false;

  layout->width = w;
  layout->height = hAbs;
  layout->topDown = height < 0;
  layout->bitCount = bitCount;
  layout->compression = compression;
  layout->pixelOffset = pixelOffset;

  uint64_t afterHeader = kFileHeaderSize + uint64_t{headerSize};
  switch (bitCount) {
    case 1:
    case 4:
    case 8: {
      if (compression != kBiRgb) return false;  // RLE is not supported
      const uint32_t maxColours = 1u << bitCount;
      const uint32_t count = colorsUsed == 0 ? maxColours : colorsUsed;
      if (count > maxColours) return false;
      layout->paletteOffset = afterHeader;
      layout->paletteCount = count;
      // The palette must lie between the headers and the pixels.
      if (afterHeader + uint64_t{count} * 4 > pixelOffset) return false;
      layout->format = FilePixelFormat::P8;
      break;
    }
    case 16:
    case 24:
    case 32: {
      if (compression == kBiRgb) {
        if (bitCount == 16) {
          layout->red = Channel::FromMask(0x7C00);
          layout->green = Channel::FromMask(0x03E0);
          layout->blue = Channel::FromMask(0x001F);
          layout->format = FilePixelFormat::X1R5G5B5;
        } else {
          layout->red = Channel::FromMask(0x00FF0000);
          layout->green = Channel::FromMask(0x0000FF00);
          layout->blue = Channel::FromMask(0x000000FF);
          // The fourth byte of a BI_RGB 32-bit pixel is not alpha.
          layout->format = bitCount == 24 ? FilePixelFormat::R8G8B8 : FilePixelFormat::X8R8G8B8;
        }
      } else if ((compression == kBiBitfields || compression == kBiAlphaBitfields) &&
                 bitCount != 24) {
        // Masks sit in the header from V2 on, or follow a 40-byte header.
        uint64_t masksAt = kFileHeaderSize + 40;
        const bool alphaMaskPresent = headerSize >= 56 || compression == kBiAlphaBitfields;
        const uint64_t masksSize = alphaMaskPresent ? 16 : 12;
        if (headerSize == 40) afterHeader += masksSize;
        if (masksAt + masksSize > size || afterHeader > pixelOffset) return false;
        layout->red = Channel::FromMask(Read32(data + masksAt));
        layout->green = Channel::FromMask(Read32(data + masksAt + 4));
        layout->blue = Channel::FromMask(Read32(data + masksAt + 8));
        if (alphaMaskPresent) layout->alpha = Channel::FromMask(Read32(data + masksAt + 12));
        const uint64_t limit = bitCount == 16 ? 0xFFFF : 0xFFFFFFFF;
        const Channel* all[] = {&layout->red, &layout->green, &layout->blue, &layout->alpha};
        uint32_t seen = 0;
        for (const Channel* c : all) {
          if (!c->Contiguous() || c->mask > limit || (seen & c->mask)) return false;
          seen |= c->mask;
        }
        if (layout->red.mask == 0 && layout->green.mask == 0 && layout->blue.mask == 0)
          return false;
        layout->hasAlpha = layout->alpha.mask != 0;
        if (bitCount == 32) {
          layout->format = layout->hasAlpha ? FilePixelFormat::A8R8G8B8 : FilePixelFormat::X8R8G8B8;
        } else if (layout->green.bits == 6) {
          layout->format = FilePixelFormat::R5G6B5;
        } else {
          layout->format = layout->hasAlpha ? FilePixelFormat::A1R5G5B5 : FilePixelFormat::X1R5G5B5;
        }
      } else {
        return false;
      }
      break;
    }
    default:
      return false;
  }

  if (pixelOffset < afterHeader || pixelOffset > size) return false;
  layout->stride = ((uint64_t{w} * bitCount + 31) / 32) * 4;
  if (pixelOffset + layout->stride * hAbs > size) return false;
  return true;
}

void FillInfo(const BmpLayout& layout, ImageFileInfo* info) {
  info->kind = ImageFileKind::Bmp;
  info->width = layout.width;
  info->height = layout.height;
  info->format = layout.format;
  info->hasAlpha = layout.hasAlpha;
}

}  // namespace

bool ReadBmpInfo(const uint8_t* data, size_t size, ImageFileInfo* info) {
  BmpLayout layout;
  if (!ParseLayout(data, size, &layout)) return false;
  if (info) FillInfo(layout, info);
  return true;
}

bool DecodeBmp(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out) {
  out->width = out->height = 0;
  out->pixels.clear();
  BmpLayout layout;
  if (!ParseLayout(data, size, &layout)) return false;

  uint32_t palette[256] = {};
  for (uint32_t i = 0; i < layout.paletteCount; ++i) {
    const uint8_t* e = data + layout.paletteOffset + size_t{i} * 4;  // blue, green, red, reserved
    palette[i] = 0xFF000000u | (uint32_t(e[2]) << 16) | (uint32_t(e[1]) << 8) | e[0];
  }

  std::vector<uint32_t> pixels(size_t{layout.width} * layout.height);
  for (uint32_t row = 0; row < layout.height; ++row) {
    const uint8_t* src = data + layout.pixelOffset + layout.stride * row;
    const uint32_t y = layout.topDown ? row : layout.height - 1 - row;
    uint32_t* dst = pixels.data() + size_t{y} * layout.width;
    switch (layout.bitCount) {
      case 1:
      case 4:
      case 8: {
        const uint32_t bits = layout.bitCount;
        const uint32_t perByte = 8 / bits;
        const uint32_t indexMask = (1u << bits) - 1;
        for (uint32_t x = 0; x < layout.width; ++x) {
          const uint8_t byte = src[x / perByte];
          const uint32_t shift = 8 - bits * (x % perByte + 1);
          const uint32_t index = (byte >> shift) & indexMask;
          if (index >= layout.paletteCount) return false;  // points past the palette
          dst[x] = palette[index];
        }
        break;
      }
      case 24:
        for (uint32_t x = 0; x < layout.width; ++x) {
          const uint8_t* p = src + size_t{x} * 3;
          dst[x] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
        break;
      case 16:
      case 32: {
        const bool wide = layout.bitCount == 32;
        for (uint32_t x = 0; x < layout.width; ++x) {
          const uint32_t v = wide ? Read32(src + size_t{x} * 4) : Read16(src + size_t{x} * 2);
          const uint32_t a = layout.hasAlpha ? layout.alpha.Expand(v) : 0xFF;
          dst[x] = (a << 24) | (layout.red.Expand(v) << 16) | (layout.green.Expand(v) << 8) |
                   layout.blue.Expand(v);
        }
        break;
      }
    }
  }
  out->width = layout.width;
  out->height = layout.height;
  out->pixels = std::move(pixels);
  if (info) FillInfo(layout, info);
  return true;
}

bool EncodeBmp(const ArgbImage& image, bool withAlpha, std::vector<uint8_t>* out) {
  if (image.width == 0 || image.height == 0 ||
      image.pixels.size() != size_t{image.width} * image.height)
    return false;
  // With alpha: a 32-bit V4 header with explicit masks, so the alpha survives a round trip.
  // Without: the plain 24-bit BI_RGB file every reader understands.
  const uint32_t bitCount = withAlpha ? 32 : 24;
  const uint32_t headerSize = withAlpha ? 108 : 40;
  const uint64_t stride = ((uint64_t{image.width} * bitCount + 31) / 32) * 4;
  const uint64_t imageBytes = stride * image.height;
  const uint64_t offset = kFileHeaderSize + headerSize;
  if (offset + imageBytes > 0xFFFFFFFFu) return false;
  out->clear();
  out->reserve(size_t(offset + imageBytes));
  out->push_back('B');
  out->push_back('M');
  Put32(out, uint32_t(offset + imageBytes));
  Put32(out, 0);
  Put32(out, uint32_t(offset));
  Put32(out, headerSize);
  Put32(out, image.width);
  Put32(out, image.height);  // positive: bottom-up rows
  Put16(out, 1);
  Put16(out, uint16_t(bitCount));
  Put32(out, withAlpha ? kBiBitfields : kBiRgb);
  Put32(out, uint32_t(imageBytes));
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  if (withAlpha) {
    Put32(out, 0x00FF0000);
    Put32(out, 0x0000FF00);
    Put32(out, 0x000000FF);
    Put32(out, 0xFF000000);
    Put32(out, 0x73524742);                      // LCS_sRGB
    for (int i = 0; i < 12; ++i) Put32(out, 0);  // endpoints and gamma: unused with sRGB
  }
  for (uint32_t row = 0; row < image.height; ++row) {
    const uint32_t y = image.height - 1 - row;
    const size_t start = out->size();
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint32_t p = image.At(x, y);
      out->push_back(uint8_t(p));
      out->push_back(uint8_t(p >> 8));
      out->push_back(uint8_t(p >> 16));
      if (withAlpha) out->push_back(uint8_t(p >> 24));
    }
    while (out->size() - start < stride) out->push_back(0);
  }
  return true;
}

}  // namespace d3dx
