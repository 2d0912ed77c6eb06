// Text on raster images (DrawString's compositing rule) and the numbered fonts behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/runtime.h"

namespace {

class DrawingText : public ::testing::Test {
 protected:
  void TearDown() override { ReleaseRuntimeObjects(); }
};

std::vector<uint32_t> Pixels(int width, int height) {
  std::vector<uint32_t> out;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.push_back(ReadPixel(x, y));
  return out;
}

// The scratch rendering of a text, produced independently of the runtime: the font drawn white
// on black by GDI at the cell origin. Returns grey levels, cx x cy, rows from the top.
std::vector<int> Coverage(HFONT font, const char* text, SIZE* extent) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, font);
  GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), extent);
  BITMAPINFO info{};
  info.bmiHeader = {
      sizeof(BITMAPINFOHEADER), extent->cx, -extent->cy, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, 0);
  SetTextColor(dc, 0xFFFFFF);
  TextOutA(dc, 0, 0, text, static_cast<int>(strlen(text)));
  const int stride = ((extent->cx * 24 + 31) / 32) * 4;
  std::vector<int> levels;
  for (int y = 0; y < extent->cy; ++y)
    for (int x = 0; x < extent->cx; ++x) {
      const uint8_t* p = static_cast<uint8_t*>(bits) + y * stride + x * 3;
      const float s = static_cast<float>(p[0] + p[1] + p[2]) / 765.0f;
      levels.push_back(static_cast<int>(255.0f * s));
    }
  SelectObject(dc, oldBitmap);
  SelectObject(dc, oldFont);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return levels;
}

TEST_F(DrawingText, EmptyTextChangesNothingAndReturnsX) {
  ASSERT_NE(NewRasterImage(1, 20, 20), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  PlotPixel(3, 3, 0x010101);
  const auto before = Pixels(20, 20);
  EXPECT_EQ(DrawString(7, 2, "", 0xFFFFFF), 7);
  EXPECT_EQ(DrawString(-4, 2, nullptr, 0xFFFFFF), -4);
  EXPECT_EQ(Pixels(20, 20), before);
  EndDrawing();
  EXPECT_EQ(DrawString(5, 5, "text", 0xFFFFFF), 5) << "no drawing open";
}

TEST_F(DrawingText, ReturnsXPlusTheExtentOfTheSelectedFont) {
  ASSERT_NE(NewRasterImage(1, 200, 60), 0);
  HFONT font = reinterpret_cast<HFONT>(OpenFont(1, "Lucida Console", 10, kFontBold));
  ASSERT_NE(font, nullptr);
  SIZE extent{};
  Coverage(font, "*   Kestrelwing   *", &extent);
  ASSERT_TRUE(BeginImageDrawing(1));
  ASSERT_EQ(SetDrawingFont(1), 1);
  EXPECT_EQ(DrawString(3, 4, "*   Kestrelwing   *", 0xFF), 3 + extent.cx);
  // The system font is the default; a font given by its GDI handle works as well.
  EXPECT_EQ(SetDrawingFont(reinterpret_cast<RuntimeId>(font)), 1);
  EXPECT_EQ(SetDrawingFont(77), 0) << "unknown font";
  EndDrawing();
  EXPECT_EQ(SetDrawingFont(1), 0) << "no drawing open";
}

TEST_F(DrawingText, FrontColoursOneToFourReadBackOnlyUpToTheirValue) {
  ASSERT_NE(NewRasterImage(1, 180, 70), 0);
  ASSERT_NE(OpenFont(1, "Lucida Console", 10, kFontBold), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  SetDrawingFont(1);
  const char* lines[] = {"*   Kestrelwing   *", "*      Demo       *", "*    TileBurst    *",
                         "*******************"};
  for (int k = 1; k <= 4; ++k)
    DrawString(2, 2 + 16 * (k - 1), lines[k - 1], static_cast<uint32_t>(k));
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    bool solid = false;
    for (int y = 2 + 16 * (k - 1); y < 2 + 16 * k && y < 70; ++y)
      for (int x = 0; x < 180; ++x) {
        const uint32_t p = ReadPixel(x, y);
        ASSERT_LE(p, static_cast<uint32_t>(k)) << x << "," << y;
        solid |= p == static_cast<uint32_t>(k);
      }
    EXPECT_TRUE(solid) << "solid glyph pixels carry the front colour";
  }
}

TEST_F(DrawingText, OpaqueModeFollowsTheCompositingRuleOverTheWholeCell) {
  ASSERT_NE(NewRasterImage(1, 120, 40), 0);
  HFONT font = reinterpret_cast<HFONT>(OpenFont(1, "Arial", 14, 0));
  SIZE extent{};
  const auto cov = Coverage(font, "Agile", &extent);
  ASSERT_TRUE(BeginImageDrawing(1));
  SetDrawingFont(1);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) PlotPixel(x, y, 0x00336699);  // a busy target
  DrawingBackColour(0x00102030);
  const uint32_t front = 0x00F0A050;
  ASSERT_EQ(DrawString(10, 5, "Agile", front), 10 + extent.cx);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) {
      const bool inCell = x >= 10 && x < 10 + extent.cx && y >= 5 && y < 5 + extent.cy;
      uint32_t expected = 0x00336699;
      if (inCell) {
        const int c = cov[(y - 5) * extent.cx + (x - 10)];
        auto mix = [&](int back, int fore) { return (back * (255 - c) + fore * c) / 255; };
        expected = ComposeRGB(mix(0x30, 0x50), mix(0x20, 0xA0), mix(0x10, 0xF0));
      }
      ASSERT_EQ(ReadPixel(x, y), expected) << x << "," << y;
    }
}

