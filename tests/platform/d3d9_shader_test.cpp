// Vertex and pixel shaders on the device: shader objects and constant registers; a vertex shader
// that reproduces fixed-function transform and a pixel shader that reproduces a texture stage,
// compared pixel for pixel; derivatives, clip, depth output, floating-point targets, mip levels
// chosen from quads, linkage of arbitrary semantics, and the pairing rules of shader model 3.
#include <algorithm>
#include <cmath>
#include <string>

#include "d3d9_test_support.h"
#include "d3dx9.h"

namespace d3d9_test {
namespace {

std::vector<DWORD> Compile(const std::string& source, const char* entry, const char* profile,
                           ID3DXConstantTable** table = nullptr) {
  ID3DXBuffer* code = nullptr;
  ID3DXBuffer* errors = nullptr;
  const HRESULT hr = D3DXCompileShader(source.c_str(), static_cast<UINT>(source.size()), nullptr,
                                       nullptr, entry, profile, 0, &code, &errors, table);
  if (FAILED(hr)) {
    ADD_FAILURE() << "compile failed: "
                  << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    SafeRelease(errors);
    return {};
  }
  SafeRelease(errors);
  std::vector<DWORD> tokens(code->GetBufferSize() / sizeof(DWORD));
  std::memcpy(tokens.data(), code->GetBufferPointer(), tokens.size() * sizeof(DWORD));
  code->Release();
  return tokens;
}

int Channel(uint32_t pixel, int shift) {
  return static_cast<int>((pixel >> shift) & 255);
}

// Largest difference of any colour channel between two images.
int MaxDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int s : {0, 8, 16}) worst = std::max(worst, std::abs(Channel(a[i], s) - Channel(b[i], s)));
  return worst;
}

class ShaderTest : public SceneTest {
 protected:
  void TearDown() override {
    if (device_) {
      device_->SetVertexShader(nullptr);
      device_->SetPixelShader(nullptr);
      device_->SetTexture(0, nullptr);
    }
    SafeRelease(vs_);
    SafeRelease(ps_);
    SceneTest::TearDown();
  }
  void UseVertexShader(const std::string& source, const char* profile = "vs_2_0") {
    const std::vector<DWORD> tokens = Compile(source, "main", profile);
    ASSERT_FALSE(tokens.empty());
    SafeRelease(vs_);
    ASSERT_EQ(device_->CreateVertexShader(tokens.data(), &vs_), D3D_OK);
    ASSERT_EQ(device_->SetVertexShader(vs_), D3D_OK);
  }
  void UsePixelShader(const std::string& source, const char* profile = "ps_2_0") {
    const std::vector<DWORD> tokens = Compile(source, "main", profile);
    ASSERT_FALSE(tokens.empty());
    SafeRelease(ps_);
    ASSERT_EQ(device_->CreatePixelShader(tokens.data(), &ps_), D3D_OK);
    ASSERT_EQ(device_->SetPixelShader(ps_), D3D_OK);
  }
  // A 32 x 32 texture of three levels, each one solid colour of kLevelColours.
  IDirect3DTexture9* MakeSolidLevels() {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device_->CreateTexture(32, 32, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                      nullptr))) {
      ADD_FAILURE() << "CreateTexture failed";
      return nullptr;
    }
    for (UINT level = 0; level < 3; ++level) {
      D3DLOCKED_RECT locked;
      EXPECT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
      for (UINT y = 0; y < (32u >> level); ++y)
        for (UINT x = 0; x < (32u >> level); ++x)
          std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x,
                      &kLevelColours[level], 4);
      texture->UnlockRect(level);
    }
    return texture;
  }
  static constexpr uint32_t kLevelColours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  IDirect3DVertexShader9* vs_ = nullptr;
  IDirect3DPixelShader9* ps_ = nullptr;
};

