// A record of a host table and its split into numbered fields.
#ifndef LOOKUP_HOST_RECORD_H_
#define LOOKUP_HOST_RECORD_H_

#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr int kRecordMax = 99;  // a read takes at most this many bytes
inline constexpr int kBufferSize = 200;
inline constexpr int kSlotCount = 8;      // slots 0 to 7, indexed by field number
inline constexpr int kSlotSize = 40;      // 39 bytes of text and a terminating zero byte
inline constexpr int kMaxFieldCount = 5;  // slots 1 to 5 take fields; 0, 6 and 7 stay unused

// Where a record's separators and spaces stand: bit i of word i / 64 for byte i. Every bit from
// the end of the usable text on counts as a separator, and none as a space.
struct RecordBits {
  uint64_t separators[2];
  uint64_t spaces[2];
};

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
  bool overLong[kSlotCount];  // the field did not fit its slot and was cut to 39 bytes

  std::string_view slot(int n) const { return {slots[n], slotLength[n]}; }
  std::string_view rawText() const { return {raw, static_cast<size_t>(rawLength)}; }
};

// Whether c separates fields: tab, newline, vertical tab, form feed, carriage return. A space
// would too, but by the split every space has become "=".
inline bool isFieldSeparator(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#if defined(__SSE2__)
// isFieldSeparator for sixteen bytes: all ones in each lane that holds a separator. They run
// from tab to carriage return, so a byte less tab, taken unsigned, is at most their distance.
inline __m128i fieldSeparatorLanes(__m128i bytes) {
  const __m128i d = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));
  return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8('\r' - '\t')), d);
}
#endif

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

// The lowest set bit of the pair of words, taken out of them; the pair must not be empty.
inline int takeFirst(uint64_t& low, uint64_t& high) {
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
  for (int w = first >> 6; w <= last >> 6; ++w) {
    uint64_t word = bits[w];
    if (w == first >> 6) word &= ~uint64_t{0} << (first & 63);
    if (w == last >> 6 && (last & 63) != 63) word &= (uint64_t{2} << (last & 63)) - 1;
    if (word != 0) return true;
  }
  return false;
}

// Splits the record in buffer[0, length) into fields 1 to fieldCount (5 or 3): copies it to raw,
// turns spaces into "=", splits at tabs, newlines, vertical tabs, form feeds and carriage
// returns, and turns "=" back into spaces in slots 2 and 3. Slots 1 to 5 are emptied first; a
// fieldCount above 5 counts as 5.
// Returns the number of fields taken.
int parseRecord(HostRecord& record, int fieldCount);

// The key field that parseRecord would leave in slot 3 of the record in buffer[0, length), found
// without parsing it: copied to out with every space and "=" as a space. Returns its length, or
// -1 when the record has fewer than three fields or the third is over 39 bytes, which no key
// matches.
int keyFieldOf(const HostRecord& record, char (&out)[kSlotSize]);

#endif  // LOOKUP_HOST_RECORD_H_
