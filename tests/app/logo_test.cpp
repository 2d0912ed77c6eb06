// Building the banner bodies from an image: which pixels become bodies, where they go, which
// sprite they carry, the walk order, and the real banner drawn with the demo's font.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "app/demo.h"
#include "runtime/runtime.h"

namespace {

Sprite* FakeSprite(int index) {
  static char storage[8];
  return reinterpret_cast<Sprite*>(&storage[index]);
}

struct Body {
  double x, y;
  Sprite* sprite;
  cpHashValue id;  // shapes are numbered in the order they were added
};

void CollectShape(void* object, void* data) {
  auto* shape = static_cast<cpShape*>(object);
  const auto* circle = reinterpret_cast<const cpCircleShape*>(shape);
  static_cast<std::vector<Body>*>(data)->push_back(
      {circle->tc.x, circle->tc.y, static_cast<Sprite*>(cpShapeGetUserData(shape)), shape->hashid});
}

// Bodies of the world in the order they were added.
std::vector<Body> Bodies() {
  std::vector<Body> bodies;
  cpSpaceHashEach(cpSpaceActiveShapes(Space), CollectShape, &bodies);
  std::sort(bodies.begin(), bodies.end(), [](const Body& a, const Body& b) { return a.id < b.id; });
  return bodies;
}

const Body* BodyAt(const std::vector<Body>& bodies, double x, double y) {
  for (const Body& body : bodies)
    if (body.x == x && body.y == y) return &body;
  return nullptr;
}

constexpr int kGridBodies = 23 * 70 + 9 * 180 - 23 * 9;  // columns 0, 8, ..., 176; rows 0, ..., 64

struct Logo : ::testing::Test {
  void SetUp() override {
    for (int i = 0; i < kPaletteSize; ++i) Palette[i] = FakeSprite(i);
    BodyCount = 0;
    LogoImage = NewRasterImage(kAnyObject, kLogoWidth, kLogoHeight, 24);
    ASSERT_NE(LogoImage, 0);
    ASSERT_TRUE(InitPhysics());
  }
  void TearDown() override {
    FreePhysics();
    ReleaseRasterImage(LogoImage);
    LogoImage = 0;
    for (Sprite*& entry : Palette) entry = nullptr;
  }

  void Plot(int x, int y, uint32_t colour) {
    ASSERT_NE(BeginImageDrawing(LogoImage), nullptr);
    PlotPixel(x, y, colour);
    EndDrawing();
  }
};

using PixelSelection = Logo;

TEST_F(PixelSelection, ABlackImageGivesOnlyTheGridInGrey) {
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  EXPECT_EQ(BodyCount, kGridBodies);
  EXPECT_EQ(BodyCount, 3023);
  EXPECT_EQ(bodies.size(), 3023u);
  for (const Body& body : bodies) EXPECT_EQ(body.sprite, Palette[0]);
}

TEST_F(PixelSelection, AnOffGridPixelCountsOnlyWhenLit) {
  Plot(13, 13, 2);  // off the grid, lit
  Plot(16, 13, 3);  // on grid column 16, lit
  Plot(13, 16, 0);  // on grid row 16, background
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  EXPECT_EQ(BodyCount, kGridBodies + 1);

  // (13 - 90) * 2.5 = -192.5 -> -192; (13 - 35) * 2.5 = -55; (16 - 90) * 2.5 = -185.
  const Body* lit = BodyAt(bodies, 320 - 192, 300 - 55);
  ASSERT_NE(lit, nullptr);
  EXPECT_EQ(lit->sprite, Palette[2]);
  const Body* onGrid = BodyAt(bodies, 320 - 185, 300 - 55);
  ASSERT_NE(onGrid, nullptr);
  EXPECT_EQ(onGrid->sprite, Palette[3]);
  const Body* background = BodyAt(bodies, 320 - 192, 300 - 48);  // (16 - 35) * 2.5 = -47.5
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(background->sprite, Palette[0]);
  // An off-grid background pixel next to the lit one made nothing.
  EXPECT_EQ(BodyAt(bodies, 320 - 190, 300 - 55), nullptr);  // pixel (14, 13)
}

TEST_F(PixelSelection, ValuesOutsideThePaletteBecomeGridBodies) {
  // None of these can come from the banner; each must neither index past Palette nor vanish.
  Plot(13, 13, 5);
  Plot(21, 13, 0x00FF00);  // green
  Plot(29, 13, 0xFFFFFF);  // white
  Plot(37, 13, 0x010000);  // blue 1, red 0
  Plot(45, 13, 0x000101);  // red 1 plus green 1
  Palette[0] = FakeSprite(7);
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  EXPECT_EQ(BodyCount, kGridBodies + 5);
  for (int x : {13, 21, 29, 37, 45}) {
    const double bx = 320 + std::nearbyint((x - 90.0) * 2.5);
    const Body* body = BodyAt(bodies, bx, 300 - 55);
    ASSERT_NE(body, nullptr) << x;
    EXPECT_EQ(body->sprite, FakeSprite(7)) << x;
  }
}

using Placement = Logo;

TEST_F(Placement, TheBannerSpansFrom95To542AndFrom212To385) {
  Plot(179, 69, 1);
  Plot(0, 69, 4);
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const Body& body : bodies) {
    minX = std::min(minX, body.x);
    maxX = std::max(maxX, body.x);
    minY = std::min(minY, body.y);
    maxY = std::max(maxY, body.y);
  }
  EXPECT_EQ(minX, 95.0);
  EXPECT_EQ(maxX, 542.0);
  EXPECT_EQ(minY, 212.0);
  EXPECT_EQ(maxY, 385.0);
  ASSERT_NE(BodyAt(bodies, 542, 385), nullptr);
  EXPECT_EQ(BodyAt(bodies, 542, 385)->sprite, Palette[1]);
  ASSERT_NE(BodyAt(bodies, 95, 385), nullptr);
  EXPECT_EQ(BodyAt(bodies, 95, 385)->sprite, Palette[4]);
}

