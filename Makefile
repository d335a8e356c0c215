# SPDX-License-Identifier: MIT
# Quillo: `make run` starts the calculator, `make test` runs every test.
# Both install what is missing (Debian packages), configure and build, in the
# one folder build/: `make run` configures it without the tests when it is new
# and builds the program alone; `make test` turns the tests on and builds all.
# `make asan` runs the tests under AddressSanitizer and UBSan (build-asan),
# `make fuzz SECONDS=600` fuzzes whole sessions with libFuzzer (build-fuzz),
# `make package` builds the Debian package, `make package-check` lints it and
# runs what it holds. `make count COUNT_MAX=1.03` counts the instructions of
# start-up against the floor's under callgrind and fails above that ratio.
# `make compare` replays the same random keys through the release, debug and
# sanitizer builds of quillo-keys and fails unless they print the same.
# WERROR=ON makes warnings errors (CI sets it).

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE    ?= cmake
SECONDS  ?= 60
WERROR   ?=
COUNT_MAX ?=
RUN_DEPS     := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev qt6-wayland libmpfr-dev libsqlite3-dev
TEST_DEPS    := libgtest-dev libgmock-dev qt6-base-private-dev desktop-file-utils appstream groff-base \
                xvfb x11-utils weston python3 strace xdotool
BENCH_DEPS   := libbenchmark-dev xvfb libx11-dev libxdamage-dev valgrind
PACKAGE_DEPS := dpkg-dev file
CHECK_DEPS   := lintian

MAKEFLAGS += --no-print-directory
cache := $(BUILD)/CMakeCache.txt

# $(call configure,REQUIRED,INITIAL): configures $(BUILD) when it is new (with
# both lists of cache settings) or when its cache lacks one of REQUIRED, and
# otherwise leaves it alone, so that a build with nothing to do stays quick.
define configure
	@required="$(strip $(1) $(if $(WERROR),QUILLO_WERROR:BOOL=$(WERROR)))"; \
	if [ ! -f $(cache) ]; then \
		$(CMAKE) -S . -B $(BUILD) $$(for s in $$required $(2); do printf -- '-D%s ' "$$s"; done); \
	else \
		for s in $$required; do \
			grep -qx -- "$$s" $(cache) || { $(CMAKE) -S . -B $(BUILD) $$(for s in $$required; do printf -- '-D%s ' "$$s"; done); break; }; \
		done; \
	fi
endef

.PHONY: all build run test asan compare fuzz bench count package package-check clean

all: build

build:
	@tools/ensure-deps.sh $(RUN_DEPS) $(TEST_DEPS)
	$(call configure,BUILD_TESTING:BOOL=ON)
	@$(CMAKE) --build $(BUILD) -j $(JOBS)

run:
	@tools/ensure-deps.sh $(RUN_DEPS)
	$(call configure,,BUILD_TESTING:BOOL=OFF)
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target quillo
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
		echo "make run: no display found (DISPLAY and WAYLAND_DISPLAY are unset); start Quillo from a desktop session." >&2; \
		exit 1; \
	fi
	@$(BUILD)/bin/quillo

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan:
	@tools/ensure-deps.sh $(RUN_DEPS) $(TEST_DEPS)
	@tools/sanitize.sh

compare:
	@tools/ensure-deps.sh $(RUN_DEPS) python3
	$(call configure,,BUILD_TESTING:BOOL=OFF)
	@tools/compare-builds.sh

fuzz:
	@tools/fuzz.sh $(SECONDS)

bench:
	@tools/ensure-deps.sh $(RUN_DEPS) $(BENCH_DEPS)
	$(call configure,QUILLO_BENCH:BOOL=ON,BUILD_TESTING:BOOL=OFF)
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench-all
	@$(BUILD)/bin/quillo-engine-bench
	@$(BUILD)/bin/quillo-store-bench
	@bench/window.sh $(BUILD)
	@bench/startup/run.sh $(BUILD)
	@bench/startup/count.sh $(BUILD)

# The programs the count runs, and nothing else of the benchmarks.
count:
	@tools/ensure-deps.sh $(RUN_DEPS) $(BENCH_DEPS)
	$(call configure,QUILLO_BENCH:BOOL=ON,BUILD_TESTING:BOOL=OFF)
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target quillo quillo-floor quillo-startup-probe
	@bench/startup/count.sh $(if $(COUNT_MAX),--max $(COUNT_MAX)) $(BUILD)

package:
	@tools/ensure-deps.sh $(RUN_DEPS) $(PACKAGE_DEPS)
	$(call configure,,BUILD_TESTING:BOOL=OFF)
	@$(CMAKE) --build $(BUILD) -j $(JOBS)
	@rm -f $(BUILD)/quillo_*.deb
	@cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/quillo_*.deb

package-check: package
	@tools/ensure-deps.sh $(CHECK_DEPS)
	@bash tests/desktop/package_check.sh $(BUILD)/quillo_*.deb

clean:
	rm -rf $(BUILD) build-asan build-debug build-fuzz
