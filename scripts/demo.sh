#!/usr/bin/env bash
# Runs each program on its sample input in examples/, in a scratch directory, and prints what
# it wrote. The programs run without a display here, so nothing waits for a click: computer's
# "OK" goes to the terminal and tallage says its window is not shown.
set -uo pipefail
bin=$(cd "${1:-build/default/bin}" && pwd)
examples=$(cd "$(dirname "$0")/../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # program input result
  local program=$1 input=$2 result=$3
  [ -x "$bin/$program" ] || return 0
  mkdir -p "$work/$program" && cp "$examples/$input" "$work/$program/"
  echo "== $program: $input"
  sed 's/^/   /' "$examples/$input"
  echo "-- $program says:"
  (cd "$work/$program" && env -u DISPLAY "$bin/$program" 2>&1 | sed 's/^/   /'; exit "${PIPESTATUS[0]}")
  echo "-- exit status $?; $result holds ($(wc -l <"$work/$program/$result") lines):"
  head -n 12 "$work/$program/$result" | sed 's/^/   /'
  [ "$(wc -l <"$work/$program/$result")" -le 12 ] || echo "   ..."
  echo
}

run photo PHOTO.DAT photo.sol
run computer computer.dat computer.sol
run tallage tallage.dat tallage.sol
