// The rasterizer: one path for every draw. Vertex stage (FVF decoding, transform), primitive
// assembly, clipping, triangle set-up with the top-left fill rule on a 1/256-pixel grid, and the
// pixel stage (texture stages, alpha test, depth, blending). Pixel centres lie at integer
// coordinates, as in Direct3D 9.
#include <algorithm>
#include <cmath>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "d3d9/device.h"

namespace d3d9 {

namespace {

constexpr float kGuardBand = 16.f;     // clip-space guard band, in viewport half-widths
constexpr float kMaxCoord = 131072.f;  // screen coordinates are clamped to this range
constexpr int kSubBits = 8;
constexpr int kSub = 1 << kSubBits;

struct C4 {
  int r, g, b, a;
};

inline C4 Unpack(uint32_t c) {
  return C4{static_cast<int>((c >> 16) & 255), static_cast<int>((c >> 8) & 255),
            static_cast<int>(c & 255), static_cast<int>(c >> 24)};
}
inline uint32_t Pack(const C4& c) {
  return (static_cast<uint32_t>(c.a) << 24) | (static_cast<uint32_t>(c.r) << 16) |
         (static_cast<uint32_t>(c.g) << 8) | static_cast<uint32_t>(c.b);
}
inline int Mul255(int x, int y) {
  return (x * y + 127) / 255;
}
inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline int FloorToInt(float f) {
  if (!(f > -1e8f)) return -100000000;  // also catches NaN
  if (f > 1e8f) return 100000000;
  int i = static_cast<int>(f);
  return static_cast<float>(i) > f ? i - 1 : i;
}

__attribute__((always_inline)) inline int Address(int i, int n, DWORD mode) {
  switch (mode) {
    case D3DTADDRESS_CLAMP:
      return i < 0 ? 0 : (i >= n ? n - 1 : i);
    case D3DTADDRESS_MIRROR: {
      int p = i % (2 * n);
      if (p < 0) p += 2 * n;
      return p < n ? p : 2 * n - 1 - p;
    }
    case D3DTADDRESS_BORDER:
      return (i < 0 || i >= n) ? -1 : i;
    case D3DTADDRESS_MIRRORONCE: {
      int a = i < 0 ? -i - 1 : i;
      return a >= n ? n - 1 : a;
    }
    default: {  // WRAP
      int p = i % n;
      return p < 0 ? p + n : p;
    }
  }
}

// A texel at addressed coordinates (-1 for the border).
__attribute__((always_inline)) inline uint32_t Load(const StageState& st, int x, int y) {
  const SamplerView& v = st.view;
  if (x < 0 || y < 0) return st.border;
  const uint8_t* p = v.bits + static_cast<size_t>(y) * v.pitch;
  if (v.argb32) {
    uint32_t c;
    std::memcpy(&c, p + static_cast<size_t>(x) * 4, 4);
    return v.xrgb ? (c | 0xFF000000u) : c;
  }
  return ReadPixelArgb(v.format, p + static_cast<size_t>(x) * FormatBytesPerPixel(v.format));
}

__attribute__((always_inline)) inline uint32_t Fetch(const StageState& st, int x, int y) {
  return Load(st, Address(x, st.view.width, st.addressU), Address(y, st.view.height, st.addressV));
}

// Bilinear weights are quantised to 1/256, so sampling at a texel centre returns that texel
// exactly even when the coordinate carries rounding noise.
uint32_t Sample(const StageState& st, float u, float v) {
  const SamplerView& view = st.view;
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  // Absurd or undefined coordinates sample somewhere harmless instead of overflowing.
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  if (!st.linear) return Fetch(st, FloorToInt(fu), FloorToInt(fv));
  fu -= 0.5f;
  fv -= 0.5f;
  int x0 = FloorToInt(fu), y0 = FloorToInt(fv);
  // The fractions lie in [0, 1): rounding by adding a half is exact enough and cheap.
  int wx = static_cast<int>((fu - static_cast<float>(x0)) * 256.f + 0.5f);
  int wy = static_cast<int>((fv - static_cast<float>(y0)) * 256.f + 0.5f);
  if (wx >= 256) {
    ++x0;
    wx = 0;
  }
  if (wy >= 256) {
    ++y0;
    wy = 0;
  }
  if (wx <= 0) wx = 0;
  if (wy <= 0) wy = 0;
  if (wx == 0 && wy == 0) return Fetch(st, x0, y0);
  int xa = Address(x0, view.width, st.addressU), xb = Address(x0 + 1, view.width, st.addressU);
  int ya = Address(y0, view.height, st.addressV), yb = Address(y0 + 1, view.height, st.addressV);
  uint32_t c00 = Load(st, xa, ya), c10 = Load(st, xb, ya);
  uint32_t c01 = Load(st, xa, yb), c11 = Load(st, xb, yb);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    int top =
        static_cast<int>((c00 >> s) & 255) * (256 - wx) + static_cast<int>((c10 >> s) & 255) * wx;
    int bot =
        static_cast<int>((c01 >> s) & 255) * (256 - wx) + static_cast<int>((c11 >> s) & 255) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

inline bool Compare(DWORD func, uint32_t a, uint32_t b) {
  switch (func) {
    case D3DCMP_NEVER:
      return false;
    case D3DCMP_LESS:
      return a < b;
    case D3DCMP_EQUAL:
      return a == b;
    case D3DCMP_LESSEQUAL:
      return a <= b;
    case D3DCMP_GREATER:
      return a > b;
    case D3DCMP_NOTEQUAL:
      return a != b;
    case D3DCMP_GREATEREQUAL:
      return a >= b;
    default:
      return true;
  }
}

inline uint32_t QuantizeDepth(float z, int bits) {
  z = z < 0.f ? 0.f : (z > 1.f ? 1.f : z);
  if (!(z == z)) z = 0.f;
  switch (bits) {
    case 16:
      return static_cast<uint32_t>(z * 65535.f + 0.5f);
    case 24:
      return static_cast<uint32_t>(static_cast<double>(z) * 16777215.0 + 0.5);
    default:
      return static_cast<uint32_t>(static_cast<double>(z) * 4294967295.0 + 0.5);
  }
}

int TexDim(DWORD fvf, int i) {
  switch ((fvf >> (16 + 2 * i)) & 3) {
    case D3DFVF_TEXTUREFORMAT1:
      return 1;
    case D3DFVF_TEXTUREFORMAT3:
      return 3;
    case D3DFVF_TEXTUREFORMAT4:
      return 4;
    default:
      return 2;
  }
}

}  // namespace

FvfLayout FvfLayout::From(DWORD fvf) {
  FvfLayout l;
  l.fvf = fvf;
  UINT off = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
      off = 12;
      break;
    case D3DFVF_XYZRHW:
      off = 16;
      l.rhw = true;
      break;
    case D3DFVF_XYZW:
      off = 16;
      break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
      off = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZB1) / 2 + 1);
      break;
    default:
      return l;
  }
  if (fvf & D3DFVF_NORMAL) {
    l.normal = static_cast<int>(off);
    off += 12;
  }
  if (fvf & D3DFVF_PSIZE) {
    l.psize = static_cast<int>(off);
    off += 4;
  }
  if (fvf & D3DFVF_DIFFUSE) {
    l.diffuse = static_cast<int>(off);
    off += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    l.specular = static_cast<int>(off);
    off += 4;
  }
  l.texCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (l.texCount > 8) return l;
  for (int i = 0; i < l.texCount; ++i) {
    l.tex[i] = static_cast<int>(off);
    l.texDim[i] = TexDim(fvf, i);
    off += 4 * static_cast<UINT>(l.texDim[i]);
  }
  l.stride = off;
  l.valid = true;
  return l;
}

// --- State validation ----------------------------------------------------------------------------

void Device::Validate() {
  if (matrixDirty_) {
    D3DMATRIX wv{}, wvp{};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        float s = 0;
        for (int k = 0; k < 4; ++k) s += ex_.world.m[i][k] * ex_.view.m[k][j];
        wv.m[i][j] = s;
      }
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        float s = 0;
        for (int k = 0; k < 4; ++k) s += wv.m[i][k] * ex_.proj.m[k][j];
        wvp.m[i][j] = s;
      }
    std::memcpy(wvp_, wvp.m, sizeof(wvp_));
    matrixDirty_ = false;
  }
  if (pixelDirty_) BuildPixelState();
}