TEST_F(Placement, HalfUnitsRoundToEven) {
  // x = 1: -222.5 -> -222 (98); x = 3: -217.5 -> -218 (102); x = 5: -212.5 -> -212 (108).
  // y = 2: -82.5 -> -82 (218); y = 3: -80 exactly (220).
  Plot(1, 3, 1);
  Plot(3, 3, 1);
  Plot(5, 3, 1);
  Plot(1, 2, 1);
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  EXPECT_NE(BodyAt(bodies, 98, 220), nullptr);
  EXPECT_NE(BodyAt(bodies, 102, 220), nullptr);
  EXPECT_NE(BodyAt(bodies, 108, 220), nullptr);
  EXPECT_NE(BodyAt(bodies, 98, 218), nullptr);
  EXPECT_EQ(BodyAt(bodies, 97, 220), nullptr);  // what rounding half away from zero would give
  EXPECT_EQ(BodyCount, kGridBodies + 4);
}

TEST_F(Placement, TheWalkStartsBottomRightAndEndsAtTheTopLeftCorner) {
  Plot(179, 69, 3);
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  ASSERT_EQ(bodies.size(), static_cast<size_t>(kGridBodies + 1));
  // First the lit bottom-right pixel, then grid column 176 of the bottom row ((176-90)*2.5=215).
  EXPECT_EQ(bodies[0].x, 542.0);
  EXPECT_EQ(bodies[0].y, 385.0);
  EXPECT_EQ(bodies[1].x, 535.0);
  EXPECT_EQ(bodies[1].y, 385.0);
  // The corner (0, 0) comes last, after the rest of the top row walked right to left.
  EXPECT_EQ(bodies.back().x, 95.0);
  EXPECT_EQ(bodies.back().y, 212.0);
  EXPECT_EQ(bodies[bodies.size() - 2].x, 98.0);  // pixel (1, 0): -222.5 -> -222
  EXPECT_EQ(bodies[bodies.size() - 2].y, 212.0);
  // Row by row upwards: y never increases along the walk.
  for (size_t i = 1; i < bodies.size(); ++i) ASSERT_LE(bodies[i].y, bodies[i - 1].y) << i;
}

using Guards = Logo;

TEST_F(Guards, NothingIsBuiltWithoutAWorldOrADrawableImage) {
  FreePhysics();
  BuildLogo();
  EXPECT_EQ(BodyCount, 0);
  ASSERT_TRUE(InitPhysics());

  // Another drawing is open: BuildLogo must not read the wrong target nor close that drawing.
  const RuntimeId other = NewRasterImage(kAnyObject, 4, 4, 24);
  ASSERT_NE(BeginImageDrawing(other), nullptr);
  BuildLogo();
  EXPECT_EQ(BodyCount, 0);
  EXPECT_TRUE(Bodies().empty());
  EXPECT_NE(DrawingIsOpen(), 0);
  EndDrawing();
  ReleaseRasterImage(other);

  const RuntimeId logo = LogoImage;
  LogoImage = 0;
  BuildLogo();
  EXPECT_EQ(BodyCount, 0);
  LogoImage = logo;

  BuildLogo();
  EXPECT_EQ(BodyCount, kGridBodies);
  EXPECT_EQ(DrawingIsOpen(), 0);
}

// The banner as start-up draws it, with the demo's font.
struct Banner : Logo {
  void SetUp() override {
    Logo::SetUp();
    ASSERT_TRUE(DrawBanner());
    ASSERT_NE(FontHandle(1), nullptr);
  }
  void TearDown() override {
    ReleaseFont(1);
    Logo::TearDown();
  }
};

