"""The HECI read method (-RB01) in the real UEFI Shell, against the simulated ME driver
(tests/uefi/SimMe, loaded with the shell's `load`).

The disk carries no MeInfo.efi: had the check command's pre-step run, it would have failed with F03,
so a clean run shows that -RB01 skips it. The driver reports 12.0.64.1551 unless the variable
SimMeVersion (four little-endian 16-bit fields, optionally a result byte) says otherwise, which lets
a test show that the version printed is the one the ME sent.
"""

from __future__ import annotations

import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from expected import BOARD_OK as BANNER  # noqa: E402
from harness import Check, DiskImage, Machine  # noqa: E402

SIM_ME_GUID = "A3F0C2D4-5B6E-4F71-8C9D-0E1F2A3B4C5D"
QUESTION = r"\(Y/N\)\?"
SIM_ME = "test/SimMe.efi"


def sim_me_version(major: int, minor: int, hotfix: int, build: int, result=None) -> bytes:
    data = struct.pack("<4H", major, minor, hotfix, build)
    return data if result is None else data + bytes([result])


def board(version: str) -> list[str]:
    return BANNER + ["Read Board ME FW version...OK", "", f"ME FW version on the board: {version}"]


def compared(board_version: str, typed: str, advice: list[str]) -> list[str]:
    return BANNER + ["Read Board ME FW version...OK",
                     "Read File ME FW version...OK",
                     "",
                     f"ME FW version on the board: {board_version}",
                     f"ME FW version in the File : {typed}",
                     ""] + advice


def make_disk() -> DiskImage:
    disk = DiskImage("heci")
    disk.add_efi("NAVO.efi")
    disk.add_efi(SIM_ME, as_name="SimMe.efi")
    return disk


def test_heci_read_method() -> None:
    check = Check("HECI read method")
    with Machine(make_disk(), name="heci") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")

        # No HECI protocol yet: the read fails and the HECI layer prints nothing of its own.
        r = m.run("NAVO.efi -MBMEVER -RB01")
        check.output(r, BANNER + ["Read Board ME FW version..."], 1)
        r = m.run("NAVO.efi -CHKMEVER -N 12.0.64.1551 -RB01")
        check.output(r, BANNER + ["Read Board ME FW version...Fail"], 1)

        m.load_driver("SimMe.efi")

        r = m.run("NAVO.efi -MBMEVER -RB01")
        check.output(r, board("12.0.64.1551"), 0)
        r = m.run("NAVO.efi -CHKMEVER -N 12.0.64.1551 -RB01")
        check.output(r, compared("12.0.64.1551", "12.0.64.1551",
                                 ["Your current ME firmware is already latest version."]), 69)
        r = m.run("NAVO.efi -chkmever -n 12.0.70.1000 -rb01", answers=[(QUESTION, "y")])
        check.output(r, compared("12.0.64.1551", "12.0.70.1000", [
            "There is a new version of ME firmware. It is recommended to update.",
            "Do you want to update BIOS and ME firmware (Y/N)?"]), 64)

        # The version shown is the one the ME sends.
        m.setvar("SimMeVersion", SIM_ME_GUID, sim_me_version(12, 0, 49, 1534))
        r = m.run("NAVO.efi -MBMEVER -RB01")
        check.output(r, board("12.0.49.1534"), 0)
        r = m.run("NAVO.efi -CHKMEVER -N 12.0.40.9999 -RB01", answers=[(QUESTION, "n")])
        check.output(r, compared("12.0.49.1534", "12.0.40.9999", [
            "ME firmware is an old version. Downgrade is not recommended.",
            "Do you want to downgrade BIOS and ME firmware (Y/N)?"]), 69)

        # The ME refuses the request (result 0x81): a failed read, nothing printed by the HECI layer.
        m.setvar("SimMeVersion", SIM_ME_GUID, sim_me_version(12, 0, 49, 1534, result=0x81))
        r = m.run("NAVO.efi -MBMEVER -RB01")
        check.output(r, BANNER + ["Read Board ME FW version..."], 1)

        for res in m.commands:
            check.true(not any("Please wait" in l for l in res.lines),
                       f"no slow-read notice with -RB01: {res.command!r}")
        check.true(not any("Error F03" in l for res in m.commands for l in res.lines),
                   "no pre-step ran (it would need MeInfo.efi)")
        m.poweroff()
    check.done()
