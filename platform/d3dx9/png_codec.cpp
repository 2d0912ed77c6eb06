// PNG files through libpng, read from and written to memory.
//
// libpng reports errors by longjmp. Every function that calls setjmp owns no C++ object with a
// destructor between the setjmp and the libpng calls: buffers belong to the caller, and the
// png/info structures are destroyed on both paths, so an error in the middle of a file leaks
// nothing and skips no destructor.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstring>

#include "d3dx9/image_codec.h"

namespace d3dx {
namespace {

static_assert(std::endian::native == std::endian::little,
              "B, G, R, A bytes are read as 0xAARRGGBB words");

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->size - reader->offset) png_error(png, "truncated file");
  std::memcpy(out, reader->data + reader->offset, length);
  reader->offset += length;
}

void OnError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// Deflate cannot compress better than about 1032:1, so a file that claims more raw bytes than
// that is lying; refusing it early keeps a tiny file from reserving a huge image.
constexpr uint64_t kMaxDeflateRatio = 1032;

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colourType = 0;
  bool hasTransparency = false;
};

FilePixelFormat FormatOf(const PngHeader& header, bool* hasAlpha) {
  switch (header.colourType) {
    case PNG_COLOR_TYPE_GRAY:
      *hasAlpha = header.hasTransparency;
      return header.hasTransparency ? FilePixelFormat::A8L8 : FilePixelFormat::L8;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      *hasAlpha = true;
      return FilePixelFormat::A8L8;
    case PNG_COLOR_TYPE_PALETTE:
      *hasAlpha = header.hasTransparency;
      return FilePixelFormat::P8;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      *hasAlpha = true;
      return FilePixelFormat::A8R8G8B8;
    default:
      *hasAlpha = header.hasTransparency;
      return header.hasTransparency ? FilePixelFormat::A8R8G8B8 : FilePixelFormat::R8G8B8;
  }
}

bool HeaderAcceptable(const PngHeader& header, size_t fileSize) {
  if (header.width == 0 || header.height == 0) return false;
  if (header.width > kMaxImageSide || header.height > kMaxImageSide) return false;
  const uint64_t pixels = uint64_t{header.width} * header.height;
  if (pixels > kMaxImagePixels) return false;
  // Smallest possible raw size: one filter byte per row plus the packed samples.
  const uint64_t rowBits = uint64_t{header.width} * uint64_t(header.bitDepth);
  const uint64_t raw = header.height * (1 + (rowBits + 7) / 8);
  return raw <= uint64_t{fileSize} * kMaxDeflateRatio + 65536;
}

// Decodes into `pixels` (caller-sized after the header is known through `sizeFor`). Returns false
// on any libpng error. `stage` tells the caller how far it got.
struct DecodeJob {
  MemoryReader reader;
  PngHeader header;
  bool headerOnly;
  std::vector<uint32_t>* pixels;  // allocated by the caller once the header is known
  std::vector<png_bytep>* rows;
};

bool RunDecode(DecodeJob* job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_set_read_fn(png, &job->reader, ReadFromMemory);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
  job->header.width = width;
  job->header.height = height;
  job->header.bitDepth = bitDepth;
  job->header.colourType = colourType;
  job->header.hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (!HeaderAcceptable(job->header, job->reader.size)) png_error(png, "implausible size");
  if (job->headerOnly) {
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
  }

  // Everything becomes 8-bit B, G, R, A in memory, which is 0xAARRGGBB as a little-endian word.
  png_set_expand(png);  // palette -> RGB, low grey depths -> 8 bits, tRNS -> alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 4) png_error(png, "unexpected layout");

  // The caller's vectors were sized before the call; only pointers are taken here.
  uint8_t* base = reinterpret_cast<uint8_t*>(job->pixels->data());
  for (uint32_t y = 0; y < height; ++y) (*job->rows)[y] = base + size_t{y} * width * 4;
  png_read_image(png, job->rows->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool ReadHeader(const uint8_t* data, size_t size, PngHeader* header) {
  if (!data || size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
    return false;
  DecodeJob job{{data, size, 0}, {}, true, nullptr, nullptr};
  if (!RunDecode(&job)) return false;
  *header = job.header;
  return true;
}

void FillInfo(const PngHeader& header, ImageFileInfo* info) {
  info->kind = ImageFileKind::Png;
  info->width = header.width;
  info->height = header.height;
  info->format = FormatOf(header, &info->hasAlpha);
}

struct MemoryWriter {
  std::vector<uint8_t>* out;
  bool failed;
};

void WriteToMemory(png_structp png, png_bytep data, size_t length) {
  auto* writer = static_cast<MemoryWriter*>(png_get_io_ptr(png));
  try {
    writer->out->insert(writer->out->end(), data, data + length);
  } catch (...) {
    writer->failed = true;
  }
  // Outside the handler: longjmp must not leave a live exception behind.
  if (writer->failed) png_error(png, "out of memory");
}
void FlushMemory(png_structp) {}

bool RunEncode(const uint8_t* rgba, uint32_t width, uint32_t height, bool withAlpha,
               png_bytep* rows, MemoryWriter* writer) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, writer, WriteToMemory, FlushMemory);
  png_set_IHDR(png, info, width, height, 8,
               withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t stride = size_t{width} * (withAlpha ? 4 : 3);
  for (uint32_t y = 0; y < height; ++y) rows[y] = const_cast<png_bytep>(rgba + y * stride);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool ReadPngInfo(const uint8_t* data, size_t size, ImageFileInfo* info) {
  PngHeader header;
  if (!ReadHeader(data, size, &header)) return false;
  if (info) FillInfo(header, info);
  return true;
}

bool DecodePng(const uint8_t* data, size_t size, ImageFileInfo* info, ArgbImage* out) {
  out->width = out->height = 0;
  out->pixels.clear();
  PngHeader header;
  if (!ReadHeader(data, size, &header)) return false;
  std::vector<uint32_t> pixels;
  std::vector<png_bytep> rows;
  try {
    pixels.resize(size_t{header.width} * header.height);
    rows.resize(header.height);
  } catch (...) {
    return false;
  }
  DecodeJob job{{data, size, 0}, {}, false, &pixels, &rows};
  if (!RunDecode(&job)) return false;
  // The second pass must agree with the first; the bytes did not change, so this only guards
  // against a broken assumption.
  if (job.header.width != header.width || job.header.height != header.height) return false;
  // Little-endian B, G, R, A bytes are already 0xAARRGGBB words.
  out->width = header.width;
  out->height = header.height;
  out->pixels = std::move(pixels);
  if (info) FillInfo(header, info);
  return true;
}

bool EncodePng(const ArgbImage& image, bool withAlpha, std::vector<uint8_t>* out) {
  if (image.width == 0 || image.height == 0 ||
      image.pixels.size() != size_t{image.width} * image.height)
    return false;
  const size_t channels = withAlpha ? 4 : 3;
  std::vector<uint8_t> bytes;
  std::vector<png_bytep> rows;
  try {
    bytes.resize(image.pixels.size() * channels);
    rows.resize(image.height);
    out->clear();
  } catch (...) {
    return false;
  }
  uint8_t* dst = bytes.data();
  for (uint32_t p : image.pixels) {
    *dst++ = uint8_t(p >> 16);
    *dst++ = uint8_t(p >> 8);
    *dst++ = uint8_t(p);
    if (withAlpha) *dst++ = uint8_t(p >> 24);
  }
  MemoryWriter writer{out, false};
  if (!RunEncode(bytes.data(), image.width, image.height, withAlpha, rows.data(), &writer)) {
    out->clear();
    return false;
  }
  return true;
}

}  // namespace d3dx
