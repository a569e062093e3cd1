# Cross-compiling for 64-bit Arm Linux with Debian's cross toolchain (g++-aarch64-linux-gnu).
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The program is linked statically, so it runs under qemu-aarch64 with no Arm libraries
# installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Headers and libraries come from the cross toolchain's own tree only; build tools from the
# build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# How a cross-built program is run on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
