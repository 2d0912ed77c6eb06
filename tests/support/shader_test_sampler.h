// A CPU sampler for shader tests and benchmarks: RGBA float textures (2D with mip levels, or cube
// maps), point or bilinear filtering, nearest-level mip selection from the level of detail the
// executor asks for (or the quad's derivatives), wrap or clamp addressing. Single-level 2D
// textures of power-of-two sizes take an AVX2 path (eight lanes at a time, only the channels the
// program reads) when the processor has it; it produces the same values as the lane-by-lane path.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "../../platform/shader/shader_executor.h"

namespace shader_test {

struct Texture {
  int width = 0;
  int height = 0;
  int faces = 1;  // 6 for cube maps
  // levels[face][level]: RGBA floats, rows top first.
  std::vector<std::vector<std::vector<float>>> levels;

  static Texture Make(int w, int h, const std::function<void(int x, int y, float* rgba)>& f) {
    Texture t;
    t.width = w;
    t.height = h;
    t.levels.resize(1);
    t.levels[0].emplace_back(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f(x, y, &t.levels[0][0][(size_t(y) * w + x) * 4]);
    return t;
  }
  // A cube map whose face f is filled with colour face_colour(f).
  static Texture Cube(int size, const std::function<void(int face, float* rgba)>& face_colour) {
    Texture t;
    t.width = t.height = size;
    t.faces = 6;
    t.levels.resize(6);
    for (int f = 0; f < 6; ++f) {
      t.levels[f].emplace_back(size_t(size) * size * 4);
      for (int i = 0; i < size * size; ++i) face_colour(f, &t.levels[f][0][size_t(i) * 4]);
    }
    return t;
  }
  // Appends levels down to 1 x 1, each filled by `fill(level, rgba)` (a solid colour per level
  // makes the selected level visible).
  void SolidLevels(const std::function<void(int level, float* rgba)>& fill) {
    for (auto& face : levels) {
      face.resize(1);
      int w = width, h = height;
      for (int l = 1; w > 1 || h > 1; ++l) {
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
        std::vector<float> lv(size_t(w) * h * 4);
        for (int i = 0; i < w * h; ++i) fill(l, &lv[size_t(i) * 4]);
        face.push_back(std::move(lv));
      }
    }
  }
  int LevelCount() const { return levels.empty() ? 0 : int(levels[0].size()); }
};

enum class Filter { kPoint, kLinear };
enum class Address { kWrap, kClamp };

class Sampler : public vexa::ShaderSampler {
 public:
  struct Slot {
    const Texture* texture = nullptr;
    Filter filter = Filter::kLinear;
    Address address = Address::kWrap;
  };
  Slot slots[16];
  int calls = 0;
  vexa::SampleRequest last;
  float last_lod[vexa::kShaderLanes] = {};

  void Sample(const vexa::SampleRequest& r, float* rgba) override {
    ++calls;
    last.sampler = r.sampler;
    last.type = r.type;
    last.mode = r.mode;
    last.lod = r.lod;
    last.components = r.components;
    const Slot* s = r.sampler >= 0 && r.sampler < 16 ? &slots[r.sampler] : nullptr;
    if (s && s->texture && FastPathApplies(*s->texture) && HaveAvx2()) {
      if (s->filter == Filter::kPoint)
        PointAvx2(*s, r, rgba);
      else
        BilinearAvx2(*s, r, rgba);
      return;
    }
    for (int l = 0; l < vexa::kShaderLanes; ++l) {
      float c[4] = {0, 0, 0, 1};
      if (s && s->texture && s->texture->width > 0) Lane(*s, r, l, c);
      for (int k = 0; k < 4; ++k) rgba[k * vexa::kShaderLanes + l] = c[k];
    }
  }

