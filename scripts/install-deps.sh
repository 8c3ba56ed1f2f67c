#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need: with apt-get when run
# as root, otherwise it prints the command to run. Named extras add what one more task needs:
# `package` (the Debian package, lintian and what its own tests need), `windows` (MinGW-w64 for
# 64-bit and 32-bit Windows, and Wine with its 32-bit side, which are i386 packages), `cross`
# (Debian's cross compilers for i386, arm64 and s390x, and qemu-user to run what they build),
# `fresh` (debootstrap, to try the opening commands in a fresh Debian root), `package-ARCH` (what
# the Debian package needs to be cross-built for Debian's ARCH port, arm64 or i386 say: that
# architecture added to dpkg's, and the package's build dependencies of it).
set -euo pipefail

packages=(cmake g++ make gettext locales libfast-float-dev libgtest-dev libbenchmark-dev libgtk-3-dev libx11-dev libacl1-dev pkg-config
          xvfb xdotool x11-utils x11-xserver-utils dbus-daemon at-spi2-core python3-pyatspi weston
          hyperfine time python3 zenity clang clang-format libclang-rt-dev
          man-db groff-base mandoc xfonts-base acl)
cross_package=
for extra in "$@"; do
  case $extra in
    package-*) cross_package=${extra#package-}; packages+=(dpkg-dev debhelper) ;;
    package) packages+=(build-essential dpkg-dev debhelper lintian binutils xauth) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386 googletest zip) ;;
    cross) packages+=(g++-i686-linux-gnu g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user) ;;
    fresh) packages+=(debootstrap) ;;
    *) echo "install-deps: no such extra: $extra (package, windows, cross, fresh)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The build dependencies of the package for another architecture, from its debian/control.
if [ -n "$cross_package" ]; then
  top=$(cd "$(dirname "$0")/.." && pwd)
  command="dpkg --add-architecture $cross_package && apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq -a $cross_package -P nocheck $top"
  if [ "$(id -u)" -ne 0 ]; then
    echo "the package's build dependencies for $cross_package; install them as root with:" >&2
    echo "  sh -c '$command'" >&2
    exit 1
  fi
  log=$(mktemp)
  sh -c "$command" >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; echo "install-deps: apt-get build-dep -a $cross_package failed" >&2; exit 1; }
  rm -f "$log"
fi

[ ${#missing[@]} -eq 0 ] && exit 0

# Packages of another architecture (wine32:i386) need it added to dpkg's first.
i386=
[[ " ${missing[*]}" == *:i386* ]] && i386=yes

if [ "$(id -u)" -eq 0 ]; then
  echo "installing ${#missing[@]} Debian packages with apt-get (a minute or two): ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # apt's own output (and debconf's notes on a fresh system) only if it fails.
  log=$(mktemp) pin=$(mktemp)
  trap 'rm -f "$log" "$pin"' EXIT
  if [ -n "$i386" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || { echo "install-deps: dpkg could not add the i386 architecture" >&2; exit 1; }
  fi
  # An index that a mirror cannot give just now (one in the middle of a sync) is no reason to stop:
  # apt goes on with the others, and the install says whether they were enough.
  if ! apt-get update -qq >"$log" 2>&1; then
    grep -E '^(E|W):' "$log" >&2 || true
    echo "install-deps: apt-get update could not fetch every index; going on without them" >&2
  fi
  # A package of both architectures must be the same version in each. Where the security archive's
  # i386 index is missing, the i386 packages come from the main archive alone: their amd64 twins
  # must then come from there too, so this install takes the main archive's versions throughout
  # (as on a fresh system, where everything is installed at once, that is enough). What the security
  # archive already installed is never downgraded, nor anything removed: should an amd64 package
  # installed from there have no i386 twin of its version, the install fails and says why.
  options=(--no-remove)
  lists=/var/lib/apt/lists
  pinned=
  if [ -n "$i386" ] && compgen -G "$lists/*-security_main_binary-amd64_Packages*" >/dev/null &&
     ! compgen -G "$lists/*-security_main_binary-i386_Packages*" >/dev/null; then
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
    options+=(-o "Dir::Etc::Preferences=$pin")
    pinned=yes
    echo "install-deps: the security archive's i386 index is missing; installing the main archive's versions" >&2
  fi
  if ! apt-get install -y -qq --no-install-recommends "${options[@]}" "${missing[@]}" >>"$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps: apt-get failed" >&2
    [ -z "$pinned" ] || echo "install-deps: packages installed earlier from the security archive have no i386" \
      "twin of their version while its i386 index is missing; try again once the mirror has it (on a fresh" \
      "system, install the windows extra with the rest at once: scripts/install-deps.sh package windows cross)" >&2
    exit 1
  fi
  echo "installed in $SECONDS s"
else
  # The same as root does, in one command that a fresh system can run: sudo only where it is. An
  # index that cannot be fetched does not stop it, as above. Another architecture's packages take
  # more care (above): this script itself, then.
  if [ -n "$i386" ]; then
    command=$(printf '%q ' "$(cd "$(dirname "$0")" && pwd)/install-deps.sh" "$@")
  else
    command="apt-get update; DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
  fi
  if command -v sudo >/dev/null; then command="sudo sh -c '$command'"; else command="su -c '$command'"; fi
  echo "missing Debian packages; install them as root with:" >&2
  echo "  $command" >&2
  exit 1
fi
