#!/usr/bin/env bash
# Builds the installer and runs it under Wine, in a private prefix inside the
# build tree (<build>/demo), on Wine's virtual desktop so the dialog has its frame.
#
#   bash scripts/demo.sh [--update-docs]
#
# With a display: opens the installer for you and waits until every program
#   it started has ended.
# Without one: runs on its own virtual display, presses the start button
#   itself, saves screenshots (<build>/demo/*.png) and prints what was
#   installed where.
# --update-docs: always on a virtual display; also copies the screenshots of
#   the dialog and of the installation into docs/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build
docs_pictures=(dialog installing)

say() { printf '\033[1mdemo:\033[0m %s\n' "$*"; }
die() { printf 'demo: error: %s\n' "$*" >&2; exit 1; }

update_docs=0
case $# in
  0) ;;
  1) [ "$1" = --update-docs ] || die "unknown option $1 (usage: demo.sh [--update-docs])"
     update_docs=1 ;;
  *) die "usage: demo.sh [--update-docs]" ;;
esac

# --- build -----------------------------------------------------------------
if ! bash "$root/scripts/build.sh"; then
  say "the full build failed; building just the installer and the test driver"
  cmake --build "$build" --target ZorvikSetup zorvik_e2e_driver || die "build failed"
fi
installer=$build/app/ZorvikSetup.exe
driver=$build/tests/e2e/zorvik_e2e_driver.exe
[ -f "$installer" ] || die "no installer at $installer"
[ -f "$driver" ] || die "no driver at $driver"

source "$root/tests/support/wine-env.sh"

# --- a virtual display when there is none ----------------------------------
[ $update_docs = 0 ] || unset DISPLAY
headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  # The screen is as large as the virtual desktop, so screen and desktop
  # coordinates are the same.
  zorvik_display 800x600x24 || die "no virtual display"
  say "virtual display $DISPLAY"
fi

# --- the demo prefix: a fresh copy of the build's prefix -------------------
demo=$build/demo
say "copying the prefix into $demo"
zorvik_prefix_copy "$demo" || die "cannot make the demo's prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT

c=$WINEPREFIX/drive_c
sys32=$c/windows/system32
sys_before=$(ls "$sys32")

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
    links=$(cd "$c" && find users ProgramData -name '*.lnk' -newer "$demo/.ready" -printf '    C:\\%p\n' 2>/dev/null)
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
  wine explorer /desktop=Zorvik,800x600 "$(zorvik_winpath "$installer")" || true
  wineserver -w
  summary "$c/Program Files/Zorvik" ""
  exit 0
fi

# --- headless: the driver presses the buttons, the script takes pictures ----
wine explorer /desktop=Zorvik,800x600 >/dev/null 2>&1 &
sync_dir=$demo/sync
mkdir -p "$sync_dir"
sync_win=$(zorvik_winpath "$sync_dir")
script=$demo/demo-script.txt
# The program: the package's first entry, from the table the build writes.
program=$(awk '$1 == "0" {print $3}' "$build/payloads/package-table.txt")
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
expect-launched C:\\Program Files\\Zorvik\\$program
expect-link 23 Zorvik\\Zorvik.lnk C:\\Program Files\\Zorvik\\$program
expect-link 25 Zorvik.lnk C:\\Program Files\\Zorvik\\$program
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
wine "$driver" --desktop Zorvik "$(zorvik_winpath "$installer")" "$(zorvik_winpath "$script")" >"$log" 2>&1
rc=$?
set -e
grep -E 'FAIL' "$log" >&2 || true
wait "$watcher" || true
[ "$rc" -eq 0 ] || die "the driver reported a failure (log: $log)"

if [ $update_docs = 1 ]; then
  for name in "${docs_pictures[@]}"; do
    [ -f "$demo/$name.png" ] || die "no screenshot $demo/$name.png for docs/"
  done
  for name in "${docs_pictures[@]}"; do
    cp "$demo/$name.png" "$root/docs/.$name.png.tmp"
    mv "$root/docs/.$name.png.tmp" "$root/docs/$name.png"
    say "docs/$name.png updated"
  done
fi
summary "$c/Program Files/Zorvik" "$log"
say "screenshots: $(cd "$demo" && ls ./*.png | tr '\n' ' ')"
exit 0
