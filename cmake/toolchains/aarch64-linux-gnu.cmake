# Cross build for arm64 Linux with Debian's aarch64-linux-gnu compiler and the
# arm64 libraries installed through multiarch (dpkg --add-architecture arm64).
# Programs built this way run on the build machine under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_NM aarch64-linux-gnu-nm)
# "-L /" lets qemu find the arm64 loader and libraries at their multiarch paths.
# ("-L /usr/aarch64-linux-gnu" hangs threaded programs once arm64 libraries are
# installed.)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
