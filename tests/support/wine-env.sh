# Sourced by the scripts that run Wine. Sets the environment of the private
# prefix and creates the prefix once per build tree.
# ZORVIK_WINE_ARCH: win32 (the default) or win64, a WoW64 prefix in which the
# installer runs as a 32-bit program.
zorvik_wine_env() {
  local root=${ZORVIK_WINE_ROOT:-}
  if [ -z "$root" ]; then
    # Walk up from the working directory to the build tree (it holds CMakeCache.txt).
    local d=$PWD
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ -f "$d/CMakeCache.txt" ] || { echo "wine-env: no build tree above $PWD; set ZORVIK_WINE_ROOT" >&2; return 1; }
    root=$d/wine
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
