// D3DXCompileShader, D3DXCreateTextureShader, ID3DXTextureShader and D3DXFillTextureTX through
// the public interfaces, filling an in-memory IDirect3DTexture9 with a mip chain.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/com_object.h"
#include "../../platform/d3d9/pixel_format.h"
#include "platform/d3dx9_test_support.h"

namespace {

// A texture whose levels live in memory, with rows padded past their width so the fill must
// honour the pitch. LockRect can be made to fail.
class MemoryTexture final : public ComObject<IDirect3DTexture9> {
 public:
  MemoryTexture(UINT w, UINT h, UINT levels, D3DFORMAT fmt, uint32_t fill_argb) : fmt_(fmt) {
    const UINT bpp = FormatBytesPerPixel(fmt);
    for (UINT l = 0; l < levels; ++l) {
      Level lv;
      lv.w = w;
      lv.h = h;
      lv.pitch = w * bpp + 12;
      lv.bytes.assign(size_t(lv.pitch) * h, 0xCD);
      for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
          WritePixelArgb(fmt, &lv.bytes[size_t(y) * lv.pitch + size_t(x) * bpp], fill_argb);
      levels_.push_back(lv);
      w = w > 1 ? w / 2 : 1;
      h = h > 1 ? h / 2 : 1;
    }
  }
  uint32_t Texel(UINT level, UINT x, UINT y) const {
    const Level& lv = levels_[level];
    return ReadPixelArgb(fmt_,
                         &lv.bytes[size_t(y) * lv.pitch + size_t(x) * FormatBytesPerPixel(fmt_)]);
  }
  const std::vector<uint8_t>& Bytes(UINT level) const { return levels_[level].bytes; }
  UINT Width(UINT level) const { return levels_[level].w; }
  UINT Height(UINT level) const { return levels_[level].h; }
  bool fail_lock = false;
  int locks = 0;
  int unlocks = 0;

  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** pp) override { return D3DERR_INVALIDCALL; }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, const void*, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID) override { return E_NOTIMPL; }
  DWORD STDMETHODCALLTYPE SetPriority(DWORD) override { return 0; }
  DWORD STDMETHODCALLTYPE GetPriority() override { return 0; }
  void STDMETHODCALLTYPE PreLoad() override {}
  D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
  DWORD STDMETHODCALLTYPE SetLOD(DWORD) override { return 0; }
  DWORD STDMETHODCALLTYPE GetLOD() override { return 0; }
  DWORD STDMETHODCALLTYPE GetLevelCount() override { return DWORD(levels_.size()); }
  HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override {
    return E_NOTIMPL;
  }
  D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return D3DTEXF_NONE; }
  void STDMETHODCALLTYPE GenerateMipSubLevels() override {}
  HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* d) override {
    if (level >= levels_.size() || !d) return D3DERR_INVALIDCALL;
    std::memset(d, 0, sizeof *d);
    d->Format = fmt_;
    d->Type = D3DRTYPE_SURFACE;
    d->Pool = D3DPOOL_MANAGED;
    d->Width = levels_[level].w;
    d->Height = levels_[level].h;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT, IDirect3DSurface9**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LockRect(UINT level, D3DLOCKED_RECT* r, const RECT* rect,
                                     DWORD) override {
    if (fail_lock || level >= levels_.size() || !r || rect) return D3DERR_INVALIDCALL;
    ++locks;
    r->Pitch = INT(levels_[level].pitch);
    r->pBits = levels_[level].bytes.data();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnlockRect(UINT) override {
    ++unlocks;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddDirtyRect(const RECT*) override { return S_OK; }

 private:
  struct Level {
    UINT w = 0, h = 0, pitch = 0;
    std::vector<uint8_t> bytes;
  };
  D3DFORMAT fmt_;
  std::vector<Level> levels_;
};

std::string DemoSource() {
  const char* lines[] = {"// Sinus/Cos Demo",
                         "// float2 a: POSITION = Texturposition, a.x and a.y ",
                         "// float4 = color (r,g,b,a)",
                         "// r = sin(length(a) * 100.0) * 0.5 + 0.5",
                         "// g=sin(a.y * 50.0)",
                         "// b=cos(a.x * 50.0)",
                         "// a=0",
                         "",
                         "float4 Testout(float2 a: POSITION ) : COLOR",
                         "  {",
                         "    return float4(sin(length(a) * 10.0) * 0.5 + 0.5, sin(a.y * 5.0), "
                         "cos(a.x * 5.0), 1);",
                         "",
                         "  };"};
  std::string src;
  for (const char* l : lines) src += std::string(l) + "\n";
  return src;
}

// Compiles and creates a texture shader; empty result on failure (with the messages).
LPD3DXTEXTURESHADER Make(const std::string& src, const char* entry = "Testout",
                         std::string* messages = nullptr) {
  LPD3DXBUFFER code = nullptr, errors = nullptr;
  HRESULT hr =
      D3DXCompileShader(src.c_str(), UINT(src.size()), nullptr, nullptr, entry, "tx_1_0",
                        D3DXSHADER_ENABLE_BACKWARDS_COMPATIBILITY, &code, &errors, nullptr);
  if (messages) *messages = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
  SafeRelease(errors);
  if (FAILED(hr)) {
    EXPECT_EQ(code, nullptr);
    return nullptr;
  }
  LPD3DXTEXTURESHADER shader = nullptr;
  EXPECT_EQ(D3DXCreateTextureShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader),
            S_OK);
  code->Release();
  return shader;
}

int Channel(float v) {
  v = std::fmin(std::fmax(v, 0.f), 1.f);
  return int(v * 255.f + 0.5f);
}

// Checks every texel of a w x h level against the demo's formula, within 1 of 255.
template <class ReadTexel>
void ExpectDemoTexels(UINT level, UINT w, UINT h, ReadTexel read) {
  int bad = 0;
  for (UINT y = 0; y < h; ++y) {
    for (UINT x = 0; x < w; ++x) {
      const double ax = (x + 0.5) / w, ay = (y + 0.5) / h;
      const int want[4] = {255,
                           Channel(float(std::sin(std::sqrt(ax * ax + ay * ay) * 10) * 0.5 + 0.5)),
                           Channel(float(std::sin(5 * ay))), Channel(float(std::cos(5 * ax)))};
      const uint32_t got = read(x, y);
      const int have[4] = {int(got >> 24), int((got >> 16) & 255), int((got >> 8) & 255),
                           int(got & 255)};
      for (int c = 0; c < 4; ++c)
        if (std::abs(have[c] - want[c]) > 1 && ++bad < 10)
          ADD_FAILURE() << "level " << level << " texel " << x << "," << y << " channel " << c
                        << ": " << have[c] << " vs " << want[c];
    }
  }
  EXPECT_EQ(bad, 0);
}

void ExpectDemoLevel(const MemoryTexture& t, UINT level) {
  ExpectDemoTexels(level, t.Width(level), t.Height(level),
                   [&](UINT x, UINT y) { return t.Texel(level, x, y); });
}

}  // namespace

