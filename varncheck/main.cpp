// varncheck: tells how the lookups will read each line of a host table.
#include <cstdio>
#include <cstring>

#include "builtin_tables.h"
#include "varncheck/report.h"

namespace {

const char kUsage[] =
    "usage: varncheck [--parse] [--all] [--] [FILE...]\n"
    "Checks host tables as the lookups read them. Diagnostics go to standard output as\n"
    "FILE:LINE: error: TEXT or FILE:LINE: warning: TEXT, then a summary for each file.\n"
    "\n"
    "  --parse    check the shape parse reads: three fields, the third \"# \" and the key\n"
    "             (by default, the five fields varnparse reads)\n"
    "  --all      list every warning, not the first ten of each kind\n"
    "  --         end the options: every argument after it is a FILE\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "With no FILE, checks each table that this build's programs read, each in its own shape.\n"
    "FILE - is standard input. Exit status: 0 no errors, 1 errors, 2 a file could not be read,\n"
    "the report could not be written or the usage is wrong. See varn_hosts(5), varnquery(1).\n";

}  // namespace

int main(int argc, char* argv[]) {
  ReportOptions options;
  int first = 1;
  for (; first < argc && argv[first][0] == '-' && argv[first][1] != '\0'; ++first) {
    const char* option = argv[first];
    if (std::strcmp(option, "--") == 0) {
      ++first;
      break;
    } else if (std::strcmp(option, "--parse") == 0) {
      options.shape = Shape::kParse;
    } else if (std::strcmp(option, "--all") == 0) {
      options.allWarnings = true;
    } else if (std::strcmp(option, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return finishOutput(kCheckClean, stdout, stderr);
    } else if (std::strcmp(option, "--version") == 0) {
      std::printf("varncheck %s\n", kVersion);
      return finishOutput(kCheckClean, stdout, stderr);
    } else {
      std::fprintf(stderr, "varncheck: unknown option '%s'\nTry 'varncheck --help'.\n", option);
      return kCheckUnreadable;
    }
  }
  if (first == argc) {
    BuiltInTable tables[kBuildTableCount];
    for (int i = 0; i < kBuildTableCount; ++i) {
      const BuildTable& t = kBuildTables[i];
      tables[i] = {t.path, t.fieldCount == 3 ? Shape::kParse : Shape::kFiveField, t.reader};
    }
    const int status =
        checkBuiltInTables(tables, kBuildTableCount, options.allWarnings, stdout, stderr);
    return finishOutput(status, stdout, stderr);
  }
  int status = kCheckClean;
  for (int i = first; i < argc; ++i) {
    const int result = checkFile(argv[i], options, stdout, stderr);
    if (result > status) status = result;
  }
  return finishOutput(status, stdout, stderr);
}
