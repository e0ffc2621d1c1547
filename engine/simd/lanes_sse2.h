// The SSE2 lane set, the baseline of x86-64: defines LOOKUP_HAVE_SSE2 where the build has it.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_LANES_SSE2_H_
#define ENGINE_SIMD_LANES_SSE2_H_

#if !defined(LOOKUP_SCALAR_ONLY) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define LOOKUP_HAVE_SSE2 1
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "lanes.h"

namespace {

struct Sse2 {
  static constexpr int kWidth = 16;
  static __m128i load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  // The lanes are combined in registers, with one test at the end.
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const __m128i cs = _mm_set1_epi8(c), ds = _mm_set1_epi8(d);
    __m128i found = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += kWidth) {
      found = _mm_or_si128(
          found, _mm_and_si128(_mm_cmpeq_epi8(load(p + i), cs), _mm_cmpeq_epi8(load(q + i), ds)));
    }
    return _mm_movemask_epi8(found) != 0;
  }
  static uint64_t bits(__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); }
  static uint64_t equal(const char* p, char c) {
    return bits(_mm_cmpeq_epi8(load(p), _mm_set1_epi8(c)));
  }
  // Separators run from tab to carriage return: a byte less tab, taken unsigned, is at most their
  // distance.
  static uint64_t separators(const char* p) {
    const __m128i d = _mm_sub_epi8(load(p), _mm_set1_epi8('\t'));
    return bits(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8('\r' - '\t')), d));
  }
  static void replace(char* p, char from, char to) {
    const __m128i v = load(p);
    const __m128i hit = _mm_cmpeq_epi8(v, _mm_set1_epi8(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(_mm_and_si128(hit, _mm_set1_epi8(to)), _mm_andnot_si128(hit, v)));
  }
  // Without a byte shuffle each piece is compared on its own: exact, and quick for a few.
  static uint64_t tailHits(const char* p, const TailSet& set) {
    const __m128i v[3] = {load(p), load(p + 1), load(p + 2)};
    __m128i any = _mm_setzero_si128();
    for (int k = 0; k < set.count; ++k) {
      __m128i fit = _mm_set1_epi8(-1);
      for (int j = set.wild[k]; j < 3; ++j) {
        const __m128i byte = _mm_set1_epi8(static_cast<char>(set.tail[k][j]));
        fit = _mm_and_si128(fit, _mm_cmpeq_epi8(v[j], byte));
      }
      any = _mm_or_si128(any, fit);
    }
    return bits(any);
  }
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    const __m128i v = load(p);
    const __m128i hit = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    const __m128i keep =
        _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(count < 16 ? count : 16)),
                       _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    const __m128i spaced =
        _mm_or_si128(_mm_and_si128(hit, _mm_set1_epi8(' ')), _mm_andnot_si128(hit, v));
    const __m128i kept = _mm_and_si128(spaced, keep);
    words[0] = static_cast<uint64_t>(_mm_cvtsi128_si64(kept));
    words[1] = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(kept, kept)));
  }
};
static_assert(RecordLanes<Sse2>);

}  // namespace

#endif
#endif  // ENGINE_SIMD_LANES_SSE2_H_