TEST(ShaderFill, DemoShaderFillsEveryTexelWithItsFormula) {
  LPD3DXTEXTURESHADER shader = Make(DemoSource());
  ASSERT_NE(shader, nullptr);
  auto* tex = new MemoryTexture(64, 64, 1, D3DFMT_A8R8G8B8, 0x1EFFFFFF);
  ASSERT_EQ(D3DXFillTextureTX(tex, shader), S_OK);
  ExpectDemoLevel(*tex, 0);
  EXPECT_EQ(tex->locks, 1);
  EXPECT_EQ(tex->unlocks, 1);
  // Exact spot checks: the first texel and one in the middle.
  EXPECT_EQ(tex->Texel(0, 0, 0) >> 24, 255u);
  const float a = 0.5f / 64;
  EXPECT_EQ((tex->Texel(0, 0, 0) >> 16) & 255,
            uint32_t((std::sin(std::sqrt(2 * a * a) * 10.f) * 0.5f + 0.5f) * 255.f + 0.5f));
  // The row padding past the width is not written.
  EXPECT_EQ(tex->Bytes(0)[64 * 4], 0xCD);
  tex->Release();
  shader->Release();
}

TEST(ShaderFill, EveryMipLevelIsFilledAtItsOwnSize) {
  LPD3DXTEXTURESHADER shader = Make(DemoSource());
  ASSERT_NE(shader, nullptr);
  auto* tex = new MemoryTexture(64, 16, 7, D3DFMT_X8R8G8B8, 0x00000000);
  ASSERT_EQ(D3DXFillTextureTX(tex, shader), S_OK);
  for (UINT l = 0; l < 7; ++l) ExpectDemoLevel(*tex, l);
  EXPECT_EQ(tex->locks, 7);
  EXPECT_EQ(tex->unlocks, 7);
  tex->Release();
  shader->Release();
}

