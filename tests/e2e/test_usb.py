"""The technician's kit (`make usb`) as shipped.

Each machine boots a copy of the stick image as its only disk, so OVMF starts the stick's own
\\EFI\\BOOT\\BOOTX64.EFI, plugged in as a removable USB stick. The first takes the copy as it
is (Debian's QEMU): the tools, the guide and the checksums file. The second is the virtual board
(tools/board.py, what `make run` boots: the copy with the board's extras, the emulated EC, its
SMBIOS identity): every example script, ME and TXE (on images whose names begin like the shell's
`if` keywords), the guide's logging recipe, the whole automatic update across three boots run
from the stick's root with AUTO.nsh, the maker's GO.nsh made from the kit's template and
VERIFY.nsh, and twice more with the second start's countdown stopped by ESC: once resumed and
once backed out with the guide's lines typed at the prompt. The third boots a copy whose
\\EFI\\BOOT\\BOOTX64.EFI is the older EFI shell, with the update's files in FS0:\\UPDATE, and runs
the same update there, typed at its prompt. Both leave the service history that navo-history
reads back from the stick: before, flash and after, with the board's SMBIOS identity.

The other test builds kits without QEMU: two builds of one commit are byte-identical, a kit signed
with a key made here verifies, an unsigned one has no signatures, and the image holds exactly the
zip's files in one FAT32 partition.
"""

from __future__ import annotations

import hashlib
import json
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))

import board  # noqa: E402
from ec_device import EcLog, pin_writes, require_ec_qemu  # noqa: E402
from expected import BOARD_OK as BANNER, CLOSING, CONTINUE, USAGE, VERSION  # noqa: E402
from harness import (BUILD, KEY_ENTER, KEY_ESC, REPO, WORK_DIR, Check, DiskImage, E2EError,  # noqa: E402
                     Machine, kit_image, kit_version, partition_offset)

GUIDE = REPO / "kit" / "README.TXT"
QUICK = REPO / "kit" / "QUICK.TXT"
YES_NO = re.compile(r"\(Y/N\)\?")
FLASHED = "the maker's script flashes BIOS and ME firmware here."
GO_RAN = "GO.nsh {}: " + FLASHED
# The last line of the kit's GO.nsh template after the board's stand-in flash (status 0).
GO_DONE = "GO.nsh: the flash ended with status 0: done"
LATEST = "Your current ME firmware is already latest version."
PIN_OFF = "FW Override Status: Off"
OLD_SHELL = Path(__file__).resolve().parent / "oldshell" / "Shell_Full.efi"
NAVO_HISTORY = BUILD / "host" / "navo-history"
NOTED = "History: {} record added to FS0:\\HISTORY.TXT"
# What a technician reads in the records of one whole update on the virtual board, whose stand-in
# flash took: event, serial, board version, image version, decision, status.
OLD, NEW = board.BOARD_ME_VERSION, board.IMAGE_ME_VERSION
UPDATE_RECORDS = [("before", board.SMBIOS["serial"], OLD, NEW, "update", "64"),
                  ("flash", board.SMBIOS["serial"], NEW, None, None, "0"),
                  ("after", board.SMBIOS["serial"], NEW, NEW, "same", "69")]
# The rest of the identity every record carries, from QEMU's SMBIOS tables as OVMF hands them over.
IDENTITY = {"vendor": board.SMBIOS["manufacturer"], "product": board.SMBIOS["product"],
            "uuid": "00112233-4455-6677-8899-aabbccddeeff", "bios": "Q420TM 1.07"}
SMBIOS_ARGS = board.smbios_args() + ["-smbios", f"type=1,uuid={IDENTITY['uuid']}",
                                     "-smbios", f"type=0,version={IDENTITY['bios']}"]
