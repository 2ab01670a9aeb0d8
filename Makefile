# The two commands a new machine needs: `make run` and `make test`.
BUILD        ?= build
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 30
CMAKE_FLAGS  ?=

.PHONY: all deps configure build run demo test test-asan bench fuzz format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
		exec $(BUILD)/ulvane; \
	else \
		echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the demo instead."; \
		$(MAKE) --no-print-directory demo; \
	fi

demo: build
	@scripts/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2 --repeat until-pass:2

# The unit tests and corpus replays again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DULVANE_SANITIZE=ON
	cmake --build build-asan
	cd build-asan && ctest --output-on-failure -j2

# In a private X session, so the capture figures never depend on (or disturb) a desktop.
bench: build
	@scripts/x11-session -- $(BUILD)/bench/ulvane-bench

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DULVANE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) --target fuzz_snapshot fuzz_rtf fuzz_export_import fuzz_hex_color fuzz_hotkey_label
	@scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
