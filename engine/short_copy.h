// Copies of the few bytes of a key or a field, made inline.
#ifndef ENGINE_SHORT_COPY_H_
#define ENGINE_SHORT_COPY_H_

#include <cstddef>
#include <cstring>

namespace short_copy_detail {

// The first and last kSize bytes of n, kSize <= n <= 2 * kSize, both read before either is written.
template <size_t kSize>
inline void ends(char* to, const char* from, size_t n) {
  char head[kSize], tail[kSize];
  std::memcpy(head, from, kSize);
  std::memcpy(tail, from + n - kSize, kSize);
  std::memcpy(to, head, kSize);
  std::memcpy(to + n - kSize, tail, kSize);
}

}  // namespace short_copy_detail

// Copies n bytes from from to to, as memcpy does, where n is at most kMax, itself at most 64: two
// fixed loads that overlap, touching no byte outside either range. The static build's memcpy is a
// call for any length not known when compiling, and for a key's few bytes the call cost more than
// the copy.
template <size_t kMax>
inline void copyShort(char* to, const char* from, size_t n) {
  static_assert(kMax <= 64);
  using short_copy_detail::ends;
  if (n > kMax) __builtin_unreachable();
  if (n >= 16) {
    if constexpr (kMax > 32) {
      if (n > 32) return ends<32>(to, from, n);
    }
    if constexpr (kMax >= 16) ends<16>(to, from, n);
  } else if (n >= 8) {
    ends<8>(to, from, n);
  } else if (n >= 4) {
    ends<4>(to, from, n);
  } else if (n > 0) {
    const char first = from[0], middle = from[n / 2], last = from[n - 1];
    to[0] = first;
    to[n / 2] = middle;
    to[n - 1] = last;
  }
}

// Copies n bytes, of any number, from from to to: inline up to 64, as an answer or a piece of
// output most often is, and by memcpy past that.
inline void copyFew(char* to, const char* from, size_t n) {
  if (n <= 64) return copyShort<64>(to, from, n);
  std::memcpy(to, from, n);
}

#endif  // ENGINE_SHORT_COPY_H_
