// ID3DXSprite on the real device: where quads land (one texel per pixel at integer positions,
// rotation and scale as the transform says), colour modulation, the state Begin sets and End
// restores, the state a Flush draws with, and the misuse codes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "d3dx9_test_support.h"

namespace {

using d3dx_test::DeviceTest;
using d3dx_test::FindInk;

// Nine distinct opaque colours, row by row.
const std::vector<uint32_t> kNineTexels = {
    0xFF102030, 0xFF405060, 0xFF708090,  //
    0xFFA0B0C0, 0xFFD0E0F0, 0xFF123456,  //
    0xFF654321, 0xFFABCDEF, 0xFFFEDCBA,
};
const float kQuarterTurn = std::acos(-1.0f) / 2.0f;

uint32_t Channel(uint32_t rgb, int shift) {
  return (rgb >> shift) & 0xFF;
}

class SpriteTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(D3DXCreateSprite(device_, &sprite_), D3D_OK);
    ASSERT_NE(sprite_, nullptr);
    texture_ = MakeTexture(3, 3, kNineTexels);
    ASSERT_NE(texture_, nullptr);
  }
  void TearDown() override {
    SafeRelease(texture_);
    if (sprite_) {
      EXPECT_EQ(sprite_->Release(), 0u);
    }
    sprite_ = nullptr;
    DeviceTest::TearDown();
  }

  // Draws the 3 x 3 texture the way the engine's sprite pass does: centre (1.5, 1.5), the
  // transform carrying the scale, the rotation and the centre's screen position.
  void DrawEngineStyle(float x, float y, float rotation, float scale,
                       D3DCOLOR colour = 0xFFFFFFFF) {
    const D3DXVECTOR2 scaling(scale, scale);
    const D3DXVECTOR2 translation(x + 1.5f * scale, y + 1.5f * scale);
    D3DXMATRIX m;
    D3DXMatrixTransformation2D(&m, nullptr, 0.0f, &scaling, nullptr, rotation, &translation);
    ASSERT_EQ(sprite_->SetTransform(&m), D3D_OK);
    const D3DXVECTOR3 centre(1.5f, 1.5f, 0.0f);
    ASSERT_EQ(sprite_->Draw(texture_, nullptr, &centre, nullptr, colour), D3D_OK);
  }

  // One scene on a cleared back buffer, one sprite batch around `draw`; returns the pixels.
  std::vector<uint32_t> Render(const std::function<void()>& draw, D3DCOLOR background = 0xFF000000,
                               DWORD flags = D3DXSPRITE_ALPHABLEND) {
    Clear(background);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(sprite_->Begin(flags), D3D_OK);
    D3DXMATRIX identity;
    sprite_->SetTransform(D3DXMatrixIdentity(&identity));  // the transform outlives a batch
    draw();
    EXPECT_EQ(sprite_->End(), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    return ReadBackBuffer();
  }

  ID3DXSprite* sprite_ = nullptr;
  IDirect3DTexture9* texture_ = nullptr;
};

