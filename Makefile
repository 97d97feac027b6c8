# The one entry point.
#   make setup   install what is missing (Debian packages, EDK II, BaseTools)
#   make efi     build/efi/NAVO.efi, CHKSUM.efi and NAVOREC.efi (EDK II, RELEASE)
#   make host    host libraries, host_tests and the Linux tools build/host/chksum,
#                build/host/navo-image, build/host/navo-board and
#                build/host/navo-history
#   make test    all of the above, CTest, the same under ASan/UBSan, the
#                install and package test, and the QEMU end-to-end suite
#   make run     boot the kit's stick in QEMU (tools/run.sh) on the virtual board
#   make qemu-board build QEMU with the board's emulated EC and ME
#   make station the diskless Linux test station: Debian's kernel and MEI
#                modules, busybox and a static navo-board (.cache/station)
#   make station-test  boot the station once in that QEMU and run navo-board's
#                cases against the kernel's MEI driver (also part of make test)
#   make shell   build/efi/shell/Shell.efi, the UEFI Shell built from the same EDK II
#   make usb     the technician's kit: build/usb/NAVO-<version>.img (bootable stick)
#                and .zip; SIGN_KEY=key.pem SIGN_CERT=cert.pem signs the tools
#   make bench   build and run the benchmarks (tests/bench), time the Linux
#                checksum tool against coreutils' `sum -s` and navo-image
#                against `cat`, and measure both tools' peak memory; each
#                ratio is printed against its limit, with the processor
#   make install install the Linux tools chksum, navo-image, navo-board and
#                navo-history into
#                $(DESTDIR)$(PREFIX)/bin and their manual pages into
#                $(DESTDIR)$(PREFIX)/share/man/man1 (PREFIX=/usr/local); needs
#                only a C++ compiler, CMake and Ninja
#   make uninstall remove what make install installed (same PREFIX, DESTDIR)
#   make deb     build/deb/navo-tools_<version>_amd64.deb of the four tools
#                (also needs dpkg-dev)
#   make install-test  make install, uninstall and deb on a clone without
#                apt-get, GoogleTest or network; the package through lintian,
#                dpkg -i and dpkg -r (root)
#   make fuzz    build the fuzz targets with clang and run each for FUZZ_SECONDS
#   make lint    clang-tidy and cppcheck over the tree (.clang-tidy, tests/lint/)
#   make clean   remove build/ (downloads and EDK II in .cache/ stay)

SHELL := /bin/bash
# Debian's tools, not a python3 shim that may come first on PATH.
export PATH := /usr/bin:/bin:/usr/sbin:/sbin:$(PATH)
PYTHON := /usr/bin/python3
JOBS := $(shell nproc)
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 10
# Line tables only (-g1) and -O1 under the sanitizers: stack traces keep file
# and line, and the two host builds take about half the compile time.
HOST_OPT := -O2 -g1 -DNDEBUG
ASAN_OPT := -O1 -g1
CTEST := ctest --output-on-failure -j $(JOBS)

.PHONY: all setup efi host host-asan test unit unit-asan e2e run bench fuzz clean
.PHONY: fuzz-build fuzz-smoke lint qemu-board shell usb release install uninstall deb install-test
.PHONY: station station-test

all: efi host

setup:
	@tools/setup.sh

efi: setup
	@tools/edk2-build.sh RELEASE

# The UEFI Shell from the same EDK II tree (ShellPkg, commands linked in).
shell: setup
	@tools/build-shell.sh RELEASE

# The stick image and zip (tools/make-usb.sh); the end-to-end tests boot a copy of it.
usb: efi shell build/host/build.ninja
	@ninja -C build/host chksum >/dev/null
	@SIGN_KEY="$(SIGN_KEY)" SIGN_CERT="$(SIGN_CERT)" tools/make-usb.sh

build/host/build.ninja:
	@cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$(HOST_OPT)" >/dev/null

host: setup build/host/build.ninja
	@ninja -C build/host

build/host-asan/build.ninja:
	@cmake -S . -B build/host-asan -G Ninja -DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
	  "-DCMAKE_CXX_FLAGS_DEBUG=$(ASAN_OPT)" >/dev/null

host-asan: setup build/host-asan/build.ninja
	@ninja -C build/host-asan

unit: host
	@echo "== host tests ($$(date +%T))"
	@cd build/host && $(CTEST)

unit-asan: host-asan
	@echo "== host tests under AddressSanitizer and UBSan ($$(date +%T))"
	@cd build/host-asan && $(CTEST)

# QEMU carrying the board's emulated EC and ME (cached in .cache/qemu-board).
qemu-board: setup
	@tools/build-qemu-board.sh

