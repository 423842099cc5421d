# Two entry points for a fresh Debian 12 machine:
#   make run   installs what building and running need, builds the programs, and starts pagemint
#   make test  installs that and the test tools, builds the programs and the tests, runs every test
#   make deb   installs what building and packing need, builds, and packs pagemint_<version>_<arch>.deb
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps test-deps package-deps configure configure-tests build build-tests run test install \
	deb clean sanitize fuzz bench

deps:
	./scripts/install-deps.sh

package-deps:
	./scripts/install-deps.sh --package

test-deps:
	./scripts/install-deps.sh --test

# The programs alone need neither the test framework nor the test tools.
configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPAGEMINT_BUILD_TESTS=OFF

configure-tests: test-deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPAGEMINT_BUILD_TESTS=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-tests: configure-tests
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/pagemint

# The desktop tier's run on Wayland (ctest -L wayland) is not part of it yet: see the README.
test: build-tests
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE wayland

install: build
	cmake --install $(BUILD)

# The Debian package, written into the build folder.
deb: package-deps build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-asan build-fuzz

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own folder;
# the desktop tier, which drives the program with real input and watches its standard error, runs
# in the plain build only.
ASAN_BUILD ?= build-asan
sanitize: test-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEMINT_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS) -LE 'desktop|wayland'

# libFuzzer targets (clang), each run for FUZZ_SECONDS seconds.
FUZZ_SECONDS ?= 60
fuzz: test-deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_BUILD=$(CURDIR)/build-fuzz FUZZ_JOBS=$(JOBS) ./fuzz/run_fuzzers.sh

# rastool against the other PDF rasterisers of Debian's packages; BENCH_RUNS, BENCH_PAGES,
# BENCH_HIRES_PAGES and BENCH_CASES narrow or widen it.
bench: test-deps configure
	cmake --build $(BUILD) --target rastool -j $(JOBS)
	python3 bench/rasteriser_bench.py --rastool $(BUILD)/bin/rastool
	python3 bench/encoder_bench.py --rastool $(BUILD)/bin/rastool
