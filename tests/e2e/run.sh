#!/usr/bin/env bash
# One end-to-end scenario of the installer under Wine.
#   run.sh <scenario>[@<platform>] <build> <ZorvikSetup.exe> <driver.exe> <planted lz32.dll>
#          <static_lz_probe.exe> [<large installer> <its package folder> [<damaged installer>]]
# Each scenario works in its own copy of the build's prefix (<build>/e2e/<scenario>;
# standard_user's in a folder of /tmp, which its account can reach wherever the
# build is), because installing changes the system folder, the shell folders and
# the registry. The copy is removed when the scenario passes and kept when it fails.
# Platforms: win64, a 64-bit (WoW64) prefix; win2k, winxp, win7, win10, the 32-bit
# prefix reporting that version of Windows. Without one: the 32-bit prefix as it is.
set -euo pipefail
name=$1 scenario=${1%@*} platform=
[ "$scenario" = "$1" ] || platform=${1#*@}
build=$(realpath "$2") installer=$(realpath "$3") driver=$(realpath "$4")
planted=$(realpath "$5") probe=$(realpath "$6")
large=${7:+$(realpath "$7")} large_pkg=${8:+$(realpath "$8")} damaged=${9:+$(realpath "$9")}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck source=../support/wine-env.sh
source "$here/../support/wine-env.sh"
zorvik_display

say() { printf 'e2e.%s: %s\n' "$name" "$*"; }
fail() { printf 'e2e.%s: FAIL: %s\n' "$name" "$*" >&2; exit 1; }
skip() { say "SKIPPED: $*"; exit 77; }

# --- the scenario's prefix -------------------------------------------------
root=$build/e2e/$name
if mountpoint -q "$root/drive-f" 2>/dev/null; then umount -l "$root/drive-f"; fi
[ "$platform" = win64 ] && export ZORVIK_WINE_ARCH=win64
zorvik_prefix_copy "$root"
case $platform in
  ''|win64) ;;
  win2k|winxp|win7|win10)
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$platform" /f >/dev/null
    ver=$(wine cmd /c ver </dev/null 2>/dev/null | tr -d '\r' | grep -m1 .)
    case $platform:$ver in
      win2k:*' 5.0.'*|winxp:*' 5.1.'*|win7:*' 6.1.'*|win10:*' 10.0.'*) say "Wine reports: $ver" ;;
      *) fail "Wine reports '$ver', not $platform" ;;
    esac ;;
  *) fail "unknown platform $platform" ;;
esac
if [ "$scenario" = standard_user ]; then
  # An account of its own cannot enter a build under a private home folder: it
  # gets the prefix, the installer and the driver in a folder of its own in /tmp.
  work=$(mktemp -d -p /tmp zorvik-e2e.XXXXXX)
  mv "$root/prefix" "$root/home" "$root/.ready" "$work/" && rmdir "$root"
  root=$work
  while IFS= read -r -d '' l; do ln -sfn "$root/home" "$l"; done \
    < <(find "$root/prefix/drive_c/users" -type l -lname '/*' -print0)
  export ZORVIK_WINE_ROOT=$root; zorvik_wine_env
  cp "$installer" "$root/ZorvikSetup.exe"; cp "$driver" "$root/driver.exe"
  installer=$root/ZorvikSetup.exe driver=$root/driver.exe
fi
started=$(date +%s)

as_user=()  # the command prefix that runs Wine as a standard user, when a scenario sets it
drive_f=    # a small drive mounted by the scenario
stopped=    # the Linux process of a program that the scenario stopped (SIGSTOP)
finish() {
  local rc=$?
  [ -z "$stopped" ] || kill -CONT "$stopped" 2>/dev/null || true
  # Ends every process of this prefix, the installed program included.
  "${as_user[@]}" wineserver -k 2>/dev/null || true
  "${as_user[@]}" wineserver -w 2>/dev/null || true
  [ -z "$drive_f" ] || umount "$drive_f" || umount -l "$drive_f"
  if [ $rc -eq 0 ] || [ $rc -eq 77 ]; then
    rm -rf "$root"
    [ $rc -eq 77 ] || say "passed in $(( $(date +%s) - started )) s"
  else
    say "failed after $(( $(date +%s) - started )) s; prefix kept in $root"
  fi
}
trap finish EXIT

