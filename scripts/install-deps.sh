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
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "missing packages; install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