void Device::BuildPixelState() {
  PixelState& p = ps_;
  SurfaceStore& rt = ex_.renderTarget->store;
  p.color = rt.bits.data();
  p.colorPitch = rt.pitch;
  p.colorFormat = rt.format;
  p.color32 = rt.format == D3DFMT_A8R8G8B8 || rt.format == D3DFMT_X8R8G8B8;
  p.colorHasAlpha = FormatHasAlpha(rt.format);
  p.clipX0 = static_cast<int>(ex_.viewport.X);
  p.clipY0 = static_cast<int>(ex_.viewport.Y);
  p.clipX1 =
      std::min(static_cast<int>(ex_.viewport.X + ex_.viewport.Width), static_cast<int>(rt.width));
  p.clipY1 =
      std::min(static_cast<int>(ex_.viewport.Y + ex_.viewport.Height), static_cast<int>(rt.height));
  if (ex_.rs[D3DRS_SCISSORTESTENABLE]) {
    p.clipX0 = std::max(p.clipX0, static_cast<int>(ex_.scissor.left));
    p.clipY0 = std::max(p.clipY0, static_cast<int>(ex_.scissor.top));
    p.clipX1 = std::min(p.clipX1, static_cast<int>(ex_.scissor.right));
    p.clipY1 = std::min(p.clipY1, static_cast<int>(ex_.scissor.bottom));
  }
  p.depth = nullptr;
  p.depthBits = 0;
  if (ex_.depthStencil && ex_.rs[D3DRS_ZENABLE] != D3DZB_FALSE) {
    SurfaceStore& ds = ex_.depthStencil->store;
    p.depth = ds.bits.data();
    p.depthPitch = ds.pitch;
    p.depthBits = ds.bpp == 2 ? 16 : (ds.format == D3DFMT_D32 ? 32 : 24);
    // A depth buffer smaller than the target limits drawing to its size.
    p.clipX1 = std::min(p.clipX1, static_cast<int>(ds.width));
    p.clipY1 = std::min(p.clipY1, static_cast<int>(ds.height));
  }
  p.zTest = p.depth != nullptr;
  p.zWrite = p.zTest && ex_.rs[D3DRS_ZWRITEENABLE];
  p.zFunc = ex_.rs[D3DRS_ZFUNC];
  p.alphaTest = ex_.rs[D3DRS_ALPHATESTENABLE] != 0;
  p.alphaFunc = ex_.rs[D3DRS_ALPHAFUNC];
  p.alphaRef = static_cast<int>(ex_.rs[D3DRS_ALPHAREF] & 0xFF);
  p.blend = ex_.rs[D3DRS_ALPHABLENDENABLE] != 0;
  p.srcBlend = ex_.rs[D3DRS_SRCBLEND];
  p.dstBlend = ex_.rs[D3DRS_DESTBLEND];
  p.blendOp = ex_.rs[D3DRS_BLENDOP];
  p.separateAlpha = ex_.rs[D3DRS_SEPARATEALPHABLENDENABLE] != 0;
  p.srcBlendAlpha = ex_.rs[D3DRS_SRCBLENDALPHA];
  p.dstBlendAlpha = ex_.rs[D3DRS_DESTBLENDALPHA];
  p.blendOpAlpha = ex_.rs[D3DRS_BLENDOPALPHA];
  p.blendFactor = ex_.rs[D3DRS_BLENDFACTOR];
  DWORD cw = ex_.rs[D3DRS_COLORWRITEENABLE];
  p.writeMask = ((cw & D3DCOLORWRITEENABLE_RED) ? 0x00FF0000u : 0u) |
                ((cw & D3DCOLORWRITEENABLE_GREEN) ? 0x0000FF00u : 0u) |
                ((cw & D3DCOLORWRITEENABLE_BLUE) ? 0x000000FFu : 0u) |
                ((cw & D3DCOLORWRITEENABLE_ALPHA) ? 0xFF000000u : 0u);
  p.tfactor = ex_.rs[D3DRS_TEXTUREFACTOR];
  p.specularAdd = ex_.rs[D3DRS_SPECULARENABLE] != 0;
  p.flatShade = ex_.rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  p.cullMode = ex_.rs[D3DRS_CULLMODE];
  p.fillMode = ex_.rs[D3DRS_FILLMODE];
  p.lastPixel = ex_.rs[D3DRS_LASTPIXEL] != 0;
  // Render-state changes between draws (the sprite pass sets states around every quad) leave
  // the texture stages as they were.
  if (stagesDirty_) BuildStageState();
  ChooseShortcuts();
  pixelDirty_ = false;
}

