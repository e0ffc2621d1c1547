// The byte-level primitives of the engine and the checker, each with one contract. Their code in
// this folder is the only code that knows which instructions run: each is built for the portable
// scalar form and, where the machine has them, for SSE2 (x86-64), AVX2 (x86-64, taken at run time
// by the block scans), AVX-512 (x86-64, taken at run time by the block's maps) and NEON (aarch64),
// and every form gives the same results.
#ifndef ENGINE_SIMD_BYTE_SCAN_H_
#define ENGINE_SIMD_BYTE_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "engine/limits.h"

// Whether c separates fields: tab, newline, vertical tab, form feed, carriage return. A space
// would too, but by the split every space has become "=".
inline bool isFieldSeparator(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Where a record's separators and spaces stand: bit i of word i / 64 for byte i. Every bit from
// the end of the usable text on counts as a separator, and none as a space.
struct RecordBits {
  uint64_t separators[2];
  uint64_t spaces[2];
};

// Makes every bit from usable on a separator and none a space.
inline void cutAtUsable(RecordBits& bits, int usable) {
  for (int w = 0; w < 2; ++w) {
    const int from = usable - 64 * w;
    const uint64_t beyond = from <= 0 ? ~uint64_t{0} : from >= 64 ? 0 : ~uint64_t{0} << from;
    bits.separators[w] |= beyond;
    bits.spaces[w] &= ~beyond;
  }
}

// The set bits of x, counted in a few word operations on every machine (the compiler's own count
// may be a call into its support library, which the musl programs do not link).
inline int bitCount(uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

// What must follow a key piece, where the text holds a byte after it: anything, a separator or a
// zero byte (the end of a field), or a space or "=".
enum class FollowedBy : uint8_t { kAnything, kFieldEnd, kSpace };

// What a position where a key piece may start must show before the piece is compared in full:
// two bytes of the piece at their offsets, before it a separator or, when the piece does not
// start the key, a space or "=", and after it what followedBy asks.
struct CandidateTest {
  const char* piece;
  size_t length;            // at least 1
  size_t offsetA, offsetB;  // below length; the piece's bytes there are tested first
  bool afterSpace;
  FollowedBy followedBy;
};

// The separator and space bits of text[0, usable), usable at most 128; text has kRecordLoad bytes
// readable.
RecordBits recordBits(const char* text, int usable);

// Where a block's bytes of each kind stand: word w for bytes 64w to 64w + 63. spaces may be null,
// and is then not filled.
struct BlockMaps {
  uint64_t* newlines;
  uint64_t* separators;
  uint64_t* zeros;
  uint64_t* spaces;
};

// Fills the maps for each 64 bytes of text[0, size), rounded up, and tells whether text[0, size)
// holds a zero byte; text has size rounded up to 64 readable.
bool blockBits(const char* text, size_t size, const BlockMaps& maps);

// Turns every "=" of the kSlotSize bytes of slot into a space.
void restoreSpaces(char* slot);

// Whether slot[0, length) holds c; slot has kSlotSize bytes readable and length is at
// most kSlotSize.
bool holdsByte(const char* slot, int length, char c);

// A hash of bytes[0, length), length at most kSlotSize, with each "=" read as a space: texts equal
// when so read hash equal, in every form. bytes has kHashLoad readable.
uint64_t fieldHash(const char* bytes, int length);

// The offset of the first newline in text[0, limit), or limit when there is none; limit is at most
// kRecordLoad, and text has kRecordLoad bytes readable.
size_t firstNewline(const char* text, size_t limit);

// The offset of the last newline in text[from, to), or to when there is none.
size_t lastNewline(const char* text, size_t from, size_t to);

// Whether every span consecutive bytes of text[0, size) hold a newline, span at least 1; text
// has size rounded up to 64 readable.
bool newlineInEverySpan(const char* text, size_t size, size_t span);

// Positions where a piece may start: bit j of mask[j / 64] for position base + j.
struct Candidates {
  size_t base;
  uint64_t mask[2];
  bool any() const { return (mask[0] | mask[1]) != 0; }
};

// The candidates of the first block of 128 positions, from the first at or after from on, that
// holds any: positions p, at least from and at least 1, with p + test.length <= size, where both
// tested bytes stand and the bytes before and after fit the test (when p + test.length is size,
// no byte follows, and any end fits); the piece itself may not stand there. No candidate at all
// when none is left.
Candidates nextCandidates(const char* text, size_t size, size_t from, const CandidateTest& test);

// The last bytes of up to kTailsMax pieces, looked for together: three bytes a piece, the first one
// or two of them matching any byte for a piece shorter than three. The nibble tables let a vector
// form test every piece at a fixed cost: a byte b fits bucket k at place j of the three when bit k
// is set in low[j][b & 15] and in high[j][b >> 4], and a piece fits where its bucket fits at all
// three places. A piece's own bytes decide; the tables only find where to look.
inline constexpr int kTailsMax = 16;
struct TailSet {
  int count = 0;
  uint8_t tail[kTailsMax][3];  // each piece's last three bytes, the unused ones zero
  uint8_t wild[kTailsMax];     // how many of the three match any byte: 0 to 2
  uint32_t word[kTailsMax];    // the three bytes in a word, byte j at bits 8j, and which bits count
  uint32_t wordMask[kTailsMax];
  uint8_t low[3][16];
  uint8_t high[3][16];
};

// The positions p from from on where the last bytes of a piece of set stand at text[p, p + 3),
// p + 3 <= size, in the first block of 128 positions that holds any: none when none is left.
Candidates nextTails(const char* text, size_t size, size_t from, const TailSet& set);

// The forms a build can hold, in the order they are preferred.
enum class ScanLevel { kScalar, kSse2, kAvx2, kAvx512, kNeon };

// The primitives of one form, for tests that hold each form to the scalar one.
struct ByteScan {
  RecordBits (*recordBits)(const char* text, int usable);
  void (*restoreSpaces)(char* slot);
  bool (*holdsByte)(const char* slot, int length, char c);
  uint64_t (*fieldHash)(const char* bytes, int length);
  size_t (*firstNewline)(const char* text, size_t limit);
  bool (*blockBits)(const char* text, size_t size, const BlockMaps& maps);
  size_t (*lastNewline)(const char* text, size_t from, size_t to);
  bool (*newlineInEverySpan)(const char* text, size_t size, size_t span);
  Candidates (*nextCandidates)(const char* text, size_t size, size_t from,
                               const CandidateTest& test);
  Candidates (*nextTails)(const char* text, size_t size, size_t from, const TailSet& set);
};

// The form at level, or null where this build or this processor lacks it.
const ByteScan* byteScanAt(ScanLevel level);

// The form that the block scans of nextCandidates and blockBits use on large inputs: AVX2 (with the
// BMI1 and BMI2 that come with it, which other code of that level may use) where the processor
// has it, with AVX-512 for blockBits where it has AVX-512BW too, found on first need, else the
// build's own. Tests may force any form that byteScanAt offers; false, and nothing changed, where
// it offers none.
ScanLevel blockScanLevel();
bool forceBlockScanLevel(ScanLevel level);

#endif  // ENGINE_SIMD_BYTE_SCAN_H_
