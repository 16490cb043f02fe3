# xepo sim end to end with the default models: the same command writes the
# same bytes twice; bad options exit with status 2 and write nothing; a
# directory that sim did not write, or a photo that cannot be read, fails with
# status 1 and is left as it was.
#   cmake -DXEPO=<xepo> -DIMAGE=<photo> -DWORK=<scratch dir> [-DEMULATOR=<cmd;args>]
#         -P sim_end_to_end.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# sim(<expected status> <args>...): runs the tool, fails on another status.
function(sim expected)
  execute_process(COMMAND ${EMULATOR} ${XEPO} sim ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL expected)
    message(FATAL_ERROR "expected status ${expected}, got ${code}: sim ${ARGN}\n${out}\n${err}")
  endif()
  if(NOT expected EQUAL 0 AND NOT err MATCHES "xepo sim: ")
    message(FATAL_ERROR "no message for: sim ${ARGN}\n${err}")
  endif()
  # A run that succeeds shows nothing there: no error line of the engine.
  if(expected EQUAL 0 AND NOT err STREQUAL "")
    message(FATAL_ERROR "sim ${ARGN} wrote to standard error:\n${err}")
  endif()
  set(sim_output "${out}" PARENT_SCOPE)
endfunction()

set(run_args ${IMAGE} --policy engine,grey,mean-highlight --start-ev -1,1 --frames 15
    --size 160x120 --motion shake --capture-at 10 --hold-at 12)
foreach(id a b)
  sim(0 ${run_args} --out ${WORK}/out_${id})
endforeach()
# The table: grey ends 0.15 EV from the intent on this photo from both starts,
# so every run is within a third of a stop.
if(NOT sim_output MATCHES "\ngrey +2 +0\\.15 EV +0\\.15 EV +100 % ")
  message(FATAL_ERROR "the table's grey row is not as expected:\n${sim_output}")
endif()
foreach(file sim-manifest.txt frames.jsonl frames.csv runs.csv summary.json)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/out_a/${file}
                          ${WORK}/out_b/${file} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${file} differs between two runs of the same command")
  endif()
endforeach()
file(STRINGS ${WORK}/out_a/frames.csv rows)
list(LENGTH rows row_count)
if(NOT row_count EQUAL 91)
  message(FATAL_ERROR "expected a header and 6 runs x 15 frames, got ${row_count} lines")
endif()
file(STRINGS ${WORK}/out_a/frames.csv engine_rows REGEX ",engine,")
foreach(row ${engine_rows})
  if(NOT row MATCHES ",engine,-?[0-9.]+,[0-9]+,-?[0-9.]+,[0-9.]+,[0-9.]+,[0-9.]+,[0-9.]+,[a-z_]+,[0-9]+,[01],[01]$")
    message(FATAL_ERROR "an engine frame without score, confidence, route or light cells: ${row}")
  endif()
endforeach()
# The same directory again: sim may replace what it wrote itself.
sim(0 ${run_args} --out ${WORK}/out_a)

# Refused options: status 2, and the output directory is not even created.
# Each entry is an option and its value joined by "="; the run has the default 60 frames.
foreach(option --start-ev=1,x --start-ev=9 --frames=0 --policy=grey,magic --latency=3
        --speed=nan --capture-at=60 --hold-at=-1 --size=33x24 --motion=spin --boost=0.5)
  sim(2 ${IMAGE} ${option} --out ${WORK}/refused)
  if(EXISTS ${WORK}/refused)
    message(FATAL_ERROR "a refused command (${option}) created its output directory")
  endif()
endforeach()

# A directory that sim did not write.
file(WRITE ${WORK}/foreign/notes.txt "mine")
sim(1 ${IMAGE} --frames 5 --policy grey --out ${WORK}/foreign)
file(GLOB foreign_files RELATIVE ${WORK}/foreign ${WORK}/foreign/*)
file(READ ${WORK}/foreign/notes.txt notes)
if(NOT foreign_files STREQUAL "notes.txt" OR NOT notes STREQUAL "mine")
  message(FATAL_ERROR "sim changed a directory it did not write: ${foreign_files}")
endif()

# A photo that cannot be decoded.
file(WRITE ${WORK}/not_a_photo.jpg "text")
sim(1 ${WORK}/not_a_photo.jpg --frames 5 --policy grey)
