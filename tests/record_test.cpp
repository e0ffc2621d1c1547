#include "engine/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/short_copy.h"
#include "test_util.h"

using namespace std::literals;

namespace {

HostRecord parsed(std::string_view bytes, int fieldCount, int* taken) {
  HostRecord record{};
  std::memcpy(record.buffer, bytes.data(), bytes.size());
  record.buffer[bytes.size()] = '\0';
  record.length = static_cast<int>(bytes.size());
  *taken = parseRecord(record, fieldCount);
  return record;
}

struct SplitCase {
  std::string_view record;
  int fieldCount;
  int taken;
  std::string_view slots[5];  // slots 1 to 5 after parsing
};

const SplitCase kSplitCases[] = {
    // A line with spaces and "=" in every field: 1, 4 and 5 show spaces as "=", 2 and 3 show
    // "=" as spaces.
    {"gw 1\tNorth Hub\tab cd\ta=b\tx y\n"sv, 5, 5, {"gw=1", "North Hub", "ab cd", "a=b", "x=y"}},
    {"gw 1\tNorth Hub\tab cd\ta=b\tx y\n"sv, 3, 3, {"gw=1", "North Hub", "ab cd", "", ""}},
    {"a\tb=c\td=e\tf\tg\n"sv, 5, 5, {"a", "b c", "d e", "f", "g"}},
    {" lead\t trail \t mid \tx\n"sv, 5, 4, {"=lead", " trail ", " mid ", "x", ""}},
    // Runs of separators count as one; an empty field cannot be written.
    {"a\t\t\tb\t\tc\n"sv, 5, 3, {"a", "b", "c", "", ""}},
    {"\t\ta\tb\tc\t\n"sv, 3, 3, {"a", "b", "c", "", ""}},
    {"a\vb\fc\rd\n"sv, 5, 4, {"a", "b", "c", "d", ""}},
    // A carriage return before the newline belongs to no field.
    {"a\tb\tkey\r\n"sv, 3, 3, {"a", "b", "key", "", ""}},
    // Fields past the shape are ignored; a short record fills fewer slots.
    {"1\t2\t3\t4\t5\t6\t7\n"sv, 5, 5, {"1", "2", "3", "4", "5"}},
    {"1\t2\t3\t4\n"sv, 3, 3, {"1", "2", "3", "", ""}},
    {"1\t2\n"sv, 5, 2, {"1", "2", "", "", ""}},
    // Records without fields.
    {"\n"sv, 5, 0, {"", "", "", "", ""}},
    {""sv, 5, 0, {"", "", "", "", ""}},
    {"\t\r\t\n"sv, 5, 0, {"", "", "", "", ""}},
    {"\0a\tb\tc\n"sv, 5, 0, {"", "", "", "", ""}},
    // Spaces alone never separate: the line is one field.
    {"a b c\n"sv, 5, 1, {"a=b=c", "", "", "", ""}},
    {"   \n"sv, 5, 1, {"===", "", "", "", ""}},
    // A zero byte ends the usable text.
    {"a\tb\tc\0d\te\n"sv, 5, 3, {"a", "b", "c", "", ""}},
    // Bytes outside ASCII are field text like any other.
    {"\xff\x80\t\x01\t\x7f\n"sv, 3, 3, {"\xff\x80", "\x01", "\x7f", "", ""}},
};

TEST(ParseRecord, SplitsProtectsAndRestores) {
  for (const SplitCase& c : kSplitCases) {
    int taken = 0;
    const HostRecord record = parsed(c.record, c.fieldCount, &taken);
    EXPECT_EQ(taken, c.taken) << show(c.record) << " fieldCount " << c.fieldCount;
    for (int n = 1; n <= 5; ++n) {
      EXPECT_EQ(record.slot(n), c.slots[n - 1]) << show(c.record) << " slot " << n;
      EXPECT_EQ(record.slots[n][record.slotLength[n]], '\0') << show(c.record) << " slot " << n;
    }
  }
}

TEST(ParseRecord, RawCopyKeepsTheRecordUpToAZeroByte) {
  const struct {
    std::string_view record;
    std::string_view raw;
  } kCases[] = {
      {"a b\tc=d\t e \r\n"sv, "a b\tc=d\t e \r\n"sv},
      {"no newline"sv, "no newline"sv},
      {"ab\0cd\n"sv, "ab"sv},
      {"\0\n"sv, ""sv},
  };
  for (const auto& c : kCases) {
    int taken = 0;
    const HostRecord record = parsed(c.record, 5, &taken);
    EXPECT_EQ(record.rawText(), c.raw) << show(c.record);
  }
}

TEST(ParseRecord, OverLongFieldsKeepTheirFirst39BytesAndAreMarked) {
  const std::string f40(40, 'k');
  const std::string f39(39, 'k');
  const struct {
    std::string record;
    int slot;
    std::string stored;
    bool overLong;
  } kCases[] = {
      {"a\tb\t" + f39 + "\n", 3, f39, false},
      {"a\tb\t" + f40 + "\n", 3, f39, true},
      {f40 + "\tb\tkey\td\n", 1, f39, true},
      // The cut field still ends where its run ends: the next field is intact.
      {f40 + "\tb\tkey\td\n", 3, "key", false},
      {"a\t" + std::string(60, ' ') + "\tkey\n", 2, std::string(39, ' '), true},
  };
  for (const auto& c : kCases) {
    int taken = 0;
    const HostRecord record = parsed(c.record, 5, &taken);
    EXPECT_EQ(record.slot(c.slot), c.stored) << show(c.record) << " slot " << c.slot;
    EXPECT_EQ(record.overLong[c.slot], c.overLong) << show(c.record) << " slot " << c.slot;
  }
}

TEST(ParseRecord, EmptiesSlotsAnEarlierRecordFilled) {
  HostRecord record{};
  const auto parse = [&record](std::string_view bytes) {
    std::memcpy(record.buffer, bytes.data(), bytes.size());
    record.length = static_cast<int>(bytes.size());
    return parseRecord(record, 5);
  };
  EXPECT_EQ(parse("1\t2\t3\t4\t5\n"), 5);
  EXPECT_EQ(parse("a\tb\tc\n"), 3);
  EXPECT_EQ(record.slot(4), "");
  EXPECT_EQ(record.slot(5), "");
  EXPECT_EQ(parse("x\t" + std::string(50, 'y') + "\tz\n"), 3);
  EXPECT_EQ(parse("\n"), 0);
  EXPECT_EQ(record.slot(3), "");
  EXPECT_FALSE(record.overLong[2]);
}

}  // namespace

// Every length a key, a field or a short answer can have, and a few past the inline copies, from
// texts that start at every offset of a word: exactly the n bytes arrive, and the bytes around
// them stay as they were.
TEST(CopyShort, EveryLengthExactlyAndNothingAround) {
  for (size_t n = 0; n <= 72; ++n) {
    for (size_t offset = 0; offset < 8; ++offset) {
      char from[80], to[80];
      for (size_t i = 0; i < sizeof from; ++i) from[i] = static_cast<char>('A' + i % 50);
      std::memset(to, '.', sizeof to);
      copyFew(to + offset, from + offset, n);
      const std::string expected = std::string(offset, '.') + std::string(from + offset, n) +
                                   std::string(80 - offset - n, '.');
      EXPECT_EQ(std::string(to, sizeof to), expected) << "n " << n << ", offset " << offset;
    }
  }
}
