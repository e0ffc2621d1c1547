// End-to-end tests of varnquery as built: statuses, keys from arguments and standard input,
// framing, the early end of its pass, and its confinement.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using namespace std::string_literals;

const char kHomeTable[] =
    "gw 1\tNorth Hub\tab cd\ta=b\tx y\n"
    "web01\tFront=End\tweb01\t10.0.0.5\tdmz\n"
    "dup\tsecond\tweb01\n"
    "x\ty\tlast";
const char kParseTable[] = "box\tBuild Server\t# 42\n";

TEST(Varnquery, AnswersEachKeyAsItsLookup) {
  struct Case {
    std::vector<std::string> args;
    std::string input;  // standard input
    std::string out;
    std::string err;
    int status;
    Output output = Output::kPipe;
  };
  const std::string noTable = CUSTOM_TABLE;
  const std::string full = "varnquery: standard output: No space left on device\n";
  // Sixteen distinct keys, none in the table, fill as many slots as a set of them would have,
  // were it sized to the keys and not twice that: then a key field that passes the set's filter
  // but matches no key is searched for forever. Keys of two bytes are looked for in every key
  // field, and with these a field of the table passes the filter.
  std::vector<std::string> sixteen = {"2"};
  std::string sixteenOut;
  for (int i = 0; i < 16; ++i) {
    sixteen.push_back("s" + std::to_string(i));
    sixteenOut += "Not Found\n";
  }
  const Case kCases[] = {
      {{"2", "web01"}, "", "Front End\n", "", 0},
      {{"2", "web01", "nosuch", "web01"}, "", "Front End\nNot Found\nFront End\n", "", 1},
      {{"--status", "2", "web01", "nosuch"}, "", "1\tFront End\n10\tNot Found\n", "", 1},
      {{"2"}, "web01\nnosuch\nab cd", "Front End\nNot Found\nNorth Hub\n", "", 1},
      {{"2"}, "", "", "", 0},
      {{"1"}, "\n web01\nweb01 \n", "Not Found\nNot Found\nNot Found\n", "", 1},
      {{"L", "last", "ab cd"}, "", "x\ty\tlast\ngw 1\tNorth Hub\tab cd\ta=b\tx y\n", "", 0},
      {{"-z", "L", "last"}, "", "x\ty\tlast\0"s, "", 0},
      {{"-z", "2", "web01"}, "", "Front End\0"s, "", 0},
      {{"-z", "L", "ab cd"}, "", "gw 1\tNorth Hub\tab cd\ta=b\tx y\0"s, "", 0},
      {{"-z", "--status", "4"},
       "web01\0ab=cd\0ab cd"s,
       "1\t10.0.0.5\0"
       "10\tNot Found\0"
       "1\ta=b\0"s,
       "",
       1},
      {{"--", "3", "-x", "--help"}, "", "Not Found\nNot Found\n", "", 1},
      {{"--table=parse", "3", "42"}, "", "# 42\n", "", 0},
      {{"--table", PARSE_TABLE, "--parse", "2", "42", "# 42"},
       "",
       "Build Server\nNot Found\n",
       "",
       1},
      {{"--table", PARSE_TABLE, "2", "42"}, "", "Not Found\n", "", 1},
      // The selector is checked before the table, as the lookups check it.
      {{"5", "web01"},
       "",
       "",
       "varnquery: illegal var number '5': the selector is L or 1 to 4\n",
       4},
      {{"--table=custom", "L", "web01"},
       "",
       "",
       "varnquery: " + noTable + ": No such file or directory\n",
       3},
      {{"--table=custom", "0", "web01"},
       "",
       "",
       "varnquery: illegal var number '0': the selector is L or 1 to 4\n",
       4},
      {{"2"},
       "web01\nab\0cd\n"s,
       "",
       "(standard input):2: error: the key holds a zero byte, which no command-line key can; "
       "use -z for keys that end with one\n",
       2},
      {{},
       "",
       "",
       "varnquery: no selector: give L or a var number 1 to 4\n"
       "Try 'varnquery --help'.\n",
       2},
      {{"--bogus", "2"},
       "",
       "",
       "varnquery: unknown option '--bogus'\nTry 'varnquery --help'.\n",
       2},
      {{"-", "web01"},
       "",
       "",
       "varnquery: illegal var number '-': the selector is L or 1 to 4\n",
       4},
      {{"--table=", "2", "x"},
       "",
       "",
       "varnquery: --table needs a table\nTry 'varnquery --help'.\n",
       2},
      {sixteen, "", sixteenOut, "", 1},
      {{"--parse", "2", "x"},
       "",
       "",
       "varnquery: --parse is for a FILE; named tables have their shape\n"
       "Try 'varnquery --help'.\n",
       2},
      {{"--version"}, "", "varnquery 1.0.0\n", "", 0},
      {{"2", "web01"}, "", "", full, 2, Output::kFull},
      {{"2"}, "web01\n", "", full, 2, Output::kFull},
      {{"--help"}, "", "", full, 2, Output::kFull},
      {{"--version"}, "", "", full, 2, Output::kFull},
  };
  std::filesystem::remove_all(CUSTOM_TABLE);
  placeTable(HOME_TABLE, kHomeTable);
  placeTable(PARSE_TABLE, kParseTable);
  for (const Case& c : kCases) {
    std::string argv = "varnquery";
    for (const std::string& a : c.args) argv += " '" + a + "'";
    const Outcome r = run(VARNQUERY, c.args, c.output, true, c.input);
    EXPECT_EQ(r.out, c.out) << argv;
    EXPECT_EQ(r.err, c.err) << argv;
    EXPECT_EQ(r.status, c.status) << argv;
  }
  const Outcome help = run(VARNQUERY, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: varnquery ", 0), 0u) << help.out;
  // A table that opens but cannot be read: the lookups' answers, and the reason.
  std::filesystem::remove_all(HOME_TABLE);
  std::filesystem::create_directories(HOME_TABLE);
  const Outcome directory = run(VARNQUERY, {"2", "web01"});
  EXPECT_EQ(directory.out, "Not Found\n");
  EXPECT_EQ(directory.err, "varnquery: "s + HOME_TABLE + ": Is a directory\n");
  EXPECT_EQ(directory.status, 2);
  // Keys that cannot be read: standard input a directory.
  const Outcome keys = run("/bin/sh", {"-c", "exec "s + VARNQUERY + " 2 </"});
  EXPECT_EQ(keys.out, "");
  EXPECT_EQ(keys.err, "varnquery: standard input: Is a directory\n");
  EXPECT_EQ(keys.status, 2);
  std::filesystem::remove_all(HOME_TABLE);
  std::filesystem::remove_all(PARSE_TABLE);
}

// The table is a FIFO whose writer stays: varnquery is confined while it waits, and once the
// entries of all its keys have come it ends without waiting for the rest of the table.
TEST(Varnquery, ConfinedAndDoneAtItsLastKeysEntry) {
  int fifo = -1;
  const Child child = spawnOnFifo(HOME_TABLE, VARNQUERY, {"2", "web01", "ab cd", "web01"}, fifo);
  ASSERT_GE(fifo, 0);
  EXPECT_EQ(seccompOf(child.pid, SANDBOXED), SANDBOXED ? "1" : "0");
  const std::string entries(kHomeTable, std::string_view(kHomeTable).find("dup"));
  ASSERT_EQ(write(fifo, entries.data(), entries.size()), static_cast<ssize_t>(entries.size()));
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 10000 && done == 0; ++i) {
    done = waitpid(child.pid, &status, WNOHANG);
    if (done == 0) usleep(1000);
  }
  if (done == 0) kill(child.pid, SIGKILL);
  EXPECT_NE(done, 0) << "varnquery waited for the rest of the table";
  close(fifo);
  const Outcome r = finish(child);
  EXPECT_EQ(r.out, "Front End\nNorth Hub\nFront End\n");
  EXPECT_EQ(r.err, "");
  if (done != 0) {
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::filesystem::remove_all(HOME_TABLE);
}

}  // namespace