TEST_F(ShaderTest, ShaderObjectsAndConstantRegisters) {
  const std::vector<DWORD> vs =
      Compile("float4 main(float4 p : POSITION) : POSITION { return p; }", "main", "vs_2_0");
  const std::vector<DWORD> ps =
      Compile("float4 c; float4 main() : COLOR { return c; }", "main", "ps_3_0");
  ASSERT_FALSE(vs.empty());
  ASSERT_FALSE(ps.empty());
  IDirect3DVertexShader9* vshader = nullptr;
  IDirect3DPixelShader9* pshader = nullptr;
  // Each kind is refused the other's tokens, and garbage.
  EXPECT_EQ(device_->CreateVertexShader(ps.data(), &vshader), D3DERR_INVALIDCALL);
  EXPECT_EQ(vshader, nullptr);
  EXPECT_EQ(device_->CreatePixelShader(vs.data(), &pshader), D3DERR_INVALIDCALL);
  const DWORD garbage[] = {0xFFFE0200, 0x12345678, 0xDEADBEEF, 0x0000FFFF};
  EXPECT_EQ(device_->CreateVertexShader(garbage, &vshader), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateVertexShader(nullptr, &vshader), D3DERR_INVALIDCALL);

  ASSERT_EQ(device_->CreateVertexShader(vs.data(), &vshader), D3D_OK);
  UINT size = 0;
  ASSERT_EQ(vshader->GetFunction(nullptr, &size), D3D_OK);
  EXPECT_EQ(size, vs.size() * sizeof(DWORD));
  std::vector<DWORD> back(vs.size());
  UINT small = size - 4;
  EXPECT_EQ(vshader->GetFunction(back.data(), &small), D3DERR_INVALIDCALL);
  ASSERT_EQ(vshader->GetFunction(back.data(), &size), D3D_OK);
  EXPECT_EQ(back, vs);
  IDirect3DDevice9* owner = nullptr;
  ASSERT_EQ(vshader->GetDevice(&owner), D3D_OK);
  EXPECT_EQ(owner, device_);
  owner->Release();

  // Bound shaders are held and read back.
  ASSERT_EQ(device_->SetVertexShader(vshader), D3D_OK);
  EXPECT_EQ(vshader->Release(), 1u);
  IDirect3DVertexShader9* bound = nullptr;
  ASSERT_EQ(device_->GetVertexShader(&bound), D3D_OK);
  EXPECT_EQ(bound, vshader);
  bound->Release();
  ASSERT_EQ(device_->SetVertexShader(nullptr), D3D_OK);

  // Registers: 256 vertex and 224 pixel float registers, 16 integer and 16 boolean of each.
  const float four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(device_->SetVertexShaderConstantF(254, four, 2), D3D_OK);
  EXPECT_EQ(device_->SetVertexShaderConstantF(255, four, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetPixelShaderConstantF(222, four, 2), D3D_OK);
  EXPECT_EQ(device_->SetPixelShaderConstantF(223, four, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetPixelShaderConstantF(0, nullptr, 1), D3DERR_INVALIDCALL);
  float got[8] = {};
  ASSERT_EQ(device_->GetVertexShaderConstantF(254, got, 2), D3D_OK);
  EXPECT_EQ(std::memcmp(got, four, sizeof(four)), 0);
  const int ints[4] = {7, -1, 3, 0};
  EXPECT_EQ(device_->SetPixelShaderConstantI(15, ints, 1), D3D_OK);
  EXPECT_EQ(device_->SetPixelShaderConstantI(16, ints, 1), D3DERR_INVALIDCALL);
  int intsBack[4] = {};
  ASSERT_EQ(device_->GetPixelShaderConstantI(15, intsBack, 1), D3D_OK);
  EXPECT_EQ(intsBack[1], -1);
  const BOOL flags[2] = {TRUE, FALSE};
  EXPECT_EQ(device_->SetVertexShaderConstantB(14, flags, 2), D3D_OK);
  EXPECT_EQ(device_->SetVertexShaderConstantB(15, flags, 2), D3DERR_INVALIDCALL);

  ASSERT_EQ(device_->CreatePixelShader(ps.data(), &pshader), D3D_OK);
  pshader->Release();
}

TEST_F(ShaderTest, VertexShaderTransformMatchesFixedFunction) {
  D3DXMATRIX world, view, projection, wvp;
  D3DXMatrixRotationYawPitchRoll(&world, 0.4f, 0.3f, 0.2f);
  const D3DXVECTOR3 eye(0, 0, -3), at(0, 0, 0), up(0, 1, 0);
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, 64.f / 48.f, 0.5f, 10.f);
  device_->SetTransform(D3DTS_WORLD, &world);
  device_->SetTransform(D3DTS_VIEW, &view);
  device_->SetTransform(D3DTS_PROJECTION, &projection);
  const LVertex tri[6] = {{-1, -1, 0, 0xFFFF0000, 0, 0},     {0, 1, 0.5f, 0xFF00FF00, 0, 0},
                          {1, -1, -0.5f, 0xFF0000FF, 0, 0},  {-1, 0.5f, 1, 0xFFFFFF00, 0, 0},
                          {1, 0.8f, 0.2f, 0xFF00FFFF, 0, 0}, {0, -1, 0.7f, 0xFFFF00FF, 0, 0}};
  ASSERT_EQ(device_->SetFVF(kLFvf), D3D_OK);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, tri, sizeof(LVertex)), D3D_OK);
  const std::vector<uint32_t> fixed = ReadBackBuffer();

  UseVertexShader(
      "float4x4 wvp : register(c0);"
      "struct Out { float4 p : POSITION; float4 c : COLOR0; };"
      "Out main(float4 p : POSITION, float4 c : COLOR0) {"
      "  Out o; o.p = mul(p, wvp); o.c = c; return o; }");
  D3DXMatrixMultiply(&wvp, &world, &view);
  D3DXMatrixMultiply(&wvp, &wvp, &projection);
  D3DXMATRIX columns;
  D3DXMatrixTranspose(&columns, &wvp);  // mul(p, m) reads the matrix by columns
  ASSERT_EQ(device_->SetVertexShaderConstantF(0, &columns._11, 4), D3D_OK);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, tri, sizeof(LVertex)), D3D_OK);
  const std::vector<uint32_t> shaded = ReadBackBuffer();

  int covered = 0, differing = 0;
  for (size_t i = 0; i < fixed.size(); ++i) {
    covered += fixed[i] != 0;
    differing += fixed[i] != shaded[i];
  }
  EXPECT_GT(covered, 300);
  // The same clipping, rasterisation and interpolation: only rounding of the transform may move
  // an edge pixel or a colour step.
  EXPECT_LE(differing, covered / 50) << differing << " of " << covered;
}

