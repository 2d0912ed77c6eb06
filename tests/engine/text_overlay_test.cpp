// The text overlay on an opened engine: what DrawText/QueueText store (alignment, rounding,
// style), the font cursor, and what the text pass draws and removes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;

class TextOverlayTest : public EngineTest {
 protected:
  Font* DefaultFont() { return Engine.FontList.First(); }

  int MeasuredWidth(const std::string& text) {
    RECT r = {0, 0, 0, 0};
    DefaultFont()->D3DFont->DrawTextA(nullptr, text.c_str(), -1, &r, DT_CALCRECT, 0xFF000000);
    return r.right;
  }

  // A text exactly `width` pixels wide made of one repeated character, or "" if no character
  // of the default font has an advance that divides it.
  std::string TextOfWidth(int width) {
    for (char c = '!'; c <= '~'; ++c) {
      const int advance = MeasuredWidth(std::string(1, c));
      if (advance > 0 && width % advance == 0) {
        const std::string text(width / advance, c);
        if (MeasuredWidth(text) == width) return text;
      }
    }
    return "";
  }

  TextCommand* Queued(int index) { return Engine.TextQueue.Select(index); }

  // Runs the text pass on a black back buffer and returns its pixels (0x00RRGGBB).
  std::vector<uint32_t> RunTextPass() {
    IDirect3DDevice9* device = Engine.Device;
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    DrawTextPass();
    EXPECT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> pixels;
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface))) {
      ADD_FAILURE() << "no back buffer";
      return pixels;
    }
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    width_ = (int)desc.Width;
    height_ = (int)desc.Height;
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      pixels.resize((size_t)width_ * height_);
      for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < width_; ++x) pixels[(size_t)y * width_ + x] = row[x] & 0xFFFFFFu;
      }
      surface->UnlockRect();
    } else {
      ADD_FAILURE() << "back buffer not lockable";
    }
    surface->Release();
    return pixels;
  }

  struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
  };
  Box Ink(const std::vector<uint32_t>& pixels) {
    Box b;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (pixels[(size_t)y * width_ + x] != 0) {
          b.left = std::min(b.left, x);
          b.right = std::max(b.right, x);
          b.top = std::min(b.top, y);
          b.bottom = std::max(b.bottom, y);
          ++b.count;
        }
    return b;
  }

  int width_ = 0;
  int height_ = 0;
};

TEST_F(TextOverlayTest, EmptyTextOrUnusableDeviceQueuesNothing) {
  EXPECT_EQ(DrawText(200, 500, ""), 0);
  EXPECT_EQ(DrawText(200, 500, nullptr), 0);
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  Engine.PresentResult = D3DERR_DEVICELOST;
  EXPECT_EQ(DrawText(200, 500, "lost"), 0);
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  Engine.PresentResult = 0;
  EXPECT_EQ(DrawText(200, 500, "back"), 1);
  EXPECT_EQ(Engine.TextQueue.Count(), 1);
}

TEST_F(TextOverlayTest, DefaultStyleStoresAPureTranslationCommand) {
  ASSERT_EQ(DrawText(37, 45, "Frame rate: 60"), 1);
  TextCommand* c = Queued(0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->X, 37);
  EXPECT_EQ(c->Y, 45);
  EXPECT_EQ(c->CentreOffset, 0);
  EXPECT_EQ(c->Format, DT_LEFT);
  EXPECT_EQ(c->Colour, 0xFFFFFFFFu);
  EXPECT_EQ(c->ScaleX, 1.0f);
  EXPECT_EQ(c->ScaleY, 1.0f);
  EXPECT_EQ(c->Rotation, 0.0f);
  EXPECT_EQ(c->Text, "Frame rate: 60");
  EXPECT_EQ(c->FontHandle, DefaultFont());

  // The pass leaves the command's transform on the font's sprite: a translation to (37, 45).
  RunTextPass();
  D3DXMATRIX m;
  ASSERT_EQ(DefaultFont()->D3DSprite->GetTransform(&m), D3D_OK);
  D3DXMATRIX expected;
  D3DXMatrixTranslation(&expected, 37, 45, 0);
  for (int r = 0; r < 4; ++r)
    for (int col = 0; col < 4; ++col) EXPECT_EQ(m.m[r][col], expected.m[r][col]) << r << "," << col;

  // Depth goes into _43, rotation is stored in radians with the engine's factor.
  Engine.TextDepth = 0.25f;
  Engine.TextRotation = 90.0f;
  ASSERT_EQ(DrawText(37, 45, "x"), 1);
  EXPECT_EQ(Queued(0)->Rotation, 90.0f * 0.017453f);
  RunTextPass();
  DefaultFont()->D3DSprite->GetTransform(&m);
  EXPECT_EQ(m._43, 0.25f);
}

