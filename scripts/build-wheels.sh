#!/usr/bin/env bash
# Build velmo's release files into dist/:
#   velmo-<v>-cp38-abi3-manylinux_2_17_x86_64.manylinux2014_x86_64.whl  (Linux x86-64)
#   velmo-<v>-cp38-abi3-win_amd64.whl                                    (Windows x64)
#   velmo-<v>.tar.gz                                                     (the sdist)
# Both wheels are made by scikit-build-core from the same CMake install rules
# as `pip install .`, but compiled with zig's toolchain (cmake/zig-*.cmake):
# against glibc 2.17 with its C++ runtime linked in for Linux, against the
# UCRT for Windows. The tools (scripts/release-tools.txt) go into
# build/release/tools, zig's per-target runtime builds into build/zig/cache:
# the first run takes several minutes more than later ones.
# Needs: Linux x86-64, python3 (3.8 to 3.12: its headers serve the Windows
# module) with venv, and the package index.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
start=$SECONDS
python="${PYTHON:-python3}"
tools=build/release/tools
dist=dist
quiet() { "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }; return "${PIPESTATUS[0]}"; }

step=$SECONDS
if [ ! -x "$tools/bin/python" ]; then
  "$python" -m venv "$tools"
fi
quiet "$tools/bin/python" -m pip install --quiet --disable-pip-version-check -r scripts/release-tools.txt
tool_python=$root/$tools/bin/python
export PATH="$root/$tools/bin:$PATH"
export VELMO_ZIG
VELMO_ZIG=$("$tool_python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
export ZIG_GLOBAL_CACHE_DIR="$root/build/zig/cache" ZIG_LOCAL_CACHE_DIR="$root/build/zig/cache"
# The Windows module is compiled with the platform-neutral headers of this
# Python and the project's own Windows pyconfig.h (cmake/windows/python.cmake).
headers=$("$tool_python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' pyproject.toml | head -n 1)
echo "tools: zig $("$VELMO_ZIG" version), $("$tool_python" --version) ($((SECONDS - step)) s)"

mkdir -p "$dist"
rm -f "$dist"/velmo-"$version"-*.whl "$dist"/velmo-"$version".tar.gz

wheel() { # wheel NAME TOOLCHAIN TAG... : one wheel from its own build folder
  local name=$1 toolchain=$2 log=build/release/$1.log
  shift 2
  local tags=() tag
  for tag in "$@"; do tags+=(-C "wheel.tags=$tag"); done
  step=$SECONDS
  if ! quiet "$tool_python" -m pip wheel --no-build-isolation --no-deps --disable-pip-version-check \
      --wheel-dir "$dist" -v \
      -C build-dir="build/release/$name" \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
      -C cmake.define.VELMO_PYTHON_INCLUDE_DIR="$headers" \
      -C cmake.build-type=Release \
      -C build.verbose=false \
      "${tags[@]}" . >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "build-wheels: the $name wheel failed (log: $log)" >&2
    exit 1
  fi
  echo "$name wheel: $((SECONDS - step)) s"
}

mkdir -p build/release
# zig builds its C++ runtime in the compiler check of a fresh build folder, one
# compile at a time (CMAKE_BUILD_PARALLEL_LEVEL limits the rest to two jobs).
export CMAKE_BUILD_PARALLEL_LEVEL=2
wheel manylinux zig-linux.cmake cp38-abi3-manylinux_2_17_x86_64 cp38-abi3-manylinux2014_x86_64
# The same two tags in the order auditwheel names them (scikit-build-core sorts them).
mv "$dist/velmo-$version-cp38-abi3-manylinux2014_x86_64.manylinux_2_17_x86_64.whl" \
   "$dist/velmo-$version-cp38-abi3-manylinux_2_17_x86_64.manylinux2014_x86_64.whl"
wheel windows zig-windows.cmake cp38-abi3-win_amd64

step=$SECONDS
quiet "$tool_python" -m build --sdist --no-isolation --outdir "$dist" . >build/release/sdist.log 2>&1 \
  || { tail -n 40 build/release/sdist.log; exit 1; }
echo "sdist: $((SECONDS - step)) s"

ls -l "$dist"/velmo-"$version"-*.whl "$dist"/velmo-"$version".tar.gz
echo "build-wheels: $((SECONDS - start)) s"
