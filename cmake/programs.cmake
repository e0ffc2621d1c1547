# Helpers that make the programs: each is the engine plus a main(), with the build's table paths
# compiled in through a generated header, linked against the C library that LOOKUP_LIBC names.

# quote_for_cxx(out value): value as the inside of a C++ string literal, with backslashes and
# double quotes escaped.
function(quote_for_cxx out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# strip_comment(target): drops the compiler's note from the program, which nothing reads.
function(strip_comment target)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${target}>)
endfunction()

# configure_build_tables(target home custom parse): generated/target/builtin_tables.h, the list of
# a build's three tables with their paths (@BUILD_HOME_TABLE@ and so on), for the programs that
# work on all of them; sets generated to its folder.
function(configure_build_tables target home custom parse)
  quote_for_cxx(BUILD_HOME_TABLE "${home}")
  quote_for_cxx(BUILD_CUSTOM_TABLE "${custom}")
  quote_for_cxx(BUILD_PARSE_TABLE "${parse}")
  set(generated ${CMAKE_BINARY_DIR}/generated/${target})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/builtin_tables.h.in ${generated}/builtin_tables.h
                 @ONLY)
  set(generated ${generated} PARENT_SCOPE)
endfunction()

# link_like_lookups(target): links target against the engine for the chosen C library, static,
# confined where LOOKUP_SANDBOX says so, without the compiler's note.
function(link_like_lookups target)
  if(LOOKUP_SANDBOX)
    target_compile_definitions(${target} PRIVATE LOOKUP_CONFINE=1)
  endif()
  if(LOOKUP_LIBC STREQUAL "musl")
    target_link_libraries(${target} PRIVATE engine_musl)
    use_musl(${target})
  else()
    target_link_libraries(${target} PRIVATE engine)
    if(LOOKUP_STATIC)
      target_link_options(${target} PRIVATE -static)
    endif()
  endif()
  strip_comment(${target})
endfunction()

# add_lookup_program(target name source table_path output_dir): the lookup library plus a main()
# that reads table_path, built as output_dir/name.
function(add_lookup_program target name source table_path output_dir)
  quote_for_cxx(LOOKUP_TABLE_PATH "${table_path}")
  set(generated ${CMAKE_BINARY_DIR}/generated/${target})
  configure_file(${PROJECT_SOURCE_DIR}/engine/pathnames.h.in ${generated}/pathnames.h @ONLY)
  add_executable(${target} ${PROJECT_SOURCE_DIR}/${source})
  target_include_directories(${target} PRIVATE ${generated})
  link_like_lookups(${target})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
                                             RUNTIME_OUTPUT_DIRECTORY ${output_dir})
endfunction()

# add_varnquery(target home_table custom_table parse_table output_dir): the batch lookup for a
# build whose programs read those tables, built as output_dir/varnquery like the lookups.
function(add_varnquery target home custom parse output_dir)
  configure_build_tables(${target} "${home}" "${custom}" "${parse}")
  list(TRANSFORM varnquery_sources PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
  add_executable(${target} ${PROJECT_SOURCE_DIR}/varnquery/main.cpp ${sources})
  target_include_directories(${target} PRIVATE ${generated} ${PROJECT_SOURCE_DIR})
  link_like_lookups(${target})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME varnquery
                                             RUNTIME_OUTPUT_DIRECTORY ${output_dir})
endfunction()

# add_varncheck(target home_table custom_table parse_table output_dir): the checker for a build
# whose programs read those tables, built as output_dir/varncheck. It uses the C++ library, so it
# links static glibc.
function(add_varncheck target home custom parse output_dir)
  configure_build_tables(${target} "${home}" "${custom}" "${parse}")
  add_executable(${target} ${PROJECT_SOURCE_DIR}/varncheck/main.cpp)
  target_include_directories(${target} PRIVATE ${generated})
  target_link_libraries(${target} PRIVATE varncheck_rules)
  if(LOOKUP_STATIC)
    target_link_options(${target} PRIVATE -static)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME varncheck
                                             RUNTIME_OUTPUT_DIRECTORY ${output_dir})
  strip_comment(${target})
endfunction()
