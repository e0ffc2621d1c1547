// The lookup command: from a program's command line to its output and exit status.
#ifndef ENGINE_LOOKUP_H_
#define ENGINE_LOOKUP_H_

#include <unistd.h>

#include <string_view>

#include "confinement.h"
#include "record.h"

// The constants that make a lookup program what it is.
struct LookupProfile {
  const char* tablePath;       // absolute path of the host table
  int fieldCount;              // 5 or 3: how many fields a record is split into
  std::string_view keyPrefix;  // put in front of the first argument to form the key
};

// Exit statuses that calling scripts rely on. A found entry ends with 1, not 0.
inline constexpr int kStatusUsage = 0;
inline constexpr int kStatusFound = 1;
inline constexpr int kStatusNoTable = 3;
inline constexpr int kStatusBadSelector = 4;
inline constexpr int kStatusNotFound = 10;         // "Not Found" was written whole
inline constexpr int kStatusNotFoundUnsaid = 255;  // writing "Not Found" failed

// Looks up argv[1] with the selector argv[2] ("L" or a var number 1 to 4) in the profile's table,
// writes the result to out and returns the exit status. argv[0] is the program name; argc may be
// 0. Nothing is ever written to standard error.
int runLookup(const LookupProfile& profile, int argc, const char* const* argv,
              int out = STDOUT_FILENO, Confinement confinement = Confinement::kNone);

// What a lookup prints of its entry: the record as stored, or the field of a var number.
struct Selector {
  bool lineMode = false;  // "L"
  int var = 0;            // 1 to 4, or 0 when the selector names nothing
  bool valid() const { return lineMode || var != 0; }
};

// The selector an argument names: "L" exactly, or a var number 1 to 4 read as a leading decimal
// number (white space and one sign before it, anything after it); var 0 when it names neither,
// a number too large for 32 bits included.
Selector readSelector(const char* argument);

// The key a record's third field must equal: the profile's prefix and the key argument.
struct Key {
  char text[kSlotSize];
  size_t length = 0;
  bool tooLong = false;  // longer than 39 bytes: stored nowhere, matches nothing
  std::string_view view() const { return {text, length}; }
};

// The key that prefix followed by argument (a C string, read no further than 40 bytes) makes.
Key makeKey(std::string_view prefix, const char* argument);

// Whether a record that parseRecord split into taken fields is an entry for key: at least three
// fields, a key field that was not cut, and equal to the key byte for byte.
bool isEntryFor(const Key& key, const HostRecord& record, int taken);

// The bytes a lookup writes for its entry: the raw copy in line mode, else the selected slot and
// a newline, put together in line.
std::string_view answerText(const HostRecord& record, Selector selector,
                            char (&line)[kSlotSize + 1]);

// Writes all of text to out; false when a write fails. A lookup ignores SIGPIPE first, so that a
// reader that has gone makes the write fail instead of ending the run.
bool writeAll(int out, std::string_view text);

// What a lookup writes when no entry has the key.
inline constexpr std::string_view kNotFoundText = "Not Found\n";

#endif  // ENGINE_LOOKUP_H_