# The test station's guest (tools/build-station-guest.sh; cached in .cache/station).
station: setup
	@tools/build-station-guest.sh

station-test: qemu-board station
	@echo "== the Linux test station in QEMU ($$(date +%T))"
	@$(PYTHON) tests/e2e/run_all.py -k test_station.py -j 1; st=$$?; \
	  grep -h '^station:' build/e2e/test_station.test_station/output.txt 2>/dev/null; exit $$st

# The shell that does not nest is started from the test disks (build/efi/shell/Shell.efi);
# the kit image is booted as shipped.
e2e: efi qemu-board shell usb station
	@if [ -f tests/e2e/run_all.py ]; then \
	  echo "== end-to-end tests in QEMU ($$(date +%T))"; $(PYTHON) tests/e2e/run_all.py; \
	else echo "== end-to-end tests: tests/e2e/run_all.py not present, skipped"; fi

test: setup efi host unit host-asan unit-asan fuzz-smoke install-test e2e
	@echo "== all tests passed ($$(date +%T))"

run: usb qemu-board
	@tools/run.sh

build/bench/build.ninja:
	@cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNAVO_BENCHMARKS=ON >/dev/null

bench: setup build/bench/build.ninja
	@ninja -C build/bench
	@echo "processor: $$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
	@build/bench/benchmarks --benchmark_out=build/bench/benchmarks.json --benchmark_out_format=json
	@tools/bench-scan.py build/bench/benchmarks.json 1.5
	@tools/bench-chksum.sh build/bench/chksum
	@tools/bench-navo-image.sh build/bench/navo-image build/bench/chksum

# What make install and make deb ship: the four tools alone, optimised and
# hardened as Debian builds its own packages. A release engineer has a C++
# compiler, CMake and Ninja; these targets install no packages and fetch
# nothing, and without GoogleTest the tests are merely left out.
RELEASE_CXXFLAGS := -O2 -DNDEBUG -fstack-protector-strong -D_FORTIFY_SOURCE=2 \
  -Wformat -Werror=format-security
RELEASE_LDFLAGS := -Wl,-z,relro -Wl,-z,now
TOOLS := chksum navo-image navo-board navo-history

build/release/build.ninja:
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  "-DCMAKE_CXX_FLAGS_RELEASE=$(RELEASE_CXXFLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(RELEASE_LDFLAGS)" >/dev/null

release: build/release/build.ninja
	@ninja -C build/release $(TOOLS)

PREFIX ?= /usr/local
BINDIR = $(DESTDIR)$(PREFIX)/bin
MAN1DIR = $(DESTDIR)$(PREFIX)/share/man/man1
install: release
	@install -d "$(BINDIR)" "$(MAN1DIR)"
	@install -m 0755 $(TOOLS:%=build/release/%) "$(BINDIR)/"
	@install -m 0644 $(TOOLS:%=man/%.1) "$(MAN1DIR)/"
	@echo "installed $(TOOLS) into $(BINDIR), their manual pages into $(MAN1DIR)"

uninstall:
	@rm -f $(TOOLS:%="$(BINDIR)/%") $(TOOLS:%="$(MAN1DIR)/%.1")
	@echo "removed $(TOOLS) from $(BINDIR), their manual pages from $(MAN1DIR)"

# build/deb/navo-tools_<version>_<arch>.deb: what make install puts under /usr,
# packed with dpkg-deb (tools/make-deb.sh).
deb: release
	@rm -rf build/deb/root
	@$(MAKE) --no-print-directory install DESTDIR="$(CURDIR)/build/deb/root" PREFIX=/usr >/dev/null
	@tools/make-deb.sh build/deb/root build/deb

# make install and make deb on a clone where neither apt-get nor GoogleTest
# nor the network can be reached, then the package through lintian, dpkg -i
# and dpkg -r on this machine (root: namespaces, and it installs into /usr).
install-test:
	@echo "== make install, make uninstall and the Debian package ($$(date +%T))"
	@$(PYTHON) tests/install/check_install.py

build/fuzz/build.ninja:
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNAVO_FUZZ=ON >/dev/null

fuzz-build:
	@tools/setup.sh clang libclang-rt-14-dev
	@$(MAKE) --no-print-directory build/fuzz/build.ninja
	@ninja -C build/fuzz fuzz_targets

fuzz: fuzz-build
	@tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@echo "== fuzz smoke run, $(FUZZ_SMOKE_SECONDS) s per target"
	@tests/fuzz/run.sh build/fuzz $(FUZZ_SMOKE_SECONDS)

lint: setup build/host/build.ninja
	@tests/lint/run.sh build/host

clean:
	rm -rf build
