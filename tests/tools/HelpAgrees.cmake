# A tool's --help agrees with what it accepts: every option it names is
# taken (exit status 0) with the arguments given here; every example the help shows runs as written, from a folder that is
# not the build's.
# -D TOOL=program -D WORK=folder -D "RUN_<option>=args..." (what follows
# the option when it is tried; a file or a library)
execute_process(COMMAND ${TOOL} --help RESULT_VARIABLE status OUTPUT_VARIABLE help)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} --help exited with ${status}")
endif()
get_filename_component(name ${TOOL} NAME)
get_filename_component(folder ${TOOL} DIRECTORY)

# The options the usage lines name and those the help describes on lines of
# their own, each tried.
string(REGEX MATCHALL "(^|\n)(usage:|      ) [^\n]*" usage "${help}")
string(REGEX MATCHALL "--[a-z]+" options "${usage}")
string(REGEX MATCHALL "\n  --[a-z]+" described "${help}")
string(REGEX REPLACE "\n  " "" described "${described}")
list(APPEND options ${described})
list(REMOVE_DUPLICATES options)
if(NOT options)
  message(FATAL_ERROR "${name} --help names no option")
endif()
foreach(option IN LISTS options)
  execute_process(COMMAND ${TOOL} ${option} ${RUN_${option}} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${name} ${option} ${RUN_${option}} exited with ${status}: ${error}")
  endif()
endforeach()

# The examples: the indented lines after "Example(s):" up to a blank line,
# a trailing backslash joining the next line; run by the shell with the
# tool's folder first on PATH.
string(REGEX MATCH "\nExamples?:\n(    [^\n]*\n)+" examples "${help}")
string(REGEX REPLACE "\\\\\n" "" examples "${examples}")
string(REGEX MATCHALL "\n    ${name} [^\n]*" commands "${examples}")
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "PATH=${folder}:$ENV{PATH}" sh -c "${command}"
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "the example of ${name} --help exited with ${status}: ${command}\n${error}")
  endif()
endforeach()
list(LENGTH commands examples)
message("${name}: options ${options} tried; ${examples} examples run")
