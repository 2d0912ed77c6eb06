// Texture shaders through the engine: compile errors recorded in LastError/LastErrorText, fills,
// and unknown handles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;

const char kSource[] =
    "float4 Testout(float2 a: POSITION ) : COLOR\n"
    "  {\n"
    "    return float4(sin(length(a) * 10.0) * 0.5 + 0.5, sin(a.y * 5.0), cos(a.x * 5.0), 1);\n"
    "  };\n";

std::vector<uint32_t> Texels(Texture* t) {
  std::vector<uint32_t> out;
  D3DLOCKED_RECT locked{};
  if (t->D3DTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
  for (int y = 0; y < t->Height; ++y) {
    for (int x = 0; x < t->Width; ++x) {
      uint32_t v;
      std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
      out.push_back(v);
    }
  }
  t->D3DTexture->UnlockRect(0);
  return out;
}

int Channel(double v) {
  v = v < 0 ? 0 : (v > 1 ? 1 : v);
  return static_cast<int>(v * 255.0 + 0.5);
}

using TextureShaderTest = EngineTest;

TEST_F(TextureShaderTest, CompiledShaderFillsEveryTexelByTheFormula) {
  TextureShader* shader = CreateTextureShader(kSource);
  ASSERT_NE(shader, nullptr) << Engine.LastErrorText;
  Texture* t = CreateTexture(64, 64, 0x1EFFFFFF);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(FillTextureWithShader(shader, t), 1);
  std::vector<uint32_t> texels = Texels(t);
  ASSERT_EQ(texels.size(), 64u * 64u);
  for (int y = 0; y < 64; y += 7) {
    for (int x = 0; x < 64; x += 9) {
      const double ax = (x + 0.5) / 64.0, ay = (y + 0.5) / 64.0;
      const uint32_t v = texels[y * 64 + x];
      EXPECT_NEAR(static_cast<int>((v >> 16) & 0xFF),
                  Channel(std::sin(std::sqrt(ax * ax + ay * ay) * 10.0) * 0.5 + 0.5), 1);
      EXPECT_NEAR(static_cast<int>((v >> 8) & 0xFF), Channel(std::sin(ay * 5.0)), 1);
      EXPECT_NEAR(static_cast<int>(v & 0xFF), Channel(std::cos(ax * 5.0)), 1);
      EXPECT_EQ(v >> 24, 0xFFu);
    }
  }
  // A second fill gives the same texels.
  ASSERT_EQ(FillTextureWithShader(shader, t), 1);
  EXPECT_EQ(Texels(t), texels);
  EXPECT_EQ(Engine.TextureShaderList.Count(), 1);
}

TEST_F(TextureShaderTest, MissingEntryPointRecordsTheCompilerMessage) {
  Engine.LastError = 1;
  EXPECT_EQ(CreateTextureShader("float4 Other(float2 a : POSITION) : COLOR { return 1; }\n"),
            nullptr);
  EXPECT_EQ(Engine.LastError, 16);
  EXPECT_NE(Engine.LastErrorText.find("X3501"), std::string::npos) << Engine.LastErrorText;
  EXPECT_NE(Engine.LastErrorText.find("'Testout'"), std::string::npos);
  ASSERT_FALSE(Engine.LastErrorText.empty());
  EXPECT_NE(Engine.LastErrorText.back(), '\n');  // the closing line break is dropped
  EXPECT_EQ(Engine.TextureShaderList.Count(), 0);
}

TEST_F(TextureShaderTest, EmptySourceFailsAndLeavesNoRecord) {
  Engine.LastError = 1;
  EXPECT_EQ(CreateTextureShader(""), nullptr);
  EXPECT_EQ(Engine.LastError, 16);
  EXPECT_EQ(Engine.TextureShaderList.Count(), 0);
  // A successful compile afterwards leaves LastError alone.
  Engine.LastError = 1;
  EXPECT_NE(CreateTextureShader(kSource), nullptr);
  EXPECT_EQ(Engine.LastError, 1);
}

TEST_F(TextureShaderTest, UnknownOrSwappedHandlesLeaveTheTextureAlone) {
  TextureShader* shader = CreateTextureShader(kSource);
  Texture* t = CreateTexture(8, 8, 0x1EFFFFFF);
  ASSERT_NE(shader, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(FillTextureWithShader(reinterpret_cast<TextureShader*>(t),
                                  reinterpret_cast<Texture*>(shader)),
            0);
  EXPECT_EQ(FillTextureWithShader(nullptr, t), 0);
  EXPECT_EQ(FillTextureWithShader(shader, nullptr), 0);
  for (uint32_t v : Texels(t)) ASSERT_EQ(v, 0x1EFFFFFFu);
}

}  // namespace