TEST_F(SpriteTest, UnrotatedSpriteCoversExactlyItsTexelsAtIntegerPositions) {
  // Engine style: centre plus transform. (10, 20) covers (10, 20)-(13, 23), texels unchanged.
  auto pixels = Render([&] { DrawEngineStyle(10, 20, 0.0f, 1.0f); });
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(At(pixels, 10 + x, 20 + y), kNineTexels[y * 3 + x] & 0xFFFFFF)
          << "texel " << x << "," << y;
  auto ink = FindInk(pixels, kWidth, kHeight, 0);
  EXPECT_EQ(ink.count, 9);
  EXPECT_EQ(ink.left, 10);
  EXPECT_EQ(ink.top, 20);
  EXPECT_EQ(ink.right, 12);
  EXPECT_EQ(ink.bottom, 22);

  // Position argument, no centre, identity transform: same texels at (40, 50).
  pixels = Render([&] {
    const D3DXVECTOR3 position(40, 50, 0);
    ASSERT_EQ(sprite_->Draw(texture_, nullptr, nullptr, &position, 0xFFFFFFFF), D3D_OK);
  });
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(At(pixels, 40 + x, 50 + y), kNineTexels[y * 3 + x] & 0xFFFFFF);
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, 9);

  // A source rectangle draws only that part of the texture.
  pixels = Render([&] {
    const RECT src = {1, 1, 3, 3};
    const D3DXVECTOR3 position(60, 70, 0);
    ASSERT_EQ(sprite_->Draw(texture_, &src, nullptr, &position, 0xFFFFFFFF), D3D_OK);
  });
  EXPECT_EQ(At(pixels, 60, 70), kNineTexels[4] & 0xFFFFFF);
  EXPECT_EQ(At(pixels, 61, 70), kNineTexels[5] & 0xFFFFFF);
  EXPECT_EQ(At(pixels, 60, 71), kNineTexels[7] & 0xFFFFFF);
  EXPECT_EQ(At(pixels, 61, 71), kNineTexels[8] & 0xFFFFFF);
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, 4);
}

TEST_F(SpriteTest, RotationAndScaleLandWhereTheTransformSays) {
  // A quarter turn clockwise about the centre: texel (tx, ty) lands on pixel (12 - ty, 20 + tx).
  auto pixels = Render([&] { DrawEngineStyle(10, 20, kQuarterTurn, 1.0f); });
  for (int ty = 0; ty < 3; ++ty)
    for (int tx = 0; tx < 3; ++tx)
      EXPECT_EQ(At(pixels, 12 - ty, 20 + tx), kNineTexels[ty * 3 + tx] & 0xFFFFFF)
          << "texel " << tx << "," << ty;
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, 9);

  // Scale 2 of a uniform texture: exactly the 6 x 6 block from (30, 40).
  IDirect3DTexture9* solid = MakeTexture(3, 3, std::vector<uint32_t>(9, 0xFF3366CC));
  ASSERT_NE(solid, nullptr);
  std::swap(solid, texture_);
  pixels = Render([&] { DrawEngineStyle(30, 40, 0.0f, 2.0f); });
  std::swap(solid, texture_);
  solid->Release();
  auto ink = FindInk(pixels, kWidth, kHeight, 0);
  EXPECT_EQ(ink.left, 30);
  EXPECT_EQ(ink.top, 40);
  EXPECT_EQ(ink.right, 35);
  EXPECT_EQ(ink.bottom, 45);
  EXPECT_EQ(ink.count, 36);
  EXPECT_EQ(At(pixels, 32, 43), 0x3366CCu);
}

TEST_F(SpriteTest, ColourModulatesTexelsAndAlphaBlendsOverTheTarget) {
  const std::vector<uint32_t> white(9, 0xFFFFFFFF);
  IDirect3DTexture9* whiteTexture = MakeTexture(3, 3, white);
  ASSERT_NE(whiteTexture, nullptr);
  std::swap(whiteTexture, texture_);
  auto pixels = Render([&] { DrawEngineStyle(10, 10, 0.0f, 1.0f, 0xFF00FF00); });
  EXPECT_EQ(At(pixels, 11, 11), 0x00FF00u);

  // Half-transparent red over white: SRCALPHA / INVSRCALPHA.
  pixels = Render([&] { DrawEngineStyle(10, 10, 0.0f, 1.0f, 0x80FF0000); }, 0xFFFFFFFF);
  const uint32_t p = At(pixels, 11, 11);
  EXPECT_EQ(Channel(p, 16), 0xFFu);
  EXPECT_NEAR((int)Channel(p, 8), 0x7F, 1);
  EXPECT_NEAR((int)Channel(p, 0), 0x7F, 1);

  // Alpha 0 fails the alpha test: nothing changes.
  pixels = Render([&] { DrawEngineStyle(10, 10, 0.0f, 1.0f, 0x00FF0000); }, 0xFF0000FF);
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0x0000FF).count, 0);
  std::swap(whiteTexture, texture_);
  whiteTexture->Release();
}

