# Convenience front end: every target builds with CMake and Ninja into build/.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-win
WINE_BUILD ?= build-wine
PKG_BUILD  ?= build-pkg
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)

.PHONY: all build demo test test-asan bench fuzz windows test-windows install package \
        test-package clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DTRAXCON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Windows: traxcon.exe and the unit-test programs, cross-built with MinGW-w64 into build-win/bin.
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The unit tests as Windows programs under Wine, then the end-to-end tests (Linux programs in
# build-wine) on traxcon.exe under Wine. The first step makes the Wine prefix of build-win (without
# Debian's 32-bit Wine it reports that syswow64\rundll32.exe cannot be opened: nothing here is
# 32-bit); the last ends Wine's server of that prefix, which would otherwise stay a few seconds.
test-windows: windows
	cmake -S . -B $(WINE_BUILD) -G Ninja -DTRAXCON_TEST_LAUNCHER=$(abspath $(WIN_BUILD))/wine-run \
	  -DTRAXCON_TEST_PROGRAM=$(abspath $(WIN_BUILD))/bin/traxcon.exe
	cmake --build $(WINE_BUILD) -j $(JOBS) --target app_tests
	$(WIN_BUILD)/wine-run wineboot --init
	ctest --test-dir $(WIN_BUILD) --output-on-failure -j $(JOBS)
	ctest --test-dir $(WINE_BUILD) --output-on-failure -j $(JOBS)
	$(WIN_BUILD)/wine-run --stop-server

# Installs what `make` built: bin/traxcon and share/man/man1/traxcon.1 (and README and CHANGELOG
# in share/doc/traxcon) below PREFIX (default /usr/local); DESTDIR is honoured. It builds nothing,
# so that `sudo make install` leaves no files of root's in the build folder.
install:
	@test -f $(BUILD)/bin/traxcon || { echo "no $(BUILD)/bin/traxcon: run make first" >&2; exit 1; }
	cmake --install $(BUILD) --prefix $(PREFIX)

# The packages, both into $(PKG_BUILD): the Debian package traxcon_<version>_<arch>.deb from a
# release build of its own (without the tests), and the Windows zip traxcon-<version>-win64.zip
# with traxcon.exe of the Windows build in $(WIN_BUILD) (the one `make test-windows` tests),
# stripped. Only the converter (and the zip's texts) are built for them.
package:
	cmake -S . -B $(PKG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAXCON_TESTS=OFF \
	  -DTRAXCON_PACKAGE_TESTS=ON -DTRAXCON_WINE_RUN=$(abspath $(WIN_BUILD))/wine-run
	cmake --build $(PKG_BUILD) -j $(JOBS) --target traxcon
	cd $(PKG_BUILD) && cpack
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target traxcon windows_texts
	cd $(WIN_BUILD) && cpack -B $(abspath $(PKG_BUILD))

# The package tests (tests/package): the Debian package's converter on the sample measurement,
# and the zip's traxcon.exe under Wine (the Wine prefix of $(WIN_BUILD)) against it.
test-package: package
	$(WIN_BUILD)/wine-run wineboot --init
	status=0; ctest --test-dir $(PKG_BUILD) --output-on-failure || status=$$?; \
	  $(WIN_BUILD)/wine-run --stop-server; exit $$status

# Release build in build-bench, a generated measurement of about 200 MB (BENCH_SIZE=1G for the
# large one), and the table of the conversion benchmark (bench/run.sh).
BENCH_SIZE ?= 200M
bench:
	bench/run.sh $(BENCH_SIZE)

fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTRAXCON_FUZZ=ON -DTRAXCON_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(WINE_BUILD) $(PKG_BUILD)
