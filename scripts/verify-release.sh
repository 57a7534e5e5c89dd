#!/usr/bin/env bash
# Checks a published ZorvikSetup.exe against a build of your own: exports the
# commit into a fresh folder, builds the installer there, removes the
# publisher's signature (if any) from the published file and compares the two
# byte for byte.
#
#   scripts/verify-release.sh [--rev <commit>|--working-tree] [--dir <folder>] ZorvikSetup.exe
#
#   --rev <commit>   the commit the release was built from (default: HEAD)
#   --working-tree   build the files as they are in this checkout instead
#   --dir <folder>   where to build (default: build-verify in the repository);
#                    emptied first
# Exit code 0 when the files match, 1 when they differ, 2 on a usage or build error.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rev=HEAD
from_tree=0
dir=$root/build-verify
published=

usage() { sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
die() { printf 'verify-release: error: %s\n' "$*" >&2; exit 2; }
say() { printf 'verify-release: %s\n' "$*"; }
sha() { sha256sum <"$1" | cut -d' ' -f1; }

while [ $# -gt 0 ]; do
  case $1 in
    --rev) [ $# -ge 2 ] || usage; rev=$2; shift 2 ;;
    --working-tree) from_tree=1; shift ;;
    --dir) [ $# -ge 2 ] || usage; dir=$2; shift 2 ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) [ -z "$published" ] || usage; published=$1; shift ;;
  esac
done
[ -n "$published" ] || usage
[ -f "$published" ] || die "no such file: $published"
published=$(cd "$(dirname "$published")" && pwd)/$(basename "$published")

bash "$root/scripts/bootstrap.sh" >/dev/null || die "bootstrap failed"
command -v osslsigncode >/dev/null || die "osslsigncode is missing"

case $dir in /*) ;; *) dir=$PWD/$dir ;; esac
[ "$dir" != / ] && [ "$dir" != "$root" ] || die "refusing to empty $dir"
rm -rf "$dir"
mkdir -p "$dir/src"

# --- The sources, in a fresh folder.
if [ $from_tree = 1 ]; then
  say "sources: this checkout's working tree"
  tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$dir/src" -xf -
else
  commit=$(git -C "$root" rev-parse --verify "$rev^{commit}" 2>/dev/null) ||
    die "no commit '$rev' in $root (use --rev, or --working-tree for uncommitted files)"
  say "sources: commit $commit"
  git -C "$root" archive --format=tar "$commit" | tar -C "$dir/src" -xf -
fi

# --- The build: the installer only, Release, no signing.
say "building in $dir/build (log: $dir/build.log)"
if ! { env -u ZORVIK_SIGN_PASSWORD cmake -S "$dir/src" -B "$dir/build" \
         -DCMAKE_TOOLCHAIN_FILE="$dir/src/cmake/mingw-i686.cmake" \
         -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
       cmake --build "$dir/build" -j"$(nproc)" --target ZorvikSetup; } >"$dir/build.log" 2>&1; then
  tail -30 "$dir/build.log" >&2
  die "the build failed"
fi
mine=$dir/build/app/ZorvikSetup.exe
[ -f "$mine" ] || die "the build made no $mine"

# --- The published file without its signature.
# Certificate table: data directory 4 of the optional header (PE32 or PE32+).
pe=$(od -An -tu4 -j60 -N4 "$published" | tr -d ' ')
magic=$(od -An -tx2 -j$((pe + 24)) -N2 "$published" | tr -d ' ')
case $magic in
  010b) dirs=$((pe + 24 + 96)) ;;
  020b) dirs=$((pe + 24 + 112)) ;;
  *) die "$published is not a PE image" ;;
esac
cert_size=$(od -An -tu4 -j$((dirs + 4 * 8 + 4)) -N4 "$published" | tr -d ' ')
say "published: $published"
say "  sha256 $(sha "$published")"
theirs=$dir/published-unsigned.exe
if [ "$cert_size" -gt 0 ]; then
  osslsigncode verify -in "$published" >"$dir/signature.txt" 2>&1 || true
  signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$dir/signature.txt" | head -1)
  cur=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$dir/signature.txt")
  calc=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$dir/signature.txt")
  say "  signed by ${signer:-?}; image digest $([ -n "$cur" ] && [ "$cur" = "$calc" ] && echo matches || echo DOES NOT MATCH) the signature (details: $dir/signature.txt)"
  osslsigncode remove-signature -in "$published" -out "$theirs" >/dev/null 2>&1 ||
    die "could not remove the signature"
  say "  without signature sha256 $(sha "$theirs")"
  # Signing pads the image to 8 bytes and so changes its PE checksum: give our
  # build the same treatment when its size needs it.
  if [ $(( $(stat -c %s "$mine") % 8 )) -ne 0 ]; then
    tmp=$dir/normalise
    mkdir -p "$tmp" && chmod 700 "$tmp"
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=normalise \
      -keyout "$tmp/k.pem" -out "$tmp/c.pem" >/dev/null 2>&1 || die "openssl failed"
    osslsigncode sign -certs "$tmp/c.pem" -key "$tmp/k.pem" -in "$mine" -out "$tmp/s.exe" >/dev/null 2>&1 &&
      osslsigncode remove-signature -in "$tmp/s.exe" -out "$tmp/mine.exe" >/dev/null 2>&1 ||
      die "could not pad the local build"
    say "  (local build padded to 8 bytes as signing does)"
    mine=$tmp/mine.exe
  fi
else
  say "  not signed"
  cp "$published" "$theirs"
fi
say "your build: $dir/build/app/ZorvikSetup.exe"
say "  sha256 $(sha "$dir/build/app/ZorvikSetup.exe")"

if cmp -s "$theirs" "$mine"; then
  say "MATCH: the published installer is what this source builds"
  exit 0
fi
say "DIFFERENT: the published installer is not what this source builds" >&2
printf "  sizes: %s vs %s bytes\n" "$(stat -c %s "$theirs")" "$(stat -c %s "$mine")" >&2
cmp -l "$theirs" "$mine" 2>/dev/null | head -10 | awk '{ printf "  offset 0x%08x: %s %s\n", $1 - 1, $2, $3 }' >&2 || true
exit 1
