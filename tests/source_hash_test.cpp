// Prints the hash of the sources this build was made from; the test sources_current compares it
// with the sources as they are.
#include <cstdio>

#include "source_hash.h"

int main() { return std::puts(kSourceHash) < 0; }
