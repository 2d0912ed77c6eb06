// D3DX textures on a real (headless) device: D3DXCreateTexture's adjustments, textures from BMP and
// PNG files (sizes, mip chains, formats, colour keys, filters), surface loading with rectangles,
// saving surfaces and textures as files, and refusal of malformed files without leaks. The
// fixture's TearDown checks that the device's last reference goes away, so a texture leaked on
// any path fails the test that leaked it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3dx9_test_support.h"
#include "platform/d3dx9/image_codec.h"

namespace {

using d3dx::ArgbImage;

class D3DXTextureTest : public d3dx_test::DeviceTest {
 protected:
  // Level `level` of a texture as 0xAARRGGBB (X formats read with alpha 0xFF).
  ArgbImage ReadLevel(IDirect3DTexture9* texture, UINT level) {
    ArgbImage out;
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(level, &desc))) {
      ADD_FAILURE() << "GetLevelDesc " << level;
      return out;
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY))) {
      ADD_FAILURE() << "LockRect " << level;
      return out;
    }
    out.width = desc.Width;
    out.height = desc.Height;
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x) {
        uint32_t v = 0;
        std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch + x * 4, 4);
        if (desc.Format == D3DFMT_X8R8G8B8) v |= 0xFF000000u;
        out.pixels.push_back(v);
      }
    texture->UnlockRect(level);
    return out;
  }

  IDirect3DTexture9* Load(const std::vector<uint8_t>& file, UINT w, UINT h, UINT mips,
                          D3DFORMAT format, DWORD filter = D3DX_DEFAULT,
                          DWORD mipFilter = D3DX_DEFAULT, D3DCOLOR key = 0,
                          D3DXIMAGE_INFO* info = nullptr) {
    IDirect3DTexture9* texture = nullptr;
    const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
        device_, file.data(), UINT(file.size()), w, h, mips, 0, format, D3DPOOL_MANAGED, filter,
        mipFilter, key, info, nullptr, &texture);
    EXPECT_EQ(hr, D3D_OK);
    return texture;
  }

  static D3DSURFACE_DESC Desc(IDirect3DTexture9* texture, UINT level = 0) {
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
    return desc;
  }
};

ArgbImage Pattern(uint32_t w, uint32_t h, bool alpha) {
  ArgbImage img;
  img.width = w;
  img.height = h;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t a = alpha ? 0x10 + x * 40 + y * 3 : 0xFF;
      img.pixels.push_back(a << 24 | (x * 60 + 10) << 16 | (y * 50 + 20) << 8 | (x + y) * 7);
    }
  return img;
}

std::vector<uint8_t> Png(const ArgbImage& img, bool alpha) {
  std::vector<uint8_t> file;
  EXPECT_TRUE(d3dx::EncodePng(img, alpha, &file));
  return file;
}
std::vector<uint8_t> Bmp24(const ArgbImage& img) {
  std::vector<uint8_t> file;
  EXPECT_TRUE(d3dx::EncodeBmp(img, false, &file));
  return file;
}

// The plain 32-bit BI_RGB bottom-up BMP with a 54-byte header, fourth byte as given.
std::vector<uint8_t> Bmp32(const ArgbImage& img) {
  std::vector<uint8_t> f(54, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
  };
  const uint32_t bytes = img.width * img.height * 4;
  f[0] = 'B';
  f[1] = 'M';
  put32(2, 54 + bytes);
  put32(10, 54);
  put32(14, 40);
  put32(18, img.width);
  put32(22, img.height);
  f[26] = 1;
  f[28] = 32;
  put32(34, bytes);
  for (uint32_t row = 0; row < img.height; ++row)
    for (uint32_t x = 0; x < img.width; ++x) {
      const uint32_t p = img.At(x, img.height - 1 - row);
      for (int i = 0; i < 4; ++i) f.push_back(uint8_t(p >> (8 * i)));
    }
  return f;
}

