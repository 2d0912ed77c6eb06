// Vertex and pixel shaders in the pipeline, and their texture reads.
#include "d3d9/pipeline/shader_stage.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "d3d9/d3d9_shader.h"
#include "d3d9/d3d9_texture.h"
#include "d3d9/pipeline/lanes8.h"

namespace d3d9 {

namespace {

using vexa::kShaderLanes;

// The varying a colour or texture-coordinate semantic always takes; -1 for other semantics.
int FixedVarying(int usage, int index) {
  if (usage == D3DDECLUSAGE_COLOR && index < 2) return index;
  if (usage == D3DDECLUSAGE_TEXCOORD && index < kTexSlots) return 2 + index;
  return -1;
}

int ComponentsOf(uint8_t mask) {
  return mask & 8 ? 4 : mask & 4 ? 3 : mask & 2 ? 2 : 1;
}

float Saturate(float v) {
  return v > 0.f ? (v < 1.f ? v : 1.f) : 0.f;  // NaN becomes 0
}

uint32_t ToArgb(float r, float g, float b, float a) {
  auto byte = [](float v) { return static_cast<uint32_t>(Saturate(v) * 255.f + 0.5f); };
  return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

float BitsToFloat(DWORD d) {
  float f;
  std::memcpy(&f, &d, 4);
  return f;
}

}  // namespace

// --- Linkage -------------------------------------------------------------------------------------

void ShaderLinkage::Link(const VertexShader* vs, const PixelShader* ps, int fixedStages,
                         bool fixedReadsSpecular, const uint8_t* fixedCoordinates) {
  *this = ShaderLinkage{};
  // Semantics without a fixed varying, and the varying each was given.
  struct Extra {
    uint8_t usage, index, varying;
  } extra[kVaryings];
  int extraCount = 0;
  auto varyingOf = [&](int usage, int index) {
    const int fixed = FixedVarying(usage, index);
    if (fixed >= 0) return fixed;
    for (int i = 0; i < extraCount; ++i)
      if (extra[i].usage == usage && extra[i].index == index) return int{extra[i].varying};
    return -1;
  };
  if (ps) {
    const auto& inputs = ps->Program().inputs();
    uint16_t taken = 0;
    for (const vexa::ShaderSemantic& in : inputs) {
      const int fixed = FixedVarying(in.usage, in.usage_index);
      if (fixed >= 0) taken = static_cast<uint16_t>(taken | (1u << fixed));
    }
    for (const vexa::ShaderSemantic& in : inputs) {
      int v = varyingOf(in.usage, in.usage_index);
      if (v < 0) {
        // The highest free varying, so that colours and low coordinates stay where they are.
        for (int k = kVaryings - 1; k >= 0 && v < 0; --k)
          if (!(taken & (1u << k))) v = k;
        if (v < 0 || extraCount == kVaryings) continue;  // more inputs than varyings: reads 0
        taken = static_cast<uint16_t>(taken | (1u << v));
        extra[extraCount++] = {in.usage, in.usage_index, static_cast<uint8_t>(v)};
      }
      if (pixelInCount == vexa::kPixelInputSlots) break;
      pixelIn[pixelInCount++] = {in.slot, static_cast<uint8_t>(v), in.mask,
                                 in.usage == D3DDECLUSAGE_COLOR};
      varyings = static_cast<uint16_t>(varyings | (1u << v));
      components[v] = static_cast<uint8_t>(std::max<int>(components[v], ComponentsOf(in.mask)));
    }
  } else {
    varyings = 1;
    components[0] = 4;
    if (fixedReadsSpecular) {
      varyings |= 2;
      components[1] = 4;
    }
    for (int s = 0; s < fixedStages && s < kTexSlots; ++s)
      if (fixedCoordinates[s]) {
        varyings = static_cast<uint16_t>(varyings | (1u << (2 + s)));
        components[2 + s] = fixedCoordinates[s];
      }
  }
  if (!vs) return;
  for (const vexa::ShaderSemantic& out : vs->Program().outputs()) {
    if (out.usage == D3DDECLUSAGE_POSITION && out.usage_index == 0) {
      positionSlot = out.slot;
      continue;
    }
    if (out.usage == D3DDECLUSAGE_FOG) {
      fogSlot = out.slot;
      continue;
    }
    if (out.usage == D3DDECLUSAGE_PSIZE) {
      pointSizeSlot = out.slot;
      continue;
    }
    const int v = varyingOf(out.usage, out.usage_index);
    if (v < 0 || !(varyings & (1u << v))) continue;
    if (vertexOutCount == static_cast<int>(std::size(vertexOut))) break;
    vertexOut[vertexOutCount++] = {out.slot, static_cast<uint8_t>(v), out.mask,
                                   out.usage == D3DDECLUSAGE_COLOR};
  }
}

// --- Texture reads -------------------------------------------------------------------------------

namespace {

bool HasAvx2() {
#if VEXA_LANES8
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

}  // namespace

void ShaderTextureSampler::Configure(const DeviceState& s, bool fast) {
  for (int i = 0; i < kSamplerSlots; ++i) {
    Unit& u = units_[i];
    u = Unit{};
    IDirect3DBaseTexture9* t = s.textures[i];
    u.texture = t ? AsTextureImage(t) : nullptr;
    if (!u.texture || u.texture->LevelCount() == 0) {
      u.texture = nullptr;
      continue;
    }
    const DWORD* sm = s.samp[i];
    u.levels = static_cast<int>(std::min<UINT>(u.texture->LevelCount(), 16));
    u.firstLevel = static_cast<int>(std::min<DWORD>(sm[D3DSAMP_MAXMIPLEVEL], u.levels - 1));
    u.address[0] = sm[D3DSAMP_ADDRESSU];
    u.address[1] = sm[D3DSAMP_ADDRESSV];
    u.address[2] = sm[D3DSAMP_ADDRESSW];
    const D3DCOLOR b = sm[D3DSAMP_BORDERCOLOR];
    u.border[0] = ((b >> 16) & 255) / 255.f;
    u.border[1] = ((b >> 8) & 255) / 255.f;
    u.border[2] = (b & 255) / 255.f;
    u.border[3] = (b >> 24) / 255.f;
    u.magFilter = sm[D3DSAMP_MAGFILTER];
    u.minFilter = sm[D3DSAMP_MINFILTER];
    u.mipFilter = sm[D3DSAMP_MIPFILTER];
    u.lodBias = BitsToFloat(sm[D3DSAMP_MIPMAPLODBIAS]);
    if (!std::isfinite(u.lodBias)) u.lodBias = 0.f;
    for (int l = 0; l < u.levels; ++l) u.views[l] = ViewOf(u.texture, 0, l);
    u.lodMatters = (u.mipFilter != D3DTEXF_NONE && u.levels > 1) ||
                   (u.magFilter >= D3DTEXF_LINEAR) != (u.minFilter >= D3DTEXF_LINEAR);
    u.packed = !u.texture->IsCube();
    u.wide = u.packed && fast && HasAvx2();
    for (int l = 0; l < u.levels && u.packed; ++l) {
      const SamplerView& view = u.views[l];
      // Gathers address a level with 32-bit byte offsets.
      u.wide = u.wide && static_cast<int64_t>(view.pitch) * view.height <= INT32_MAX;
      const bool pow2 =
          (view.width & (view.width - 1)) == 0 && (view.height & (view.height - 1)) == 0;
      u.packed = (view.argb32 || view.format == D3DFMT_R32F) && view.width > 0 && view.height > 0;
      for (int a = 0; a < 2; ++a)
        u.packed = u.packed && (u.address[a] == D3DTADDRESS_CLAMP ||
                                (u.address[a] == D3DTADDRESS_WRAP && pow2));
    }
  }
}

namespace {

void Texel(const SamplerView& view, const float border[4], int x, int y, float out[4]) {
  if (x < 0 || y < 0) {
    std::memcpy(out, border, 4 * sizeof(float));
    return;
  }
  const uint8_t* p = view.bits + static_cast<size_t>(y) * static_cast<size_t>(view.pitch);
  if (view.argb32) {
    const uint8_t* c = p + static_cast<size_t>(x) * 4;
    constexpr float k = 1.f / 255.f;
    out[0] = c[2] * k;
    out[1] = c[1] * k;
    out[2] = c[0] * k;
    out[3] = view.xrgb ? 1.f : c[3] * k;
    return;
  }
  ReadPixelFloat4(view.format, p + static_cast<size_t>(x) * FormatBytesPerPixel(view.format), out);
}

// One level, point or bilinear, at normalised coordinates.
void Filter(const SamplerView& view, const float border[4], DWORD au, DWORD av, float u, float v,
            bool linear, float out[4]) {
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  if (!linear) {
    Texel(view, border, Address(FloorToInt(fu), view.width, au),
          Address(FloorToInt(fv), view.height, av), out);
    return;
  }
  fu -= 0.5f;
  fv -= 0.5f;
  const int x0 = FloorToInt(fu), y0 = FloorToInt(fv);
  const float wx = fu - static_cast<float>(x0), wy = fv - static_cast<float>(y0);
  const int xa = Address(x0, view.width, au), xb = Address(x0 + 1, view.width, au);
  const int ya = Address(y0, view.height, av), yb = Address(y0 + 1, view.height, av);
  float c00[4], c10[4], c01[4], c11[4];
  Texel(view, border, xa, ya, c00);
  Texel(view, border, xb, ya, c10);
  Texel(view, border, xa, yb, c01);
  Texel(view, border, xb, yb, c11);
  for (int k = 0; k < 4; ++k) {
    const float top = c00[k] + (c10[k] - c00[k]) * wx;
    const float bottom = c01[k] + (c11[k] - c01[k]) * wx;
    out[k] = top + (bottom - top) * wy;
  }
}

// The cube face a direction points at, and the coordinates on it (Direct3D's layout).
int CubeFace(float x, float y, float z, float* u, float* v) {
  const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  int face;
  float sc, tc, ma;
  if (ax >= ay && ax >= az) {
    face = x >= 0.f ? 0 : 1;
    ma = ax;
    sc = x >= 0.f ? -z : z;
    tc = -y;
  } else if (ay >= az) {
    face = y >= 0.f ? 2 : 3;
    ma = ay;
    sc = x;
    tc = y >= 0.f ? z : -z;
  } else {
    face = z >= 0.f ? 4 : 5;
    ma = az;
    sc = z >= 0.f ? x : -x;
    tc = -y;
  }
  if (!(ma > 0.f)) {
    *u = *v = 0.5f;
    return face;
  }
  *u = 0.5f * (sc / ma + 1.f);
  *v = 0.5f * (tc / ma + 1.f);
  return face;
}

// log2 of the larger footprint of the two screen directions, in texels.
float LodOf(float dudx, float dvdx, float dudy, float dvdy) {
  const float rho2 = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
  if (!(rho2 > 0.f)) return -100.f;  // no footprint (or NaN): magnified
  return 0.5f * std::log2(rho2);
}

}  // namespace

namespace {

// Four lanes at once: the same arithmetic as Filter and Texel, in SSE2.
inline __m128 Floor4(__m128 f) {
  const __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(f));
  return _mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, f), _mm_set1_ps(1.f)));
}

