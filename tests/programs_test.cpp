// End-to-end tests of the built lookups: arguments in, bytes and exit status out, nothing on
// standard error, whatever happens to standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process.h"
#include "fixture_tables.h"

namespace {

struct Case {
  std::vector<std::string> args;
  std::string out;
  int status;
};

void expectRuns(const char* program, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string argv = program;
    for (const std::string& a : c.args) argv += " '" + a + "'";
    const Outcome r = run(program, c.args);
    EXPECT_EQ(r.out, c.out) << argv;
    EXPECT_EQ(r.status, c.status) << argv;
    EXPECT_EQ(r.err, "") << argv;
  }
}

TEST(Varnparse, AnswersFromItsOwnTable) {
  removeTables();
  placeTable(HOME_TABLE, kFiveField);
  expectRuns(VARNPARSE_HOME, {
                                 {{}, "Not enough parameters\n", 0},
                                 {{"web01"}, "Not enough parameters\n", 0},
                                 {{"ab cd", "1"}, "gw=1\n", 1},
                                 {{"ab cd", "2"}, "North Hub\n", 1},
                                 {{"ab cd", "3"}, "ab cd\n", 1},
                                 {{"ab cd", "4"}, "a=b\n", 1},
                                 {{"ab cd", "L"}, "gw 1\tNorth Hub\tab cd\ta=b\tx y\n", 1},
                                 {{"web01", "2"}, "Front End\n", 1},
                                 {{"only", "4"}, "\n", 1},
                                 {{"web01", "5"}, "Illegal Var Number\n", 4},
                                 {{"web01", "l"}, "Illegal Var Number\n", 4},
                                 {{"nothere", "1"}, "Not Found\n", 10},
                                 {{std::string(100000, 'w'), "1"}, "Not Found\n", 10},
                             });
  const Outcome empty = run(VARNPARSE_HOME, {}, Output::kPipe, false);
  EXPECT_EQ(empty.out, "Not enough parameters\n");
  EXPECT_EQ(empty.status, 0);
}

TEST(Varnparse, EachBuildReadsOnlyItsOwnPath) {
  removeTables();
  placeTable(CUSTOM_TABLE, kFiveField);
  expectRuns(VARNPARSE_HOME,
             {{{"web01", "1"}, "", 3}, {{"web01", "9"}, "Illegal Var Number\n", 4}});
  expectRuns(VARNPARSE_CUSTOM, {{{"web01", "1"}, "web01\n", 1}});
  removeTables();
  placeTable(HOME_TABLE, kFiveField);
  expectRuns(VARNPARSE_CUSTOM,
             {{{"web01", "1"}, "", 3}, {{"web01", "0"}, "Illegal Var Number\n", 4}});
}

TEST(Varnparse, DirectoryInPlaceOfTheTableIsNotFound) {
  removeTables();
  std::filesystem::create_directories(HOME_TABLE);
  expectRuns(VARNPARSE_HOME, {{{"web01", "1"}, "Not Found\n", 10}});
  removeTables();
}

TEST(Parse, MatchesTheKeyBehindItsPrefix) {
  removeTables();
  placeTable(PARSE_TABLE,
             "n1\tNo Space\t#42\n"
             "n2\tMore Text\t# 42 x\n"
             "h1\tEq Form\t#=42\textra field\n"
             "h2\tSpace Form\t# 42\n"
             "h3\tSeven\t# 7\n"
             "long\tThirty Seven\t# kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk\n"
             "long\tThirty Eight\t# kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk\n");
  expectRuns(PARSE, {
                        {{"42", "1"}, "h1\n", 1},
                        {{"42", "2"}, "Eq Form\n", 1},
                        {{"42", "3"}, "# 42\n", 1},
                        {{"42", "4"}, "\n", 1},
                        {{"42", "L"}, "h1\tEq Form\t#=42\textra field\n", 1},
                        {{"7", "2"}, "Seven\n", 1},
                        {{"#42", "1"}, "Not Found\n", 10},
                        {{"42 x", "1"}, "n2\n", 1},
                        {{std::string(37, 'k'), "2"}, "Thirty Seven\n", 1},
                        {{std::string(38, 'k'), "2"}, "Not Found\n", 10},
                        {{"42", "5"}, "Illegal Var Number\n", 4},
                    });
  removeTables();
  expectRuns(PARSE, {{{"42", "1"}, "", 3}, {{"42", "x"}, "Illegal Var Number\n", 4}});
}