TEST_F(SpriteTest, DrawTakesTheTransformOfItsCallAndFlushTheStateOfTheFlush) {
  auto pixels = Render([&] {
    D3DXMATRIX first, second;
    D3DXMatrixTranslation(&first, 5, 5, 0);
    D3DXMatrixTranslation(&second, 100, 100, 0);
    sprite_->SetTransform(&first);
    sprite_->Draw(texture_, nullptr, nullptr, nullptr, 0xFFFFFFFF);
    sprite_->SetTransform(&second);  // after the Draw: must not move the queued quad
    D3DXMATRIX back;
    sprite_->GetTransform(&back);
    EXPECT_EQ(back._41, 100.0f);
  });
  EXPECT_EQ(At(pixels, 5, 5), kNineTexels[0] & 0xFFFFFF);
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, 9);

  // Blend factors changed between Draw and Flush apply to that flush: ONE / ZERO replaces the
  // white background with half-transparent red instead of mixing it.
  const std::vector<uint32_t> white(9, 0xFFFFFFFF);
  IDirect3DTexture9* whiteTexture = MakeTexture(3, 3, white);
  ASSERT_NE(whiteTexture, nullptr);
  pixels = Render(
      [&] {
        const D3DXVECTOR3 a(10, 10, 0), b(20, 10, 0);
        sprite_->Draw(whiteTexture, nullptr, nullptr, &a, 0x80FF0000);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        EXPECT_EQ(sprite_->Flush(), D3D_OK);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        sprite_->Draw(whiteTexture, nullptr, nullptr, &b, 0x80FF0000);
        EXPECT_EQ(sprite_->Flush(), D3D_OK);
        EXPECT_EQ(sprite_->Flush(), D3D_OK);  // empty: fine, draws nothing
      },
      0xFFFFFFFF);
  whiteTexture->Release();
  EXPECT_EQ(At(pixels, 11, 11), 0xFF0000u);
  EXPECT_EQ(Channel(At(pixels, 21, 11), 16), 0xFFu);
  EXPECT_NEAR((int)Channel(At(pixels, 21, 11), 8), 0x7F, 1);
}

// Every state the sprite may touch, read through the device.
struct StateSnapshot {
  std::vector<DWORD> values;
  D3DMATRIX world, view, projection;
  IDirect3DBaseTexture9* texture = nullptr;

  static StateSnapshot Take(IDirect3DDevice9* d) {
    StateSnapshot s;
    const D3DRENDERSTATETYPE rs[] = {D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,        D3DRS_DESTBLEND,
                                     D3DRS_BLENDOP,          D3DRS_ALPHATESTENABLE, D3DRS_ALPHAFUNC,
                                     D3DRS_ALPHAREF,         D3DRS_CULLMODE,        D3DRS_LIGHTING,
                                     D3DRS_ZENABLE,          D3DRS_FOGENABLE,       D3DRS_FILLMODE};
    for (auto r : rs) {
      DWORD v = 0xDEADBEEF;
      d->GetRenderState(r, &v);
      s.values.push_back(v);
    }
    const D3DTEXTURESTAGESTATETYPE ts[] = {D3DTSS_COLOROP,      D3DTSS_COLORARG1, D3DTSS_COLORARG2,
                                           D3DTSS_ALPHAOP,      D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2,
                                           D3DTSS_TEXCOORDINDEX};
    for (DWORD stage = 0; stage < 2; ++stage)
      for (auto t : ts) {
        DWORD v = 0xDEADBEEF;
        d->GetTextureStageState(stage, t, &v);
        s.values.push_back(v);
      }
    const D3DSAMPLERSTATETYPE ss[] = {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MAGFILTER,
                                      D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER};
    for (auto t : ss) {
      DWORD v = 0xDEADBEEF;
      d->GetSamplerState(0, t, &v);
      s.values.push_back(v);
    }
    DWORD fvf = 0;
    d->GetFVF(&fvf);
    s.values.push_back(fvf);
    d->GetTransform(D3DTS_WORLD, &s.world);
    d->GetTransform(D3DTS_VIEW, &s.view);
    d->GetTransform(D3DTS_PROJECTION, &s.projection);
    d->GetTexture(0, &s.texture);
    if (s.texture) s.texture->Release();  // identity is all that is compared
    return s;
  }
};

