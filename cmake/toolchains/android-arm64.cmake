# Build for arm64 Android with the Android NDK (not available on the build
# machine; documented for device builds).
#
#   cmake -S . -B build/android -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/android-arm64.cmake \
#     -DANDROID_NDK=/path/to/android-ndk
#
# Only libxepo.so is built. It links the platform's liblog and
# libtavkit_camera.so by name and opens "/vendor/lib64/libqdnn.so" at run time;
# the host stand-ins, tools and tests are left out.
if(NOT ANDROID_NDK)
  set(ANDROID_NDK $ENV{ANDROID_NDK})
endif()
if(NOT ANDROID_NDK)
  message(FATAL_ERROR "Set ANDROID_NDK to the Android NDK directory")
endif()
set(ANDROID_ABI arm64-v8a)
set(ANDROID_PLATFORM android-29)
set(ANDROID_STL c++_shared)
include(${ANDROID_NDK}/build/cmake/android.toolchain.cmake)
# The image-operator library comes from the device's vendor partition; point
# TAVKIT_LIBRARY_DIR at a copy of it to link.
if(TAVKIT_LIBRARY_DIR)
  link_directories(${TAVKIT_LIBRARY_DIR})
endif()
