// GDI text: fonts, metrics, extents and TextOutA's cell painting and blending.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "windows.h"

namespace {

// A 32-bit top-down canvas in a memory context, filled with one colour.
class Canvas {
 public:
  Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint8_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    previous_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const {
    const uint8_t* p = bits_ + (static_cast<size_t>(y) * width_ + x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  // The bounding box of pixels that are not `colour`; false if there are none.
  bool BoxOfOthers(COLORREF colour, RECT* box) const {
    bool any = false;
    *box = {width_, height_, -1, -1};
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (At(x, y) != colour) {
          any = true;
          box->left = std::min<LONG>(box->left, x);
          box->top = std::min<LONG>(box->top, y);
          box->right = std::max<LONG>(box->right, x + 1);
          box->bottom = std::max<LONG>(box->bottom, y + 1);
        }
    return any;
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  HBITMAP bitmap_ = nullptr;
  uint8_t* bits_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

struct SelectedFont {
  HDC dc;
  HFONT font;
  HGDIOBJ previous;
  SelectedFont(HDC d, HFONT f) : dc(d), font(f), previous(SelectObject(d, f)) {}
  ~SelectedFont() {
    SelectObject(dc, previous);
    DeleteObject(font);
  }
};

HFONT Font(int height, int weight, const char* face, DWORD italic = 0) {
  return CreateFontA(height, 0, 0, 0, weight, italic, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

TEST(GdiFonts, CreateFontKeepsTheLogicalFontAndMetricsFollowWindowsHeights) {
  HFONT font = Font(-13, FW_BOLD, "Lucida Console", TRUE);
  ASSERT_NE(font, nullptr);
  LOGFONTA lf{};
  ASSERT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof(LOGFONTA)));
  EXPECT_EQ(lf.lfHeight, -13);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_STREQ(lf.lfFaceName, "Lucida Console");
  EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));

  Canvas canvas(8, 8, 0);
  {
    SelectedFont selected(canvas.dc(), font);
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(canvas.dc(), &tm));
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 13) << "negative height is the em height";
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_EQ(tm.tmWeight, FW_BOLD);
    EXPECT_NE(tm.tmItalic, 0);
    EXPECT_EQ(tm.tmPitchAndFamily & 1, 0) << "fixed pitch clears the low bit";
    char face[LF_FACESIZE] = {};
    EXPECT_EQ(GetTextFaceA(canvas.dc(), sizeof face, face), 15);
    EXPECT_STREQ(face, "Lucida Console");
  }
  {
    SelectedFont selected(canvas.dc(), Font(20, FW_NORMAL, "Arial"));
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(canvas.dc(), &tm));
    EXPECT_EQ(tm.tmHeight, 20) << "positive height is the cell height";
    EXPECT_EQ(tm.tmWeight, FW_NORMAL);
    EXPECT_EQ(tm.tmPitchAndFamily & 1, 1);
  }
  EXPECT_EQ(Font(-13, 2000, "Arial"), nullptr) << "weights run to 1000";
  EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
  EXPECT_FALSE(GetTextMetricsA(nullptr, nullptr));
}

TEST(GdiTextExtent, WidthIsTheAdvanceSumAndHeightTheCell) {
  Canvas canvas(8, 8, 0);
  SelectedFont selected(canvas.dc(), Font(-16, FW_NORMAL, "Courier New"));
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(canvas.dc(), &tm));
  SIZE one{}, ten{}, none{};
  ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc(), "M", 1, &one));
  ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc(), "iiiiiMMMMM", 10, &ten));
  EXPECT_EQ(ten.cx, 10 * one.cx) << "monospace advances add up";
  EXPECT_EQ(one.cy, tm.tmHeight);
  EXPECT_EQ(ten.cy, tm.tmHeight);
  ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc(), "", 0, &none));
  EXPECT_EQ(none.cx, 0);
  EXPECT_EQ(none.cy, tm.tmHeight);
  // The count, not the terminator, bounds the text.
  SIZE three{};
  ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc(), "MMMMMM", 3, &three));
  EXPECT_EQ(three.cx, 3 * one.cx);
  EXPECT_FALSE(GetTextExtentPoint32A(canvas.dc(), "M", -1, &one));
  EXPECT_FALSE(GetTextExtentPoint32A(canvas.dc(), nullptr, 2, &one));
}

TEST(GdiTextOut, OpaqueModePaintsExactlyTheExtentCell) {
  for (const char* face : {"Arial", "Lucida Console", "Times New Roman"}) {
    SCOPED_TRACE(face);
    Canvas canvas(200, 60, RGB(255, 255, 255));
    SelectedFont selected(canvas.dc(), Font(-18, FW_NORMAL, face));
    SetBkMode(canvas.dc(), OPAQUE);
    SetBkColor(canvas.dc(), RGB(0, 0, 128));
    SetTextColor(canvas.dc(), RGB(255, 255, 0));
    const char* text = "Hg box";
    SIZE extent{};
    ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc(), text, 6, &extent));
    ASSERT_TRUE(TextOutA(canvas.dc(), 17, 9, text, 6));
    RECT box{};
    ASSERT_TRUE(canvas.BoxOfOthers(RGB(255, 255, 255), &box));
    EXPECT_EQ(box.left, 17);
    EXPECT_EQ(box.top, 9);
    EXPECT_EQ(box.right, 17 + extent.cx);
    EXPECT_EQ(box.bottom, 9 + extent.cy);
    // Glyph-free cell pixels carry the background colour, and some carry the text colour.
    EXPECT_EQ(canvas.At(17, 9), RGB(0, 0, 128));
    bool solid = false;
    for (int y = box.top; y < box.bottom; ++y)
      for (int x = box.left; x < box.right; ++x) solid |= canvas.At(x, y) == RGB(255, 255, 0);
    EXPECT_TRUE(solid);
  }
}

