"""-ECOVRAUTO in the real UEFI Shell across real resets, with the emulated board EC (zan-ec).
Before the sequence, a first run from FS0:\\BIOS V2 is refused (F12) without a trace.

The working directory is FS0:\\UPDATE with NAVO.efi and a stand-in for the maker's GO.nsh, which
notes each of its runs in golog.txt. The board signature is written into the legacy area once, at
the first boot; it stays readable across the resets the utility makes through port 0xCF9, so the
shell's own run of the root startup.nsh (the countdown is left to run out) reaches the utility
unaided at every later boot.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from ec_device import EcLog, pin_writes, require_ec_qemu  # noqa: E402
from expected import BOARD_OK as BANNER, CLOSING, CONTINUE, NOTICE  # noqa: E402
from harness import GO_NSH, Check, DiskImage, Machine  # noqa: E402

ROOT_SCRIPT = (b"@echo -off\r\n"
               b"FS0:\r\n"
               b"cd FS0:\\UPDATE\r\n"
               b"If exist UpdatewithEC_Step1.set then\r\n"
               b"go me1\r\n"
               b"endif\r\n"
               b"NAVO.efi -ECOVRAUTO\r\n")
assert len(ROOT_SCRIPT) == 108

MARKER = "UPDATE/UpdatewithEC_Step1.set"
F10 = 'Error F10: An error occurs when copying "startup.nsh" to root directory'
F11 = 'Error F11: An error occurs when removing "startup.nsh" in root directory'
BLANK_DIR = "BIOS V2"
F12_BLANK = "Error F12: The path holds a blank. Use a folder like FS0:\\UPDATE."


def _disk(name: str) -> DiskImage:
    disk = DiskImage(name)
    disk.add_efi("NAVO.efi", directory="UPDATE")
    disk.add_file("UPDATE/GO.nsh", GO_NSH)
    return disk


def _run_output(lines: list[str], count: int) -> list[str]:
    """`count` lines from the start of the utility's last banner in `lines` ([] if none)."""
    for i in range(len(lines) - 1, 0, -1):
        if lines[i] == BANNER[1]:
            return lines[i - 1:i - 1 + count]
    return []


def _files(disk: DiskImage) -> tuple[list[str], list[str]]:
    return sorted(n.lower() for n in disk.list_dir()), sorted(n.lower() for n in disk.list_dir("UPDATE"))


def test_full_sequence_across_resets() -> None:
    check = Check("automatic update")
    log = EcLog("autoupdate")
    disk = _disk("autoupdate")
    disk.add_efi("NAVO.efi", directory=BLANK_DIR)
    disk.add_file(f"{BLANK_DIR}/GO.nsh", GO_NSH)
    with Machine(disk, name="autoupdate", qemu=require_ec_qemu(), extra_args=log.device(pin="off"),
                 startup="wait", timeout=420) as m:
        # Boot 1: the technician starts the sequence from FS0:\UPDATE.
        m.boot()
        m.write_legacy_signature()
        # From a folder whose name holds a blank: F12 after the answer, before anything is written,
        # copied or switched.
        m.run_ok("fs0:")
        m.run_ok(f'cd "{BLANK_DIR}"')
        log.take()
        r = m.run("NAVO.efi -ECOVRAUTO", answers=[(CONTINUE, "y")])
        check.output(r, BANNER + NOTICE + ["Preparing Update files...Fail", "", F12_BLANK],
                     status=1)
        check.equal(sorted(n.lower() for n in disk.list_dir(BLANK_DIR)), ["go.nsh", "navo.efi"],
                    "no script and no marker in the folder after F12")
        check.true(not disk.exists("startup.nsh"), "no root script after F12")
        check.equal(pin_writes(log.take()), [], "no pin write after F12")

        m.run_ok("cd \\UPDATE")
        log.take()
        mark = m.mark()
        m.send_line("NAVO.efi -ECOVRAUTO")
        m.answer(CONTINUE, "y", since=mark)
        m.wait_boot(2)
        first = m.lines_since(mark)
        check.lines(_run_output(first, len(BANNER) + len(NOTICE) + 5),
                    BANNER + NOTICE + ["Preparing Update files...OK",
                                       "- [ok]",
                                       "Adjust EC FW override Status...OK",
                                       "",
                                       "Restarting, please wait..."], "first run")
        # What the first run left, read from the image before the shell of boot 2 runs it.
        check.bytes_equal(disk.read_file("startup.nsh"), ROOT_SCRIPT, "root startup.nsh")
        check.true(not disk.exists("UPDATE/startup.nsh"), "local startup.nsh removed")
        check.true(disk.exists(MARKER), "Step1 marker made")
        first_traffic = log.take()
        check.equal(pin_writes(first_traffic), [0x80], "first run turns the pin on")

        # Boot 2: the shell runs the root script by itself; the final run waits for a key with the
        # pin still on.
        mark2 = m.mark()
        m.wait_text(r"<Enter any key to continue>", timeout=120, since=mark2)
        check.equal(pin_writes(log.take()), [], "pin untouched until the key")
        # Script and marker are already gone at this point: only the pin still says "armed".
        check.true(not disk.exists("startup.nsh"), "root script removed before the key")
        check.true(not disk.exists(MARKER), "marker removed before the key")
        m.send("k")
        m.wait_boot(3)
        second = m.lines_since(mark2)
        check.true("GO.nsh me1 ran" in second, "the maker's script ran with me1")
        # (The reset follows "OK" at once; the firmware's own output starts on the next row.)
        check.lines(_run_output(second, len(BANNER) + 2 + len(CLOSING) + 1),
                    BANNER + ["Deleting 'FS0:\\startup.nsh'", "Delete successful."] + CLOSING +
                    ["<Enter any key to continue>Restore FW override pin Status...OK"], "final run")
        check.equal(pin_writes(log.take()), [0x00], "final run turns the pin off")

        # Boot 3: nothing left to run; the board is idle with the pin off.
        m.boot()
        check.equal(m.boots, 3, "boots")
        m.poweroff()
    check.equal(pin_writes(log.all()), [0x80, 0x00], "pin writes of the whole sequence")
    root, update = _files(disk)
    check.true("startup.nsh" not in root, f"root script removed: {root}")
    check.equal(update, ["go.nsh", "golog.txt", "navo.efi"], "working directory at the end")
    check.equal(disk.read_text_ucs2("UPDATE/golog.txt").split(), ["me1"], "GO.nsh ran once")
    check.done()


