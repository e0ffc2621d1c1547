#include "engine/table_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/key_search.h"
#include "test_util.h"

using namespace std::literals;

namespace {

std::vector<std::string> recordsOf(std::string_view table) {
  ScratchFile file(table);
  return recordsAt(file.path());
}

TEST(ReadRecord, CutsAfterNewlineAtEndOfFileOrAt99Bytes) {
  const std::string l98(98, 'x'), l99(99, 'y'), l150(150, 'z');
  const struct {
    std::string table;
    std::vector<std::string> records;
  } kCases[] = {
      {"", {}},
      {"\n", {"\n"}},
      {"a\nb", {"a\n", "b"}},
      {"a\n\nb\n", {"a\n", "\n", "b\n"}},
      {l98 + "\n", {l98 + "\n"}},
      {l99 + "\n", {l99, "\n"}},
      {l150 + "\n", {l150.substr(0, 99), l150.substr(99) + "\n"}},
      {l99 + l99, {l99, l99}},
      {l99 + l99 + "\nq", {l99, l99, "\n", "q"}},
      // Zero bytes and carriage returns are bytes like others in the count.
      {"\0\0\n\0"s, {"\0\0\n"s, "\0"s}},
      {"a\r\nb\r\n", {"a\r\n", "b\r\n"}},
      {std::string(98, '\0') + "\n\n", {std::string(98, '\0') + "\n", "\n"}},
  };
  for (const auto& c : kCases) EXPECT_EQ(recordsOf(c.table), c.records) << show(c.table);
}

TEST(ReadRecord, CarriesRecordsAcrossBlocks) {
  // Lines of 1 to 250 bytes make records end at every offset of the block edge.
  std::string table;
  std::vector<std::string> expected;
  for (size_t n = 1; table.size() < 3 * kBlockSize; n = n % 250 + 1) {
    const std::string line = std::string(n, static_cast<char>('a' + n % 26)) + "\n";
    for (size_t at = 0; at < line.size(); at += 99) expected.push_back(line.substr(at, 99));
    table += line;
  }
  EXPECT_EQ(recordsOf(table), expected);
}

// The readers that cut records' bits from maps of the whole block give each record as readRecord
// does, with the bits that recordBits finds in its usable text, or the key field that the whole
// record shows: at block edges, past zero bytes, and in blocks with none.
void expectEachRecordWithTheBitsOfItsText(const std::string& table) {
  ScratchFile file(table);
  auto plain = std::make_unique<TableReader>(), cut = std::make_unique<TableReader>(),
       walk = std::make_unique<TableReader>();
  plain->fd = open(file.path().c_str(), O_RDONLY);
  cut->fd = open(file.path().c_str(), O_RDONLY);
  walk->fd = open(file.path().c_str(), O_RDONLY);
  auto bits = std::make_unique<BlockBits>(), walkBits = std::make_unique<BlockBits>();
  HostRecord record{};
  RecordView view;
  for (size_t n = 0; readRecord(*plain, record); ++n) {
    ASSERT_TRUE(nextRecordWithBits(*cut, *bits, view)) << "record " << n;
    const std::string_view bytes(record.buffer, record.length);
    ASSERT_EQ(view.bytes, bytes) << "record " << n;
    // One record at a time from the walk, or the one-record reader where the bits show none.
    std::string_view walked;
    PrefixField third{};
    const auto take = [&](std::string_view b, const PrefixField& t) {
      walked = b;
      third = t;
      return false;
    };
    ASSERT_TRUE(visitRecordsShowingThird(*walk, *walkBits, take) ||
                nextRecordShowingThird(*walk, *walkBits, walked, third))
        << "record " << n;
    ASSERT_EQ(walked, bytes) << "record " << n;
    const FieldSpan whole = keyFieldSpan(walked, {0, -1, false}),
                    seen = keyFieldSpan(walked, third);
    ASSERT_EQ(seen.length, whole.length) << "record " << n << " " << show(bytes);
    if (whole.length >= 0) {
      ASSERT_EQ(seen.start, whole.start) << "record " << n << " " << show(bytes);
    }
    const int usable = static_cast<int>(strnlen(record.buffer, record.length));
    ASSERT_EQ(view.usable, usable) << "record " << n << " " << show(bytes);
    const RecordBits expected = recordBits(record.buffer, usable);
    for (int w = 0; w < 2; ++w) {
      ASSERT_EQ(view.bits.separators[w], expected.separators[w])
          << "record " << n << " " << show(bytes);
      ASSERT_EQ(view.bits.spaces[w], expected.spaces[w]) << "record " << n << " " << show(bytes);
    }
  }
  EXPECT_FALSE(nextRecordWithBits(*cut, *bits, view));
  close(plain->fd);
  close(cut->fd);
  close(walk->fd);
}

TEST(NextRecordWithBits, GivesEachRecordWithTheBitsOfItsText) {
  std::mt19937 rng(7);
  std::string table, zeroFree;
  while (table.size() < 3 * kBlockSize) table += randomTable(rng);
  while (zeroFree.size() < 3 * kBlockSize) zeroFree += fieldTable(rng);
  std::replace(zeroFree.begin(), zeroFree.end(), '\0', 'a');
  expectEachRecordWithTheBitsOfItsText(table);
  expectEachRecordWithTheBitsOfItsText(zeroFree);
}

TEST(ReadRecord, ReportsNoRecordWhenReadingFails) {
  auto reader = std::make_unique<TableReader>();
  reader->fd = open("/", O_RDONLY);  // a directory opens but cannot be read
  ASSERT_GE(reader->fd, 0);
  HostRecord record{};
  EXPECT_FALSE(readRecord(*reader, record));
  EXPECT_FALSE(skipToCandidate(*reader, KeyPiece{"x"}));
  close(reader->fd);
}

// Skipping must keep every record whose key field equals the key, across block edges, where the
// key is found whole, in pieces, or cut by the 99-byte rule. The second table has short lines,
// thousands of them holding "key1" inside a longer field, and one long line whose record is cut
// right after a "key1": so many candidates make the scan ask for the field's end, which it may
// only where no record can be cut inside a field.
TEST(SkipToCandidate, KeepsEveryRecordThatMatches) {
  std::string table, shortLines;
  for (int i = 0; table.size() < 2 * kBlockSize + 500; ++i) {
    table += 'h';
    table += std::to_string(i) + "\tfill\tkey" + std::to_string(i % 997) + (i % 5 ? "\t" : " x\t");
    table += std::string(i % 230, i % 3 ? 'p' : '=') + "\n";
  }
  for (int i = 0; shortLines.size() < 3 * kBlockSize / 2; ++i) {
    shortLines += "h\tfill\tkey" + std::to_string(i % 997 + 1000) + "\n";
    if (i == 3000) shortLines += "h\t" + std::string(92, 'f') + "\tkey1zz\n";
  }
  shortLines += "h\tfill\tkey996\n";
  const struct {
    std::string key;
    KeyPiece piece;
    bool present;
  } kCases[] = {
      {"key996", {"key996", 0, true}, true},  {"key1", {"key1", 0, true}, true},
      {"key15 x", {"key15", 0, false}, true}, {"key10 x", {"x", 6, true}, true},
      {"fill", {"fill", 0, true}, false},     {"pp", {"pp", 0, true}, false},
      {"=", {"=", 0, true}, false},
  };
  const auto cutKeys = [](const std::vector<std::string>& found) {
    return std::count(found.begin(), found.end(), "h\t" + std::string(92, 'f') + "\tkey1");
  };
  for (const auto& c : kCases) {
    const auto matchesOf = [&c](bool skip, const std::string& path) {
      auto reader = std::make_unique<TableReader>();
      reader->fd = open(path.c_str(), O_RDONLY);
      HostRecord record{};
      std::vector<std::string> found;
      while ((!skip || skipToCandidate(*reader, c.piece)) && readRecord(*reader, record)) {
        const std::string raw(record.buffer, record.length);
        if (parseRecord(record, 5) >= 3 && record.slot(3) == c.key) found.push_back(raw);
      }
      close(reader->fd);
      return found;
    };
    ScratchFile file(table), shortFile(shortLines);
    const std::vector<std::string> expected = matchesOf(false, file.path());
    EXPECT_EQ(matchesOf(true, file.path()), expected) << show(c.key);
    EXPECT_EQ(!expected.empty(), c.present) << show(c.key);
    const std::vector<std::string> inShort = matchesOf(false, shortFile.path());
    EXPECT_EQ(matchesOf(true, shortFile.path()), inShort) << "short lines, " << show(c.key);
    EXPECT_EQ(cutKeys(inShort), c.key == "key1" ? 1 : 0) << show(c.key);
  }
}

}  // namespace
