#!/usr/bin/env bash
# trio-<version>-windows-x64.zip: the three Windows programs, the README and the LICENSE, in a
# folder of the same name; from a build made with the windows preset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/windows}" && pwd) version=$2
name=trio-$version-windows-x64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/$name"
for p in photo computer tallage; do
  x86_64-w64-mingw32-strip -o "$work/$name/$p.exe" "$build/bin/$p.exe"
done
cp "$root/README.md" "$root/LICENSE" "$work/$name/"
rm -f "$build/$name.zip"
(cd "$work" && zip -qr -X "$build/$name.zip" "$name")
echo "$build/$name.zip"
