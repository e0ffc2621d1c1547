// A record of a host table and its split into numbered fields.
#ifndef LOOKUP_HOST_RECORD_H_
#define LOOKUP_HOST_RECORD_H_

#include <cstdint>
#include <string_view>

#include "byte_scan.h"
#include "field_separators.h"

inline constexpr int kRecordMax = 99;  // a read takes at most this many bytes
inline constexpr int kBufferSize = 200;
inline constexpr int kSlotCount = 8;      // slots 0 to 7, indexed by field number
inline constexpr int kSlotSize = 40;      // 39 bytes of text and a terminating zero byte
inline constexpr int kMaxFieldCount = 5;  // slots 1 to 5 take fields; 0, 6 and 7 stay unused

// The working state of one run's reading: one instance is overwritten record by record.
// A value-initialised HostRecord has every slot empty.
struct HostRecord {
  char buffer[kBufferSize];  // the record as read, then protected in place; zero-terminated
  int length;                // bytes read into buffer, zero bytes counted
  char raw[kBufferSize];     // the record's usable text as read, before any change
  int rawLength;
  RecordBits bits;  // where the separators and spaces of the usable text stand
  char slots[kSlotCount][kSlotSize];
  unsigned char slotLength[kSlotCount];
  unsigned char fieldStart[kSlotCount];  // where each field the record filled starts in raw
  bool overLong[kSlotCount];             // the field did not fit its slot and was cut to 39 bytes

  std::string_view slot(int n) const { return {slots[n], slotLength[n]}; }
  std::string_view rawText() const { return {raw, static_cast<size_t>(rawLength)}; }
};

// Splits the record in buffer[0, length) into fields 1 to fieldCount (5 or 3): copies it to raw,
// turns spaces into "=", splits at tabs, newlines, vertical tabs, form feeds and carriage
// returns, and turns "=" back into spaces in slots 2 and 3. Slots 1 to 5 are emptied first; a
// fieldCount above 5 counts as 5.
// Returns the number of fields taken.
int parseRecord(HostRecord& record, int fieldCount);

// Where the key field that parseRecord would leave in slot 3 stands in a record, found without
// parsing it: its bytes there read as the slot does once every space and "=" is taken for
// a space. length is -1 when the record has fewer than three fields or the third is over 39
// bytes, which no key matches.
struct FieldSpan {
  int start = 0;
  int length = -1;
};
// The record is given as read, with 112 bytes readable from its start, and third is where the
// reader saw the third field in its first 64 bytes.
FieldSpan keyFieldSpan(std::string_view record, const PrefixField& third);

#endif  // LOOKUP_HOST_RECORD_H_
