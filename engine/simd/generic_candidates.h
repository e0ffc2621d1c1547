// The candidate searches of the primitives written once, over a lane set V (lanes.h): where a key
// piece, or any of a set of pieces, may stand in a block. Part of generic.h, which includes it.
// Included by dispatch.cpp alone, through generic.h: what it defines has internal linkage.
#ifndef ENGINE_SIMD_GENERIC_CANDIDATES_H_
#define ENGINE_SIMD_GENERIC_CANDIDATES_H_

#include <string.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_scan.h"

namespace {

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

}  // namespace

#endif  // ENGINE_SIMD_GENERIC_CANDIDATES_H_
