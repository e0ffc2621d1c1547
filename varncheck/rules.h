// The table checker's rules: how the lookups will read each line of a host table, as errors and
// warnings at the line. Tables are read by the engine's own reader and split by its own rules, so
// what is reported is what a lookup sees.
#ifndef VARNCHECK_RULES_H_
#define VARNCHECK_RULES_H_

#include <string_view>

// The two shapes of table: five fields keyed by field 3 (varnparse), or three fields whose third
// holds "# " and the key (parse).
enum class Shape { kFiveField, kParse };

// The rules in the order they are reported within a line. Each is declared, with its severity,
// name and message, by its row in varncheck/rule_table.cpp.
enum class Rule {
  kLongLine,
  kZeroByte,
  kLongKey,
  kNoKeyPrefix,
  kSpacesNotTabs,
  kNoEntry,
  kCommentEntry,
  kCommentLine,
  kDuplicateKey,
  kKeySpace,
  kNotAnEntry,
  kSeparatorRun,
  kLongField,
  kSpaceAsEquals,
  kExtraFields,
};
inline constexpr int kRuleCount = static_cast<int>(Rule::kExtraFields) + 1;

// Whether a diagnostic of rule is an error: the lookups cannot give the line back as written.
bool isError(Rule rule);

// A short name of the rule, for summaries.
const char* ruleName(Rule rule);

struct Diagnostic {
  long line;  // 1-based; 0 for the whole table
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
  // Whether the text of a diagnostic of rule is wanted; one that is not is counted in the summary
  // and never given. Asked once for each diagnostic, in line order.
  virtual bool wants(Rule) { return true; }
  virtual void entry(const Entry&) {}
};

struct CheckSummary {
  long lines = 0;
  long entries = 0;
  long errors = 0;
  long warnings = 0;
  bool readFailed = false;  // a read failed; what came before it was checked
  int readErrno = 0;
  bool outOfMemory = false;  // the key index could not get memory; the check stopped there
};

// Checks the table open at fd from its current position to its end, reporting to sink. The common
// line is read from bits of the whole block, the rest record by record through parseRecord;
// parseEveryRecord reads every record so, for tests that hold the two readings to each other.
CheckSummary checkTable(int fd, Shape shape, CheckSink& sink, bool parseEveryRecord = false);

#endif  // VARNCHECK_RULES_H_
