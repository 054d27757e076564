# Runs a program and checks its exit status and what it printed:
#   cmake -DPROGRAM=... -DARGS="a|b|c" -DEXIT=n [-DSTDERR=regex] [-DSTDOUT=regex]
#         [-DONE_LINE=ON] -P ExpectRun.cmake
# ONE_LINE requires standard error to be exactly one line.
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT rc STREQUAL EXIT)
  message(FATAL_ERROR "exit status ${rc}, expected ${EXIT}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(DEFINED STDERR AND NOT err MATCHES "${STDERR}")
  message(FATAL_ERROR "standard error does not match '${STDERR}':\n${err}")
endif()
if(DEFINED STDOUT AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "standard output does not match '${STDOUT}':\n${out}")
endif()
if(ONE_LINE AND NOT err MATCHES "^[^\n]*\n$")
  message(FATAL_ERROR "standard error is not one line:\n${err}")
endif()