c=$WINEPREFIX/drive_c
sys32=$c/windows/system32 pf='C:\Program Files'
# A 32-bit program on 64-bit Windows: the 32-bit system folder and program files.
[ "$platform" != win64 ] || sys32=$c/windows/syswow64 pf='C:\Program Files (x86)'
pf_unix="$c/${pf#C:\\}"
pkg=$build/package-files
# The package, from the table the build writes: installation-folder files
# (the first is the program that is started) and runtime libraries.
table=$build/payloads/package-table.txt
mapfile -t folder_files < <(awk '$1 ~ /^[0-9]+$/ && $4 == "D" {print $3}' "$table")
mapfile -t runtime < <(awk '$1 ~ /^[0-9]+$/ && $4 == "S" {print $3}' "$table")
[ ${#folder_files[@]} -gt 1 ] && [ ${#runtime[@]} -gt 0 ] || fail "no package table in $table"
for n in "${folder_files[@]}" "${runtime[@]}"; do [ -f "$pkg/$n" ] || fail "missing $pkg/$n"; done
program=${folder_files[0]} text_file=${folder_files[1]} library=${runtime[-1]}

# drive <installer (Windows path) | -> : runs the driver on the script read from stdin.
drive() {
  local script
  script=$(mktemp "$root/script.XXXX")
  cat >"$script"
  chmod a+r "$script"
  say "driver script:"; sed 's/^/    /' "$script"
  "${as_user[@]}" wine "$driver" "$1" "$(zorvik_winpath "$script")" || fail "the driver reported a failure"
}

# The file of that name in a folder, whatever its case (as Windows would find it).
find_ci() { find "$1" -maxdepth 1 -iname "$2" -print -quit 2>/dev/null; }
# Runs the command every tenth of a second until it succeeds, for 30 s at most.
wait_until() { local _; for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }
stamp_of() { [ -n "$1" ] && stat -c '%s %Y.%y' "$1" && sha256sum <"$1"; }

check_folder_files() {  # <unix folder>
  local f
  for f in "${folder_files[@]}"; do
    [ -f "$1/$f" ] || fail "$f was not installed into $1"
    cmp -s "$pkg/$f" "$1/$f" || fail "$1/$f differs from the package's file"
  done
  say "the 14 files in $1 match the package byte for byte"
}

# Nothing left behind in the folders (default: drive C:): no temporary file, and
# no name ending in '_', which LZOpenFileA creates when it cannot create a name.
check_no_temp_files() {
  local left
  left=$(find "${@:-$c}" \( -iname 'ZIN*.tmp' -o -name '*_' \) 2>/dev/null | head -5)
  [ -z "$left" ] || fail "temporary files left behind: $left"
}

# An administrative installation puts its links into the common folders of
# everyone who uses the computer.
check_common_links() {  # both links in the common folders, none elsewhere in the prefix or in $HOME
  local want found
  want=$(printf '%s\n' "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvik/Zorvik.lnk" \
    "$c/users/Public/Desktop/Zorvik.lnk")
  found=$(find "$c" -name Zorvik.lnk | sort)
  [ "$found" = "$want" ] || fail "the links are not exactly the two in the common folders: ${found:-none}"
  [ -z "$(find "$HOME" -name '*.lnk' 2>/dev/null)" ] || fail "a link file was written into \$HOME"
}

# Records the system folder's runtime libraries before an installation.
declare -A sys_before
record_system_runtime() {
  local n
  for n in "${runtime[@]}"; do sys_before[$n]=$(stamp_of "$(find_ci "$sys32" "$n")" || true); done
}

# After an installation into <unix folder>: each runtime library went to the
# system folder if it was absent there, otherwise into the folder as a private
# copy, leaving the system folder's file untouched.
check_runtime() {
  local n sysfile
  for n in "${runtime[@]}"; do
    sysfile=$(find_ci "$sys32" "$n")
    if [ -n "${sys_before[$n]}" ]; then
      cmp -s "$pkg/$n" "$1/$n" || fail "$n: no private copy in $1 although the system folder has one"
      [ "$(stamp_of "$sysfile")" = "${sys_before[$n]}" ] || fail "$n in the system folder was changed"
      say "$n: private copy in the folder; system folder's $(basename "$sysfile") untouched"
    else
      [ -n "$sysfile" ] && cmp -s "$pkg/$n" "$sysfile" || fail "$n was not written into the system folder"
      [ -z "$(find_ci "$1" "$n")" ] || fail "$n was also written into $1"
      say "$n: written into the system folder (it was absent there)"
    fi
  done
}

# After a killed run: under its real name, each file of the package is whole
# or absent, in <unix folder> and (where it had none before) in the system
# folder; and nothing of the run is left in either, nor in the temporary folder.
check_whole_or_absent() {
  local n f left
  for n in "${folder_files[@]}" "${runtime[@]}"; do
    for f in "$(find_ci "$1" "$n")" "$([ -n "${sys_before[$n]:-}" ] || find_ci "$sys32" "$n")"; do
      [ -z "$f" ] || cmp -s "$pkg/$n" "$f" || fail "$f is partial: $(stat -c %s "$f") of $(stat -c %s "$pkg/$n") bytes"
    done
  done
  left=$(find "$1" "$sys32" -maxdepth 1 -iname 'ZIN*.tmp'; find "$c/users" -path '*/Temp/*' -iname 'ZIN*.tmp')
  [ -z "$left" ] || fail "the killed run left files of its own: $left"
}

# Names, inodes, sizes and times of a folder's files: replaced by nothing.
listing() { find "$1" -maxdepth 1 -type f -printf '%f %i %s %T@\n' | sort; }

# Free bytes of the file system holding a Unix folder, as Wine's
# GetDiskFreeSpace computes them: statfs's block size times the blocks
# available, in whole clusters of 4096 bytes.
free_bytes() { local s; s=$(stat -f -c '%s %a' "$1"); echo $(( ${s% *} * ${s#* } / 4096 * 4096 )); }

# The folder tree of drive C: with modification times, for "nothing written".
snapshot() { find "$c" -path "$c/users/*/AppData/Local/Temp" -prune -o -printf '%P %T@\n' | sort; }

default_dialog_checks="expect-centred
expect-folder $pf\\Zorvik
expect-checked 1001 1
expect-checked 1002 1
expect-hidden 1008
expect-input-state"

check_installed() {  # <unix folder>: the fourteen files and the runtime libraries
  check_folder_files "$1"
  check_runtime "$1"
}

installed_checks() {  # <Windows folder>
  cat <<EOF
expect-exit 0
expect-launched $1\\$program
expect-link 23 Zorvik\\Zorvik.lnk $1\\$program
expect-link 25 Zorvik.lnk $1\\$program
expect-no-temp-files ZIN*.tmp
EOF
}

installer_win=$(zorvik_winpath "$installer")
large_win=${large:+$(zorvik_winpath "$large")}

case $scenario in
first_install)
  record_system_runtime
  drive "$installer_win" <<EOF
$default_dialog_checks
expect-random-cookie C:\cookies.txt
click 1
$(installed_checks "$pf\\Zorvik")
EOF
  check_installed "$pf_unix/Zorvik"
  check_common_links
  check_no_temp_files
  # The stack checks' guard is another random value at every start.
  drive "$installer_win" <<EOF
expect-random-cookie C:\cookies.txt
click 2
expect-exit 0
EOF
  [ "$(sort -u "$c/cookies.txt" | wc -l)" -eq 2 ] || fail "two starts had one security cookie: $(tr '\n' ' ' <"$c/cookies.txt")"
  ;;

second_install)
  drive "$installer_win" <<EOF
click 1
expect-exit 0
close-window Zorvik
EOF
  record_system_runtime
  for n in "${runtime[@]}"; do [ -n "${sys_before[$n]}" ] || fail "$n is not in the system folder after the first installation"; done
  sleep 1  # a rewrite of the system folder's files would show in their times
  drive "$installer_win" <<EOF
$default_dialog_checks
click 1
$(installed_checks "$pf\\Zorvik")
EOF
  check_installed "$pf_unix/Zorvik"
  check_no_temp_files
  # A folder of 200 characters, beyond the 127 bytes of the open-file record.
  long=$(printf 'L%.0s' $(seq 197))
  drive "$installer_win" <<EOF
set-folder C:\\$long
click 1
$(installed_checks "C:\\$long")
EOF
  check_folder_files "$c/$long"
  # A trailing dot and space go as the system drops them: the folder made is
  # the folder written, and nothing else is made.
  drive "$installer_win" <<EOF
set-folder C:\\Zorvik. 
click 1
$(installed_checks 'C:\Zorvik')
EOF
  check_folder_files "$c/Zorvik"
  [ -z "$(find "$c" -maxdepth 1 -name 'Zorvik?*')" ] || fail "a folder besides C:\\Zorvik: $(find "$c" -maxdepth 1 -name 'Zorvik?*')"
  # A relative folder, from a current directory of C:\: the program is
  # started from, and the links name, its absolute path.
  pushd "$c" >/dev/null
  drive "$installer_win" <<EOF
set-folder Zrel
click 1
$(installed_checks 'C:\Zrel')
EOF
  popd >/dev/null
  check_folder_files "$c/Zrel"
  ;;

registry_exepath)
  wine reg add 'HKCU\Software\Ostrevan\ZORVIK\Settings' /v ExePath /t REG_SZ /d 'D:\ツール\Zorvik 2' /f >/dev/null
  drive "$installer_win" <<'EOF'
expect-folder D:\ツール\Zorvik 2
click 2
expect-exit 0
EOF
  wine reg add 'HKCU\Software\Ostrevan\ZORVIK\Settings' /v ExePath /t REG_SZ /d '' /f >/dev/null
  drive "$installer_win" <<'EOF'
expect-folder 
click 2
expect-exit 0
EOF
  ;;

registry_programfiles)
  # A 32-bit program reads the 32-bit view of the registry.
  view=(); [ "$platform" != win64 ] || view=(/reg:32)
  wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /t REG_SZ /d 'D:\Programs' /f \
    "${view[@]}" >/dev/null
  drive "$installer_win" <<'EOF'
expect-folder D:\Programs\Zorvik
click 2
expect-exit 0
EOF
  ;;

cancel|damaged)
  # Cancelling, and starting an installer whose program payload has one byte
  # changed (a damaged download), change nothing on drive C:.
  exe=$installer_win steps=
  [ "$scenario" = cancel ] || exe=$(zorvik_winpath "$damaged") steps="click 1
expect-box インストーラが壊れています。もう一度入手してください。
answer ok"
  wineserver -w  # let the prefix settle before taking the snapshot
  wine cmd /c exit 0
  before=$(snapshot)
  drive "$exe" <<EOF
$steps
expect-input-state
click 2
expect-exit 0
expect-not-launched
EOF
  wineserver -k; wineserver -w
  after=$(snapshot)
  if [ "$before" != "$after" ]; then
    diff <(echo "$before") <(echo "$after") | head -20 >&2
    fail "drive C: changed"
  fi
  [ ! -e "$pf_unix/Zorvik" ] || fail "the installation folder exists"
  say "drive C: unchanged"
  ;;

temp_race)
  # Another program of the user goes for the installer's copies of its
  # payloads in the temporary folder while a default installation runs.
  record_system_runtime
  drive "$installer_win" <<EOF