TEST_F(DrawingText, TransparentModeBlendsOverTheTarget) {
  ASSERT_NE(NewRasterImage(1, 100, 40, 32), 0);
  HFONT font = reinterpret_cast<HFONT>(OpenFont(1, "Times New Roman", 16, kFontItalic));
  SIZE extent{};
  const auto cov = Coverage(font, "Wavy", &extent);
  ASSERT_TRUE(BeginImageDrawing(1));
  SetDrawingFont(1);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) PlotPixel(x, y, ComposeRGB(x * 2, y * 5, 77));
  EXPECT_EQ(DrawingMode(kDrawTransparent), kDrawOpaque);
  ASSERT_EQ(DrawString(4, 6, "Wavy", 0x00FFFFFF), 4 + extent.cx);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) {
      const bool inCell = x >= 4 && x < 4 + extent.cx && y >= 6 && y < 6 + extent.cy;
      const int c = inCell ? cov[(y - 6) * extent.cx + (x - 4)] : 0;
      auto mix = [&](int under) { return (255 * c + under * (255 - c)) / 255; };
      ASSERT_EQ(ReadPixel(x, y), ComposeRGB(mix(x * 2), mix(y * 5), mix(77))) << x << "," << y;
    }
  DrawingMode(kDrawAlphaChannel);
  EXPECT_EQ(ReadPixel(0, 0) >> 24, 0xFFu) << "alpha untouched outside the alpha mode";
}

TEST_F(DrawingText, NegativeAndClippedPositionsCompositeOnlyTheVisiblePart) {
  ASSERT_NE(NewRasterImage(1, 90, 30), 0);
  ASSERT_NE(NewRasterImage(2, 90, 30), 0);
  ASSERT_NE(OpenFont(1, "Arial", 12, kFontBold), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  SetDrawingFont(1);
  const int end = DrawString(0, 0, "Shifted text", 0xFFFFFF);
  const auto whole = Pixels(90, 30);
  EndDrawing();
  ASSERT_TRUE(BeginImageDrawing(2));
  SetDrawingFont(1);
  EXPECT_EQ(DrawString(-9, 0, "Shifted text", 0xFFFFFF), end - 9);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x + 9 < 90; ++x)
      ASSERT_EQ(ReadPixel(x, y), whole[y * 90 + x + 9]) << x << "," << y;
  // Far off any edge nothing is drawn and nothing breaks.
  const auto before = Pixels(90, 30);
  DrawString(-100000, 0, "gone", 0xFFFFFF);
  DrawString(0, 100000, "gone", 0xFFFFFF);
  DrawString(85, -200000, "gone", 0xFFFFFF);
  EXPECT_EQ(Pixels(90, 30), before);
  DrawString(82, 18, "HH", 0xFFFFFF);  // partly inside at the bottom right
  EXPECT_NE(Pixels(90, 30), before);
}