void Device::BuildStageState() {
  PixelState& p = ps_;
  p.stageCount = 0;
  for (int s = 0; s < 8; ++s) {
    const DWORD* t = ex_.tss[s];
    if (t[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    StageState& st = p.stages[s];
    st.colorOp = t[D3DTSS_COLOROP];
    st.colorArg0 = t[D3DTSS_COLORARG0];
    st.colorArg1 = t[D3DTSS_COLORARG1];
    st.colorArg2 = t[D3DTSS_COLORARG2];
    st.alphaOp = t[D3DTSS_ALPHAOP];
    st.alphaArg0 = t[D3DTSS_ALPHAARG0];
    st.alphaArg1 = t[D3DTSS_ALPHAARG1];
    st.alphaArg2 = t[D3DTSS_ALPHAARG2];
    st.texSet = static_cast<int>(t[D3DTSS_TEXCOORDINDEX] & 0xFFFF);
    if (st.texSet >= kMaxTexSets) st.texSet = kMaxTexSets - 1;
    st.texture = ex_.textures[s] ? AsTexture(ex_.textures[s]) : nullptr;
    if (st.texture && st.texture->levels.empty()) st.texture = nullptr;
    const DWORD* sm = ex_.samp[s];
    st.addressU = sm[D3DSAMP_ADDRESSU];
    st.addressV = sm[D3DSAMP_ADDRESSV];
    st.border = sm[D3DSAMP_BORDERCOLOR];
    st.magFilter = sm[D3DSAMP_MAGFILTER];
    st.minFilter = sm[D3DSAMP_MINFILTER];
    st.mipFilter = sm[D3DSAMP_MIPFILTER];
    st.maxMipLevel = sm[D3DSAMP_MAXMIPLEVEL];
    st.linear = false;
    st.view = SamplerView{};
    if (st.texture) {
      const SurfaceStore& l0 = st.texture->levels[0]->store;
      st.view = SamplerView{l0.bits.data(),
                            l0.pitch,
                            static_cast<int>(l0.width),
                            static_cast<int>(l0.height),
                            l0.format,
                            l0.format == D3DFMT_A8R8G8B8 || l0.format == D3DFMT_X8R8G8B8,
                            l0.format == D3DFMT_X8R8G8B8};
      st.linear = st.magFilter >= D3DTEXF_LINEAR;
    }
    ++p.stageCount;
  }
  stagesDirty_ = false;
}

void Device::ChooseShortcuts() {
  PixelState& p = ps_;
  p.shade = PixelState::Shade::General;
  auto plain = [](DWORD arg) {
    return arg == D3DTA_TEXTURE || arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT;
  };
  auto isTex = [](DWORD arg) { return arg == D3DTA_TEXTURE; };
  auto isDiff = [](DWORD arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; };
  if (!p.specularAdd && p.stageCount == 0) {
    p.shade = PixelState::Shade::Diffuse;
  } else if (!p.specularAdd && p.stageCount == 1 && p.stages[0].texture &&
             ex_.tss[0][D3DTSS_RESULTARG] != D3DTA_TEMP) {
    const StageState& st = p.stages[0];
    bool colourOk = st.colorOp == D3DTOP_MODULATE && plain(st.colorArg1) && plain(st.colorArg2) &&
                    isTex(st.colorArg1) != isTex(st.colorArg2);
    int alpha = -1;
    if (st.alphaOp == D3DTOP_MODULATE && plain(st.alphaArg1) && plain(st.alphaArg2) &&
        isTex(st.alphaArg1) != isTex(st.alphaArg2))
      alpha = 0;
    else if ((st.alphaOp == D3DTOP_SELECTARG1 && isTex(st.alphaArg1)) ||
             (st.alphaOp == D3DTOP_SELECTARG2 && isTex(st.alphaArg2)))
      alpha = 1;
    else if ((st.alphaOp == D3DTOP_SELECTARG1 && isDiff(st.alphaArg1)) ||
             (st.alphaOp == D3DTOP_SELECTARG2 && isDiff(st.alphaArg2)) ||
             st.alphaOp == D3DTOP_DISABLE)
      alpha = 2;
    if (colourOk && alpha >= 0) {
      p.shade = PixelState::Shade::TextureModulate;
      p.shadeAlpha = alpha;
    }
  }
  p.blendKind = PixelState::Blend::General;
  if (p.writeMask == 0xFFFFFFFFu) {
    if (!p.blend)
      p.blendKind = PixelState::Blend::None;
    else if (p.srcBlend == D3DBLEND_SRCALPHA && p.dstBlend == D3DBLEND_INVSRCALPHA &&
             p.blendOp == D3DBLENDOP_ADD && !p.separateAlpha)
      p.blendKind = PixelState::Blend::SrcAlpha;
  }
}

// --- Vertex stage --------------------------------------------------------------------------------

// Decodes the vertices and transforms positions to clip space (or keeps pre-transformed screen
// positions). Fixed-function lighting belongs here: until it exists, vertices keep their own
// diffuse and specular colours whatever D3DRS_LIGHTING says.
void Device::TransformVertices(const uint8_t* src, UINT stride, UINT count, RVertex* out) {
  const FvfLayout& l = ex_.layout;
  const float(*m)[4] = wvp_;
  if (!l.rhw && l.psize < 0 && l.specular < 0 && l.texCount == 1 && l.texDim[0] == 2) {
    // Position, optional diffuse and one 2D coordinate set (the sprite format): the same values
    // as the loop below without its per-field decisions.
    const int diffuse = l.diffuse, tex = l.tex[0];
    const size_t plain = g_disableFastPaths ? 0 : scratchPlain_;
    for (UINT i = 0; i < count; ++i, src += stride) {
      RVertex& v = out[i];
      float pos[3];
      std::memcpy(pos, src, 12);
      float x = pos[0], y = pos[1], z = pos[2];
      v.x = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
      v.y = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
      v.z = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
      v.w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
      uint32_t c = 0xFFFFFFFFu;
      if (diffuse >= 0) std::memcpy(&c, src + diffuse, 4);
      v.attr[kAttrDiffuse + 0] = static_cast<float>((c >> 16) & 255);
      v.attr[kAttrDiffuse + 1] = static_cast<float>((c >> 8) & 255);
      v.attr[kAttrDiffuse + 2] = static_cast<float>(c & 255);
      v.attr[kAttrDiffuse + 3] = static_cast<float>(c >> 24);
      std::memcpy(&v.attr[kAttrTex], src + tex, 8);
      if (i >= plain) {
        for (int k = kAttrSpecular; k < kAttrTex; ++k) v.attr[k] = 0.f;
        for (int k = kAttrTex + 2; k < kAttrCount; ++k) v.attr[k] = 0.f;
        v.psize = 1.f;
      }
    }
    scratchPlain_ = std::max<size_t>(plain, count);
    return;
  }
  scratchPlain_ = 0;  // the general decode may leave anything in those fields
  for (UINT i = 0; i < count; ++i, src += stride) {
    RVertex& v = out[i];
    float pos[4];
    std::memcpy(pos, src, l.rhw ? 16 : 12);
    if (l.rhw) {
      v.x = pos[0];
      v.y = pos[1];
      v.z = pos[2];
      v.w = pos[3];  // screen-space vertices carry rhw in w
    } else {
      float x = pos[0], y = pos[1], z = pos[2];
      v.x = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
      v.y = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
      v.z = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
      v.w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
    }
    uint32_t c = 0xFFFFFFFFu;
    if (l.diffuse >= 0) std::memcpy(&c, src + l.diffuse, 4);
    v.attr[kAttrDiffuse + 0] = static_cast<float>((c >> 16) & 255);
    v.attr[kAttrDiffuse + 1] = static_cast<float>((c >> 8) & 255);
    v.attr[kAttrDiffuse + 2] = static_cast<float>(c & 255);
    v.attr[kAttrDiffuse + 3] = static_cast<float>(c >> 24);
    c = 0;
    if (l.specular >= 0) std::memcpy(&c, src + l.specular, 4);
    v.attr[kAttrSpecular + 0] = static_cast<float>((c >> 16) & 255);
    v.attr[kAttrSpecular + 1] = static_cast<float>((c >> 8) & 255);
    v.attr[kAttrSpecular + 2] = static_cast<float>(c & 255);
    v.attr[kAttrSpecular + 3] = static_cast<float>(c >> 24);
    for (int t = 0; t < kMaxTexSets; ++t) {
      if (t < l.texCount) {
        float uv[2] = {0.f, 0.f};
        std::memcpy(uv, src + l.tex[t], l.texDim[t] >= 2 ? 8 : 4);
        v.attr[kAttrTex + 2 * t] = uv[0];
        v.attr[kAttrTex + 2 * t + 1] = uv[1];
      } else {
        v.attr[kAttrTex + 2 * t] = v.attr[kAttrTex + 2 * t + 1] = 0.f;
      }
    }
    v.psize = 1.f;
    if (l.psize >= 0) std::memcpy(&v.psize, src + l.psize, 4);
  }
}

void Device::ToScreen(RVertex* v) const {
  float rhw = 1.f / v->w;
  float hw = static_cast<float>(ex_.viewport.Width) * 0.5f;
  float hh = static_cast<float>(ex_.viewport.Height) * 0.5f;
  v->x = static_cast<float>(ex_.viewport.X) + (1.f + v->x * rhw) * hw;
  v->y = static_cast<float>(ex_.viewport.Y) + (1.f - v->y * rhw) * hh;
  v->z = ex_.viewport.MinZ + v->z * rhw * (ex_.viewport.MaxZ - ex_.viewport.MinZ);
  v->w = rhw;
}

// --- Draw entry points ---------------------------------------------------------------------------

// Vertices [0, vertexCount) of `vertices` are transformed once; indices (if any) are relative to
// minIndex. Out-of-range indices drop their primitive.
HRESULT Device::DrawStream(D3DPRIMITIVETYPE type, UINT prims, const uint8_t* vertices, UINT stride,
                           UINT vertexCount, const void* indices, bool i32, INT, UINT minIndex) {
  Validate();
  if (ps_.clipX0 >= ps_.clipX1 || ps_.clipY0 >= ps_.clipY1) return D3D_OK;
  if (scratch_.size() < vertexCount) scratch_.resize(vertexCount);
  RVertex* v = scratch_.data();
  TransformVertices(vertices, stride, vertexCount, v);
  auto index = [&](UINT i) -> int64_t {
    if (!indices) return i;
    int64_t k =
        i32 ? static_cast<const uint32_t*>(indices)[i] : static_cast<const uint16_t*>(indices)[i];
    k -= minIndex;
    return (k < 0 || k >= vertexCount) ? -1 : k;
  };

  if (!g_disableFastPaths && !indices && prims == 2) {
    static const uint16_t kList[6] = {0, 1, 2, 3, 4, 5};
    static const uint16_t kStrip[6] = {0, 1, 2, 2, 1, 3};
    static const uint16_t kFan[6] = {0, 1, 2, 0, 2, 3};
    const uint16_t* corners = type == D3DPT_TRIANGLELIST    ? kList
                              : type == D3DPT_TRIANGLESTRIP ? kStrip
                              : type == D3DPT_TRIANGLEFAN   ? kFan
                                                            : nullptr;
    if (corners && TryQuadFastPath(v, corners)) return D3D_OK;
  }

  switch (type) {
    case D3DPT_TRIANGLELIST:
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      for (UINT p = 0; p < prims; ++p) {
        int64_t i0, i1, i2;
        if (type == D3DPT_TRIANGLELIST) {
          i0 = index(3 * p);
          i1 = index(3 * p + 1);
          i2 = index(3 * p + 2);
        } else if (type == D3DPT_TRIANGLESTRIP) {
          // Odd triangles of a strip are turned round so every triangle keeps the first winding.
          i0 = index(p + (p & 1));
          i1 = index(p + 1 - (p & 1));
          i2 = index(p + 2);
        } else {
          i0 = index(0);
          i1 = index(p + 1);
          i2 = index(p + 2);
        }
        if (i0 < 0 || i1 < 0 || i2 < 0) continue;
        DrawTriangle(&v[i0], &v[i1], &v[i2]);
      }
      break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP:
      for (UINT p = 0; p < prims; ++p) {
        int64_t i0 = type == D3DPT_LINELIST ? index(2 * p) : index(p);
        int64_t i1 = type == D3DPT_LINELIST ? index(2 * p + 1) : index(p + 1);
        if (i0 < 0 || i1 < 0) continue;
        bool last = type == D3DPT_LINELIST || p + 1 == prims;
        DrawLine(&v[i0], &v[i1], last && ps_.lastPixel);
      }
      break;
    case D3DPT_POINTLIST:
      for (UINT p = 0; p < prims; ++p) {
        int64_t i0 = index(p);
        if (i0 >= 0) DrawPoint(&v[i0]);
      }
      break;
    default:
      break;
  }
  return D3D_OK;
}

// --- Clipping ------------------------------------------------------------------------------------

namespace {

// Signed distances to the clip planes: near (z >= 0), far (z <= w) and a guard band on x and y.
inline float PlaneDistance(const RVertex& v, int plane) {
  switch (plane) {
    case 0:
      return v.z;
    case 1:
      return v.w - v.z;
    case 2:
      return kGuardBand * v.w + v.x;
    case 3:
      return kGuardBand * v.w - v.x;
    case 4:
      return kGuardBand * v.w + v.y;
    default:
      return kGuardBand * v.w - v.y;
  }
}

inline RVertex Lerp(const RVertex& a, const RVertex& b, float t) {
  RVertex r;
  r.x = a.x + (b.x - a.x) * t;
  r.y = a.y + (b.y - a.y) * t;
  r.z = a.z + (b.z - a.z) * t;
  r.w = a.w + (b.w - a.w) * t;
  for (int i = 0; i < kAttrCount; ++i) r.attr[i] = a.attr[i] + (b.attr[i] - a.attr[i]) * t;
  r.psize = a.psize;
  return r;
}

// PlaneDistance for every plane, written out: a loop over the switch costs an indirect jump per
// plane.
// Rounds half to even like std::nearbyint in the default rounding mode, without the library
// call; beyond the int range (or for NaN) it gives a value far from the input, which the
// callers refuse as they refuse any large coordinate.
inline float NearestInteger(float v) {
#if defined(__x86_64__)
  return static_cast<float>(_mm_cvtss_si32(_mm_set_ss(v)));
#else
  return std::nearbyint(v);
#endif
}

inline int OutCode(const RVertex& v) {
  const float g = kGuardBand * v.w;
  int code = 0;
  code |= !(v.z >= 0.f) ? 1 : 0;
  code |= !(v.w - v.z >= 0.f) ? 2 : 0;
  code |= !(g + v.x >= 0.f) ? 4 : 0;
  code |= !(g - v.x >= 0.f) ? 8 : 0;
  code |= !(g + v.y >= 0.f) ? 16 : 0;
  code |= !(g - v.y >= 0.f) ? 32 : 0;
  return code;
}

}  // namespace

void Device::DrawTriangle(const RVertex* a, const RVertex* b, const RVertex* c) {
  if (ex_.layout.rhw) {
    RasterTriangle(*a, *b, *c);
    return;
  }
  ClipAndDrawTriangle(a, b, c);
}

void Device::ClipAndDrawTriangle(const RVertex* a, const RVertex* b, const RVertex* c) {
  int ca = OutCode(*a), cb = OutCode(*b), cc = OutCode(*c);
  if (ca & cb & cc) return;  // wholly outside one plane
  if ((ca | cb | cc) == 0) {
    RVertex s[3] = {*a, *b, *c};
    for (auto& v : s) ToScreen(&v);
    RasterTriangle(s[0], s[1], s[2]);
    return;
  }
  // Sutherland-Hodgman against the planes the triangle crosses.
  RVertex bufA[12], bufB[12];
  RVertex* in = bufA;
  RVertex* out = bufB;
  int n = 3;
  in[0] = *a;
  in[1] = *b;
  in[2] = *c;
  int crossed = ca | cb | cc;
  for (int p = 0; p < 6 && n >= 3; ++p) {
    if (!(crossed & (1 << p))) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const RVertex& u = in[i];
      const RVertex& w = in[(i + 1) % n];
      float du = PlaneDistance(u, p), dw = PlaneDistance(w, p);
      bool uin = du >= 0.f, win = dw >= 0.f;
      if (uin && m < 12) out[m++] = u;
      if (uin != win && m < 12) out[m++] = Lerp(u, w, du / (du - dw));
    }
    std::swap(in, out);
    n = m;
  }
  if (n < 3) return;
  for (int i = 0; i < n; ++i) {
    if (!(in[i].w > 0.f)) return;
    ToScreen(&in[i]);
  }
  for (int i = 1; i + 1 < n; ++i) RasterTriangle(in[0], in[i], in[i + 1]);
}

// --- Triangle set-up and scan --------------------------------------------------------------------

void Device::ChooseTextureLevels(const RVertex& a, const RVertex& b, const RVertex& c) {
  const float x[3] = {a.x, b.x, c.x}, y[3] = {a.y, b.y, c.y};
  const RVertex* attrs[3] = {&a, &b, &c};
  ChooseTextureLevels(x, y, attrs);
}

// Screen positions in x and y; texture coordinates from the attributes of `attrs`.
void Device::ChooseTextureLevels(const float* x, const float* y, const RVertex* const* attrs) {
  const RVertex& a = *attrs[0];
  const RVertex& b = *attrs[1];
  const RVertex& c = *attrs[2];
  float ex1 = x[1] - x[0], ey1 = y[1] - y[0], ex2 = x[2] - x[0], ey2 = y[2] - y[0];
  float det = ex1 * ey2 - ex2 * ey1;
  for (int s = 0; s < ps_.stageCount; ++s) {
    StageState& st = ps_.stages[s];
    if (!st.texture) continue;
    // One level and the same kind of filter either way (every sprite): the footprint decides
    // nothing, so the derivatives are not worth computing.
    if (st.texture->levels.size() == 1 &&
        (st.minFilter >= D3DTEXF_LINEAR) == (st.magFilter >= D3DTEXF_LINEAR) &&
        !g_disableFastPaths) {
      st.linear = st.magFilter >= D3DTEXF_LINEAR;
      const SurfaceStore& l = st.texture->levels[0]->store;
      st.view.bits = l.bits.data();
      st.view.pitch = l.pitch;
      st.view.width = static_cast<int>(l.width);
      st.view.height = static_cast<int>(l.height);
      continue;
    }
    const SurfaceStore& l0 = st.texture->levels[0]->store;
    int t = kAttrTex + 2 * st.texSet;
    float rho = 1.f;
    if (det != 0.f) {
      float du1 = (b.attr[t] - a.attr[t]) * static_cast<float>(l0.width);
      float du2 = (c.attr[t] - a.attr[t]) * static_cast<float>(l0.width);
      float dv1 = (b.attr[t + 1] - a.attr[t + 1]) * static_cast<float>(l0.height);
      float dv2 = (c.attr[t + 1] - a.attr[t + 1]) * static_cast<float>(l0.height);
      float dudx = (du1 * ey2 - du2 * ey1) / det, dudy = (du2 * ex1 - du1 * ex2) / det;
      float dvdx = (dv1 * ey2 - dv2 * ey1) / det, dvdy = (dv2 * ex1 - dv1 * ex2) / det;
      rho = std::max(std::sqrt(dudx * dudx + dvdx * dvdx), std::sqrt(dudy * dudy + dvdy * dvdy));
    }
    // Within a small tolerance of 1:1 the texture is magnified.
    bool minify = rho > 1.001f;
    st.linear = (minify ? st.minFilter : st.magFilter) >= D3DTEXF_LINEAR;
    size_t level = std::min<size_t>(st.maxMipLevel, st.texture->levels.size() - 1);
    if (minify && st.mipFilter != D3DTEXF_NONE && st.texture->levels.size() > 1) {
      float lod = std::log2(rho);
      size_t chosen = static_cast<size_t>(std::max(0.f, std::floor(lod + 0.5f)));
      level = std::clamp(chosen, level, st.texture->levels.size() - 1);
    }
    const SurfaceStore& l = st.texture->levels[level]->store;
    st.view.bits = l.bits.data();
    st.view.pitch = l.pitch;
    st.view.width = static_cast<int>(l.width);
    st.view.height = static_cast<int>(l.height);
  }
}

bool Device::ShadeFragment(Fragment& f, uint32_t* out) {
  const PixelState& p = ps_;
  if (p.shade != PixelState::Shade::General) {
    C4 c{f.diffuse[0], f.diffuse[1], f.diffuse[2], f.diffuse[3]};
    if (p.shade == PixelState::Shade::TextureModulate) {
      const StageState& st = p.stages[0];
      C4 t = Unpack(f.presampled ? f.texel[0] : Sample(st, f.uv[st.texSet][0], f.uv[st.texSet][1]));
      int a = p.shadeAlpha == 0 ? Mul255(t.a, c.a) : (p.shadeAlpha == 1 ? t.a : c.a);
      c = C4{Mul255(t.r, c.r), Mul255(t.g, c.g), Mul255(t.b, c.b), a};
    }
    if (p.alphaTest &&
        !Compare(p.alphaFunc, static_cast<uint32_t>(c.a), static_cast<uint32_t>(p.alphaRef)))
      return false;
    *out = Pack(c);
    return true;
  }
  C4 diffuse{f.diffuse[0], f.diffuse[1], f.diffuse[2], f.diffuse[3]};
  C4 specularColour{f.specular[0], f.specular[1], f.specular[2], f.specular[3]};
  C4 tf = Unpack(p.tfactor);
  C4 cur = diffuse;
  C4 temp{0, 0, 0, 0};
  for (int s = 0; s < p.stageCount; ++s) {
    const StageState& st = p.stages[s];
    C4 tex{255, 255, 255, 255};
    if (st.texture)
      tex = Unpack(f.presampled ? f.texel[s] : Sample(st, f.uv[st.texSet][0], f.uv[st.texSet][1]));
    C4 constant = Unpack(ex_.tss[s][D3DTSS_CONSTANT]);
    auto arg = [&](DWORD sel) {
      C4 r;
      switch (sel & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE:
          r = diffuse;
          break;
        case D3DTA_CURRENT:
          r = cur;
          break;
        case D3DTA_TEXTURE:
          r = tex;
          break;
        case D3DTA_TFACTOR:
          r = tf;
          break;
        case D3DTA_SPECULAR:
          r = specularColour;
          break;
        case D3DTA_TEMP:
          r = temp;
          break;
        case D3DTA_CONSTANT:
          r = constant;
          break;
        default:
          r = C4{0, 0, 0, 0};
      }
      if (sel & D3DTA_ALPHAREPLICATE) r.r = r.g = r.b = r.a;
      if (sel & D3DTA_COMPLEMENT) r = C4{255 - r.r, 255 - r.g, 255 - r.b, 255 - r.a};
      return r;
    };
    // One channel of an operation; `blendAlpha` is the alpha the BLEND* operations use.
    auto op = [&](DWORD o, int a1, int a2, int a0, const C4& x1, bool alphaChannel) -> int {
      switch (o) {
        case D3DTOP_SELECTARG1:
          return a1;
        case D3DTOP_SELECTARG2:
          return a2;
        case D3DTOP_MODULATE:
          return Mul255(a1, a2);
        case D3DTOP_MODULATE2X:
          return std::min(255, 2 * Mul255(a1, a2));
        case D3DTOP_MODULATE4X:
          return std::min(255, 4 * Mul255(a1, a2));
        case D3DTOP_ADD:
          return std::min(255, a1 + a2);
        case D3DTOP_ADDSIGNED:
          return Clamp255(a1 + a2 - 128);
        case D3DTOP_ADDSIGNED2X:
          return Clamp255(2 * (a1 + a2 - 128));
        case D3DTOP_SUBTRACT:
          return std::max(0, a1 - a2);
        case D3DTOP_ADDSMOOTH:
          return std::min(255, a1 + a2 - Mul255(a1, a2));
        case D3DTOP_BLENDDIFFUSEALPHA:
          return (a1 * diffuse.a + a2 * (255 - diffuse.a) + 127) / 255;
        case D3DTOP_BLENDTEXTUREALPHA:
          return (a1 * tex.a + a2 * (255 - tex.a) + 127) / 255;
        case D3DTOP_BLENDFACTORALPHA:
          return (a1 * tf.a + a2 * (255 - tf.a) + 127) / 255;
        case D3DTOP_BLENDCURRENTALPHA:
          return (a1 * cur.a + a2 * (255 - cur.a) + 127) / 255;
        case D3DTOP_BLENDTEXTUREALPHAPM:
          return std::min(255, a1 + Mul255(a2, 255 - tex.a));
        case D3DTOP_MODULATEALPHA_ADDCOLOR:
          return alphaChannel ? a1 : std::min(255, a1 + Mul255(x1.a, a2));
        case D3DTOP_MODULATECOLOR_ADDALPHA:
          return alphaChannel ? a1 : std::min(255, Mul255(a1, a2) + x1.a);
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
          return alphaChannel ? a1 : std::min(255, a1 + Mul255(255 - x1.a, a2));
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
          return alphaChannel ? a1 : std::min(255, Mul255(255 - a1, a2) + x1.a);
        case D3DTOP_MULTIPLYADD:
          return std::min(255, a0 + Mul255(a1, a2));
        case D3DTOP_LERP:
          return (a0 * a1 + (255 - a0) * a2 + 127) / 255;
        default:
          return a1;
      }
    };
    C4 c1 = arg(st.colorArg1), c2 = arg(st.colorArg2), c0{0, 0, 0, 0};
    if (st.colorOp == D3DTOP_MULTIPLYADD || st.colorOp == D3DTOP_LERP) c0 = arg(st.colorArg0);
    C4 next;
    if (st.colorOp == D3DTOP_DOTPRODUCT3) {
      // 4 * ((r1 - .5)(r2 - .5) + ...), replicated into every channel, alpha included.
      int dot = ((2 * c1.r - 255) * (2 * c2.r - 255) + (2 * c1.g - 255) * (2 * c2.g - 255) +
                 (2 * c1.b - 255) * (2 * c2.b - 255)) /
                255;
      int d = Clamp255(dot);
      next = C4{d, d, d, d};
    } else {
      next.r = op(st.colorOp, c1.r, c2.r, c0.r, c1, false);
      next.g = op(st.colorOp, c1.g, c2.g, c0.g, c1, false);
      next.b = op(st.colorOp, c1.b, c2.b, c0.b, c1, false);
      if (st.alphaOp == D3DTOP_DISABLE) {
        next.a = cur.a;
      } else {
        C4 a1 = arg(st.alphaArg1), a2 = arg(st.alphaArg2), a0{0, 0, 0, 0};
        if (st.alphaOp == D3DTOP_MULTIPLYADD || st.alphaOp == D3DTOP_LERP) a0 = arg(st.alphaArg0);
        next.a = op(st.alphaOp, a1.a, a2.a, a0.a, a1, true);
      }
    }
    if (ex_.tss[s][D3DTSS_RESULTARG] == D3DTA_TEMP)
      temp = next;
    else
      cur = next;
  }
  if (p.specularAdd) {
    cur.r = std::min(255, cur.r + specularColour.r);
    cur.g = std::min(255, cur.g + specularColour.g);
    cur.b = std::min(255, cur.b + specularColour.b);
  }
  if (p.alphaTest &&
      !Compare(p.alphaFunc, static_cast<uint32_t>(cur.a), static_cast<uint32_t>(p.alphaRef)))
    return false;
  *out = Pack(cur);
  return true;
}

namespace {

inline C4 BlendFactor(DWORD f, const C4& s, const C4& d, const C4& k) {
  switch (f) {
    case D3DBLEND_ZERO:
      return C4{0, 0, 0, 0};
    case D3DBLEND_SRCCOLOR:
      return s;
    case D3DBLEND_INVSRCCOLOR:
      return C4{255 - s.r, 255 - s.g, 255 - s.b, 255 - s.a};
    case D3DBLEND_SRCALPHA:
      return C4{s.a, s.a, s.a, s.a};
    case D3DBLEND_INVSRCALPHA:
      return C4{255 - s.a, 255 - s.a, 255 - s.a, 255 - s.a};
    case D3DBLEND_DESTALPHA:
      return C4{d.a, d.a, d.a, d.a};
    case D3DBLEND_INVDESTALPHA:
      return C4{255 - d.a, 255 - d.a, 255 - d.a, 255 - d.a};
    case D3DBLEND_DESTCOLOR:
      return d;
    case D3DBLEND_INVDESTCOLOR:
      return C4{255 - d.r, 255 - d.g, 255 - d.b, 255 - d.a};
    case D3DBLEND_SRCALPHASAT: {
      int v = std::min(s.a, 255 - d.a);
      return C4{v, v, v, 255};
    }
    case D3DBLEND_BLENDFACTOR:
      return k;
    case D3DBLEND_INVBLENDFACTOR:
      return C4{255 - k.r, 255 - k.g, 255 - k.b, 255 - k.a};
    default:  // ONE
      return C4{255, 255, 255, 255};
  }
}

inline int BlendChannel(DWORD op, int s, int fs, int d, int fd) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT:
      return Clamp255((s * fs - d * fd + 127) / 255);
    case D3DBLENDOP_REVSUBTRACT:
      return Clamp255((d * fd - s * fs + 127) / 255);
    case D3DBLENDOP_MIN:
      return std::min(s, d);
    case D3DBLENDOP_MAX:
      return std::max(s, d);
    default:
      return std::min(255, (s * fs + d * fd + 127) / 255);
  }
}

}  // namespace

