// Textures: colour composition, solid textures, raster-image conversion through the in-memory
// BMP file, and colour keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::EngineTest;

uint32_t Le32(const std::vector<uint8_t>& f, size_t at) {
  return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& f, size_t at) {
  return static_cast<uint16_t>(f[at] | (f[at + 1] << 8));
}

// Every texel of level 0 as A8R8G8B8 values, row-major.
std::vector<uint32_t> Texels(IDirect3DTexture9* texture) {
  std::vector<uint32_t> out;
  D3DSURFACE_DESC desc{};
  EXPECT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
  D3DLOCKED_RECT locked{};
  if (texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) {
    ADD_FAILURE() << "LockRect failed";
    return out;
  }
  for (UINT y = 0; y < desc.Height; ++y) {
    for (UINT x = 0; x < desc.Width; ++x) {
      uint32_t v;
      std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
      out.push_back(v);
    }
  }
  texture->UnlockRect(0);
  return out;
}

TEST(ComposeColourTest, KeepsOnlyTheLowByteOfEachChannel) {
  EXPECT_EQ(ComposeColour(30, 255, 255, 255), 0x1EFFFFFFu);
  EXPECT_EQ(ComposeColour(256, 1, 2, 3), 0x00010203u);
  EXPECT_EQ(ComposeColour(-1, 0x1AB, 0, 0x100), 0xFFAB0000u);
}

class TextureTest : public EngineTest {
 protected:
  void TearDown() override {
    ReleaseRuntimeObjects();
    EngineTest::TearDown();
  }
};

TEST_F(TextureTest, CreateTextureFillsEveryTexelWithTheColour) {
  Texture* t = CreateTexture(64, 64, 0x1EFFFFFF);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width, 64);
  EXPECT_EQ(t->Height, 64);
  EXPECT_EQ(t->Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(t->RenderTarget, 0u);
  EXPECT_FLOAT_EQ(t->Material.Diffuse.r, 1.0f);
  EXPECT_FLOAT_EQ(t->Material.Diffuse.a, 0.0f);
  EXPECT_FLOAT_EQ(t->Material.Emissive.g, 1.0f);
  EXPECT_FLOAT_EQ(t->Material.Ambient.r, 0.0f);
  std::vector<uint32_t> texels = Texels(t->D3DTexture);
  ASSERT_EQ(texels.size(), 64u * 64u);
  for (uint32_t v : texels) ASSERT_EQ(v, 0x1EFFFFFFu);
  EXPECT_EQ(TextureWidth(t), 64);
  EXPECT_EQ(TextureHeight(t), 64);
}

TEST_F(TextureTest, BadSizesAndFailedCreationLeaveNoRecord) {
  const int before = Engine.TextureList.Count();
  EXPECT_EQ(CreateTexture(0, 16, 0), nullptr);
  EXPECT_EQ(CreateTexture(16, -1, 0), nullptr);
  AutomationSetFault(AutomationFault::CreateTexture, true);
  const int32_t lastError = Engine.LastError;
  EXPECT_EQ(CreateTexture(16, 16, 0), nullptr);
  EXPECT_EQ(Engine.LastError, lastError);
  AutomationSetFault(AutomationFault::CreateTexture, false);
  EXPECT_EQ(Engine.TextureList.Count(), before);
}

