// Resampling filters (none, point, linear, triangle, box; wrap and mirror edges) and colour keying
// of decoded images. Expected values are worked out by hand from the filter definitions.
#include <gtest/gtest.h>

#include <vector>

#include "d3dx9.h"
#include "platform/d3dx9/image_codec.h"

namespace {

using d3dx::ArgbImage;

ArgbImage Make(uint32_t w, uint32_t h, std::vector<uint32_t> pixels) {
  ArgbImage img;
  img.width = w;
  img.height = h;
  img.pixels = std::move(pixels);
  return img;
}

// A grey row: every channel of pixel i is values[i], alpha opaque.
ArgbImage GreyRow(const std::vector<uint32_t>& values) {
  std::vector<uint32_t> px;
  for (uint32_t v : values) px.push_back(0xFF000000u | v << 16 | v << 8 | v);
  return Make(uint32_t(values.size()), 1, px);
}

std::vector<uint32_t> BlueOf(const ArgbImage& img) {
  std::vector<uint32_t> out;
  for (uint32_t p : img.pixels) out.push_back(p & 0xFF);
  return out;
}

ArgbImage Resample(const ArgbImage& src, uint32_t w, uint32_t h, uint32_t filter) {
  ArgbImage out;
  EXPECT_TRUE(d3dx::ResampleImage(src, w, h, filter, &out)) << "filter " << filter;
  return out;
}

TEST(ResampleFilters, SameSizeCopiesEveryTexelUnchangedWhateverTheFilter) {
  std::vector<uint32_t> px;
  for (uint32_t i = 0; i < 5 * 3; ++i) px.push_back(0x01000000u * (i * 17) + i * 0x00030507u);
  const ArgbImage src = Make(5, 3, px);
  for (uint32_t filter :
       {D3DX_FILTER_NONE, D3DX_FILTER_POINT, D3DX_FILTER_LINEAR, D3DX_FILTER_TRIANGLE,
        D3DX_FILTER_BOX, D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR | D3DX_FILTER_DITHER}) {
    EXPECT_EQ(Resample(src, 5, 3, filter).pixels, src.pixels) << filter;
  }
}

TEST(ResampleFilters, BoxDownsampleAveragesEachTwoByTwoBlockRoundingHalfUp) {
  // Channels chosen so the block means are 63.75, 127.5, 0 and 255.
  const ArgbImage src = Make(4, 2,
                             {0xFFFF0000, 0xFF000000, 0xFFFF0000, 0x00000000,  //
                              0xFF000000, 0xFF000000, 0x00000000, 0xFFFFFFFF});
  const ArgbImage out = Resample(src, 2, 1, D3DX_FILTER_BOX);
  ASSERT_EQ(out.pixels.size(), 2u);
  // Left block: alpha 255, red (255 + 0 + 0 + 0) / 4 = 63.75 -> 64, green and blue 0.
  EXPECT_EQ(out.pixels[0], 0xFF400000u);
  // Right block: alpha (255 + 0 + 0 + 255) / 4 = 127.5 -> 128; red (255 + 255) / 4 -> 128;
  // green and blue 255 / 4 = 63.75 -> 64. Colour is averaged straight, not weighted by alpha.
  EXPECT_EQ(out.pixels[1], 0x80804040u);
}

TEST(ResampleFilters, BoxHandlesNonIntegerRatiosByCoverage) {
  // 3 -> 2: pixel 0 covers source [0, 1.5), pixel 1 covers [1.5, 3).
  const ArgbImage out = Resample(GreyRow({0, 90, 180}), 2, 1, D3DX_FILTER_BOX);
  EXPECT_EQ(BlueOf(out), (std::vector<uint32_t>{30, 150}));
}

TEST(ResampleFilters, TriangleDownsampleBlendsNeighboursAndEdgesWrapUnlessMirrored) {
  // A checkerboard halves to an even grey everywhere: the tent weights each colour equally.
  std::vector<uint32_t> checker;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) checker.push_back(((x + y) & 1) ? 0xFF000000u : 0xFFFFFFFFu);
  const ArgbImage grey = Resample(Make(4, 4, checker), 2, 2, D3DX_FILTER_TRIANGLE);
  for (uint32_t p : grey.pixels) EXPECT_EQ(p, 0xFF808080u);

