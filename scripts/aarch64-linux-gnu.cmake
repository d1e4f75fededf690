# Cross-builds for AArch64 Linux with Debian's g++-aarch64-linux-gnu; the tests run under
# qemu-aarch64 (Debian's qemu-user), which CTest puts in front of every test program:
#   cmake -S . -B build-aarch64 --toolchain scripts/aarch64-linux-gnu.cmake
#   cmake --build build-aarch64 -j2 && ctest --test-dir build-aarch64 -LE large
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