// --- D3DXCreateTexture ---------------------------------------------------------------------------

TEST_F(D3DXTextureTest, CreateTextureBuildsFullChainsAndClampsLevelCounts) {
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(D3DXCreateTexture(device_, 64, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  ASSERT_EQ(t->GetLevelCount(), 7u);  // 64x16, 32x8, 16x4, 8x2, 4x1, 2x1, 1x1
  EXPECT_EQ(Desc(t, 4).Width, 4u);
  EXPECT_EQ(Desc(t, 4).Height, 1u);
  EXPECT_EQ(Desc(t, 6).Width, 1u);
  t->Release();

  ASSERT_EQ(D3DXCreateTexture(device_, 64, 16, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 3u);
  t->Release();
  ASSERT_EQ(D3DXCreateTexture(device_, 8, 8, 20, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 4u);  // more levels than the chain holds: the whole chain
  t->Release();
  ASSERT_EQ(D3DXCreateTexture(device_, 0, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(Desc(t).Width, 1u);  // zero sizes become 1
  EXPECT_EQ(Desc(t).Height, 1u);
  t->Release();
}

TEST_F(D3DXTextureTest, CreateTextureAdjustsFormatsAndRefusesBadCalls) {
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(D3DXCreateTexture(device_, 4, 4, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(Desc(t).Format, D3DFMT_X8R8G8B8);  // as real drivers do: no 24-bit textures
  t->Release();
  ASSERT_EQ(D3DXCreateTexture(device_, 4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(Desc(t).Format, D3DFMT_A8R8G8B8);
  t->Release();

  t = reinterpret_cast<IDirect3DTexture9*>(this);  // must be overwritten with null on failure
  EXPECT_EQ(D3DXCreateTexture(nullptr, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateTexture(device_, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
            D3DERR_INVALIDCALL);

  AutomationSetFault(AutomationFault::CreateTexture, true);
  EXPECT_TRUE(FAILED(D3DXCreateTexture(device_, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t)));
  EXPECT_EQ(t, nullptr);
  const auto png = Png(Pattern(2, 2, false), false);
  t = reinterpret_cast<IDirect3DTexture9*>(this);
  EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileInMemory(device_, png.data(), UINT(png.size()), &t)));
  EXPECT_EQ(t, nullptr);
  AutomationSetFault(AutomationFault::CreateTexture, false);
}

// --- Textures from files: sizes, levels, formats ---------------------------------------------

TEST_F(D3DXTextureTest, FileSizesFollowTheSizeArguments) {
  const auto file = Png(Pattern(5, 3, false), false);
  struct Case {
    UINT w, h, wantW, wantH;
  } cases[] = {{0, 0, 5, 3},
               {D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, 5, 3},
               {D3DX_FROM_FILE, D3DX_FROM_FILE, 5, 3},
               {D3DX_DEFAULT, D3DX_DEFAULT, 8, 4},
               {10, 6, 10, 6},
               {D3DX_DEFAULT, 0, 8, 3}};
  for (const Case& c : cases) {
    IDirect3DTexture9* t = Load(file, c.w, c.h, 1, D3DFMT_A8R8G8B8);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Desc(t).Width, c.wantW) << c.w;
    EXPECT_EQ(Desc(t).Height, c.wantH) << c.h;
    t->Release();
  }
}

TEST_F(D3DXTextureTest, FileMipLevelsFollowTheLevelArgument) {
  const auto file = Bmp24(Pattern(8, 4, false));
  struct Case {
    UINT mips, want;
  } cases[] = {{0, 4}, {D3DX_DEFAULT, 4}, {D3DX_FROM_FILE, 1}, {1, 1}, {2, 2}};
  for (const Case& c : cases) {
    IDirect3DTexture9* t = Load(file, 0, 0, c.mips, D3DFMT_UNKNOWN);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetLevelCount(), c.want) << c.mips;
    t->Release();
  }
}

TEST_F(D3DXTextureTest, FileFormatsFromRequestAndFromTheFile) {
  const ArgbImage opaque = Pattern(2, 2, false);
  const ArgbImage translucent = Pattern(2, 2, true);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    D3DFORMAT requested;
    D3DCOLOR key;
    D3DFORMAT want;
  } cases[] = {
      {"24-bit BMP asked as R8G8B8", Bmp24(opaque), D3DFMT_R8G8B8, 0, D3DFMT_X8R8G8B8},
      {"24-bit BMP, unknown", Bmp24(opaque), D3DFMT_UNKNOWN, 0, D3DFMT_X8R8G8B8},
      {"32-bit BI_RGB BMP, unknown", Bmp32(translucent), D3DFMT_UNKNOWN, 0, D3DFMT_X8R8G8B8},
      {"RGB PNG, unknown", Png(opaque, false), D3DFMT_UNKNOWN, 0, D3DFMT_X8R8G8B8},
      {"RGBA PNG, unknown", Png(translucent, true), D3DFMT_UNKNOWN, 0, D3DFMT_A8R8G8B8},
      {"24-bit BMP, unknown, keyed", Bmp24(opaque), D3DFMT_UNKNOWN, 0xFF000000, D3DFMT_A8R8G8B8},
      {"RGB PNG, unknown, keyed", Png(opaque, false), D3DFMT_UNKNOWN, 0xFF0A1407, D3DFMT_A8R8G8B8},
      {"X8R8G8B8 asked, keyed: kept", Bmp24(opaque), D3DFMT_X8R8G8B8, 0xFF000000, D3DFMT_X8R8G8B8},
      {"A8R8G8B8 asked for an RGB file", Png(opaque, false), D3DFMT_A8R8G8B8, 0, D3DFMT_A8R8G8B8},
  };
  for (const Case& c : cases) {
    IDirect3DTexture9* t = Load(c.file, 0, 0, 1, c.requested, D3DX_DEFAULT, D3DX_DEFAULT, c.key);
    ASSERT_NE(t, nullptr) << c.what;
    EXPECT_EQ(Desc(t).Format, c.want) << c.what;
    t->Release();
  }
}

TEST_F(D3DXTextureTest, SourceInfoDescribesTheFileNotTheTexture) {
  D3DXIMAGE_INFO info{};
  PALETTEENTRY* ignoredPalette = reinterpret_cast<PALETTEENTRY*>(this);  // never written
  IDirect3DTexture9* t = nullptr;
  const auto bmp = Bmp24(Pattern(5, 3, false));
  ASSERT_EQ(
      D3DXCreateTextureFromFileInMemoryEx(device_, bmp.data(), UINT(bmp.size()), D3DX_DEFAULT,
                                          D3DX_DEFAULT, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                          D3DX_DEFAULT, D3DX_DEFAULT, 0, &info, ignoredPalette, &t),
      D3D_OK);
  EXPECT_EQ(Desc(t).Width, 8u);
  EXPECT_EQ(info.Width, 5u);
  EXPECT_EQ(info.Height, 3u);
  EXPECT_EQ(info.Depth, 1u);
  EXPECT_EQ(info.MipLevels, 1u);
  EXPECT_EQ(info.Format, D3DFMT_R8G8B8);
  EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
  t->Release();
  const auto png = Png(Pattern(2, 7, true), true);
  t = Load(png, 0, 0, 1, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3DX_DEFAULT, 0, &info);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);
  EXPECT_EQ(info.Height, 7u);
  t->Release();
}

TEST_F(D3DXTextureTest, DefaultPoolTexturesAreFilledThroughTheDevice) {
  // Default-pool textures cannot be locked, so the loader must upload instead of failing.
  const auto png = Png(Pattern(4, 4, true), true);
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, png.data(), UINT(png.size()), 0, 0, 0, 0,
                                                D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DX_DEFAULT,
                                                D3DX_DEFAULT, 0, nullptr, nullptr, &t),
            D3D_OK);
  EXPECT_EQ(Desc(t).Pool, D3DPOOL_DEFAULT);
  // Copy it back into system memory to see the texels arrived.
  IDirect3DTexture9* copy = nullptr;
  ASSERT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                   &copy, nullptr),
            D3D_OK);
  IDirect3DSurface9* from = nullptr;
  IDirect3DSurface9* to = nullptr;
  ASSERT_EQ(t->GetSurfaceLevel(0, &from), D3D_OK);
  ASSERT_EQ(copy->GetSurfaceLevel(0, &to), D3D_OK);
  ASSERT_EQ(device_->StretchRect(from, nullptr, to, nullptr, D3DTEXF_NONE), D3D_OK);
  ID3DXBuffer* file = nullptr;
  ASSERT_EQ(D3DXSaveSurfaceToFileInMemory(&file, D3DXIFF_PNG, to, nullptr, nullptr), D3D_OK);
  ArgbImage back;
  d3dx::ImageFileInfo info;
  ASSERT_TRUE(d3dx::DecodeImageFile(static_cast<const uint8_t*>(file->GetBufferPointer()),
                                    file->GetBufferSize(), &info, &back));
  EXPECT_EQ(back.pixels, Pattern(4, 4, true).pixels);
  file->Release();
  to->Release();
  from->Release();
  copy->Release();
  t->Release();
}

// --- Texels: 1:1 copies, filters, mip chains, colour keys ----------------------------------------

TEST_F(D3DXTextureTest, OneToOneLoadKeepsEveryTexelWithEveryFilter) {
  const ArgbImage src = Pattern(6, 5, true);
  const auto png = Png(src, true);
  for (DWORD filter :
       {DWORD(D3DX_DEFAULT), DWORD(D3DX_FILTER_NONE), DWORD(D3DX_FILTER_POINT),
        DWORD(D3DX_FILTER_LINEAR), DWORD(D3DX_FILTER_TRIANGLE), DWORD(D3DX_FILTER_BOX)}) {
    IDirect3DTexture9* t =
        Load(png, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, 1, D3DFMT_A8R8G8B8, filter);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(ReadLevel(t, 0).pixels, src.pixels) << filter;
    t->Release();
  }
}

TEST_F(D3DXTextureTest, MipChainIsFilteredLevelByLevel) {
  // 4x4 with distinct 2x2 blocks: level 1 is the block means, level 2 the mean of those.
  ArgbImage src;
  src.width = src.height = 4;
  const uint32_t blocks[4] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) src.pixels.push_back(blocks[(y / 2) * 2 + x / 2]);
  const auto file = Png(src, false);
  IDirect3DTexture9* t = Load(file, 0, 0, 0, D3DFMT_A8R8G8B8, D3DX_FILTER_NONE, D3DX_FILTER_BOX);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->GetLevelCount(), 3u);
  EXPECT_EQ(ReadLevel(t, 1).pixels, (std::vector<uint32_t>(blocks, blocks + 4)));
  // (0 + 255 + 0 + 0) / 4 = 63.75 per channel -> 64.
  EXPECT_EQ(ReadLevel(t, 2).pixels, (std::vector<uint32_t>{0xFF404040}));
  t->Release();

  // D3DXFilterTexture rebuilds the chain below a changed top level.
  ASSERT_EQ(D3DXCreateTexture(device_, 2, 2, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
  const uint32_t top[2][2] = {{0xFFFFFFFF, 0xFF000000}, {0xFF000000, 0xFF000000}};
  for (int y = 0; y < 2; ++y)
    std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, top[y], 8);
  t->UnlockRect(0);
  ASSERT_EQ(D3DXFilterTexture(t, nullptr, 0, D3DX_FILTER_BOX), D3D_OK);
  EXPECT_EQ(ReadLevel(t, 1).pixels, (std::vector<uint32_t>{0xFF404040}));
  EXPECT_EQ(D3DXFilterTexture(t, nullptr, 5, D3DX_FILTER_BOX), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXFilterTexture(t, nullptr, 0, 9), D3DERR_INVALIDCALL);
  t->Release();
}

TEST_F(D3DXTextureTest, BoxAndTriangleDownsampleAKnownPattern) {
  // A 1-texel checkerboard halves to even grey with both filters.
  ArgbImage checker;
  checker.width = checker.height = 4;
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x)
      checker.pixels.push_back(((x + y) & 1) ? 0xFF000000u : 0xFFFFFFFFu);
  const auto file = Bmp24(checker);
  for (DWORD filter : {DWORD(D3DX_FILTER_BOX), DWORD(D3DX_FILTER_TRIANGLE)}) {
    IDirect3DTexture9* t = Load(file, 2, 2, 1, D3DFMT_X8R8G8B8, filter);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(ReadLevel(t, 0).pixels, (std::vector<uint32_t>(4, 0xFF808080))) << filter;
    t->Release();
  }
  // Point sampling keeps pure texels instead.
  IDirect3DTexture9* t = Load(file, 2, 2, 1, D3DFMT_X8R8G8B8, D3DX_FILTER_POINT);
  ASSERT_NE(t, nullptr);
  for (uint32_t p : ReadLevel(t, 0).pixels) EXPECT_TRUE(p == 0xFF000000u || p == 0xFFFFFFFFu);
  t->Release();
}

