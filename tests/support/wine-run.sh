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
exec wine "$@"
