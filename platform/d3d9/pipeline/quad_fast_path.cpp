// The fast path for axis-aligned rectangles: two triangles with constant colours and depth and
// textures mapped one texel per pixel at texel centres. The pixels the general path would cover
// are filled directly, with the same fragment values; the tests compare both paths pixel for
// pixel.
#include <algorithm>
#include <cmath>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "d3d9/d3d9_texture.h"
#include "d3d9/pipeline/colour_math.h"
#include "d3d9/pipeline/pipeline.h"

namespace d3d9 {

namespace {

// Rounds half to even like std::nearbyint in the default rounding mode, without the library
// call; beyond the int range (or for NaN) it gives a value far from the input, which the callers
// refuse as they refuse any large coordinate.
inline float NearestInteger(float v) {
#if defined(__x86_64__)
  return static_cast<float>(_mm_cvtss_si32(_mm_set_ss(v)));
#else
  return std::nearbyint(v);
#endif
}

constexpr float kGuardBand = 16.f;

inline bool InsideGuardBand(const RVertex& v) {
  const float g = kGuardBand * v.w;
  return v.z >= 0.f && v.w - v.z >= 0.f && g + v.x >= 0.f && g - v.x >= 0.f && g + v.y >= 0.f &&
         g - v.y >= 0.f;
}

}  // namespace

bool Pipeline::TryQuadFastPath(const RVertex* v, const uint16_t* corners) {
  const RasterSetup& rs = raster_.Setup();
  if (rs.fillMode != D3DFILL_SOLID || merger_.Stencil() || merger_.Fog()) return false;
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
  if (assembly_.Pretransformed()) {
    for (int i = 0; i < 6; ++i) {
      sx[i] = src[i]->x;
      sy[i] = src[i]->y;
      sz[i] = src[i]->z;
    }
  } else {
    // ToScreen's arithmetic, with the reciprocal of the shared w computed once.
    for (int i = 0; i < 6; ++i)
      if (!repeat[i] && !InsideGuardBand(*src[i])) return false;
    if (ex_.rs[D3DRS_CLIPPLANEENABLE] && ex_.rs[D3DRS_CLIPPING]) return false;
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
  const int64_t x0 = *std::min_element(X, X + 6), x1 = *std::max_element(X, X + 6);
  const int64_t y0 = *std::min_element(Y, Y + 6), y1 = *std::max_element(Y, Y + 6);
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
    const int mask =
        (1 << cornerOf[3 * t]) | (1 << cornerOf[3 * t + 1]) | (1 << cornerOf[3 * t + 2]);
    if (!((0x6880u >> mask) & 1u)) return false;  // three of the four corners: 7, 11, 13, 14
    missing[t] = __builtin_ctz(static_cast<unsigned>(~mask & 15));
    const int64_t area = (X[3 * t + 1] - X[3 * t]) * (Y[3 * t + 2] - Y[3 * t]) -
                         (Y[3 * t + 1] - Y[3 * t]) * (X[3 * t + 2] - X[3 * t]);
    if (rs.cullMode == D3DCULL_CW && area > 0) return false;
    if (rs.cullMode == D3DCULL_CCW && area < 0) return false;
  }
  if ((missing[0] ^ missing[1]) != 3) return false;

  // Texture coordinates: u depends on x only and v on y only, one texel per pixel.
  const int px0 = static_cast<int>(std::max<int64_t>(CeilSub(x0), rs.clipX0));
  const int px1 = static_cast<int>(std::min<int64_t>(CeilSub(x1), rs.clipX1));  // exclusive
  const int py0 = static_cast<int>(std::max<int64_t>(CeilSub(y0), rs.clipY0));
  const int py1 = static_cast<int>(std::min<int64_t>(CeilSub(y1), rs.clipY1));
  pixel_.ChooseLevels(sx, sy, src);
  const int stages = pixel_.StageCount();
  int u0[kMaxStages] = {}, v0s[kMaxStages] = {};
  for (int st = 0; st < stages; ++st) {
    const StageState& stage = pixel_.Stage(st);
    if (!stage.unit.texture) continue;
    if (stage.unit.cube || stage.projected || stage.unit.level != 0 || stage.unit.level2 >= 0)
      return false;
    const int w = stage.unit.view.width, h = stage.unit.view.height;
    const int slot = kAttrTex + 4 * st;
    float uAt[2] = {0, 0}, vAt[2] = {0, 0};
    bool seenU[2] = {}, seenV[2] = {};
    for (int i = 0; i < 6; ++i) {
      const int cx = X[i] == x1, cy = Y[i] == y1;
      const float u = src[i]->attr[slot], vv = src[i]->attr[slot + 1];
      if (seenU[cx] && uAt[cx] != u) return false;
      if (seenV[cy] && vAt[cy] != vv) return false;
      uAt[cx] = u;
      vAt[cy] = vv;
      seenU[cx] = seenV[cy] = true;
    }
    const float du = (uAt[1] - uAt[0]) * static_cast<float>(w) * kSub / static_cast<float>(x1 - x0);
    const float dv = (vAt[1] - vAt[0]) * static_cast<float>(h) * kSub / static_cast<float>(y1 - y0);
    if (std::fabs(du - 1.f) > 1e-4f || std::fabs(dv - 1.f) > 1e-4f) return false;
    const float tu = uAt[0] * static_cast<float>(w) +
                     (static_cast<float>(px0) - static_cast<float>(x0) / kSub) - 0.5f;
    const float tv = vAt[0] * static_cast<float>(h) +
                     (static_cast<float>(py0) - static_cast<float>(y0) / kSub) - 0.5f;
    const float ru = NearestInteger(tu), rv = NearestInteger(tv);
    if (std::fabs(tu - ru) > 1e-3f || std::fabs(tv - rv) > 1e-3f) return false;
    if (std::fabs(ru) > 1e7f || std::fabs(rv) > 1e7f) return false;
    u0[st] = static_cast<int>(ru);
    v0s[st] = static_cast<int>(rv);
  }
  if (px0 >= px1 || py0 >= py1) return true;

  Fragment frag{};
  for (int i = 0; i < 4; ++i) {
    frag.diffuse[i] = ChannelOf(v0.attr[kAttrDiffuse + i]);
    frag.specular[i] = ChannelOf(v0.attr[kAttrSpecular + i]);
  }
  const float z = sz[0];
  if (QuadSpriteLoop(frag, u0[0], v0s[0], px0, px1, py0, py1)) return true;
  frag.presampled = true;
  for (int y = py0; y < py1; ++y) {
    if (!OwnsRow(stripe_, y)) continue;
    for (int x = px0; x < px1; ++x) {
      DepthAccess da;
      if (!merger_.DepthTest(x, y, z, &da)) continue;
      for (int st = 0; st < stages; ++st)
        if (pixel_.Stage(st).unit.texture)
          frag.texel[st] = Fetch(pixel_.Stage(st).unit, u0[st] + (x - px0), v0s[st] + (y - py0));
      const uint32_t colour = pixel_.ShadeOne(frag);
      if (!merger_.AlphaTest(colour)) continue;
      merger_.DepthWrite(da);
      merger_.WriteColour(x, y, colour);
    }
  }
  return true;
}

// The sprite pass's own case: one 32-bit texture modulated by a constant colour, no depth, a
// 32-bit target and opaque or source-alpha blending. The same integer arithmetic as the pixel
// and output stages, with the per-fragment dispatch lifted out of the loop. Returns false, having
// drawn nothing, when the state is not that case.
bool Pipeline::QuadSpriteLoop(const Fragment& frag, int u0, int v0, int px0, int px1, int py0,
                              int py1) {
  if (merger_.DepthTesting() || !merger_.Target32() ||
      (merger_.BlendKind() != OutputMerger::Blend::None &&
       merger_.BlendKind() != OutputMerger::Blend::SrcAlpha) ||
      pixel_.Shortcut() != PixelProcessor::ShadeKind::TextureModulate || pixel_.StageCount() != 1 ||
      pixel_.SpecularAdd())
    return false;
  const TextureUnit& unit = pixel_.Stage(0).unit;
  if (!unit.texture || !unit.view.argb32) return false;
  const SamplerView& view = unit.view;
  const int w = px1 - px0, h = py1 - py0;
  // Texels come straight from the rows when the addressed rectangle lies inside the texture.
  const bool inside = u0 >= 0 && v0 >= 0 && u0 + w <= view.width && v0 + h <= view.height;
  const uint32_t texOr = view.xrgb ? 0xFF000000u : 0u;
  const int dr = frag.diffuse[0], dg = frag.diffuse[1], db = frag.diffuse[2], da = frag.diffuse[3];
  const bool white = dr == 255 && dg == 255 && db == 255 && da == 255;
  const int shadeAlpha = pixel_.ShortcutAlpha();
  const bool alphaTest = merger_.AlphaTesting();
  const DWORD alphaFunc = merger_.AlphaFunc();
  const uint32_t alphaRef = merger_.AlphaRef();
  const bool blend = merger_.BlendKind() == OutputMerger::Blend::SrcAlpha;
  const bool x8 = merger_.TargetFormat() == D3DFMT_X8R8G8B8;
  const uint32_t dstOr = x8 ? 0xFF000000u : 0u;
  for (int y = 0; y < h; ++y) {
    if (!OwnsRow(stripe_, py0 + y)) continue;
    uint8_t* row = merger_.TargetRow(py0 + y) + static_cast<size_t>(px0) * 4;
    const uint8_t* trow =
        inside ? view.bits + static_cast<size_t>(v0 + y) * view.pitch + static_cast<size_t>(u0) * 4
               : nullptr;
    for (int x = 0; x < w; ++x) {
      uint32_t t;
      if (inside) {
        std::memcpy(&t, trow + static_cast<size_t>(x) * 4, 4);
        t |= texOr;
      } else {
        t = Fetch(unit, u0 + x, v0 + y);
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
        const C4 tc = Unpack(t);
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
            const int sc = static_cast<int>((src >> sh) & 255);
            const int dc = static_cast<int>((dst >> sh) & 255);
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

}  // namespace d3d9