TEST(ShaderFill, TwoFillsGiveTheSameTexels) {
  LPD3DXTEXTURESHADER shader = Make(
      "static float bump = 0;\n"
      "float4 main(float2 p : POSITION) : COLOR {\n"
      "  bump += 0.25;\n"
      "  return float4(noise(p * 7), frac(p * 13.3), bump);\n"
      "}\n",
      "main");
  ASSERT_NE(shader, nullptr);
  auto* a = new MemoryTexture(32, 32, 2, D3DFMT_A8R8G8B8, 0);
  auto* b = new MemoryTexture(32, 32, 2, D3DFMT_A8R8G8B8, 0xFFFFFFFF);
  ASSERT_EQ(D3DXFillTextureTX(a, shader), S_OK);
  ASSERT_EQ(D3DXFillTextureTX(b, shader), S_OK);
  EXPECT_EQ(a->Bytes(0), b->Bytes(0));
  EXPECT_EQ(a->Bytes(1), b->Bytes(1));
  ASSERT_EQ(D3DXFillTextureTX(a, shader), S_OK);
  EXPECT_EQ(a->Bytes(0), b->Bytes(0));
  EXPECT_EQ(a->Texel(0, 5, 5) >> 24, uint32_t(0.25f * 255 + 0.5f));  // statics restart per texel
  a->Release();
  b->Release();
  shader->Release();
}

TEST(ShaderFill, PositionPsizeClampingAndOtherFormats) {
  LPD3DXTEXTURESHADER shader = Make(
      "float4 main(float2 s : PSIZE, float2 p : POSITION) : COLOR {\n"
      "  return float4(p.x, s.y * 4, p.y * 3 - 1, -2);\n"
      "}\n",
      "main");
  ASSERT_NE(shader, nullptr);
  auto* tex = new MemoryTexture(8, 4, 1, D3DFMT_A8R8G8B8, 0);
  ASSERT_EQ(D3DXFillTextureTX(tex, shader), S_OK);
  for (UINT y = 0; y < 4; ++y) {
    for (UINT x = 0; x < 8; ++x) {
      uint32_t v = tex->Texel(0, x, y);
      EXPECT_EQ(v >> 24, 0u);  // clamped from -2
      EXPECT_EQ((v >> 16) & 255, uint32_t(Channel((x + 0.5f) / 8)));
      EXPECT_EQ((v >> 8) & 255, 255u);  // 1/4 * 4
      EXPECT_EQ(v & 255, uint32_t(Channel((y + 0.5f) / 4 * 3 - 1)));
    }
  }
  tex->Release();
  // 16-bit formats go through the pixel-format conversion.
  auto* tex16 = new MemoryTexture(8, 4, 1, D3DFMT_R5G6B5, 0);
  ASSERT_EQ(D3DXFillTextureTX(tex16, shader), S_OK);
  uint32_t v = tex16->Texel(0, 7, 3);
  EXPECT_EQ((v >> 16) & 255,
            (uint32_t(Channel(7.5f / 8)) & 0xF8) | (uint32_t(Channel(7.5f / 8)) >> 5));
  EXPECT_EQ((v >> 8) & 255, 255u);
  tex16->Release();
  shader->Release();
}

