#!/usr/bin/env bash
# Takes screenshots of tallage's window and computer's box under Xvfb into docs/.
# Needs xvfb, xdotool, x11-apps (xwd) and netpbm (xwdtopnm, pnmtopng).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/default/bin}
for tool in Xvfb xdotool xwd xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install xvfb xdotool x11-apps netpbm" >&2; exit 1; }
done
work=$(mktemp -d)
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$work/display")"

shoot() {  # window-name-regex output.png [root]: the window alone, or the whole screen at half size
  local w=""
  for _ in $(seq 200); do w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$w" ] && break; sleep 0.05; done
  sleep 0.3  # let it draw
  if [ "${3:-}" = root ]; then
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmscale 0.5 | pnmtopng > "$2"
  else
    xwd -id "$w" -silent | xwdtopnm 2>/dev/null | pnmtopng > "$2"
  fi
  echo "$w"
}

mkdir -p "$work/t" "$work/c" "$root/docs"
cp "$root/examples/tallage.dat" "$work/t/"
cp "$root/examples/computer.dat" "$work/c/"
(cd "$work/t" && "$bin/tallage") & program=$!
shoot '^Form1$' "$root/docs/tallage-window.png" root >/dev/null
kill "$program"; wait $program 2>/dev/null || true
(cd "$work/c" && "$bin/computer" >/dev/null) & program=$!
w=$(shoot '^computer$' "$root/docs/computer-box.png")
xdotool windowfocus "$w" key Return 2>/dev/null; wait $program
