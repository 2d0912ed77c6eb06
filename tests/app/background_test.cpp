// The shader-made background: the assembled source, the filled texture, the screen image over
// the window, and that restarts leave it alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/background.h"
#include "app/demo.h"
#include "support/engine_fixture.h"

namespace {

using engine_test::LastFrame;
using engine_test::PixelAt;
using engine_test::Rgb;

TEST(ShaderSourceTest, ThirteenLinesEachEndedByALineFeedWithoutTheEndMarker) {
  const std::string source = AssembleShaderSource();
  EXPECT_EQ(std::count(source.begin(), source.end(), '\n'), 13);
  ASSERT_GE(source.size(), 5u);
  EXPECT_EQ(source.substr(source.size() - 5), "  };\n");
  EXPECT_EQ(source.find("End"), std::string::npos);
  EXPECT_NE(source.find("// a=0\n\nfloat4 Testout(float2 a: POSITION ) : COLOR\n  {\n"),
            std::string::npos);
  EXPECT_NE(source.find("cos(a.x * 5.0), 1);\n\n  };\n"), std::string::npos);
  EXPECT_EQ(
      source.rfind("// Sinus/Cos Demo\n// float2 a: POSITION = Texturposition, a.x and a.y \n", 0),
      0u);
  EXPECT_NE(source.find("// r = sin(length(a) * 100.0) * 0.5 + 0.5\n// g=sin(a.y * 50.0)\n"),
            std::string::npos);
  EXPECT_EQ(AssembleShaderSource(), source);  // the cursor starts over each time
}

std::vector<uint32_t> Texels(Texture* t) {
  std::vector<uint32_t> out;
  D3DLOCKED_RECT locked{};
  if (t->D3DTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint32_t v;
      std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
      out.push_back(v);
    }
  }
  t->D3DTexture->UnlockRect(0);
  return out;
}

int Channel(double v) {
  return static_cast<int>(std::fmin(1.0, std::fmax(0.0, v)) * 255.0 + 0.5);
}

struct BackgroundTest : ::testing::Test {
  void SetUp() override {
    AutomationUseHeadless();
    AutomationReleaseAllKeys();
    ASSERT_EQ(DemoStartup(), 0);
  }
  void TearDown() override {
    AutomationReleaseAllKeys();
    DemoShutdown();
  }
};

TEST_F(BackgroundTest, ShaderFillsTheTextureAndTheImageCoversTheWindow) {
  ASSERT_NE(BackgroundShader, nullptr) << Engine.LastErrorText;
  ASSERT_NE(BackgroundTexture, nullptr);
  ASSERT_NE(BackgroundImage, nullptr);
  EXPECT_EQ(ShaderSource, AssembleShaderSource());
  EXPECT_EQ(BackgroundImage->Visible, 1);
  EXPECT_EQ(BackgroundImage->Destination.right, 640);
  EXPECT_EQ(BackgroundImage->Destination.bottom, 640);
  const std::vector<uint32_t> texels = Texels(BackgroundTexture);
  ASSERT_EQ(texels.size(), 4096u);
  for (int i = 0; i < 4096; i += 37) {
    const double ax = (i % 64 + 0.5) / 64.0, ay = (i / 64 + 0.5) / 64.0;
    EXPECT_NEAR(static_cast<int>((texels[i] >> 16) & 0xFF),
                Channel(std::sin(std::hypot(ax, ay) * 10.0) * 0.5 + 0.5), 1);
    EXPECT_NEAR(static_cast<int>((texels[i] >> 8) & 0xFF), Channel(std::sin(ay * 5.0)), 1);
    EXPECT_NEAR(static_cast<int>(texels[i] & 0xFF), Channel(std::cos(ax * 5.0)), 1);
    EXPECT_EQ(texels[i] >> 24, 0xFFu);  // the fill colour 0x1EFFFFFF is gone
  }
  ASSERT_TRUE(DemoFrame());
  AutomationFrame frame = LastFrame();
  // Away from the banner and the text, each texel is a 10 x 10 block of the window.
  for (int ty : {0, 3, 15, 60}) {
    for (int tx : {0, 7, 40, 63}) {
      EXPECT_EQ(Rgb(PixelAt(frame, tx * 10 + 4, ty * 10 + 6)), texels[ty * 64 + tx] & 0xFFFFFF)
          << tx << "," << ty;
    }
  }
}

TEST_F(BackgroundTest, RestartsLeaveTheBackgroundAlone) {
  ASSERT_NE(BackgroundTexture, nullptr);
  Texture* texture = BackgroundTexture;
  ScreenImage* image = BackgroundImage;
  const std::vector<uint32_t> before = Texels(texture);
  const int textures = Engine.TextureList.Count();
  AutomationSetKey(kKeySpace, true);
  ASSERT_TRUE(DemoFrame());
  ASSERT_TRUE(DemoFrame());
  AutomationSetKey(kKeySpace, false);
  EXPECT_EQ(BackgroundTexture, texture);
  EXPECT_EQ(BackgroundImage, image);
  EXPECT_EQ(Engine.TextureList.Count(), textures);
  EXPECT_EQ(Engine.ScreenImageList.Count(), 1);
  EXPECT_EQ(Texels(texture), before);
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 4, 6)), before[0] & 0xFFFFFF);
}

}  // namespace
