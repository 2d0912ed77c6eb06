// Kernels for processors with AVX2 and FMA: eight lanes per vector. Every function here carries
// the target attribute, so the file builds for baseline x86-64 and runs only when the executor
// has checked the processor.
#include <immintrin.h>

#include <cstdint>

#include "shader/shader_internal.h"

namespace vexa::sm {
namespace avx2 {

#define VEXA_ISA __attribute__((target("avx2,fma")))

typedef float V __attribute__((vector_size(32), may_alias));
typedef int32_t VI __attribute__((vector_size(32), may_alias));

VEXA_ISA static inline V Fma(V a, V b, V c) {
  return V(_mm256_fmadd_ps(__m256(a), __m256(b), __m256(c)));
}
VEXA_ISA static inline V Min(V a, V b) {
  return V(_mm256_min_ps(__m256(a), __m256(b)));
}
VEXA_ISA static inline V Max(V a, V b) {
  return V(_mm256_max_ps(__m256(a), __m256(b)));
}
VEXA_ISA static inline V Sqrt(V a) {
  return V(_mm256_sqrt_ps(__m256(a)));
}
VEXA_ISA static inline V RsqrtEstimate(V a) {
  return V(_mm256_rsqrt_ps(__m256(a)));
}
VEXA_ISA static inline V Floor(V x) {
  return V(_mm256_floor_ps(__m256(x)));
}
// Each 128-bit half is one quad: top-left, top-right, bottom-left, bottom-right.
VEXA_ISA static inline V QuadDx(V v) {
  const __m256 m = __m256(v);
  return V(_mm256_sub_ps(_mm256_permute_ps(m, _MM_SHUFFLE(3, 3, 1, 1)),
                         _mm256_permute_ps(m, _MM_SHUFFLE(2, 2, 0, 0))));
}
VEXA_ISA static inline V QuadDy(V v) {
  const __m256 m = __m256(v);
  return V(_mm256_sub_ps(_mm256_permute_ps(m, _MM_SHUFFLE(3, 2, 3, 2)),
                         _mm256_permute_ps(m, _MM_SHUFFLE(1, 0, 1, 0))));
}
VEXA_ISA static inline uint32_t SignBits(VI m) {
  return uint32_t(_mm256_movemask_ps(__m256(m)));
}
VEXA_ISA static inline V GatherConst(const float (*c)[4], VI i, int k) {
  const __m256i idx = __m256i(i);
  const __m256i in = _mm256_and_si256(_mm256_cmpgt_epi32(idx, _mm256_set1_epi32(-1)),
                                      _mm256_cmpgt_epi32(_mm256_set1_epi32(256), idx));
  const __m256i safe = _mm256_and_si256(idx, in);
  return V(_mm256_mask_i32gather_ps(_mm256_setzero_ps(), &c[0][k], _mm256_slli_epi32(safe, 2),
                                    _mm256_castsi256_ps(in), 4));
}

#include "shader/shader_kernels.inc"

#undef VEXA_ISA

}  // namespace avx2

const KernelTable& Avx2Kernels() {
  return avx2::kTable;
}

}  // namespace vexa::sm
