# Installing and packaging. The home build, parse, varnquery and varncheck go to bin/; the custom
# build, which must never replace the home build, goes to libexec/fennoKit/. Each is an install
# component and a Debian package.
include(GNUInstallDirs)
set(CUSTOM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/fennoKit)

# Manual pages, filled in with this build's table paths and version, installed compressed.
set(MAN_NAME varnparse)
set(MAN_WHATIS "look up an entry of the five-field host table")
set(SYNOPSIS_NAME "")
set(RUN_NOTE "")
set(OTHER_PAGE varnparse-fennokit)
set(EXAMPLE_COMMAND varnparse)
set(TABLE "${VARNPARSE_HOME_TABLE}")
set(MAN_TITLE VARNPARSE)
string(CONCAT OTHER_BUILD ".It Pa ${VARNPARSE_CUSTOM_TABLE}\n"
       "the table of the custom build, installed as\n"
       ".Pa ${CUSTOM_DIR}/varnparse\nunder the same prefix\n")
configure_file(man/varnparse.1.in man/varnparse.1 @ONLY)
set(MAN_NAME varnparse-fennokit)
set(MAN_WHATIS "look up an entry of the fennoKit host table (custom build of varnparse)")
set(SYNOPSIS_NAME "prefix/${CUSTOM_DIR}/varnparse")
string(CONCAT RUN_NOTE ".Pp\nThis is the custom build.\n"
       "It is installed off the command search path, as\n"
       ".Pa ${CUSTOM_DIR}/varnparse\nunder the installation prefix\n"
       ".Pq Pa /usr/${CUSTOM_DIR}/varnparse No from its Debian package ,\n"
       "and is run by that path; a plain\n.Ic varnparse\nruns the home build.\n")
set(OTHER_PAGE varnparse)
# The custom build runs by its path; a plain "varnparse" runs the home build.
set(EXAMPLE_COMMAND /usr/${CUSTOM_DIR}/varnparse)
set(TABLE "${VARNPARSE_CUSTOM_TABLE}")
set(MAN_TITLE VARNPARSE-FENNOKIT)
string(CONCAT OTHER_BUILD ".It Pa ${VARNPARSE_HOME_TABLE}\n"
       "the table of the home build, installed as\n"
       ".Pa ${CMAKE_INSTALL_BINDIR}/varnparse\nunder the same prefix\n")
configure_file(man/varnparse.1.in man/varnparse-fennokit.1 @ONLY)
configure_file(man/parse.1.in man/parse.1 @ONLY)
configure_file(man/varncheck.1.in man/varncheck.1 @ONLY)
configure_file(man/varnquery.1.in man/varnquery.1 @ONLY)
configure_file(man/varn_hosts.5.in man/varn_hosts.5 @ONLY)
set(pages varnparse.1 varnparse-fennokit.1 parse.1 varncheck.1 varnquery.1 varn_hosts.5)
set(compressed)
foreach(page IN LISTS pages)
  add_custom_command(OUTPUT man/${page}.gz
                     COMMAND gzip -9n -c man/${page} > man/${page}.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
  list(APPEND compressed man/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed})

include(completion/completion.cmake)
varn_completion(${CMAKE_BINARY_DIR}/completion ${VARNPARSE_HOME_TABLE} ${VARNPARSE_CUSTOM_TABLE}
                ${PARSE_TABLE})

install(TARGETS varnparse parse varncheck varnquery
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT home)
foreach(page varnparse.1 parse.1 varncheck.1 varnquery.1 varn_hosts.5)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT home)
endforeach()
foreach(name varnparse parse varncheck varnquery)
  install(FILES ${CMAKE_BINARY_DIR}/completion/varnparse RENAME ${name}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT home)
  install(FILES ${CMAKE_BINARY_DIR}/completion/varnparse.fish RENAME ${name}.fish
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d COMPONENT home)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/completion/_varnparse
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT home)
install(TARGETS varnparse_custom RUNTIME DESTINATION ${CUSTOM_DIR} COMPONENT custom)
install(FILES ${CMAKE_BINARY_DIR}/man/varnparse-fennokit.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT custom)

# Uninstalling what an install from this build folder put in place.
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -DCMAKE_BINARY_DIR=${CMAKE_BINARY_DIR}
                                    -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake)

# What Debian asks of a package beside its programs (the copyright, a changelog, and the
# overrides that say why the programs are static) goes into the packages alone, put in by the
# script that finishes each package (packaging/control.cmake.in), never by a plain install.

# The packages' date is read again when they are made; reading it now stops a build that could
# not be packaged before it starts. The changelog's newest entry must be this version's.
include(packaging/source_date.cmake)
lookup_source_date(${PROJECT_SOURCE_DIR}/packaging/changelog source_date)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
file(STRINGS packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^varnparse \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: its newest entry is '${changelog_head}', not one for "
                      "varnparse ${PROJECT_VERSION}: add an entry for this version")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL home custom)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "varnparse maintainers <maintainers@varnparse.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The packages carry the architecture of the programs, which a cross build does not share with the
# machine that packs them.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
set(CPACK_DEBIAN_HOME_PACKAGE_NAME varnparse)
set(CPACK_DEBIAN_CUSTOM_PACKAGE_NAME varnparse-fennokit)
# Each package's summary, and its extended description.
set(SUMMARY_HOME "host table lookups: varnparse, parse, varnquery and varncheck")
set(SUMMARY_CUSTOM "host table lookup for fennoKit: custom build of varnparse")
set(CPACK_DEBIAN_HOME_DESCRIPTION "varnparse looks an entry up by its third field in the five-field host table
 ${VARNPARSE_HOME_TABLE}
and prints one of its fields, or the entry as stored, with an exit status
that scripts can test. parse does the same in the three-field table
 ${PARSE_TABLE}
whose third field holds '# ' and the key. varnquery answers many keys in
one pass over a table, each exactly as its own lookup would. varncheck
reads a table exactly as the lookups do and reports each line they will
not read as it looks.
The programs are small and static, and start in well under a millisecond.")
set(CPACK_DEBIAN_CUSTOM_DESCRIPTION "The custom build of varnparse reads the five-field host table
 ${VARNPARSE_CUSTOM_TABLE}
It is installed off the command search path, as
 /usr/${CUSTOM_DIR}/varnparse
so that it never replaces the home build of the varnparse package; the two
install side by side.")
# Static programs need nothing at run time; dynamic ones get their dependencies computed.
if(LOOKUP_PROGRAMS_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# The C library compiled into the static programs, which the packages record.
set(LOOKUP_STATIC_BUILT_USING "")
if(LOOKUP_LIBC STREQUAL "musl")
  execute_process(COMMAND dpkg-query -W -f [=[${source:Package} (= ${source:Version})]=] musl-dev
                  OUTPUT_VARIABLE LOOKUP_STATIC_BUILT_USING ERROR_QUIET)
endif()
configure_file(packaging/control.cmake.in ${CMAKE_BINARY_DIR}/debian/control.cmake @ONLY)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/debian/control.cmake)
include(CPack)
