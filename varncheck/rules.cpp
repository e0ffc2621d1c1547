#include "varncheck/rules.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/record.h"
#include "engine/table_reader.h"
#include "varncheck/key_index.h"
#include "varncheck/rule_table.h"

namespace {

constexpr std::string_view kParsePrefix = "# ";

// Appends bytes to buffer as a message may quote them: printable ASCII as it is, anything else
// as \xNN, so that a diagnostic stays one line of text.
void quote(std::string& out, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f && c != '"' && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  out += '"';
}

// Whether the record starts with a separator, or a field of it stands after a run of two or
// more: the run the eye takes for an empty field. sep and starts are the record's two words of
// separator and field-start bits; a run that ends a word carries into the next.
bool separatorRunBeforeField(const uint64_t (&sep)[2], const uint64_t (&starts)[2]) {
  if (sep[0] & 1) return true;
  const uint64_t twoBefore0 = (sep[0] << 1) & (sep[0] << 2);
  const uint64_t twoBefore1 = (sep[1] << 1 | sep[0] >> 63) & (sep[1] << 2 | sep[0] >> 62);
  return ((starts[0] & twoBefore0) | (starts[1] & twoBefore1)) != 0;
}

// The shape of a record's usable text as the split sees it, past the fields it takes.
struct Layout {
  int fields = 0;     // every field, those past the shape's count included
  int runAfter = -1;  // the field after which the first run of separators stands (0: before
                      // field 1), or -1; only runs before a field the shape takes count
  int runLength = 0;
  long fieldLength[6] = {};  // lengths of fields 1 to 5
  bool hasSpace[6] = {};     // a space in fields 1 and 4, the fields printed with "=" for it
};

// Reads the bits parseRecord noted: they are those of the raw copy.
Layout layoutOf(const HostRecord& record, int fieldCount) {
  Layout layout;
  const RecordBits& bits = record.bits;
  FieldEdges edges = fieldEdges(bits);
  layout.fields = countFields(edges);
  int end = 0;  // where the last field ended
  for (int n = 1; n <= layout.fields && n <= 5; ++n) {
    const int start = popLowestBit(edges.starts[0], edges.starts[1]);
    const int run = start - end;
    if (n <= fieldCount && layout.runAfter < 0 && (run >= 2 || (run >= 1 && n == 1))) {
      layout.runAfter = n - 1;
      layout.runLength = run;
    }
    end = popLowestBit(edges.lasts[0], edges.lasts[1]) + 1;
    layout.fieldLength[n] = end - start;
    if (n == 1 || n == 4) layout.hasSpace[n] = anyBetween(bits.spaces, start, end - 1);
  }
  return layout;
}

// Whether no rule of the layout can apply to the parsed record, found from what parseRecord
// noted with a few word operations: the common case, which then needs no walk of the fields.
bool plainLayout(const HostRecord& record, int taken, int fieldCount) {
  if (taken == 0) return true;  // blank
  if (taken < 3 || record.overLong[1] || record.overLong[2]) return false;
  if (fieldCount >= 4 && record.overLong[4]) return false;
  const FieldEdges edges = fieldEdges(record.bits);
  return !separatorRunBeforeField(record.bits.separators, edges.starts) &&
         countFields(edges) <= fieldCount;
}

// Whether field n of a plain line holds a space: its slot shows one as "=", as it shows an "="
// of the table, and the record's bits tell the two apart.
bool spaceInField(const HostRecord& record, int n, int fieldCount) {
  return n <= fieldCount && holdsByte(record.slots[n], record.slotLength[n], '=') &&
         anyBetween(record.bits.spaces, record.fieldStart[n],
                    record.fieldStart[n] + record.slotLength[n] - 1);
}

// The checks of one table, in the steps a line goes through: its first record's layout
// (checkLayout, or takePlainLine for the common line read from bits alone), each entry's key
// (takeEntry, indexEntry), and the line as a whole when it ends (endLine). A line's diagnostics
// are gathered while its records are read and reported in rule order when it ends.
class Checker {
 public:
  Checker(Shape shape, CheckSink& sink)
      : shape_(shape), fieldCount_(shape == Shape::kParse ? 3 : 5), sink_(sink) {}

  CheckSummary run(int fd, bool parseEveryRecord);

