# Every folder of tests/ with a CMakeLists.txt is among LISTED (the folders
# tests/CMakeLists.txt adds), and every listed folder has one.
#   cmake -DTESTS_DIR=<tests folder> -DLISTED=<a:b:...> -P check_test_folders.cmake
string(REPLACE ":" ";" listed "${LISTED}")
file(GLOB present RELATIVE ${TESTS_DIR} ${TESTS_DIR}/*/CMakeLists.txt)
list(TRANSFORM present REPLACE "/CMakeLists.txt$" "")
set(unlisted ${present})
list(REMOVE_ITEM unlisted ${listed})
set(missing ${listed})
list(REMOVE_ITEM missing ${present})
if(unlisted OR missing)
  message(FATAL_ERROR "tests/CMakeLists.txt lists the wrong folders: not listed: ${unlisted}; "
                      "listed without a CMakeLists.txt: ${missing}")
endif()
list(LENGTH present count)
message(STATUS "all ${count} test folders are listed")
