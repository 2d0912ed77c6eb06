// GDI bitmaps and contexts: DIB section layout, GetObjectA, selection rules, GetDIBits, stock
// objects, display contexts and batching.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "automation.h"
#include "windows.h"

namespace {

BITMAPINFO Info(LONG width, LONG height, WORD bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

struct Dib {
  HBITMAP bitmap = nullptr;
  uint8_t* bits = nullptr;
  Dib(LONG width, LONG height, WORD bpp) {
    BITMAPINFO info = Info(width, height, bpp);
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = static_cast<uint8_t*>(p);
  }
  ~Dib() {
    if (bitmap) DeleteObject(bitmap);
  }
};

// A memory context holding a bitmap for the scope of a test.
struct MemoryDc {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = nullptr;
  explicit MemoryDc(HBITMAP bitmap) { previous = SelectObject(dc, bitmap); }
  ~MemoryDc() {
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
};

void FillLine(HDC dc, int y, int width, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {0, y, width, y + 1};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

TEST(GdiDibSection, BottomUpRowsPaddedStrideZeroedMemory) {
  for (WORD bpp : {WORD{24}, WORD{32}}) {
    SCOPED_TRACE(bpp);
    Dib dib(5, 3, bpp);
    ASSERT_NE(dib.bitmap, nullptr);
    ASSERT_NE(dib.bits, nullptr);
    const int stride = bpp == 24 ? 16 : 20;  // 15 bytes padded to 16; 20 already aligned
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(dib.bitmap, sizeof ds, &ds), static_cast<int>(sizeof(DIBSECTION)));
    EXPECT_EQ(ds.dsBm.bmWidth, 5);
    EXPECT_EQ(ds.dsBm.bmHeight, 3);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, stride);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, bpp);
    EXPECT_EQ(ds.dsBm.bmBits, dib.bits);
    EXPECT_EQ(ds.dsBmih.biHeight, 3);
    EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(stride * 3));
    for (int i = 0; i < stride * 3; ++i) ASSERT_EQ(dib.bits[i], 0) << i;

    // The top line of the picture is the last row in memory; blue, green, red byte order.
    MemoryDc mem(dib.bitmap);
    FillLine(mem.dc, 0, 5, RGB(0x11, 0x22, 0x33));
    const uint8_t* top = dib.bits + 2 * stride;
    EXPECT_EQ(top[0], 0x33);
    EXPECT_EQ(top[1], 0x22);
    EXPECT_EQ(top[2], 0x11);
    EXPECT_EQ(top[(5 - 1) * (bpp / 8) + 2], 0x11);
    for (int i = 0; i < 2 * stride; ++i) ASSERT_EQ(dib.bits[i], 0) << "lower rows untouched";
    if (bpp == 24) {
      EXPECT_EQ(top[15], 0) << "padding byte untouched";
    }
    EXPECT_EQ(GetPixel(mem.dc, 4, 0), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(GetPixel(mem.dc, 4, 1), 0u);
  }
}

TEST(GdiDibSection, NegativeHeightIsTopDownAndBitmapFormsAreDescribed) {
  Dib dib(4, -2, 24);
  ASSERT_NE(dib.bitmap, nullptr);
  {
    MemoryDc mem(dib.bitmap);
    FillLine(mem.dc, 0, 4, RGB(9, 8, 7));
  }
  EXPECT_EQ(dib.bits[0], 7);  // first row in memory is the top line
  EXPECT_EQ(dib.bits[2], 9);

  BITMAP bm{};
  EXPECT_EQ(GetObjectA(dib.bitmap, sizeof bm, &bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(GetObjectA(dib.bitmap, 3, &bm), 0) << "buffer too small";
  EXPECT_EQ(GetObjectA(nullptr, sizeof bm, &bm), 0);
  EXPECT_EQ(GetObjectType(dib.bitmap), static_cast<DWORD>(OBJ_BITMAP));
}

TEST(GdiDibSection, UnsupportedRequestsAndInjectedFaultFail) {
  void* bits = reinterpret_cast<void*>(1);
  BITMAPINFO info = Info(4, 4, 16);
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr) << "failure clears the bits pointer";
  info = Info(0, 4, 24);
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  info = Info(4, 0, 24);
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  info = Info(4, 4, 24);
  info.bmiHeader.biCompression = BI_BITFIELDS;
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  info = Info(1 << 30, 1 << 30, 32);  // far beyond any allocation
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);

  info = Info(4, 4, 24);
  AutomationSetFault(AutomationFault::CreateDIBSection, true);
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  AutomationSetFault(AutomationFault::CreateDIBSection, false);
  HBITMAP ok = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  EXPECT_NE(ok, nullptr);
  DeleteObject(ok);
}

TEST(GdiContexts, SelectionRulesAndDeletion) {
  Dib dib(8, 8, 24);
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(first);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_MEMDC));

  HGDIOBJ original = SelectObject(first, dib.bitmap);
  ASSERT_NE(original, nullptr) << "a memory context starts with a default bitmap";
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(original, sizeof bm, &bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(GetCurrentObject(first, OBJ_BITMAP), dib.bitmap);
  EXPECT_EQ(SelectObject(second, dib.bitmap), nullptr) << "a bitmap lives in one context";

  // Deleting a selected bitmap kills its handle at once but keeps its memory for the context.
  HBITMAP doomed = nullptr;
  {
    Dib other(2, 2, 32);
    doomed = other.bitmap;
    ASSERT_NE(SelectObject(second, doomed), nullptr);
    EXPECT_TRUE(DeleteObject(doomed));
    other.bitmap = nullptr;
  }
  EXPECT_EQ(GetObjectType(doomed), 0u);
  RECT all = {0, 0, 2, 2};
  EXPECT_EQ(FillRect(second, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 1);
  EXPECT_TRUE(DeleteDC(second));
  EXPECT_FALSE(DeleteDC(second)) << "a deleted context is refused";
  EXPECT_EQ(SelectObject(second, GetStockObject(BLACK_BRUSH)), nullptr);

  EXPECT_EQ(SelectObject(first, original), dib.bitmap);
  EXPECT_TRUE(DeleteDC(first));
  EXPECT_FALSE(DeleteObject(first)) << "contexts are deleted with DeleteDC";
  EXPECT_EQ(SelectObject(nullptr, dib.bitmap), nullptr);
  EXPECT_EQ(FillRect(nullptr, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 0);
}

TEST(GdiContexts, StockObjectsBrushesAndFill) {
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetObjectType(GetStockObject(WHITE_BRUSH)), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetObjectType(GetStockObject(NULL_BRUSH)), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_PEN)), static_cast<DWORD>(OBJ_PEN));
  EXPECT_EQ(GetObjectType(GetStockObject(SYSTEM_FONT)), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(GetObjectType(GetStockObject(DEFAULT_GUI_FONT)), static_cast<DWORD>(OBJ_FONT));
  EXPECT_EQ(GetStockObject(-1), nullptr);
  EXPECT_EQ(GetStockObject(999), nullptr);
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), static_cast<DWORD>(OBJ_BRUSH))
      << "stock objects survive DeleteObject";

  Dib dib(6, 4, 32);
  MemoryDc mem(dib.bitmap);
  RECT all = {-10, -10, 100, 100};  // clipped to the bitmap
  EXPECT_EQ(FillRect(mem.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 1);
  RECT inner = {1, 1, 3, 2};
  EXPECT_EQ(FillRect(mem.dc, &inner, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))), 1);
  EXPECT_EQ(FillRect(mem.dc, &inner, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 1);
  EXPECT_EQ(GetPixel(mem.dc, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(GetPixel(mem.dc, 1, 1), 0x808080u);
  EXPECT_EQ(GetPixel(mem.dc, 2, 1), 0x808080u);
  EXPECT_EQ(GetPixel(mem.dc, 3, 1), 0xFFFFFFu);
  EXPECT_EQ(GetPixel(mem.dc, 1, 2), 0xFFFFFFu);
  EXPECT_EQ(GetPixel(mem.dc, 6, 0), CLR_INVALID);
}

TEST(GdiContexts, DisplayContextsCapsAndBatching) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(display, LOGPIXELSX), 96);
  EXPECT_GT(GetDeviceCaps(display, HORZRES), 0);
  EXPECT_GT(GetDeviceCaps(display, VERTRES), 0);
  EXPECT_TRUE(DeleteDC(display));
  EXPECT_EQ(CreateDCA("WINSPOOL", "Some Printer", nullptr, nullptr), nullptr);
  EXPECT_EQ(GetDeviceCaps(nullptr, LOGPIXELSY), 0);

  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  // Drawing on a context without pixel memory is harmless.
  EXPECT_TRUE(TextOutA(screen, 0, 0, "x", 1));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);

  const DWORD start = GdiSetBatchLimit(1);
  EXPECT_GE(start, 1u);
  EXPECT_EQ(GdiSetBatchLimit(7), 1u);
  EXPECT_EQ(GdiSetBatchLimit(start), 7u);
  EXPECT_TRUE(GdiFlush());
}

