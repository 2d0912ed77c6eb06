// BMP and PNG files: decoding every supported layout, encoding round trips, and refusing
// malformed files (truncations, lying headers, absurd sizes) without crashing or leaking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "d3dx9.h"
#include "platform/d3dx9/image_codec.h"

namespace {

using d3dx::ArgbImage;
using d3dx::ImageFileInfo;

// Builds BMP files field by field, so each test can state exactly which header value it bends.
struct BmpBuilder {
  int32_t width = 2;
  int32_t height = 2;  // positive = bottom-up
  uint16_t planes = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  std::vector<uint32_t> masks;    // written after a 40-byte header, or inside a bigger one
  std::vector<uint8_t> pixelBytes;
  int64_t offsetDelta = 0;  // added to the true pixel offset

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> f;
    auto put16 = [&](uint16_t v) {
      f.push_back(uint8_t(v));
      f.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
    };
    const uint32_t extra = headerSize == 40 ? uint32_t(masks.size() * 4) : 0;
    const uint32_t offset = 14 + headerSize + extra + uint32_t(palette.size() * 4);
    f.push_back('B');
    f.push_back('M');
    put32(uint32_t(offset + pixelBytes.size()));
    put32(0);
    put32(uint32_t(int64_t(offset) + offsetDelta));
    put32(headerSize);
    put32(uint32_t(width));
    put32(uint32_t(height));
    put16(planes);
    put16(bitCount);
    put32(compression);
    put32(uint32_t(pixelBytes.size()));
    put32(2835);
    put32(2835);
    put32(colorsUsed);
    put32(0);
    // Padding stops at the largest real header, so absurd sizes stay cheap to build.
    const size_t headerEnd = 14 + std::min<size_t>(headerSize, 124);
    for (uint32_t m : masks) put32(m);
    while (f.size() < headerEnd) f.push_back(0);
    for (uint32_t c : palette) put32(c);
    f.insert(f.end(), pixelBytes.begin(), pixelBytes.end());
    return f;
  }
};

bool Decode(const std::vector<uint8_t>& file, ArgbImage* image, ImageFileInfo* info = nullptr) {
  ImageFileInfo local;
  return d3dx::DecodeImageFile(file.data(), file.size(), info ? info : &local, image);
}

ArgbImage Pattern(uint32_t w, uint32_t h, bool alpha) {
  ArgbImage img;
  img.width = w;
  img.height = h;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t a = alpha ? (x * 37 + y * 91 + 5) & 0xFF : 0xFF;
      img.pixels.push_back((a << 24) | ((x * 50 + 3) & 0xFF) << 16 | ((y * 70 + 9) & 0xFF) << 8 |
                           ((x * y * 13 + 1) & 0xFF));
    }
  return img;
}

// --- Decoding BMP layouts ---------------------------------------------------------------------

TEST(BmpDecode, TwentyFourBitBottomUpRowsArePaddedAndFlipped) {
  BmpBuilder b;
  b.width = 3;
  b.height = 2;
  // Bottom row first, 9 bytes of pixels + 3 of padding per row; pixels are B, G, R.
  b.pixelBytes = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,   // y = 1
                  10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};  // y = 0
  ArgbImage img;
  ImageFileInfo info;
  ASSERT_TRUE(Decode(b.Build(), &img, &info));
  EXPECT_EQ(info.format, d3dx::FilePixelFormat::R8G8B8);
  EXPECT_FALSE(info.hasAlpha);
  ASSERT_EQ(img.width, 3u);
  ASSERT_EQ(img.height, 2u);
  EXPECT_EQ(img.At(0, 0), 0xFF0C0B0Au);
  EXPECT_EQ(img.At(2, 0), 0xFF121110u);
  EXPECT_EQ(img.At(0, 1), 0xFF030201u);
  EXPECT_EQ(img.At(2, 1), 0xFF090807u);
}

TEST(BmpDecode, TopDownAndThirtyTwoBitIgnoreTheFourthByte) {
  BmpBuilder b;
  b.width = 1;
  b.height = -2;  // top-down
  b.bitCount = 32;
  b.pixelBytes = {0x10, 0x20, 0x30, 0x00, 0x40, 0x50, 0x60, 0x7F};
  ArgbImage img;
  ImageFileInfo info;
  ASSERT_TRUE(Decode(b.Build(), &img, &info));
  EXPECT_EQ(info.format, d3dx::FilePixelFormat::X8R8G8B8);
  EXPECT_FALSE(info.hasAlpha);
  EXPECT_EQ(img.At(0, 0), 0xFF302010u);  // BI_RGB: the fourth byte is not alpha
  EXPECT_EQ(img.At(0, 1), 0xFF605040u);
}

