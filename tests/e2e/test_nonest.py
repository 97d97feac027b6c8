"""The utility in a UEFI Shell that does not nest, on the virtual board with the emulated EC.

OVMF's own shell starts ShellPkg's Shell.efi (build/efi/shell, from the same EDK II tree) with
`-nonest -nostartup -nomap -noversion` and a test script: every command line the utility hands to
the shell's Execute then runs in place, with nothing clearing the screen. The script runs the board
display, the check with equal versions, the check on a board in the override state, the board
display in a directory without the tool, and last the first run of -ECOVRAUTO from FS0:\\Müller, a
directory with a Latin-1 name. That run resets the machine; the firmware's (nesting) shell then
runs the generated startup.nsh, which must find its way back to FS0:\\Müller, and the final run ends
the sequence: three boots in all.

Each case has its own directory, so the stand-in tool's run logs (<key>.runs) count its runs per case.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from ec_device import EcLog, pin_writes, require_ec_qemu  # noqa: E402
from expected import BOARD_OK as BANNER, CLOSING, CONTINUE, NOTICE  # noqa: E402
from harness import GO_NSH, Check, DiskImage, E2EError, Machine  # noqa: E402

SHELL_EFI = harness.EFI_DIR / "shell" / "Shell.efi"
LATIN1_DIR = "M\u00fcller"
VERSION = "12.0.64.1551"
F11_HELD = "Error F11: It is already preparing override state."
F03_ME = 'Error F03: An error occurs when using "MeInfo.efi."'


def _root_script(directory_text: str) -> bytes:
    return ("@echo -off\r\nFS0:\r\ncd " + directory_text +
            "\r\nIf exist UpdatewithEC_Step1.set then\r\ngo me1\r\nendif\r\nNAVO.efi -ECOVRAUTO\r\n"
            ).encode("latin-1")


def _block(lines: list[str], head: list[str], count: int, after: int = 0) -> tuple[list[str], int]:
    """`count` lines from the first place at or after index `after` where `head`'s first two lines
    stand (a frame line alone would also match the frame that closes a box)."""
    for i in range(after, len(lines) - 1):
        if lines[i:i + 2] == head[:2]:
            return lines[i:i + count], i
    return [], len(lines)


def test_nonesting_shell() -> None:
    check = Check("non-nesting shell")
    if not SHELL_EFI.is_file():
        raise E2EError(f"missing {SHELL_EFI}: run `make shell` first")
    log = EcLog("nonest")
    disk = DiskImage("nonest")
    disk.add_file("Shell.efi", SHELL_EFI)
    disk.add_efi("NAVO.efi")
    for directory, fitver_status in (("SHOW", 0), ("CHECK", 0), ("HELD", 0xC601)):
        disk.add_standin("MeInfo", output=f"FW Version: {VERSION}\n", directory=directory)
        disk.set_standin("MeInfo", arg="fitver", output="FITC version\n", status=fitver_status,
                         directory=directory)
        disk.add_file(f"{directory}/MeInfo.runs", b"")
        disk.add_file(f"{directory}/MeInfo_fitver.runs", b"")
    disk.add_dir("NOTOOL")
    disk.add_efi("NAVO.efi", directory=LATIN1_DIR)
    disk.add_file(f"{LATIN1_DIR}/GO.nsh", GO_NSH)
    # UCS-2, so that the script can name the Latin-1 directory.
    disk.add_text_ucs2("NONEST.nsh", "\n".join([
        "@echo -off",
        "echo nonesting=%nonesting%",
        "fs0:",  # a shell started this way has no current directory yet
        "cd \\SHOW",
        "fs0:\\NAVO.efi -MBMEVER",
        "echo show status %lasterror%",
        "cd \\CHECK",
        f"fs0:\\NAVO.efi -CHKMEVER -N {VERSION}",
        "echo check status %lasterror%",
        "cd \\HELD",
        f"fs0:\\NAVO.efi -CHKMEVER -N {VERSION}",
        "echo held status %lasterror%",
        "cd \\NOTOOL",
        "fs0:\\NAVO.efi -MBMEVER",
        "echo notool status %lasterror%",
        f"cd \\{LATIN1_DIR}",
        "NAVO.efi -ECOVRAUTO",
        "echo the first run came back %lasterror%",
    ]) + "\n")

    with Machine(disk, name="nonest", qemu=require_ec_qemu(), extra_args=log.device(pin="off"),
                 startup="wait", timeout=600) as m:
        # Boot 1: the firmware's shell starts the non-nesting shell with the script.
        m.boot()
        m.write_legacy_signature()
        log.take()
        mark = m.mark()
        m.send_line("fs0:\\Shell.efi -nonest -nostartup -nomap -noversion fs0:\\NONEST.nsh")
        m.answer(CONTINUE, "y", timeout=180, since=mark)
        m.wait_boot(2, timeout=120)
        first = m.lines_since(mark)
        check.true("nonesting=True" in first, "the script runs in a shell that does not nest:\n" +
                   "\n".join(first))

        show, at = _block(first, BANNER, len(BANNER) + 4)
        check.lines(show, BANNER + ["Read Board ME FW version...OK", "",
                                    f"ME FW version on the board: {VERSION}", "show status 0x0"],
                    "-MBMEVER in place")
        checked, at = _block(first, BANNER, len(BANNER) + 9, at + 1)
        check.lines(checked, BANNER + ["Check ME override Pin status...OK",
                                       "Read Board ME FW version...OK",
                                       "Read File ME FW version...OK", "",
                                       f"ME FW version on the board: {VERSION}",
                                       f"ME FW version in the File : {VERSION}", "",
                                       "Your current ME firmware is already latest version.",
                                       "check status 0x45"],
                    "-CHKMEVER -N, equal versions, in place")
        held, at = _block(first, BANNER, len(BANNER) + 4, at + 1)
        check.lines(held, BANNER + ["Check ME override Pin status...Fail", "", F11_HELD, "held status 0x1"],
                    "-CHKMEVER on a board in the override state")
        # This shell reports a program it cannot find as a success: only the test beforehand
        # gives F03 rather than F04 for the missing output file.
        notool, at = _block(first, BANNER, len(BANNER) + 4, at + 1)
        check.lines(notool, BANNER + ["Read Board ME FW version...Fail", "", F03_ME, "notool status 0x1"],
                    "-MBMEVER without the tool")
        auto, at = _block(first, BANNER, len(BANNER) + len(NOTICE) + 5, at + 1)
        check.lines(auto, BANNER + NOTICE + ["Preparing Update files...OK", "- [ok]",
                                             "Adjust EC FW override Status...OK", "",
                                             "Restarting, please wait..."],
                    "-ECOVRAUTO first run: the script copied, then the pin and the reset")
        check.true(not any("the first run came back" in l for l in first), "the first run reset the machine")

        # What the first run left, read before the shell of boot 2 runs it.
        directory_text = "FS0:\\" + LATIN1_DIR
        check.bytes_equal(disk.read_file("startup.nsh"), _root_script(directory_text),
                          "root startup.nsh with the Latin-1 directory")
        check.true(not disk.exists(f"{LATIN1_DIR}/startup.nsh"), "local startup.nsh removed")
        check.true(disk.exists(f"{LATIN1_DIR}/UpdatewithEC_Step1.set"), "Step1 marker made")
        check.equal(pin_writes(log.take()), [0x80], "first run turns the pin on")

        # Boot 2: the firmware's shell runs the root script, back in FS0:\Müller.
        mark2 = m.mark()
        m.wait_text(r"<Enter any key to continue>", timeout=120, since=mark2)
        m.send("k")
        m.wait_boot(3)
        second = m.lines_since(mark2)
        check.true("GO.nsh me1 ran" in second, "the maker's script ran with me1:\n" + "\n".join(second))
        closing, _ = _block(second, CLOSING, len(CLOSING))
        check.lines(closing, CLOSING, "final run")
        check.equal(pin_writes(log.take()), [0x00], "final run turns the pin off")

        # Boot 3: idle.
        m.boot()
        check.equal(m.boots, 3, "boots")
        everything = m.transcript()
        check.true(not any("is not recognized" in l for l in everything),
                   "no command line taken for an unknown command")
        m.poweroff()

    for directory, show_runs, fitver_runs in (("SHOW", 1, 0), ("CHECK", 1, 1), ("HELD", 0, 1)):
        check.equal(len(disk.read_file(f"{directory}/MeInfo.runs")), show_runs, f"tool runs in {directory}")
        check.equal(len(disk.read_file(f"{directory}/MeInfo_fitver.runs")), fitver_runs,
                    f"-fitver runs in {directory}")
        check.true(not disk.exists(f"{directory}/MeInfoTmp.txt") and not disk.exists(f"{directory}/tmp"),
                   f"no scratch files left in {directory}")
    check.true(not disk.exists("startup.nsh"), "root script removed")
    check.equal(sorted(n.lower() for n in disk.list_dir(LATIN1_DIR)), ["go.nsh", "golog.txt", "navo.efi"],
                "the Latin-1 directory at the end")
    check.equal(disk.read_text_ucs2(f"{LATIN1_DIR}/golog.txt").split(), ["me1"], "GO.nsh ran once, there")
    check.equal(pin_writes(log.all()), [0x80, 0x00], "pin writes of the whole sequence")
    check.done()


TESTS = [test_nonesting_shell]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
