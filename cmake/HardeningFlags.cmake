# Debian's hardening flags (stack protector, _FORTIFY_SOURCE, format checks,
# read-only relocations bound at start-up), as dpkg-buildflags gives them, so
# that the programs and the package made from this build are hardened the way
# a distribution builds them. The optimisation level and debug information
# stay with the build type. Left out of sanitizer builds (the fortified
# functions hide accesses from AddressSanitizer) and of unoptimised builds
# (_FORTIFY_SOURCE needs optimisation, and warns without it).
#   -DQUORVANT_DPKG_BUILDFLAGS=OFF   when a packaging tool passes its own flags
# DEB_BUILD_MAINT_OPTIONS from the environment is honoured; without it every
# hardening feature is asked for (bindnow is off by default).
option(QUORVANT_DPKG_BUILDFLAGS "Add the hardening flags of dpkg-buildflags where it exists" ON)

find_program(QUORVANT_DPKG_BUILDFLAGS_COMMAND dpkg-buildflags)
mark_as_advanced(QUORVANT_DPKG_BUILDFLAGS_COMMAND)

block(SCOPE_FOR VARIABLES PROPAGATE CMAKE_C_FLAGS CMAKE_CXX_FLAGS CMAKE_EXE_LINKER_FLAGS
      CMAKE_SHARED_LINKER_FLAGS CMAKE_MODULE_LINKER_FLAGS)
  if(QUORVANT_DPKG_BUILDFLAGS AND QUORVANT_DPKG_BUILDFLAGS_COMMAND AND NOT QUORVANT_SANITIZE
     AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
      set(maint_options "$ENV{DEB_BUILD_MAINT_OPTIONS}")
    else()
      set(maint_options "hardening=+all")
    endif()
    foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
      # The source folder as working folder: the file-prefix map it adds makes
      # the recorded paths relative to it, whatever folder the build is in.
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${maint_options}"
                "DEB_CFLAGS_MAINT_STRIP=-g -O2" "DEB_CXXFLAGS_MAINT_STRIP=-g -O2"
                ${QUORVANT_DPKG_BUILDFLAGS_COMMAND} --get ${kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE dpkg_${kind}
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed (${status})")
      endif()
    endforeach()
    string(APPEND CMAKE_C_FLAGS " ${dpkg_CPPFLAGS} ${dpkg_CFLAGS}")
    string(APPEND CMAKE_CXX_FLAGS " ${dpkg_CPPFLAGS} ${dpkg_CXXFLAGS}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${dpkg_LDFLAGS}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${dpkg_LDFLAGS}")
    string(APPEND CMAKE_MODULE_LINKER_FLAGS " ${dpkg_LDFLAGS}")
    message(STATUS "Hardening flags from dpkg-buildflags (${maint_options}): "
                   "${dpkg_CPPFLAGS} ${dpkg_CXXFLAGS} ${dpkg_LDFLAGS}")
  endif()
endblock()
