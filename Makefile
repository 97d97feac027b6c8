# The one entry point.
#   make setup   install what is missing (Debian packages, EDK II, BaseTools)
#   make efi     build/efi/NAVO.efi and build/efi/CHKSUM.efi (EDK II, RELEASE)
#   make host    host libraries, host_tests and the Linux tool build/host/chksum
#   make test    all of the above, CTest, the same under ASan/UBSan, and the
#                QEMU end-to-end suite
#   make run     boot the tools in QEMU (tools/run.sh)
#   make bench   build and run the benchmarks (tests/bench) and time the Linux
#                checksum tool against coreutils' `sum -s`
#   make fuzz    build the fuzz targets with clang and run each for FUZZ_SECONDS
#   make clean   remove build/ (downloads and EDK II in .cache/ stay)

SHELL := /bin/bash
# Debian's tools, not a python3 shim that may come first on PATH.
export PATH := /usr/bin:/bin:/usr/sbin:/sbin:$(PATH)
PYTHON := /usr/bin/python3
JOBS := $(shell nproc)
FUZZ_SECONDS ?= 30
CTEST := ctest --output-on-failure -j $(JOBS)

.PHONY: all setup efi host host-asan test unit unit-asan e2e run bench fuzz clean

all: efi host

setup:
	@tools/setup.sh

efi: setup
	@tools/edk2-build.sh RELEASE

build/host/build.ninja:
	@cmake -S . -B build/host -G Ninja >/dev/null

host: setup build/host/build.ninja
	@ninja -C build/host

build/host-asan/build.ninja:
	@cmake -S . -B build/host-asan -G Ninja -DSANITIZE=ON >/dev/null

host-asan: setup build/host-asan/build.ninja
	@ninja -C build/host-asan

unit: host
	@echo "== host tests"
	@cd build/host && $(CTEST)

unit-asan: host-asan
	@echo "== host tests under AddressSanitizer and UBSan"
	@cd build/host-asan && $(CTEST)

e2e: efi
	@if [ -f tests/e2e/run_all.py ]; then \
	  echo "== end-to-end tests in QEMU"; $(PYTHON) tests/e2e/run_all.py; \
	else echo "== end-to-end tests: tests/e2e/run_all.py not present, skipped"; fi

test: setup efi host unit host-asan unit-asan e2e
	@echo "== all tests passed"

run: efi
	@tools/run.sh

build/bench/build.ninja:
	@cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNAVO_BENCHMARKS=ON >/dev/null

bench: setup build/bench/build.ninja
	@ninja -C build/bench
	@if [ -x build/bench/benchmarks ]; then build/bench/benchmarks; fi
	@tools/bench-chksum.sh build/bench/chksum

build/fuzz/build.ninja:
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNAVO_FUZZ=ON >/dev/null

fuzz:
	@tools/setup.sh clang libclang-rt-14-dev
	@$(MAKE) --no-print-directory build/fuzz/build.ninja
	@ninja -C build/fuzz
	@set -e; for src in tests/fuzz/*.cpp; do \
	  [ -f "$$src" ] || continue; name=$$(basename "$$src" .cpp); \
	  corpus=build/fuzz/corpus/$$name; mkdir -p "$$corpus"; \
	  seeds=tests/fuzz/corpus/$$name; [ -d "$$seeds" ] || seeds=; \
	  echo "== fuzzing $$name for $(FUZZ_SECONDS) s"; \
	  build/fuzz/$$name -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 "$$corpus" $$seeds; \
	done

clean:
	rm -rf build
