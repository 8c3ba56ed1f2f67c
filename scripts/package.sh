#!/usr/bin/env bash
# Builds the Debian package from debian/ the way a packager does, `dpkg-buildpackage -us -uc -b`,
# the tests run during the build unless DEB_BUILD_OPTIONS has nocheck. Given another of Debian's
# architectures (arm64, i386), it cross-builds the package for it, `dpkg-buildpackage -a ARCH
# -Pnocheck -B`, its tests left out as their programs cannot run here. It builds in a copy of the
# source tree, so nothing is written beside the checkout; the packages land in build/package/
# (build/package-ARCH/ for another architecture). Usage: package.sh [architecture]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-$(dpkg --print-architecture)}
out=$root/build/package
build=(-us -uc -b)
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  out=$root/build/package-$arch
  build=(-us -uc -B -a "$arch" -Pnocheck)
  export DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/trio"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=./fuzz-corpus-work -cf - . | tar -C "$work/trio" -xf -
echo "dpkg-buildpackage ${build[*]} (log in ${out#"$root/"}/build.log)"
mkdir -p "$out"
if ! (cd "$work/trio" && dpkg-buildpackage "${build[@]}") >"$out/build.log" 2>&1; then
  tail -n 60 "$out/build.log"
  exit 1
fi
rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
ls "$out"/*.deb
