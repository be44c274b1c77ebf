# The commands the README names. Each one installs the Debian packages it
# needs first (as root; otherwise it says which ones are missing).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

BUILD_PACKAGES := cmake ninja-build g++ pkg-config googletest libgtest-dev \
  libjack-jackd2-dev libasound2-dev librtaudio-dev librtmidi-dev qt6-base-dev
TEST_PACKAGES := $(BUILD_PACKAGES) jackd2 xvfb xdotool imagemagick sox
BENCH_PACKAGES := $(BUILD_PACKAGES) libbenchmark-dev
SANITIZE_PACKAGES := $(TEST_PACKAGES) clang libclang-rt-dev

.PHONY: all build test test-asan test-tsan bench deps clean

all: build

deps:
	@scripts/ensure-packages $(TEST_PACKAGES)

build/build.ninja:
	@scripts/ensure-packages $(BUILD_PACKAGES)
	cmake -S . -B build $(CMAKE_FLAGS)

build: build/build.ninja
	cmake --build build -j $(JOBS)

test:
	@scripts/ensure-packages $(TEST_PACKAGES)
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The unit and integration suites under ASan+UBSan, then under TSan.
test-asan:
	@scripts/ensure-packages $(SANITIZE_PACKAGES)
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DPELVANE_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	@scripts/ensure-packages $(SANITIZE_PACKAGES)
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DPELVANE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

bench:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELVANE_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bench/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_counters_tabular=true; done

clean:
	rm -rf build build-asan build-tsan build-bench build-windows