race-temp ZIN*.tmp
click 1
$(installed_checks "$pf\\Zorvik")
expect-race-lost
EOF
  check_installed "$pf_unix/Zorvik"
  ;;

system_folder)
  # The system folder as the installation folder, as typed and in another
  # spelling; on 64-bit Windows also its alias for 32-bit programs.
  dirs=("$c/windows/system32") typed='C:\windows\system32'
  [ "$platform" != win64 ] || dirs+=("$c/windows/syswow64") typed='C:\windows\Sysnative'
  for d in "${dirs[@]}"; do cp "$(find_ci "$d" msvcrt.dll)" "$root/msvcrt-${d##*/}.dll"; done
  listing=$(ls -l --time-style=+%s.%N "${dirs[@]}")
  drive "$installer_win" <<EOF
set-folder $typed
click 1
expect-box ${typed}にはインストールできません。
answer ok
expect-input-state
set-folder c:\WINDOWS\.\System32\\
click 1
expect-box c:\WINDOWS\System32にはインストールできません。
answer ok
expect-input-state
click 2
expect-exit 0
expect-not-launched
EOF
  for d in "${dirs[@]}"; do
    cmp "$root/msvcrt-${d##*/}.dll" "$(find_ci "$d" msvcrt.dll)" || fail "msvcrt.dll in $d was changed"
  done
  [ "$(ls -l --time-style=+%s.%N "${dirs[@]}")" = "$listing" ] || fail "the system folder was changed"
  ;;

