#!/usr/bin/python3
"""navo-history on history files written here by a writer of its own (Python's CRC-32): the table,
--json and --csv of the same records, a folder, lines that are not whole records (each named on
standard error, reading going on), a record cut at a few points as a power cut leaves it, usage
errors, output that cannot be written, and the README's example.
Usage: navo_history_cli.py PATH-TO-navo-history"""

from __future__ import annotations

import csv
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

TOOL = os.path.abspath(sys.argv[1])
KEYS = ["time", "source", "vendor", "product", "serial", "uuid", "bios", "kind", "board", "image",
        "image_version", "size", "sum32", "sum16", "decision", "status"]
IMAGE_KEYS = {"image", "image_version", "size", "sum32", "sum16", "decision"}
TRY = "Try 'navo-history --help'.\n"
CUT_AT_END = "cut record (the file ends inside it: a power cut while it was written?)"
failures: list[str] = []


def signed(body: bytes) -> bytes:
    return body + b" crc=%08X\r\n" % zlib.crc32(body)


def record(event: str, **fields: bytes) -> bytes:
    body = b"NAVOREC 1 event=" + event.encode()
    for k in KEYS:
        if event == "flash" and k in IMAGE_KEYS:
            continue
        value = fields.get(k, b"")
        body += f" {k}=".encode() + b"".join(bytes([b]) if 0x21 <= b <= 0x7E and b != 0x25 else b"%%%02X" % b
                                              for b in value)
    return signed(body)


BEFORE = dict(time=b"2026-12-10T14:27:16Z", source=b"stick", vendor=b"Maker GmbH", product=b"Q420TM07",
              serial=b"SN0001", uuid=b"4c4c4544-0042-3510-8052-b4c04f384d32", bios=b"R1.02", kind=b"ME",
              board=b"12.0.49.1534", image=b"Q420TM07.BIN", image_version=b"12.0.64.1551", size=b"0x400000",
              sum32=b"0x3FBFAB92", sum16=b"AB92", decision=b"update", status=b"64")
FLASH = dict(time=b"2026-12-10T14:28:02Z", source=b"stick", product=b"Q420TM07", serial=b"SN0001", kind=b"ME",
             board=b"12.0.49.1534", status=b"0")
# A long product, a serial with a terminal's escape and a byte that is not UTF-8, a name with a comma.
AFTER = dict(BEFORE, time=b"2026-12-10T14:31:40Z", product=b"Q420TM07 with a long, long name",
             serial=b"SN\x1b[2J\xff", board=b"12.0.64.1551", image=b'Q"4,20.BIN', decision=b"same", status=b"69")
RECORDS = [("before", BEFORE), ("flash", FLASH), ("after", AFTER)]
HISTORY = b"".join(record(e, **f) for e, f in RECORDS)
TABLE = (
    "TIME                 EVENT  SOURCE  SERIAL         PRODUCT        KIND BOARD        IMAGE          "
    "IMAGE VERSION DECISION  STATUS\n"
    "2026-12-10T14:27:16Z before stick   SN0001         Q420TM07       ME   12.0.49.1534 Q420TM07.BIN   "
    "12.0.64.1551  update    64\n"
    "2026-12-10T14:28:02Z flash  stick   SN0001         Q420TM07       ME   12.0.49.1534 -              "
    "-             -         0\n"
    "2026-12-10T14:31:40Z after  stick   SN%1B[2J%FF    Q420TM07 with~ ME   12.0.64.1551 Q\"4,20.BIN     "
    "12.0.64.1551  same      69\n")


