// Texture coordinates and sampling beyond one plain texture: coordinates generated from camera
// space, texture transforms and projected coordinates, cube textures, blended mip levels,
// several stages with the temporary register, and vertex data from declarations over several
// streams.
#include <cmath>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

DWORD Dword(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

using StageTest = SceneTest;

// A 4 x 1 texture of four colours, sampled with point filtering at u = 0.125, 0.375, 0.625, 0.875.
constexpr uint32_t kStrip[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};

TEST_F(StageTest, TextureTransformsMoveCoordinatesThroughTheThirdRow) {
  IDirect3DTexture9* tex = MakeTexture(4, 1, {kStrip, kStrip + 4});
  ASSERT_NE(tex, nullptr);
  device_->SetTexture(0, tex);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  // u' = u + 0.25 (the translation of a 2D coordinate sits in _31).
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1;
  m._31 = 0.25f;
  ASSERT_EQ(device_->SetTransform(D3DTS_TEXTURE0, &m), D3D_OK);
  device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  LVertex q[4] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0.125f, 0.5f},
                  {1, 1, 0.5f, 0xFFFFFFFF, 0.125f, 0.5f},
                  {-1, -1, 0.5f, 0xFFFFFFFF, 0.125f, 0.5f},
                  {1, -1, 0.5f, 0xFFFFFFFF, 0.125f, 0.5f}};
  ClearTo(0);
  ASSERT_EQ(device_->SetFVF(kLFvf), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LVertex)), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 10, 10), kStrip[1] & 0xFFFFFF);
  // Off again: the vertex's own coordinate.
  device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LVertex)), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 10, 10), kStrip[0] & 0xFFFFFF);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(StageTest, CameraSpacePositionsBecomeCoordinatesAndProjectedOnesAreDivided) {
  IDirect3DTexture9* tex = MakeTexture(4, 1, {kStrip, kStrip + 4});
  ASSERT_NE(tex, nullptr);
  device_->SetTexture(0, tex);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  // u = (x + 1) / 2 from the camera-space position: the strip spreads across the screen.
  device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
  D3DMATRIX m{};
  m._11 = 0.5f;
  m._41 = 0.5f;
  m._22 = m._33 = m._44 = 1;
  ASSERT_EQ(device_->SetTransform(D3DTS_TEXTURE0, &m), D3D_OK);
  device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  LVertex q[4] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                  {1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                  {-1, -1, 0.5f, 0xFFFFFFFF, 0, 0},
                  {1, -1, 0.5f, 0xFFFFFFFF, 0, 0}};
  ClearTo(0);
  ASSERT_EQ(device_->SetFVF(kLFvf), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LVertex)), D3D_OK);
  auto px = ReadBackBuffer();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(At(px, 8 + 16 * i, 20), kStrip[i] & 0xFFFFFF) << i;
  // Projected: three components, the last dividing. u = 0.5 x / 0.5 ... with w = 2, u halves.
  m._11 = 0.25f;
  m._41 = 0.25f;  // u = (x + 1) / 4
  m._33 = 0;
  m._43 = 0.5f;  // third component 0.5: u / 0.5 = (x + 1) / 2 again
  ASSERT_EQ(device_->SetTransform(D3DTS_TEXTURE0, &m), D3D_OK);
  device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS,
                                D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LVertex)), D3D_OK);
  px = ReadBackBuffer();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(At(px, 8 + 16 * i, 20), kStrip[i] & 0xFFFFFF) << i;
  device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(StageTest, CubeTexturesPickTheFaceOfTheLargestComponent) {
  IDirect3DCubeTexture9* cube = nullptr;
  ASSERT_EQ(device_->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr),
            D3D_OK);
  const uint32_t faces[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                             0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
  for (int f = 0; f < 6; ++f) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(f), 0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
            faces[f];
    ASSERT_EQ(cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(f), 0), D3D_OK);
  }
  IDirect3DSurface9* face = nullptr;
  EXPECT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, &face),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(face, nullptr);
  device_->SetTexture(0, cube);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  struct CubeVertex {
    float x, y, z, rhw;
    float s, t, r;
  };
  const float dirs[6][3] = {{1, 0.2f, -0.1f}, {-1, 0.1f, 0.3f}, {0.2f, 1, 0.1f},
                            {0.1f, -1, 0.2f}, {0.3f, 0.1f, 1},  {-0.2f, 0.3f, -1}};
  ASSERT_EQ(device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0)), D3D_OK);
  for (int f = 0; f < 6; ++f) {
    ClearTo(0);
    CubeVertex q[4];
    const float corners[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
    for (int i = 0; i < 4; ++i)
      q[i] = {corners[i][0], corners[i][1], 0.5f, 1, dirs[f][0], dirs[f][1], dirs[f][2]};
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(CubeVertex)), D3D_OK);
    EXPECT_EQ(At(ReadBackBuffer(), 4, 4), faces[f] & 0xFFFFFF) << "face " << f;
  }
  device_->SetTexture(0, nullptr);
  cube->Release();
}

