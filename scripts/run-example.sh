#!/usr/bin/env bash
# Install velmo and run the quick start against the virtual controller.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
exec "$root/.venv/bin/python" "$root/examples/quickstart.py"
