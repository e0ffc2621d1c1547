#include "table_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "simd/byte_scan.h"

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

// The block's maps brought up to date with the buffer.
void refreshBits(const TableReader& table, BlockBits& bits, bool spaces) {
  if (bits.refills == table.refills) return;
  bits.zeroFree =
      !blockBits(table.buffer, table.end,
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
