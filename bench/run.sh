#!/usr/bin/env bash
# Build what the benchmarks need from this checkout, then run them and write
# their sections of bench/RESULTS.md.
#
#   bash bench/run.sh [calls|instructions|stream|soak|arm|view|journal|trajectory|world|load|all]...   (default: calls)
#
# Builds into bench/build/: velmo twice - the default build and one with
# VELMO_FAST_PATH=OFF (every call through the interpreter's parser) - each
# staged with its libzandrelAPI.so and zandrel_sim.py, and the references
# (build_refs.sh) against the default one. PYTHON (default .venv/bin/python,
# made by scripts/setup.sh) runs everything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-$root/.venv/bin/python}"
cmake="$root/.venv/bin/cmake"
[ -x "$cmake" ] || cmake=cmake
out="$root/bench/build"
mkdir -p "$out"

stage() { # name, cmake options...
  local name=$1 dir="$out/velmo-$1"
  shift
  "$cmake" -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$python" "$@" \
    > "$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
  "$cmake" --build "$dir" >> "$dir.log" 2>&1 || { tail -n 40 "$dir.log"; exit 1; }
  rm -rf "$out/stage-$name" && mkdir -p "$out/stage-$name"
  cp "$dir/libvelmo.so" "$out/stage-$name/velmo.abi3.so"
  cp "$dir/libzandrelAPI.so" "$root/python/zandrel_sim.py" "$out/stage-$name/"
}

stage fast
stage parser -DVELMO_FAST_PATH=OFF
PYTHONPATH="$out/stage-fast" bash "$root/bench/build_refs.sh" "$python"

fast=(env PYTHONPATH="$out/stage-fast" "$python")
parser=(env PYTHONPATH="$out/stage-parser" "$python")
targets=("${@:-calls}")
[ "${targets[*]}" = all ] && targets=(calls instructions stream soak arm view journal trajectory world load)
for what in "${targets[@]}"; do
  case "$what" in
    calls)
      "${fast[@]}" "$root/bench/bench_calls.py" --write --label "default build"
      "${parser[@]}" "$root/bench/bench_calls.py" --write --section calls-parser --label "VELMO_FAST_PATH=OFF" ;;
    instructions)
      "${fast[@]}" "$root/bench/callgrind.py" --write --label "default build"
      "${parser[@]}" "$root/bench/callgrind.py" --write --section instructions-parser --bindings velmo \
        --label "VELMO_FAST_PATH=OFF" ;;
    stream) "${fast[@]}" "$root/bench/bench_stream.py" --write ;;
    soak) "${fast[@]}" "$root/bench/bench_soak.py" --write ;;
    arm) env PYTHONPATH="$out/stage-fast:$root/python" "$python" "$root/bench/bench_arm_stream.py" --write ;;
    view) "${fast[@]}" "$root/bench/bench_view.py" --write ;;
    journal) "${fast[@]}" "$root/bench/bench_journal.py" --write ;;
    trajectory) "${fast[@]}" "$root/bench/bench_traj_convert.py" --write ;;
    world) "${fast[@]}" "$root/bench/bench_world.py" --write ;;
    load) "$python" "$root/bench/bench_arm_load.py" --write ;;
    *) echo "unknown benchmark: $what (calls, instructions, stream, soak, arm, view, journal, trajectory, world, load, all)" >&2; exit 2 ;;
  esac
done
