#!/usr/bin/env bash
# CI: the release files that scripts/build-wheels.sh wrote into dist/.
#   bash .ci/wheel.sh
# Audits both wheels (auditwheel show for manylinux2014, abi3audit --strict,
# twine check with the sdist, check-wheel-contents, the Windows pair's PE
# tables, the classifiers, LICENSE and the same Python files in both), then
# installs the one Linux wheel into a fresh venv of each pyenv CPython: the
# test suite but for the controller's physics and the view (with
# requirements-test.txt) runs under 3.8 and 3.13, an
# import-and-call smoke test (.ci/smoke.py) under 3.9 to 3.12. The Windows
# wheel runs under Wine in .ci/wine.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
# the interpreters are pyenv's, wherever this machine keeps them
versions=$(pyenv root)/versions || { echo "this check needs pyenv and its CPythons"; exit 1; }
work=build/ci-wheel
rm -rf "$work"
mkdir -p "$work"
pip_quiet() { "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }; return "${PIPESTATUS[0]}"; }

version=$(sed -n 's/^version = "\(.*\)"$/\1/p' pyproject.toml | head -n 1)
linux=$root/dist/velmo-$version-cp38-abi3-manylinux_2_17_x86_64.manylinux2014_x86_64.whl
windows=$root/dist/velmo-$version-cp38-abi3-win_amd64.whl
sdist=$root/dist/velmo-$version.tar.gz
for file in "$linux" "$windows" "$sdist"; do
  [ -f "$file" ] || { echo "missing $file: run bash scripts/build-wheels.sh first"; exit 1; }
done

interpreter() { # the newest pyenv CPython of one minor version
  local found
  found=$(ls -d "$versions/$1".*/bin/python 2>/dev/null | sort -V | tail -n 1)
  [ -n "$found" ] || { echo "no CPython $1 under $versions" >&2; return 1; }
  echo "$found"
}

step=$SECONDS
python3 -m venv "$work/audit"
pip_quiet "$work/audit/bin/pip" install --quiet --disable-pip-version-check \
  auditwheel abi3audit twine check-wheel-contents trove-classifiers
audit=$work/audit/bin
"$audit/auditwheel" show "$linux" | tee "$work/auditwheel.txt"
# auditwheel names the most compatible policy the wheel fits; it must be manylinux2014's.
tr -s ' \n' ' ' <"$work/auditwheel.txt" | grep -q 'is consistent with the following platform tag: "manylinux_2_17_x86_64"' \
  || { echo "auditwheel: not manylinux_2_17 (manylinux2014)"; exit 1; }
"$audit/abi3audit" --strict --summary "$linux" "$windows"
"$audit/twine" check --strict "$linux" "$windows" "$sdist"
"$audit/check-wheel-contents" "$linux" "$windows"
python3 .ci/pe_check.py "$windows"
"$audit/python" .ci/release_check.py "$linux" "$windows" "$sdist"
echo "audits: $((SECONDS - step)) s"

venv_with_wheel() { # venv_with_wheel VERSION [extra packages...]
  local version=$1 venv=$work/py$1
  shift
  "$(interpreter "$version")" -m venv "$venv"
  pip_quiet "$venv/bin/pip" install --quiet --disable-pip-version-check "$linux" "$@"
  echo "$venv"
}

for version in 3.8 3.13; do
  step=$SECONDS
  venv=$(venv_with_wheel "$version" -r requirements-test.txt)
  echo "== test suite (module, velmo_arm, probe) under $("$venv/bin/python" --version)"
  "$venv/bin/python" .ci/smoke.py "$version"
  # The controller's own physics and the view are one compiled library whatever
  # the interpreter: scripts/run-tests.sh, Wine and the sanitizers run them;
  # here what meets the interpreter runs (the module, velmo_arm, the probe).
  (cd "$root" && "$venv/bin/pytest" -q -p no:cacheprovider tests \
    --ignore-glob='tests/test_sim_*.py' --ignore-glob='tests/test_view*.py')
  echo "CPython $version: $((SECONDS - step)) s"
done

for version in 3.9 3.10 3.11 3.12; do
  step=$SECONDS
  venv=$(venv_with_wheel "$version")
  "$venv/bin/python" .ci/smoke.py "$version"
  echo "CPython $version: $((SECONDS - step)) s"
done
echo "wheel: $((SECONDS - start)) s"