 private:
  void makeIndex(int fd);
  void takeRecord(HostRecord& record);
  bool takePlainLine(const RecordView& view);
  void checkLayout(const HostRecord& record, int taken);
  void checkFieldCount(const Layout& layout);
  void checkSeparatorRun(const Layout& layout);
  void checkFields(const Layout& layout);
  void takeEntry(const HostRecord& record, bool first);
  void indexEntry(std::string_view keyField, std::string_view raw, bool first);
  void checkReachableKey(std::string_view key);
  void endLine();
  void checkWholeLine();
  void report(long line);

  // Notes a diagnostic of rule on the line; its text, made by makeText, only if the sink wants
  // it. Every diagnostic is counted when it is reported, wanted or not.
  template <typename MakeText>
  void addMade(Rule rule, MakeText makeText) {
    const bool wanted = sink_.wants(rule);
    pending_.push_back({rule, wanted, wanted ? std::string(makeText()) : std::string()});
  }
  template <typename... Args>
  void add(Rule rule, int form, Args... args) {
    addMade(rule, [&] { return ruleMessage(rule, form, args...); });
  }
  void addSpaceAsEquals(long n) { add(Rule::kSpaceAsEquals, 0, n, n); }

  struct Pending {
    Rule rule;
    bool wanted;
    std::string text;
  };

  const Shape shape_;
  const int fieldCount_;
  CheckSink& sink_;
  CheckSummary summary_;
  std::unique_ptr<KeyIndex> keys_;
  long line_ = 0;       // lines ended so far
  long lineBytes_ = 0;  // bytes of the current line read so far
  long records_ = 0;    // records of the current line read so far
  long zeroAt_ = 0;     // 1-based byte of the line's first zero byte, or 0
  bool lastEndsLine_ = false;
  bool startsWithHash_ = false;  // the line's first byte is "#"
  bool hasText_ = false;         // some line has a field
  std::string tailKey_;          // key of the first entry in a record after the line's first
  std::vector<Pending> pending_;
};

CheckSummary Checker::run(int fd, bool parseEveryRecord) {
  makeIndex(fd);
  auto table = std::make_unique<TableReader>();
  table->fd = fd;
  auto bits = std::make_unique<BlockBits>();
  HostRecord record{};
  RecordView view;
  while (!summary_.outOfMemory && nextRecordWithBits(*table, *bits, view)) {
    if (!parseEveryRecord && records_ == 0 && takePlainLine(view)) continue;
    loadRecord(view.bytes, record);
    takeRecord(record);
  }
  if (summary_.outOfMemory) return summary_;
  if (lineBytes_ > 0) endLine();
  if (hasText_ && summary_.entries == 0) {
    add(Rule::kNoEntry, 0);
    report(0);
  }
  if (table->failed) {
    summary_.readFailed = true;
    summary_.readErrno = errno;
  }
  return summary_;
}

// An entry line is rarely shorter than 64 bytes; a table with more keys grows the index. The keys
// of a file take at most twice its size, which is all the index reserves for them.
void Checker::makeIndex(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const size_t size = static_cast<size_t>(st.st_size);
    keys_ = std::make_unique<KeyIndex>(size / 64, 2 * size + 4096);
  } else {
    keys_ = std::make_unique<KeyIndex>();
  }
  summary_.outOfMemory = keys_->failed();
}

void Checker::takeRecord(HostRecord& record) {
  const long length = record.length;
  const bool endsLine = record.buffer[length - 1] == '\n';
  const bool first = records_ == 0;
  const int taken = parseRecord(record, fieldCount_);
  // The raw copy stops at a zero byte.
  if (record.rawLength < length && zeroAt_ == 0) zeroAt_ = lineBytes_ + record.rawLength + 1;
  lineBytes_ += length;
  ++records_;
  lastEndsLine_ = endsLine;

  if (first) {
    startsWithHash_ = record.rawLength > 0 && record.raw[0] == '#';
    checkLayout(record, taken);
  }
  hasText_ = hasText_ || taken > 0;
  if (taken >= 3) takeEntry(record, first);
  if (endsLine) endLine();
}

