# make             configure (build/, MinGW-w64 toolchain) and build everything
# make run         install what is missing, build, start Glyphdock under Wine on $DISPLAY
# make test        install what is missing, build, run every test (private Xvfb)
# make screenshot  build, then take the README's pictures (docs/screenshots/*.png) under openbox
BUILD := build
JOBS ?= 2
TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
export GLYPHDOCK_BUILD_DIR := $(CURDIR)/$(BUILD)

.PHONY: all build deps run test screenshot clean

# A tree is configured once CMake has written its build system (build/Makefile). A
# configure that fails takes its cache away with it, so the next make configures again
# instead of building on a half-made tree.
configure = cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) $(1) || { rm -f $(BUILD)/CMakeCache.txt $(BUILD)/Makefile; exit 1; }

all: build

# A tree first configured by make install, deb or dist has the tests and benchmarks off:
# switched on here.
build:
	@grep -qs '^GLYPHDOCK_TESTS:BOOL=ON' $(BUILD)/CMakeCache.txt && grep -qs '^GLYPHDOCK_BENCH:BOOL=ON' $(BUILD)/CMakeCache.txt && \
	  test -f $(BUILD)/Makefile || $(call configure,-DGLYPHDOCK_TESTS=ON -DGLYPHDOCK_BENCH=ON)
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

# make bench-export  only the export block of make bench: glyphdock-export (native)
#                  against icoutils, no Wine, no display
.PHONY: bench-export
bench-export:
	@scripts/install-deps.sh
	@$(MAKE) --no-print-directory build
	@bench/export-bench.sh $(BUILD)

# make install     build what ships (its build tools installed first), then install
#                  under $(DESTDIR)$(PREFIX) (default /usr/local): the
#                  glyphdock command and its manual page, Glyphdock.exe, the menu entry,
#                  the icons, the licence; glyphdock-export (native), its manual page and
#                  its thumbnailer file
# make uninstall   remove what make install put there
# make deb         build/glyphdock_$(VERSION)_amd64.deb from a make install tree
# make dist        build/dist/Glyphdock-$(VERSION)-win64.zip for Windows users
# The version is the one in VERSION.
PREFIX ?= /usr/local
DESTDIR ?=
VERSION := $(shell cat VERSION)
bindir := $(PREFIX)/bin
datadir := $(PREFIX)/share
ICON_SIZES := 16 32 48
.PHONY: ship install uninstall deb dist
# The file type database learns the type of Windows libraries (share/mime/packages) when
# installed straight into a system (no DESTDIR); a package has its triggers for that.
update_mime = if [ -z "$(DESTDIR)" ] && [ -d $(datadir)/mime/packages ] && command -v update-mime-database >/dev/null; then \
	  update-mime-database $(datadir)/mime; fi

# What install, deb and dist ship, and only that: their build tools installed first (or
# the one apt-get command printed), then just these targets built. A tree configured
# here leaves the tests and benchmarks out; one that has them keeps them, unbuilt. The
# export tool ships twice: the native program (glyphdock_native) and the Windows one.
SHIP_TARGETS := Glyphdock glyphdock-export glyphdock_native
ship:
	@scripts/install-deps.sh --build
	@test -f $(BUILD)/Makefile || $(call configure,-DGLYPHDOCK_TESTS=OFF -DGLYPHDOCK_BENCH=OFF)
	cmake --build $(BUILD) -j$(JOBS) --target $(SHIP_TARGETS)