TEST(GdiTextOut, TransparentModeBlendsOnlyTheGlyphs) {
  Canvas canvas(120, 40, RGB(40, 40, 40));
  SelectedFont selected(canvas.dc(), Font(-20, FW_NORMAL, "Arial"));
  EXPECT_EQ(SetBkMode(canvas.dc(), TRANSPARENT), OPAQUE);
  SetBkColor(canvas.dc(), RGB(0, 0, 128));
  SetTextColor(canvas.dc(), RGB(240, 40, 40));
  ASSERT_TRUE(TextOutA(canvas.dc(), 5, 5, "l", 1));
  int changed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) {
      COLORREF c = canvas.At(x, y);
      if (c == RGB(40, 40, 40)) continue;
      ++changed;
      // Every changed pixel lies between background and text colour: only red rises.
      EXPECT_EQ(GetGValue(c), 40);
      EXPECT_EQ(GetBValue(c), 40);
      EXPECT_GT(GetRValue(c), 40);
    }
  EXPECT_GT(changed, 10);
  // The stem of an l is a few pixels wide, far from the cell's area.
  SIZE extent{};
  GetTextExtentPoint32A(canvas.dc(), "l", 1, &extent);
  EXPECT_LT(changed, extent.cx * extent.cy);
}

TEST(GdiTextOut, AlignmentMovesTheCell) {
  const char* text = "Wide";
  struct Case {
    UINT align;
    int dx;  // in units of the text width
    int dy;  // 0 top, 1 baseline, 2 bottom
  } cases[] = {{TA_LEFT | TA_TOP, 0, 0},
               {TA_RIGHT | TA_TOP, -2, 0},
               {TA_CENTER | TA_TOP, -1, 0},
               {TA_LEFT | TA_BASELINE, 0, 1},
               {TA_LEFT | TA_BOTTOM, 0, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.align);
    Canvas canvas(200, 100, RGB(255, 255, 255));
    SelectedFont selected(canvas.dc(), Font(-16, FW_NORMAL, "Arial"));
    SetBkColor(canvas.dc(), 0);
    SetTextAlign(canvas.dc(), c.align);
    EXPECT_EQ(GetTextAlign(canvas.dc()), c.align);
    TEXTMETRICA tm{};
    GetTextMetricsA(canvas.dc(), &tm);
    SIZE extent{};
    GetTextExtentPoint32A(canvas.dc(), text, 4, &extent);
    TextOutA(canvas.dc(), 100, 50, text, 4);
    RECT box{};
    ASSERT_TRUE(canvas.BoxOfOthers(RGB(255, 255, 255), &box));
    EXPECT_EQ(box.left, 100 + c.dx * extent.cx / 2);
    const int top = c.dy == 0 ? 50 : c.dy == 1 ? 50 - tm.tmAscent : 50 - tm.tmHeight;
    EXPECT_EQ(box.top, top);
    EXPECT_EQ(box.bottom - box.top, extent.cy);
  }
}

TEST(GdiTextOut, WhiteOnBlackGivesCoverageAsGreyAndClipsAtTheEdges) {
  Canvas canvas(60, 30, 0);
  SelectedFont selected(canvas.dc(), Font(-24, FW_BOLD, "Arial"));
  SetBkColor(canvas.dc(), 0);
  SetTextColor(canvas.dc(), RGB(255, 255, 255));
  // Mostly outside on every side: must not write out of the bitmap.
  EXPECT_TRUE(TextOutA(canvas.dc(), -30, -10, "OOOO", 4));
  EXPECT_TRUE(TextOutA(canvas.dc(), 50, 20, "OOOO", 4));
  EXPECT_TRUE(TextOutA(canvas.dc(), 1000000, 1000000, "O", 1));
  EXPECT_TRUE(TextOutA(canvas.dc(), -2000000000, 0, "O", 1));
  bool full = false, partial = false;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      COLORREF c = canvas.At(x, y);
      ASSERT_EQ(GetRValue(c), GetGValue(c));
      ASSERT_EQ(GetGValue(c), GetBValue(c));
      full |= GetRValue(c) == 255;
      partial |= GetRValue(c) > 0 && GetRValue(c) < 255;
    }
  EXPECT_TRUE(full);
  EXPECT_TRUE(partial) << "edges are antialiased";
  EXPECT_FALSE(TextOutA(canvas.dc(), 0, 0, "x", -1));
  EXPECT_TRUE(TextOutA(canvas.dc(), 0, 0, nullptr, 0));
  EXPECT_FALSE(TextOutA(nullptr, 0, 0, "x", 1));
}

TEST(GdiTextOut, DeletedSelectedFontKeepsDrawingUntilReplaced) {
  Canvas canvas(80, 40, 0);
  HFONT font = Font(-20, FW_NORMAL, "Arial");
  HGDIOBJ previous = SelectObject(canvas.dc(), font);
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_EQ(GetObjectType(font), 0u) << "the handle is dead";
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(canvas.dc(), &tm));
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 20) << "the context still draws with it";
  SetTextColor(canvas.dc(), RGB(255, 255, 255));
  EXPECT_TRUE(TextOutA(canvas.dc(), 0, 0, "A", 1));
  SelectObject(canvas.dc(), previous);
}

}  // namespace
