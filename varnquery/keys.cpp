#include "varnquery/keys.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

KeyRead readKeys(int fd, bool zeroSeparated, KeyList& list) {
  size_t size = 0;
  size_t room = 64 * 1024;
  char* text = static_cast<char*>(std::malloc(room + 1));
  if (text == nullptr) return KeyRead::kNoMemory;
  for (;;) {
    if (size == room) {
      room *= 2;
      char* grown = static_cast<char*>(std::realloc(text, room + 1));
      if (grown == nullptr) {
        std::free(text);
        return KeyRead::kNoMemory;
      }
      text = grown;
    }
    const ssize_t got = read(fd, text + size, room - size);
    if (got < 0) {
      std::free(text);
      return KeyRead::kFailed;
    }
    if (got == 0) break;
    size += static_cast<size_t>(got);
  }
  const char end = zeroSeparated ? '\0' : '\n';
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) count += text[i] == end;
  if (size > 0 && text[size - 1] != end) ++count;  // a last key without its end
  text[size] = end;
  const char** keys = static_cast<const char**>(std::malloc((count + 1) * sizeof *keys));
  if (keys == nullptr) {
    std::free(text);
    return KeyRead::kNoMemory;
  }
  // Each key is searched for a zero byte only when the text holds one.
  const bool zeros = !zeroSeparated && std::memchr(text, '\0', size) != nullptr;
  size_t n = 0;
  for (size_t start = 0; n < count; ++n) {
    // Keys are short: a plain loop finds each end sooner than a call would.
    size_t length = 0;
    while (text[start + length] != end) ++length;  // text[size] is an end
    if (zeros && std::memchr(text + start, '\0', length) != nullptr) {
      std::free(keys);
      std::free(text);
      list.badLine = n + 1;
      return KeyRead::kZeroByte;
    }
    text[start + length] = '\0';
    keys[n] = text + start;
    start += length + 1;
  }
  list.text = text;
  list.keys = keys;
  list.count = count;
  return KeyRead::kRead;
}

void freeKeys(KeyList& list) {
  std::free(list.keys);
  std::free(list.text);
  list = KeyList{};
}