install: ship
	install -d $(DESTDIR)$(bindir) $(DESTDIR)$(datadir)/glyphdock $(DESTDIR)$(datadir)/applications \
	  $(DESTDIR)$(datadir)/doc/glyphdock
	install -m 755 packaging/glyphdock $(DESTDIR)$(bindir)/glyphdock
	install -m 644 $(BUILD)/bin/Glyphdock.exe $(DESTDIR)$(datadir)/glyphdock/Glyphdock.exe
	install -m 644 packaging/glyphdock-fonts.sh $(DESTDIR)$(datadir)/glyphdock/fonts.sh
	sed 's|@BINDIR@|$(bindir)|' packaging/glyphdock.desktop.in > $(DESTDIR)$(datadir)/applications/glyphdock.desktop
	chmod 644 $(DESTDIR)$(datadir)/applications/glyphdock.desktop
	for s in $(ICON_SIZES); do \
	  install -d $(DESTDIR)$(datadir)/icons/hicolor/$${s}x$${s}/apps && \
	  install -m 644 $(BUILD)/generated/hicolor/$${s}x$${s}/apps/glyphdock.png \
	    $(DESTDIR)$(datadir)/icons/hicolor/$${s}x$${s}/apps/glyphdock.png || exit 1; \
	done
	install -m 644 LICENSE $(DESTDIR)$(datadir)/doc/glyphdock/LICENSE
	install -d $(DESTDIR)$(datadir)/man/man1
	sed 's|@VERSION@|$(VERSION)|' packaging/glyphdock.1 > $(DESTDIR)$(datadir)/man/man1/glyphdock.1
	chmod 644 $(DESTDIR)$(datadir)/man/man1/glyphdock.1
	install -m 755 $(BUILD)/native/glyphdock-export $(DESTDIR)$(bindir)/glyphdock-export
	sed 's|@VERSION@|$(VERSION)|' packaging/glyphdock-export.1 > $(DESTDIR)$(datadir)/man/man1/glyphdock-export.1
	chmod 644 $(DESTDIR)$(datadir)/man/man1/glyphdock-export.1
	install -d $(DESTDIR)$(datadir)/thumbnailers
	sed 's|@BINDIR@|$(bindir)|' packaging/glyphdock.thumbnailer.in > $(DESTDIR)$(datadir)/thumbnailers/glyphdock.thumbnailer
	chmod 644 $(DESTDIR)$(datadir)/thumbnailers/glyphdock.thumbnailer
	install -d $(DESTDIR)$(datadir)/mime/packages
	install -m 644 packaging/glyphdock-mime.xml $(DESTDIR)$(datadir)/mime/packages/glyphdock.xml
	$(update_mime)

uninstall:
	rm -f $(DESTDIR)$(bindir)/glyphdock $(DESTDIR)$(datadir)/glyphdock/Glyphdock.exe $(DESTDIR)$(datadir)/glyphdock/fonts.sh \
	  $(DESTDIR)$(datadir)/applications/glyphdock.desktop $(DESTDIR)$(datadir)/doc/glyphdock/LICENSE \
	  $(DESTDIR)$(datadir)/man/man1/glyphdock.1 \
	  $(foreach s,$(ICON_SIZES),$(DESTDIR)$(datadir)/icons/hicolor/$(s)x$(s)/apps/glyphdock.png) \
	  $(DESTDIR)$(bindir)/glyphdock-export $(DESTDIR)$(datadir)/man/man1/glyphdock-export.1 \
	  $(DESTDIR)$(datadir)/thumbnailers/glyphdock.thumbnailer $(DESTDIR)$(datadir)/mime/packages/glyphdock.xml
	$(update_mime)
	rmdir $(DESTDIR)$(datadir)/glyphdock $(DESTDIR)$(datadir)/doc/glyphdock 2>/dev/null || true
	rmdir $(DESTDIR)$(datadir)/thumbnailers $(DESTDIR)$(datadir)/mime/packages 2>/dev/null || true

deb: ship
	@scripts/make-deb.sh $(BUILD) $(BUILD)/glyphdock_$(VERSION)_amd64.deb

dist: ship
	@scripts/make-dist.sh $(BUILD) $(BUILD)/dist/Glyphdock-$(VERSION)-win64.zip

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

# make fuzz-native coverage-guided fuzzing of the reader, both decoders, the thumbnail and
#                  the export writers (libFuzzer, clang, address and undefined-behaviour
#                  sanitizers) for FUZZ_SECONDS of wall time in all, on one core; prints
#                  executions, coverage, peak memory and the slowest input of each harness.
#                  Findings land in build/fuzz-native/findings.
FUZZ_SECONDS ?= 300
.PHONY: fuzz-native
fuzz-native:
	@scripts/install-deps.sh
	@JOBS=$(JOBS) tests/fuzz/run-native-fuzz.sh fuzz $(CURDIR)/$(BUILD) $(FUZZ_SECONDS)