// Coordinates past +-1e7 texels (and NaN) read texel 0, as in Filter.
inline __m128 Tame4(__m128 f) {
  const __m128 magnitude = _mm_and_ps(f, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
  return _mm_and_ps(f, _mm_cmplt_ps(magnitude, _mm_set1_ps(1e7f)));
}

inline __m128i Address4(__m128i i, int n, DWORD mode) {
  const __m128i last = _mm_set1_epi32(n - 1);
  if (mode == D3DTADDRESS_WRAP) return _mm_and_si128(i, last);  // power-of-two sizes only
  i = _mm_and_si128(i, _mm_cmpgt_epi32(i, _mm_setzero_si128()));
  const __m128i over = _mm_cmpgt_epi32(i, last);
  return _mm_or_si128(_mm_andnot_si128(over, i), _mm_and_si128(over, last));
}

// The texels at (x, y) of four lanes as channel vectors.
inline void Texel4(const SamplerView& view, __m128i x, __m128i y, uint8_t channels, __m128 out[4]) {
  alignas(16) int32_t xs[4], ys[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(xs), x);
  _mm_store_si128(reinterpret_cast<__m128i*>(ys), y);
  auto at = [&](int k) {
    uint32_t texel;
    std::memcpy(&texel,
                view.bits + static_cast<size_t>(ys[k]) * static_cast<size_t>(view.pitch) +
                    static_cast<size_t>(xs[k]) * 4,
                4);
    return static_cast<int>(texel);
  };
  // Built in registers: four 32-bit stores read back as one vector would stall the load.
  const __m128i c = _mm_setr_epi32(at(0), at(1), at(2), at(3));
  const __m128 one = _mm_set1_ps(1.f);
  if (!view.argb32) {  // R32F
    out[0] = _mm_castsi128_ps(c);
    out[1] = out[2] = out[3] = one;
    return;
  }
  const __m128 k = _mm_set1_ps(1.f / 255.f);
  const __m128i byte = _mm_set1_epi32(255);
  auto channel = [&](int shift) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(c, shift), byte)), k);
  };
  if (channels & 1) out[0] = channel(16);
  if (channels & 2) out[1] = channel(8);
  if (channels & 4) out[2] = channel(0);
  if (channels & 8) out[3] = view.xrgb ? one : channel(24);
}

