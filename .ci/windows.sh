#!/usr/bin/env bash
# CI: cross-build the Windows x64 deliverable (velmo.pyd + zandrelAPI.dll) with
# Debian's mingw-w64 and check both files with its objdump (.ci/pe_check.py).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

# The cross compilers, and the Eigen headers the virtual controller is built
# with (header-only, the same for both targets).
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-objdump >/dev/null \
  || need+=(mingw-w64)
[ -f /usr/include/eigen3/Eigen/Core ] || need+=(libeigen3-dev)
if [ ${#need[@]} -gt 0 ]; then
  log=$(mktemp)
  echo "installing ${need[*]}"
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
  fi
fi

build=build/windows
log=build/windows.log
rm -rf "$build"
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1 \
  || { cat "$log"; exit 1; }
cmake --build "$build" --parallel 2 >>"$log" 2>&1 || { tail -n 60 "$log"; exit 1; }
python3 .ci/pe_check.py "$build"
ls -l "$build/velmo.pyd" "$build/zandrelAPI.dll"
echo "windows: $((SECONDS - start)) s"
