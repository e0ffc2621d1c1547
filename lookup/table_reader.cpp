#include "table_reader.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Keeps the unread bytes and appends what one read gives, noting the end of the file or a failed
// read.
void refill(TableReader& table) {
  const size_t kept = table.end - table.begin;
  std::memmove(table.buffer, table.buffer + table.begin, kept);
  table.begin = 0;
  table.end = kept;
  const ssize_t got = read(table.fd, table.buffer + kept, kBlockSize - kept);
  if (got < 0) {
    table.failed = true;
    return;
  }
  if (got == 0) table.atEnd = true;
  table.end += static_cast<size_t>(got);
}

// The offset of the last newline in text[from, to), or to when there is none. The lines before an
// occurrence are short, and a C library's backward search may go byte by byte: this one looks at
// sixteen bytes at a time.
size_t lastNewline(const char* text, size_t from, size_t to) {
  size_t i = to;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  for (; i >= from + 16; i -= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i - 16));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, newline)));
    if (mask != 0) return i - 16 + (31 - static_cast<size_t>(__builtin_clz(mask)));
  }
#endif
  const void* found = memrchr(text + from, '\n', i - from);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : to;
}

// The offset of the record holding text[at], given that text[anchor] starts a record and no
// later one than text[at]. Records start after each newline and every 99 bytes along a longer
// line; only the bytes from the anchor on are searched.
size_t recordStartBefore(const char* text, size_t anchor, size_t at) {
  const size_t newline = lastNewline(text, anchor, at);
  const size_t line = newline == at ? anchor : newline + 1;
  return line + (at - line) / kRecordMax * kRecordMax;
}

// A space of the key, as the table may write it.
bool isSpace(char c) { return c == ' ' || c == '='; }

// Whether the fields of text[0, size) are exactly two; false too when a zero byte ends the text
// there. It stops at a third field.
bool twoFields(const char* text, size_t size) {
  int fields = 0;
  bool inField = false;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\0') return false;
    const bool separator = isFieldSeparator(text[i]);
    if (!separator && !inField && ++fields > 2) return false;
    inField = !separator;
  }
  return fields == 2;
}

// Whether the occurrence of piece at text[at] can lie in a third field equal to the key; text
// starts a record and holds size bytes, and text[anchor] starts a record no later than text[at].
// The bytes around the occurrence are tested first; only an occurrence that passes them looks for
// its record's start, and moves the anchor there for the occurrences after it.
bool fitsKeyField(const char* text, size_t size, size_t at, const KeyPiece& piece, size_t& anchor) {
  if (at <= piece.offset) return false;  // the field would start the window, or before it
  const size_t start = at - piece.offset;
  const size_t end = at + piece.text.size();
  if (!isFieldSeparator(text[start - 1])) return false;
  if (piece.offset > 0 && !isSpace(text[at - 1])) return false;
  const bool nextRead = end < size;
  if (nextRead && !piece.endsKey && !isSpace(text[end])) return false;
  // The field ends at a separator, at a zero byte, or where its record is cut after 99 bytes,
  // which needs a record that starts 99 bytes before the end, at the anchor or after it.
  const bool endsField =
      !nextRead || !piece.endsKey || isFieldSeparator(text[end]) || text[end] == '\0';
  if (!endsField && (end - anchor < kRecordMax || lastNewline(text, end - kRecordMax, at) != at)) {
    return false;
  }
  const size_t record = recordStartBefore(text, anchor, at);
  anchor = record;
  if (start <= record) return false;  // the field would begin in an earlier record
  if (!endsField && end - record != kRecordMax) return false;
  return twoFields(text + record, start - record);
}

}  // namespace

