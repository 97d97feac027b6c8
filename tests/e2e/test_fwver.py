"""Firmware version commands in the real UEFI Shell: -FILEMEVER/-FILETXEVER on synthetic BIOS images,
-MBMEVER/-MBTXEVER through the stand-in information tools and the MeInfoSetup variable (written with
the shell's setvar), and -CHKMEVER/-CHKTXEVER with their questions, answers, exit statuses and the
progress line that is rewritten in place.

The stand-in MeInfo.efi / TXEInfo.efi print <key>.out and end with <key>.sts (tests/uefi/StandIn);
a test switches the board's version by copying prepared .out files over MeInfo.out with the shell's cp.

Every run of a tool goes through a nested shell, which clears the screen when it starts; the
utility keeps that clear off the screen, so the progress lines end on the screen as the design shows
them, and the screens that the user is left with are compared as well.
"""

from __future__ import annotations

import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "shared"))

import fw_images  # noqa: E402
from expected import BOARD_OK as BANNER  # noqa: E402
import harness  # noqa: E402
from harness import (MEINFO_SETUP_GUID, Check, DiskImage, Machine,  # noqa: E402
                     meinfo_setup_bytes)


QUESTION = r"\(Y/N\)\?"
F07 = "Error F07: Not Find Version sting."


def tool_read(kind: str = "ME") -> list[str]:
    return [f"Read Board {kind} FW version...OK"]


def rows(text: str, columns: int = 80) -> list[str]:
    """A line as the console wraps it."""
    return [text[i:i + columns] for i in range(0, len(text), columns)]


def rows_below(screen: list[str], line: str, count: int) -> list[str]:
    """The `count` visible rows below the last row that reads `line`."""
    at = max((i for i, row in enumerate(screen) if row.rstrip() == line), default=None)
    return [] if at is None else [row.rstrip() for row in screen[at + 1:at + 1 + count]]


def bios_image(version, size: int = 2 << 20, ftpr: bool = True) -> bytes:
    """Erased flash with two other partitions and, unless ftpr is False, an FTPR partition near the
    end whose manifest carries `version`."""
    b = bytearray(b"\xff" * size)
    b[0x1000:0x1010] = b"$CPD\x06\x00\x00\x00\x01\x01\x01\x01RBEP"
    b[0x1100:0x1110] = b"$MN2\x00\x00\x00\x00" + struct.pack("<4H", 1, 1, 1, 1)
    b[0x40000:0x40010] = b"$CPD\x03\x00\x00\x00\x01\x01\x01\x01NFTP"
    if ftpr:
        at = size - 0x8000
        b[at:at + 16] = b"$CPD\x09\x00\x00\x00\x01\x01\x01\x01FTPR"
        b[at + 0x300:at + 0x310] = b"$MN2\x00\x00\x00\x00" + struct.pack("<4H", *version)
    return bytes(b)


def meinfo_text(version: str) -> str:
    return ("Intel(R) MEInfo Version: 12.0.10.1127\n"
            "Copyright(C) 2005 - 2019, Intel Corporation. All rights reserved.\n\n"
            f"FW Version:                          {version} H\n"
            "Flash Version:                       12.0.64.1551\n")


def make_disk() -> DiskImage:
    disk = DiskImage("fwver")
    disk.add_efi("NAVO.efi")
    disk.add_file("NEW.BIN", bios_image((12, 0, 64, 1551)))
    disk.add_file("SAME.BIN", bios_image((12, 0, 49, 1534)))
    disk.add_file("NOFTPR.BIN", bios_image(None, ftpr=False))
    disk.add_file("ZERO.BIN", bios_image((0, 0, 64, 1551)))
    # The board runs 12.0.49.1534; the pre-step's "MeInfo.efi -fitver" ends with 0.
    disk.add_standin("MeInfo", output=meinfo_text("12.0.49.1534"), status=0)
    disk.set_standin("MeInfo", arg="fitver", output="FITC Version: 12.0.64.1551\n", status=0)
    disk.add_file("M_49.out", meinfo_text("12.0.49.1534"))
    disk.add_file("M_NONE.out", "Intel(R) MEInfo Version: 12.0.10.1127\nFW Version: n/a\n")
    disk.add_standin("TXEInfo", output=meinfo_text("3.1.50.2222"), status=0)
    return disk


def run_navo(m: Machine, args: str, answers=()):
    return m.run(f"NAVO.efi {args}", answers=answers)