TEST(BmpDecode, EightBitPaletteAndShortPaletteAndLowDepths) {
  BmpBuilder b;
  b.width = 3;
  b.height = 1;
  b.bitCount = 8;
  b.colorsUsed = 3;
  b.palette = {0x00112233, 0x00445566, 0x00778899};
  b.pixelBytes = {2, 0, 1, 0};
  ArgbImage img;
  ImageFileInfo info;
  ASSERT_TRUE(Decode(b.Build(), &img, &info));
  EXPECT_EQ(info.format, d3dx::FilePixelFormat::P8);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0xFF778899, 0xFF112233, 0xFF445566}));

  // An index beyond the palette is refused rather than read from past it.
  b.pixelBytes = {3, 0, 1, 0};
  EXPECT_FALSE(Decode(b.Build(), &img));
  EXPECT_TRUE(img.pixels.empty());

  // 1-bit: eight pixels per byte, most significant bit first.
  BmpBuilder mono;
  mono.width = 9;
  mono.height = 1;
  mono.bitCount = 1;
  mono.palette = {0x00000000, 0x00FFFFFF};
  mono.pixelBytes = {0xA5, 0x80, 0, 0};
  ASSERT_TRUE(Decode(mono.Build(), &img));
  const uint32_t k = 0xFF000000, w = 0xFFFFFFFF;
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{w, k, w, k, k, w, k, w, w}));
}

TEST(BmpDecode, BitfieldsWithAlphaMaskInV4HeaderAndSixteenBit) {
  BmpBuilder b;
  b.width = 1;
  b.height = 1;
  b.bitCount = 32;
  b.compression = 3;
  b.headerSize = 108;
  b.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  b.pixelBytes = {0x33, 0x22, 0x11, 0x80};
  ArgbImage img;
  ImageFileInfo info;
  ASSERT_TRUE(Decode(b.Build(), &img, &info));
  EXPECT_EQ(info.format, d3dx::FilePixelFormat::A8R8G8B8);
  EXPECT_TRUE(info.hasAlpha);
  EXPECT_EQ(img.At(0, 0), 0x80112233u);

  // 16-bit 5-6-5 masks after a 40-byte header: full-scale channels expand to 0xFF.
  BmpBuilder s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 16;
  s.compression = 3;
  s.masks = {0xF800, 0x07E0, 0x001F};
  s.pixelBytes = {0x1F, 0xF8, 0xE0, 0x07};  // 0xF81F (magenta), 0x07E0 (green)
  ASSERT_TRUE(Decode(s.Build(), &img, &info));
  EXPECT_EQ(info.format, d3dx::FilePixelFormat::R5G6B5);
  EXPECT_EQ(img.At(0, 0), 0xFFFF00FFu);
  EXPECT_EQ(img.At(1, 0), 0xFF00FF00u);

  // Overlapping masks describe no pixel layout.
  s.masks = {0xF800, 0x0FE0, 0x001F};
  EXPECT_FALSE(Decode(s.Build(), &img));
}

// --- Round trips ---------------------------------------------------------------------------------

TEST(ImageRoundTrip, PngKeepsEveryPixelWithAndWithoutAlpha) {
  for (bool alpha : {false, true}) {
    const ArgbImage src = Pattern(7, 5, alpha);
    std::vector<uint8_t> file;
    ASSERT_TRUE(d3dx::EncodePng(src, alpha, &file));
    ArgbImage back;
    ImageFileInfo info;
    ASSERT_TRUE(Decode(file, &back, &info)) << alpha;
    EXPECT_EQ(info.kind, d3dx::ImageFileKind::Png);
    EXPECT_EQ(info.format, alpha ? d3dx::FilePixelFormat::A8R8G8B8 : d3dx::FilePixelFormat::R8G8B8);
    EXPECT_EQ(back.pixels, src.pixels) << alpha;
  }
}

TEST(ImageRoundTrip, PngWithoutAlphaDropsTheSourceAlpha) {
  const ArgbImage src = Pattern(4, 3, true);
  std::vector<uint8_t> file;
  ASSERT_TRUE(d3dx::EncodePng(src, false, &file));
  ArgbImage back;
  ASSERT_TRUE(Decode(file, &back));
  for (size_t i = 0; i < src.pixels.size(); ++i)
    EXPECT_EQ(back.pixels[i], src.pixels[i] | 0xFF000000u);
}

