#!/usr/bin/env bash
# The benchmark: builds the installer (scripts/build.sh) and the bench's own
# tools, then bench.py builds the peer NSIS installers, measures, prints one
# Markdown table and writes it to bench/results.md.
#
#   bash bench/run.sh            build folder ./build (or $BUILD_DIR)
#   BENCH_RUNS=7 BENCH_INSTALL_RUNS=11 bash bench/run.sh   (defaults 5 and 9)
#   BENCH_BASELINE=old/ZorvikSetup.exe bash bench/run.sh   also times another build of
#                                the installer against this one, click to window
#   BENCH_BASELINE_GOAL=1.10     the largest ratio of that comparison that meets its goal (1.05)
#   BENCH_BASELINE_BEFORE=prev/ZorvikSetup.exe   the build before this change, timed in the
#                                same rounds, click to window (goal 1.05)
#
# Needs what scripts/bootstrap.sh installs, plus the peers' Debian packages
# nsis and mscompress. Wine runs only in private prefixes under the build
# folder, on a private virtual display without a window manager.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
work=$build/bench
runs=${BENCH_RUNS:-5}
install_runs=${BENCH_INSTALL_RUNS:-9}

say() { echo "bench: $*" >&2; }
die() { say "error: $*"; exit 1; }

# The peers: mscompress comes with scripts/bootstrap.sh, NSIS only with the bench.
for pkg in nsis:makensis mscompress:mscompress; do
  command -v "${pkg#*:}" >/dev/null && continue
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  say "installing the peer ${pkg%%:*}"
  $sudo apt-get install -y "${pkg%%:*}" >&2 || die "cannot install ${pkg%%:*}"
done
for tool in makensis mscompress g++ i686-w64-mingw32-g++-posix python3 Xvfb wine; do
  command -v "$tool" >/dev/null || die "$tool not found (apt-get install nsis mscompress, and run scripts/bootstrap.sh)"
done

say "building the installer into $build"
if ! BUILD_DIR=$build bash "$root/scripts/build.sh" >&2; then
  # The bench needs the installer, the package and the compressor, not the tests.
  say "warning: the full build failed; building only what the bench needs"
  cmake --build "$build" -j"$(nproc)" --target ZorvikSetup payload_check_timer host_tools >&2 ||
    die "the installer does not build"
fi
setup=$build/app/ZorvikSetup.exe
check_timer=$build/bench/payload_check_timer.exe
package=$build/package-files
table=$build/payloads/package-table.txt
szdd=$build/host/szdd
for f in "$setup" "$check_timer" "$szdd" "$package" "$table"; do
  [ -e "$f" ] || die "missing after the build: $f"
done

mkdir -p "$work"
say "building the bench tools"
g++ -std=c++17 -O2 -Wall -Wextra -o "$work/optimal_reference" "$root/bench/optimal_reference.cpp"
win_cxx=(i686-w64-mingw32-g++-posix -std=c++17 -O2 -static -Wall -Wextra)
"${win_cxx[@]}" -o "$work/lz_expand_timer.exe" "$root/bench/lz_expand_timer.cpp" -llz32
"${win_cxx[@]}" -o "$work/install_timer.exe" "$root/bench/install_timer.cpp" -lpsapi
# The floor: the installer's own dialog template and nothing else.
i686-w64-mingw32-windres -I "$root/resources" -I "$build/version" -O coff -o "$work/dialog_floor.res" "$root/resources/installer.rc"
i686-w64-mingw32-g++-posix -std=c++17 -Os -Wall -Wextra -fno-exceptions -fno-asynchronous-unwind-tables \
  -nostdlib -nostartfiles -mwindows -Wl,-e,_FloorEntry@0 -s -I "$root/resources" -o "$work/dialog_floor.exe" \
  "$root/bench/dialog_floor.cpp" "$work/dialog_floor.res" -luser32 -lkernel32

# Always a display of its own, even under a desktop: the figures assume an X
# server without a window manager.
source "$root/tests/support/wine-env.sh"
unset DISPLAY
zorvik_display

python3 "$root/bench/bench.py" --root "$root" --work "$work" \
  --setup "$setup" --package "$package" --table "$table" --szdd "$szdd" \
  --reference "$work/optimal_reference" --lz-timer "$work/lz_expand_timer.exe" \
  --install-timer "$work/install_timer.exe" --check-timer "$check_timer" \
  --floor "$work/dialog_floor.exe" \
  ${BENCH_BASELINE_BEFORE:+--baseline-before "$(realpath "$BENCH_BASELINE_BEFORE")"} \
  ${BENCH_BASELINE:+--baseline "$(realpath "$BENCH_BASELINE")"} ${BENCH_BASELINE_GOAL:+--ab-goal "$BENCH_BASELINE_GOAL"} --runs "$runs" --install-runs "$install_runs"
say "written: $root/bench/results.md"
