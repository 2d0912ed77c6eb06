// ID3DXFont on the real device: measuring with DT_CALCRECT, placement with and without a
// rectangle, clipping, colour modulation of glyph coverage, the glyph cache textures, creation.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "d3dx9_test_support.h"
#include "platform/text/font_service.h"

namespace {

using d3dx_test::DeviceTest;
using d3dx_test::FindInk;
using d3dx_test::InkBox;

// The engine's default font: empty face (sans-serif), 16-pixel cell, semibold.
D3DXFONT_DESCA DefaultDesc() {
  D3DXFONT_DESCA desc = {};
  desc.Height = 16;
  desc.Weight = 600;
  desc.CharSet = 1;
  desc.OutputPrecision = 4;
  return desc;
}

class FontTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    const D3DXFONT_DESCA desc = DefaultDesc();
    ASSERT_EQ(D3DXCreateFontIndirectA(device_, &desc, &font_), D3D_OK);
    ASSERT_NE(font_, nullptr);
    ASSERT_EQ(D3DXCreateSprite(device_, &sprite_), D3D_OK);
  }
  void TearDown() override {
    if (font_) {
      EXPECT_EQ(font_->Release(), 0u);
    }
    if (sprite_) {
      EXPECT_EQ(sprite_->Release(), 0u);
    }
    font_ = nullptr;
    sprite_ = nullptr;
    DeviceTest::TearDown();
  }

  RECT Measure(const char* text, DWORD format = DT_LEFT) {
    RECT r = {0, 0, 0, 0};
    last_height_ = font_->DrawTextA(nullptr, text, -1, &r, format | DT_CALCRECT, 0xFF000000);
    return r;
  }

  // Draws through our sprite translated to (x, y), NULL rectangle; returns the pixels.
  std::vector<uint32_t> DrawAt(float x, float y, const char* text, DWORD format,
                               D3DCOLOR colour = 0xFFFFFFFF) {
    Clear(0xFF000000);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(sprite_->Begin(D3DXSPRITE_ALPHABLEND), D3D_OK);
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, 0);
    sprite_->SetTransform(&m);
    drawn_height_ = font_->DrawTextA(sprite_, text, -1, nullptr, format, colour);
    EXPECT_EQ(sprite_->End(), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    return ReadBackBuffer();
  }

  // Draws without a sprite into a rectangle.
  std::vector<uint32_t> DrawInRect(RECT rect, const char* text, DWORD format,
                                   D3DCOLOR colour = 0xFFFFFFFF) {
    Clear(0xFF000000);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    drawn_height_ = font_->DrawTextA(nullptr, text, -1, &rect, format, colour);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    return ReadBackBuffer();
  }

  InkBox Ink(const std::vector<uint32_t>& pixels) { return FindInk(pixels, kWidth, kHeight, 0); }

  ID3DXFont* font_ = nullptr;
  ID3DXSprite* sprite_ = nullptr;
  int last_height_ = 0;
  int drawn_height_ = 0;
};

TEST_F(FontTest, CalcRectGivesTextWidthAndLineHeight) {
  const RECT r = Measure("Kestrelwing");
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.bottom, 16);  // a 16-pixel cell
  EXPECT_EQ(last_height_, 16);
  EXPECT_GT(r.right, 40);
  EXPECT_LT(r.right, 140);

  // The width is the sum of the advances, as the font service lays the text out.
  text::FontRequest request;
  request.height = 16;
  request.weight = 600;
  EXPECT_EQ(r.right, text::OpenFace(request)->MeasureCp1252("Kestrelwing", -1));
  EXPECT_EQ(Measure("ab").right, Measure("a").right + Measure("b").right);
  EXPECT_GT(Measure("WWWW").right, Measure("iiii").right);

  // Lines: two lines are two cells high and as wide as the wider one; SINGLELINE keeps one.
  const RECT two = Measure("ab\nWWWW");
  EXPECT_EQ(two.bottom, 32);
  EXPECT_EQ(last_height_, 32);
  EXPECT_EQ(two.right, Measure("WWWW").right);
  EXPECT_EQ(Measure("ab\nWWWW", DT_SINGLELINE).bottom, 16);

  // The rectangle's origin is kept; only right and bottom move. Measuring draws nothing.
  RECT moved = {30, 40, 0, 0};
  Clear(0xFF000000);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  EXPECT_EQ(font_->DrawTextA(nullptr, "ab", -1, &moved, DT_CALCRECT, 0xFFFFFFFF), 16);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  EXPECT_EQ(moved.left, 30);
  EXPECT_EQ(moved.right, 30 + Measure("ab").right);
  EXPECT_EQ(moved.bottom, 56);
  EXPECT_TRUE(Ink(ReadBackBuffer()).Empty());

  // A count limits the text; bad input gives 0.
  RECT counted = {0, 0, 0, 0};
  font_->DrawTextA(nullptr, "abWWW", 2, &counted, DT_CALCRECT, 0);
  EXPECT_EQ(counted.right, Measure("ab").right);
  EXPECT_EQ(font_->DrawTextA(nullptr, nullptr, -1, &counted, DT_CALCRECT, 0), 0);
  EXPECT_EQ(font_->DrawTextA(nullptr, "ab", -1, nullptr, DT_CALCRECT, 0), 0);
}

