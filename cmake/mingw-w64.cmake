# Cross-build the Windows x64 deliverable (velmo.pyd + zandrelAPI.dll) on Linux
# with Debian's mingw-w64:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build/windows
# The posix-thread variant of the compilers is used: its libstdc++ has
# std::thread and std::mutex (the virtual controller needs them); its thread
# runtime, winpthread, is linked into the DLLs statically by CMakeLists.txt.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VELMO_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING "Target triple of the MinGW-w64 tools")
set(CMAKE_C_COMPILER ${VELMO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMO_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${VELMO_MINGW_TRIPLE}-dlltool)

# Headers and libraries come from the MinGW sysroot; programs (the build
# machine's Python, which supplies the platform-neutral headers) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
