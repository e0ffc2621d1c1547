#include "engine/lookup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/table_reader.h"
#include "test_util.h"

using namespace std::literals;

namespace {

const std::string kFive =
    "gw 1\tNorth Hub\tab cd\ta=b\tx y\n"
    "web01\tFront=End\tweb01\t10.0.0.5\tdmz\n"
    "short\tonly\tthree\n"
    "dup\tfirst\tdup\tx\ty\n"
    "dup\tsecond\tdup\tx\ty\n"
    "db\tData\tkey=eq\tz\tz\n"
    "cr\tWin\tcrlf\tv4\tv5\r\n"
    "last\tNo Newline\tend\t4\t5";

struct Case {
  std::vector<std::string> args;
  std::string out;
  int status;
};

void expectCases(const std::string& table, int fieldCount, std::string_view prefix,
                 const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string argv;
    for (const std::string& a : c.args) argv += show(a) + " ";
    const LookupResult expected{c.out, c.status};
    EXPECT_EQ(lookupIn(table, fieldCount, prefix, c.args), expected) << "args " << argv;
  }
}

TEST(RunLookup, FiveFieldTable) {
  expectCases(kFive, 5, "",
              {
                  {{"ab cd", "1"}, "gw=1\n", 1},
                  {{"ab cd", "2"}, "North Hub\n", 1},
                  {{"ab cd", "3"}, "ab cd\n", 1},
                  {{"ab cd", "4"}, "a=b\n", 1},
                  {{"ab cd", "L"}, "gw 1\tNorth Hub\tab cd\ta=b\tx y\n", 1},
                  {{"web01", "2"}, "Front End\n", 1},
                  {{"web01", "L"}, "web01\tFront=End\tweb01\t10.0.0.5\tdmz\n", 1},
                  // The slot an entry does not fill prints empty, not an earlier field.
                  {{"three", "4"}, "\n", 1},
                  {{"dup", "2"}, "first\n", 1},
                  // A space of the key stands for a space or "=" of the table; "=" never matches.
                  {{"key eq", "3"}, "key eq\n", 1},
                  {{"key=eq", "3"}, "Not Found\n", 10},
                  {{"crlf", "L"}, "cr\tWin\tcrlf\tv4\tv5\r\n", 1},
                  {{"crlf", "4"}, "v4\n", 1},
                  {{"end", "L"}, "last\tNo Newline\tend\t4\t5", 1},
                  {{"end", "2", "extra", "args"}, "No Newline\n", 1},
                  // Byte for byte: case and trailing spaces count.
                  {{"WEB01", "1"}, "Not Found\n", 10},
                  {{"web01 ", "1"}, "Not Found\n", 10},
                  {{"web0", "1"}, "Not Found\n", 10},
                  {{"", "1"}, "Not Found\n", 10},
                  {{"web01\t", "1"}, "Not Found\n", 10},
                  {{"only", "1"}, "Not Found\n", 10},
              });
}

TEST(RunLookup, ArgumentsAndSelectors) {
  const std::string table = "a\tb\tk\td\te\n";
  expectCases(table, 5, "",
              {
                  {{}, "Not enough parameters\n", 0},
                  {{"k"}, "Not enough parameters\n", 0},
                  {{"k", "2x"}, "b\n", 1},
                  {{"k", " 3"}, "k\n", 1},
                  {{"k", "\t\n\v\f\r3"}, "k\n", 1},
                  {{"k", "+4"}, "d\n", 1},
                  {{"k", "04"}, "d\n", 1},
                  {{"k", "0000000000000000000001"}, "a\n", 1},
                  {{"k", "l"}, "Illegal Var Number\n", 4},
                  {{"k", "LL"}, "Illegal Var Number\n", 4},
                  {{"k", "L "}, "Illegal Var Number\n", 4},
                  {{"k", "0"}, "Illegal Var Number\n", 4},
                  {{"k", "5"}, "Illegal Var Number\n", 4},
                  {{"k", "-1"}, "Illegal Var Number\n", 4},
                  {{"k", "-0"}, "Illegal Var Number\n", 4},
                  {{"k", ""}, "Illegal Var Number\n", 4},
                  {{"k", "two"}, "Illegal Var Number\n", 4},
                  {{"k", "+-2"}, "Illegal Var Number\n", 4},
                  {{"k", "- 2"}, "Illegal Var Number\n", 4},
                  {{"k", "4294967297"}, "Illegal Var Number\n", 4},
                  {{"k", "-4294967295"}, "Illegal Var Number\n", 4},
                  {{"k", "99999999999999999999999999999"}, "Illegal Var Number\n", 4},
              });
}

TEST(RunLookup, UsageAndBadSelectorComeBeforeTheTable) {
  const char* args[] = {"varnparse", "k", "9", nullptr};
  const LookupProfile missing{"/nonexistent/varn_hosts", 5, ""};
  EXPECT_EQ(runLookup(missing, 3, args, -1), 4);
  EXPECT_EQ(runLookup(missing, 2, args, -1), 0);
  EXPECT_EQ(runLookup(missing, 0, args + 3, -1), 0);
  args[2] = "1";
  EXPECT_EQ(runLookup(missing, 3, args, -1), 3);
  // A table that opens but cannot be read ends like the end of the table.
  const LookupProfile directory{"/", 5, ""};
  EXPECT_EQ(runLookup(directory, 3, args, -1), 255);
}