  // The colour of one texel fetch as the sampler computes it (for expectations in tests).
  static void Fetch(const Texture& t, int face, int level, Filter filter, Address address, float u,
                    float v, float* out) {
    const int w = std::max(1, t.width >> level), h = std::max(1, t.height >> level);
    const float* texels = t.levels[size_t(face)][size_t(level)].data();
    auto at = [&](int x, int y, int k) {
      if (address == Address::kWrap) {
        x = ((x % w) + w) % w;
        y = ((y % h) + h) % h;
      } else {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
      }
      return texels[(size_t(y) * w + x) * 4 + k];
    };
    if (!(u == u)) u = 0;
    if (!(v == v)) v = 0;
    u = std::clamp(u, -1e6f, 1e6f);
    v = std::clamp(v, -1e6f, 1e6f);
    if (filter == Filter::kPoint) {
      const int x = int(std::floor(u * float(w))), y = int(std::floor(v * float(h)));
      for (int k = 0; k < 4; ++k) out[k] = at(x, y, k);
      return;
    }
    const float fx = u * float(w) - 0.5f, fy = v * float(h) - 0.5f;
    const float x0f = std::floor(fx), y0f = std::floor(fy);
    const float ax = fx - x0f, ay = fy - y0f;
    const int x0 = int(x0f), y0 = int(y0f);
    for (int k = 0; k < 4; ++k) {
      const float top = at(x0, y0, k) + (at(x0 + 1, y0, k) - at(x0, y0, k)) * ax;
      const float bottom = at(x0, y0 + 1, k) + (at(x0 + 1, y0 + 1, k) - at(x0, y0 + 1, k)) * ax;
      out[k] = top + (bottom - top) * ay;
    }
  }

  // Cube map face and face coordinates of a direction.
  static int CubeFace(float x, float y, float z, float* u, float* v) {
    const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    float sc, tc, ma;
    int face;
    if (ax >= ay && ax >= az) {
      face = x >= 0 ? 0 : 1;
      sc = x >= 0 ? -z : z;
      tc = -y;
      ma = ax;
    } else if (ay >= az) {
      face = y >= 0 ? 2 : 3;
      sc = x;
      tc = y >= 0 ? z : -z;
      ma = ay;
    } else {
      face = z >= 0 ? 4 : 5;
      sc = z >= 0 ? x : -x;
      tc = -y;
      ma = az;
    }
    if (ma == 0) ma = 1;
    *u = (sc / ma + 1.f) * 0.5f;
    *v = (tc / ma + 1.f) * 0.5f;
    return face;
  }

 private:
  static bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return have;
  }
  static bool FastPathApplies(const Texture& t) {
    return t.faces == 1 && t.LevelCount() == 1 && t.width > 0 && t.height > 0 &&
           (t.width & (t.width - 1)) == 0 && (t.height & (t.height - 1)) == 0 && t.width <= 4096 &&
           t.height <= 4096;
  }

