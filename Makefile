# Set-up commands: `make run` and `make test` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test package clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# The panel and the module emulator, wired together on a pseudo-terminal. A
# sample quendra.ini goes beside the panel only when none is there: an
# operator's own settings are never overwritten.
run: build
	@sh tools/emulator/run-with-panel.sh $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# The Debian package, in $(BUILD)/: quendra_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)

# docs/screenshot.png: the real panel photographed on a virtual X display.
.PHONY: screenshot
screenshot: build
	cmake --build $(BUILD) --target screenshot

# Start-up, click-to-line latency and memory of the panel, measured on an
# optimised build; prints a table. Not a test.
.PHONY: bench
bench: CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
bench: build
	$(BUILD)/bin/quendra-bench
