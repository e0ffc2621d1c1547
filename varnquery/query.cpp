#include "varnquery/query.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/key_search.h"
#include "engine/limits.h"
#include "engine/short_copy.h"
#include "engine/table_reader.h"
#include "varnquery/memory.h"

namespace {

constexpr uint32_t kNeverFound = UINT32_MAX;  // in the order of keys: a key that matches nothing
constexpr size_t kOutputSize = 16 * 1024;
constexpr size_t kAnswerMax = 2 + 1 + kRecordMax + 2;  // status, tab, record, newline, zero byte
constexpr size_t kKeysMax = size_t{1} << 28;           // keys a set can be made for

// A distinct key of the batch that an entry may have: a quarter of a cache line, so that the
// keys of a large batch touch few pages.
struct alignas(16) Wanted {
  const char* argument;  // the first key argument that makes it, the key's text after the prefix
  uint32_t answerAt;     // where its answer stands once found
  unsigned char keyLength;
  unsigned char answerLength;
  bool found;
};
static_assert(sizeof(Wanted) == 16);

// Whether a key can equal a key field at all: a field is never empty, and after the split and
// the restoration of spaces it holds no "=" and no separator.
bool mayMatch(const Key& key) {
  if (key.tooLong || key.length == 0) return false;
  for (size_t i = 0; i < key.length; ++i) {
    if (key.text[i] == '=' || isFieldSeparator(key.text[i])) return false;
  }
  return true;
}

// Each "=" of the eight bytes of word read as a space: the bytes equal to "=" found exactly, with
// no carry from one byte into the next.
uint64_t equalsAsSpaces(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
  const uint64_t x = word ^ 0x3d3d3d3d3d3d3d3du;  // zero where "=" stood
  const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
  return word ^ (zero >> 7) * ('=' ^ ' ');
}

// A first look at a text of length bytes that may be a key, before any hash: its length and its
// first and last eight bytes (which hold all of it up to sixteen), mixed by one product, whose
// upper half, the part the filter takes, depends on nearly every bit of them. "=" is read as a
// space when spaces counts: where no key holds a space, a text with a space or "=" is none of
// them, whatever its glance. bytes has 8 readable.
template <bool spaces>
inline uint64_t glance(const char* bytes, int length) {
  uint64_t first, last;
  std::memcpy(&first, bytes, 8);
  std::memcpy(&last, bytes + (length > 8 ? length - 8 : 0), 8);
  if (length < 8) {
    uint64_t keep = (uint64_t{1} << (8 * length)) - 1;
    if constexpr (std::endian::native == std::endian::big) keep = __builtin_bswap64(keep);
    first &= keep;
    last = 0;
  }
  if constexpr (spaces) {
    first = equalsAsSpaces(first);
    last = equalsAsSpaces(last);
  }
  const uint64_t x = first ^ std::rotl(last, 29);
  return (x + static_cast<uint64_t>(length)) * 0x9e3779b97f4a7c15u;
}

// The distinct keys that may match, in open addressing by their hash, behind a filter of two bits
// a key in one word, sixteen bits a key, which stays near the processor for thousands of keys and
// turns most key fields of a table away by their glance and one load, before any hash is taken.
// Memory grows with the keys alone, and is all taken, in one piece, before the table is read;
// the piece also holds, for each key argument, the index of its key (see order).
class WantedSet {
 public:
  explicit WantedSet(std::string_view prefix) : prefix_(prefix) {}

