#!/usr/bin/env bash
# The Debian package as a user receives it: lintian reports no error and no warning; it holds the
# programs, the display module, the translations, the manual pages, the README and NEWS, the
# examples and the copyright; unpacked into a throw-away root with dpkg -x, its programs run from
# there, and its own tests (debian/tests, as autopkgtest runs them on an installed package) pass
# against them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "$1" && pwd) version=$2
deb=$dir/trio_${version}_amd64.deb
[ -f "$deb" ] || { echo "package: no $deb"; ls "$dir"; exit 1; }
ls "$dir"/trio-dbgsym_"${version}"_amd64.*deb >/dev/null || { echo "package: no debug-symbols package"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*"; exit 1; }

lintian --info --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libgtk-3-0 libstdc++6; do grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"; done
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/photo usr/bin/computer usr/bin/tallage 'usr/lib/[^ ]*/trio/trio-display\.so' \
         usr/share/man/man1/photo.1.gz usr/share/man/man1/computer.1.gz usr/share/man/man1/tallage.1.gz \
         usr/share/doc/trio/copyright usr/share/doc/trio/changelog.gz 'usr/share/doc/trio/README\.md(\.gz)?' \
         'usr/share/doc/trio/NEWS(\.gz)?' \
         usr/share/doc/trio/examples/PHOTO.DAT usr/share/doc/trio/examples/computer.dat \
         usr/share/doc/trio/examples/tallage.dat usr/share/locale/fr/LC_MESSAGES/trio.mo; do
  grep -qE " \./$f\$" <<<"$contents" || fail "no $f"
done
grep -qE "usr/bin/(computer_literal|form_probe)|_test" <<<"$contents" && fail "holds test or benchmark programs"

root=$work/root
dpkg-deb -x "$deb" "$root"
for p in photo computer tallage; do
  grep -q "@(#) $p $version$" <<<"$(strings "$root/usr/bin/$p")" || fail "$p does not carry '$p $version'"
done
mkdir "$work/run" && cd "$work/run"
printf '7,2.54,2.54,1000\n' > PHOTO.DAT
printf '12,18,2\n' > computer.dat
printf '1\n0,0\n3,4\n' > tallage.dat
env -u DISPLAY "$root/usr/bin/photo"
[ "$(cat photo.sol)" = 1000 ] || fail "photo wrote $(cat photo.sol)"
[ "$(env -u DISPLAY "$root/usr/bin/computer")" = OK ] || fail "computer did not say OK"
[ "$(tr '\n' ' ' < computer.sol)" = "2 3 4 6 12 " ] || fail "computer wrote $(cat computer.sol)"
env -u DISPLAY "$root/usr/bin/tallage" 2>/dev/null
[ "$(head -n 2 tallage.sol | tr '\n' ' ')" = "10 0 5 " ] || fail "tallage wrote $(head -n 3 tallage.sol)"
grep -q "photo $version" <<<"$(zcat "$root/usr/share/man/man1/photo.1.gz")" || fail "photo.1.gz lacks the version"
grep -q "^License: Expat" "$root/usr/share/doc/trio/copyright" || fail "the copyright file names no license"
for t in programs display; do
  PATH="$root/usr/bin:$PATH" sh "$top/debian/tests/$t" || fail "debian/tests/$t failed against the package"
done
echo "package ok: $(basename "$deb")"
