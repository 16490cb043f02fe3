# Compares the demangled defined dynamic symbols of LIBRARY with the lines of
# EXPECTED (comments and blank lines ignored). Any difference fails.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE nm_output COMMAND_ERROR_IS_FATAL ANY)
# "<address> <type> <name>" lines; version nodes (type A) are not functions.
string(REGEX MATCHALL "[0-9a-fA-F]+ [B-Zb-z] [^\n]+" actual "${nm_output}")
list(TRANSFORM actual REPLACE "^[0-9a-fA-F]+ . " "")
file(STRINGS ${EXPECTED} expected REGEX "^[^#]")

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
