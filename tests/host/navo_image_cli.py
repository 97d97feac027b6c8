#!/usr/bin/python3
"""navo-image on real files: every image of the shared list (the same list that the end-to-end
suite runs NAVO.efi -FILEMEVER on), the sample image against its golden output, the exit statuses,
--expect and --board, version texts the board's parser refuses, unreadable files, names in and out
of UTF-8 (in the JSON and quoted on standard error), output that cannot be written, and the
README's pipeline example.
Usage: navo_image_cli.py PATH-TO-navo-image PATH-TO-chksum"""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "shared"))

import fw_images  # noqa: E402

ROOT = HERE.parent.parent
TOOL, CHKSUM = (os.path.abspath(p) for p in sys.argv[1:3])
F08 = "Error F08: ME/TXE FW version contains non-digits.\n"
failures: list[str] = []

# Where each shared image's FTPR directory and manifest tag begin, and why there is no manifest.
NO_DIRECTORY, CUT_HEADER, NO_TAG = "no FTPR directory", "FTPR header in the last 15 bytes", \
    "no manifest tag in the partition"
FINDINGS = {
    "Q420TM07.BIN": (0x3E0000, 0x3E0400, None), "OTHERS.BIN": (0x400, 0x480, None),
    "NOFTPR.BIN": (None, None, NO_DIRECTORY), "LOWER.BIN": (None, None, NO_DIRECTORY),
    "PASTEND.BIN": (0x400, None, NO_TAG), "NOTEND.BIN": (0x400, 0x700, None),
    "EDGETAG.BIN": (0x400, 0x5FC, None), "CUTTAG.BIN": (0x400, None, NO_TAG),
    "ENDTAG.BIN": (0x400, 0xFF0, None), "CUTCPD.BIN": (0xFF1, None, CUT_HEADER),
    "MAJOR0.BIN": (0x400, 0x480, None), "EMPTY.BIN": (None, None, NO_DIRECTORY),
    "ACROSS1.BIN": (0xFFFFF, 0x2FFFFF, None), "ACROSS8.BIN": (0xFFFF8, 0x2FFFF8, None),
    "ACREND.BIN": (0xFFFFC, None, NO_TAG), "ACROSS15.BIN": (0xFFFF1, 0x2FFFF1, None),
}


