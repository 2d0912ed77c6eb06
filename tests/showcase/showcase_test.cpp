// The showcase as the program runs it, headless: the scene where its geometry puts it, the keys,
// a device reset, and start-up refusing missing files.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "automation.h"
#include "engine/vexa.h"
#include "runtime/random.h"
#include "showcase/showcase.h"

namespace {

struct Rgb {
  int r, g, b;
  int Sum() const { return r + g + b; }
};

class ShowcaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    static const bool videoHeld = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    (void)videoHeld;
    AutomationClearFaults();
    AutomationReleaseAllKeys();
    SeedRandom(1);  // the same particles on every run
    Showcase.fixedStep = true;
    ASSERT_EQ(ShowcaseStartup(), 0) << Engine.LastErrorText;
  }
  void TearDown() override {
    AutomationReleaseAllKeys();
    EXPECT_EQ(ShowcaseShutdown(), 0);
    Showcase.fixedStep = false;
  }

  static void Frames(int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(ShowcaseFrame());
  }

  // One key held for a frame, then let go for a frame.
  static void Tap(int key) {
    AutomationSetKey(key, true);
    Frames(1);
    AutomationSetKey(key, false);
    Frames(1);
  }

  static AutomationFrame Picture() {
    AutomationFrame frame;
    EXPECT_TRUE(AutomationLastPresentedFrame(&frame));
    return frame;
  }

  // Where a world point lands in the window, through the device's current camera.
  static bool Project(float x, float y, float z, int* px, int* py) {
    D3DXMATRIX view, projection, viewProjection;
    Engine.Device->GetTransform(D3DTS_VIEW, &view);
    Engine.Device->GetTransform(D3DTS_PROJECTION, &projection);
    D3DXMatrixMultiply(&viewProjection, &view, &projection);
    D3DVIEWPORT9 viewport;
    Engine.Device->GetViewport(&viewport);
    const D3DXVECTOR4 in(x, y, z, 1.0f);
    D3DXVECTOR4 clip;
    D3DXVec4Transform(&clip, &in, &viewProjection);
    if (clip.w <= 0.0f) return false;
    // Direct3D's viewport mapping: x from -1 .. 1 to the left .. right, y flipped.
    const float sx = viewport.X + (clip.x / clip.w + 1.0f) * 0.5f * viewport.Width;
    const float sy = viewport.Y + (1.0f - clip.y / clip.w) * 0.5f * viewport.Height;
    *px = static_cast<int>(std::lround(sx));
    *py = static_cast<int>(std::lround(sy));
    const float depth = clip.z / clip.w;
    return depth > 0 && depth < 1 && *px >= 0 && *py >= 0 && *px < kShowcaseWidth &&
           *py < kShowcaseHeight;
  }

  // The mean colour of the 5 x 5 pixels around a world point.
  static Rgb Around(const AutomationFrame& frame, float x, float y, float z) {
    int px = 0, py = 0;
    EXPECT_TRUE(Project(x, y, z, &px, &py)) << x << " " << y << " " << z;
    Rgb sum{0, 0, 0};
    int n = 0;
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        const int cx = px + dx, cy = py + dy;
        if (cx < 0 || cy < 0 || cx >= frame.width || cy >= frame.height) continue;
        const uint32_t p = frame.pixels[static_cast<size_t>(cy) * frame.width + cx];
        sum.r += (p >> 16) & 0xFF;
        sum.g += (p >> 8) & 0xFF;
        sum.b += p & 0xFF;
        ++n;
      }
    }
    if (n > 0) sum = {sum.r / n, sum.g / n, sum.b / n};
    return sum;
  }

  // Where the spot light's ray through a point reaches the floor (y = 0).
  static D3DXVECTOR3 ShadowOnFloor(float x, float y, float z) {
    const D3DVECTOR l = Showcase.spot->D3DLight.Position;
    const float t = l.y / (l.y - y);
    return D3DXVECTOR3(l.x + (x - l.x) * t, 0.0f, l.z + (z - l.z) * t);
  }
};

TEST_F(ShowcaseTest, TheSceneIsWhereItsGeometryPutsIt) {
  Frames(90);
  const AutomationFrame frame = Picture();
  ASSERT_EQ(frame.width, kShowcaseWidth);

  // The box's shadow falls on the floor along the light's ray through the box: a point whose ray
  // passes through the box's inside, beside the box's foot, is darker than open floor well inside
  // the light's cone.
  const D3DXVECTOR3 shadow = ShadowOnFloor(-2.5f, 1.4f, 1.0f);
  const Rgb inShadow = Around(frame, shadow.x, 0.0f, shadow.z);
  const Rgb lit = Around(frame, -3.5f, 0.0f, -5.0f);
  EXPECT_LT(inShadow.Sum() * 3, lit.Sum() * 2) << inShadow.Sum() << " vs " << lit.Sum();
  EXPECT_GT(lit.Sum(), 90) << "the floor in the light";

  // The lit meshes in their colours: the sphere blue, the box red, the teapot yellow, seen on
  // the side the spot light faces.
  const Rgb sphere = Around(frame, 0.0f, 1.5f, 3.5f - 0.9f);
  EXPECT_GT(sphere.b, sphere.r + 20) << sphere.r << " " << sphere.g << " " << sphere.b;
  const Rgb box = Around(frame, -3.0f, 1.6f, 1.5f);  // its lit top
  EXPECT_GT(box.r, box.b + 40) << box.r << " " << box.g << " " << box.b;
  const Rgb teapot = Around(frame, 3.2f, 1.3f, 1.2f);
  EXPECT_GT(teapot.r + teapot.g, 2 * teapot.b + 60)
      << teapot.r << " " << teapot.g << " " << teapot.b;

  // Sparks rise above their emitter: bright and orange somewhere over it.
  int bright = 0;
  for (float y = 0.5f; y <= 2.5f; y += 0.25f) {
    const Rgb spark = Around(frame, 4.5f, y, -2.5f);
    bright += spark.r > 150 && spark.r > spark.b + 60;
  }
  EXPECT_GT(bright, 0) << "no sparks over the emitter";
}

