#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the demo and the bench need,
# and only those that are missing. Works as root or through sudo.
set -euo pipefail

say() { printf 'bootstrap: %s\n' "$*"; }
die() { printf 'bootstrap: error: %s\n' "$*" >&2; exit 1; }

if [ "$(id -u)" -eq 0 ]; then SUDO=(); elif command -v sudo >/dev/null; then SUDO=(sudo); else
  die "not root and no sudo: cannot install packages"; fi
as_root() { "${SUDO[@]}" "$@"; }
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686 cmake make g++ wine wine32:i386
  locales fonts-ipafont-gothic fonts-wine xvfb x11-apps imagemagick mscompress googletest
  nsis osslsigncode openssl libxml2-utils wine64
)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture (for wine32)"
  as_root dpkg --add-architecture i386 || die "dpkg --add-architecture i386 failed"
  NEED_UPDATE=1
fi

missing=()
for p in "${PACKAGES[@]}"; do have "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  as_root apt-get update -qq || die "apt-get update failed"
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || die "apt-get install failed for: ${missing[*]}"
elif [ "${NEED_UPDATE:-0}" = 1 ]; then
  as_root apt-get update -qq || die "apt-get update failed"
fi

# Wine answers with code page 932 only under a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  say "generating the ja_JP.UTF-8 locale"
  if [ -f /etc/locale.gen ] && grep -q '^# *ja_JP.UTF-8' /etc/locale.gen; then
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^ja_JP.UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen >/dev/null || die "locale-gen failed"
fi

# The posix thread model of the cross compiler (GoogleTest needs std::mutex).
command -v i686-w64-mingw32-g++-posix >/dev/null || die "i686-w64-mingw32-g++-posix missing after install"
command -v wine >/dev/null || die "wine missing after install"
say "all packages present"