def run(*args, cwd, stdin=None, stdout=subprocess.PIPE):
    p = subprocess.run([TOOL, *args], cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
    return p.returncode, p.stdout, p.stderr.decode()


def check(what: str, got, want) -> None:
    if got != want:
        failures.append(f"{what}:\n  got  {got!r}\n  want {want!r}")


def expected_json(file: str, line: int, event: str, fields: dict) -> dict:
    row = {"file": file, "line": line, "event": event}
    for k in KEYS:
        value = fields.get(k, b"")
        row[k] = None if event == "flash" and k in IMAGE_KEYS else value.decode(errors="replace")
        if row[k] is not None and value.decode(errors="replace").encode() != value:
            row[k + "_hex"] = value.hex()
    return row


def forms(d: Path) -> None:
    (d / "HISTORY.TXT").write_bytes(HISTORY)
    check("table", run("HISTORY.TXT", cwd=d), (0, TABLE.encode(), ""))
    status, out, err = run("--json", "HISTORY.TXT", cwd=d)
    check("--json", (status, [json.loads(l) for l in out.decode().splitlines()], err),
          (0, [expected_json("HISTORY.TXT", n, e, f) for n, (e, f) in enumerate(RECORDS, 1)], ""))
    status, out, err = run("--csv", "-", cwd=d, stdin=open(d / "HISTORY.TXT", "rb"))
    rows = list(csv.reader(io.StringIO(out.decode("utf-8", "surrogateescape"), newline="")))
    want = [["file", "line", "event", *KEYS]] + [
        ["-", str(n), e, *(f.get(k, b"").decode("utf-8", "surrogateescape") for k in KEYS)]
        for n, (e, f) in enumerate(RECORDS, 1)]
    check("--csv of standard input", (status, rows, out.count(b"\r\n"), err), (0, want, 4, ""))


def folder_and_bad_lines(d: Path) -> None:
    """A folder's files in name order, its subfolder left alone; every line that is not whole named,
    the records around it still printed."""
    f = d / "sticks"
    (f / "older").mkdir(parents=True)
    (f / "older" / "A.TXT").write_bytes(HISTORY)
    (f / "B.TXT").write_bytes(record("flash", **FLASH))
    bad_crc = bytearray(record("flash", **FLASH))
    bad_crc[30] ^= 1
    newer = b"NAVOREC 2 event=flash crc=00000000\r\n"
    (f / "A.TXT").write_bytes(b"hello\r\n" + bytes(bad_crc) + record("before", **BEFORE) + newer +
                              record("flash", **FLASH)[:40] + b"\r\n" + signed(b"NAVOREC 1 event=flash"))
    status, out, err = run("--json", "sticks/", cwd=d)
    check("folder: rows", (status, [(r["file"], r["line"], r["event"]) for r in map(json.loads, out.splitlines())]),
          (1, [("sticks/A.TXT", 3, "before"), ("sticks/B.TXT", 1, "flash")]))
    check("folder: what is wrong", err,
          "navo-history: sticks/A.TXT:1: not a record (it does not begin with \"NAVOREC \")\n"
          "navo-history: sticks/A.TXT:2: damaged record (its CRC does not match)\n"
          "navo-history: sticks/A.TXT:4: record of a newer format (version 2; navo-history reads version 1)\n"
          "navo-history: sticks/A.TXT:5: cut record (its end is missing: a power cut while it was written?)\n"
          "navo-history: sticks/A.TXT:6: malformed record (a key missing: time)\n")


def cuts(d: Path) -> None:
    """A power cut at a few bytes of the last record: the earlier records, and the cut one named."""
    last = record("after", **AFTER)
    earlier = HISTORY[:len(HISTORY) - len(last)]
    for cut in (1, 9, len(last) // 2, len(last) - 3, len(last) - 1):
        (d / "CUT.TXT").write_bytes(earlier + last[:cut])
        status, out, err = run("CUT.TXT", cwd=d)
        check(f"cut after {cut} bytes", (status, out.decode(), err),
              (1, "".join(TABLE.splitlines(keepends=True)[:3]), f"navo-history: CUT.TXT:3: {CUT_AT_END}\n"))


def readme(d: Path) -> None:
    """The README's record line is whole, and its table is what the tool prints."""
    text = (Path(__file__).resolve().parents[2] / "README.md").read_text()
    section = text[text.index("## The service history"):]
    line = re.search(r"^    (NAVOREC 1 .*)$", section, re.M).group(1)
    (d / "README.TXT").write_bytes(line.encode() + b"\r\n" + record("before", **BEFORE) + record("flash", **FLASH))
    status, out, err = run("README.TXT", cwd=d)
    rows = out.decode().splitlines(keepends=True)
    table = re.search(r"```\n(TIME .*?)```", section, re.S).group(1)
    check("README", (status, rows[0] + "".join(rows[2:]), err), (0, table, ""))


def usage(d: Path) -> None:
    cases = [  # (args, status, rows on standard output, header included, standard error)
        ([], 2, 0, "navo-history: no FILE or FOLDER given\n" + TRY),
        (["--json", "--csv", "HISTORY.TXT"], 2, 0, "navo-history: --json and --csv exclude each other\n" + TRY),
        (["--tsv", "HISTORY.TXT"], 2, 0, "navo-history: unknown option --tsv\n" + TRY),
        (["MISSING.TXT", "HISTORY.TXT"], 2, 4, "navo-history: MISSING.TXT: cannot open: No such file or directory\n"),
        (["--", "-x\n"], 2, 1, "navo-history: '-x'$'\\n': cannot open: No such file or directory\n"),
    ]
    for args, want_status, want_rows, want_err in cases:
        status, out, err = run(*args, cwd=d)
        check(f"{args}", (status, out.count(b"\n"), err), (want_status, want_rows, want_err))
    status, out, _ = run("--help", cwd=d)
    check("--help", (status, all(f" {k}" in out.decode() for k in KEYS + ["file", "line", "KEY_hex"])), (0, True))
    with open("/dev/full", "wb") as full:
        check("/dev/full", run("HISTORY.TXT", cwd=d, stdout=full)[::2],
              (2, "navo-history: write error: No space left on device\n"))


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        d = Path(tmp)
        forms(d)
        folder_and_bad_lines(d)
        cuts(d)
        readme(d)
        usage(d)
    for f in failures:
        print("FAIL", f)
    if not failures:
        print("navo_history_cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