TEST_F(ShaderTest, PixelShaderMatchesATextureStage) {
  std::vector<uint32_t> texels(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      texels[y * 16 + x] = 0xFF000000u | (x * 16) << 16 | (y * 16) << 8 | ((x ^ y) * 16);
  IDirect3DTexture9* texture = MakeTexture(16, 16, texels);
  ASSERT_NE(texture, nullptr);
  device_->SetTexture(0, texture);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  ClearTo(0);
  DrawQuad(3, 2, 61, 45, 0xFFC08040, 0.5f, -0.1f, 0.05f, 1.3f, 0.9f);
  const std::vector<uint32_t> fixed = ReadBackBuffer();

  UsePixelShader(
      "sampler s : register(s0);"
      "float4 main(float2 uv : TEXCOORD0, float4 d : COLOR0) : COLOR {"
      "  return tex2D(s, uv) * d; }");
  ClearTo(0);
  DrawQuad(3, 2, 61, 45, 0xFFC08040, 0.5f, -0.1f, 0.05f, 1.3f, 0.9f);
  const std::vector<uint32_t> shaded = ReadBackBuffer();
  // The stage works in 8-bit steps and 1/256 filter weights, the shader in floating point.
  EXPECT_LE(MaxDifference(fixed, shaded), 2);
  EXPECT_NE(At(shaded, 30, 20), 0u);
  texture->Release();
}

TEST_F(ShaderTest, DerivativesClipAndDepthOutput) {
  // u runs 0 .. 1 across 64 pixels: ddx(u) is 1/64 everywhere; the left half is clipped.
  UsePixelShader(
      "float4 main(float2 uv : TEXCOORD0, out float depth : DEPTH) : COLOR {"
      "  clip(uv.x - 0.5); depth = 0.25;"
      "  return float4(ddx(uv.x) * 64 * 0.5, ddy(uv.y) * 48 * 0.5, 0, 1); }",
      "ps_3_0");
  ClearTo(0x000000FF);
  DrawQuad(0, 0, 64, 48, 0xFFFFFFFF, 0.9f);
  const std::vector<uint32_t> pixels = ReadBackBuffer();
  EXPECT_EQ(At(pixels, 10, 10), 0x0000FFu) << "clipped pixels keep the clear colour";
  const uint32_t right = At(pixels, 50, 30);
  EXPECT_NEAR(Channel(right, 16), 128, 1);
  EXPECT_NEAR(Channel(right, 8), 128, 1);
  // The shader's depth (0.25) was written, not the quad's (0.9): a quad at 0.5 now fails the
  // default LESSEQUAL test on the right half and passes on the left.
  device_->SetPixelShader(nullptr);
  DrawQuad(0, 0, 64, 48, 0xFFFF0000, 0.5f);
  const std::vector<uint32_t> after = ReadBackBuffer();
  EXPECT_EQ(At(after, 50, 30), right);
  EXPECT_EQ(At(after, 10, 10), 0xFF0000u);
}

TEST_F(ShaderTest, ConstantsByRegisterAndByName) {
  ID3DXConstantTable* table = nullptr;
  const std::string source =
      "float4 tint; float4 base : register(c5);"
      "float4 main() : COLOR { return tint + base; }";
  const std::vector<DWORD> tokens = Compile(source, "main", "ps_2_0", &table);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(device_->CreatePixelShader(tokens.data(), &ps_), D3D_OK);
  ASSERT_EQ(device_->SetPixelShader(ps_), D3D_OK);
  const float base[4] = {0.25f, 0, 0, 1};
  ASSERT_EQ(device_->SetPixelShaderConstantF(5, base, 1), D3D_OK);
  const D3DXVECTOR4 tint(0, 0.5f, 0, 0);
  ASSERT_EQ(table->SetVector(device_, "tint", &tint), D3D_OK);
  ClearTo(0);
  DrawQuad(0, 0, 64, 48, 0xFFFFFFFF);
  const uint32_t p = At(ReadBackBuffer(), 20, 20);
  EXPECT_NEAR(Channel(p, 16), 64, 1);
  EXPECT_NEAR(Channel(p, 8), 128, 1);
  EXPECT_EQ(Channel(p, 0), 0);
  table->Release();
}

TEST_F(ShaderTest, FloatTargetsKeepTheShadersValues) {
  IDirect3DTexture9* target = nullptr;
  ASSERT_EQ(device_->CreateTexture(64, 48, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F, D3DPOOL_DEFAULT,
                                   &target, nullptr),
            D3D_OK);
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
  IDirect3DSurface9* old = nullptr;
  device_->GetRenderTarget(0, &old);
  ASSERT_EQ(device_->SetRenderTarget(0, surface), D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  UsePixelShader("float4 main() : COLOR { return float4(0.123456789, 7.5, 0, 1); }");
  DrawQuad(0, 0, 64, 48, 0xFFFFFFFF);
  device_->SetRenderTarget(0, old);
  old->Release();

  IDirect3DSurface9* copy = nullptr;
  ASSERT_EQ(
      device_->CreateOffscreenPlainSurface(64, 48, D3DFMT_R32F, D3DPOOL_SYSTEMMEM, &copy, nullptr),
      D3D_OK);
  ASSERT_EQ(device_->GetRenderTargetData(surface, copy), D3D_OK);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  float value;
  std::memcpy(&value, static_cast<uint8_t*>(locked.pBits) + 10 * locked.Pitch + 40, 4);
  copy->UnlockRect();
  EXPECT_FLOAT_EQ(value, 0.123456789f);

  // Sampled back by a shader, the float comes through unquantised.
  device_->SetTexture(0, target);
  UsePixelShader(
      "sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR {"
      "  float v = tex2D(s, uv).r; return (v > 0.1234 && v < 0.1235) ? 1 : 0; }");
  ClearTo(0);
  DrawQuad(0, 0, 64, 48, 0xFFFFFFFF);
  EXPECT_EQ(At(ReadBackBuffer(), 20, 20), 0xFFFFFFu);
  copy->Release();
  surface->Release();
  target->Release();
}

// A shadow map's floats from a triangle, whose edges cut quads: every pixel holds its own value
// (x * 1000 + y + 0.25, exact in a float) or the cleared 0, alike with and without the fast paths.
TEST_F(ShaderTest, FloatTargetPixelsLandWhereTheirQuadsAre) {
  IDirect3DTexture9* target = nullptr;
  ASSERT_EQ(device_->CreateTexture(64, 48, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F, D3DPOOL_DEFAULT,
                                   &target, nullptr),
            D3D_OK);
  IDirect3DSurface9 *surface = nullptr, *copy = nullptr, *old = nullptr;
  ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
  ASSERT_EQ(
      device_->CreateOffscreenPlainSurface(64, 48, D3DFMT_R32F, D3DPOOL_SYSTEMMEM, &copy, nullptr),
      D3D_OK);
  device_->GetRenderTarget(0, &old);
  UsePixelShader(
      "float4 main(float2 p : VPOS) : COLOR { return float4(p.x * 1000 + p.y + 0.25, 0, 0, 1); }",
      "ps_3_0");
  std::vector<float> maps[2];
  for (int fast = 0; fast < 2; ++fast) {
    AutomationUseFastPaths(fast != 0);
    ASSERT_EQ(device_->SetRenderTarget(0, surface), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    TLVertex t[3] = {{1.3f, 0.7f, 0.5f, 1, 0, 0, 0},
                     {62.6f, 9.2f, 0.5f, 1, 0, 0, 0},
                     {17.9f, 46.4f, 0.5f, 1, 0, 0, 0}};
    ASSERT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, t, sizeof(TLVertex)), D3D_OK);
    ASSERT_EQ(device_->GetRenderTargetData(surface, copy), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    maps[fast].resize(64 * 48);
    for (int y = 0; y < 48; ++y)
      std::memcpy(&maps[fast][y * 64], static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch,
                  64 * 4);
    copy->UnlockRect();
  }
  AutomationUseFastPaths(true);
  device_->SetRenderTarget(0, old);
  old->Release();
  EXPECT_EQ(maps[0], maps[1]);
  int drawn = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const float v = maps[1][y * 64 + x];
      if (v == 0.f) continue;
      ASSERT_EQ(v, static_cast<float>(x * 1000 + y) + 0.25f) << x << "," << y;
      ++drawn;
    }
  EXPECT_GT(drawn, 900);  // the triangle's area is about 1400 pixels
  copy->Release();
  surface->Release();
  target->Release();
}

TEST_F(ShaderTest, QuadsChooseMipLevels) {
  IDirect3DTexture9* texture = MakeSolidLevels();
  ASSERT_NE(texture, nullptr);
  device_->SetTexture(0, texture);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
  UsePixelShader("sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s, uv); }");
  // 32 texels over 32 pixels: level 0; over 16 pixels: level 1; over 8: level 2.
  ClearTo(0);
  DrawQuad(0, 0, 32, 32, 0xFFFFFFFF);
  DrawQuad(32, 0, 48, 16, 0xFFFFFFFF);
  DrawQuad(48, 0, 56, 8, 0xFFFFFFFF);
  const std::vector<uint32_t> pixels = ReadBackBuffer();
  EXPECT_EQ(At(pixels, 10, 10), 0xFF0000u);
  EXPECT_EQ(At(pixels, 40, 8), 0x00FF00u);
  EXPECT_EQ(At(pixels, 52, 4), 0x0000FFu);
  // tex2Dlod ignores the quad and takes the level it is given.
  UsePixelShader(
      "sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR {"
      "  return tex2Dlod(s, float4(uv, 0, 2)); }",
      "ps_3_0");
  DrawQuad(0, 0, 32, 32, 0xFFFFFFFF);
  device_->SetTexture(0, nullptr);
  // (Refused as a ps_3_0 after fixed-function vertices? No: these are transformed vertices.)
  EXPECT_EQ(At(ReadBackBuffer(), 10, 10), 0x0000FFu);
  texture->Release();
}

// Eight-lane reads (two quads per step) give what four-lane reads give, bit for bit: bilinear
// weights, wrap on negative coordinates, per-quad levels and their blends under perspective, and
// a point-sampled, clamped floating-point map.
TEST_F(ShaderTest, EightLaneTextureReadsMatchFourLaneReads) {
  UsePixelShader("sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s, uv); }");
  IDirect3DTexture9* mipped = nullptr;
  ASSERT_EQ(
      device_->CreateTexture(32, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &mipped, nullptr),
      D3D_OK);
  uint32_t seed = 12345;
  for (UINT level = 0; level < mipped->GetLevelCount(); ++level) {
    D3DSURFACE_DESC desc;
    mipped->GetLevelDesc(level, &desc);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(mipped->LockRect(level, &locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
            seed;
      }
    mipped->UnlockRect(level);
  }
  std::vector<uint32_t> depths(64);
  for (int i = 0; i < 64; ++i) {
    const float value = float(i * 7 % 64) / 64;
    std::memcpy(&depths[i], &value, 4);
  }
  IDirect3DTexture9* map = MakeTexture(8, 8, depths, D3DFMT_R32F);
  ASSERT_NE(map, nullptr);

  // A trapezoid receding to the top: its quads land on several levels.
  auto draw = [&]() {
    ClearTo(0);
    const TLVertex q[4] = {{20, 0, 0.5f, 0.25f, 0xFFFFFFFF, -1.3f, -0.7f},
                           {44, 0, 0.5f, 0.25f, 0xFFFFFFFF, 2.1f, -0.7f},
                           {0, 48, 0.5f, 1.f, 0xFFFFFFFF, -1.3f, 1.6f},
                           {64, 48, 0.5f, 1.f, 0xFFFFFFFF, 2.1f, 1.6f}};
    EXPECT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex)), D3D_OK);
    return ReadBackBuffer();
  };
  auto compare = [&](const char* what, size_t minimumColours) {
    const std::vector<uint32_t> wide = draw();
    std::vector<uint32_t> narrow;
    {
      AutomationFastPathsOff off;
      narrow = draw();
    }
    int differ = 0;
    for (size_t i = 0; i < wide.size(); ++i) differ += wide[i] != narrow[i];
    EXPECT_EQ(differ, 0) << what;
    std::sort(narrow.begin(), narrow.end());
    const size_t colours = std::unique(narrow.begin(), narrow.end()) - narrow.begin();
    EXPECT_GE(colours, minimumColours) << what;
  };

  device_->SetTexture(0, mipped);
  for (DWORD state : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER})
    device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(state), D3DTEXF_LINEAR);
  compare("bilinear, levels blended, wrapped", 1000);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  compare("bilinear, levels blended, clamped", 500);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
  compare("bilinear, nearest level", 500);

  device_->SetTexture(0, map);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  for (DWORD state : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER})
    device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(state), D3DTEXF_POINT);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  compare("point, one level, floating point", 30);
  device_->SetTexture(0, nullptr);
  mipped->Release();
  map->Release();
}

