#include "reference.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<std::string> referenceRecords(const std::string& path) {
  std::vector<std::string> records;
  FILE* file = std::fopen(path.c_str(), "rb");
  char line[100];
  long before = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    const long after = std::ftell(file);
    records.emplace_back(line, static_cast<size_t>(after - before));
    before = after;
  }
  std::fclose(file);
  return records;
}

ReferenceFields referenceParse(std::string_view record, int fieldCount) {
  std::string text(record.substr(0, record.find('\0')));
  for (char& c : text) c = c == ' ' ? '=' : c;
  ReferenceFields fields;
  const char* separators = "\t\n\v\f\r";
  size_t at = text.find_first_not_of(separators);
  while (at != std::string::npos && fields.taken < fieldCount) {
    const size_t stop = text.find_first_of(separators, at);
    const std::string field = text.substr(at, stop == std::string::npos ? stop : stop - at);
    ++fields.taken;
    fields.slots[fields.taken] = field.substr(0, 39);
    fields.overLong[fields.taken] = field.size() > 39;
    at = stop == std::string::npos ? stop : text.find_first_not_of(separators, stop);
  }
  for (int n : {2, 3}) {
    for (char& c : fields.slots[n]) c = c == '=' ? ' ' : c;
  }
  return fields;
}

LookupResult referenceLookup(const std::vector<std::string>& records, int fieldCount,
                             std::string_view prefix, const std::vector<std::string>& args) {
  if (args.size() < 2) return {"Not enough parameters\n", 0};
  const std::string key = std::string(prefix) + args[0];
  const bool lineMode = args[1] == "L";
  errno = 0;
  const long var = std::strtol(args[1].c_str(), nullptr, 10);
  const bool inRange = errno != ERANGE && var >= INT_MIN && var <= INT_MAX && var >= 1 && var <= 4;
  if (!lineMode && !inRange) return {"Illegal Var Number\n", 4};
  for (const std::string& record : records) {
    const ReferenceFields fields = referenceParse(record, fieldCount);
    if (fields.taken >= 3 && !fields.overLong[3] && key.size() <= 39 && fields.slots[3] == key) {
      if (lineMode) return {record.substr(0, record.find('\0')), 1};
      return {fields.slots[var] + "\n", 1};
    }
  }
  return {"Not Found\n", 10};
}
