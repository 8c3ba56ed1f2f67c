#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need: with apt-get when
# run as root, otherwise it prints the command to run. Named extras add what one more task needs:
# `package` (the Debian package and lintian), `windows` (MinGW-w64 and Wine), `cross` (Debian's
# cross compilers for i386, arm64 and s390x, and qemu-user to run what they build).
set -euo pipefail

packages=(cmake g++ make libfast-float-dev libgtest-dev libbenchmark-dev libfltk1.3-dev libx11-dev
          xvfb xdotool x11-utils hyperfine time clang libclang-rt-14-dev
          man-db groff-base xfonts-base)
for extra in "$@"; do
  case $extra in
    package) packages+=(build-essential dpkg-dev debhelper lintian binutils) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 googletest zip) ;;
    cross) packages+=(g++-i686-linux-gnu g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user) ;;
    *) echo "install-deps: no such extra: $extra (package, windows, cross)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "installing ${#missing[@]} Debian packages with apt-get (a minute or two): ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # apt's own output (and debconf's notes on a fresh system) only if it fails.
  log=$(mktemp)
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "install-deps: apt-get failed" >&2
    exit 1
  fi
  rm -f "$log"
  echo "installed in $SECONDS s"
else
  # The same as root does, in one command that a fresh system can run: sudo only where it is.
  command="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
  if command -v sudo >/dev/null; then command="sudo sh -c '$command'"; else command="su -c '$command'"; fi
  echo "missing Debian packages; install them as root with:" >&2
  echo "  $command" >&2
  exit 1
fi
