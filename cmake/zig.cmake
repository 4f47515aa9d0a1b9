# Shared part of the zig toolchain files (zig-linux.cmake, zig-windows.cmake):
# zig's clang, linker and bundled C libraries build the release wheels' binaries
# for an old glibc or for Windows' UCRT from this Linux machine. The including
# file sets VELMO_ZIG_TARGET (a zig target triple) first.
#
# zig is found as (first that exists): the VELMO_ZIG environment variable, a
# `zig` on PATH, the binary of the `ziglang` package of the python3 on PATH
# (pip install ziglang). CMake wants one executable per tool, so small wrapper
# scripts (zig cc -target ..., zig c++ -target ..., zig ar, ...) are written
# into build/zig/<target>/bin of the source tree. zig caches what it builds
# for a target (its C++ runtime takes minutes) in ZIG_GLOBAL_CACHE_DIR, which
# scripts/build-wheels.sh points into build/ as well.

if(NOT VELMO_ZIG_TARGET)
  message(FATAL_ERROR "include zig-linux.cmake or zig-windows.cmake, not zig.cmake")
endif()

if(DEFINED ENV{VELMO_ZIG} AND EXISTS "$ENV{VELMO_ZIG}")
  set(velmo_zig "$ENV{VELMO_ZIG}")
else()
  find_program(velmo_zig_on_path zig NO_CACHE)
  if(velmo_zig_on_path)
    set(velmo_zig "${velmo_zig_on_path}")
  else()
    find_program(velmo_zig_python NAMES python3 python NO_CACHE)
    if(velmo_zig_python)
      execute_process(
        COMMAND "${velmo_zig_python}" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))"
        OUTPUT_VARIABLE velmo_zig OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
endif()
if(NOT velmo_zig OR NOT EXISTS "${velmo_zig}")
  message(FATAL_ERROR "zig not found: pip install ziglang, or set VELMO_ZIG to the zig executable")
endif()

set(velmo_zig_bin "${CMAKE_CURRENT_LIST_DIR}/../build/zig/${VELMO_ZIG_TARGET}/bin")
get_filename_component(velmo_zig_bin "${velmo_zig_bin}" ABSOLUTE)
foreach(tool cc c++ ar ranlib dlltool rc)
  if(tool STREQUAL "cc" OR tool STREQUAL "c++")
    set(command "exec \"${velmo_zig}\" ${tool} -target ${VELMO_ZIG_TARGET} \"$@\"")
  else()
    set(command "exec \"${velmo_zig}\" ${tool} \"$@\"")
  endif()
  set(content "#!/bin/sh\n# written by cmake/zig.cmake\n${command}\n")
  set(wrapper "${velmo_zig_bin}/${tool}")
  if(EXISTS "${wrapper}")
    file(READ "${wrapper}" current)
  else()
    set(current "")
  endif()
  if(NOT current STREQUAL content)
    file(WRITE "${wrapper}" "${content}")
    file(CHMOD "${wrapper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()

set(CMAKE_C_COMPILER "${velmo_zig_bin}/cc")
set(CMAKE_CXX_COMPILER "${velmo_zig_bin}/c++")
set(CMAKE_AR "${velmo_zig_bin}/ar" CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB "${velmo_zig_bin}/ranlib" CACHE FILEPATH "zig ranlib")
