#!/usr/bin/env bash
# CI: the sdist in dist/ builds and installs in a clean venv of CPython 3.11
# (under 3.8 pip finds only cmeel-eigen 3.4.0, whose triangular products gcc 12
# refuses; the abi3 wheels serve 3.8), with the Eigen headers of the cmeel-eigen build
# requirement (no system Eigen needed), and the installed velmo passes the
# smoke test.   bash .ci/sdist.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
# the interpreters are pyenv's, wherever this machine keeps them
versions=$(pyenv root)/versions || { echo "this check needs pyenv and its CPythons"; exit 1; }
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' pyproject.toml | head -n 1)
sdist=$root/dist/velmo-$version.tar.gz
[ -f "$sdist" ] || { echo "missing $sdist: run bash scripts/build-wheels.sh first"; exit 1; }
python38=$(ls -d "$versions"/3.11.*/bin/python 2>/dev/null | sort -V | tail -n 1)
[ -n "$python38" ] || { echo "no CPython 3.11 under $versions"; exit 1; }
venv=$root/build/ci-sdist
log=$root/build/ci-sdist.log
rm -rf "$venv"
"$python38" -m venv "$venv"
# Outside the checkout, so that nothing of it is found but through the sdist.
cd "$venv"
if ! "$venv/bin/pip" install -v --disable-pip-version-check --no-cache-dir "$sdist" >"$log" 2>&1; then
  tail -n 60 "$log"
  exit 1
fi
grep -o "Eigen for the virtual controller: .*" "$log" | head -n 1
grep -q "Eigen for the virtual controller: .*/cmeel.prefix/include/eigen3" "$log" \
  || { echo "the source build did not take Eigen from cmeel-eigen"; exit 1; }
"$venv/bin/python" "$root/.ci/smoke.py" 3.11
echo "sdist: $((SECONDS - start)) s"
