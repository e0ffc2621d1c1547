// The batch lookup against the single one: on random tables and random key lists, every answer
// and every status must be what runLookup gives for that key alone. A failure names its seed.
#include "varnquery/query.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/table_reader.h"
#include "query_agreement.h"
#include "reference.h"
#include "test_util.h"
#include "varnquery/keys.h"
#include "varnquery/memory.h"

namespace {

using namespace std::string_literals;

// Keys a table's entries answer, near misses of them, repeats, and keys that match nothing.
std::vector<std::string> randomKeys(std::mt19937& rng, const std::vector<std::string>& records) {
  std::vector<std::string> keys = {"",
                                   " ",
                                   "=",
                                   "a b",
                                   "# ",
                                   "#",
                                   "k\tk",
                                   std::string(40, 'a'),
                                   std::string(38, 'b'),
                                   std::string(39, 'k')};
  for (const std::string& record : records) {
    const std::string key = referenceParse(record, 5).slots[3];
    if (key.empty()) continue;
    keys.push_back(key);
    if (key.rfind("# ", 0) == 0) keys.push_back(key.substr(2));
    switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
      case 0:
        keys.push_back(key + "a");
        break;
      case 1:
        keys.push_back(key.substr(0, key.size() - 1));
        break;
      case 2:
        keys.push_back(key + " ");
        break;
      case 3: {
        std::string equals = key;
        std::replace(equals.begin(), equals.end(), ' ', '=');
        keys.push_back(equals);
        break;
      }
      default:
        keys.push_back(key);
        break;  // a repeat
    }
  }
  std::shuffle(keys.begin(), keys.end(), rng);
  // As many keys as each way of finding entries takes: one, a few, any.
  const size_t kCounts[] = {1, std::uniform_int_distribution<size_t>(2, kTailsMax + 1)(rng),
                            std::uniform_int_distribution<size_t>(0, keys.size())(rng)};
  keys.resize(std::min(keys.size(), kCounts[rng() % 3]));
  return keys;
}

// Each form of the block scans that this build and processor have, in turn by seed.
void forceFormBySeed(unsigned seed) {
  const ScanLevel kLevels[] = {ScanLevel::kScalar, ScanLevel::kSse2, ScanLevel::kAvx2,
                               ScanLevel::kNeon};
  for (unsigned i = 0; !forceBlockScanLevel(kLevels[(seed + i) % 4]); ++i) {
  }
}

TEST(Query, EveryAnswerIsThatOfItsOwnLookup) {
  const ScanLevel chosen = blockScanLevel();
  const char* const kSelectors[] = {"L", "1", "2", "3", "4"};
  for (unsigned seed = 1; seed <= 1200; ++seed) {
    std::mt19937 rng(seed);
    forceFormBySeed(seed);
    std::string table = randomTable(rng);
    table += table.substr(0, std::uniform_int_distribution<size_t>(0, table.size())(rng));
    ScratchFile file(table);
    const std::vector<std::string> keys = randomKeys(rng, referenceRecords(file.path()));
    const std::string selector = kSelectors[std::uniform_int_distribution<int>(0, 4)(rng)];
    QueryOptions options;
    options.withStatus = std::uniform_int_distribution<int>(0, 3)(rng) != 0;
    options.zeroEnds = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
    for (const auto& [fieldCount, prefix] : {std::pair{5, ""}, std::pair{3, "# "}}) {
      ASSERT_EQ(queryDisagreement(file.path(), fieldCount, prefix, options, selector, keys), "")
          << "seed " << seed << " selector " << selector << " fieldCount " << fieldCount
          << " table " << show(table);
    }
  }
  forceBlockScanLevel(chosen);
}

// Tables of several blocks, and as many keys again: entries on both sides of block edges, found
// in any order, and the pass ends where the last key's entry stands.
TEST(Query, AgreesAcrossBlocks) {
  const ScanLevel chosen = blockScanLevel();
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    forceFormBySeed(seed);
    std::string table;
    while (table.size() < 2 * kBlockSize + 1000) table += randomTable(rng);
    // An entry whose key field the end of the first block cuts, at each place in turn.
    const std::string edge = "edge" + std::to_string(seed);
    table.insert(kBlockSize - 6 - seed % 8, "\na\tb\t" + edge + "\n");
    ScratchFile file(table);
    std::vector<std::string> keys = randomKeys(rng, referenceRecords(file.path()));
    keys.insert(keys.begin(), edge);
    QueryOptions options;
    options.withStatus = true;
    ASSERT_EQ(queryDisagreement(file.path(), 5, "", options, "L", keys), "") << "seed " << seed;
  }
  forceBlockScanLevel(chosen);
}

