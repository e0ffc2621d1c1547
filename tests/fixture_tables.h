// The tables of the fixture build, at the paths its programs read, shared by the end-to-end tests.
#ifndef TESTS_FIXTURE_TABLES_H_
#define TESTS_FIXTURE_TABLES_H_

#include <filesystem>

inline void removeTables() {
  for (const char* path : {HOME_TABLE, CUSTOM_TABLE, PARSE_TABLE}) {
    std::filesystem::remove_all(path);
  }
}

inline constexpr char kFiveField[] =
    "gw 1\tNorth Hub\tab cd\ta=b\tx y\n"
    "web01\tFront=End\tweb01\t10.0.0.5\tdmz\n"
    "three\tfields\tonly\n";

#endif  // TESTS_FIXTURE_TABLES_H_
