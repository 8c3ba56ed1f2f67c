# The two everyday commands; everything else is CMake with presets (CMakePresets.json).
JOBS ?= $(shell nproc)

FUZZ_SECONDS ?= 60

.PHONY: demo test setup build asan-test fuzz bench valgrind clean

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

clean:
	rm -rf build
