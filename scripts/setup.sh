#!/usr/bin/env bash
# Make .venv (once) and install velmo into it from this checkout, with what
# the tests need. Sourced by the other scripts; safe to run again.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
if [ ! -x "$root/.venv/bin/python" ]; then
  "$python" -m venv "$root/.venv"
fi
venv_python="$root/.venv/bin/python"
"$venv_python" -m pip install --quiet --upgrade pip
"$venv_python" -m pip install --quiet -r "$root/requirements-dev.txt"
"$venv_python" -m pip install --quiet "$root"
