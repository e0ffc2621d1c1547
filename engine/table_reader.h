// Reading a host table record by record through one fixed block buffer.
#ifndef ENGINE_TABLE_READER_H_
#define ENGINE_TABLE_READER_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "limits.h"
#include "record.h"
#include "simd/byte_scan.h"

// An open table and the block of it read so far. Records are carved from buffer[begin, end).
struct TableReader {
  int fd = -1;
  size_t begin = 0;
  size_t end = 0;
  bool atEnd = false;   // a read yielded no bytes: the file has ended
  bool failed = false;  // a read failed; nothing more is read
  size_t refills = 0;   // reads so far: which block the buffer holds
  // Past the block, room that is never filled: a record's bytes are looked at in fixed loads
  // that may reach beyond its end.
  char buffer[kBlockSize + kRecordLoad];
};

// Reads the next record into record.buffer: the bytes up to and including the first newline,
// up to the end of the file, or 99 bytes, whichever comes first. Returns false when the file has
// ended or a read failed.
bool readRecord(TableReader& table, HostRecord& record);

// The bits of a table's block that a reader of every record looks at, found once a block by
// blockBits. Value-initialised, it is of no block yet.
struct BlockBits {
  static constexpr size_t kWords = (kBlockSize + kRecordLoad + 63) / 64 + 2;
  uint64_t newlines[kWords];
  uint64_t separators[kWords];
  uint64_t zeros[kWords];
  uint64_t spaces[kWords];    // filled for nextRecordWithBits only
  size_t refills = SIZE_MAX;  // the block they are of
  bool zeroFree = false;      // the block's text holds no zero byte
};

// The 64 bits of a map from bit offset on.
inline uint64_t bitsAt(const uint64_t* words, size_t offset) {
  const size_t w = offset >> 6, shift = offset & 63;
  // Two shifts for the next word's part, so that a shift of 0 needs no branch.
  return words[w] >> shift | (words[w + 1] << 1) << (63 - shift);
}

// The next record as readRecord reads it, left in the block rather than copied: valid until the
// next call on table, with kRecordLoad bytes readable from its start. Also where its third field
// stands when its first 64 bytes show it. Ends and fields are found from bits kept of the whole
// block: for a reader that looks at every record.
bool nextRecordShowingThird(TableReader& table, BlockBits& bits, std::string_view& record,
                            PrefixField& third);

// Where the third field of a record of length bytes stands, from its separator bits, when the
// record ends at a newline within its first 64 bytes and holds no zero byte: that newline ends its
// last field, so the bits show every field whole.
inline PrefixField thirdOfShortRecord(uint64_t separators, size_t length) {
  // The record's split begins at its first byte, whatever stands before it.
  uint64_t starts = ~separators & (separators << 1 | 1);
  starts &= starts - 1;
  starts &= starts - 1;
  const auto start = static_cast<size_t>(std::countr_zero(starts));  // 64 when there is none
  if (start >= length) return {0, -1, true};
  const int fieldLength = __builtin_ctzll(separators >> start);  // the newline's bit stops it
  return {static_cast<int>(start), fieldLength, true};
}

namespace table_reader_detail {

// visitRecordsShowingThird for a block with zero bytes or without: without, a record's text is
// all of it, and its third field is found in fewer steps.
template <bool kZeroFree, typename Visit>
bool visitRecords(TableReader& table, const BlockBits& bits, Visit&& visit) {
  // Read once: what visit writes cannot change them.
  const char* const buffer = table.buffer;
  const size_t begin = table.begin, end = table.end;
  size_t offset = begin;
  // Each record's end is read from the map at the record's start. Taking the newlines one bit
  // after another from a word kept in a register spared that load, but the branch to the next
  // word, which the records' lengths make hard to foresee, cost more. Past end the maps hold
  // bits of no use, which the test of newline against end turns away.
  for (;;) {
    const uint64_t ends = bitsAt(bits.newlines, offset);
    if (ends == 0) break;  // the record is longer than 64 bytes, or the block has ended
    const size_t newline = offset + static_cast<size_t>(__builtin_ctzll(ends));
    if (newline >= end) break;
    const size_t length = newline + 1 - offset;
    const uint64_t separators = bitsAt(bits.separators, offset);
    const PrefixField third = kZeroFree
                                  ? thirdOfShortRecord(separators, length)
                                  : thirdFromBits(separators, bitsAt(bits.zeros, offset), length);
    const bool more = visit(std::string_view(buffer + offset, length), third);
    offset = newline + 1;
    if (!more) break;
  }
  table.begin = offset;
  return offset != begin;
}

}  // namespace table_reader_detail

// Calls visit(bytes, third) for each of the next records, as nextRecordShowingThird would give
// them, while the maps are the block's and a record ends at a newline in its first 64 bytes,
// inside the block, and visit returns true. Returns whether it gave any: where it gave none,
// nextRecordShowingThird takes the next record. Inline, so that a reader's own look at each
// record is made in the same loop.
template <typename Visit>
bool visitRecordsShowingThird(TableReader& table, const BlockBits& bits, Visit&& visit) {
  if (table.failed || bits.refills != table.refills || table.begin >= table.end) return false;
  return bits.zeroFree ? table_reader_detail::visitRecords<true>(table, bits, visit)
                       : table_reader_detail::visitRecords<false>(table, bits, visit);
}

// A record left in the block, with what parseRecord would find of it before any change.
struct RecordView {
  std::string_view bytes;  // as nextRecordShowingThird gives them
  int usable;              // the bytes before the first zero byte
  RecordBits bits;         // as recordBits gives them for the usable bytes
};

// The next record as nextRecordShowingThird gives it, with its bits cut from those of the block.
// bits must be used with this function alone.
bool nextRecordWithBits(TableReader& table, BlockBits& bits, RecordView& record);

// Puts a record that nextRecordShowingThird gave into record.buffer, as readRecord reads it.
void loadRecord(std::string_view bytes, HostRecord& record);

// Keeps the unread bytes of the block and appends what one read gives, noting the end of the file
// or a failed read.
void refill(TableReader& table);

// The offset of the record holding text[at], given that text[anchor] starts a record and no
// later one than text[at].
size_t recordStartBefore(const char* text, size_t anchor, size_t at);

#endif  // ENGINE_TABLE_READER_H_
