// Sprites: creation with the colour key, rotation and draw snapshots, and the sprite pass
// (order, blend, geometry, queue emptying), checked on presented pixels.
#include <gtest/gtest.h>

#include "platform/win32/com_object.h"
#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::LastFrame;
using engine_test::PixelAt;
using engine_test::Rgb;

// Forwards to a real D3DX sprite and counts the batch calls the pass makes.
class CountingSprite : public ComObject<ID3DXSprite> {
 public:
  explicit CountingSprite(ID3DXSprite* inner) : inner_(inner) {}
  ~CountingSprite() override { inner_->Release(); }
  int begins = 0, ends = 0, flushes = 0, draws = 0;

  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* d) override {
    return inner_->GetDevice(d);
  }
  HRESULT STDMETHODCALLTYPE GetTransform(D3DXMATRIX* m) override { return inner_->GetTransform(m); }
  HRESULT STDMETHODCALLTYPE SetTransform(const D3DXMATRIX* m) override {
    return inner_->SetTransform(m);
  }
  HRESULT STDMETHODCALLTYPE SetWorldViewRH(const D3DXMATRIX* w, const D3DXMATRIX* v) override {
    return inner_->SetWorldViewRH(w, v);
  }
  HRESULT STDMETHODCALLTYPE SetWorldViewLH(const D3DXMATRIX* w, const D3DXMATRIX* v) override {
    return inner_->SetWorldViewLH(w, v);
  }
  HRESULT STDMETHODCALLTYPE Begin(DWORD flags) override {
    ++begins;
    return inner_->Begin(flags);
  }
  HRESULT STDMETHODCALLTYPE Draw(LPDIRECT3DTEXTURE9 t, const RECT* r, const D3DXVECTOR3* c,
                                 const D3DXVECTOR3* p, D3DCOLOR colour) override {
    ++draws;
    return inner_->Draw(t, r, c, p, colour);
  }
  HRESULT STDMETHODCALLTYPE Flush() override {
    ++flushes;
    return inner_->Flush();
  }
  HRESULT STDMETHODCALLTYPE End() override {
    ++ends;
    return inner_->End();
  }
  HRESULT STDMETHODCALLTYPE OnLostDevice() override { return inner_->OnLostDevice(); }
  HRESULT STDMETHODCALLTYPE OnResetDevice() override { return inner_->OnResetDevice(); }

 private:
  ID3DXSprite* inner_;
};

class SpriteTest : public EngineTest {
 protected:
  // A 3 x 3 sprite of one opaque colour (no black texel, so the key changes nothing).
  Sprite* SolidSprite(uint32_t argb) {
    Texture* t = CreateTexture(3, 3, argb);
    EXPECT_NE(t, nullptr);
    return CreateSprite(t);
  }
  // A plus sign: colour in the centre and its four neighbours, opaque black in the corners.
  Sprite* PlusSprite(uint32_t argb) {
    Texture* t = CreateTexture(3, 3, 0xFF000000);
    EXPECT_NE(t, nullptr);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->D3DTexture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto texel = [&](int x, int y) -> uint32_t& {
      return *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch +
                                          4 * x);
    };
    texel(1, 0) = texel(0, 1) = texel(1, 1) = texel(2, 1) = texel(1, 2) = argb;
    t->D3DTexture->UnlockRect(0);
    return CreateSprite(t);
  }
  void RenderFrame() {
    RenderWorld();
    Flip();
  }
};

TEST_F(SpriteTest, CreateSpriteSetsItsFieldsAndKeysTheTexture) {
  Sprite* s = PlusSprite(0xFF00FF00);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(s->D3DSprite, nullptr);
  EXPECT_EQ(s->BeginFlags, static_cast<DWORD>(D3DXSPRITE_ALPHABLEND));
  EXPECT_EQ(s->Width, 3);
  EXPECT_EQ(s->Height, 3);
  EXPECT_FLOAT_EQ(s->Centre.x, 1.5f);
  EXPECT_FLOAT_EQ(s->Centre.y, 1.5f);
  EXPECT_FLOAT_EQ(s->Centre.z, 0.0f);
  EXPECT_FLOAT_EQ(s->Scale.x, 1.0f);
  EXPECT_FLOAT_EQ(s->Rotation, 0.0f);
  EXPECT_EQ(s->SourceBlend, static_cast<DWORD>(D3DBLEND_SRCALPHA));
  EXPECT_EQ(s->DestBlend, static_cast<DWORD>(D3DBLEND_INVSRCALPHA));
  // The shared texture itself now has transparent corners.
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(s->TextureHandle->D3DTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0u);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + 4), 0xFF00FF00u);
  s->TextureHandle->D3DTexture->UnlockRect(0);
  EXPECT_EQ(Engine.SpriteList.Current(), s);
}

