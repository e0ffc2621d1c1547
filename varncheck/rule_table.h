// The checker's rules as a table: one row a rule, the one place its severity, short name and
// message are declared. The rows stand in the order a line's diagnostics are reported.
#ifndef VARNCHECK_RULE_TABLE_H_
#define VARNCHECK_RULE_TABLE_H_

#include <cstdio>
#include <string>

#include "varncheck/rules.h"

enum class Severity { kError, kWarning };

struct RuleRow {
  Rule rule;
  Severity severity;
  const char* name;      // short, for summaries
  const char* forms[4];  // the message as printf patterns: its usual form first, then any other
};

// The row of rule.
const RuleRow& ruleRow(Rule rule);

// The message of rule in its form-th form, its pattern filled in with args.
template <typename... Args>
std::string ruleMessage(Rule rule, int form, Args... args) {
  const char* pattern = ruleRow(rule).forms[form];
  if constexpr (sizeof...(Args) == 0) {
    return pattern;
  } else {
    char text[320];  // a quoted key field takes at most 158 bytes
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
  }
}

#endif  // VARNCHECK_RULE_TABLE_H_
