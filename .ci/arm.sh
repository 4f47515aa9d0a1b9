#!/usr/bin/env bash
# CI: velmo_arm's types. Installs velmo (which brings velmo_arm, py.typed,
# and the stubs), mypy, basedpyright (pyright with its own node, from PyPI),
# numpy, and pytest and matplotlib (the layer's plugin and plot use them)
# into a fresh venv, then holds the layer's source and the idioms
# of tests/typing/ (velmo's and velmo_arm's, numpy arrays included) to
# mypy --strict and pyright strict (.ci/pyrightconfig.json, Python 3.8).
# The layer's behaviour is tested by the test suite (tests/test_arm_*.py).
# Usage: .ci/arm.sh [WHEEL]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
venv=$root/build/ci-arm
rm -rf "$venv"
python3 -m venv "$venv"
package=${1:-$root}
echo "velmo from $package"
"$venv/bin/pip" install --quiet --disable-pip-version-check "mypy==2.4.1" "basedpyright==1.40.2" numpy pytest matplotlib \
  "$package" 2>&1 \
  | { grep -v "is ignored: it is neither a file nor a directory" || true; }
[ "${PIPESTATUS[0]}" -eq 0 ]
site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
[ -f "$site/velmo_arm/py.typed" ] || { echo "velmo_arm is not installed as a typed package in $site"; exit 1; }
"$venv/bin/mypy" --strict --no-incremental python/velmo_arm python/velmo_pytest.py tests/typing
"$venv/bin/basedpyright" -p .ci/pyrightconfig.json --pythonpath "$venv/bin/python" python/velmo_arm \
  python/velmo_pytest.py tests/typing
echo "arm typing: $((SECONDS - start)) s"
