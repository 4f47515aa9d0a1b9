# The Linux x86-64 release build (scripts/build-wheels.sh): zig's toolchain
# against glibc 2.17, so the pair loads on every manylinux2014 system. zig
# links its own C++ runtime (libc++, libc++abi, libunwind) into each library
# statically, so neither needs a libstdc++ of the target system.
#   cmake -S . -B build/x -DCMAKE_TOOLCHAIN_FILE=cmake/zig-linux.cmake
set(VELMO_ZIG_TARGET x86_64-linux-gnu.2.17)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
