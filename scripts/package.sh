#!/usr/bin/env bash
# Builds the Debian package from debian/ the way a packager does, `dpkg-buildpackage -us -uc -b`,
# the tests run during the build unless DEB_BUILD_OPTIONS has nocheck. It builds in a copy of the
# source tree, so nothing is written beside the checkout; the packages land in build/package/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/package
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/trio"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=./fuzz-corpus-work -cf - . | tar -C "$work/trio" -xf -
echo "dpkg-buildpackage -us -uc -b (log in build/package/build.log)"
mkdir -p "$out"
if ! (cd "$work/trio" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 60 "$out/build.log"
  exit 1
fi
rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
ls "$out"/*.deb