TEST(ImageRoundTrip, BmpTwentyFourAndThirtyTwoBit) {
  for (bool alpha : {false, true}) {
    const ArgbImage src = Pattern(5, 3, alpha);  // odd width: 24-bit rows need padding
    std::vector<uint8_t> file;
    ASSERT_TRUE(d3dx::EncodeBmp(src, alpha, &file));
    ArgbImage back;
    ImageFileInfo info;
    ASSERT_TRUE(Decode(file, &back, &info));
    EXPECT_EQ(info.kind, d3dx::ImageFileKind::Bmp);
    EXPECT_EQ(info.hasAlpha, alpha);
    EXPECT_EQ(back.pixels, src.pixels) << alpha;
  }
}

TEST(ImageRoundTrip, PublicInfoQueryDescribesEncodedFiles) {
  const ArgbImage src = Pattern(6, 9, true);
  std::vector<uint8_t> png, bmp;
  ASSERT_TRUE(d3dx::EncodePng(src, true, &png));
  ASSERT_TRUE(d3dx::EncodeBmp(src, false, &bmp));
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(png.data(), UINT(png.size()), &info), D3D_OK);
  EXPECT_EQ(info.Width, 6u);
  EXPECT_EQ(info.Height, 9u);
  EXPECT_EQ(info.Depth, 1u);
  EXPECT_EQ(info.MipLevels, 1u);
  EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
  ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(bmp.data(), UINT(bmp.size()), &info), D3D_OK);
  EXPECT_EQ(info.Format, D3DFMT_R8G8B8);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
}

// --- Malformed files ----------------------------------------------------------------------------

// Every proper prefix of a valid file must be refused by the decoder, and by the info query when
// it is shorter than `headersEnd` (the info query reads only that far).
void ExpectEveryTruncationRefused(const std::vector<uint8_t>& file, size_t headersEnd) {
  ArgbImage img;
  ASSERT_TRUE(Decode(file, &img));
  for (size_t len = 0; len < file.size(); ++len) {
    D3DXIMAGE_INFO info{};
    const HRESULT hr = D3DXGetImageInfoFromFileInMemory(file.data(), UINT(len), &info);
    if (len < headersEnd) {
      EXPECT_EQ(hr, D3DXERR_INVALIDDATA) << "length " << len;
    }
    ArgbImage part;
    EXPECT_FALSE(Decode(std::vector<uint8_t>(file.begin(), file.begin() + long(len)), &part))
        << "length " << len;
    EXPECT_TRUE(part.pixels.empty());
  }
}

TEST(MalformedImages, EveryTruncationOfABmpIsRefused) {
  BmpBuilder b;
  b.width = 3;
  b.height = 2;
  b.pixelBytes.assign(24, 0x5A);
  // The BMP info query checks that the rows fit, so it refuses every prefix as well.
  ExpectEveryTruncationRefused(b.Build(), b.Build().size());
  BmpBuilder p;
  p.width = 2;
  p.height = 2;
  p.bitCount = 8;
  p.palette = {0x00FF0000, 0x0000FF00};
  p.colorsUsed = 2;
  p.pixelBytes = {0, 1, 0, 0, 1, 0, 0, 0};
  ExpectEveryTruncationRefused(p.Build(), p.Build().size());
}

TEST(MalformedImages, EveryTruncationOfAPngIsRefused) {
  std::vector<uint8_t> file;
  ASSERT_TRUE(d3dx::EncodePng(Pattern(4, 4, true), true, &file));
  ExpectEveryTruncationRefused(file, 8 + 25);  // signature and IHDR
}

