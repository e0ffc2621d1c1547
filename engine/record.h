// A record of a host table, its split into numbered fields, and where its fields stand in the
// separator bits that recordBits gives: for the parser and the checker.
#ifndef ENGINE_RECORD_H_
#define ENGINE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "limits.h"
#include "simd/byte_scan.h"

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

// Where a field stands in a text: length -1 when there is no such field, known false when the
// bytes looked at cannot tell.
struct PrefixField {
  int start;
  int length;
  bool known;
};

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
// Reading fields from a record's separator bits.
// Where the fields of a record begin and end: bit i set in starts when byte i begins a field, in
// lasts when byte i ends one.
struct FieldEdges {
  uint64_t starts[2];
  uint64_t lasts[2];
};

inline FieldEdges fieldEdges(const RecordBits& bits) {
  const uint64_t in0 = ~bits.separators[0], in1 = ~bits.separators[1];
  // The byte before byte 0, and the one after byte 127, count as separators.
  const uint64_t before0 = in0 << 1, before1 = in1 << 1 | in0 >> 63;
  const uint64_t after0 = in0 >> 1 | in1 << 63, after1 = in1 >> 1;
  return {{in0 & ~before0, in1 & ~before1}, {in0 & ~after0, in1 & ~after1}};
}

// The number of fields that edges mark. Fields are few: clearing the lowest bit until none is
// left is cheaper than a population count without the instruction for it.
inline int countFields(const FieldEdges& edges) {
  int fields = 0;
  for (const uint64_t word : edges.starts) {
    for (uint64_t w = word; w != 0; w &= w - 1) ++fields;
  }
  return fields;
}

// The lowest set bit of the pair of words, cleared from them; the pair must not be empty.
inline int popLowestBit(uint64_t& low, uint64_t& high) {
  if (low != 0) {
    const int i = __builtin_ctzll(low);
    low &= low - 1;
    return i;
  }
  const int i = 64 + __builtin_ctzll(high);
  high &= high - 1;
  return i;
}

// Whether any bit from first to last, both included, is set.
inline bool anyBetween(const uint64_t (&bits)[2], int first, int last) {
  // The bits from first on, less those past last, as a mask for each word.
  const auto from = [](int bit) {
    return bit <= 0 ? ~uint64_t{0} : bit >= 64 ? 0 : ~uint64_t{0} << bit;
  };
  const uint64_t low = from(first) & ~from(last + 1);
  const uint64_t high = from(first - 64) & ~from(last + 1 - 64);
  return ((bits[0] & low) | (bits[1] & high)) != 0;
}

// Where the third field of a text of length bytes stands, fields being runs of bytes other than
// separators and the text ending at its first zero byte, from the separator and zero-byte bits of
// its first 64 bytes, when they show it whole.
inline PrefixField thirdFromBits(uint64_t separators, uint64_t zeros, size_t length) {
  const uint64_t ends = zeros | (length < 64 ? ~uint64_t{0} << length : 0);
  const uint64_t usable = ends == 0 ? ~uint64_t{0} : (ends & -ends) - 1;
  const uint64_t in = ~separators & usable;
  uint64_t starts = in & ~(in << 1);
  starts &= starts - 1;
  starts &= starts - 1;
  // The field's end is the first byte after its start that is not in a field.
  const uint64_t after = starts == 0 ? 0 : ~in & (~uint64_t{0} << __builtin_ctzll(starts));
  if (after != 0) {
    const int start = __builtin_ctzll(starts);
    return {start, __builtin_ctzll(after) - start, true};
  }
  // Fewer than three fields, unless the text goes on past the 64 bytes.
  return {0, -1, ends != 0};
}

#endif  // ENGINE_RECORD_H_
