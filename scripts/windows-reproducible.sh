#!/usr/bin/env bash
# The 64-bit Windows zip made twice, from two clones of HEAD in different folders, at different
# times, umasks and time zones: the two must be the same, byte for byte. Usage:
# windows-reproducible.sh (from make windows-reproducible, which installs MinGW-w64 first)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
version=$(sed -n 's/^project(trio VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
first=$(mktemp -d /tmp/trio-reproducible.XXXXXX) second=$(mktemp -d "${TMPDIR:-/var/tmp}/trio-again-elsewhere.XXXXXX")
trap 'rm -rf "$first" "$second"' EXIT
build() {  # folder, umask, time zone
  git clone -q "$top" "$1/trio"
  (
    cd "$1/trio"
    umask "$2"
    export TZ=$3
    cmake --preset windows -DTRIO_TESTS=OFF >/dev/null
    cmake --build --preset windows -j"$jobs" --target photo computer tallage >/dev/null
    scripts/windows-zip.sh build/windows "$version" >/dev/null
  )
}
build "$first" 0022 UTC
build "$second" 0077 Asia/Tokyo
zip=build/windows/trio-$version-windows-x64.zip
if ! cmp -s "$first/trio/$zip" "$second/trio/$zip"; then
  echo "windows-reproducible: the two builds' zips differ:" >&2
  (cd "$first/trio" && unzip -lv "$zip") > "$first/list"
  (cd "$second/trio" && unzip -lv "$zip") > "$second/list"
  diff "$first/list" "$second/list" >&2 || true
  exit 1
fi
echo "windows-reproducible: $(sha256sum < "$first/trio/$zip" | cut -c1-16)... twice, from $first and $second"
