# Build steps of the package's documents, run as cmake -P scripts.
#   -DSTEP=man  -DSCDOC=... -DVERSION=... -DINPUT=page.scd -DOUTPUT=page.1.gz
#       the manual page from its scdoc source, the version filled in
#   -DSTEP=gzip -DINPUT=file -DOUTPUT=file.gz
# Compressed with gzip -9n (no name, no time stamp), as Debian wants, so the
# same input always gives the same bytes. scdoc dates the page from
# SOURCE_DATE_EPOCH, which the build sets to the changelog's latest entry.
cmake_minimum_required(VERSION 3.25)

function(gzip_to input output)
  execute_process(COMMAND gzip -9n -c "${input}" OUTPUT_FILE "${output}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

if(STEP STREQUAL "man")
  file(READ "${INPUT}" source)
  string(REPLACE "@PROJECT_VERSION@" "${VERSION}" source "${source}")
  set(page "${OUTPUT}.tmp")
  file(WRITE "${page}.scd" "${source}")
  execute_process(COMMAND "${SCDOC}" INPUT_FILE "${page}.scd" OUTPUT_FILE "${page}"
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "scdoc failed on ${INPUT}: ${errors}")
  endif()
  gzip_to("${page}" "${OUTPUT}")
  file(REMOVE "${page}" "${page}.scd")
elseif(STEP STREQUAL "gzip")
  gzip_to("${INPUT}" "${OUTPUT}")
else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
