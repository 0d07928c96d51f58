# The two commands a fresh machine needs: `make demo` and `make test`.
# Each installs the Debian packages it needs first. `make package` builds the
# Debian package into dist/; `make install PREFIX=...` installs the build.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20
PREFIX     ?= /usr/local
DIST       ?= dist

# Test programs that hold concurrency tests (label "concurrency"), run again under TSan.
TSAN_TARGETS ?= platform_tests outgoing_tests platform_runtime_tests platform_bus_tests platform_http_tests voice_tests common_tests incoming_tests redirect_tests

CMAKE_GEN := -G Ninja

.PHONY: all deps build test unit-tests asan-tests tsan-tests fuzz-smoke package-smoke demo bench \
        format clean install package

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@echo "build: configuring and compiling in $(BUILD)/"
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) --log-level=WARNING -DCMAKE_BUILD_TYPE=Release \
	  -DPELORIN_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The binary package, built the Debian way from a clean tree (only what is
# installed is compiled), moved into $(DIST)/ and checked with lintian. No
# debug symbols package, so no debug information is compiled either.
package: deps
	@echo "package: building the Debian package (log: $(DIST)/package.log)"
	@rm -rf $(DIST) && mkdir -p $(DIST)
	@DEB_BUILD_OPTIONS="nocheck noddebs parallel=$(JOBS)" DEB_CFLAGS_APPEND=-g0 \
	  DEB_CXXFLAGS_APPEND=-g0 dpkg-buildpackage -b -us -uc \
	  >$(DIST)/package.log 2>&1 || { cat $(DIST)/package.log; exit 1; }
	@mv ../pelorin_$$(dpkg-parsechangelog -S Version)_* $(DIST)/
	@debian/rules clean >/dev/null 2>&1 || true
	lintian --fail-on error $(DIST)/*.changes
	@ls $(DIST)/*.deb

demo: build
	tools/demo/tour.sh $(BUILD)

test: unit-tests asan-tests tsan-tests fuzz-smoke package-smoke

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

# Installs the package on this machine, runs a device from it as a new user
# would, then purges it and checks that nothing of it is left.
package-smoke: package
	scripts/package-smoke.sh $(DIST)

bench: build
	bench/run.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(DIST)
