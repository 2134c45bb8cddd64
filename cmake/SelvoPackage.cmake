# The Debian packages, made by `cpack -G DEB` in a build folder configured
# with -DCMAKE_INSTALL_PREFIX=/usr (the program finds the module by the
# library folder it was built for):
#   selvo      the program, the module, the till service's unit with its
#              options (/etc/default/selvo-till) and logrotate rule, and the
#              manual pages;
#   selvo-dev  the public headers, the pkg-config file and the module's
#              link name, for a host to be built against it.
# Dependencies come from the binaries (dpkg-shlibdeps). The maintainer
# scripts (packaging/debian) make the service's user and folders.

# Manual pages from the program's own usage texts (packaging/manpages.sh).
# The program runs at build time, which sanitizer builds would instrument.
find_program(SELVO_HELP2MAN help2man)
if(SELVO_HELP2MAN AND NOT SELVO_SANITIZE AND NOT SELVO_FUZZ)
  set(selvo_manpages_default ON)
else()
  set(selvo_manpages_default OFF)
endif()
option(SELVO_MANPAGES "Make the manual pages with help2man" ${selvo_manpages_default})
if(SELVO_MANPAGES)
  set(SELVO_MANPAGE_DIR ${PROJECT_BINARY_DIR}/man)
  file(GLOB selvo_manpage_includes ${PROJECT_SOURCE_DIR}/packaging/man/*.h2m)
  add_custom_command(
    OUTPUT ${SELVO_MANPAGE_DIR}/.made
    COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/manpages.sh $<TARGET_FILE:selvo-host> ${SELVO_MANPAGE_DIR}
            ${PROJECT_VERSION}
    COMMAND ${CMAKE_COMMAND} -E touch ${SELVO_MANPAGE_DIR}/.made
    DEPENDS selvo-host ${PROJECT_SOURCE_DIR}/packaging/manpages.sh ${selvo_manpage_includes}
    COMMENT "Manual pages from selvo-host --help"
    VERBATIM)
  add_custom_target(selvo-manpages ALL DEPENDS ${SELVO_MANPAGE_DIR}/.made)
  install(DIRECTORY ${SELVO_MANPAGE_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime
          FILES_MATCHING PATTERN "*.1.gz")
  if(BUILD_TESTING)
    add_test(NAME manpages_match_help COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/structure/check_manpages.py
                                              $<TARGET_FILE:selvo-host> ${SELVO_MANPAGE_DIR})
  endif()
endif()

# /etc beside a /usr install (as GNUInstallDirs has it), PREFIX/etc
# otherwise, so that `cmake --install --prefix DIR` stays inside DIR.
if(CMAKE_INSTALL_FULL_SYSCONFDIR STREQUAL "/etc")
  set(selvo_sysconfdir /etc)
else()
  set(selvo_sysconfdir ${CMAKE_INSTALL_SYSCONFDIR})
endif()
install(FILES packaging/selvo-till.default DESTINATION ${selvo_sysconfdir}/default RENAME selvo-till
        COMPONENT runtime)
install(FILES packaging/selvo.logrotate DESTINATION ${selvo_sysconfdir}/logrotate.d RENAME selvo
        COMPONENT runtime)
install(PROGRAMS packaging/selvo-till-signal DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/selvo COMPONENT runtime)
install(FILES README.md docs/openapi.json DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/selvo COMPONENT runtime)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME selvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Shop module developers <selvo@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/CPackProjectConfig.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME selvo)
# Under the summary both packages share, the project's description.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "The module a filling station shop's point-of-sale program loads for
its payment types and automatic discount cards, the selvo-host program
that keeps the shop's settings in a SQLite file or on a PostgreSQL server
and computes sales, and the till service (selvo-till.service) that answers
the tills over HTTP.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS logrotate)
# Beside what the binaries need: useradd, for the maintainer scripts.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS passwd)
# The module's shlibs file; the ldconfig trigger is in packaging/debian.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME selvo-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Development files: the headers of the module's fifteen functions and
records, its pkg-config file (selvopayments) and its link name, for a
point-of-sale program built against it.")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "selvo (= ${PROJECT_VERSION})")

include(CPack)