// Pictures in tests and captures must not depend on how fast the machine draws: a slow frame
// still ages the particles (and the skin, on the same clock) by 1/60 s.
TEST_F(ShowcaseTest, AFixedStepIgnoresSlowFrames) {
  Frames(1);
  const double before = Showcase.sparks->Clock;
  for (int i = 0; i < 6; ++i) {
    SDL_Delay(40);
    Frames(1);
  }
  EXPECT_NEAR(Showcase.sparks->Clock - before, 6.0 / 60.0, 1e-4);
}

TEST_F(ShowcaseTest, KeysSwitchShadowsCullingAndParticles) {
  Frames(30);
  const D3DXVECTOR3 shadow = ShadowOnFloor(-2.5f, 1.4f, 1.0f);
  const Rgb before = Around(Picture(), shadow.x, 0.0f, shadow.z);
  Tap(kShowcaseKeyShadows);
  EXPECT_FALSE(Showcase.shadows);
  EXPECT_EQ(Engine.ShadowMapping, 0);
  Frames(1);
  const Rgb after = Around(Picture(), shadow.x, 0.0f, shadow.z);
  EXPECT_NE(before.Sum(), after.Sum()) << "the fixed-function light has no shadow";
  Tap(kShowcaseKeyShadows);
  EXPECT_EQ(Engine.ShadowMapping, 1);

  Tap(kShowcaseKeyCulling);
  EXPECT_EQ(Engine.FrustumCulling, 0);
  Tap(kShowcaseKeyCulling);
  EXPECT_EQ(Engine.FrustumCulling, 1);

  // Without emitting, the sparks die out within their longest life.
  Tap(kShowcaseKeyParticles);
  Frames(80);  // the longest spark lives 1.2 s
  EXPECT_EQ(Showcase.sparks->LiveCount, 0);
  Tap(kShowcaseKeyParticles);
  Frames(10);
  EXPECT_GT(Showcase.sparks->LiveCount, 0);
}

TEST_F(ShowcaseTest, ArrowKeysOrbitTheCamera) {
  Frames(1);
  float x0, y0, z0;
  ShowcaseCameraPosition(&x0, &y0, &z0);
  AutomationSetKey(kShowcaseKeyLeft, true);
  Frames(30);  // half a second at 90 degrees a second
  AutomationSetKey(kShowcaseKeyLeft, false);
  Frames(1);
  EXPECT_NEAR(Showcase.orbitDegrees, 30.0f + 45.0f, 2.0f);
  float x1, y1, z1;
  ShowcaseCameraPosition(&x1, &y1, &z1);
  EXPECT_NEAR(y1, y0, 1e-4) << "the orbit keeps the height";
  EXPECT_NEAR(std::hypot(x1, z1), std::hypot(x0, z0), 1e-3) << "and the distance";
  // The device's view follows: the centre of the scene stays in the middle of the window.
  int px = 0, py = 0;
  ASSERT_TRUE(Project(0.0f, 1.0f, 0.0f, &px, &py));
  EXPECT_NEAR(px, kShowcaseWidth / 2, 1);
  AutomationSetKey(kShowcaseKeyDown, true);
  Frames(60);  // 45 degrees a second: a second is more than the way down
  AutomationSetKey(kShowcaseKeyDown, false);
  EXPECT_EQ(Showcase.elevationDegrees, 5.0f) << "the camera stays above the floor";
}

TEST_F(ShowcaseTest, TheSceneSurvivesADeviceReset) {
  Frames(10);
  ResetDevice(3);
  ASSERT_EQ(Engine.PresentResult, D3D_OK);
  Frames(30);
  const AutomationFrame frame = Picture();
  const Rgb inShadow =
      Around(frame, ShadowOnFloor(-2.5f, 1.4f, 1.0f).x, 0.0f, ShadowOnFloor(-2.5f, 1.4f, 1.0f).z);
  const Rgb lit = Around(frame, -3.5f, 0.0f, -5.0f);
  EXPECT_GT(lit.Sum(), 90) << "the floor is drawn and lit after the reset";
  EXPECT_LT(inShadow.Sum() * 3, lit.Sum() * 2) << "and the shadow map works again";
  EXPECT_GT(Showcase.sparks->LiveCount, 0);
}

TEST(ShowcaseStartupTest, MissingFilesAreReportedAndNothingIsLeft) {
  AutomationUseHeadless();
  setenv("SHOWCASE_ASSETS", "/nonexistent/showcase-assets", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowcaseStartup(), 1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("showcase: could not create ", 0), 0u) << said;
  EXPECT_NE(said.find("/nonexistent/showcase-assets"), std::string::npos) << said;
  EXPECT_EQ(ShowcaseShutdown(), 0);
  unsetenv("SHOWCASE_ASSETS");
  EXPECT_EQ(Engine.Device, nullptr);
  EXPECT_EQ(Engine.MeshList.Count(), 0);
}

}  // namespace