ME_BOARD = f"ME FW version on the board: {board.BOARD_ME_VERSION}"
TXE_BOARD = f"TXE FW version on the board: {board.BOARD_TXE_VERSION}"
KEY_PAGE_UP = b"\x1b[5~"
COUNTDOWN = re.compile(r"Press ESC in \d+ seconds? to skip startup\.nsh")
# An image that carries the board's own version: the check ends in 69 without a question. Its
# name, and that of a copy of the sample image, begin like the shell's `if` keywords "not" and
# "exist": the example scripts' tests of their arguments must hold all the same.
SAME_IMAGE = "NOTE1.BIN"
SAMPLE_COPY = "EXISTS.BIN"
# The guide's logging recipe, and the plain text it leaves.
LOG_LINES = ["NAVO.efi -MBMEVER >>a LOG.TXT", 'echo "MBMEVER status %lasterror%" >>a LOG.TXT',
             "CHKSUM.efi NOPE.BIN >>a LOG.TXT", 'echo "CHKSUM status %lasterror%" >>a LOG.TXT']
# The guide's lines for a start whose countdown ESC stopped while the update is armed: the one
# that goes on with the update, and those that back out of it. The guide holds each as a line.
RESUME_LINE = "fs0:\\startup.nsh"
BACK_OUT_LINES = ["fs0:", "rm fs0:\\startup.nsh", "rm UpdatewithEC_Step1.set", "NAVO.efi -ECOVRPIN -OFF"]


def chksums_blocks(text: str) -> dict[str, list[str]]:
    """CHKSUMS.TXT: for each file ("\\EFI\\BOOT\\BOOTX64.EFI") the five lines of its report."""
    lines = text.split("\r\n")
    blocks = {}
    for i, line in enumerate(lines):
        if line.startswith("\\"):
            blocks[line] = lines[i + 1:i + 6]
    return blocks


def _history(check: Check, disk: DiskImage, what: str) -> list[tuple]:
    """The stick's HISTORY.TXT as navo-history --json reads it back: for each record its event,
    serial, board and image versions, decision and status; the rest of the identity checked here."""
    if not NAVO_HISTORY.is_file():
        raise E2EError(f"missing {NAVO_HISTORY}: run `make host` first")
    copy = WORK_DIR / f"{disk.name}.HISTORY.TXT"
    copy.write_bytes(disk.read_file("HISTORY.TXT"))
    p = subprocess.run([str(NAVO_HISTORY), "--json", str(copy)], capture_output=True, text=True)
    check.equal((p.returncode, p.stderr), (0, ""), f"{what}: navo-history reads whole records only")
    records = [json.loads(line) for line in p.stdout.splitlines()]
    for r in records:
        check.equal({k: r[k] for k in IDENTITY}, IDENTITY, f"{what}: the identity in {r}")
    return [(r["event"], r["serial"], r["board"], r["image_version"], r["decision"], r["status"])
            for r in records]


def _stick(name: str) -> DiskImage:
    disk = board.board_disk(name, WORK_DIR / "images")
    disk.add_file(SAME_IMAGE, board.sample_bios_image(
        tuple(int(x) for x in board.BOARD_ME_VERSION.split("."))))
    disk.add_file(SAMPLE_COPY, board.sample_bios_image())
    return disk


def test_shipped_stick_on_usb() -> None:
    check = Check("shipped stick")
    disk = DiskImage("shipped", base=kit_image())
    with Machine(disk, name="shipped", usb_stick=True, timeout=300) as m:
        m.boot()
        check.true(re.search(r'BdsDxe: starting Boot\d+ "UEFI QEMU QEMU USB HARDDRIVE',
                             "\n".join(m.transcript())), "the firmware booted the USB stick")
        check.equal(m.run("echo %homefilesystem%", status=False).lines, ["FS0:"],
                    "the shell is the stick's own")
        m.run_ok("fs0:")
        check.output(m.run("NAVO.efi -VER"), VERSION, status=0)
        check.output(m.run("NAVO.efi -H"), BANNER[:3] + USAGE, status=0)
        guide = GUIDE.read_text().splitlines()
        # `type` ends the text with a line end of its own.
        check.output(m.run("type README.TXT"), guide + [""], status=0)
        # As the guide's first line says: one screen at a time, q stops.
        r = m.run("type -b README.TXT", answers=[(r"Press ENTER to continue or 'Q' break", "q")])
        check.true(20 < len(r.lines) < len(guide) and r.lines[:20] == guide[:20],
                   f"type -b shows the first screen only:\n{r}")

        # Every report that CHKSUMS.TXT holds, as CHKSUM.efi gives it in the file's folder.
        blocks = chksums_blocks(disk.read_file("CHKSUMS.TXT").decode("ascii"))
        check.true("\\NAVO.efi" in blocks and "\\EFI\\BOOT\\BOOTX64.EFI" in blocks,
                   f"CHKSUMS.TXT lists the tools and the shell: {sorted(blocks)}")
        for path, report in blocks.items():
            folder, name = path.rsplit("\\", 1)
            m.cd("fs0:" + (folder or "\\"))
            check.output(m.run(f"CHKSUM.efi {name}"), report, status=0)
        # The guide's way to see the BIOS version: on the first screen (q leaves a status behind).
        r = m.run("smbiosview -t 0 -b", answers=[(r"Press ENTER to continue or 'Q' break", "q")],
                  status=False)
        check.true(any(l.startswith("BiosVersion: ") for l in r.lines), f"the BIOS version:\n{r}")
        m.poweroff()
    check.done()


