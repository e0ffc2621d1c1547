// The AVX-512 lane set, for the block's maps on processors that have AVX-512BW: each test looks at
// 64 bytes and leaves its mask in a mask register, so that a map's word takes one instruction.
// Built wherever SSE2 is, and taken at run time only where the processor probe finds it.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_LANES_AVX512_H_
#define ENGINE_SIMD_LANES_AVX512_H_

#include "lanes_sse2.h"
#if LOOKUP_HAVE_SSE2
#include <immintrin.h>

#include <cstdint>

#include "lanes.h"

namespace {

// AVX-512 values never leave the functions compiled for AVX-512: the algorithms see masks.
#define LOOKUP_AVX512 __attribute__((target("avx512f,avx512bw")))
struct Avx512 {
  static constexpr int kWidth = 64;
  LOOKUP_AVX512 static __m512i load(const char* p) { return _mm512_loadu_si512(p); }
  LOOKUP_AVX512 static uint64_t equal(const char* p, char c) {
    return _mm512_cmpeq_epi8_mask(load(p), _mm512_set1_epi8(c));
  }
  // As in SSE2: a byte less tab, taken unsigned, is at most the separators' distance.
  LOOKUP_AVX512 static uint64_t separators(const char* p) {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(load(p), _mm512_set1_epi8('\t')),
                                  _mm512_set1_epi8('\r' - '\t'));
  }
};
static_assert(MapLanes<Avx512>);

}  // namespace

#endif
#endif  // ENGINE_SIMD_LANES_AVX512_H_
