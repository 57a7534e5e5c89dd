# Sourced by everything that runs Wine: the tests, the demo and the bench.
#
#   zorvik_wine_env            the environment of a private Wine root
#                              ($ZORVIK_WINE_ROOT, default <build tree>/wine),
#                              creating its prefix once
#   zorvik_prefix_copy [--link] DEST [SOURCE]
#                              DEST becomes a Wine root of its own with a fresh
#                              copy of the build's quiet prefix, and the current one
#   zorvik_winpath PATH        a Unix path as Windows programs see it
#   zorvik_display [SCREEN]    a private virtual display when DISPLAY is unset
#
# A Wine root holds prefix/ (WINEPREFIX), home/ (HOME) and .ready (the prefix
# is complete). ZORVIK_WINE_ARCH: win32 (the default) or win64, a WoW64 prefix
# in which the installer runs as a 32-bit program.

# The build tree (the folder holding CMakeCache.txt) that holds a path.
zorvik_build_tree() {  # <path>
  local d
  d=$(realpath -m "$1")
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  [ -f "$d/CMakeCache.txt" ] || { echo "wine-env: no build tree holds $1" >&2; return 1; }
  printf '%s\n' "$d"
}

zorvik_wine_env() {
  local root=${ZORVIK_WINE_ROOT:-}
  if [ -z "$root" ]; then
    root=$(zorvik_build_tree "$PWD")/wine || { echo "wine-env: set ZORVIK_WINE_ROOT" >&2; return 1; }
  fi
  mkdir -p "$root/home"
  export ZORVIK_WINE_ROOT=$root
  export WINEPREFIX=$root/prefix
  export HOME=$root/home
  export WINEARCH=${ZORVIK_WINE_ARCH:-win32}
  if [ "$WINEARCH" = win64 ]; then
    # Debian's wine command takes the 32-bit loader; a 64-bit prefix needs the
    # 64-bit one, which starts 32-bit programs itself.
    mkdir -p "$root/bin"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$root/bin/wine"
    chmod +x "$root/bin/wine"
    case ":$PATH:" in *":$root/bin:"*) ;; *) export PATH=$root/bin:$PATH ;; esac
  fi
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  export WINEDEBUG=${WINEDEBUG:--all}
  # No menu entries in $HOME, no Mono or Gecko downloads.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  export XDG_CONFIG_HOME=$root/home/.config XDG_DATA_HOME=$root/home/.local/share XDG_CACHE_HOME=$root/home/.cache
  if [ -z "${DISPLAY:-}" ]; then
    echo "wine-env: DISPLAY is not set; run the tests through scripts/test.sh (it starts Xvfb)" >&2
  fi
  if [ ! -f "$root/.ready" ]; then
    (
      flock 9
      if [ ! -f "$root/.ready" ]; then
        wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        # The Desktop folder is a link to $HOME: make it a real folder inside the prefix.
        local desk
        for desk in "$WINEPREFIX"/drive_c/users/*/Desktop "$WINEPREFIX"/drive_c/users/*/デスクトップ; do
          if [ -L "$desk" ]; then rm -f "$desk"; mkdir -p "$desk"; fi
        done
        # The dialog's font is not in the prefix; the IPA font has the same metrics.
        local face
        for face in 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic'; do
          wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
        done
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
        # The caption buttons' symbols come from Marlett, which the prefix lacks.
        [ -f /usr/share/wine/fonts/marlett.ttf ] &&
          cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
        wineserver -w
        # A quiet copy, taken before any test runs: tests that need a prefix of
        # their own copy this one, never the shared prefix while it is in use.
        rm -rf "$root/pristine"
        cp -a "$WINEPREFIX" "$root/pristine"
        touch "$root/.ready"
      fi
    ) 9>"$root/.lock"
  fi
}

# zorvik_prefix_copy [--link] <dest root> [<source prefix>]
# Makes <dest root> (inside a build tree) a Wine root of its own: prefix/ a
# fresh copy of <source prefix>, by default the quiet snapshot of the build
# tree's prefix (made first when missing), an empty home/ and .ready. A Wine
# server still running on an earlier prefix there is ended first. Then sets
# the environment for the new root, as zorvik_wine_env does.
# --link: the files under drive_c/windows that installations only read
# (programs, libraries, fonts, tables) are hard links to the source's, which
# takes a few hundredths of a second instead of one and a half; a write into
# one of them would change the source too, so link only from a source of
# your own and check it afterwards.
zorvik_prefix_copy() {
  local link=0 dest build source
  if [ "${1:-}" = --link ]; then link=1; shift; fi
  dest=$(realpath -m "$1")
  build=$(zorvik_build_tree "$dest") || return 1
  # The build's base prefix of the architecture asked for.
  local base=$build/wine
  [ "${ZORVIK_WINE_ARCH:-win32}" = win32 ] || base=$build/wine-$ZORVIK_WINE_ARCH
  source=${2:-$base/pristine}
  if [ -z "${2:-}" ]; then
    (ZORVIK_WINE_ROOT=$base; zorvik_wine_env) || return 1
  fi
  [ -d "$source/drive_c" ] || { echo "wine-env: no Wine prefix in $source" >&2; return 1; }
  if [ -d "$dest/prefix" ]; then
    WINEPREFIX=$dest/prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$dest/prefix wineserver -w 2>/dev/null || true
  fi
  rm -rf "$dest"
  mkdir -p "$dest/home"
  if [ $link = 1 ]; then
    cp -al "$source" "$dest/prefix"
    # Every other file gets a copy of its own (one cp for all of them).
    (cd "$source" && find . -type f ! \( -path './drive_c/windows/*' -regextype posix-extended \
        -iregex '.*\.(dll|exe|drv|sys|ocx|cpl|acm|tlb|ax|msstyles|ttf|nls|mui|vxd|ds|tsp)' \) -print0 |
      xargs -0 -r cp -p --parents --remove-destination -t "$dest/prefix")
  else
    cp -a "$source" "$dest/prefix"
  fi
  # Wine links the users' Documents, Music... to $HOME: this root's home, not the source's.
  local l
  while IFS= read -r -d '' l; do
    ln -sfn "$dest/home" "$l"
  done < <(find "$dest/prefix/drive_c/users" -type l -lname '/*' -print0)
  touch "$dest/.ready"
  export ZORVIK_WINE_ROOT=$dest
  zorvik_wine_env
}

# A Unix path as Windows programs under Wine see it (drive Z: is /).
zorvik_winpath() {  # <unix path>
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# zorvik_display [<width>x<height>x<depth>]   (default 1024x768x24)
# When DISPLAY is unset, starts a private Xvfb on a display number the server
# picks itself (-displayfd), exports DISPLAY and returns; the server ends when
# the calling shell ends, however it ends. Call it from the script's own shell,
# not from a subshell. With DISPLAY set, does nothing.
zorvik_display() {
  [ -z "${DISPLAY:-}" ] || return 0
  command -v Xvfb >/dev/null || { echo "wine-env: Xvfb is missing (scripts/bootstrap.sh installs it)" >&2; return 1; }
  local number pid
  number=$(mktemp)
  # The server's parent is this shell: its death signal stops the server.
  setpriv --pdeathsig TERM Xvfb -displayfd 9 -screen 0 "${1:-1024x768x24}" -nolisten tcp \
    9>"$number" </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 100); do [ -s "$number" ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if [ ! -s "$number" ]; then
    kill "$pid" 2>/dev/null; rm -f "$number"
    echo "wine-env: Xvfb did not start" >&2; return 1
  fi
  export DISPLAY=:$(head -n1 "$number")
  rm -f "$number"
}
