# Quillo: `make run` starts the calculator, `make test` runs every test.
# Both install what is missing (Debian packages), configure and build.
# `make asan` runs the tests under AddressSanitizer and UBSan (build-asan),
# `make fuzz SECONDS=600` fuzzes the engine with libFuzzer (build-fuzz).

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE    ?= cmake
SECONDS  ?= 60
BUILD_DEPS := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
              libgtest-dev libgmock-dev libbenchmark-dev
TEST_DEPS  := desktop-file-utils appstream
BENCH_DEPS := xvfb libx11-dev libxdamage-dev

MAKEFLAGS += --no-print-directory

.PHONY: all build run test asan fuzz bench deps clean

all: build

deps:
	@tools/ensure-deps.sh $(BUILD_DEPS) $(TEST_DEPS)

$(BUILD)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(BUILD)

build: deps $(BUILD)/CMakeCache.txt
	@$(CMAKE) --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "make run: no display found (DISPLAY and WAYLAND_DISPLAY are unset); start Quillo from a desktop session." >&2; \
		exit 1; \
	fi
	@$(BUILD)/bin/quillo

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	@tools/sanitize.sh

fuzz:
	@tools/fuzz.sh $(SECONDS)

bench: build
	@tools/ensure-deps.sh $(BENCH_DEPS)
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench-all
	@$(BUILD)/bin/quillo-engine-bench
	@bench/startup/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz
