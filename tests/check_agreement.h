// Holds the table checker's verdicts to what the lookups do on the same table.
#ifndef TESTS_CHECK_AGREEMENT_H_
#define TESTS_CHECK_AGREEMENT_H_

#include <string>

#include "varncheck/rules.h"

// Checks the table at path, then looks every entry up by its own key: an entry reported
// reachable must be the record a lookup prints for L, and one reported shadowed must get the
// record of the line named. Returns "" when all agree, else what differed.
std::string checkerDisagreement(const std::string& path, Shape shape);

// Checks the table at path twice, reading the common line from the block's bits and parsing every
// record: returns "" when both give the same diagnostics, entries and summary, else the first
// difference.
std::string readingsDisagreement(const std::string& path, Shape shape);

#endif  // TESTS_CHECK_AGREEMENT_H_
