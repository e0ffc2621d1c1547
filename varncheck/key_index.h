// The table checker's index of the keys it has seen, for telling a duplicate key's first line.
#ifndef VARNCHECK_KEY_INDEX_H_
#define VARNCHECK_KEY_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

// The distinct keys seen so far and the line of the first entry of each, in compact storage: the
// keys one after another in one reserved region, and open-addressing tables of 8-byte slots that
// point into it. A table of a million keys is far larger than the caches, and a key looked up in
// it at random waits on memory; so new keys go to a small table of their own, which is merged
// into the large one in the large one's order when it fills, and a key is looked for in the
// large table only when a filter of a byte a key says it may be there.
class KeyIndex {
 public:
  // Sized for about expectedKeys keys; it grows past them. The keys' bytes, six more a key, are
  // kept in at most keyBytes, and at most 4 GiB; keys past that are not indexed.
  explicit KeyIndex(size_t expectedKeys = 0, size_t keyBytes = SIZE_MAX);
  ~KeyIndex();
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;
  // Records key at line and returns 0, or returns the line of the key when it is there already.
  // Once the index has failed, records nothing and returns 0.
  long insert(std::string_view key, long line);
  // Whether the index could not get the memory it needed, when made or since.
  bool failed() const { return failed_; }

 private:
  struct Slot {
    uint32_t position;  // where the key stands in the region, plus one; 0 for an empty slot
    uint32_t hash;
  };
  struct Table {
    Slot* slots = nullptr;
    int bits = 0;  // log2 of the slot count; a slot is chosen by the hash's top bits
    size_t used = 0;
  };
  // The memory asked for, or nullptr.
  static void* map(size_t bytes, bool reserveOnly);
  // A table with no slots when its memory cannot be had.
  static Table makeTable(int bits);
  static void dropTable(Table& table);
  // The slot of the key in table, or the empty slot where it would go.
  Slot* find(const Table& table, std::string_view key, uint32_t hash) const;
  static void put(Table& table, Slot slot);
  uint64_t* filterBlock(uint32_t hash) const;
  bool mayHold(uint32_t hash) const;
  void addToFilter(uint32_t hash);
  void merge();
  bool growLarge(int bits);

  Table large_;
  Table recent_;
  uint64_t* filter_ = nullptr;  // blocks of 512 bits
  int filterBits_ = 0;          // log2 of the block count
  char* keys_ = nullptr;        // reserved, and taken in page by page as it is written
  size_t keysRoom_;             // bytes reserved
  size_t keysUsed_ = 0;
  bool failed_ = false;
};

#endif  // VARNCHECK_KEY_INDEX_H_