TEST_F(D3DXTextureTest, ColourKeyTurnsMatchingTexelsTransparentBlackAndKeepsTheRest) {
  // A picture with opaque black texels, through a 32-bit BI_RGB BMP (the engine's image path)
  // into a texture, saved as PNG and reloaded keyed on opaque black.
  ArgbImage src;
  src.width = 3;
  src.height = 2;
  src.pixels = {0x00000000, 0x00FF0000, 0x00000000, 0x0000FF00, 0x00102030, 0x00000000};
  const auto bmp = Bmp32(src);
  IDirect3DTexture9* first = Load(bmp, 0, 0, 1, D3DFMT_R8G8B8, D3DX_FILTER_TRIANGLE);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(Desc(first).Format, D3DFMT_X8R8G8B8);
  IDirect3DSurface9* level0 = nullptr;
  ASSERT_EQ(first->GetSurfaceLevel(0, &level0), D3D_OK);
  ID3DXBuffer* png = nullptr;
  ASSERT_EQ(D3DXSaveSurfaceToFileInMemory(&png, D3DXIFF_PNG, level0, nullptr, nullptr), D3D_OK);
  level0->Release();
  first->Release();

  IDirect3DTexture9* keyed = nullptr;
  ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(
                device_, png->GetBufferPointer(), png->GetBufferSize(), D3DX_DEFAULT_NONPOW2,
                D3DX_DEFAULT_NONPOW2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE,
                D3DX_FILTER_NONE, 0xFF000000, nullptr, nullptr, &keyed),
            D3D_OK);
  // Black became 0; every other texel keeps its colour with alpha 0xFF.
  EXPECT_EQ(ReadLevel(keyed, 0).pixels,
            (std::vector<uint32_t>{0, 0xFFFF0000, 0, 0xFF00FF00, 0xFF102030, 0}));
  keyed->Release();

  // A file without alpha has no alpha to compare: a key with the same colour matches whatever
  // the key's alpha.
  keyed = nullptr;
  ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, png->GetBufferPointer(),
                                                png->GetBufferSize(), 0, 0, 1, 0, D3DFMT_A8R8G8B8,
                                                D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_NONE,
                                                0x00FF0000, nullptr, nullptr, &keyed),
            D3D_OK);
  EXPECT_EQ(ReadLevel(keyed, 0).pixels[1], 0u);
  EXPECT_EQ(ReadLevel(keyed, 0).pixels[3], 0xFF00FF00u);
  keyed->Release();
  png->Release();

  // With a file that has alpha, only the exact ARGB value matches.
  ArgbImage alpha;
  alpha.width = 3;
  alpha.height = 1;
  alpha.pixels = {0x80FF0000, 0xFFFF0000, 0x80FF0000};
  const auto rgba = Png(alpha, true);
  IDirect3DTexture9* t =
      Load(rgba, 0, 0, 1, D3DFMT_A8R8G8B8, D3DX_FILTER_NONE, D3DX_FILTER_NONE, 0x80FF0000);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ReadLevel(t, 0).pixels, (std::vector<uint32_t>{0, 0xFFFF0000, 0}));
  t->Release();
}