TEST_F(TextOverlayTest, RightAndCentreAlignmentStoreTheAlignedOriginAndCentreOffset) {
  const std::string text = TextOfWidth(100);
  ASSERT_FALSE(text.empty()) << "no character of the default font builds a 100-pixel text";

  Engine.TextAlign = 1;
  ASSERT_EQ(DrawText(300, 10, text.c_str()), 1);
  Engine.TextAlign = 2;
  ASSERT_EQ(DrawText(300, 30, text.c_str()), 1);
  Engine.TextAlign = 7;  // anything else is left
  ASSERT_EQ(DrawText(300, 50, text.c_str()), 1);
  ASSERT_EQ(Engine.TextQueue.Count(), 3);
  EXPECT_EQ(Queued(0)->X, 200);
  EXPECT_EQ(Queued(0)->CentreOffset, 100);
  EXPECT_EQ(Queued(0)->Format, DT_RIGHT);
  EXPECT_EQ(Queued(1)->X, 250);
  EXPECT_EQ(Queued(1)->CentreOffset, 50);
  EXPECT_EQ(Queued(1)->Format, DT_CENTER);
  EXPECT_EQ(Queued(2)->X, 300);
  EXPECT_EQ(Queued(2)->CentreOffset, 0);
  EXPECT_EQ(Queued(2)->Format, DT_LEFT);
  EXPECT_EQ(Queued(0)->Y, 10);

  // Halves round to even: 100 x 0.25 / 2 = 12.5 -> 12, and 301 - 12.5 = 288.5 -> 288.
  Engine.TextScaleX = 0.25f;
  Engine.TextAlign = 2;
  ASSERT_EQ(DrawText(301, 70, text.c_str()), 1);
  EXPECT_EQ(Queued(3)->CentreOffset, 12);
  EXPECT_EQ(Queued(3)->X, 288);
  EXPECT_EQ(Queued(3)->ScaleX, 0.25f);
  // 100 x 0.25 / 2 from 300: 287.5 -> 288.
  ASSERT_EQ(DrawText(300, 70, text.c_str()), 1);
  EXPECT_EQ(Queued(4)->X, 288);
}

TEST_F(TextOverlayTest, AlignedTextIsDrawnWhereItIsAnchored) {
  const std::string text = TextOfWidth(100);
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(DrawText(200, 100, text.c_str()), 1);
  const Box left = Ink(RunTextPass());
  ASSERT_GT(left.count, 0);
  EXPECT_GE(left.left, 200);
  EXPECT_LE(left.right, 299);

  // Right-aligned at 300: the same pixels as left-aligned at 200, ending before 300.
  Engine.TextAlign = 1;
  ASSERT_EQ(DrawText(300, 100, text.c_str()), 1);
  const Box right = Ink(RunTextPass());
  EXPECT_EQ(right.left, left.left);
  EXPECT_EQ(right.right, left.right);
  EXPECT_EQ(right.count, left.count);

  // Centred on 250: the same pixels again.
  Engine.TextAlign = 2;
  ASSERT_EQ(DrawText(250, 100, text.c_str()), 1);
  const Box centre = Ink(RunTextPass());
  EXPECT_EQ(centre.left, left.left);
  EXPECT_EQ(centre.count, left.count);
}

TEST_F(TextOverlayTest, PassDrawsInCallOrderAndEmptiesTheQueue) {
  // The same glyphs twice at one place: red first, green second. Fully covered pixels show
  // only the colour drawn last.
  Engine.TextColour = 0xFFFF0000;
  ASSERT_EQ(DrawText(20, 20, "WWW"), 1);
  Engine.TextColour = 0xFF00FF00;
  ASSERT_EQ(DrawText(20, 20, "WWW"), 1);
  ASSERT_EQ(Engine.TextQueue.Count(), 2);
  const auto pixels = RunTextPass();
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  int pureGreen = 0, pureRed = 0;
  for (uint32_t p : pixels) {
    if (p == 0x00FF00u) ++pureGreen;
    if (p == 0xFF0000u) ++pureRed;
  }
  EXPECT_GT(pureGreen, 5);
  EXPECT_EQ(pureRed, 0);

  // An empty pass draws nothing; the font cursor ends on the first font.
  EXPECT_EQ(Ink(RunTextPass()).count, 0);
  EXPECT_EQ(Engine.FontList.Index(), 0);
}

