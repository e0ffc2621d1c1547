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

std::string format(const char* pattern, long a, long b = 0, long c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
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

// The checks of one table. The diagnostics of a line are gathered while its records are read and
// reported in rule order when it ends.
class Checker {
 public:
  Checker(Shape shape, CheckSink& sink)
      : shape_(shape), fieldCount_(shape == Shape::kParse ? 3 : 5), sink_(sink) {}

  CheckSummary run(int fd, bool parseEveryRecord) {
    // An entry line is rarely shorter than 64 bytes; a table with more keys grows the index. The
    // keys of a file take at most twice its size, which is all the index reserves for them.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      const size_t size = static_cast<size_t>(st.st_size);
      keys_ = std::make_unique<KeyIndex>(size / 64, 2 * size + 4096);
    } else {
      keys_ = std::make_unique<KeyIndex>();
    }
    auto table = std::make_unique<TableReader>();
    table->fd = fd;
    auto bits = std::make_unique<BlockBits>();
    HostRecord record{};
    RecordView view;
    while (nextRecordWithBits(*table, *bits, view)) {
      if (!parseEveryRecord && records_ == 0 && takePlainLine(view)) continue;
      loadRecord(view.bytes, record);
      takeRecord(record);
    }
    if (lineBytes_ > 0) endLine();
    if (hasText_ && summary_.entries == 0 && wanted(Rule::kNoEntry)) {
      ++summary_.errors;
      sink_.diagnostic(
          {0, Rule::kNoEntry, "the table has text but no entry; no lookup finds anything in it"});
    }
    if (table->failed) {
      summary_.readFailed = true;
      summary_.readErrno = errno;
    }
    return summary_;
  }

 private:
  void takeRecord(HostRecord& record) {
    const long length = record.length;
    const bool endsLine = record.buffer[length - 1] == '\n';
    const bool first = records_ == 0;
    const int taken = parseRecord(record, fieldCount_);
    // The raw copy stops at a zero byte.
    if (record.rawLength < length && zeroAt_ == 0) zeroAt_ = lineBytes_ + record.rawLength + 1;
    lineBytes_ += length;
    ++records_;
    lastEndsLine_ = endsLine;

    if (first) checkLayout(record, taken);
    hasText_ = hasText_ || taken > 0;
    if (taken >= 3) takeEntry(record, first);
    if (endsLine) endLine();
  }

  // The common line, taken from its bits alone with no copy or parse: one record of at most 64
  // bytes that ends in its newline and holds no zero byte, whose layout is plain, with three
  // fields or more and each of fields 1 to 4 short enough for its slot. Any other record is left
  // untouched: false.
  bool takePlainLine(const RecordView& view) {
    const std::string_view bytes = view.bytes;
    const int length = static_cast<int>(bytes.size());
    if (length > 64 || bytes[length - 1] != '\n' || view.usable != length) return false;
    // One word holds the record; past it every bit is a separator.
    const uint64_t separators = view.bits.separators[0], spaces = view.bits.spaces[0];
    const uint64_t in = ~separators;
    uint64_t starts = in & ~(in << 1);
    uint64_t lasts = in & ~(in >> 1);
    if ((separators & 1) | (starts & (separators << 1) & (separators << 2))) return false;
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
    hasText_ = true;
    for (const int n : {1, 4}) {
      if (n > fields) continue;
      const uint64_t field = ((uint64_t{1} << (end[n] - start[n])) - 1) << start[n];
      if ((spaces & field) != 0 && wanted(Rule::kSpaceAsEquals)) addSpaceAsEquals(n);
    }
    indexEntry({key, static_cast<size_t>(end[3] - start[3])}, bytes, true);
    endLine();
    return true;
  }

  // Whether the separators are as the eye reads them: none at byte 0, and no field with
  // separators at both bytes before it.
  static bool separatorsPlain(const RecordBits& bits, const FieldEdges& edges) {
    const uint64_t* sep = bits.separators;
    if (sep[0] & 1) return false;
    const uint64_t twoBefore0 = (sep[0] << 1) & (sep[0] << 2);
    const uint64_t twoBefore1 = (sep[1] << 1 | sep[0] >> 63) & (sep[1] << 2 | sep[0] >> 62);
    return ((edges.starts[0] & twoBefore0) | (edges.starts[1] & twoBefore1)) == 0;
  }

  // Whether no rule of the layout can apply to the parsed record, found from what parseRecord
  // noted with a few word operations: the common case, which then needs no walk of the fields.
  bool plainLayout(const HostRecord& record, int taken) const {
    if (taken == 0) return true;  // blank
    if (taken < 3 || record.overLong[1] || record.overLong[2]) return false;
    if (fieldCount_ >= 4 && record.overLong[4]) return false;
    const FieldEdges edges = fieldEdges(record.bits);
    return separatorsPlain(record.bits, edges) && countFields(edges) <= fieldCount_;
  }

  // Whether field n of a plain line holds a space: its slot shows one as "=", as it shows an "="
  // of the table, and the record's bits tell the two apart.
  bool spaceInField(const HostRecord& record, int n) const {
    return n <= fieldCount_ && holdsEquals(record, n) &&
           anyBetween(record.bits.spaces, record.fieldStart[n],
                      record.fieldStart[n] + record.slotLength[n] - 1);
  }

  static bool holdsEquals(const HostRecord& record, int n) {
    return holdsByte(record.slots[n], record.slotLength[n], '=');
  }

  // Fields as the eye reads them against fields as the split takes them: the first record only,
  // since the rest of a long line is reported as such.
  void checkLayout(const HostRecord& record, int taken) {
    if (plainLayout(record, taken)) {
      // The fields are as the eye reads them; only spaces in fields 1 and 4 may be left.
      for (const int n : {1, 4}) {
        if (spaceInField(record, n) && wanted(Rule::kSpaceAsEquals)) addSpaceAsEquals(n);
      }
      return;
    }
    const Layout layout = layoutOf(record, fieldCount_);
    if (layout.fields == 0) return;  // blank
    // One field that holds spaces is the usual mistake: fields separated by spaces.
    const bool spacesNotTabs = layout.fields == 1 && layout.hasSpace[1];
    if (spacesNotTabs) {
      if (wanted(Rule::kSpacesNotTabs))
        add(Rule::kSpacesNotTabs,
            "fields are separated by spaces, not tabs; the line is one field and no entry");
    } else if (layout.fields < 3 && wanted(Rule::kNotAnEntry)) {
      add(Rule::kNotAnEntry, layout.fields == 1
                                 ? "line has 1 field; with no key field it is not an entry"
                                 : "line has 2 fields; with no key field it is not an entry");
    }
    if (layout.runAfter == 0) {
      if (wanted(Rule::kSeparatorRun))
        add(Rule::kSeparatorRun, "line starts with a separator; the first text on it is field 1");
    } else if (layout.runAfter > 0) {
      if (wanted(Rule::kSeparatorRun))
        add(Rule::kSeparatorRun,
            format("a run of %ld separators after field %ld counts as one: the next text is field "
                   "%ld, not an empty field",
                   layout.runLength, layout.runAfter, layout.runAfter + 1));
    }
    const int printed[] = {1, 2, 4};
    for (const int n : printed) {
      if (n <= fieldCount_ && n <= layout.fields && layout.fieldLength[n] >= kSlotSize) {
        if (wanted(Rule::kLongField))
          add(Rule::kLongField,
              format("field %ld is %ld bytes; it is printed cut to 39", n, layout.fieldLength[n]));
      }
    }
    for (const int n : {1, 4}) {
      if (!spacesNotTabs && n <= fieldCount_ && n <= layout.fields && layout.hasSpace[n]) {
        if (wanted(Rule::kSpaceAsEquals)) addSpaceAsEquals(n);
      }
    }
    if (layout.fields > fieldCount_) {
      if (wanted(Rule::kExtraFields))
        add(Rule::kExtraFields,
            layout.fields == fieldCount_ + 1
                ? format("line has %ld fields; field %ld shows only in L", layout.fields,
                         fieldCount_ + 1)
                : format("line has %ld fields; fields %ld to %ld show only in L", layout.fields,
                         fieldCount_ + 1, layout.fields));
    }
  }

  void takeEntry(const HostRecord& record, bool first) {
    if (!record.overLong[3]) return indexEntry(record.slot(3), record.rawText(), first);
    ++summary_.entries;
    if (first && wanted(Rule::kLongKey)) {
      std::string text = format("key field is %ld bytes; this entry can never be found",
                                fieldLengthOnLine(record));
      add(Rule::kLongKey, text);
    }
    sink_.entry({line_ + 1, record.slot(3), record.rawText(), Verdict::kNeverFound, 0});
  }

  // An entry whose key field, as its slot holds it, fits: keyField.
  void indexEntry(std::string_view keyField, std::string_view raw, bool first) {
    ++summary_.entries;
    std::string_view key = keyField;
    Entry entry{line_ + 1, key, raw, Verdict::kNeverFound, 0};
    if (shape_ == Shape::kParse && !key.starts_with(kParsePrefix)) {
      if (first && wanted(Rule::kNoKeyPrefix)) {
        std::string text = "key field ";
        quote(text, key);
        text += " does not begin with \"# \"; parse can never find this entry";
        add(Rule::kNoKeyPrefix, text);
      }
    } else {
      if (shape_ == Shape::kParse) key.remove_prefix(kParsePrefix.size());
      entry.key = key;
      const long firstLine = keys_->insert(keyField, line_ + 1);
      if (firstLine == 0) {
        entry.verdict = Verdict::kReachable;
        if (!first && tailKey_.empty()) tailKey_.assign(key);
      } else {
        entry.verdict = Verdict::kShadowed;
        entry.shadowedBy = firstLine;
        if (first && wanted(Rule::kDuplicateKey)) {
          std::string text = "key ";
          quote(text, key);
          text +=
              format(" is the key of line %ld already; this entry is never returned", firstLine);
          add(Rule::kDuplicateKey, text);
        }
      }
    }
    sink_.entry(entry);
  }

  // The length of the over-long key field as written: parseRecord keeps only 39 bytes of it.
  long fieldLengthOnLine(const HostRecord& record) const {
    const Layout layout = layoutOf(record, 3);
    return layout.fieldLength[3];
  }

  // Whether the sink wants the text of a diagnostic of rule: the text of one it does not want is
  // never made, and the diagnostic only counted.
  bool wanted(Rule rule) {
    if (sink_.wants(rule)) return true;
    (isError(rule) ? summary_.errors : summary_.warnings) += 1;
    return false;
  }

  void add(Rule rule, std::string text) { pending_.push_back({rule, std::move(text)}); }

  void addSpaceAsEquals(long n) {
    add(Rule::kSpaceAsEquals,
        format("field %ld holds a space; var number %ld prints it as \"=\"", n, n));
  }

  void endLine() {
    ++line_;
    ++summary_.lines;
    const long text = lineBytes_ - (lastEndsLine_ ? 1 : 0);
    if (records_ > 1 && wanted(Rule::kLongLine)) {
      std::string message;
      if (records_ == 2 && text == kRecordMax) {
        message = format("line is %ld bytes; its newline is read as a record of its own", text);
      } else {
        message = format(records_ == 2 ? "line is %ld bytes; bytes 100 to %ld are read as a "
                                         "record of their own"
                                       : "line is %ld bytes; bytes 100 to %ld are read as %ld "
                                         "records of their own",
                         text, text, records_ - 1);
      }
      if (!tailKey_.empty()) {
        message += ", one an entry for key ";
        quote(message, tailKey_);
      }
      add(Rule::kLongLine, message);
    }
    if (zeroAt_ > 0) {
      if (wanted(Rule::kZeroByte))
        add(Rule::kZeroByte,
            format("zero byte at byte %ld; the lookups read nothing after it in its record",
                   zeroAt_));
    }
    // Rule order within the line: a stable insertion sort of a handful of items.
    for (size_t i = 1; i < pending_.size(); ++i) {
      for (size_t j = i; j > 0 && pending_[j].rule < pending_[j - 1].rule; --j) {
        std::swap(pending_[j], pending_[j - 1]);
      }
    }
    for (const Pending& p : pending_) {
      (isError(p.rule) ? summary_.errors : summary_.warnings) += 1;
      sink_.diagnostic({line_, p.rule, p.text});
    }
    pending_.clear();
    lineBytes_ = 0;
    records_ = 0;
    zeroAt_ = 0;
    tailKey_.clear();
  }

  struct Pending {
    Rule rule;
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
  bool hasText_ = false;  // some line has a field
  std::string tailKey_;   // key of the first entry in a record after the line's first
  std::vector<Pending> pending_;
};

}  // namespace

bool isError(Rule rule) { return rule <= Rule::kNoEntry; }

const char* ruleName(Rule rule) {
  static const char* const kNames[kRuleCount] = {
      "line over 98 bytes",      "zero byte",
      "key field over 39 bytes", "key field without \"# \"",
      "spaces for tabs",         "no entry",
      "duplicate key",           "fewer than three fields",
      "run of separators",       "field over 39 bytes",
      "space in field 1 or 4",   "more fields than the shape",
  };
  return kNames[static_cast<int>(rule)];
}

CheckSummary checkTable(int fd, Shape shape, CheckSink& sink, bool parseEveryRecord) {
  return Checker(shape, sink).run(fd, parseEveryRecord);
}
