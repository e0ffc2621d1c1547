// The bytes that separate the fields of a record.
#ifndef LOOKUP_FIELD_SEPARATORS_H_
#define LOOKUP_FIELD_SEPARATORS_H_

// Whether c separates fields: tab, newline, vertical tab, form feed, carriage return. A space
// would too, but by the split every space has become "=".
inline bool isFieldSeparator(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#endif  // LOOKUP_FIELD_SEPARATORS_H_
