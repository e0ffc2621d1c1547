#include "lookup.h"

#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <cstring>

#include "key_search.h"
#include "record.h"
#include "short_copy.h"
#include "table_reader.h"

namespace {

constexpr int kFirstVar = 1;
constexpr int kLastVar = 4;

// The var number a selector other than "L" names; 0 when it names none of 1 to 4.
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

}  // namespace

bool writeAll(int out, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = write(out, text.data(), text.size());
    if (wrote <= 0) return false;
    text.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

Selector readSelector(const char* argument) {
  Selector selector;
  selector.lineMode = std::strcmp(argument, "L") == 0;
  if (!selector.lineMode) selector.var = readVarNumber(argument);
  return selector;
}

Key makeKey(std::string_view prefix, const char* argument) {
  Key key;
  const size_t room = kSlotSize - 1 - prefix.size();
  // Keys are short: a plain loop finds the end sooner than a call would, many keys over.
  size_t length = 0;
  while (length <= room && argument[length] != '\0') ++length;
  if (length > room) {
    key.tooLong = true;
    return key;
  }
  copyShort<kSlotSize - 1>(key.text, prefix.data(), prefix.size());
  copyShort<kSlotSize - 1>(key.text + prefix.size(), argument, length);
  key.length = prefix.size() + length;
  key.text[key.length] = '\0';
  return key;
}

bool isEntryFor(const Key& key, const HostRecord& record, int taken) {
  return taken >= 3 && !key.tooLong && !record.overLong[3] && record.slot(3) == key.view();
}

std::string_view answerText(const HostRecord& record, Selector selector,
                            char (&line)[kSlotSize + 1]) {
  if (selector.lineMode) return record.rawText();
  const std::string_view field = record.slot(selector.var);
  copyShort<kSlotSize - 1>(line, field.data(), field.size());
  line[field.size()] = '\n';
  return {line, field.size() + 1};
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
  const Selector selector = readSelector(argv[2]);
  if (!selector.valid()) {
    writeAll(out, "Illegal Var Number\n");
    return kStatusBadSelector;
  }

  TableReader table;
  table.fd = open(profile.tablePath, O_RDONLY | O_CLOEXEC);
  if (table.fd < 0) return kStatusNoTable;
  const bool confined = enterConfinement(confinement);

  HostRecord record{};
  const KeyPiece piece = searchPiece(key.view());
  while (skipToCandidate(table, piece) && readRecord(table, record)) {
    if (isEntryFor(key, record, parseRecord(record, profile.fieldCount))) {
      char line[kSlotSize + 1];
      writeAll(out, answerText(record, selector, line));
      return finishRun(kStatusFound, table.fd, confined);
    }
  }
  const bool said = writeAll(out, kNotFoundText);
  return finishRun(said ? kStatusNotFound : kStatusNotFoundUnsaid, table.fd, confined);
}
