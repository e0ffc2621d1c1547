// Runs the table checker on raw bytes: a flags byte, then the table. Bit 0 of the flags picks
// the shape (set: parse's), bit 1 lists every warning.
// Each verdict must agree with what a lookup returns, both readings of the table must report the
// same, and printing the report must not fail.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/check_agreement.h"
#include "varncheck/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int fd = memfd_create("table", 0);
  static FILE* const sink = std::fopen("/dev/null", "w");
  const Shape shape = (data[0] & 1) == 0 ? Shape::kFiveField : Shape::kParse;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data + 1, size - 1, 0) < 0) __builtin_trap();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (!checkerDisagreement(path, shape).empty()) __builtin_trap();
  if (!readingsDisagreement(path, shape).empty()) __builtin_trap();
  if (checkFile(path.c_str(), {shape, (data[0] & 2) != 0}, sink, sink) == kCheckUnreadable) {
    __builtin_trap();
  }
  return 0;
}
