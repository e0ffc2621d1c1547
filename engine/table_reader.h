// Reading a host table record by record through one fixed block buffer.
#ifndef LOOKUP_TABLE_READER_H_
#define LOOKUP_TABLE_READER_H_

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "byte_scan.h"
#include "host_record.h"

// One read's worth: large enough that a full scan is bound by the kernel's copy (half as many reads
// of twice the size took a sixth less time on a 580 MB table), small enough that the whole process
// stays within 256 KiB of memory. The fuzzing build makes it small so that short inputs cross
// block edges.
#ifndef LOOKUP_BLOCK_SIZE
#define LOOKUP_BLOCK_SIZE (128 * 1024)
#endif
inline constexpr size_t kBlockSize = LOOKUP_BLOCK_SIZE;
// What a block keeps from the one before: a record cut short, or the start of a key in it.
static_assert(kBlockSize > kRecordMax + kSlotSize, "a block must hold more than it carries over");

// How many bytes from a record's start the reader may load, whatever the record's length.
inline constexpr size_t kRecordLoad = 112;
static_assert(kRecordLoad > kRecordMax && kRecordLoad <= kBufferSize);

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

// A piece of a key that a record matching the key holds byte for byte (a space of the key may
// stand as "=" in the table, so a piece holds none), and where the key has it.
struct KeyPiece {
  KeyPiece() = default;
  KeyPiece(std::string_view text, size_t offset = 0, bool endsKey = true)
      : text(text),
        offset(offset),
        endsKey(endsKey),
        test(candidateTestFor(text.data(), text.size(), offset > 0,
                              endsKey ? FollowedBy::kAnything : FollowedBy::kSpace)) {
    const size_t head = std::min<size_t>(text.size(), 8);
    std::memcpy(&this->head, text.data(), head);
    headMask = head == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * head)) - 1;
    if constexpr (std::endian::native == std::endian::big) headMask = __builtin_bswap64(headMask);
  }
  std::string_view text;
  size_t offset = 0;    // where the piece starts in the key
  bool endsKey = true;  // the key ends with the piece
  // What a position must show before the piece is compared there. The end of a key's field is not
  // asked of a piece that ends the key: a record cut at 99 bytes may end the field in a letter.
  CandidateTest test{};
  // The piece's first 8 bytes (fewer when it is shorter) as one word loaded from them, and which
  // of the word's bits they fill: most pieces are compared whole by one load.
  uint64_t head = 0, headMask = 0;
};

// Moves past records that cannot match because piece does not stand in them as it would in a
// matching third field, so that the next readRecord yields the first record that may. Returns false
// when no record left in the table may match, or a read failed. An empty piece fits every record.
bool skipToCandidate(TableReader& table, const KeyPiece& piece);

#endif  // LOOKUP_TABLE_READER_H_
