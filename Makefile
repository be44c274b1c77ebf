# The commands the README names. Each one installs the Debian packages it
# needs first (as root; otherwise it says which ones are missing).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Every build made here treats a warning in our code as an error (CI builds
# through these targets); WERROR=OFF lets a warning through while you work.
WERROR ?= ON

BUILD_PACKAGES := cmake ninja-build g++ pkg-config googletest libgtest-dev \
  libjack-jackd2-dev libasound2-dev librtaudio-dev librtmidi-dev qt6-base-dev \
  libsamplerate0-dev libdbus-1-dev
# The Linux device watch: PulseAudio sinks and ALSA sound cards (udev).
BUILD_PACKAGES += libpulse-dev libudev-dev
TEST_PACKAGES := $(BUILD_PACKAGES) jackd2 xvfb xdotool imagemagick sox alsa-utils python3
# A private PulseAudio server for the device watch's and the wave output's tests.
TEST_PACKAGES += pulseaudio pulseaudio-utils
BENCH_PACKAGES := $(BUILD_PACKAGES) libbenchmark-dev fluidsynth fluid-soundfont-gm libsoxr-dev jackd2
DEMO_PACKAGES := $(BUILD_PACKAGES) jackd2
SANITIZE_PACKAGES := $(TEST_PACKAGES) clang libclang-rt-dev
# The Windows program: mingw-w64 cross build, tests under Wine (a private
# PulseAudio for sound, Xvfb for the window).
WINDOWS_PACKAGES := cmake ninja-build googletest g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64
WINDOWS_TEST_PACKAGES := $(WINDOWS_PACKAGES) wine wine64 pulseaudio pulseaudio-utils \
  xvfb xdotool imagemagick python3
WINDOWS_CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake

FUZZ_PACKAGES := $(BUILD_PACKAGES) clang libclang-rt-dev
FUZZ_SECONDS ?= 60
# The style checks: clang-format over our sources, clang-tidy over the
# native build's compile database.
FORMAT_PACKAGES := clang-format git
TIDY_PACKAGES := $(BUILD_PACKAGES) clang-tidy

# $(call configure-and-build,FOLDER,CMAKE OPTIONS[,TARGETS]): configures FOLDER
# (warnings as errors unless WERROR=OFF) and builds TARGETS, or everything.
define configure-and-build
cmake -S . -B $(1) $(2) -DPELVANE_WERROR=$(WERROR)
cmake --build $(1) -j $(JOBS)$(if $(strip $(3)), --target $(3))
endef

.PHONY: all build test test-asan test-tsan bench bench-render bench-latency bench-live fuzz deps clean windows test-windows run demo \
  format format-check tidy include-edges check

all: build

deps:
	@scripts/ensure-packages $(TEST_PACKAGES)

build:
	@scripts/ensure-packages $(BUILD_PACKAGES)
	$(call configure-and-build,build,$(CMAKE_FLAGS))

# The program in the user's folder (scripts/run-pelvane: PELVANE_HOME, else
# $XDG_DATA_HOME/pelvane, else ~/.local/share/pelvane; made with the example
# instruments on first use). Without a display it runs the headless demo
# instead. Only what runs is built: no test suite.
RUN_DISPLAY := $(strip $(DISPLAY)$(WAYLAND_DISPLAY))
run:
	@scripts/ensure-packages $(DEMO_PACKAGES)
	@[ -n "$(RUN_DISPLAY)" ] || echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the headless demo instead."
	$(call configure-and-build,build,$(CMAKE_FLAGS),pelvane $(if $(RUN_DISPLAY),,pelvane_jack_phrase))
	$(if $(RUN_DISPLAY),exec scripts/run-pelvane build/app/main/pelvane,exec scripts/demo)

# The whole program end to end without display or sound card (scripts/demo).
demo:
	@scripts/ensure-packages $(DEMO_PACKAGES)
	$(call configure-and-build,build,$(CMAKE_FLAGS))
	scripts/demo

