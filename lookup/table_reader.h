// Reading a host table record by record through one fixed block buffer.
#ifndef LOOKUP_TABLE_READER_H_
#define LOOKUP_TABLE_READER_H_

#include <cstddef>
#include <string_view>

#include "host_record.h"

// One read's worth: large enough that a full scan is bound by the kernel's copy, small enough that
// the whole process stays within 128 KiB of memory. The fuzzing build makes it small so that
// short inputs cross block edges.
#ifndef LOOKUP_BLOCK_SIZE
#define LOOKUP_BLOCK_SIZE (64 * 1024)
#endif
inline constexpr size_t kBlockSize = LOOKUP_BLOCK_SIZE;
// What a block keeps from the one before: a record cut short, or the start of a key in it.
static_assert(kBlockSize > kRecordMax + kSlotSize, "a block must hold more than it carries over");

// An open table and the block of it read so far. Records are carved from buffer[begin, end).
struct TableReader {
  int fd = -1;
  size_t begin = 0;
  size_t end = 0;
  bool atEnd = false;   // a read yielded no bytes: the file has ended
  bool failed = false;  // a read failed; nothing more is read
  char buffer[kBlockSize];
};

// Reads the next record into record.buffer: the bytes up to and including the first newline,
// up to the end of the file, or 99 bytes, whichever comes first. Returns false when the file has
// ended or a read failed.
bool readRecord(TableReader& table, HostRecord& record);

// A piece of a key that a record matching the key holds byte for byte (a space of the key may
// stand as "=" in the table, so a piece holds none), and where the key has it.
struct KeyPiece {
  std::string_view text;
  size_t offset = 0;    // where the piece starts in the key
  bool endsKey = true;  // the key ends with the piece
};

// Moves past records that cannot match because piece does not stand in them as it would in a
// matching third field, so that the next readRecord yields the first record that may. Returns false
// when no record left in the table may match, or a read failed. An empty piece fits every record.
bool skipToCandidate(TableReader& table, const KeyPiece& piece);

// The offset of the first occurrence of piece.text (not empty) in text[0, size) at or after from
// and after the first byte, whose byte before is what must stand before the piece in a key field:
// a separator when the piece starts the key, a space or "=" when it does not. size when there is
// none.
size_t findCandidate(const char* text, size_t size, size_t from, const KeyPiece& piece);

#endif  // LOOKUP_TABLE_READER_H_
