#!/usr/bin/env bash
# Make .venv (once) and install velmo into it from this checkout. Run by the
# other scripts; safe to run again.
#   bash scripts/setup.sh          velmo alone (what the examples need)
#   bash scripts/setup.sh --dev    velmo and the test toolchain (requirements-dev.txt)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
if [ ! -x "$root/.venv/bin/python" ]; then
  "$python" -m venv "$root/.venv"
fi
venv_python="$root/.venv/bin/python"
"$venv_python" -m pip install --quiet --upgrade pip
if [ "${1:-}" = "--dev" ]; then
  "$venv_python" -m pip install --quiet -r "$root/requirements-dev.txt"
fi
"$venv_python" -m pip install --quiet "$root"