test:
	@scripts/ensure-packages $(TEST_PACKAGES)
	$(call configure-and-build,build,$(CMAKE_FLAGS))
	ctest --test-dir build --output-on-failure -j $(JOBS)
	$(MAKE) test-windows

# Cross-builds build-windows/pelvane.exe and the Windows test executables.
windows:
	@scripts/ensure-packages $(WINDOWS_PACKAGES)
	$(call configure-and-build,build-windows,$(WINDOWS_CMAKE_FLAGS))

# The Windows suites under Wine.
test-windows: windows
	@scripts/ensure-packages $(WINDOWS_TEST_PACKAGES)
	ctest --test-dir build-windows --output-on-failure -j $(JOBS)

# The unit and integration suites under ASan+UBSan, then under TSan.
test-asan:
	@scripts/ensure-packages $(SANITIZE_PACKAGES)
	$(call configure-and-build,build-asan,$(CMAKE_FLAGS) -DPELVANE_SANITIZE=address)
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	@scripts/ensure-packages $(SANITIZE_PACKAGES)
	$(call configure-and-build,build-tsan,$(CMAKE_FLAGS) -DPELVANE_SANITIZE=thread)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

BENCH_CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELVANE_BENCH=ON -DBUILD_TESTING=OFF
bench:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(call configure-and-build,build-bench,$(BENCH_CMAKE_FLAGS))
	@for b in build-bench/bench/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_counters_tabular=true; done

# Note-on to sound through the whole synthesizer on private JACK servers at
# periods of 256, 512 and 1024 frames.
bench-latency:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(call configure-and-build,build-bench,$(BENCH_CMAKE_FLAGS),note_latency)
	bench/latency.sh build-bench

# The whole program's CPU while it plays 240 notes struck every 0.5 s, side by
# side with FluidSynth on the same private JACK server.
bench-live:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(call configure-and-build,build,$(CMAKE_FLAGS),pelvane pelvane_jack_keys)
	bench/live.sh build

# Every libFuzzer target (clang, ASan+UBSan) for FUZZ_SECONDS each.
FUZZ_CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPELVANE_FUZZ=ON -DBUILD_TESTING=OFF -DPELVANE_SANITIZE=address \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
FUZZ_TARGETS := FuzzWaveLoader FuzzLineReader FuzzInstrumentSet FuzzSmfReader MakeSeeds
fuzz:
	@scripts/ensure-packages $(FUZZ_PACKAGES)
	$(call configure-and-build,build-fuzz,$(FUZZ_CMAKE_FLAGS),$(FUZZ_TARGETS))
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# pelvane-render against FluidSynth on a generated dense song and sparse piece.
bench-render:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(call configure-and-build,build-bench,$(BENCH_CMAKE_FLAGS),pelvane-render render_song render_sparse)
	bench/render.sh build-bench

# clang-format over our own sources (scripts/format lists them); format-check
# changes nothing and fails on a file that differs.
format:
	@scripts/ensure-packages $(FORMAT_PACKAGES)
	scripts/format

format-check:
	@scripts/ensure-packages $(FORMAT_PACKAGES)
	scripts/format --check

# clang-tidy (the checks in .clang-tidy) over every source of ours in the
# native build's compile database, in parallel; fails on any finding. Needs
# only the configured folder, not a build.
tidy:
	@scripts/ensure-packages $(TIDY_PACKAGES)
	cmake -S . -B build $(CMAKE_FLAGS) -DPELVANE_WERROR=$(WERROR)
	scripts/tidy build $(JOBS)

# The include edges between the top-level folders; fails on one pointing
# upward (scripts/include-edges).
include-edges:
	scripts/include-edges

# The style and structure checks, all of them even when one fails.
check:
	@status=0; \
	$(MAKE) --no-print-directory format-check || status=1; \
	$(MAKE) --no-print-directory tidy || status=1; \
	$(MAKE) --no-print-directory include-edges || status=1; \
	exit $$status

clean:
	@[ -x build-windows/wine-run ] && build-windows/wine-run --kill || true
	rm -rf build build-asan build-tsan build-bench build-windows build-fuzz
