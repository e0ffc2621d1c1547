# The C library the programs link statically against (LOOKUP_LIBC): musl where musl-gcc is found,
# since a lookup then starts in about 0.6 of the time static glibc takes to start a do-nothing
# program; otherwise static glibc.
#
# Debian has no libstdc++ built for musl. The engine uses only header-only parts of the C++
# library, so a musl object is compiled by the usual C++ compiler with its C++ headers ahead of
# musl's C headers, and the program is linked by musl's own driver. Only the program targets and
# their copy of the engine (engine_musl, made in engine/) are built so; the tests link glibc's
# libstdc++ and the plain engine library.

# A cross build needs the target's own musl driver: the host's builds for the host.
if(CMAKE_CROSSCOMPILING)
  set(musl_driver ${CMAKE_SYSTEM_PROCESSOR}-linux-musl-gcc)
else()
  set(musl_driver musl-gcc)
endif()
find_program(MUSL_GCC ${musl_driver})
if(MUSL_GCC)
  set(default_libc musl)
  set(libc_reason "${musl_driver} found at ${MUSL_GCC}")
elseif(CMAKE_CROSSCOMPILING)
  set(default_libc glibc)
  set(libc_reason
      "cross build for ${CMAKE_SYSTEM_PROCESSOR}, and no musl driver for it (${musl_driver})")
else()
  set(default_libc glibc)
  set(libc_reason "musl-gcc not found (package musl-tools)")
endif()
set(LOOKUP_LIBC ${default_libc} CACHE STRING
    "C library the programs link statically: musl or glibc")
set_property(CACHE LOOKUP_LIBC PROPERTY STRINGS musl glibc)
if(NOT LOOKUP_LIBC MATCHES "^(musl|glibc)$")
  message(FATAL_ERROR "LOOKUP_LIBC is '${LOOKUP_LIBC}'; it takes musl or glibc")
endif()
if(NOT LOOKUP_LIBC STREQUAL default_libc)
  set(libc_reason "LOOKUP_LIBC set to ${LOOKUP_LIBC}; ${libc_reason}")
endif()
message(STATUS "Programs link against ${LOOKUP_LIBC}: ${libc_reason}")

if(NOT LOOKUP_LIBC STREQUAL "musl")
  return()
endif()
if(NOT MUSL_GCC)
  message(FATAL_ERROR "LOOKUP_LIBC is musl but musl-gcc was not found: install musl-tools, "
                      "or configure with -DLOOKUP_LIBC=glibc")
endif()

# musl's headers, as its driver (a shell script around gcc) names them in its specs file.
file(STRINGS ${MUSL_GCC} musl_driver REGEX "-specs")
string(REGEX MATCH "-specs[ =]\"?([^ \"]+)" _ "${musl_driver}")
set(musl_specs "${CMAKE_MATCH_1}")
if(NOT EXISTS "${musl_specs}")
  message(FATAL_ERROR "musl-gcc at ${MUSL_GCC} names no specs file that exists")
endif()
file(STRINGS "${musl_specs}" musl_cc1 REGEX "-isystem")
string(REGEX MATCH "-isystem ([^ ]+)" _ "${musl_cc1}")
set(musl_include "${CMAKE_MATCH_1}")
if(NOT IS_DIRECTORY "${musl_include}")
  message(FATAL_ERROR "musl's headers not found from ${MUSL_GCC} (specs '${musl_specs}')")
endif()

# The C++ compiler's own header folders, as it reports them: its C++ library, then its built-ins
# (stddef.h, the SSE intrinsics). No version is written here.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -x c++ -v - INPUT_FILE /dev/null
                OUTPUT_QUIET ERROR_VARIABLE cxx_search)
string(REGEX MATCH "search starts here:\n(.*)\nEnd of search list" _ "${cxx_search}")
string(REGEX REPLACE "\n *" ";" cxx_dirs "${CMAKE_MATCH_1}")
set(musl_cxx_flags -nostdinc)
foreach(dir IN LISTS cxx_dirs)
  string(STRIP "${dir}" dir)
  if(dir MATCHES "c\\+\\+")
    list(APPEND musl_cxx_flags "SHELL:-isystem ${dir}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE compiler_include OUTPUT_STRIP_TRAILING_WHITESPACE)
list(APPEND musl_cxx_flags "SHELL:-isystem ${musl_include}")
if(IS_ABSOLUTE "${compiler_include}")
  list(APPEND musl_cxx_flags "SHELL:-isystem ${compiler_include}")
endif()
# libstdc++'s configuration asks glibc's version; musl has none. Without exceptions or run-time
# types nothing needs libstdc++'s compiled part.
list(APPEND musl_cxx_flags "-D__GLIBC_PREREQ(major,minor)=0" -fno-exceptions -fno-rtti)

# use_musl(target): compiles target for musl; an executable is also linked by musl-gcc, which
# stands in for the C++ driver on its link line.
function(use_musl target)
  target_compile_options(${target} PRIVATE ${musl_cxx_flags})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${target} PROPERTIES
      RULE_LAUNCH_LINK "sh ${PROJECT_SOURCE_DIR}/cmake/link-with.sh ${MUSL_GCC}")
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()