  // A step 0 0 255 255 halved with tent weights 1/4 3/4 3/4 1/4 around each output centre.
  // Wrapping brings the far edge in: (255/4 + 255/4) / 2 = 63.75 and (3/4 + 3/4) * 255 / 2.
  const ArgbImage step = GreyRow({0, 0, 255, 255});
  EXPECT_EQ(BlueOf(Resample(step, 2, 1, D3DX_FILTER_TRIANGLE)), (std::vector<uint32_t>{64, 191}));
  // Mirroring reflects the near edge instead: 255/4 / 2 = 31.875 and (3/4 + 3/4 + 1/4) * 255 / 2.
  EXPECT_EQ(BlueOf(Resample(step, 2, 1, D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR_U)),
            (std::vector<uint32_t>{32, 223}));
  // Mirroring the other axis does not change a horizontal resample.
  EXPECT_EQ(BlueOf(Resample(step, 2, 1, D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR_V)),
            (std::vector<uint32_t>{64, 191}));
}

TEST(ResampleFilters, PointAndLinearUpsample) {
  const ArgbImage two = GreyRow({0, 255});
  EXPECT_EQ(BlueOf(Resample(two, 4, 1, D3DX_FILTER_POINT)),
            (std::vector<uint32_t>{0, 0, 255, 255}));
  // Bilinear at source positions -0.25, 0.25, 0.75, 1.25; the outer ones wrap to the far pixel.
  EXPECT_EQ(BlueOf(Resample(two, 4, 1, D3DX_FILTER_LINEAR)),
            (std::vector<uint32_t>{64, 64, 191, 191}));
  EXPECT_EQ(BlueOf(Resample(two, 4, 1, D3DX_FILTER_LINEAR | D3DX_FILTER_MIRROR_U)),
            (std::vector<uint32_t>{0, 64, 191, 255}));
  // Vertical upsample by point doubles rows.
  const ArgbImage column = Make(1, 2, {0xFF000001, 0xFF000002});
  EXPECT_EQ(Resample(column, 1, 4, D3DX_FILTER_POINT).pixels,
            (std::vector<uint32_t>{0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002}));
}

TEST(ResampleFilters, NoneCopiesTheOverlapAndLeavesTheRestTransparentBlack) {
  const ArgbImage src = Make(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(Resample(src, 3, 1, D3DX_FILTER_NONE).pixels, (std::vector<uint32_t>{1, 2, 0}));
  EXPECT_EQ(Resample(src, 1, 3, D3DX_FILTER_NONE).pixels, (std::vector<uint32_t>{1, 3, 0}));
}

TEST(ResampleFilters, UnknownKindsAndEmptySizesAreRefused) {
  const ArgbImage src = Make(2, 2, {1, 2, 3, 4});
  ArgbImage out;
  EXPECT_FALSE(d3dx::ResampleImage(src, 1, 1, 0, &out));
  EXPECT_FALSE(d3dx::ResampleImage(src, 1, 1, 6, &out));
  EXPECT_FALSE(d3dx::ResampleImage(src, 0, 1, D3DX_FILTER_BOX, &out));
}

TEST(ColourKey, SourceWithoutAlphaMatchesTheKeyColourWhateverItsAlpha) {
  ArgbImage img = Make(3, 1, {0xFF000000, 0xFF102030, 0xFF000001});
  d3dx::ApplyColourKey(&img, 0x10000000, false);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0, 0xFF102030, 0xFF000001}));
  d3dx::ApplyColourKey(&img, 0x00102030, false);
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0, 0, 0xFF000001}));
  // With alpha in the source, the same key alpha must match too.
  ArgbImage rgba = Make(2, 1, {0xFF000000, 0x10000000});
  d3dx::ApplyColourKey(&rgba, 0x10000000, true);
  EXPECT_EQ(rgba.pixels, (std::vector<uint32_t>{0xFF000000, 0}));
}

TEST(ColourKey, OnlyExactThirtyTwoBitMatchesBecomeTransparentBlack) {
  ArgbImage img = Make(4, 1, {0xFF000000, 0x7F000000, 0xFF000001, 0xFFFFFFFF});
  d3dx::ApplyColourKey(&img, 0xFF000000);
  // Alpha is part of the key: half-transparent black is not opaque black.
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0, 0x7F000000, 0xFF000001, 0xFFFFFFFF}));
  d3dx::ApplyColourKey(&img, 0);  // 0 disables keying, even though a texel is now 0
  EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0, 0x7F000000, 0xFF000001, 0xFFFFFFFF}));
  d3dx::ApplyColourKey(&img, 0x7F000000);
  EXPECT_EQ(img.pixels[1], 0u);
}

}  // namespace
