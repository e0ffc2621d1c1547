// Every form of the byte primitives this build and processor have, held to the scalar form and to
// plain loops, at block and lane edges and on seeded random buffers.
#include "engine/simd/byte_scan.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/key_search.h"
#include "engine/record.h"
#include "test_util.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

const char* levelName(ScanLevel level) {
  switch (level) {
    case ScanLevel::kScalar:
      return "scalar";
    case ScanLevel::kSse2:
      return "SSE2";
    case ScanLevel::kAvx2:
      return "AVX2";
    case ScanLevel::kAvx512:
      return "AVX-512";
    case ScanLevel::kNeon:
      return "NEON";
  }
  return "?";
}

// The forms to test; a form the build has but this processor lacks is named as skipped.
std::vector<ScanLevel> levels() {
  std::vector<ScanLevel> found;
  for (const ScanLevel level : {ScanLevel::kScalar, ScanLevel::kSse2, ScanLevel::kAvx2,
                                ScanLevel::kAvx512, ScanLevel::kNeon}) {
    if (byteScanAt(level) != nullptr) found.push_back(level);
  }
  return found;
}

// Bytes that matter to the primitives, each often enough to stand at every lane edge.
std::string randomBytes(std::mt19937& rng, size_t size) {
  static const char kBytes[] = "ab=  \t\n\r\v\f\0\x08\x0e\xff#";
  std::string bytes(size, 'a');
  for (char& c : bytes)
    c = kBytes[std::uniform_int_distribution<size_t>(0, sizeof kBytes - 2)(rng)];
  return bytes;
}

TEST(ByteScan, TheSeparatorsAreTheFiveWhiteSpaceBytes) {
  for (int c = 0; c < 256; ++c) {
    const bool expected = c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    ASSERT_EQ(isFieldSeparator(static_cast<char>(c)), expected) << c;
  }
}

// The probes find AVX2 and AVX-512 exactly where the system says the processor has them, so that
// the other tests run their forms there, and the block scans take the best; where the processor
// lacks a form, or the build never asks, this test says so.
TEST(ByteScan, EachFormIsThereWhereTheProcessorHasIt) {
  if (byteScanAt(ScanLevel::kSse2) == nullptr) GTEST_SKIP() << "not an x86-64 vector build";
  std::FILE* cpuinfo = std::fopen("/proc/cpuinfo", "r");
  if (cpuinfo == nullptr) GTEST_SKIP() << "no /proc/cpuinfo to ask";
  std::string flags;
  char line[8192];
  while (flags.empty() && std::fgets(line, sizeof line, cpuinfo)) {
    if (std::string_view(line).starts_with("flags")) flags = std::string(line) + " ";
  }
  std::fclose(cpuinfo);
  const auto listed = [&flags](const char* flag) {
    return flags.find(" "s + flag + " ") != std::string::npos ||
           flags.find(" "s + flag + "\n") != std::string::npos;
  };
  const struct {
    ScanLevel level;
    bool listed;
  } kForms[] = {
      {ScanLevel::kAvx2, listed("avx2") && listed("bmi1") && listed("bmi2")},
      {ScanLevel::kAvx512, listed("avx2") && listed("bmi1") && listed("bmi2") &&
                               listed("avx512f") && listed("avx512bw")},
  };
  if (!kForms[0].listed) GTEST_SKIP() << "this processor lacks AVX2: its form is not run";
  if (blockScanLevel() == ScanLevel::kSse2 && byteScanAt(ScanLevel::kAvx2) == nullptr) {
    GTEST_SKIP() << "this build never asks for AVX2 (LOOKUP_SIMD=baseline)";
  }
  ScanLevel best = ScanLevel::kSse2;
  for (const auto& form : kForms) {
    EXPECT_EQ(byteScanAt(form.level) != nullptr, form.listed) << levelName(form.level);
    if (form.listed) best = form.level;
  }
  EXPECT_EQ(blockScanLevel(), best);
  if (!kForms[1].listed) std::printf("this processor lacks AVX-512BW: its form is not run\n");
}