TEST_F(TextureTest, ThreeByThreeImageMakesANinetyByteBmp) {
  RuntimeId image = NewRasterImage(kAnyObject, 3, 3);
  ASSERT_NE(image, 0);
  ASSERT_NE(BeginImageDrawing(image), nullptr);
  PlotPixel(0, 0, 0x0000FF);  // top-left red
  PlotPixel(2, 2, 0xFF0000);  // bottom-right blue
  EndDrawing();
  std::vector<uint8_t> file;
  ASSERT_TRUE(BuildImageBmpFile(image, 0, &file));
  ASSERT_EQ(file.size(), 90u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), 90u);
  EXPECT_EQ(Le32(file, 6), 0u);
  EXPECT_EQ(Le32(file, 10), 54u);
  EXPECT_EQ(Le32(file, 14), 40u);
  EXPECT_EQ(Le32(file, 18), 3u);
  EXPECT_EQ(Le32(file, 22), 3u);
  EXPECT_EQ(Le16(file, 26), 1u);
  EXPECT_EQ(Le16(file, 28), 32u);
  EXPECT_EQ(Le32(file, 30), 0u);
  EXPECT_EQ(Le32(file, 34), 36u);
  for (size_t i = 38; i < 54; ++i) EXPECT_EQ(file[i], 0) << i;
  // Bottom-up rows, blue-green-red-x: the first pixel in the file is the bottom-left one, the
  // last row holds the top line with red at its start.
  EXPECT_EQ(Le32(file, 54 + 2 * 4) & 0xFFFFFF, 0x0000FFu);  // bottom-right: blue
  EXPECT_EQ(Le32(file, 54 + 24) & 0xFFFFFF, 0xFF0000u);     // top-left: red
  // Flipped rows arrive top-down.
  std::vector<uint8_t> flipped;
  ASSERT_TRUE(BuildImageBmpFile(image, 1, &flipped));
  EXPECT_EQ(Le32(flipped, 54) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(Le32(flipped, 54 + 24 + 8) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(TextureTest, ConvertedImageKeepsItsPixelsWithOpaqueAlpha) {
  RuntimeId image = NewRasterImage(kAnyObject, 5, 4);
  ASSERT_NE(image, 0);
  ASSERT_NE(BeginImageDrawing(image), nullptr);
  PlotPixel(1, 0, 0x00FF00);
  PlotPixel(4, 3, 0x123456);
  EndDrawing();
  Texture* t = CreateTextureFromImage(image);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width, 5);
  EXPECT_EQ(t->Height, 4);
  EXPECT_EQ(t->Format, D3DFMT_X8R8G8B8);  // R8G8B8 asked, as real drivers give
  std::vector<uint32_t> texels = Texels(t->D3DTexture);
  ASSERT_EQ(texels.size(), 20u);
  EXPECT_EQ(texels[1] & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(texels[3 * 5 + 4] & 0xFFFFFF, 0x563412u);
  EXPECT_EQ(texels[0] & 0xFFFFFF, 0u);
  // The upside-down conversion puts the top line last.
  Texture* flipped = CreateTextureFromImageEx(image, 1, 1, 1);
  ASSERT_NE(flipped, nullptr);
  EXPECT_EQ(flipped->Format, D3DFMT_A8R8G8B8);
  std::vector<uint32_t> upside = Texels(flipped->D3DTexture);
  EXPECT_EQ(upside[3 * 5 + 1] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(TextureTest, UnknownImageReturnsZeroAndAddsNothing) {
  const int before = Engine.TextureList.Count();
  Engine.LastError = 1;
  EXPECT_EQ(CreateTextureFromImage(12345), nullptr);
  EXPECT_EQ(CreateTextureFromImageEx(kAnyObject, 0, 0, 0), nullptr);
  EXPECT_EQ(Engine.TextureList.Count(), before);
  EXPECT_EQ(Engine.LastError, 1);
}

TEST_F(TextureTest, MipLevelsOutsideTheRangeComeFromTheFile) {
  RuntimeId image = NewRasterImage(kAnyObject, 8, 8);
  ASSERT_NE(image, 0);
  Texture* full = CreateTextureFromImageEx(image, 0, 0, 0);
  Texture* fromFile = CreateTextureFromImageEx(image, 0, 0, 11);
  Texture* two = CreateTextureFromImageEx(image, 0, 0, 2);
  ASSERT_NE(full, nullptr);
  ASSERT_NE(fromFile, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(full->D3DTexture->GetLevelCount(), 4u);
  EXPECT_EQ(fromFile->D3DTexture->GetLevelCount(), 1u);
  EXPECT_EQ(two->D3DTexture->GetLevelCount(), 2u);
}

TEST_F(TextureTest, ColourKeyTurnsOpaqueBlackTransparentAndKeepsTheRest) {
  RuntimeId image = NewRasterImage(kAnyObject, 3, 3);
  ASSERT_NE(image, 0);
  ASSERT_NE(BeginImageDrawing(image), nullptr);
  FillCircle(1, 1, 1, 0x00FFFF);  // yellow plus on black
  PlotPixel(0, 0, 0x010000);      // nearly black: not the key
  EndDrawing();
  Texture* t = CreateTextureFromImage(image);
  ASSERT_NE(t, nullptr);
  IDirect3DTexture9* before = t->D3DTexture;
  before->AddRef();
  ASSERT_EQ(ApplyColourKey(t, 0), 1);
  EXPECT_NE(t->D3DTexture, before);
  before->Release();
  std::vector<uint32_t> texels = Texels(t->D3DTexture);
  ASSERT_EQ(texels.size(), 9u);
  const uint32_t yellow = 0xFFFFFF00u;
  const std::vector<uint32_t> expected = {0xFF000001u, yellow, 0,      yellow, yellow,
                                          yellow,      0,      yellow, 0};
  EXPECT_EQ(texels, expected);
  // The record still describes the texture as it was created.
  EXPECT_EQ(t->Format, D3DFMT_X8R8G8B8);
  D3DSURFACE_DESC desc{};
  t->D3DTexture->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(TextureWidth(t), 3);
}

TEST_F(TextureTest, ColourKeyFailureKeepsThePreviousTexture) {
  Texture* t = CreateTexture(4, 4, 0xFF000000);
  ASSERT_NE(t, nullptr);
  IDirect3DTexture9* previous = t->D3DTexture;
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, true);
  EXPECT_EQ(ApplyColourKey(t, 0), 0);
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, false);
  EXPECT_EQ(t->D3DTexture, previous);
  for (uint32_t v : Texels(t->D3DTexture)) EXPECT_EQ(v, 0xFF000000u);
  EXPECT_EQ(ApplyColourKey(reinterpret_cast<Texture*>(&previous), 0), 0);
  EXPECT_EQ(TextureWidth(nullptr), 0);
  EXPECT_EQ(TextureHeight(reinterpret_cast<Texture*>(0x10)), 0);
}

TEST_F(TextureTest, LoadTextureReadsPictureFilesAndReportsFailures) {
  // A 4 x 2 PNG of one colour, written by D3DX from a texture of ours.
  Texture* source = CreateTexture(4, 2, 0x80336699);
  ASSERT_NE(source, nullptr);
  ID3DXBuffer* png = nullptr;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&png, D3DXIFF_PNG, source->D3DTexture, nullptr), D3D_OK);
  const std::string path = ::testing::TempDir() + "/vexa_load_texture.png";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(png->GetBufferPointer(), 1, png->GetBufferSize(), f);
  std::fclose(f);
  png->Release();

  const int32_t before = Engine.TextureList.Count();
  Texture* loaded = LoadTexture(path.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(Engine.TextureList.Count(), before + 1);
  EXPECT_EQ(loaded->Width, 4);
  EXPECT_EQ(loaded->Height, 2);
  EXPECT_EQ(loaded->Material.Diffuse.r, 1.0f) << "the material CreateTexture gives";
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(loaded->D3DTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
  uint32_t texel;
  std::memcpy(&texel, locked.pBits, 4);
  loaded->D3DTexture->UnlockRect(0);
  EXPECT_EQ(texel, 0x80336699u) << "alpha kept";

  Engine.LastError = 0;
  EXPECT_EQ(LoadTexture((::testing::TempDir() + "/vexa_no_such_picture.png").c_str()), nullptr);
  EXPECT_EQ(Engine.LastError, kEngineImageLoad);
  EXPECT_NE(Engine.LastErrorText.find("vexa_no_such_picture.png"), std::string::npos);
  f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a picture", f);
  std::fclose(f);
  EXPECT_EQ(LoadTexture(path.c_str()), nullptr);
  EXPECT_NE(Engine.LastErrorText.find("not a picture"), std::string::npos) << Engine.LastErrorText;
  EXPECT_EQ(LoadTexture(nullptr), nullptr);
  EXPECT_EQ(Engine.TextureList.Count(), before + 1) << "failures add no record";
  std::remove(path.c_str());
}

}  // namespace
