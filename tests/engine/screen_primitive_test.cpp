// Screen primitives: the shapes drawn into the locked back buffer, their clipping, 16-bit
// packing, filled rectangles through the device, and the queue rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::EngineTest;
using engine_test::ReadBackBuffer;
using Points = std::set<std::pair<int, int>>;

constexpr uint32_t kWhite = 0xFFFFFFFF;

class ScreenPrimitiveTest : public EngineTest {
 protected:
  static void Queue(int32_t kind, int32_t x1, int32_t y1, int32_t x2 = 0, int32_t y2 = 0,
                    uint32_t colour = kWhite) {
    ObjectList<ScreenPrimitive>& queue = Engine.ScreenPrimitiveQueue;
    queue.Last();
    ScreenPrimitive* p = queue.Add();
    *p = ScreenPrimitive{x1, y1, x2, y2, kind, colour};
  }

  // Runs the frame (the pass is its last) and returns the back buffer as drawn.
  static BackBufferImage Frame() {
    RenderWorld();
    BackBufferImage image = ReadBackBuffer();
    Flip();
    return image;
  }

  // Every pixel of the image that is not black.
  static Points Lit(const BackBufferImage& image) {
    Points lit;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        if (image.At(x, y) != 0) lit.insert({x, y});
    return lit;
  }
};

// --- Shapes --------------------------------------------------------------------------------------

TEST_F(ScreenPrimitiveTest, LinesPlotBothEndsAndTheStepsBetween) {
  Queue(1, 0, 0, 5, 2);
  EXPECT_EQ(Lit(Frame()), (Points{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);

  Queue(1, 100, 100, 100, 100);
  EXPECT_EQ(Lit(Frame()), (Points{{100, 100}}));

  // Steep and backwards: y is the long axis, x steps on the diagonal moves.
  Queue(1, 12, 14, 10, 10);
  EXPECT_EQ(Lit(Frame()), (Points{{12, 14}, {12, 13}, {11, 12}, {11, 11}, {10, 10}}));
}

TEST_F(ScreenPrimitiveTest, CirclesOfRadiusZeroOneAndThree) {
  Queue(2, 50, 50, 0);
  EXPECT_EQ(Lit(Frame()), (Points{{50, 50}}));
  Queue(2, 50, 50, 1);
  EXPECT_EQ(Lit(Frame()), (Points{{50, 51}, {50, 49}, {51, 50}, {49, 50}}));
  Queue(2, 50, 50, 3);
  Points three;
  for (auto [dx, dy] : {std::pair{0, 3}, {3, 0}, {1, 3}, {3, 1}, {2, 2}})
    for (int sx : {-1, 1})
      for (int sy : {-1, 1}) three.insert({50 + sx * dx, 50 + sy * dy});
  EXPECT_EQ(Lit(Frame()), three);
}

TEST_F(ScreenPrimitiveTest, FilledCirclesOfRadiusOneAndTwo) {
  Queue(3, 50, 50, 1);
  EXPECT_TRUE(Lit(Frame()).empty());
  Queue(3, 50, 50, 2);
  EXPECT_EQ(Lit(Frame()), (Points{{49, 49}, {50, 49}, {49, 50}, {50, 50}}));
  // Radius 4: rows cy - 3 .. cy + 2, each one pixel shorter on the right.
  Queue(3, 50, 50, 4);
  const BackBufferImage image = Frame();
  EXPECT_EQ(Lit(image).size(), 4u + 6u + 6u + 6u + 6u + 4u);
  EXPECT_EQ(image.At(47, 50), 0xFFFFFFu);
  EXPECT_EQ(image.At(52, 50), 0xFFFFFFu);
  EXPECT_EQ(image.At(53, 50), 0u);
  EXPECT_EQ(image.At(50, 47), 0xFFFFFFu);
  EXPECT_EQ(image.At(50, 53), 0u);
}

TEST_F(ScreenPrimitiveTest, RectangleOutlinesAndUnknownKinds) {
  Queue(4, 10, 20, 14, 23);
  Queue(6, 30, 30, 40, 40);
  Queue(-1, 30, 30, 40, 40);
  const Points lit = Lit(Frame());
  EXPECT_EQ(lit.size(), 14u);  // a 5 x 4 outline
  EXPECT_TRUE(lit.count({10, 20}) && lit.count({14, 23}) && lit.count({14, 20}));
  EXPECT_FALSE(lit.count({12, 21}));
}

// --- Clipping ------------------------------------------------------------------------------------

TEST_F(ScreenPrimitiveTest, PixelsAreClippedAtEachEdge) {
  for (auto [x, y] : {std::pair{-1, 5}, {640, 5}, {5, -1}, {5, 640}}) Queue(0, x, y);
  EXPECT_TRUE(Lit(Frame()).empty());
  for (auto [x, y] : {std::pair{0, 5}, {639, 5}, {5, 0}, {5, 639}}) Queue(0, x, y);
  EXPECT_EQ(Lit(Frame()), (Points{{0, 5}, {639, 5}, {5, 0}, {5, 639}}));
}

TEST_F(ScreenPrimitiveTest, ShapesCrossingTheEdgesKeepTheirInsidePart) {
  Queue(1, -10, 3, 649, 3);  // across the whole width
  Queue(2, 0, 0, 10);        // a quarter circle in the corner
  Queue(3, 639, 320, 20);    // a disc on the right edge
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.Count(0, 3, 640, 4, 0xFFFFFFu), 640);
  EXPECT_EQ(image.At(10, 0), 0xFFFFFFu);
  EXPECT_EQ(image.At(0, 10), 0xFFFFFFu);
  EXPECT_EQ(image.At(639, 320), 0xFFFFFFu);
  EXPECT_EQ(image.At(620, 320), 0xFFFFFFu);

  // Filled discs keep off column 0 and off the first row above their centre's half.
  Queue(3, 0, 0, 20);
  const BackBufferImage corner = Frame();
  EXPECT_EQ(corner.Count(0, 0, 1, 640, 0xFFFFFFu), 0) << "column 0";
  EXPECT_EQ(corner.Count(0, 0, 640, 1, 0xFFFFFFu), 18) << "row 0 from the lower half only";
  EXPECT_EQ(corner.At(1, 1), 0xFFFFFFu);
}

// The screen may be larger than the surface (after a reset to other parameters): writes stay on
// the surface, and nothing wraps into the next row.
TEST_F(ScreenPrimitiveTest, ClippedToTheSurfaceWhenTheScreenIsLarger) {
  Engine.ScreenWidth = 2000;
  Engine.ScreenHeight = 1500;
  Queue(0, 700, 10);
  Queue(0, 10, 700);
  Queue(1, 600, 600, 1900, 1400);
  Queue(2, 320, 320, 900);
  Queue(0, 639, 639);
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.At(60, 11), 0u) << "x = 700 wrapped into the next row";
  EXPECT_EQ(image.At(639, 639), 0xFFFFFFu);
  // A disc larger than the surface fills columns 1..639 of rows 1..638.
  Queue(3, 320, 320, 1200);
  const BackBufferImage disc = Frame();
  EXPECT_EQ(disc.Count(0, 0, 640, 640, 0xFFFFFFu), 638 * 639);
  EXPECT_EQ(disc.At(0, 320), 0u);
  EXPECT_EQ(disc.At(320, 639), 0u);

  // A screen smaller than the surface clips to the screen.
  Engine.ScreenWidth = 100;
  Engine.ScreenHeight = 100;
  Queue(0, 99, 99);
  Queue(0, 100, 50);
  Queue(1, 0, 120, 300, 120);
  EXPECT_EQ(Lit(Frame()), (Points{{99, 99}}));
}

