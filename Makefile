# Set-up commands: `make run` and `make test` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# A sample quendra.ini goes beside the panel only when none is there: an
# operator's own settings are never overwritten.
run: build
	@[ -f $(BUILD)/bin/quendra.ini ] || cp resources/quendra.ini $(BUILD)/bin/quendra.ini
	$(BUILD)/bin/quendra-panel

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)

# docs/screenshot.png: the real panel photographed on a virtual X display.
.PHONY: screenshot
screenshot: build
	cmake --build $(BUILD) --target screenshot
