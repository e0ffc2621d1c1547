// The portable lane set: one byte at a time in plain C++, the reference for every other form.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_LANES_PORTABLE_H_
#define ENGINE_SIMD_LANES_PORTABLE_H_

#include <cstring>

#include "byte_scan.h"
#include "lanes.h"

namespace {

struct Portable {
  static constexpr int kWidth = 16;
  // Whether c stands at p[i] and d at q[i] for any i of n, a multiple of the width.
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (p[i] == c && q[i] == d) return true;
    }
    return false;
  }
  static uint64_t equal(const char* p, char c) {
    uint64_t mask = 0;
    for (int i = 0; i < kWidth; ++i) mask |= uint64_t{p[i] == c} << i;
    return mask;
  }
  static uint64_t separators(const char* p) {
    uint64_t mask = 0;
    for (int i = 0; i < kWidth; ++i) mask |= uint64_t{isFieldSeparator(p[i])} << i;
    return mask;
  }
  static void replace(char* p, char from, char to) {
    for (int i = 0; i < kWidth; ++i) {
      if (p[i] == from) p[i] = to;
    }
  }
  // The last place first: most bytes fit no bucket there, and the others are not looked at.
  static uint64_t tailHits(const char* p, const TailSet& set) {
    uint64_t mask = 0;
    for (int i = 0; i < kWidth; ++i) {
      unsigned fit = 0xff;
      for (int j = 2; j >= 0 && fit != 0; --j) {
        const auto b = static_cast<uint8_t>(p[i + j]);
        fit &= set.low[j][b & 15] & set.high[j][b >> 4];
      }
      mask |= uint64_t{fit != 0} << i;
    }
    return mask;
  }
  // Sixteen bytes as two words, "=" read as a space and the bytes from count on as zero.
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = i >= count ? '\0' : p[i] == '=' ? ' ' : p[i];
    std::memcpy(words, bytes, 16);
  }
};
static_assert(RecordLanes<Portable>);

}  // namespace

#endif  // ENGINE_SIMD_LANES_PORTABLE_H_
