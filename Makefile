# Set-up commands: `make run` and `make test` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps deps-package deps-windows deps-test build run check test package windows \
	windows-build clean test-asan fuzz lint screenshot

all: build

# What building and running need; the Debian package and the tests add their
# own tools (scripts/install-deps.sh names them).
deps:
	@sh scripts/install-deps.sh run

deps-package:
	@sh scripts/install-deps.sh package

deps-windows:
	@sh scripts/install-deps.sh windows

deps-test:
	@sh scripts/install-deps.sh test

# The wine tests find the Windows programs in $(WINDOWS_BUILD).
WINDOWS_BUILD ?= build-windows

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DQUENDRA_WINDOWS_BUILD=$(CURDIR)/$(WINDOWS_BUILD)
	cmake --build $(BUILD) -j$(JOBS)

# The panel and the module emulator, wired together on a pseudo-terminal. A
# sample quendra.ini goes beside the panel only when none is there: an
# operator's own settings are never overwritten.
run: build
	@sh tools/emulator/run-with-panel.sh $(BUILD)

# The fast suites on the plain build: what to run while working. Tests
# labelled slow (the package, the 10,000-frame run, the terminal server) are
# left to make test.
check: deps-test build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) -LE slow

# The whole gate. The Windows programs are built first, for the wine tests.
# The suite runs twice: as built, then built with AddressSanitizer and
# UndefinedBehaviorSanitizer; then every fuzz target searches briefly.
test: deps-test build windows-build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	$(MAKE) test-asan
	$(MAKE) fuzz

# The panel and quendra-send for Windows, with the zip and the installer, in
# $(WINDOWS_BUILD)/. The first run builds a static Qt for Windows from
# Debian's source into ~/.cache/quendra (about half an hour; QUENDRA_CACHE
# moves it), which every later run reuses.
windows: deps-windows windows-build

windows-build:
	sh packaging/windows/build.sh $(WINDOWS_BUILD)

# The Debian package, in $(BUILD)/: quendra_<version>_<arch>.deb.
package: deps-package build
	cmake --build $(BUILD) --target package

# An operator's edited $(BUILD)/bin/quendra.ini outlives the build folder: it
# is put back where it was. The sample make run put there, unedited, is not.
clean:
	@kept=""; \
	if [ -f $(BUILD)/bin/quendra.ini ] && ! cmp -s $(BUILD)/bin/quendra.ini tools/emulator/quendra.ini; then \
		kept=$$(mktemp) && cp -p $(BUILD)/bin/quendra.ini "$$kept"; fi; \
	echo "rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)"; \
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD); \
	if [ -n "$$kept" ]; then mkdir -p $(BUILD)/bin && mv "$$kept" $(BUILD)/bin/quendra.ini && \
		echo "kept $(BUILD)/bin/quendra.ini: your settings"; fi

# docs/screenshot.png: the real panel photographed on a virtual X display;
# docs/web-*.png: the bridge's page in Chromium.
screenshot: deps-test build
	cmake --build $(BUILD) --target screenshot
	cmake --build $(BUILD) --target web-screenshots

# Any sanitizer report fails the test that raised it. Leaks inside the
# system's font and graphics libraries are listed in tests/lsan.supp; a leak
# in the panel's own code is never suppressed.
# The package test is left to the plain build: it only packs what was built;
# so are the wine tests, which run programs built apart, for Windows.
ASAN_BUILD ?= build-asan
SANITIZER_ENV = QT_QPA_PLATFORM=offscreen \
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

test-asan: deps-test
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUENDRA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS) -E 'tst_package|tst_wine|tst_windows'

# libFuzzer targets, built with clang in their own folder. FUZZ_SECONDS is
# the search time of each target: short in CI, longer by hand
# (make fuzz FUZZ_SECONDS=300).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20

fuzz: deps-test
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DQUENDRA_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target quendra_fuzzers
	sh fuzz/run.sh $(FUZZ_BUILD)/bin $(FUZZ_SECONDS)

# clang-tidy (.clang-tidy) and cppcheck over the project's own sources, as the
# normal build compiles them; then the panel and quendra-send compiled for
# Windows with mingw-w64.
lint: deps-test build
	sh scripts/lint.sh $(BUILD)

# Start-up, click-to-line latency and memory of the panel, measured on an
# optimised build; prints a table. Not a test.
.PHONY: bench
bench: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench: deps-test build
	$(BUILD)/bin/quendra-bench
	$(BUILD)/bin/quendra-bench-web

# The bridge's page in Chromium: a click to the last byte at the pty and a
# message published to the broker to the card showing it, p50 and p99 over
# 1,000 each. Not a test.
.PHONY: bench-web
bench-web: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench-web: deps-test build
	$(BUILD)/bin/quendra-bench-web

# One script of 10,000 frames against a quendra-send process per frame; prints
# the times and the script's own cost per frame. Not a test.
.PHONY: bench-send
bench-send: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench-send: deps-test build
	$(BUILD)/bin/quendra-bench-send

# Click to byte through a real ser2net on loopback, rfc2217:// and socket://,
# beside a local pty; prints p50, p99 and the worst. Not a test.
.PHONY: bench-network
bench-network: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench-network: deps-test build
	$(BUILD)/bin/quendra-bench-network

# A message published to a Mosquitto broker on loopback to the last byte at
# the far pty through quendra-bridge, and messages a second into one line.
.PHONY: bench-bridge
bench-bridge: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench-bridge: build
	$(BUILD)/bin/quendra-bench-bridge
