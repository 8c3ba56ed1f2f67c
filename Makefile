# The two everyday commands; everything else is CMake with presets (CMakePresets.json).
JOBS ?= $(shell nproc)

# What a build records of its time (the manual pages' date, the Windows programs' time stamps) is
# the last commit's, so that the same tree builds the same bytes.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

FUZZ_SECONDS ?= 60

# As root in a tree that another user owns, the programs rightly refuse the build's display module
# and catalogs, which that user could change, and a build would leave files there that they cannot
# change: the targets that build or run the programs stop at once. ./make.sh runs them as the owner.
AS_OWNER = demo test build format asan-test release-builds package package-test windows windows-zip \
           windows-reproducible cross-test fuzz valgrind bench bench-windows
OWNER := $(shell stat -c %u .)
OWNER_NAME = $(shell id -nu $(OWNER) 2>/dev/null || echo user $(OWNER))
ifeq ($(shell id -u),0)
ifneq ($(filter-out 0,$(OWNER)),)
ifneq ($(filter $(AS_OWNER),$(or $(MAKECMDGOALS),demo)),)
$(error this tree is $(OWNER_NAME)'s, and root's programs refuse another user's display module and catalogs: run ./make.sh $(or $(MAKECMDGOALS),demo), which runs make as $(OWNER_NAME))
endif
endif
endif

.PHONY: demo test setup build format format-check measures windows-reproducible asan-test release-builds package package-test windows windows-zip cross-test fresh-test fuzz bench bench-windows valgrind clean

# The demo says what it does step by step; the build's own output only if it fails.
demo:
	@JOBS=$(JOBS) scripts/demo.sh --build build/default/bin

test: setup build
	ctest --preset default -j$(JOBS)

setup:
	scripts/install-deps.sh

build:
	cmake --preset default >/dev/null
	cmake --build --preset default -j$(JOBS)

# Every source as .clang-format has it: format-check fails where one is not (CI's, with Debian 12's
# clang-format 14; another version may lay out a line otherwise), format rewrites them.
SOURCES = $(shell git ls-files '*.cpp' '*.hpp')
format-check: setup
	clang-format --dry-run -Werror $(SOURCES)

format: setup
	clang-format -i $(SOURCES)

# No function of the program code over 45 lines (the catalog's table aside), no file over 400.
measures:
	python3 scripts/measures.py

asan-test: setup
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j$(JOBS)

# Release builds (-O3) with GCC and with clang, warnings as errors, as a packager's compiler sees the code.
release-builds: setup
	for cxx in g++ clang++; do \
	  cmake -S . -B build/release-$$cxx -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=$$cxx -DTRIO_WERROR=ON >/dev/null && \
	  cmake --build build/release-$$cxx -j$(JOBS) || exit 1; \
	done

VERSION = $(shell sed -n "s/^project.trio VERSION \([0-9.]*\).*/\1/p" CMakeLists.txt)

# The Debian package (build/package/trio_$(VERSION)_amd64.deb), built by dpkg-buildpackage from
# debian/; with ARCH=arm64 (or i386, or another of Debian's ports) cross-built for that architecture
# into build/package-ARCH/, after adding its build dependencies (which adds the architecture to dpkg's).
ARCH ?=
package: setup
	scripts/install-deps.sh package $(if $(ARCH),package-$(ARCH))
	scripts/package.sh $(ARCH)

# The package checked with lintian, unpacked into a throw-away root and run from there.
package-test: package
	tests/package_test.sh build/package $(VERSION)

# The Windows programs, cross-built with MinGW-w64 for 64-bit Windows into build/windows/bin and
# for 32-bit Windows into build/windows-x86/bin, and their tests under Wine (scripts/windows-test.sh):
# the unit tests cross-built, then the end-to-end, bad-input and window tests of the Linux build run
# against the .exe files (what only POSIX has is skipped there). The 64-bit ones are always tested;
# the 32-bit ones wherever Wine can run them (scripts/wine.sh), else one line says why not.
# A Wine prefix of the build's own, for these and bench-windows.
export WINEPREFIX := $(CURDIR)/build/wine
windows: setup build
	scripts/install-deps.sh windows
	JOBS=$(JOBS) scripts/windows-test.sh windows
	JOBS=$(JOBS) scripts/windows-test.sh windows-x86

# The zips for Windows users, 64-bit and 32-bit: the three programs, the README, the license, the
# Windows page and the manual pages as text.
windows-zip: windows
	scripts/windows-zip.sh build/windows $(VERSION)
	scripts/windows-zip.sh build/windows-x86 $(VERSION)

# The 64-bit Windows zip made twice, from two clones in different folders, at different times,
# umasks and time zones: the same bytes both times.
windows-reproducible: setup
	scripts/install-deps.sh windows
	JOBS=$(JOBS) scripts/windows-reproducible.sh

# The programs cross-built for Debian's i386, arm64 and s390x ports (the cross-* presets, without a
# display or tests, in build/cross-*/bin), each run by the end-to-end and bad-input tests of the
# build here: i386 natively, the others under qemu-user.
cross-test: setup build
	scripts/install-deps.sh cross
	JOBS=$(JOBS) scripts/cross-test.sh

# The two opening commands of the README in a fresh minimal Debian root of RELEASE (debootstrap; as
# root), as an ordinary user and as root, on a clone of this tree's HEAD; the root is removed after.
RELEASE ?= trixie
fresh-test:
	scripts/install-deps.sh fresh
	tests/fresh_root.sh $(RELEASE)

# The fuzz target over the field reader and the Value operations, for FUZZ_SECONDS; a crash, a
# leak or a sanitizer report fails it. Its corpus grows in build/fuzz/corpus from fuzz/corpus.
fuzz: setup
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j$(JOBS)
	mkdir -p build/fuzz/corpus
	build/fuzz/bin/fields_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus

# The end-to-end tests with every program run under valgrind's memcheck (slow: not in CI).
valgrind: setup build
	TRIO_TEST_WRAPPER="valgrind -q --vgdb=no --error-exitcode=99 --leak-check=full --show-possibly-lost=no --errors-for-leak-kinds=definite" \
	    ctest --preset default -j$(JOBS) -R '^(Photo|Computer|Tallage|BadInput)\.'

bench: setup build
	scripts/bench.sh build/default/bin

bench-windows: setup
	scripts/install-deps.sh windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j$(JOBS)
	scripts/bench-windows.sh build/windows/bin

clean:
	rm -rf build
