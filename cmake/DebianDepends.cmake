# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack before it packages: the Debian package depends on the packages of the libraries
# its programs and module link, as dpkg-shlibdeps finds them, and on what nothing links
# (CPACK_CCDLAB_RUNTIME_DEPENDS). CPack's own CPACK_DEBIAN_PACKAGE_SHLIBDEPS would also add
# ldconfig calls to the package's scripts for the module, which is no library of the system's.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "the Debian package needs dpkg-shlibdeps (package dpkg-dev)")
endif()
set(scratch "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps")
# dpkg-shlibdeps wants to stand in a source package; it reads the binaries of the build, whose
# libraries are those of the installed ones (and warns that they are not in a package's folder).
file(MAKE_DIRECTORY "${scratch}/debian")
file(WRITE "${scratch}/debian/control" "")
execute_process(COMMAND "${DPKG_SHLIBDEPS}" -O ${CPACK_CCDLAB_BINARIES}
  WORKING_DIRECTORY "${scratch}"
  OUTPUT_VARIABLE shlibs OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT shlibs MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed on ${CPACK_CCDLAB_BINARIES}:\n${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_CCDLAB_RUNTIME_DEPENDS}, ${CMAKE_MATCH_1}")