bool readRecord(TableReader& table, HostRecord& record) {
  const char* start = nullptr;
  size_t length = 0;
  for (;;) {
    if (table.failed) return false;
    start = table.buffer + table.begin;
    const size_t available = table.end - table.begin;
    const size_t limit = std::min<size_t>(available, kRecordMax);
    if (const void* newline = std::memchr(start, '\n', limit)) {
      length = static_cast<const char*>(newline) - start + 1;
      break;
    }
    if (available >= kRecordMax || table.atEnd) {
      length = limit;
      break;
    }
    refill(table);
  }
  if (length == 0) return false;  // the file has ended
  std::memcpy(record.buffer, start, length);
  record.buffer[length] = '\0';
  record.length = static_cast<int>(length);
  table.begin += length;
  return true;
}

namespace {

// The first candidate at or after from that accept(at) takes, or size. Every candidate of a block
// of positions is tried before the next block is loaded.
template <typename Accept>
size_t scanCandidates(const char* text, size_t size, size_t from, const KeyPiece& piece,
                      Accept accept) {
  const std::string_view needle = piece.text;
  const size_t n = needle.size();
  const bool afterSpace = piece.offset > 0;
  const auto precedes = [afterSpace](char c) {
    return afterSpace ? isSpace(c) : isFieldSeparator(c);
  };
  size_t i = from > 0 ? from : 1;  // an occurrence at 0 has no byte before it
#if defined(__SSE2__)
  // Candidates are positions where the first and the last byte of the needle stand and the byte
  // before fits; only those are compared in full. Thirty-two positions are tried at a time.
  const __m128i first = _mm_set1_epi8(needle.front());
  const __m128i last = _mm_set1_epi8(needle.back());
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i equals = _mm_set1_epi8('=');
  const auto candidates = [&](size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + n - 1));
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at - 1));
    __m128i before;
    if (afterSpace) {
      before = _mm_or_si128(_mm_cmpeq_epi8(p, space), _mm_cmpeq_epi8(p, equals));
    } else {
      before = fieldSeparatorLanes(p);
    }
    return _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last)), before);
  };
  for (; i + n - 1 + 32 <= size; i += 32) {
    const __m128i low = candidates(i);
    const __m128i high = candidates(i + 16);
    if (_mm_movemask_epi8(_mm_or_si128(low, high)) == 0) continue;
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                    static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
    while (mask != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if ((n <= 2 || std::memcmp(text + at + 1, needle.data() + 1, n - 2) == 0) && accept(at)) {
        return at;
      }
      mask &= mask - 1;
    }
  }
#endif
  while (i + n <= size) {
    const void* hit = memmem(text + i, size - i, needle.data(), n);
    if (hit == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text);
    if (precedes(text[at - 1]) && accept(at)) return at;
    i = at + 1;
  }
  return size;
}

}  // namespace

size_t findCandidate(const char* text, size_t size, size_t from, const KeyPiece& piece) {
  return scanCandidates(text, size, from, piece, [](size_t) { return true; });
}

bool skipToCandidate(TableReader& table, const KeyPiece& piece) {
  const std::string_view needle = piece.text;
  if (needle.empty()) return !table.failed;
  size_t from = 0;    // occurrences before this offset of the window have been looked at
  size_t anchor = 0;  // a record starts here, and none of those occurrences lies before it
  while (!table.failed) {
    const char* window = table.buffer + table.begin;
    const size_t available = table.end - table.begin;
    const size_t hit = scanCandidates(window, available, from, piece, [&](size_t at) {
      return fitsKeyField(window, available, at, piece, anchor);
    });
    if (hit < available) {
      table.begin += anchor;
      return true;
    }
    if (table.atEnd) {
      table.begin = table.end;
      return false;
    }
    // An occurrence may still begin in the last needle.size() - 1 bytes and end in the next
    // block: keep the records from the one that holds the first of those bytes.
    const size_t tail = available >= needle.size() ? available - needle.size() + 1 : 0;
    const size_t kept = recordStartBefore(window, anchor, tail);
    table.begin += kept;
    from = tail - kept;
    anchor = 0;
    refill(table);
  }
  return false;
}