// --- Saving --------------------------------------------------------------------------------------

TEST_F(D3DXTextureTest, SavedFilesRoundTripAtEveryDepth) {
  struct Case {
    D3DXIMAGE_FILEFORMAT fileFormat;
    D3DFORMAT textureFormat;
    D3DFORMAT wantFileFormat;  // as D3DXGetImageInfoFromFileInMemory describes the file
  } cases[] = {{D3DXIFF_PNG, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
               {D3DXIFF_PNG, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
               {D3DXIFF_BMP, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
               {D3DXIFF_BMP, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8}};
  const ArgbImage src = Pattern(5, 4, true);
  for (const Case& c : cases) {
    const bool alpha = c.textureFormat == D3DFMT_A8R8G8B8;
    IDirect3DTexture9* t = Load(Png(src, true), 0, 0, 1, c.textureFormat, D3DX_FILTER_NONE);
    ASSERT_NE(t, nullptr);
    ID3DXBuffer* file = nullptr;
    ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, c.fileFormat, t, nullptr), D3D_OK);
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(
        D3DXGetImageInfoFromFileInMemory(file->GetBufferPointer(), file->GetBufferSize(), &info),
        D3D_OK);
    EXPECT_EQ(info.ImageFileFormat, c.fileFormat);
    EXPECT_EQ(info.Format, c.wantFileFormat) << c.fileFormat << " " << c.textureFormat;
    EXPECT_EQ(info.Width, 5u);
    EXPECT_EQ(info.Height, 4u);

    IDirect3DTexture9* back = nullptr;
    ASSERT_EQ(
        D3DXCreateTextureFromFileInMemoryEx(
            device_, file->GetBufferPointer(), file->GetBufferSize(), 0, 0, 1, 0, D3DFMT_A8R8G8B8,
            D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_NONE, 0, nullptr, nullptr, &back),
        D3D_OK);
    const ArgbImage got = ReadLevel(back, 0);
    for (size_t i = 0; i < src.pixels.size(); ++i)
      EXPECT_EQ(got.pixels[i], alpha ? src.pixels[i] : (src.pixels[i] | 0xFF000000u)) << i;
    back->Release();
    file->Release();
    t->Release();
  }
}

TEST_F(D3DXTextureTest, SaveRefusesFaultsUnsupportedFormatsAndBadArguments) {
  IDirect3DTexture9* t = Load(Png(Pattern(2, 2, false), false), 0, 0, 1, D3DFMT_A8R8G8B8);
  ASSERT_NE(t, nullptr);
  ID3DXBuffer* file = reinterpret_cast<ID3DXBuffer*>(this);
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, true);
  EXPECT_TRUE(FAILED(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_PNG, t, nullptr)));
  EXPECT_EQ(file, nullptr);
  AutomationSetFault(AutomationFault::SaveSurfaceToFile, false);
  EXPECT_TRUE(FAILED(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_JPG, t, nullptr)));
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(nullptr, D3DXIFF_PNG, t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_PNG, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  // A source rectangle outside the surface.
  IDirect3DSurface9* level0 = nullptr;
  ASSERT_EQ(t->GetSurfaceLevel(0, &level0), D3D_OK);
  const RECT outside{1, 1, 3, 3};
  EXPECT_EQ(D3DXSaveSurfaceToFileInMemory(&file, D3DXIFF_BMP, level0, nullptr, &outside),
            D3DERR_INVALIDCALL);
  const RECT inside{1, 0, 2, 2};
  ASSERT_EQ(D3DXSaveSurfaceToFileInMemory(&file, D3DXIFF_BMP, level0, nullptr, &inside), D3D_OK);
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(
      D3DXGetImageInfoFromFileInMemory(file->GetBufferPointer(), file->GetBufferSize(), &info),
      D3D_OK);
  EXPECT_EQ(info.Width, 1u);
  EXPECT_EQ(info.Height, 2u);
  file->Release();
  level0->Release();
  t->Release();
}