// A 3 x 4 24-bit bitmap whose every line has its own colour: line y (from the top) is
// RGB(10 * y + 1, 10 * y + 2, 10 * y + 3).
struct Striped {
  Dib dib{3, 4, 24};
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = nullptr;
  Striped() {
    previous = SelectObject(dc, dib.bitmap);
    for (int y = 0; y < 4; ++y) FillLine(dc, y, 3, RGB(10 * y + 1, 10 * y + 2, 10 * y + 3));
  }
  ~Striped() {
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
};

void ExpectLine(const uint8_t* row, int y) {
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(row[4 * x + 0], 10 * y + 3) << "blue of line " << y;
    EXPECT_EQ(row[4 * x + 1], 10 * y + 2);
    EXPECT_EQ(row[4 * x + 2], 10 * y + 1);
    EXPECT_EQ(row[4 * x + 3], 0) << "fourth byte";
  }
}

TEST(GdiGetDIBits, RowOrderFollowsTheSignOfTheRequestedHeight) {
  Striped s;
  std::vector<uint8_t> out(3 * 4 * 4, 0xAA);

  BITMAPINFO bottomUp = Info(3, 4, 32);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 0, 4, out.data(), &bottomUp, DIB_RGB_COLORS), 4);
  for (int i = 0; i < 4; ++i) ExpectLine(out.data() + 12 * i, 3 - i);

  std::fill(out.begin(), out.end(), 0xAA);
  BITMAPINFO topDown = Info(3, -4, 32);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 0, 4, out.data(), &topDown, DIB_RGB_COLORS), 4);
  for (int i = 0; i < 4; ++i) ExpectLine(out.data() + 12 * i, i);
}

