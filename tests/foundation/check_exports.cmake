# Compares the demangled defined dynamic symbols of LIBRARY with the lines of
# EXPECTED (comments and blank lines ignored). Any difference fails.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_status)
if(NOT nm_status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(actual "")
foreach(line ${nm_lines})
  # "<address> <type> <name>"; version nodes (type A) are not functions.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND actual "${CMAKE_MATCH_2}")
  endif()
endforeach()

file(STRINGS ${EXPECTED} expected_lines)
set(expected "")
foreach(line ${expected_lines})
  if(NOT line MATCHES "^#" AND NOT line STREQUAL "")
    list(APPEND expected "${line}")
  endif()
endforeach()

set(unexpected ${actual})
list(REMOVE_ITEM unexpected ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
if(unexpected OR missing)
  string(REPLACE ";" "\n  " unexpected_text "${unexpected}")
  string(REPLACE ";" "\n  " missing_text "${missing}")
  message(FATAL_ERROR "libxepo.so exports differ from ${EXPECTED}\n"
                      "exported but not expected:\n  ${unexpected_text}\n"
                      "expected but not exported:\n  ${missing_text}")
endif()
list(LENGTH actual count)
message(STATUS "libxepo.so exports exactly the ${count} expected symbols")