inline __m128 Lerp4(__m128 a, __m128 b, __m128 t) {
  return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), t));
}

void Filter4(const SamplerView& view, const DWORD address[2], __m128 u, __m128 v, bool linear,
             uint8_t channels, __m128 out[4]) {
  __m128 fu = Tame4(_mm_mul_ps(u, _mm_set1_ps(static_cast<float>(view.width))));
  __m128 fv = Tame4(_mm_mul_ps(v, _mm_set1_ps(static_cast<float>(view.height))));
  if (!linear) {
    Texel4(view, Address4(_mm_cvttps_epi32(Floor4(fu)), view.width, address[0]),
           Address4(_mm_cvttps_epi32(Floor4(fv)), view.height, address[1]), channels, out);
    return;
  }
  const __m128 half = _mm_set1_ps(0.5f);
  fu = _mm_sub_ps(fu, half);
  fv = _mm_sub_ps(fv, half);
  const __m128 x0f = Floor4(fu), y0f = Floor4(fv);
  const __m128 wx = _mm_sub_ps(fu, x0f), wy = _mm_sub_ps(fv, y0f);
  const __m128i x0 = _mm_cvttps_epi32(x0f), y0 = _mm_cvttps_epi32(y0f);
  const __m128i step = _mm_set1_epi32(1);
  const __m128i xa = Address4(x0, view.width, address[0]);
  const __m128i xb = Address4(_mm_add_epi32(x0, step), view.width, address[0]);
  const __m128i ya = Address4(y0, view.height, address[1]);
  const __m128i yb = Address4(_mm_add_epi32(y0, step), view.height, address[1]);
  __m128 c00[4], c10[4], c01[4], c11[4];
  Texel4(view, xa, ya, channels, c00);
  Texel4(view, xb, ya, channels, c10);
  Texel4(view, xa, yb, channels, c01);
  Texel4(view, xb, yb, channels, c11);
  for (int ch = 0; ch < 4; ++ch) {
    if (!(channels & (1u << ch))) continue;
    out[ch] = Lerp4(Lerp4(c00[ch], c10[ch], wx), Lerp4(c01[ch], c11[ch], wx), wy);
  }
}

}  // namespace

