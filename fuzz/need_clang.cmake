# Read by the fuzz preset before the compiler is tried (CMAKE_PROJECT_TOP_LEVEL_INCLUDES): without
# clang, or without the runtimes that libFuzzer and the sanitizers link, CMake's own failure would
# name no package. Stops, naming them.
set(fuzz_packages "install clang and libclang-rt-dev (setup/need fuzz)")
find_program(fuzz_compiler NAMES "${CMAKE_CXX_COMPILER}" NO_CACHE)
if(NOT fuzz_compiler)
  message(FATAL_ERROR "the fuzz preset needs ${CMAKE_CXX_COMPILER}: ${fuzz_packages}")
endif()
set(fuzz_probe "${CMAKE_BINARY_DIR}/CMakeFiles/fuzz_probe")
file(WRITE "${fuzz_probe}.cpp"
     "extern \"C\" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n")
execute_process(COMMAND "${fuzz_compiler}" -fsanitize=fuzzer,address,undefined "${fuzz_probe}.cpp"
                        -o "${fuzz_probe}"
                RESULT_VARIABLE fuzz_status OUTPUT_QUIET ERROR_VARIABLE fuzz_error)
file(REMOVE "${fuzz_probe}.cpp" "${fuzz_probe}")
if(NOT fuzz_status EQUAL 0)
  message(FATAL_ERROR "${fuzz_compiler} cannot link a fuzzer with the sanitizers: "
                      "${fuzz_packages}\n${fuzz_error}")
endif()