TEST_F(FontTest, NullRectanglePlacesTextAboutTheOriginOfTheSpriteTransform) {
  const char* text = "TileB";
  const int width = Measure(text).right;
  ASSERT_GT(width, 20);
  ASSERT_LT(width, 75);  // right-aligned and centred copies must stay on screen

  const InkBox left = Ink(DrawAt(80, 50, text, DT_LEFT));
  ASSERT_FALSE(left.Empty());
  EXPECT_EQ(drawn_height_, 16);
  EXPECT_GE(left.left, 80);  // starts at the origin
  EXPECT_LE(left.left, 82);
  EXPECT_LE(left.right, 80 + width);
  EXPECT_GE(left.top, 50);
  EXPECT_LT(left.bottom, 66);

  // Right-aligned text ends at the origin; centred text is centred on it. Same pixels, moved.
  const auto rightPixels = DrawAt(80, 50, text, DT_RIGHT);
  const InkBox right = Ink(rightPixels);
  EXPECT_EQ(right.left, left.left - width);
  EXPECT_EQ(right.right, left.right - width);
  EXPECT_EQ(right.count, left.count);
  EXPECT_LT(right.right, 80);
  const InkBox centre = Ink(DrawAt(80, 50, text, DT_CENTER));
  const int shift = width / 2 + (width % 2);  // the left edge lands on floor(-width / 2)
  EXPECT_EQ(centre.left, left.left - shift);
  EXPECT_EQ(centre.count, left.count);

  // Nothing is clipped without a rectangle, even far left of the origin.
  const InkBox far = Ink(DrawAt(5, 50, text, DT_RIGHT));
  EXPECT_EQ(far.right, left.right - width - 75);
}

TEST_F(FontTest, RectangleAlignsAndClipsUnlessNoClip) {
  const char* text = "WWWWW";
  const int width = Measure(text).right;
  const RECT box = {20, 30, 20 + width + 40, 30 + 16};
  const InkBox left = Ink(DrawInRect(box, text, DT_LEFT));
  const InkBox right = Ink(DrawInRect(box, text, DT_RIGHT));
  ASSERT_FALSE(left.Empty());
  EXPECT_EQ(right.left, left.left + 40);  // right edge of the text on the box's right edge
  EXPECT_EQ(right.count, left.count);
  const InkBox centre = Ink(DrawInRect(box, text, DT_CENTER));
  EXPECT_EQ(centre.left, left.left + 20);

  // Half the box: clipped at its right edge; DT_NOCLIP draws it all.
  const RECT narrow = {20, 30, 20 + width / 2, 30 + 16};
  const InkBox clipped = Ink(DrawInRect(narrow, text, DT_LEFT));
  EXPECT_LT(clipped.right, narrow.right);
  EXPECT_LT(clipped.count, left.count);
  const InkBox unclipped = Ink(DrawInRect(narrow, text, DT_LEFT | DT_NOCLIP));
  EXPECT_EQ(unclipped.count, left.count);

  // DT_BOTTOM puts the line at the bottom of a tall box.
  const RECT tall = {20, 30, 20 + width, 30 + 64};
  const InkBox bottom = Ink(DrawInRect(tall, text, DT_BOTTOM | DT_SINGLELINE));
  EXPECT_EQ(bottom.top, left.top + 48);
}

TEST_F(FontTest, ColourModulatesGlyphCoverage) {
  const RECT box = {10, 10, 150, 40};
  const auto green = DrawInRect(box, "WM", DT_LEFT, 0xFF00FF00);
  uint32_t maxGreen = 0;
  int inked = 0;
  for (uint32_t p : green) {
    if (p == 0) continue;
    ++inked;
    EXPECT_EQ(p & 0xFF00FFu, 0u) << "only green may appear";
    maxGreen = std::max(maxGreen, (p >> 8) & 0xFF);
  }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(maxGreen, 0xFFu);  // full coverage gives the full colour

  // Half alpha halves what reaches the black target.
  const auto half = DrawInRect(box, "WM", DT_LEFT, 0x80FF0000);
  uint32_t maxRed = 0;
  for (uint32_t p : half) {
    EXPECT_EQ(p & 0x00FFFFu, 0u);
    maxRed = std::max(maxRed, (p >> 16) & 0xFF);
  }
  EXPECT_NEAR((int)maxRed, 0x80, 1);
}