TEST_F(SpriteTest, UnknownTextureOrFailedDeviceSpriteMakesNoSprite) {
  Texture* t = CreateTexture(3, 3, 0xFF000000);
  ASSERT_NE(t, nullptr);
  IDirect3DTexture9* original = t->D3DTexture;
  EXPECT_EQ(CreateSprite(reinterpret_cast<Texture*>(&original)), nullptr);
  EXPECT_EQ(CreateSprite(nullptr), nullptr);
  EXPECT_EQ(Engine.SpriteList.Count(), 0);
  EXPECT_EQ(t->D3DTexture, original);  // not keyed

  AutomationSetFault(AutomationFault::CreateSprite, true);
  EXPECT_EQ(CreateSprite(t), nullptr);
  AutomationSetFault(AutomationFault::CreateSprite, false);
  EXPECT_EQ(Engine.SpriteList.Count(), 0);
  RenderFrame();  // the pass meets no sprite without its device sprite
}

TEST_F(SpriteTest, RotationAndDrawsAreSnapshotsPerCommand) {
  Sprite* s = SolidSprite(0xFFFF0000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(RotateSprite(s, 90.0f), 1);
  EXPECT_EQ(s->Rotation, 90.0f * 0.017453f);
  EXPECT_NEAR(s->Rotation, 1.57077f, 1e-6);
  EXPECT_EQ(DrawSprite(s, 5, 6), 1);
  EXPECT_EQ(RotateSprite(s, 45.0f), 1);
  EXPECT_EQ(DrawSpriteWithAlpha(s, -7, 8, 300), 1);
  EXPECT_EQ(DrawSpriteWithAlpha(s, 0, 0, 0), 1);
  ASSERT_EQ(Engine.SpriteDrawQueue.Count(), 3);
  SpriteDrawCommand* first = Engine.SpriteDrawQueue.First();
  SpriteDrawCommand* second = Engine.SpriteDrawQueue.Next();
  SpriteDrawCommand* third = Engine.SpriteDrawQueue.Next();
  EXPECT_EQ(first->SpriteHandle, s);
  EXPECT_FLOAT_EQ(first->Rotation, 90.0f * 0.017453f);
  EXPECT_EQ(first->Alpha, 255u);
  EXPECT_FLOAT_EQ(first->X, 5.0f);
  EXPECT_FLOAT_EQ(second->Rotation, 45.0f * 0.017453f);
  EXPECT_EQ(second->Alpha, 44u);
  EXPECT_FLOAT_EQ(second->X, -7.0f);
  EXPECT_EQ(third->Alpha, 0u);
  EXPECT_EQ(second->SourceBlend, static_cast<DWORD>(D3DBLEND_SRCALPHA));
  EXPECT_FLOAT_EQ(second->Scale.y, 1.0f);

  EXPECT_EQ(RotateSprite(nullptr, 1.0f), 0);
  EXPECT_EQ(DrawSprite(reinterpret_cast<Sprite*>(first), 0, 0), 0);
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 3);
}

TEST_F(SpriteTest, PassDrawsAtTheTopLeftCornerAndEmptiesTheQueue) {
  Sprite* s = PlusSprite(0xFF00FF00);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(DrawSprite(s, 10, 20), 1);
  RenderFrame();
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 0);
  AutomationFrame frame = LastFrame();
  for (int y = 18; y < 26; ++y) {
    for (int x = 8; x < 16; ++x) {
      const bool plus = (x == 11 && y >= 20 && y <= 22) || (y == 21 && x >= 10 && x <= 12);
      EXPECT_EQ(Rgb(PixelAt(frame, x, y)), plus ? 0x00FF00u : 0u) << x << "," << y;
    }
  }
}

