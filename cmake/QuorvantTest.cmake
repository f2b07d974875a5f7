# quorvant_add_test(name LABELS label... SOURCES file... LIBS target...)
# One GoogleTest executable registered with CTest under the given labels
# (unit, e2e, thread). Tests run in their own build folder.
function(quorvant_add_test name)
  cmake_parse_arguments(ARG "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUORVANT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUORVANT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
endfunction()
