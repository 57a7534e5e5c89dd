#!/usr/bin/env bash
# damage.sh <installer.exe> <payload.sz> <out.exe>
# Copies the installer with one byte of a payload changed: the byte in the
# middle of the payload's bytes, where they lie in the executable.
set -euo pipefail
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }
at=$(hex "$1" | awk -v sz="$(hex "$2")" '{ i = index($0, sz); print i % 2 ? (i - 1) / 2 : -1 }')
[ "$at" -ge 0 ] || { echo "damage.sh: $2 is not inside $1" >&2; exit 1; }
at=$(( at + $(stat -c %s "$2") / 2 ))
byte=$(od -An -tu1 -j "$at" -N1 "$1")
cp "$1" "$3.part"
printf "\\$(printf %03o $(( byte ^ 0xff )))" | dd of="$3.part" bs=1 seek="$at" conv=notrunc status=none
mv "$3.part" "$3"
