#!/usr/bin/env bash
# Which Wine runs this machine's Windows programs of one architecture: decided here, once, for
# every target that runs them (make windows, bench-windows, screenshots). Prints the command that
# runs such a program, environment included; where none can, says why in one line on standard
# error and exits 1. With `windows`, the question is whether it shows their windows and boxes as
# Windows does, too. Usage: wine.sh x64|x86 [windows]
#
# Debian's `wine` starts Wine's 32-bit loader whenever wine32:i386 is installed, even for a 64-bit
# program, and that loader is a 32-bit Linux program, which some kernels cannot run (those built
# without IA-32 emulation): 64-bit programs are always run by the 64-bit loader. 32-bit ones are
# run by the 32-bit loader where it starts; elsewhere by the 64-bit loader in Wine's WoW64 mode,
# which runs them inside a 64-bit process with the 32-bit side's Windows DLLs (wine32:i386's files,
# installed whatever the kernel runs) and none of its Linux programs.
set -euo pipefail
arch=${1:?x64 or x86} shows=${2:-}
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
dlls32=/usr/lib/i386-linux-gnu/wine dlls64=/usr/lib/x86_64-linux-gnu/wine  # each side's DLLs and libraries

case $arch in
  x64)
    [ -x "$wine64" ] || { echo "64-bit Windows programs cannot run here: Wine's 64-bit loader ($wine64) is missing (scripts/install-deps.sh windows)" >&2; exit 1; }
    echo "env WINEDEBUG=-all WINELOADER=$wine64 $wine64"
    exit 0 ;;
  x86) ;;
  *) echo "wine.sh: no such architecture: $arch (x64, x86)" >&2; exit 2 ;;
esac

if [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; then
  echo "env WINEDEBUG=-all WINELOADER=$wine32 $wine32"
  exit 0
fi

# Why the 32-bit loader does not run: a tiny 32-bit program tells whether the kernel runs any.
why="Wine's 32-bit side (wine32:i386) is not installed"
if [ -x "$wine32" ]; then
  why="Wine's 32-bit loader does not start"
  for program in /lib/ld-linux.so.2 /usr/i686-linux-gnu/lib/ld-linux.so.2; do
    if [ -x "$program" ] && ! "$program" --version >/dev/null 2>&1; then
      why="this kernel runs no 32-bit programs"
      break
    fi
  done
fi

# WoW64: the 64-bit loader, given a folder that pairs the 32-bit side's Windows DLLs with the
# 64-bit side's Linux libraries that they call into (a DLL's library is looked for beside it); tried
# on Wine's own 32-bit cmd.exe.
pairs=$(cd "$(dirname "$0")/.." && pwd)/build/wine-wow64
if [ -e "$dlls32/i386-windows/cmd.exe" ] && [ -d "$dlls64/x86_64-unix" ]; then
  mkdir -p "$pairs"
  ln -sfn "$dlls32/i386-windows" "$pairs/i386-windows"
  ln -sfn "$dlls64/x86_64-unix" "$pairs/x86_64-unix"
fi
wow64="env WINEDEBUG=-all WINELOADER=$wine64 WINEDLLPATH=$pairs $wine64"
if [ -x "$wine64" ] && [ -e "$pairs/i386-windows/cmd.exe" ]; then
  set +e
  timeout 120 $wow64 "$dlls32/i386-windows/cmd.exe" /c exit 3 </dev/null >/dev/null 2>&1
  status=$?
  set -e
  # Wine 8's WoW64 mode measures no text in a box (a 37 by 26 pixel box, its words unseen); Wine
  # 10's draws it as the 32-bit loader does.
  version=$("$wine64" --version 2>/dev/null | sed -n 's/^wine-\([0-9]*\).*/\1/p')
  if [ $status -eq 3 ] && [ -n "$shows" ] && [ "${version:-0}" -lt 9 ]; then
    echo "32-bit Windows programs' boxes cannot be shown right here: $why, and Wine $version's WoW64 mode lays" \
      "them out with no text; the x86 window tests are skipped" >&2
    exit 1
  fi
  if [ $status -eq 3 ]; then
    [ -n "$shows" ] || echo "32-bit Windows programs run here in Wine's WoW64 mode: $why" >&2
    echo "$wow64"
    exit 0
  fi
fi
echo "32-bit Windows programs cannot run here: $why; the x86 tests are skipped" >&2
exit 1
