#include "varncheck/rule_table.h"

#include <iterator>

namespace {

constexpr Severity kError = Severity::kError;
constexpr Severity kWarning = Severity::kWarning;

// Errors: the lookups cannot give the line back as written. Warnings: the line is read, but not
// as it looks, or not as its writer may have meant.
constexpr RuleRow kRules[] = {
    // Longer than 98 bytes: read as several records, each parsed and matched on its own.
    {Rule::kLongLine,
     kError,
     "line over 98 bytes",
     {"line is %ld bytes; its newline is read as a record of its own",
      "line is %ld bytes; bytes 100 to %ld are read as a record of their own",
      "line is %ld bytes; bytes 100 to %ld are read as %ld records of their own",
      ", one an entry for key %s"}},
    // The rest of its record is never read.
    {Rule::kZeroByte,
     kError,
     "zero byte",
     {"zero byte at byte %ld; the lookups read nothing after it in its record"}},
    // A key field over 39 bytes matches no key.
    {Rule::kLongKey,
     kError,
     "key field over 39 bytes",
     {"key field is %ld bytes; this entry can never be found"}},
    // Parse shape: a key field without "# " matches no key.
    {Rule::kNoKeyPrefix,
     kError,
     "key field without \"# \"",
     {"key field %s does not begin with \"# \"; parse can never find this entry"}},
    // One field holding spaces: meant as fields, it is no entry.
    {Rule::kSpacesNotTabs,
     kError,
     "spaces for tabs",
     {"fields are separated by spaces, not tabs; the line is one field and no entry"}},
    // The table has text but no entry, so no lookup finds anything. Given for no line.
    {Rule::kNoEntry,
     kError,
     "no entry",
     {"the table has text but no entry; no lookup finds anything in it"}},
    // A commented-out entry is live: a table has no comments, and the lookups return it.
    {Rule::kCommentEntry,
     kWarning,
     "entry starting with \"#\"",
     {"line begins with \"#\", but a table has no comments: the lookups read it as an entry "
      "and find it by key %s"}},
    // A comment that is no entry misleads no lookup, so it is only a warning, given in place of
    // the layout's "spaces for tabs" or "fewer than three fields", which are beside its point.
    {Rule::kCommentLine,
     kWarning,
     "comment-like line",
     {"line begins with \"#\" and is no entry: it reads as a comment-like line, which no lookup "
      "can return"}},
    // An earlier entry has the key, so this one is never returned.
    {Rule::kDuplicateKey,
     kWarning,
     "duplicate key",
     {"key %s is the key of line %ld already; this entry is never returned"}},
    // A key is matched byte for byte: a space at either end must be typed to find the entry.
    {Rule::kKeySpace,
     kWarning,
     "space around a key",
     {"key %s begins with a space; only a key with that space finds this entry",
      "key %s ends with a space; only a key with that space finds this entry",
      "key %s begins and ends with a space; only a key with those spaces finds this entry"}},
    // Text, but fewer than three fields.
    {Rule::kNotAnEntry,
     kWarning,
     "fewer than three fields",
     {"line has 1 field; with no key field it is not an entry",
      "line has 2 fields; with no key field it is not an entry"}},
    // A run of separators looks like an empty field but is one separator.
    {Rule::kSeparatorRun,
     kWarning,
     "run of separators",
     {"line starts with a separator; the first text on it is field 1",
      "a run of %ld separators after field %ld counts as one: the next text is field %ld, not an "
      "empty field"}},
    // A field other than the key is printed cut to 39 bytes.
    {Rule::kLongField,
     kWarning,
     "field over 39 bytes",
     {"field %ld is %ld bytes; it is printed cut to 39"}},
    // Spaces in fields 1 and 4 are printed as "=".
    {Rule::kSpaceAsEquals,
     kWarning,
     "space in field 1 or 4",
     {"field %ld holds a space; var number %ld prints it as \"=\""}},
    // Fields past the shape show only in L.
    {Rule::kExtraFields,
     kWarning,
     "more fields than the shape",
     {"line has %ld fields; field %ld shows only in L",
      "line has %ld fields; fields %ld to %ld show only in L"}},
};
static_assert(std::size(kRules) == kRuleCount, "a row for every rule");

constexpr bool rowsInRuleOrder() {
  for (int i = 0; i < kRuleCount; ++i) {
    if (static_cast<int>(kRules[i].rule) != i) return false;
  }
  return true;
}
static_assert(rowsInRuleOrder(), "the rows stand in the order of their rules");

}  // namespace

const RuleRow& ruleRow(Rule rule) { return kRules[static_cast<int>(rule)]; }

bool isError(Rule rule) { return ruleRow(rule).severity == Severity::kError; }

const char* ruleName(Rule rule) { return ruleRow(rule).name; }