invalid_drive)
  rm -f "$WINEPREFIX/dosdevices/q:" "$WINEPREFIX/dosdevices/q::"
  drive "$installer_win" <<'EOF'
set-folder Q:\Zorvik
set-checked 1002 0
click 1
expect-box Q:\ドライブは無効です。
expect-hidden 1000
expect-visible 1008
expect-disabled 1
expect-disabled 2
answer ok
expect-input-state
expect-focus 1000
expect-folder Q:\Zorvik
expect-checked 1001 1
expect-checked 1002 0
click 2
expect-exit 0
expect-not-launched
EOF
  check_no_temp_files
  ;;

missing_parents_no)
  drive "$installer_win" <<'EOF'
set-folder C:\NoSuchParent\Sub\Zorvik
click 1
expect-box C:\NoSuchParent\Sub\Zorvikフォルダはありません。作成しますか？
expect-disabled 1
expect-disabled 2
answer no
expect-no-box 500
expect-input-state
expect-folder C:\NoSuchParent\Sub\Zorvik
click 2
expect-exit 0
EOF
  [ ! -e "$c/NoSuchParent" ] || fail "C:\\NoSuchParent was created although the question was answered No"
  [ -z "$(find "$c" -name Zorvik.lnk)" ] || fail "a link was created"
  check_no_temp_files
  ;;

folder_link)
  # While the question about a missing folder is open, another program makes
  # its parent and, in it, a link to the system folder at the folder's name
  # (on Windows a junction, which any account may make where it may write).
  # The run refuses it: nothing written into the link's target, nothing of
  # the run left.
  listing_sys=$(ls -l --time-style=+%s.%N "$sys32")
  drive "$installer_win" <<EOF &
