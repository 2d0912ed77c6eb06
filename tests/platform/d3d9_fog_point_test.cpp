// Fog and points: vertex and pixel fog of each mode at known depths, range fog and the fog
// factor taken from the specular alpha; point sizes from the render states, from the vertices
// and from the distance formula, clamped, and point-sprite texture coordinates.
#include <cmath>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

float Bits(DWORD d) {
  float f;
  std::memcpy(&f, &d, 4);
  return f;
}
DWORD Dword(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

struct CVertex {
  float x, y, z;
  D3DCOLOR colour;
};
constexpr DWORD kCFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

class FogTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    if (HasFatalFailure()) return;
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00204060);
    device_->SetRenderState(D3DRS_FOGSTART, Dword(0.f));
    device_->SetRenderState(D3DRS_FOGEND, Dword(2.f));
    device_->SetRenderState(D3DRS_FOGDENSITY, Dword(1.f));
  }
  // A white point at (x, y, z) under identity transforms: camera space is world space.
  uint32_t FoggedPoint(float x, float y, float z) {
    ClearTo(0);
    CVertex v{x, y, z, 0xFFFFFFFF};
    EXPECT_EQ(device_->SetFVF(kCFvf), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
    return At(ReadBackBuffer(), static_cast<int>(std::floor(32.5f + 32.f * x)),
              static_cast<int>(std::floor(24.5f - 24.f * y)));
  }
  // White fogged by factor f towards the fog colour 0x204060.
  static void ExpectFog(uint32_t pixel, double f) {
    SCOPED_TRACE(f);
    EXPECT_NEAR(static_cast<int>((pixel >> 16) & 255), 255 * f + 0x20 * (1 - f), 1.01);
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 255), 255 * f + 0x40 * (1 - f), 1.01);
    EXPECT_NEAR(static_cast<int>(pixel & 255), 255 * f + 0x60 * (1 - f), 1.01);
  }
};

TEST_F(FogTest, VertexFogOfEachModeAtKnownDistances) {
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  ExpectFog(FoggedPoint(0, 0, 0.5f), (2.0 - 0.5) / 2.0);
  ExpectFog(FoggedPoint(0, 0, 0.9f), (2.0 - 0.9) / 2.0);
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
  device_->SetRenderState(D3DRS_FOGDENSITY, Dword(1.5f));
  ExpectFog(FoggedPoint(0, 0, 0.5f), std::exp(-0.75));
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP2);
  ExpectFog(FoggedPoint(0, 0, 0.5f), std::exp(-0.75 * 0.75));
  // Range fog measures from the eye, not along the view direction.
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  device_->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
  ExpectFog(FoggedPoint(0.6f, 0, 0.5f), (2.0 - std::sqrt(0.36 + 0.25)) / 2.0);
  device_->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
  ExpectFog(FoggedPoint(0.6f, 0, 0.5f), (2.0 - 0.5) / 2.0);
  // Fog off leaves the colour alone.
  device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
  EXPECT_EQ(FoggedPoint(0, 0, 0.5f), 0xFFFFFFu);
}

TEST_F(FogTest, PixelFogUsesDepthUnderAnAffineProjectionAndEyeDistanceUnderAPerspectiveOne) {
  device_->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  device_->SetRenderState(D3DRS_FOGEND, Dword(1.f));
  // Identity projection: the fog runs on depth, 0 to 1.
  ExpectFog(FoggedPoint(0, 0, 0.25f), 0.75);
  // Pixel fog wins over vertex fog.
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
  ExpectFog(FoggedPoint(0, 0, 0.25f), 0.75);
  device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  // A perspective projection (near 1, far 9): the fog runs on the eye distance w.
  D3DMATRIX proj{};
  proj._11 = proj._22 = 1;
  proj._33 = 9.f / 8.f;
  proj._34 = 1;
  proj._43 = -9.f / 8.f;
  ASSERT_EQ(device_->SetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
  device_->SetRenderState(D3DRS_FOGSTART, Dword(2.f));
  device_->SetRenderState(D3DRS_FOGEND, Dword(6.f));
  ExpectFog(FoggedPoint(0, 0, 3.f), (6.0 - 3.0) / 4.0);
  device_->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP2);
  device_->SetRenderState(D3DRS_FOGDENSITY, Dword(0.25f));
  ExpectFog(FoggedPoint(0, 0, 3.f), std::exp(-0.75 * 0.75));
}

TEST_F(FogTest, WithoutFogModesTheFactorIsTheSpecularAlpha) {
  struct TVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse, specular;
  };
  TVertex q[4] = {{10, 10, 0.5f, 1, 0xFFFFFFFF, 0x40000000},
                  {20, 10, 0.5f, 1, 0xFFFFFFFF, 0x40000000},
                  {10, 20, 0.5f, 1, 0xFFFFFFFF, 0x40000000},
                  {20, 20, 0.5f, 1, 0xFFFFFFFF, 0x40000000}};
  ClearTo(0);
  ASSERT_EQ(device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TVertex)), D3D_OK);
  ExpectFog(At(ReadBackBuffer(), 15, 15), 0x40 / 255.0);
}

// --- Points ------------------------------------------------------------------------------------

struct PVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
};
constexpr DWORD kPFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

