// Image files in memory <-> 32-bit ARGB images. The decoders know nothing about devices, so the
// texture and surface loaders, the info query and the fuzzer all share one strict parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d3dx {

// Largest side and pixel count a decoder accepts: anything larger is treated as a lying header,
// so a few hostile bytes can never make us allocate gigabytes.
constexpr uint32_t kMaxImageSide = 16384;
constexpr uint64_t kMaxImagePixels = uint64_t{1} << 26;  // 256 MiB of ARGB

enum class ImageFileKind { Bmp, Png };

// The pixel layout the file stores, named after the Direct3D format that holds it unchanged.
enum class FilePixelFormat {
  R8G8B8,
  X8R8G8B8,
  A8R8G8B8,
  R5G6B5,
  X1R5G5B5,
  A1R5G5B5,
  P8,
  L8,
  A8L8,
};

struct ImageFileInfo {
  ImageFileKind kind = ImageFileKind::Bmp;
  uint32_t width = 0;
  uint32_t height = 0;
  FilePixelFormat format = FilePixelFormat::X8R8G8B8;
  bool hasAlpha = false;  // the decoded pixels carry meaningful alpha
};

// Pixels as 0xAARRGGBB, row-major, top row first.
struct ArgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;

  uint32_t& At(uint32_t x, uint32_t y) { return pixels[size_t{y} * width + x]; }
  uint32_t At(uint32_t x, uint32_t y) const { return pixels[size_t{y} * width + x]; }
};

// Reads only the headers. False for anything that is not a well-formed BMP or PNG header.
bool ReadImageFileInfo(const uint8_t* data, size_t size, ImageFileInfo* info);
// Decodes the whole file. False (and `out` left empty) for any malformed or truncated file.
// Sources without alpha decode with alpha 0xFF.
bool DecodeImageFile(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out);

bool ReadBmpInfo(const uint8_t* data, size_t size, ImageFileInfo* info);
bool DecodeBmp(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out);
bool ReadPngInfo(const uint8_t* data, size_t size, ImageFileInfo* info);
bool DecodePng(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out);

// Encoders. withAlpha picks RGBA over RGB for PNG, and a 32-bit file with an alpha mask over a
// 24-bit one for BMP. False only when memory runs out or the image is empty.
bool EncodePng(const ArgbImage& image, bool withAlpha, std::vector<uint8_t>* out);
bool EncodeBmp(const ArgbImage& image, bool withAlpha, std::vector<uint8_t>* out);

// Resampling with a D3DX filter value (kind in the low byte: 1 none, 2 point, 3 linear,
// 4 triangle, 5 box; mirror flags in bits 16 and 17). Edges wrap unless mirrored, as D3DX does.
// Returns false for an unknown filter kind. Same size in and out copies every texel unchanged.
bool ResampleImage(const ArgbImage& src, uint32_t width, uint32_t height, uint32_t filter,
                   ArgbImage* dst);

// Makes every pixel equal to the key transparent black (0x00000000). The key is compared with
// the pixel as 32-bit ARGB when the source has alpha; a source without alpha has no alpha to
// compare, so it matches the key's colour whatever the key's alpha. A key of 0 disables keying.
void ApplyColourKey(ArgbImage* image, uint32_t key, bool sourceHasAlpha = true);

}  // namespace d3dx
