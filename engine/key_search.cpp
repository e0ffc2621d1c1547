#include "key_search.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "simd/byte_scan.h"
#include "table_reader.h"

namespace {

// Weights of how often bytes stand in host tables, most common first; bytes not listed count as
// rarer than any listed.
constexpr char kCommonBytes[] =
    " \t\n0e1at2o.in3s4r5h6l7d8c9um-fpgwybvk_x:/jqzETAOINSRHLDCUMFPGWYBVKXJQZ=#";

constexpr int commonness(char c) {
  for (int i = 0; kCommonBytes[i] != '\0'; ++i) {
    if (kCommonBytes[i] == c) return static_cast<int>(sizeof kCommonBytes) - i;
  }
  return 0;
}

}  // namespace

CandidateTest candidateTestFor(const char* piece, size_t length, bool afterSpace,
                               FollowedBy followedBy) {
  // The rarest byte, then the rarest at another offset; of equals, the later.
  size_t best = 0, second = 0;
  for (size_t i = 1; i < length; ++i) {
    if (commonness(piece[i]) <= commonness(piece[best])) best = i;
  }
  second = best == 0 ? length - 1 : 0;
  for (size_t i = 0; i < length; ++i) {
    if (i != best && commonness(piece[i]) <= commonness(piece[second])) second = i;
  }
  return {piece, length, best, second, afterSpace, followedBy};
}

namespace {

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