// Huge coordinates cost no more than the pixels they can reach.
TEST_F(ScreenPrimitiveTest, ExtremeCoordinatesFinishQuickly) {
  const auto start = std::chrono::steady_clock::now();
  Queue(1, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  Queue(2, -1500000000, -1500000000, 2100000000);
  Queue(2, 320, INT32_MIN, INT32_MAX);
  Queue(3, 320, 320, INT32_MAX);
  Queue(4, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  const BackBufferImage image = Frame();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(image.At(100, 100), 0xFFFFFFu) << "the diagonal through the screen";
}

// --- The back buffer -----------------------------------------------------------------------------

TEST(PackR5G6B5, TopBitsOfEachChannel) {
  EXPECT_EQ(PackR5G6B5(0xFFFF0000), 0xF800);
  EXPECT_EQ(PackR5G6B5(0xFFFFFFFF), 0xFFFF);
  EXPECT_EQ(PackR5G6B5(0x0000FF00), 0x07E0);
  EXPECT_EQ(PackR5G6B5(0x000000FF), 0x001F);
  EXPECT_EQ(PackR5G6B5(0x12080408), 0x0821);
}

TEST_F(ScreenPrimitiveTest, SixteenBitBackBufferGetsPackedColours) {
  Engine.PresentParameters.BackBufferFormat = D3DFMT_R5G6B5;
  ResetDevice(5);
  ASSERT_EQ(Engine.PresentResult, 0);
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface), D3D_OK);
  D3DSURFACE_DESC desc{};
  surface->GetDesc(&desc);
  surface->Release();
  ASSERT_EQ(desc.Format, D3DFMT_R5G6B5);

  Queue(0, 10, 10, 0, 0, 0xFFFF0000);
  Queue(0, 11, 10, 0, 0, 0xFFFFFFFF);
  Queue(1, 0, 20, 639, 20, 0xFF00FF00);
  Queue(5, 600, 600, 640, 640, 0xFF0000FF);
  Queue(0, 639, 639, 0, 0, 0xFFFFFFFF);
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.At(10, 10), 0xF800u);
  EXPECT_EQ(image.At(11, 10), 0xFFFFu);
  EXPECT_EQ(image.At(12, 10), 0u);
  EXPECT_EQ(image.Count(0, 20, 640, 21, 0x07E0u), 640);
  EXPECT_EQ(image.At(600, 600), 0x001Fu);
  EXPECT_EQ(image.At(639, 639), 0xFFFFu);
}

