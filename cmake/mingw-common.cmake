# What the two Windows toolchain files share: mingw-w64 with posix threads and
# the static runtime. The including file sets CMAKE_SYSTEM_PROCESSOR and
# TOOLCHAIN_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No DLLs to ship: the C and C++ runtimes and winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs run under Wine through a wrapper that ends with the program rather
# than with Wine's service processes (see wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
