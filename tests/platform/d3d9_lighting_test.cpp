// Fixed-function lighting against colours computed in the test from Direct3D 9's lighting
// equations: each light type, attenuation and range, spot cones, material sources, specular
// highlights with and without the local viewer, normal transformation, and the lights the device
// refuses.
#include <cmath>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

struct NVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR diffuse;
  D3DCOLOR specular;
};
constexpr DWORD kNFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;

struct NoColourVertex {
  float x, y, z;
  float nx, ny, nz;
};
constexpr DWORD kNoColourFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

D3DCOLORVALUE Colour(float r, float g, float b, float a = 1.f) {
  return D3DCOLORVALUE{r, g, b, a};
}

int Byte(double v) {
  return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

D3DLIGHT9 Directional(float x, float y, float z) {
  D3DLIGHT9 l{};
  l.Type = D3DLIGHT_DIRECTIONAL;
  l.Diffuse = Colour(1, 1, 1);
  l.Direction = {x, y, z};
  return l;
}

D3DLIGHT9 PointLight(float x, float y, float z, float a0, float a1, float a2, float range) {
  D3DLIGHT9 l{};
  l.Type = D3DLIGHT_POINT;
  l.Diffuse = Colour(1, 1, 1);
  l.Position = {x, y, z};
  l.Attenuation0 = a0;
  l.Attenuation1 = a1;
  l.Attenuation2 = a2;
  l.Range = range;
  return l;
}

// Identity transforms: a vertex at (x, y, z) lands on screen at (32 + 32 x, 24 - 24 y), and
// camera space is world space.
class LightingTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    if (HasFatalFailure()) return;
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    D3DMATERIAL9 m{};
    m.Diffuse = Colour(1, 1, 1);
    device_->SetMaterial(&m);
  }

  // The colour a lit point takes, read back from the screen.
  uint32_t LitPoint(const NVertex& v) {
    ClearTo(0);
    EXPECT_EQ(device_->SetFVF(kNFvf), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
    return At(ReadBackBuffer(), PixelX(v.x), PixelY(v.y));
  }
  uint32_t LitPoint(const NoColourVertex& v) {
    ClearTo(0);
    EXPECT_EQ(device_->SetFVF(kNoColourFvf), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &v, sizeof(v)), D3D_OK);
    return At(ReadBackBuffer(), PixelX(v.x), PixelY(v.y));
  }
  static int PixelX(float x) { return static_cast<int>(std::floor(32.f + 32.f * x + 0.5f)); }
  static int PixelY(float y) { return static_cast<int>(std::floor(24.f - 24.f * y + 0.5f)); }

  void Light(DWORD index, const D3DLIGHT9& l) {
    ASSERT_EQ(device_->SetLight(index, &l), D3D_OK);
    ASSERT_EQ(device_->LightEnable(index, TRUE), D3D_OK);
  }
  void Material(D3DCOLORVALUE diffuse, D3DCOLORVALUE ambient = {}, D3DCOLORVALUE specular = {},
                D3DCOLORVALUE emissive = {}, float power = 0) {
    D3DMATERIAL9 m{diffuse, ambient, specular, emissive, power};
    ASSERT_EQ(device_->SetMaterial(&m), D3D_OK);
  }
};

void ExpectRgb(uint32_t pixel, int r, int g, int b) {
  EXPECT_NEAR(static_cast<int>((pixel >> 16) & 255), r, 1) << std::hex << pixel;
  EXPECT_NEAR(static_cast<int>((pixel >> 8) & 255), g, 1) << std::hex << pixel;
  EXPECT_NEAR(static_cast<int>(pixel & 255), b, 1) << std::hex << pixel;
}

TEST_F(LightingTest, DirectionalLightIsNDotLTimesTheMaterial) {
  Material(Colour(0.5f, 1.f, 0.25f));
  Light(0, Directional(0, 0, 1));  // shining into the screen, towards +z
  // A normal tilted away from the light by acos(0.8).
  NoColourVertex v{0, 0, 0.5f, 0, -0.6f, -0.8f};
  ExpectRgb(LitPoint(v), Byte(0.5 * 0.8), Byte(1.0 * 0.8), Byte(0.25 * 0.8));
  // Facing away: no diffuse light at all.
  NoColourVertex away{0, 0, 0.5f, 0, 0, 1};
  ExpectRgb(LitPoint(away), 0, 0, 0);
  // Without lights only emissive and ambient remain; the light disabled changes the colour.
  ASSERT_EQ(device_->LightEnable(0, FALSE), D3D_OK);
  ExpectRgb(LitPoint(v), 0, 0, 0);
}

