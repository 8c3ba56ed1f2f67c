#!/usr/bin/env bash
# The Windows programs' whole-process time under Wine: photo.exe against a trivial statically
# linked program (bench/trivial.cpp), both started by Wine's 64-bit loader with a Wine server
# already running.
set -euo pipefail
bin=$(cd "${1:-build/windows/bin}" && pwd)
wine=$("$(dirname "$0")/wine.sh" x64)
unset DISPLAY
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"; wineserver -k 2>/dev/null || true' EXIT
cd "$work"
echo "7,2.54,2.54,1000" > PHOTO.DAT
wineserver -p </dev/null >/dev/null 2>&1
$wine cmd /c exit </dev/null >/dev/null 2>&1
hyperfine -N --warmup 10 --runs 100 --style basic --export-json w.json "$wine $bin/photo.exe" "$wine $bin/trivial.exe" >/dev/null 2>&1
python3 - w.json <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
photo, trivial = r[0]["mean"] * 1000, r[1]["mean"] * 1000
print(f"photo.exe {photo:.1f} ms; trivial.exe {trivial:.1f} ms (photo/trivial {photo/trivial:.2f}, goal <= 1.5)")
PY