// Texture reads a quad at a time against texels computed here: wrap on negative coordinates,
// clamp on a floating-point map (its missing channels read 1), alpha of X8R8G8B8, a blend of two
// mip levels, and quads whose lanes land on different levels.
TEST_F(ShaderTest, TextureReadsAddressFilterAndBlendLevels) {
  UsePixelShader("sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s, uv); }");
  // Pixel x samples texel (x / 2 - 16, y - 8) at a quarter texel from its edge.
  const float u0 = -2.f + 1.f / 32, u1 = 2.f + 1.f / 32, v0 = -1.f + 1.f / 16, v1 = 1.f + 1.f / 16;
  std::vector<uint32_t> texels(64);
  for (int i = 0; i < 64; ++i) texels[i] = 0xFF000000u | (i % 8 * 32) << 16 | (i / 8 * 32) << 8;
  IDirect3DTexture9* wrapped = MakeTexture(8, 8, texels);
  ASSERT_NE(wrapped, nullptr);
  device_->SetTexture(0, wrapped);
  ClearTo(0);
  DrawQuad(0, 0, 64, 16, 0xFFFFFFFF, 0.5f, u0, v0, u1, v1);
  std::vector<uint32_t> pixels = ReadBackBuffer();
  int wrong = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x)
      wrong += At(pixels, x, y) != (uint32_t(x / 2 % 8 * 32) << 16 | uint32_t(y % 8 * 32) << 8);
  EXPECT_EQ(wrong, 0);

  std::vector<uint32_t> depths(64);
  for (int i = 0; i < 64; ++i) {
    const float value = float(i) / 64;
    std::memcpy(&depths[i], &value, 4);
  }
  IDirect3DTexture9* map = MakeTexture(8, 8, depths, D3DFMT_R32F);
  ASSERT_NE(map, nullptr);
  device_->SetTexture(0, map);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  ClearTo(0);
  DrawQuad(0, 0, 64, 16, 0xFFFFFFFF, 0.5f, u0, v0, u1, v1);
  pixels = ReadBackBuffer();
  wrong = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      const int tx = std::clamp(x / 2 - 16, 0, 7), ty = std::clamp(y - 8, 0, 7);
      const uint32_t red = static_cast<uint32_t>(float(tx + 8 * ty) / 64 * 255.f + 0.5f);
      wrong += At(pixels, x, y) != (red << 16 | 0xFFFFu);
    }
  EXPECT_EQ(wrong, 0);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);

  UsePixelShader(
      "sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s, uv).aaaa; }");
  IDirect3DTexture9* xrgb =
      MakeTexture(8, 8, std::vector<uint32_t>(64, 0x40102030u), D3DFMT_X8R8G8B8);
  IDirect3DTexture9* argb = MakeTexture(8, 8, std::vector<uint32_t>(64, 0x40102030u));
  ASSERT_NE(xrgb, nullptr);
  ASSERT_NE(argb, nullptr);
  device_->SetTexture(0, xrgb);
  DrawQuad(0, 0, 8, 8, 0xFFFFFFFF);
  device_->SetTexture(0, argb);
  DrawQuad(8, 0, 16, 8, 0xFFFFFFFF);
  pixels = ReadBackBuffer();
  EXPECT_EQ(At(pixels, 3, 3), 0xFFFFFFu);
  EXPECT_EQ(At(pixels, 11, 3), 0x404040u);

  IDirect3DTexture9* levels = MakeSolidLevels();
  ASSERT_NE(levels, nullptr);
  const uint32_t* colours = kLevelColours;
  device_->SetTexture(0, levels);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  UsePixelShader("sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s, uv); }");
  // 32 texels over 24 pixels: level log2(32 / 24) between the first two.
  ClearTo(0);
  DrawQuad(0, 0, 24, 24, 0xFFFFFFFF);
  pixels = ReadBackBuffer();
  const float blend = std::log2(32.f / 24.f);
  EXPECT_NEAR(Channel(At(pixels, 10, 10), 16), 255 * (1 - blend), 1.0);
  EXPECT_NEAR(Channel(At(pixels, 10, 10), 8), 255 * blend, 1.0);
  EXPECT_EQ(Channel(At(pixels, 10, 10), 0), 0);

  // A bias growing along x: the quads at x = 2, 3 and x = 6, 7 straddle a change of level.
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
  UsePixelShader(
      "sampler s; float4 main(float2 uv : TEXCOORD0) : COLOR {"
      "  return tex2Dbias(s, float4(uv, 0, uv.x * 7)); }");
  ClearTo(0);
  DrawQuad(0, 0, 32, 32, 0xFFFFFFFF);
  pixels = ReadBackBuffer();
  for (int x = 0; x < 10; ++x) {
    const int level = x <= 2 ? 0 : x <= 6 ? 1 : 2;
    EXPECT_EQ(At(pixels, x, 5), colours[level] & 0xFFFFFFu) << "x " << x;
  }
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  device_->SetTexture(0, nullptr);
  for (IDirect3DTexture9* t : {wrapped, map, xrgb, argb, levels}) t->Release();
}

