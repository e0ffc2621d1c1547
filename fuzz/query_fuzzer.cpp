// Runs the batch lookup on raw bytes and holds each answer to the single lookup of its key.
// Input: a flags byte, then the keys, one a line, a zero byte, and the table. The flags pick the
// shape (five fields, or three behind "# "), the selector, --status, -z and the form of the block
// scans (the first this build and processor have from the one named on).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/simd/byte_scan.h"
#include "tests/query_agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int fd = memfd_create("table", 0);
  const uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t zero = rest.find('\0');
  const std::string_view keyText = rest.substr(0, zero);
  rest.remove_prefix(zero == std::string_view::npos ? rest.size() : zero + 1);
  std::vector<std::string> keys;
  for (size_t start = 0; start < keyText.size();) {
    const size_t end = std::min(keyText.find('\n', start), keyText.size());
    keys.emplace_back(keyText.substr(start, end - start));
    start = end + 1;
  }
  const bool five = (flags & 1) == 0;
  static const char* const kSelectors[] = {"L", "1", "2", "3", "4"};
  const std::string selector = kSelectors[(flags >> 1 & 7) % 5];
  const ScanLevel kLevels[] = {ScanLevel::kScalar, ScanLevel::kSse2, ScanLevel::kAvx2,
                               ScanLevel::kAvx512, ScanLevel::kNeon};
  for (int i = flags >> 6; !forceBlockScanLevel(kLevels[i % 5]); ++i) {
  }
  QueryOptions options;
  options.withStatus = (flags & 16) != 0;
  options.zeroEnds = (flags & 32) != 0;

  if (ftruncate(fd, 0) != 0 || pwrite(fd, rest.data(), rest.size(), 0) < 0) __builtin_trap();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (!queryDisagreement(path, five ? 5 : 3, five ? "" : "# ", options, selector, keys).empty()) {
    __builtin_trap();
  }
  return 0;
}
