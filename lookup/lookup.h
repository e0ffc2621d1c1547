// The lookup command: from a program's command line to its output and exit status.
#ifndef LOOKUP_LOOKUP_H_
#define LOOKUP_LOOKUP_H_

#include <unistd.h>

#include <string_view>

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

// What a run may still do once its table is open. A program chooses; tests and the fuzzer, which
// call runLookup many times in one process, keep kNone.
enum class Confinement {
  kNone,
  // Strict seccomp: only read, write and the exit of the thread are left, so the run ends the
  // process itself with its status and never returns. Where the kernel refuses, it runs on
  // unconfined. The process must have one thread.
  kSandbox,
};

// Looks up argv[1] with the selector argv[2] ("L" or a var number 1 to 4) in the profile's table,
// writes the result to out and returns the exit status. argv[0] is the program name; argc may be
// 0. Nothing is ever written to standard error.
int runLookup(const LookupProfile& profile, int argc, const char* const* argv,
              int out = STDOUT_FILENO, Confinement confinement = Confinement::kNone);

// The var number a selector other than "L" names, read as a leading decimal number; 0 when it
// names none of 1 to 4 (too large for 32 bits included).
int readVarNumber(const char* selector);

#endif  // LOOKUP_LOOKUP_H_