def test_board_jobs_from_stick() -> None:
    check = Check("stick")
    guide = {line.lstrip() for line in GUIDE.read_text().splitlines()}
    for line in [RESUME_LINE, *BACK_OUT_LINES]:
        check.true(line in guide, f"the guide holds the tested line {line!r}")
    log = EcLog("stick")
    disk = _stick("stick")
    # "wait": the shell runs the update's startup.nsh by itself, as on the bench.
    with Machine(disk, name="stick", qemu=require_ec_qemu(),
                 extra_args=log.device(pin="off") + SMBIOS_ARGS, startup="wait", timeout=600,
                 usb_stick=True) as m:
        m.boot()
        check.equal(m.run("echo %homefilesystem%", status=False).lines, ["FS0:"],
                    "the shell is the stick's own")
        m.run_ok("fs0:")
        m.write_legacy_signature()
        # The check-then-update examples: GO.nsh once, on Y only, with the arguments given after
        # the image, or else "me1" as from the automatic update. Its stand-in flash makes MeInfo.efi
        # report the image's version; BOARD.TXT's line puts the board's back.
        for command, board_line, go in [
            ("EXAMPLES\\CHECK.nsh Q420TM07.BIN me", ME_BOARD, "me"),
            ("EXAMPLES\\CHECK.nsh Q420TM07.BIN", ME_BOARD, "me1"),
            (f"EXAMPLES\\CHECKTXE.nsh {SAMPLE_COPY}", TXE_BOARD, "me1"),
        ]:
            r = m.run(command, answers=[(YES_NO, "y")])
            check.true(board_line in r.lines and "CHECK: update chosen, running GO.nsh" in r.lines,
                       f"{command!r} on Y:\n{r}")
            check.equal([l for l in r.lines if l.startswith(("GO.nsh", "History:"))],
                        [NOTED.format("before"), GO_RAN.format(go), NOTED.format("flash"), GO_DONE],
                        f"GO.nsh run by {command!r} between its records")
            check.status(r, 0)
            m.run_ok("cp -q MeInfo.org MeInfo.out")
        no_update = "CHECK: no update (declined, or the board already has this version)"
        failed = "CHECK: the check failed, see the Error line above; nothing flashed"
        declined = "AUTO: no update (declined at Continue); nothing changed"
        before, after, no_file = NOTED.format("before"), NOTED.format("after"), " without the image file"
        for command, answers, status, said, noted in [
            ("EXAMPLES\\CHECK.nsh Q420TM07.BIN me", [(YES_NO, "n")], 0, no_update, before),
            (f"EXAMPLES\\CHECK.nsh {SAME_IMAGE} me", [], 0, no_update, before),
            ("EXAMPLES\\CHECK.nsh NOPE.BIN me", [], 1, failed, before + no_file),
            ("EXAMPLES\\CHECK.nsh", [], 1, "Usage: EXAMPLES\\CHECK.nsh IMAGE [GO-ARGUMENTS]", None),
            ("EXAMPLES\\CHECKTXE.nsh Q420TM07.BIN", [(YES_NO, "n")], 0, no_update, before),
            ("EXAMPLES\\CHECKTXE.nsh NOPE.BIN", [], 1, failed, before + no_file),
            ("EXAMPLES\\CHECKTXE.nsh", [], 1, "Usage: EXAMPLES\\CHECKTXE.nsh IMAGE [GO-ARGUMENTS]", None),
            (f"EXAMPLES\\AUTO.nsh {SAME_IMAGE}", [], 0, no_update.replace("CHECK", "AUTO"), before),
            ("EXAMPLES\\AUTO.nsh Q420TM07.BIN", [(YES_NO, "y"), (CONTINUE, "n")], 0, declined, before),
            (f"EXAMPLES\\AUTOTXE.nsh {SAMPLE_COPY}", [(YES_NO, "y"), (CONTINUE, "n")], 0, declined, before),
            ("EXAMPLES\\AUTO.nsh NOPE.BIN", [], 1, failed.replace("CHECK", "AUTO"), before + no_file),
            ("EXAMPLES\\AUTOTXE.nsh", [], 1, "Usage: EXAMPLES\\AUTOTXE.nsh IMAGE", None),
            # After a flash that did not take, the question again; the pin off all the same.
            (f"EXAMPLES\\VERIFTXE.nsh {SAMPLE_COPY}", [(YES_NO, "n")], 0, PIN_OFF, after),
            ("EXAMPLES\\VERIFY.nsh NOPE.BIN", [], 1, PIN_OFF, after + no_file),
            ("EXAMPLES\\VERIFY.nsh", [], 1, "Usage: EXAMPLES\\VERIFY.nsh IMAGE", None),
            ("EXAMPLES\\VERSIONS.nsh NOPE.BIN", [], 1, "VERSIONS: a reading failed, see the messages above",
             None),
            ("EXAMPLES\\VERSTXE.nsh NOPE.BIN", [], 1, "VERSIONS: a reading failed, see the messages above",
             None),
            ("EXAMPLES\\VERSIONS.nsh", [], 1, "Usage: EXAMPLES\\VERSIONS.nsh IMAGE", None),
            ("EXAMPLES\\VERSTXE.nsh", [], 1, "Usage: EXAMPLES\\VERSTXE.nsh IMAGE", None),
            # The template as shipped flashes nothing and notes a flash that failed.
            ("EXAMPLES\\GO.nsh me1", [], 1, "GO.nsh: THE FLASH FAILED with status 1", NOTED.format("flash")),
        ]:
            r = m.run(command, answers=answers)
            check.equal(r.lines[-1:], [said], f"last line of {command!r} {answers}")
            check.true(not any(FLASHED in l for l in r.lines), f"no flash:\n{r}")
            check.equal([l for l in r.lines if l.startswith("History:")], [noted] if noted else [],
                        f"records of {command!r} {answers}")
            check.status(r, status)

        image = board.sample_bios_image()
        total = sum(image) & 0xFFFFFFFF
        for script, kind, board_line in [("VERSIONS", "ME", ME_BOARD), ("VERSTXE", "TXE", TXE_BOARD)]:
            r = m.run(f"EXAMPLES\\{script}.nsh {SAMPLE_COPY}")
            for line in [board_line, f"{SAMPLE_COPY} {kind} FW version : 12.0.64.1551",
                         f"File size            : 0x{len(image):X}",
                         f"Checksum(File Size)  : 0x{total:08X}",
                         f"Checksum(ZAN History): {total & 0xFFFF:04X}"]:
                check.true(line in r.lines, f"{line!r} in {script}.nsh's readings:\n{r}")
            check.status(r, 0)

        # Logged as the guide says: plain text, each status on the line after its command.
        for line in LOG_LINES:
            m.run(line)
        log_text = disk.read_file("LOG.TXT").decode("ascii", errors="replace").split("\r\n")
        check.equal(log_text, BANNER[:3] + ["Check ZAN Board...OK", "Read Board ME FW version...OK", "",
                                            f"ME FW version on the board: {board.BOARD_ME_VERSION}",
                                            "MBMEVER status 0x0", "ERROR ! Open File failed!",
                                            "CHKSUM status 0xE", ""], "the log")

        # The automatic update from the stick's root with AUTO.nsh: three boots, the second run by
        # the shell from the root startup.nsh with the pin on, then VERIFY.nsh.
        earlier = len(_history(check, disk, "the examples' history"))
        log.take()
        mark = m.mark()
        m.send_line("EXAMPLES\\AUTO.nsh Q420TM07.BIN")
        m.answer(YES_NO, "y", since=mark)
        m.answer(CONTINUE, "y", since=mark)
        m.wait_boot(2)
        check.equal(pin_writes(log.take()), [0x80], "first run turns the pin on")
        m.wait_text(r"<Enter any key to continue>", timeout=120, since=mark)
        m.send(KEY_PAGE_UP)  # as the guide says: any key, PgUp too, ends the wait
        m.wait_boot(3)
        check.true(GO_RAN.format("me1") in m.lines_since(mark), "the startup script ran go me1")
        m.boot()
        check.equal(m.boots, 3, "boots")
        check.equal(pin_writes(log.take()), [0x00], "the final run turns the pin off")
        left = {n.lower() for n in disk.list_dir()}
        check.true("startup.nsh" not in left and "updatewithec_step1.set" not in left,
                   f"no script or marker left: {sorted(left)}")
        m.run_ok("fs0:")
        r = m.run("EXAMPLES\\VERIFY.nsh Q420TM07.BIN")
        check.true(LATEST in r.lines and r.lines[-1:] == [PIN_OFF], f"VERIFY.nsh after the update:\n{r}")
        check.status(r, 0)
        check.equal(pin_writes(log.take()), [0x00], "VERIFY.nsh turns the pin off")
        check.equal(_history(check, disk, "the stick's history")[earlier:], UPDATE_RECORDS,
                    "the update's records")

        # Armed again, and ESC at the second start's countdown: the prompt. Typed there, the guide's
        # resume line completes the update; its back-out lines undo it. Either way one restart
        # follows, at which nothing runs.
        for resume in (True, False):
            what = "resumed" if resume else "backed out"
            mark, boots = m.mark(), m.boots
            m.run_ok("fs0:")  # a start that ran no startup.nsh has no current directory
            m.send_line("NAVO.efi -ECOVRAUTO")
            m.answer(CONTINUE, "y", since=mark)
            m.wait_boot(boots + 1)
            m.answer(COUNTDOWN, KEY_ESC, since=mark)
            m.wait_prompt(after=len(m.raw()))
            m.sync()
            check.true(disk.exists("startup.nsh") and disk.exists("UpdatewithEC_Step1.set"),
                       f"{what}: root script and marker at the prompt")
            check.equal(pin_writes(log.take()), [0x80], f"{what}: the pin on at the prompt")
            if resume:
                m.send_line(RESUME_LINE)
                m.wait_text(r"<Enter any key to continue>", timeout=120, since=mark)
                restart = m.mark()
                m.send("k")
            else:
                for line in BACK_OUT_LINES:
                    r = m.run(line)
                    check.status(r, 0)
                check.equal(r.lines[-1:], ["FW Override Status: Off"], "the back-out's last line")
                restart = m.mark()
                m.send_line("reset")
            m.wait_boot(boots + 2)
            m.boot()
            check.equal(m.boots, boots + 2, f"{what}: one restart")
            lines = m.lines_since(mark)
            check.equal([l for l in lines if l.startswith("GO.nsh")],
                        [GO_RAN.format("me1"), GO_DONE] if resume else [], f"{what}: GO.nsh")
            if resume:
                check.true("\n".join(CLOSING[:-1]) in "\n".join(lines), f"{what}: the closing box")
            check.equal(pin_writes(log.take()), [0x00], f"{what}: the pin off")
            left = {n.lower() for n in disk.list_dir()}
            check.true("startup.nsh" not in left and "updatewithec_step1.set" not in left,
                       f"{what}: no script or marker left: {sorted(left)}")
            # The countdown comes at every start; a script found after it would run NAVO.efi.
            check.true(BANNER[1] not in m.lines_since(restart) and m.prompts[-1].prompt == "Shell",
                       f"{what}: nothing runs at the restart")
        m.poweroff()
    check.done()