TEST_F(FontTest, GlyphsLiveInManagedArgbTexturesAsWhiteCoverage) {
  IDirect3DTexture9* texture = nullptr;
  RECT blackBox = {};
  POINT advance = {};
  ASSERT_EQ(font_->GetGlyphData('W', &texture, &blackBox, &advance), D3D_OK);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(advance.x, Measure("W").right);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(texture->LockRect(0, &locked, &blackBox, D3DLOCK_READONLY), D3D_OK);
  int opaque = 0;
  for (LONG y = 0; y < blackBox.bottom - blackBox.top; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) +
                                                        y * locked.Pitch);
    for (LONG x = 0; x < blackBox.right - blackBox.left; ++x) {
      EXPECT_EQ(row[x] & 0xFFFFFFu, 0xFFFFFFu);
      if ((row[x] >> 24) == 0xFF) ++opaque;
    }
  }
  texture->UnlockRect(0);
  texture->Release();
  EXPECT_GT(opaque, 5);

  EXPECT_EQ(font_->GetGlyphData(0x1234, &texture, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(FontTest, CreationDescriptionAndDeviceLoss) {
  D3DXFONT_DESCA desc;
  ASSERT_EQ(font_->GetDescA(&desc), D3D_OK);
  EXPECT_EQ(desc.Height, 16);
  EXPECT_EQ(desc.Weight, 600u);
  EXPECT_EQ(desc.FaceName[0], '\0');
  IDirect3DDevice9* got = nullptr;
  ASSERT_EQ(font_->GetDevice(&got), D3D_OK);
  EXPECT_EQ(got, device_);
  got->Release();

  ID3DXFont* other = nullptr;
  ASSERT_EQ(D3DXCreateFontA(device_, -20, 0, 400, 1, FALSE, 1, 0, 0, 0,
                            "A face name that is far longer than thirty-one characters", &other),
            D3D_OK);
  ASSERT_EQ(other->GetDescA(&desc), D3D_OK);
  EXPECT_EQ(desc.Height, -20);
  EXPECT_EQ(std::strlen(desc.FaceName), (size_t)LF_FACESIZE - 1);
  EXPECT_GT(Measure("x").right, 0);
  other->Release();

  ID3DXFont* none = reinterpret_cast<ID3DXFont*>(1);
  EXPECT_EQ(D3DXCreateFontIndirectA(device_, nullptr, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
  const D3DXFONT_DESCA d = DefaultDesc();
  EXPECT_EQ(D3DXCreateFontIndirectA(nullptr, &d, &none), D3DERR_INVALIDCALL);
  AutomationSetFault(AutomationFault::CreateFont, true);
  none = reinterpret_cast<ID3DXFont*>(1);
  EXPECT_TRUE(FAILED(D3DXCreateFontIndirectA(device_, &d, &none)));
  EXPECT_EQ(none, nullptr);
  AutomationSetFault(AutomationFault::CreateFont, false);

  // Without its internal sprite a font still measures and draws through the caller's sprite.
  AutomationSetFault(AutomationFault::CreateSprite, true);
  ID3DXFont* spriteless = nullptr;
  ASSERT_EQ(D3DXCreateFontIndirectA(device_, &d, &spriteless), D3D_OK);
  AutomationSetFault(AutomationFault::CreateSprite, false);
  std::swap(spriteless, font_);
  EXPECT_EQ(Measure("ab").bottom, 16);
  EXPECT_FALSE(Ink(DrawAt(20, 20, "ab", DT_LEFT)).Empty());
  const RECT somewhere = {10, 10, 150, 40};
  EXPECT_EQ(font_->DrawTextA(nullptr, "ab", -1, const_cast<RECT*>(&somewhere), DT_LEFT, 0xFFFFFFFF),
            0);
  std::swap(spriteless, font_);
  EXPECT_EQ(spriteless->Release(), 0u);

  // Text keeps drawing across a lost/reset notification.
  EXPECT_EQ(font_->OnLostDevice(), D3D_OK);
  EXPECT_EQ(font_->OnResetDevice(), D3D_OK);
  const RECT box = {10, 10, 150, 40};
  EXPECT_FALSE(Ink(DrawInRect(box, "Again", DT_LEFT)).Empty());
  EXPECT_EQ(drawn_height_, 16);
}

TEST_F(FontTest, GlyphsThatFindNoCacheTextureAreRetriedLater) {
  // While textures cannot be made, text still measures but draws nothing; afterwards it draws.
  const int width = Measure("Retry").right;
  ID3DXFont* fresh = nullptr;
  const D3DXFONT_DESCA desc = DefaultDesc();
  ASSERT_EQ(D3DXCreateFontIndirectA(device_, &desc, &fresh), D3D_OK);
  std::swap(fresh, font_);
  AutomationSetFault(AutomationFault::CreateTexture, true);
  EXPECT_EQ(Measure("Retry").right, width);
  const RECT box = {10, 10, 150, 40};
  EXPECT_TRUE(Ink(DrawInRect(box, "Retry", DT_LEFT)).Empty());
  AutomationSetFault(AutomationFault::CreateTexture, false);
  EXPECT_FALSE(Ink(DrawInRect(box, "Retry", DT_LEFT)).Empty());
  std::swap(fresh, font_);
  EXPECT_EQ(fresh->Release(), 0u);
}

}  // namespace
