// Sampling. Bilinear weights are quantised to 1/256, so sampling at a texel centre returns that
// texel exactly even when the coordinate carries rounding noise.
#include "d3d9/pipeline/texture_sampler.h"

#include <climits>
#include <cmath>

#include "d3d9/d3d9_texture.h"
#include "d3d9/pipeline/lanes8.h"

namespace d3d9 {

namespace {

uint32_t Bilinear(const SamplerView& view, const TextureUnit& unit, float u, float v, DWORD au,
                  DWORD av, bool linear) {
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  // Absurd or undefined coordinates sample somewhere harmless instead of overflowing.
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  if (!linear)
    return Load(view, unit.border, Address(FloorToInt(fu), view.width, au),
                Address(FloorToInt(fv), view.height, av));
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
  if (wx == 0 && wy == 0)
    return Load(view, unit.border, Address(x0, view.width, au), Address(y0, view.height, av));
  int xa = Address(x0, view.width, au), xb = Address(x0 + 1, view.width, au);
  int ya = Address(y0, view.height, av), yb = Address(y0 + 1, view.height, av);
  uint32_t c00 = Load(view, unit.border, xa, ya), c10 = Load(view, unit.border, xb, ya);
  uint32_t c01 = Load(view, unit.border, xa, yb), c11 = Load(view, unit.border, xb, yb);
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

uint32_t Mix(uint32_t a, uint32_t b, int w) {
  if (w <= 0) return a;
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int ca = static_cast<int>((a >> s) & 255), cb = static_cast<int>((b >> s) & 255);
    out |= static_cast<uint32_t>((ca * (256 - w) + cb * w + 128) >> 8) << s;
  }
  return out;
}

}  // namespace

SamplerView ViewOf(const TextureImage* texture, int face, int level) {
  const SurfaceStore& l = texture->Level(face, static_cast<UINT>(level))->store;
  return SamplerView{l.bits.data(),
                     l.pitch,
                     static_cast<int>(l.width),
                     static_cast<int>(l.height),
                     l.format,
                     l.format == D3DFMT_A8R8G8B8 || l.format == D3DFMT_X8R8G8B8,
                     l.format == D3DFMT_X8R8G8B8};
}

namespace {

// Bilinear's arithmetic for 32-bit ARGB texels under WRAP on power-of-two sizes or CLAMP, with
// the address mode decided once per sample rather than per texel.
template <bool Wrap>
__attribute__((always_inline)) inline uint32_t FastSample(const SamplerView& view, float u, float v,
                                                          bool linear) {
  float fu = u * static_cast<float>(view.width);
  float fv = v * static_cast<float>(view.height);
  if (!(std::fabs(fu) < 1e7f)) fu = 0.f;
  if (!(std::fabs(fv) < 1e7f)) fv = 0.f;
  const int w = view.width, h = view.height;
  auto addr = [](int i, int n) {
    if (Wrap) return i & (n - 1);
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
  };
  const uint32_t alpha = view.xrgb ? 0xFF000000u : 0u;
  auto load = [&](int x, int y) {
    uint32_t c;
    std::memcpy(&c, view.bits + static_cast<size_t>(y) * view.pitch + static_cast<size_t>(x) * 4,
                4);
    return c | alpha;
  };
  if (!linear) return load(addr(FloorToInt(fu), w), addr(FloorToInt(fv), h));
  fu -= 0.5f;
  fv -= 0.5f;
  int x0 = FloorToInt(fu), y0 = FloorToInt(fv);
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
  const int xa = addr(x0, w), ya = addr(y0, h);
  if (wx == 0 && wy == 0) return load(xa, ya);
  const int xb = addr(x0 + 1, w), yb = addr(y0 + 1, h);
  const uint32_t c00 = load(xa, ya), c10 = load(xb, ya), c01 = load(xa, yb), c11 = load(xb, yb);
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int top =
        static_cast<int>((c00 >> s) & 255) * (256 - wx) + static_cast<int>((c10 >> s) & 255) * wx;
    const int bot =
        static_cast<int>((c01 >> s) & 255) * (256 - wx) + static_cast<int>((c11 >> s) & 255) * wx;
    out |= static_cast<uint32_t>((top * (256 - wy) + bot * wy + 32768) >> 16) << s;
  }
  return out;
}

bool PowerOfTwo(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

}  // namespace

int DirectReads(const TextureUnit& unit) {
  const SamplerView& view = unit.view;
  const bool blended = unit.level2 >= 0;
  if (!unit.shortcut || !view.argb32 || unit.addressU != unit.addressV ||
      (blended && !unit.view2.argb32))
    return 0;
  if (unit.addressU == D3DTADDRESS_CLAMP) return 1;
  if (unit.addressU == D3DTADDRESS_WRAP && PowerOfTwo(view.width) && PowerOfTwo(view.height) &&
      (!blended || (PowerOfTwo(unit.view2.width) && PowerOfTwo(unit.view2.height))))
    return 2;
  return 0;
}

uint32_t Sample2D(const TextureUnit& unit, float u, float v) {
  const bool blended = unit.level2 >= 0;
  switch (DirectReads(unit)) {
    case 1: {
      const uint32_t c = FastSample<false>(unit.view, u, v, unit.linear);
      return blended ? Mix(c, FastSample<false>(unit.view2, u, v, unit.linear), unit.blend2) : c;
    }
    case 2: {
      const uint32_t c = FastSample<true>(unit.view, u, v, unit.linear);
      return blended ? Mix(c, FastSample<true>(unit.view2, u, v, unit.linear), unit.blend2) : c;
    }
    default:
      break;
  }
  const uint32_t c = Bilinear(unit.view, unit, u, v, unit.addressU, unit.addressV, unit.linear);
  if (unit.level2 < 0) return c;
  return Mix(c, Bilinear(unit.view2, unit, u, v, unit.addressU, unit.addressV, unit.linear),
             unit.blend2);
}

#if VEXA_LANES8
namespace {

// FloorToInt for values already within +-1e7.
VEXA_AVX2 inline __m256i Floor8(__m256 f) {
  const __m256i i = _mm256_cvttps_epi32(f);
  return _mm256_add_epi32(i,
                          _mm256_castps_si256(_mm256_cmp_ps(_mm256_cvtepi32_ps(i), f, _CMP_GT_OQ)));
}

VEXA_AVX2 inline __m256i Load8(const SamplerView& view, __m256i x, __m256i y) {
  const __m256i c = lanes8::Gather(view, x, y);
  return view.xrgb ? _mm256_or_si256(c, _mm256_set1_epi32(static_cast<int>(0xFF000000u))) : c;
}

// The fraction's weight in 1/256 (FastSample's rounding), moving to the next texel at 256.
VEXA_AVX2 inline void Weights8(__m256 f, __m256i* i0, __m256i* w) {
  *i0 = Floor8(f);
  __m256i weight = _mm256_cvttps_epi32(
      _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(f, _mm256_cvtepi32_ps(*i0)), _mm256_set1_ps(256.f)),
                    _mm256_set1_ps(0.5f)));
  const __m256i full = _mm256_cmpgt_epi32(weight, _mm256_set1_epi32(255));
  *i0 = _mm256_sub_epi32(*i0, full);  // full is -1 where the weight reached 256
  weight = _mm256_andnot_si256(full, weight);
  *w = _mm256_max_epi32(weight, _mm256_setzero_si256());
}

