#include "varnquery/query.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/table_reader.h"

namespace {

constexpr uint32_t kNeverFound = UINT32_MAX;  // in the order of keys: a key that matches nothing
constexpr size_t kOutputSize = 64 * 1024;
constexpr size_t kAnswerMax = 2 + 1 + kRecordMax + 2;  // status, tab, record, newline, zero byte

// A distinct key of the batch that an entry may have.
struct Wanted {
  const char* argument;  // the first key argument that makes it
  uint32_t hash;
  uint32_t keyAt;     // where its key text stands in the key arena
  uint32_t answerAt;  // where its answer stands once found
  unsigned char keyLength;
  unsigned char answerLength;
  bool found;
};

// Whether a key can equal a key field at all: a field is never empty, and after the split and
// the restoration of spaces it holds no "=" and no separator.
bool mayMatch(const Key& key) {
  if (key.tooLong || key.length == 0) return false;
  for (size_t i = 0; i < key.length; ++i) {
    if (key.text[i] == '=' || isFieldSeparator(key.text[i])) return false;
  }
  return true;
}

// The distinct keys that may match, in open addressing by their hash, behind a filter of two bits
// a key in one word, eight bits a key, which stays in the first-level cache for thousands of keys
// and turns most key fields of a table away with one load before the slots are read. Memory grows
// with the keys alone, and everything is allocated before the table is read.
class WantedSet {
 public:
  bool reserve(size_t keys) {
    bits_ = 4;
    while ((size_t{1} << bits_) < 2 * keys) ++bits_;
    filterBits_ = bits_ + 2;
    slots_ = static_cast<uint32_t*>(std::calloc(size_t{1} << bits_, sizeof *slots_));
    filter_ = static_cast<uint64_t*>(std::calloc(size_t{1} << (filterBits_ - 6), 8));
    wanted_ = static_cast<Wanted*>(std::malloc((keys + 1) * sizeof *wanted_));
    text_ = static_cast<char*>(std::malloc(keys * (kSlotSize - 1) + 1));
    return slots_ != nullptr && filter_ != nullptr && wanted_ != nullptr && text_ != nullptr;
  }
  ~WantedSet() {
    std::free(slots_);
    std::free(filter_);
    std::free(wanted_);
    std::free(text_);
  }

  // The index of the key, added with argument if it is new.
  uint32_t add(const Key& key, const char* argument) {
    char padded[48] = {};  // the hash loads 48 bytes
    std::memcpy(padded, key.text, key.length);
    const uint32_t hash =
        static_cast<uint32_t>(fieldHash(padded, static_cast<int>(key.length)) >> 32);
    uint32_t* slot = find(padded, key.length, hash);
    if (*slot != 0) return *slot - 1;
    Wanted& w = wanted_[count_];
    w = {
        argument, hash, static_cast<uint32_t>(textUsed_), 0, static_cast<unsigned char>(key.length),
        0,        false};
    std::memcpy(text_ + textUsed_, key.text, key.length);
    textUsed_ += key.length;
    filter_[filterWord(hash)] |= filterMask(hash);
    *slot = static_cast<uint32_t>(++count_);
    return *slot - 1;
  }

  // The key still waiting for its entry that equals bytes[0, length) with each "=" read as a
  // space, or null; bytes has 48 readable.
  Wanted* waiting(const char* bytes, int length) {
    const uint32_t hash = static_cast<uint32_t>(fieldHash(bytes, length) >> 32);
    const uint64_t mask = filterMask(hash);
    if ((filter_[filterWord(hash)] & mask) != mask) return nullptr;
    const uint32_t slot = *find(bytes, static_cast<size_t>(length), hash);
    if (slot == 0 || wanted_[slot - 1].found) return nullptr;
    return &wanted_[slot - 1];
  }

  Wanted& operator[](uint32_t i) { return wanted_[i]; }
  size_t size() const { return count_; }

 private:
  // A key's word of the filter, from the hash's low bits, and its two bits there, from the next.
  size_t filterWord(uint32_t hash) const { return hash & ((uint32_t{1} << (filterBits_ - 6)) - 1); }
  static uint64_t filterMask(uint32_t hash) {
    return uint64_t{1} << (hash >> 12 & 63) | uint64_t{1} << (hash >> 18 & 63);
  }

  // A key holds no "=", so one read as the table's bytes are equals it byte for byte.
  static bool sameText(const char* key, const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      if (key[i] != (bytes[i] == '=' ? ' ' : bytes[i])) return false;
    }
    return true;
  }

  uint32_t* find(const char* bytes, size_t length, uint32_t hash) {
    const size_t mask = (size_t{1} << bits_) - 1;
    for (size_t i = hash >> (32 - bits_);; i = (i + 1) & mask) {
      const uint32_t slot = slots_[i];
      if (slot == 0) return &slots_[i];
      const Wanted& w = wanted_[slot - 1];
      if (w.hash == hash && w.keyLength == length && sameText(text_ + w.keyAt, bytes, length)) {
        return &slots_[i];
      }
    }
  }