void Device::WriteColour(int x, int y, uint32_t src) {
  const PixelState& p = ps_;
  uint8_t* px = p.color + static_cast<size_t>(y) * p.colorPitch;
  if (p.color32 && p.blendKind != PixelState::Blend::General) {
    px += static_cast<size_t>(x) * 4;
    uint32_t result = src;
    if (p.blendKind == PixelState::Blend::SrcAlpha) {
      uint32_t dst;
      std::memcpy(&dst, px, 4);
      if (p.colorFormat == D3DFMT_X8R8G8B8) dst |= 0xFF000000u;
      int a = static_cast<int>(src >> 24), ia = 255 - a;
      result = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        int sc = static_cast<int>((src >> sh) & 255), dc = static_cast<int>((dst >> sh) & 255);
        result |= static_cast<uint32_t>((sc * a + dc * ia + 127) / 255) << sh;
      }
    }
    if (p.colorFormat == D3DFMT_X8R8G8B8) result |= 0xFF000000u;
    std::memcpy(px, &result, 4);
    return;
  }
  uint32_t dst;
  if (p.color32) {
    px += static_cast<size_t>(x) * 4;
    std::memcpy(&dst, px, 4);
    if (p.colorFormat == D3DFMT_X8R8G8B8) dst |= 0xFF000000u;
  } else {
    px += static_cast<size_t>(x) * FormatBytesPerPixel(p.colorFormat);
    dst = ReadPixelArgb(p.colorFormat, px);
  }
  uint32_t result = src;
  if (p.blend) {
    C4 s = Unpack(src), d = Unpack(dst), k = Unpack(p.blendFactor);
    DWORD sbf = p.srcBlend, dbf = p.dstBlend;
    if (sbf == D3DBLEND_BOTHSRCALPHA) {
      sbf = D3DBLEND_SRCALPHA;
      dbf = D3DBLEND_INVSRCALPHA;
    } else if (sbf == D3DBLEND_BOTHINVSRCALPHA) {
      sbf = D3DBLEND_INVSRCALPHA;
      dbf = D3DBLEND_SRCALPHA;
    }
    C4 fs = BlendFactor(sbf, s, d, k), fd = BlendFactor(dbf, s, d, k);
    C4 o;
    o.r = BlendChannel(p.blendOp, s.r, fs.r, d.r, fd.r);
    o.g = BlendChannel(p.blendOp, s.g, fs.g, d.g, fd.g);
    o.b = BlendChannel(p.blendOp, s.b, fs.b, d.b, fd.b);
    if (p.separateAlpha) {
      C4 fsa = BlendFactor(p.srcBlendAlpha, s, d, k), fda = BlendFactor(p.dstBlendAlpha, s, d, k);
      o.a = BlendChannel(p.blendOpAlpha, s.a, fsa.a, d.a, fda.a);
    } else {
      o.a = BlendChannel(p.blendOp, s.a, fs.a, d.a, fd.a);
    }
    result = Pack(o);
  }
  result = (result & p.writeMask) | (dst & ~p.writeMask);
  if (p.color32) {
    if (p.colorFormat == D3DFMT_X8R8G8B8) result |= 0xFF000000u;
    std::memcpy(px, &result, 4);
  } else {
    WritePixelArgb(p.colorFormat, px, result);
  }
}

