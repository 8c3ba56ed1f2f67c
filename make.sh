#!/bin/sh
# The first commands on a fresh system, which has no make: installs what the build and the tests
# need where it is missing (make, cmake, the compiler and the rest; an ordinary user is given the
# one command that does), then runs make with the targets given: ./make.sh demo, ./make.sh test.
#
# Run as root in a tree that another user owns (their clone, with sudo), it installs as root, then
# runs make as that user: root's programs rightly refuse a display module and catalogs that another
# user could have changed, and root's build would leave files in the tree that its owner cannot
# change. fresh-test, which needs root, stays root's.
set -e
cd "$(dirname "$0")"
owner=$(stat -c %u .)
case " $* " in *" fresh-test "*) owner=0 ;; esac
if [ "$(id -u)" -ne 0 ] || [ "$owner" -eq 0 ]; then
  scripts/install-deps.sh
  exec make "$@"
fi

user=$(id -nu "$owner" 2>/dev/null) ||
  { echo "make.sh: this tree belongs to user $owner, who has no name here; run make as its owner" >&2; exit 1; }
echo "make.sh: this tree is $user's: the build and the tests run as $user"
# What the targets need beyond the build's own packages, installed here while root.
extras=
for target in "$@"; do
  case $target in
    package | package-test) extras="$extras package" ;;
    windows | windows-zip | windows-reproducible | bench-windows) extras="$extras windows" ;;
    cross-test) extras="$extras cross" ;;
  esac
done
# shellcheck disable=SC2086  # one word each
scripts/install-deps.sh $extras
# Files that root made in the build folder (an earlier build run as root) go back to the owner, who
# could otherwise neither rebuild nor remove them.
if [ -d build ] && [ -n "$(find build -user 0 -print -quit)" ]; then
  chown -R -h --from=0 "$owner:$(id -g "$user")" build  # never through a link the owner may have put there
  echo "make.sh: root's files in build/ given back to $user"
fi

# The owner's own identity (runuser sets HOME, SHELL, USER and LOGNAME), and nothing of root's
# alone: its session's folder and bus, and the folders of root's home in the PATH.
root_home=$(getent passwd 0 | cut -d: -f6)
path=
IFS=:
for dir in $PATH; do
  case $dir in "$root_home" | "$root_home"/*) ;; *) path=${path:+$path:}$dir ;; esac
done
unset IFS
runtime=
[ "$(stat -c %u "/run/user/$owner" 2>/dev/null)" = "$owner" ] && runtime=/run/user/$owner
# With no standard input (a job of cron's, say), it is /dev/null rather than the first file opened.
(exec 3<&0) 2>/dev/null || exec </dev/null
if [ -n "$runtime" ]; then
  exec runuser -u "$user" -- env -u DBUS_SESSION_BUS_ADDRESS PATH="$path" XDG_RUNTIME_DIR="$runtime" make "$@"
fi
exec runuser -u "$user" -- env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR PATH="$path" make "$@"