TEST_F(ShaderTest, ModelThreeLinksAnySemanticAndPairsOnlyWithItself) {
  // A normal passed from the vertex shader to the pixel shader, beside a colour.
  UseVertexShader(
      "struct O { float4 p : POSITION; float3 n : NORMAL; float4 c : COLOR1; };"
      "O main(float4 p : POSITION) {"
      "  O o; o.p = p; o.n = float3(0.25, 0.5, 0.75); o.c = float4(1, 0, 0, 1); return o; }",
      "vs_3_0");
  UsePixelShader(
      "float4 main(float3 n : NORMAL, float4 c : COLOR1) : COLOR {"
      "  return float4(n.x, n.y, c.r, 1); }",
      "ps_3_0");
  struct P {
    float x, y, z;
  } quad[4] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
  ASSERT_EQ(device_->SetFVF(D3DFVF_XYZ), D3D_OK);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3D_OK);
  const uint32_t p = At(ReadBackBuffer(), 20, 20);
  EXPECT_NEAR(Channel(p, 16), 64, 1);
  EXPECT_NEAR(Channel(p, 8), 128, 1);
  EXPECT_EQ(Channel(p, 0), 255);

  // vs_3_0 with a ps_2_0, or with the texture stages, is refused; so is ps_3_0 after vs_2_0.
  UsePixelShader("float4 main() : COLOR { return 1; }", "ps_2_0");
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3DERR_INVALIDCALL);
  device_->SetPixelShader(nullptr);
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3DERR_INVALIDCALL);
  UseVertexShader("float4 main(float4 p : POSITION) : POSITION { return p; }", "vs_2_0");
  UsePixelShader("float4 main() : COLOR { return 1; }", "ps_3_0");
  EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(P)), D3DERR_INVALIDCALL);
}

