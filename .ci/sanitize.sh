#!/usr/bin/env bash
# The whole test suite against both libraries built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The sanitizer runtimes are preloaded into the
# interpreter, which uses plain malloc so that ASan sees every Python block.
# The leak check covers the test process; child interpreters, which exit with
# library threads still running, keep ASan and UBSan without it
# (.ci/sanitize_run.py); numpy and what builds on it stay out of this run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python="$root/.venv/bin/python"
build="$root/build/sanitize"
stage="$build/stage"
"$root/.venv/bin/cmake" -S "$root" -B "$build" -G Ninja -DVELMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPython_EXECUTABLE="$python" > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
"$root/.venv/bin/cmake" --build "$build" >> "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
rm -rf "$stage" && mkdir -p "$stage"
cp "$build/libvelmo.so" "$stage/velmo.abi3.so"
cp "$build/libzandrelAPI.so" "$root/python/zandrel_sim.py" "$root/python/velmo_pytest.py" "$stage/"
cp -r "$root/python/velmo_arm" "$stage/"

runtimes="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
cd "$root"
env LD_PRELOAD="$runtimes" PYTHONMALLOC=malloc PYTHONPATH="$stage:$root/.ci" \
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=99" \
  LSAN_OPTIONS="suppressions=$root/.ci/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  "$python" -m pytest -q -p no:cacheprovider -p sanitize_run tests "$@"
