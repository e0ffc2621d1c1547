// Many keys answered in one pass over a table, each exactly as its own lookup would answer it.
#ifndef VARNQUERY_QUERY_H_
#define VARNQUERY_QUERY_H_

#include <cstddef>

#include "engine/lookup.h"

inline constexpr int kQueryAllFound = 0;
inline constexpr int kQuerySomeNotFound = 1;
inline constexpr int kQueryTrouble = 2;      // usage, keys or table unreadable, or output failed
inline constexpr int kQueryNoTable = 3;      // the table cannot be opened, as for the lookups
inline constexpr int kQueryBadSelector = 4;  // as for the lookups

struct QueryOptions {
  Selector selector;        // must be valid
  bool withStatus = false;  // each answer behind its lookup's exit status and a tab
  bool zeroEnds = false;    // each answer ended by a zero byte in place of its last newline
};

// The keys of a batch in their order: count C strings, listed as on a command line, or packed one
// after another, each behind the zero byte that ends the one before, as readKeys leaves them.
struct QueryKeys {
  const char* const* list = nullptr;  // when null, the keys are packed
  const char* packed = nullptr;
  size_t count = 0;
};

// Answers each of keys as runLookup with the profile and the selector would, reading
// the table once and no further than the last entry it needs. Writes the answers to out in the
// order of keys, one per key even where keys repeat: the lookup's bytes, a newline added to a
// record that lacks one, or with zeroEnds a zero byte in place of the final newline (after the
// last byte of a record that lacks one). A table that cannot be opened or read is reported to
// err, naming it. Returns one of the statuses above; a confined run exits instead of returning.
int runQuery(const LookupProfile& profile, const QueryOptions& options, const QueryKeys& keys,
             int out, int err, Confinement confinement = Confinement::kNone);

// Writes "varnquery: NAME: REASON" and a newline to err, REASON being what error means.
void sayProblem(int err, const char* name, int error);

#endif  // VARNQUERY_QUERY_H_