TEST_F(TextOverlayTest, FontChoiceAndCursor) {
  // A second font behind the default one.
  Engine.FontList.Last();
  Font* second = Engine.FontList.Add();
  second->Description = DefaultFont()->Description;
  second->Description.Height = 32;
  ASSERT_EQ(D3DXCreateSprite(Engine.Device, &second->D3DSprite), D3D_OK);
  ASSERT_EQ(D3DXCreateFontIndirectA(Engine.Device, &second->Description, &second->D3DFont), D3D_OK);
  Font* first = DefaultFont();

  // A given font is looked up and the cursor goes back where it was.
  Engine.FontList.Select(0);
  ASSERT_EQ(QueueText(0, 0, "a", second, 0xFFFFFFFF, 0, 0.0f), 1);
  EXPECT_EQ(Engine.TextQueue.Last()->FontHandle, second);
  EXPECT_EQ(Engine.FontList.Index(), 0);

  // A font that is not in the list: the walk ends on the last font, which is used.
  Font stranger = {};
  Engine.FontList.Select(1);
  ASSERT_EQ(QueueText(0, 0, "b", &stranger, 0xFFFFFFFF, 0, 0.0f), 1);
  EXPECT_EQ(Engine.TextQueue.Last()->FontHandle, second);
  EXPECT_EQ(Engine.FontList.Index(), 1);

  // No font: the current one, and the cursor then stands on index 0.
  Engine.FontList.Select(1);
  ASSERT_EQ(QueueText(0, 0, "c", nullptr, 0xFFFFFFFF, 0, 0.0f), 1);
  EXPECT_EQ(Engine.TextQueue.Last()->FontHandle, second);
  EXPECT_EQ(Engine.FontList.Index(), 0);
  Engine.FontList.Reset();
  ASSERT_EQ(QueueText(0, 0, "d", nullptr, 0xFFFFFFFF, 0, 0.0f), 1);
  EXPECT_EQ(Engine.TextQueue.Last()->FontHandle, first);

  // The bigger font measures wider: each text was measured with its own font.
  Engine.TextAlign = 1;
  ASSERT_EQ(QueueText(400, 0, "WW", first, 0xFFFFFFFF, 1, 0.0f), 1);
  const int firstX = Engine.TextQueue.Last()->X;
  ASSERT_EQ(QueueText(400, 0, "WW", second, 0xFFFFFFFF, 1, 0.0f), 1);
  EXPECT_LT(Engine.TextQueue.Last()->X, firstX);

  RunTextPass();
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
}

TEST_F(TextOverlayTest, MissingFontsNeitherQueueNorPileUp) {
  // A font record whose D3DX objects are missing (their creation failed): its text is measured
  // as 0 wide, and the pass drops it instead of keeping it queued frame after frame.
  Font* font = DefaultFont();
  ID3DXFont* savedFont = font->D3DFont;
  ID3DXSprite* savedSprite = font->D3DSprite;
  font->D3DFont = nullptr;
  font->D3DSprite = nullptr;
  Engine.TextAlign = 1;
  ASSERT_EQ(DrawText(300, 10, "unmeasured"), 1);
  EXPECT_EQ(Queued(0)->X, 300);
  EXPECT_EQ(Queued(0)->CentreOffset, 0);
  EXPECT_EQ(Ink(RunTextPass()).count, 0);
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  font->D3DFont = savedFont;
  font->D3DSprite = savedSprite;

  // No font at all: nothing could draw the text, so nothing is queued.
  Engine.FontList.ForEach([](Font& f) {
    SafeRelease(f.D3DFont);
    SafeRelease(f.D3DSprite);
  });
  Engine.FontList.Clear();
  EXPECT_EQ(DrawText(10, 10, "nowhere"), 0);
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
  RunTextPass();
}

TEST_F(TextOverlayTest, ExtremePositionsAndScalesSaturateInsteadOfOverflowing) {
  Engine.TextAlign = 2;
  Engine.TextScaleX = 1e30f;
  ASSERT_EQ(DrawText(0, 0, "wide"), 1);
  EXPECT_EQ(Queued(0)->X, INT32_MIN);
  EXPECT_EQ(Queued(0)->CentreOffset, INT32_MAX);
  Engine.TextScaleX = 1.0f;
  Engine.TextAlign = 1;
  ASSERT_EQ(DrawText(INT32_MAX, 0, "i"), 1);
  // In single precision INT32_MAX is 2^31 and a few pixels less rounds back to it.
  EXPECT_EQ(Queued(1)->X, INT32_MAX);
  RunTextPass();
  EXPECT_EQ(Engine.TextQueue.Count(), 0);
}

}  // namespace