set-folder C:\Tools\Zorvik
click 1
expect-box C:\Tools\Zorvikフォルダはありません。作成しますか？
mark $(zorvik_winpath "$root/asked")
wait-file $(zorvik_winpath "$root/linked")
answer yes
expect-box C:\Tools\Zorvikは別の場所へのリンクです。インストールできません。
answer ok
expect-input-state
click 2
expect-exit 0
expect-not-launched
EOF
  asking=$!
  wait_until test -e "$root/asked" || true   # the driver fails on its own when the question never came
  mkdir -p "$c/Tools"; ln -s "$sys32" "$c/Tools/Zorvik"; touch "$root/linked"
  wait $asking || fail "the driver reported a failure"
  [ "$(ls -l --time-style=+%s.%N "$sys32")" = "$listing_sys" ] || fail "the system folder was changed"
  [ -z "$(find "$c" -name Zorvik.lnk)" ] || fail "a link was created"
  check_no_temp_files
  ;;

foreign_files)
  # A folder of the user's own, with a file of one of the package's names and
  # no program of an earlier installation: the user is asked; No leaves the
  # folder as it was, Yes installs.
  own=${folder_files[2]}
  mkdir -p "$c/Docs"; echo 'notes of my own' >"$c/Docs/$own"
  ask='C:\Docsフォルダには同じ名前のファイルがあります。置き換えてインストールしますか？'
  drive "$installer_win" <<EOF
set-folder C:\Docs
click 1
expect-box $ask
answer no
expect-input-state
expect-focus 1000
click 2
expect-exit 0
EOF
  [ "$(cat "$c/Docs/$own")" = 'notes of my own' ] && [ "$(ls "$c/Docs")" = "$own" ] ||
    fail "the answer No changed the folder: $(ls "$c/Docs")"
  record_system_runtime
  drive "$installer_win" <<EOF
set-folder C:\Docs
click 1
expect-box $ask
answer yes
$(installed_checks 'C:\Docs')
EOF
  check_installed "$c/Docs"
  ;;

dbcs_folder)
  # 表 is 0x95 0x5C in code page 932: its second byte has the value of a backslash.
  record_system_runtime
  drive "$installer_win" <<EOF
set-folder C:\\ソフト\\表
click 1
expect-box C:\\ソフト\\表フォルダはありません。作成しますか？
answer yes
$(installed_checks 'C:\ソフト\表')
EOF
  check_installed "$c/ソフト/表"
  others=$(find "$c/ソフト" -mindepth 1 -maxdepth 1 ! -name 表)
  [ -z "$others" ] || fail "unexpected entries in C:\\ソフト: $others"
  check_common_links
  ;;

planted_lz32)
  override="${WINEDLLOVERRIDES};lz32=n,b"
  # Control: a program that imports LZ32 statically loads the planted DLL.
  mkdir -p "$c/Probe"
  cp "$probe" "$c/Probe/static_lz_probe.exe"
  cp "$planted" "$c/Probe/lz32.dll"
  WINEDLLOVERRIDES=$override wine "$c/Probe/static_lz_probe.exe" || true
  [ -f "$c/Probe/lz32-planted-loaded.txt" ] \
    || fail "control failed: a static LZ32 import did not load the planted DLL, so this test proves nothing"
  say "control: the planted lz32.dll is loaded by a static import under lz32=n,b"
  # The installer, started from a download folder holding a planted lz32.dll.
  mkdir -p "$c/Downloads"
  cp "$installer" "$c/Downloads/ZorvikSetup.exe"
  cp "$planted" "$c/Downloads/lz32.dll"
  record_system_runtime
  WINEDLLOVERRIDES=$override drive 'C:\Downloads\ZorvikSetup.exe' <<EOF
click 1
$(installed_checks "$pf\\Zorvik")
EOF
  [ ! -e "$c/Downloads/lz32-planted-loaded.txt" ] || fail "the installer loaded the planted lz32.dll"
  check_installed "$pf_unix/Zorvik"
  say "the installer did not load the planted lz32.dll and installed everything"
  ;;

upgrade_full_drive)
  # Drive F: is a real file system of 300 KB: the package fits, the large
  # build's program does not, and its failed upgrade must keep the old one.
  mkdir "$root/drive-f"
  mount -t tmpfs -o size=300k zorvik-e2e "$root/drive-f" 2>/dev/null || skip "cannot mount a tmpfs here"
  drive_f=$root/drive-f
  ln -sfn "$drive_f" "$WINEPREFIX/dosdevices/f:"
  record_system_runtime
  drive "$installer_win" <<EOF
set-folder F:\Zorvik
click 1
expect-box F:\ドライブはディスク容量が足りません(空き$(free_bytes "$drive_f")bytes)。よろしいですか？
answer yes
$(installed_checks 'F:\Zorvik')
close-window Zorvik
EOF
  check_installed "$drive_f/Zorvik"
  drive "$large_win" <<EOF
