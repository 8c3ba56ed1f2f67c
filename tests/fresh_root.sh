#!/usr/bin/env bash
# The README's two opening commands as a newcomer meets them: in a fresh minimal Debian root of the
# given release (debootstrap, with git and nothing else), on a clone of this tree's HEAD. An
# ordinary user is told the one command that installs what is missing; that command, as printed,
# installs it when root runs it; then root's ./make.sh demo and ./make.sh test pass, and the
# user's, and root's in the user's clone (as the user). The root is made anew for each run and removed after, its bound /proc, /sys and /dev
# unmounted first.
# Run as root: tests/fresh_root.sh trixie
set -euo pipefail
release=${1:?which Debian release (bookworm, trixie)}
top=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "fresh root: run as root (debootstrap and chroot need it)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "fresh root: debootstrap is missing (scripts/install-deps.sh fresh)" >&2; exit 2; }

# The mirror this machine's apt uses, else Debian's own.
mirror=$(sed -n 's/^URIs: *\([^ ]*\/debian\)$/\1/p; s/^deb \([^ ]*\/debian\) .*/\1/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

root=$(mktemp -d "${TMPDIR:-/var/tmp}/trio-$release.XXXXXX")
chmod 755 "$root"  # mktemp's 0700 would shut the ordinary user out of everything in it
binds=(proc sys dev dev/pts)
cleanup() {
  local i
  for ((i = ${#binds[@]} - 1; i >= 0; i--)); do
    if mountpoint -q "$root/${binds[i]}"; then umount "$root/${binds[i]}" || umount -l "$root/${binds[i]}" || true; fi
  done
  # Removed only once nothing of the host is bound into it: a bound /dev removed is the host's.
  if grep -q " $root/" /proc/mounts; then
    echo "fresh root: $root still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
fail() { echo "fresh root ($release): $*" >&2; exit 1; }

echo "fresh root: making a minimal Debian $release in $root from $mirror"
start=$SECONDS
debootstrap --variant=minbase --include=git "$release" "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -n 20 "$root.log" >&2; rm -f "$root.log"; fail "debootstrap failed"; }
rm -f "$root.log"
echo "fresh root: made in $((SECONDS - start)) s"
for b in "${binds[@]}"; do mount --bind "/$b" "$root/$b"; done
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

in_root() { chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_user() { in_root su - user -c "$1"; }
in_root useradd -m user
git clone -q "$top" "$root/root/trio"
git clone -q "$top" "$root/home/user/trio"
in_root chown -R user: /home/user/trio

# The ordinary user first: nothing is built, and the one command to run as root is printed.
set +e
said=$(as_user 'cd trio && ./make.sh demo' 2>&1)
status=$?
set -e
[ $status -ne 0 ] || fail "an ordinary user's ./make.sh demo passed before anything was installed"
printed=$(sed -n 's/^  \(su -c .*\|sudo .*\)$/\1/p' <<<"$said")
[ -n "$printed" ] || fail "an ordinary user's ./make.sh demo printed no install command: $said"
echo "fresh root: the user is told: $printed"

# The printed command, as printed, installs what is missing on the fresh root (root's su needs no
# password); then root's opening commands and the user's build and pass.
in_root bash -c "$printed" >"$root/root/install.log" 2>&1 ||
  { tail -n 40 "$root/root/install.log" >&2; fail "the printed install command failed: $printed"; }
in_root bash -c 'cd /root/trio && ./make.sh demo >/root/demo.log 2>&1 && ./make.sh test' ||
  { tail -n 40 "$root/root/demo.log" >&2; fail "root's ./make.sh demo or ./make.sh test failed"; }
as_user 'cd trio && ./make.sh demo >/dev/null && ./make.sh test' || fail "the user's ./make.sh demo or ./make.sh test failed"
# Root in the user's clone, as `sudo ./make.sh test` there: make itself stops at once, saying what
# to run; ./make.sh runs the build and the tests as the user, saying so first.
set +e
said=$(in_root bash -c 'cd /home/user/trio && make test' 2>&1)
status=$?
set -e
[ $status -ne 0 ] && grep -q "run ./make.sh test" <<<"$said" ||
  fail "root's make test in the user's clone did not stop, saying what to run: $said"
said=$(in_root bash -c 'cd /home/user/trio && ./make.sh test' 2>&1) || { tail -n 40 <<<"$said" >&2; fail "root's ./make.sh test in the user's clone failed"; }
grep -q "^make.sh: this tree is user's" <<<"$said" || fail "root's ./make.sh test in the user's clone did not say whose it runs as"
[ -z "$(find "$root/home/user/trio" ! -user user -print -quit)" ] || fail "root left files of its own in the user's clone"
echo "fresh root ($release): the opening commands passed as root, as an ordinary user and as root in the user's clone in $((SECONDS - start)) s"
