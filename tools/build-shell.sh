#!/bin/bash
# Builds the UEFI Shell (ShellPkg's Shell.efi with the shell commands linked
# in) from the EDK II tree in .cache/edk2, for the service stick's boot loader
# and for tests in a shell started with -nonest.
#   tools/build-shell.sh [RELEASE|DEBUG]
#   result: build/efi/shell/Shell.efi (RELEASE) or build/efi-debug/shell/Shell.efi
#
# ShellPkg.dsc does not build as it stands in this EDK II: SecureBootVariableLib
# needs a PlatformPKProtectionLib. A copy of the .dsc made here maps it and keeps
# just the one component we ship, the shell whose FILE_GUID is the standard
# shell's, so the build takes about a minute instead of the whole package's.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARGET="${1:-RELEASE}"
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
# shellcheck source=tools/edk2-env.sh
. "$ROOT/tools/edk2-env.sh"
WS="$ROOT/.cache/shell-ws"
OUT="$ROOT/build/efi/shell"
[ "$TARGET" = RELEASE ] || OUT="$ROOT/build/efi-$(echo "$TARGET" | tr A-Z a-z)/shell"

mkdir -p "$WS/ShellKit" "$OUT"
edk2_lock "$WS"

# The shell only changes with the EDK II tree and this script.
STAMP="$WS/.built-$TARGET"
want="$(cat "$EDK2/.basetools-built" "${BASH_SOURCE[0]}" "$EDK2/ShellPkg/ShellPkg.dsc" | sha256sum | cut -d' ' -f1)"
if [ -f "$OUT/Shell.efi" ] && [ "$(cat "$STAMP" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

# The copy: every line up to [Components], the protection library mapped in
# [LibraryClasses.common], then only the first Shell.inf block (the one without
# a FILE_GUID of its own) and the package's build options.
/usr/bin/python3 - "$EDK2/ShellPkg/ShellPkg.dsc" "$WS/ShellKit/ShellKit.dsc" <<'PY'
import re, sys
src = open(sys.argv[1]).read().splitlines()
out, i = [], 0
while not src[i].startswith("[Components]"):
    line = src[i]
    line = re.sub(r"^(\s*OUTPUT_DIRECTORY\s*=).*", r"\1 Build/ShellKit", line)
    line = re.sub(r"^(\s*PLATFORM_NAME\s*=).*", r"\1 ShellKit", line)
    out.append(line)
    if line.startswith("[LibraryClasses.common]"):
        out.append("  PlatformPKProtectionLib|SecurityPkg/Library/PlatformPKProtectionLibVarPolicy/"
                   "PlatformPKProtectionLibVarPolicy.inf")
    i += 1
out.append("[Components]")
start = next(j for j in range(i, len(src)) if src[j].strip().startswith("ShellPkg/Application/Shell/Shell.inf {"))
end = next(j for j in range(start, len(src)) if src[j].strip() == "}")
block = src[start:end + 1]
if any("FILE_GUID" in l for l in block):
    sys.exit("build-shell: the first Shell.inf block of ShellPkg.dsc has its own FILE_GUID")
out += block
opts = next(j for j in range(end, len(src)) if src[j].startswith("[BuildOptions]"))
out += [""] + src[opts:]
open(sys.argv[2], "w").write("\n".join(out) + "\n")
PY

edk2_enter "$WS"
LOG="$WS/build-$TARGET.log"
echo "shell: building ShellPkg's Shell.efi ($TARGET), about a minute"
if ! build -p ShellKit/ShellKit.dsc -a X64 -t GCC5 -b "$TARGET" -n "$(nproc)" >"$LOG" 2>&1; then
  grep -E -A4 'error:|undefined reference|: error [0-9A-F]+' "$LOG" | head -60 || true
  echo "build-shell: build failed, full log: $LOG" >&2
  exit 1
fi
BIN="$WS/Build/ShellKit/${TARGET}_GCC5/X64/Shell.efi"
# Only the one component is built, so the file name is unambiguous; check the
# GUID anyway, since a stale output directory could hold the other variant.
grep -q 7C04A583-9E3E-4f1c-AD65-E05268D0B4D1 "$WS/Build/ShellKit/${TARGET}_GCC5/X64/ShellPkg/Application/Shell/Shell/OUTPUT/Shell.inf" 2>/dev/null ||
  grep -rqi 7C04A583-9E3E-4f1c-AD65-E05268D0B4D1 "$WS/Build/ShellKit/${TARGET}_GCC5/X64/ShellPkg/Application/Shell/Shell/DEBUG/AutoGen.h"
cp "$BIN" "$OUT/Shell.efi"
# The shell's licence travels with every copy of it.
cp "$EDK2/License.txt" "$OUT/License.txt"
echo "$want" >"$STAMP"
echo "shell: $OUT/Shell.efi ($(stat -c %s "$OUT/Shell.efi") bytes)"