namespace {

// Depth test and write around one fragment: returns false when the test fails.
struct DepthAccess {
  uint8_t* at = nullptr;
  uint32_t value = 0;
  uint32_t stored = 0;
};

inline bool DepthTest(const PixelState& p, int x, int y, float z, DepthAccess* d) {
  if (!p.zTest) return true;
  d->value = QuantizeDepth(z, p.depthBits);
  d->at = p.depth + static_cast<size_t>(y) * p.depthPitch;
  if (p.depthBits == 16) {
    d->at += static_cast<size_t>(x) * 2;
    uint16_t v;
    std::memcpy(&v, d->at, 2);
    d->stored = v;
  } else {
    d->at += static_cast<size_t>(x) * 4;
    uint32_t v;
    std::memcpy(&v, d->at, 4);
    d->stored = p.depthBits == 24 ? (v >> 8) : v;
  }
  return Compare(p.zFunc, d->value, d->stored);
}

inline void DepthWrite(const PixelState& p, const DepthAccess& d) {
  if (!p.zWrite) return;
  if (p.depthBits == 16) {
    uint16_t v = static_cast<uint16_t>(d.value);
    std::memcpy(d.at, &v, 2);
  } else if (p.depthBits == 24) {
    uint32_t old;
    std::memcpy(&old, d.at, 4);
    uint32_t v = (d.value << 8) | (old & 0xFF);
    std::memcpy(d.at, &v, 4);
  } else {
    std::memcpy(d.at, &d.value, 4);
  }
}

inline int64_t Snap(float v) {
  if (!(v > -kMaxCoord)) v = -kMaxCoord;  // also NaN
  if (v > kMaxCoord) v = kMaxCoord;
#if defined(__x86_64__)
  // lrint without the library call: the conversion rounds to nearest, ties to even.
  return static_cast<int64_t>(_mm_cvtss_si64(_mm_set_ss(v * static_cast<float>(kSub))));
#else
  return static_cast<int64_t>(std::lrint(v * static_cast<float>(kSub)));
#endif
}

inline int64_t CeilSub(int64_t v) {
  return (v + kSub - 1) >> kSubBits;
}
inline int64_t FloorSub(int64_t v) {
  return v >> kSubBits;
}

}  // namespace

