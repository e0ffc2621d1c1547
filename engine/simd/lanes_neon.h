// The NEON lane set, the baseline of aarch64: defines LOOKUP_HAVE_NEON where the build has it.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_LANES_NEON_H_
#define ENGINE_SIMD_LANES_NEON_H_

#if !defined(LOOKUP_SCALAR_ONLY) && defined(__aarch64__) && defined(__ARM_NEON)
#define LOOKUP_HAVE_NEON 1
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "lanes.h"

namespace {

struct Neon {
  static constexpr int kWidth = 16;
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const uint8x16_t cs = vdupq_n_u8(static_cast<uint8_t>(c));
    const uint8x16_t ds = vdupq_n_u8(static_cast<uint8_t>(d));
    uint8x16_t found = vdupq_n_u8(0);
    for (size_t i = 0; i < n; i += kWidth) {
      found = vorrq_u8(found, vandq_u8(vceqq_u8(load(p + i), cs), vceqq_u8(load(q + i), ds)));
    }
    return vmaxvq_u8(found) != 0;
  }
  static uint64_t bits(uint8x16_t lanes) {
    static const uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t weighted = vandq_u8(lanes, vld1q_u8(kWeights));
    return vaddv_u8(vget_low_u8(weighted)) | uint64_t{vaddv_u8(vget_high_u8(weighted))} << 8;
  }
  static uint8x16_t load(const char* p) { return vld1q_u8(reinterpret_cast<const uint8_t*>(p)); }
  static uint64_t equal(const char* p, char c) {
    return bits(vceqq_u8(load(p), vdupq_n_u8(static_cast<uint8_t>(c))));
  }
  static uint64_t separators(const char* p) {
    const uint8x16_t d = vsubq_u8(load(p), vdupq_n_u8('\t'));
    return bits(vcleq_u8(d, vdupq_n_u8('\r' - '\t')));
  }
  static void replace(char* p, char from, char to) {
    const uint8x16_t v = load(p);
    const uint8x16_t hit = vceqq_u8(v, vdupq_n_u8(static_cast<uint8_t>(from)));
    vst1q_u8(reinterpret_cast<uint8_t*>(p), vbslq_u8(hit, vdupq_n_u8(static_cast<uint8_t>(to)), v));
  }
  static uint64_t tailHits(const char* p, const TailSet& set) {
    uint8x16_t fit = vdupq_n_u8(0xff);
    for (int j = 0; j < 3; ++j) {
      const uint8x16_t v = load(p + j);
      const uint8x16_t low = vqtbl1q_u8(vld1q_u8(set.low[j]), vandq_u8(v, vdupq_n_u8(0x0f)));
      const uint8x16_t high = vqtbl1q_u8(vld1q_u8(set.high[j]), vshrq_n_u8(v, 4));
      fit = vandq_u8(fit, vandq_u8(low, high));
    }
    return bits(vtstq_u8(fit, fit));
  }
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    static const uint8_t kLanes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const uint8x16_t v = load(p);
    const uint8x16_t hit = vceqq_u8(v, vdupq_n_u8('='));
    const uint8x16_t keep =
        vcltq_u8(vld1q_u8(kLanes), vdupq_n_u8(static_cast<uint8_t>(count < 16 ? count : 16)));
    const uint8x16_t spaced = vbslq_u8(hit, vdupq_n_u8(' '), v);
    vst1q_u8(reinterpret_cast<uint8_t*>(words), vandq_u8(spaced, keep));
  }
};
static_assert(RecordLanes<Neon>);

}  // namespace

#endif
#endif  // ENGINE_SIMD_LANES_NEON_H_