// The common line, taken from its bits alone with no copy or parse: one record of at most 64
// bytes that ends in its newline and holds no zero byte, whose layout is plain, with three fields
// or more and each of fields 1 to 4 short enough for its slot. Any other record is left
// untouched: false.
bool Checker::takePlainLine(const RecordView& view) {
  const std::string_view bytes = view.bytes;
  const int length = static_cast<int>(bytes.size());
  if (length > 64 || bytes[length - 1] != '\n' || view.usable != length) return false;
  // One word holds the record; past it every bit is a separator.
  const uint64_t separators[2] = {view.bits.separators[0], ~uint64_t{0}};
  const uint64_t spaces = view.bits.spaces[0];
  const uint64_t in = ~separators[0];
  uint64_t starts = in & ~(in << 1);
  uint64_t lasts = in & ~(in >> 1);
  if (separatorRunBeforeField(separators, {starts, 0})) return false;
  int start[kMaxFieldCount + 1], end[kMaxFieldCount + 1];
  int fields = 0;
  for (; starts != 0; starts &= starts - 1, lasts &= lasts - 1) {
    if (++fields > fieldCount_) return false;
    start[fields] = __builtin_ctzll(starts);
    end[fields] = __builtin_ctzll(lasts) + 1;
    if (fields <= 4 && end[fields] - start[fields] >= kSlotSize) return false;
  }
  if (fields < 3) return false;
  char key[kSlotSize];
  static_assert(64 + kSlotSize <= kRecordLoad, "the key's slot lies in the readable bytes");
  std::memcpy(key, bytes.data() + start[3], kSlotSize);
  restoreSpaces(key);

  lineBytes_ = length;
  records_ = 1;
  lastEndsLine_ = true;
  startsWithHash_ = bytes[0] == '#';
  hasText_ = true;
  for (const int n : {1, 4}) {
    if (n > fields) continue;
    const uint64_t field = ((uint64_t{1} << (end[n] - start[n])) - 1) << start[n];
    if ((spaces & field) != 0) addSpaceAsEquals(n);
  }
  indexEntry({key, static_cast<size_t>(end[3] - start[3])}, bytes, true);
  endLine();
  return true;
}

// Fields as the eye reads them against fields as the split takes them: the first record only,
// since the rest of a long line is reported as such.
void Checker::checkLayout(const HostRecord& record, int taken) {
  if (plainLayout(record, taken, fieldCount_)) {
    // The fields are as the eye reads them; only spaces in fields 1 and 4 may be left.
    for (const int n : {1, 4}) {
      if (spaceInField(record, n, fieldCount_)) addSpaceAsEquals(n);
    }
    return;
  }
  const Layout layout = layoutOf(record, fieldCount_);
  if (layout.fields == 0) return;  // blank
  if (layout.fields < 3 && startsWithHash_) {
    // No lookup returns the line, so how its fields would print is beside the point.
    return add(Rule::kCommentLine, 0);
  }
  checkFieldCount(layout);
  checkSeparatorRun(layout);
  checkFields(layout);
}

// A line of fewer than three fields is no entry: fields separated by spaces (one field that
// holds spaces is the usual mistake), or too few fields.
void Checker::checkFieldCount(const Layout& layout) {
  if (layout.fields >= 3) return;
  if (layout.fields == 1 && layout.hasSpace[1]) {
    add(Rule::kSpacesNotTabs, 0);
  } else {
    add(Rule::kNotAnEntry, layout.fields - 1);
  }
}

void Checker::checkSeparatorRun(const Layout& layout) {
  if (layout.runAfter == 0) {
    add(Rule::kSeparatorRun, 0);
  } else if (layout.runAfter > 0) {
    add(Rule::kSeparatorRun, 1, long{layout.runLength}, long{layout.runAfter},
        long{layout.runAfter + 1});
  }
}

// The fields printed cut, the spaces printed as "=", the fields past the shape.
void Checker::checkFields(const Layout& layout) {
  for (const long n : {1, 2, 4}) {
    if (n <= fieldCount_ && n <= layout.fields && layout.fieldLength[n] >= kSlotSize) {
      add(Rule::kLongField, 0, n, layout.fieldLength[n]);
    }
  }
  const bool spacesNotTabs = layout.fields == 1 && layout.hasSpace[1];
  for (const int n : {1, 4}) {
    if (!spacesNotTabs && n <= fieldCount_ && n <= layout.fields && layout.hasSpace[n]) {
      addSpaceAsEquals(n);
    }
  }
  const long fields = layout.fields, past = fieldCount_ + 1;
  if (fields == past) add(Rule::kExtraFields, 0, fields, past);
  if (fields > past) add(Rule::kExtraFields, 1, fields, past, fields);
}

void Checker::takeEntry(const HostRecord& record, bool first) {
  if (!record.overLong[3]) return indexEntry(record.slot(3), record.rawText(), first);
  ++summary_.entries;
  if (first) {
    // The length of the key field as written: parseRecord keeps only 39 bytes of it.
    add(Rule::kLongKey, 0, layoutOf(record, 3).fieldLength[3]);
  }
  sink_.entry({line_ + 1, record.slot(3), record.rawText(), Verdict::kNeverFound, 0});
}

