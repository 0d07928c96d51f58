# The two commands a fresh machine needs: `make demo` and `make test`.
# Each installs the Debian packages it needs first.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20

# Test programs that hold concurrency tests (label "concurrency"), run again under TSan.
TSAN_TARGETS ?= platform_tests outgoing_tests platform_runtime_tests platform_bus_tests platform_http_tests voice_tests common_tests incoming_tests redirect_tests

CMAKE_GEN := -G Ninja

.PHONY: all deps build test unit-tests asan-tests tsan-tests fuzz-smoke demo bench format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DPELORIN_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	tools/demo/tour.sh $(BUILD)

test: unit-tests asan-tests tsan-tests fuzz-smoke

unit-tests: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

asan-tests: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1" \
	  -DPELORIN_WERROR=ON -DPELORIN_BENCH=OFF -DPELORIN_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

tsan-tests: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1" \
	  -DPELORIN_WERROR=ON -DPELORIN_BENCH=OFF -DPELORIN_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_BUILD) -j $(JOBS) -L concurrency --output-on-failure

fuzz-smoke: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPELORIN_FUZZ=ON -DPELORIN_WERROR=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	scripts/fuzz-smoke.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	bench/run.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