def test_file_versions() -> None:
    check = Check("file versions")
    with Machine(make_disk(), name="fwver-file") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        r = run_navo(m, "-FILEMEVER NEW.BIN")
        check.output(r, BANNER + ["Read NEW.BIN ME FW version...OK", "",
                                  "NEW.BIN ME FW version : 12.0.64.1551"], 0)
        r = run_navo(m, "-FILETXEVER new.bin")
        check.output(r, BANNER + ["Read new.bin TXE FW version...OK", "",
                                  "new.bin TXE FW version : 12.0.64.1551"], 0)
        r = run_navo(m, "-FILETXEVER NOFTPR.BIN")
        check.output(r, BANNER + ["Read NOFTPR.BIN TXE FW version...Fail.", "", F07], 1)
        r = run_navo(m, "-FILEMEVER MISSING.BIN")
        check.output(r, BANNER + ["Read MISSING.BIN ME FW version...Fail", "",
                                  "Error F04: Open File failed!"], 1)
        r = run_navo(m, "-FILEMEVER ZERO.BIN")
        check.output(r, BANNER + ["Read ZERO.BIN ME FW version...OK", "",
                                  "Oops! something went wrong. Please contact the program developer"], 0)
        m.poweroff()
    check.done()


def test_board_versions() -> None:
    check = Check("board versions")
    with Machine(make_disk(), name="fwver-board") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        r = run_navo(m, "-MBMEVER")
        check.output(r, BANNER + tool_read() + ["", "ME FW version on the board: 12.0.49.1534"], 0)
        check.true(not m.run("ls MeInfoTmp.txt", status=True).status == 0,
                   "MeInfoTmp.txt is deleted after a successful read")
        # No variable yet: the method fails and prints nothing of its own.
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, None)
        r = run_navo(m, "-MBMEVER -RB02")
        check.output(r, BANNER + ["Read Board ME FW version..."], 1)
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, meinfo_setup_bytes(12, 0, 64, 1551))
        r = run_navo(m, "-mbmever -rb02")
        check.output(r, BANNER + ["Read Board ME FW version...OK", "",
                                  "ME FW version on the board: 12.0.64.1551"], 0)
        # 9999 is out of range.
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, meinfo_setup_bytes(12, 0, 64, 9999))
        r = run_navo(m, "-MBMEVER -RB02")
        check.output(r, BANNER + ["Read Board ME FW version..."], 1)
        r = run_navo(m, "-MBMEVER -RB03")
        check.output(r, BANNER + tool_read() + ["", "ME FW version on the board: 12.0.49.1534"], 0)
        r = run_navo(m, "-MBTXEVER")
        check.output(r, BANNER + tool_read("TXE") + ["", "TXE FW version on the board: 3.1.50.2222"], 0)
        m.run_ok("cp -q M_NONE.out MeInfo.out")
        r = run_navo(m, "-MBMEVER")
        check.output(r, BANNER + ["Read Board ME FW version...Fail", "", F07], 1)
        # Without the tool: F03 before the shell is asked to run it (no clear, no complaint).
        m.run_ok("mv MeInfo.efi MeInfo.bak")
        r = run_navo(m, "-MBMEVER -RB03")
        check.output(r, BANNER + ["Read Board ME FW version...Fail", "",
                                  'Error F03: An error occurs when using "MeInfo.efi."'], 1)
        m.poweroff()
    check.done()


# The board line is rewritten in place, on the row below the pre-step's.
CHECK_START = BANNER + ["Check ME override Pin status...OK"]


def compared(board: str, file: str, advice: list[str], kind: str = "ME") -> list[str]:
    return [f"Read Board {kind} FW version...OK",
            f"Read File {kind} FW version...OK",
            "",
            f"{kind} FW version on the board: {board}",
            f"{kind} FW version in the File : {file}",
            ""] + advice


TXE_START = BANNER + ["Check TXE override Pin status...OK"]

UPDATE = ["There is a new version of ME firmware. It is recommended to update.",
          "Do you want to update BIOS and ME firmware (Y/N)?"]
DOWNGRADE = ["ME firmware is an old version. Downgrade is not recommended.",
             "Do you want to downgrade BIOS and ME firmware (Y/N)?"]


