#!/usr/bin/env bash
# Whole-process benchmarks, without a display (computer's "OK" goes to the terminal):
#   computer on M = 2147483647 (a prime) and 2147483646, K = 1, against `factor` on the same
#   number and against the literal loop (computer_literal, one run each: it takes minutes);
#   tallage with 100 points against photo, and tallage's peak resident memory. Then, on a private
#   Xvfb: photo's start-up with a display at hand (it never loads the display module) against
#   /bin/true, and the box's first map (start to MapNotify, medians of 15) against zenity --info's.
set -euo pipefail
bin=$(cd "${1:-build/default/bin}" && pwd)
scripts=$(cd "$(dirname "$0")" && pwd)
unset DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mean() {  # the mean time of hyperfine's JSON export, in milliseconds
  python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["mean"]*1000))' "$@"
}

for m in 2147483647 2147483646; do
  echo "== computer, M = $m, K = 1"
  echo "$m,$m,1" > computer.dat
  hyperfine -N --warmup 50 --runs 500 --style basic --export-json c.json "$bin/computer" "factor $m" >/dev/null 2>&1
  fast=$(mean c.json 0); factor=$(mean c.json 1)
  if [ "${BENCH_SKIP_LITERAL:-0}" = 1 ]; then
    literal=nan
  else
    hyperfine -N --runs 1 --style basic --export-json l.json "$bin/computer_literal" >/dev/null 2>&1
    literal=$(mean l.json 0)
  fi
  python3 - "$fast" "$factor" "$literal" <<'PY'
import sys
fast, factor, literal = map(float, sys.argv[1:])
print(f"computer {fast:.3f} ms; factor {factor:.3f} ms (computer/factor {fast/factor:.2f}, goal <= 2)")
if literal == literal:
    print(f"literal loop {literal/1000:.1f} s (literal/computer {literal/fast:,.0f}, goal > 1000)")
PY
done

echo "== tallage, 100 points"
{ echo 100; for p in $(seq 0 100); do echo "$((p * 97 % 3000)),$((p * 61 % 2000))"; done; } > tallage.dat
echo "7,2.54,2.54,1000" > PHOTO.DAT
hyperfine -N --warmup 20 --runs 300 --style basic --export-json t.json "$bin/tallage" "$bin/photo" >/dev/null 2>&1
peak=$(/usr/bin/time -f %M "$bin/tallage" 2>&1 >/dev/null | tail -n 1)
python3 - "$(mean t.json 0)" "$(mean t.json 1)" "$peak" <<'PY'
import sys
tallage, photo, peak = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
print(f"tallage {tallage:.3f} ms; photo {photo:.3f} ms (tallage/photo {tallage/photo:.2f}, goal <= 3)")
print(f"tallage peak resident memory {peak/1024:.1f} MiB (goal < 8 MB)")
PY

if [ -x "$bin/first_map" ] && command -v Xvfb >/dev/null && command -v zenity >/dev/null; then
  echo "== on a display: photo's start-up, the box's first map"
  xvfb=
  trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
  . "$scripts/xvfb.sh"
  start_xvfb "$work"
  hyperfine -N --warmup 50 --runs 500 --style basic --export-json p.json "$bin/photo" /bin/true >/dev/null 2>&1
  echo "12,18,2" > computer.dat
  median() {  # the median of 15 first maps of a command
    for _ in $(seq 15); do "$bin/first_map" "$@"; done | sort -n | sed -n 8p
  }
  box=$(median "$bin/computer"); zenity=$(median zenity --info --text OK)
  python3 - "$(mean p.json 0)" "$(mean p.json 1)" "$box" "$zenity" <<'PY'
import sys
photo, true, box, zenity = map(float, sys.argv[1:])
print(f"photo with a display {photo:.3f} ms; /bin/true {true:.3f} ms (photo/true {photo/true:.2f})")
print(f"computer's box first mapped after {box:.1f} ms; zenity --info after {zenity:.1f} ms (box/zenity {box/zenity:.2f}, goal <= 1)")
PY
else
  echo "== on a display: skipped (no first_map, Xvfb or zenity)"
fi
