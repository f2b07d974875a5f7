# Installation beyond the two programs (whose rules live beside them) and the
# Debian package built from it:
#   cmake --install build/default --prefix /usr/local
#   cmake --build build/default --target package     (or: cd build/default && cpack -G DEB)
# Build the package from a build without sanitizers: an instrumented binary
# would pull the sanitizer runtimes into its dependencies.

# The menu entry, which can also open Quorvant on a folder from a file manager,
# and the icon it names.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvant.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvant.svg DESTINATION share/icons/hicolor/scalable/apps)

set(QUORVANT_PACKAGE_MAINTAINER "Quorvant maintainers <maintainers@quorvant.invalid>"
    CACHE STRING "Maintainer line of the Debian package")

# Stripping leaves the compiler's .comment section; Debian's own stripping
# takes it out too.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program quorvant quorvant-cli)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvant)
set(CPACK_PACKAGE_VENDOR Quorvant)
set(CPACK_PACKAGE_CONTACT "${QUORVANT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack puts the summary line above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvant is a small window program that works on the one folder it is started
in. It shows the folder's ordinary files one at a time, encrypts or decrypts
the selected file in place with a typed key, shows byte statistics and a
bit-level byte viewer, and securely erases files. quorvant-cli does the same
from scripts.
.
The cipher is a compatibility format between copies of Quorvant: its strength
has not been analysed, and it has no authentication or key check. Use a
reviewed encryption tool for anything that matters.")

# The libraries the binaries link against, as dpkg-shlibdeps finds them (it
# comes with dpkg-dev); by hand where it is missing.
find_program(QUORVANT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QUORVANT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libsdl2-2.0-0 (>= 2.0.12), libfreetype6, libx11-6")
endif()

# The source package holds the sources only.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\\\.git/" "/\\\\.cache/")

include(CPack)
