# Configures OUTER_SOURCE in WORK with the compilers (and toolchain file) of
# this build; the outer project's own checks fail the configure step.
#   cmake -DXEPO_SOURCE=<dir> -DOUTER_SOURCE=<dir> -DWORK=<dir> -DGENERATOR=<name>
#         -DC_COMPILER=<cc> -DCXX_COMPILER=<c++> [-DTOOLCHAIN=<file>] -P configure_outer.cmake
file(REMOVE_RECURSE ${WORK})
set(arguments -S ${OUTER_SOURCE} -B ${WORK} -G ${GENERATOR} -DXEPO_SOURCE=${XEPO_SOURCE}
              -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
if(TOOLCHAIN)
  list(APPEND arguments -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${arguments}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring the outer project failed:\n${output}")
endif()
string(REGEX MATCH "outer project: [^\n]*" verdict "${output}")
message(STATUS "${verdict}")