void Device::RasterTriangle(const RVertex& a0, const RVertex& b0, const RVertex& c0) {
  const PixelState& p = ps_;
  int64_t ax = Snap(a0.x), ay = Snap(a0.y), bx = Snap(b0.x), by = Snap(b0.y), cx = Snap(c0.x),
          cy = Snap(c0.y);
  int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  if (area == 0) return;
  // With y pointing down, a positive area is a clockwise triangle on screen.
  if (p.cullMode == D3DCULL_CW && area > 0) return;
  if (p.cullMode == D3DCULL_CCW && area < 0) return;
  const RVertex* a = &a0;
  const RVertex* b = &b0;
  const RVertex* c = &c0;
  if (area < 0) {
    std::swap(b, c);
    std::swap(bx, cx);
    std::swap(by, cy);
    area = -area;
  }
  if (p.fillMode != D3DFILL_SOLID) {
    if (p.fillMode == D3DFILL_WIREFRAME) {
      DrawLine(a, b, false);
      DrawLine(b, c, false);
      DrawLine(c, a, false);
    } else {
      DrawPoint(a);
      DrawPoint(b);
      DrawPoint(c);
    }
    return;
  }
  int64_t minX = std::max<int64_t>(CeilSub(std::min({ax, bx, cx})), p.clipX0);
  int64_t maxX = std::min<int64_t>(FloorSub(std::max({ax, bx, cx})), p.clipX1 - 1);
  int64_t minY = std::max<int64_t>(CeilSub(std::min({ay, by, cy})), p.clipY0);
  int64_t maxY = std::min<int64_t>(FloorSub(std::max({ay, by, cy})), p.clipY1 - 1);
  if (minX > maxX || minY > maxY) return;

  // Edge functions; a pixel on an edge belongs to the triangle only for top and left edges.
  struct Edge {
    int64_t dx, dy, bias;
    int64_t ox, oy;
  } e[3] = {
      {bx - ax, by - ay, 0, ax, ay}, {cx - bx, cy - by, 0, bx, by}, {ax - cx, ay - cy, 0, cx, cy}};
  for (auto& ed : e) {
    bool topLeft = (ed.dy == 0 && ed.dx > 0) || ed.dy < 0;
    ed.bias = topLeft ? 0 : -1;
  }

  ChooseTextureLevels(*a, *b, *c);

  // Attribute planes on the snapped positions.
  float fx0 = static_cast<float>(ax) / kSub, fy0 = static_cast<float>(ay) / kSub;
  float ex1 = static_cast<float>(bx - ax) / kSub, ey1 = static_cast<float>(by - ay) / kSub;
  float ex2 = static_cast<float>(cx - ax) / kSub, ey2 = static_cast<float>(cy - ay) / kSub;
  float inv = 1.f / (ex1 * ey2 - ex2 * ey1);
  bool persp = !(a->w == b->w && b->w == c->w);
  auto plane = [&](float va, float vb, float vc, float* ddx, float* ddy) {
    float d1 = vb - va, d2 = vc - va;
    *ddx = (d1 * ey2 - d2 * ey1) * inv;
    *ddy = (d2 * ex1 - d1 * ex2) * inv;
  };

  // Which attributes the pixel stage reads.
  bool flatDiffuse = p.flatShade;
  bool sameDiffuse = true, sameSpec = true;
  for (int i = 0; i < 4; ++i) {
    sameDiffuse &= a->attr[kAttrDiffuse + i] == b->attr[kAttrDiffuse + i] &&
                   a->attr[kAttrDiffuse + i] == c->attr[kAttrDiffuse + i];
    sameSpec &= a->attr[kAttrSpecular + i] == b->attr[kAttrSpecular + i] &&
                a->attr[kAttrSpecular + i] == c->attr[kAttrSpecular + i];
  }
  const RVertex& flatSrc = a0;  // flat shading takes the first vertex of the triangle
  Fragment frag{};
  int attrs[kAttrCount];
  int nattr = 0;
  if (flatDiffuse || sameDiffuse) {
    const RVertex& s = flatDiffuse ? flatSrc : *a;
    for (int i = 0; i < 4; ++i) frag.diffuse[i] = static_cast<int>(s.attr[kAttrDiffuse + i]);
  } else {
    for (int i = 0; i < 4; ++i) attrs[nattr++] = kAttrDiffuse + i;
  }
  if (flatDiffuse || sameSpec) {
    const RVertex& s = flatDiffuse ? flatSrc : *a;
    for (int i = 0; i < 4; ++i) frag.specular[i] = static_cast<int>(s.attr[kAttrSpecular + i]);
  } else {
    for (int i = 0; i < 4; ++i) attrs[nattr++] = kAttrSpecular + i;
  }
  bool setUsed[kMaxTexSets] = {};
  for (int s = 0; s < p.stageCount; ++s)
    if (p.stages[s].texture) setUsed[p.stages[s].texSet] = true;
  for (int t = 0; t < kMaxTexSets; ++t)
    if (setUsed[t]) {
      attrs[nattr++] = kAttrTex + 2 * t;
      attrs[nattr++] = kAttrTex + 2 * t + 1;
    }

  float base[kAttrCount], ddx[kAttrCount], ddy[kAttrCount];
  float qBase = 1.f, qdx = 0.f, qdy = 0.f;
  if (persp) plane(a->w, b->w, c->w, &qdx, &qdy), qBase = a->w;
  for (int k = 0; k < nattr; ++k) {
    int i = attrs[k];
    if (persp) {
      plane(a->attr[i] * a->w, b->attr[i] * b->w, c->attr[i] * c->w, &ddx[k], &ddy[k]);
      base[k] = a->attr[i] * a->w;
    } else {
      plane(a->attr[i], b->attr[i], c->attr[i], &ddx[k], &ddy[k]);
      base[k] = a->attr[i];
    }
  }
  float zdx, zdy;
  plane(a->z, b->z, c->z, &zdx, &zdy);

  for (int64_t y = minY; y <= maxY; ++y) {
    int64_t py = y << kSubBits;
    int64_t px0 = minX << kSubBits;
    int64_t w0 = e[0].dx * (py - e[0].oy) - e[0].dy * (px0 - e[0].ox) + e[0].bias;
    int64_t w1 = e[1].dx * (py - e[1].oy) - e[1].dy * (px0 - e[1].ox) + e[1].bias;
    int64_t w2 = e[2].dx * (py - e[2].oy) - e[2].dy * (px0 - e[2].ox) + e[2].bias;
    int64_t s0 = -e[0].dy * kSub, s1 = -e[1].dy * kSub, s2 = -e[2].dy * kSub;
    float ry = static_cast<float>(y) - fy0;
    for (int64_t x = minX; x <= maxX; ++x, w0 += s0, w1 += s1, w2 += s2) {
      if ((w0 | w1 | w2) < 0) continue;
      float rx = static_cast<float>(x) - fx0;
      float z = a->z + zdx * rx + zdy * ry;
      DepthAccess da;
      if (!DepthTest(p, static_cast<int>(x), static_cast<int>(y), z, &da)) continue;
      float wcorr = 1.f;
      if (persp) wcorr = 1.f / (qBase + qdx * rx + qdy * ry);
      float vals[kAttrCount];
      for (int k = 0; k < nattr; ++k) vals[k] = (base[k] + ddx[k] * rx + ddy[k] * ry) * wcorr;
      for (int k = 0; k < nattr; ++k) {
        int i = attrs[k];
        if (i < kAttrSpecular)
          frag.diffuse[i - kAttrDiffuse] = Clamp255(static_cast<int>(std::lrint(vals[k])));
        else if (i < kAttrTex)
          frag.specular[i - kAttrSpecular] = Clamp255(static_cast<int>(std::lrint(vals[k])));
        else
          frag.uv[(i - kAttrTex) / 2][(i - kAttrTex) & 1] = vals[k];
      }
      uint32_t colour;
      if (!ShadeFragment(frag, &colour)) continue;
      DepthWrite(p, da);
      WriteColour(static_cast<int>(x), static_cast<int>(y), colour);
    }
  }
}