// --- Surfaces ----------------------------------------------------------------------------------

TEST_F(D3DXTextureTest, LoadSurfaceHonoursRectanglesKeyAndInfo) {
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                 nullptr),
            D3D_OK);
  auto fill = [&](uint32_t v) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &v, 4);
    surface->UnlockRect();
  };
  auto read = [&]() {
    std::vector<uint32_t> out;
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, 4);
        out.push_back(v);
      }
    surface->UnlockRect();
    return out;
  };
  ArgbImage src;
  src.width = src.height = 3;
  src.pixels = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005,
                0xFF000006, 0xFF000007, 0xFF000008, 0xFF000009};
  const auto file = Png(src, true);
  fill(0x11111111);
  const RECT srcRect{1, 1, 3, 3};   // texels 5 6 / 8 9
  const RECT destRect{2, 0, 4, 2};  // top right quarter
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(
      D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &destRect, file.data(), UINT(file.size()),
                                      &srcRect, D3DX_FILTER_NONE, 0xFF000008, &info),
      D3D_OK);
  const uint32_t o = 0x11111111;
  EXPECT_EQ(read(), (std::vector<uint32_t>{o, o, 0xFF000005, 0xFF000006,  //
                                           o, o, 0, 0xFF000009,           //
                                           o, o, o, o, o, o, o, o}));
  EXPECT_EQ(info.Width, 3u);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_PNG);

  // Whole file into the whole surface, stretched 3 -> 4 by point sampling.
  ASSERT_EQ(
      D3DXLoadSurfaceFromFileInMemory(surface, nullptr, nullptr, file.data(), UINT(file.size()),
                                      nullptr, D3DX_FILTER_POINT, 0, nullptr),
      D3D_OK);
  EXPECT_EQ(read()[0], 0xFF000001u);
  EXPECT_EQ(read()[15], 0xFF000009u);

  const RECT tooBig{0, 0, 4, 4};
  EXPECT_EQ(
      D3DXLoadSurfaceFromFileInMemory(surface, nullptr, nullptr, file.data(), UINT(file.size()),
                                      &tooBig, D3DX_FILTER_NONE, 0, nullptr),
      D3DERR_INVALIDCALL);
  const RECT inverted{3, 0, 1, 2};
  EXPECT_EQ(
      D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &inverted, file.data(), UINT(file.size()),
                                      nullptr, D3DX_FILTER_NONE, 0, nullptr),
      D3DERR_INVALIDCALL);

  // From raw memory: 24-bit pixels with a padded pitch, sub-rectangle starting at (1, 0).
  const uint8_t raw[2][8] = {{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}};
  const RECT rawRect{1, 0, 2, 2};
  const RECT dest1{0, 0, 1, 2};
  fill(0);
  ASSERT_EQ(D3DXLoadSurfaceFromMemory(surface, nullptr, &dest1, raw, D3DFMT_R8G8B8, 8, nullptr,
                                      &rawRect, D3DX_FILTER_NONE, 0),
            D3D_OK);
  EXPECT_EQ(read()[0], 0xFF060504u);
  EXPECT_EQ(read()[4], 0xFF0C0B0Au);
  EXPECT_EQ(D3DXLoadSurfaceFromMemory(surface, nullptr, nullptr, raw, D3DFMT_R8G8B8, 8, nullptr,
                                      nullptr, D3DX_FILTER_NONE, 0),
            D3DERR_INVALIDCALL);
  surface->Release();
}