TEST_F(Banner, EveryLineTagsItsPixelsWithItsOwnIndexOnly) {
  ASSERT_NE(BeginImageDrawing(LogoImage), nullptr);
  std::map<uint32_t, int> seen;
  for (int y = 0; y < kLogoHeight; ++y)
    for (int x = 0; x < kLogoWidth; ++x) {
      const uint32_t v = ReadPixel(x, y);
      ++seen[v];
      const uint32_t line = std::min(y / 18, 3) + 1;
      if (v != 0) {
        EXPECT_LE(v, line) << x << "," << y;
      }
    }
  EndDrawing();
  for (uint32_t k = 1; k <= 4; ++k) EXPECT_GT(seen[k], 50) << "line " << k;
  EXPECT_EQ(seen.size(), 5u);
}

TEST_F(Banner, BuildsMoreThanTheGridAndLinesStayInTheirBands) {
  BuildLogo();
  const std::vector<Body> bodies = Bodies();
  EXPECT_GT(BodyCount, kGridBodies + 500);
  EXPECT_EQ(static_cast<size_t>(BodyCount), bodies.size());
  std::set<Sprite*> sprites;
  for (const Body& body : bodies) {
    sprites.insert(body.sprite);
    for (int k = 1; k <= 4; ++k) {
      if (body.sprite != Palette[k]) continue;
      // Line k starts at pixel row 18 (k - 1). Its smoothed edges may carry any value up to k,
      // so value k appears in line k and below it, never above.
      const double top = 300 + std::nearbyint((18 * (k - 1) - 35.0) * 2.5);
      EXPECT_GE(body.y, top) << "value " << k;
    }
  }
  EXPECT_EQ(sprites.size(), 5u);
}

TEST_F(Banner, StandsStillUntilHit) {
  BuildLogo();
  const std::vector<Body> before = Bodies();
  for (int frame = 0; frame < 200; ++frame) StepPhysics();
  const std::vector<Body> after = Bodies();
  ASSERT_EQ(after.size(), before.size());
  int moved = 0;
  for (size_t i = 0; i < before.size(); ++i)
    moved += before[i].x != after[i].x || before[i].y != after[i].y;
  EXPECT_EQ(moved, 0);
}

TEST_F(Banner, TheBallsSmashItWithoutBeingCounted) {
  BuildLogo();
  const int built = BodyCount;
  const std::vector<Body> before = Bodies();
  AddBall(-300, 200, 700, 105);
  AddBall(900, 390, -700, -105);
  for (int frame = 0; frame < 60; ++frame) StepPhysics();
  EXPECT_EQ(BodyCount, built);
  std::vector<Body> after = Bodies();
  ASSERT_EQ(after.size(), before.size() + 2);
  int moved = 0;
  for (size_t i = 0; i < before.size(); ++i)
    moved += before[i].x != after[i].x || before[i].y != after[i].y;
  EXPECT_GT(moved, 100);
}

TEST_F(Banner, RebuildingAHundredTimesGivesTheSameWorld) {
  BuildLogo();
  const std::vector<Body> first = Bodies();
  for (int round = 0; round < 100; ++round) {
    FreePhysics();
    ASSERT_TRUE(InitPhysics());
    BodyCount = 0;
    BuildLogo();
    AddBall(-300, 200, 700, 105);
    AddBall(900, 390, -700, -105);
    StepPhysics();
    ASSERT_EQ(BodyCount, static_cast<int>(first.size()));
  }
  FreePhysics();
  ASSERT_TRUE(InitPhysics());
  BuildLogo();
  const std::vector<Body> again = Bodies();
  ASSERT_EQ(again.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(again[i].x, first[i].x);
    EXPECT_EQ(again[i].y, first[i].y);
    EXPECT_EQ(again[i].id, first[i].id);
  }
}

// One face and fixed rasterisation settings: every machine draws this banner and builds this world.
// ctest runs this test again under foreign fontconfig and FreeType settings.
TEST_F(Banner, IsTheSameOnEveryMachine) {
  ASSERT_NE(BeginImageDrawing(LogoImage), nullptr);
  uint32_t checksum = 2166136261u;  // FNV-1a over the pixel values, top row first
  for (int y = 0; y < kLogoHeight; ++y)
    for (int x = 0; x < kLogoWidth; ++x) checksum = (checksum ^ ReadPixel(x, y)) * 16777619u;
  EndDrawing();
  BuildLogo();
  EXPECT_EQ(BodyCount, 4270);
  EXPECT_EQ(checksum, 0x246d8c31u) << std::hex << checksum;
}

}  // namespace
