#!/usr/bin/env bash
# Install velmo and the test tools, and run the whole test suite (build
# checks included). After run-example.sh the build is reused, not redone.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh" --dev
cd "$root"
echo "== running the test suite (about 6 minutes on two free cores)"
exec "$root/.venv/bin/python" -m pytest -q tests "$@"
