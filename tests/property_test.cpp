// Random tables, seeded and reproducible: the engine's reader, parser and whole lookup must agree
// with the plain model in reference.h. A failure names its seed and input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/lookup.h"
#include "engine/record.h"
#include "engine/table_reader.h"
#include "reference.h"
#include "test_util.h"

namespace {

TEST(Property, RecordsAreThoseOfTheLineReader) {
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    std::mt19937 rng(seed);
    const std::string table = randomTable(rng);
    ScratchFile file(table);
    ASSERT_EQ(recordsAt(file.path()), referenceRecords(file.path()))
        << "seed " << seed << " " << show(table);
  }
}

TEST(Property, FieldsAreThoseOfTheSplitRules) {
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    std::mt19937 rng(seed);
    std::string record = randomTable(rng).substr(0, kRecordMax);
    for (const int fieldCount : {3, 5}) {
      HostRecord parsed{};
      std::memcpy(parsed.buffer, record.data(), record.size());
      parsed.length = static_cast<int>(record.size());
      const int taken = parseRecord(parsed, fieldCount);
      const ReferenceFields expected = referenceParse(record, fieldCount);
      ASSERT_EQ(taken, expected.taken) << "seed " << seed << " " << show(record);
      for (int n = 1; n <= 5; ++n) {
        ASSERT_EQ(parsed.slot(n), expected.slots[n]) << "seed " << seed << " slot " << n;
        ASSERT_EQ(parsed.overLong[n], expected.overLong[n]) << "seed " << seed << " slot " << n;
      }
    }
  }
}

// Keys are mostly third fields of the table itself, so that lookups often find something, and
// the first entry with a key must win over later ones however the reader skips.
TEST(Property, LookupsAgreeWithThePlainModel) {
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    std::mt19937 rng(seed);
    std::string table = randomTable(rng);
    table += table.substr(0, std::uniform_int_distribution<size_t>(0, table.size())(rng));
    ScratchFile file(table);
    const std::vector<std::string> records = referenceRecords(file.path());
    std::vector<std::string> keys = {"", " ", "k", "a b", "#", "# ", "==="};
    for (const std::string& record : records) {
      const std::string key = referenceParse(record, 5).slots[3];
      keys.push_back(key);
      if (key.rfind("# ", 0) == 0) keys.push_back(key.substr(2));
    }
    for (const std::string& key : keys) {
      const char* selectors[] = {"L", "1", "2", "3", "4"};
      const std::string selector = selectors[std::uniform_int_distribution<int>(0, 4)(rng)];
      for (const auto& [fieldCount, prefix] : {std::pair{5, ""}, std::pair{3, "# "}}) {
        ASSERT_EQ(lookupAt(file.path(), fieldCount, prefix, {key, selector}),
                  referenceLookup(records, fieldCount, prefix, {key, selector}))
            << "seed " << seed << " key " << show(key) << " selector " << selector << " fieldCount "
            << fieldCount << " table " << show(table);
      }
    }
  }
}

// The same across block edges: tables of several blocks, keys from all over them.
TEST(Property, LookupsAgreeAcrossBlocks) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    std::string table;
    while (table.size() < 2 * kBlockSize + 1000) table += randomTable(rng);
    ScratchFile file(table);
    const std::vector<std::string> records = referenceRecords(file.path());
    for (int i = 0; i < 40; ++i) {
      const std::string& record =
          records[std::uniform_int_distribution<size_t>(0, records.size() - 1)(rng)];
      const std::string key = referenceParse(record, 5).slots[3];
      ASSERT_EQ(lookupAt(file.path(), 5, "", {key, "L"}),
                referenceLookup(records, 5, "", {key, "L"}))
          << "seed " << seed << " key " << show(key);
    }
  }
}

}  // namespace