void ExpectSameMatrix(const D3DMATRIX& a, const D3DMATRIX& b) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(a.m[r][c], b.m[r][c]);
}

TEST_F(SpriteTest, BeginSetsTheDocumentedStateAndEndRestoresWhatWasThere) {
  // A deliberately unusual state.
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
  device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_LESS);
  device_->SetRenderState(D3DRS_ALPHAREF, 77);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  device_->SetRenderState(D3DRS_LIGHTING, TRUE);
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  D3DXMATRIX world, view, projection;
  D3DXMatrixTranslation(&world, 1, 2, 3);
  D3DXMatrixRotationY(&view, 0.5f);
  D3DXMatrixPerspectiveFovLH(&projection, 1.0f, 1.5f, 1.0f, 50.0f);
  device_->SetTransform(D3DTS_WORLD, &world);
  device_->SetTransform(D3DTS_VIEW, &view);
  device_->SetTransform(D3DTS_PROJECTION, &projection);
  IDirect3DTexture9* other = MakeTexture(1, 1, {0xFFFFFFFF});
  device_->SetTexture(0, other);
  const StateSnapshot before = StateSnapshot::Take(device_);

  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ASSERT_EQ(sprite_->Begin(D3DXSPRITE_ALPHABLEND), D3D_OK);
  auto get = [&](D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    device_->GetRenderState(s, &v);
    return v;
  };
  auto stage = [&](DWORD n, D3DTEXTURESTAGESTATETYPE s) {
    DWORD v = 0;
    device_->GetTextureStageState(n, s, &v);
    return v;
  };
  auto sampler = [&](D3DSAMPLERSTATETYPE s) {
    DWORD v = 0;
    device_->GetSamplerState(0, s, &v);
    return v;
  };
  EXPECT_EQ(get(D3DRS_ALPHABLENDENABLE), (DWORD)TRUE);
  EXPECT_EQ(get(D3DRS_SRCBLEND), (DWORD)D3DBLEND_SRCALPHA);
  EXPECT_EQ(get(D3DRS_DESTBLEND), (DWORD)D3DBLEND_INVSRCALPHA);
  EXPECT_EQ(get(D3DRS_ALPHATESTENABLE), (DWORD)TRUE);
  EXPECT_EQ(get(D3DRS_ALPHAFUNC), (DWORD)D3DCMP_GREATER);
  EXPECT_EQ(get(D3DRS_ALPHAREF), 0u);
  EXPECT_EQ(get(D3DRS_CULLMODE), (DWORD)D3DCULL_NONE);
  EXPECT_EQ(get(D3DRS_LIGHTING), (DWORD)FALSE);
  EXPECT_EQ(stage(0, D3DTSS_COLOROP), (DWORD)D3DTOP_MODULATE);
  EXPECT_EQ(stage(0, D3DTSS_COLORARG1), (DWORD)D3DTA_TEXTURE);
  EXPECT_EQ(stage(0, D3DTSS_COLORARG2), (DWORD)D3DTA_DIFFUSE);
  EXPECT_EQ(stage(0, D3DTSS_ALPHAOP), (DWORD)D3DTOP_MODULATE);
  EXPECT_EQ(stage(0, D3DTSS_ALPHAARG1), (DWORD)D3DTA_TEXTURE);
  EXPECT_EQ(stage(0, D3DTSS_ALPHAARG2), (DWORD)D3DTA_DIFFUSE);
  EXPECT_EQ(stage(1, D3DTSS_COLOROP), (DWORD)D3DTOP_DISABLE);
  EXPECT_EQ(stage(1, D3DTSS_ALPHAOP), (DWORD)D3DTOP_DISABLE);
  EXPECT_EQ(sampler(D3DSAMP_ADDRESSU), (DWORD)D3DTADDRESS_CLAMP);
  EXPECT_EQ(sampler(D3DSAMP_ADDRESSV), (DWORD)D3DTADDRESS_CLAMP);
  EXPECT_EQ(sampler(D3DSAMP_MAGFILTER), (DWORD)D3DTEXF_LINEAR);
  EXPECT_EQ(sampler(D3DSAMP_MINFILTER), (DWORD)D3DTEXF_LINEAR);
  D3DMATRIX m;
  D3DXMATRIX identity, ortho;
  D3DXMatrixIdentity(&identity);
  D3DXMatrixOrthoOffCenterLH(&ortho, 0.5f, kWidth + 0.5f, kHeight + 0.5f, 0.5f, 0.0f, 1.0f);
  device_->GetTransform(D3DTS_WORLD, &m);
  ExpectSameMatrix(m, identity);
  device_->GetTransform(D3DTS_VIEW, &m);
  ExpectSameMatrix(m, identity);
  device_->GetTransform(D3DTS_PROJECTION, &m);
  ExpectSameMatrix(m, ortho);

  const D3DXVECTOR3 position(10, 10, 0);
  sprite_->Draw(texture_, nullptr, nullptr, &position, 0xFFFFFFFF);
  ASSERT_EQ(sprite_->End(), D3D_OK);
  ASSERT_EQ(device_->EndScene(), D3D_OK);

  const StateSnapshot after = StateSnapshot::Take(device_);
  EXPECT_EQ(after.values, before.values);
  ExpectSameMatrix(after.world, before.world);
  ExpectSameMatrix(after.view, before.view);
  ExpectSameMatrix(after.projection, before.projection);
  EXPECT_EQ(after.texture, before.texture);

  // DONOTSAVESTATE leaves the sprite's state behind.
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ASSERT_EQ(sprite_->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_DONOTSAVESTATE), D3D_OK);
  ASSERT_EQ(sprite_->End(), D3D_OK);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  EXPECT_EQ(get(D3DRS_CULLMODE), (DWORD)D3DCULL_NONE);
  EXPECT_EQ(get(D3DRS_SRCBLEND), (DWORD)D3DBLEND_SRCALPHA);
  device_->SetTexture(0, nullptr);
  other->Release();
}

