# Libraries the engine itself needs: the platform log API, the dynamic loader,
# threads and the image decoder. The platform stand-ins, tools and tests find
# their own further dependencies.

find_package(Threads REQUIRED)

# Android's log API: the platform library on Android, Debian's android-liblog
# (the same API built for Linux) on Linux hosts.
if(ANDROID)
  find_library(XEPO_LOG_LIBRARY log REQUIRED)
  add_library(xepo_platform_log INTERFACE)
  target_link_libraries(xepo_platform_log INTERFACE ${XEPO_LOG_LIBRARY})
else()
  find_path(XEPO_LOG_INCLUDE_DIR android/log.h PATH_SUFFIXES android REQUIRED)
  find_library(XEPO_LOG_LIBRARY log PATH_SUFFIXES android REQUIRED NO_CMAKE_SYSTEM_PATH
               PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android)
  add_library(xepo_platform_log INTERFACE)
  target_include_directories(xepo_platform_log SYSTEM INTERFACE ${XEPO_LOG_INCLUDE_DIR})
  target_link_libraries(xepo_platform_log INTERFACE ${XEPO_LOG_LIBRARY})
endif()

# stb_image: Debian ships the implementation as libstb.
find_path(XEPO_STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)
find_library(XEPO_STB_LIBRARY stb REQUIRED)
add_library(xepo_stb INTERFACE)
target_include_directories(xepo_stb SYSTEM INTERFACE ${XEPO_STB_INCLUDE_DIR})
target_link_libraries(xepo_stb INTERFACE ${XEPO_STB_LIBRARY})
