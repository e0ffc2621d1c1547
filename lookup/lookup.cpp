#include "lookup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstring>

#include "host_record.h"
#include "table_reader.h"

namespace {

constexpr int kFirstVar = 1;
constexpr int kLastVar = 4;
constexpr unsigned long kSeccompModeStrict = 1;  // SECCOMP_MODE_STRICT, not in every C library

// The key a record's third field must equal: the profile's prefix and the first argument.
struct Key {
  char text[kSlotSize];
  size_t length = 0;
  bool tooLong = false;  // longer than 39 bytes: stored nowhere, matches nothing
};

Key makeKey(std::string_view prefix, const char* argument) {
  Key key;
  const size_t room = kSlotSize - 1 - prefix.size();
  const size_t length = strnlen(argument, room + 1);
  if (length > room) {
    key.tooLong = true;
    return key;
  }
  std::memcpy(key.text, prefix.data(), prefix.size());
  std::memcpy(key.text + prefix.size(), argument, length);
  key.length = prefix.size() + length;
  key.text[key.length] = '\0';
  return key;
}

// A matching record holds the key's longest run without spaces byte for byte (a space of the
// key may stand as "=" in the table), so records without it are skipped unread. A key too long
// or of spaces only has no such run, and then every record is parsed.
KeyPiece searchPiece(const Key& key) {
  const std::string_view text(key.text, key.length);
  KeyPiece best;
  for (size_t start = 0; start < text.size();) {
    const size_t stop = std::min(text.find(' ', start), text.size());
    // Of runs as long, the later one: behind a prefix it is the caller's own part of the key.
    if (stop - start >= best.text.size() && stop > start) {
      best = {{key.text + start, stop - start}, start, stop == text.size()};
    }
    start = stop + 1;
  }
  return best;
}

bool matches(const Key& key, const HostRecord& record) {
  return !key.tooLong && !record.overLong[3] &&
         record.slot(3) == std::string_view(key.text, key.length);
}

// Writes all of text; false when a write fails. A reader that has gone must not kill the run:
// runLookup ignores SIGPIPE first, so the failure is only reported.
bool writeAll(int out, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = write(out, text.data(), text.size());
    if (wrote <= 0) return false;
    text.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

void writeField(int out, std::string_view field) {
  char line[kSlotSize + 1];
  std::memcpy(line, field.data(), field.size());
  line[field.size()] = '\n';
  writeAll(out, {line, field.size() + 1});
}

// The table is open and the run ends with status: confined, by the exit of its only thread, since
// the exit of the whole group is not allowed, and the exit releases the table; otherwise the table
// is closed and the status returned.
int finish(int status, int table, bool confined) {
  if (!confined) {
    close(table);
    return status;
  }
  for (;;) syscall(SYS_exit, status);
}

}  // namespace

int readVarNumber(const char* selector) {
  const char* p = selector;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Digits past any value in range only matter as "too large": stop counting there.
  long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kLastVar) return 0;
  }
  if (negative || value < kFirstVar) return 0;
  return static_cast<int>(value);
}

int runLookup(const LookupProfile& profile, int argc, const char* const* argv, int out,
              Confinement confinement) {
  // Once, before any write: a sandboxed run could not change its signal handling later.
  signal(SIGPIPE, SIG_IGN);
  if (argc < 3) {
    writeAll(out, "Not enough parameters\n");
    return kStatusUsage;
  }
  const Key key = makeKey(profile.keyPrefix, argv[1]);
  const bool lineMode = std::strcmp(argv[2], "L") == 0;
  const int var = lineMode ? 0 : readVarNumber(argv[2]);
  if (!lineMode && var == 0) {
    writeAll(out, "Illegal Var Number\n");
    return kStatusBadSelector;
  }

  TableReader table;
  table.fd = open(profile.tablePath, O_RDONLY | O_CLOEXEC);
  if (table.fd < 0) return kStatusNoTable;
  const bool confined = confinement == Confinement::kSandbox &&
                        prctl(PR_SET_SECCOMP, kSeccompModeStrict, 0, 0, 0) == 0;

  HostRecord record{};
  const KeyPiece piece = searchPiece(key);
  while (skipToCandidate(table, piece) && readRecord(table, record)) {
    if (parseRecord(record, profile.fieldCount) >= 3 && matches(key, record)) {
      if (lineMode) {
        writeAll(out, record.rawText());
      } else {
        writeField(out, record.slot(var));
      }
      return finish(kStatusFound, table.fd, confined);
    }
  }
  const bool said = writeAll(out, "Not Found\n");
  return finish(said ? kStatusNotFound : kStatusNotFoundUnsaid, table.fd, confined);
}
