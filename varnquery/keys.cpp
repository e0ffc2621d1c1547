#include "varnquery/keys.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "varnquery/memory.h"

namespace {

// The text's memory, taken as touch says, made room bytes long, its first size bytes kept; false
// when there is no memory.
bool grow(char*& text, size_t& room, Touch& touch, size_t size, size_t wanted) {
  char* grown = static_cast<char*>(takeMemory(wanted + 1, Touch::kAsUsed));
  if (grown == nullptr) return false;
  std::memcpy(grown, text, size);
  giveMemory(text, room + 1, touch);
  text = grown;
  room = wanted;
  touch = Touch::kAsUsed;
  return true;
}

}  // namespace

KeyRead readKeys(int fd, bool zeroSeparated, KeyList& list) {
  size_t size = 0;
  size_t room = 64 * 1024;
  Touch touch = Touch::kAsUsed;
  // A file tells its size: its keys are read into one piece of memory just as large, made ready at
  // once, with a byte to spare for the read that finds the end. (A file of the kernel's may say 0
  // and hold more: the memory grows as for a pipe.)
  struct stat file;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_size > 0) {
    room = static_cast<size_t>(file.st_size) + 1;
    touch = Touch::kAll;
  }
  char* text = static_cast<char*>(takeMemory(room + 1, touch));
  if (text == nullptr) return KeyRead::kNoMemory;
  for (;;) {
    if (size == room && !grow(text, room, touch, size, room * 2)) {
      giveMemory(text, room + 1, touch);
      return KeyRead::kNoMemory;
    }
    const ssize_t got = read(fd, text + size, room - size);
    if (got < 0) {
      giveMemory(text, room + 1, touch);
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
  // Each key is searched for a zero byte only when the text holds one.
  const bool zeros = !zeroSeparated && std::memchr(text, '\0', size) != nullptr;
  size_t n = 0;
  for (size_t start = 0; n < count; ++n) {
    // Keys are short: a plain loop finds each end sooner than a call would.
    size_t length = 0;
    while (text[start + length] != end) ++length;  // text[size] is an end
    if (zeros && std::memchr(text + start, '\0', length) != nullptr) {
      giveMemory(text, room + 1, touch);
      list.badLine = n + 1;
      return KeyRead::kZeroByte;
    }
    text[start + length] = '\0';
    start += length + 1;
  }
  list.text = text;
  list.textBytes = room + 1;
  list.textTouch = touch;
  list.count = count;
  return KeyRead::kRead;
}

void freeKeys(KeyList& list) {
  giveMemory(list.text, list.textBytes, list.textTouch);
  list = KeyList{};
}
