# Synthesizes a small session twice and replays it twice with the xepo tool;
# every file written must come out byte-identical, and the held frames asked
# for must be the session's only ones with the hold flag. (A header and a row
# per frame in the CSV: ToolReplay.FramesTheEngineRefusedAreAFailure.)
#   cmake -DXEPO=<xepo> -DIMAGE=<photo> -DWORK=<scratch dir> [-DEMULATOR=<cmd;args>]
#         -P replay_determinism.cmake
# EMULATOR runs a cross-built xepo (qemu in the arm64 build).
file(REMOVE_RECURSE ${WORK})

# Runs a command, naming it first; a failure ends the script.
function(run)
  message(STATUS "${ARGN}")
  execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Run `a` and run `b` each synthesize their own session; both replay run a's.
foreach(id a b)
  run(${EMULATOR} ${XEPO} synth ${IMAGE} --out ${WORK}/${id}/session --frames 30 --size 320x240
      --motion shake --zoom-at 12 --capture-at 25 --hold-at 20 --hold-at 22)
  run(${EMULATOR} ${XEPO} replay ${WORK}/a/session --csv ${WORK}/${id}/replay.csv
      --jsonl ${WORK}/${id}/replay.jsonl)
endforeach()
file(GLOB_RECURSE files RELATIVE ${WORK}/a ${WORK}/a/*)
foreach(file ${files})
  run(${CMAKE_COMMAND} -E compare_files ${WORK}/a/${file} ${WORK}/b/${file})
endforeach()

# The session's first line is its header, then one line per frame.
file(STRINGS ${WORK}/a/session/session.jsonl flags)
list(REMOVE_AT flags 0)
list(TRANSFORM flags REPLACE ".*\"holdFlag\":([0-9]+),.*" "\\1")
list(JOIN flags "" flags)
if(NOT flags STREQUAL "000000000000000000001010000000")
  message(FATAL_ERROR "expected the hold flag on frames 20 and 22 only, got ${flags}")
endif()
