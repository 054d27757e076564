# Writes the dissector: SOURCE with the types LIBRARY registers, as
# `kiv-types --lua` prints them, in place of its empty registry table.
# -D KIV_TYPES=program -D LIBRARY=file -D SOURCE=file -D OUTPUT=file
execute_process(COMMAND ${KIV_TYPES} --lua ${LIBRARY} RESULT_VARIABLE status OUTPUT_VARIABLE table
  ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kiv-types --lua ${LIBRARY} failed (${status}): ${error}")
endif()
file(READ ${SOURCE} text)
string(FIND "${text}" "--[[@REGISTRY@]] {}" at)
if(at LESS 0)
  message(FATAL_ERROR "${SOURCE} has no --[[@REGISTRY@]] {} to replace")
endif()
string(REPLACE "--[[@REGISTRY@]] {}" "${table}" text "${text}")
file(WRITE ${OUTPUT} "${text}")