TEST_F(LightingTest, PointLightAttenuatesWithDistanceAndStopsAtItsRange) {
  Material(Colour(0.9f, 0.6f, 0.3f));
  // Two units in front of the vertex: 1 / (0.5 + 0.25 * 2 + 0.125 * 4) = 2 / 3.
  Light(0, PointLight(0, 0, -1.5f, 0.5f, 0.25f, 0.125f, 10.f));
  NoColourVertex v{0, 0, 0.5f, 0, 0, -1};
  ExpectRgb(LitPoint(v), Byte(0.9 * 2 / 3), Byte(0.6 * 2 / 3), Byte(0.3 * 2 / 3));
  // The same light with a range short of the vertex lights nothing.
  Light(0, PointLight(0, 0, -1.5f, 0.5f, 0.25f, 0.125f, 1.9f));
  ExpectRgb(LitPoint(v), 0, 0, 0);
}

TEST_F(LightingTest, SpotLightIsFullInsideItsConeFadesInThePenumbraAndStopsOutside) {
  Material(Colour(1, 1, 1));
  D3DLIGHT9 spot{};
  spot.Type = D3DLIGHT_SPOT;
  spot.Diffuse = Colour(1, 1, 1);
  spot.Position = {0, 0, -1.5f};
  spot.Direction = {0, 0, 1};
  spot.Attenuation0 = 1;
  spot.Range = 100;
  spot.Theta = 0.4f;  // inner cone: cos(0.2) = 0.980
  spot.Phi = 0.8f;    // outer cone: cos(0.4) = 0.921
  spot.Falloff = 2;
  Light(0, spot);
  const double cosTheta = std::cos(0.2), cosPhi = std::cos(0.4);
  for (float x : {0.f, 0.3f, 0.6f, 0.9f}) {
    SCOPED_TRACE(x);
    // From the light (2 units in front) to the vertex; the normal faces the viewer.
    const double rho = 2.0 / std::sqrt(x * x + 4.0);
    double factor =
        rho > cosTheta ? 1.0 : (rho <= cosPhi ? 0.0 : (rho - cosPhi) / (cosTheta - cosPhi));
    if (factor > 0 && factor < 1) factor = factor * factor;  // falloff 2
    const int expected = Byte(rho * factor);                 // N . L is rho too
    NoColourVertex v{x, 0, 0.5f, 0, 0, -1};
    ExpectRgb(LitPoint(v), expected, expected, expected);
  }
}

TEST_F(LightingTest, MaterialSourcesTakeVertexColoursOnlyWhenColorVertexIsOn) {
  Material(Colour(0, 0, 1), Colour(0, 0, 0), Colour(0, 0, 0), Colour(0, 0, 0));
  Light(0, Directional(0, 0, 1));
  NVertex v{0, 0, 0.5f, 0, 0, -1, 0xFFFF0000, 0xFF00FF00};
  // Default: diffuse from the vertex's first colour.
  ExpectRgb(LitPoint(v), 255, 0, 0);
  // COLOR2 takes the specular colour; MATERIAL the material.
  device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR2);
  ExpectRgb(LitPoint(v), 0, 255, 0);
  device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
  ExpectRgb(LitPoint(v), 0, 0, 255);
  // With COLORVERTEX off every source is the material.
  device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
  device_->SetRenderState(D3DRS_COLORVERTEX, FALSE);
  ExpectRgb(LitPoint(v), 0, 0, 255);
  device_->SetRenderState(D3DRS_COLORVERTEX, TRUE);
  // A source naming a colour the vertex lacks falls back to the material.
  NoColourVertex bare{0, 0, 0.5f, 0, 0, -1};
  ExpectRgb(LitPoint(bare), 0, 0, 255);
  // Ambient and emissive from the vertex: ambient x global ambient, plus emissive.
  ASSERT_EQ(device_->LightEnable(0, FALSE), D3D_OK);
  device_->SetRenderState(D3DRS_AMBIENT, 0x00808080);
  device_->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
  device_->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR2);
  ExpectRgb(LitPoint(v), Byte(128.0 / 255), 255, 0);
}

TEST_F(LightingTest, SpecularFollowsTheHalfwayVectorWithAndWithoutTheLocalViewer) {
  Material(Colour(0, 0, 0), Colour(0, 0, 0), Colour(1, 1, 1), Colour(0, 0, 0), 10.f);
  D3DLIGHT9 l = Directional(0, 0, 1);
  l.Specular = Colour(1, 1, 1);
  Light(0, l);
  device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  NoColourVertex v{0.5f, 0, 0.5f, 0, 0, -1};
  // Local viewer: the eye is at the origin, so V = norm(-P) and H = norm(L + V).
  const double vx = -0.5 / std::sqrt(0.5), vz = -0.5 / std::sqrt(0.5);
  const double hx = vx, hz = vz - 1, hl = std::sqrt(hx * hx + hz * hz);
  const int local = Byte(std::pow(-hz / hl, 10.0));
  ExpectRgb(LitPoint(v), local, local, local);
  // Orthographic highlights: V = (0, 0, -1), so H = L and N . H = 1.
  device_->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
  ExpectRgb(LitPoint(v), 255, 255, 255);
  // Switched off, the specular sum is left out.
  device_->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  ExpectRgb(LitPoint(v), 0, 0, 0);
}

