#include "varncheck/key_index.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLineBytes = 5;  // a line number as stored beside its key: up to 2^40

// 32 bits of hash, well mixed into the top bits, which choose a slot. Equal keys hash equal
// within a run; the value is not stored anywhere and may differ between machines.
uint32_t hashKey(std::string_view key) {
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
  if (keys_ == nullptr) {
    std::fputs("varncheck: out of memory\n", stderr);
    std::exit(2);
  }
}

KeyIndex::~KeyIndex() {
  dropTable(large_);
  dropTable(recent_);
  munmap(filter_, (kFilterBlockWords * 8) << filterBits_);
  munmap(keys_, keysRoom_);
}

void* KeyIndex::map(size_t bytes, bool reserveOnly) {
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (reserveOnly ? MAP_NORESERVE : 0), -1, 0);
  if (memory == MAP_FAILED) {
    if (reserveOnly) return nullptr;
    std::fputs("varncheck: out of memory\n", stderr);
    std::exit(2);
  }
  madvise(memory, bytes, MADV_HUGEPAGE);
  return memory;
}

KeyIndex::Table KeyIndex::makeTable(int bits) {
  Table table;
  table.bits = bits;
  table.slots = static_cast<Slot*>(map(sizeof(Slot) << bits, false));
  return table;
}

void KeyIndex::dropTable(Table& table) { munmap(table.slots, sizeof(Slot) << table.bits); }

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

// A key's four bits lie in one 64-byte block, chosen by a second mix of the hash.
uint64_t* KeyIndex::filterBlock(uint32_t hash) const {
  return filter_ + ((hash * 0x9e3779b1u) >> (32 - filterBits_)) * kFilterBlockWords;
}

bool KeyIndex::mayHold(uint32_t hash) const {
  const uint64_t* block = filterBlock(hash);
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (hash >> (9 * k)) & 511;
    if ((block[bit >> 6] >> (bit & 63) & 1) == 0) return false;
  }
  return true;
}

void KeyIndex::addToFilter(uint32_t hash) {
  uint64_t* block = filterBlock(hash);
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (hash >> (9 * k)) & 511;
    block[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
}

long KeyIndex::insert(std::string_view key, long line) {
  const uint32_t hash = hashKey(key);
  Slot* slot = find(recent_, key, hash);
  if (slot->position == 0 && mayHold(hash)) {
    const Slot* old = find(large_, key, hash);
    if (old->position != 0) slot = const_cast<Slot*>(old);
  }
  if (slot->position != 0) {
    const char* stored = keys_ + slot->position - 1;
    long first = 0;
    for (int b = kLineBytes - 1; b >= 0; --b) {
      first = first << 8 | static_cast<unsigned char>(stored[1 + b]);
    }
    return first;
  }
  const size_t need = 1 + kLineBytes + key.size();
  // Past the reserved region, later keys are not indexed.
  if (keysUsed_ + need >= keysRoom_) return 0;
  char* stored = keys_ + keysUsed_;
  stored[0] = static_cast<char>(key.size());
  for (int b = 0; b < kLineBytes; ++b) stored[1 + b] = static_cast<char>(line >> (8 * b));
  std::memcpy(stored + 1 + kLineBytes, key.data(), key.size());
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
  if (bits > large_.bits) growLarge(bits);
  const size_t count = size_t{1} << recent_.bits;
  for (size_t i = 0; i < count; ++i) {
    Slot& slot = recent_.slots[i];
    if (slot.position == 0) continue;
    put(large_, slot);
    addToFilter(slot.hash);
    slot = {0, 0};
  }
  recent_.used = 0;
}

void KeyIndex::growLarge(int bits) {
  Table old = large_;
  large_ = makeTable(bits);
  munmap(filter_, (kFilterBlockWords * 8) << filterBits_);
  filterBits_ = large_.bits - 7;
  filter_ = static_cast<uint64_t*>(map((kFilterBlockWords * 8) << filterBits_, false));
  const size_t count = size_t{1} << old.bits;
  for (size_t i = 0; i < count; ++i) {
    if (old.slots[i].position == 0) continue;
    put(large_, old.slots[i]);
    addToFilter(old.slots[i].hash);
  }
  dropTable(old);
}
