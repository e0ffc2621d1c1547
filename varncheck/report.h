// Checking named tables and printing what the rules find, as a compiler prints diagnostics.
#ifndef VARNCHECK_REPORT_H_
#define VARNCHECK_REPORT_H_

#include <cstdio>

#include "varncheck/rules.h"

inline constexpr int kCheckClean = 0;       // no file has an error; warnings are allowed
inline constexpr int kCheckErrors = 1;      // some file has an error
inline constexpr int kCheckUnreadable = 2;  // a file could not be read or the report written,
                                            // or the usage is wrong

struct ReportOptions {
  Shape shape = Shape::kFiveField;
  bool allWarnings = false;  // list every warning, not the first few of each kind
};

// Checks the table at path ("-": standard input) and prints its diagnostics and summary to out,
// or a message naming the file and the reason to err when it cannot be read. Returns one of the
// statuses above.
int checkFile(const char* path, const ReportOptions& options, FILE* out, FILE* err);

// A table that a program of this build reads.
struct BuiltInTable {
  const char* path;
  Shape shape;
  const char* reader;  // which program reads it
};

// Checks each of tables that exists and says which are absent; returns the worst status.
int checkBuiltInTables(const BuiltInTable* tables, int count, bool allWarnings, FILE* out,
                       FILE* err);

// Flushes out and, when something written to it failed, says why on err; returns status, or
// kCheckUnreadable after such a failure.
int finishOutput(int status, FILE* out, FILE* err);

#endif  // VARNCHECK_REPORT_H_
