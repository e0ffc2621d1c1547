// End-to-end tests of varncheck as built: its statuses, and its check of the build's own tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "fixture_tables.h"

namespace {

TEST(Varncheck, StatusesAndTheBuildsOwnTables) {
  removeTables();
  placeTable(HOME_TABLE, kFiveField);
  placeTable(PARSE_TABLE, "h\tHost\t# 1\nh\tOther\t#=1\n");
  const std::string dir = std::filesystem::path(HOME_TABLE).parent_path();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    bool err;         // something on standard error
    Output output = Output::kPipe;
  } kRuns[] = {
      {{}, 0, std::string(HOME_TABLE) + ":1: warning: field 1 holds a space", false},
      {{HOME_TABLE}, 0, std::string(HOME_TABLE) + ":1: warning: field 1 holds a space", false},
      {{"--parse", HOME_TABLE}, 1, std::string(HOME_TABLE) + ":1: error: key field", false},
      {{"--parse", PARSE_TABLE}, 0, std::string(PARSE_TABLE) + ":2: warning: key \"1\"", false},
      {{HOME_TABLE, "/nonexistent/table"}, 2, HOME_TABLE, true},
      {{dir}, 2, "", true},
      {{"--bogus"}, 2, "", true},
      {{"--version"}, 0, "varncheck ", false},
      {{"--help"}, 0, "usage: varncheck", false},
      {{"--", HOME_TABLE},
       0,
       std::string(HOME_TABLE) + ":1: warning: field 1 holds a space",
       false},
      // A report that cannot be written: status 2, and the reason.
      {{}, 2, "", true, Output::kFull},
      {{HOME_TABLE}, 2, "", true, Output::kFull},
      {{"--parse", HOME_TABLE}, 2, "", true, Output::kFull},
      {{"--version"}, 2, "", true, Output::kFull},
      {{"--help"}, 2, "", true, Output::kFull},
  };
  for (const auto& r : kRuns) {
    const Outcome o = run(VARNCHECK, r.args, r.output);
    const std::string what = (r.args.empty() ? "(no arguments)" : r.args[0]) +
                             (r.output == Output::kFull ? " >/dev/full" : "");
    EXPECT_EQ(o.status, r.status) << what;
    EXPECT_EQ(o.out.substr(0, r.out.size()), r.out) << what << ": " << o.out;
    EXPECT_EQ(!o.err.empty(), r.err) << what << ": " << o.err;
    if (r.output == Output::kFull) {
      EXPECT_EQ(o.err, "varncheck: standard output: No space left on device\n") << what;
    }
  }
  EXPECT_EQ(run(VARNCHECK, {"--bogus"}).err,
            "varncheck: unknown option '--bogus'\nTry 'varncheck --help'.\n");
  const Outcome all = run(VARNCHECK, {});
  EXPECT_NE(all.out.find(std::string(CUSTOM_TABLE) + ": absent"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find(std::string(PARSE_TABLE) + ":2: warning: key"), std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find(std::string(PARSE_TABLE) + ": 2 lines, 2 entries, 0 errors, 1 warning\n"),
            std::string::npos)
      << all.out;
  // With no table of the build at all there is nothing to deploy: a status a script stops at.
  removeTables();
  const Outcome none = run(VARNCHECK, {});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "varncheck: none of this build's tables exists\n");
  // One line, one entry: the words agree with the numbers.
  placeTable(HOME_TABLE, "web01 Front web01 10.0.0.5\nweb01\tFront\tweb01\n");
  const Outcome one = run(VARNCHECK, {HOME_TABLE});
  EXPECT_EQ(one.status, 1);
  EXPECT_NE(one.out.find(":1: error: fields are separated by spaces, not tabs"), std::string::npos)
      << one.out;
  EXPECT_NE(one.out.find(": 2 lines, 1 entry, 1 error, 0 warnings\n"), std::string::npos)
      << one.out;
  removeTables();
}

}  // namespace
