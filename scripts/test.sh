#!/usr/bin/env bash
# Builds everything and runs every test: host tests natively, Windows tests
# under Wine in the build's private prefix, on a virtual display.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
export ZORVIK_WINE_ROOT=$build/wine
# One virtual display and one Wine server for the whole run.
exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source "$1/tests/support/wine-env.sh"; zorvik_wine_env
  wineserver -p
  # A test that fails gets one more run; ctest then reports it by name, so a
  # stall of Wine or the X server shows without turning the whole run red.
  ctest --test-dir "$2" --output-on-failure -j2 --timeout 600 --repeat until-pass:2
  rc=$?
  # The sweeps' figures (functions, call sites, runs, invariant checks), every run.
  grep -h "\] summary:" "$2/Testing/Temporary/LastTest.log" || true
  wineserver -k 2>/dev/null || true
  exit $rc' _ "$root" "$build"
