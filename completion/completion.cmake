# varn_completion(DIR HOME_TABLE CUSTOM_TABLE PARSE_TABLE) writes the completion files for bash
# (DIR/varnparse), zsh (DIR/_varnparse) and fish (DIR/varnparse.fish) with the table path that
# each program has compiled in. The key reader, table_keys.awk, is pasted into each file so that
# the three shells offer the same keys and an installed file needs no other.
set(VARN_COMPLETION_DIR ${CMAKE_CURRENT_LIST_DIR})
function(varn_completion dir home custom parse)
  set(awk ${VARN_COMPLETION_DIR}/table_keys.awk)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${awk})
  file(READ ${awk} KEYS_AWK)
  string(REGEX REPLACE "^(#[^\n]*\n)+" "" KEYS_AWK "${KEYS_AWK}")  # its header stays here
  if(KEYS_AWK MATCHES "'")
    message(FATAL_ERROR "${awk} holds a single quote, which would end it in the shells' files")
  endif()
  string(STRIP "${KEYS_AWK}" KEYS_AWK)
  # Inside fish's single quotes a backslash is an escape too.
  string(REPLACE "\\" "\\\\" FISH_KEYS_AWK "${KEYS_AWK}")
  set(VARNPARSE_HOME_TABLE ${home})
  set(VARNPARSE_CUSTOM_TABLE ${custom})
  set(PARSE_TABLE ${parse})
  foreach(name PARSE_TABLE VARNPARSE_HOME_TABLE VARNPARSE_CUSTOM_TABLE)
    string(REPLACE "'" "'\\''" SH_${name} "${${name}}")
    string(REPLACE "\\" "\\\\" FISH_${name} "${${name}}")
    string(REPLACE "'" "\\'" FISH_${name} "${FISH_${name}}")
  endforeach()
  configure_file(${VARN_COMPLETION_DIR}/varnparse.bash.in ${dir}/varnparse @ONLY)
  configure_file(${VARN_COMPLETION_DIR}/varnparse.zsh.in ${dir}/_varnparse @ONLY)
  configure_file(${VARN_COMPLETION_DIR}/varnparse.fish.in ${dir}/varnparse.fish @ONLY)
endfunction()
