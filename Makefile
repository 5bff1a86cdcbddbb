# make             configure (build/, MinGW-w64 toolchain) and build everything
# make run         install what is missing, build, start Glyphdock under Wine on $DISPLAY
# make test        install what is missing, build, run every test (private Xvfb)
# make screenshot  build, then save build/screenshots/main.png
BUILD := build
JOBS ?= 2
TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
export GLYPHDOCK_BUILD_DIR := $(CURDIR)/$(BUILD)

.PHONY: all build deps run test screenshot clean

all: build

build:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN)
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@scripts/install-deps.sh

# Recipes run their steps in order, so deps come first even under make -j.
run:
	@if [ -z "$$DISPLAY" ]; then echo "make run: there is no X display (DISPLAY is not set); use make screenshot instead." >&2; exit 1; fi
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@scripts/run.sh

test:
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@tests/harness/run-tests.sh

screenshot:
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@scripts/screenshot.sh

clean:
	rm -rf $(BUILD)

# make bench       install what is missing, build, print the benchmark table (private Xvfb,
#                  Wine prefix in build/bench-prefix)
.PHONY: bench
bench:
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@BENCH_PREFIX=$(CURDIR)/$(BUILD)/bench-prefix bench/run-bench.sh $(BUILD)

# make fuzz        build, then the differential fuzz of the file check against the shell's
#                  extraction (private Xvfb, Wine prefix in build/fuzz-prefix); FUZZ_FILES mutants
#                  from the fixed FUZZ_SEED. Files that crash the shell land in build/fuzz/failures.
FUZZ_FILES ?= 20000
FUZZ_SEED ?= 1
.PHONY: fuzz
fuzz:
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@tests/fuzz/run-fuzz.sh --files $(FUZZ_FILES) --seed $(FUZZ_SEED)
