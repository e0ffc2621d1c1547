// The lane-set contract, written once: what each lanes_X.h gives the algorithms of generic.h.
// A lane set looks at kWidth bytes at a time, and each test gives a mask of one bit a byte (bit i
// for p[i]). The portable lane set is the reference; a vector one may only go faster. A new
// instruction set is a lanes file that meets this contract and an entry in dispatch.cpp.
#ifndef ENGINE_SIMD_LANES_H_
#define ENGINE_SIMD_LANES_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "byte_scan.h"

// What a lane set for the block's maps provides, with p readable for kWidth bytes:
//   kWidth                   16, 32 or 64: bytes a test looks at, which divides 64
//   equal(p, c)              the lanes where p holds c
//   separators(p)            the lanes where p holds a field separator (isFieldSeparator)
template <class V>
concept MapLanes = requires(const char* p, char c) {
  requires V::kWidth == 16 || V::kWidth == 32 || V::kWidth == 64;
  { V::equal(p, c) } -> std::same_as<uint64_t>;
  { V::separators(p) } -> std::same_as<uint64_t>;
};

// What every lane set for all the scans provides besides, with p readable for kWidth bytes
// (anyPair: for n):
//   kWidth                   16 or 32
//   anyPair(p, c, q, d, n)   whether c stands at p[i] and d at q[i] for any i of n, a multiple
//                            of kWidth
//   replace(p, from, to)     writes to over every from of p's kWidth bytes
//   tailHits(p, set)         the lanes i where the last bytes of a piece of set may stand at
//                            p[i, i + 3): every lane where they do, and perhaps more where the
//                            nibble tables mix the pieces of a bucket; p has kWidth + 2 readable
template <class V>
concept Lanes = MapLanes<V> && requires(const char* p, char* q, char c, size_t n) {
  requires V::kWidth == 16 || V::kWidth == 32;
  { V::anyPair(p, c, p, c, n) } -> std::same_as<bool>;
  { V::replace(q, c, c) } -> std::same_as<void>;
  { V::tailHits(p, std::declval<const TailSet&>()) } -> std::same_as<uint64_t>;
};

// What a lane set for record-sized work also provides, for the whole of ByteScan:
//   folded(p, count, words)  sixteen bytes of p as two words, "=" read as a space and the bytes
//                            from count on as zero; count may be over 16
template <class V>
concept RecordLanes = Lanes<V> && V::kWidth == 16 &&
                      requires(const char* p, int count, uint64_t (&words)[2]) {
  { V::folded(p, count, words) } -> std::same_as<void>;
};

#endif  // ENGINE_SIMD_LANES_H_
