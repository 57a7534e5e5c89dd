#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix.
# The prefix and $HOME live under ZORVIK_WINE_ROOT (default: ./wine of the
# current build tree), never in the real home: Wine links its Desktop folder
# to $HOME and maps drive Z: to /, so both are fenced in here.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
zorvik_wine_env
if [ -t 1 ]; then
  exec wine "$@"
fi
# Wine's helper processes (services, the desktop) outlive the program and
# inherit its output; a test runner reading that pipe would wait for them.
# So the program writes to a file, which is passed on when it ends.
out=$(mktemp "$ZORVIK_WINE_ROOT/output.XXXXXX")
trap 'rm -f "$out"' EXIT
set +e
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
set -e
cat "$out"
exit $rc
