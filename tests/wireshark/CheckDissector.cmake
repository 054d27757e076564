# Turns both directions of a captured replication into a pcap (text2pcap,
# TCP headers) and checks what tshark with the dissector makes of it: every
# record kind's fields, frames split across segments, the corrupted last
# frame; then the same bytes on another port, through the port preference
# and through "Decode As". Skipped (the words "tshark is not installed")
# where tshark or text2pcap is missing.
# -D SEGMENTS=text2pcap input -D DISSECTOR=lua file -D WORK=folder
find_program(TSHARK tshark)
find_program(TEXT2PCAP text2pcap)
if(NOT TSHARK OR NOT TEXT2PCAP)
  message("tshark is not installed: the dissector test is skipped")
  return()
endif()

# tshark's JSON of the segments sent between `ports` (server,client), with
# `options`.
function(dissect ports out)
  set(pcap ${WORK}/replication-${ports}.pcap)
  execute_process(COMMAND ${TEXT2PCAP} -q -D -T ${ports} ${SEGMENTS} ${pcap} RESULT_VARIABLE status
    ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "text2pcap failed: ${error}")
  endif()
  execute_process(COMMAND ${TSHARK} -n -r ${pcap} -T json --no-duplicate-keys -X lua_script:${DISSECTOR} ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE json ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "tshark ${ARGN} failed (${status}): ${error}")
  endif()
  if(error MATCHES "superuser")
    message(FATAL_ERROR "tshark refuses Lua scripts when run as root: run the test as another user, or set "
      "run_user_scripts_when_superuser = true in Wireshark's init.lua (Debian's default):\n${error}")
  endif()
  file(WRITE ${pcap}.json "${json}")
  set(${out} "${json}" PARENT_SCOPE)
endfunction()

function(expect json what)
  foreach(field IN LISTS ARGN)
    string(FIND "${json}" "${field}" at)
    if(at LESS 0)
      message(SEND_ERROR "${what}: no ${field}")
    endif()
  endforeach()
endfunction()

dissect(29710,40000 json)
expect("${json}" "the replication on the default port"
  # orphan records, both entities
  "\"kivattrlog.orphan.type\": \"Bridging::Orva::Config\"" "\"kivattrlog.orphan.name\": \"agentConfig\""
  "\"kivattrlog.orphan.id\": \"9\"" "\"kivattrlog.orphan.type\": \"Bridging::Orva::Status\""
  # resync markers: begin and end of extTapDevice
  "\"kivattrlog.kind\": \"0\"" "\"kivattrlog.marker\": \"0\"" "\"kivattrlog.marker\": \"2\""
  # collection members: key and tap device, attribute id and name
  "\"kivattrlog.attr\": \"258\"" "\"kivattrlog.attr_name\": \"extTapDevice\"" "\"kivattrlog.key\": \"et3\""
  "\"kivattrlog.tapdevice.name\": \"tap3\"" "\"kivattrlog.tapdevice.fileno\": \"9\""
  # scalars
  "\"kivattrlog.attr_name\": \"complete\"" "\"kivattrlog.value\": \"true\"" "\"kivattrlog.attr_name\": \"initialized\""
  # the name in three chunks, each split across segments
  "\"kivattrlog.chunk.total\": \"40000\"" "\"kivattrlog.chunk.offset\": \"0\"" "\"kivattrlog.chunk.offset\": \"16384\""
  "\"kivattrlog.chunk.offset\": \"32768\"" "\"kivattrlog.chunk.length\": \"7232\"" "\"tcp.reassembled.length\""
  # a deletion, under the negated id
  "\"kivattrlog.attr\": \"-258\"" "\"kivattrlog.deletion\": \"1\"" "\"kivattrlog.key\": \"et2\""
  # the other direction: the change made on the mirror
  "\"kivattrlog.key\": \"et4\"" "\"kivattrlog.tapdevice.fileno\": \"65535\""
  # the source's last frame, its end token corrupted
  "\"kivattrlog.malformed\": \"missing end token\"" "\"_ws.expert.group\": \"117440512\"")

# The record a frame split across segments ended up in: the first orphan
# record is cut after 3 bytes of its length word.
string(REGEX MATCH "\"tcp.reassembled.length\": \"77\"" first "${json}")
if(NOT first)
  message(SEND_ERROR "the first frame, cut after its length word's third byte, is not reassembled")
endif()

dissect(4739,40000 json -o kivattrlog.port:4739)
expect("${json}" "the port preference" "\"kivattrlog.orphan.name\": \"agentConfig\"")
dissect(4740,40000 json -d tcp.port==4740,kivattrlog)
expect("${json}" "Decode As" "\"kivattrlog.orphan.name\": \"agentConfig\"")
dissect(4741,40000 json)
string(FIND "${json}" "kivattrlog" at)
if(NOT at LESS 0)
  message(SEND_ERROR "another port is decoded without being asked")
endif()
