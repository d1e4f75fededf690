# Builds keldo.wasm, a WASI command module with the SIMD128 search, with Debian's clang 14
# (packages clang-14, lld-14, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32 and
# libclang-rt-14-dev-wasm32); the tests run under Node through scripts/wasi-run.mjs:
#   cmake -S . -B build-wasm --toolchain scripts/wasm32-wasi.cmake
#   cmake --build build-wasm -j2 && ctest --test-dir build-wasm
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-14)  # for GoogleTest, built here for the search tests
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .wasm)
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,--strip-all)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR node --no-warnings ${CMAKE_CURRENT_LIST_DIR}/wasi-run.mjs)
