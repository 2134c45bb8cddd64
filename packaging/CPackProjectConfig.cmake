# Read by cpack: the package's maintainer scripts, unit and logrotate rule
# name /usr/bin/selvo-host and /etc, so a package is made only of a build
# for the /usr prefix.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The Debian package is made of a build configured with -DCMAKE_INSTALL_PREFIX=/usr, "
                      "not ${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
