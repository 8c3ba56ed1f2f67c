#!/usr/bin/env bash
# trio-<version>-windows-<arch>.zip: the three Windows programs, the README, the LICENSE, the
# notices of what is linked into them, and in docs/ the Windows page and the manual pages as text
# (rendered from the default build's, made here where they are missing), in a folder of the same
# name; from a build made with the windows preset (x64) or the windows-x86 preset (x86), as its
# programs say. A zip anyone can make again bit for bit from the same tree: every time in it (the
# programs' PE time stamps, the members', the pages' date) is SOURCE_DATE_EPOCH, the last commit's
# (else the changelog's); the members are sorted, their modes fixed, their times in UTC.
# Usage: windows-zip.sh build-dir version
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: windows-zip.sh build-dir version" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) version=$2
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null ||
    date -d "$(dpkg-parsechangelog -l "$root/debian/changelog" -S Date)" +%s)
fi
export SOURCE_DATE_EPOCH TZ=UTC
case $(x86_64-w64-mingw32-objdump -f "$build/bin/photo.exe") in
  *"file format pei-x86-64"*) arch=x64 triplet=x86_64-w64-mingw32 dev=mingw-w64-x86-64-dev ;;
  *"file format pei-i386"*) arch=x86 triplet=i686-w64-mingw32 dev=mingw-w64-i686-dev ;;
  *) echo "windows-zip: $build/bin/photo.exe is no Windows program for x64 or x86" >&2; exit 1 ;;
esac
name=trio-$version-windows-$arch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/$name"
for p in photo computer tallage; do
  "$triplet-strip" -o "$work/$name/$p.exe" "$build/bin/$p.exe"  # its time stamp SOURCE_DATE_EPOCH
done
cp "$root/README.md" "$root/LICENSE" "$work/$name/"
# The user's guide: the Windows page, and the manual pages, which a Windows user has no man to read.
mkdir "$work/$name/docs"
cp "$root/docs/windows.md" "$work/$name/docs/"
(
  cd "$root"
  [ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
  cmake --build --preset default --target manpages >/dev/null
)
for p in photo computer tallage; do
  MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$root/build/default/man/$p.1" > "$work/$name/docs/$p.txt" 2>/dev/null ||
    { echo "windows-zip: man could not render $p.1" >&2; exit 1; }
done

# What is linked into each program, and each licence's text or notice as it asks, from the
# copyright files of the toolchain that built them.
{
  echo "The programs photo.exe, computer.exe and tallage.exe are linked statically with the"
  echo "MinGW-w64 C runtime and its POSIX threads library (winpthreads), with GCC's C++ library"
  echo "(libstdc++) and runtime support (libgcc), under the GCC Runtime Library Exception, and"
  echo "they read numbers with fast_float. Their notices and licences follow, as Debian's"
  echo "packages of them give them."
  for package in "$dev" gcc-mingw-w64-base libfast-float-dev; do
    copyright=/usr/share/doc/$package/copyright
    [ -f "$copyright" ] || { echo "windows-zip: $copyright is missing (scripts/install-deps.sh windows)" >&2; exit 1; }
    printf '\n\n==== %s ====\n\n' "$package"
    cat "$copyright"
  done
} > "$work/$name/THIRD-PARTY-NOTICES.txt"

find "$work/$name" -type d -exec chmod 0755 {} + -o -type f -exec chmod 0644 {} +
find "$work/$name" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$build/$name.zip"
(cd "$work" && find "$name" -type f | LC_ALL=C sort | zip -q -X -D "$build/$name.zip" -@)
echo "$build/$name.zip"
