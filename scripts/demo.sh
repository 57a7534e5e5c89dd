#!/usr/bin/env bash
# Builds the installer and runs it under Wine, in a private prefix inside the
# build tree (<build>/demo), on Wine's virtual desktop so the dialog has its frame.
#
#   bash scripts/demo.sh
#
# With a display: opens the installer for you and waits until every program
#   it started has ended.
# Without one: runs on its own virtual display, presses the start button
#   itself, saves screenshots (<build>/demo/*.png, the dialog also as
#   docs/dialog.png) and prints what was installed where.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build

say() { printf '\033[1mdemo:\033[0m %s\n' "$*"; }
die() { printf 'demo: error: %s\n' "$*" >&2; exit 1; }

# --- build -----------------------------------------------------------------
if ! bash "$root/scripts/build.sh"; then
  say "the full build failed; building just the installer and the test driver"
  cmake --build "$build" --target ZorvikSetup zorvik_e2e_driver || die "build failed"
fi
installer=$build/app/ZorvikSetup.exe
driver=$build/tests/e2e/zorvik_e2e_driver.exe
[ -f "$installer" ] || die "no installer at $installer"
[ -f "$driver" ] || die "no driver at $driver"

# --- a virtual display when there is none ----------------------------------
headless=0
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/bootstrap.sh installs it)"
  dfile=$(mktemp)
  # The screen is as large as the virtual desktop, so screen and desktop
  # coordinates are the same.
  Xvfb -displayfd 6 -screen 0 800x600x24 -nolisten tcp 6>"$dfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$dfile" ] && break; sleep 0.1; done
  [ -s "$dfile" ] || die "Xvfb did not start"
  export DISPLAY=:$(head -n1 "$dfile")
  rm -f "$dfile"
  say "virtual display $DISPLAY"
fi

# --- the demo prefix: a fresh copy of the build's prefix -------------------
source "$root/tests/support/wine-env.sh"
(export ZORVIK_WINE_ROOT=$build/wine; zorvik_wine_env)
demo=$build/demo
if [ -d "$demo/wine/prefix" ]; then WINEPREFIX=$demo/wine/prefix wineserver -k 2>/dev/null || true; fi
rm -rf "$demo"
mkdir -p "$demo/wine/home"
say "copying the prefix into $demo/wine"
cp -a "$build/wine/pristine" "$demo/wine/prefix"
touch "$demo/wine/.ready"
export ZORVIK_WINE_ROOT=$demo/wine
zorvik_wine_env

cleanup() {
  local rc=$?
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  exit $rc
}
trap cleanup EXIT

c=$WINEPREFIX/drive_c
sys32=$c/windows/system32
sys_before=$(ls "$sys32")

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

summary() {
  local folder=$1 log=$2 f
  echo
  say "installed into C:\\Program Files\\Zorvik ($folder):"
  if [ -d "$folder" ]; then
    for f in "$folder"/*; do printf '    %-14s %9d bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"; done
  else
    echo "    (nothing: the installation did not run)"
  fi
  say "written into the system folder C:\\windows\\system32:"
  local new
  new=$(comm -13 <(echo "$sys_before") <(ls "$sys32"))
  if [ -n "$new" ]; then
    for f in $new; do printf '    %-14s %9d bytes\n' "$f" "$(stat -c %s "$sys32/$f")"; done
  else
    echo "    (none)"
  fi
  say "shortcuts:"
  if [ -n "$log" ] && grep -q '^driver: link ' "$log"; then
    sed -n 's/^driver: link /    /p' "$log"
  else
    local links
    links=$(find "$c/users" -name '*.lnk' -newer "$demo/wine/.ready" -printf '    C:\\users\\%P\n' 2>/dev/null)
    echo "${links:-    (none)}" | tr '/' '\\'
  fi
  say "program started:"
  if [ -n "$log" ]; then
    sed -n 's/^driver: running: /    /p' "$log"
  else
    echo "    (see the virtual desktop)"
  fi
}

# --- with a display: the user drives -----------------------------------------
if [ $headless = 0 ]; then
  say "opening the installer on a virtual desktop (close it, or the program it starts, to finish)"
  wine explorer /desktop=Zorvik,800x600 "$(winpath "$installer")" || true
  wineserver -w
  summary "$c/Program Files/Zorvik" ""
  exit 0
fi

# --- headless: the driver presses the buttons, the script takes pictures ----
wine explorer /desktop=Zorvik,800x600 >/dev/null 2>&1 &
sync_dir=$demo/sync
mkdir -p "$sync_dir"
sync_win=$(winpath "$sync_dir")
script=$demo/demo-script.txt
cat >"$script" <<EOF
# Show the dialog as it opens, press the start button, catch the run halfway.
expect-folder C:\\Program Files\\Zorvik
print-screen-metrics
mark $sync_win\\dialog.ready
wait-file $sync_win\\dialog.done
click 1
wait-progress 50
suspend
flush
mark $sync_win\\installing.ready
wait-file $sync_win\\installing.done
resume
expect-exit 0
expect-launched C:\\Program Files\\Zorvik\\Zorvik.exe
expect-link 2 Zorvik\\Zorvik.lnk C:\\Program Files\\Zorvik\\Zorvik.exe
expect-link 16 Zorvik.lnk C:\\Program Files\\Zorvik\\Zorvik.exe
expect-no-temp-files ZIN*.tmp
sleep 1500
mark $sync_win\\program.ready
wait-file $sync_win\\program.done
EOF

shoot() {  # <name> [crop geometry]
  xwd -root -silent -display "$DISPLAY" | convert xwd:- ${2:+-crop "$2" +repage} "$demo/$1.png"
  say "screenshot $demo/$1.png"
}

# Takes each picture when the driver has marked the moment, then lets it go on.
watch() {
  local log=$1 name geometry rect
  for name in dialog installing program; do
    for _ in $(seq 600); do [ -e "$sync_dir/$name.ready" ] && break; sleep 0.1; done
    [ -e "$sync_dir/$name.ready" ] || return 0
    sleep 0.5  # let the last paint reach the screen
    if [ $name = dialog ]; then
      rect=$(sed -n 's/^driver: dialog rect \([-0-9,]*\);.*/\1/p' "$log" | head -n1)
      IFS=, read -r l t r b <<<"$rect"
      geometry="$((r - l))x$((b - t))+$l+$t"
      shoot dialog "$geometry"
      shoot dialog-desktop
    elif [ $name = installing ]; then
      shoot installing "$geometry"
    else
      shoot program
    fi
    touch "$sync_dir/$name.done"
  done
}

log=$demo/driver.log
: >"$log"
watch "$log" &
watcher=$!
say "running the installer; the driver presses the start button"
# Into a file, not a pipe: the programs Wine starts keep their parent's output open.
set +e
wine "$driver" --desktop Zorvik "$(winpath "$installer")" "$(winpath "$script")" >"$log" 2>&1
rc=$?
set -e
grep -E 'FAIL' "$log" >&2 || true
wait "$watcher" || true
[ "$rc" -eq 0 ] || die "the driver reported a failure (log: $log)"

mkdir -p "$root/docs"
cp "$demo/dialog.png" "$root/docs/dialog.png"
[ -f "$demo/installing.png" ] && cp "$demo/installing.png" "$root/docs/installing.png"
say "docs/dialog.png and docs/installing.png updated"
summary "$c/Program Files/Zorvik" "$log"
say "screenshots: $(cd "$demo" && ls ./*.png | tr '\n' ' ')"
exit 0
