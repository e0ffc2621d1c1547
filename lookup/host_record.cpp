#include "host_record.h"

#include <cstring>

namespace {

void restoreSpaces(char* slot, int length) {
  int i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time over the whole slot: what lies past the field's end is never read.
  static_assert(kSlotSize >= 32);
  const __m128i equals = _mm_set1_epi8('=');
  const __m128i space = _mm_set1_epi8(' ');
  for (; i + 16 <= kSlotSize && i < length; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slot + i));
    const __m128i hit = _mm_cmpeq_epi8(v, equals);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + i),
                     _mm_or_si128(_mm_and_si128(hit, space), _mm_andnot_si128(hit, v)));
  }
#endif
  for (; i < length; ++i) {
    if (slot[i] == '=') slot[i] = ' ';
  }
}

RecordBits recordBits(const char* text, int usable) {
  RecordBits bits{};
#if defined(__SSE2__)
  // Seven loads of sixteen cover 112 bytes, more than a record; the buffers hold 200.
  static_assert(kBufferSize >= 112 && kRecordMax < 112);
  const __m128i space = _mm_set1_epi8(' ');
  for (int chunk = 0; chunk * 16 < usable; ++chunk) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + chunk * 16));
    const auto sep =
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(fieldSeparatorLanes(v))));
    const auto sp =
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, space))));
    bits.separators[chunk >> 2] |= sep << (16 * (chunk & 3));
    bits.spaces[chunk >> 2] |= sp << (16 * (chunk & 3));
  }
#else
  for (int i = 0; i < usable; ++i) {
    const uint64_t bit = uint64_t{1} << (i & 63);
    if (isFieldSeparator(text[i])) bits.separators[i >> 6] |= bit;
    if (text[i] == ' ') bits.spaces[i >> 6] |= bit;
  }
#endif
  // Past the usable text everything ends a field, and nothing is a space.
  for (int w = 0; w < 2; ++w) {
    const int from = usable - 64 * w;
    const uint64_t beyond = from <= 0 ? ~uint64_t{0} : from >= 64 ? 0 : ~uint64_t{0} << from;
    bits.separators[w] |= beyond;
    bits.spaces[w] &= ~beyond;
  }
  return bits;
}

}  // namespace

int parseRecord(HostRecord& record, int fieldCount) {
  // A zero byte ends the usable text; what follows it in the record is never looked at.
  const int usable = static_cast<int>(strnlen(record.buffer, record.length));
  std::memcpy(record.raw, record.buffer, usable);
  record.raw[usable] = '\0';
  record.rawLength = usable;

  char* text = record.buffer;
  record.bits = recordBits(text, usable);
  const RecordBits& bits = record.bits;
  for (uint64_t low = bits.spaces[0], high = bits.spaces[1]; (low | high) != 0;) {
    text[takeFirst(low, high)] = '=';
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
    const int start = takeFirst(starts0, starts1);
    const int length = takeFirst(lasts0, lasts1) + 1 - start;
    const int stored = length < kSlotSize ? length : kSlotSize - 1;
    ++taken;
    // A whole slot's worth is copied, a fixed size that compiles to a few moves; the buffer
    // holds 200 bytes, so text + start + 40 is inside it.
    static_assert(kRecordMax + kSlotSize <= kBufferSize);
    std::memcpy(record.slots[taken], text + start, kSlotSize);
    record.slots[taken][stored] = '\0';
    record.slotLength[taken] = static_cast<unsigned char>(stored);
    record.overLong[taken] = length > stored;
  }

  restoreSpaces(record.slots[2], record.slotLength[2]);
  restoreSpaces(record.slots[3], record.slotLength[3]);
  return taken;
}

int keyFieldOf(const HostRecord& record, char (&out)[kSlotSize]) {
  const int usable = static_cast<int>(strnlen(record.buffer, record.length));
  const FieldEdges edges = fieldEdges(recordBits(record.buffer, usable));
  uint64_t starts0 = edges.starts[0], starts1 = edges.starts[1];
  uint64_t lasts0 = edges.lasts[0], lasts1 = edges.lasts[1];
  int start = 0, last = 0;
  for (int n = 1; n <= 3; ++n) {
    if ((starts0 | starts1) == 0) return -1;
    start = takeFirst(starts0, starts1);
    last = takeFirst(lasts0, lasts1);
  }
  const int length = last + 1 - start;
  if (length >= kSlotSize) return -1;
  // As in parseRecord: a whole slot's worth, inside the 200-byte buffer.
  std::memcpy(out, record.buffer + start, kSlotSize);
  restoreSpaces(out, length);  // spaces stay spaces
  return length;
}
