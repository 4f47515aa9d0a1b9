# The Windows x64 release build (scripts/build-wheels.sh): zig's MinGW-w64
# target, whose C library is the UCRT (api-ms-win-crt-*.dll, the C runtime
# CPython itself uses), so the module's writes to standard error reach the
# interpreter's stream. The C++ runtime is linked into each DLL.
#   cmake -S . -B build/x -DCMAKE_TOOLCHAIN_FILE=cmake/zig-windows.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELMO_ZIG_TARGET x86_64-windows-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
set(CMAKE_RC_COMPILER "${velmo_zig_bin}/rc")
set(CMAKE_DLLTOOL "${velmo_zig_bin}/dlltool")
# Programs (the build machine's Python, for the platform-neutral headers) come
# from the host; there is no Windows sysroot to search.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
