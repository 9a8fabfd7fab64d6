# The two commands of the README, and the steps behind them.
#   make demo     build everything and run a real setup under Wine
#   make test     build both targets and run every test (this is what CI runs)
#   make tool     only the stub and the tool (Linux, and vorpanex.exe for 64-bit
#                 Windows), with only the compilers installed
#   make package  the Debian package of the tool (build/package/vorpanex_*.deb) and
#                 the Windows release (build/package/vorpanex-*-windows-x64.zip)
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CI_FUZZ_SECONDS ?= 60

STUB = $(CURDIR)/build/win32/VORPANEX.exe

.PHONY: all deps build build-win32 build-host build-win64 test test-host test-slow test-win32 \
        test-win64 test-sanitize test-fuzz test-reproducible demo bench fuzz clean tool package

all: build

deps:
	@scripts/install-deps.sh

# The Windows build comes first: the host tool embeds its stub. These builds (CI's) fail
# on a compiler warning; `make tool` does not.
WERROR = -DVORPANEX_WERROR=ON
build-win32: deps
	cmake --preset win32 -DBUILD_TESTING=ON $(WERROR) >/dev/null
	cmake --build build/win32 -j $(JOBS)

build-host: deps build-win32
	cmake --preset host -DBUILD_TESTING=ON $(WERROR) -DVORPANEX_STUB_FILE=$(STUB) >/dev/null
	cmake --build build/host -j $(JOBS)

# vorpanex.exe for 64-bit Windows, with the same stub built in, and its tests; the
# end-to-end case compares its setups with the Linux tool's. It fails on a warning too.
build-win64: deps build-win32 build-host
	cmake --preset win64 -DBUILD_TESTING=ON $(WERROR) -DVORPANEX_STUB_FILE=$(STUB) \
	  -DVORPANEX_LINUX_TOOL=$(CURDIR)/build/host/vorpanex >/dev/null
	cmake --build build/win64 -j $(JOBS)

# A machine that only makes setups: no tests, so no GoogleTest, Python or Wine.
tool:
	@scripts/install-deps.sh --tool
	cmake --preset win32 -DBUILD_TESTING=OFF >/dev/null
	cmake --build build/win32 --target vorpanex_stub -j $(JOBS)
	cmake --preset host -DBUILD_TESTING=OFF -DVORPANEX_STUB_FILE=$(STUB) >/dev/null
	cmake --build build/host --target vorpanex -j $(JOBS)
	cmake --preset win64 -DBUILD_TESTING=OFF -DVORPANEX_STUB_FILE=$(STUB) >/dev/null
	cmake --build build/win64 --target vorpanex -j $(JOBS)
	@ls -l build/host/vorpanex build/win64/vorpanex.exe

package: tool
	@scripts/install-deps.sh --package
	cpack --config build/host/CPackConfig.cmake -B build/package
	cmake --build build/win64 --target windows_zip
	cp build/win64/vorpanex-*-windows-x64.zip build/package/
	@ls -l build/package/*.deb build/package/*.zip
	@if command -v lintian >/dev/null; then lintian --fail-on error,warning build/package/*.deb; \
	else echo "package: lintian is not installed; the package was not checked"; fi

build: build-host

test-host: build-host
	ctest --test-dir build/host --output-on-failure -j $(JOBS) -LE slow

# Tests that take minutes (7 GB of sparse archives read through; pack under a memory limit).
test-slow: build-host
	ctest --test-dir build/host --output-on-failure -L slow

# The Windows tests run under Wine wherever 32-bit code runs, natively or through qemu
# (scripts/wine-env.sh says how). Where it does not run at all they are skipped with a
# note; `make test-win32 WINE_TESTS=off` skips them too. The stub's size and import
# checks need no Wine and always run.
WINE_TESTS ?= auto
test-win32: build-win32 build-host
	@mode=$$(scripts/enable-i386.sh --status); \
	if [ "$(WINE_TESTS)" = off ] || { [ "$(WINE_TESTS)" = auto ] && [ "$$mode" = none ]; }; then \
	  echo "test-win32: 32-bit programs run $$mode here: Windows tests under Wine skipped"; \
	  ctest --test-dir build/win32 --output-on-failure -E '^(core_tests_wine|e2e_)'; \
	else \
	  ctest --test-dir build/win32 --output-on-failure -j $(JOBS); \
	fi

# vorpanex.exe's tests under 64-bit Wine (x86-64 code runs natively here). Skipped with
# a note where wine64 is missing, or with WINE_TESTS=off.
test-win64: build-win64
	@if [ "$(WINE_TESTS)" = off ] || ! [ -x /usr/lib/wine/wine64 ]; then \
	  echo "test-win64: 64-bit Wine not available: vorpanex.exe's tests skipped"; \
	else \
	  ctest --test-dir build/win64 --output-on-failure -j $(JOBS); \
	fi

test-sanitize: deps
	@if [ -x scripts/sanitize.sh ]; then scripts/sanitize.sh; fi

test-fuzz: deps
	@if [ -x scripts/fuzz.sh ]; then FUZZ_SECONDS=$(CI_FUZZ_SECONDS) scripts/fuzz.sh; fi

# Two builds of the stub from different folders give the same bytes.
test-reproducible: deps
	JOBS=$(JOBS) scripts/check-reproducible.sh

test: test-host test-win32 test-win64 test-sanitize test-fuzz test-reproducible

demo: build
	scripts/demo.sh

bench: build
	@for script in bench/run-*.sh; do [ -x "$$script" ] && "$$script"; done; true

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

clean:
	rm -rf build