TEST_F(StageTest, LinearMipFilteringBlendsTheTwoNearestLevels) {
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
            D3D_OK);
  const uint32_t levels[2] = {0xFF000000, 0xFFFFFFFF};
  for (UINT l = 0; l < 2; ++l) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(tex->LockRect(l, &locked, nullptr, 0), D3D_OK);
    const UINT side = 8 >> l;
    for (UINT y = 0; y < side; ++y)
      for (UINT x = 0; x < side; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
            levels[l];
    ASSERT_EQ(tex->UnlockRect(l), D3D_OK);
  }
  device_->SetTexture(0, tex);
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  // 8 texels over 5 pixels: log2(1.6) = 0.678 of the way to the second level.
  const double lod = std::log2(8.0 / 5.0);
  const int w = static_cast<int>(lod * 256 + 0.5);
  const int expected = (0 * (256 - w) + 255 * w + 128) >> 8;
  for (DWORD mip : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, mip);
    ClearTo(0x00808080);
    DrawQuad(0, 0, 5, 5, 0xFFFFFFFF);
    const uint32_t c = At(ReadBackBuffer(), 2, 2);
    if (mip == D3DTEXF_POINT)
      EXPECT_EQ(c, 0xFFFFFFu) << "nearest level: the second";
    else
      EXPECT_EQ(c, static_cast<uint32_t>(expected * 0x010101)) << std::hex << c;
  }
  device_->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(StageTest, StagesChainThroughTheTemporaryRegisterAndTheTextureFactor) {
  IDirect3DTexture9* tex = MakeTexture(1, 1, {0xFF804020});
  ASSERT_NE(tex, nullptr);
  device_->SetTexture(0, tex);
  device_->SetTexture(1, tex);
  device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF102030);
  // Stage 0: texture into TEMP. Stage 1: diffuse + tfactor into CURRENT. Stage 2: CURRENT + TEMP.
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
  device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  device_->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device_->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  device_->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_ADD);
  device_->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_CURRENT);
  device_->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_TEMP);
  ClearTo(0);
  DrawQuad(0, 0, 8, 8, 0xFF010203);
  EXPECT_EQ(At(ReadBackBuffer(), 4, 4), 0x916253u);  // 0x010203 + 0x102030 + 0x804020
  device_->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
  device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  device_->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_CURRENT);
  device_->SetTexture(0, nullptr);
  device_->SetTexture(1, nullptr);
  tex->Release();
}

// --- Declarations and streams ------------------------------------------------------------------