// Whatever becomes of standard output, every outcome keeps its status and nothing reaches
// standard error; only "Not Found" reports the failed write, by its status.
TEST(Programs, KeepTheirStatusWhenOutputFails) {
  removeTables();
  placeTable(HOME_TABLE, kFiveField);
  placeTable(PARSE_TABLE, "h\tHost\t# 1\n");
  const struct {
    const char* program;
    std::vector<std::string> args;
    int status;
    int failedStatus;
  } kOutcomes[] = {
      {VARNPARSE_HOME, {"web01"}, 0, 0},
      {VARNPARSE_HOME, {"web01", "2"}, 1, 1},
      {VARNPARSE_HOME, {"web01", "L"}, 1, 1},
      {VARNPARSE_HOME, {"web01", "7"}, 4, 4},
      {VARNPARSE_HOME, {"absent", "1"}, 10, 255},
      {PARSE, {"1", "1"}, 1, 1},
      {PARSE, {"2", "1"}, 10, 255},
  };
  for (const auto& o : kOutcomes) {
    for (const Output output : {Output::kClosed, Output::kFull, Output::kReaderGone}) {
      const Outcome r = run(o.program, o.args, output);
      EXPECT_EQ(r.status, o.failedStatus) << o.args[0] << " output " << static_cast<int>(output);
      EXPECT_EQ(r.err, "") << o.args[0] << " output " << static_cast<int>(output);
    }
    EXPECT_EQ(run(o.program, o.args).status, o.status) << o.args[0];
  }
  removeTables();
}

// Once the table is open a program is confined to read, write and exit: a lookup blocked on a
// FIFO as its table shows strict seccomp, then answers once the FIFO is written.
TEST(Programs, ConfinedOnceTheTableIsOpen) {
  removeTables();
  int fifo = -1;
  const Child child = spawnOnFifo(HOME_TABLE, VARNPARSE_HOME, {"web01", "2"}, fifo);
  ASSERT_GE(fifo, 0);
  EXPECT_EQ(seccompOf(child.pid, SANDBOXED), SANDBOXED ? "1" : "0");
  ASSERT_EQ(write(fifo, kFiveField, sizeof kFiveField - 1),
            static_cast<ssize_t>(sizeof kFiveField - 1));
  close(fifo);
  const Outcome r = finish(child);
  EXPECT_EQ(r.out, "Front End\n");
  EXPECT_EQ(r.status, 1);
  removeTables();
}

// Under strace, every path after the table is open calls nothing but read, write and exit.
TEST(Programs, CallOnlyReadWriteAndExitOnceConfined) {
  if (!SANDBOXED) GTEST_SKIP() << "this build does not confine its programs";
  if (std::system("strace -V >/dev/null 2>&1") != 0) {
    // CI installs strace; elsewhere its absence skips the test.
    if (const char* ci = std::getenv("CI"); ci != nullptr && std::string_view(ci) == "true") {
      FAIL() << "strace missing under CI";
    }
    GTEST_SKIP() << "no strace";
  }
  removeTables();
  placeTable(HOME_TABLE, kFiveField);
  const std::string trace = std::string(HOME_TABLE) + ".trace";
  const struct {
    std::string args;
    int status;
    int onDirectory;  // a directory reads as an empty table
  } kPaths[] = {
      {"web01 2", 1, 10},      {"web01 L", 1, 10},         {"absent 1", 10, 10},
      {"web01 2 >&-", 1, 255}, {"absent 1 >&-", 255, 255}, {"absent 1 >/dev/full", 255, 255},
  };
  for (bool directory : {false, true}) {
    if (directory) {
      removeTables();
      std::filesystem::create_directories(HOME_TABLE);
    }
    for (const auto& p : kPaths) {
      // The path's own redirection comes after the default one and wins.
      const std::string command =
          "strace -qq -o " + trace + " " + VARNPARSE_HOME + " >/dev/null " + p.args;
      const int status = WEXITSTATUS(std::system(command.c_str()));
      EXPECT_EQ(status, directory ? p.onDirectory : p.status) << p.args;
      FILE* f = std::fopen(trace.c_str(), "r");
      ASSERT_NE(f, nullptr);
      bool confined = false;
      char line[512];
      while (std::fgets(line, sizeof line, f)) {
        const std::string_view call(line, std::strcspn(line, "("));
        if (confined) {
          EXPECT_TRUE(call == "read" || call == "write" || call == "exit" ||
                      call.starts_with("+++"))
              << p.args << (directory ? " on a directory" : "") << ": " << line;
        }
        if (call == "prctl") confined = true;
      }
      std::fclose(f);
      EXPECT_TRUE(confined) << p.args;
    }
  }
  std::filesystem::remove(trace);
  removeTables();
}

// The checker's statuses, and with no file the build's own tables, each in its shape, absent
// ones named.
std::string numberedTable(int lines) {
  std::string table;
  for (int i = 0; i < lines; ++i) {
    table += "n" + std::to_string(i) + "\tRack " + std::to_string(i % 40) + "\thost" +
             std::to_string(i) + "\t10.0.0." + std::to_string(i % 256) + "\tz\n";
  }
  return table;
}