TEST(ByteScan, RecordSizedPrimitivesAgreeWithPlainLoops) {
  const ByteScan& scalar = *byteScanAt(ScanLevel::kScalar);
  for (const ScanLevel level : levels()) {
    const ByteScan& scan = *byteScanAt(level);
    for (unsigned seed = 1; seed <= 3000; ++seed) {
      std::mt19937 rng(seed);
      std::string text = randomBytes(rng, 128);
      // Every separator and the bytes just outside their range, at lane edges.
      if (seed <= 16) text[15 + seed % 2] = "\t\n\v\f\r\x08\x0e "[seed % 8];
      const int usable = static_cast<int>(seed % 129 < 100 ? seed % 100 : 99);
      const std::string where = levelName(level) + " seed "s + std::to_string(seed);

      const RecordBits bits = scan.recordBits(text.data(), usable);
      for (int i = 0; i < 128; ++i) {
        const bool separator = (bits.separators[i >> 6] >> (i & 63)) & 1;
        const bool space = (bits.spaces[i >> 6] >> (i & 63)) & 1;
        ASSERT_EQ(separator, i >= usable || isFieldSeparator(text[i])) << where << " byte " << i;
        ASSERT_EQ(space, i < usable && text[i] == ' ') << where << " byte " << i;
      }
      // The third field by a plain walk of the text up to its zero byte.
      const int textEnd = std::min<int>(usable, static_cast<int>(strnlen(text.data(), 128)));
      int fields = 0, fieldStart = 0, fieldLength = -1;
      for (int i = 0; i < textEnd && fieldLength < 0; ++i) {
        if (isFieldSeparator(text[i]) || (i > 0 && !isFieldSeparator(text[i - 1]))) continue;
        if (++fields < 3) continue;
        int end = i;
        while (end < textEnd && !isFieldSeparator(text[end])) ++end;
        fieldStart = i;
        fieldLength = end - i;
      }
      uint64_t newlines[2], separators[2], zeros[2], spaces[2] = {7, 7};
      // The maps of whole words, and whether the text up to any length holds a zero byte.
      const BlockMaps maps{newlines, separators, zeros, seed % 2 ? spaces : nullptr};
      ASSERT_EQ(scan.blockBits(text.data(), usable + 1, maps),
                std::memchr(text.data(), '\0', usable + 1) != nullptr)
          << where;
      scan.blockBits(text.data(), 128, maps);
      for (int i = 0; i < 128; ++i) {
        ASSERT_EQ((newlines[i >> 6] >> (i & 63)) & 1, uint64_t{text[i] == '\n'}) << where;
        ASSERT_EQ((separators[i >> 6] >> (i & 63)) & 1, uint64_t{isFieldSeparator(text[i])})
            << where;
        ASSERT_EQ((zeros[i >> 6] >> (i & 63)) & 1, uint64_t{text[i] == '\0'}) << where;
        const uint64_t space = seed % 2 ? uint64_t{text[i] == ' '} : (uint64_t{7} >> (i & 63)) & 1;
        ASSERT_EQ((spaces[i >> 6] >> (i & 63)) & 1, space) << where << " byte " << i;
      }
      const PrefixField third = thirdFromBits(separators[0], zeros[0], usable);
      const bool shown = fieldLength >= 0 ? fieldStart + fieldLength < 64 : textEnd < 64;
      ASSERT_EQ(third.known, shown) << where;
      if (shown) {
        ASSERT_EQ(third.length, fieldLength) << where;
        if (fieldLength >= 0) {
          ASSERT_EQ(third.start, fieldStart) << where;
        }
      }
      std::string slot = text.substr(0, 40), restored = slot;
      scan.restoreSpaces(slot.data());
      std::replace(restored.begin(), restored.end(), '=', ' ');
      ASSERT_EQ(slot, restored) << where;
      const int length = static_cast<int>(seed % 41);
      ASSERT_EQ(scan.fieldHash(text.data(), length), scalar.fieldHash(text.data(), length))
          << where;
      std::string equalsRead = text.substr(0, 48);
      std::replace(equalsRead.begin(), equalsRead.begin() + length, '=', ' ');
      ASSERT_EQ(scan.fieldHash(equalsRead.data(), length), scan.fieldHash(text.data(), length))
          << where;
      for (const char c : {'=', '\0', '\t'}) {
        ASSERT_EQ(scan.holdsByte(text.data(), length, c),
                  std::string_view(text.data(), length).find(c) != std::string_view::npos)
            << where << " length " << length;
      }

      const size_t limit = seed % 100;
      const size_t newline = std::string_view(text.data(), limit).find('\n');
      ASSERT_EQ(scan.firstNewline(text.data(), limit),
                newline == std::string_view::npos ? limit : newline)
          << where;
      const size_t from = seed % 7, to = std::max<size_t>(from, seed % 128);
      const size_t last = std::string_view(text.data() + from, to - from).rfind('\n');
      ASSERT_EQ(scan.lastNewline(text.data(), from, to),
                last == std::string_view::npos ? to : from + last)
          << where;
      ASSERT_EQ(scan.lastNewline(text.data(), from, to), scalar.lastNewline(text.data(), from, to));
    }
  }
}

