# Compiles one-line files, each including one header, with a room's include
# directories: every ALLOWED header must compile, every FORBIDDEN one must fail
# for not being found. A FORBIDDEN header must exist under one of the SEARCH
# folders, so that its absence from the room is the wall and not a typo.
#   cmake -DCOMPILER=<c++> -DSTANDARD=<-std=c++17> -DINCLUDES=<dir|dir...>
#         -DALLOWED=<header|...> -DFORBIDDEN=<header|...> -DSEARCH=<folder|...>
#         -DWORK=<scratch folder> -P check_wall.cmake
foreach(list INCLUDES ALLOWED FORBIDDEN SEARCH)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
if(NOT ALLOWED OR NOT FORBIDDEN)
  message(FATAL_ERROR "check_wall: give at least one ALLOWED and one FORBIDDEN header")
endif()

set(flags ${STANDARD} -fsyntax-only)
foreach(dir ${INCLUDES})
  list(APPEND flags -I${dir})
endforeach()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# try_include(<header> <status var> <output var>)
function(try_include header status_var output_var)
  string(MAKE_C_IDENTIFIER "${header}" name)
  set(source ${WORK}/${name}.cpp)
  file(WRITE ${source} "#include \"${header}\"\n")
  execute_process(COMMAND ${COMPILER} ${flags} ${source} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${status_var} ${status} PARENT_SCOPE)
  set(${output_var} "${output}" PARENT_SCOPE)
endfunction()

set(failures "")  # one "\n- ..." paragraph per failure
foreach(header ${ALLOWED})
  try_include(${header} status output)
  if(NOT status EQUAL 0)
    string(APPEND failures "\n- allowed ${header} does not compile:\n${output}")
  endif()
endforeach()
foreach(header ${FORBIDDEN})
  set(exists FALSE)
  foreach(folder ${SEARCH})
    if(EXISTS ${folder}/${header})
      set(exists TRUE)
    endif()
  endforeach()
  if(NOT exists)
    string(APPEND failures "\n- forbidden ${header} is nowhere in the tree: the check proves "
                           "nothing")
    continue()
  endif()
  try_include(${header} status output)
  # gcc: "<header>: No such file or directory"; clang: "'<header>' file not found"
  string(FIND "${output}" "${header}" named)
  if(status EQUAL 0)
    string(APPEND failures "\n- forbidden ${header} compiles: the wall is open")
  elseif(named EQUAL -1 OR NOT output MATCHES "No such file or directory|file not found")
    string(APPEND failures "\n- forbidden ${header} fails for another reason than not being "
                           "found:\n${output}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH ALLOWED allowed_count)
list(LENGTH FORBIDDEN forbidden_count)
message(STATUS "${allowed_count} allowed headers compile, ${forbidden_count} forbidden ones are "
               "not found")