def _type(m: Machine, line: str) -> int:
    """Types a line at the older shell's prompt, which the harness's run() does not know: each
    piece once the one before is echoed (its key buffer is small), then Enter. Returns the mark
    of the line."""
    for at in range(0, len(line), 8):
        m.send(line[at:at + 8])
        typed = line[:at + 8].rstrip()
        m.wait_until(lambda: (m.transcript()[m.cursor()[1]:] or [""])[0].endswith(typed), 30,
                     f"echo of {line!r}")
    mark = m.mark()
    m.send(KEY_ENTER)
    return mark


def _old_run(m: Machine, line: str, answers: list = ()) -> list[str]:
    """Runs a line at the older shell's prompt: the lines it printed (blank ones at the end aside)."""
    mark = _type(m, line)
    for pattern, keys in answers:
        m.answer(pattern, keys, since=mark)
    m.wait_text(r"(?m)^fs0:\\[^>\n]*>$", since=mark + 1)
    lines = m.lines_since(mark)[1:-1]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def test_update_in_older_shell() -> None:
    """The update's files in FS0:\\UPDATE, the scripts typed there as \\EXAMPLES\\...: the check
    declined, then AUTO.nsh, the generated startup.nsh with the template's GO.nsh, VERIFY.nsh."""
    check = Check("older shell")
    log = EcLog("older")
    disk = board.board_disk("older", WORK_DIR / "images", folder="UPDATE")
    disk.add_file("EFI/BOOT/BOOTX64.EFI", OLD_SHELL)
    noted = NOTED.replace("FS0:", "fs0:").format
    # The board signature in the older shell's mm syntax (q35 PAM0 maps the legacy area to RAM),
    # which that shell takes from a script only.
    disk.add_file("SIGN.nsh", "".join(f"{line}\r\n" for line in ["mm 90 1 ;PCI :30 -n"] + [
        f"mm {a:X} 1 ;MEM :{b:02X} -n" for a, b in enumerate(b"$$ZAN-", 0xF0000)]))
    with Machine(disk, name="older", qemu=require_ec_qemu(),
                 extra_args=log.device(pin="off") + SMBIOS_ARGS, startup="wait", timeout=600,
                 usb_stick=True) as m:
        m.wait_boot(1)
        m.wait_text(r"(?m)^Shell>$")
        for line in ["fs0:", "\\SIGN.nsh", "cd UPDATE"]:
            _old_run(m, line)
        check.equal(_old_run(m, "\\EXAMPLES\\AUTO.nsh"), ["Usage: EXAMPLES\\AUTO.nsh IMAGE"],
                    "AUTO.nsh's usage")
        readings = _old_run(m, "\\EXAMPLES\\VERSIONS.nsh Q420TM07.BIN")
        check.true(readings[-1].startswith("Checksum(ZAN History): "), "VERSIONS.nsh, the sum last")
        check.equal(_old_run(m, "\\EXAMPLES\\CHECK.nsh Q420TM07.BIN", [(YES_NO, "n")])[-2:],
                    [noted("before"), "CHECK: no update (declined, or the board already has this version)"],
                    "CHECK.nsh on N")
        mark = _type(m, "\\EXAMPLES\\AUTO.nsh Q420TM07.BIN")
        m.answer(YES_NO, "y", since=mark)
        m.answer(CONTINUE, "y", since=mark)
        m.wait_boot(2)
        check.equal(pin_writes(log.take()), [0x80], "first run turns the pin on")
        m.wait_text(r"<Enter any key to continue>", timeout=120, since=mark)
        restart = m.mark()
        m.send("k")
        m.wait_boot(3)
        m.wait_text(r"(?m)^Shell>$", since=restart)
        check.equal(pin_writes(log.take()), [0x00], "the final run turns the pin off")
        for line in ["fs0:", "cd UPDATE"]:
            _old_run(m, line)
        verify = _old_run(m, "\\EXAMPLES\\VERIFY.nsh Q420TM07.BIN")
        check.true(LATEST in verify and verify[-1:] == [PIN_OFF], "VERIFY.nsh:\n" + "\n".join(verify))
        check.equal(pin_writes(log.take()), [0x00], "VERIFY.nsh turns the pin off")
        shown = m.transcript()
        _type(m, "reset -s")
        m.wait_exit()
    check.equal([l for l in shown if l.startswith("History:")],
                [noted("before"), noted("before"), noted("flash"), noted("after")], "the records' lines")
    # What the older shell says to a line it does not take, had a script one.
    check.equal([l for l in shown if re.match(r"(exit|if|goto|set): |Script Error", l)], [],
                "no line that the older shell refused")
    check.true(GO_RAN.format("me1") in shown and GO_DONE in shown, "the template's GO.nsh ran go me1")
    declined = ("before", board.SMBIOS["serial"], OLD, NEW, "update", "69")
    check.equal(_history(check, disk, "the history"), [declined] + UPDATE_RECORDS,
                "the records: the check declined, then the update's")
    check.done()