// Whether every span consecutive bytes hold a newline, one byte at a time.
bool plainNewlineInEverySpan(std::string_view text, size_t span) {
  size_t run = 0;
  for (const char c : text) {
    run = c == '\n' ? 0 : run + 1;
    if (run >= span) return false;
  }
  return true;
}

// Lines of the given lengths at every offset within a word, the last without its newline, and
// random texts of sparse newlines: every form agrees with the plain count.
TEST(ByteScan, NewlineInEverySpanAgreesWithThePlainCount) {
  const struct {
    std::vector<size_t> lines;
    size_t span;
  } kCases[] = {
      {{}, 1},
      {{0}, 1},
      {{59}, 60},
      {{60}, 60},
      {{3, 59, 0}, 60},
      {{3, 60, 0}, 60},
      {{1, 58, 1, 0}, 60},
      {{62}, 61},
      {{30, 30, 30}, 31},
      {{63, 64, 65}, 65},
      {{63, 64, 65}, 66},
      {{200, 10}, 98},
      {{10, 97}, 98},
      {{10, 98}, 98},
      {{0, 0, 0, 200}, 99},
      {{500}, 501},
  };
  std::vector<std::string> texts;
  std::vector<size_t> spans;
  for (const auto& c : kCases) {
    for (size_t shift = 0; shift < 70; shift += 3) {
      std::string text(shift, '\n');
      for (size_t i = 0; i < c.lines.size(); ++i) {
        text += std::string(c.lines[i], 'x');
        if (i + 1 < c.lines.size()) text += '\n';
      }
      texts.push_back(text);
      spans.push_back(c.span);
    }
  }
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    std::string text(std::uniform_int_distribution<size_t>(0, 600)(rng), 'x');
    for (char& c : text) c = rng() % 40 == 0 ? '\n' : static_cast<char>(rng());
    texts.push_back(text);
    spans.push_back(std::uniform_int_distribution<size_t>(1, 120)(rng));
  }
  for (const ScanLevel level : levels()) {
    const ByteScan& scan = *byteScanAt(level);
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string padded = texts[i] + std::string(64, '\n');  // readable past the end
      ASSERT_EQ(scan.newlineInEverySpan(padded.data(), texts[i].size(), spans[i]),
                plainNewlineInEverySpan(texts[i], spans[i]))
          << levelName(level) << " span " << spans[i] << " in " << show(texts[i]);
    }
  }
}

// The plain form: each occurrence in turn, kept when the bytes before and after it fit.
size_t plainCandidate(std::string_view text, size_t from, std::string_view piece, bool afterSpace,
                      FollowedBy followedBy) {
  for (size_t at = std::max<size_t>(from, 1); at + piece.size() <= text.size(); ++at) {
    const char before = text[at - 1];
    const bool fits = afterSpace ? before == ' ' || before == '=' : isFieldSeparator(before);
    const size_t end = at + piece.size();
    const char after = end < text.size() ? text[end] : '\0';
    const bool ends =
        followedBy == FollowedBy::kAnything ||
        (followedBy == FollowedBy::kFieldEnd ? after == '\0' || isFieldSeparator(after)
                                             : end == text.size() || after == ' ' || after == '=');
    if (fits && ends && text.substr(at, piece.size()) == piece) return at;
  }
  return text.size();
}

constexpr FollowedBy kFollowers[] = {FollowedBy::kAnything, FollowedBy::kFieldEnd,
                                     FollowedBy::kSpace};

