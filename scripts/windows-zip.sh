#!/usr/bin/env bash
# trio-<version>-windows-<arch>.zip: the three Windows programs, the README and the LICENSE, in a
# folder of the same name; from a build made with the windows preset (x64) or the windows-x86
# preset (x86), as its programs say. Usage: windows-zip.sh build-dir version
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: windows-zip.sh build-dir version" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) version=$2
case $(x86_64-w64-mingw32-objdump -f "$build/bin/photo.exe") in
  *"file format pei-x86-64"*) arch=x64 strip=x86_64-w64-mingw32-strip ;;
  *"file format pei-i386"*) arch=x86 strip=i686-w64-mingw32-strip ;;
  *) echo "windows-zip: $build/bin/photo.exe is no Windows program for x64 or x86" >&2; exit 1 ;;
esac
name=trio-$version-windows-$arch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/$name"
for p in photo computer tallage; do
  "$strip" -o "$work/$name/$p.exe" "$build/bin/$p.exe"
done
cp "$root/README.md" "$root/LICENSE" "$work/$name/"
rm -f "$build/$name.zip"
(cd "$work" && zip -qr -X "$build/$name.zip" "$name")
echo "$build/$name.zip"
