# xepo sim end to end with the default models: the same command writes the
# same bytes twice; bad options exit with status 2 and write nothing; a
# directory that sim did not write, or a photo that cannot be read, fails with
# status 1 and is left as it was.
#   cmake -DXEPO=<xepo> -DIMAGE=<photo> -DWORK=<scratch dir> [-DEMULATOR=<cmd;args>]
#         -P sim_end_to_end.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# require(<message> <condition>...): stops with the message unless the condition holds.
function(require message)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${message}")
  endif()
endfunction()

# sim(<expected status> <args>...): runs the tool, fails on another status.
function(sim expected)
  execute_process(COMMAND ${EMULATOR} ${XEPO} sim ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  require("expected status ${expected}, got ${code}: sim ${ARGN}\n${out}\n${err}"
          code EQUAL expected)
  require("no message for: sim ${ARGN}\n${err}" expected EQUAL 0 OR err MATCHES "xepo sim: ")
  # A run that succeeds shows nothing there: no error line of the engine.
  require("sim ${ARGN} wrote to standard error:\n${err}" NOT expected EQUAL 0 OR err MATCHES "^$")
  set(sim_output "${out}" PARENT_SCOPE)
endfunction()

set(run_args ${IMAGE} --policy engine,grey,mean-highlight --start-ev -1,1 --frames 15
    --size 160x120 --motion shake --capture-at 10 --hold-at 12)
sim(0 ${run_args} --out ${WORK}/out_a)
sim(0 ${run_args} --out ${WORK}/out_b)
# The table: grey ends 0.15 EV from the intent on this photo from both starts,
# so every run is within a third of a stop.
require("the table's grey row is not as expected:\n${sim_output}"
        sim_output MATCHES "\ngrey +2 +0\\.15 EV +0\\.15 EV +100 % ")
foreach(file sim-manifest.txt frames.jsonl frames.csv runs.csv summary.json)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/out_a/${file}
                          ${WORK}/out_b/${file} RESULT_VARIABLE differ)
  require("${file} differs between two runs of the same command" NOT differ)
endforeach()
file(STRINGS ${WORK}/out_a/frames.csv engine_rows REGEX ",engine,")
foreach(row ${engine_rows})
  # The confidence is one the engine gives: 0.8, 0.82, 0.9 or 0.92.
  require("an engine frame without score, confidence, route or light cells: ${row}" row MATCHES
          ",engine,-?[0-9.]+,[0-9]+,-?[0-9.]+,[0-9.]+,[0-9.]+,[0-9.]+,0\\.[89][02]00,[a-z_]+,[0-9]+,[01],[01]$")
endforeach()
# The same directory again: sim may replace what it wrote itself.
sim(0 ${run_args} --out ${WORK}/out_a)

# Refused options: status 2, and the output directory is not even created.
# Each entry is an option and its value joined by "="; the run has the default 60 frames.
foreach(option --start-ev=1,x --start-ev=9 --frames=0 --policy=grey,magic --latency=3
        --speed=nan --capture-at=60 --hold-at=-1 --size=33x24 --motion=spin --boost=0.5)
  sim(2 ${IMAGE} ${option} --out ${WORK}/refused)
  require("a refused command (${option}) created its output directory" NOT EXISTS ${WORK}/refused)
endforeach()

# A directory that sim did not write.
file(WRITE ${WORK}/foreign/notes.txt "mine")
sim(1 ${IMAGE} --frames 5 --policy grey --out ${WORK}/foreign)
file(GLOB foreign_files RELATIVE ${WORK}/foreign ${WORK}/foreign/*)
file(READ ${WORK}/foreign/notes.txt notes)
require("sim changed a directory it did not write: ${foreign_files}"
        foreign_files STREQUAL "notes.txt" AND notes STREQUAL "mine")

# A photo that cannot be decoded.
file(WRITE ${WORK}/not_a_photo.jpg "text")
sim(1 ${WORK}/not_a_photo.jpg --frames 5 --policy grey)
