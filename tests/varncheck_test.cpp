// The checker's rules, one row a trap: what each line of a table is reported as, in line order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "check_agreement.h"
#include "test_util.h"
#include "varncheck/report.h"
#include "varncheck/rules.h"

namespace {

using namespace std::string_literals;

class Recorder : public CheckSink {
 public:
  void diagnostic(const Diagnostic& d) override {
    found.push_back(std::to_string(d.line) + (isError(d.rule) ? " error " : " warning ") +
                    ruleName(d.rule));
    texts.emplace_back(d.text);
  }
  std::vector<std::string> found;
  std::vector<std::string> texts;
};

CheckSummary check(const std::string& table, Shape shape, Recorder& recorder,
                   bool parseEveryRecord = false) {
  ScratchFile file(table);
  const int fd = open(file.path().c_str(), O_RDONLY);
  const CheckSummary summary = checkTable(fd, shape, recorder, parseEveryRecord);
  close(fd);
  return summary;
}

const std::string kLong(120, 'x');  // one field over 98 bytes

struct Case {
  const char* what;
  Shape shape;
  std::string table;
  std::vector<std::string> expected;  // "LINE severity rule", in order
};

const Case kCases[] = {
    // Nothing to report.
    {"clean five-field table",
     Shape::kFiveField,
     "gw-1\tNorth Hub\tgw\t10.0.0.1\tcore\nweb\tFront\tweb01\t10.0.0.2\tdmz\n",
     {}},
    {"blank lines, CR LF, no final newline", Shape::kFiveField, "\n\na\tb\tc\r\n\r\nd\te\tf", {}},
    {"\"=\" for spaces in fields 2 and 3", Shape::kFiveField, "a\tNorth=Hub\tdb=main\n", {}},
    {"clean parse table, both spellings of the prefix",
     Shape::kParse,
     "h\tBuild Server\t# 42\nh\tMirror\t#=7\n",
     {}},
    // Errors.
    {"line over 98 bytes",
     Shape::kFiveField,
     "a\tb\tc\t" + kLong + "\n",
     {"1 error line over 98 bytes", "1 warning field over 39 bytes"}},
    {"line of 99 bytes: its newline is a record",
     Shape::kFiveField,
     "a\tb\tc\t" + std::string(93, 'y') + "\n",
     {"1 error line over 98 bytes", "1 warning field over 39 bytes"}},
    {"line of 99 bytes without a newline is one record",
     Shape::kFiveField,
     "a\tb\tc\t" + std::string(93, 'y'),
     {"1 warning field over 39 bytes"}},
    {"zero byte",
     Shape::kFiveField,
     "a\tb\tc\nd\te\0\tf\n"s,
     {"2 error zero byte", "2 warning fewer than three fields"}},
    {"key field over 39 bytes",
     Shape::kFiveField,
     "a\tb\t" + std::string(40, 'k') + "\n",
     {"1 error key field over 39 bytes"}},
    {"key field of 39 bytes is fine",
     Shape::kFiveField,
     "a\tb\t" + std::string(39, 'k') + "\n",
     {}},
    {"parse key without its prefix",
     Shape::kParse,
     "a\tb\t#42\nc\td\t42\n",
     {"1 error key field without \"# \"", "2 error key field without \"# \""}},
    // Warnings.
    {"duplicate key, \"=\" and space alike",
     Shape::kFiveField,
     "a\tb\tdb main\nc\td\tx\ne\tf\tdb=main\n",
     {"3 warning duplicate key"}},
    {"parse: \"#=42\" and \"# 42\" are one key",
     Shape::kParse,
     "a\tb\t# 42\nc\td\t#=42\n",
     {"2 warning duplicate key"}},
    {"fewer than three fields, and a table with text but no entry",
     Shape::kFiveField,
     "a\tb\n\nc\n",
     {"1 warning fewer than three fields", "3 warning fewer than three fields",
      "0 error no entry"}},
    {"fields separated by spaces: one field, no entry",
     Shape::kFiveField,
     "web01 Front web01 10.0.0.5 dmz\na\tb\tc\n",
     {"1 error spaces for tabs"}},
    {"a table of such lines alone has no entry",
     Shape::kParse,
     "box Build Server # 42\n",
     {"1 error spaces for tabs", "0 error no entry"}},
    {"blank and separator-only lines are no text", Shape::kFiveField, "\n\t\n\r\n", {}},
    {"run of separators inside a line",
     Shape::kFiveField,
     "a\t\tb\tc\td\n",
     {"1 warning run of separators"}},
    {"leading separator", Shape::kFiveField, "\ta\tb\tc\n", {"1 warning run of separators"}},
    {"runs past the shape's fields do not move them",
     Shape::kParse,
     "a\tb\t# 1\t\td\n",
     {"1 warning more fields than the shape"}},
    {"field other than the key over 39 bytes",
     Shape::kFiveField,
     "a\t" + std::string(40, 'n') + "\tk\n",
     {"1 warning field over 39 bytes"}},
    {"field 5 over 39 bytes is never printed cut",
     Shape::kFiveField,
     "a\tb\tk\td\t" + std::string(50, 'z') + "\n",
     {}},
    {"spaces in fields 1 and 4",
     Shape::kFiveField,
     "a b\tx\tk\tc d\te\n",
     {"1 warning space in field 1 or 4", "1 warning space in field 1 or 4"}},
    {"a space as the last byte of field 1, of field 4",
     Shape::kFiveField,
     "a \tx\tk\nb\tx\tj\td \te\n",
     {"1 warning space in field 1 or 4", "2 warning space in field 1 or 4"}},
    {"more fields than five",
     Shape::kFiveField,
     "a\tb\tc\td\te\tf\n",
     {"1 warning more fields than the shape"}},
    {"fourth field with parse",
     Shape::kParse,
     "a\tb\t# 1\td\n",
     {"1 warning more fields than the shape"}},
    // A run whose two separators stand in the two words of a record's bits, or end the first.
    {"run of separators at bytes 62 and 63",
     Shape::kFiveField,
     std::string(30, 'a') + "\t" + std::string(31, 'b') + "\t\tk\n",
     {"1 warning run of separators"}},
    {"run of separators at bytes 63 and 64",
     Shape::kFiveField,
     std::string(30, 'a') + "\t" + std::string(32, 'b') + "\t\tk\n",
     {"1 warning run of separators"}},
    {"space before or after a key, from a space or an \"=\"",
     Shape::kFiveField,
     "c\tC\tweb12 \t3\tz\nd\tD\t web14\t4\tw\ne\tE\t=x=\n" + std::string(70, 'f') + "\tF\tweb15 \n",
     {"1 warning space around a key", "2 warning space around a key",
      "3 warning space around a key", "4 warning space around a key",
      "4 warning field over 39 bytes"}},
    {"parse: a space after \"# \" is the key's",
     Shape::kParse,
     "a\tb\t#  42\nc\td\t# 7 \ne\tf\t# \n",
     {"1 warning space around a key", "2 warning space around a key"}},
    {"a shadowed key is reported as such alone",
     Shape::kFiveField,
     "a\tb\tk \n#c\td\tk \n",
     {"1 warning space around a key", "2 warning duplicate key"}},
    {"commented-out entries are live, short and long",
     Shape::kFiveField,
     "#web01\tFront\tweb01\t10.0.0.5\tdmz\n# old\t" + std::string(70, 'x') + "\tweb02\n",
     {"1 warning entry starting with \"#\"", "2 warning entry starting with \"#\"",
      "2 warning field over 39 bytes", "2 warning space in field 1 or 4"}},
    {"a comment of the system's protocols table that is an entry",
     Shape::kParse,
     "#\t99\t\t\t# any private encryption scheme\n",
     {"1 warning entry starting with \"#\"", "1 warning run of separators"}},
    {"comments that are no entry, in place of the layout's rules",
     Shape::kFiveField,
     "# Internet (IP) protocols, a comment longer than a slot\n#\n#\tx\na\tb\tc\n",
     {"1 warning comment-like line", "2 warning comment-like line", "3 warning comment-like line"}},
    {"a table of comments alone has no entry",
     Shape::kParse,
     "# services\n",
     {"1 warning comment-like line", "0 error no entry"}},
    {"\"#\" past the line's first byte is text",
     Shape::kFiveField,
     " #a\tb\tc\n",
     {"1 warning space in field 1 or 4"}},
};

TEST(Varncheck, ReportsEachTrapAtItsLine) {
  for (const Case& c : kCases) {
    for (const bool parsed : {false, true}) {
      Recorder recorder;
      const CheckSummary summary = check(c.table, c.shape, recorder, parsed);
      EXPECT_EQ(recorder.found, c.expected)
          << c.what << " parsed " << parsed << ": " << show(c.table);
      long errors = 0;
      for (const std::string& f : c.expected) errors += f.find(" error ") != std::string::npos;
      EXPECT_EQ(summary.errors, errors) << c.what;
      EXPECT_EQ(summary.warnings, static_cast<long>(c.expected.size()) - errors) << c.what;
    }
  }
}

TEST(Varncheck, SaysWhatTheLookupsWillDo) {
  const struct {
    std::string table;
    Shape shape;
    std::string text;
  } kTexts[] = {
      {"a\tb\tc\t" + std::string(125, 'x') + "\n", Shape::kFiveField,
       "line is 131 bytes; bytes 100 to 131 are read as a record of their own"},
      {std::string(99, 'x') + "\ta\tb\tkey\n", Shape::kFiveField,
       "line is 107 bytes; bytes 100 to 107 are read as a record of their own, one an entry for "
       "key \"key\""},
      {"a\tb\t" + std::string(44, 'k') + "\n", Shape::kFiveField,
       "key field is 44 bytes; this entry can never be found"},
      {"a\tb\tweb 1\nc\td\tweb=1\n", Shape::kFiveField,
       "key \"web 1\" is the key of line 1 already; this entry is never returned"},
      {"a\tb\t#\x01x\n", Shape::kParse,
       "key field \"#\\x01x\" does not begin with \"# \"; parse can never find this entry"},
      {"d\te\0\tf\n"s, Shape::kFiveField,
       "zero byte at byte 4; the lookups read nothing after it in its record"},
      {"web01 Front web01\n", Shape::kFiveField,
       "fields are separated by spaces, not tabs; the line is one field and no entry"},
      {"a\tb\n", Shape::kFiveField, "line has 2 fields; with no key field it is not an entry"},
      {"c\tC\tweb12 \n", Shape::kFiveField,
       "key \"web12 \" ends with a space; only a key with that space finds this entry"},
      {"c\tC\t#   42 \n", Shape::kParse,
       "key \"  42 \" begins and ends with a space; only a key with those spaces finds this entry"},
      {"#\t99\t# any private encryption scheme\n", Shape::kParse,
       "line begins with \"#\", but a table has no comments: the lookups read it as an entry and "
       "find it by key \"any private encryption scheme\""},
      {"# Internet (IP) protocols\n", Shape::kParse,
       "line begins with \"#\" and is no entry: it reads as a comment-like line, which no lookup "
       "can return"},
  };
  for (const auto& t : kTexts) {
    Recorder recorder;
    check(t.table, t.shape, recorder);
    ASSERT_FALSE(recorder.texts.empty()) << show(t.table);
    EXPECT_EQ(recorder.texts.front(), t.text) << show(t.table);
  }
}

// Thousands of warnings of one kind are counted, not listed; errors are always listed.
TEST(Varncheck, ListsTheFirstWarningsOfEachKindAndEveryError) {
  std::string table;
  for (int i = 0; i < 500; ++i)
    table += "a\tb\tk\n" + std::string("x\ty\t") + std::string(45, 'z') + "\n";
  ScratchFile file(table);
  for (const bool all : {false, true}) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    const int status = checkFile(file.path().c_str(), {Shape::kFiveField, all}, out, stderr);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    EXPECT_EQ(status, kCheckErrors);
    size_t warnings = 0, errors = 0;
    for (size_t at = 0; (at = printed.find(": warning: ", at)) != std::string::npos; ++at)
      ++warnings;
    for (size_t at = 0; (at = printed.find(": error: ", at)) != std::string::npos; ++at) ++errors;
    EXPECT_EQ(errors, 500u) << "all " << all;
    EXPECT_EQ(warnings, all ? 499u : 10u) << "all " << all;
    EXPECT_EQ(printed.find("489 more warnings of one kind (duplicate key)") != std::string::npos,
              !all);
    EXPECT_NE(printed.find("1000 lines, 1000 entries, 500 errors, 499 warnings"),
              std::string::npos);
  }
}

// Every entry the checker calls reachable is what a lookup with its key prints, and every one it
// calls shadowed gets the entry of the line it names.
TEST(Property, CheckerVerdictsAgreeWithLookups) {
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    std::mt19937 rng(seed);
    const std::string table = randomTable(rng);
    ScratchFile file(table);
    for (const Shape shape : {Shape::kFiveField, Shape::kParse}) {
      ASSERT_EQ(checkerDisagreement(file.path(), shape), "")
          << "seed " << seed << " parse " << (shape == Shape::kParse) << " " << show(table);
    }
  }
}

// Common lines are read from the block's bits, the rest parsed record by record: both readings
// report the same, on tables of random bytes and on tables of fields that are mostly plain.
TEST(Property, ReadingFromBitsAgreesWithParsingEveryRecord) {
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    std::mt19937 rng(seed);
    const std::string table = seed % 2 ? randomTable(rng) : fieldTable(rng);
    ScratchFile file(table);
    for (const Shape shape : {Shape::kFiveField, Shape::kParse}) {
      ASSERT_EQ(readingsDisagreement(file.path(), shape), "")
          << "seed " << seed << " parse " << (shape == Shape::kParse) << " " << show(table);
    }
  }
}

}  // namespace
