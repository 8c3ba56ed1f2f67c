#!/usr/bin/env bash
# trio-<version>-windows-<arch>.zip: the three Windows programs, the README and the LICENSE, in a
# folder of the same name; from a build made with the windows preset (arch x64) or the
# windows-x86 preset (arch x86). Usage: windows-zip.sh build-dir version arch
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) version=$2 arch=$3
case $arch in
  x64) strip=x86_64-w64-mingw32-strip ;;
  x86) strip=i686-w64-mingw32-strip ;;
  *) echo "windows-zip: no such arch: $arch (x64, x86)" >&2; exit 2 ;;
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
