#!/usr/bin/env bash
# CI: one binary for every interpreter. Builds the cp38-abi3 wheel once, audits
# it with abi3audit, then installs that same file into a fresh venv of each
# pyenv CPython: the whole test suite (with requirements-dev.txt) runs under 3.8
# and 3.13, an import-and-call smoke test (.ci/smoke.py) under 3.9 to 3.12.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
versions=${PYENV_ROOT:-/root/.pyenv}/versions
work=build/ci-wheel
rm -rf "$work"
mkdir -p "$work"
pip_quiet() { "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }; return "${PIPESTATUS[0]}"; }

interpreter() { # the newest pyenv CPython of one minor version
  local found
  found=$(ls -d "$versions/$1".*/bin/python 2>/dev/null | sort -V | tail -n 1)
  [ -n "$found" ] || { echo "no CPython $1 under $versions" >&2; return 1; }
  echo "$found"
}

step=$SECONDS
pip_quiet python3 -m pip wheel --quiet --no-deps --wheel-dir "$work/dist" .
wheels=("$work"/dist/velmo-*-cp38-abi3-*.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || { echo "expected one cp38-abi3 wheel, got: $(ls "$work/dist")"; exit 1; }
wheel=$root/${wheels[0]}
echo "wheel: $(basename "$wheel") ($((SECONDS - step)) s)"

step=$SECONDS
python3 -m venv "$work/audit"
pip_quiet "$work/audit/bin/pip" install --quiet abi3audit
"$work/audit/bin/abi3audit" --strict --summary "$wheel"
echo "abi3audit: $((SECONDS - step)) s"

venv_with_wheel() { # venv_with_wheel VERSION [extra packages...]
  local version=$1 venv=$work/py$1
  shift
  "$(interpreter "$version")" -m venv "$venv"
  pip_quiet "$venv/bin/pip" install --quiet --disable-pip-version-check "$wheel" "$@"
  echo "$venv"
}

for version in 3.8 3.13; do
  step=$SECONDS
  venv=$(venv_with_wheel "$version" -r requirements-dev.txt)
  echo "== full test suite under $("$venv/bin/python" --version)"
  "$venv/bin/python" .ci/smoke.py "$version"
  (cd "$root" && "$venv/bin/pytest" -q -p no:cacheprovider tests)
  echo "CPython $version: $((SECONDS - step)) s"
done

for version in 3.9 3.10 3.11 3.12; do
  step=$SECONDS
  venv=$(venv_with_wheel "$version")
  "$venv/bin/python" .ci/smoke.py "$version"
  echo "CPython $version: $((SECONDS - step)) s"
done
echo "wheel: $((SECONDS - start)) s"