TEST_F(StageTest, DeclarationsReadPositionsAndColoursFromSeparateStreams) {
  const D3DVERTEXELEMENT9 elements[] = {
      {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
      {1, 4, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
      D3DDECL_END()};
  IDirect3DVertexDeclaration9* decl = nullptr;
  ASSERT_EQ(device_->CreateVertexDeclaration(elements, &decl), D3D_OK);
  D3DVERTEXELEMENT9 back[4];
  UINT count = 0;
  ASSERT_EQ(decl->GetDeclaration(back, &count), D3D_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(back[1].Stream, 1);
  EXPECT_EQ(back[2].Stream, 0xFF);

  const float positions[4][4] = {
      {0, 0, 0.5f, 1}, {16, 0, 0.5f, 1}, {0, 16, 0.5f, 1}, {16, 16, 0.5f, 1}};
  // Stream 1: 8-byte vertices whose colour sits at offset 4.
  const uint32_t colours[4][2] = {
      {0, 0xFF00FF00}, {0, 0xFF00FF00}, {0, 0xFF00FF00}, {0, 0xFF00FF00}};
  IDirect3DVertexBuffer9* vb[2] = {};
  for (int s = 0; s < 2; ++s) {
    ASSERT_EQ(device_->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb[s], nullptr), D3D_OK);
    void* p = nullptr;
    ASSERT_EQ(vb[s]->Lock(0, 0, &p, 0), D3D_OK);
    if (s == 0) {
      std::memcpy(p, positions, sizeof(positions));
    } else {
      std::memcpy(p, colours, sizeof(colours));
    }
    vb[s]->Unlock();
  }
  ASSERT_EQ(device_->SetVertexDeclaration(decl), D3D_OK);
  ASSERT_EQ(device_->SetStreamSource(0, vb[0], 0, 16), D3D_OK);
  // Stream 1 unbound: the draw is refused.
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->SetStreamSource(1, vb[1], 0, 8), D3D_OK);
  DWORD fvf = 1;
  ASSERT_EQ(device_->GetFVF(&fvf), D3D_OK);
  EXPECT_EQ(fvf, 0u) << "a declaration replaces the FVF";
  ClearTo(0);
  ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 8, 8), 0x00FF00u);
  // A draw reaching past the end of either stream is refused.
  EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
  // Setting an FVF replaces the declaration.
  ASSERT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
  IDirect3DVertexDeclaration9* now = reinterpret_cast<IDirect3DVertexDeclaration9*>(1);
  ASSERT_EQ(device_->GetVertexDeclaration(&now), D3D_OK);
  EXPECT_EQ(now, nullptr);
  device_->SetStreamSource(0, nullptr, 0, 0);
  device_->SetStreamSource(1, nullptr, 0, 0);
  vb[0]->Release();
  vb[1]->Release();
  decl->Release();
}

TEST_F(StageTest, MalformedDeclarationsAreRefused) {
  IDirect3DVertexDeclaration9* decl = reinterpret_cast<IDirect3DVertexDeclaration9*>(1);
  const D3DVERTEXELEMENT9 twice[] = {
      {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
      {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
      D3DDECL_END()};
  EXPECT_EQ(device_->CreateVertexDeclaration(twice, &decl), D3DERR_INVALIDCALL);
  EXPECT_EQ(decl, nullptr);
  const D3DVERTEXELEMENT9 badType[] = {{0, 0, 40, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                       D3DDECL_END()};
  EXPECT_EQ(device_->CreateVertexDeclaration(badType, &decl), D3DERR_INVALIDCALL);
  const D3DVERTEXELEMENT9 badStream[] = {
      {16, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  EXPECT_EQ(device_->CreateVertexDeclaration(badStream, &decl), D3DERR_INVALIDCALL);
  const D3DVERTEXELEMENT9 misaligned[] = {
      {0, 2, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  EXPECT_EQ(device_->CreateVertexDeclaration(misaligned, &decl), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateVertexDeclaration(nullptr, &decl), D3DERR_INVALIDCALL);
  (void)Dword;
}

}  // namespace
}  // namespace d3d9_test