  uint32_t* slots_ = nullptr;  // index of a Wanted plus one; 0 for an empty slot
  int bits_ = 0;
  uint64_t* filter_ = nullptr;
  int filterBits_ = 0;
  Wanted* wanted_ = nullptr;
  size_t count_ = 0;
  char* text_ = nullptr;
  size_t textUsed_ = 0;
};

// Output gathered in one buffer and written when it fills.
class Output {
 public:
  explicit Output(int fd) : fd_(fd), buffer_(static_cast<char*>(std::malloc(kOutputSize))) {}
  ~Output() { std::free(buffer_); }
  bool ready() const { return buffer_ != nullptr; }

  void add(std::string_view bytes) {
    if (used_ + bytes.size() > kOutputSize) flush();
    std::memcpy(buffer_ + used_, bytes.data(), bytes.size());
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

// Memory taken with malloc, given back when the run returns. A confined run never returns: it
// ends before anything is freed, since freeing may unmap memory.
// (The C++ library's owning pointer would bring in headers that the musl build cannot take.)
template <typename T>
class Owned {
 public:
  explicit Owned(size_t count = 1) : memory_(static_cast<T*>(std::malloc(count * sizeof(T)))) {}
  ~Owned() { std::free(memory_); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  explicit operator bool() const { return memory_ != nullptr; }
  T* get() const { return memory_; }
  T& operator*() const { return *memory_; }
  T* operator->() const { return memory_; }

 private:
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
// kNeverFound) at its place in order.
void collectKeys(const LookupProfile& profile, const char* const* keys, size_t keyCount,
                 WantedSet& set, uint32_t* order) {
  for (size_t i = 0; i < keyCount; ++i) {
    const Key key = makeKey(profile.keyPrefix, keys[i]);
    order[i] = mayMatch(key) ? set.add(key, keys[i]) : kNeverFound;
  }
}

// Reads the table until every key of set has its first entry, storing each answer in the scan's
// answers and marking its key found; a record is parsed only when its key field is a key still
// waiting.
void scanTable(const Scan& scan, WantedSet& set) {
  HostRecord record{};
  size_t waiting = set.size();
  size_t answersUsed = 0;
  PrefixField third;
  std::string_view bytes;
  while (waiting > 0 && nextRecordShowingThird(scan.table, scan.bits, bytes, third)) {
    const FieldSpan field = keyFieldSpan(bytes, third);
    if (field.length < 0) continue;
    Wanted* w = set.waiting(bytes.data() + field.start, field.length);
    if (w == nullptr) continue;
    loadRecord(bytes, record);
    const Key key = makeKey(scan.profile.keyPrefix, w->argument);
    if (!isEntryFor(key, record, parseRecord(record, scan.profile.fieldCount))) continue;
    char line[kSlotSize + 1];
    const std::string_view answer = answerText(record, scan.selector, line);
    std::memcpy(scan.answers + answersUsed, answer.data(), answer.size());
    w->answerAt = static_cast<uint32_t>(answersUsed);
    w->answerLength = static_cast<unsigned char>(answer.size());
    w->found = true;
    answersUsed += answer.size();
    --waiting;
  }
}

// Gathers into output the answer of each of keyCount keys, in order, framed as options say;
// returns whether every key was found.
bool writeAnswers(const QueryOptions& options, const uint32_t* order, size_t keyCount,
                  WantedSet& set, const char* answers, Output& output) {
  bool allFound = true;
  for (size_t i = 0; i < keyCount; ++i) {
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

int runQuery(const LookupProfile& profile, const QueryOptions& options, const char* const* keys,
             size_t keyCount, int out, int err, Confinement confinement) {
  WantedSet set;
  const Owned<uint32_t> order(keyCount + 1);
  Output output(out);
  if (!order || !output.ready() || !set.reserve(keyCount)) {
    writeAll(err, "varnquery: out of memory\n");
    return kQueryTrouble;
  }
  collectKeys(profile, keys, keyCount, set, order.get());
  const size_t answerRoom = options.selector.lineMode ? kRecordMax : kSlotSize;
  const Owned<char> answers(set.size() * answerRoom + 1);
  const Owned<TableReader> table;
  const Owned<BlockBits> bits;
  if (!answers || !table || !bits) {
    writeAll(err, "varnquery: out of memory\n");
    return kQueryTrouble;
  }
  *table = TableReader{};
  *bits = BlockBits{};
  table->fd = open(profile.tablePath, O_RDONLY | O_CLOEXEC);
  if (table->fd < 0) {
    sayProblem(err, profile.tablePath, errno);
    return kQueryNoTable;
  }
  const bool confined = enterConfinement(confinement);
  scanTable({profile, options.selector, *table, *bits, answers.get()}, set);
  const bool readFailed = table->failed;
  const int readError = errno;
  const bool allFound = writeAnswers(options, order.get(), keyCount, set, answers.get(), output);
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
