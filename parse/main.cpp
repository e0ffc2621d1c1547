// parse: looks an entry up in a three-field host table whose third field holds "# " and the key.
#include "engine/lookup.h"
#include "pathnames.h"

int main(int argc, char* argv[]) {
  static constexpr LookupProfile kProfile{kPathTable, 3, "# "};
  return runLookup(kProfile, argc, argv, STDOUT_FILENO, kProgramConfinement);
}
