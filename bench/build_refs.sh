#!/usr/bin/env bash
# Build the benchmark references into bench/build/: the pybind11 binding
# (ref_pybind11), the full-API one (ref_capi), the library-alone timer
# (sim_cost) and the world's (world_cost), all with g++ against the
# libzandrelAPI.so that velmo loads in the given interpreter (the one beside
# the imported velmo module).
#
#   bash bench/build_refs.sh [PYTHON]     # default: .venv/bin/python
#
# PYTHON must import velmo (installed, or on PYTHONPATH). pybind11 comes from
# PyPI and is installed into that interpreter's environment when missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${1:-$root/.venv/bin/python}"
out="$root/bench/build"
mkdir -p "$out"

"$python" -c "import pybind11" 2>/dev/null || "$python" -m pip install --quiet pybind11
lib="$("$python" -c 'import zandrel_sim; print(zandrel_sim.library_path())')"
libdir="$(dirname "$lib")"
[ -f "$lib" ] || { echo "no virtual controller at $lib" >&2; exit 1; }
pyinc="$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
pbinc="$("$python" -c 'import pybind11; print(pybind11.get_include())')"
suffix="$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')"

# The same optimisation as velmo's Release build. The library is linked by
# path with an rpath to its folder, so the process shares velmo's instance.
flags=(-std=c++17 -O3 -DNDEBUG -Wall -Wextra -Werror -I"$root/include")
link=(-L"$libdir" -Wl,-rpath,"$libdir" -lzandrelAPI)
g++ "${flags[@]}" -fPIC -shared -fvisibility=hidden -I"$pyinc" -I"$pbinc" \
  "$root/bench/ref_pybind11.cpp" -o "$out/ref_pybind11$suffix" "${link[@]}"
g++ "${flags[@]}" -fPIC -shared -Wno-missing-field-initializers -I"$pyinc" \
  "$root/bench/ref_capi.cpp" -o "$out/ref_capi$suffix" "${link[@]}"
g++ "${flags[@]}" -I"$root/sim" "$root/bench/sim_cost.cpp" -o "$out/sim_cost" "${link[@]}"
# world_cost also compiles the core's shapes and body from their sources, to
# time them alone; Eigen comes from the cmeel-eigen wheel.
eigen="$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/cmeel.prefix/include/eigen3"
[ -d "$eigen" ] || eigen=/usr/include/eigen3
g++ "${flags[@]}" -I"$root/sim" -isystem "$eigen" "$root/bench/world_cost.cpp" \
  "$root/sim/core/shapes.cpp" "$root/sim/core/body.cpp" "$root/sim/core/kinematics.cpp" \
  -o "$out/world_cost" "${link[@]}"
# arm_load_cost compiles the core's dynamics and torque monitor the same way.
g++ "${flags[@]}" -I"$root/sim" -isystem "$eigen" "$root/bench/arm_load_cost.cpp" \
  "$root/sim/core/dynamics.cpp" "$root/sim/core/torque_monitor.cpp" "$root/sim/core/kinematics.cpp" \
  -o "$out/arm_load_cost" "${link[@]}"
echo "built into $out against $lib"
