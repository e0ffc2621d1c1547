// The AVX2 lane set, for the block scans of processors that have it: built wherever SSE2 is, and
// taken at run time only where the processor probe finds AVX2.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_LANES_AVX2_H_
#define ENGINE_SIMD_LANES_AVX2_H_

#include "lanes_sse2.h"
#if LOOKUP_HAVE_SSE2
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "lanes.h"

namespace {

// AVX2 values never leave the functions compiled for AVX2: the algorithms see masks and answers.
#define LOOKUP_AVX2 __attribute__((target("avx2")))
struct Avx2 {
  static constexpr int kWidth = 32;
  LOOKUP_AVX2 static __m256i load(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  LOOKUP_AVX2 static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const __m256i cs = _mm256_set1_epi8(c), ds = _mm256_set1_epi8(d);
    __m256i found = _mm256_setzero_si256();
    for (size_t i = 0; i < n; i += kWidth) {
      found = _mm256_or_si256(found, _mm256_and_si256(_mm256_cmpeq_epi8(load(p + i), cs),
                                                      _mm256_cmpeq_epi8(load(q + i), ds)));
    }
    return !_mm256_testz_si256(found, found);
  }
  LOOKUP_AVX2 static uint64_t bits(__m256i lanes) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(lanes));
  }
  LOOKUP_AVX2 static uint64_t equal(const char* p, char c) {
    return bits(_mm256_cmpeq_epi8(load(p), _mm256_set1_epi8(c)));
  }
  LOOKUP_AVX2 static uint64_t separators(const char* p) {
    const __m256i d = _mm256_sub_epi8(load(p), _mm256_set1_epi8('\t'));
    return bits(_mm256_cmpeq_epi8(_mm256_min_epu8(d, _mm256_set1_epi8('\r' - '\t')), d));
  }
  LOOKUP_AVX2 static void replace(char* p, char from, char to) {
    const __m256i v = load(p);
    const __m256i hit = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(from));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                        _mm256_blendv_epi8(v, _mm256_set1_epi8(to), hit));
  }
  // A table of sixteen bytes in both halves, for a shuffle that looks up each lane's nibble.
  LOOKUP_AVX2 static __m256i table(const uint8_t* t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
  }
  LOOKUP_AVX2 static uint64_t tailHits(const char* p, const TailSet& set) {
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    __m256i fit = _mm256_set1_epi8(-1);
    for (int j = 0; j < 3; ++j) {
      const __m256i v = load(p + j);
      const __m256i low = _mm256_shuffle_epi8(table(set.low[j]), _mm256_and_si256(v, nibble));
      const __m256i high = _mm256_shuffle_epi8(table(set.high[j]),
                                               _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
      fit = _mm256_and_si256(fit, _mm256_and_si256(low, high));
    }
    return bits(_mm256_cmpeq_epi8(fit, _mm256_setzero_si256())) ^ 0xffffffffu;
  }
};
static_assert(Lanes<Avx2>);

}  // namespace

#endif
#endif  // ENGINE_SIMD_LANES_AVX2_H_