#if VEXA_LANES8
namespace {

// Eight lanes (two quads) at once with AVX2: the four-lane arithmetic above, operation for
// operation (no fused multiply-adds), with the texels fetched by gathers.
VEXA_AVX2 inline __m256 Floor8(__m256 f) {
  const __m256 t = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(f));
  return _mm256_sub_ps(t, _mm256_and_ps(_mm256_cmp_ps(t, f, _CMP_GT_OS), _mm256_set1_ps(1.f)));
}

VEXA_AVX2 inline __m256 Channel8(__m256i c, int shift, __m256 scale) {
  return _mm256_mul_ps(_mm256_cvtepi32_ps(lanes8::Byte(c, shift)), scale);
}

VEXA_AVX2 inline void Texel8(const SamplerView& view, __m256i x, __m256i y, uint8_t channels,
                             __m256 out[4]) {
  // Byte offsets fit 32 bits: the unit is wide only when every level's size does.
  const __m256i c = lanes8::Gather(view, x, y);
  const __m256 one = _mm256_set1_ps(1.f);
  if (!view.argb32) {  // R32F
    out[0] = _mm256_castsi256_ps(c);
    out[1] = out[2] = out[3] = one;
    return;
  }
  const __m256 k = _mm256_set1_ps(1.f / 255.f);
  if (channels & 1) out[0] = Channel8(c, 16, k);
  if (channels & 2) out[1] = Channel8(c, 8, k);
  if (channels & 4) out[2] = Channel8(c, 0, k);
  if (channels & 8) out[3] = view.xrgb ? one : Channel8(c, 24, k);
}

VEXA_AVX2 inline __m256 Lerp8(__m256 a, __m256 b, __m256 t) {
  return _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), t));
}

// Inlined: a call per eight lanes costs about as much as a point read itself.
VEXA_AVX2 inline __attribute__((always_inline)) void Filter8(const SamplerView& view,
                                                             const DWORD address[2], __m256 u,
                                                             __m256 v, bool linear,
                                                             uint8_t channels, __m256 out[4]) {
  __m256 fu = lanes8::Tame(_mm256_mul_ps(u, _mm256_set1_ps(static_cast<float>(view.width))));
  __m256 fv = lanes8::Tame(_mm256_mul_ps(v, _mm256_set1_ps(static_cast<float>(view.height))));
  if (!linear) {
    Texel8(view,
           lanes8::Address(_mm256_cvttps_epi32(Floor8(fu)), view.width,
                           address[0] == D3DTADDRESS_WRAP),
           lanes8::Address(_mm256_cvttps_epi32(Floor8(fv)), view.height,
                           address[1] == D3DTADDRESS_WRAP),
           channels, out);
    return;
  }
  const __m256 half = _mm256_set1_ps(0.5f);
  fu = _mm256_sub_ps(fu, half);
  fv = _mm256_sub_ps(fv, half);
  const __m256 x0f = Floor8(fu), y0f = Floor8(fv);
  const __m256 wx = _mm256_sub_ps(fu, x0f), wy = _mm256_sub_ps(fv, y0f);
  const __m256i x0 = _mm256_cvttps_epi32(x0f), y0 = _mm256_cvttps_epi32(y0f);
  const __m256i step = _mm256_set1_epi32(1);
  const bool wrapU = address[0] == D3DTADDRESS_WRAP, wrapV = address[1] == D3DTADDRESS_WRAP;
  const __m256i xa = lanes8::Address(x0, view.width, wrapU);
  const __m256i xb = lanes8::Address(_mm256_add_epi32(x0, step), view.width, wrapU);
  const __m256i ya = lanes8::Address(y0, view.height, wrapV);
  const __m256i yb = lanes8::Address(_mm256_add_epi32(y0, step), view.height, wrapV);
  __m256 c00[4], c10[4], c01[4], c11[4];
  Texel8(view, xa, ya, channels, c00);
  Texel8(view, xb, ya, channels, c10);
  Texel8(view, xa, yb, channels, c01);
  Texel8(view, xb, yb, channels, c11);
  for (int ch = 0; ch < 4; ++ch) {
    if (!(channels & (1u << ch))) continue;
    out[ch] = Lerp8(Lerp8(c00[ch], c10[ch], wx), Lerp8(c01[ch], c11[ch], wx), wy);
  }
}

}  // namespace

VEXA_AVX2 void ShaderTextureSampler::SamplePair(const Unit& unit, const vexa::SampleRequest& r,
                                                int l0, const Choice& c, const Choice* choices,
                                                float* rgba) {
  const uint8_t channels = r.components & 0xF;
  const __m256 u = _mm256_loadu_ps(r.u + l0);
  const __m256 v = r.v ? _mm256_loadu_ps(r.v + l0) : _mm256_setzero_ps();
  __m256 out[4];
  Filter8(unit.views[c.level], unit.address, u, v, c.linear, channels, out);
  if (c.level2 >= 0) {
    __m256 next[4];
    Filter8(unit.views[c.level2], unit.address, u, v, c.linear, channels, next);
    alignas(32) float blend[8];
    for (int k = 0; k < 8; ++k) blend[k] = choices[k].blend;
    const __m256 t = _mm256_load_ps(blend);
    for (int ch = 0; ch < 4; ++ch)
      if (channels & (1u << ch)) out[ch] = Lerp8(out[ch], next[ch], t);
  }
  for (int ch = 0; ch < 4; ++ch)
    if (channels & (1u << ch)) _mm256_storeu_ps(rgba + ch * kShaderLanes + l0, out[ch]);
}
#endif

