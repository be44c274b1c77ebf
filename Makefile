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
# pelvane-import: SF3's Ogg Vorbis and SFZ kits' WAV, FLAC and Ogg files.
BUILD_PACKAGES += libsndfile1-dev
TEST_PACKAGES := $(BUILD_PACKAGES) jackd2 xvfb xdotool imagemagick sox alsa-utils python3
# A private PulseAudio server for the device watch's and the wave output's tests.
TEST_PACKAGES += pulseaudio pulseaudio-utils
# The importer's tests: a small General MIDI font to truncate and damage.
TEST_PACKAGES += timgm6mb-soundfont
BENCH_PACKAGES := $(BUILD_PACKAGES) libbenchmark-dev fluidsynth fluid-soundfont-gm libsoxr-dev jackd2
DEMO_PACKAGES := $(BUILD_PACKAGES) jackd2
SANITIZE_PACKAGES := $(TEST_PACKAGES) clang libclang-rt-dev
# The Windows program: mingw-w64 cross build, tests under Wine (a private
# PulseAudio for sound, Xvfb for the window).
WINDOWS_PACKAGES := cmake ninja-build googletest g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64
WINDOWS_TEST_PACKAGES := $(WINDOWS_PACKAGES) wine wine64 pulseaudio pulseaudio-utils \
  xvfb xdotool imagemagick python3 python3-pefile unzip
WINDOWS_CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake

# The Debian package, its checks and the installed program's test.
# (CPack finds the programs for dpkg-shlibdeps with file; xprop reads the window's class.)
PACKAGE_PACKAGES := $(BUILD_PACKAGES) dpkg-dev file lintian desktop-file-utils appstream \
  mandoc jackd2 xvfb xdotool x11-utils
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

IMPORT_PACKAGES := $(BUILD_PACKAGES) fluidsynth fluid-soundfont-gm

.PHONY: install package test-package dist-windows bench-import compare-import
.PHONY: all build test test-asan test-tsan bench bench-smoke bench-render bench-latency bench-live fuzz deps clean windows test-windows run demo \
  format format-check tidy include-edges check

all: build

deps:
	@scripts/ensure-packages $(TEST_PACKAGES)

build:
	@scripts/ensure-packages $(BUILD_PACKAGES)
	$(call configure-and-build,build,$(CMAKE_FLAGS))

# The programs, desktop entry, icons, metainfo, man pages and example kit
# (build-package/: no test suite) into PREFIX, under DESTDIR if given.
PREFIX ?= /usr/local
PACKAGE_CMAKE_FLAGS := $(CMAKE_FLAGS) -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
install:
	@scripts/ensure-packages $(BUILD_PACKAGES)
	$(call configure-and-build,build-package,$(PACKAGE_CMAKE_FLAGS))
	DESTDIR="$(DESTDIR)" cmake --install build-package --prefix "$(PREFIX)"

# build-package/pelvane_VERSION_ARCH.deb, checked by lintian, desktop-file-validate,
# appstreamcli and mandoc (scripts/check-package); test-package also starts the
# installed program from an empty home under Xvfb.
package:
	@scripts/ensure-packages $(PACKAGE_PACKAGES)
	$(call configure-and-build,build-package,$(PACKAGE_CMAKE_FLAGS))
	rm -f build-package/pelvane_*.deb
	cd build-package && cpack -G DEB
	scripts/check-package build-package/pelvane_*.deb

test-package: package
	tests/package/installed_xvfb.sh build-package/pelvane_*.deb

# build-windows/pelvane-VERSION-win64.zip: pelvane.exe, the example kit,
# README.txt and LICENSE.txt (its test, e2e_win32_wine_gui, runs in test-windows).
dist-windows: windows
	cmake --build build-windows --target dist
	@ls build-windows/pelvane-*-win64.zip

