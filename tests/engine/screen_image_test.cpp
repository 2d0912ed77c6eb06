// Screen images: creation, placement and stretching with the viewport clip, the pass's
// unfiltered blit, and survival across a device reset.
#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::LastFrame;
using engine_test::PixelAt;
using engine_test::Rgb;

bool SameRect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
  return r.left == l && r.top == t && r.right == rt && r.bottom == b;
}

class ScreenImageTest : public EngineTest {
 protected:
  // A 64 x 64 texture whose texel (x, y) is 0xFF000000 | x << 16 | y << 8: every texel differs.
  Texture* Gradient() {
    Texture* t = CreateTexture(64, 64, 0);
    EXPECT_NE(t, nullptr);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->D3DTexture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch +
                                     4 * x) = Texel(x, y);
      }
    }
    t->D3DTexture->UnlockRect(0);
    return t;
  }
  static uint32_t Texel(int x, int y) {
    return 0xFF000000u | (static_cast<uint32_t>(x * 4) << 16) |
           (static_cast<uint32_t>(y * 4) << 8) | 0x40u;
  }
  void RenderFrame() {
    RenderWorld();
    Flip();
  }
};

TEST_F(ScreenImageTest, NewImageCoversItsOwnSizeAndIsNotDrawnUntilPlaced) {
  ScreenImage* image = CreateScreenImage(Gradient());
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(SameRect(image->Destination, 0, 0, 64, 64));
  EXPECT_TRUE(SameRect(image->Source, 0, 0, 64, 64));
  EXPECT_EQ(image->Visible, 0);
  RenderFrame();
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 5, 5)), 0u);

  ASSERT_EQ(PlaceScreenImage(image, 0, 0, 1), 1);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 5, 7)), Rgb(Texel(5, 7)));
  EXPECT_EQ(Rgb(PixelAt(frame, 63, 63)), Rgb(Texel(63, 63)));
  EXPECT_EQ(Rgb(PixelAt(frame, 64, 10)), 0u);
}

TEST_F(ScreenImageTest, PlacementIsClippedToTheViewportBySqueezing) {
  ScreenImage* image = CreateScreenImage(Gradient());
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(PlaceScreenImage(image, -10, -10, 1), 1);
  EXPECT_TRUE(SameRect(image->Destination, 0, 0, 54, 54));
  EXPECT_TRUE(SameRect(image->Source, 0, 0, 64, 64));
  EXPECT_EQ(Engine.Viewport.Width, 640u);  // the engine's copy was refreshed
  ASSERT_EQ(PlaceScreenImage(image, 600, 600, 1), 1);
  EXPECT_TRUE(SameRect(image->Destination, 600, 600, 640, 640));
  RenderFrame();
  AutomationFrame frame = LastFrame();
  // The whole picture squeezed into 40 x 40: its last texel lands in the last pixel.
  EXPECT_EQ(Rgb(PixelAt(frame, 639, 639)), Rgb(Texel(63, 63)));
  EXPECT_EQ(Rgb(PixelAt(frame, 600, 600)), Rgb(Texel(0, 0)));
}

TEST_F(ScreenImageTest, VisibleMeansExactlyOneAndStretchingKeepsIt) {
  ScreenImage* image = CreateScreenImage(Gradient());
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(PlaceScreenImage(image, 0, 0, 2), 1);
  EXPECT_EQ(image->Visible, 2);
  RenderFrame();
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 1, 1)), 0u);
  ASSERT_EQ(PlaceScreenImage(image, 0, 0, 0x101), 1);  // low byte 1
  ASSERT_EQ(StretchScreenImage(image, 0, 0, 640, 640), 1);
  EXPECT_EQ(image->Visible, 1);
  EXPECT_TRUE(SameRect(image->Destination, 0, 0, 640, 640));
}

TEST_F(ScreenImageTest, StretchTenfoldShowsUnfilteredBlocks) {
  ScreenImage* image = CreateScreenImage(Gradient());
  ASSERT_NE(image, nullptr);
  PlaceScreenImage(image, 0, 0, 1);
  StretchScreenImage(image, 0, 0, 640, 640);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  for (int ty : {0, 17, 63}) {
    for (int tx : {0, 31, 63}) {
      for (int dy : {0, 9}) {
        for (int dx : {0, 9}) {
          ASSERT_EQ(Rgb(PixelAt(frame, tx * 10 + dx, ty * 10 + dy)), Rgb(Texel(tx, ty)))
              << tx << "," << ty;
        }
      }
    }
  }
}

TEST_F(ScreenImageTest, LaterImagesLieOverEarlierOnesAndUnderSprites) {
  ScreenImage* first = CreateScreenImage(Gradient());
  ScreenImage* second = CreateScreenImage(CreateTexture(8, 8, 0xFF123456));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  PlaceScreenImage(first, 0, 0, 1);
  PlaceScreenImage(second, 0, 0, 1);
  Sprite* s = CreateSprite(CreateTexture(3, 3, 0xFFFFFFFF));
  ASSERT_NE(s, nullptr);
  DrawSprite(s, 2, 2);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 7, 7)), 0x123456u);
  EXPECT_EQ(Rgb(PixelAt(frame, 3, 3)), 0xFFFFFFu);
  EXPECT_EQ(Rgb(PixelAt(frame, 9, 9)), Rgb(Texel(9, 9)));
}

TEST_F(ScreenImageTest, UnknownHandlesAndFailuresChangeNothing) {
  Engine.LastError = 1;
  EXPECT_EQ(CreateScreenImage(nullptr), nullptr);
  EXPECT_EQ(Engine.LastError, 1);
  EXPECT_EQ(PlaceScreenImage(nullptr, 0, 0, 1), 0);
  EXPECT_EQ(StretchScreenImage(reinterpret_cast<ScreenImage*>(&Engine), 0, 0, 1, 1), 0);
  Texture* t = Gradient();
  AutomationSetFault(AutomationFault::CreateOffscreenSurface, true);
  EXPECT_EQ(CreateScreenImage(t), nullptr);
  AutomationSetFault(AutomationFault::CreateOffscreenSurface, false);
  EXPECT_EQ(Engine.LastError, 18);
  EXPECT_EQ(Engine.ScreenImageList.Count(), 0);
  Engine.LastError = 1;
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, true);
  EXPECT_EQ(CreateScreenImage(t), nullptr);
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, false);
  EXPECT_EQ(Engine.LastError, 18);
  EXPECT_EQ(Engine.ScreenImageList.Count(), 0);
}

TEST_F(ScreenImageTest, LostDeviceRecoversWithThePictureIntact) {
  ScreenImage* image = CreateScreenImage(Gradient());
  ASSERT_NE(image, nullptr);
  PlaceScreenImage(image, 0, 0, 1);
  StretchScreenImage(image, 0, 0, 640, 640);
  RenderFrame();
  AutomationLoseDevice(Engine.Device);
  RenderFrame();
  EXPECT_NE(Engine.PresentResult, 0);
  AutomationMakeDeviceResettable(Engine.Device);
  RenderFrame();
  ASSERT_EQ(Engine.PresentResult, 0);  // the default-pool surface did not block the reset
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 315, 205)), Rgb(Texel(31, 20)));
  EXPECT_TRUE(SameRect(image->Destination, 0, 0, 640, 640));
  EXPECT_EQ(image->Visible, 1);
  // And the frame-sync reset, which keeps the device healthy, keeps it too.
  SetFrameSync(1);
  RenderFrame();
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 5, 5)), Rgb(Texel(0, 0)));
}

}  // namespace
