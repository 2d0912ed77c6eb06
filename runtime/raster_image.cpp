// Raster images held as GDI DIB sections, and the one open drawing on them.
#include "runtime/raster_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "runtime/object_table.h"
#include "runtime/runtime_font.h"
#include "runtime/runtime_internal.h"

namespace {

struct RasterImage {
  HBITMAP bitmap = nullptr;
  int16_t width = 0;
  int16_t height = 0;
  int depth = 24;
};

// The open drawing: the target's pixel memory, the colours split into components, the memory
// context holding the target, and the scratch bitmap that GDI draws text into.
struct Drawing {
  RasterImage* image = nullptr;
  uint8_t* pixels = nullptr;  // first row in memory = bottom line of the image
  int stride = 0;
  int width = 0;
  int height = 0;
  int bytes = 3;
  uint32_t front = 0;
  uint32_t back = 0xFF000000;
  int frontC[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  int backC[4] = {0, 0, 0, 255};
  int mode = kDrawOpaque;
  HDC dc = nullptr;
  HGDIOBJ dcPreviousBitmap = nullptr;
  DWORD savedBatchLimit = 0;
  HDC scratchDc = nullptr;
  HBITMAP scratch = nullptr;
  HGDIOBJ scratchPreviousBitmap = nullptr;
  HGDIOBJ scratchPreviousFont = nullptr;
  uint8_t* scratchBits = nullptr;
  int scratchStride = 0;
  int scratchHeight = 0;

  uint8_t* Pixel(int x, int y) const {
    return pixels + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * bytes;
  }
  bool AlphaWrites() const { return bytes == 4 && (mode & kDrawAlphaChannel); }
};

ObjectTable<RasterImage> g_images;

// Coverage of a scratch pixel from the sum of its three components: trunc(255 x s) with
// s = sum / 765 held in single precision, tabulated once for every possible sum.
const std::array<uint8_t, 766> kCoverageOfSum = [] {
  std::array<uint8_t, 766> table{};
  for (int sum = 0; sum <= 765; ++sum) {
    const float level = static_cast<float>(sum) / 765.0f;
    table[sum] = static_cast<uint8_t>(static_cast<int>(255.0f * level));
  }
  return table;
}();
std::unique_ptr<Drawing> g_drawing;

void Split(uint32_t colour, int* c) {
  c[0] = Red(colour);
  c[1] = Green(colour);
  c[2] = Blue(colour);
  c[3] = Alpha(colour);
}

void SetFront(Drawing& d, uint32_t colour) {
  if (colour != d.front) {
    d.front = colour;
    Split(colour, d.frontC);
  }
}

HBITMAP NewDib(int width, int height, int bpp, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bpp);
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

int ScratchHeightFor(HDC dc) {
  SIZE size{};
  if (!GetTextExtentPoint32A(dc, "Hg", 2, &size)) size.cy = 0;
  return std::max(50, static_cast<int>(size.cy) + 20);
}

// (Re)creates the scratch bitmap at the target's width and the given height.
bool MakeScratch(Drawing& d, int height) {
  void* bits = nullptr;
  HBITMAP scratch = NewDib(d.width, height, 24, &bits);
  if (!scratch) return false;
  HGDIOBJ previous = SelectObject(d.scratchDc, scratch);
  if (!previous) {
    DeleteObject(scratch);
    return false;
  }
  if (d.scratch)
    DeleteObject(d.scratch);
  else
    d.scratchPreviousBitmap = previous;
  d.scratch = scratch;
  d.scratchBits = static_cast<uint8_t*>(bits);
  d.scratchStride = ((d.width * 24 + 31) / 32) * 4;
  d.scratchHeight = height;
  return true;
}

void CloseDrawing() {
  if (!g_drawing) return;
  Drawing& d = *g_drawing;
  if (d.scratchDc) {
    if (d.scratchPreviousBitmap) SelectObject(d.scratchDc, d.scratchPreviousBitmap);
    if (d.scratchPreviousFont) SelectObject(d.scratchDc, d.scratchPreviousFont);
    DeleteDC(d.scratchDc);
  }
  if (d.scratch) DeleteObject(d.scratch);
  if (d.dc) {
    if (d.dcPreviousBitmap) SelectObject(d.dc, d.dcPreviousBitmap);
    DeleteDC(d.dc);
    GdiSetBatchLimit(d.savedBatchLimit);
  }
  g_drawing.reset();
}

void ReleaseImage(RasterImage* image) {
  if (!image) return;
  if (g_drawing && g_drawing->image == image) CloseDrawing();
  if (image->bitmap) DeleteObject(image->bitmap);
  g_images.Remove(image);
}

void WriteColour(const Drawing& d, uint8_t* p, const int* c) {
  p[0] = static_cast<uint8_t>(c[2]);
  p[1] = static_cast<uint8_t>(c[1]);
  p[2] = static_cast<uint8_t>(c[0]);
  if (d.AlphaWrites()) p[3] = static_cast<uint8_t>(c[3]);
}

void Span(const Drawing& d, int64_t y, int64_t x0, int64_t x1) {
  if (y < 0 || y >= d.height) return;
  x0 = std::max<int64_t>(x0, 0);
  x1 = std::min<int64_t>(x1, d.width - 1);
  for (int64_t x = x0; x <= x1; ++x)
    WriteColour(d, d.Pixel(static_cast<int>(x), static_cast<int>(y)), d.frontC);
}

}  // namespace

RuntimeId NewRasterImage(RuntimeId number, int width, int height, int depth) {
  if (!ObjectTable<RasterImage>::ValidNewId(number)) return 0;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return 0;
  const bool startTransparent = (depth & kImageStartTransparent) != 0;
  const int bpp = (depth & ~kImageStartTransparent) > 24 ? 32 : 24;

  if (number != kAnyObject) ReleaseImage(g_images.Find(number));
  RasterImage* image = g_images.Create(number);
  if (!image) return 0;
  void* bits = nullptr;
  image->bitmap = NewDib(width, height, bpp, &bits);
  if (!image->bitmap) {
    g_images.Remove(image);
    return 0;
  }
  if (bpp == 24) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = dc ? SelectObject(dc, image->bitmap) : nullptr;
    RECT all = {0, 0, width, height};
    if (previous) {
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      SelectObject(dc, previous);
    }
    if (dc) DeleteDC(dc);
  } else {
    const uint32_t clear = startTransparent ? 0u : 0xFF000000u;
    auto* pixel = static_cast<uint32_t*>(bits);
    std::fill(pixel, pixel + static_cast<size_t>(width) * height, clear);
  }
  image->width = static_cast<int16_t>(width);
  image->height = static_cast<int16_t>(height);
  image->depth = bpp;
  return number == kAnyObject ? reinterpret_cast<RuntimeId>(image)
                              : reinterpret_cast<RuntimeId>(image->bitmap);
}

