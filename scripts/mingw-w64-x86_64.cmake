# Cross-builds the Windows x86-64 executable with MinGW-w64:
#   cmake -S . -B build-windows --toolchain scripts/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# One self-contained keldo.exe: no MinGW runtime DLLs to carry along.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
