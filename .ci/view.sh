#!/usr/bin/env bash
# CI: the live view in a real browser. Installs Debian's chromium and its
# chromedriver when missing, selenium into the project's .venv, then runs
# .ci/view_browser.py: both arms of a script in one scene, labelled, the page
# following their moves, its readout matching the controller, a fault tinted,
# a joint at its limit marked, the plots drawn; two arms placed at their
# bases across a table, the objects and the grid's scale drawn, a contact
# tinted and marked; ZSIM_VIEW_WAIT and ZSIM_VIEW_HOLD with a real page
# (screenshots in build/view/; view.png and view-cell.png are the docs').
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

need=()
command -v chromium >/dev/null || need+=(chromium)
command -v chromedriver >/dev/null || need+=(chromium-driver)
if [ ${#need[@]} -gt 0 ]; then
  log=$(mktemp)
  echo "installing ${need[*]}"
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
  fi
fi

[ -x .venv/bin/python ] || bash scripts/setup.sh
.venv/bin/pip install --quiet --disable-pip-version-check "selenium>=4.10,<5" pillow 2>&1 \
  | { grep -v "is ignored: it is neither a file nor a directory" || true; }
[ "${PIPESTATUS[0]}" -eq 0 ]
# selenium must not fetch a driver or a browser of its own
export SE_OFFLINE=true
.venv/bin/python .ci/view_browser.py build/view
echo "view: $((SECONDS - start)) s"