set-folder F:\Zorvik
click 1
expect-box F:\ドライブはディスク容量が足りません(空き$(free_bytes "$drive_f")bytes)。よろしいですか？
answer yes
expect-box F:\Zorvik\\${program}がインストールませんでした。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  [ -f "$drive_f/Zorvik/$program" ] || fail "the failed upgrade removed the old $program"
  check_installed "$drive_f/Zorvik"  # still the old files, byte for byte
  check_no_temp_files "$drive_f"
  # An update that fills the drive part-way: ten pages are left, room for
  # the first three new files, not for the fourth.
  fallocate -l $(( $(free_bytes "$drive_f") - 40960 )) "$drive_f/filler"
  fourth=${folder_files[3]}
  before=$(listing "$drive_f/Zorvik")
  drive "$installer_win" <<EOF
set-folder F:\Zorvik
click 1
expect-box F:\ドライブはディスク容量が足りません(空き40960bytes)。よろしいですか？
answer yes
expect-box F:\Zorvik\\${fourth}がインストールませんでした。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  [ "$(listing "$drive_f/Zorvik")" = "$before" ] || fail "the update that filled the drive changed the installation"
  check_no_temp_files "$drive_f"
  # The drive's root as the folder, typed as F:\ (not F:, the drive's current
  # folder), where a killed run left a file of its own.
  rm -rf "$drive_f/filler" "$drive_f/Zorvik"
  echo 'left by a killed run' >"$drive_f/ZIN0ABC.tmp"
  drive "$installer_win" <<EOF
set-folder F:\\
click 1
expect-box F:\ドライブはディスク容量が足りません(空き$(free_bytes "$drive_f")bytes)。よろしいですか？
answer yes
$(installed_checks 'F:')
EOF
  check_folder_files "$drive_f"
  check_no_temp_files "$drive_f"
  ;;

interrupted)
  # Killed while expanding a large file into the installation folder, then
  # into the system folder; then a run that is let finish.
  pkg=$large_pkg
  record_system_runtime
  kill_while_expanding() {  # <Windows folder> <file>: killed once a new file there holds 200,000 bytes
    drive "$large_win" <<EOF
click 1
wait-size 200000 $1\\ZIN*.tmp
kill
EOF
    check_whole_or_absent "$pf_unix/Zorvik"
    say "killed while expanding $2 into $1: nothing of the run is left"
  }
  kill_while_expanding "$pf\\Zorvik" "$program"
  kill_while_expanding 'C:\windows\system32' "$library"
  drive "$large_win" <<EOF
click 1
$(installed_checks "$pf\\Zorvik")
EOF
  check_installed "$pf_unix/Zorvik"
  check_whole_or_absent "$pf_unix/Zorvik"
  ;;

two_at_once)
  # Two builds into one folder at once: the package's runs from start to end
  # while the large one is frozen in the middle of the program. Both start
  # their program, and the folder holds the last run's files, each whole.
  # The runtime libraries are in the system folder already: both make private copies.
  for n in "${runtime[@]}"; do [ -n "$(find_ci "$sys32" "$n")" ] || cp "$pkg/$n" "$sys32/$n"; done
  record_system_runtime
  pkg=$large_pkg
  paused=$(zorvik_winpath "$root/paused") done=$(zorvik_winpath "$root/done")
  drive "$large_win" <<EOF &
click 1
wait-size 200000 C:\Program Files\Zorvik\\$program|C:\Program Files\Zorvik\ZIN*.tmp
suspend
mark $paused
wait-file $done
resume
expect-exit 0
expect-launched C:\Program Files\Zorvik\\$program
EOF
  frozen=$!
  # Its program ends before the frozen run goes on: Windows replaces no running program.
  drive "$installer_win" <<EOF
wait-file $paused
click 1
expect-exit 0
expect-launched C:\Program Files\Zorvik\\$program
close-window Zorvik
mark $done
EOF
  wait $frozen || fail "the installer that was frozen did not complete"
  check_installed "$pf_unix/Zorvik"
  check_no_temp_files
  ;;

running_program)
  # Updating a folder whose program runs: the program of another folder does
  # not count; the user is asked; a program that does not end in time is left
  # running and nothing is written; one that ends is updated and started again.
  drive "$installer_win" <<EOF
set-folder C:\Other
click 1
$(installed_checks 'C:\Other')
EOF
  drive "$large_win" <<EOF
set-folder C:\Zup
click 1
$(installed_checks 'C:\Zup')
EOF
  pkg=$large_pkg check_folder_files "$c/Zup"
  ask="C:\\Zup\\${program}が実行中です。終了してインストールを続けますか？"
  drive "$installer_win" <<EOF
remember-program C:\Zup\\$program
set-folder C:\Zup
click 1
expect-box $ask
answer no
expect-input-state
click 2
expect-exit 0
expect-remembered-running
EOF
  pkg=$large_pkg check_folder_files "$c/Zup"
  # A program that answers nothing: waited for until the deadline, never killed.
  stopped=$(pgrep -f 'Zup.Zorvik\.exe') || fail "no Linux process runs C:\\Zup\\$program"
  [ "$(wc -w <<<"$stopped")" -eq 1 ] || { stopped=; fail "more than one Linux process runs C:\\Zup\\$program"; }
  kill -STOP "$stopped"; say "stopped C:\\Zup\\$program (Linux process $stopped)"
  drive "$installer_win" <<EOF
