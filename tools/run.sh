#!/bin/bash
# `make run`: boots a virtual board with the tools in QEMU (UEFI Shell on OVMF), shows a short
# demonstration and leaves you at the shell prompt (Ctrl-] leaves QEMU, `reset -s` powers off).
# Without a terminal it powers off after the demonstration and prints the session.
#   tools/run.sh [--batch] [--no-demo] [--keep-mode]
# Needs build/efi/ (make efi). Uses .cache/qemu-ec/build/qemu-system-x86_64 (the emulated board
# EC, tools/build-qemu-ec.sh) when present, else Debian's qemu-system-x86_64; E2E_QEMU overrides.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Debian's python3 (with python3-pyte), not a shim that may come first on PATH.
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
for f in NAVO.efi CHKSUM.efi test/StandIn.efi; do
  [ -f "$ROOT/build/efi/$f" ] || { echo "run: build/efi/$f missing, run 'make efi' first" >&2; exit 1; }
done
exec /usr/bin/python3 "$ROOT/tests/e2e/board.py" "$@"
