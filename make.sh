#!/bin/sh
# The first commands on a fresh system, which has no make: installs what the build and the tests
# need where it is missing (make, cmake, the compiler and the rest; an ordinary user is given the
# one command that does), then runs make with the targets given: ./make.sh demo, ./make.sh test.
set -e
cd "$(dirname "$0")"
scripts/install-deps.sh
exec make "$@"
