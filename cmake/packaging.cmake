# Installing: the home build and parse go to bin/; the custom build, which must never replace
# the home build, goes to libexec/fennoKit/. Each is an install component and a Debian package.
include(GNUInstallDirs)
set(CUSTOM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/fennoKit)

set(TABLE "${VARNPARSE_HOME_TABLE}")
set(MAN_TITLE VARNPARSE)
set(OTHER_BUILD ".It Pa ${VARNPARSE_CUSTOM_TABLE}\nthe table of the custom build, installed as\n.Pa ${CUSTOM_DIR}/varnparse\nunder the same prefix\n")
configure_file(man/varnparse.1.in man/varnparse.1 @ONLY)
set(TABLE "${VARNPARSE_CUSTOM_TABLE}")
set(MAN_TITLE VARNPARSE-FENNOKIT)
set(OTHER_BUILD ".It Pa ${VARNPARSE_HOME_TABLE}\nthe table of the home build, installed as\n.Pa ${CMAKE_INSTALL_BINDIR}/varnparse\nunder the same prefix\n")
configure_file(man/varnparse.1.in man/varnparse-fennokit.1 @ONLY)
configure_file(man/parse.1.in man/parse.1 @ONLY)

foreach(name PARSE_TABLE VARNPARSE_HOME_TABLE VARNPARSE_CUSTOM_TABLE)
  string(REPLACE "'" "'\\''" SH_${name} "${${name}}")
endforeach()
configure_file(completion/lookup.bash.in completion/varnparse @ONLY)

install(TARGETS varnparse parse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT home)
install(FILES ${CMAKE_BINARY_DIR}/man/varnparse.1 ${CMAKE_BINARY_DIR}/man/parse.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT home)
install(FILES ${CMAKE_BINARY_DIR}/completion/varnparse
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT home)
install(FILES ${CMAKE_BINARY_DIR}/completion/varnparse RENAME parse
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT home)
install(TARGETS varnparse_custom RUNTIME DESTINATION ${CUSTOM_DIR} COMPONENT custom)
install(FILES ${CMAKE_BINARY_DIR}/man/varnparse-fennokit.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT custom)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL home custom)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "varnparse maintainers <maintainers@varnparse.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_HOME_PACKAGE_NAME varnparse)
set(CPACK_DEBIAN_CUSTOM_PACKAGE_NAME varnparse-fennokit)
set(CPACK_COMPONENT_HOME_DESCRIPTION "host table lookup: varnparse (home build) and parse")
set(CPACK_COMPONENT_CUSTOM_DESCRIPTION "host table lookup: varnparse, custom build for fennoKit")
# Static programs need nothing at run time; dynamic ones get their dependencies computed.
if(LOOKUP_PROGRAMS_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

