"""What the technician sees, judged on the visible screen, in every kind of shell a board boots.

The utility runs its tools, cp, rm and echo through the shell's Execute. A shell that nests runs
each line in a new shell, which clears the screen before it reads its options; the utility keeps
that clear off the screen. The harness's transcript keeps cleared lines, so these checks look only
at what is on the display at a given moment and at the console's clear sequence (ESC [2J) in the
serial stream, which a clear cannot avoid.

One table of shell configurations, one machine each:
- the firmware's own shell, which nests (OVMF's built-in UEFI Shell, the suite's default boot);
- ShellPkg's Shell.efi booted from the disk, whose boot script starts it again with -nonest (a
  boot entry that starts the shell so): every script then runs in a shell that does not nest;
- the older EFI shell (tests/e2e/oldshell), booted as the disk's \\EFI\\BOOT\\BOOTX64.EFI.

Boot 1 runs the cases from a script after a line the script printed: the check with equal
versions, the pre-step's F11, -MBMEVER, the check of an image answered y, then the first run of the
automatic update (answered y). Boot 2 runs the generated startup.nsh: the maker's GO.nsh prints two
lines, then the final run shows its closing box and waits for a key. Boot 3 starts idle.
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
from harness import Check, DiskImage, E2EError, Machine  # noqa: E402
from test_autoupdate import CLOSING, NOTICE  # noqa: E402
from test_ec import BANNER, EcLog, pin_writes, require_ec_qemu  # noqa: E402

OLD_SHELL = Path(__file__).resolve().parent / "oldshell" / "Shell_Full.efi"
SHELL_EFI = harness.EFI_DIR / "shell" / "Shell.efi"
CLEAR = b"\x1b[2J"
VERSION = "12.0.64.1551"
BOARD_OLDER = "12.0.49.1534"
BEFORE = "printed before NAVO"
GO_LINES = ["GO.nsh: BIOS flashed", "GO.nsh: ME flashed"]
GO_NSH = "@echo -off\r\n" + "".join(f"echo {line}\r\n" for line in GO_LINES) + "echo %1 >> golog.txt\r\n"
QUESTION = "Do you want to update BIOS and ME firmware (Y/N)?"
ANY_KEY = "<Enter any key to continue>"

SIGNATURE = b"$$ZAN-"
# The board signature in the legacy area (q35 PAM0 maps it to RAM), in each shell's mm syntax;
# QEMU keeps it across the resets.
UEFI_MM = ["mm 000000000090 30 -w 1 -PCI -n"] + [
    f"mm {0xF0000 + i:X} {b:02X} -w 1 -MEM -n" for i, b in enumerate(SIGNATURE)]
OLDER_MM = ["mm 90 1 ;PCI :30 -n"] + [f"mm {0xF0000 + i:X} 1 ;MEM :{b:02X} -n" for i, b in enumerate(SIGNATURE)]


def cases_nsh(signature: list[str]) -> str:
    return "\r\n".join(["@echo -off", "fs0:", "echo the shell: nonesting=%nonesting%"] + signature + [
        "cls",
        f"echo {BEFORE}",
        "cd \\CHECK",
        f"fs0:\\NAVO.efi -CHKMEVER -N {VERSION}",
        "echo check %lasterror%",
        "cd \\HELD",
        f"fs0:\\NAVO.efi -CHKMEVER -N {VERSION}",
        "echo held %lasterror%",
        "cd \\CHECK",
        "fs0:\\NAVO.efi -MBMEVER",
        "echo show %lasterror%",
        "cd \\IMAGE",
        f"fs0:\\NAVO.efi -CHKMEVER -F {fw_images.SAMPLE_NAME}",
        "echo image %lasterror%",
        "cd \\UPDATE",
        "NAVO.efi -ECOVRAUTO",
        "echo the first run came back",
    ]) + "\r\n"


# -nonest: the shell that boots from the disk runs its own directory's startup.nsh first, and
# starts itself again, not nesting, on the generated script when there is one.
NONEST_BOOT_NSH = "\r\n".join([
    "@echo -off",
    "if exist fs0:\\startup.nsh then",
    "  fs0:\\EFI\\BOOT\\BOOTX64.EFI -nonest -nostartup -nomap -noversion fs0:\\startup.nsh",
    "else",
    "  fs0:\\EFI\\BOOT\\BOOTX64.EFI -nonest -nostartup -nomap -noversion fs0:\\CASES.nsh",
    "endif",
]) + "\r\n"


def _status(text: str) -> Callable[[str, int], str]:
    return lambda name, value: text.format(name=name, value=value)


class ShellConfig(NamedTuple):
    name: str
    prepare: Callable[[DiskImage], None]
    status_line: Callable[[str, int], str]  # how the script's "echo NAME %lasterror%" shows
    cp_lines: list[str]  # the shell's cp -q of the script to the root
    rm_lines: list[str]  # the shell's rm of the root script
    nonesting: str  # the shell's `nonesting` variable as a script shows it


def _nesting(disk: DiskImage) -> None:
    disk.add_file("startup.nsh", cases_nsh(UEFI_MM))


def _nonest(disk: DiskImage) -> None:
    if not SHELL_EFI.is_file():
        raise E2EError(f"missing {SHELL_EFI}: run `make shell` first")
    disk.add_file("EFI/BOOT/BOOTX64.EFI", SHELL_EFI)
    disk.add_file("EFI/BOOT/startup.nsh", NONEST_BOOT_NSH)
    disk.add_file("CASES.nsh", cases_nsh(UEFI_MM))


def _older(disk: DiskImage) -> None:
    disk.add_file("EFI/BOOT/BOOTX64.EFI", OLD_SHELL)
    disk.add_file("startup.nsh", cases_nsh(OLDER_MM))


UEFI_RM = ["Deleting 'FS0:\\startup.nsh'", "Delete successful."]
CONFIGS = [
    ShellConfig("nesting", _nesting, _status("{name} 0x{value:X}"), ["- [ok]"], UEFI_RM, "False"),
    ShellConfig("nonest", _nonest, _status("{name} 0x{value:X}"), ["- [ok]"], UEFI_RM, "True"),
    # No such variable there: the text expands to nothing.
    ShellConfig("older", _older, _status("{name} {value:X}"),
                ["copying fs0:\\UPDATE\\startup.nsh -> fs0:\\startup.nsh", " - [ok]"],
                ["removing fs0:\\startup.nsh", " - [ok]"], ""),
]


def _disk(config: ShellConfig) -> DiskImage:
    disk = DiskImage(f"screen-{config.name}")
    disk.add_efi("NAVO.efi")
    for directory, board, fitver_status in (("CHECK", VERSION, 0), ("HELD", VERSION, 0xC601),
                                            ("IMAGE", BOARD_OLDER, 0)):
        disk.add_standin("MeInfo", output=f"FW Version: {board}\n", directory=directory)
        disk.set_standin("MeInfo", arg="fitver", output="FITC version\n", status=fitver_status,
                         directory=directory)
    disk.add_file(f"IMAGE/{fw_images.SAMPLE_NAME}", fw_images.sample_bios_image())
    disk.add_efi("NAVO.efi", directory="UPDATE")
    disk.add_file("UPDATE/GO.nsh", GO_NSH)
    config.prepare(disk)
    return disk


def _visible_from(screen: list[str], first: str) -> list[str]:
    """The visible rows from the last row that reads `first` down to the last non-empty row."""
    starts = [i for i, row in enumerate(screen) if row == first]
    if not starts:
        return []
    rows = screen[starts[-1]:]
    while rows and not rows[-1]:
        rows.pop()
    return rows


def _clears(raw: bytes, start: bytes, end: bytes, since: int) -> int:
    """ESC [2J between the last `start` text after `since` and the first `end` text after it."""
    a = raw.find(start, since)
    if a < 0:
        return -1
    b = raw.find(end, a)
    if b < 0:
        return -1
    return raw[a:b].count(CLEAR)


def _run_config(config: ShellConfig) -> None:
    check = Check(f"screen in the {config.name} shell")
    log = EcLog(f"screen-{config.name}")
    disk = _disk(config)
    st = config.status_line
    with Machine(disk, name=f"screen-{config.name}", qemu=require_ec_qemu(),
                 extra_args=log.device(pin="off"), startup="wait", timeout=480) as m:
        # Boot 1: the signature first (at the prompt of the firmware's shell or the older one),
        # then the script with the cases.
        m.wait_boot(1)
        raw_at = len(m.raw())
        m.wait_text(re.escape(QUESTION), timeout=240)
        screen = m.screen_lines()
        expected = ([BEFORE] + BANNER +
                    ["Check ME override Pin status...OK", "Read Board ME FW version...OK",
                     "Read File ME FW version...OK", "", f"ME FW version on the board: {VERSION}",
                     f"ME FW version in the File : {VERSION}", "",
                     "Your current ME firmware is already latest version.", st("check", 69)] +
                    BANNER + ["Check ME override Pin status...Fail", "",
                              "Error F11: It is already preparing override state.", st("held", 1)] +
                    BANNER + ["Read Board ME FW version...OK", "", f"ME FW version on the board: {VERSION}",
                              st("show", 0)] +
                    BANNER + ["Check ME override Pin status...OK", "Read Board ME FW version...OK",
                              "Read File ME FW version...OK", "", f"ME FW version on the board: {BOARD_OLDER}",
                              f"ME FW version in the File : {VERSION}", "",
                              "There is a new version of ME firmware. It is recommended to update.",
                              QUESTION])
        check.lines(_visible_from(screen, BEFORE), expected,
                    "visible screen at the image check's question: every case below the line printed "
                    "before them, as the shell that does not nest shows it")
        check.equal(_clears(m.raw(), BEFORE.encode(), QUESTION.encode(), raw_at), 0,
                    "clears between the line printed before and the question")
        m.send("y")
        m.wait_text(re.escape(NOTICE[-1]), timeout=60)
        m.send("y")
        m.wait_boot(2, timeout=120)
        raw = m.raw()
        check.equal(_clears(raw, NOTICE[-1].encode(), b"Restarting, please wait...", raw_at), 0,
                    "clears between the question and the restart")
        first_run = _visible_from(screen_after(raw, raw_at), st("image", 64))
        check.lines(first_run, [st("image", 64)] + BANNER + NOTICE +
                    ["Preparing Update files...OK"] + config.cp_lines +
                    ["Adjust EC FW override Status...OK", "", "Restarting, please wait..."],
                    "the first run below the image check, with the copy's and the marker's lines")
        check.equal(pin_writes(log.take()), [0x80], "first run turns the pin on")

        # Boot 2: GO.nsh's lines, then the final run's box.
        boot2 = m.boot_offsets[1]
        m.wait_text(re.escape(ANY_KEY), timeout=180)
        screen = m.screen_lines()
        check.lines(_visible_from(screen, GO_LINES[0]),
                    GO_LINES + BANNER + config.rm_lines + CLOSING + [ANY_KEY],
                    "visible screen at the final run's key: GO.nsh's lines above the closing box")
        check.equal(_clears(m.raw(), GO_LINES[0].encode(), ANY_KEY.encode(), boot2), 0,
                    "clears between GO.nsh's lines and the key prompt")
        check.equal(pin_writes(log.take()), [], "pin untouched until the key")
        m.send("k")
        m.wait_boot(3, timeout=120)
        check.equal(pin_writes(log.take()), [0x00], "final run turns the pin off")
        everything = m.transcript()
        check.true(f"the shell: nonesting={config.nonesting}" in everything,
                   f"the cases ran in the {config.name} shell")
        check.true(not any("is not recognized" in l for l in everything),
                   "every command line the utility ran was found")
    check.true(not disk.exists("startup.nsh"), "root script removed")
    check.equal(sorted(n.lower() for n in disk.list_dir("UPDATE")), ["go.nsh", "golog.txt", "navo.efi"],
                "the working directory at the end")
    for directory in ("CHECK", "HELD"):
        check.true(not disk.exists(f"{directory}/MeInfoTmp.txt") and not disk.exists(f"{directory}/tmp"),
                   f"no scratch files left in {directory}")
    check.done()


def screen_after(raw: bytes, since: int) -> list[str]:
    """The visible screen as the stream drew it up to the first "Restarting" after `since`."""
    end = raw.find(b"Restarting, please wait...", since)
    end = end + len(b"Restarting, please wait...") if end >= 0 else len(raw)
    screen = pyte.Screen(80, 50)
    stream = pyte.Stream(screen)
    stream.feed(re.sub(rb"\x1b\[=\d*[hl]", b"", raw[:end]).decode("cp437"))
    return [row.rstrip() for row in screen.display]


def test_screen_nesting() -> None:
    _run_config(CONFIGS[0])


def test_screen_nonest() -> None:
    _run_config(CONFIGS[1])


def test_screen_older_shell() -> None:
    _run_config(CONFIGS[2])


TESTS = [test_screen_nesting, test_screen_nonest, test_screen_older_shell]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
