// Helpers shared by the tests: scratch files and a lookup run captured in memory.
#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lookup.h"

// A file in a scratch directory that is removed with it.
class ScratchFile {
 public:
  explicit ScratchFile(std::string_view content);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct LookupResult {
  std::string out;
  int status;
  bool operator==(const LookupResult&) const = default;
};

// Runs runLookup on the table at path with argv {program, args...}, output captured.
LookupResult lookupAt(const std::string& path, int fieldCount, std::string_view prefix,
                      const std::vector<std::string>& args);

// The same on a scratch table holding `table`.
LookupResult lookupIn(std::string_view table, int fieldCount, std::string_view prefix,
                      const std::vector<std::string>& args);

// The records the engine's reader yields from the file at path, in order.
std::vector<std::string> recordsAt(const std::string& path);

// A random table of up to a dozen lines built from the bytes that matter to the rules, with lines
// near and far past 98 bytes, some without a last newline.
std::string randomTable(std::mt19937& rng);

// A random table of lines of fields, most as a table is written: fields of up to 45 bytes of a few
// letters, spaces, "=" and "# ", one tab between them, each line ended; now and then another
// separator, a run of them, a zero byte, or a line without its newline.
std::string fieldTable(std::mt19937& rng);

// Printable form of bytes for failure messages: escapes everything outside plain ASCII.
std::string show(std::string_view bytes);

#endif  // TESTS_TEST_UTIL_H_