  bool reserve(size_t keys) {
    // A slot's bits hold the index of a key and what its place leaves of its hash: past 2^28 keys
    // too few of the hash would be left, and the memory would be out of reach anyway.
    if (keys > kKeysMax) return false;
    // A slot in three stays empty at the least, which ends every search soon: each fresh page
    // costs several microseconds here, more than a few probes more in the same cache line.
    bits_ = 4;
    while ((size_t{1} << bits_) < keys + keys / 2 + 1) ++bits_;
    // At least sixteen bits a key; the filter stays within the second-level cache, at 128 KiB,
    // where it is most use.
    filterBits_ = 7;
    while (filterBits_ < 20 && (size_t{1} << filterBits_) < 16 * keys) ++filterBits_;
    const size_t slotBytes = (size_t{1} << bits_) * sizeof *slots_;
    const size_t filterBytes = size_t{1} << (filterBits_ - 3);
    const size_t wantedBytes = (keys + 1) * sizeof(Wanted);
    bytes_ = slotBytes + filterBytes + wantedBytes + (keys + 1) * sizeof *order_;
    memory_ = static_cast<char*>(takeMemory(bytes_, Touch::kAll));
    if (memory_ == nullptr) return false;
    slots_ = reinterpret_cast<uint32_t*>(memory_);
    filter_ = reinterpret_cast<uint64_t*>(memory_ + slotBytes);
    wanted_ = reinterpret_cast<Wanted*>(memory_ + slotBytes + filterBytes);
    order_ = reinterpret_cast<uint32_t*>(memory_ + slotBytes + filterBytes + wantedBytes);
    return true;
  }
  ~WantedSet() { giveMemory(memory_, bytes_, Touch::kAll); }

  // The hash by which add files a key.
  static uint32_t hashOf(const Key& key) {
    char padded[kHashLoad];
    return hashOf(pad(key, padded), static_cast<int>(key.length));
  }

  // Fetches the slot where a key of hash is looked for first: asked a few keys ahead, the slots of
  // many keys are fetched at once.
  void prefetch(uint32_t hash) const { __builtin_prefetch(&slots_[hash >> (32 - bits_)]); }

  // The index of the key, whose hashOf is hash, added with argument if it is new.
  uint32_t add(const Key& key, const char* argument, uint32_t hash) {
    char padded[kHashLoad];
    uint32_t* slot = find(pad(key, padded), key.length, hash);
    if (*slot != 0) return indexIn(*slot) - 1;
    wanted_[count_] = {argument, 0, static_cast<unsigned char>(key.length), 0, false};
    for (size_t i = 0; i < key.length; ++i) spaces_ = spaces_ || key.text[i] == ' ';
    const uint64_t look = glance<false>(padded, static_cast<int>(key.length));  // it has no "="
    filter_[look >> (70 - filterBits_)] |= filterMask(look);
    *slot = tagOf(hash) | static_cast<uint32_t>(++count_);
    return static_cast<uint32_t>(count_ - 1);
  }

  // The filter alone, as a walk over every record keeps it: a copy held in registers.
  struct Filter {
    const uint64_t* words;
    int shift;  // of a glance, to its word

    // Whether the filter lets bytes[0, length) through, the glance taken with "=" read as a
    // space when kSpaces: true for every key of the set. bytes has 8 readable.
    template <bool kSpaces>
    bool mayHold(const char* bytes, int length) const {
      const uint64_t look = glance<kSpaces>(bytes, length);
      const uint64_t mask = filterMask(look);
      return (words[look >> shift] & mask) == mask;
    }
  };
  Filter filter() const { return {filter_, 70 - filterBits_}; }
  bool spaces() const { return spaces_; }  // some key holds a space: see glance

  // The hash of bytes[0, length) as hashOf takes it, its slot fetched; bytes has 48 readable.
  uint32_t hashAt(const char* bytes, int length) const {
    const uint32_t hash = hashOf(bytes, length);
    prefetch(hash);
    return hash;
  }

  // Fetches the key that the first slot of hash names, if it has that hash: for a text that the
  // filter let through, most often the key it equals.
  void prefetchKey(uint32_t hash) const {
    if (const Wanted* w = firstWith(hash)) __builtin_prefetch(w);
  }

  // Fetches the text of the key that prefetchKey fetched, once that has come: most often the text
  // that a hit is compared with.
  void prefetchText(uint32_t hash) const {
    if (const Wanted* w = firstWith(hash)) __builtin_prefetch(w->argument);
  }

  // The key still waiting for its entry that equals bytes[0, length) with each "=" read as a
  // space, or null; hash is the text's hashAt, bytes has 48 readable.
  Wanted* waiting(const char* bytes, int length, uint32_t hash) {
    const uint32_t index = indexIn(*find(bytes, static_cast<size_t>(length), hash));
    if (index == 0 || wanted_[index - 1].found) return nullptr;
    return &wanted_[index - 1];
  }

