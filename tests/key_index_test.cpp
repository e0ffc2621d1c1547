// The checker's key index: the first line of each key, across the growth of its tables, and the
// bound of its reserve.
#include "varncheck/key_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(KeyIndex, KeepsTheFirstLineOfEachKeyAcrossGrowth) {
  KeyIndex index;
  for (long i = 0; i < 100000; ++i) ASSERT_EQ(index.insert("k" + std::to_string(i), i + 1), 0);
  for (long i = 0; i < 100000; i += 7) {
    ASSERT_EQ(index.insert("k" + std::to_string(i), 999999), i + 1) << i;
  }
  EXPECT_EQ(index.insert("", 5), 0);
  EXPECT_EQ(index.insert("", 6), 5);
  EXPECT_EQ(index.insert(std::string(39, '\xff'), 1L << 38), 0);
  EXPECT_EQ(index.insert(std::string(39, '\xff'), 1), 1L << 38);
}

// Keys of every length a key field can have, each differing from the others of its length in
// one byte: each is its own key, stored and found again byte for byte wherever the byte lies.
TEST(KeyIndex, TellsKeysApartByEveryByteOfEveryLength) {
  KeyIndex index;
  std::vector<std::string> keys;
  for (size_t length = 0; length < 40; ++length) {
    keys.emplace_back(length, 'a');
    for (size_t at = 0; at < length; ++at) {
      keys.emplace_back(length, 'a');
      keys.back()[at] = 'b';
    }
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(index.insert(keys[i], long(i) + 1), 0) << '"' << keys[i] << '"';
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(index.insert(keys[i], 1), long(i) + 1) << '"' << keys[i] << '"';
  }
}

// Sized for a small file, the index keeps the keys that fit and indexes none after them.
TEST(KeyIndex, KeysPastItsReserveAreNotIndexed) {
  KeyIndex index(0, 1);  // the smallest reserve: 64 KiB
  const auto key = [](long i) { return std::string(30, 'k') + std::to_string(100000 + i); };
  for (long i = 0; i < 2000; ++i) index.insert(key(i), i + 1);
  EXPECT_EQ(index.insert(key(0), 99), 1);
  EXPECT_EQ(index.insert(key(1000), 99), 1001);  // 1,001 keys of 42 bytes fit in 64 KiB
  EXPECT_EQ(index.insert(key(1999), 99), 0);
}

// An index whose tables cannot be had says so, and indexes nothing, rather than end the process.
TEST(KeyIndex, SaysWhenItsMemoryCannotBeHad) {
  KeyIndex index(size_t{1} << 58);  // a table of 2^62 bytes, past any address space
  EXPECT_TRUE(index.failed());
  EXPECT_EQ(index.insert("k", 1), 0);
  EXPECT_EQ(index.insert("k", 2), 0);
  EXPECT_FALSE(KeyIndex(1000).failed());
}

}  // namespace
