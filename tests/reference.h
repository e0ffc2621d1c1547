// A plain model of the lookup, written from the table rules with none of the engine's machinery:
// records come from the C library's line reader, fields from string searches, and no record is
// skipped. The engine must agree with it on any input.
#ifndef TESTS_REFERENCE_H_
#define TESTS_REFERENCE_H_

#include <string>
#include <string_view>
#include <vector>

#include "test_util.h"

// The records of the file at path as fgets into a 100-byte buffer reads them.
std::vector<std::string> referenceRecords(const std::string& path);

struct ReferenceFields {
  int taken = 0;
  std::string slots[6];  // slots 1 to 5 as printed; slot 0 unused
  bool overLong[6] = {};
};

ReferenceFields referenceParse(std::string_view record, int fieldCount);

// The lookup over a table whose records are given.
LookupResult referenceLookup(const std::vector<std::string>& records, int fieldCount,
                             std::string_view prefix, const std::vector<std::string>& args);

#endif  // TESTS_REFERENCE_H_
