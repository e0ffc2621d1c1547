// Reading a host table record by record through one fixed block buffer.
#ifndef ENGINE_TABLE_READER_H_
#define ENGINE_TABLE_READER_H_

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
};

// The next record as readRecord reads it, left in the block rather than copied: valid until the
// next call on table, with kRecordLoad bytes readable from its start. Also where its third field
// stands when its first 64 bytes show it. Ends and fields are found from bits kept of the whole
// block: for a reader that looks at every record.
bool nextRecordShowingThird(TableReader& table, BlockBits& bits, std::string_view& record,
                            PrefixField& third);

// A record as nextRecordShowingThird gives it.
struct RecordShowingThird {
  std::string_view bytes;
  PrefixField third;
};

// Up to max of the next records as nextRecordShowingThird gives them, as many as the block holds
// whole (at least one while the table has any): all valid until the next call on table. Returns
// how many; 0 when the table has ended or a read failed. For a reader that looks at every record,
// at the cost of a few word operations each.
size_t nextRecordsShowingThird(TableReader& table, BlockBits& bits, RecordShowingThird* records,
                               size_t max);

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
