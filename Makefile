# The two commands a new machine needs: `make run` and `make test`.
BUILD        ?= build
FUZZ_BUILD   ?= build-fuzz
ASAN_BUILD   ?= build-asan
TSAN_BUILD   ?= build-tsan
FUZZ_SECONDS ?= 30
CMAKE_FLAGS  ?=
PREFIX       ?= /usr/local

.PHONY: all deps configure build run demo soak test test-asan test-tsan bench fuzz format clean \
        install uninstall package package-check

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

# 10 000 copies from a real X11 client into the real binary; see README.
soak: build
	@scripts/soak $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

# The unit tests, the end-to-end suite and the corpus replays again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Only what CTest runs is built (the benchmarks are left out); any
# report stops its test, which then fails; leaks count as reports too. The hostile clipboard
# owners' test is left out: it holds the process to RSS bars that the sanitizer's shadow
# memory and quarantine make meaningless.
ASAN_ENV  = ASAN_OPTIONS=halt_on_error=1:print_stacktrace=1:detect_leaks=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ASAN_SKIP ?= ^test_hostile_owners_e2e_x11$$
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DULVANE_SANITIZE=ON
	cmake --build $(ASAN_BUILD) --target ulvane $$(cd $(ASAN_BUILD) && \
		ctest -N | sed -n 's/^ *Test *#[0-9]*: *//p' | sed 's/ *(Disabled)$$//; s/_\(x11\|wayland\|xwayland\|weston\)$$//' | sort -u)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j2 -E '$(ASAN_SKIP)'

# The concurrency test under ThreadSanitizer: only its own target is built. Qt is not built
# with the sanitizer, so what its libraries do themselves (QtTest's watchdog thread, Qt's own
# allocations) is ignored; Ulvane's code stays fully checked.
TSAN_ENV = TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 \
           suppressions=$(CURDIR)/tests/tsan.supp"
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DULVANE_TSAN=ON
	cmake --build $(TSAN_BUILD) --target test_concurrency
	cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -R '^test_concurrency$$'

# In a private X session, so the capture figures never depend on (or disturb) a desktop; the
# Wayland capture figures in a private headless sway session of their own.
bench: build
	@scripts/x11-session -- $(BUILD)/bench/ulvane-bench
	@scripts/wayland-session -- $(BUILD)/bench/ulvane-bench --only wayland

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DULVANE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) --target fuzz_snapshot fuzz_rtf fuzz_export_import fuzz_hex_color fuzz_hotkey_label \
		fuzz_copyless fuzz_bus_reply
	@scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Installs into PREFIX (default /usr/local; `sudo` where that is not yours). The installed files
# are listed in $(BUILD)/install_manifest.txt, which `make uninstall` removes again.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "nothing installed from $(BUILD)"; exit 1; }
	xargs -d '\n' rm -f -- < $(BUILD)/install_manifest.txt

# The Debian package, $(BUILD)/ulvane_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# Builds the package and puts it through what a user's machine does with it: validators,
# install, the installed binary's commands, the app in a private X session, removal. Needs
# root (apt); also checks a `cmake --install` into a temporary prefix with the sources moved away.
package-check: package
	@scripts/package-check $(BUILD)

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
