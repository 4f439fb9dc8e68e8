# 64-bit Windows (x86_64) with mingw-w64, posix threads, static runtime: the
# port driver and the programs beside it (see the top CMakeLists.txt).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
