# What a person types. CMake does the real work; see CMakePresets.json.
.PHONY: all deps build test bench bench-com bench-cli clean dll package demo test-com test-sign asan fuzz coverage

all: build

# From cmake/PalavoxIdentity.cmake, read only where used.
PALAVOX_VERSION = $(shell cmake -DPALAVOX_GET=PALAVOX_VERSION -P cmake/PalavoxIdentity.cmake)

# Each target installs only the group of Debian packages it needs. One id for
# the whole run (sub-makes inherit it), so that install-deps tries a failing
# index update once, not at every target.
ifndef PALAVOX_DEPS_RUN
export PALAVOX_DEPS_RUN := $(shell date +%s.%N)
endif
deps:
	@scripts/install-deps
deps-native:
	@scripts/install-deps native
deps-windows:
	@scripts/install-deps native windows
deps-bindings:
	@scripts/install-deps native bindings
deps-database:
	@scripts/install-deps native database
.PHONY: deps-native deps-windows deps-bindings deps-database

build: deps-native
	cmake --preset native
	cmake --build --preset native

test: deps build
	scripts/format.sh --check
	ctest --preset native
	$(MAKE) --no-print-directory coverage
	$(MAKE) --no-print-directory simd-tiers
	$(MAKE) --no-print-directory -C bindings -j2 test
	$(MAKE) --no-print-directory test-database
	$(MAKE) --no-print-directory asan
	fuzz/run.sh build/asan 10
	$(MAKE) --no-print-directory test-docs
	$(MAKE) test-com test-sign

# Lays every C and C++ source out as .clang-format says (make test checks it).
.PHONY: format
format:
	scripts/format.sh

# make test three times in a row from a fresh clone of this checkout, beside
# two CPU-bound processes the whole time (scripts/soak.sh); over an hour, so
# not part of make test.
.PHONY: test-soak
test-soak:
	scripts/soak.sh

# Palavox.dll, cross-built for 32- and 64-bit Windows; always left at
# build/win32/ and build/win64/, each beside its side-by-side manifest, the
# recorder (palavox-record.js) and palavox-adopt.exe (docs/migrating.md).
# Signed when PALAVOX_SIGN_PFX and PALAVOX_SIGN_PASSWORD are set (scripts/sign.sh).
dll: deps-windows
	cmake --preset win32
	cmake --build --preset win32
	cmake -E copy_if_different build/win32-tree/com/Palavox.dll build/win32/Palavox.dll
	cmake -E copy_if_different build/win32-tree/com/Palavox.sxs.manifest build/win32/Palavox.sxs.manifest
	cmake -E copy_if_different migration/recorder/palavox-record.js build/win32/palavox-record.js
	cmake -E copy_if_different build/win32-tree/migration/palavox-adopt.exe build/win32/palavox-adopt.exe
	cmake --preset win64
	cmake --build --preset win64
	cmake -E copy_if_different build/win64-tree/com/Palavox.dll build/win64/Palavox.dll
	cmake -E copy_if_different build/win64-tree/com/Palavox.sxs.manifest build/win64/Palavox.sxs.manifest
	cmake -E copy_if_different migration/recorder/palavox-record.js build/win64/palavox-record.js
	cmake -E copy_if_different build/win64-tree/migration/palavox-adopt.exe build/win64/palavox-adopt.exe
	scripts/sign.sh build/win32/Palavox.dll build/win64/Palavox.dll \
	  build/win32/palavox-adopt.exe build/win64/palavox-adopt.exe

# build/package/Palavox-<version>-x86.msi and -x64.msi (wixl), signed like the DLLs.
package: dll
	scripts/package.sh

# Both type libraries against their reference dumps (no Wine needed), then
# real clients against both DLLs and both packages under Wine; recordings
# made there are verified by the native command.
test-com: build dll package
	python3 tests/com/typelib_dump.py --check tests/com/typelib-win32.dump build/win32/Palavox.dll
	python3 tests/com/typelib_dump.py --check tests/com/typelib-win64.dump build/win64/Palavox.dll
	tests/com/run-clients.sh
	tests/capi/wine-cases.sh