void ShaderTextureSampler::SampleQuad(const Unit& unit, const vexa::SampleRequest& r, int l0,
                                      const Choice& c, const Choice* choices, float* rgba) {
  const uint8_t channels = r.components & 0xF;
  const __m128 u = _mm_loadu_ps(r.u + l0);
  const __m128 v = r.v ? _mm_loadu_ps(r.v + l0) : _mm_setzero_ps();
  __m128 out[4];
  Filter4(unit.views[c.level], unit.address, u, v, c.linear, channels, out);
  if (c.level2 >= 0) {
    __m128 next[4];
    Filter4(unit.views[c.level2], unit.address, u, v, c.linear, channels, next);
    const __m128 blend =
        _mm_setr_ps(choices[0].blend, choices[1].blend, choices[2].blend, choices[3].blend);
    for (int ch = 0; ch < 4; ++ch)
      if (channels & (1u << ch)) out[ch] = Lerp4(out[ch], next[ch], blend);
  }
  for (int ch = 0; ch < 4; ++ch)
    if (channels & (1u << ch)) _mm_storeu_ps(rgba + ch * kShaderLanes + l0, out[ch]);
}

ShaderTextureSampler::Choice ShaderTextureSampler::Choose(const Unit& unit, float lod) {
  Choice c;
  const bool magnified = !(lod > 0.f);
  c.linear = (magnified ? unit.magFilter : unit.minFilter) >= D3DTEXF_LINEAR;
  c.level = unit.firstLevel;
  if (!magnified && unit.mipFilter != D3DTEXF_NONE && unit.levels > 1) {
    const float l = std::min(lod, 15.f);
    if (unit.mipFilter == D3DTEXF_POINT) {
      c.level += static_cast<int>(l + 0.5f);
    } else {
      const int whole = static_cast<int>(l);
      c.level += whole;
      c.blend = l - static_cast<float>(whole);
      if (c.blend > 0.f) c.level2 = c.level + 1;
    }
    if (c.level >= unit.levels) c.level = unit.levels - 1;
    if (c.level2 >= unit.levels) c.level2 = -1;
  }
  return c;
}

void ShaderTextureSampler::SampleLane(const Unit& unit, const vexa::SampleRequest& r, int lane,
                                      const Choice& choice, float out[4]) const {
  const bool cube = unit.texture->IsCube() || r.type == D3DSTT_CUBE;
  const bool linear = choice.linear;
  const int level = choice.level, level2 = choice.level2;
  const float blend = choice.blend;
  float u = r.u[lane], v = r.v ? r.v[lane] : 0.f;
  int face = 0;
  DWORD au = unit.address[0], av = unit.address[1];
  if (cube && r.w) {
    face = CubeFace(u, v, r.w[lane], &u, &v);
    au = av = D3DTADDRESS_CLAMP;  // faces meet at their edges
  }
  const SamplerView first = face == 0 ? unit.views[level] : ViewOf(unit.texture, face, level);
  Filter(first, unit.border, au, av, u, v, linear, out);
  if (level2 < 0) return;
  const SamplerView second = face == 0 ? unit.views[level2] : ViewOf(unit.texture, face, level2);
  float next[4];
  Filter(second, unit.border, au, av, u, v, linear, next);
  for (int k = 0; k < 4; ++k) out[k] += (next[k] - out[k]) * blend;
}

