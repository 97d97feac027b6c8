"""Where the end-to-end tests find their inputs and put their outputs, and the error every harness
step raises. Each path can be redirected through the environment (E2E_*)."""

from __future__ import annotations

import os
from pathlib import Path
from typing import Optional

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"
EFI_DIR = Path(os.environ.get("E2E_EFI_DIR", BUILD / "efi"))
WORK_DIR = Path(os.environ.get("E2E_WORK_DIR", BUILD / "e2e"))
# The technician's kit (`make usb`, tools/make-usb.sh).
KIT_DIR = Path(os.environ.get("E2E_KIT_DIR", BUILD / "usb"))

OVMF_CODE = Path(os.environ.get("E2E_OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd"))
OVMF_VARS = Path(os.environ.get("E2E_OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd"))
SYSTEM_QEMU = "/usr/bin/qemu-system-x86_64"
EC_QEMU = REPO / ".cache" / "qemu-board" / "build" / "qemu-system-x86_64"
# The stand-in information tool (tests/uefi/StandIn); test-only modules are built into build/efi/test/.
STANDIN_EFI = "test/StandIn.efi"

# Multiplies every timeout; raise it on a slow or busy machine.
TIMEOUT_SCALE = float(os.environ.get("E2E_TIMEOUT_SCALE", "1"))


def default_qemu() -> str:
    """The QEMU a Machine boots unless told otherwise: $E2E_QEMU, else Debian's."""
    return os.environ.get("E2E_QEMU") or SYSTEM_QEMU


def ec_qemu() -> Optional[str]:
    """The QEMU build with the emulated board EC (tools/build-qemu-board.sh), when it has been built."""
    if EC_QEMU.is_file() and os.access(EC_QEMU, os.X_OK):
        return str(EC_QEMU)
    return None


class E2EError(AssertionError):
    """A harness step failed (timeout, QEMU gone, unexpected reset); carries the screen for the log."""
