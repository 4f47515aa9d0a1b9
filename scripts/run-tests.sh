#!/usr/bin/env bash
# Install velmo and run the whole test suite (build checks included).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh" --dev
cd "$root"
exec "$root/.venv/bin/python" -m pytest -q tests "$@"
