// The table checker's rules: how the lookups will read each line of a host table, as errors and
// warnings at the line. Tables are read by the engine's own readRecord and parseRecord, so what
// is reported is what a lookup sees.
#ifndef VARNCHECK_RULES_H_
#define VARNCHECK_RULES_H_

#include <cstdint>
#include <string_view>

// The two shapes of table: five fields keyed by field 3 (varnparse), or three fields whose third
// holds "# " and the key (parse).
enum class Shape { kFiveField, kParse };

// The rules in the order they are checked and reported within a line.
enum class Rule {
  // Errors: the lookups cannot give the line back as written.
  kLongLine,     // longer than 98 bytes: read as several records
  kZeroByte,     // the rest of its record is never read
  kLongKey,      // a key field over 39 bytes matches no key
  kNoKeyPrefix,  // parse shape: a key field without "# " matches no key
  // Warnings: the line is read, but not as it looks.
  kDuplicateKey,   // an earlier entry has the key, so this one is never returned
  kNotAnEntry,     // text, but fewer than three fields
  kSeparatorRun,   // a run of separators looks like an empty field but is one separator
  kLongField,      // a field other than the key is printed cut to 39 bytes
  kSpaceAsEquals,  // spaces in fields 1 and 4 are printed as "="
  kExtraFields,    // fields past the shape show only in L
};
inline constexpr int kRuleCount = static_cast<int>(Rule::kExtraFields) + 1;

bool isError(Rule rule);

// A short name of the rule, for summaries.
const char* ruleName(Rule rule);

struct Diagnostic {
  long line;  // 1-based
  Rule rule;
  std::string_view text;  // what the lookups will do with the line; valid during the call
};

// What a lookup with an entry's own key returns.
enum class Verdict {
  kReachable,   // this entry
  kShadowed,    // the entry of an earlier line with the same key
  kNeverFound,  // nothing: the key field is too long, or lacks parse's "# "
};

// An entry: a record with at least three fields. Lines over 98 bytes hold one per record.
struct Entry {
  long line;
  std::string_view key;  // the key argument that finds it: the key field, without parse's "# "
  std::string_view raw;  // the record as a lookup prints it for L
  Verdict verdict;
  long shadowedBy;  // the line of the entry returned instead, for kShadowed
};

// Receives a table's diagnostics in line order and, where wanted, every entry.
class CheckSink {
 public:
  virtual ~CheckSink() = default;
  virtual void diagnostic(const Diagnostic& d) = 0;
  virtual void entry(const Entry&) {}
};

struct CheckSummary {
  long lines = 0;
  long entries = 0;
  long errors = 0;
  long warnings = 0;
  bool readFailed = false;  // a read failed; what came before it was checked
  int readErrno = 0;
};

// Checks the table open at fd from its current position to its end, reporting to sink.
CheckSummary checkTable(int fd, Shape shape, CheckSink& sink);

// The distinct keys seen so far and the line of the first entry of each, in compact storage: the
// keys one after another in one reserved region, and open-addressing tables of 8-byte slots that
// point into it. A table of a million keys is far larger than the caches, and a key looked up in
// it at random waits on memory; so new keys go to a small table of their own, which is merged
// into the large one in the large one's order when it fills, and a key is looked for in the
// large table only when a filter of a byte a key says it may be there.
class KeyIndex {
 public:
  // Sized for about expectedKeys keys; it grows past them.
  explicit KeyIndex(size_t expectedKeys = 0);
  ~KeyIndex();
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;
  // Records key at line and returns 0, or returns the line of the key when it is there already.
  long insert(std::string_view key, long line);

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
  static void* map(size_t bytes, bool reserveOnly);
  static Table makeTable(int bits);
  static void dropTable(Table& table);
  // The slot of the key in table, or the empty slot where it would go.
  Slot* find(const Table& table, std::string_view key, uint32_t hash) const;
  static void put(Table& table, Slot slot);
  uint64_t* filterBlock(uint32_t hash) const;
  bool mayHold(uint32_t hash) const;
  void addToFilter(uint32_t hash);
  void merge();
  void growLarge(int bits);

  Table large_;
  Table recent_;
  uint64_t* filter_ = nullptr;  // blocks of 512 bits
  int filterBits_ = 0;          // log2 of the block count
  char* keys_;                  // reserved, and taken in page by page as it is written
  size_t keysRoom_;             // bytes reserved
  size_t keysUsed_ = 0;
};

#endif  // VARNCHECK_RULES_H_