def test_check_command() -> None:
    check = Check("check command")
    with Machine(make_disk(), name="fwver-check") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        # Equal: no question, 69.
        r = run_navo(m, "-CHKMEVER -N 12.0.49.1534")
        check.output(r, CHECK_START + compared(
            "12.0.49.1534", "12.0.49.1534",
            ["Your current ME firmware is already latest version."]), 69)
        # Newer: other keys are ignored, then y.
        r = run_navo(m, "-CHKMEVER -N 12.0.70.1000", answers=[(QUESTION, b"x \rq\x1b[A0y")])
        check.output(r, CHECK_START + compared("12.0.49.1534", "12.0.70.1000", UPDATE), 64)
        r = run_navo(m, "-CHKMEVER -N 12.0.70.1000 -RB03", answers=[(QUESTION, "n")])
        check.output(r, CHECK_START + compared("12.0.49.1534", "12.0.70.1000", UPDATE), 69)
        # Older: Y and N.
        r = run_navo(m, "-chkmever -n 12.0.40.9999", answers=[(QUESTION, "Y")])
        check.output(r, CHECK_START + compared("12.0.49.1534", "12.0.40.9999", DOWNGRADE), 64)
        r = run_navo(m, "-CHKMEVER -N 11.9.99.9999", answers=[(QUESTION, "N")])
        check.output(r, CHECK_START + compared("12.0.49.1534", "11.9.99.9999", DOWNGRADE), 69)
        # A typed version that is not four numbers.
        r = run_navo(m, "-CHKMEVER -N 12.0.64")
        check.output(r, CHECK_START + ["Read Board ME FW version...OK", "Read File ME FW version...Fail",
                                       "", "Error F08: ME/TXE FW version contains non-digits."], 1)
        # From an image file: what stays on the screen is the documented example.
        example = [
            "Read Board ME FW version...OK",
            "Read File ME FW version...OK",
            "",
            "ME FW version on the board: 12.0.49.1534",
            "ME FW version in the File : 12.0.64.1551",
            "",
            "There is a new version of ME firmware. It is recommended to update.",
            "Do you want to update BIOS and ME firmware (Y/N)?",
        ]
        r = run_navo(m, "-CHKMEVER -F NEW.BIN", answers=[(QUESTION, "y")])
        check.output(r, CHECK_START + example, 64)
        check.lines(rows_below(m.screen_lines(), CHECK_START[-1], len(example)), example,
                    "screen left by -CHKMEVER -F NEW.BIN")
        r = run_navo(m, "-CHKMEVER -F SAME.BIN")
        check.output(r, CHECK_START + compared(
            "12.0.49.1534", "12.0.49.1534", ["Your current ME firmware is already latest version."]), 69)
        r = run_navo(m, "-CHKMEVER -F NOFTPR.BIN")
        check.output(r, CHECK_START + ["Read Board ME FW version...OK", "Read File ME FW version...Fail.",
                                       "", F07], 1)
        # -RB02 reads the variable and skips the pre-step.
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, meinfo_setup_bytes(12, 0, 64, 1551))
        r = run_navo(m, "-CHKMEVER -F NEW.BIN -RB02")
        check.output(r, BANNER + compared(
            "12.0.64.1551", "12.0.64.1551", ["Your current ME firmware is already latest version."]), 69)
        # TXE through TXEInfo.efi.
        r = run_navo(m, "-CHKTXEVER -N 3.1.60.0", answers=[(QUESTION, "y")])
        check.output(r, TXE_START + compared(
            "3.1.50.2222", "3.1.60.0",
            ["There is a new version of TXE firmware. It is recommended to update.",
             "Do you want to update BIOS and TXE firmware (Y/N)?"], "TXE"), 64)
        r = run_navo(m, "-CHKTXEVER -N 3.1.50.2222")
        check.output(r, TXE_START + compared(
            "3.1.50.2222", "3.1.50.2222", ["Your current TXE firmware is already latest version."],
            "TXE"), 69)
        m.poweroff()
    check.done()


def test_check_board_read_fails() -> None:
    """The progress line, with its notice and the tool's "Fail", is blanked and rewritten in place;
    the tool's error line below it stays."""
    check = Check("board read fails")
    disk = make_disk()
    disk.set_standin("MeInfo", output="Intel(R) MEInfo Version: 12.0.10.1127\nFW Version: n/a\n")
    with Machine(disk, name="fwver-fail") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        r = run_navo(m, "-CHKMEVER -N 12.0.64.1551")
        check.status(r, 1)
        # The blanks cover the notice and the method's "Fail" behind it; the method's empty line
        # and error line below stay, and the prompt comes below them.
        screen = [l.rstrip() for l in m.screen_lines()]
        below = rows_below(screen, CHECK_START[-1], 4)
        check.lines(below[:3], ["Read Board ME FW version...Fail", "", F07],
                    "rendered screen after the failed board read")
        check.true(below[3:] and below[3].startswith("FS0:\\>"), f"prompt below the error line: {below}")
        check.true(not any("Please wait" in l for l in screen), "the notice is overwritten")
        r = run_navo(m, "-CHKMEVER -N 12.0.64.1551 -RB02")
        check.output(r, BANNER + ["Read Board ME FW version...Fail"], 1)
        m.poweroff()
    check.done()


def test_shared_images() -> None:
    """-FILEMEVER on every image of the list that navo-image's host tests read (tests/shared): the
    board must find the version that the Linux tool finds, or none where it finds none."""
    check = Check("shared images")
    disk = DiskImage("fwimages")
    disk.add_efi("NAVO.efi")
    for recipe in fw_images.RECIPES:
        disk.add_file(recipe.name, recipe.build())
    with Machine(disk, name="fwver-shared") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        for recipe in fw_images.RECIPES:
            name = recipe.name
            if recipe.version is not None:
                want = ([f"Read {name} ME FW version...OK", "", f"{name} ME FW version : {recipe.version}"], 0)
            elif recipe.manifest is not None:
                want = ([f"Read {name} ME FW version...OK", "",
                         "Oops! something went wrong. Please contact the program developer"], 0)
            else:
                want = ([f"Read {name} ME FW version...Fail.", "", F07], 1)
            check.output(run_navo(m, f"-FILEMEVER {name}"), BANNER + want[0], want[1])
        m.poweroff()
    check.done()


TESTS = [test_file_versions, test_board_versions, test_check_command, test_check_board_read_fails,
         test_shared_images]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