TEST(ShaderFill, FailuresLeaveTheTextureAlone) {
  LPD3DXTEXTURESHADER spin = Make(
      "float4 main(float2 p : POSITION) : COLOR {\n"
      "  float s = 0; while (p.x < 2) { s += 1; } return s;\n"
      "}\n",
      "main");
  ASSERT_NE(spin, nullptr);
  auto* tex = new MemoryTexture(16, 16, 2, D3DFMT_A8R8G8B8, 0x1EFFFFFF);
  const std::vector<uint8_t> before = tex->Bytes(0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(D3DXFillTextureTX(tex, spin), D3DERR_INVALIDCALL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(tex->Bytes(0), before);
  EXPECT_EQ(tex->locks, 0);

  LPD3DXTEXTURESHADER demo = Make(DemoSource());
  ASSERT_NE(demo, nullptr);
  EXPECT_EQ(D3DXFillTextureTX(nullptr, demo), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXFillTextureTX(tex, nullptr), D3DERR_INVALIDCALL);
  tex->fail_lock = true;
  EXPECT_EQ(D3DXFillTextureTX(tex, demo), D3DERR_INVALIDCALL);
  EXPECT_EQ(tex->Bytes(0), before);
  tex->Release();
  // Formats the fill cannot write are refused before anything is touched.
  auto* depth = new MemoryTexture(4, 4, 1, D3DFMT_D16, 0);
  EXPECT_EQ(D3DXFillTextureTX(depth, demo), D3DERR_INVALIDCALL);
  EXPECT_EQ(depth->locks, 0);
  depth->Release();
  spin->Release();
  demo->Release();
}

TEST(ShaderFill, DemoFillIsFast) {
  LPD3DXTEXTURESHADER shader = Make(DemoSource());
  ASSERT_NE(shader, nullptr);
  auto* tex = new MemoryTexture(64, 64, 1, D3DFMT_A8R8G8B8, 0);
  ASSERT_EQ(D3DXFillTextureTX(tex, shader), S_OK);  // warm up
  // The best of several runs, so a busy machine does not decide the outcome.
  double us = 1e9;
  for (int i = 0; i < 20; ++i) {
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(D3DXFillTextureTX(tex, shader), S_OK);
    us = std::min(
        us, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
  }
  std::printf("64x64 demo fill: %.1f us\n", us);
  EXPECT_LT(us, 5000.0);  // generous for sanitizer builds; typical figures are far lower
  tex->Release();
  shader->Release();
}

TEST(ShaderApi, CompileReportsErrorsInZeroTerminatedBuffers) {
  LPD3DXBUFFER code = reinterpret_cast<LPD3DXBUFFER>(1), errors = nullptr;
  const char src[] = "float4 main() : COLOR { return 0; }";
  EXPECT_EQ(D3DXCompileShader(src, sizeof src - 1, nullptr, nullptr, "Testout", "tx_1_0", 0x1000,
                              &code, &errors, nullptr),
            E_FAIL);
  EXPECT_EQ(code, nullptr);
  ASSERT_NE(errors, nullptr);
  const char* text = static_cast<const char*>(errors->GetBufferPointer());
  EXPECT_STREQ(text, "error X3501: 'Testout': entrypoint not found\n");
  EXPECT_EQ(errors->GetBufferSize(), std::strlen(text) + 1);
  errors->Release();
  // Empty source (length 0), wrong profile.
  EXPECT_TRUE(FAILED(
      D3DXCompileShader("", 0, nullptr, nullptr, "Testout", "tx_1_0", 0, &code, &errors, nullptr)));
  ASSERT_NE(errors, nullptr);
  EXPECT_GT(errors->GetBufferSize(), 1u);
  errors->Release();
  EXPECT_TRUE(FAILED(D3DXCompileShader(src, sizeof src - 1, nullptr, nullptr, "main", "ps_4_0", 0,
                                       &code, &errors, nullptr)));
  ASSERT_NE(errors, nullptr);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("ps_4_0"),
            std::string::npos);
  errors->Release();
  // The source length is honoured: bytes past it are not compiled.
  const char padded[] = "float4 main() : COLOR { return 1; } garbage that is not compiled";
  EXPECT_EQ(
      D3DXCompileShader(padded, 35, nullptr, nullptr, "main", "tx_1_0", 0, &code, nullptr, nullptr),
      S_OK);
  ASSERT_NE(code, nullptr);
  code->Release();
  // Macros given by the caller, ended by a NULL name.
  const D3DXMACRO macros[] = {{"LEVEL", "0.5"}, {"UNUSED", nullptr}, {nullptr, nullptr}};
  const char with_macro[] = "float4 main() : COLOR { return LEVEL; }";
  ASSERT_EQ(D3DXCompileShader(with_macro, sizeof with_macro - 1, macros, nullptr, "main", "tx_1_0",
                              0, &code, nullptr, nullptr),
            S_OK);
  LPD3DXTEXTURESHADER half = nullptr;
  ASSERT_EQ(D3DXCreateTextureShader(static_cast<const DWORD*>(code->GetBufferPointer()), &half),
            S_OK);
  code->Release();
  auto* tex = new MemoryTexture(2, 2, 1, D3DFMT_A8R8G8B8, 0);
  ASSERT_EQ(D3DXFillTextureTX(tex, half), S_OK);
  EXPECT_EQ(tex->Texel(0, 1, 1), 0x80808080u);
  tex->Release();
  half->Release();
  // Bad arguments.
  EXPECT_EQ(D3DXCompileShader(nullptr, 10, nullptr, nullptr, "main", "tx_1_0", 0, &code, &errors,
                              nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCompileShader(src, sizeof src - 1, nullptr, nullptr, nullptr, "tx_1_0", 0, &code,
                              &errors, nullptr),
            D3DERR_INVALIDCALL);
  // Warnings come back on success.
  const char warn[] = "float4 main(float2 p : POSITION) : COLOR { float3 v = p.xyxy; return v.x; }";
  EXPECT_EQ(D3DXCompileShader(warn, sizeof warn - 1, nullptr, nullptr, "main", "tx_1_0", 0, &code,
                              &errors, nullptr),
            S_OK);
  ASSERT_NE(errors, nullptr);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("warning X3206"),
            std::string::npos);
  errors->Release();
  code->Release();
}

TEST(ShaderApi, TextureShaderInterface) {
  const std::string src =
      "static const float4 kBase = float4(0.5, 0.25, 1, 2);\n"
      "float4 main() : COLOR { return kBase; }\n";
  LPD3DXBUFFER code = nullptr;
  ASSERT_EQ(D3DXCompileShader(src.c_str(), UINT(src.size()), nullptr, nullptr, "main", "tx_1_0", 0,
                              &code, nullptr, nullptr),
            S_OK);
  LPD3DXTEXTURESHADER shader = nullptr;
  ASSERT_EQ(D3DXCreateTextureShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader),
            S_OK);
  LPD3DXBUFFER function = nullptr;
  ASSERT_EQ(shader->GetFunction(&function), S_OK);
  ASSERT_EQ(function->GetBufferSize(), code->GetBufferSize());
  EXPECT_EQ(
      std::memcmp(function->GetBufferPointer(), code->GetBufferPointer(), code->GetBufferSize()),
      0);
  function->Release();
  LPD3DXBUFFER constants = nullptr;
  ASSERT_EQ(shader->GetConstantBuffer(&constants), S_OK);
  ASSERT_EQ(constants->GetBufferSize(), 16u);
  const float* f = static_cast<const float*>(constants->GetBufferPointer());
  EXPECT_EQ(f[0], 0.5f);
  EXPECT_EQ(f[3], 2.f);
  constants->Release();
  D3DXCONSTANTTABLE_DESC desc;
  ASSERT_EQ(shader->GetDesc(&desc), S_OK);
  EXPECT_EQ(desc.Version, DWORD(D3DXTX_VERSION(1, 0)));
  EXPECT_EQ(desc.Constants, 0u);  // a static is not a constant
  EXPECT_NE(desc.Creator, nullptr);
  EXPECT_EQ(shader->SetDefaults(), S_OK);
  EXPECT_EQ(shader->SetFloat("kBase", 1.f), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->GetConstantByName(nullptr, "kBase"), nullptr);
  void* same = nullptr;
  ASSERT_EQ(shader->QueryInterface(IID_ID3DXTextureShader, &same), S_OK);
  EXPECT_EQ(same, shader);
  shader->Release();
  EXPECT_EQ(shader->Release(), 0u);
  code->Release();
}

TEST(ShaderApi, UniformConstantsAreSetByNameBetweenFills) {
  LPD3DXTEXTURESHADER shader = Make(
      "float4 gColour = float4(0.2, 0.4, 0.6, 0.8);\n"
      "float gScale = 1;\n"
      "bool gInvert;\n"
      "int gSteps = 2;\n"
      "float4 main() : COLOR {\n"
      "  float4 c = gColour * gScale;\n"
      "  c.a = gSteps / 4.0;\n"
      "  return gInvert ? 1 - c : c;\n"
      "}\n",
      "main");
  ASSERT_NE(shader, nullptr);
  D3DXCONSTANTTABLE_DESC desc;
  ASSERT_EQ(shader->GetDesc(&desc), S_OK);
  EXPECT_EQ(desc.Constants, 4u);
  D3DXHANDLE colour = shader->GetConstantByName(nullptr, "gColour");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(shader->GetConstant(nullptr, 0), colour);
  EXPECT_EQ(shader->GetConstant(nullptr, 4), nullptr);
  EXPECT_EQ(shader->GetConstantElement(colour, 0), colour);
  D3DXCONSTANT_DESC cd;
  UINT count = 1;
  ASSERT_EQ(shader->GetConstantDesc(colour, &cd, &count), S_OK);
  EXPECT_STREQ(cd.Name, "gColour");
  EXPECT_EQ(cd.Class, D3DXPC_VECTOR);
  EXPECT_EQ(cd.Type, D3DXPT_FLOAT);
  EXPECT_EQ(cd.Columns, 4u);
  EXPECT_EQ(cd.Bytes, 16u);
  ASSERT_NE(cd.DefaultValue, nullptr);
  EXPECT_EQ(static_cast<const float*>(cd.DefaultValue)[1], 0.4f);
  ASSERT_EQ(shader->GetConstantDesc("gInvert", &cd, &count), S_OK);
  EXPECT_EQ(cd.Type, D3DXPT_BOOL);
  EXPECT_EQ(cd.Class, D3DXPC_SCALAR);

  auto* tex = new MemoryTexture(2, 2, 1, D3DFMT_A8R8G8B8, 0);
  auto fill = [&] {
    EXPECT_EQ(D3DXFillTextureTX(tex, shader), S_OK);
    return tex->Texel(0, 1, 0);
  };
  const uint32_t initial = fill();
  EXPECT_EQ(initial, (uint32_t(Channel(0.5f)) << 24) | (uint32_t(Channel(0.2f)) << 16) |
                         (uint32_t(Channel(0.4f)) << 8) | uint32_t(Channel(0.6f)));
  const float rgba[4] = {1, 0, 0.5f, 1};
  EXPECT_EQ(shader->SetFloatArray(colour, rgba, 4), S_OK);
  EXPECT_EQ(shader->SetFloat("gScale", 0.5f), S_OK);
  EXPECT_EQ(shader->SetInt("gSteps", 4), S_OK);
  EXPECT_EQ(fill(), 0xFF800040u);  // (1, 0, 0.5) * 0.5; alpha 4 / 4
  EXPECT_EQ(shader->SetBool("gInvert", TRUE), S_OK);
  EXPECT_EQ(fill(), 0x0080FFBFu);  // 1 - (0.5, 0, 0.25, 1)
  const INT steps = 0;
  EXPECT_EQ(shader->SetValue("gSteps", &steps, sizeof steps), S_OK);
  EXPECT_EQ(fill() >> 24, 255u);  // inverted 0
  // Wrong names, sizes and types are refused and change nothing.
  EXPECT_EQ(shader->SetFloat("gMissing", 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->SetFloatArray("gScale", rgba, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->SetValue(colour, rgba, 20), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->SetMatrix(colour, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(shader->SetFloat(nullptr, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(fill(), 0xFF80FFBFu);
  EXPECT_EQ(shader->SetDefaults(), S_OK);
  EXPECT_EQ(fill(), initial);
  tex->Release();
  shader->Release();
}

// The same fill on a texture of the device, the way the engine uses it.
class ShaderDeviceFill : public d3dx_test::DeviceTest {};

TEST_F(ShaderDeviceFill, DemoShaderFillsAManagedMipChain) {
  LPD3DXTEXTURESHADER shader = Make(DemoSource());
  ASSERT_NE(shader, nullptr);
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(device_->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
            D3D_OK);
  const DWORD levels = tex->GetLevelCount();
  EXPECT_EQ(levels, 7u);
  ASSERT_EQ(D3DXFillTextureTX(tex, shader), D3D_OK);
  for (DWORD l = 0; l < levels; ++l) {
    D3DSURFACE_DESC desc;
    ASSERT_EQ(tex->GetLevelDesc(l, &desc), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(l, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    ExpectDemoTexels(l, desc.Width, desc.Height, [&](UINT x, UINT y) {
      uint32_t v;
      std::memcpy(&v, static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
      return v;
    });
    tex->UnlockRect(l);
  }
  tex->Release();
  shader->Release();
}
