# The layering test: reads every #include "..." line of the sources and fails
# when a folder includes one that cmake/Layers.cmake does not let it use.
# tests/X and bench/X may use what X may use, X itself and tests/support.
#   cmake -DQUORVANT_SOURCE_DIR=... -P cmake/CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

set(root "${QUORVANT_SOURCE_DIR}")
set(violations 0)

# The layer an included path belongs to: the longest table folder it lies
# in, "tests/support", or nothing for a path of no folder of ours.
function(layer_of path out)
  set(found "")
  foreach(folder IN LISTS QuorvantLayerNames ITEMS tests/support)
    string(LENGTH "${folder}/" prefix_length)
    string(SUBSTRING "${path}" 0 ${prefix_length} prefix)
    string(LENGTH "${found}" found_length)
    if(prefix STREQUAL "${folder}/" AND prefix_length GREATER found_length)
      set(found "${folder}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Checks the sources directly inside `directory` (not its subfolders) against
# the layers in `allowed`.
function(check_directory directory allowed)
  file(GLOB sources "${root}/${directory}/*.h" "${root}/${directory}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" included "${line}")
      layer_of("${included}" layer)
      if(layer AND NOT layer IN_LIST allowed)
        file(RELATIVE_PATH shown "${root}" "${source}")
        message("${shown}: includes ${included}, but ${directory} may not use ${layer}")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
  set(violations ${violations} PARENT_SCOPE)
endfunction()

foreach(folder IN LISTS QuorvantLayerNames)
  quorvant_layer_closure(${folder} uses)
  check_directory("${folder}" "${folder};${uses}")
  check_directory("tests/${folder}" "${folder};${uses};tests/support")
  check_directory("bench/${folder}" "${folder};${uses};tests/support")
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) break the layer table of cmake/Layers.cmake")
endif()
message("layers ok")
