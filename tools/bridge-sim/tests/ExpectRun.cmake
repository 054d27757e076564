# Runs a program and checks its exit status and what it printed:
#   cmake -DPROGRAM=... -DARGS="a|b|c" -DEXIT=n [-DSTDERR=regex] [-DSTDOUT=regex]
#         [-DONE_LINE=ON] [-DNO_STDOUT=ON] [-DINPUT=file] [-DLONG_LINE=file]
#         [-DEMPTY_LAST=ON] -P ExpectRun.cmake
# ONE_LINE requires standard error to be exactly one line, NO_STDOUT
# standard output to be empty; INPUT is given as standard input; LONG_LINE
# is first written as a scenario of one unknown command a million bytes
# long; EMPTY_LAST adds an empty argument after ARGS.
string(REPLACE "|" ";" args "${ARGS}")
if(DEFINED LONG_LINE)
  string(REPEAT "x" 1000000 line)
  file(WRITE ${LONG_LINE} "${line}\n")
endif()
set(input)
if(DEFINED INPUT)
  set(input INPUT_FILE ${INPUT})
endif()
set(run RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120 ${input})
if(EMPTY_LAST)
  execute_process(COMMAND ${PROGRAM} ${args} "" ${run})
else()
  execute_process(COMMAND ${PROGRAM} ${args} ${run})
endif()
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
if(NO_STDOUT AND NOT out STREQUAL "")
  message(FATAL_ERROR "standard output is not empty:\n${out}")
endif()
