// Screen primitives: pixels, lines, circles and rectangles drawn by the CPU into the locked back
// buffer after every Direct3D pass of the frame; filled rectangles go through ColorFill.
#include "engine/scene/screen_primitive_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/core/engine_state.h"

namespace {

// Products of coordinates and radii near the int32 limits need more than 64 bits.
__extension__ using Wide = __int128;

// A locked surface with the colour as it is stored and the clip rectangle. Coordinates are 64-bit
// so that no command, however far off the screen, overflows on the way.
struct Canvas {
  uint8_t* base;
  int64_t bytesPerPixel;  // 4 or 2
  int64_t rowLength;      // pixels
  int64_t width;          // clip; never beyond the row
  int64_t height;
  uint32_t value;

  bool Inside(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  void Store(int64_t x, int64_t y) const {
    uint8_t* at = base + (x + y * rowLength) * bytesPerPixel;
    if (bytesPerPixel == 4) {
      std::memcpy(at, &value, 4);
    } else {
      const uint16_t packed = static_cast<uint16_t>(value);
      std::memcpy(at, &packed, 2);
    }
  }
  void Plot(int64_t x, int64_t y) const {
    if (Inside(x, y)) Store(x, y);
  }
};

Canvas MakeCanvas(void* base, uint32_t colour, int32_t bytesPerPixel, int32_t rowLength,
                  int32_t width, int32_t height) {
  Canvas canvas;
  canvas.base = static_cast<uint8_t*>(base);
  canvas.bytesPerPixel = bytesPerPixel == 4 ? 4 : 2;
  canvas.value = bytesPerPixel == 4 ? colour : PackR5G6B5(colour);
  canvas.rowLength = rowLength;
  canvas.width = base == nullptr ? 0 : std::min(width, rowLength);
  canvas.height = base == nullptr ? 0 : height;
  return canvas;
}

// Bresenham from (x1, y1) to (x2, y2). Every step advances the long axis by one, so only the
// steps whose long-axis coordinate lies inside the clip can plot; the walk starts at the first
// of them, with the state the full walk would have there, and ends after the last.
void Line(const Canvas& canvas, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t dx = x2 - x1, dy = y2 - y1;
  const int64_t sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
  const int64_t adx = std::abs(dx), ady = std::abs(dy);
  const bool xMajor = adx > ady;
  const int64_t longLength = xMajor ? adx : ady;
  const int64_t shortLength = xMajor ? ady : adx;
  const int64_t straightX = xMajor ? sx : 0, straightY = xMajor ? 0 : sy;
  const int64_t halfLong = longLength / 2;

  int64_t first = 0, last = longLength;
  if (longLength > 0) {
    const int64_t start = xMajor ? x1 : y1;
    const int64_t step = xMajor ? sx : sy;
    const int64_t limit = xMajor ? canvas.width : canvas.height;
    if (step > 0) {
      first = std::max(first, -start);
      last = std::min(last, limit - 1 - start);
    } else {
      first = std::max(first, start - limit + 1);
      last = std::min(last, start);
    }
  }
  if (first > last) return;

  // After k steps the error term stays in 0 .. long - 1, so the diagonal steps taken so far are
  // the fewest that bring halfLong - k * short back to it.
  const Wide behind = static_cast<Wide>(first) * shortLength - halfLong;
  const int64_t diagonals =
      behind > 0 ? static_cast<int64_t>((behind + longLength - 1) / longLength) : 0;
  int64_t error = static_cast<int64_t>(halfLong - static_cast<Wide>(first) * shortLength +
                                       static_cast<Wide>(diagonals) * longLength);
  int64_t x = x1 + sx * (xMajor ? first : diagonals);
  int64_t y = y1 + sy * (xMajor ? diagonals : first);
  canvas.Plot(x, y);
  for (int64_t k = first; k < last; ++k) {
    error -= shortLength;
    if (error < 0) {
      error += longLength;
      x += sx;
      y += sy;
    } else {
      x += straightX;
      y += straightY;
    }
    canvas.Plot(x, y);
  }
}

// The circle's y once the midpoint walk has reached x (x >= 1): the largest y with
// x^2 + y^2 - y < r^2. Holds while the walk never had to drop y by more than one, that is while
// y stayed at least x + 2 (the caller checks). Needs x < r.
int64_t CircleHeightAt(int64_t x, int64_t r) {
  const Wide room = static_cast<Wide>(r) * r - static_cast<Wide>(x) * x;
  int64_t y =
      static_cast<int64_t>(std::ceil(0.5L + std::sqrt(static_cast<long double>(room) + 0.25L))) - 1;
  auto fits = [room](int64_t v) { return static_cast<Wide>(v) * v - v < room; };
  while (fits(y + 1)) ++y;
  while (y > 0 && !fits(y)) --y;
  return y;
}

// Distances from a centre coordinate to the nearest and to the farthest pixel of 0 .. size - 1.
int64_t NearestDistance(int64_t c, int64_t size) {
  return c < 0 ? -c : (c >= size ? c - (size - 1) : 0);
}
int64_t FarthestDistance(int64_t c, int64_t size) {
  return std::max(std::abs(c), std::abs(c - (size - 1)));
}

void Circle(const Canvas& canvas, int64_t cx, int64_t cy, int64_t r) {
  canvas.Plot(cx, cy + r);
  canvas.Plot(cx, cy - r);
  canvas.Plot(cx + r, cy);
  canvas.Plot(cx - r, cy);
  // Every point of the walk lies within r of the centre on both axes.
  if (r <= 0 || cx + r < 0 || cx - r >= canvas.width || cy + r < 0 || cy - r >= canvas.height) {
    return;
  }
  // A point plotted at walk position x shows only when x reaches the nearest column or row of the
  // clip, and never once x is past the farthest (x exceeds y by at most one).
  const int64_t firstShown =
      std::min(NearestDistance(cx, canvas.width), NearestDistance(cy, canvas.height));
  const int64_t lastShown =
      std::min(FarthestDistance(cx, canvas.width), FarthestDistance(cy, canvas.height)) + 1;

  int64_t x = 0, y = r, f = 1 - r, ddx = 0, ddy = -2 * r;
  // Far-off centres of huge circles: start the walk where it first can show, from the closed
  // form of its state. The latest valid start is found by bisection when the first shown
  // position lies past it.
  int64_t start = firstShown - 1;
  if (start >= 1) {
    auto valid = [r](int64_t at) { return CircleHeightAt(at - 1, r) >= at + 1; };
    if (!valid(1)) {
      start = 0;
    } else if (!valid(start)) {
      int64_t good = 1, bad = start;
      while (bad - good > 1) {
        const int64_t middle = good + (bad - good) / 2;
        (valid(middle) ? good : bad) = middle;
      }
      start = good;
    }
    if (start >= 1) {
      x = start;
      y = CircleHeightAt(start, r);
      ddx = 2 * x;
      ddy = -2 * y;
      f = static_cast<int64_t>(static_cast<Wide>(x + 1) * (x + 1) + static_cast<Wide>(y) * y - y -
                               static_cast<Wide>(r) * r);
    }
  }

  while (x < y && x < lastShown) {
    if (f >= 0) {
      y -= 1;
      ddy += 2;
      f += ddy;
    }
    x += 1;
    ddx += 2;
    f += ddx + 1;
    canvas.Plot(cx + x, cy + y);
    canvas.Plot(cx - x, cy + y);
    canvas.Plot(cx + x, cy - y);
    canvas.Plot(cx - x, cy - y);
    canvas.Plot(cx + y, cy + x);
    canvas.Plot(cx - y, cy + x);
    canvas.Plot(cx + y, cy - x);
    canvas.Plot(cx - y, cy - x);
  }
}

// One row of the disc at step i: columns cx - half .. cx + half - 1, kept to 1 .. width - 1.
void DiscRow(const Canvas& canvas, int64_t cx, int64_t radius, int64_t i, int64_t row) {
  const double span = 2.0 * static_cast<double>(radius) * static_cast<double>(i) -
                      static_cast<double>(i) * static_cast<double>(i);
  const int64_t half = static_cast<int64_t>(std::floor(std::sqrt(span)));
  const int64_t from = std::max<int64_t>(cx - half, 1);
  const int64_t to = std::min<int64_t>(cx + half - 1, canvas.width - 1);
  for (int64_t x = from; x <= to; ++x) canvas.Store(x, row);
}

// Steps i = 1 .. radius - 1 each give row A = cy - radius + i (kept to rows 1 .. height - 1) and
// row B = cy + radius - i - 1 (kept while the row below it is in 1 .. height - 1). Only the steps
// whose row lies inside are visited.
void Disc(const Canvas& canvas, int64_t cx, int64_t cy, int64_t radius) {
  if (radius < 2 || canvas.width < 2 || canvas.height < 2) return;
  const int64_t aFirst = std::max<int64_t>(1, 1 - cy + radius);
  const int64_t aLast = std::min<int64_t>(radius - 1, canvas.height - 1 - cy + radius);
  for (int64_t i = aFirst; i <= aLast; ++i) DiscRow(canvas, cx, radius, i, cy - radius + i);
  const int64_t bFirst = std::max<int64_t>(1, cy + radius - canvas.height + 1);
  const int64_t bLast = std::min<int64_t>(radius - 1, cy + radius - 1);
  for (int64_t i = bFirst; i <= bLast; ++i) DiscRow(canvas, cx, radius, i, cy + radius - i - 1);
}

int32_t BytesPerPixel(D3DFORMAT format) {
  return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 || format == D3DFMT_A2R10G10B10 ? 4
                                                                                                : 2;
}

// Drops the commands from the start of the queue up to and including `last`.
void DropThrough(ObjectList<ScreenPrimitive>& queue, const ScreenPrimitive* last) {
  while (ScreenPrimitive* first = queue.First()) {
    queue.Remove();
    if (first == last) break;
  }
}

}  // namespace

uint16_t PackR5G6B5(uint32_t colour) {
  const uint32_t red = (colour >> 16) & 0xFF, green = (colour >> 8) & 0xFF, blue = colour & 0xFF;
  return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | blue >> 3);
}

