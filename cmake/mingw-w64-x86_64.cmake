# Cross-compiles the Windows program (64-bit) with Debian's MinGW-w64
# toolchain, the variant with POSIX threads (std::thread and friends):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The program is linked statically, so that it needs no MinGW runtime DLLs
# beside it: the .exe and 7z.dll are all a Windows machine needs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAZADEDEZUZEV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAZADEDEZUZEV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAZADEDEZUZEV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAZADEDEZUZEV_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW sysroot only; the build's own
# programs (none so far) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RAZADEDEZUZEV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
