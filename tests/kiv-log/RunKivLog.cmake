# Runs kiv-log and checks its exit status and what it printed (standard
# output, then standard error) against a regular expression.
# -D KIV_LOG=program -D ARGS=a;b -D INPUT=file (optional) -D STATUS=n -D EXPECT=regex
set(input)
if(INPUT)
  set(input INPUT_FILE ${INPUT})
endif()
execute_process(COMMAND ${KIV_LOG} ${ARGS} ${input} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(printed "${out}${err}")
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "kiv-log ${ARGS} exited with ${status}, not ${STATUS}; it printed:\n${printed}")
endif()
if(NOT printed MATCHES "${EXPECT}")
  message(FATAL_ERROR "kiv-log ${ARGS} printed what does not match\n${EXPECT}\n:\n${printed}")
endif()