# -------------------------------------------------------------------------------------------------
# Building the kit (no QEMU)
# -------------------------------------------------------------------------------------------------

def _make_usb(out: Path, **env: str) -> subprocess.CompletedProcess:
    e = dict(os.environ, USB_OUT=str(out), **env)
    for k in ("SIGN_KEY", "SIGN_CERT", "SOURCE_DATE_EPOCH"):
        if k not in env:
            e.pop(k, None)
    return subprocess.run([str(REPO / "tools" / "make-usb.sh")], env=e, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)


def _mtools(*args: str) -> bytes:
    return subprocess.run(list(args), env=dict(os.environ, MTOOLS_SKIP_CHECK="1"), check=True,
                          stdout=subprocess.PIPE).stdout


def _sbverify(*args: str) -> tuple[int, str]:
    p = subprocess.run(["sbverify", *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return p.returncode, p.stdout.decode(errors="replace")


def test_kit_reproducible_signed_and_consistent() -> None:
    check = Check("kit")
    name = f"NAVO-{kit_version()}"
    a, b, signed = WORK_DIR / "a", WORK_DIR / "b", WORK_DIR / "signed"

    # Two builds of one commit, the second later and under another umask.
    p = _make_usb(a)
    check.equal(p.returncode, 0, f"make-usb: {p.stdout.decode(errors='replace')}")
    old = os.umask(0o077)
    try:
        p = _make_usb(b)
    finally:
        os.umask(old)
    check.equal(p.returncode, 0, f"second make-usb: {p.stdout.decode(errors='replace')}")
    for suffix in (".zip", ".img", ".SHA256SUMS"):
        check.bytes_equal((b / (name + suffix)).read_bytes(), (a / (name + suffix)).read_bytes(),
                          f"{name}{suffix} of two builds")

    # The zip: the stick's files in sorted order (nothing in \EFI\BOOT\ that would shadow the
    # update's startup.nsh), one time stamp, SHA256SUMS covering the rest.
    with zipfile.ZipFile(a / f"{name}.zip") as z:
        names = z.namelist()
        files = {n: z.read(n) for n in names}
        stamps = {i.date_time for i in z.infolist()}
        # Extra fields carry the builder's user ids and access times.
        extras = [i.filename for i in z.infolist() if i.extra]
    shipped = ["CHKSUM.efi", "CHKSUMS.TXT", "EFI/BOOT/BOOTX64.EFI", "EXAMPLES/AUTO.nsh",
               "EXAMPLES/AUTOTXE.nsh", "EXAMPLES/CHECK.nsh", "EXAMPLES/CHECKTXE.nsh", "EXAMPLES/GO.nsh",
               "EXAMPLES/VERIFTXE.nsh", "EXAMPLES/VERIFY.nsh", "EXAMPLES/VERSIONS.nsh",
               "EXAMPLES/VERSTXE.nsh", "LICENSES/EDK2.TXT", "NAVO.efi", "NAVOREC.efi", "README.TXT",
               "SHA256SUMS"]
    if QUICK.is_file():
        shipped.append("QUICK.TXT")
    check.equal(names, sorted(shipped), "zip entries")
    check.equal(len(stamps), 1, "one time stamp for every entry")
    check.equal(extras, [], "entries with extra fields")
    sums = [l.split("  ", 1) for l in files["SHA256SUMS"].decode().splitlines()]
    check.equal([n for _, n in sums], [n for n in names if n != "SHA256SUMS"], "SHA256SUMS lists")
    for digest, n in sums:
        check.equal(digest, hashlib.sha256(files[n]).hexdigest(), f"sha256 of {n}")

    # The image: MBR, one active FAT32 partition (type 0x0C) holding exactly the zip's files.
    img = a / f"{name}.img"
    mbr = img.read_bytes()[:512]
    check.equal((mbr[446], mbr[450]), (0x80, 0x0C), "active FAT32 (LBA) partition")
    check.equal(mbr[462:510], bytes(48), "one partition only")
    offset = partition_offset(img)
    boot = img.read_bytes()[offset:offset + 512]
    check.equal(boot[82:90], b"FAT32   ", "FAT32 file system")
    listed = _mtools("mdir", "-i", f"{img}@@{offset}", "-/", "-b", "::/").decode().splitlines()
    on_stick = sorted(l.removeprefix("::/") for l in listed if not l.endswith("/"))
    check.equal(on_stick, names, "files on the stick")
    for n in names:
        check.bytes_equal(_mtools("mcopy", "-n", "-i", f"{img}@@{offset}", f"::/{n}", "-"), files[n],
                          f"{n} on the stick")

    # CHKSUMS.TXT reports every other file (the stick test compares each report with CHKSUM.efi's).
    blocks = chksums_blocks(files["CHKSUMS.TXT"].decode("ascii"))
    check.equal(sorted(blocks), sorted("\\" + n.replace("/", "\\") for n in names
                                       if n not in ("CHKSUMS.TXT", "SHA256SUMS")), "CHKSUMS.TXT lists")

    for tool in ("NAVO.efi", "NAVOREC.efi", "CHKSUM.efi"):
        (a / tool).write_bytes(files[tool])
        rc, out = _sbverify("--list", str(a / tool))
        check.true(rc == 0 and "No signature table present" in out and "signature 1" not in out,
                   f"unsigned {tool}: {out}")

    # Signed with a key made here: sbverify accepts the three tools, on the stick and in the zip.
    key, cert = WORK_DIR / "test.key", WORK_DIR / "test.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=NAVO kit test", "-keyout", str(key), "-out", str(cert)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p = _make_usb(WORK_DIR / "half", SIGN_KEY=str(key))
    check.true(p.returncode != 0 and b"SIGN_KEY and SIGN_CERT go together" in p.stdout,
               f"a key without a certificate is refused: {p.stdout!r}")
    p = _make_usb(signed, SIGN_KEY=str(key), SIGN_CERT=str(cert))
    check.equal(p.returncode, 0, f"signed make-usb: {p.stdout.decode(errors='replace')}")
    simg = signed / f"{name}.img"
    soff = partition_offset(simg)
    with zipfile.ZipFile(signed / f"{name}.zip") as z:
        for tool in ("NAVO.efi", "NAVOREC.efi", "CHKSUM.efi"):
            data = z.read(tool)
            check.bytes_equal(_mtools("mcopy", "-n", "-i", f"{simg}@@{soff}", f"::/{tool}", "-"), data,
                              f"signed {tool}: stick and zip")
            (signed / tool).write_bytes(data)
            rc, out = _sbverify("--cert", str(cert), str(signed / tool))
            check.true(rc == 0 and "Signature verification OK" in out, f"signed {tool}: {out}")
            total = sum(data) & 0xFFFFFFFF
            check.true(f"Checksum(File Size)  : 0x{total:08X}" in
                       chksums_blocks(z.read("CHKSUMS.TXT").decode("ascii"))["\\" + tool],
                       f"CHKSUMS.TXT reports the signed {tool}")
        check.bytes_equal(z.read("EFI/BOOT/BOOTX64.EFI"), files["EFI/BOOT/BOOTX64.EFI"], "shell unsigned")
    check.done()
