#!/usr/bin/env bash
# The demo passes with the programs as built, and fails, naming the program and what went wrong,
# when one of them fails, is missing, writes nothing, or does not fail without its input.
set -uo pipefail
demo=$1 built=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# case | program | its stand-in (empty: as built; "missing": none) | a line of the demo's output
cases=(
  "as built|photo||1000: the picture takes 1000 thousand bytes."
  "photo fails|photo|echo 'photo: run-time error 53: File not found: PHOTO.DAT' >&2; exit 53|demo: photo failed: exit status 53"
  "computer crashes|computer|kill -SEGV \$\$|demo: computer failed: exit status 139 (killed by signal 11)"
  "tallage is missing|tallage|missing|demo: tallage is missing: there is no program "
  "photo writes nothing|photo|exit 0|demo: photo ended with status 0 but wrote no photo.sol"
  "photo ignores a missing input|photo|echo 1000 >photo.sol|demo: photo, started without PHOTO.DAT, ended with exit status 0, not 53"
)
failed=0 n=0
for c in "${cases[@]}"; do
  IFS='|' read -r name program stand_in expected <<<"$c"
  bin=$work/$((n += 1))
  mkdir "$bin"
  for p in photo computer tallage; do [ $p = "$program" ] || ln -s "$built/$p" "$bin/$p"; done
  case $stand_in in
    "") ln -s "$built/$program" "$bin/$program" ;;
    missing) ;;
    *) printf '#!/bin/sh\n%s\n' "$stand_in" >"$bin/$program" && chmod +x "$bin/$program" ;;
  esac
  out=$(bash "$demo" "$bin" 2>&1)
  status=$?
  if [ -z "$stand_in" ]; then want_status=0; else want_status=1; fi
  if [ $status -ne $want_status ] || ! grep -q "^$expected" <<<"$out"; then
    echo "$name: exit status $status (want $want_status), no line \"$expected\" in:"
    echo "$out"
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "demo ok"
exit $failed