void PlotScreenPixel(void* base, int32_t x, int32_t y, uint32_t colour, int32_t bytesPerPixel,
                     int32_t rowLength, int32_t width, int32_t height) {
  MakeCanvas(base, colour, bytesPerPixel, rowLength, width, height).Plot(x, y);
}

void DrawScreenLine(void* base, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                    int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height) {
  Line(MakeCanvas(base, colour, bytesPerPixel, rowLength, width, height), x1, y1, x2, y2);
}

void DrawScreenCircle(void* base, int32_t cx, int32_t cy, int32_t radius, uint32_t colour,
                      int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height) {
  Circle(MakeCanvas(base, colour, bytesPerPixel, rowLength, width, height), cx, cy, radius);
}

void FillScreenCircle(void* base, int32_t cx, int32_t cy, int32_t radius, uint32_t colour,
                      int32_t bytesPerPixel, int32_t rowLength, int32_t width, int32_t height) {
  Disc(MakeCanvas(base, colour, bytesPerPixel, rowLength, width, height), cx, cy, radius);
}

void DrawScreenPrimitives() {
  ObjectList<ScreenPrimitive>& queue = Engine.ScreenPrimitiveQueue;
  if (queue.Count() == 0) return;
  IDirect3DDevice9* device = Engine.Device;
  IDirect3DSurface9* backBuffer = nullptr;
  if (device == nullptr ||
      FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) ||
      backBuffer == nullptr) {
    queue.Clear();
    return;
  }
  D3DSURFACE_DESC description{};
  backBuffer->GetDesc(&description);
  const int32_t bytesPerPixel = BytesPerPixel(description.Format);
  D3DLOCKED_RECT locked{};
  if (FAILED(backBuffer->LockRect(&locked, nullptr, 0))) {
    backBuffer->Release();
    return;
  }
  const int32_t rowLength = locked.Pitch / bytesPerPixel;
  // The screen size can exceed the surface (a reset to other parameters, a mode change): writes
  // are kept to both.
  const int32_t width = static_cast<int32_t>(
      std::min<int64_t>(std::min<int64_t>(Engine.ScreenWidth, description.Width), rowLength));
  const int32_t height =
      static_cast<int32_t>(std::min<int64_t>(Engine.ScreenHeight, description.Height));
  void* base = locked.pBits;

  queue.Reset();
  while (ScreenPrimitive* command = queue.Next()) {
    const Canvas canvas =
        MakeCanvas(base, command->Colour, bytesPerPixel, rowLength, width, height);
    switch (command->Kind) {
      case 0:
        canvas.Plot(command->X1, command->Y1);
        break;
      case 1:
        Line(canvas, command->X1, command->Y1, command->X2, command->Y2);
        break;
      case 2:
        Circle(canvas, command->X1, command->Y1, command->X2);
        break;
      case 3:
        Disc(canvas, command->X1, command->Y1, command->X2);
        break;
      case 4:
        Line(canvas, command->X1, command->Y1, command->X2, command->Y1);
        Line(canvas, command->X1, command->Y1, command->X1, command->Y2);
        Line(canvas, command->X1, command->Y2, command->X2, command->Y2);
        Line(canvas, command->X2, command->Y1, command->X2, command->Y2);
        break;
      case 5: {
        // ColorFill needs the surface unlocked; a rectangle the device refuses stays undrawn.
        backBuffer->UnlockRect();
        const RECT area{command->X1, command->Y1, command->X2, command->Y2};
        device->ColorFill(backBuffer, &area, command->Colour);
        if (FAILED(backBuffer->LockRect(&locked, nullptr, 0))) {
          // What was drawn leaves the queue; the rest waits for a frame that can lock.
          DropThrough(queue, command);
          backBuffer->Release();
          return;
        }
        base = locked.pBits;
        break;
      }
      default:
        break;
    }
  }
  backBuffer->UnlockRect();
  backBuffer->Release();
  queue.Clear();
}
