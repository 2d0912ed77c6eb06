// Eight-lane helpers for the AVX2 texture reads of the shader sampler and the fixed-function
// stages. Every function carries the target attribute, so the files that include this build for
// baseline x86-64 and call into it only after checking the processor.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include "d3d9/pipeline/texture_sampler.h"

#define VEXA_LANES8 1
#define VEXA_AVX2 __attribute__((target("avx2")))

namespace d3d9::lanes8 {

// Coordinates past +-1e7 texels (and NaN) read texel 0, as in the one-lane samplers.
VEXA_AVX2 inline __m256 Tame(__m256 f) {
  const __m256 magnitude = _mm256_and_ps(f, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
  return _mm256_and_ps(f, _mm256_cmp_ps(magnitude, _mm256_set1_ps(1e7f), _CMP_LT_OQ));
}

// Wrap on a power-of-two size, or clamp to 0 .. n - 1.
VEXA_AVX2 inline __m256i Address(__m256i i, int n, bool wrap) {
  const __m256i last = _mm256_set1_epi32(n - 1);
  if (wrap) return _mm256_and_si256(i, last);
  return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), last);
}

// The 32-bit texels at (x, y), fetched by one gather; the byte offsets must fit 32 bits.
VEXA_AVX2 inline __m256i Gather(const SamplerView& view, __m256i x, __m256i y) {
  const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(view.pitch)),
                                          _mm256_slli_epi32(x, 2));
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(view.bits), offset, 1);
}

// Byte `shift / 8` of each lane.
VEXA_AVX2 inline __m256i Byte(__m256i c, int shift) {
  return _mm256_and_si256(_mm256_srli_epi32(c, shift), _mm256_set1_epi32(255));
}

}  // namespace d3d9::lanes8

#endif
