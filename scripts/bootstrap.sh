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

# A mirror in mid-sync can fail one index for a while ("File has unexpected
# size"): try again, then go on with what apt has.
APT_PARTIAL=0
apt_update() {
  local try tries=3
  [ "$APT_PARTIAL" = 0 ] || tries=1   # the same mirror, minutes later
  for try in $(seq "$tries"); do
    as_root apt-get update -qq && return 0
    say "apt-get update failed (try $try of $tries)"
    [ "$try" = "$tries" ] || sleep $((try * 10))
  done
  say "going on with the package indexes apt has"
  APT_PARTIAL=1
}

# Without one suite's index for one architecture (the security suite's i386,
# seen), a library's two architectures come out at different versions and the
# install is refused; the release's own suite then has both.
apt_install() {
  as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
  [ "$APT_PARTIAL" = 1 ] || return 1
  . /etc/os-release
  say "installing from ${VERSION_CODENAME:?} itself, as an index is missing"
  as_root apt-get install -y -qq --no-install-recommends \
    -o APT::Default-Release="$VERSION_CODENAME" "$@" >/dev/null
}

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
  apt_update
  apt_install "${missing[@]}" || die "apt-get install failed for: ${missing[*]}"
elif [ "${NEED_UPDATE:-0}" = 1 ]; then
  apt_update
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

# Wine runs the 32-bit installer through its 32-bit loader, an i386 ELF program.
# Some kernels run no 32-bit code at all ("32-bit emulation disabled"): there,
# the i386 programs run under qemu's user-mode emulator, registered with
# binfmt_misc. Bookworm's own qemu (7.2) takes close to a minute to start each
# Wine process, so the emulator comes from bookworm-backports (8 or later).
runs_i386() {  # starts a 93-byte static i386 program that exits with 0
  local probe rc=0
  probe=$(mktemp) || die "mktemp failed"
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\061\333\315\200' >"$probe"
  chmod 755 "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  return $rc
}
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
BINFMT=/proc/sys/fs/binfmt_misc
qemu_major() { /usr/bin/qemu-i386 --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\).*/\1/p'; }

emulated() { [ -e "$BINFMT/qemu-i386" ] && grep -qx enabled "$BINFMT/qemu-i386"; }

if runs_i386 && ! emulated; then
  say "this kernel runs 32-bit x86 programs natively"
elif runs_i386 && [ "$(qemu_major)" -ge 8 ] 2>/dev/null; then
  say "32-bit x86 programs run under qemu-i386 $(qemu_major) (set up already)"
else
  [ "$(id -u)" -eq 0 ] || [ ${#SUDO[@]} -gt 0 ] ||
    die "this kernel runs no 32-bit x86 programs, and emulating them needs root"
  did=()
  if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
    . /etc/os-release
    backports=${VERSION_CODENAME:?}-backports
    if ! grep -rqs -- "$backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      # The mirror this machine already uses for its own suite.
      mirror=$(awk -v s="$VERSION_CODENAME" '
        tolower($1) == "uris:" { u = $2 }
        tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s) { print u; exit } }
        $1 == "deb" && $3 == s { print $2; exit }' \
        $(ls /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null))
      [ -n "$mirror" ] || die "no apt source for $VERSION_CODENAME to take $backports from"
      printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$mirror" "$backports" | as_root tee /etc/apt/sources.list.d/zorvik-backports.sources >/dev/null
      did+=("added $backports")
    fi
    apt_update
    as_root apt-get install -y -qq --no-install-recommends -t "$backports" qemu-user >/dev/null ||
      die "apt-get install -t $backports qemu-user failed"
    [ "$(qemu_major)" -ge 8 ] 2>/dev/null || die "qemu-i386 $(qemu_major) is older than 8"
    did+=("installed qemu-user $(qemu_major)")
  fi
  if [ ! -e "$BINFMT/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null ||
      die "this kernel runs no 32-bit x86 programs, and binfmt_misc cannot be mounted to emulate them"
    did+=("mounted binfmt_misc")
  fi
  # The emulator is opened once at registration (flag F), so every account can use it.
  if [ -e "$BINFMT/qemu-i386" ] && ! grep -qx 'interpreter /usr/bin/qemu-i386' "$BINFMT/qemu-i386"; then
    echo -1 | as_root tee "$BINFMT/qemu-i386" >/dev/null
  fi
  if [ ! -e "$BINFMT/qemu-i386" ]; then
    printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386:F' "$I386_MAGIC" "$I386_MASK" |
      as_root tee "$BINFMT/register" >/dev/null || die "binfmt_misc refused the i386 registration"
    did+=("registered i386 with binfmt_misc")
  fi
  emulated || { echo 1 | as_root tee "$BINFMT/qemu-i386" >/dev/null; did+=("enabled the i386 entry"); }
  runs_i386 || die "i386 programs still do not start under qemu-i386"
  say "this kernel runs no 32-bit x86 programs; they run under qemu-i386 $(qemu_major): $(IFS=,; echo "${did[*]}" | sed 's/,/, /g')"
fi
