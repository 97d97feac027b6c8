#!/bin/bash
# `make run`: boots a copy of the technician's stick (make usb) on a virtual board in QEMU (OVMF),
# with the board's stand-in tools and sample image added to the copy; shows a short demonstration
# and leaves you at the shell prompt (Ctrl-] leaves QEMU, `reset -s` powers off).
# Without a terminal it powers off after the demonstration and prints the session.
#   tools/run.sh [--batch] [--no-demo] [--keep-mode]
# Needs build/usb/ (make usb) and build/efi/test/ (make efi). Uses .cache/qemu-board/build/
# qemu-system-x86_64 (the emulated board EC, tools/build-qemu-board.sh) when present, else Debian's
# qemu-system-x86_64; E2E_QEMU overrides.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Debian's python3 (with python3-pyte), not a shim that may come first on PATH.
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
[ -f "$ROOT/build/efi/test/StandIn.efi" ] ||
  { echo "run: build/efi/test/StandIn.efi missing, run 'make efi' first" >&2; exit 1; }
KIT="build/usb/NAVO-$("$ROOT/tools/make-usb.sh" --version).img"
[ -f "$ROOT/$KIT" ] || { echo "run: $KIT missing, run 'make usb' first" >&2; exit 1; }
exec /usr/bin/python3 "$ROOT/tools/board.py" "$@"