TEST_F(DrawingText, TallFontsGrowTheScratchAndPaintTheirWholeCell) {
  ASSERT_NE(NewRasterImage(1, 300, 200), 0);
  HFONT big = reinterpret_cast<HFONT>(OpenFont(1, "Arial", 60, 0));
  SIZE extent{};
  Coverage(big, "Hg", &extent);
  ASSERT_GT(extent.cy, 50);
  ASSERT_TRUE(BeginImageDrawing(1));
  ASSERT_EQ(SetDrawingFont(1), 1);
  DrawingBackColour(0x000080);
  DrawString(0, 0, "Hg", 0xFFFFFF);
  EXPECT_EQ(ReadPixel(extent.cx - 1, extent.cy - 1), 0x000080u) << "the cell's last row is painted";
  EXPECT_EQ(ReadPixel(0, extent.cy), 0u) << "nothing below the cell";
  EXPECT_EQ(ReadPixel(extent.cx, 0), 0u) << "nothing right of the cell";
}

TEST_F(DrawingText, OpenFontMapsSizeAndFlagsToTheGdiFont) {
  HFONT font = reinterpret_cast<HFONT>(OpenFont(4, "Lucida Console", 10, kFontBold));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(FontHandle(4), font);
  LOGFONTA lf{};
  ASSERT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
  EXPECT_EQ(lf.lfHeight, -13) << "10 pt at 96 dpi, rounded";
  EXPECT_EQ(lf.lfWidth, 0);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 0);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(lf.lfQuality, DEFAULT_QUALITY);
  EXPECT_STREQ(lf.lfFaceName, "Lucida Console");

  RuntimeId any = OpenFont(kAnyObject, "Arial", 12,
                           kFontItalic | kFontUnderline | kFontStrikeOut | kFontProofQuality);
  ASSERT_NE(any, 0);
  HFONT anyFont = FontHandle(any);
  ASSERT_NE(anyFont, nullptr);
  EXPECT_NE(reinterpret_cast<HFONT>(any), anyFont) << "-1 returns the record";
  ASSERT_EQ(GetObjectA(anyFont, sizeof lf, &lf), static_cast<int>(sizeof lf));
  EXPECT_EQ(lf.lfHeight, -16);
  EXPECT_EQ(lf.lfWeight, FW_NORMAL);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfStrikeOut, 1);
  EXPECT_EQ(lf.lfQuality, PROOF_QUALITY);

  // 7 pt is 9.33 pixels, 11 pt 14.67: rounding to nearest, not truncation.
  ASSERT_NE(OpenFont(5, "Arial", 7, 0), 0);
  GetObjectA(FontHandle(5), sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -9);
  ASSERT_NE(OpenFont(5, "Arial", 11, 0), 0);
  GetObjectA(FontHandle(5), sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -15);
  ASSERT_NE(OpenFont(6, nullptr, 10, 0), 0) << "no face name: the default face";
}

TEST_F(DrawingText, ReusedFontNumbersReleaseTheirFonts) {
  HFONT first = reinterpret_cast<HFONT>(OpenFont(2, "Arial", 10, 0));
  ASSERT_NE(first, nullptr);
  // Holding the first font in a context of our own keeps its address from being reused, so its
  // handle reads dead exactly when the runtime deleted it.
  HDC holder = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(holder, first);
  HFONT second = reinterpret_cast<HFONT>(OpenFont(2, "Arial", 20, 0));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetObjectType(first), 0u);
  SelectObject(holder, previous);
  DeleteDC(holder);
  EXPECT_EQ(FontHandle(2), second);
  LOGFONTA lf{};
  GetObjectA(second, sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -27);
  EXPECT_EQ(FontHandle(3), nullptr);
  EXPECT_EQ(FontHandle(kAnyObject), nullptr);
  EXPECT_EQ(OpenFont(-2, "Arial", 10, 0), 0);

  // A font released while selected for drawing keeps working until drawing ends.
  ASSERT_NE(NewRasterImage(1, 60, 30), 0);
  ASSERT_TRUE(BeginImageDrawing(1));
  SetDrawingFont(2);
  ReleaseFont(2);
  EXPECT_EQ(FontHandle(2), nullptr);
  EXPECT_GT(DrawString(0, 0, "still", 0xFFFFFF), 0);
  EndDrawing();
}

}  // namespace
