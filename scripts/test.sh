#!/usr/bin/env bash
# Builds everything and runs every test: host tests natively, Windows tests
# under Wine in the build's private prefix, on a virtual display.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
source "$root/tests/support/wine-env.sh"
# One virtual display of its own, even under a desktop, and one Wine server
# for the whole run.
unset DISPLAY
zorvik_display
export ZORVIK_WINE_ROOT=$build/wine
zorvik_wine_env
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# Every test passes on its first run: there is no retry.
rc=0
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600 || rc=$?
# The sweeps' figures (functions, call sites, runs, invariant checks), every run.
grep -h "\] summary:" "$build/Testing/Temporary/LastTest.log" || true
exit $rc
