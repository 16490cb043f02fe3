# Libraries the engine itself needs: the platform log API, the dynamic loader,
# threads and the image decoder. The platform stand-ins, tools and tests find
# their own further dependencies.

# xepo_debian_package(<var> <package>): the Debian package to install for a
# library of the target, e.g. libyuv-dev, or libyuv-dev:arm64 in the arm64
# cross build (the names scripts/install-deps.sh uses).
function(xepo_debian_package var package)
  if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(package ${package}:arm64)
  endif()
  set(${var} ${package} PARENT_SCOPE)
endfunction()

# xepo_require_found(<variable>... PACKAGE <package> FOR <what>): stops the
# configure step, naming the package to install, when a variable is not set.
function(xepo_require_found)
  cmake_parse_arguments(R "" "PACKAGE;FOR" "" ${ARGN})
  foreach(variable ${R_UNPARSED_ARGUMENTS})
    if(NOT ${variable})
      xepo_debian_package(package ${R_PACKAGE})
      message(FATAL_ERROR "${R_FOR} needs ${variable}: install the Debian package ${package} "
                          "(scripts/install-deps.sh does).")
    endif()
  endforeach()
endfunction()

find_package(Threads REQUIRED)

# Android's log API: the platform library on Android, Debian's android-liblog
# (the same API built for Linux) on Linux hosts.
if(ANDROID)
  find_library(XEPO_LOG_LIBRARY log REQUIRED)
  add_library(xepo_platform_log INTERFACE)
  target_link_libraries(xepo_platform_log INTERFACE ${XEPO_LOG_LIBRARY})
else()
  find_path(XEPO_LOG_INCLUDE_DIR android/log.h PATH_SUFFIXES android)
  find_library(XEPO_LOG_LIBRARY log PATH_SUFFIXES android NO_CMAKE_SYSTEM_PATH
               PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android)
  xepo_require_found(XEPO_LOG_INCLUDE_DIR XEPO_LOG_LIBRARY PACKAGE android-liblog-dev
                     FOR "The platform log API")
  add_library(xepo_platform_log INTERFACE)
  target_include_directories(xepo_platform_log SYSTEM INTERFACE ${XEPO_LOG_INCLUDE_DIR})
  target_link_libraries(xepo_platform_log INTERFACE ${XEPO_LOG_LIBRARY})
endif()

# stb_image: Debian ships the implementation as libstb.
find_path(XEPO_STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb)
find_library(XEPO_STB_LIBRARY stb)
xepo_require_found(XEPO_STB_INCLUDE_DIR XEPO_STB_LIBRARY PACKAGE libstb-dev FOR "The image decoder")
add_library(xepo_stb INTERFACE)
target_include_directories(xepo_stb SYSTEM INTERFACE ${XEPO_STB_INCLUDE_DIR})
target_link_libraries(xepo_stb INTERFACE ${XEPO_STB_LIBRARY})
