#!/bin/bash
# Prepares a Debian 12 machine to build and test both tools:
#   tools/setup.sh [EXTRA-PACKAGE...]
#   1. installs the Debian packages that are missing (apt-get update only then);
#   2. fetches EDK II 2022.11 from Debian's source package into .cache/ and
#      builds its BaseTools once.
# Safe to run again: each step checks for its own result first and the whole
# script takes well under a second when everything is in place.
#
# Other parts of the build may ask for more packages by dropping a file of
# package names (one per line, '#' comments) into tools/setup.d/*.packages and
# may run their own preparation from tools/setup.d/*.sh (called last, in name
# order, with the repository root as working directory).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A pyenv shim may come first on PATH; EDK II and Debian's tools want the
# system's own python3.
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
cd "$ROOT"

log() { printf 'setup: %s\n' "$*"; }

# ---- Debian packages ----------------------------------------------------------
PACKAGES=(
  # EDK II and its source package
  build-essential uuid-dev nasm python3 dpkg-dev xz-utils
  # host build and tests
  cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
  # UEFI firmware, images and the emulated machine
  qemu-system-x86 ovmf ipxe-qemu mtools dosfstools
  # end-to-end harness
  python3-pyte python3-pexpect
)
# Extra packages for one purpose (e.g. clang for the fuzz targets) can be
# named on the command line.
PACKAGES+=("$@")
shopt -s nullglob
for f in "$ROOT"/tools/setup.d/*.packages; do
  while read -r line; do
    line="${line%%#*}"
    for p in $line; do PACKAGES+=("$p"); done
  done <"$f"
done

# One dpkg-query for all: a package it does not list as installed is missing.
installed=" $(dpkg-query -W -f='${Package}:${Status}\n' "${PACKAGES[@]}" 2>/dev/null |
              awk -F: '$NF == "install ok installed" { printf "%s ", $1 }' || true)"
missing=()
for p in "${PACKAGES[@]}"; do
  case "$installed" in *" $p "*) ;; *) missing+=("$p") ;; esac
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# ---- EDK II -------------------------------------------------------------------
"$ROOT/tools/edk2-fetch.sh"

# ---- Hooks of other parts -------------------------------------------------------
for h in "$ROOT"/tools/setup.d/*.sh; do
  "$h"
done
