#include "record.h"

#include <cstring>

int parseRecord(HostRecord& record, int fieldCount) {
  // A zero byte ends the usable text; what follows it in the record is never looked at.
  const int usable = static_cast<int>(strnlen(record.buffer, record.length));
  // A fixed size copies in a few moves: records are at most 99 bytes and the buffers hold 200.
  static_assert(kRecordMax < kRecordLoad && kRecordLoad <= kBufferSize);
  for (size_t at = 0; at < kRecordLoad; at += 16)
    std::memcpy(record.raw + at, record.buffer + at, 16);
  record.raw[usable] = '\0';
  record.rawLength = usable;

  char* text = record.buffer;
  record.bits = recordBits(text, usable);
  const RecordBits& bits = record.bits;
  for (uint64_t low = bits.spaces[0], high = bits.spaces[1]; (low | high) != 0;) {
    text[popLowestBit(low, high)] = '=';
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
  // Past the usable text every bit is a separator, so every field found lies inside it.
  const FieldEdges edges = fieldEdges(bits);
  uint64_t starts0 = edges.starts[0], starts1 = edges.starts[1];
  uint64_t lasts0 = edges.lasts[0], lasts1 = edges.lasts[1];
  while (taken < wanted && (starts0 | starts1) != 0) {
    const int start = popLowestBit(starts0, starts1);
    const int length = popLowestBit(lasts0, lasts1) + 1 - start;
    const int stored = length < kSlotSize ? length : kSlotSize - 1;
    ++taken;
    // A whole slot's worth is copied, a fixed size that compiles to a few moves; the buffer
    // holds 200 bytes, so text + start + 40 is inside it.
    static_assert(kRecordMax + kSlotSize <= kBufferSize);
    std::memcpy(record.slots[taken], text + start, kSlotSize);
    record.slots[taken][stored] = '\0';
    record.slotLength[taken] = static_cast<unsigned char>(stored);
    record.fieldStart[taken] = static_cast<unsigned char>(start);
    record.overLong[taken] = length > stored;
  }

  // What lies past a field's end in its slot is never read: the whole slot is restored.
  restoreSpaces(record.slots[2]);
  restoreSpaces(record.slots[3]);
  return taken;
}

FieldSpan keyFieldSpan(std::string_view record, const PrefixField& third) {
  FieldSpan span{third.start, third.length};
  if (!third.known) {
    // The third field reaches past the first 64 bytes: the bits of the whole record.
    const int usable = static_cast<int>(strnlen(record.data(), record.size()));
    const FieldEdges edges = fieldEdges(recordBits(record.data(), usable));
    uint64_t starts0 = edges.starts[0], starts1 = edges.starts[1];
    uint64_t lasts0 = edges.lasts[0], lasts1 = edges.lasts[1];
    int last = 0;
    span.length = -1;
    for (int n = 1; n <= 3; ++n) {
      if ((starts0 | starts1) == 0) return span;
      span.start = popLowestBit(starts0, starts1);
      last = popLowestBit(lasts0, lasts1);
    }
    span.length = last + 1 - span.start;
  }
  if (span.length >= kSlotSize) span.length = -1;
  return span;
}
