// A hash of a key's bytes for the programs' hash tables.
#ifndef LOOKUP_KEY_HASH_H_
#define LOOKUP_KEY_HASH_H_

#include <cstdint>
#include <cstring>
#include <string_view>

// 32 bits of hash, well mixed into the top bits, which choose a slot. Equal keys hash equal
// within a run; the value is not stored anywhere and may differ between machines.
inline uint32_t hashKey(std::string_view key) {
  // Eight bytes at a time, the last word filled out with zero bytes and the length mixed in.
  uint64_t h = key.size() * 0x9e3779b97f4a7c15u;
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, key.data() + i, 8);
    h = (h ^ word) * 0xff51afd7ed558ccdu;
    h ^= h >> 32;
  }
  if (i < key.size()) {
    uint64_t word = 0;
    std::memcpy(&word, key.data() + i, key.size() - i);
    h = (h ^ word) * 0xff51afd7ed558ccdu;
  }
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53u;
  h ^= h >> 29;
  return static_cast<uint32_t>(h >> 32);
}

#endif  // LOOKUP_KEY_HASH_H_
