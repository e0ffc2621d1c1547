// varnquery: answers many keys in one pass over a host table, each as its own lookup would.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "builtin_tables.h"
#include "varnquery/keys.h"
#include "varnquery/query.h"

namespace {

const char kUsage[] =
    "usage: varnquery [--table=TABLE] [--parse] [--status] [-z] [--] SELECTOR [KEY...]\n"
    "Answers each KEY, in order, with exactly what the lookup would print for KEY SELECTOR,\n"
    "reading the table once. SELECTOR is L or a var number 1 to 4. With no KEY, the keys are\n"
    "read from standard input, one a line, as given: nothing is trimmed.\n"
    "\n"
    "  --table=TABLE  home (the default): the table of varnparse; custom: that of the custom\n"
    "                 build of varnparse; parse: that of parse, in its shape; or a FILE\n"
    "  --parse        FILE has parse's shape: three fields, and \"# \" goes before each key\n"
    "  --status       put the status the lookup would end with (1 found, 10 not found) and\n"
    "                 a tab before each answer\n"
    "  -z, --zero     end each answer with a zero byte in place of its last newline (a record\n"
    "                 without one keeps all its bytes); keys on standard input end with a zero\n"
    "                 byte too\n"
    "  --             end the options: what follows is the selector and the keys\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "A record printed for L that lacks a newline gets one, unless -z. Exit status: 0 every key\n"
    "found, 1 some key not found, 2 usage error or keys, table or output unreadable,\n"
    "3 the table cannot be opened, 4 the selector is neither L nor 1 to 4. See varnquery(1).\n";

// What the options ask for.
struct Invocation {
  const char* tableName = "home";
  bool parseShape = false;
  QueryOptions options;
  int next = 1;  // the first argument after the options
};

constexpr int kGoOn = -1;  // the options leave the run to go on

// Writes parts to standard error.
void say(std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) writeAll(STDERR_FILENO, part);
}

// Says what is wrong with the usage, and where help is; returns the status of a usage error.
int usageError(std::initializer_list<std::string_view> parts) {
  say({"varnquery: "});
  say(parts);
  say({"\nTry 'varnquery --help'.\n"});
  return kQueryTrouble;
}

// Writes parts to standard output for --help and --version; returns the run's status.
int printAndEnd(std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) {
    if (!writeAll(STDOUT_FILENO, part)) {
      sayProblem(STDERR_FILENO, "standard output", errno);
      return kQueryTrouble;
    }
  }
  return kQueryAllFound;
}

// Reads the options at the front of argv into run; returns kGoOn, or the status of a run that
// they end (--help, --version, a usage error).
int readOptions(int argc, char* argv[], Invocation& run) {
  int& i = run.next;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const std::string_view option = argv[i];
    if (option == "--") {
      ++i;
      break;
    } else if (std::strncmp(argv[i], "--table=", 8) == 0) {
      run.tableName = argv[i] + 8;
    } else if (option == "--table") {
      if (++i == argc) return usageError({"--table needs a table"});
      run.tableName = argv[i];
    } else if (option == "--parse") {
      run.parseShape = true;
    } else if (option == "--status") {
      run.options.withStatus = true;
    } else if (option == "-z" || option == "--zero") {
      run.options.zeroEnds = true;
    } else if (option == "--help") {
      return printAndEnd({kUsage});
    } else if (option == "--version") {
      return printAndEnd({"varnquery ", kVersion, "\n"});
    } else {
      return usageError({"unknown option '", option, "'"});
    }
  }
  return kGoOn;
}

// Sets profile to the table that run names, a table of the build or a file; returns kGoOn or
// the status of a usage error.
int chooseTable(const Invocation& run, LookupProfile& profile) {
  const std::string_view name = run.tableName;
  for (const BuildTable& table : kBuildTables) {
    if (name != table.name) continue;
    if (run.parseShape) return usageError({"--parse is for a FILE; named tables have their shape"});
    profile = {table.path, table.fieldCount, table.keyPrefix};
    return kGoOn;
  }
  if (name.empty()) return usageError({"--table needs a table"});
  profile = {run.tableName, run.parseShape ? 3 : 5, run.parseShape ? "# " : ""};
  return kGoOn;
}

// Answers the keys on standard input; returns the run's status.
int queryStandardInput(const LookupProfile& profile, const QueryOptions& options) {
  KeyList keys;
  switch (readKeys(STDIN_FILENO, options.zeroEnds, keys)) {
    case KeyRead::kRead:
      break;
    case KeyRead::kFailed:
      sayProblem(STDERR_FILENO, "standard input", errno);
      return kQueryTrouble;
    case KeyRead::kNoMemory:
      say({"varnquery: out of memory\n"});
      return kQueryTrouble;
    case KeyRead::kZeroByte: {
      char line[24];
      std::snprintf(line, sizeof line, "%zu", keys.badLine);
      say({"(standard input):", line,
           ": error: the key holds a zero byte, which no command-line key can; use -z for "
           "keys that end with one\n"});
      return kQueryTrouble;
    }
  }
  const int status = runQuery(profile, options, {nullptr, keys.text, keys.count}, STDOUT_FILENO,
                              STDERR_FILENO, kProgramConfinement);
  freeKeys(keys);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  Invocation run;
  if (const int status = readOptions(argc, argv, run); status != kGoOn) return status;
  int i = run.next;
  if (i == argc) return usageError({"no selector: give L or a var number 1 to 4"});
  LookupProfile profile{"", 5, ""};
  if (const int status = chooseTable(run, profile); status != kGoOn) return status;
  run.options.selector = readSelector(argv[i]);
  if (!run.options.selector.valid()) {
    say({"varnquery: illegal var number '", argv[i], "': the selector is L or 1 to 4\n"});
    return kQueryBadSelector;
  }
  ++i;
  if (i == argc) return queryStandardInput(profile, run.options);
  return runQuery(profile, run.options, {argv + i, nullptr, static_cast<size_t>(argc - i)},
                  STDOUT_FILENO, STDERR_FILENO, kProgramConfinement);
}