TEST_F(LightingTest, NormalsGoThroughTheInverseTransposeAndAreNormalisedOnRequest) {
  Material(Colour(1, 1, 1));
  Light(0, Directional(0, 0, 1));
  D3DMATRIX scale{};
  scale._11 = 2;
  scale._22 = scale._33 = scale._44 = 1;
  ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &scale), D3D_OK);
  const float s = 1.f / std::sqrt(2.f);
  NoColourVertex v{0, 0, 0.5f, s, 0, -s};
  // (s, 0, -s) x diag(1/2, 1, 1) = (s / 2, 0, -s): N . L = s without normalising...
  ExpectRgb(LitPoint(v), Byte(s), Byte(s), Byte(s));
  // ...and s / |(s / 2, 0, -s)| with it.
  device_->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
  const double n = s / std::sqrt(s * s / 4 + s * s);
  ExpectRgb(LitPoint(v), Byte(n), Byte(n), Byte(n));
}

TEST_F(LightingTest, LightsAreGivenInWorldSpaceAndMovedByTheView) {
  Material(Colour(1, 1, 1));
  // The view turns the world half round about y: a light shining along -z in the world shines
  // along +z in camera space, onto a normal facing the camera.
  D3DMATRIX view{};
  view._11 = -1;
  view._22 = 1;
  view._33 = -1;
  view._44 = 1;
  ASSERT_EQ(device_->SetTransform(D3DTS_VIEW, &view), D3D_OK);
  Light(0, Directional(0, 0, -1));
  // World (0, 0, -0.5) is camera (0, 0, 0.5); world normal (0, 0, 1) is camera (0, 0, -1).
  NoColourVertex v{0, 0, -0.5f, 0, 0, 1};
  ExpectRgb(LitPoint(v), 255, 255, 255);
}

TEST_F(LightingTest, InvalidLightsAreRefusedAndChangeNothing) {
  D3DLIGHT9 good = PointLight(1, 2, 3, 1, 0, 0, 5);
  ASSERT_EQ(device_->SetLight(3, &good), D3D_OK);
  D3DLIGHT9 bad[6] = {good, good, good, good, Directional(0, 0, 0), good};
  bad[0].Type = static_cast<D3DLIGHTTYPE>(0);
  bad[1].Range = -1;
  bad[2].Attenuation0 = 0;  // attenuation zero everywhere
  bad[3].Attenuation1 = -0.5f;
  bad[5].Type = D3DLIGHT_SPOT;
  bad[5].Direction = {0, 0, 1};
  bad[5].Theta = 1.0f;
  bad[5].Phi = 0.5f;  // the outer cone inside the inner one
  for (const D3DLIGHT9& l : bad) {
    EXPECT_EQ(device_->SetLight(3, &l), D3DERR_INVALIDCALL);
    D3DLIGHT9 now{};
    ASSERT_EQ(device_->GetLight(3, &now), D3D_OK);
    EXPECT_EQ(std::memcmp(&now, &good, sizeof(now)), 0);
  }
  EXPECT_EQ(device_->SetLight(0, nullptr), D3DERR_INVALIDCALL);
  D3DLIGHT9 out{};
  EXPECT_EQ(device_->GetLight(77, &out), D3DERR_INVALIDCALL);  // never set
  BOOL enabled = TRUE;
  EXPECT_EQ(device_->GetLightEnable(3, &enabled), D3D_OK);
  EXPECT_FALSE(enabled);
  D3DCAPS9 caps{};
  ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
  EXPECT_EQ(caps.MaxActiveLights, 8u);
}

TEST_F(LightingTest, EightLightsAddUp) {
  Material(Colour(1, 1, 1));
  D3DLIGHT9 dim = Directional(0, 0, 1);
  dim.Diffuse = Colour(0.1f, 0.1f, 0.1f);
  for (DWORD i = 0; i < 8; ++i) Light(i * 10, dim);  // indices need not be consecutive
  NoColourVertex v{0, 0, 0.5f, 0, 0, -1};
  ExpectRgb(LitPoint(v), Byte(0.8), Byte(0.8), Byte(0.8));
}

}  // namespace
}  // namespace d3d9_test