TEST(Programs, ManyConcurrentRunsEachGetTheirAnswer) {
  removeTables();
  placeTable(HOME_TABLE, numberedTable(20000));
  std::vector<Child> children;
  for (int i = 0; i < 200; ++i) {
    children.push_back(
        spawn(VARNPARSE_HOME, {"host" + std::to_string(i * 97 + (i % 3 == 0 ? 20000 : 0)), "1"}));
  }
  for (int i = 0; i < 200; ++i) {
    const Outcome r = finish(children[i]);
    const bool present = i % 3 != 0;
    EXPECT_EQ(r.out, present ? "n" + std::to_string(i * 97) + "\n" : "Not Found\n") << "run " << i;
    EXPECT_EQ(r.status, present ? 1 : 10) << "run " << i;
    EXPECT_EQ(r.err, "") << "run " << i;
  }
  removeTables();
}

// A table emptied or cut short in place while runs read it gives each run either the answer or
// "Not Found", never a crash or anything else.
TEST(Programs, TableChangingUnderReaders) {
  removeTables();
  const std::string table = numberedTable(100000);
  const std::string key = "host99990", answer = "n99990\n";
  placeTable(HOME_TABLE, table);
  for (int round = 0; round < 20; ++round) {
    std::vector<Child> children;
    for (int i = 0; i < 4; ++i) children.push_back(spawn(VARNPARSE_HOME, {key, "1"}));
    truncate(HOME_TABLE, round % 2 == 0 ? 0 : static_cast<off_t>(table.size() / 2));
    for (const Child& child : children) {
      const Outcome r = finish(child);
      EXPECT_TRUE((r.out == answer && r.status == 1) || (r.out == "Not Found\n" && r.status == 10))
          << "round " << round << " out " << r.out << " status " << r.status;
      EXPECT_EQ(r.err, "") << "round " << round;
    }
    placeTable(HOME_TABLE, table);
  }
  removeTables();
}

// A table replaced by rename, as varn_hosts(5) teaches, while lookups and batch runs read it:
// each run reads one whole version, so no run misses a key that both versions hold.
TEST(Programs, TableReplacedByRenameUnderReaders) {
  removeTables();
  const std::string versions[] = {std::string(HOME_TABLE) + ".0", std::string(HOME_TABLE) + ".1"};
  placeTable(versions[0].c_str(), numberedTable(20000));
  placeTable(versions[1].c_str(), numberedTable(30000));
  const std::string next = std::string(HOME_TABLE) + ".new";
  ASSERT_EQ(link(versions[0].c_str(), HOME_TABLE), 0);
  std::atomic<bool> stop = false;
  std::atomic<int> renames = 0;
  std::thread writer([&] {
    for (int i = 1; !stop; ++i) {
      unlink(next.c_str());
      if (link(versions[i % 2].c_str(), next.c_str()) == 0 &&
          rename(next.c_str(), HOME_TABLE) == 0) {
        ++renames;
      }
      usleep(100);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  int runs = 0;
  while (runs < 400 && std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
    std::vector<Child> children;
    for (int i = 0; i < 4; ++i) {
      children.push_back(spawn(VARNPARSE_HOME, {"host19990", "1"}));
      children.push_back(spawn(VARNQUERY, {"1", "host19990", "host5"}));
    }
    for (size_t i = 0; i < children.size(); ++i, ++runs) {
      const Outcome r = finish(children[i]);
      const bool batch = i % 2 == 1;
      EXPECT_EQ(r.out, batch ? "n19990\nn5\n" : "n19990\n") << "run " << runs;
      EXPECT_EQ(r.status, batch ? 0 : 1) << "run " << runs;
      EXPECT_EQ(r.err, "") << "run " << runs;
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(renames, 10) << "the table was hardly replaced while " << runs << " runs read it";
  for (const std::string& path : {versions[0], versions[1], next}) unlink(path.c_str());
  removeTables();
}

TEST(Programs, HugeTablesEndInNotFound) {
  removeTables();
  placeTable(HOME_TABLE, "");
  ASSERT_EQ(truncate(HOME_TABLE, off_t{1} << 30), 0);  // sparse: a gigabyte of zero bytes
  expectRuns(VARNPARSE_HOME, {{{"key", "L"}, "Not Found\n", 10}, {{"", "2"}, "Not Found\n", 10}});
  std::string line(100 << 20, 'k');
  for (size_t i = 0; i < line.size(); i += 7) line[i] = '\t';
  placeTable(HOME_TABLE, line);
  // Fields of six bytes, a tab before each: a key of seven matches none.
  expectRuns(VARNPARSE_HOME,
             {{{"kkkkkkk", "L"}, "Not Found\n", 10}, {{"x", "1"}, "Not Found\n", 10}});
  removeTables();
}

}  // namespace
