#!/bin/bash
# Builds NAVO.efi, CHKSUM.efi and NAVOREC.efi (NavoPkg.dsc) and the test package's modules
# (tests/uefi/NavoTestPkg.dsc) with EDK II's GCC5 X64 toolchain and copies the
# applications to build/efi/ and the test modules to build/efi/test/.
#   tools/edk2-build.sh [RELEASE|DEBUG]
# The repository root is the package NavoPkg: the workspace under .cache/ holds
# a link named NavoPkg that points back here. Builds of the same tree are
# serialised, since they share the workspace.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARGET="${1:-RELEASE}"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
# shellcheck source=tools/edk2-env.sh
. "$ROOT/tools/edk2-env.sh"
WS="$ROOT/.cache/edk2-ws"
OUT="$ROOT/build/efi"
[ "$TARGET" = RELEASE ] || OUT="$ROOT/build/efi-$(echo "$TARGET" | tr A-Z a-z)"

mkdir -p "$OUT"
edk2_lock "$WS"
[ -L "$WS/NavoPkg" ] || ln -sfn ../.. "$WS/NavoPkg"

# EDK II's own no-change build takes seconds; skip it when no source, module
# or package file of the tree is newer than the last successful build.
STAMP="$WS/.built-$TARGET"
DEFINES=()
# The utility's modules (NAVO.efi, NAVOREC.efi) join the build once its main function exists.
[ -f "$ROOT/navo/main.cpp" ] && DEFINES+=(-D NAVO_APP=1)
# Of tests/ only the test package is built here.
newer_inputs() {
  find "$ROOT" "$ROOT/tests/uefi" \( -path "$ROOT/.cache" -o -path "$ROOT/build" -o -path "$ROOT/.git" \
                 -o -path "$ROOT/tests" -o -path "$ROOT/tools" -o -path "$ROOT/platform/posix" \) -prune \
       -o \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.inf' -o -name '*.dsc' \
             -o -name '*.dec' -o -name '*.nasm' -o -name '*.uni' -o -type d \) \
          -newer "$STAMP" -print -quit
}
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "${DEFINES[*]}" ] && [ -z "$(newer_inputs)" ] &&
   [ -f "$OUT/test/StandIn.efi" ] && [ -f "$OUT/test/SimMe.efi" ] &&
   [ -f "$OUT/CHKSUM.efi" ] && { [ -z "${DEFINES[*]}" ] || [ -f "$OUT/NAVOREC.efi" ]; }; then
  exit 0
fi

edk2_enter "$WS"
# Stamped with the time the build starts, so that an edit made meanwhile
# is built next time.
rm -f "$STAMP"
echo "${DEFINES[*]}" >"$STAMP.new"
# edk2_build DSC NAME: one package description; its log is build-NAME-TARGET.log.
edk2_build() {
  local log="$WS/build-$2-$TARGET.log"
  if ! build -p "$1" -a X64 -t GCC5 -b "$TARGET" -n "$(nproc)" "${DEFINES[@]}" >"$log" 2>&1; then
    grep -E -A4 'error:|undefined reference|: error [0-9A-F]+' "$log" | head -80 || true
    echo "edk2-build: build failed, full log: $log" >&2
    exit 1
  fi
}
edk2_build NavoPkg/NavoPkg.dsc Navo
edk2_build NavoPkg/tests/uefi/NavoTestPkg.dsc NavoTest

# install SRC DEST: copies only a changed file, so that its time stays.
install_efi() { cmp -s "$1" "$2" 2>/dev/null || cp "$1" "$2"; }
# The tools go to build/efi/ (what a USB stick gets); the test package's
# modules to build/efi/test/.
for name in NAVO.efi CHKSUM.efi NAVOREC.efi; do
  f="$WS/Build/Navo/${TARGET}_GCC5/X64/$name"
  [ -f "$f" ] && install_efi "$f" "$OUT/$name"
done
mkdir -p "$OUT/test"
for f in "$WS/Build/NavoTest/${TARGET}_GCC5/X64"/*.efi; do
  install_efi "$f" "$OUT/test/$(basename "$f")"
done
mv "$STAMP.new" "$STAMP"
ls -l "$OUT"/*.efi | awk '{ print "edk2-build: " $NF " (" $5 " bytes)" }'