# The program in the user's folder (scripts/run-pelvane: PELVANE_HOME, else
# $XDG_DATA_HOME/pelvane, else ~/.local/share/pelvane; made with the example
# instruments on first use). Without a display it runs the headless demo
# instead. Only what runs is built: no test suite.
RUN_DISPLAY := $(strip $(DISPLAY)$(WAYLAND_DISPLAY))
# KIT=gm: the General MIDI instruments of FluidR3_GM instead, imported by
# pelvane-import into their own folder on first use (scripts/import-gm).
run:
	@scripts/ensure-packages $(DEMO_PACKAGES) $(if $(filter gm,$(KIT)),fluid-soundfont-gm)
	@[ -n "$(RUN_DISPLAY)" ] || echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the headless demo instead."
	$(call configure-and-build,build,$(CMAKE_FLAGS),pelvane $(if $(RUN_DISPLAY),,pelvane_jack_phrase) $(if $(filter gm,$(KIT)),pelvane-import))
	$(if $(filter gm,$(KIT)),home=$$(scripts/import-gm build/tools/pelvane-import) && export PELVANE_HOME="$$home" &&) \
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
	bench/run.sh build-bench --benchmark_counters_tabular=true

# Every Google Benchmark program once, briefly (Google Benchmark 1.7 reads
# the minimum time in seconds): a benchmark that crashes or reports an error
# fails. No time is asserted; the figures come from `make bench`.
BENCH_PROGRAMS := $(basename $(notdir $(wildcard bench/bench_*.cpp)))
BENCH_SMOKE_PACKAGES := $(BUILD_PACKAGES) libbenchmark-dev libsoxr-dev
bench-smoke:
	@scripts/ensure-packages $(BENCH_SMOKE_PACKAGES)
	$(call configure-and-build,build-bench,$(BENCH_CMAKE_FLAGS),$(BENCH_PROGRAMS))
	bench/run.sh build-bench --benchmark_min_time=0.01

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
FUZZ_TARGETS := FuzzWaveLoader FuzzLineReader FuzzInstrumentSet FuzzSmfReader FuzzSf2Reader \
  FuzzSfzParser MakeSeeds
fuzz:
	@scripts/ensure-packages $(FUZZ_PACKAGES)
	$(call configure-and-build,build-fuzz,$(FUZZ_CMAKE_FLAGS),$(FUZZ_TARGETS))
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# pelvane-render against FluidSynth on a generated dense song and sparse piece.
bench-render:
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(call configure-and-build,build-bench,$(BENCH_CMAKE_FLAGS),pelvane-render pelvane-import render_song render_sparse)
	bench/render.sh build-bench

# pelvane-import on FluidR3_GM: import time, load time, memory and render
# speed against FluidSynth (bench/import.sh).
bench-import:
	@scripts/ensure-packages $(IMPORT_PACKAGES) python3
	$(call configure-and-build,build,$(CMAKE_FLAGS),pelvane-import pelvane-render pelvane_make_midi)
	bench/import.sh build

# FluidR3_GM and TimGM6mb imported and rendered note by note against
# FluidSynth (tests/compare/import_fluidsynth.sh), and a generated SFZ kit
# against the sound its samples describe (tests/compare/import_sfz.sh).
compare-import:
	@scripts/ensure-packages $(IMPORT_PACKAGES) timgm6mb-soundfont sox python3
	$(call configure-and-build,build,$(CMAKE_FLAGS),pelvane-import pelvane-render pelvane_compare_renders)
	PELVANE_BUILD=$(CURDIR)/build PELVANE_FONT=/usr/share/sounds/sf2/FluidR3_GM.sf2 tests/compare/import_fluidsynth.sh
	PELVANE_BUILD=$(CURDIR)/build PELVANE_FONT=/usr/share/sounds/sf2/TimGM6mb.sf2 tests/compare/import_fluidsynth.sh
	PELVANE_BUILD=$(CURDIR)/build tests/compare/import_sfz.sh

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
	rm -rf build build-asan build-tsan build-bench build-windows build-fuzz build-package