// The first candidate where the piece stands whole, by the blocks that scan gives.
size_t firstCandidate(const ByteScan& scan, std::string_view hay, size_t from,
                      const CandidateTest& test) {
  for (;;) {
    const Candidates block = scan.nextCandidates(hay.data(), hay.size(), from, test);
    if (!block.any()) return hay.size();
    EXPECT_GE(block.base, std::max<size_t>(from, 1));
    for (size_t j = 0; j < 128; ++j) {
      if ((block.mask[j >> 6] >> (j & 63) & 1) == 0) continue;
      const size_t at = block.base + j;
      EXPECT_LE(at + test.length, hay.size());
      if (hay.substr(at, test.length) == std::string_view(test.piece, test.length)) return at;
    }
    from = block.base + 128;
  }
}

// Every position where the last bytes of one of pieces stand, by a plain search and by the blocks
// that scan gives.
std::vector<size_t> plainTails(std::string_view text, size_t from,
                               const std::vector<std::string_view>& pieces) {
  std::vector<size_t> found;
  for (size_t p = from; p + 3 <= text.size(); ++p) {
    for (const std::string_view piece : pieces) {
      const std::string_view tail = piece.substr(piece.size() < 3 ? 0 : piece.size() - 3);
      if (text.substr(p + 3 - tail.size(), tail.size()) == tail) {
        found.push_back(p);
        break;
      }
    }
  }
  return found;
}
std::vector<size_t> allTails(const ByteScan& scan, std::string_view text, size_t from,
                             const std::vector<std::string_view>& pieces) {
  const TailSet set = tailSetFor(pieces.data(), static_cast<int>(pieces.size()));
  std::vector<size_t> found;
  for (;;) {
    const Candidates block = scan.nextTails(text.data(), text.size(), from, set);
    if (!block.any()) return found;
    EXPECT_GE(block.base, from);
    for (size_t j = 0; j < 128; ++j) {
      if (block.mask[j >> 6] >> (j & 63) & 1) found.push_back(block.base + j);
    }
    from = block.base + 128;
  }
}

TEST(ByteScan, NextCandidatesAgreeWithThePlainSearch) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "ab\n=\t \r"[(i * 7 + i / 5) % 7];
  const std::string_view pieces[] = {
      "a"sv, "ab"sv, "b\n="sv, "aab"sv, "=ab\nb"sv, "zz"sv, "ab=ab\n=ab\nb=ab\n"sv, "\ta"sv};
  for (const ScanLevel level : levels()) {
    const ByteScan& scan = *byteScanAt(level);
    for (const std::string_view piece : pieces) {
      for (int kind = 0; kind < 6; ++kind) {
        const bool afterSpace = kind % 2 == 1;
        const FollowedBy followedBy = kFollowers[kind / 2];
        const CandidateTest test =
            candidateTestFor(piece.data(), piece.size(), afterSpace, followedBy);
        for (size_t from = 0; from < 70; ++from) {
          for (size_t size = 0; from + size <= text.size(); size += 13) {
            const std::string_view hay(text.data(), from + size);
            ASSERT_EQ(firstCandidate(scan, hay, from, test),
                      plainCandidate(hay, from, piece, afterSpace, followedBy))
                << levelName(level) << " " << show(piece) << " kind " << kind << " from " << from
                << " in " << show(hay);
          }
        }
      }
    }
    // The same pieces looked for together, and the first few of them: the last bytes of each,
    // one and two bytes long with any bytes before them, and more pieces than buckets.
    const std::vector<std::string_view> all(std::begin(pieces), std::end(pieces));
    for (const size_t count : {size_t{1}, size_t{4}, all.size()}) {
      std::vector<std::string_view> some(all.begin(), all.begin() + static_cast<long>(count));
      if (count == all.size()) some.insert(some.end(), all.begin(), all.end());
      for (size_t from = 0; from < 70; from += 3) {
        ASSERT_EQ(allTails(scan, text, from, some), plainTails(text, from, some))
            << levelName(level) << " " << count << " pieces from " << from;
      }
    }
    // A piece that ends the text, at every place in a step, with a byte past the text that
    // would not fit what follows it: no byte follows, and the piece is a candidate.
    for (size_t length = 120; length < 400; ++length) {
      std::string text = std::string(length, 'a') + "\tab" + "x";
      const std::string_view hay(text.data(), text.size() - 1);
      for (const FollowedBy followedBy : kFollowers) {
        const CandidateTest test = candidateTestFor("ab", 2, false, followedBy);
        ASSERT_EQ(firstCandidate(scan, hay, 0, test), length + 1)
            << levelName(level) << " length " << length;
      }
    }
    // Random haystacks of several steps, pieces cut from them so that most are there.
    for (unsigned seed = 1; seed <= 400; ++seed) {
      std::mt19937 rng(seed);
      const std::string hay = randomBytes(rng, std::uniform_int_distribution<size_t>(0, 700)(rng));
      const size_t at =
          hay.empty() ? 0 : std::uniform_int_distribution<size_t>(0, hay.size() - 1)(rng);
      std::string piece = hay.substr(at, std::uniform_int_distribution<size_t>(1, 5)(rng));
      if (piece.empty()) piece = "a";
      const bool afterSpace = seed % 2 == 0;
      const FollowedBy followedBy = kFollowers[seed / 2 % 3];
      const CandidateTest test =
          candidateTestFor(piece.data(), piece.size(), afterSpace, followedBy);
      const size_t from = seed % 9;
      if (from > hay.size()) continue;
      ASSERT_EQ(firstCandidate(scan, hay, from, test),
                plainCandidate(hay, from, piece, afterSpace, followedBy))
          << levelName(level) << " seed " << seed;
      // Up to sixteen pieces cut from the haystack, with the first.
      std::vector<std::string> cut = {piece};
      for (int n = static_cast<int>(seed % 16); n > 0 && !hay.empty(); --n) {
        const size_t start = std::uniform_int_distribution<size_t>(0, hay.size() - 1)(rng);
        cut.push_back(hay.substr(start, std::uniform_int_distribution<size_t>(1, 6)(rng)));
      }
      const std::vector<std::string_view> some(cut.begin(), cut.end());
      ASSERT_EQ(allTails(scan, hay, from, some), plainTails(hay, from, some))
          << levelName(level) << " seed " << seed << " pieces " << some.size();
    }
  }
}

