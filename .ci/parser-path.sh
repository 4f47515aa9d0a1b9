#!/usr/bin/env bash
# CI: velmo built without the argument fast path (VELMO_FAST_PATH=OFF), so every
# call goes through the interpreter's parser, staged beside its library and run
# through the tests that pin argument handling: the fuzz tests, the method
# table, and test_fast_path.py, which holds each build to the parser's own
# decisions. The default build runs the same files in run-tests.sh, so both
# builds answer every call alike.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python="$root/.venv/bin/python"
build="$root/build/parser-path"
stage="$build/stage"
start=$SECONDS
mkdir -p "$root/build"
"$root/.venv/bin/cmake" -S "$root" -B "$build" -G Ninja -DVELMO_FAST_PATH=OFF \
  -DPython_EXECUTABLE="$python" > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
"$root/.venv/bin/cmake" --build "$build" >> "$build.log" 2>&1 || { tail -n 60 "$build.log"; exit 1; }
rm -rf "$stage" && mkdir -p "$stage"
cp "$build/libvelmo.so" "$stage/velmo.abi3.so"
cp "$build/libzandrelAPI.so" "$root/python/zandrel_sim.py" "$stage/"
cd "$root"
PYTHONPATH="$stage" "$python" -c "import velmo, os, sys; assert os.path.dirname(velmo.__file__) == sys.argv[1]" "$stage"
PYTHONPATH="$stage" "$python" -m pytest -q -p no:cacheprovider \
  tests/test_fuzz.py tests/test_method_calls.py tests/test_fast_path.py
echo "parser path: $((SECONDS - start)) s"
