#include "table_reader.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "byte_scan.h"
#include "field_bits.h"

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
  ++table.refills;
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
  if (!endsField) {
    if (end - anchor < kRecordMax) return false;
    // A newline before the occurrence starts a record, which later occurrences may anchor to.
    const size_t newline = lastNewline(text, end - kRecordMax, at);
    if (newline != at) {
      anchor = newline + 1;
      return false;
    }
  }
  const size_t record = recordStartBefore(text, anchor, at);
  anchor = record;
  if (start <= record) return false;  // the field would begin in an earlier record
  if (!endsField && end - record != kRecordMax) return false;
  return twoFields(text + record, start - record);
}

}  // namespace

namespace {

// Finds the next record as readRecord reads it, in the block; findNewline(text, limit) finds
// the first newline of the bytes left.
template <typename FindNewline>
bool nextRecordWith(TableReader& table, std::string_view& record, FindNewline findNewline) {
  const char* start = nullptr;
  size_t length = 0;
  for (;;) {
    if (table.failed) return false;
    start = table.buffer + table.begin;
    const size_t available = table.end - table.begin;
    const size_t limit = std::min<size_t>(available, kRecordMax);
    if (const size_t newline = findNewline(start, limit); newline < limit) {
      length = newline + 1;
      break;
    }
    if (available >= kRecordMax || table.atEnd) {
      length = limit;
      break;
    }
    refill(table);
  }
  if (length == 0) return false;  // the file has ended
  record = {start, length};
  table.begin += length;
  return true;
}

}  // namespace

void loadRecord(std::string_view bytes, HostRecord& record) {
  // A fixed size copies in a few moves; the bytes past the record are overwritten below or
  // never read.
  for (size_t at = 0; at < kRecordLoad; at += 16) {
    std::memcpy(record.buffer + at, bytes.data() + at, 16);
  }
  record.buffer[bytes.size()] = '\0';
  record.length = static_cast<int>(bytes.size());
}

bool readRecord(TableReader& table, HostRecord& record) {
  std::string_view bytes;
  if (!nextRecordWith(table, bytes, firstNewline)) return false;
  loadRecord(bytes, record);
  return true;
}

namespace {

// The 64 bits of words from bit offset on.
uint64_t bitsAt(const uint64_t* words, size_t offset) {
  const size_t w = offset >> 6, shift = offset & 63;
  // Two shifts for the next word's part, so that a shift of 0 needs no branch.
  return words[w] >> shift | (words[w + 1] << 1) << (63 - shift);
}

// The block's maps brought up to date with the buffer.
void refreshBits(const TableReader& table, BlockBits& bits, bool spaces) {
  if (bits.refills == table.refills) return;
  blockBits(table.buffer, table.end,
            {bits.newlines, bits.separators, bits.zeros, spaces ? bits.spaces : nullptr});
  bits.refills = table.refills;
}

// The first byte of a map's kind among the limit bytes at offset of the block, limit at most 128,
// or limit when there is none.
size_t firstFromMap(const uint64_t* map, size_t offset, size_t limit) {
  size_t first = limit;
  if (const uint64_t near = bitsAt(map, offset)) {
    first = static_cast<size_t>(__builtin_ctzll(near));
  } else if (limit > 64) {
    const uint64_t far = bitsAt(map, offset + 64);
    if (far != 0) first = 64 + static_cast<size_t>(__builtin_ctzll(far));
  }
  return first < limit ? first : limit;
}

}  // namespace

bool nextRecordShowingThird(TableReader& table, BlockBits& bits, std::string_view& record,
                            PrefixField& third) {
  return nextRecordWith(table, record, [&](const char* text, size_t limit) {
    refreshBits(table, bits, false);
    const size_t offset = static_cast<size_t>(text - table.buffer);
    const size_t newline = firstFromMap(bits.newlines, offset, limit);
    third = thirdFromBits(bitsAt(bits.separators, offset), bitsAt(bits.zeros, offset),
                          newline < limit ? newline + 1 : limit);
    return newline;
  });
}

bool nextRecordWithBits(TableReader& table, BlockBits& bits, RecordView& record) {
  size_t offset = 0;
  const bool found = nextRecordWith(table, record.bytes, [&](const char* text, size_t limit) {
    refreshBits(table, bits, true);
    offset = static_cast<size_t>(text - table.buffer);
    return firstFromMap(bits.newlines, offset, limit);
  });
  if (!found) return false;
  // The record is at most 99 bytes: two words of each map hold it.
  const size_t length = record.bytes.size();
  record.usable = static_cast<int>(firstFromMap(bits.zeros, offset, length));
  record.bits.separators[0] = bitsAt(bits.separators, offset);
  record.bits.spaces[0] = bitsAt(bits.spaces, offset);
  // The second word is all past the end of most records.
  const bool twoWords = length > 64;
  record.bits.separators[1] = twoWords ? bitsAt(bits.separators, offset + 64) : 0;
  record.bits.spaces[1] = twoWords ? bitsAt(bits.spaces, offset + 64) : 0;
  cutAtUsable(record.bits, record.usable);
  return true;
}

namespace {

// Whether the piece stands whole at text, which has at least 8 bytes readable.
bool holdsPieceAt(const char* text, const KeyPiece& piece) {
  uint64_t word;
  std::memcpy(&word, text, 8);
  if (((word ^ piece.head) & piece.headMask) != 0) return false;
  const size_t n = piece.text.size();
  return n <= 8 || std::memcmp(text + 8, piece.text.data() + 8, n - 8) == 0;
}

// After this many candidates in one window, a scan for a piece that ends the key asks whether
// the window can hold a record cut inside a key field at all; most windows cannot, and their
// candidates can then be asked to end the field in the scan itself.
constexpr int kCandidatesBeforeTightening = 256;

// The first candidate at or after from where the piece stands whole and that accept(at) takes,
// or size. Every candidate of a block is tried before the next is looked for.
template <typename Accept>
size_t scanCandidates(const char* text, size_t size, size_t from, const KeyPiece& piece,
                      Accept accept) {
  CandidateTest test = piece.test;
  int untilTightened = kCandidatesBeforeTightening;
  for (;;) {
    const Candidates block = nextCandidates(text, size, from, test);
    if (!block.any()) return size;
    for (int word = 0; word < 2; ++word) {
      for (uint64_t mask = block.mask[word]; mask != 0; mask &= mask - 1) {
        const size_t at = block.base + 64 * word + static_cast<size_t>(__builtin_ctzll(mask));
        if (holdsPieceAt(text + at, piece) && accept(at)) return at;
      }
    }
    from = block.base + 128;
    untilTightened -= bitCount(block.mask[0]) + bitCount(block.mask[1]);
    if (untilTightened < 0 && test.followedBy == FollowedBy::kAnything) {
      untilTightened = INT_MAX;
      // A field that goes on after the piece can still be the key's when its record is cut
      // right after the piece, 99 bytes from the record's start, which needs that many bytes
      // from a newline: where every shorter span holds one, no record is cut after a piece.
      if (piece.endsKey && piece.text.size() < kRecordMax &&
          newlineInEverySpan(text, size, kRecordMax - piece.text.size())) {
        test.followedBy = FollowedBy::kFieldEnd;
      }
    }
  }
}

}  // namespace

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