// The bounding box of the pixels that are not black.
RECT Lit(const std::vector<uint32_t>& px, int width, int height) {
  RECT r{width, height, -1, -1};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (px[static_cast<size_t>(y) * width + x]) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r;
}

using PointTest = SceneTest;

TEST_F(PointTest, ASizedPointCoversTheSquareAroundItsCentreWithTheFillRule) {
  device_->SetRenderState(D3DRS_POINTSIZE, Dword(8.f));
  ClearTo(0);
  PVertex p{20.f, 30.f, 0.5f, 1, 0xFFFFFFFF};
  ASSERT_EQ(device_->SetFVF(kPFvf), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &p, sizeof(p)), D3D_OK);
  auto px = ReadBackBuffer();
  RECT r = Lit(px, kWidth, kHeight);
  EXPECT_EQ(r.left, 16);
  EXPECT_EQ(r.top, 26);
  EXPECT_EQ(r.right, 24);
  EXPECT_EQ(r.bottom, 34);
  int lit = 0;
  for (uint32_t c : px) lit += c == 0xFFFFFF;
  EXPECT_EQ(lit, 64);
}

TEST_F(PointTest, SpritesSpreadTextureCoordinatesOverTheSquare) {
  IDirect3DTexture9* tex = MakeTexture(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
  ASSERT_NE(tex, nullptr);
  device_->SetTexture(0, tex);
  device_->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
  device_->SetRenderState(D3DRS_POINTSIZE, Dword(8.f));
  ClearTo(0);
  PVertex p{20.f, 30.f, 0.5f, 1, 0xFFFFFFFF};
  ASSERT_EQ(device_->SetFVF(kPFvf), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &p, sizeof(p)), D3D_OK);
  auto px = ReadBackBuffer();
  // u runs from 0 at the left edge (x = 16) to 1 at the right edge (x = 24); v likewise.
  for (int y = 26; y < 34; ++y)
    for (int x = 16; x < 24; ++x) {
      const bool right = x >= 20, bottom = y >= 30;
      const uint32_t want = bottom ? (right ? 0xFFFFFF : 0x0000FF) : (right ? 0x00FF00 : 0xFF0000);
      EXPECT_EQ(At(px, x, y), want) << x << "," << y;
    }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(PointTest, ScaledSizesFollowTheDistanceFormulaAndTheLimits) {
  device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);
  device_->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
  device_->SetRenderState(D3DRS_POINTSCALE_A, Dword(0.f));
  device_->SetRenderState(D3DRS_POINTSCALE_B, Dword(0.f));
  device_->SetRenderState(D3DRS_POINTSCALE_C, Dword(1.f));
  device_->SetRenderState(D3DRS_POINTSIZE, Dword(0.25f));
  // An orthographic view one unit deep: the point at eye distance 2 sits in the middle of the
  // screen. Size = viewport height x 0.25 x sqrt(1 / 2^2) = 48 / 8 = 6.
  D3DMATRIX proj{};
  proj._11 = proj._22 = 1;
  proj._33 = 0.25f;
  proj._44 = 1;
  ASSERT_EQ(device_->SetTransform(D3DTS_PROJECTION, &proj), D3D_OK);
  auto side = [&]() {
    ClearTo(0);
    struct {
      float x, y, z;
      D3DCOLOR c;
    } v{0, 0, 2.f, 0xFFFFFFFF};
    EXPECT_EQ(device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
    RECT r = Lit(ReadBackBuffer(), kWidth, kHeight);
    EXPECT_EQ(r.right - r.left, r.bottom - r.top);
    return r.right - r.left;
  };
  EXPECT_EQ(side(), 6);
  device_->SetRenderState(D3DRS_POINTSIZE_MAX, Dword(4.f));
  EXPECT_EQ(side(), 4);
  device_->SetRenderState(D3DRS_POINTSIZE_MAX, Dword(64.f));
  device_->SetRenderState(D3DRS_POINTSIZE_MIN, Dword(10.f));
  EXPECT_EQ(side(), 10);
}

TEST_F(PointTest, VertexSizesWinOverTheRenderStateAndTheCapsTellTheLargest) {
  struct SVertex {
    float x, y, z, rhw;
    float size;
    D3DCOLOR colour;
  };
  device_->SetRenderState(D3DRS_POINTSIZE, Dword(2.f));
  device_->SetRenderState(D3DRS_POINTSIZE_MAX, Dword(1000.f));
  ClearTo(0);
  SVertex v{30.f, 20.f, 0.5f, 1, 12.f, 0xFFFFFFFF};
  ASSERT_EQ(device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_PSIZE | D3DFVF_DIFFUSE), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
  RECT r = Lit(ReadBackBuffer(), kWidth, kHeight);
  EXPECT_EQ(r.right - r.left, 12);
  D3DCAPS9 caps{};
  ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
  EXPECT_EQ(caps.MaxPointSize, 256.f);
  // A point larger than the largest is drawn at the largest size: it covers the whole screen.
  ClearTo(0);
  v.size = 5000.f;
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
  int black = 0;
  for (uint32_t c : ReadBackBuffer()) black += c == 0;
  EXPECT_EQ(black, 0);
  (void)Bits;
}

}  // namespace
}  // namespace d3d9_test
