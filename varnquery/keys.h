// The keys of a batch lookup, read from a file one a line.
#ifndef VARNQUERY_KEYS_H_
#define VARNQUERY_KEYS_H_

#include <cstddef>

#include "varnquery/memory.h"

struct KeyList {
  char* text = nullptr;           // what was read, each key's end made a zero byte: count C strings
  size_t textBytes = 0;           // the memory that text stands in
  Touch textTouch = Touch::kAll;  // as it was taken
  size_t count = 0;
  size_t badLine = 0;  // 1-based line that holds a zero byte, for kZeroByte
};

enum class KeyRead { kRead, kFailed, kZeroByte, kNoMemory };

// Reads fd to its end into list: one key a line, its newline dropped and nothing trimmed, or one
// a zero-terminated item when zeroSeparated. A last key without its end counts too. A line that
// holds a zero byte could never be a command-line argument and is refused (kZeroByte); kFailed
// leaves errno as the failed read set it.
KeyRead readKeys(int fd, bool zeroSeparated, KeyList& list);

void freeKeys(KeyList& list);

#endif  // VARNQUERY_KEYS_H_
