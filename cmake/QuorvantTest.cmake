# How the tests are registered with CTest.
#
# Labels say what a test is:
#   unit     in one process, on real files in temporary folders at most
#   e2e      runs a built program as a process of its own (and may race it)
#   xvfb     the real window under Xvfb
#   thread   runs threads: the ThreadSanitizer build runs exactly these
#   package  the Debian package and what it installs
#   slow     worth its time, but a minute or more in all (the crash
#            simulation); not among `unit`, so that -L unit stays quick
#
# Every test has a timeout sized to it: a few times its time on a quiet
# machine in the optimised build. Sanitizer builds run several times slower
# and scale every timeout by QUORVANT_TIMEOUT_SCALE.
include(GoogleTest)
set(QUORVANT_TIMEOUT_SCALE 1 CACHE STRING "Factor applied to every test's timeout (sanitizer builds are slower)")

# The tests labelled `thread`, to be built alone by the ThreadSanitizer preset.
add_custom_target(quorvant_thread_tests)

# Seconds scaled for this build.
function(quorvant_timeout out seconds)
  math(EXPR scaled "${seconds} * ${QUORVANT_TIMEOUT_SCALE}")
  set(${out} ${scaled} PARENT_SCOPE)
endfunction()

# quorvant_test_properties(test... LABELS label... TIMEOUT seconds)
function(quorvant_test_properties)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    message(FATAL_ERROR "every test needs a timeout of its own: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  quorvant_timeout(timeout ${ARG_TIMEOUT})
  set_tests_properties(${ARG_UNPARSED_ARGUMENTS} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${timeout})
endfunction()

# quorvant_add_test(name [EACH_CASE] [LABELS label...] [TIMEOUT seconds] SOURCES file... LIBS target...)
# One GoogleTest executable registered with CTest (labels: unit unless given;
# timeout: 30 s unless given). With EACH_CASE, every one of its cases is a
# CTest of its own, named `name:Suite.Case`, with the timeout each. Tests run
# in their own build folder.
function(quorvant_add_test name)
  cmake_parse_arguments(ARG "EACH_CASE" "TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUORVANT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUORVANT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 30)
  endif()
  if(ARG_EACH_CASE)
    quorvant_timeout(timeout ${ARG_TIMEOUT})
    # The discovered tests take their properties as one flat list: one label.
    list(LENGTH ARG_LABELS labels)
    if(labels GREATER 1)
      message(FATAL_ERROR "${name}: a test of EACH_CASE takes one label")
    endif()
    gtest_discover_tests(${name} TEST_PREFIX "${name}:" NO_PRETTY_VALUES DISCOVERY_TIMEOUT 120
      PROPERTIES LABELS ${ARG_LABELS} TIMEOUT ${timeout})
  else()
    add_test(NAME ${name} COMMAND ${name})
    quorvant_test_properties(${name} LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(thread IN_LIST ARG_LABELS)
    add_dependencies(quorvant_thread_tests ${name})
  endif()
endfunction()
