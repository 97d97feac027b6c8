"""End-to-end harness: boots the real UEFI Shell (OVMF) under QEMU and drives it over the serial console.

The console is rendered with pyte exactly as a VT100 terminal would show it (in-place cursor moves and
attributes included); every line that scrolls off the top or is wiped by a screen clear is kept, so a
test sees the whole session as one transcript of rendered lines.

Typical use (see README.md):

    disk = DiskImage("chk")
    disk.add_efi("CHKSUM.efi")
    disk.add_file("DATA.BIN", b"\\xff" * 100)
    with Machine(disk, name="chk") as m:
        m.boot()
        r = m.run("CHKSUM.efi DATA.BIN")
        check.status(r, 0)
        check.lines(r.lines, [...])
        m.poweroff()
    check.done()

This module gathers the pieces a test needs; each lives in the file of its concern:
paths.py (inputs, outputs, E2EError), disk_image.py (FAT images), terminal.py (rendering, keys,
records), qemu_machine.py (the QEMU process and its console), shell_session.py (booting and running
commands), board_helpers.py (memory, signature, variables), checks.py (soft assertions).
"""

from __future__ import annotations

from board_helpers import GO_NSH, MEINFO_SETUP_GUID, Machine, meinfo_setup_bytes
from checks import Check, diff, run_standalone
from disk_image import DiskImage, kit_image, kit_version, partition_offset, read_image_file, require_efi
from paths import (BUILD, EC_QEMU, EFI_DIR, KIT_DIR, OVMF_CODE, OVMF_VARS, REPO, STANDIN_EFI,
                   SYSTEM_QEMU, TIMEOUT_SCALE, WORK_DIR, E2EError, default_qemu, ec_qemu)
from terminal import (KEY_BACKSPACE, KEY_DOWN, KEY_ENTER, KEY_ESC, KEY_LEFT, KEY_RIGHT, KEY_UP,
                      PromptEvent, Result)

__all__ = [
    "GO_NSH", "MEINFO_SETUP_GUID", "Machine", "meinfo_setup_bytes",
    "Check", "diff", "run_standalone",
    "DiskImage", "kit_image", "kit_version", "partition_offset", "read_image_file", "require_efi",
    "BUILD", "EC_QEMU", "EFI_DIR", "KIT_DIR", "OVMF_CODE", "OVMF_VARS", "REPO", "STANDIN_EFI", "SYSTEM_QEMU",
    "TIMEOUT_SCALE", "WORK_DIR", "E2EError", "default_qemu", "ec_qemu",
    "KEY_BACKSPACE", "KEY_DOWN", "KEY_ENTER", "KEY_ESC", "KEY_LEFT", "KEY_RIGHT", "KEY_UP", "PromptEvent", "Result",
]