void ShaderTextureSampler::Sample(const vexa::SampleRequest& r, float* rgba) {
  const int slot =
      r.stage == vexa::ShaderType::kVertex ? kVertexSamplerSlot + r.sampler : r.sampler;
  const Unit* unit = slot >= 0 && slot < kSamplerSlots && r.u ? &units_[slot] : nullptr;
  if (!unit || !unit->texture) {
    // No texture: opaque black.
    for (int lane = 0; lane < kShaderLanes; ++lane) {
      rgba[lane] = rgba[kShaderLanes + lane] = rgba[2 * kShaderLanes + lane] = 0.f;
      rgba[3 * kShaderLanes + lane] = 1.f;
    }
    return;
  }
  const bool cube = unit->texture->IsCube() || r.type == D3DSTT_CUBE;
  const SamplerView& top = unit->views[unit->firstLevel];
  const float width = static_cast<float>(top.width), height = static_cast<float>(top.height);
  if (unit->packed && !cube && !unit->lodMatters) {
    // One level and one filter whatever the footprint (a shadow map, say): no level of detail.
    const Choice c = Choose(*unit, 0.f);
    for (int q = 0; q < kShaderLanes / 4; ++q) {
#if VEXA_LANES8
      if (unit->wide && (q & 1) == 0 && ((r.active >> (4 * q)) & 0xFF)) {
        SamplePair(*unit, r, 4 * q, c, nullptr, rgba);
        ++q;
        continue;
      }
#endif
      if ((r.active >> (4 * q)) & 0xF) SampleQuad(*unit, r, 4 * q, c, nullptr, rgba);
    }
    return;
  }
  Choice choices[kShaderLanes];
  // Per quad: -1 unused, 4 lane by lane, else the lead lane whose levels the whole quad takes.
  int lead[kShaderLanes / 4];
  for (int q = 0; q < kShaderLanes / 4; ++q)
    lead[q] = PlanQuad(*unit, r, 4 * q, cube, width, height, choices + 4 * q);
  for (int q = 0; q < kShaderLanes / 4; ++q) {
    const int l0 = 4 * q;
    if (lead[q] < 0) continue;
    if (lead[q] < 4) {
#if VEXA_LANES8
      // Two neighbouring quads on the same levels go eight lanes at a time.
      if (unit->wide && (q & 1) == 0 && lead[q + 1] >= 0 && lead[q + 1] < 4 &&
          choices[l0 + lead[q]].SameLevels(choices[l0 + 4 + lead[q + 1]])) {
        SamplePair(*unit, r, l0, choices[l0 + lead[q]], choices + l0, rgba);
        ++q;
        continue;
      }
#endif
      SampleQuad(*unit, r, l0, choices[l0 + lead[q]], choices + l0, rgba);
      continue;
    }
    for (int k = 0; k < 4; ++k) {
      if (!((r.active >> (l0 + k)) & 1u)) continue;
      float c[4];
      SampleLane(*unit, r, l0 + k, choices[l0 + k], c);
      for (int ch = 0; ch < 4; ++ch) rgba[ch * kShaderLanes + l0 + k] = c[ch];
    }
  }
}

int ShaderTextureSampler::PlanQuad(const Unit& unit, const vexa::SampleRequest& r, int l0,
                                   bool cube, float width, float height, Choice* choices) {
  const uint32_t quadLanes = (r.active >> l0) & 0xF;
  if (!quadLanes) return -1;
  // The quad's footprint: differences to the right and downward neighbours.
  float quadLod = 0.f;
  if (r.mode == vexa::SampleMode::kImplicit || r.mode == vexa::SampleMode::kBias) {
    if (r.stage == vexa::ShaderType::kVertex) {
      quadLod = 0.f;
    } else if (cube && r.w) {
      // Neighbours on another face give no usable difference: the top level then.
      float u[3], v[3];
      int faces[3];
      for (int k = 0; k < 3; ++k)
        faces[k] = CubeFace(r.u[l0 + k], r.v[l0 + k], r.w[l0 + k], &u[k], &v[k]);
      if (faces[1] == faces[0] && faces[2] == faces[0])
        quadLod = LodOf((u[1] - u[0]) * width, (v[1] - v[0]) * height, (u[2] - u[0]) * width,
                        (v[2] - v[0]) * height);
    } else {
      const float* v = r.v;
      const float dudx = (r.u[l0 + 1] - r.u[l0]) * width;
      const float dudy = (r.u[l0 + 2] - r.u[l0]) * width;
      const float dvdx = v ? (v[l0 + 1] - v[l0]) * height : 0.f;
      const float dvdy = v ? (v[l0 + 2] - v[l0]) * height : 0.f;
      quadLod = LodOf(dudx, dvdx, dudy, dvdy);
    }
  }
  if (r.mode == vexa::SampleMode::kImplicit) {
    // The lanes of a quad share its footprint.
    float lod = quadLod + unit.lodBias;
    if (!std::isfinite(lod)) lod = 0.f;
    choices[0] = Choose(unit, lod);
    choices[1] = choices[2] = choices[3] = choices[0];
  }
  for (int k = 0; k < 4 && r.mode != vexa::SampleMode::kImplicit; ++k) {
    const int lane = l0 + k;
    float lod = quadLod;
    switch (r.mode) {
      case vexa::SampleMode::kBias:
        lod += r.lod ? r.lod[lane] : 0.f;
        break;
      case vexa::SampleMode::kLod:
        lod = r.lod ? r.lod[lane] : 0.f;
        break;
      case vexa::SampleMode::kGrad: {
        const float dudx = r.ddx[0] ? r.ddx[0][lane] * width : 0.f;
        const float dvdx = r.ddx[1] ? r.ddx[1][lane] * height : 0.f;
        const float dudy = r.ddy[0] ? r.ddy[0][lane] * width : 0.f;
        const float dvdy = r.ddy[1] ? r.ddy[1][lane] * height : 0.f;
        lod = LodOf(dudx, dvdx, dudy, dvdy);
        break;
      }
      default:
        break;
    }
    lod += unit.lodBias;
    if (!std::isfinite(lod)) lod = 0.f;
    choices[k] = Choose(unit, lod);
  }
  // The quad's used lanes on one level pair with one filter (always so for implicit
  // derivatives) go four at a time; the rest lane by lane.
  int lead = 0;
  while (!(quadLanes & (1u << lead))) ++lead;
  bool together = unit.packed && !cube;
  for (int k = 0; k < 4 && together; ++k)
    together = !(quadLanes & (1u << k)) || choices[k].SameLevels(choices[lead]);
  return together ? lead : 4;
}

// --- Vertex shaders ------------------------------------------------------------------------------

VertexShaderStage::VertexShaderStage() : executor_(std::make_unique<vexa::ShaderExecutor>()) {}

