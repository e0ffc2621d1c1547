// varnquery: answers many keys in one pass over a host table, each as its own lookup would.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "pathnames.h"
#include "varnquery/keys.h"
#include "varnquery/query.h"

namespace {

const char kUsage[] =
    "usage: varnquery [--table=TABLE] [--parse] [--status] [-z] SELECTOR [KEY...]\n"
    "Answers each KEY, in order, with exactly what the lookup would print for KEY SELECTOR,\n"
    "reading the table once. SELECTOR is L or a var number 1 to 4. With no KEY, the keys are\n"
    "read from standard input, one a line, as given: nothing is trimmed.\n"
    "\n"
    "  --table=TABLE  home (the default): the table of varnparse; custom: that of the custom\n"
    "                 build of varnparse; parse: that of parse, in its shape; or a FILE\n"
    "  --parse        FILE has parse's shape: three fields, and \"# \" goes before each key\n"
    "  --status       put the status the lookup would end with (1 found, 10 not found) and\n"
    "                 a tab before each answer\n"
    "  -z, --zero     follow each answer with a zero byte and add nothing to it; keys on\n"
    "                 standard input end with a zero byte too\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "A record printed for L that lacks a newline gets one, unless -z. Exit status: 0 every key\n"
    "found, 1 some key not found, 2 usage error or keys, table or output unreadable,\n"
    "3 the table cannot be opened, 4 the selector is neither L nor 1 to 4. See varnquery(1).\n";

void say(std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) writeAll(STDERR_FILENO, part);
}

int usageError(std::string_view what, std::string_view argument) {
  say({"varnquery: ", what, argument, "\nTry 'varnquery --help'.\n"});
  return kQueryTrouble;
}

}  // namespace

int main(int argc, char* argv[]) {
  const char* tableName = "home";
  bool parseShape = false;
  QueryOptions options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const std::string_view option = argv[i];
    if (option == "--") {
      ++i;
      break;
    } else if (std::strncmp(argv[i], "--table=", 8) == 0) {
      tableName = argv[i] + 8;
    } else if (option == "--table") {
      if (++i == argc) return usageError("--table needs a table", "");
      tableName = argv[i];
    } else if (option == "--parse") {
      parseShape = true;
    } else if (option == "--status") {
      options.withStatus = true;
    } else if (option == "-z" || option == "--zero") {
      options.zeroEnds = true;
    } else if (option == "--help") {
      writeAll(STDOUT_FILENO, kUsage);
      return kQueryAllFound;
    } else if (option == "--version") {
      writeAll(STDOUT_FILENO, "varnquery ");
      writeAll(STDOUT_FILENO, kVersion);
      writeAll(STDOUT_FILENO, "\n");
      return kQueryAllFound;
    } else {
      return usageError("unknown option ", option);
    }
  }
  if (i == argc) return usageError("no selector: give L or a var number 1 to 4", "");
  const std::string_view name = tableName;
  LookupProfile profile{tableName, parseShape ? 3 : 5, parseShape ? "# " : ""};
  if (name == "home" || name == "custom" || name == "parse") {
    if (parseShape) return usageError("--parse is for a FILE; named tables have their shape", "");
    profile = name == "home"     ? LookupProfile{kPathHomeTable, 5, ""}
              : name == "custom" ? LookupProfile{kPathCustomTable, 5, ""}
                                 : LookupProfile{kPathParseTable, 3, "# "};
  } else if (name.empty()) {
    return usageError("--table needs a table", "");
  }

  options.selector = readSelector(argv[i]);
  if (!options.selector.valid()) {
    say({"varnquery: illegal var number '", argv[i], "': the selector is L or 1 to 4\n"});
    return kQueryBadSelector;
  }
  ++i;
  if (i < argc) {
    return runQuery(profile, options, argv + i, static_cast<size_t>(argc - i), STDOUT_FILENO,
                    STDERR_FILENO, kProgramConfinement);
  }
  KeyList keys;
  switch (readKeys(STDIN_FILENO, options.zeroEnds, keys)) {
    case KeyRead::kRead:
      break;
    case KeyRead::kFailed:
      say({"varnquery: standard input: ", std::strerror(errno), "\n"});
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
  const int status = runQuery(profile, options, keys.keys, keys.count, STDOUT_FILENO, STDERR_FILENO,
                              kProgramConfinement);
  freeKeys(keys);
  return status;
}