TEST_F(SpriteTest, MisuseIsRefusedWithInvalidCall) {
  EXPECT_EQ(sprite_->Flush(), D3DERR_INVALIDCALL);  // outside a batch
  EXPECT_EQ(sprite_->End(), D3DERR_INVALIDCALL);
  EXPECT_EQ(sprite_->Draw(texture_, nullptr, nullptr, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ASSERT_EQ(sprite_->Begin(0), D3D_OK);
  EXPECT_EQ(sprite_->Begin(0), D3DERR_INVALIDCALL);  // inside a batch
  EXPECT_EQ(sprite_->Draw(nullptr, nullptr, nullptr, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
  EXPECT_EQ(sprite_->SetTransform(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(sprite_->GetTransform(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(sprite_->End(), D3D_OK);  // the refused Begin did not end or nest the batch
  EXPECT_EQ(sprite_->End(), D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->EndScene(), D3D_OK);

  ID3DXSprite* none = reinterpret_cast<ID3DXSprite*>(1);
  EXPECT_EQ(D3DXCreateSprite(nullptr, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(D3DXCreateSprite(device_, nullptr), D3DERR_INVALIDCALL);
  AutomationSetFault(AutomationFault::CreateSprite, true);
  none = reinterpret_cast<ID3DXSprite*>(1);
  EXPECT_TRUE(FAILED(D3DXCreateSprite(device_, &none)));
  EXPECT_EQ(none, nullptr);
  AutomationSetFault(AutomationFault::CreateSprite, false);
}

TEST_F(SpriteTest, HoldsItsDeviceAndQueuedTexturesAndSurvivesALostDevice) {
  IDirect3DDevice9* got = nullptr;
  ASSERT_EQ(sprite_->GetDevice(&got), D3D_OK);
  EXPECT_EQ(got, device_);
  got->Release();

  // A queued texture stays alive until the flush even if the caller lets go of it.
  IDirect3DTexture9* transient = MakeTexture(3, 3, kNineTexels);
  ASSERT_NE(transient, nullptr);
  auto pixels = Render([&] {
    const D3DXVECTOR3 position(7, 9, 0);
    sprite_->Draw(transient, nullptr, nullptr, &position, 0xFFFFFFFF);
    EXPECT_EQ(transient->Release(), 1u);
  });
  EXPECT_EQ(At(pixels, 9, 11), kNineTexels[8] & 0xFFFFFF);

  // Lost in a batch: the batch is dropped; afterwards Begin works again.
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ASSERT_EQ(sprite_->Begin(D3DXSPRITE_ALPHABLEND), D3D_OK);
  sprite_->Draw(texture_, nullptr, nullptr, nullptr, 0xFFFFFFFF);
  EXPECT_EQ(sprite_->OnLostDevice(), D3D_OK);
  EXPECT_EQ(sprite_->OnResetDevice(), D3D_OK);
  EXPECT_EQ(sprite_->End(), D3DERR_INVALIDCALL);
  EXPECT_EQ(sprite_->Begin(D3DXSPRITE_ALPHABLEND), D3D_OK);
  EXPECT_EQ(sprite_->End(), D3D_OK);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
}

TEST_F(SpriteTest, MixedBatchDrawsEveryQuadInOrder) {
  // One flush holding straight and turned quads of two textures; later quads cover earlier ones.
  IDirect3DTexture9* red = MakeTexture(3, 3, std::vector<uint32_t>(9, 0xFFFF0000));
  ASSERT_NE(red, nullptr);
  auto pixels = Render([&] {
    DrawEngineStyle(10, 10, 0.0f, 1.0f);
    DrawEngineStyle(30, 10, kQuarterTurn, 1.0f);
    DrawEngineStyle(50, 10, 0.0f, 1.0f);
    const D3DXVECTOR3 over(11, 11, 0);  // straight, other texture, on top of the first quad
    D3DXMATRIX identity;
    sprite_->SetTransform(D3DXMatrixIdentity(&identity));
    sprite_->Draw(red, nullptr, nullptr, &over, 0xFFFFFFFF);
    DrawEngineStyle(70, 10, kQuarterTurn, 1.0f);
  });
  red->Release();
  EXPECT_EQ(At(pixels, 10, 10), kNineTexels[0] & 0xFFFFFF);
  EXPECT_EQ(At(pixels, 12, 12), 0xFF0000u);                  // drawn after the first quad
  EXPECT_EQ(At(pixels, 32, 10), kNineTexels[0] & 0xFFFFFF);  // turned: texel (0, 0) top right
  EXPECT_EQ(At(pixels, 50, 10), kNineTexels[0] & 0xFFFFFF);
  EXPECT_EQ(At(pixels, 72, 10), kNineTexels[0] & 0xFFFFFF);
  EXPECT_EQ(FindInk(pixels, kWidth, kHeight, 0).count, 9 * 4 + 9 - 4);
}

}  // namespace
