#!/usr/bin/env bash
# CI: the type stubs. Installs velmo (which brings velmo-stubs and
# zandrel_sim-stubs) and mypy into a fresh venv, checks both stub packages
# against the imported modules with stubtest, and type-checks examples/ with
# mypy --strict against them.  Usage: .ci/typing.sh [WHEEL]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
venv=$root/build/ci-typing
rm -rf "$venv"
python3 -m venv "$venv"
# A wheel given as argument (.ci/run passes the one .ci/wheel.sh built), else
# a build of this checkout.
package=${1:-$root}
echo "velmo from $package"
"$venv/bin/pip" install --quiet --disable-pip-version-check "mypy==2.4.1" "$package" 2>&1 \
  | { grep -v "is ignored: it is neither a file nor a directory" || true; }
[ "${PIPESTATUS[0]}" -eq 0 ]
site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
for stubs in velmo-stubs zandrel_sim-stubs; do
  [ -f "$site/$stubs/__init__.pyi" ] || { echo "$stubs not installed in $site"; exit 1; }
done
# From the venv, so that the installed stubs and modules are the ones checked.
(cd "$venv" && "$venv/bin/python" -m mypy.stubtest velmo zandrel_sim)
"$venv/bin/mypy" --strict --no-incremental examples/
echo "typing: $((SECONDS - start)) s"
