// varnparse: looks an entry up by its third field in a five-field host table.
#include "engine/lookup.h"
#include "pathnames.h"

int main(int argc, char* argv[]) {
  static constexpr LookupProfile kProfile{kPathTable, 5, ""};
  return runLookup(kProfile, argc, argv, STDOUT_FILENO, kProgramConfinement);
}
