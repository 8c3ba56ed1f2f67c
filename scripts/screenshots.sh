#!/usr/bin/env bash
# Takes the pictures of the README and docs/windows.md into docs/: tallage's window, computer's box
# and an error box, each as a user sees it, with a window manager's frame and caption; and, where
# the Windows programs are built (build/windows/bin), the window and the box of those under Wine
# (docs/windows.md's). Runs its own Xvfb with twm in it (the tests run without a window manager).
# Needs xvfb, twm, xdotool, x11-apps (xwd), netpbm.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/default/bin}
windows=${2:-$root/build/windows/bin}
for tool in Xvfb twm xdotool xwd xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install xvfb twm xdotool x11-apps netpbm" >&2; exit 1; }
done
work=$(mktemp -d) wm= xvfb=
trap 'kill $wm $xvfb 2>/dev/null; rm -rf "$work"' EXIT
. "$root/scripts/xvfb.sh"
start_xvfb "$work"
# twm places new windows where the program asks (no interactive placement), with a plain frame.
printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\nDecorateTransients\nTitleFont "fixed"\nIconFont "fixed"\nMenuFont "fixed"\nResizeFont "fixed"\nIconManagerFont "fixed"\n' > "$work/twmrc"
twm -f "$work/twmrc" >/dev/null 2>&1 &
wm=$!
sleep 0.5

# The frame around the named window (its parent under twm), or the whole screen.
shoot() {  # window-name-regex output.png [root]
  local w=""
  for _ in $(seq 200); do w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$w" ] && break; sleep 0.05; done
  sleep 0.5  # let it draw
  if [ "${3:-}" = root ]; then
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > "$2"
  else
    local frame
    frame=$(xwininfo -tree -id "$w" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
    [ -n "$(xwininfo -id "$frame" | grep -i 'root window')" ] && frame=$w
    xwd -id "$frame" -silent | xwdtopnm 2>/dev/null | pnmtopng > "$2"
  fi
  echo "$w"
}

mkdir -p "$work/t" "$work/c" "$work/e" "$root/docs"
cp "$root/examples/tallage.dat" "$work/t/"
cp "$root/examples/computer.dat" "$work/c/"
(cd "$work/t" && exec "$bin/tallage" 2>/dev/null) & program=$!
shoot '^Form1$' "$root/docs/tallage-window.png" root >/dev/null
kill "$program"; wait $program 2>/dev/null || true
(cd "$work/c" && "$bin/computer" >/dev/null) & program=$!
w=$(shoot '^computer$' "$root/docs/computer-box.png")
xdotool windowfocus "$w" key Return 2>/dev/null; wait $program
# photo started from the desktop (no terminal) in a folder without PHOTO.DAT.
(cd "$work/e" && "$bin/photo" </dev/null 2>/dev/null) & program=$!
w=$(shoot '^photo$' "$root/docs/photo-error-box.png")
xdotool windowfocus "$w" key Return 2>/dev/null; wait $program || true
echo "docs/tallage-window.png docs/computer-box.png docs/photo-error-box.png"

[ -x "$windows/tallage.exe" ] || exit 0
wine=$("$root/scripts/wine.sh" x64)
(cd "$work/t" && exec $wine "$windows/tallage.exe" 2>/dev/null) & program=$!
shoot '^Form1$' "$root/docs/windows-window.png" root >/dev/null
wineserver -k; wait $program 2>/dev/null || true
(cd "$work/c" && $wine "$windows/computer.exe" >/dev/null 2>&1) & program=$!
w=$(shoot '^computer$' "$root/docs/windows-box.png")
xdotool windowfocus "$w" key Return 2>/dev/null; wait $program || true
wineserver -k
echo "docs/windows-window.png docs/windows-box.png"
