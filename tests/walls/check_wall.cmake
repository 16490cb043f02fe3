# Compiles one-line files, each including one header, with a room's include
# directories: every ALLOWED header must compile, every FORBIDDEN one must fail
# for not being found. A FORBIDDEN header must exist under one of the folders
# of `search`, so that its absence from the room is the wall and not a typo.
# The compiler is gcc or clang (the check reads their messages).
#   cmake -DCOMPILER=<c++> -DINCLUDES=<dir|dir...>
#         -DALLOWED=<header|...> -DFORBIDDEN=<header|...>
#         -DWORK=<scratch folder> -P check_wall.cmake
foreach(list INCLUDES ALLOWED FORBIDDEN)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
set(search src src/include platform/tavkit platform/qdnn)
list(TRANSFORM search PREPEND ${CMAKE_CURRENT_LIST_DIR}/../../)
if(NOT ALLOWED OR NOT FORBIDDEN)
  message(FATAL_ERROR "check_wall: give at least one ALLOWED and one FORBIDDEN header")
endif()

list(TRANSFORM INCLUDES PREPEND -I)
set(flags -std=c++17 -fsyntax-only ${INCLUDES})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# try_include(<header>): compiles a file that includes it; sets status and output.
macro(try_include header)
  string(MAKE_C_IDENTIFIER "${header}" name)
  file(WRITE ${WORK}/${name}.cpp "#include \"${header}\"\n")
  execute_process(COMMAND ${COMPILER} ${flags} ${WORK}/${name}.cpp WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
endmacro()

set(failures "")  # one "\n- ..." paragraph per failure
foreach(header ${ALLOWED})
  try_include(${header})
  if(NOT status EQUAL 0)
    string(APPEND failures "\n- allowed ${header} does not compile:\n${output}")
  endif()
endforeach()
foreach(header ${FORBIDDEN})
  unset(found)
  find_file(found ${header} PATHS ${search} NO_DEFAULT_PATH NO_CACHE)
  if(NOT found)
    string(APPEND failures "\n- forbidden ${header} is not in the tree: the check proves nothing")
    continue()
  endif()
  try_include(${header})
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
message(STATUS "allowed headers compile (${ALLOWED}), forbidden ones are not found (${FORBIDDEN})")