set-folder C:\Zup
click 1
expect-box $ask
answer yes
expect-no-box 9000
timeout 40000
expect-box C:\Zup\\${program}を終了できませんでした。終了してから、もう一度「インストール開始」をクリックしてください。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  kill -0 "$stopped" || fail "the stopped program was ended"
  kill -CONT "$stopped"; stopped=
  pkg=$large_pkg check_folder_files "$c/Zup"
  drive "$installer_win" <<EOF
remember-program C:\Zup\\$program
set-folder C:\Zup
click 1
expect-box $ask
answer yes
$(installed_checks 'C:\Zup')
expect-launched C:\Other\\$program
EOF
  check_folder_files "$c/Zup"
  # A program with two windows, the second of which may not end now: every
  # window is asked first, neither is told that the session ends or to
  # close, and nothing is written.
  mkdir "$c/Ztwo"; cp "$c/Zup"/* "$c/Ztwo/"; cp "$driver" "$c/Ztwo/$program"
  wine 'C:\Ztwo\'"$program" --two-windows 'C:\two.log' >"$root/two.out" 2>&1 &
  wait_until grep -qs ready "$c/two.log" || fail "the program with two windows did not start"
  before=$(listing "$c/Ztwo")
  drive "$installer_win" <<EOF
set-folder C:\Ztwo
click 1
expect-box C:\Ztwo\\${program}が実行中です。終了してインストールを続けますか？
answer yes
expect-box C:\Ztwo\\${program}を終了できませんでした。終了してから、もう一度「インストール開始」をクリックしてください。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  [ "$(listing "$c/Ztwo")" = "$before" ] || fail "the update that a window refused changed the installation"
  told=$(tr -d '\r' <"$c/two.log" | grep -v ready)
  say "the two windows were told: $(tr '\n' ',' <<<"$told")"
  [ "$(sort <<<"$told" | tr '\n' ,)" = "1 end 0,1 query 0,2 end 0,2 query 0," ] \
    || fail "the two windows were not asked, then told that the session goes on, each once"
  [ "$(cut -d' ' -f2 <<<"$told" | uniq | tr '\n' ,)" = "query,end," ] || fail "a window was told before both were asked"
  check_no_temp_files
  ;;

standard_user)
  # Wine as an account without rights over the administrator's files (root
  # writes through any permission). Debian's Wine names the root's server
  # folder in the prefix: the account makes its own.
  [ "$(id -u)" -eq 0 ] || skip "not root: cannot make the standard user's account"
  account=zorvik-e2e
  id -u $account >/dev/null 2>&1 || useradd --system --no-create-home $account 2>/dev/null ||
    skip "useradd refused to make the account $account"
  rm -f "$WINEPREFIX/wineserver"
  chown -R $account: "$root"
  install -o $account -m 600 "${XAUTHORITY:-/dev/null}" "$root/xauthority"
  as_user=(env XAUTHORITY="$root/xauthority"
           setpriv --reuid="$(id -u $account)" --regid="$(id -g $account)" --clear-groups --)
  "${as_user[@]}" test -r "$installer" -a -r "$driver" -a -w "$root" || fail "$account cannot use $root"
  folder=$c/Program\ Files/Zorvik
  # The account's profile has a desktop and a Start menu only once they are made.
  "${as_user[@]}" mkdir -p "$folder" "$c/users/$account/Desktop" \
    "$c/users/$account/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
  echo 'Notes kept by the administrator' >"$folder/$text_file"
  chmod 0444 "$folder/$text_file"
  chown root: "$sys32"; chmod 0555 "$sys32"  # the prefix has the C runtime there, not the last library
  drive "$installer_win" <<EOF
set-folder C:\Zorvik
click 1
expect-box C:\windows\system32\\${library}が書き込めませんでした。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  # With the system folder writable, the last library is made there before
  # the read-only file is met; the run then takes it away again.
  chown $account: "$sys32"; chmod 0755 "$sys32"
  record_system_runtime
  before=$(listing "$folder")
  drive "$installer_win" <<EOF
click 1
expect-box C:\Program Files\Zorvikフォルダには同じ名前のファイルがあります。置き換えてインストールしますか？
answer yes
expect-box C:\Program Files\Zorvik\\${text_file}が書き込めませんでした。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  [ "$(cat "$folder/$text_file")" = 'Notes kept by the administrator' ] || fail "the read-only $text_file was changed"
  [ "$(listing "$folder")" = "$before" ] || fail "the folder with the read-only file was changed: $(ls "$folder")"
  [ -z "$(find_ci "$sys32" "$library")" ] || fail "$library stayed in the system folder after the run stopped"
  check_no_temp_files
  links=$(find "$c" -iname Zorvik.lnk)
  [ -z "$links" ] || fail "a run that stopped made a link: $links"
  # A temporary folder whose name holds U+00A5, which code page 932 reads as a
  # backslash: read so, C:\rfyen\t¥..¥esc is C:\rfyen\esc, where the account may not write.
  yen='t¥..¥esc'
  mkdir -p "$c/rfyen/$yen" "$c/rfyen/esc"
  chown $account: "$c/rfyen/$yen"
  for v in TEMP TMP; do
    "${as_user[@]}" wine reg add 'HKCU\Environment' /v $v /t REG_SZ /d "C:\\rfyen\\$yen" /f >/dev/null
  done
  drive "$installer_win" <<EOF
set-folder C:\Zorvik2
click 1
$(installed_checks 'C:\Zorvik2')
EOF
  check_installed "$c/Zorvik2"
  check_common_links
  [ -z "$(find "$c/rfyen" -mindepth 2)" ] || fail "left in the temporary folders: $(find "$c/rfyen" -mindepth 2)"
  check_no_temp_files
  ;;

scanner)
  # An on-access scanner holds every new file of the folder for a moment
  # without sharing its deletion: a first installation and an update
  # complete, with no message and nothing left beside the files.
  for run in first update; do
    record_system_runtime
    drive "$installer_win" <<EOF
scan C:\Zs
set-folder C:\Zs
click 1
$(installed_checks 'C:\Zs')
close-window Zorvik
expect-scanned 14
EOF
    check_installed "$c/Zs"
    check_no_temp_files
    say "the $run installation under the scanner is complete"
  done
  ;;

held_file)
  # A file of the installation held open by another program, sharing only
  # reading, through a whole update: the message names it, and the
  # installation is the one the run found, every file of it; once the file is
  # let go, the update completes.
  held=${folder_files[7]}
  drive "$installer_win" <<EOF
set-folder C:\Zw
click 1
$(installed_checks 'C:\Zw')
close-window Zorvik
EOF
  record_system_runtime
  before=$(listing "$c/Zw")
  drive "$large_win" <<EOF
hold C:\Zw\\$held
set-folder C:\Zw
click 1
timeout 30000
expect-box C:\Zw\\${held}は他のプログラムが使用中です。そのプログラムを終了してから、もう一度「インストール開始」をクリックしてください。
answer ok
expect-input-state
click 2
expect-exit 0
EOF
  [ "$(listing "$c/Zw")" = "$before" ] || fail "the update that met a held file changed the installation"
  check_folder_files "$c/Zw"
  for n in "${runtime[@]}"; do
    [ "$(stamp_of "$(find_ci "$sys32" "$n")" || true)" = "${sys_before[$n]}" ] || fail "$n in the system folder was changed"
  done
  check_no_temp_files
  drive "$large_win" <<EOF
set-folder C:\Zw
click 1
$(installed_checks 'C:\Zw')
EOF
  pkg=$large_pkg check_folder_files "$c/Zw"
  ;;

code_page_1252)
  # A Western system: Wine under a Western locale answers code page 1252. The
  # dialog, its messages, questions and progress read as under 932; a folder
  # named with a character of 1252 is installed into exactly; one that 1252
  # cannot spell is refused before anything is made.
  texts=$(zorvik_winpath "$root/texts.txt")
  drive "$installer_win" <<EOF
expect-code-page 932
expect-texts $texts
click 2
expect-exit 0
EOF
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  rm -f "$WINEPREFIX/dosdevices/q:" "$WINEPREFIX/dosdevices/q::"
  pkg=$large_pkg
  record_system_runtime
  before=$(ls "$c")
  drive "$large_win" <<EOF
expect-code-page 1252
expect-texts $texts
set-folder Q:\Zorvik
click 1
expect-box Q:\ドライブは無効です。
answer ok
set-folder C:\Zoë\a\b
click 1
expect-box C:\Zoë\a\bフォルダはありません。作成しますか？
answer no
expect-input-state
set-folder C:\ツール
click 1
expect-box このフォルダの名前には使えない文字が含まれています。
answer ok
expect-input-state
expect-folder C:\ツール
set-folder C:\Zoë
click 1
wait-size 200000 C:\Zoë\\$program|C:\Zoë\ZIN*.tmp
suspend
expect-text 1008 インストール中．．．6%
resume
$(installed_checks 'C:\Zoë')
EOF
  check_installed "$c/Zoë"
  [ "$(ls "$c")" = "$(printf '%s\n' "$before" Zoë | sort)" ] || fail "folders made on C: besides Zoë: $(ls "$c")"
  ;;

*) fail "unknown scenario $scenario" ;;
esac
