# Synthesizes a small session twice and replays it twice with the xepo tool;
# every per-frame file must come out byte-identical.
#   cmake -DXEPO=<xepo> -DIMAGE=<photo> -DWORK=<scratch dir> -P replay_determinism.cmake
foreach(var XEPO IMAGE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

function(expect_same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

foreach(run_id a b)
  run(${XEPO} synth ${IMAGE} --out ${WORK}/session_${run_id} --frames 30 --size 320x240
      --motion shake --zoom-at 12 --capture-at 25)
endforeach()
expect_same(${WORK}/session_a/session.jsonl ${WORK}/session_b/session.jsonl)
file(GLOB frames RELATIVE ${WORK}/session_a/frames ${WORK}/session_a/frames/*.nv21)
foreach(frame ${frames})
  expect_same(${WORK}/session_a/frames/${frame} ${WORK}/session_b/frames/${frame})
endforeach()

foreach(run_id 1 2)
  run(${XEPO} replay ${WORK}/session_a --csv ${WORK}/replay_${run_id}.csv
      --jsonl ${WORK}/replay_${run_id}.jsonl)
endforeach()
expect_same(${WORK}/replay_1.csv ${WORK}/replay_2.csv)
expect_same(${WORK}/replay_1.jsonl ${WORK}/replay_2.jsonl)

file(STRINGS ${WORK}/replay_1.csv rows)
list(LENGTH rows row_count)
if(NOT row_count EQUAL 31)
  message(FATAL_ERROR "expected a header and 30 rows, got ${row_count} lines")
endif()
