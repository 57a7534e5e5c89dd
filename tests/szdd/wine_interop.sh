#!/usr/bin/env bash
# Our SZDD files expanded by the system's LZ library under Wine
# (LZOpenFileA/LZCopy in lz_expand.exe), compared byte for byte.
#   wine_interop.sh SZDD LZ_EXPAND_EXE WINE_RUN [WORKDIR]
set -uo pipefail
szdd=${1:?usage: wine_interop.sh SZDD LZ_EXPAND_EXE WINE_RUN [WORKDIR]}
lz_expand=${2:?missing lz_expand.exe}
wine_run=${3:?missing wine-run wrapper}
work=${4:-$(mktemp -d)}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=cases.sh
source "$here/cases.sh"

rm -rf "$work" && mkdir -p "$work/cases" "$work/packed" "$work/out"
make_cases "$work/cases"
cp "$lz_expand" "$work/lz_expand.exe"
cd "$work" || exit 1

# Relative names keep every path well below the LZ library's 128-byte limit.
args=()
for f in cases/*; do
  name=$(basename "$f")
  "$szdd" compress "$f" "packed/$name.szdd" || { echo "FAIL: $name: compress"; exit 1; }
  args+=("packed\\$name.szdd" "out\\$name")
done
"$wine_run" ./lz_expand.exe "${args[@]}"
rc=$?
[ $rc -eq 0 ] || echo "FAIL: lz_expand.exe exited with status $rc"

failures=0
for f in cases/*; do
  name=$(basename "$f")
  if cmp -s "$f" "out/$name"; then
    echo "ok:   $name ($(stat -c %s "$f") bytes)"
  else
    echo "FAIL: $name: LZCopy output differs from the input"
    failures=$((failures + 1))
  fi
done
if [ $rc -ne 0 ] || [ $failures -ne 0 ]; then
  echo "wine_interop: failed; files kept in $work"
  exit 1
fi
echo "wine_interop: all passed"
