#include "key_search.h"

#include <algorithm>
#include <bit>
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

// A matching record holds the key's longest run without spaces byte for byte (a space of the
// key may stand as "=" in the table), so records without it are skipped unread. A key too long
// or of spaces only has no such run, and then every record is parsed.
KeyPiece searchPiece(std::string_view key) {
  KeyPiece best;
  for (size_t start = 0; start < key.size();) {
    const size_t stop = std::min(key.find(' ', start), key.size());
    // Of runs as long, the later one: behind a prefix it is the caller's own part of the key.
    if (stop - start >= best.text.size() && stop > start) {
      best = {{key.data() + start, stop - start}, start, stop == key.size()};
    }
    start = stop + 1;
  }
  return best;
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

// A bucket a piece, or for more than eight, pieces whose last bytes sort next to each other share
// one: they differ in fewer bytes, and the tables admit fewer mixtures of them.
TailSet tailSetFor(const std::string_view* pieces, int count) {
  TailSet set{};
  set.count = count;
  const auto tailOf = [&](int k) {
    const std::string_view piece = pieces[k];
    const size_t n = piece.size() < 3 ? piece.size() : 3;
    return std::string_view(piece.data() + piece.size() - n, n);
  };
  for (int k = 0; k < count; ++k) {
    const std::string_view piece = pieces[k];
    const int wild = piece.size() < 3 ? 3 - static_cast<int>(piece.size()) : 0;
    int rank = 0;
    for (int other = 0; other < count; ++other) {
      rank += tailOf(other) < tailOf(k) || (tailOf(other) == tailOf(k) && other < k);
    }
    const auto bucket = static_cast<uint8_t>(1u << (rank * 8 / count));
    set.wild[k] = static_cast<uint8_t>(wild);
    for (int j = 0; j < 3; ++j) {
      if (j < wild) {
        for (int n = 0; n < 16; ++n) {
          set.low[j][n] |= bucket;
          set.high[j][n] |= bucket;
        }
        continue;
      }
      const auto b = static_cast<uint8_t>(piece[piece.size() - 3 + static_cast<size_t>(j)]);
      set.tail[k][j] = b;
      set.word[k] |= uint32_t{b} << (8 * j);
      set.wordMask[k] |= uint32_t{0xff} << (8 * j);
      set.low[j][b & 15] |= bucket;
      set.high[j][b >> 4] |= bucket;
    }
  }
  return set;
}

PieceSet pieceSetFor(const KeyPiece* pieces, int count) {
  PieceSet set;
  set.pieces = pieces;
  set.count = count;
  std::string_view texts[kTailsMax];
  for (int k = 0; k < count; ++k) {
    texts[k] = pieces[k].text;
    set.longest = std::max(set.longest, pieces[k].text.size());
  }
  set.tails = tailSetFor(texts, count);
  return set;
}

namespace {

// Whether a piece of set ends at text[p + 3] where it can lie in a third field equal to its key,
// as fitsKeyField tells for the piece alone. anchor is as for fitsKeyField, for the occurrences
// from it on; one that starts before it, as a longer piece's may, anchors at the window's start.
bool anyFitsKeyField(const char* text, size_t size, size_t p, const PieceSet& set, size_t& anchor) {
  uint32_t last;  // the window's buffer has room past its end
  std::memcpy(&last, text + p, 4);
  if constexpr (std::endian::native == std::endian::big) last = __builtin_bswap32(last);
  for (int k = 0; k < set.count; ++k) {
    if ((last & set.tails.wordMask[k]) != set.tails.word[k]) continue;
    const KeyPiece& piece = set.pieces[k];
    const size_t n = piece.text.size();
    if (p + 3 < n + 1) continue;  // the piece would start the window, or before it
    const size_t at = p + 3 - n;
    if (!holdsPieceAt(text + at, piece)) continue;
    size_t from = anchor <= at ? anchor : 0;
    const bool fits = fitsKeyField(text, size, at, piece, from);
    if (fits || from > anchor) anchor = from;
    if (fits) return true;
  }
  return false;
}

}  // namespace

bool skipToAnyCandidate(TableReader& table, const PieceSet& set) {
  size_t from = 0;    // positions of last bytes before this one have been looked at
  size_t anchor = 0;  // as for skipToCandidate
  while (!table.failed) {
    const char* window = table.buffer + table.begin;
    const size_t available = table.end - table.begin;
    for (;;) {
      const Candidates block = nextTails(window, available, from, set.tails);
      if (!block.any()) break;
      for (int word = 0; word < 2; ++word) {
        for (uint64_t mask = block.mask[word]; mask != 0; mask &= mask - 1) {
          const size_t p = block.base + 64 * word + static_cast<size_t>(__builtin_ctzll(mask));
          if (anyFitsKeyField(window, available, p, set, anchor)) {
            table.begin += anchor;
            return true;
          }
        }
      }
      from = block.base + 128;
    }
    if (table.atEnd) {
      table.begin = table.end;
      return false;
    }
    // A piece may still begin in the last set.longest - 1 bytes and end in the next block: keep
    // the records from the one that holds the first of those bytes, and look again at the last
    // bytes that ran past the window.
    const size_t tail = available >= set.longest ? available - set.longest + 1 : 0;
    const size_t kept = recordStartBefore(window, anchor <= tail ? anchor : 0, tail);
    table.begin += kept;
    from = available >= kept + 2 ? available - kept - 2 : 0;
    anchor = 0;
    refill(table);
  }
  return false;
}
