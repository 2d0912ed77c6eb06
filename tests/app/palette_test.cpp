// The palette sprites, the per-body sprite draws and the heads-up line, in-process and on the
// presented frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/demo.h"
#include "app/palette.h"
#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::LastFrame;
using engine_test::PixelAt;
using engine_test::Rgb;

class PaletteTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    BuildPalette();
    ASSERT_TRUE(InitPhysics());
  }
  void TearDown() override {
    FreePhysics();
    for (auto& p : Palette) p = nullptr;
    for (auto& t : PaletteTextures) t = nullptr;
    ReleaseRuntimeObjects();
    EngineTest::TearDown();
  }
  // A banner-sized body at an exact, possibly fractional, position.
  cpShape* BodyAt(double x, double y, Sprite* sprite) {
    cpBody* body = cpBodyNew(1.0, 9999999.0);
    cpBodySetPosition(body, cpv(x, y));
    cpShape* shape = cpCircleShapeNew(body, 1.0, cpvzero);
    cpShapeSetUserData(shape, sprite);
    cpSpaceAddBody(Space, body);
    cpSpaceAddShape(Space, shape);
    return shape;
  }
};

TEST_F(PaletteTest, FivePlusSignsInThePaletteColours) {
  const uint32_t argb[kPaletteSize] = {0xFF808080, 0xFFFF0000, 0xFFFFFF00, 0xFF00FF00, 0xFF0000FF};
  ASSERT_EQ(Engine.SpriteList.Count(), kPaletteSize);
  for (int i = 0; i < kPaletteSize; ++i) {
    ASSERT_NE(Palette[i], nullptr) << i;
    ASSERT_EQ(Palette[i]->TextureHandle, PaletteTextures[i]);
    EXPECT_EQ(Palette[i]->Width, 3);
    D3DLOCKED_RECT locked{};
    IDirect3DTexture9* t = PaletteTextures[i]->D3DTexture;
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const uint32_t texel = *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                            y * locked.Pitch + 4 * x);
        EXPECT_EQ(texel, (x == 1 || y == 1) ? argb[i] : 0u) << i << ": " << x << "," << y;
      }
    }
    t->UnlockRect(0);
  }
  // Sprites are drawn in creation order: the grid first, blue last.
  EXPECT_EQ(Engine.SpriteList.First(), Palette[0]);
  EXPECT_EQ(Engine.SpriteList.Last(), Palette[4]);
  EXPECT_EQ(IsRasterImage(0), 0);  // the scratch image is released
}

TEST_F(PaletteTest, BallsQueueNothing) {
  AddBall(-300, 200, 700, 105);
  AddBall(900, 390, -700, -105);
  StepPhysics();
  DrawShapes();
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 0);
}

TEST_F(PaletteTest, CentresRoundHalfToEvenAndCarryTheBodyAngle) {
  BodyAt(100.5, 20.5, Palette[1]);
  DrawShapes();
  cpShape* second = BodyAt(101.5, 21.5, Palette[2]);
  cpBodySetAngle(cpShapeGetBody(second), 3.14159265358979323846 / 2);
  DrawShape(second, nullptr);
  ASSERT_EQ(Engine.SpriteDrawQueue.Count(), 2);
  SpriteDrawCommand* a = Engine.SpriteDrawQueue.First();
  SpriteDrawCommand* b = Engine.SpriteDrawQueue.Next();
  EXPECT_EQ(a->SpriteHandle, Palette[1]);
  EXPECT_FLOAT_EQ(a->X, 100.0f);
  EXPECT_FLOAT_EQ(a->Y, 20.0f);
  EXPECT_FLOAT_EQ(a->Rotation, 0.0f);
  EXPECT_EQ(a->Alpha, 255u);
  EXPECT_FLOAT_EQ(b->X, 102.0f);
  EXPECT_FLOAT_EQ(b->Y, 22.0f);
  EXPECT_NEAR(b->Rotation, 90.0f * 0.017453f, 1e-5);
}

TEST_F(PaletteTest, BodiesWithoutAPaletteSpriteOrFarAwayAreSkipped) {
  BodyAt(50, 50, nullptr);
  BodyAt(1e12, 50, Palette[0]);
  DrawShapes();
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 0);
}

TEST(HudTextTest, PlainDecimalNumbers) {
  EXPECT_EQ(HudText(0, 3100), "FPS: 0 Objekte: 3100");
  EXPECT_EQ(HudText(-12, 0), "FPS: -12 Objekte: 0");
  EXPECT_EQ(HudText(1234567, 42), "FPS: 1234567 Objekte: 42");
}

// The texts the text pass finds queued, captured just before it runs.
std::vector<std::string> g_queuedTexts;
void CaptureTexts(const char* pass) {
  if (std::string(pass) != "DrawTextPass") return;
  g_queuedTexts.clear();
  Engine.TextQueue.Reset();
  while (TextCommand* c = Engine.TextQueue.Next()) {
    g_queuedTexts.push_back(c->Text + "@" + std::to_string(c->X) + "," + std::to_string(c->Y));
  }
}

struct DemoFrameTest : ::testing::Test {
  void SetUp() override {
    AutomationUseHeadless();
    AutomationReleaseAllKeys();
    ASSERT_EQ(DemoStartup(), 0);
  }
  void TearDown() override {
    SetFramePassObserver(nullptr);
    DemoShutdown();
  }
};

TEST_F(DemoFrameTest, HeadsUpLineShowsZeroRateAndTheBodyCountAtFirst) {
  SetFramePassObserver(CaptureTexts);
  ASSERT_TRUE(DemoFrame());
  ASSERT_GT(BodyCount, 3023);
  const std::vector<std::string> expected = {
      "Press SPACE to start this demo!@200,500",
      "FPS: 0 Objekte: " + std::to_string(BodyCount) + "@200,560"};
  EXPECT_EQ(g_queuedTexts, expected);
}

TEST_F(DemoFrameTest, FrameShowsTheBannerLinesInTheirColoursOverTheGrid) {
  ASSERT_TRUE(DemoFrame());
  AutomationFrame frame = LastFrame();
  const uint32_t colours[kPaletteSize] = {0x808080, 0xFF0000, 0xFFFF00, 0x00FF00, 0x0000FF};
  int count[kPaletteSize] = {};
  double sumY[kPaletteSize] = {};
  for (int y = 212; y <= 388; ++y) {
    for (int x = 95; x <= 545; ++x) {
      const uint32_t p = Rgb(PixelAt(frame, x, y));
      for (int i = 0; i < kPaletteSize; ++i) {
        if (p == colours[i]) {
          ++count[i];
          sumY[i] += y;
        }
      }
    }
  }
  for (int i = 0; i < kPaletteSize; ++i) EXPECT_GT(count[i], 100) << i;
  // Line 1 (red) on top, then yellow, green, and blue at the bottom; the grid spans them all.
  EXPECT_LT(sumY[1] / count[1], sumY[2] / count[2]);
  EXPECT_LT(sumY[2] / count[2], sumY[3] / count[3]);
  EXPECT_LT(sumY[3] / count[3], sumY[4] / count[4]);
  // Outside the banner no body is drawn.
  for (int x = 0; x < 640; x += 7) {
    const uint32_t p = Rgb(PixelAt(frame, x, 150));
    for (uint32_t c : colours) EXPECT_NE(p, c) << x;
  }
}

}  // namespace