def run(*args, cwd, tool=None, stdin=None, stdout=subprocess.PIPE, **parent):
    p = subprocess.run([tool or TOOL, *args], cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE, **parent)
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
        directory, tag, reason = FINDINGS[r.name]
        check(f"{r.name} ({r.what}) JSON", report, {
            "file": r.name, "size": len(data), "sum32": f"0x{total:08X}", "sum16": f"{total & 0xFFFF:04X}",
            "manifest": r.manifest, "version": r.version, "directory_offset": directory,
            "manifest_offset": tag, "reason": reason})
        check(f"{r.name} status", status, 0 if r.version else 1)
        status, out, _ = run(r.name, cwd=d)
        line = [l for l in out.decode().splitlines() if l.startswith("FW version")]
        where = {NO_DIRECTORY: "", CUT_HEADER: f", at 0x{directory or 0:X}",
                 NO_TAG: f", FTPR directory at 0x{directory or 0:X}"}.get(reason)
        want = r.version or (f"no FTPR manifest ({reason}{where})" if r.manifest is None
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
    version = subprocess.run([ROOT / "tools" / "utility-version.sh", "--build"], capture_output=True,
                             text=True).stdout.strip()
    cases = [
        # (what, args, status, stdout must contain, stderr)
        ("--version", ["--version"], 0, f"navo-image {version}\n", ""),
        ("= form", ["--expect=12.0.64.1551", "--board=12.0.64.1551", sample], 69, "matches", ""),
        ("standard input", ["--json", "-"], 0, '{"file": "-", "size": 4194304,', ""),
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
        ("malformed expect", ["--expect", "12.0.64", sample], 2, None, "navo-image: --expect 12.0.64: " + F08),
        ("malformed board, = form", ["--board=12.0.64.1551x", sample], 2, None,
         "navo-image: --board 12.0.64.1551x: " + F08),
        ("five-digit field", ["--board", "12.0.64.15510", sample], 2, None,
         "navo-image: --board 12.0.64.15510: " + F08),
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
        with open(d / sample, "rb") as stdin:
            status, out, err = run(*args, cwd=d, stdin=stdin)
        check(f"{what}: status", status, want_status)
        check(f"{what}: stderr", err.decode(), want_err)
        if want_out is None:
            check(f"{what}: stdout", out, b"")
        elif want_out not in out.decode():
            failures.append(f"{what}: {want_out!r} not in stdout:\n{out.decode()}")

    status, out, _ = run("--help", cwd=d)
    check("--help status", status, 0)
    for key in ("file", "file_hex", "size", "sum32", "sum16", "manifest", "version", "directory_offset",
                "manifest_offset", "reason", "expect", "board", "decision", "advice", "error"):
        if f"\n  {key} " not in out.decode():
            failures.append(f"--help does not document the JSON key {key}")


NAMES = [
    # (what, name bytes): names in UTF-8 must come back unchanged; others as U+FFFD plus file_hex
    ("beyond the 16-bit range", "Q420-\U0001F600-\U00010348.bin".encode()),
    ("quote, backslash, tab", b'a"b\\c\td.bin'),
    ("Latin-1", b"M\xfcller.bin"),
    ("cut four-byte sequence", b"cut-\xf0\x9f\x98.bin"),
    ("encoded surrogate, overlong", b"s-\xed\xa0\x80-\xc0\xaf.bin"),
    ("a forged line, a terminal escape", b"x\nnavo-image: ok \x1b[2J.bin"),
]


def names(d: Path) -> None:
    data = fw_images.sample_bios_image((12, 0, 1, 2), size=0x40000)
    for what, name in NAMES:
        (Path(os.fsdecode(d)) / os.fsdecode(name)).write_bytes(data)
        status, out, _ = run(name, cwd=d)
        check(f"{what}: text", (status, b"\nFile name            : " + name + b"\nFile size" in out), (0, True))
        # On standard error a name with a control character or not in UTF-8 is quoted, one line
        # that bash reads back as the name; any other name is shown as it is.
        err = run(name + b".missing", cwd=d)[2]
        shown = err.removeprefix(b"navo-image: ").removesuffix(b": cannot open: No such file or directory\n")
        text = name.decode(errors="replace")
        read_back = subprocess.run([b"/bin/bash", b"-c", b"printf %s " + shown], capture_output=True).stdout
        check(f"{what}: on standard error", (shown.count(b"\n"), shown == name + b".missing", read_back),
              (0, text.isprintable() and "\ufffd" not in text, name + b".missing"))
        for want in (name, name + b".missing"):  # a report, and an error row
            out = run("--json", want, cwd=d)[1]
            try:  # strict: UTF-8 throughout, and no lone surrogates, which json.loads lets through
                report = json.loads(out.decode())
                [v.encode() for v in report.values() if isinstance(v, str)]
            except (ValueError, UnicodeError) as e:
                failures.append(f"{what}: not strict JSON ({e}): {out!r}")
                continue
            utf8 = want.decode(errors="replace").encode() == want
            check(f"{what}: file, file_hex", (report["file"], report.get("file_hex")),
                  (want.decode(errors="replace"), None if utf8 else want.hex()))
            if utf8 and not re.search(rb'["\\\x00-\x1f]', want):
                check(f"{what}: bytes", out.startswith(b'{"file": "' + want + b'", '), True)


def write_failures(d: Path) -> None:
    """A full disk is named with a failing status, also when it comes before the last report;
    a closed pipe ends the tools as it ends cat, by SIGPIPE and without a word, whatever the parent
    left SIGPIPE at: its default, ignored (Python's own setting, kept by restore_signals=False) or
    blocked."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    many = ["--json"] + [fw_images.SAMPLE_NAME] * 30  # more than stdio's buffer
    block = lambda: signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGPIPE})  # noqa: E731
    for tool, args, status in ((TOOL, ["--json", fw_images.SAMPLE_NAME], 2), (TOOL, ["--help"], 2),
                               (TOOL, many, 2), (CHKSUM, [fw_images.SAMPLE_NAME], 1), (CHKSUM, ["--version"], 1)):
        full = (status, f"{Path(tool).name}: write error: No space left on device\n".encode())
        for what, parent, want in (("/dev/full", {}, full), ("pipe", {}, (-signal.SIGPIPE, b"")),
                                   ("pipe, ignored", {"restore_signals": False}, (-signal.SIGPIPE, b"")),
                                   ("pipe, blocked", {"preexec_fn": block}, (-signal.SIGPIPE, b""))):
            with open("/dev/full", "wb") if want is full else os.fdopen(os.dup(write_end), "wb") as out:
                got = run(*args, cwd=d, tool=tool, stdout=out, **parent)
            check(f"{tool} {args[:2]}: {what}", (got[0], got[2]), want)
    os.close(write_end)


def past_4_gib() -> None:
    """The board's offsets are 32-bit: it searches the first 2**32 - 1 bytes. Sparse files, in memory
    where /dev/shm is there (its holes read without filling the page cache)."""
    size, parts = (1 << 32) + 0x1000, [fw_images.directory(b"FTPR"), fw_images.manifest((12, 0, 1, 2)),
                                       fw_images.manifest((99, 0, 0, 0))]
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None) as tmp:
        for tag_at, found in (((1 << 32) - 17, True), ((1 << 32) - 16, False)):
            with open(Path(tmp) / "BIG.BIN", "wb") as f:
                f.truncate(size)
                for at, data in zip((0x1000, tag_at, size - 16), parts):
                    f.seek(at)
                    f.write(data)
            status, out, err = run("--json", "BIG.BIN", cwd=tmp)
            report = json.loads(out)
            check(f"tag at {tag_at:#x} of a file past 4 GiB", (
                status, report["size"], report["sum32"], report["version"], report["manifest_offset"], err), (
                0 if found else 1, size, f"0x{fw_images.byte_sum(b''.join(parts)):08X}",
                "12.0.1.2" if found else None, tag_at if found else None,
                b"navo-image: BIG.BIN: 4 GiB or larger; only its first 4 GiB (4294967295 bytes) are searched, "
                b"as on the board\n"))


PIPELINE = [
    # (what, image written, its version, the example's variable lines replaced, status); the release
    # record is written when the status is 0
    ("update", "out/Q420TM07.BIN", fw_images.SAMPLE_VERSION, {}, 0),
    ("a backslash in the name, kept in the record", "out/Q\\420.BIN", fw_images.SAMPLE_VERSION,
     {"IMAGE": "'out/Q\\420.BIN'"}, 0),
    ("downgrade", "out/Q420TM07.BIN", fw_images.SAMPLE_VERSION, {"FIELD_VERSION": "12.0.70.1000"}, 1),
    ("same version", "out/Q420TM07.BIN", fw_images.SAMPLE_VERSION, {"FIELD_VERSION": "12.0.64.1551"}, 1),
    ("image with another version", "out/Q420TM07.BIN", (12, 0, 64, 1552), {}, 1),
    ("image missing", "out/OTHER.BIN", fw_images.SAMPLE_VERSION, {}, 2),
]


def record(line: str):
    """A release record's file and decision; a line that is not JSON as it stands."""
    try:
        r = json.loads(line)
        return r.get("file"), r.get("decision")
    except ValueError:
        return line


def readme_pipeline(d: Path) -> None:
    """The README's example as printed there, run by dash in a fresh folder with navo-image on PATH."""
    readme = (ROOT / "README.md").read_text()
    script = re.search(r"```sh\n(.*?)```", readme[readme.index("## In a release pipeline"):], re.S).group(1)
    (d / "bin").mkdir()
    (d / "bin" / "navo-image").symlink_to(TOOL)
    env = {**os.environ, "PATH": f"{d / 'bin'}:/usr/bin:/bin"}
    for n, (what, name, version, lines, want_status) in enumerate(PIPELINE):
        text = script
        for var, value in lines.items():
            text, count = re.subn(rf"^{var}=.*$", lambda _: f"{var}={value}", text, flags=re.M)
            check(f"README pipeline, {what}: one {var}= line", count, 1)
        work = d / f"pipeline-{n}"
        (work / "out").mkdir(parents=True)
        (work / name).write_bytes(fw_images.sample_bios_image(version))
        p = subprocess.run(["/bin/dash", "-c", text], cwd=work, env=env, capture_output=True, text=True)
        jsonl = work / "release" / "images.jsonl"
        records = [record(l) for l in jsonl.read_text().splitlines()] if jsonl.exists() else []
        check(f"README pipeline, {what}: {p.stdout}{p.stderr}", (p.returncode, records, p.stderr != ""),
              (want_status, [(name, "update")] if want_status == 0 else [], want_status != 0))


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        d = Path(tmp)
        shared_images(d)
        sample_golden(d)
        statuses(d)
        names(d)
        write_failures(d)
        readme_pipeline(d)
    past_4_gib()
    for f in failures:
        print("FAIL", f)
    if not failures:
        print("navo_image_cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
