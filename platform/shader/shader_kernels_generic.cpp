// Kernels for every x86-64 processor: four lanes per SSE2 vector.
#include <emmintrin.h>

#include <cstdint>

#include "shader/shader_internal.h"

namespace vexa::sm {
namespace generic {

#define VEXA_ISA

typedef float V __attribute__((vector_size(16), may_alias));
typedef int32_t VI __attribute__((vector_size(16), may_alias));

static inline V Fma(V a, V b, V c) {
  return a * b + c;
}
static inline V Min(V a, V b) {
  return V(_mm_min_ps(__m128(a), __m128(b)));
}
static inline V Max(V a, V b) {
  return V(_mm_max_ps(__m128(a), __m128(b)));
}
static inline V Sqrt(V a) {
  return V(_mm_sqrt_ps(__m128(a)));
}
static inline V RsqrtEstimate(V a) {
  return V(_mm_rsqrt_ps(__m128(a)));
}
static inline V Floor(V x) {
  // Values of 2^23 and more (and NaN) are already whole; the rest fit an int.
  const VI small = V(VI(x) & 0x7FFFFFFF) < 8388608.f;
  const V xs = V(VI(x) & small);
  const V t = __builtin_convertvector(__builtin_convertvector(xs, VI), V);
  const V f = t - V((t > xs) & VI(V{} + 1.f));
  return V((VI(f) & small) | (VI(x) & ~small));
}
// Lanes are one quad: top-left, top-right, bottom-left, bottom-right.
static inline V QuadDx(V v) {
  const __m128 m = __m128(v);
  return V(_mm_sub_ps(_mm_shuffle_ps(m, m, _MM_SHUFFLE(3, 3, 1, 1)),
                      _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 2, 0, 0))));
}
static inline V QuadDy(V v) {
  const __m128 m = __m128(v);
  return V(_mm_sub_ps(_mm_shuffle_ps(m, m, _MM_SHUFFLE(3, 2, 3, 2)),
                      _mm_shuffle_ps(m, m, _MM_SHUFFLE(1, 0, 1, 0))));
}
static inline uint32_t SignBits(VI m) {
  return uint32_t(_mm_movemask_ps(__m128(m)));
}
static inline V GatherConst(const float (*c)[4], VI i, int k) {
  V r = {};
  for (int l = 0; l < 4; ++l) {
    const int x = i[l];
    r[l] = (x >= 0 && x < 256) ? c[x][k] : 0.f;
  }
  return r;
}

#include "shader/shader_kernels.inc"

#undef VEXA_ISA

}  // namespace generic

const KernelTable& GenericKernels() {
  return generic::kTable;
}

}  // namespace vexa::sm