// Axis-aligned rectangles made of two triangles, with constant colours and depth and textures
// mapped one texel per pixel at texel centres: the pixels the general path would cover are filled
// directly, with the same fragment values.
bool Device::TryQuadFastPath(const RVertex* v, const uint16_t* corners) {
  const PixelState& p = ps_;
  if (p.fillMode != D3DFILL_SOLID) return false;
  // Only the screen positions are copied; colours and texture coordinates are read in place.
  const RVertex* src[6];
  float sx[6], sy[6], sz[6];
  for (int i = 0; i < 6; ++i) src[i] = &v[corners[i]];
  const RVertex& v0 = *src[0];
  // Strips and fans name a vertex twice: each distinct one is checked once. Their corner tables
  // meet new vertices in increasing order, so a corner not above the largest so far repeats one.
  bool repeat[6] = {};
  for (int i = 1, most = corners[0]; i < 6; ++i) {
    repeat[i] = corners[i] <= most;
    most = std::max<int>(most, corners[i]);
  }
  for (int i = 1; i < 6; ++i) {
    if (repeat[i]) continue;
    const RVertex& vi = *src[i];
    if (vi.w != v0.w || vi.z != v0.z) return false;
    for (int k = 0; k < kAttrTex; ++k)
      if (vi.attr[k] != v0.attr[k]) return false;
  }
  if (ex_.layout.rhw) {
    for (int i = 0; i < 6; ++i) {
      sx[i] = src[i]->x;
      sy[i] = src[i]->y;
      sz[i] = src[i]->z;
    }
  } else {
    // ToScreen's arithmetic, with the reciprocal of the shared w computed once.
    for (int i = 0; i < 6; ++i)
      if (!repeat[i] && OutCode(*src[i]) != 0) return false;
    const float rhw = 1.f / v0.w;
    const float hw = static_cast<float>(ex_.viewport.Width) * 0.5f;
    const float hh = static_cast<float>(ex_.viewport.Height) * 0.5f;
    const float vx = static_cast<float>(ex_.viewport.X), vy = static_cast<float>(ex_.viewport.Y);
    const float z = ex_.viewport.MinZ + v0.z * rhw * (ex_.viewport.MaxZ - ex_.viewport.MinZ);
    for (int i = 0; i < 6; ++i) {
      sx[i] = vx + (1.f + src[i]->x * rhw) * hw;
      sy[i] = vy + (1.f - src[i]->y * rhw) * hh;
      sz[i] = z;
    }
  }
  int64_t X[6], Y[6];
  for (int i = 0; i < 6; ++i) {
    X[i] = Snap(sx[i]);
    Y[i] = Snap(sy[i]);
  }
  int64_t x0 = *std::min_element(X, X + 6), x1 = *std::max_element(X, X + 6);
  int64_t y0 = *std::min_element(Y, Y + 6), y1 = *std::max_element(Y, Y + 6);
  if (x0 == x1 || y0 == y1) return false;
  // Every vertex must be a corner; each triangle uses three different corners and the two
  // missing corners are opposite, so the triangles tile the rectangle along a diagonal.
  int cornerOf[6];
  for (int i = 0; i < 6; ++i) {
    if ((X[i] != x0 && X[i] != x1) || (Y[i] != y0 && Y[i] != y1)) return false;
    cornerOf[i] = (X[i] == x1 ? 1 : 0) | (Y[i] == y1 ? 2 : 0);
  }
  int missing[2];
  for (int t = 0; t < 2; ++t) {
    int mask = (1 << cornerOf[3 * t]) | (1 << cornerOf[3 * t + 1]) | (1 << cornerOf[3 * t + 2]);
    if (!((0x6880u >> mask) & 1u)) return false;  // three of the four corners: 7, 11, 13, 14
    missing[t] = __builtin_ctz(static_cast<unsigned>(~mask & 15));
    int64_t area = (X[3 * t + 1] - X[3 * t]) * (Y[3 * t + 2] - Y[3 * t]) -
                   (Y[3 * t + 1] - Y[3 * t]) * (X[3 * t + 2] - X[3 * t]);
    if (p.cullMode == D3DCULL_CW && area > 0) return false;
    if (p.cullMode == D3DCULL_CCW && area < 0) return false;
  }
  if ((missing[0] ^ missing[1]) != 3) return false;

  // Texture coordinates: u depends on x only and v on y only, one texel per pixel.
  int px0 = static_cast<int>(std::max<int64_t>(CeilSub(x0), p.clipX0));
  int px1 = static_cast<int>(std::min<int64_t>(CeilSub(x1), p.clipX1));  // exclusive
  int py0 = static_cast<int>(std::max<int64_t>(CeilSub(y0), p.clipY0));
  int py1 = static_cast<int>(std::min<int64_t>(CeilSub(y1), p.clipY1));
  ChooseTextureLevels(sx, sy, src);
  struct Map {
    int set;
    int u0, v0;  // texel under the first covered pixel
    float w, h;
  } maps[kMaxTexSets];
  int nmaps = 0;
  bool setUsed[kMaxTexSets] = {};
  for (int st = 0; st < p.stageCount; ++st)
    if (p.stages[st].texture) {
      if (p.stages[st].view.bits != p.stages[st].texture->levels[0]->store.bits.data())
        return false;
      setUsed[p.stages[st].texSet] = true;
    }
  for (int t = 0; t < kMaxTexSets; ++t) {
    if (!setUsed[t]) continue;
    int w = 0, h = 0;
    for (int st = 0; st < p.stageCount; ++st)
      if (p.stages[st].texture && p.stages[st].texSet == t) {
        int sw = p.stages[st].view.width, sh = p.stages[st].view.height;
        if ((w && sw != w) || (h && sh != h)) return false;
        w = sw;
        h = sh;
      }
    float uAt[2] = {0, 0}, vAt[2] = {0, 0};
    bool seenU[2] = {}, seenV[2] = {};
    for (int i = 0; i < 6; ++i) {
      int cx = X[i] == x1, cy = Y[i] == y1;
      float u = src[i]->attr[kAttrTex + 2 * t], vv = src[i]->attr[kAttrTex + 2 * t + 1];
      if (seenU[cx] && uAt[cx] != u) return false;
      if (seenV[cy] && vAt[cy] != vv) return false;
      uAt[cx] = u;
      vAt[cy] = vv;
      seenU[cx] = seenV[cy] = true;
    }
    float du = (uAt[1] - uAt[0]) * static_cast<float>(w) * kSub / static_cast<float>(x1 - x0);
    float dv = (vAt[1] - vAt[0]) * static_cast<float>(h) * kSub / static_cast<float>(y1 - y0);
    if (std::fabs(du - 1.f) > 1e-4f || std::fabs(dv - 1.f) > 1e-4f) return false;
    float tu = uAt[0] * static_cast<float>(w) +
               (static_cast<float>(px0) - static_cast<float>(x0) / kSub) - 0.5f;
    float tv = vAt[0] * static_cast<float>(h) +
               (static_cast<float>(py0) - static_cast<float>(y0) / kSub) - 0.5f;
    float ru = NearestInteger(tu), rv = NearestInteger(tv);
    if (std::fabs(tu - ru) > 1e-3f || std::fabs(tv - rv) > 1e-3f) return false;
    if (std::fabs(ru) > 1e7f || std::fabs(rv) > 1e7f) return false;
    maps[nmaps++] = Map{t, static_cast<int>(ru), static_cast<int>(rv), static_cast<float>(w),
                        static_cast<float>(h)};
  }
  if (px0 >= px1 || py0 >= py1) return true;

  Fragment frag{};
  for (int i = 0; i < 4; ++i) {
    frag.diffuse[i] = static_cast<int>(v0.attr[kAttrDiffuse + i]);
    frag.specular[i] = static_cast<int>(v0.attr[kAttrSpecular + i]);
  }
  float z = sz[0];
  // Each stage's texel under pixel (px0, py0); sampling at a texel centre returns that texel for
  // point and linear filtering alike.
  int stageU0[8] = {}, stageV0[8] = {};
  for (int st = 0; st < p.stageCount; ++st)
    for (int k = 0; k < nmaps; ++k)
      if (p.stages[st].texture && maps[k].set == p.stages[st].texSet) {
        stageU0[st] = maps[k].u0;
        stageV0[st] = maps[k].v0;
      }
  if (QuadSpriteLoop(frag, stageU0[0], stageV0[0], px0, px1, py0, py1)) return true;
  frag.presampled = true;
  for (int y = py0; y < py1; ++y) {
    for (int x = px0; x < px1; ++x) {
      DepthAccess da;
      if (!DepthTest(p, x, y, z, &da)) continue;
      for (int st = 0; st < p.stageCount; ++st)
        if (p.stages[st].texture)
          frag.texel[st] = Fetch(p.stages[st], stageU0[st] + (x - px0), stageV0[st] + (y - py0));
      uint32_t colour;
      bool ok = ShadeFragment(frag, &colour);
      if (!ok) continue;
      DepthWrite(p, da);
      WriteColour(x, y, colour);
    }
  }
  return true;
}