  // The same, before any hash: for the paths that find their records by the keys' pieces.
  Wanted* waiting(const char* bytes, int length) {
    const Filter f = filter();
    if (!(spaces_ ? f.mayHold<true>(bytes, length) : f.mayHold<false>(bytes, length))) {
      return nullptr;
    }
    return waiting(bytes, length, hashOf(bytes, length));
  }

  // The key that w was added for.
  Key keyOf(const Wanted& w) const {
    Key key;
    copyShort<kSlotSize - 1>(key.text, prefix_.data(), prefix_.size());
    copyShort<kSlotSize - 1>(key.text + prefix_.size(), w.argument, w.keyLength - prefix_.size());
    key.length = w.keyLength;
    key.text[key.length] = '\0';
    return key;
  }

  // Room for the index of each key argument's key, or kNeverFound, in the order of the arguments.
  uint32_t* order() const { return order_; }

  Wanted& operator[](uint32_t i) { return wanted_[i]; }
  const Wanted& operator[](uint32_t i) const { return wanted_[i]; }
  size_t size() const { return count_; }

 private:
  static uint32_t hashOf(const char* bytes, int length) {
    return static_cast<uint32_t>(fieldHash(bytes, length) >> 32);
  }

  // Where the key that the first slot of hash names stands, if that slot bears the hash's tag
  // (see tagOf); only the slot is read.
  const Wanted* firstWith(uint32_t hash) const {
    const uint32_t slot = slots_[hash >> (32 - bits_)];
    return slot != 0 && tagIn(slot) == tagOf(hash) ? &wanted_[indexIn(slot) - 1] : nullptr;
  }

  // A key's word of the filter is its glance's top bits, filterBits_ - 6 of them (a shift of
  // 70 - filterBits_); these are its two bits there.
  static uint64_t filterMask(uint64_t look) {
    return uint64_t{1} << (look >> 32 & 63) | uint64_t{1} << (look >> 38 & 63);
  }

  // The key's text with 48 bytes readable, as the hash and the glance load them; what stands past
  // its length counts for neither.
  static const char* pad(const Key& key, char (&padded)[kHashLoad]) {
    std::memcpy(padded, key.text, sizeof key.text);
    std::memset(padded + sizeof key.text, 0, sizeof padded - sizeof key.text);
    return padded;
  }

  // A key holds no "=", so one read as the table's bytes are equals it byte for byte.
  static bool sameText(const char* key, const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      if (key[i] != (bytes[i] == '=' ? ' ' : bytes[i])) return false;
    }
    return true;
  }

  // A slot holds the bits of its key's hash below those that chose its first place, above the
  // index of its Wanted plus one, which is below 2^bits_: so that a probe past other keys seldom
  // reads a key, in four bytes a slot.
  uint32_t tagOf(uint32_t hash) const { return hash << bits_; }
  uint32_t tagIn(uint32_t slot) const { return slot >> bits_ << bits_; }
  uint32_t indexIn(uint32_t slot) const { return slot & ((uint32_t{1} << bits_) - 1); }

  uint32_t* find(const char* bytes, size_t length, uint32_t hash) {
    const size_t mask = (size_t{1} << bits_) - 1;
    const size_t prefix = prefix_.size();
    const uint32_t tag = tagOf(hash);
    for (size_t i = hash >> (32 - bits_);; i = (i + 1) & mask) {
      const uint32_t slot = slots_[i];
      if (slot == 0) return &slots_[i];
      if (tagIn(slot) != tag) continue;
      const Wanted& w = wanted_[indexIn(slot) - 1];
      if (w.keyLength == length && sameText(prefix_.data(), bytes, prefix) &&
          sameText(w.argument, bytes + prefix, length - prefix)) {
        return &slots_[i];
      }
    }
  }

