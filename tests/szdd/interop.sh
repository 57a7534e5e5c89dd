#!/usr/bin/env bash
# Our SZDD files against Debian's msexpand/mscompress, and the command line's
# handling of bad input.
#   interop.sh SZDD [WORKDIR]
set -uo pipefail
szdd=${1:?usage: interop.sh SZDD [WORKDIR]}
work=${2:-$(mktemp -d)}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=cases.sh
source "$here/cases.sh"
command -v msexpand >/dev/null && command -v mscompress >/dev/null ||
  { echo "interop: msexpand/mscompress not found (Debian package mscompress)" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work/cases" "$work/ours" "$work/theirs" "$work/bad"
make_cases "$work/cases"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

echo "== our files, expanded by msexpand and by ourselves"
for f in "$work"/cases/*; do
  name=$(basename "$f")
  packed=$work/ours/$name.szdd
  if ! "$szdd" compress "$f" "$packed"; then fail "$name: compress"; continue; fi
  msexpand < "$packed" > "$work/ours/$name.ms" 2>/dev/null
  if ! cmp -s "$f" "$work/ours/$name.ms"; then fail "$name: msexpand output differs"; continue; fi
  if ! "$szdd" expand "$packed" "$work/ours/$name.back" || ! cmp -s "$f" "$work/ours/$name.back"; then
    fail "$name: szdd expand output differs"; continue
  fi
  pass "$name ($(stat -c %s "$f") -> $(stat -c %s "$packed") bytes)"
done

echo "== mscompress files, expanded by us"
for f in "$work"/cases/*; do
  name=$(basename "$f")
  cp "$f" "$work/theirs/$name"
  (cd "$work/theirs" && mscompress "$name" >/dev/null 2>&1)
  packed=$work/theirs/${name}_
  [ -f "$packed" ] || { fail "$name: mscompress wrote nothing"; continue; }
  if ! msexpand < "$packed" 2>/dev/null | cmp -s - "$f"; then
    # mscompress mangles very short files; msexpand cannot read those back either.
    echo "skip: $name (mscompress's own file does not expand to the input)"
    continue
  fi
  if "$szdd" expand "$packed" "$work/theirs/$name.back" && cmp -s "$f" "$work/theirs/$name.back"; then
    pass "$name (mscompress: $(stat -c %s "$packed") bytes, ours: $(stat -c %s "$work/ours/$name.szdd"))"
  else
    fail "$name: szdd expand of the mscompress file differs"
  fi
done

echo "== bad input"
bad=$work/bad
good=$work/ours/text_gpl3.szdd
# expect_error DESCRIPTION FRAGMENT OUT -- ARGS...: nonzero exit, one line on
# stderr naming the problem, OUT absent (or unchanged when it existed), no
# temporary file beside OUT.
expect_error() {
  local what=$1 fragment=$2 out=$3
  shift 4
  local before=""
  [ -f "$out" ] && before=$(md5sum < "$out")
  "$szdd" "$@" > "$bad/stdout" 2> "$bad/stderr"
  local rc=$?
  local lines
  lines=$(wc -l < "$bad/stderr")
  if [ $rc -eq 0 ]; then fail "$what: exit status 0"; return; fi
  if [ "$lines" -ne 1 ]; then fail "$what: $lines lines on stderr"; return; fi
  if ! grep -q -- "$fragment" "$bad/stderr"; then fail "$what: message '$(cat "$bad/stderr")' lacks '$fragment'"; return; fi
  if [ -n "$before" ]; then
    [ "$(md5sum < "$out")" = "$before" ] || { fail "$what: existing $out was changed"; return; }
  elif [ -e "$out" ] && [ ! -d "$out" ]; then
    fail "$what: $out was left behind"; return
  fi
  if compgen -G "$(dirname "$out")/.$(basename "$out").*" >/dev/null; then
    fail "$what: temporary file left beside $out"; return
  fi
  pass "$what: $(cat "$bad/stderr")"
}

head -c 100 "$good" > "$bad/truncated.szdd"
head -c 10 "$good" > "$bad/short_header.szdd"
cp "$good" "$bad/long_length.szdd"
printf '\377\377\000' | dd of="$bad/long_length.szdd" bs=1 seek=10 conv=notrunc status=none
cp "$good" "$bad/short_length.szdd"
printf '\020\000' | dd of="$bad/short_length.szdd" bs=1 seek=10 conv=notrunc status=none
cp "$good" "$bad/mode.szdd"
printf 'B' | dd of="$bad/mode.szdd" bs=1 seek=8 conv=notrunc status=none
{ cat "$good"; printf 'junk'; } > "$bad/trailing.szdd"
truncate -s 4294967296 "$bad/huge"   # sparse: 4 GiB, one byte too many
mkdir -p "$bad/dir"
echo keep > "$bad/existing"

expect_error "missing input (compress)" "No such file" "$bad/o1" -- compress "$bad/nope" "$bad/o1"
expect_error "missing input (expand)" "No such file" "$bad/o2" -- expand "$bad/nope" "$bad/o2"
expect_error "missing input (info)" "No such file" "$bad/o3" -- info "$bad/nope"
expect_error "directory as input" "is a directory" "$bad/o4" -- compress "$bad/dir" "$bad/o4"
expect_error "not SZDD" "not an SZDD file" "$bad/o5" -- expand "$work/cases/text_gpl3" "$bad/o5"
expect_error "empty file" "not an SZDD file" "$bad/o6" -- expand "$work/cases/empty" "$bad/o6"
expect_error "truncated data" "truncated" "$bad/o7" -- expand "$bad/truncated.szdd" "$bad/o7"
expect_error "truncated header" "truncated header" "$bad/o8" -- expand "$bad/short_header.szdd" "$bad/o8"
expect_error "length field too large" "wrong length field" "$bad/o9" -- expand "$bad/long_length.szdd" "$bad/o9"
expect_error "length field too small" "length field" "$bad/o10" -- expand "$bad/short_length.szdd" "$bad/o10"
expect_error "unknown mode" "unsupported compression mode" "$bad/o11" -- expand "$bad/mode.szdd" "$bad/o11"
expect_error "trailing bytes" "after the expanded length" "$bad/o12" -- expand "$bad/trailing.szdd" "$bad/o12"
expect_error "corrupt file (info)" "truncated" "$bad/o13" -- info "$bad/truncated.szdd"
expect_error "existing output kept" "truncated" "$bad/existing" -- expand "$bad/truncated.szdd" "$bad/existing"
expect_error "output in a missing folder" "cannot create" "$bad/nodir/out" -- compress "$work/cases/text_gpl3" "$bad/nodir/out"
expect_error "output below a file" "cannot create" "$bad/existing/out" -- compress "$work/cases/text_gpl3" "$bad/existing/out"
expect_error "output is a folder" "cannot create" "$bad/dir" -- compress "$work/cases/text_gpl3" "$bad/dir"
start=$(date +%s)
expect_error "input over 4 GiB" "too large" "$bad/o14" -- compress "$bad/huge" "$bad/o14"
[ $(($(date +%s) - start)) -le 2 ] || fail "input over 4 GiB: not refused before reading"
rm -f "$bad/huge"

"$szdd" > /dev/null 2>&1; rc=$?
[ $rc -eq 2 ] && pass "no arguments: usage, status 2" || fail "no arguments: status $rc"
"$szdd" frobnicate a b > /dev/null 2>&1; rc=$?
[ $rc -eq 2 ] && pass "unknown verb: usage, status 2" || fail "unknown verb: status $rc"

info=$("$szdd" info "$good")
if grep -q "expanded length: *35149 bytes" <<<"$info" && grep -q "compressed length: *$(stat -c %s "$good") bytes" <<<"$info" &&
   grep -q "mode: *A" <<<"$info" && grep -q "missing character:" <<<"$info" && grep -q "ratio:" <<<"$info"; then
  pass "info"
else
  fail "info printed: $info"
fi

if [ $failures -ne 0 ]; then
  echo "interop: $failures failure(s); files kept in $work"
  exit 1
fi
echo "interop: all passed"