VEXA_AVX2 __m256i Sample8(const SamplerView& view, bool wrap, bool linear, __m256 u, __m256 v) {
  __m256 fu = lanes8::Tame(_mm256_mul_ps(u, _mm256_set1_ps(static_cast<float>(view.width))));
  __m256 fv = lanes8::Tame(_mm256_mul_ps(v, _mm256_set1_ps(static_cast<float>(view.height))));
  if (!linear)
    return Load8(view, lanes8::Address(Floor8(fu), view.width, wrap),
                 lanes8::Address(Floor8(fv), view.height, wrap));
  fu = _mm256_sub_ps(fu, _mm256_set1_ps(0.5f));
  fv = _mm256_sub_ps(fv, _mm256_set1_ps(0.5f));
  __m256i x0, y0, wx, wy;
  Weights8(fu, &x0, &wx);
  Weights8(fv, &y0, &wy);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i xa = lanes8::Address(x0, view.width, wrap);
  const __m256i xb = lanes8::Address(_mm256_add_epi32(x0, one), view.width, wrap);
  const __m256i ya = lanes8::Address(y0, view.height, wrap);
  const __m256i yb = lanes8::Address(_mm256_add_epi32(y0, one), view.height, wrap);
  const __m256i c00 = Load8(view, xa, ya), c10 = Load8(view, xb, ya);
  const __m256i c01 = Load8(view, xa, yb), c11 = Load8(view, xb, yb);
  const __m256i full = _mm256_set1_epi32(256);
  const __m256i ix = _mm256_sub_epi32(full, wx), iy = _mm256_sub_epi32(full, wy);
  __m256i out = _mm256_setzero_si256();
  for (int s = 0; s < 32; s += 8) {
    const __m256i top = _mm256_add_epi32(_mm256_mullo_epi32(lanes8::Byte(c00, s), ix),
                                         _mm256_mullo_epi32(lanes8::Byte(c10, s), wx));
    const __m256i bot = _mm256_add_epi32(_mm256_mullo_epi32(lanes8::Byte(c01, s), ix),
                                         _mm256_mullo_epi32(lanes8::Byte(c11, s), wx));
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(top, iy), _mm256_mullo_epi32(bot, wy)),
                         _mm256_set1_epi32(32768));
    out = _mm256_or_si256(out, _mm256_slli_epi32(_mm256_srli_epi32(sum, 16), s));
  }
  return out;
}