TEST(GdiGetDIBits, PartialScansDescriptionsAndFailures) {
  Striped s;
  std::vector<uint8_t> out(3 * 4 * 4 + 16, 0xAA);
  BITMAPINFO bottomUp = Info(3, 4, 32);
  // Scans 1 and 2 from the bottom are lines 2 and 1 from the top; more lines than remain are cut.
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 1, 2, out.data(), &bottomUp, DIB_RGB_COLORS), 2);
  ExpectLine(out.data(), 2);
  ExpectLine(out.data() + 12, 1);
  EXPECT_EQ(out[24], 0xAA) << "nothing written past the lines asked for";
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 3, 10, out.data(), &bottomUp, DIB_RGB_COLORS), 1);
  ExpectLine(out.data(), 0);

  BITMAPINFO describe{};
  describe.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  EXPECT_NE(GetDIBits(s.dc, s.dib.bitmap, 0, 4, nullptr, &describe, DIB_RGB_COLORS), 0);
  EXPECT_EQ(describe.bmiHeader.biWidth, 3);
  EXPECT_EQ(describe.bmiHeader.biHeight, 4);
  EXPECT_EQ(describe.bmiHeader.biBitCount, 24);

  EXPECT_EQ(GetDIBits(nullptr, s.dib.bitmap, 0, 4, out.data(), &bottomUp, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(s.dc, nullptr, 0, 4, out.data(), &bottomUp, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 0, 4, out.data(), nullptr, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 4, 1, out.data(), &bottomUp, DIB_RGB_COLORS), 0);
  BITMAPINFO wrongWidth = Info(5, 4, 32);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 0, 4, out.data(), &wrongWidth, DIB_RGB_COLORS), 0);
  BITMAPINFO sixteen = Info(3, 4, 16);
  EXPECT_EQ(GetDIBits(s.dc, s.dib.bitmap, 0, 4, out.data(), &sixteen, DIB_RGB_COLORS), 0);
}

}  // namespace
