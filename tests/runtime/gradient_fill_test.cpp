// GradientFillImage: exact pixels of the four-corner gradient and its degenerate cases.
#include <gtest/gtest.h>

#include <vector>

#include "engine/twod/gradient_fill.h"
#include "runtime/runtime.h"

namespace {

class GradientFill : public ::testing::Test {
 protected:
  void TearDown() override { ReleaseRuntimeObjects(); }

  static std::vector<uint32_t> Read(RuntimeId image) {
    std::vector<uint32_t> out;
    if (!BeginImageDrawing(image)) return out;
    for (int y = 0; y < RasterImageHeight(image); ++y)
      for (int x = 0; x < RasterImageWidth(image); ++x) out.push_back(ReadPixel(x, y));
    EndDrawing();
    return out;
  }
};

TEST_F(GradientFill, BlueYellowRedGreenCornersOn256Square) {
  ASSERT_NE(NewRasterImage(1, 256, 256), 0);
  EXPECT_EQ(GradientFillImage(1, 0, 0xFF0000, 0x00FFFF, 0x0000FF, 0x00FF00), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  EXPECT_EQ(ReadPixel(0, 0), 0xFF0000u);
  EXPECT_EQ(ReadPixel(255, 0), 0x01FEFEu);
  EXPECT_EQ(ReadPixel(0, 255), 0x0100FEu);
  EXPECT_EQ(ReadPixel(255, 255), 0x00FE02u);
  EXPECT_EQ(ReadPixel(128, 128), 0x408080u) << "127.5 rounds to the even 128";
  EndDrawing();
  EXPECT_FALSE(DrawingIsOpen()) << "the fill closes its own drawing";
}

TEST_F(GradientFill, OnePixelTakesTheTopLeftColour) {
  ASSERT_NE(NewRasterImage(1, 1, 1), 0);
  GradientFillImage(1, 0, 0x123456, 0xFFFFFF, 0xABCDEF, 0x000000);
  EXPECT_EQ(Read(1), std::vector<uint32_t>{0x123456u});
}

TEST_F(GradientFill, HalvesRoundToEven) {
  // Two columns: the second is half way from the left to the right colour.
  ASSERT_NE(NewRasterImage(1, 2, 1), 0);
  GradientFillImage(1, 0, 0x000000, 0x050301, 0x000000, 0x050301);
  // red 0.5 -> 0, green 1.5 -> 2, blue 2.5 -> 2
  EXPECT_EQ(Read(1), (std::vector<uint32_t>{0x000000u, 0x020200u}));
  GradientFillImage(1, 0, 0x070707, 0x000000, 0x070707, 0x000000);
  // 7 - 3.5 = 3.5 -> 4 in every channel
  EXPECT_EQ(Read(1), (std::vector<uint32_t>{0x070707u, 0x040404u}));
}

TEST_F(GradientFill, EqualCornersGiveOneColourAndTheTopByteIsIgnored) {
  RuntimeId image = NewRasterImage(kAnyObject, 37, 23, 32);
  ASSERT_NE(image, 0);
  GradientFillImage(image, 0, 0xAA7F3C81, 0x557F3C81, 0x007F3C81, 0xFF7F3C81);
  for (uint32_t p : Read(image)) ASSERT_EQ(p, 0x7F3C81u);
  // The 32-bit image keeps its opaque alpha: the fill writes colour only.
  ASSERT_TRUE(BeginImageDrawing(image));
  DrawingMode(kDrawAlphaChannel);
  EXPECT_EQ(ReadPixel(36, 22), 0xFF7F3C81u);
  EndDrawing();
}

TEST_F(GradientFill, ReservedHasNoEffectAndRowsAndColumnsMoveMonotonically) {
  ASSERT_NE(NewRasterImage(1, 50, 40), 0);
  ASSERT_NE(NewRasterImage(2, 50, 40), 0);
  GradientFillImage(1, 0, 0x000000, 0x0000FF, 0x00FF00, 0xFF0000);
  GradientFillImage(2, -123456, 0x000000, 0x0000FF, 0x00FF00, 0xFF0000);
  const auto a = Read(1);
  EXPECT_EQ(a, Read(2));
  // Red grows to the right along the top line, green grows downwards along the left column.
  for (int x = 1; x < 50; ++x) ASSERT_GE(a[x] & 0xFF, a[x - 1] & 0xFF);
  for (int y = 1; y < 40; ++y) ASSERT_GE((a[y * 50] >> 8) & 0xFF, (a[(y - 1) * 50] >> 8) & 0xFF);
  // One step short of the far corners.
  EXPECT_LT(a[49] & 0xFF, 0xFFu);
  EXPECT_GT(a[49] & 0xFF, 0xF0u);
}

TEST_F(GradientFill, MissingImageOrBusyDrawingDrawsNothing) {
  EXPECT_EQ(GradientFillImage(9, 0, 0xFF, 0xFF, 0xFF, 0xFF), 0);
  EXPECT_EQ(GradientFillImage(kAnyObject, 0, 0xFF, 0xFF, 0xFF, 0xFF), 0);
  ASSERT_NE(NewRasterImage(1, 4, 4), 0);
  ASSERT_NE(NewRasterImage(2, 4, 4), 0);
  ASSERT_TRUE(BeginImageDrawing(2));
  EXPECT_EQ(GradientFillImage(1, 0, 0xFF, 0xFF, 0xFF, 0xFF), 0);
  EXPECT_TRUE(DrawingIsOpen()) << "the open drawing is left alone";
  EndDrawing();
  for (uint32_t p : Read(1)) ASSERT_EQ(p, 0u);
}

}  // namespace
