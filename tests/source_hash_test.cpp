// Prints the hash of the sources this build was made from; the test sources_current compares it
// with the sources as they are.
#include "source_hash.h"

#include <cstdio>

int main() { return std::puts(kSourceHash) < 0; }