// The tested bytes are the piece's rarest, at two offsets where the piece has two bytes.
TEST(ByteScan, CandidatesAreTestedAtTheRarestBytes) {
  const struct {
    std::string_view piece;
    char a, b;
  } kCases[] = {{"host0000123", 'h', 's'},
                {"absent-key", 'k', 'b'},
                {"x", 'x', 'x'},
                {"10.0.0.5", '5', '.'},
                {"Rack", 'R', 'k'}};
  for (const auto& c : kCases) {
    const CandidateTest test = candidateTestFor(c.piece.data(), c.piece.size(), false);
    EXPECT_EQ(c.piece[test.offsetA], c.a) << c.piece;
    EXPECT_EQ(c.piece[test.offsetB], c.b) << c.piece;
    EXPECT_TRUE(c.piece.size() == 1 || test.offsetA != test.offsetB) << c.piece;
  }
}

// Whatever form the block scan is forced to, it finds the same candidates.
TEST(ByteScan, ForcedBlockScanLevels) {
  const ScanLevel chosen = blockScanLevel();
  std::string hay(100000, 'a');
  hay[70001] = '\t';
  hay.replace(70002, 4, "Rack");
  const CandidateTest test = candidateTestFor("Rack", 4, false);
  for (const ScanLevel level : levels()) {
    ASSERT_TRUE(forceBlockScanLevel(level)) << levelName(level);
    EXPECT_EQ(blockScanLevel(), level);
    EXPECT_EQ(firstCandidate(*byteScanAt(level), hay, 0, test), 70002u) << levelName(level);
    const Candidates block = nextCandidates(hay.data(), hay.size(), 0, test);
    EXPECT_TRUE(block.any()) << levelName(level);
    const std::string_view tails[] = {"Rack", "Unit"};
    const Candidates tail = nextTails(hay.data(), hay.size(), 0, tailSetFor(tails, 2));
    const int first =
        tail.mask[0] != 0 ? __builtin_ctzll(tail.mask[0]) : 64 + __builtin_ctzll(tail.mask[1]);
    EXPECT_EQ(tail.base + static_cast<size_t>(first), 70003u) << levelName(level);
  }
  EXPECT_FALSE(forceBlockScanLevel(static_cast<ScanLevel>(99)));
  forceBlockScanLevel(chosen);
}

}  // namespace
