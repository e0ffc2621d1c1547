// Holds the batch lookup to the single one: each answer must be what runLookup gives for that key.
#ifndef TESTS_QUERY_AGREEMENT_H_
#define TESTS_QUERY_AGREEMENT_H_

#include <string>
#include <string_view>
#include <vector>

#include "varnquery/query.h"

struct Batch {
  std::string out;
  std::string err;
  int status;
  bool operator==(const Batch&) const = default;
};

// runQuery over the table at path, its output and diagnostics captured.
Batch queryAt(const std::string& path, int fieldCount, std::string_view prefix,
              const QueryOptions& options, const std::vector<std::string>& keys);

// What one runLookup a key with selector gives, framed as the batch frames its answers.
Batch lookupsOneByOne(const std::string& path, int fieldCount, std::string_view prefix,
                      const QueryOptions& options, const std::string& selector,
                      const std::vector<std::string>& keys);

// Runs both on the table at path with selector ("L" or a var number); "" when they agree, else
// both outcomes.
std::string queryDisagreement(const std::string& path, int fieldCount, std::string_view prefix,
                              QueryOptions options, const std::string& selector,
                              const std::vector<std::string>& keys);

#endif  // TESTS_QUERY_AGREEMENT_H_