// --- Malformed files through the device paths -----------------------------------------------

TEST_F(D3DXTextureTest, MalformedFilesReturnInvalidDataAndLeaveNothingBehind) {
  const auto png = Png(Pattern(3, 3, true), true);
  const auto bmp = Bmp24(Pattern(3, 3, false));
  IDirect3DSurface9* surface = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(3, 3, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                 nullptr),
            D3D_OK);
  for (const auto* file : {&png, &bmp}) {
    for (size_t len = 0; len < file->size(); ++len) {
      IDirect3DTexture9* t = reinterpret_cast<IDirect3DTexture9*>(this);
      EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, file->data(), UINT(len), 0, 0, 0, 0,
                                                    D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                    D3DX_DEFAULT, 0, nullptr, nullptr, &t),
                D3DXERR_INVALIDDATA)
          << "length " << len;
      EXPECT_EQ(t, nullptr);
      EXPECT_EQ(D3DXLoadSurfaceFromFileInMemory(surface, nullptr, nullptr, file->data(), UINT(len),
                                                nullptr, D3DX_DEFAULT, 0, nullptr),
                D3DXERR_INVALIDDATA)
          << "length " << len;
    }
  }
  // A lying width: the header claims more columns than the rows hold.
  auto lying = bmp;
  lying[18] = 200;
  IDirect3DTexture9* t = nullptr;
  EXPECT_EQ(D3DXCreateTextureFromFileInMemory(device_, lying.data(), UINT(lying.size()), &t),
            D3DXERR_INVALIDDATA);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(D3DXCreateTextureFromFileInMemory(device_, nullptr, 10, &t), D3DERR_INVALIDCALL);
  surface->Release();
}

