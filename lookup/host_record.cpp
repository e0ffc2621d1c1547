#include "host_record.h"

#include <cstring>

namespace {

void restoreSpaces(char* slot, int length) {
  for (int i = 0; i < length; ++i) {
    if (slot[i] == '=') slot[i] = ' ';
  }
}

}  // namespace

int parseRecord(HostRecord& record, int fieldCount) {
  // A zero byte ends the usable text; what follows it in the record is never looked at.
  const int usable = static_cast<int>(strnlen(record.buffer, record.length));
  std::memcpy(record.raw, record.buffer, usable);
  record.raw[usable] = '\0';
  record.rawLength = usable;

  char* text = record.buffer;
  for (int i = 0; i < usable; ++i) {
    if (text[i] == ' ') text[i] = '=';
  }

  // Slots are emptied so that a var number the record does not reach prints an empty line,
  // never a field left over from an earlier entry.
  for (int n = 1; n <= kMaxFieldCount; ++n) {
    record.slots[n][0] = '\0';
    record.slotLength[n] = 0;
    record.overLong[n] = false;
  }

  const int wanted = fieldCount < kMaxFieldCount ? fieldCount : kMaxFieldCount;
  int taken = 0;
  int i = 0;
  while (taken < wanted) {
    while (i < usable && isFieldSeparator(text[i])) ++i;
    if (i == usable) break;
    const int start = i;
    while (i < usable && !isFieldSeparator(text[i])) ++i;
    const int length = i - start;
    const int stored = length < kSlotSize ? length : kSlotSize - 1;
    ++taken;
    std::memcpy(record.slots[taken], text + start, stored);
    record.slots[taken][stored] = '\0';
    record.slotLength[taken] = static_cast<unsigned char>(stored);
    record.overLong[taken] = length > stored;
  }

  restoreSpaces(record.slots[2], record.slotLength[2]);
  restoreSpaces(record.slots[3], record.slotLength[3]);
  return taken;
}
