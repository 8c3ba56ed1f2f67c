#!/usr/bin/env bash
# The demo: each program run on its sample input from examples/ in a scratch directory, with what
# it reads, what it computes, what it wrote and what that means; then one error, a program started
# without its input. With --build it first installs what is missing and builds the programs, the
# build's own output shown only if it fails. A program that fails, or is missing, fails the demo.
# The programs run without a display, so nothing waits for a click.
# Usage: scripts/demo.sh [--build] [bin-directory]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=0
[ "${1:-}" = --build ] && { build=1; shift; }
bin=${1:-$root/build/default/bin}
[[ $bin = /* ]] || bin=$PWD/$bin
shown=${bin#"$PWD"/}  # as the user would type it here
examples=$root/examples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "demo: $*" >&2
  exit 1
}

since() {  # start (date +%s%N): the time since, for a person
  awk -v ns=$(($(date +%s%N) - $1)) 'BEGIN { s = ns / 1e9; printf(s < 10 ? "%.1f s\n" : "%.0f s\n", s) }'
}

# One step of the set-up on one line, with its time; its output, whole, only if it fails.
step() {  # label command...
  local label=$1 start status
  shift
  start=$(date +%s%N)
  printf '%s ... ' "$label"
  "$@" >"$work/step.log" 2>&1
  status=$?
  if [ $status -ne 0 ]; then
    echo "failed after $(since "$start"), exit status $status; its output:"
    cat "$work/step.log"
    fail "$label failed"
  fi
  since "$start"
}

indent() { sed 's/^/    /'; }
# An exit status as a person reads it.
status_text() { if [ "$1" -gt 128 ]; then echo "exit status $1 (killed by signal $(($1 - 128)))"; else echo "exit status $1"; fi; }
# A sentence for an 80-column terminal, "X = 1" kept on one line.
say() { sed 's/ = /\x01=\x01/g' <<<"$*" | fold -s -w 80 | sed 's/ *$//; s/\x01/ /g'; }

# Runs a program in its directory as a user would from a terminal, with no display; shows what
# it says and its exit status, which it leaves in $status.
run() {  # program directory
  echo "\$ $1"
  output=$(cd "$2" && env -u DISPLAY "$bin/$1" </dev/null 2>&1)
  status=$?
  if [ -n "$output" ]; then indent <<<"$output"; else echo "    (nothing on the terminal)"; fi
  status_text $status
}

# A program's sample input copied into its scratch directory and shown as it stands, then the
# program run on it; it must end with status 0 and write its result.
demo() {  # program input result what-it-computes
  local program=$1 input=$2 result=$3
  echo "== $program"
  say "$program computes $4"
  [ -x "$bin/$program" ] || fail "$program is missing: there is no program $shown/$program"
  mkdir -p "$work/$program" && cp "$examples/$input" "$work/$program/"
  echo "$input, as it stands:"
  indent <"$examples/$input"
  run "$program" "$work/$program"
  [ $status -eq 0 ] || fail "$program failed: $(status_text $status)"
  [ -f "$work/$program/$result" ] || fail "$program ended with status 0 but wrote no $result"
  lines=$(wc -l <"$work/$program/$result")
  if [ "$lines" -le 6 ]; then
    echo "$result, as it wrote it:"
    indent <"$work/$program/$result"
  else
    echo "$result, as it wrote it ($lines lines; the first 5):"
    head -n 5 "$work/$program/$result" | indent
  fi
}

line() { sed -n "$1p" "$work/$2"; }

if [ $build = 1 ]; then
  cd "$root" || exit 1
  scripts/install-deps.sh || exit 1  # says what it installs, or the command that does
  step "configuring the build (cmake --preset default)" cmake --preset default
  step "building the programs, their display module and manual pages" \
    cmake --build --preset default -j"${JOBS:-2}" --target photo computer tallage trio_display manpages
  echo
fi

demo photo PHOTO.DAT photo.sol "the size of a picture in thousands of bytes from four numbers: A, which gives the bits per dot, the picture's two sides in centimetres and its density in dots per inch."
say "$(line 1 photo/photo.sol): the picture takes $(line 1 photo/photo.sol) thousand bytes."
echo

demo computer computer.dat computer.sol "every divisor of M, the smaller of P and Q, from K up to M, one a line; then it shows a box \"OK\"."
read -r p q k < <(tr ',\r\n' '   ' <"$examples/computer.dat")
say "$(tr '\n' ' ' <"$work/computer/computer.sol")are the divisors of M = $(awk -v p="$p" -v q="$q" 'BEGIN { print (p < q ? p : q) }') (the smaller of P = $p and Q = $q) from K = $k up."
say "On a display, computer would show its box \"OK\" here and wait until it is dismissed; the demo runs without one, so computer printed the box's \"OK\" instead and ended."
echo

demo tallage tallage.dat tallage.sol "a table of the rounded distances between N + 1 points (point 0, then N more) and lists row 0 and column 0 of it; then it shows its window Form1."
read -r n _ < <(tr ',\r\n' '   ' <"$examples/tallage.dat")
say "$(line 1 tallage/tallage.sol): the sum over row 0 and column 0 of the table. Then, for i = 1 to 4999, the lines \"0 d(0,i)\" and \"0 d(i,0)\": \"$(line 2 tallage/tallage.sol)\" and \"$(line 3 tallage/tallage.sol)\" for point 1, and so on; 0 past point N = $n."
say "On a display, tallage would show its window Form1 here until it was closed; the demo runs without one, so the window was not shown (as tallage says above) and tallage ended at once."
echo

echo "== an error: photo started again, in the same directory, without PHOTO.DAT"
cp "$work/photo/photo.sol" "$work/photo.sol.before"
rm "$work/photo/PHOTO.DAT"
run photo "$work/photo"
[ $status -eq 53 ] || fail "photo, started without PHOTO.DAT, ended with $(status_text $status), not 53 (File not found)"
cmp -s "$work/photo/photo.sol" "$work/photo.sol.before" || fail "photo's error changed the earlier photo.sol"
say "The error is one line on standard error, and its number is the exit status. The earlier photo.sol is left as it was: it still holds $(line 1 photo/photo.sol)."
echo
say "The programs are in $shown; the README says how to run them by name (\"Running the programs\")."
