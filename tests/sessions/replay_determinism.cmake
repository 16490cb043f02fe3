# Synthesizes a small session twice and replays it twice with the xepo tool;
# every per-frame file must come out byte-identical, and the held frames asked
# for must be the session's only ones with the hold flag.
#   cmake -DXEPO=<xepo> -DIMAGE=<photo> -DWORK=<scratch dir> [-DEMULATOR=<cmd;args>]
#         -P replay_determinism.cmake
# EMULATOR runs a cross-built xepo (qemu in the arm64 build).
file(REMOVE_RECURSE ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

foreach(id a b)
  run(${EMULATOR} ${XEPO} synth ${IMAGE} --out ${WORK}/session_${id} --frames 30 --size 320x240
      --motion shake --zoom-at 12 --capture-at 25 --hold-at 20 --hold-at 22)
  run(${EMULATOR} ${XEPO} replay ${WORK}/session_a --csv ${WORK}/replay_${id}.csv --jsonl ${WORK}/replay_${id}.jsonl)
endforeach()
file(GLOB files RELATIVE ${WORK}/session_a ${WORK}/session_a/session.jsonl ${WORK}/session_a/frames/*)
foreach(file ${files})
  run(${CMAKE_COMMAND} -E compare_files ${WORK}/session_a/${file} ${WORK}/session_b/${file})
endforeach()
run(${CMAKE_COMMAND} -E compare_files ${WORK}/replay_a.csv ${WORK}/replay_b.csv)
run(${CMAKE_COMMAND} -E compare_files ${WORK}/replay_a.jsonl ${WORK}/replay_b.jsonl)

file(STRINGS ${WORK}/replay_a.csv rows)
list(LENGTH rows row_count)
if(NOT row_count EQUAL 31)
  message(FATAL_ERROR "expected a header and 30 rows, got ${row_count} lines")
endif()

# The session's first line is its header; frame K is line K + 1.
file(STRINGS ${WORK}/session_a/session.jsonl lines)
set(held)
set(frame -1)
foreach(line IN LISTS lines)
  if(line MATCHES "\"holdFlag\":1,")
    list(APPEND held ${frame})
  endif()
  math(EXPR frame "${frame} + 1")
endforeach()
if(NOT held STREQUAL "20;22")
  message(FATAL_ERROR "expected the hold flag on frames 20 and 22 only, got '${held}'")
endif()
