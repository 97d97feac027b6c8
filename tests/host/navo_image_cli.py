#!/usr/bin/python3
"""navo-image on real files: every image of the shared list (the same list that the end-to-end
suite runs NAVO.efi -FILEMEVER on), the sample image against its golden output, the exit statuses,
--expect and --board, version texts the board's parser refuses, unreadable files, and names that
are not UTF-8. Usage: navo_image_cli.py PATH-TO-navo-image PATH-TO-chksum"""

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

TOOL, CHKSUM = (os.path.abspath(p) for p in sys.argv[1:3])
F08 = "Fail\n\nError F08: ME/TXE FW version contains non-digits.\n"
failures: list[str] = []


def run(*args, cwd):
    p = subprocess.run([TOOL, *args], cwd=cwd, capture_output=True)
    return p.returncode, p.stdout, p.stderr


def check(what: str, got, want) -> None:
    if got != want:
        failures.append(f"{what}:\n  got  {got!r}\n  want {want!r}")


def shared_images(d: Path) -> None:
    for r in fw_images.RECIPES:
        data = r.build()
        (d / r.name).write_bytes(data)
        total = fw_images.byte_sum(data)
        status, out, _ = run("--json", r.name, cwd=d)
        report = json.loads(out)
        check(f"{r.name} ({r.what}) JSON", report, {
            "file": r.name, "size": len(data), "sum32": f"0x{total:08X}", "sum16": f"{total & 0xFFFF:04X}",
            "manifest": r.manifest, "version": r.version})
        check(f"{r.name} status", status, 0 if r.version else 1)
        status, out, _ = run(r.name, cwd=d)
        line = [l for l in out.decode().splitlines() if l.startswith("FW version")]
        want = r.version or ("no FTPR manifest" if r.manifest is None
                             else f"none (the FTPR manifest gives {r.manifest})")
        check(f"{r.name} text", line, [f"FW version           : {want}"])
        # The checksum lines are the Linux checksum tool's report, byte for byte.
        chk = subprocess.run([CHKSUM, r.name], cwd=d, capture_output=True).stdout
        check(f"{r.name} CHKSUM lines", b"".join(out.splitlines(keepends=True)[:5]), chk)


def sample_golden(d: Path) -> None:
    args = ["--expect", "12.0.64.1551", "--board", "12.0.49.1534", fw_images.SAMPLE_NAME]
    for form, extra in (("txt", []), ("json", ["--json"])):
        status, out, err = run(*extra, *args, cwd=d)
        check(f"sample image, {form}", out, (HERE / "golden" / f"navo_image_sample.{form}").read_bytes())
        check(f"sample image, {form} status", (status, err), (64, b""))


