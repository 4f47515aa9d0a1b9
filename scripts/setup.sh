#!/usr/bin/env bash
# Make .venv (once) and install velmo into it from this checkout. Run by the
# other scripts; safe to run again.
#   bash scripts/setup.sh          velmo alone (what the examples need)
#   bash scripts/setup.sh --dev    velmo and the test toolchain (requirements-dev.txt)
# velmo is built in .venv with its build tools (requirements-build.txt), not
# in an isolated build environment, so that build/ keeps its objects: the
# first build compiles everything, the next ones only what changed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
if [ ! -x "$root/.venv/bin/python" ]; then
  "$python" -m venv "$root/.venv"
fi
venv_python="$root/.venv/bin/python"
say() { echo "== $*"; }
# A registry that drops a connection once should not fail a fresh machine:
# each install is tried twice.
pip_install() {
  "$venv_python" -m pip install --quiet --retries 10 --timeout 60 "$@" \
    || { say "pip failed; trying once more"; sleep 5;
         "$venv_python" -m pip install --retries 10 --timeout 60 "$@"; }
}
say "installing the build tools into .venv"
pip_install --upgrade pip
pip_install -r "$root/requirements-build.txt"
if [ "${1:-}" = "--dev" ]; then
  say "installing the test tools (numpy, scipy, matplotlib, the reference libraries: a minute or more the first time)"
  pip_install -r "$root/requirements-test.txt"
  # The reference libraries (Pinocchio, coal, ...) are the large ones; the
  # tests that compare against them skip without them, the others run.
  pip_install -r "$root/requirements-ref.txt" \
    || say "WARNING: the reference libraries did not install; the tests that compare against them will skip"
fi

objects=$( (find "$root/build" -name "*.o" 2>/dev/null || true) | wc -l)
if [ "$objects" -eq 0 ]; then
  say "building velmo: the first build compiles every C++ file (a few minutes: about 3 on two free cores)"
else
  say "building velmo: only what changed since the last build is compiled again"
fi
log="$root/build/setup.log"
mkdir -p "$root/build"
start=$SECONDS
# pip -v shows the compiler's progress lines ([3/46] ...): keep those, with the
# file each compiles, and the whole output in build/setup.log.
set +e
"$venv_python" -m pip install -v --no-build-isolation "$root" 2>&1 | tee "$log" \
  | { grep --line-buffered -E '^ *\[ *[0-9]+/[0-9]+\] ' || true; } \
  | sed -u -E 's#^ *(\[[ 0-9/]+\]) ([A-Za-z]+) .* ([^ ]*/)?([^/ ]+)$#   \1 \2 \4#'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  say "the build failed (the whole output: build/setup.log)"
  exit "$status"
fi
say "velmo is installed in .venv (build and install: $((SECONDS - start)) s)"
