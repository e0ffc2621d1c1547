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

// The offset of the record holding text[at], given that text starts a record. Records start
// after each newline and every 99 bytes along a longer line.
size_t recordStartBefore(const char* text, size_t at) {
  const void* newline = memrchr(text, '\n', at);
  const size_t line = newline ? static_cast<const char*>(newline) - text + 1 : 0;
  return line + (at - line) / kRecordMax * kRecordMax;
}

// A space of the key, as the table may write it.
bool isSpace(char c) { return c == ' ' || c == '='; }

// The number of fields in text[0, size), or -1 when a zero byte ends the text there.
int countFields(const char* text, size_t size) {
  int fields = 0;
  bool inField = false;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\0') return -1;
    const bool separator = isFieldSeparator(text[i]);
    if (!separator && !inField) ++fields;
    inField = !separator;
  }
  return fields;
}

// Whether the occurrence of piece at text[at] can lie in a third field equal to the key; text
// starts a record and holds size bytes. Cheap tests of the bytes around it come first.
bool fitsKeyField(const char* text, size_t size, size_t at, const KeyPiece& piece) {
  if (at <= piece.offset) return false;  // the field would start the window, or before it
  const size_t start = at - piece.offset;
  const size_t end = at + piece.text.size();
  if (!isFieldSeparator(text[start - 1])) return false;
  if (piece.offset > 0 && !isSpace(text[at - 1])) return false;
  const bool nextRead = end < size;
  if (nextRead && !piece.endsKey && !isSpace(text[end])) return false;
  const size_t record = recordStartBefore(text, at);
  if (start <= record) return false;  // the field would begin in an earlier record
  // The field ends at a separator, at a zero byte, or where its record is cut.
  if (nextRead && piece.endsKey && !isFieldSeparator(text[end]) && text[end] != '\0' &&
      end - record != kRecordMax) {
    return false;
  }
  return countFields(text + record, start - record) == 2;
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

size_t findNeedle(const char* text, size_t size, std::string_view needle) {
  const size_t n = needle.size();
  size_t i = 0;
#if defined(__SSE2__)
  // Candidates are positions where both the first and the last byte of the needle stand; only
  // those are compared in full. Thirty-two positions are tried at a time.
  const __m128i first = _mm_set1_epi8(needle.front());
  const __m128i last = _mm_set1_epi8(needle.back());
  const auto candidates = [&](size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + n - 1));
    return _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last));
  };
  for (; i + n - 1 + 32 <= size; i += 32) {
    const __m128i low = candidates(i);
    const __m128i high = candidates(i + 16);
    if (_mm_movemask_epi8(_mm_or_si128(low, high)) == 0) continue;
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                    static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
    while (mask != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (n <= 2 || std::memcmp(text + at + 1, needle.data() + 1, n - 2) == 0) return at;
      mask &= mask - 1;
    }
  }
#endif
  const void* hit = memmem(text + i, size - i, needle.data(), n);
  return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text) : size;
}

bool skipToCandidate(TableReader& table, const KeyPiece& piece) {
  const std::string_view needle = piece.text;
  if (needle.empty()) return !table.failed;
  size_t from = 0;  // occurrences before this offset of the window have been looked at
  while (!table.failed) {
    const char* window = table.buffer + table.begin;
    const size_t available = table.end - table.begin;
    for (size_t hit; (hit = from + findNeedle(window + from, available - from, needle)) < available;
         from = hit + 1) {
      if (fitsKeyField(window, available, hit, piece)) {
        table.begin += recordStartBefore(window, hit);
        return true;
      }
    }
    if (table.atEnd) {
      table.begin = table.end;
      return false;
    }
    // An occurrence may still begin in the last needle.size() - 1 bytes and end in the next
    // block: keep the records from the one that holds the first of those bytes.
    const size_t tail = available >= needle.size() ? available - needle.size() + 1 : 0;
    const size_t kept = recordStartBefore(window, tail);
    table.begin += kept;
    from = tail - kept;
    refill(table);
  }
  return false;
}
