# The two everyday commands; everything else is CMake with presets (CMakePresets.json).
JOBS ?= $(shell nproc)

.PHONY: demo test setup build asan-test bench valgrind clean

demo: setup build
	scripts/demo.sh build/default/bin

test: setup build
	ctest --preset default -j$(JOBS)

setup:
	scripts/install-deps.sh

build:
	cmake --preset default >/dev/null
	cmake --build --preset default -j$(JOBS)

asan-test: setup
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j$(JOBS)

bench: setup build
	scripts/bench.sh build/default/bin

clean:
	rm -rf build