// An entry whose key field, as its slot holds it, fits: keyField.
void Checker::indexEntry(std::string_view keyField, std::string_view raw, bool first) {
  ++summary_.entries;
  std::string_view key = keyField;
  Entry entry{line_ + 1, key, raw, Verdict::kNeverFound, 0};
  if (shape_ == Shape::kParse && !key.starts_with(kParsePrefix)) {
    if (first) {
      addMade(Rule::kNoKeyPrefix, [&] {
        std::string quoted;
        quote(quoted, key);
        return ruleMessage(Rule::kNoKeyPrefix, 0, quoted.c_str());
      });
    }
    return sink_.entry(entry);
  }
  if (shape_ == Shape::kParse) key.remove_prefix(kParsePrefix.size());
  entry.key = key;
  const long firstLine = keys_->insert(keyField, line_ + 1);
  summary_.outOfMemory = keys_->failed();
  if (firstLine == 0) {
    entry.verdict = Verdict::kReachable;
    if (!first && tailKey_.empty()) tailKey_.assign(key);
    if (first) checkReachableKey(key);
  } else {
    entry.verdict = Verdict::kShadowed;
    entry.shadowedBy = firstLine;
    if (first) {
      addMade(Rule::kDuplicateKey, [&] {
        std::string quoted;
        quote(quoted, key);
        return ruleMessage(Rule::kDuplicateKey, 0, quoted.c_str(), firstLine);
      });
    }
  }
  sink_.entry(entry);
}

// What may mislead about the key of an entry that its key finds: a "#" that looks like a
// comment's, and spaces at its ends, which a key must hold to match.
void Checker::checkReachableKey(std::string_view key) {
  const auto quoted = [key] {
    std::string text;
    quote(text, key);
    return text;
  };
  if (startsWithHash_) {
    addMade(Rule::kCommentEntry,
            [&] { return ruleMessage(Rule::kCommentEntry, 0, quoted().c_str()); });
  }
  if (key.empty()) return;
  const bool leading = key.front() == ' ', trailing = key.size() > 1 && key.back() == ' ';
  if (leading || trailing) {
    const int form = leading && trailing ? 2 : trailing ? 1 : 0;
    addMade(Rule::kKeySpace, [&] { return ruleMessage(Rule::kKeySpace, form, quoted().c_str()); });
  }
}

void Checker::endLine() {
  ++line_;
  ++summary_.lines;
  checkWholeLine();
  report(line_);
  lineBytes_ = 0;
  records_ = 0;
  zeroAt_ = 0;
  startsWithHash_ = false;
  tailKey_.clear();
}

// The rules of the line as a whole: records past its first, and a zero byte.
void Checker::checkWholeLine() {
  if (records_ > 1) {
    addMade(Rule::kLongLine, [&] {
      const long text = lineBytes_ - (lastEndsLine_ ? 1 : 0);
      std::string message =
          records_ == 2 && text == kRecordMax ? ruleMessage(Rule::kLongLine, 0, text)
          : records_ == 2                     ? ruleMessage(Rule::kLongLine, 1, text, text)
                          : ruleMessage(Rule::kLongLine, 2, text, text, records_ - 1);
      if (!tailKey_.empty()) {
        std::string quoted;
        quote(quoted, tailKey_);
        message += ruleMessage(Rule::kLongLine, 3, quoted.c_str());
      }
      return message;
    });
  }
  if (zeroAt_ > 0) add(Rule::kZeroByte, 0, zeroAt_);
}

// Counts the pending diagnostics and gives those wanted, in rule order, at line (0: the table).
void Checker::report(long line) {
  // A stable insertion sort of a handful of items.
  for (size_t i = 1; i < pending_.size(); ++i) {
    for (size_t j = i; j > 0 && pending_[j].rule < pending_[j - 1].rule; --j) {
      std::swap(pending_[j], pending_[j - 1]);
    }
  }
  for (const Pending& p : pending_) {
    (isError(p.rule) ? summary_.errors : summary_.warnings) += 1;
    if (p.wanted) sink_.diagnostic({line, p.rule, p.text});
  }
  pending_.clear();
}

}  // namespace

CheckSummary checkTable(int fd, Shape shape, CheckSink& sink, bool parseEveryRecord) {
  return Checker(shape, sink).run(fd, parseEveryRecord);
}
