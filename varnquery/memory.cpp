#include "varnquery/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Under the address checker memory comes from malloc, whose every edge it watches.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kChecked = true;
#else
constexpr bool kChecked = false;
#endif
#else
constexpr bool kChecked = false;
#endif

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;

// From a quarter of a huge page on, one huge page costs less time than the small pages it
// replaces (on a virtual machine each small page costs about 7 microseconds at its first touch when
// populated and 15 when not, a whole huge page about 150 in all), and below it 10,000 keys keep
// within their 2 MiB. Memory touched as used may stay mostly untouched, as the answers of keys not
// found do: it takes huge pages only where it fills one.
bool inHugePages(size_t bytes, Touch touch) {
  return bytes >= (touch == Touch::kAll ? kHugePage / 4 : kHugePage);
}

// Not in every C library's headers; a kernel that lacks them refuses the advice, which only costs
// speed.
#ifndef MADV_HUGEPAGE
#define MADV_HUGEPAGE 14
#endif
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

size_t roundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

void* mapPages(size_t bytes, int flags) {
  void* memory =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

}  // namespace

void* takeMemory(size_t bytes, Touch touch) {
  if (bytes == 0) bytes = 1;
  if constexpr (kChecked) return std::calloc(1, bytes);
  if (!inHugePages(bytes, touch)) {
    // Below that the memory stays in small pages, so that a few thousand keys keep to a small
    // footprint.
    return mapPages(roundUp(bytes, kPage), touch == Touch::kAll ? MAP_POPULATE : 0);
  }
  // A huge page must start at a multiple of its size: a range one huge page longer holds such a
  // start, and what lies around it is given back at once.
  const size_t size = roundUp(bytes, kHugePage);
  char* range = static_cast<char*>(mapPages(size + kHugePage, 0));
  if (range == nullptr) return nullptr;
  const auto at = reinterpret_cast<uintptr_t>(range);
  char* memory = range + (roundUp(at, kHugePage) - at);
  if (memory > range) munmap(range, static_cast<size_t>(memory - range));
  if (char* end = memory + size; end < range + size + kHugePage) {
    munmap(end, static_cast<size_t>(range + size + kHugePage - end));
  }
  madvise(memory, size, MADV_HUGEPAGE);
  if (touch == Touch::kAll) madvise(memory, size, MADV_POPULATE_WRITE);
  return memory;
}

void giveMemory(void* memory, size_t bytes, Touch touch) {
  if constexpr (kChecked) return std::free(memory);
  if (memory == nullptr) return;
  if (bytes == 0) bytes = 1;
  munmap(memory, roundUp(bytes, inHugePages(bytes, touch) ? kHugePage : kPage));
}