  std::string_view prefix_;    // in front of every key's argument
  uint32_t* slots_ = nullptr;  // 0 when empty; see tagOf
  int bits_ = 0;
  uint64_t* filter_ = nullptr;
  int filterBits_ = 0;
  bool spaces_ = false;  // some key holds a space
  Wanted* wanted_ = nullptr;
  size_t count_ = 0;
  uint32_t* order_ = nullptr;
  char* memory_ = nullptr;  // where the slots, the filter, the keys and the order stand
  size_t bytes_ = 0;
};

// Output gathered in one buffer and written when it fills.
class Output {
 public:
  explicit Output(int fd) : fd_(fd), buffer_(static_cast<char*>(std::malloc(kOutputSize))) {}
  ~Output() { std::free(buffer_); }
  bool ready() const { return buffer_ != nullptr; }

  void add(std::string_view bytes) {
    if (used_ + bytes.size() > kOutputSize) flush();
    copyFew(buffer_ + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }
  void add(char c) { add(std::string_view(&c, 1)); }

  // Writes what is gathered; false when this or an earlier write failed, errno telling why.
  bool flush() {
    if (ok_ && used_ > 0 && !writeAll(fd_, {buffer_, used_})) {
      ok_ = false;
      errno_ = errno;
    }
    used_ = 0;
    return ok_;
  }
  int error() const { return errno_; }

 private:
  int fd_;
  char* buffer_;
  size_t used_ = 0;
  bool ok_ = true;
  int errno_ = 0;
};

// Memory for count values of T, given back when the run returns. A confined run never returns:
// it ends before anything is given back, since that would unmap memory.
// (The C++ library's owning pointer would bring in headers that the musl build cannot take.)
template <typename T>
class Owned {
 public:
  explicit Owned(size_t count, Touch touch)
      : bytes_(count * sizeof(T)),
        touch_(touch),
        memory_(static_cast<T*>(takeMemory(bytes_, touch))) {}
  ~Owned() { giveMemory(memory_, bytes_, touch_); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  explicit operator bool() const { return memory_ != nullptr; }
  T* get() const { return memory_; }
  T& operator*() const { return *memory_; }
  T* operator->() const { return memory_; }

 private:
  size_t bytes_;
  Touch touch_;
  T* memory_;
};

// The table as it is read: the reader, its block's bits, and the answers found so far.
struct Scan {
  const LookupProfile& profile;
  Selector selector;
  TableReader& table;
  BlockBits& bits;
  char* answers;  // room for one answer of each distinct key
};

// Collects each of keys that may match into set, once, and puts the index of its entry in set (or
// kNeverFound) at its place in the set's order. Each key is made and hashed a few keys before it
// is filed, so that the slots of several keys are fetched at once.
void collectKeys(const LookupProfile& profile, const QueryKeys& keys, WantedSet& set) {
  constexpr size_t kAhead = 8;
  uint32_t* order = set.order();
  struct Ready {
    Key key;
    const char* argument;
    uint32_t hash;
  } ready[kAhead];
  const char* packed = keys.packed;
  for (size_t i = 0; i < keys.count + kAhead; ++i) {
    if (i >= kAhead) {
      const Ready& r = ready[(i - kAhead) % kAhead];
      order[i - kAhead] = mayMatch(r.key) ? set.add(r.key, r.argument, r.hash) : kNeverFound;
    }
    if (i < keys.count) {
      Ready& r = ready[i % kAhead];
      if (keys.list != nullptr) {
        r.argument = keys.list[i];
      } else {
        r.argument = packed;
        packed += std::strlen(packed) + 1;
      }
      r.key = makeKey(profile.keyPrefix, r.argument);
      r.hash = WantedSet::hashOf(r.key);
      set.prefetch(r.hash);
    }
  }
}

// What one pass has found: the answers, in the order their entries stand, and how many distinct
// keys still wait for theirs.
struct Found {
  size_t answersUsed = 0;
  size_t waiting;
};

// Answers w by the record in record.buffer if it is w's entry, or when w is null, the key of its
// key field if that is a key still waiting. The first entry of each key answers it: the lookup's
// own parse and match.
void take(const Scan& scan, WantedSet& set, Found& found, HostRecord& record, Wanted* w) {
  const int taken = parseRecord(record, scan.profile.fieldCount);
  if (w == nullptr) {
    if (taken < 3 || record.overLong[3]) return;
    w = set.waiting(record.slots[3], record.slotLength[3]);  // slots[3] has 48 bytes readable
    if (w == nullptr) return;
  }
  if (!isEntryFor(set.keyOf(*w), record, taken)) return;
  char line[kSlotSize + 1];
  const std::string_view answer = answerText(record, scan.selector, line);
  copyFew(scan.answers + found.answersUsed, answer.data(), answer.size());
  w->answerAt = static_cast<uint32_t>(found.answersUsed);
  w->answerLength = static_cast<unsigned char>(answer.size());
  w->found = true;
  found.answersUsed += answer.size();
  --found.waiting;
}

// How a pass finds the records that may answer a key, chosen by the keys before the table is
// read: one key skips to its piece as its own lookup does; a few keys skip to any of their
// pieces, found together; more keys look at every record's key field, through the set's filter.
enum class Path { kOneKey, kFewKeys, kManyKeys };

// A piece of one or two bytes stands almost everywhere, and a set of pieces where any of them
// does would cost more than looking at every key field.
constexpr size_t kFewKeysPieceMin = 3;

Path pathFor(const WantedSet& set) {
  if (set.size() <= 1) return Path::kOneKey;
  if (set.size() > kTailsMax) return Path::kManyKeys;
  for (uint32_t i = 0; i < set.size(); ++i) {
    const Key key = set.keyOf(set[i]);
    if (searchPiece(key.view()).text.size() < kFewKeysPieceMin) return Path::kManyKeys;
  }
  return Path::kFewKeys;
}

void scanForOneKey(const Scan& scan, WantedSet& set, Found& found) {
  const Key key = set.keyOf(set[0]);
  const KeyPiece piece = searchPiece(key.view());
  HostRecord record{};
  while (found.waiting > 0 && skipToCandidate(scan.table, piece) &&
         readRecord(scan.table, record)) {
    take(scan, set, found, record, &set[0]);
  }
}

void scanForFewKeys(const Scan& scan, WantedSet& set, Found& found) {
  Key keys[kTailsMax];
  KeyPiece pieces[kTailsMax];
  const auto count = static_cast<uint32_t>(set.size());
  for (uint32_t i = 0; i < count; ++i) {
    keys[i] = set.keyOf(set[i]);
    pieces[i] = searchPiece(keys[i].view());
  }
  const PieceSet pieceSet = pieceSetFor(pieces, static_cast<int>(count));
  HostRecord record{};
  while (found.waiting > 0 && skipToAnyCandidate(scan.table, pieceSet) &&
         readRecord(scan.table, record)) {
    take(scan, set, found, record, nullptr);
  }
}

// A record of the table whose key field the filter let through.
struct Candidate {
  std::string_view bytes;  // the record, in the block until the next read
  FieldSpan field;
  uint32_t hash;
};
constexpr size_t kCandidatesMax = 32;

// Where a record's key field stands when its first 64 bytes do not show it: kept out of the walk's
// loop, which seldom needs it.
__attribute__((noinline)) FieldSpan keyFieldBeyond(std::string_view bytes, PrefixField third) {
  return keyFieldSpan(bytes, third);
}

// Walks the records of the block from the reader's place, finding each one's key field and
// looking at it through the set's filter (kSpaces as the set's spaces()), until kCandidatesMax
// records have passed or the block's bits show no more; returns how many passed, which were put
// in candidates, and takes one record the slow way where the bits show none. walked says whether
// the table had any record left.
template <bool kSpaces>
inline size_t walkRecords(const Scan& scan, WantedSet::Filter filter, Candidate* candidates,
                          bool& walked) {
  size_t count = 0;
  const auto consider = [filter, candidates, &count](std::string_view bytes,
                                                     const PrefixField& third) {
    // Most records show their key field in their first 64 bytes.
    const FieldSpan field =
        third.known ? FieldSpan{third.start, third.length < kSlotSize ? third.length : -1}
                    : keyFieldBeyond(bytes, third);
    if (field.length >= 0 && filter.mayHold<kSpaces>(bytes.data() + field.start, field.length)) {
      candidates[count++] = {bytes, field, 0};
    }
    return count < kCandidatesMax;
  };
  walked = true;
  if (!visitRecordsShowingThird(scan.table, scan.bits, consider)) {
    std::string_view bytes;
    PrefixField third;
    walked = nextRecordShowingThird(scan.table, scan.bits, bytes, third);
    if (walked) consider(bytes, third);
  }
  return count;
}

// The walk for each kind of set, as a plain function and, where the processor has AVX2, compiled
// a second time for it. The walk is all bit work on words, which every processor with AVX2 does
// in single instructions of BMI1 and BMI2 (shifts by a count in any register, the count of
// trailing zeros): with everything it calls inlined, it took a tenth less time.
using Walk = size_t (*)(const Scan&, WantedSet::Filter, Candidate*, bool&);
template <bool kSpaces>
size_t walkPlain(const Scan& scan, WantedSet::Filter filter, Candidate* candidates, bool& walked) {
  return walkRecords<kSpaces>(scan, filter, candidates, walked);
}
#if defined(__x86_64__)
template <bool kSpaces>
__attribute__((target("avx2,bmi,bmi2"), flatten)) size_t walkBmi2(const Scan& scan,
                                                                  WantedSet::Filter filter,
                                                                  Candidate* candidates,
                                                                  bool& walked) {
  return walkRecords<kSpaces>(scan, filter, candidates, walked);
}
#endif

// The walk for this processor and set: the block scans' form tells what the processor has.
Walk walkFor(const WantedSet& set) {
#if defined(__x86_64__)
  if (const ScanLevel level = blockScanLevel();
      level == ScanLevel::kAvx2 || level == ScanLevel::kAvx512) {
    return set.spaces() ? walkBmi2<true> : walkBmi2<false>;
  }
#endif
  return set.spaces() ? walkPlain<true> : walkPlain<false>;
}

// A record is parsed only when its key field, found from the block's bits, is a key still waiting.
// Each record's key field is found and looked at in one loop; the records that pass the filter
// are gathered, and what each later step needs for all of them is fetched before the step: their
// slots, their keys, then the keys' texts.
void scanForManyKeys(const Scan& scan, WantedSet& set, Found& found) {
  const Walk walk = walkFor(set);
  const WantedSet::Filter filter = set.filter();
  Candidate candidates[kCandidatesMax];
  HostRecord record{};
  bool walked = true;
  while (found.waiting > 0 && walked) {
    const size_t count = walk(scan, filter, candidates, walked);
    for (size_t c = 0; c < count; ++c) {
      Candidate& k = candidates[c];
      k.hash = set.hashAt(k.bytes.data() + k.field.start, k.field.length);
    }
    for (size_t c = 0; c < count; ++c) set.prefetchKey(candidates[c].hash);
    for (size_t c = 0; c < count; ++c) set.prefetchText(candidates[c].hash);
    for (size_t c = 0; c < count && found.waiting > 0; ++c) {
      const Candidate& k = candidates[c];
      Wanted* w = set.waiting(k.bytes.data() + k.field.start, k.field.length, k.hash);
      if (w == nullptr) continue;
      loadRecord(k.bytes, record);
      take(scan, set, found, record, w);
    }
  }
}

// Reads the table until every key of set has its first entry, storing each answer in the scan's
// answers and marking its key found; path is pathFor(set).
void scanTable(const Scan& scan, WantedSet& set, Path path) {
  Found found{0, set.size()};
  if (found.waiting == 0) return;
  switch (path) {
    case Path::kOneKey:
      return scanForOneKey(scan, set, found);
    case Path::kFewKeys:
      return scanForFewKeys(scan, set, found);
    case Path::kManyKeys:
      return scanForManyKeys(scan, set, found);
  }
}

// Whether the open file fd is a table of at least one block.
bool fillsABlock(int fd) {
  struct stat file;
  return fstat(fd, &file) == 0 && S_ISREG(file.st_mode) &&
         static_cast<size_t>(file.st_size) >= kBlockSize;
}

// Gathers into output the answer of each of keyCount keys, in the set's order, framed as options
// say; returns whether every key was found.
bool writeAnswers(const QueryOptions& options, size_t keyCount, WantedSet& set, const char* answers,
                  Output& output) {
  const uint32_t* order = set.order();
  bool allFound = true;
  for (size_t i = 0; i < keyCount; ++i) {
    // The answers stand in table order: each key's is fetched a few keys ahead.
    if (i + 8 < keyCount && order[i + 8] != kNeverFound) __builtin_prefetch(&set[order[i + 8]]);
    if (i + 4 < keyCount && order[i + 4] != kNeverFound && set[order[i + 4]].found) {
      __builtin_prefetch(answers + set[order[i + 4]].answerAt);
    }
    const Wanted* w = order[i] == kNeverFound ? nullptr : &set[order[i]];
    const bool found = w != nullptr && w->found;
    allFound = allFound && found;
    if (options.withStatus) output.add(found ? "1\t" : "10\t");
    std::string_view answer =
        found ? std::string_view(answers + w->answerAt, w->answerLength) : kNotFoundText;
    // A record cut at 99 bytes, or the last line of a file without one, lacks the newline.
    const bool newline = answer.back() == '\n';
    if (options.zeroEnds && newline) answer.remove_suffix(1);
    output.add(answer);
    if (options.zeroEnds) {
      output.add('\0');
    } else if (!newline) {
      output.add('\n');
    }
  }
  static_assert(kAnswerMax <= kOutputSize);
  return allFound;
}

}  // namespace

void sayProblem(int err, const char* name, int error) {
  const char* reason = std::strerror(error);
  const std::string_view parts[] = {"varnquery: ", name, ": ", reason, "\n"};
  char line[512];
  size_t used = 0;
  for (const std::string_view part : parts) {
    const size_t n = part.size() < sizeof line - used ? part.size() : sizeof line - used;
    std::memcpy(line + used, part.data(), n);
    used += n;
  }
  writeAll(err, {line, used});
}

int runQuery(const LookupProfile& profile, const QueryOptions& options, const QueryKeys& keys,
             int out, int err, Confinement confinement) {
  WantedSet set(profile.keyPrefix);
  Output output(out);
  if (!output.ready() || !set.reserve(keys.count)) {
    writeAll(err, "varnquery: out of memory\n");
    return kQueryTrouble;
  }
  collectKeys(profile, keys, set);
  const int fd = open(profile.tablePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    sayProblem(err, profile.tablePath, errno);
    return kQueryNoTable;
  }
  // A table of a block or more fills the whole block, and the maps of its bits where the path
  // makes them: that memory is made ready at once, which costs less than a fault at each page's
  // first touch. For a shorter table it is left as allocated and touched only as far as it is
  // read, as the lookup's own block is.
  const Path path = pathFor(set);
  const Touch blockTouch = fillsABlock(fd) ? Touch::kAll : Touch::kAsUsed;
  const size_t answerRoom = options.selector.lineMode ? kRecordMax : kSlotSize;
  const Owned<char> answers(set.size() * answerRoom + 1, Touch::kAsUsed);
  const Owned<TableReader> table(1, blockTouch);
  const Owned<BlockBits> bits(1, path == Path::kManyKeys ? blockTouch : Touch::kAsUsed);
  if (!answers || !table || !bits) {
    close(fd);
    writeAll(err, "varnquery: out of memory\n");
    return kQueryTrouble;
  }
  ::new (table.get()) TableReader;
  table->fd = fd;
  bits->refills = SIZE_MAX;  // the maps are of no block yet
  const bool confined = enterConfinement(confinement);
  scanTable({profile, options.selector, *table, *bits, answers.get()}, set, path);
  const bool readFailed = table->failed;
  const int readError = errno;
  const bool allFound = writeAnswers(options, keys.count, set, answers.get(), output);
  int status = allFound ? kQueryAllFound : kQuerySomeNotFound;
  if (!output.flush()) {
    sayProblem(err, "standard output", output.error());
    status = kQueryTrouble;
  }
  if (readFailed) {
    sayProblem(err, profile.tablePath, readError);
    status = kQueryTrouble;
  }
  return finishRun(status, table->fd, confined);  // a confined run frees nothing: it ends here
}
