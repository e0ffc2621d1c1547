#include "varncheck/key_index.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr int kLineBytes = 5;  // a line number as stored beside its key: up to 2^40

uint64_t load64(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

uint32_t load32(const char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

// The bytes of key past its last whole word, as one word; every byte of the key is read with
// whole loads, never one byte at a time into a word in memory, which the processor would have to
// read back before it could go on.
uint64_t tailWord(std::string_view key) {
  const size_t size = key.size(), rest = size % 8;
  const char* data = key.data();
  if (rest == 0) return 0;
  if (size >= 8) return load64(data + size - 8) >> (8 * (8 - rest));
  if (size >= 4) return load32(data) | uint64_t{load32(data + size - 4)} << 32;
  const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(data[i])}; };
  return byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16;
}

// 32 bits of hash, well mixed into the top bits, which choose a slot. Equal keys hash equal
// within a run; the value is not stored anywhere and may differ between machines.
uint32_t hashKey(std::string_view key) {
  // Eight bytes at a time, the length mixed in.
  uint64_t h = key.size() * 0x9e3779b97f4a7c15u;
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    h = (h ^ load64(key.data() + i)) * 0xff51afd7ed558ccdu;
    h ^= h >> 32;
  }
  if (i < key.size()) h = (h ^ tailWord(key)) * 0xff51afd7ed558ccdu;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53u;
  h ^= h >> 29;
  return static_cast<uint32_t>(h >> 32);
}

// A stored key starts with a word of its length (one byte) and its line (five), in the order of
// a little-endian machine on every machine.
uint64_t headerWord(uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(word);
  return word;
}

constexpr int kRecentBits = 16;  // small enough to stay in the cache; merged when half full
constexpr size_t kFilterBlockWords = 8;

int log2Ceil(size_t n) {
  int bits = 0;
  while ((size_t{1} << bits) < n) ++bits;
  return bits;
}

}  // namespace

KeyIndex::KeyIndex(size_t expectedKeys, size_t keyBytes) {
  large_ = makeTable(log2Ceil(std::max<size_t>(2 * expectedKeys, 1024)));
  recent_ = makeTable(kRecentBits);
  // A byte of filter a key: a block of 64 bytes for every 64 keys the large table may hold.
  filterBits_ = large_.bits - 7;
  filter_ = static_cast<uint64_t*>(map((kFilterBlockWords * 8) << filterBits_, false));
  // Positions are 32 bits. Reserving costs no memory, but a larger reserve than the keys can need
  // costs an emulator its bookkeeping; where even that is refused, less will do.
  keysRoom_ = std::min<size_t>(size_t{1} << 32, std::max<size_t>(keyBytes, size_t{1} << 16));
  for (; keysRoom_ >= (size_t{1} << 16); keysRoom_ /= 4) {
    keys_ = static_cast<char*>(map(keysRoom_, true));
    if (keys_ != nullptr) break;
  }
  failed_ =
      large_.slots == nullptr || recent_.slots == nullptr || filter_ == nullptr || keys_ == nullptr;
}

KeyIndex::~KeyIndex() {
  dropTable(large_);
  dropTable(recent_);
  if (filter_ != nullptr) munmap(filter_, (kFilterBlockWords * 8) << filterBits_);
  if (keys_ != nullptr) munmap(keys_, keysRoom_);
}

void* KeyIndex::map(size_t bytes, bool reserveOnly) {
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (reserveOnly ? MAP_NORESERVE : 0), -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  madvise(memory, bytes, MADV_HUGEPAGE);
  return memory;
}

KeyIndex::Table KeyIndex::makeTable(int bits) {
  Table table;
  table.bits = bits;
  table.slots = static_cast<Slot*>(map(sizeof(Slot) << bits, false));
  return table;
}

void KeyIndex::dropTable(Table& table) {
  if (table.slots != nullptr) munmap(table.slots, sizeof(Slot) << table.bits);
}

KeyIndex::Slot* KeyIndex::find(const Table& table, std::string_view key, uint32_t hash) const {
  const size_t mask = (size_t{1} << table.bits) - 1;
  for (size_t i = hash >> (32 - table.bits);; i = (i + 1) & mask) {
    Slot& slot = table.slots[i];
    if (slot.position == 0) return &slot;
    if (slot.hash != hash) continue;
    const char* stored = keys_ + slot.position - 1;
    if (static_cast<unsigned char>(stored[0]) == key.size() &&
        std::memcmp(stored + 1 + kLineBytes, key.data(), key.size()) == 0) {
      return &slot;
    }
  }
}

void KeyIndex::put(Table& table, Slot slot) {
  const size_t mask = (size_t{1} << table.bits) - 1;
  size_t i = slot.hash >> (32 - table.bits);
  while (table.slots[i].position != 0) i = (i + 1) & mask;
  table.slots[i] = slot;
  ++table.used;
}

