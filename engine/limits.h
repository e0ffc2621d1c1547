// Every size of the data model and of the reader, in one place.
#ifndef ENGINE_LIMITS_H_
#define ENGINE_LIMITS_H_

#include <cstddef>

inline constexpr int kRecordMax = 99;  // a read takes at most this many bytes
inline constexpr int kBufferSize = 200;
inline constexpr int kSlotCount = 8;      // slots 0 to 7, indexed by field number
inline constexpr int kSlotSize = 40;      // 39 bytes of text and a terminating zero byte
inline constexpr int kMaxFieldCount = 5;  // slots 1 to 5 take fields; 0, 6 and 7 stay unused

// How many bytes from a record's start the reader may load, whatever the record's length.
inline constexpr size_t kRecordLoad = 112;
static_assert(kRecordLoad > kRecordMax && kRecordLoad <= kBufferSize);

// How many bytes fieldHash loads from a field of at most a slot's length: sixteen at a time.
inline constexpr int kHashLoad = 48;
static_assert(kHashLoad >= (kSlotSize + 15) / 16 * 16);

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

#endif  // ENGINE_LIMITS_H_
