// Each algorithm of the primitives written once, over a lane set V (lanes.h): dispatch.cpp makes
// each form of them from its lane set.
// Included by dispatch.cpp alone: what it defines has internal linkage.
#ifndef ENGINE_SIMD_GENERIC_H_
#define ENGINE_SIMD_GENERIC_H_

#include <string.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_scan.h"
#include "engine/limits.h"
#include "generic_candidates.h"

namespace {

template <class V>
RecordBits recordBitsWith(const char* text, int usable) {
  RecordBits bits{};
  for (int at = 0; at < usable; at += V::kWidth) {
    bits.separators[at >> 6] |= V::separators(text + at) << (at & 63);
    bits.spaces[at >> 6] |= V::equal(text + at, ' ') << (at & 63);
  }
  // Past the usable text everything ends a field, and nothing is a space.
  cutAtUsable(bits, usable);
  return bits;
}

// The slot in loads that cover its 40 bytes, the last one overlapping the one before.
template <class V, typename Step>
void overSlot(Step step) {
  for (int at = 0;; at += V::kWidth) {
    if (at + V::kWidth > kSlotSize) at = kSlotSize - V::kWidth;
    step(at);
    if (at + V::kWidth >= kSlotSize) return;
  }
}

template <class V>
void restoreSpacesWith(char* slot) {
  overSlot<V>([slot](int at) { V::replace(slot + at, '=', ' '); });
}

template <class V>
bool holdsByteWith(const char* slot, int length, char c) {
  uint64_t found = 0;
  overSlot<V>([&](int at) { found |= V::equal(slot + at, c) << at; });
  return (found & ((uint64_t{1} << length) - 1)) != 0;
}

// The words of the text, each mixed into the whole; the last step folds the product into the top
// bits too, which choose a slot.
template <class V>
uint64_t fieldHashWith(const char* bytes, int length) {
  uint64_t h = static_cast<uint64_t>(length) * 0x9e3779b97f4a7c15u;
  for (int at = 0; at < length; at += 16) {
    uint64_t words[2];
    V::folded(bytes + at, length - at, words);
    for (const uint64_t word : words) {
      h = (h ^ word) * 0xff51afd7ed558ccdu;
      h ^= h >> 32;
    }
  }
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53u;
  return h ^ h >> 29;
}

template <class V>
size_t firstNewlineWith(const char* text, size_t limit) {
  // Most lines end in their first 64 bytes: one mask of them all, then the rest.
  for (size_t at = 0; at < limit; at += 64) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += V::kWidth) mask |= V::equal(text + at + k, '\n') << k;
    if (mask != 0) {
      const size_t found = at + static_cast<size_t>(__builtin_ctzll(mask));
      return found < limit ? found : limit;
    }
  }
  return limit;
}

template <class V>
bool blockBitsWith(const char* text, size_t size, const BlockMaps& maps) {
  const size_t words = (size + 63) / 64;
  // The last word's bits past size are of bytes beyond the text.
  const uint64_t lastKept = size % 64 == 0 ? ~uint64_t{0} : (uint64_t{1} << size % 64) - 1;
  uint64_t anyZero = 0;
  for (size_t word = 0; word < words; ++word) {
    const char* p = text + word * 64;
    uint64_t n = 0, s = 0, z = 0, sp = 0;
    for (int at = 0; at < 64; at += V::kWidth) {
      n |= V::equal(p + at, '\n') << at;
      s |= V::separators(p + at) << at;
      z |= V::equal(p + at, '\0') << at;
      if (maps.spaces != nullptr) sp |= V::equal(p + at, ' ') << at;
    }
    maps.newlines[word] = n;
    maps.separators[word] = s;
    maps.zeros[word] = z;
    anyZero |= z & (word + 1 < words ? ~uint64_t{0} : lastKept);
    if (maps.spaces != nullptr) maps.spaces[word] = sp;
  }
  return anyZero != 0;
}

template <class V>
size_t lastNewlineWith(const char* text, size_t from, size_t to) {
  size_t i = to;
  for (; i >= from + V::kWidth; i -= V::kWidth) {
    if (const uint64_t mask = V::equal(text + i - V::kWidth, '\n')) {
      return i - V::kWidth + (63 - static_cast<size_t>(__builtin_clzll(mask)));
    }
  }
  const void* found = memrchr(text + from, '\n', i - from);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : to;
}

// Whether every run of bytes other than newlines is shorter than span: one mask of newlines each
// 64 bytes, and the bits of a mask walked only where a run inside it could be that long.
template <class V>
bool newlineInEverySpanWith(const char* text, size_t size, size_t span) {
  size_t run = 0;  // the bytes since the last newline
  for (size_t at = 0; at < size; at += 64) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += V::kWidth) mask |= V::equal(text + at + k, '\n') << k;
    const size_t count = std::min<size_t>(64, size - at);
    if (count < 64) mask &= (uint64_t{1} << count) - 1;
    if (mask == 0) {
      run += count;
      if (run >= span) return false;
      continue;
    }
    if (run + static_cast<size_t>(__builtin_ctzll(mask)) >= span) return false;
    if (static_cast<size_t>(bitCount(mask)) + span <= 64) {
      for (uint64_t rest = mask; (rest & (rest - 1)) != 0; rest &= rest - 1) {
        const int here = __builtin_ctzll(rest), next = __builtin_ctzll(rest & (rest - 1));
        if (static_cast<size_t>(next - here - 1) >= span) return false;
      }
    }
    run = count - 64 + static_cast<size_t>(__builtin_clzll(mask));
  }
  return run < span;
}

template <class V>
constexpr ByteScan byteScanWith() {
  return {recordBitsWith<V>,  restoreSpacesWith<V>,      holdsByteWith<V>,
          fieldHashWith<V>,   firstNewlineWith<V>,       blockBitsWith<V>,
          lastNewlineWith<V>, newlineInEverySpanWith<V>, nextCandidatesWith<V>,
          nextTailsWith<V>};
}

}  // namespace

#endif  // ENGINE_SIMD_GENERIC_H_