TEST(MalformedImages, LyingBmpHeadersAreRefused) {
  BmpBuilder good;
  good.width = 2;
  good.height = 2;
  good.pixelBytes.assign(16, 1);
  ArgbImage img;
  ASSERT_TRUE(Decode(good.Build(), &img));

  auto refused = [&](BmpBuilder b, const char* what) {
    const auto file = b.Build();
    ArgbImage out;
    EXPECT_FALSE(Decode(file, &out)) << what;
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), UINT(file.size()), &info),
              D3DXERR_INVALIDDATA)
        << what;
  };
  BmpBuilder b = good;
  b.width = 3;  // rows no longer fit
  refused(b, "width larger than the pixel data");
  b = good;
  b.height = 3;
  refused(b, "height larger than the pixel data");
  b = good;
  b.height = -3;
  refused(b, "top-down height larger than the pixel data");
  b = good;
  b.width = 0x7FFFFFFF;
  refused(b, "huge width");
  b = good;
  b.width = 20000;
  b.height = 1;
  refused(b, "side beyond the cap");
  b = good;
  b.width = -2;
  refused(b, "negative width");
  b = good;
  b.height = 0;
  refused(b, "zero height");
  b = good;
  b.height = int32_t(0x80000000u);
  refused(b, "most negative height");
  b = good;
  b.offsetDelta = 4;
  refused(b, "pixel offset pushes rows past the end");
  b = good;
  b.offsetDelta = 1000000;
  refused(b, "pixel offset beyond the file");
  b = good;
  b.offsetDelta = -20;
  refused(b, "pixel offset inside the headers");
  b = good;
  b.headerSize = 41;
  refused(b, "unknown header size");
  b = good;
  b.headerSize = 0xFFFFFFF0u;
  refused(b, "header size that wraps 32-bit arithmetic");
  b = good;
  b.planes = 2;
  refused(b, "two planes");
  b = good;
  b.bitCount = 7;
  refused(b, "seven bits per pixel");
  b = good;
  b.compression = 1;  // RLE8 on a 24-bit file
  refused(b, "compressed 24-bit");
  BmpBuilder pal;
  pal.width = 2;
  pal.height = 1;
  pal.bitCount = 8;
  pal.colorsUsed = 300;  // more than 256 entries
  pal.pixelBytes = {0, 0, 0, 0};
  refused(pal, "palette larger than the depth allows");
  pal.colorsUsed = 4;  // claims 4 entries, none present: the palette overlaps the pixels
  refused(pal, "palette that does not fit before the pixels");
}

TEST(MalformedImages, ZeroLengthNullAndForeignBytes) {
  const uint8_t junk[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  D3DXIMAGE_INFO info{};
  EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(junk, 0, &info), D3DXERR_INVALIDDATA);
  EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(junk, sizeof junk, &info), D3DXERR_INVALIDDATA);
  EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(nullptr, 10, &info), D3DERR_INVALIDCALL);
  ArgbImage img;
  ImageFileInfo fi;
  EXPECT_FALSE(d3dx::DecodeImageFile(junk, 0, &fi, &img));
  EXPECT_FALSE(d3dx::DecodeImageFile(nullptr, 0, &fi, &img));
}

// Rewrites the IHDR of a valid PNG with another size and fixes its CRC, so only the size lies.
std::vector<uint8_t> PngWithSize(std::vector<uint8_t> file, uint32_t w, uint32_t h) {
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (24 - 8 * i));
  };
  put(16, w);
  put(20, h);
  uint32_t crc = 0xFFFFFFFFu;  // CRC-32 over the chunk type and data (bytes 12..28)
  for (size_t i = 12; i < 29; ++i) {
    crc ^= file[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  put(29, ~crc);
  return file;
}

TEST(MalformedImages, PngWithLyingOrAbsurdSizesIsRefused) {
  std::vector<uint8_t> file;
  ASSERT_TRUE(d3dx::EncodePng(Pattern(4, 4, false), false, &file));
  ArgbImage img;
  // Sanity: rewriting with the true size keeps a valid file (the CRC fix is right).
  ASSERT_TRUE(Decode(PngWithSize(file, 4, 4), &img));
  // Claims more rows than the data holds.
  EXPECT_FALSE(Decode(PngWithSize(file, 4, 40), &img));
  EXPECT_TRUE(img.pixels.empty());
  // Beyond the side cap, and a size no 100-byte file could ever decompress to.
  D3DXIMAGE_INFO info{};
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{20000, 1}, {16384, 16384}, {0, 4}}) {
    const auto big = PngWithSize(file, w, h);
    EXPECT_FALSE(Decode(big, &img)) << w << "x" << h;
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(big.data(), UINT(big.size()), &info),
              D3DXERR_INVALIDDATA)
        << w << "x" << h;
  }
  // A corrupted CRC in IHDR.
  auto bad = file;
  bad[29] ^= 0xFF;
  EXPECT_FALSE(Decode(bad, &img));
  // Corrupted compressed data: flip bytes inside the IDAT payload.
  auto flipped = file;
  for (size_t i = 41; i < flipped.size() - 16; ++i) flipped[i] ^= 0x55;
  EXPECT_FALSE(Decode(flipped, &img));
}

}  // namespace
