# The architecture in one table: each folder is one library, and a folder may
# use (include and link) only the folders it names here, and what they use in
# turn. The build links by it and the layering test checks every
# #include against it, so the two cannot drift apart.
#
#   folder             uses                        what it is
set(QuorvantLayers
  base               ""                          # result types, clock, wipe, verify, descriptors, retry, progress
  files              "base"                      # the system-call seam, opening a file in a folder, outcomes
  crypto             "files"                     # cipher, key check, key judge, key text, encrypted names
  erase              "files"                     # secure erase
  rewrite            "crypto erase"              # crash-safe rewriting in place: journal, windows, the file run
  analysis           "files"                     # statistics engine, figures, number formats
  browser            "rewrite"                   # folder scan, watch, file table, navigation
  surface            "base"                      # image, painter, font, palette
  surface/platform   "surface"                   # the window: SDL2 and headless bindings, refresh cycle
  ui                 "erase analysis browser surface/platform"  # the application shell and every screen
  app                "ui"                        # main only
  cli                "rewrite erase analysis"    # the command-line tool: cores only
  tools              "ui"                        # programs that make the README pictures
)

# Folders of the table, in order.
set(QuorvantLayerNames "")
list(LENGTH QuorvantLayers _count)
math(EXPR _last "${_count} - 1")
foreach(_index RANGE 0 ${_last} 2)
  math(EXPR _next "${_index} + 1")
  list(GET QuorvantLayers ${_index} _folder)
  list(GET QuorvantLayers ${_next} _uses)
  string(REPLACE " " "|" _uses "${_uses}")
  list(APPEND QuorvantLayerNames ${_folder})
  set("QuorvantUses_${_folder}" "${_uses}")
endforeach()

# Everything `folder` may use: the folders it names and all they use, in turn.
function(quorvant_layer_closure folder out)
  set(result "")
  set(pending "${QuorvantUses_${folder}}")
  string(REPLACE "|" ";" pending "${pending}")
  while(pending)
    list(POP_FRONT pending next)
    if(next AND NOT next IN_LIST result)
      list(APPEND result ${next})
      string(REPLACE "|" ";" more "${QuorvantUses_${next}}")
      list(APPEND pending ${more})
    endif()
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The library target of a folder: quorvant_base, quorvant_surface_platform, ...
function(quorvant_layer_target folder out)
  string(REPLACE "/" "_" name "${folder}")
  set(${out} "quorvant_${name}" PARENT_SCOPE)
endfunction()

# Defines the library of the folder this is called from, linked to the
# libraries of the folders the table lets it use:
#   quorvant_library(SOURCES file... [LIBS external...])
function(quorvant_library)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT folder IN_LIST QuorvantLayerNames)
    message(FATAL_ERROR "${folder} is not in the layer table of cmake/Layers.cmake")
  endif()
  quorvant_layer_target(${folder} target)
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  string(REPLACE "|" ";" uses "${QuorvantUses_${folder}}")
  foreach(used IN LISTS uses)
    quorvant_layer_target(${used} used_target)
    target_link_libraries(${target} PUBLIC ${used_target})
  endforeach()
  if(ARG_LIBS)
    target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  endif()
endfunction()
