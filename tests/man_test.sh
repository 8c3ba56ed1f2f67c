#!/usr/bin/env bash
# Each manual page renders with man -l and no warnings, in ASCII and in UTF-8, mandoc's lint finds nothing to warn of, in
# the usual sections, with version 1.00 and a date.
set -euo pipefail
pages=$1 version=$2
for p in photo computer tallage; do
  for characters in C C.UTF-8; do  # as a terminal of plain ASCII shows it too
    err=$(LC_ALL=$characters MANWIDTH=80 man --warnings -l "$pages/$p.1" 2>&1 >/dev/null)
    [ -z "$err" ] || { echo "$p.1 ($characters): $err"; exit 1; }
  done
  err=$(mandoc -Tlint -W warning "$pages/$p.1" 2>&1) || { echo "$p.1: $err"; exit 1; }
  grep -qE '^\.TH [A-Z]+ 1 "[0-9]{4}-[0-9]{2}-[0-9]{2}"' "$pages/$p.1" || { echo "$p.1 has no date"; exit 1; }
  text=$(MANWIDTH=80 man -l "$pages/$p.1" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" ENVIRONMENT EXAMPLES; do
    grep -q "^$section" <<<"$text" || { echo "$p.1 has no $section"; exit 1; }
  done
  grep -q "$p $version" <<<"$text" || { echo "$p.1 does not show $p $version"; exit 1; }
  for n in 5 6 7 9 11 13 53 57 61 62 70 75; do
    grep -qE "^ +$n +[A-Z]" <<<"$text" || { echo "$p.1 does not list exit status $n"; exit 1; }
  done
done
for p in computer tallage; do
  MANWIDTH=80 man -l "$pages/$p.1" 2>/dev/null | grep -q "^DISPLAY" || { echo "$p.1 has no DISPLAY"; exit 1; }
done
echo "manual pages ok"
