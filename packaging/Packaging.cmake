# Installation beyond the two programs (whose rules live beside them): the
# menu entry, AppStream metadata and icons, the manual pages, the bash
# completion, the copyright file and changelog; and the Debian package built
# from it all:
#   cmake --install build/default --prefix /usr/local
#   cmake --build build/default --target package     (or: cd build/default && cpack -G DEB)
# Build the package from a build without sanitizers: an instrumented binary
# would pull the sanitizer runtimes into its dependencies.

set(QUORVANT_PACKAGE_MAINTAINER "Quorvant maintainers <maintainers@quorvant.invalid>"
    CACHE STRING "Maintainer line of the Debian package")

block()
set(packaging ${CMAKE_CURRENT_LIST_DIR})
set(generated ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})
set(generated_files)

# The changelog, compressed as Debian wants it; the copyright file in Debian's
# machine-readable form, the licence texts indented as its format asks (a
# space before each line, " ." for an empty one).
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DSTEP=gzip -DINPUT=${packaging}/changelog -DOUTPUT=${generated}/changelog.gz
          -P ${packaging}/Generate.cmake
  DEPENDS ${packaging}/changelog ${packaging}/Generate.cmake
  COMMENT "changelog.gz"
  VERBATIM)
list(APPEND generated_files ${generated}/changelog.gz)

function(quorvant_copyright_text file first_line variable)
  file(READ ${file} text)
  string(FIND "${text}" "${first_line}" start)
  string(SUBSTRING "${text}" ${start} -1 text)
  string(STRIP "${text}" text)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()
quorvant_copyright_text(${PROJECT_SOURCE_DIR}/LICENSE "Permission is hereby granted" QUORVANT_EXPAT_TEXT)
quorvant_copyright_text(${PROJECT_SOURCE_DIR}/LICENSES/OFL-1.1.txt "This Font Software" QUORVANT_OFL_TEXT)
configure_file(${packaging}/copyright.in ${generated}/copyright @ONLY)
install(FILES ${generated}/copyright ${generated}/changelog.gz DESTINATION share/doc/quorvant)

# The manual pages, each from its scdoc source, dated by the changelog's
# latest entry so that the same sources give the same pages.
find_program(QUORVANT_SCDOC scdoc)
if(NOT QUORVANT_SCDOC)
  message(FATAL_ERROR
    "scdoc makes the manual pages: install the Debian package scdoc (scripts/install-deps.sh does).")
endif()
file(STRINGS ${packaging}/changelog changelog_signature REGEX "^ -- .*>  " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- .*>  " "" changelog_date "${changelog_signature}")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND date -u -d "${changelog_date}" +%s OUTPUT_VARIABLE source_date_epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()

foreach(page quorvant.1 quorvant-cli.1)
  add_custom_command(OUTPUT ${generated}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${source_date_epoch}
            ${CMAKE_COMMAND} -DSTEP=man -DSCDOC=${QUORVANT_SCDOC} -DVERSION=${PROJECT_VERSION}
            -DINPUT=${PROJECT_SOURCE_DIR}/docs/man/${page}.scd -DOUTPUT=${generated}/${page}.gz
            -P ${packaging}/Generate.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.scd ${packaging}/Generate.cmake
    COMMENT "Manual page ${page}"
    VERBATIM)
  list(APPEND generated_files ${generated}/${page}.gz)
  install(FILES ${generated}/${page}.gz DESTINATION share/man/man1)
endforeach()

# The completion goes where bash-completion loads it on demand: its own
# folder below the install prefix.
pkg_get_variable(bash_completion_dir bash-completion completionsdir)
pkg_get_variable(bash_completion_prefix bash-completion prefix)
set(completion_dir share/bash-completion/completions)
if(bash_completion_dir AND bash_completion_prefix
   AND bash_completion_dir MATCHES "^${bash_completion_prefix}/(.+)$")
  set(completion_dir ${CMAKE_MATCH_1})
endif()
install(FILES ${packaging}/bash-completion/quorvant-cli DESTINATION ${completion_dir})

# The icon as bitmaps beside the SVG. Below 48 px the full drawing blurs into
# a dark block, so the small sizes come from a drawing made for them.
find_program(QUORVANT_RSVG_CONVERT rsvg-convert)
if(NOT QUORVANT_RSVG_CONVERT)
  message(FATAL_ERROR
    "rsvg-convert makes the bitmap icons: install the Debian package librsvg2-bin "
    "(scripts/install-deps.sh does).")
endif()
foreach(size 16 32 48 64 128 256)
  if(size LESS 48)
    set(drawing ${packaging}/quorvant-small.svg)
  else()
    set(drawing ${packaging}/quorvant.svg)
  endif()
  add_custom_command(OUTPUT ${generated}/icons/${size}/quorvant.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}
    COMMAND ${QUORVANT_RSVG_CONVERT} --width=${size} --height=${size}
            --output=${generated}/icons/${size}/quorvant.png ${drawing}
    DEPENDS ${drawing}
    COMMENT "Icon ${size}x${size}"
    VERBATIM)
  list(APPEND generated_files ${generated}/icons/${size}/quorvant.png)
  install(FILES ${generated}/icons/${size}/quorvant.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# The menu entry (no file types claimed; a file manager's "Open With" can
# still start Quorvant on a folder), what software centres show of it, and the
# icon it names.
install(FILES ${packaging}/org.quorvant.Quorvant.desktop DESTINATION share/applications)
install(FILES ${packaging}/org.quorvant.Quorvant.metainfo.xml DESTINATION share/metainfo)
install(FILES ${packaging}/quorvant.svg DESTINATION share/icons/hicolor/scalable/apps)

# Why lintian's notes on the program's own spellings are expected.
install(FILES ${packaging}/quorvant.lintian-overrides DESTINATION share/lintian/overrides RENAME quorvant)

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

# Every build makes the generated files, so that install and CPack find them.
add_custom_target(quorvant_package_files ALL DEPENDS ${generated_files})
endblock()

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
has not been analysed, and it has no authentication. Use a reviewed
encryption tool for anything that matters.")

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
