# Build steps of the package's documents, run as cmake -P scripts.
#   -DSTEP=gzip -DINPUT=file -DOUTPUT=file.gz
# Compressed with gzip -9n (no name, no time stamp), as Debian wants, so the
# same input always gives the same bytes.
cmake_minimum_required(VERSION 3.25)

function(gzip_to input output)
  execute_process(COMMAND gzip -9n -c "${input}" OUTPUT_FILE "${output}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

if(STEP STREQUAL "gzip")
  gzip_to("${INPUT}" "${OUTPUT}")
else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
