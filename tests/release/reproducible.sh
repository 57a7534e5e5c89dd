#!/usr/bin/env bash
# Builds the installer and the host compressor twice from the same sources, in
# two fresh build folders of different names, with a different time zone,
# locale and umask, and checks that both builds give the same bytes.
#
#   reproducible.sh <source dir> <work dir> [extra configure arguments...]
set -euo pipefail

src=$(cd "$1" && pwd)
work=$2
shift 2
extra=("$@")

fail() { printf 'reproducible: FAIL: %s\n' "$*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
tree_a=$work/a
tree_b=$work/second-tree

# The products of one build, relative to its folder.
products=(app/ZorvikSetup.exe host/szdd)

build_tree() {
  local dir=$1 log=$1.log
  if ! { cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
           -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${extra[@]}" &&
         cmake --build "$dir" -j2 --target host_tools ZorvikSetup; } >"$log" 2>&1; then
    tail -40 "$log" >&2
    fail "build in $dir failed (log: $log)"
  fi
}

start=$SECONDS
# The environment of a signed release must not leak into these builds.
unset ZORVIK_SIGN_PASSWORD SOURCE_DATE_EPOCH
(export TZ=UTC LC_ALL=C; umask 022; build_tree "$tree_a")
(export TZ=Asia/Tokyo LC_ALL=C.UTF-8; umask 002; build_tree "$tree_b")
printf 'reproducible: two builds took %ds\n' $((SECONDS - start))

objdump_for() {
  case $1 in *.exe|*.dll) echo i686-w64-mingw32-objdump ;; *) echo objdump ;; esac
}

# Shows where two files differ: the first differing bytes (offsets in hex) and
# the differences between their headers.
explain() {
  local a=$1 b=$2 od
  od=$(objdump_for "$a")
  printf '  sizes: %s vs %s bytes\n' "$(stat -c %s "$a")" "$(stat -c %s "$b")"
  echo "  first differing bytes (offset, octal values a b):"
  cmp -l "$a" "$b" 2>/dev/null | head -20 |
    awk '{ printf "    0x%08x  %s %s\n", $1 - 1, $2, $3 }' || true
  echo "  header differences (objdump -x):"
  diff <("$od" -x "$a" 2>&1 | sed "s|$a|FILE|") <("$od" -x "$b" 2>&1 | sed "s|$b|FILE|") | head -60 |
    sed 's/^/    /' || true
}

status=0
for p in "${products[@]}"; do
  a=$tree_a/$p b=$tree_b/$p
  [ -f "$a" ] || fail "missing $a"
  [ -f "$b" ] || fail "missing $b"
  if cmp -s "$a" "$b"; then
    printf 'reproducible: identical %-20s sha256 %s\n' "$p" "$(sha256sum <"$a" | cut -d' ' -f1)"
  else
    printf 'reproducible: DIFFERENT %s\n' "$p" >&2
    explain "$a" "$b" >&2
    status=1
  fi
done

if [ $status -ne 0 ]; then
  # Narrow it down: which of the installer's inputs already differ.
  differ=()
  for f in "$tree_a"/payloads/*.sz "$tree_a"/package-files/*; do
    rel=${f#"$tree_a"/}
    cmp -s "$f" "$tree_b/$rel" || differ+=("$rel")
  done
  echo "reproducible: payload inputs that differ: ${differ[*]:-none, the difference arises in the final link}" >&2
  fail "the two builds differ"
fi
echo "reproducible: OK"
