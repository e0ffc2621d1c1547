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
void blockBitsWith(const char* text, size_t size, const BlockMaps& maps) {
  for (size_t word = 0; word * 64 < size; ++word) {
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
    if (maps.spaces != nullptr) maps.spaces[word] = sp;
  }
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

bool fitsBefore(char c, bool afterSpace) {
  return afterSpace ? c == ' ' || c == '=' : isFieldSeparator(c);
}

// Whether the byte after a piece fits, or there is none: at is the end of the piece.
bool fitsAfter(const char* text, size_t size, size_t at, FollowedBy followedBy) {
  if (at >= size) return true;
  switch (followedBy) {
    case FollowedBy::kFieldEnd:
      return isFieldSeparator(text[at]) || text[at] == '\0';
    case FollowedBy::kSpace:
      return text[at] == ' ' || text[at] == '=';
    default:
      return true;
  }
}

// The lanes of p where the byte fits what must follow a piece.
template <class V>
uint64_t followers(const char* p, FollowedBy followedBy) {
  switch (followedBy) {
    case FollowedBy::kFieldEnd:
      return V::separators(p) | V::equal(p, '\0');
    case FollowedBy::kSpace:
      return V::equal(p, ' ') | V::equal(p, '=');
    default:
      return ~uint64_t{0};
  }
}

// The candidates of the positions from i on, one by one, 128 at most.
Candidates lastCandidates(const char* text, size_t size, size_t i, const CandidateTest& test) {
  const char a = test.piece[test.offsetA], b = test.piece[test.offsetB];
  const auto fits = [&](size_t at) {
    return text[at + test.offsetA] == a && text[at + test.offsetB] == b &&
           fitsBefore(text[at - 1], test.afterSpace) &&
           fitsAfter(text, size, at + test.length, test.followedBy);
  };
  for (; i + test.length <= size; ++i) {
    if (!fits(i)) continue;
    Candidates found{i, {1, 0}};
    for (size_t j = 1; j < 128 && i + j + test.length <= size; ++j) {
      if (fits(i + j)) found.mask[j >> 6] |= uint64_t{1} << (j & 63);
    }
    return found;
  }
  return {size, {0, 0}};
}

// A step of 128 positions asks only whether both tested bytes stand together anywhere in it,
// with the lanes combined in registers and one test; a step that has such a place is looked at
// again with the bytes before and after, and given whole. The last positions, too few for a whole
// step with a byte after each, go one by one.
template <class V>
Candidates nextCandidatesWith(const char* text, size_t size, size_t from,
                              const CandidateTest& test) {
  constexpr size_t kStep = 128;
  const size_t n = test.length;
  const char a = test.piece[test.offsetA], b = test.piece[test.offsetB];
  size_t i = from > 0 ? from : 1;
  // A scan is asked again right after a block with candidates, where more are likely: its first
  // step goes straight to the exact test.
  for (bool first = true; i + n + kStep <= size; i += kStep, first = false) {
    const char* step = text + i;
    if (!first && !V::anyPair(step + test.offsetA, a, step + test.offsetB, b, kStep)) continue;
    Candidates exact{i, {0, 0}};
    for (size_t k = 0; k < kStep; k += V::kWidth) {
      const char* p = step + k;
      const uint64_t before =
          test.afterSpace ? V::equal(p - 1, ' ') | V::equal(p - 1, '=') : V::separators(p - 1);
      exact.mask[k >> 6] |= (V::equal(p + test.offsetA, a) & V::equal(p + test.offsetB, b) &
                             before & followers<V>(p + n, test.followedBy))
                            << (k & 63);
    }
    if (exact.any()) return exact;
  }
  return lastCandidates(text, size, i, test);
}

// Without vectors the C library's substring search goes faster than a test of every position: a
// block of one candidate, where the piece stands whole.
Candidates nextCandidatesPortable(const char* text, size_t size, size_t from,
                                  const CandidateTest& test) {
  const size_t n = test.length;
  size_t i = from > 0 ? from : 1;
  while (i + n <= size) {
    const void* hit = memmem(text + i, size - i, test.piece, n);
    if (hit == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text);
    if (fitsBefore(text[at - 1], test.afterSpace) &&
        fitsAfter(text, size, at + n, test.followedBy)) {
      // The others of its block.
      Candidates found{at, {1, 0}};
      for (size_t j = at + 1; j < at + 128 && j + n <= size; ++j) {
        const void* next = memmem(text + j, std::min(size, at + 127 + n) - j, test.piece, n);
        if (next == nullptr) break;
        j = static_cast<size_t>(static_cast<const char*>(next) - text);
        if (fitsBefore(text[j - 1], test.afterSpace) &&
            fitsAfter(text, size, j + n, test.followedBy)) {
          found.mask[(j - at) >> 6] |= uint64_t{1} << ((j - at) & 63);
        }
      }
      return found;
    }
    i = at + 1;
  }
  return {size, {0, 0}};
}

// Whether the last bytes of a piece of set stand at text[0, 3).
bool tailStandsAt(const char* text, const TailSet& set) {
  for (int k = 0; k < set.count; ++k) {
    int j = set.wild[k];
    while (j < 3 && static_cast<uint8_t>(text[j]) == set.tail[k][j]) ++j;
    if (j == 3) return true;
  }
  return false;
}

// The same where four bytes are readable: one load, and a word compared for each piece.
bool tailStandsInWord(const char* text, const TailSet& set) {
  uint32_t word;
  std::memcpy(&word, text, 4);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  for (int k = 0; k < set.count; ++k) {
    if ((word & set.wordMask[k]) == set.word[k]) return true;
  }
  return false;
}

// A step of 128 positions takes the lanes' hits, more than the pieces allow where the tables mix
// the pieces of a bucket, and keeps those where a piece's own bytes stand. The last positions, too
// few for a whole step, go one by one.
template <class V>
Candidates nextTailsWith(const char* text, size_t size, size_t from, const TailSet& set) {
  constexpr size_t kStep = 128;
  size_t i = from;
  // A whole step reads a word at its last position: three bytes past the step.
  for (; i + kStep + 3 <= size; i += kStep) {
    uint64_t low = 0, high = 0;
    for (size_t k = 0; k < 64; k += V::kWidth) {
      low |= V::tailHits(text + i + k, set) << k;
      high |= V::tailHits(text + i + 64 + k, set) << k;
    }
    if ((low | high) == 0) continue;
    Candidates exact{i, {0, 0}};
    for (; low != 0; low &= low - 1) {
      const int j = __builtin_ctzll(low);
      if (tailStandsInWord(text + i + j, set)) exact.mask[0] |= uint64_t{1} << j;
    }
    for (; high != 0; high &= high - 1) {
      const int j = __builtin_ctzll(high);
      if (tailStandsInWord(text + i + 64 + j, set)) exact.mask[1] |= uint64_t{1} << j;
    }
    if (exact.any()) return exact;
  }
  for (; i + 3 <= size; ++i) {
    if (!tailStandsAt(text + i, set)) continue;
    Candidates found{i, {1, 0}};
    for (size_t j = 1; j < 128 && i + j + 3 <= size; ++j) {
      if (tailStandsAt(text + i + j, set)) found.mask[j >> 6] |= uint64_t{1} << (j & 63);
    }
    return found;
  }
  return {size, {0, 0}};
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
