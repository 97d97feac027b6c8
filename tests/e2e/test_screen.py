"""The screen that NAVO leaves, judged on the display and on the console's clear sequence (ESC [2J)
in the serial stream, since the transcript keeps cleared rows. One table of shell configurations:
the firmware's nesting shell (the suite's default boot), ShellPkg's shell booted from the disk and
started again with -nonest by its boot script, and the older EFI shell as \\EFI\\BOOT\\BOOTX64.EFI.

Boot 1 runs a script: a line of its own, the check with equal versions, the pre-step's F11,
-MBMEVER, the check of an image answered y, the first run of the automatic update. Boot 2 runs the
generated script: GO.nsh prints two lines, then the final run waits at its closing box.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Callable, NamedTuple

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "shared"))

import fw_images  # noqa: E402
import harness  # noqa: E402
import pyte  # noqa: E402
from ec_device import EcLog, pin_writes, require_ec_qemu  # noqa: E402
from expected import BOARD_OK as BANNER, CLOSING, NOTICE  # noqa: E402
from harness import Check, DiskImage, E2EError, Machine  # noqa: E402

OLD_SHELL = Path(__file__).resolve().parent / "oldshell" / "Shell_Full.efi"
SHELL_EFI = harness.EFI_DIR / "shell" / "Shell.efi"
VERSION, OLDER = "12.0.64.1551", "12.0.49.1534"
BEFORE = "printed before NAVO"
GO_LINES = ["GO.nsh: BIOS flashed", "GO.nsh: ME flashed"]
QUESTION = "Do you want to update BIOS and ME firmware (Y/N)?"
ANY_KEY = "<Enter any key to continue>"
RESTART = "Restarting, please wait..."
# The board signature, in each shell's mm syntax (q35 PAM0 maps the legacy area to RAM).
SIGNATURE = list(enumerate(b"$$ZAN-", 0xF0000))
UEFI_MM = ["mm 000000000090 30 -w 1 -PCI -n"] + [f"mm {a:X} {b:02X} -w 1 -MEM -n" for a, b in SIGNATURE]
OLDER_MM = ["mm 90 1 ;PCI :30 -n"] + [f"mm {a:X} 1 ;MEM :{b:02X} -n" for a, b in SIGNATURE]
# The shell booted from the disk runs its own directory's startup.nsh first.
AGAIN = "  fs0:\\EFI\\BOOT\\BOOTX64.EFI -nonest -nostartup -nomap -noversion "
NONEST_BOOT = ("@echo -off\r\nif exist fs0:\\startup.nsh then\r\n" + AGAIN + "fs0:\\startup.nsh\r\nelse\r\n" +
               AGAIN + "fs0:\\CASES.nsh\r\nendif\r\n")


def cases(mm: list[str]) -> str:
    lines = ["@echo -off", "fs0:", "echo the shell: nonesting=%nonesting%"] + mm + ["cls", f"echo {BEFORE}"]
    for directory, args, name in (("CHECK", f"-CHKMEVER -N {VERSION}", "check"),
                                  ("HELD", f"-CHKMEVER -N {VERSION}", "held"), ("CHECK", "-MBMEVER", "show"),
                                  ("IMAGE", f"-CHKMEVER -F {fw_images.SAMPLE_NAME}", "image")):
        lines += [f"cd \\{directory}", f"fs0:\\NAVO.efi {args}", f"echo {name} %lasterror%"]
    lines += ["cd \\UPDATE", "NAVO.efi -ECOVRAUTO", "echo the first run came back"]
    return "\r\n".join(lines) + "\r\n"


class ShellConfig(NamedTuple):
    name: str
    files: Callable[[], dict]  # boot files and the script of boot 1
    status: str  # "echo NAME %lasterror%" as it shows
    cp_lines: list[str]
    rm_lines: list[str]
    nonesting: str  # %nonesting% as a script shows it (nothing where the variable is unknown)


def _shell_efi() -> Path:
    if not SHELL_EFI.is_file():
        raise E2EError(f"missing {SHELL_EFI}: run `make shell` first")
    return SHELL_EFI


UEFI_RM = ["Deleting 'FS0:\\startup.nsh'", "Delete successful."]
CONFIGS = [
    ShellConfig("nesting", lambda: {"startup.nsh": cases(UEFI_MM)}, "{} 0x{:X}", ["- [ok]"], UEFI_RM,
                "False"),
    ShellConfig("nonest", lambda: {"EFI/BOOT/BOOTX64.EFI": _shell_efi(), "EFI/BOOT/startup.nsh": NONEST_BOOT,
                                   "CASES.nsh": cases(UEFI_MM)}, "{} 0x{:X}", ["- [ok]"], UEFI_RM, "True"),
    ShellConfig("older", lambda: {"EFI/BOOT/BOOTX64.EFI": OLD_SHELL, "startup.nsh": cases(OLDER_MM)},
                "{} {:X}",
                ["copying fs0:\\UPDATE\\startup.nsh -> fs0:\\startup.nsh", " - [ok]"],
                ["removing fs0:\\startup.nsh", " - [ok]"], ""),
]


def _from(screen: list[str], first: str) -> list[str]:
    """The display from the last row that reads `first` to its last row with text."""
    at = max((i for i, row in enumerate(screen) if row == first), default=len(screen))
    rows = screen[at:]
    while rows and not rows[-1]:
        rows.pop()
    return rows


def _clears(raw: bytes, start: str, end: str, since: int) -> int:
    a = raw.find(start.encode(), since)
    b = raw.find(end.encode(), a)
    return raw[a:b].count(b"\x1b[2J") if 0 <= a <= b else -1


def _display_at(raw: bytes, text: str, since: int) -> list[str]:
    """The display as the stream drew it up to `text` (gone from the harness's after a reset)."""
    end = raw.find(text.encode(), since) + len(text)
    screen = pyte.Screen(80, 50)
    pyte.Stream(screen).feed(re.sub(rb"\x1b\[=\d*[hl]", b"", raw[:end]).decode("cp437"))
    return [row.rstrip() for row in screen.display]


def _run(config: ShellConfig) -> None:
    check = Check(f"screen in the {config.name} shell")
    log = EcLog(f"screen-{config.name}")
    disk = DiskImage(f"screen-{config.name}")
    for directory, board, fitver in (("CHECK", VERSION, 0), ("HELD", VERSION, 0xC601), ("IMAGE", OLDER, 0)):
        disk.add_standin("MeInfo", output=f"FW Version: {board}\n", directory=directory)
        disk.set_standin("MeInfo", arg="fitver", output="FITC\n", status=fitver, directory=directory)
    disk.add_file(f"IMAGE/{fw_images.SAMPLE_NAME}", fw_images.sample_bios_image())
    disk.add_efi("NAVO.efi").add_efi("NAVO.efi", directory="UPDATE")
    disk.add_file("UPDATE/GO.nsh", "@echo -off\r\n" + "".join(f"echo {line}\r\n" for line in GO_LINES) +
                  "echo %1 >> golog.txt\r\n")
    for path, data in config.files().items():
        disk.add_file(path, data)
    st = config.status.format
    with Machine(disk, name=f"screen-{config.name}", qemu=require_ec_qemu(),
                 extra_args=log.device(pin="off"), startup="wait", timeout=480) as m:
        m.wait_boot(1)
        since = len(m.raw())
        m.wait_text(re.escape(QUESTION), timeout=240)
        board_ok = ["Check ME override Pin status...OK", "Read Board ME FW version...OK",
                    "Read File ME FW version...OK", ""]
        check.lines(_from(m.screen_lines(), BEFORE), [BEFORE] + BANNER + board_ok + [
            f"ME FW version on the board: {VERSION}", f"ME FW version in the File : {VERSION}", "",
            "Your current ME firmware is already latest version.", st("check", 69)] + BANNER + [
            "Check ME override Pin status...Fail", "", "Error F11: It is already preparing override state.",
            st("held", 1)] + BANNER + [
            "Read Board ME FW version...OK", "", f"ME FW version on the board: {VERSION}", st("show", 0)] +
            BANNER + board_ok + [
            f"ME FW version on the board: {OLDER}", f"ME FW version in the File : {VERSION}", "",
            "There is a new version of ME firmware. It is recommended to update.", QUESTION],
            "display at the question, below the line printed before")
        check.equal(_clears(m.raw(), BEFORE, QUESTION, since), 0, "clears from the line before to the question")
        m.send("y")
        m.answer(re.escape(NOTICE[-1]), "y")
        m.wait_boot(2)
        raw = m.raw()
        check.equal(_clears(raw, NOTICE[-1], RESTART, since), 0, "clears from the question to the restart")
        check.lines(_from(_display_at(raw, RESTART, since), st("image", 64)),
                    [st("image", 64)] + BANNER + NOTICE + ["Preparing Update files...OK"] + config.cp_lines +
                    ["Adjust EC FW override Status...OK", "", RESTART], "display at the restart")
        check.equal(pin_writes(log.take()), [0x80], "first run turns the pin on")

        m.wait_text(re.escape(ANY_KEY), timeout=180)
        check.lines(_from(m.screen_lines(), GO_LINES[0]),
                    GO_LINES + BANNER + config.rm_lines + CLOSING + [ANY_KEY],
                    "display at the final run's key: GO.nsh's lines above the closing box")
        check.equal(_clears(m.raw(), GO_LINES[0], ANY_KEY, m.boot_offsets[1]), 0, "clears from GO.nsh to the key")
        check.equal(pin_writes(log.take()), [], "pin untouched until the key")
        m.send("k")
        m.wait_boot(3)
        check.equal(pin_writes(log.take()), [0x00], "final run turns the pin off")
        everything = m.transcript()
        check.true(f"the shell: nonesting={config.nonesting}" in everything, f"the script ran in {config.name}")
        check.true(not any("is not recognized" in l for l in everything), "every command line was found")
    check.true(not disk.exists("startup.nsh"), "root script removed")
    check.equal(sorted(n.lower() for n in disk.list_dir("UPDATE")), ["go.nsh", "golog.txt", "navo.efi"],
                "the working directory at the end")
    check.true(not any(disk.exists(f"{d}/{f}") for d in ("CHECK", "HELD", "IMAGE")
                       for f in ("MeInfoTmp.txt", "tmp")), "no scratch files left")
    check.done()


def test_screen_nesting() -> None:
    _run(CONFIGS[0])


def test_screen_nonest() -> None:
    _run(CONFIGS[1])


def test_screen_older_shell() -> None:
    _run(CONFIGS[2])


TESTS = [test_screen_nesting, test_screen_nonest, test_screen_older_shell]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
