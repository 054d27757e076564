# The README's scenario example must be the scenario file it names, verbatim:
#   cmake -DREADME=README.md -DSCENARIO=flush.scn -P ReadmeExample.cmake
# The block is the fenced one that follows the line naming the file.
file(READ ${README} readme)
file(READ ${SCENARIO} scenario)
get_filename_component(name ${SCENARIO} NAME)
string(FIND "${readme}" "scenarios/${name}`" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the README does not name scenarios/${name}")
endif()
string(SUBSTRING "${readme}" ${at} -1 rest)
string(FIND "${rest}" "```\n" open)
math(EXPR open "${open} + 4")
string(SUBSTRING "${rest}" ${open} -1 rest)
string(FIND "${rest}" "```" close)
string(SUBSTRING "${rest}" 0 ${close} block)
if(NOT block STREQUAL scenario)
  message(FATAL_ERROR "the README's example differs from ${SCENARIO}:\n${block}")
endif()