TEST_F(D3DXTextureTest, FilesAreReadByName) {
  const std::string dir = ::testing::TempDir();
  const std::string good = dir + "/vexa_texture_file.png";
  const std::string empty = dir + "/vexa_texture_empty.png";
  const std::string broken = dir + "/vexa_texture_broken.png";
  const auto png = Png(Pattern(3, 2, true), true);
  auto write = [](const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  };
  write(good, png.data(), png.size());
  write(empty, png.data(), 0);
  write(broken, png.data(), png.size() / 2);

  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(D3DXCreateTextureFromFileA(device_, good.c_str(), &t), D3D_OK);
  D3DSURFACE_DESC desc = Desc(t);
  EXPECT_EQ(desc.Width, 4u) << "the default size rounds up to a power of two";
  EXPECT_EQ(desc.Height, 2u);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
  t->Release();
  t = nullptr;
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, good.c_str(), 8, 8, 1, 0, D3DFMT_UNKNOWN,
                                         D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, &info,
                                         nullptr, &t),
            D3D_OK);
  EXPECT_EQ(Desc(t).Width, 8u);
  EXPECT_EQ(info.Width, 3u) << "the file's own size";
  t->Release();

  for (const std::string& bad : {empty, broken, dir + "/vexa_texture_missing.png", dir}) {
    t = reinterpret_cast<IDirect3DTexture9*>(this);
    EXPECT_EQ(D3DXCreateTextureFromFileA(device_, bad.c_str(), &t), D3DXERR_INVALIDDATA) << bad;
    EXPECT_EQ(t, nullptr);
  }
  EXPECT_EQ(D3DXCreateTextureFromFileA(device_, nullptr, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, good.c_str(), &t), D3DERR_INVALIDCALL);
  std::remove(good.c_str());
  std::remove(empty.c_str());
  std::remove(broken.c_str());
}

}  // namespace