// Key lists at the edges of each way of finding entries: one key, up to sixteen whose pieces have
// three bytes, more, or a piece too short; keys that share their first bytes or end alike, pieces
// that stand in other fields and on other lines, a piece that does not end its key, keys of 1 and
// 39 bytes. Every answer is that of the key's own lookup.
TEST(Query, EachPathAtItsEdges) {
  const std::string k39(39, 'k');
  const std::string table =
      "hostab\tf2\thostabc\tf4\n"
      "f1\thostab\thostabcd\thostab\n"
      "f1\tx hostab\thostab\tf4\n"
      "f1\tf2\tabcd=ef\tabcd\n"
      "f1\tf2\t" +
      k39 +
      "k\tf4\n"
      "f1\tf2\t" +
      k39 +
      "\tf4\n"
      "f1\tf2\tk\tf4\n"
      // For the walk over every record: a key field past the first 64 bytes, one cut by a zero
      // byte, and one with a space.
      "f1" +
      std::string(64, 'x') +
      "\tf2\thostab7\tf4\n"
      "f1\tf2\thostab8\0z\tf4\n"s
      "f1\tf2\thost ab9\tf4\n"
      "f1\tf2\tnabc\tf4";
  std::vector<std::string> many = {"hostab"};
  for (int i = 0; many.size() < kTailsMax + 1; ++i) many.push_back("hostab" + std::to_string(i));
  std::vector<std::string> withSpace = many;
  withSpace.push_back("host ab9");
  const std::vector<std::vector<std::string>> kRows = {
      {"hostab"},
      {"abcd ef"},
      {"hostab", "hostabc", "hostabcd", "abc"},
      {"abcd ef", "cd=ef", "hostabcd", k39, "nabc", "xabc"},
      {"hostab", "k"},
      {k39 + "k", k39, "hostab"},
      std::vector<std::string>(many.begin(), many.end() - 1),
      many,
      withSpace,
  };
  ScratchFile file(table);
  QueryOptions options;
  options.withStatus = true;
  for (const std::vector<std::string>& keys : kRows) {
    for (const char* selector : {"L", "2"}) {
      ASSERT_EQ(queryDisagreement(file.path(), 5, "", options, selector, keys), "")
          << keys.size() << " keys from " << keys[0] << ", selector " << selector;
    }
  }
}

TEST(Query, ReportsATableThatCannotBeOpenedOrRead) {
  QueryOptions options;
  options.selector = readSelector("2");
  const Batch missing = queryAt("/nonexistent/varn_hosts", 5, "", options, {"a"});
  EXPECT_EQ(missing.status, kQueryNoTable);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "varnquery: /nonexistent/varn_hosts: No such file or directory\n");
  // A directory opens but cannot be read: each lookup says "Not Found", and the batch says why.
  const Batch directory = queryAt("/tmp", 5, "", options, {"a", "b"});
  EXPECT_EQ(directory.status, kQueryTrouble);
  EXPECT_EQ(directory.out, "Not Found\nNot Found\n");
  EXPECT_EQ(directory.err, "varnquery: /tmp: Is a directory\n");
}

// The batch's memory is zeroed, aligned and whole on both sides of each size where the way it is
// taken changes: a page, 512 KiB (huge pages from there for memory all touched), a huge page
// (from there for memory touched as used).
TEST(Memory, ZeroedAndWholeAtEverySize) {
  constexpr size_t kMiB = size_t{1} << 20;
  for (const size_t bytes : {size_t{1}, size_t{4096}, size_t{4097}, kMiB / 2 - 1, kMiB / 2,
                             2 * kMiB - 1, 2 * kMiB, 2 * kMiB + 1, 5 * kMiB}) {
    for (const Touch touch : {Touch::kAll, Touch::kAsUsed}) {
      auto* memory = static_cast<unsigned char*>(takeMemory(bytes, touch));
      ASSERT_NE(memory, nullptr) << bytes;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % 16, 0u) << bytes;
      EXPECT_EQ(std::count(memory, memory + bytes, 0), static_cast<std::ptrdiff_t>(bytes)) << bytes;
      std::fill(memory, memory + bytes, 0xa5);  // every byte may be written
      giveMemory(memory, bytes, touch);
    }
  }
}

// Keys as lines of standard input: exactly the bytes of each line, as an argument would carry
// them.
TEST(Keys, OneALineAsGiven) {
  struct Case {
    std::string input;
    bool zeroSeparated;
    std::vector<std::string> keys;
    size_t badLine;  // a line with a zero byte, refused
  };
  const Case kCases[] = {
      {"", false, {}, 0},
      {"a", false, {"a"}, 0},
      {"a\n", false, {"a"}, 0},
      {"a\n\n", false, {"a", ""}, 0},
      {"\n", false, {""}, 0},
      {" a \tb\r\n", false, {" a \tb\r"}, 0},
      {"a\nb\0c\n"s, false, {}, 2},
      {std::string("\0", 1), false, {}, 1},
      {std::string("a\0b\0", 4), true, {"a", "b"}, 0},
      {std::string("a\nb\0\0c", 6), true, {"a\nb", "", "c"}, 0},
      {std::string(200000, 'k') + "\nz", false, {std::string(200000, 'k'), "z"}, 0},
      {std::string(65535, 'k') + "\n", false, {std::string(65535, 'k')}, 0},
  };
  // A file tells its size before it is read, a pipe does not.
  for (const bool piped : {false, true}) {
    for (const Case& c : kCases) {
      ScratchFile file(c.input);
      FILE* pipe = piped ? popen(("cat " + file.path()).c_str(), "r") : nullptr;
      const int fd = piped ? fileno(pipe) : open(file.path().c_str(), O_RDONLY);
      KeyList list;
      const KeyRead result = readKeys(fd, c.zeroSeparated, list);
      piped ? pclose(pipe) : close(fd);
      const std::string input = (piped ? "piped " : "") + show(c.input);
      if (c.badLine != 0) {
        EXPECT_EQ(result, KeyRead::kZeroByte) << input;
        EXPECT_EQ(list.badLine, c.badLine) << input;
        continue;
      }
      ASSERT_EQ(result, KeyRead::kRead) << input;
      std::vector<std::string> keys;
      for (const char* key = list.text; keys.size() < list.count; key += keys.back().size() + 1) {
        keys.emplace_back(key);
      }
      EXPECT_EQ(keys, c.keys) << input;
      freeKeys(list);
    }
  }
}

}  // namespace
