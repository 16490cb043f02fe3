# Test models made at build time by tests/models/make_test_models.py, run with
# the interpreter of XepoPython.cmake (Python3_EXECUTABLE).
#
#   xepo_add_constant_model_set(<target> DIR <outdir>
#                               ENTRANCE <e0> <e1> <e2> <e3> ALBEDO <a> SMOOTH <s>
#                               [LIGHT_RECT <r0> <c0> <r1> <c1>])
#     Writes the engine's four model files under their default names into
#     <outdir>, each giving fixed outputs whatever its input: entrance (1,4) =
#     e0..e3, albedo (1,1) = a, smooth (1,1) = s, and a light map (1,56,56,2)
#     whose cells in rows r0..r1 and columns c0..c1 (inclusive) are light.
#     Test programs call add_dependencies(<program> <target>).
#
#   xepo_add_test_model_set(<target> DIR <outdir>)
#     Writes the runtime's test models with numpy's expected outputs and the
#     bad model files.

include(XepoPython)
set(XEPO_MODEL_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/models/make_test_models.py)

function(xepo_add_constant_model_set target)
  cmake_parse_arguments(M "" "DIR;ALBEDO;SMOOTH" "ENTRANCE;LIGHT_RECT" ${ARGN})
  if(NOT M_DIR OR "${M_ALBEDO}" STREQUAL "" OR "${M_SMOOTH}" STREQUAL "")
    message(FATAL_ERROR "xepo_add_constant_model_set(${target}): DIR, ALBEDO and SMOOTH are required")
  endif()
  list(LENGTH M_ENTRANCE entrance_count)
  if(NOT entrance_count EQUAL 4)
    message(FATAL_ERROR "xepo_add_constant_model_set(${target}): ENTRANCE takes four values")
  endif()
  set(rect_args)
  if(M_LIGHT_RECT)
    list(LENGTH M_LIGHT_RECT rect_count)
    if(NOT rect_count EQUAL 4)
      message(FATAL_ERROR "xepo_add_constant_model_set(${target}): LIGHT_RECT takes r0 c0 r1 c1")
    endif()
    set(rect_args --light-rect ${M_LIGHT_RECT})
  endif()
  set(outputs ${M_DIR}/xepo_entrance.qdnn ${M_DIR}/xepo_albedo.qdnn
              ${M_DIR}/light-STDCNet813.pt.tflite.qdnn ${M_DIR}/xepo_smooth.qdnn)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${Python3_EXECUTABLE} ${XEPO_MODEL_GENERATOR} constant-set ${M_DIR}
            --entrance ${M_ENTRANCE} --albedo ${M_ALBEDO} --smooth ${M_SMOOTH} ${rect_args}
    DEPENDS ${XEPO_MODEL_GENERATOR}
    COMMENT "Generating constant model set ${target}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${outputs})
endfunction()

function(xepo_add_test_model_set target)
  cmake_parse_arguments(M "" "DIR" "" ${ARGN})
  if(NOT M_DIR)
    message(FATAL_ERROR "xepo_add_test_model_set(${target}): DIR is required")
  endif()
  # One stamp file stands for the whole set.
  set(stamp ${M_DIR}/test-set.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${Python3_EXECUTABLE} ${XEPO_MODEL_GENERATOR} test-set ${M_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${XEPO_MODEL_GENERATOR}
    COMMENT "Generating test model set ${target}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${stamp})
endfunction()
