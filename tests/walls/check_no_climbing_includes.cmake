# No source or header below src/ or platform/ includes a path with "..": such an
# include reaches past the include directories that make the walls between rooms.
#   cmake -P check_no_climbing_includes.cmake
set(root ${CMAKE_CURRENT_LIST_DIR}/../..)
file(GLOB_RECURSE files ${root}/src/*.h ${root}/src/*.cpp ${root}/platform/*.h
     ${root}/platform/*.cpp)
set(offenders "")
foreach(file ${files})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\.")
  foreach(line ${lines})
    string(APPEND offenders "\n  ${file}: ${line}")
  endforeach()
endforeach()
if(offenders)
  message(FATAL_ERROR "includes that climb out of their folder:${offenders}")
endif()
list(LENGTH files count)
message(STATUS "no climbing include in ${count} files")