void VertexShaderStage::Configure(const DeviceState& s, const ShaderLinkage& link, bool fixedPixels,
                                  ShaderTextureSampler* sampler) {
  const vexa::ShaderProgram& program = s.vertexShader->Program();
  vexa::ShaderConstants constants;
  constants.f = &s.constants.vsF[0][0];
  constants.f_count = kVertexFloatConstants;
  constants.i = &s.constants.vsI[0][0];
  constants.b = s.constants.vsB;
  executor_->Bind(program, constants, sampler);
  link_ = &link;
  fixedPixels_ = fixedPixels;
  clampColours_ = s.vertexShader->Major() < 3;
  inputCount_ = 0;
  for (const vexa::ShaderSemantic& in : program.inputs()) {
    if (inputCount_ == vexa::kVertexInputRegisters) break;
    inputs_[inputCount_++] = {in.slot, s.layout.Find(in.usage, in.usage_index)};
  }
  pointSize_ = BitsToFloat(s.rs[D3DRS_POINTSIZE]);
  pointMin_ = BitsToFloat(s.rs[D3DRS_POINTSIZE_MIN]);
  pointMax_ = std::min(BitsToFloat(s.rs[D3DRS_POINTSIZE_MAX]), kMaxPointSize);
}

void VertexShaderStage::Process(const VertexSource& src, UINT count, bool points, RVertex* out) {
  const ShaderLinkage& link = *link_;
  vexa::VertexBatch& batch = executor_->vertices();
  for (UINT base = 0; base < count; base += kShaderLanes) {
    const int n = static_cast<int>(std::min<UINT>(kShaderLanes, count - base));
    for (int i = 0; i < inputCount_; ++i) {
      const Input& in = inputs_[i];
      vexa::ShaderVec4& reg = batch.input[in.slot];
      if (!in.element.present() || !src.base[in.element.stream]) {
        for (int lane = 0; lane < n; ++lane) {
          reg.c[0].v[lane] = reg.c[1].v[lane] = reg.c[2].v[lane] = 0.f;
          reg.c[3].v[lane] = 1.f;
        }
        continue;
      }
      const uint8_t* p = src.base[in.element.stream] + in.element.offset +
                         static_cast<size_t>(base) * src.stride[in.element.stream];
      const UINT stride = src.stride[in.element.stream];
      for (int lane = 0; lane < n; ++lane, p += stride) {
        float value[4];
        ReadElement(in.element.type, p, value);
        for (int k = 0; k < 4; ++k) reg.c[k].v[lane] = value[k];
      }
    }
    const bool ran = executor_->RunVertices(n);
    for (int lane = 0; lane < n; ++lane) {
      RVertex& v = out[base + lane];
      if (!ran || link.positionSlot < 0) {
        // A run that never finished, or a shader without a position: outside every plane.
        v.x = v.y = v.z = 0.f;
        v.w = -1.f;
      } else {
        const vexa::ShaderVec4& pos = batch.output[link.positionSlot];
        v.x = pos.c[0].v[lane];
        v.y = pos.c[1].v[lane];
        v.z = pos.c[2].v[lane];
        v.w = pos.c[3].v[lane];
      }
      for (int k = 0; k < kAttrCount; ++k) v.attr[k] = (k & 3) == 3 ? 1.f : 0.f;
      for (int r = 0; r < link.vertexOutCount; ++r) {
        const ShaderLinkage::Route& route = link.vertexOut[r];
        const vexa::ShaderVec4& o = batch.output[route.slot];
        float* dst = &v.attr[4 * route.varying];
        for (int k = 0; k < 4; ++k) {
          if (!(route.mask & (1u << k))) continue;
          float value = o.c[k].v[lane];
          if (route.colour && (clampColours_ || fixedPixels_)) value = Saturate(value);
          if (route.colour && fixedPixels_) value = std::nearbyint(value * 255.f);
          dst[k] = value;
        }
      }
      v.attr[kAttrFog] =
          link.fogSlot >= 0 ? Saturate(batch.output[link.fogSlot].c[0].v[lane]) : 1.f;
      if (points) {
        const float size =
            link.pointSizeSlot >= 0 ? batch.output[link.pointSizeSlot].c[0].v[lane] : pointSize_;
        v.psize = std::clamp(std::isfinite(size) ? size : 1.f, std::max(pointMin_, 0.f),
                             std::max(pointMax_, 0.f));
      } else {
        v.psize = 1.f;
      }
    }
  }
}

// --- Pixel shaders -------------------------------------------------------------------------------

PixelShaderStage::PixelShaderStage() : executor_(std::make_unique<vexa::ShaderExecutor>()) {}

void PixelShaderStage::Configure(const DeviceState& s, const ShaderLinkage& link,
                                 bool fixedVertices, ShaderTextureSampler* sampler) {
  const vexa::ShaderProgram& program = s.pixelShader->Program();
  vexa::ShaderConstants constants;
  constants.f = &s.constants.psF[0][0];
  constants.f_count = kPixelFloatConstants;
  constants.i = &s.constants.psI[0][0];
  constants.b = s.constants.psB;
  executor_->Bind(program, constants, sampler);
  link_ = &link;
  fixedVertices_ = fixedVertices;
  writesDepth_ = program.writes_depth();
  mayKill_ = program.may_kill();
  usesFace_ = program.uses_face();
  usesPosition_ = program.uses_position();
}