void ReleaseRasterImage(RuntimeId image) {
  if (image == kAnyObject) return;
  ReleaseImage(g_images.Find(image));
}

int RasterImageWidth(RuntimeId image) {
  RasterImage* record = g_images.Find(image);
  return record ? record->width : 0;
}

int RasterImageHeight(RuntimeId image) {
  RasterImage* record = g_images.Find(image);
  return record ? record->height : 0;
}

int IsRasterImage(RuntimeId image) {
  return g_images.Find(image) != nullptr;
}

HBITMAP RasterImageBitmap(RuntimeId image) {
  RasterImage* record = g_images.Find(image);
  return record ? record->bitmap : nullptr;
}

HDC BeginImageDrawing(RuntimeId id) {
  if (g_drawing) return nullptr;  // one drawing at a time; the open one stays as it is
  RasterImage* image = g_images.Find(id);
  if (!image) return nullptr;
  DIBSECTION dib{};
  if (GetObjectA(image->bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits) return nullptr;

  g_drawing = std::make_unique<Drawing>();
  Drawing& d = *g_drawing;
  d.image = image;
  d.pixels = static_cast<uint8_t*>(dib.dsBm.bmBits);
  d.stride = dib.dsBm.bmWidthBytes;
  d.width = dib.dsBm.bmWidth;
  d.height = dib.dsBm.bmHeight;
  d.bytes = dib.dsBm.bmBitsPixel == 32 ? 4 : 3;
  d.back = 0xFF000000;
  Split(d.back, d.backC);
  Split(d.front, d.frontC);

  d.dc = CreateCompatibleDC(nullptr);
  d.dcPreviousBitmap = d.dc ? SelectObject(d.dc, image->bitmap) : nullptr;
  if (!d.dcPreviousBitmap) {
    CloseDrawing();
    return nullptr;
  }
  d.savedBatchLimit = GdiSetBatchLimit(1);

  d.scratchDc = CreateCompatibleDC(d.dc);
  if (!d.scratchDc) {
    CloseDrawing();
    return nullptr;
  }
  d.scratchPreviousFont = SelectObject(d.scratchDc, GetStockObject(SYSTEM_FONT));
  SetBkMode(d.scratchDc, OPAQUE);
  SetTextAlign(d.scratchDc, TA_LEFT | TA_TOP);
  SetBkColor(d.scratchDc, 0);
  SetTextColor(d.scratchDc, 0xFFFFFF);
  if (!MakeScratch(d, ScratchHeightFor(d.scratchDc))) {
    CloseDrawing();
    return nullptr;
  }
  return d.dc;
}

void EndDrawing() {
  CloseDrawing();
}

int DrawingIsOpen() {
  return g_drawing != nullptr;
}

int DrawingMode(int mode) {
  if (!g_drawing) return 0;
  int previous = g_drawing->mode;
  g_drawing->mode = mode & (kDrawTransparent | kDrawAlphaChannel);
  return previous;
}

uint32_t DrawingBackColour(uint32_t colour) {
  if (!g_drawing) return 0;
  uint32_t previous = g_drawing->back;
  g_drawing->back = colour;
  Split(colour, g_drawing->backC);
  return previous;
}

int SetDrawingFont(RuntimeId font) {
  if (!g_drawing) return 0;
  Drawing& d = *g_drawing;
  HFONT handle = FontHandle(font);
  if (!handle && GetObjectType(reinterpret_cast<HGDIOBJ>(font)) == OBJ_FONT)
    handle = reinterpret_cast<HFONT>(font);
  if (!handle || !SelectObject(d.scratchDc, handle)) return 0;
  const int needed = ScratchHeightFor(d.scratchDc);
  if (needed > d.scratchHeight) MakeScratch(d, needed);
  return 1;
}

int DrawString(int x, int y, const char* text, uint32_t front) {
  if (!g_drawing) return x;
  Drawing& d = *g_drawing;
  SetFront(d, front);
  if (!text || !*text) return x;
  const int length = static_cast<int>(std::min<size_t>(std::strlen(text), INT32_MAX));
  SIZE extent{};
  if (!GetTextExtentPoint32A(d.scratchDc, text, length, &extent)) return x;
  const int cx = extent.cx;
  const int cy = std::min<int>(extent.cy, d.scratchHeight);

  // Text goes to the scratch origin white on black, shifted left for a negative x so that the
  // scratch columns line up with the visible target columns. The opaque text output repaints
  // the whole cell, so whatever an earlier, overhanging text left there is gone.
  const int shift = x < 0 ? x : 0;
  TextOutA(d.scratchDc, shift, 0, text, length);

  const int64_t x0 = std::max<int64_t>(0, x), x1 = std::min<int64_t>(d.width, int64_t{x} + cx);
  const int64_t y0 = std::max<int64_t>(0, y), y1 = std::min<int64_t>(d.height, int64_t{y} + cy);
  const bool transparent = (d.mode & kDrawTransparent) != 0;
  const bool alpha = d.AlphaWrites();
  // In the opaque mode a pixel depends on its coverage alone: one blend per coverage level.
  uint8_t opaque[256][4];
  if (!transparent)
    for (int c = 0; c < 256; ++c)
      for (int k = 0; k < 4; ++k)
        opaque[c][k] = static_cast<uint8_t>((d.backC[k] * (255 - c) + d.frontC[k] * c) / 255);
  for (int64_t ty = y0; ty < y1; ++ty) {
    const int64_t sy = ty - y;
    // Scratch rows are bottom-up too.
    const uint8_t* s = d.scratchBits +
                       static_cast<size_t>(d.scratchHeight - 1 - sy) * d.scratchStride +
                       (x0 - x + shift) * 3;
    uint8_t* p = d.Pixel(static_cast<int>(x0), static_cast<int>(ty));
    for (int64_t tx = x0; tx < x1; ++tx, s += 3, p += d.bytes) {
      const int c = kCoverageOfSum[s[0] + s[1] + s[2]];
      if (!transparent) {
        // Target bytes are blue, green, red, alpha; components red, green, blue, alpha.
        p[0] = opaque[c][2];
        p[1] = opaque[c][1];
        p[2] = opaque[c][0];
        if (alpha) p[3] = opaque[c][3];
      } else {
        p[0] = static_cast<uint8_t>((d.frontC[2] * c + p[0] * (255 - c)) / 255);
        p[1] = static_cast<uint8_t>((d.frontC[1] * c + p[1] * (255 - c)) / 255);
        p[2] = static_cast<uint8_t>((d.frontC[0] * c + p[2] * (255 - c)) / 255);
        if (alpha) p[3] = static_cast<uint8_t>((d.frontC[3] * c + p[3] * (255 - c)) / 255);
      }
    }
  }
  return static_cast<int>(std::clamp<int64_t>(int64_t{x} + cx, INT32_MIN, INT32_MAX));
}

void FillCircle(int x, int y, int r, uint32_t colour) {
  if (!g_drawing) return;
  Drawing& d = *g_drawing;
  SetFront(d, colour);
  if (r < 0) return;
  const int64_t cx = x, cy = y, radius = r;
  if (r > 700) {
    // Large circles: each visible row's half-width straight from the circle equation.
    const int64_t top = std::max<int64_t>(0, cy - radius),
                  bottom = std::min<int64_t>(d.height - 1, cy + radius);
    for (int64_t row = top; row <= bottom; ++row) {
      const double dy = static_cast<double>(row - cy);
      const auto half =
          static_cast<int64_t>(std::sqrt(static_cast<double>(radius * radius) - dy * dy) + 0.5);
      Span(d, row, cx - half, cx + half);
    }
    return;
  }
  // Midpoint ellipse with both radii r. The half-width of each row is the largest x the outline
  // reaches on it; the upper and lower rows are written first, moving inwards, and the flat
  // sides (second region, one step per row) finish the middle rows.
  const int64_t a2 = radius * radius, b2 = radius * radius;
  int64_t px = 0, py = radius;
  // Region 1, doubled by 4 to keep the decision variable integral: d1 = 4b2 - 4a2*b + a2.
  int64_t d1 = 4 * b2 - 4 * a2 * radius + a2;
  int64_t dx = 0, dy = 2 * a2 * py;
  while (dx < dy) {
    const int64_t rowY = py;
    int64_t half = px;
    if (d1 < 0) {
      ++px;
      dx += 2 * b2;
      d1 += 4 * (dx + b2);
      continue;  // same row, wider
    }
    ++px;
    --py;
    dx += 2 * b2;
    dy -= 2 * a2;
    d1 += 4 * (dx - dy + b2);
    Span(d, cy - rowY, cx - half, cx + half);
    if (rowY != 0) Span(d, cy + rowY, cx - half, cx + half);
  }
  // Region 2, doubled by 4: d2 = b2(2x+1)^2 + 4a2(y-1)^2 - 4a2b2.
  int64_t d2 = b2 * (2 * px + 1) * (2 * px + 1) + 4 * a2 * (py - 1) * (py - 1) - 4 * a2 * b2;
  while (py >= 0) {
    Span(d, cy - py, cx - px, cx + px);
    if (py != 0) Span(d, cy + py, cx - px, cx + px);
    --py;
    dy -= 2 * a2;
    if (d2 > 0) {
      d2 += 4 * (a2 - dy);
    } else {
      ++px;
      dx += 2 * b2;
      d2 += 4 * (dx - dy + a2);
    }
  }
}

uint32_t ReadPixel(int x, int y) {
  if (!g_drawing) return 0;
  const Drawing& d = *g_drawing;
  if (x < 0 || y < 0 || x >= d.width || y >= d.height) return 0;
  const uint8_t* p = d.Pixel(x, y);
  uint32_t colour = p[2] | (p[1] << 8) | (static_cast<uint32_t>(p[0]) << 16);
  if (d.AlphaWrites()) colour |= static_cast<uint32_t>(p[3]) << 24;
  return colour;
}

void PlotPixel(int x, int y, uint32_t colour) {
  if (!g_drawing) return;
  const Drawing& d = *g_drawing;
  if (x < 0 || y < 0 || x >= d.width || y >= d.height) return;
  int c[4];
  Split(colour, c);
  WriteColour(d, d.Pixel(x, y), c);
}

void ReleaseRuntimeObjects() {
  CloseDrawing();
  g_images.ForEach([](RasterImage* image) {
    if (image->bitmap) DeleteObject(image->bitmap);
  });
  g_images.Clear();
  ReleaseAllFonts();
}
