// The search for a key: the pieces of a key that a matching record holds, the test a position
// must pass before a piece is compared there, and the skip past records that cannot match.
#ifndef ENGINE_KEY_SEARCH_H_
#define ENGINE_KEY_SEARCH_H_

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "simd/byte_scan.h"
#include "table_reader.h"

// The bytes a candidate test looks for: the piece's two rarest by a fixed table of how often bytes
// stand in host tables, so that common letters do not make every block a candidate.
CandidateTest candidateTestFor(const char* piece, size_t length, bool afterSpace,
                               FollowedBy followedBy = FollowedBy::kAnything);

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

// The piece of a key that its search skips to: the key's longest run without spaces, the later of
// runs as long; empty when the key has no such run, as a key of spaces only or an empty one.
KeyPiece searchPiece(std::string_view key);

// Moves past records that cannot match because piece does not stand in them as it would in a
// matching third field, so that the next readRecord yields the first record that may. Returns false
// when no record left in the table may match, or a read failed. An empty piece fits every record.
bool skipToCandidate(TableReader& table, const KeyPiece& piece);

// The last bytes of pieces[0, count), count 1 to kTailsMax, each piece at least a byte.
TailSet tailSetFor(const std::string_view* pieces, int count);

// The pieces of a few keys, looked for together by their last bytes.
struct PieceSet {
  const KeyPiece* pieces = nullptr;  // count of them, kept by the caller
  int count = 0;
  size_t longest = 0;
  TailSet tails{};
};

// The set of pieces[0, count), count 1 to kTailsMax, each at least a byte.
PieceSet pieceSetFor(const KeyPiece* pieces, int count);

// As skipToCandidate, for records that may match the key of any piece of set.
bool skipToAnyCandidate(TableReader& table, const PieceSet& set);

#endif  // ENGINE_KEY_SEARCH_H_