// Fills the executor's 16 lanes from batch lanes and writes back the results. Quads: lanes
// [first, first + 16). Single pixels (lines, points): each of `lanes[0 .. quads)` fills a whole
// quad of its own, so its derivatives are zero.
void PixelShaderStage::Run(FragmentBatch& b, int first, const int* lanes, int quads) {
  const ShaderLinkage& link = *link_;
  vexa::PixelBatch& pb = executor_->pixels();
  auto source = [&](int i) { return lanes ? lanes[std::min(i / 4, quads - 1)] : first + i; };
  for (int r = 0; r < link.pixelInCount; ++r) {
    const ShaderLinkage::Route& route = link.pixelIn[r];
    vexa::ShaderVec4& reg = pb.input[route.slot];
    const float scale = route.colour && fixedVertices_ ? 1.f / 255.f : 1.f;
    for (int k = 0; k < 4; ++k) {
      const float* row = b.attr[4 * route.varying + k];
      if (lanes) {
        for (int i = 0; i < kShaderLanes; ++i) reg.c[k].v[i] = row[source(i)] * scale;
      } else if (scale == 1.f) {
        std::memcpy(reg.c[k].v, row + first, sizeof reg.c[k].v);
      } else {
        for (int i = 0; i < kShaderLanes; ++i) reg.c[k].v[i] = row[first + i] * scale;
      }
    }
  }
  if (usesPosition_) {
    for (int i = 0; i < kShaderLanes; ++i) {
      pb.position[0].v[i] = b.x[source(i)];
      pb.position[1].v[i] = b.y[source(i)];
    }
  }
  if (usesFace_) {
    const float face = b.backFacing ? -1.f : 1.f;
    for (int i = 0; i < kShaderLanes; ++i) pb.face.v[i] = face;
  }
  uint32_t coverage = 0;
  if (lanes) {
    for (int q = 0; q < quads; ++q) coverage |= 1u << (4 * q);
  } else {
    coverage = static_cast<uint32_t>((b.live >> first) & 0xFFFFu);
  }
  const uint32_t survivors = executor_->RunPixels(coverage);
  if (!lanes) {
    // Quads: four lanes at a time. Lanes that are not drawn take values too; nothing reads them.
    b.live &= ~(static_cast<uint64_t>(coverage & ~survivors) << first);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.f);
    // Saturate's order: NaN goes to 0 first (maxps returns its second operand for NaN).
    auto saturate = [&](__m128 v) { return _mm_min_ps(_mm_max_ps(v, zero), one); };
    auto byte = [&](__m128 v) {
      return _mm_cvttps_epi32(
          _mm_add_ps(_mm_mul_ps(saturate(v), _mm_set1_ps(255.f)), _mm_set1_ps(0.5f)));
    };
    for (int i = 0; i < kShaderLanes; i += 4) {
      if (!((coverage >> i) & 0xF)) continue;
      __m128 c[4];
      for (int ch = 0; ch < 4; ++ch) {
        c[ch] = _mm_load_ps(pb.color[0].c[ch].v + i);
        _mm_storeu_ps(b.colourF[ch] + first + i, c[ch]);
      }
      const __m128i argb =
          _mm_or_si128(_mm_or_si128(_mm_slli_epi32(byte(c[3]), 24), _mm_slli_epi32(byte(c[0]), 16)),
                       _mm_or_si128(_mm_slli_epi32(byte(c[1]), 8), byte(c[2])));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(b.colour + first + i), argb);
      if (writesDepth_) _mm_storeu_ps(b.z + first + i, saturate(_mm_load_ps(pb.depth.v + i)));
    }
    return;
  }
  for (int i = 0; i < kShaderLanes; ++i) {
    if (!(coverage & (1u << i))) continue;
    const int lane = source(i);
    if (!(survivors & (1u << i))) {
      b.live &= ~(uint64_t{1} << lane);
      continue;
    }
    const float r = pb.color[0].c[0].v[i], g = pb.color[0].c[1].v[i];
    const float bl = pb.color[0].c[2].v[i], a = pb.color[0].c[3].v[i];
    b.colourF[0][lane] = r;
    b.colourF[1][lane] = g;
    b.colourF[2][lane] = bl;
    b.colourF[3][lane] = a;
    b.colour[lane] = ToArgb(r, g, bl, a);
    if (writesDepth_) b.z[lane] = Saturate(pb.depth.v[i]);
  }
}

void PixelShaderStage::Shade(FragmentBatch& b) {
  b.floatColour = true;
  if (b.quads) {
    for (int first = 0; first < b.lanes; first += kShaderLanes)
      if ((b.live >> first) & 0xFFFFu) Run(b, first, nullptr, 0);
    return;
  }
  int pending[4];
  int count = 0;
  for (int lane = 0; lane < b.lanes; ++lane) {
    if (!(b.live & (uint64_t{1} << lane))) continue;
    pending[count++] = lane;
    if (count == 4) {
      Run(b, 0, pending, count);
      count = 0;
    }
  }
  if (count) Run(b, 0, pending, count);
}

}  // namespace d3d9