// The sprite pass's own case: one 32-bit texture modulated by a constant colour, no depth, a
// 32-bit target and opaque or source-alpha blending. The same integer arithmetic as
// ShadeFragment and WriteColour, with the per-fragment dispatch lifted out of the loop. Returns
// false, having drawn nothing, when the state is not that case.
bool Device::QuadSpriteLoop(const Fragment& frag, int u0, int v0, int px0, int px1, int py0,
                            int py1) {
  const PixelState& p = ps_;
  if (p.zTest || !p.color32 || p.blendKind == PixelState::Blend::General ||
      p.shade != PixelState::Shade::TextureModulate || p.stageCount != 1)
    return false;
  const StageState& st = p.stages[0];
  if (!st.texture || !st.view.argb32) return false;
  const int w = px1 - px0, h = py1 - py0;
  // Texels come straight from the rows when the addressed rectangle lies inside the texture.
  const bool inside = u0 >= 0 && v0 >= 0 && u0 + w <= st.view.width && v0 + h <= st.view.height;
  const uint32_t texOr = st.view.xrgb ? 0xFF000000u : 0u;
  const int dr = frag.diffuse[0], dg = frag.diffuse[1], db = frag.diffuse[2], da = frag.diffuse[3];
  const bool white = dr == 255 && dg == 255 && db == 255 && da == 255;
  const int shadeAlpha = p.shadeAlpha;
  const bool alphaTest = p.alphaTest;
  const DWORD alphaFunc = p.alphaFunc;
  const uint32_t alphaRef = static_cast<uint32_t>(p.alphaRef);
  const bool blend = p.blendKind == PixelState::Blend::SrcAlpha;
  const bool x8 = p.colorFormat == D3DFMT_X8R8G8B8;
  const uint32_t dstOr = x8 ? 0xFF000000u : 0u;
  for (int y = 0; y < h; ++y) {
    uint8_t* row =
        p.color + static_cast<size_t>(py0 + y) * p.colorPitch + static_cast<size_t>(px0) * 4;
    const uint8_t* trow = inside ? st.view.bits + static_cast<size_t>(v0 + y) * st.view.pitch +
                                       static_cast<size_t>(u0) * 4
                                 : nullptr;
    for (int x = 0; x < w; ++x) {
      uint32_t t;
      if (inside) {
        std::memcpy(&t, trow + static_cast<size_t>(x) * 4, 4);
        t |= texOr;
      } else {
        t = Fetch(st, u0 + x, v0 + y);
      }
      uint32_t src;
      int a;
      if (white) {
        // Mul255(c, 255) == c for every byte.
        a = static_cast<int>(t >> 24);
        src = t;
        if (shadeAlpha == 2) {
          a = 255;
          src |= 0xFF000000u;
        }
      } else {
        C4 tc = Unpack(t);
        a = shadeAlpha == 0 ? Mul255(tc.a, da) : (shadeAlpha == 1 ? tc.a : da);
        src = Pack(C4{Mul255(tc.r, dr), Mul255(tc.g, dg), Mul255(tc.b, db), a});
      }
      if (alphaTest && !Compare(alphaFunc, static_cast<uint32_t>(a), alphaRef)) continue;
      uint8_t* px = row + static_cast<size_t>(x) * 4;
      uint32_t result = src;
      if (blend) {
        uint32_t dst;
        std::memcpy(&dst, px, 4);
        dst |= dstOr;
        // (c * 255 + 127) / 255 is c: opaque and clear texels need no arithmetic.
        if (a == 255) {
          result = src;
        } else if (a == 0) {
          result = dst;
        } else {
          const int ia = 255 - a;
          result = 0;
          for (int sh = 0; sh < 32; sh += 8) {
            int sc = static_cast<int>((src >> sh) & 255), dc = static_cast<int>((dst >> sh) & 255);
            result |= static_cast<uint32_t>((sc * a + dc * ia + 127) / 255) << sh;
          }
        }
      }
      result |= dstOr;
      std::memcpy(px, &result, 4);
    }
  }
  return true;
}

// --- Lines and points ----------------------------------------------------------------------------

void Device::DrawLine(const RVertex* a0, const RVertex* b0, bool last) {
  RVertex a = *a0, b = *b0;
  // Transformed vertices straight from the vertex stage are clipped in clip space and projected;
  // the screen-space copies that wireframe triangles pass in are already on screen.
  if (!ex_.layout.rhw && (a0 >= scratch_.data() && a0 < scratch_.data() + scratch_.size())) {
    for (int pl = 0; pl < 6; ++pl) {
      float da = PlaneDistance(a, pl), db = PlaneDistance(b, pl);
      if (da < 0 && db < 0) return;
      if (da < 0)
        a = Lerp(a, b, da / (da - db));
      else if (db < 0)
        b = Lerp(a, b, da / (da - db));
    }
    if (!(a.w > 0.f) || !(b.w > 0.f)) return;
    ToScreen(&a);
    ToScreen(&b);
  }
  const PixelState& p = ps_;
  float dx = b.x - a.x, dy = b.y - a.y;
  bool xMajor = std::fabs(dx) >= std::fabs(dy);
  float start = std::clamp(xMajor ? a.x : a.y, -kMaxCoord, kMaxCoord);
  float end = std::clamp(xMajor ? b.x : b.y, -kMaxCoord, kMaxCoord);
  if (!(start == start) || !(end == end)) return;  // NaN
  int i0 = FloorToInt(start + 0.5f), i1 = FloorToInt(end + 0.5f);
  int step = i1 >= i0 ? 1 : -1;
  int count = std::abs(i1 - i0) + (last ? 1 : 0);
  if (count == 0) return;
  float len = end - start;
  for (int k = 0; k < count; ++k) {
    int i = i0 + k * step;
    float t = len != 0.f ? (static_cast<float>(i) - start) / len : 0.f;
    t = std::clamp(t, 0.f, 1.f);
    float minor = xMajor ? a.y + dy * t : a.x + dx * t;
    int j = FloorToInt(minor + 0.5f);
    int x = xMajor ? i : j, y = xMajor ? j : i;
    if (x < p.clipX0 || x >= p.clipX1 || y < p.clipY0 || y >= p.clipY1) continue;
    PlotVertexPixel(Lerp(a, b, t), x, y);
  }
}

// One pixel of a line or point, shaded from its (interpolated) vertex: depth test, shading,
// depth write and colour write.
void Device::PlotVertexPixel(const RVertex& v, int x, int y) {
  const PixelState& p = ps_;
  DepthAccess da;
  if (!DepthTest(p, x, y, v.z, &da)) return;
  Fragment frag{};
  for (int c = 0; c < 4; ++c) {
    frag.diffuse[c] = Clamp255(static_cast<int>(std::lrint(v.attr[kAttrDiffuse + c])));
    frag.specular[c] = Clamp255(static_cast<int>(std::lrint(v.attr[kAttrSpecular + c])));
  }
  for (int s = 0; s < kMaxTexSets; ++s) {
    frag.uv[s][0] = v.attr[kAttrTex + 2 * s];
    frag.uv[s][1] = v.attr[kAttrTex + 2 * s + 1];
  }
  uint32_t colour;
  if (!ShadeFragment(frag, &colour)) return;
  DepthWrite(p, da);
  WriteColour(x, y, colour);
}

void Device::DrawPoint(const RVertex* v0) {
  RVertex v = *v0;
  if (!ex_.layout.rhw && (v0 >= scratch_.data() && v0 < scratch_.data() + scratch_.size())) {
    if (OutCode(v) & 3) return;  // outside near or far
    if (!(v.w > 0.f)) return;
    ToScreen(&v);
  }
  const PixelState& p = ps_;
  int x = FloorToInt(v.x + 0.5f), y = FloorToInt(v.y + 0.5f);
  if (x < p.clipX0 || x >= p.clipX1 || y < p.clipY0 || y >= p.clipY1) return;
  PlotVertexPixel(v, x, y);
}

}  // namespace d3d9
