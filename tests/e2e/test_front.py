"""The utility's front end in the real UEFI Shell: immediate switches, faulty command lines, the board
signature search in the legacy BIOS area, the check commands' pre-step with a stand-in MeInfo.efi, and
the cold reset. The utility runs from a working directory below the root throughout.

The pre-step runs "MeInfo.efi -fitver >> tmp" through a nested shell, whose clear at its start the
utility keeps off the screen: the outcome completes the progress line on the screen.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from expected import BANNER, USAGE, VERSION  # noqa: E402
from harness import Check, DiskImage, Machine  # noqa: E402

F01 = BANNER + USAGE + ["", "Error F01: Parameters is wrong."]
F02 = BANNER + ["Check ZAN Board...Fail", "", "Error F02: Only supports products of ZAN Corp."]
BOARD_OK = BANNER + ["Check ZAN Board...OK"]
F11 = ["", "Error F11: It is already preparing override state."]

# Every command that needs the board signature.
COMMANDS = [
    "-CHKMEVER -N 12.0.64.1551",
    "-CHKMEVER -F IMAGE.BIN -RB02",
    "-CHKTXEVER -F IMAGE.BIN",
    "-MBMEVER",
    "-MBTXEVER",
    "-ECOVRPIN -ON",
    "-ECOVRAUTO",
    "-FILEMEVER IMAGE.BIN",
    "-FILETXEVER IMAGE.BIN",
]

WORK = "TOOLS\\UPDATE"


def make_disk(name: str) -> DiskImage:
    disk = DiskImage(name)
    disk.add_efi("NAVO.efi", directory="TOOLS/UPDATE")
    disk.add_file("TOOLS/UPDATE/IMAGE.BIN", b"\xff" * 4096)
    disk.add_file("TOOLS/UPDATE/ERROR.TXT", "stand-in error log\n")
    # The pre-step's query; its status is switched by copying one of these over MeInfo_fitver.sts.
    disk.add_standin("MeInfo", output="Intel(R) MEInfo\nFW Version: 12.0.49.1534\n", status=0,
                     directory="TOOLS/UPDATE")
    disk.set_standin("MeInfo", arg="fitver", output="FITC Version: 12.0.64.1551\n", status=0xC601,
                     directory="TOOLS/UPDATE")
    disk.add_file("TOOLS/UPDATE/C601.sts", "C601")
    disk.add_file("TOOLS/UPDATE/ZERO.sts", "0")
    disk.add_file("TOOLS/UPDATE/C602.sts", "C602")
    return disk


def navo(m: Machine, args: str = "", **kw):
    return m.run(f"NAVO.efi {args}".rstrip(), **kw)


def present(m: Machine, name: str) -> bool:
    return m.run(f"ls {name}").status == 0


def test_switches_and_faulty_command_lines() -> None:
    """No signature anywhere: only the immediate switches and F01 come before the board check."""
    check = Check("switches and faulty command lines")
    with Machine(make_disk("front-switches"), name="front-switches") as m:
        m.boot()
        m.cd(f"fs0:\\{WORK}")
        check.output(navo(m), F01, 1)
        for args in ["-ver", "-VER", "-vEr", "-MBMEVER -VER", "-CHKMEVER -F IMAGE.BIN -RB01 -ver"]:
            check.output(navo(m, args), VERSION, 0)
        for args in ["-H", "-h", "-ECOVRPIN -OFF -H"]:
            check.output(navo(m, args), BANNER + USAGE, 0)
        for args in ["bogus -VER", "-ECOVRPIN -ON -OFF", "-ECOVRPIN -H", "-CHKMEVER -N", "-CHKMEVER 1.2.3.4",
                     "-CHKMEVER -F IMAGE.BIN -RB01 -RB01", "-CHKTXEVER -F IMAGE.BIN -RB01", "-RB01 -MBMEVER",
                     "-MBTXEVER -CHKTXEVER", "-MBMEVER -ECOVRAUTO", "-FILEMEVER", "-FILEMEVER A.BIN B.BIN",
                     "-MBTXEVER -RB01 -VER"]:
            check.output(navo(m, args), F01, 1)
        # Accepted command lines on a board without the signature: F02 and nothing of the command.
        for args in COMMANDS + ["-MBMEVER -CHKTXEVER", "-FILEMEVER -N", "-mbmever -rb03 junk"]:
            check.output(navo(m, args), F02, 1)
        check.true(not present(m, "tmp"), "no pre-step ran")
        check.true(not present(m, "fs0:\\startup.nsh"), "no automatic update step ran")

        # The reset: the machine boots again and the utility printed nothing before it.
        start = m.send_line("NAVO.efi -COLDRST")
        m.wait_boot(2)
        raw = bytes(m.raw())
        boot = raw.find(b"BdsDxe", start)
        shown = re.sub(rb"\x1b\[[0-9;?=]*[A-Za-z]", b"", raw[start:boot])
        check.equal(shown.strip(), b"", "output of NAVO.efi -COLDRST before the reset")
        m.boot()
        m.poweroff()
    check.done()


def test_board_signatures() -> None:
    """Either signature anywhere in 0xF0000..0xFFFFF, its last byte at 0xFFFFF included; a signature cut
    off by the end of the area does not count."""
    check = Check("board signatures")
    with Machine(make_disk("front-signatures"), name="front-signatures") as m:
        m.boot()
        m.cd(f"fs0:\\{WORK}")
        m.write_legacy_signature(b"$$ZAN", 0xFFFFB)
        check.output(navo(m, "-CHKMEVER -N 12.0.64.1551"), F02, 1)
        m.write_legacy_signature(b"$$VEK-", 0xFFFFA)
        check.output(navo(m, "-CHKMEVER -N 12.0.64.1551"),
                     BOARD_OK + ["Check ME override Pin status...Fail"] + F11, 1)
        m.write_legacy_signature(b"\x00" * 6, 0xFFFFA)
        check.output(navo(m, "-chkmever -n 12.0.64.1551"), F02, 1)
        m.write_legacy_signature(b"$$ZAN-", 0xF0000)
        check.output(navo(m, "-CHKMEVER -N 12.0.64.1551"),
                     BOARD_OK + ["Check ME override Pin status...Fail"] + F11, 1)
        m.write_legacy_signature(b"$$VEK-", 0xF8001)
        check.output(navo(m, "-CHKMEVER -N 12.0.64.1551"),
                     BOARD_OK + ["Check ME override Pin status...Fail"] + F11, 1)
        m.write_legacy_signature(b"$$VEk-", 0xF8001)
        check.output(navo(m, "-CHKMEVER -N 12.0.64.1551"), F02, 1)
        m.poweroff()
    check.done()


def test_pre_step() -> None:
    """The override-state test before the check commands, in a directory below the root."""
    check = Check("pre-step")
    with Machine(make_disk("front-prestep"), name="front-prestep") as m:
        m.boot()
        m.write_legacy_signature(b"$$ZAN-", 0xF1234)
        m.cd(f"fs0:\\{WORK}")
        # 0xC601: F11; the query's output file and the tool's error log are removed.
        m.run_ok("cp -q ERROR.TXT error.log")
        r = navo(m, "-CHKMEVER -N 12.0.64.1551")
        check.output(r, BOARD_OK + ["Check ME override Pin status...Fail"] + F11, 1)
        check.true(not present(m, "tmp"), "no tmp after F11")
        check.true(not present(m, "error.log"), "no error.log after F11")
        # TXE checks go through the same query.
        m.run_ok("cp -q ERROR.TXT error.log")
        m.run_ok("cp -q MeInfo.efi TXEInfo.efi")
        check.output(navo(m, "-CHKTXEVER -F IMAGE.BIN"),
                     BOARD_OK + ["Check TXE override Pin status...Fail"] + F11, 1)
        check.true(not present(m, "error.log"), "no error.log after F11 (TXE)")
        m.run_ok("rm TXEInfo.efi")
        # The TXE tool missing.
        check.output(navo(m, "-CHKTXEVER -N 3.1.50.2222"),
                     BOARD_OK + ["Check TXE override Pin status...Fail", "",
                                 'Error F03: An error occurs when using "TXEInfo.efi."'], 1)
        # -RB01 and -RB02 skip the pre-step even in the override state.
        for args in ["-CHKMEVER -N 12.0.64.1551 -RB02", "-CHKMEVER -F IMAGE.BIN -RB01"]:
            r = navo(m, args)
            check.lines(r.lines[:4], BOARD_OK, f"start of {args}")
            check.true(not any("override Pin status" in l or "F11" in l for l in r.lines),
                       f"no pre-step for {args}: {r}")
        # Any other status lets the check command go on; error.log stays.
        m.run_ok("cp -q ERROR.TXT error.log")
        for sts in ["ZERO.sts", "C602.sts"]:
            m.run_ok(f"cp -q {sts} MeInfo_fitver.sts")
            r = navo(m, "-CHKMEVER -N 12.0.49.1534 -RB03")
            check.lines(r.lines[:5], BOARD_OK + ["Check ME override Pin status...OK"],
                        f"pre-step with {sts}")
            check.true(not present(m, "tmp"), f"no tmp after the pre-step with {sts}")
        check.true(present(m, "error.log"), "error.log stays when the pre-step passes")
        # Without the tool in the working directory (it is one level up now).
        m.cd("fs0:\\TOOLS")
        r = m.run("UPDATE\\NAVO.efi -CHKMEVER -N 12.0.64.1551")
        check.output(r, BOARD_OK + ["Check ME override Pin status...Fail", "",
                                    'Error F03: An error occurs when using "MeInfo.efi."'], 1)
        check.true(not present(m, "tmp"), "the query did not run")
        m.poweroff()
    check.done()


TESTS = [test_switches_and_faulty_command_lines, test_board_signatures, test_pre_step]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
