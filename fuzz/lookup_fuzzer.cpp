// Runs whole lookups on raw bytes and holds them to the plain model of the table rules.
// Input: a flags byte, then the key, a zero byte, the selector, a zero byte, and the table.
// The flags pick the program shape (five fields, or three behind "# ") and how many
// arguments the command line gets.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lookup.h"
#include "tests/reference.h"
#include "tests/test_util.h"

namespace {

int tableFd() {
  static const int fd = memfd_create("table", 0);
  return fd;
}

std::string_view cut(std::string_view& rest) {
  const size_t zero = rest.find('\0');
  const std::string_view part = rest.substr(0, zero);
  rest.remove_prefix(zero == std::string_view::npos ? rest.size() : zero + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> args;
  args.emplace_back(cut(rest));
  args.emplace_back(cut(rest));
  args.resize((flags >> 1) % 4 == 3 ? 2 : (flags >> 1) % 4);
  const bool five = (flags & 1) == 0;
  const int fieldCount = five ? 5 : 3;
  const std::string_view prefix = five ? "" : "# ";

  const int fd = tableFd();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, rest.data(), rest.size(), 0) < 0) __builtin_trap();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const LookupResult got = lookupAt(path, fieldCount, prefix, args);
  const LookupResult expected = referenceLookup(referenceRecords(path), fieldCount, prefix, args);
  if (!(got == expected)) __builtin_trap();
  return 0;
}
