#!/usr/bin/env bash
# The programs cross-built for Debian's i386, arm64 and s390x ports (the cross-* presets: no
# display, no tests), each then run by the end-to-end and bad-input tests of the build in
# build/default: i386 natively, through its own dynamic loader, where the kernel runs 32-bit
# programs (else under qemu-i386), the others under qemu-user; each with the port's own libraries
# from /usr/<triplet>. Usage: cross-test.sh [port...] (default: all three).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
ports=("$@")
[ ${#ports[@]} -gt 0 ] || ports=(i386 arm64 s390x)

for port in "${ports[@]}"; do
  case $port in
    i386) triplet=i686-linux-gnu qemu=qemu-i386 ;;
    arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 ;;
    s390x) triplet=s390x-linux-gnu qemu=qemu-s390x ;;
    *) echo "cross-test: no such port: $port (i386, arm64, s390x)" >&2; exit 2 ;;
  esac
  cmake --preset "cross-$port" >/dev/null
  cmake --build --preset "cross-$port" -j"$jobs"
  run="$qemu -L /usr/$triplet"
  loader=/usr/$triplet/lib/ld-linux.so.2
  if [ "$port" = i386 ] && "$loader" --version >/dev/null 2>&1; then
    run="$loader --library-path /usr/$triplet/lib"
  fi
  echo "cross-test: $port, run by $run"
  TRIO_TEST_BIN="$PWD/build/cross-$port/bin" TRIO_TEST_WRAPPER="$run" \
    ctest --preset default -j"$jobs" -R '^(Photo|Computer|Tallage|BadInput)\.'
done