def statuses(d: Path) -> None:
    (d / "folder").mkdir()
    sample, none = fw_images.SAMPLE_NAME, "NOFTPR.BIN"
    cases = [
        # (what, args, status, stdout must contain, stderr)
        ("expect matches", ["--expect", "12.0.64.1551", sample], 0, "12.0.64.1551, matches", ""),
        ("expect with leading zeros", ["--expect", "012.00.0064.1551", sample], 0, ", matches", ""),
        ("expect differs", ["--expect", "12.0.64.1552", sample], 1, "12.0.64.1552, differs", ""),
        ("expect, one file without version", ["--expect", "12.0.64.1551", sample, none], 1, "differs", ""),
        ("no version", [none], 1, "no FTPR manifest", ""),
        ("two good files", [sample, "OTHERS.BIN"], 0, "", ""),
        ("board older: update", ["--board", "12.0.49.1534", sample], 64,
         "Decision             : update\nThere is a new version of ME firmware. It is recommended to update.\n", ""),
        ("board newer, HotFix decides: downgrade", ["--board", "12.0.70.1000", sample], 64,
         "Decision             : downgrade\nME firmware is an old version. Downgrade is not recommended.\n", ""),
        ("board, Minor decides over Build", ["--board", "12.1.0.0", sample], 64, ": downgrade", ""),
        ("board equal", ["--board", "12.0.64.1551", sample], 69,
         "Decision             : same version\nYour current ME firmware is already latest version.\n", ""),
        ("board, two files", ["--board", "12.0.64.1551", sample, "OTHERS.BIN"], 0, "same version", ""),
        ("board, file without version", ["--board", "12.0.64.1551", none], 1,
         "Decision             : none, the image has no version", ""),
        ("board equal, expect differs", ["--board", "12.0.64.1551", "--expect", "1.2.3.4", sample], 1, "", ""),
        ("malformed expect", ["--expect", "12.0.64", sample], 2, None,
         F08 + "navo-image: --expect 12.0.64 is not a version\nTry 'navo-image --help'.\n"),
        ("malformed board", ["--board", "12.0.64.1551x", sample], 2, None,
         F08 + "navo-image: --board 12.0.64.1551x is not a version\nTry 'navo-image --help'.\n"),
        ("five-digit field", ["--board", "12.0.64.15510", sample], 2, None,
         F08 + "navo-image: --board 12.0.64.15510 is not a version\nTry 'navo-image --help'.\n"),
        ("Major 0", ["--board", "0.1.2.3", sample], 2, None,
         "navo-image: --board 0.1.2.3: a Major of 0 is no version\nTry 'navo-image --help'.\n"),
        ("version missing", [sample, "--expect"], 2, None,
         "navo-image: missing VERSION after --expect\nTry 'navo-image --help'.\n"),
        ("unknown option", ["--jsn", sample], 2, None,
         "navo-image: unknown option --jsn\nTry 'navo-image --help'.\n"),
        ("no file", ["--json"], 2, None, "navo-image: no FILE given\nTry 'navo-image --help'.\n"),
        ("missing file", [sample, "missing.bin"], 2, "Q420TM07.BIN",
         "navo-image: missing.bin: cannot open: No such file or directory\n"),
        ("directory", ["folder"], 2, None, "navo-image: folder: is a directory\n"),
        ("directory, JSON", ["--json", "folder"], 2, '{"file": "folder", "error": "is a directory"}\n',
         "navo-image: folder: is a directory\n"),
        ("a name that starts with a dash, after --", ["--", "-x"], 2, None,
         "navo-image: -x: cannot open: No such file or directory\n"),
    ]
    for what, args, want_status, want_out, want_err in cases:
        status, out, err = run(*args, cwd=d)
        check(f"{what}: status", status, want_status)
        check(f"{what}: stderr", err.decode(), want_err)
        if want_out is None:
            check(f"{what}: stdout", out, b"")
        elif want_out not in out.decode():
            failures.append(f"{what}: {want_out!r} not in stdout:\n{out.decode()}")

    status, out, _ = run("--help", cwd=d)
    check("--help status", status, 0)
    for key in ("file", "size", "sum32", "sum16", "manifest", "version", "expect", "board", "decision",
                "advice", "error"):
        if f"\n  {key} " not in out.decode():
            failures.append(f"--help does not document the JSON key {key}")


def latin1_name(d: Path) -> None:
    name = b"M\xfcller.bin"  # Latin-1, not UTF-8
    data = fw_images.sample_bios_image((12, 0, 1, 2), size=0x40000)
    with open(os.path.join(os.fsencode(d), name), "wb") as f:
        f.write(data)
    status, out, _ = run(name, cwd=d)
    check("Latin-1 name, navo-image", (status, out.splitlines()[1], out.splitlines()[5]),
          (0, b"File name            : " + name, b"FW version           : 12.0.1.2"))
    status, out, _ = run("--json", name, cwd=d)
    report = json.loads(out)
    check("Latin-1 name, JSON", (report["file"], os.fsencode(report["file"])), ("M\udcfcller.bin", name))


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        d = Path(tmp)
        shared_images(d)
        sample_golden(d)
        statuses(d)
        latin1_name(d)
    for f in failures:
        print("FAIL", f)
    if not failures:
        print("navo_image_cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
