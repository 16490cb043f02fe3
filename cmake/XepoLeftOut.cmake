# What a configuration leaves out, told once at the end of the configure step
# instead of dropped quietly where it happens.
#
#   xepo_leave_out(<what> BECAUSE <reason>)
#     Records that <what> (a test, a program, a group of them) is not built.
#   xepo_report_left_out()
#     Prints one WARNING naming everything recorded; called last by the
#     top-level CMakeLists.txt.

function(xepo_leave_out what)
  cmake_parse_arguments(L "" "BECAUSE" "" ${ARGN})
  if(NOT L_BECAUSE)
    message(FATAL_ERROR "xepo_leave_out(${what}): BECAUSE is required")
  endif()
  set_property(GLOBAL APPEND PROPERTY XEPO_LEFT_OUT "  ${what}: ${L_BECAUSE}")
endfunction()

function(xepo_report_left_out)
  get_property(left_out GLOBAL PROPERTY XEPO_LEFT_OUT)
  if(left_out)
    list(JOIN left_out "\n" text)
    message(WARNING "This configuration leaves out:\n${text}")
  endif()
endfunction()