TEST_F(SpriteTest, RotationTurnsAboutTheCentreClockwise) {
  // A 3 x 3 texture with one red texel at the top middle; turned 90 degrees clockwise it shows
  // at the right middle.
  Texture* t = CreateTexture(3, 3, 0xFF0000FF);
  ASSERT_NE(t, nullptr);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(t->D3DTexture->LockRect(0, &locked, nullptr, 0), D3D_OK);
  *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + 4) = 0xFFFF0000u;
  t->D3DTexture->UnlockRect(0);
  Sprite* s = CreateSprite(t);
  ASSERT_NE(s, nullptr);
  RotateSprite(s, 90.0f);
  DrawSprite(s, 100, 100);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 102, 101)), 0xFF0000u);
  EXPECT_EQ(Rgb(PixelAt(frame, 101, 100)), 0x0000FFu);
  EXPECT_EQ(Rgb(PixelAt(frame, 101, 101)), 0x0000FFu);
}

TEST_F(SpriteTest, LaterSpriteIsDrawnOverEarlierWhateverTheQueueOrder) {
  Sprite* red = SolidSprite(0xFFFF0000);
  Sprite* blue = SolidSprite(0xFF0000FF);
  ASSERT_NE(red, nullptr);
  ASSERT_NE(blue, nullptr);
  DrawSprite(blue, 50, 50);  // queued early, for the later sprite
  DrawSprite(red, 50, 50);   // queued late, for the earlier sprite
  DrawSprite(red, 60, 60);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 51, 51)), 0x0000FFu);
  EXPECT_EQ(Rgb(PixelAt(frame, 61, 61)), 0xFF0000u);
}

TEST_F(SpriteTest, AlphaBlendsWithTheBackBufferAndZeroAlphaDrawsNothing) {
  Sprite* red = SolidSprite(0xFFFF0000);
  Sprite* white = SolidSprite(0xFFFFFFFF);
  ASSERT_NE(red, nullptr);
  ASSERT_NE(white, nullptr);
  DrawSprite(red, 30, 30);
  DrawSpriteWithAlpha(white, 30, 30, 0);
  DrawSprite(red, 40, 40);
  DrawSpriteWithAlpha(white, 40, 40, 128);
  RenderFrame();
  AutomationFrame frame = LastFrame();
  EXPECT_EQ(Rgb(PixelAt(frame, 31, 31)), 0xFF0000u);
  const uint32_t blended = Rgb(PixelAt(frame, 41, 41));
  EXPECT_EQ(blended >> 16, 0xFFu);
  EXPECT_NEAR(static_cast<int>((blended >> 8) & 0xFF), 128, 2);
  EXPECT_NEAR(static_cast<int>(blended & 0xFF), 128, 2);
}

TEST_F(SpriteTest, EmptyFrameStillBeginsAndEndsEverySpriteOnce) {
  Sprite* a = SolidSprite(0xFFFF0000);
  Sprite* b = SolidSprite(0xFF00FF00);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  auto* spyA = new CountingSprite(a->D3DSprite);
  auto* spyB = new CountingSprite(b->D3DSprite);
  a->D3DSprite = spyA;
  b->D3DSprite = spyB;
  RenderFrame();
  EXPECT_EQ(spyA->begins, 1);
  EXPECT_EQ(spyA->ends, 1);
  EXPECT_EQ(spyB->begins, 1);
  EXPECT_EQ(spyB->ends, 1);
  EXPECT_EQ(spyA->draws + spyB->draws, 0);

  // With commands: one flush per examined command and sprite, one draw per own command.
  DrawSprite(a, 1, 1);
  DrawSprite(b, 5, 5);
  DrawSprite(a, 9, 9);
  RenderFrame();
  EXPECT_EQ(spyA->draws, 2);
  EXPECT_EQ(spyA->flushes, 3);  // all three commands examined by the first sprite
  EXPECT_EQ(spyB->draws, 1);
  EXPECT_EQ(spyB->flushes, 1);  // only its own command is left for the second
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 0);
}

TEST_F(SpriteTest, LostDeviceKeepsCommandsUntilTheFrameThatDraws) {
  Sprite* s = SolidSprite(0xFF00FF00);
  ASSERT_NE(s, nullptr);
  AutomationLoseDevice(Engine.Device);
  RenderFrame();  // Present fails: the device is now unusable
  DrawSprite(s, 20, 20);
  RenderFrame();
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 1);
  AutomationMakeDeviceResettable(Engine.Device);
  RenderFrame();  // Flip's reset succeeds
  ASSERT_EQ(Engine.PresentResult, 0);
  RenderFrame();
  EXPECT_EQ(Engine.SpriteDrawQueue.Count(), 0);
  EXPECT_EQ(Rgb(PixelAt(LastFrame(), 21, 21)), 0x00FF00u);
}

}  // namespace
