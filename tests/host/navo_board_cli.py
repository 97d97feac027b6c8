#!/usr/bin/python3
"""navo-board without an ME: the statuses and causes a station script sees when there is no
/dev/mei0, usage errors, and --image files that cannot give a version (read before the ME is
asked); a service-history record that cannot be written. The runs against the real MEI driver,
and the records they leave, are the Linux guest's.
Usage: navo_board_cli.py PATH-TO-navo-board"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "shared"))

import fw_images  # noqa: E402

TOOL = os.path.abspath(sys.argv[1])
NO_DEVICE = "navo-board: no /dev/mei0 (no driver, or no ME)\n"
TRY = "Try 'navo-board --help'.\n"
failures: list[str] = []


def run(*args, cwd):
    p = subprocess.run([TOOL, *args], cwd=cwd, capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def check(what: str, got, want) -> None:
    if got != want:
        failures.append(f"{what}:\n  got  {got!r}\n  want {want!r}")


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        d = Path(tmp)
        (d / fw_images.SAMPLE_NAME).write_bytes(fw_images.sample_bios_image())
        (d / "EMPTY.BIN").write_bytes(b"")
        cases = [
            (["--image", "MISSING.BIN"], 2, "", "navo-board: MISSING.BIN: cannot open: No such file or directory\n"),
            (["--image", "EMPTY.BIN"], 1, "", "navo-board: EMPTY.BIN: no ME FW version in the image\n"),
            (["--target", "12.0.x.1"], 2, "",
             "navo-board: --target 12.0.x.1: Error F08: ME/TXE FW version contains non-digits.\n"),
            (["--expect=0.1.2.3"], 2, "", "navo-board: --expect 0.1.2.3: a Major of 0 is no version\n" + TRY),
            (["--image", "A", "--target", "1.2.3.4"], 2, "", "navo-board: --image and --target exclude each other\n" + TRY),
            (["--expect", "1.2.3.4", "--expect", "1.2.3.4"], 2, "", "navo-board: given twice: --expect\n" + TRY),
            (["--target"], 2, "", "navo-board: missing VERSION after --target\n" + TRY),
            (["--board", "1.2.3.4"], 2, "", "navo-board: unknown option --board\n" + TRY),
            (["BIOS.BIN"], 2, "", "navo-board: unexpected argument BIOS.BIN\n" + TRY),
            (["--json", "--", "--image", "A"], 2, "", "navo-board: unexpected argument --image\n" + TRY),
            (["--event", "after"], 2, "", "navo-board: --event without --record\n" + TRY),
            (["--record", "H", "--event=flash"], 2, "", "navo-board: --event flash: before or after\n" + TRY),
            (["--record"], 2, "", "navo-board: missing FILE after --record\n" + TRY),
            (["--image", "NEW\nLINE.BIN"], 2, "",
             "navo-board: 'NEW'$'\\n''LINE.BIN': cannot open: No such file or directory\n"),
        ]
        if not os.path.exists("/dev/mei0"):
            cases += [
                ([], 1, "", NO_DEVICE),
                (["--expect", "12.0.64.1551", "--image", fw_images.SAMPLE_NAME], 1, "", NO_DEVICE),
                (["--json", "--target", "12.0.64.1551", "--"], 1,
                 json.dumps({"version": None, "error": NO_DEVICE[12:-1], "fwu_status": None}) + "\n", NO_DEVICE),
            ]
            # A record that cannot be written is a failure of its own, after the reading's.
            check("--record into a folder", run("--record", ".", cwd=d),
                  (4, "", NO_DEVICE + "navo-board: .: cannot write the record: Is a directory\n"))
            check("--record with a field too long", run("--image", "x" * 2100, "--record", "history.txt", cwd=d),
                  (4, "", f"navo-board: {'x' * 2100}: cannot open: File name too long\n"
                   "navo-board: history.txt: no record written: its fields would make a line of more than "
                   "2048 bytes\n"))
        else:
            print("navo_board_cli: /dev/mei0 is there; the no-device cases are left out")
        for args, status, out, err in cases:
            check(f"navo-board {' '.join(args)}", run(*args, cwd=d), (status, out, err))
        status, out, _ = run("--help", cwd=d)
        check("--help status", status, 0)
        for line in ("  0   version read", "  1   no version", "  2   usage errors", "  3   version read, but not",
                     "  4   with --record", "  64  with --image", "  69  with --image"):
            if line not in out:
                failures.append(f"--help does not document {line.strip()!r}")
        version = subprocess.run([HERE.parent.parent / "tools" / "utility-version.sh", "--build"],
                                 capture_output=True, text=True).stdout
        check("--version", run("--version", cwd=d), (0, f"navo-board {version}", ""))
    for f in failures:
        print("FAIL", f)
    if not failures:
        print("navo_board_cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