TEST_F(ShaderTest, VertexShaderFogPointSizeAndFixedPixels) {
  // vs_2_0 feeding the texture stages: its colour is the diffuse colour, its fog output the
  // vertex fog factor, its point size the point's size.
  UseVertexShader(
      "struct O { float4 p : POSITION; float4 c : COLOR0; float f : FOG; float s : PSIZE; };"
      "O main(float4 p : POSITION) {"
      "  O o; o.p = p; o.c = float4(1, 1, 1, 1); o.f = 0.25; o.s = 6; return o; }");
  device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
  device_->SetRenderState(D3DRS_FOGCOLOR, 0x00000000);
  struct P {
    float x, y, z;
  } point{0, 0, 0.5f};
  ASSERT_EQ(device_->SetFVF(D3DFVF_XYZ), D3D_OK);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof(P)), D3D_OK);
  const std::vector<uint32_t> pixels = ReadBackBuffer();
  // Centre (32, 24); a 6-pixel point covers x 29 .. 34.
  EXPECT_NEAR(Channel(At(pixels, 32, 24), 16), 64, 1);
  EXPECT_NEAR(Channel(At(pixels, 29, 24), 16), 64, 1);
  EXPECT_EQ(At(pixels, 27, 24), 0u);
  EXPECT_EQ(At(pixels, 36, 24), 0u);
  device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
}

}  // namespace
}  // namespace d3d9_test