VEXA_AVX2 void Sample2DEightAvx2(const TextureUnit& unit, bool wrap, const float* u, const float* v,
                                 uint32_t* out) {
  const __m256 uu = _mm256_loadu_ps(u), vv = _mm256_loadu_ps(v);
  __m256i c = Sample8(unit.view, wrap, unit.linear, uu, vv);
  if (unit.level2 >= 0 && unit.blend2 > 0) {
    const __m256i d = Sample8(unit.view2, wrap, unit.linear, uu, vv);
    const __m256i w = _mm256_set1_epi32(unit.blend2), iw = _mm256_set1_epi32(256 - unit.blend2);
    const __m256i half = _mm256_set1_epi32(128);
    __m256i mixed = _mm256_setzero_si256();
    for (int s = 0; s < 32; s += 8) {
      const __m256i m =
          _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(lanes8::Byte(c, s), iw),
                                            _mm256_mullo_epi32(lanes8::Byte(d, s), w)),
                           half);
      mixed = _mm256_or_si256(mixed, _mm256_slli_epi32(_mm256_srli_epi32(m, 8), s));
    }
    c = mixed;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), c);
}

}  // namespace

bool Sample2DEight(const TextureUnit& unit, const float* u, const float* v, uint32_t* out) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const int direct = avx2 ? DirectReads(unit) : 0;
  // Gathers address the levels with 32-bit byte offsets.
  if (direct == 0 || static_cast<int64_t>(unit.view.pitch) * unit.view.height > INT32_MAX ||
      (unit.level2 >= 0 && static_cast<int64_t>(unit.view2.pitch) * unit.view2.height > INT32_MAX))
    return false;
  Sample2DEightAvx2(unit, direct == 2, u, v, out);
  return true;
}
#else
bool Sample2DEight(const TextureUnit&, const float*, const float*, uint32_t*) {
  return false;
}
#endif

uint32_t SampleCube(const TextureUnit& unit, float x, float y, float z) {
  // The face of the major axis, and the coordinates on it (Direct3D's cube-map layout).
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
  if (!(ma > 0.f)) return Sample2D(unit, 0.5f, 0.5f);
  const float u = 0.5f * (sc / ma + 1.f), v = 0.5f * (tc / ma + 1.f);
  // Faces meet at their edges: coordinates clamp to the face.
  const SamplerView view = ViewOf(unit.texture, face, unit.level);
  const uint32_t c = Bilinear(view, unit, u, v, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, unit.linear);
  if (unit.level2 < 0) return c;
  const SamplerView view2 = ViewOf(unit.texture, face, unit.level2);
  return Mix(c, Bilinear(view2, unit, u, v, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, unit.linear),
             unit.blend2);
}

}  // namespace d3d9