TEST_F(ScreenPrimitiveTest, FilledRectanglesGoThroughTheDeviceBetweenCpuWrites) {
  Queue(0, 10, 10, 0, 0, 0xFFFF0000);
  Queue(5, 5, 5, 20, 20, 0xFF00FF00);  // right and bottom exclusive
  Queue(0, 12, 12, 0, 0, 0xFF0000FF);
  Queue(5, 630, 630, 700, 700, 0xFFFFFFFF);  // reaches outside: refused, the pass goes on
  Queue(0, 30, 30, 0, 0, 0xFFFFFF00);
  const BackBufferImage image = Frame();
  EXPECT_EQ(image.At(10, 10), 0x00FF00u) << "the fill came after the pixel";
  EXPECT_EQ(image.At(12, 12), 0x0000FFu) << "the pixel came after the fill";
  EXPECT_EQ(image.At(5, 5), 0x00FF00u);
  EXPECT_EQ(image.At(19, 19), 0x00FF00u);
  EXPECT_EQ(image.At(20, 20), 0u);
  EXPECT_EQ(image.At(635, 635), 0u);
  EXPECT_EQ(image.At(30, 30), 0xFFFF00u);
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);
}

// --- The queue -----------------------------------------------------------------------------------

TEST_F(ScreenPrimitiveTest, QueueIsKeptWhileTheBackBufferIsLocked) {
  Queue(0, 10, 10);
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(Engine.Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface), D3D_OK);
  D3DLOCKED_RECT held{};
  ASSERT_EQ(surface->LockRect(&held, nullptr, 0), D3D_OK);
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  DrawScreenPrimitives();
  Engine.Device->EndScene();
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 1);
  surface->UnlockRect();
  surface->Release();
  EXPECT_EQ(Frame().At(10, 10), 0xFFFFFFu);
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);
}

TEST_F(ScreenPrimitiveTest, QueueIsDroppedWithoutABackBuffer) {
  Queue(0, 10, 10);
  Queue(1, 0, 0, 9, 9);
  IDirect3DDevice9* device = Engine.Device;
  Engine.Device = nullptr;
  DrawScreenPrimitives();
  Engine.Device = device;
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);
  EXPECT_TRUE(Lit(Frame()).empty());
}

// Commands queued while the device is lost wait for the first frame after recovery.
TEST_F(ScreenPrimitiveTest, QueueWaitsThroughALostDevice) {
  AutomationLoseDevice(Engine.Device);
  RenderWorld();
  Flip();
  ASSERT_NE(Engine.PresentResult, 0);
  Queue(0, 7, 7);
  RenderWorld();
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 1);
  AutomationMakeDeviceResettable(Engine.Device);
  Flip();
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_EQ(Frame().At(7, 7), 0xFFFFFFu);
}

// --- The drawing operations on memory of their own -----------------------------------------------