TEST(RunLookup, KeyLengthLimit) {
  const std::string k39(39, 'k'), k40(40, 'k');
  const std::string table = "a\tb\t" + k40 + "\n" + "a\tb\t" + k39 + "\n";
  expectCases(table, 5, "",
              {
                  {{k39, "1"}, "a\n", 1},
                  {{k40, "1"}, "Not Found\n", 10},
                  {{std::string(100000, 'k'), "1"}, "Not Found\n", 10},
              });
  // A key field longer than 39 bytes matches nothing, even the key its first 39 bytes spell; a
  // key with a space passes the skip filter on its first run, and the over-long mark alone
  // refuses the field.
  expectCases("a\tb\t" + k40 + "\n", 5, "", {{{k39, "1"}, "Not Found\n", 10}});
  const std::string spaced = std::string(30, 'a') + " " + std::string(8, 'b');
  expectCases("a\tb\t" + spaced + "bb\n", 5, "", {{{spaced, "1"}, "Not Found\n", 10}});
  expectCases("a\tb\t# " + spaced.substr(2) + "bb\n", 3, "# ",
              {{{spaced.substr(2), "1"}, "Not Found\n", 10}});
}

TEST(RunLookup, LongLinesMatchPieceByPiece) {
  // The second record of a long line starts at its byte 99 and has fields of its own.
  const std::string line =
      "a\tb\t" + std::string(89, 'h') + "\t" + std::string(7, 'p') + "\tx\tkey\tz\n";
  ASSERT_EQ(line.substr(99), "pp\tx\tkey\tz\n");
  expectCases(line, 5, "",
              {
                  {{"key", "L"}, "pp\tx\tkey\tz\n", 1},
                  {{"key", "1"}, "pp\n", 1},
              });
  const std::string exact = "a\tb\tkey\t" + std::string(99 - 8, 'q');
  ASSERT_EQ(exact.size(), 99u);
  expectCases(exact + "\n", 5, "", {{{"key", "L"}, exact, 1}});
  // A key field cut where its record ends, at byte 99, is the key its first part spells, in the
  // first line of a table, after others, and after 258 lines that start with the key: once it has
  // passed 256 such candidates the scan asks whether any record of its window can be cut inside a
  // field, and the cut line starts some 50 bytes before the point where it asks.
  const std::string cut = "a\t" + std::string(86, 'b') + "\t" + std::string(10, 'k');
  ASSERT_EQ(cut.size(), 99u);
  std::string misses;
  for (int i = 0; i < 257; ++i) misses += std::string(10, 'k') + "qqqqq\n";
  misses += std::string(10, 'k') + std::string(57, 'q') + "\n";
  for (const std::string& before : {std::string(), std::string("x\ty\tz\n"), misses}) {
    SCOPED_TRACE("after " + std::to_string(before.size()) + " bytes of other lines");
    expectCases(before + cut + "zz\n", 5, "", {{{std::string(10, 'k'), "L"}, cut, 1}});
  }
}

TEST(RunLookup, PrefixedKeys) {
  const std::string table =
      "h1\tNo Space\t#42\n"
      "h2\tMore Text\t# 42 x\n"
      "h3\tEq Form\t#=42\textra\n"
      "h4\tSpace Form\t# 42\n"
      "e1\tEmpty\t# \n";
  expectCases(table, 3, "# ",
              {
                  {{"42", "2"}, "Eq Form\n", 1},
                  {{"42", "3"}, "# 42\n", 1},
                  {{"42", "4"}, "\n", 1},
                  {{"42", "L"}, "h3\tEq Form\t#=42\textra\n", 1},
                  {{"", "1"}, "e1\n", 1},
                  {{"42 x", "1"}, "h2\n", 1},
                  {{"#42", "1"}, "Not Found\n", 10},
                  {{std::string(37, 'k'), "1"}, "Not Found\n", 10},
              });
  const std::string k37(37, 'k'), k38(38, 'k');
  expectCases("a\tb\t# " + k37 + "\n" + "a\tb\t# " + k38 + "\n", 3, "# ",
              {{{k37, "2"}, "b\n", 1}, {{k38, "2"}, "Not Found\n", 10}});
}

TEST(RunLookup, HostileTables) {
  const std::string junk = "\0\t\0k\n\xff\xfe\t\x01\tk\t\0\n"s;
  expectCases(junk, 5, "",
              {
                  {{"k", "L"}, "\xff\xfe\t\x01\tk\t", 1},
                  {{"k", "2"}, "\x01\n", 1},
                  {{"", "1"}, "Not Found\n", 10},
              });
  expectCases("", 5, "", {{{"k", "1"}, "Not Found\n", 10}});
  expectCases(std::string(5000, '\0'), 5, "", {{{"k", "1"}, "Not Found\n", 10}});
  expectCases("   \n\t\t\n", 5, "",
              {{{" ", "1"}, "Not Found\n", 10}, {{"   ", "1"}, "Not Found\n", 10}});
  expectCases("a\tb\t \n", 5, "", {{{" ", "1"}, "a\n", 1}});
}

// The scan stops at the first match: of a table fed through a pipe, at most one block past the
// matching record is read.
TEST(RunLookup, ReadsAtMostOneBlockPastTheMatch) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_GE(fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20), 1 << 20);
  std::string table = "a\tb\tkey\td\te\n";
  while (table.size() < 900 * 1024) table += "a\tb\tkey\tlater\te\n";
  ASSERT_EQ(write(pipeFds[1], table.data(), table.size()), static_cast<ssize_t>(table.size()));
  const std::string path = "/proc/self/fd/" + std::to_string(pipeFds[0]);
  EXPECT_EQ(lookupAt(path, 5, "", {"key", "4"}), (LookupResult{"d\n", 1}));
  int left = 0;
  ASSERT_EQ(ioctl(pipeFds[0], FIONREAD, &left), 0);
  EXPECT_GE(static_cast<size_t>(left), table.size() - kBlockSize);
  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