# Signing and verification with a throwaway certificate, on copies of both
# DLLs and both packages.
test-sign: dll package
	tests/package/signing-test.sh build/win32/Palavox.dll build/win64/Palavox.dll \
	  build/package/Palavox-$(PALAVOX_VERSION)-x86.msi build/package/Palavox-$(PALAVOX_VERSION)-x64.msi

demo: dll
	scripts/demo.sh

# The Node.js, Python and .NET packages over the core (bindings/Makefile).
.PHONY: bindings
bindings: deps-bindings build
	$(MAKE) --no-print-directory -C bindings -j2

# The PostgreSQL extension (PGXS, against the native build installed under
# build/postgresql) in a throwaway cluster there, and the SQLite extension
# through sqlite3 and Python (tests/bindings/postgresql, sqlite).
.PHONY: test-database bench-postgresql
test-database: deps-database build
	$(MAKE) --no-print-directory -C bindings sqlite
	tests/bindings/postgresql/run.sh
	/usr/bin/python3 tests/bindings/sqlite/check_sqlite.py

# Every command and code block of README.md and docs/*.md, run as written in
# scratch folders under build/docs against what make test built before it
# (the packages, build/asan): its own stage of make test (tests/docs/). The
# VBScript blocks run with build/win64/Palavox.dll, built here so none is skipped.
.PHONY: test-docs
test-docs: deps-bindings deps-database build dll
	tests/docs/run.sh

# The extension's per-row cost beside unaccent, lower() and the SQL counting idiom.
bench-postgresql: deps-database build
	bench/postgresql/run.sh

# Release -O3 build in build/bench; prints the ratios to the baselines at the end.
bench: deps-native
	cmake --preset bench
	cmake --build --preset bench --target palavox_bench
	build/bench/bench/palavox_bench $(BENCH_ARGS)

# Branch coverage of the product code (tests/coverage/run.sh): the native
# suite built with gcc --coverage in build/coverage/native, Palavox.dll built
# so with MinGW under its clients in Wine, the modules' instrumented stages;
# one line per file and build/coverage/report/index.html; fails on a branch
# neither taken nor marked (// branch-untaken: <reason>).
coverage: deps-native deps-windows deps-bindings deps-database build
	tests/coverage/run.sh

# The library built with PALAVOX_SIMD=sse2 and =none, and its kernel tests.
.PHONY: simd-tiers
simd-tiers: deps-native
	tests/text/simd/simd-tiers.sh

# The Python and .NET packages per call (100,000 short names) and on 1 MiB,
# and Python's batch calls on columns (1,000,000 names, 100,000 comments),
# threads, a Dask cluster and a local Spark session, beside their ecosystems' usual ways
# (ratios from one run).
.PHONY: bench-bindings
bench-bindings: deps-bindings build
	$(MAKE) --no-print-directory -C bindings bench

# The call cost of Palavox.dll under Wine, beside the platform's own dispatch,
# and shadow mode's beside the installed component's call plus Palavox's.
bench-com: dll
	bench/com/run.sh

# The palavox command against cat of the same files (ratios), and 200 MB
# through a pipe in bounded memory with the library's result.
bench-cli: deps-native
	cmake --preset bench
	cmake --build --preset bench --target palavox_cli palavox_cli_input palavox_whole
	bench/cli-bench.sh build/bench

# The native suite and the fuzz corpus under ASan + UBSan + LeakSanitizer (clang).
asan: deps-native
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Small faults planted one at a time in the C interface, the SQLite extension,
# the UTF-8 codec and forms, and text/pieces/ (tests/mutation/mutate.py; MUTATE_ARGS, e.g.
# --area python or --every 3), in a tree of its own built without -Werror;
# hours, so not part of make test.
.PHONY: mutation
mutation: deps-native
	cmake --preset native -B build/mutation-native -DPALAVOX_WERROR=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	cmake --build build/mutation-native -j2
	tests/mutation/mutate.py --build build/mutation-native $(MUTATE_ARGS)

# Each fuzz target for FUZZ_SECONDS; new inputs stay in build/asan/fuzz/scratch.
FUZZ_SECONDS ?= 60
fuzz: deps-native
	cmake --preset asan
	cmake --build --preset asan
	fuzz/run.sh build/asan $(FUZZ_SECONDS)

clean:
	rm -rf build
