#!/usr/bin/env bash
# One Windows preset (windows: 64-bit, windows-x86: 32-bit) built, then tested under Wine: the
# unit tests cross-built, then the end-to-end, bad-input and window tests of the Linux build
# (build/default) run against the .exe files. scripts/wine.sh says which Wine runs them; where none
# can here (32-bit programs on a kernel that runs no 32-bit programs, without WoW64), the build
# stands alone and its line says why the tests are skipped.
# Usage: windows-test.sh windows|windows-x86 (from make windows, which builds build/default first)
set -euo pipefail
preset=${1:?windows or windows-x86}
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
case $preset in
  windows) arch=x64 ;;
  windows-x86) arch=x86 ;;
  *) echo "windows-test: no such preset: $preset (windows, windows-x86)" >&2; exit 2 ;;
esac
# A Wine prefix of the build's own: the tests change its settings (the display's DPI), and its
# Wine server is started and stopped here, whatever else runs Wine on the machine.
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine}

set +e
wine=$(scripts/wine.sh "$arch")
can_run=$?
set -e
[ $can_run -eq 0 ] || [ "$arch" = x86 ] || exit 1  # 64-bit programs are always tested
cmake --preset "$preset" "-DTRIO_WINE=$wine" >/dev/null  # empty where none can run them here
cmake --build --preset "$preset" -j"$jobs"
[ $can_run -eq 0 ] || exit 0

# One Wine server for a run of tests, started here with no test's pipes and kept 30 seconds past
# its last program, so that no test meets one that is just ending. The first start of Wine also
# makes its prefix, which takes seconds: once, not in a test. Its display drivers are X11's alone:
# newer Wine tries Wayland too where X11 cannot be had, and the Wayland client library then prints
# its complaints into the programs' standard error.
server() {
  wineserver -k 2>/dev/null || true
  wineserver -w || true
  WINEDEBUG=-all wineserver -p30 </dev/null >/dev/null 2>&1 || true
}
$wine cmd /c exit </dev/null >/dev/null 2>&1 || true
$wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f </dev/null >/dev/null 2>&1 || true
server
# Each unit test is a Wine process of its own, and Wine now and then fails to start one at all
# under load: such a test is run once more.
ctest --preset "$preset" -j"$jobs" --repeat until-pass:2
export TRIO_TEST_WINDOWS_BIN=$PWD/build/$preset/bin TRIO_TEST_WRAPPER=$wine
ctest --preset default -j"$jobs" -R '^(Photo|Computer|Tallage|BadInput)\.'
# The window tests run in one process, on one X server, with a Wine server of their own: Wine's
# desktop stays on the display its first window opened on.
scripts/wine.sh "$arch" windows >/dev/null || exit 0
server
build/default/bin/window_test