// A key's four bits lie in one 64-byte block, chosen by the hash's top bits as its slot in the
// large table is, so that a merge walks the filter in the same order as the table.
uint64_t* KeyIndex::filterBlock(uint32_t hash) const {
  return filter_ + (hash >> (32 - filterBits_)) * kFilterBlockWords;
}

// The four bits' places in the block: a second mix of the whole hash, since its top bits are the
// same for every key of the block.
static uint64_t filterPlaces(uint32_t hash) {
  uint32_t h = hash * 0x9e3779b1u;
  h ^= h >> 15;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  return h;
}

bool KeyIndex::mayHold(uint32_t hash) const {
  const uint64_t* block = filterBlock(hash);
  const uint64_t places = filterPlaces(hash);
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (places >> (7 * k)) & 511;
    if ((block[bit >> 6] >> (bit & 63) & 1) == 0) return false;
  }
  return true;
}

void KeyIndex::addToFilter(uint32_t hash) {
  uint64_t* block = filterBlock(hash);
  const uint64_t places = filterPlaces(hash);
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (places >> (7 * k)) & 511;
    block[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
}

long KeyIndex::insert(std::string_view key, long line) {
  if (failed_) return 0;
  const uint32_t hash = hashKey(key);
  // The filter block is read on most inserts; its load overlaps the probe of the recent table.
  __builtin_prefetch(filterBlock(hash));
  Slot* slot = find(recent_, key, hash);
  if (slot->position == 0 && mayHold(hash)) {
    const Slot* old = find(large_, key, hash);
    if (old->position != 0) slot = const_cast<Slot*>(old);
  }
  if (slot->position != 0) {
    return static_cast<long>(headerWord(load64(keys_ + slot->position - 1)) >> 8 &
                             ((uint64_t{1} << (8 * kLineBytes)) - 1));
  }
  const size_t size = key.size(), need = 1 + kLineBytes + size;
  // Past the reserved region, later keys are not indexed. The key is written in whole words,
  // which may pass its end by up to 8 bytes.
  if (keysUsed_ + need + 8 >= keysRoom_) return 0;
  char* stored = keys_ + keysUsed_;
  const uint64_t header = headerWord(size | static_cast<uint64_t>(line) << 8);
  std::memcpy(stored, &header, 8);
  char* to = stored + 1 + kLineBytes;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) std::memcpy(to + i, key.data() + i, 8);
  if (size < 8) {
    std::memcpy(to, key.data(), size);
  } else if (i < size) {
    std::memcpy(to + size - 8, key.data() + size - 8, 8);  // the last word, overlapping
  }
  *slot = {static_cast<uint32_t>(keysUsed_ + 1), hash};
  keysUsed_ += need;
  if (++recent_.used * 2 >= (size_t{1} << recent_.bits)) merge();
  return 0;
}

// The recent table's slots are in the order of their hashes' top bits, which is the large
// table's order too: the merge walks both from start to end.
void KeyIndex::merge() {
  int bits = large_.bits;
  while ((large_.used + recent_.used) * 2 > (size_t{1} << bits)) ++bits;
  // Without the memory to grow, the recent table stays half full and the index stops.
  if (bits > large_.bits && !growLarge(bits)) {
    failed_ = true;
    return;
  }
  // Each put lands on a line of the large table of its own, far from the last: fetched a few
  // slots ahead, those lines arrive together rather than one after another.
  constexpr size_t kAhead = 32;
  const size_t count = size_t{1} << recent_.bits;
  for (size_t i = 0; i < count; ++i) {
    if (i + kAhead < count && recent_.slots[i + kAhead].position != 0) {
      __builtin_prefetch(&large_.slots[recent_.slots[i + kAhead].hash >> (32 - large_.bits)], 1);
    }
    Slot& slot = recent_.slots[i];
    if (slot.position == 0) continue;
    put(large_, slot);
    addToFilter(slot.hash);
    slot = {0, 0};
  }
  recent_.used = 0;
}

// Whether the large table could be made larger; if not, it stays as it was.
bool KeyIndex::growLarge(int bits) {
  Table grown = makeTable(bits);
  const int grownFilterBits = grown.bits - 7;
  auto* grownFilter =
      static_cast<uint64_t*>(map((kFilterBlockWords * 8) << grownFilterBits, false));
  if (grown.slots == nullptr || grownFilter == nullptr) {
    dropTable(grown);
    if (grownFilter != nullptr) munmap(grownFilter, (kFilterBlockWords * 8) << grownFilterBits);
    return false;
  }
  Table old = large_;
  large_ = grown;
  munmap(filter_, (kFilterBlockWords * 8) << filterBits_);
  filterBits_ = grownFilterBits;
  filter_ = grownFilter;
  const size_t count = size_t{1} << old.bits;
  for (size_t i = 0; i < count; ++i) {
    if (old.slots[i].position == 0) continue;
    put(large_, old.slots[i]);
    addToFilter(old.slots[i].hash);
  }
  dropTable(old);
  return true;
}