def test_declined_and_orphan_script_after_f09() -> None:
    check = Check("declined, F09, orphan script")
    log = EcLog("autoupdate-f09")
    disk = _disk("autoupdate-f09")
    with Machine(disk, name="autoupdate-f09", qemu=require_ec_qemu(),
                 extra_args=log.device(api_table="off", pin="off"), startup="wait", timeout=360) as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\UPDATE")
        before = _files(disk)

        # Declined: status 2, nothing written.
        r = m.run("NAVO.efi -ECOVRAUTO", answers=[(CONTINUE, "n")])
        check.output(r, BANNER + NOTICE + ["", "User canceled update.", ""], status=2)
        check.equal(_files(disk), before, "declined run leaves the files alone")

        # Accepted, but the EC has no API table: F09 after the script is in the root.
        log.take()
        r = m.run("NAVO.efi -ECOVRAUTO", answers=[(CONTINUE, "y")])
        check.output(r, BANNER + NOTICE + ["Preparing Update files...OK", "- [ok]",
                                           "Adjust EC FW override Status...Fail.", "",
                                           "Error F09: Not Find EC API table."], status=1)
        check.equal(pin_writes(log.take()), [], "no pin write")
        check.bytes_equal(disk.read_file("startup.nsh"), ROOT_SCRIPT, "orphan root script")
        check.true(not disk.exists(MARKER), "no marker after F09")

        # The next start runs the orphan script: no marker, so no GO.nsh, and the first step asks again.
        mark = m.mark()
        start = m.send_line("reset")
        m.wait_boot(2)
        m.answer(CONTINUE, "n", timeout=120, since=mark)
        m.wait_prompt(after=start + 1)
        m.sync()
        again = m.lines_since(mark)
        check.lines(_run_output(again, len(BANNER) + len(NOTICE) + 3),
                    BANNER + NOTICE + ["", "User canceled update.", ""], "asked again at the next start")
        check.true("GO.nsh me1 ran" not in again, "GO.nsh skipped without the marker")
        check.bytes_equal(disk.read_file("startup.nsh"), ROOT_SCRIPT, "orphan script still there")

        # The shell's cp fails on a read-only root script: F10, the local copy stays, and neither
        # the pin nor the marker is touched. (The orphan script left the shell in FS0:\\UPDATE.)
        m.run_ok("attrib +r fs0:\\startup.nsh")
        log.take()
        r = m.run("NAVO.efi -ECOVRAUTO", answers=[(CONTINUE, "y")])
        check.output(r, BANNER + NOTICE + ["Preparing Update files...OK", "cp: The destination is read-only.",
                                           "Fail", "", F10], status=1)
        check.equal(pin_writes(log.take()), [], "no pin write after F10")
        check.bytes_equal(disk.read_file("UPDATE/startup.nsh"), ROOT_SCRIPT, "local script left after F10")
        check.bytes_equal(disk.read_file("startup.nsh"), ROOT_SCRIPT, "read-only root script unchanged")
        check.true(not disk.exists(MARKER), "no marker after F10")

        # The shell's rm fails when the root script is gone: F11, and the marker goes all the same.
        m.run_ok("attrib -r fs0:\\startup.nsh")
        m.run_ok("rm -q fs0:\\startup.nsh")
        m.run_ok("rm -q startup.nsh")
        m.run_ok('echo "x" > UpdatewithEC_Step1.set')
        r = m.run("NAVO.efi -ECOVRAUTO")
        check.output(r, BANNER + ["rm: File not found - 'FS0:\\startup.nsh'", "Fail", "", F11], status=1)
        check.true(not disk.exists(MARKER), "marker removed after F11")
        check.equal(pin_writes(log.take()), [], "no pin write after F11")
        m.poweroff()
    check.true(not disk.exists("startup.nsh"), "no root script at the end")
    check.true(not disk.exists("UPDATE/golog.txt"), "GO.nsh never ran")
    check.equal(pin_writes(log.all()), [], "the pin was never written")
    check.done()