  // Texel coordinates wrapped or clamped, for eight lanes.
  __attribute__((target("avx2,fma"))) static __m256i Address8(__m256i i, int size, Address a) {
    if (a == Address::kWrap) return _mm256_and_si256(i, _mm256_set1_epi32(size - 1));
    return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()),
                            _mm256_set1_epi32(size - 1));
  }
  // Coordinates as the lane-by-lane path takes them: NaN as 0, bounded.
  __attribute__((target("avx2,fma"))) static __m256 Coord8(const float* p) {
    const __m256 v = _mm256_loadu_ps(p);
    const __m256 ok = _mm256_cmp_ps(v, v, _CMP_ORD_Q);
    return _mm256_min_ps(_mm256_max_ps(_mm256_and_ps(v, ok), _mm256_set1_ps(-1e6f)),
                         _mm256_set1_ps(1e6f));
  }

  __attribute__((target("avx2,fma"))) void PointAvx2(const Slot& s, const vexa::SampleRequest& r,
                                                     float* rgba) {
    const Texture& t = *s.texture;
    const float* texels = t.levels[0][0].data();
    const uint8_t need = r.components ? r.components : 0xF;
    for (int h = 0; h < vexa::kShaderLanes; h += 8) {
      const __m256 u = Coord8(r.u + h), v = Coord8(r.v + h);
      const __m256i x = Address8(
          _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(u, _mm256_set1_ps(float(t.width))))),
          t.width, s.address);
      const __m256i y = Address8(
          _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(v, _mm256_set1_ps(float(t.height))))),
          t.height, s.address);
      const __m256i idx = _mm256_slli_epi32(
          _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(t.width)), x), 2);
      for (int k = 0; k < 4; ++k)
        if (need >> k & 1)
          _mm256_storeu_ps(rgba + k * vexa::kShaderLanes + h,
                           _mm256_i32gather_ps(texels + k, idx, 4));
    }
  }

  __attribute__((target("avx2,fma"))) void BilinearAvx2(const Slot& s, const vexa::SampleRequest& r,
                                                        float* rgba) {
    const Texture& t = *s.texture;
    const float* texels = t.levels[0][0].data();
    for (int h = 0; h < vexa::kShaderLanes; h += 8) {
      const __m256 fx =
          _mm256_fmsub_ps(Coord8(r.u + h), _mm256_set1_ps(float(t.width)), _mm256_set1_ps(0.5f));
      const __m256 fy =
          _mm256_fmsub_ps(Coord8(r.v + h), _mm256_set1_ps(float(t.height)), _mm256_set1_ps(0.5f));
      const __m256 x0f = _mm256_floor_ps(fx), y0f = _mm256_floor_ps(fy);
      alignas(32) float ax[8], ay[8];
      _mm256_store_ps(ax, _mm256_sub_ps(fx, x0f));
      _mm256_store_ps(ay, _mm256_sub_ps(fy, y0f));
      const __m256i x0 = _mm256_cvttps_epi32(x0f), y0 = _mm256_cvttps_epi32(y0f);
      const __m256i one = _mm256_set1_epi32(1);
      alignas(32) int32_t ix0[8], ix1[8], iy0[8], iy1[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(ix0), Address8(x0, t.width, s.address));
      _mm256_store_si256(reinterpret_cast<__m256i*>(ix1),
                         Address8(_mm256_add_epi32(x0, one), t.width, s.address));
      _mm256_store_si256(
          reinterpret_cast<__m256i*>(iy0),
          _mm256_mullo_epi32(Address8(y0, t.height, s.address), _mm256_set1_epi32(t.width)));
      _mm256_store_si256(
          reinterpret_cast<__m256i*>(iy1),
          _mm256_mullo_epi32(Address8(_mm256_add_epi32(y0, one), t.height, s.address),
                             _mm256_set1_epi32(t.width)));
      __m128 c[8];
      for (int l = 0; l < 8; ++l) {
        const __m128 p00 = _mm_loadu_ps(texels + size_t(iy0[l] + ix0[l]) * 4);
        const __m128 p10 = _mm_loadu_ps(texels + size_t(iy0[l] + ix1[l]) * 4);
        const __m128 p01 = _mm_loadu_ps(texels + size_t(iy1[l] + ix0[l]) * 4);
        const __m128 p11 = _mm_loadu_ps(texels + size_t(iy1[l] + ix1[l]) * 4);
        const __m128 a = _mm_set1_ps(ax[l]);
        const __m128 top = _mm_add_ps(p00, _mm_mul_ps(_mm_sub_ps(p10, p00), a));
        const __m128 bottom = _mm_add_ps(p01, _mm_mul_ps(_mm_sub_ps(p11, p01), a));
        c[l] = _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), _mm_set1_ps(ay[l])));
      }
      _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
      _MM_TRANSPOSE4_PS(c[4], c[5], c[6], c[7]);
      for (int k = 0; k < 4; ++k)
        _mm256_storeu_ps(rgba + k * vexa::kShaderLanes + h, _mm256_set_m128(c[4 + k], c[k]));
    }
  }

  void Lane(const Slot& s, const vexa::SampleRequest& r, int l, float* c) {
    const Texture& t = *s.texture;
    float lod = 0;
    const int q = l & ~3;
    auto rho = [&](const float* a, const float* b, float scale_a, float scale_b, int d1, int d2) {
      const float du = (a[q + d2] - a[q + d1]) * scale_a, dv = (b[q + d2] - b[q + d1]) * scale_b;
      return std::sqrt(du * du + dv * dv);
    };
    if (r.mode == vexa::SampleMode::kLod) {
      lod = r.lod[l];
    } else if (r.mode == vexa::SampleMode::kGrad) {
      const float dx = std::hypot(r.ddx[0][l] * t.width, r.ddx[1][l] * t.height);
      const float dy = std::hypot(r.ddy[0][l] * t.width, r.ddy[1][l] * t.height);
      lod = std::log2(std::max(dx, dy));
    } else {
      const float dx = rho(r.u, r.v, float(t.width), float(t.height), 0, 1);
      const float dy = rho(r.u, r.v, float(t.width), float(t.height), 0, 2);
      lod = std::log2(std::max(dx, dy));
      if (r.mode == vexa::SampleMode::kBias) lod += r.lod[l];
    }
    last_lod[l] = lod;
    int level = 0;
    if (t.LevelCount() > 1 && lod == lod)
      level = std::clamp(int(std::floor(lod + 0.5f)), 0, t.LevelCount() - 1);
    float u = r.u[l], v = r.v[l];
    int face = 0;
    if (t.faces == 6) face = CubeFace(r.u[l], r.v[l], r.w[l], &u, &v);
    Fetch(t, face, level, s.filter, t.faces == 6 ? Address::kClamp : s.address, u, v, c);
  }
};

}  // namespace shader_test
