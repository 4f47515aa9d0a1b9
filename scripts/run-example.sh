#!/usr/bin/env bash
# Install velmo (setup.sh shows the build's progress; the first build takes
# a few minutes) and run the quick start against the virtual controller.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
echo "== running examples/quickstart.py against the virtual controller"
exec "$root/.venv/bin/python" "$root/examples/quickstart.py"
