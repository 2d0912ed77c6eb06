// Raster images: the object table, creation and clearing, drawing sessions, pixels and circles.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "automation.h"
#include "runtime/runtime.h"

namespace {

class RasterImages : public ::testing::Test {
 protected:
  void TearDown() override {
    AutomationClearFaults();
    ReleaseRuntimeObjects();
  }
};

// Every pixel of the open drawing, row by row from the top.
std::vector<uint32_t> Pixels(int width, int height) {
  std::vector<uint32_t> out;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.push_back(ReadPixel(x, y));
  return out;
}

TEST_F(RasterImages, NewImagesAreBlackAndThirtyTwoBitOnesOpaque) {
  ASSERT_NE(NewRasterImage(1, 7, 5), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  for (uint32_t p : Pixels(7, 5)) ASSERT_EQ(p, 0u);
  EndDrawing();

  ASSERT_NE(NewRasterImage(2, 4, 3, 32), 0);
  ASSERT_TRUE(BeginImageDrawing(2));
  for (uint32_t p : Pixels(4, 3)) ASSERT_EQ(p, 0u) << "colour only outside the alpha mode";
  DrawingMode(kDrawAlphaChannel);
  for (uint32_t p : Pixels(4, 3)) ASSERT_EQ(p, 0xFF000000u);
  EndDrawing();

  ASSERT_NE(NewRasterImage(3, 4, 3, 32 + kImageStartTransparent), 0);
  ASSERT_TRUE(BeginImageDrawing(3));
  DrawingMode(kDrawAlphaChannel);
  for (uint32_t p : Pixels(4, 3)) ASSERT_EQ(p, 0u);
  EndDrawing();

  // Depths below 24 give 24 bits; the DIB section says which.
  ASSERT_NE(NewRasterImage(4, 2, 2, 8), 0);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(RasterImageBitmap(4), sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
  ASSERT_EQ(GetObjectA(RasterImageBitmap(2), sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
}

TEST_F(RasterImages, NumbersAndAnyHandlesIdentifyImages) {
  RuntimeId numbered = NewRasterImage(5, 30, 20);
  ASSERT_NE(numbered, 0);
  EXPECT_EQ(reinterpret_cast<HBITMAP>(numbered), RasterImageBitmap(5))
      << "a numbered image returns its bitmap";
  EXPECT_EQ(RasterImageWidth(5), 30);
  EXPECT_EQ(RasterImageHeight(5), 20);
  EXPECT_TRUE(IsRasterImage(5));
  EXPECT_FALSE(IsRasterImage(4)) << "an empty slot inside the table finds nothing";
  EXPECT_FALSE(IsRasterImage(6)) << "beyond the table";

  RuntimeId any = NewRasterImage(kAnyObject, 9, 8);
  ASSERT_NE(any, 0);
  EXPECT_NE(reinterpret_cast<HBITMAP>(any), RasterImageBitmap(any)) << "-1 returns the record";
  EXPECT_TRUE(IsRasterImage(any));
  EXPECT_EQ(RasterImageWidth(any), 9);
  EXPECT_EQ(RasterImageHeight(any), 8);
  EXPECT_NE(RasterImageBitmap(any), nullptr);

  ReleaseRasterImage(kAnyObject);  // ignored
  ReleaseRasterImage(12345);       // ignored
  EXPECT_TRUE(IsRasterImage(any));
  HBITMAP anyBitmap = RasterImageBitmap(any);
  ReleaseRasterImage(any);
  EXPECT_FALSE(IsRasterImage(any));
  EXPECT_EQ(RasterImageWidth(any), 0);
  EXPECT_EQ(RasterImageBitmap(any), nullptr);
  EXPECT_EQ(GetObjectType(anyBitmap), 0u) << "its bitmap is deleted";
  EXPECT_EQ(RasterImageWidth(kAnyObject), 0);
  EXPECT_EQ(RasterImageHeight(-7), 0);
}

TEST_F(RasterImages, ReusingANumberReleasesWhatItHeld) {
  HBITMAP first = reinterpret_cast<HBITMAP>(NewRasterImage(2, 10, 10));
  ASSERT_NE(first, nullptr);
  // Holding the first bitmap in a context of our own keeps its address from being reused, so
  // its handle reads dead exactly when the runtime deleted it.
  HDC holder = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(holder, first);
  HBITMAP second = reinterpret_cast<HBITMAP>(NewRasterImage(2, 3, 4));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetObjectType(first), 0u) << "the earlier bitmap is gone";
  SelectObject(holder, previous);
  DeleteDC(holder);
  EXPECT_EQ(RasterImageBitmap(2), second);
  EXPECT_EQ(RasterImageWidth(2), 3);

  // A failed re-creation still released the old image: the number is empty afterwards.
  AutomationSetFault(AutomationFault::CreateDIBSection, true);
  EXPECT_EQ(NewRasterImage(2, 5, 5), 0);
  AutomationSetFault(AutomationFault::CreateDIBSection, false);
  EXPECT_EQ(GetObjectType(second), 0u);
  EXPECT_FALSE(IsRasterImage(2));

  // The table grows to any number asked for.
  ASSERT_NE(NewRasterImage(300, 1, 1), 0);
  EXPECT_TRUE(IsRasterImage(300));
  EXPECT_EQ(NewRasterImage(kMaxImageSide * 1000000LL, 1, 1), 0) << "absurd numbers are refused";
}

TEST_F(RasterImages, SizesOutsideTheRecordAreRefused) {
  EXPECT_EQ(NewRasterImage(1, 0, 5), 0);
  EXPECT_EQ(NewRasterImage(1, 5, 0), 0);
  EXPECT_EQ(NewRasterImage(1, -3, 5), 0);
  EXPECT_EQ(NewRasterImage(1, 32768, 1), 0);
  EXPECT_EQ(NewRasterImage(1, 1, 32768), 0);
  EXPECT_EQ(NewRasterImage(kAnyObject, 70000, 2), 0);
  EXPECT_FALSE(IsRasterImage(1));
  ASSERT_NE(NewRasterImage(1, kMaxImageSide, 1), 0);
  EXPECT_EQ(RasterImageWidth(1), kMaxImageSide);
  EXPECT_EQ(NewRasterImage(-5, 4, 4), 0) << "negative numbers other than -1";
}

TEST_F(RasterImages, DrawingSessionsOneAtATime) {
  ASSERT_NE(NewRasterImage(1, 4, 4), 0);
  ASSERT_NE(NewRasterImage(2, 4, 4), 0);
  EXPECT_EQ(BeginImageDrawing(9), nullptr) << "unknown image";
  EXPECT_FALSE(DrawingIsOpen());

  HDC dc = BeginImageDrawing(1);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), RasterImageBitmap(1));
  EXPECT_EQ(GdiSetBatchLimit(1), 1u) << "batching is off while drawing";
  EXPECT_EQ(BeginImageDrawing(2), nullptr) << "a drawing is already open";
  PlotPixel(0, 0, 0x123456);  // still lands on image 1
  EndDrawing();
  EXPECT_FALSE(DrawingIsOpen());
  EXPECT_EQ(GetObjectType(dc), 0u) << "its context is deleted";
  EndDrawing();  // harmless

  ASSERT_TRUE(BeginImageDrawing(2));
  EXPECT_EQ(ReadPixel(0, 0), 0u);
  EndDrawing();
  ASSERT_TRUE(BeginImageDrawing(1));
  EXPECT_EQ(ReadPixel(0, 0), 0x123456u);

  // Releasing the target ends the drawing instead of leaving it pointing at freed memory.
  ReleaseRasterImage(1);
  EXPECT_FALSE(DrawingIsOpen());
  PlotPixel(0, 0, 1);
  EXPECT_EQ(ReadPixel(0, 0), 0u);
  EXPECT_TRUE(BeginImageDrawing(2));
}

TEST_F(RasterImages, BatchLimitIsRestoredWhenDrawingEnds) {
  ASSERT_NE(NewRasterImage(1, 4, 4), 0);
  const DWORD before = GdiSetBatchLimit(13);
  ASSERT_TRUE(BeginImageDrawing(1));
  EndDrawing();
  EXPECT_EQ(GdiSetBatchLimit(before), 13u);
}

TEST_F(RasterImages, ReadPixelYZeroIsTheTopLineTheLastRowInMemory) {
  RuntimeId image = NewRasterImage(kAnyObject, 3, 2);
  HDC dc = BeginImageDrawing(image);
  ASSERT_NE(dc, nullptr);
  PlotPixel(2, 0, 0x00ABCDEF);
  EXPECT_EQ(ReadPixel(2, 0), 0x00ABCDEFu);
  PlotPixel(0, 1, 0xFF010203);  // the top byte is ignored by plain writes
  EXPECT_EQ(ReadPixel(0, 1), 0x010203u);

  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(RasterImageBitmap(image), sizeof ds, &ds), static_cast<int>(sizeof ds));
  const auto* bits = static_cast<const uint8_t*>(ds.dsBm.bmBits);
  const uint8_t* last = bits + ds.dsBm.bmWidthBytes;  // second of two rows: the top line
  EXPECT_EQ(last[6], 0xAB);                           // blue first
  EXPECT_EQ(last[7], 0xCD);
  EXPECT_EQ(last[8], 0xEF);
  EXPECT_EQ(bits[0], 0x01);  // blue of 0x010203
  EXPECT_EQ(bits[2], 0x03);

  // The same through GetDIBits on the drawing's context, top-down request.
  std::vector<uint8_t> rows(3 * 4 * 2);
  BITMAPINFO request{};
  request.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  ASSERT_EQ(GetDIBits(dc, RasterImageBitmap(image), 0, 2, rows.data(), &request, DIB_RGB_COLORS),
            2);
  EXPECT_EQ(rows[8], 0xAB);
  EXPECT_EQ(rows[12], 0x01);
}

TEST_F(RasterImages, PixelsOutsideTheTargetReadZeroAndAreNotWritten) {
  ASSERT_NE(NewRasterImage(1, 5, 4), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  PlotPixel(4, 3, 0x777777);
  EXPECT_EQ(ReadPixel(4, 3), 0x777777u);
  EXPECT_EQ(ReadPixel(5, 3), 0u);
  EXPECT_EQ(ReadPixel(4, 4), 0u);
  EXPECT_EQ(ReadPixel(-1, 0), 0u);
  EXPECT_EQ(ReadPixel(0, -1), 0u);
  const auto before = Pixels(5, 4);
  for (auto [x, y] : {std::pair{5, 0}, {0, 4}, {-1, 2}, {2, -1}, {100000, 100000}, {INT32_MIN, 0}})
    PlotPixel(x, y, 0xFFFFFF);
  EXPECT_EQ(Pixels(5, 4), before);
  EndDrawing();
  EXPECT_EQ(ReadPixel(4, 3), 0u) << "no drawing open";
  PlotPixel(0, 0, 0xFFFFFF);  // no drawing open: ignored
}

TEST_F(RasterImages, ThirtyTwoBitPlotKeepsAlphaUnlessInTheAlphaMode) {
  ASSERT_NE(NewRasterImage(1, 2, 1, 32), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  PlotPixel(0, 0, 0x00112233);
  DrawingMode(kDrawAlphaChannel);
  EXPECT_EQ(ReadPixel(0, 0), 0xFF112233u) << "alpha kept by the plain write";
  PlotPixel(1, 0, 0x80445566);
  EXPECT_EQ(ReadPixel(1, 0), 0x80445566u);
  EXPECT_EQ(DrawingMode(0), kDrawAlphaChannel);
  EXPECT_EQ(ReadPixel(1, 0), 0x445566u);
}

TEST_F(RasterImages, FillCircleRadiusOneIsAPlus) {
  ASSERT_NE(NewRasterImage(1, 3, 3), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  FillCircle(1, 1, 1, 0x00C0FFEE);
  const uint32_t k = 0x00C0FFEE;
  EXPECT_EQ(Pixels(3, 3), (std::vector<uint32_t>{0, k, 0, k, k, k, 0, k, 0}));
}

TEST_F(RasterImages, FillCircleIsASymmetricDiscClippedToTheTarget) {
  ASSERT_NE(NewRasterImage(1, 41, 41), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  FillCircle(20, 20, 0, 0xFF);
  EXPECT_EQ(ReadPixel(20, 20), 0xFFu);
  EXPECT_EQ(ReadPixel(21, 20), 0u);
  for (int r : {2, 5, 13, 20}) {
    SCOPED_TRACE(r);
    FillCircle(20, 20, r, 0x01);
    for (int y = 0; y < 41; ++y)
      for (int x = 0; x < 41; ++x) {
        const double d = std::hypot(x - 20, y - 20);
        const bool lit = ReadPixel(x, y) == 0x01;
        if (d <= r - 0.5) {
          ASSERT_TRUE(lit) << x << "," << y;
        }
        if (d > r + 0.5) {
          ASSERT_FALSE(lit) << x << "," << y;
        }
        ASSERT_EQ(lit, ReadPixel(40 - x, y) == 0x01) << "mirror in x";
        ASSERT_EQ(lit, ReadPixel(y, x) == 0x01) << "mirror in the diagonal";
      }
    FillCircle(20, 20, 30, 0);  // clear
  }
  // Centres off the target and radii past the large-circle threshold stay within it.
  FillCircle(-3, -3, 5, 0x02);
  EXPECT_EQ(ReadPixel(0, 0), 0x02u);
  EXPECT_EQ(ReadPixel(2, 2), 0u);
  FillCircle(20, 20, 5000, 0x03);
  for (uint32_t p : Pixels(41, 41)) ASSERT_EQ(p, 0x03u);
  FillCircle(20, 20, INT32_MAX, 0x04);
  EXPECT_EQ(ReadPixel(0, 40), 0x04u);
  FillCircle(20, 20, -1, 0x05);
  EXPECT_EQ(ReadPixel(20, 20), 0x04u) << "a negative radius draws nothing";
}

TEST_F(RasterImages, EndOfProgramReleasesEverything) {
  HBITMAP a = reinterpret_cast<HBITMAP>(NewRasterImage(1, 2, 2));
  RuntimeId b = NewRasterImage(kAnyObject, 2, 2);
  HBITMAP bBitmap = RasterImageBitmap(b);
  HFONT font = reinterpret_cast<HFONT>(OpenFont(3, "Arial", 10, 0));
  ASSERT_NE(font, nullptr);
  ASSERT_TRUE(BeginImageDrawing(b));
  ReleaseRuntimeObjects();
  EXPECT_FALSE(DrawingIsOpen());
  EXPECT_FALSE(IsRasterImage(1));
  EXPECT_FALSE(IsRasterImage(b));
  EXPECT_EQ(FontHandle(3), nullptr);
  EXPECT_EQ(GetObjectType(a), 0u);
  EXPECT_EQ(GetObjectType(bBitmap), 0u);
  EXPECT_EQ(GetObjectType(font), 0u);
}

}  // namespace