// The shapes as plainly written, plotting through one clip test per point: what the pass's
// walks, which start and stop where the clip allows, must reproduce pixel for pixel.
struct Reference {
  std::vector<uint32_t>& pixels;
  int width, height;
  uint32_t colour;
  void Plot(int64_t x, int64_t y) {
    if (x >= 0 && y >= 0 && x < width && y < height)
      pixels[static_cast<size_t>(y * width + x)] = colour;
  }
  void Line(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    const int64_t dx = x2 - x1, dy = y2 - y1, adx = std::llabs(dx), ady = std::llabs(dy);
    const int64_t sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    const bool xMajor = adx > ady;
    const int64_t longer = xMajor ? adx : ady, shorter = xMajor ? ady : adx;
    int64_t x = x1, y = y1, error = longer / 2;
    Plot(x, y);
    for (int64_t i = 0; i < longer; ++i) {
      error -= shorter;
      if (error < 0) {
        error += longer;
        x += sx;
        y += sy;
      } else {
        x += xMajor ? sx : 0;
        y += xMajor ? 0 : sy;
      }
      Plot(x, y);
    }
  }
  void Circle(int64_t cx, int64_t cy, int64_t r) {
    Plot(cx, cy + r);
    Plot(cx, cy - r);
    Plot(cx + r, cy);
    Plot(cx - r, cy);
    int64_t f = 1 - r, ddx = 0, ddy = -2 * r, x = 0, y = r;
    while (x < y) {
      if (f >= 0) {
        --y;
        ddy += 2;
        f += ddy;
      }
      ++x;
      ddx += 2;
      f += ddx + 1;
      for (auto [px, py] : {std::pair{cx + x, cy + y},
                            {cx - x, cy + y},
                            {cx + x, cy - y},
                            {cx - x, cy - y},
                            {cx + y, cy + x},
                            {cx - y, cy + x},
                            {cx + y, cy - x},
                            {cx - y, cy - x}})
        Plot(px, py);
    }
  }
  void Disc(int64_t cx, int64_t cy, int64_t r) {
    for (int64_t i = 1; i <= r - 1; ++i) {
      const auto half = static_cast<int64_t>(std::floor(std::sqrt(2.0 * r * i - 1.0 * i * i)));
      for (int64_t x = cx - half; x <= cx + half - 1; ++x) {
        if (x < 1 || x >= width) continue;
        const int64_t a = cy - r + i, b = cy + r - i - 1;
        if (a >= 1 && a < height) pixels[static_cast<size_t>(a * width + x)] = colour;
        if (cy + r - i >= 1 && cy + r - i < height)
          pixels[static_cast<size_t>(b * width + x)] = colour;
      }
    }
  }
};

TEST(ScreenPrimitiveShapes, ClippedWalksMatchTheFullWalks) {
  constexpr int kWidth = 48, kHeight = 40;
  std::mt19937 random(17);
  auto coordinate = [&](int spread) {
    return static_cast<int32_t>(static_cast<int>(random() % (2 * spread + 1)) - spread + 20);
  };
  int differing = 0, drawn = 0;
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint32_t> expected(kWidth * kHeight), actual(kWidth * kHeight);
    Reference reference{expected, kWidth, kHeight, 0xFFFFFFFF};
    const int spread = round % 3 == 0 ? 400 : 60;
    const int32_t x1 = coordinate(spread), y1 = coordinate(spread);
    const int kind = round % 3;
    if (kind == 0) {
      const int32_t x2 = coordinate(spread), y2 = coordinate(spread);
      reference.Line(x1, y1, x2, y2);
      DrawScreenLine(actual.data(), x1, y1, x2, y2, 0xFFFFFFFF, 4, kWidth, kWidth, kHeight);
    } else if (kind == 1) {
      // Radii up to 30000 around centres far off the canvas start their walk late.
      const bool huge = round % 4 == 1;
      const int32_t r = static_cast<int32_t>(random() % (huge ? 30000 : 120));
      const int32_t cx = huge ? coordinate(20000) : x1;
      const int32_t cy = huge ? coordinate(20000) : y1;
      reference.Circle(cx, cy, r);
      DrawScreenCircle(actual.data(), cx, cy, r, 0xFFFFFFFF, 4, kWidth, kWidth, kHeight);
    } else {
      const auto r = static_cast<int32_t>(random() % 200);
      reference.Disc(x1, y1, r);
      FillScreenCircle(actual.data(), x1, y1, r, 0xFFFFFFFF, 4, kWidth, kWidth, kHeight);
    }
    differing += actual != expected;
    drawn += actual != std::vector<uint32_t>(kWidth * kHeight);
  }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(drawn, 1500);  // many shapes reach the canvas
}

TEST(ScreenPrimitiveShapes, SixteenBitStoresAndTheRowLength) {
  // Rows of 10 pixels of which 8 are the clip; the row length bounds even a wider clip.
  std::vector<uint16_t> surface(10 * 4, 0);
  PlotScreenPixel(surface.data(), 7, 1, 0xFFFF0000, 2, 10, 8, 4);
  PlotScreenPixel(surface.data(), 8, 1, 0xFFFF0000, 2, 10, 8, 4);
  PlotScreenPixel(surface.data(), 12, 0, 0xFFFFFFFF, 2, 10, 50, 4);
  PlotScreenPixel(nullptr, 1, 1, 0xFFFFFFFF, 2, 10, 8, 4);
  EXPECT_EQ(surface[1 * 10 + 7], 0xF800);
  EXPECT_EQ(surface[1 * 10 + 8], 0);
  EXPECT_EQ(surface[1 * 10 + 2], 0) << "x = 12 must not wrap into row 1";
  DrawScreenLine(surface.data(), -5, 3, 20, 3, 0xFF00FF00, 2, 10, 8, 4);
  int green = 0;
  for (uint16_t v : surface) green += v == 0x07E0;
  EXPECT_EQ(green, 8);
}

}  // namespace
