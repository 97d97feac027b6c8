"""Hostile inputs in the real UEFI Shell: what the tools meet when the outside world is not kind.

- A BIOS image larger than the firmware's free memory (the machine gets 128 MiB of RAM, the image
  is 160 MiB): -FILEMEVER and -CHKMEVER -F end with F05, CHKSUM with status 9 and no message,
  and nothing on the disk changes.
- Images that end inside a marker or inside the manifest's version: F07, never a version made of
  bytes past the end; a manifest whose last byte is the image's last byte is still read.
- A 70,000-character MeInfo.efi output full of "FW Version" without a digit: F07 (and the output
  file stays for inspection); the same with the version behind the 65,535th character: found.
- Current directories at and beyond the automatic update's limits (its mapping name and the
  directory text together at most 72 characters): at the limit the script and the copy line are
  built whole, beyond it F12 before anything is written, in the first run and in the final run;
  so is a directory whose name holds a character the 8-bit script cannot carry.
"""

from __future__ import annotations

import hashlib
import os
import re
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from expected import BOARD_OK as BANNER, NOTICE  # noqa: E402
import harness  # noqa: E402
from harness import (MEINFO_SETUP_GUID, WORK_DIR, Check, DiskImage, Machine,  # noqa: E402
                     meinfo_setup_bytes)


F05 = "Error F05: Allocate a memory buffer error!"
F07 = "Error F07: Not Find Version sting."
F09 = "Error F09: Not Find EC API table."
QUESTION = re.compile(r"\(Y/N\)\?")
ANY_KEY = re.compile(r"<Enter any key to continue>")
COLUMNS = 80


def wrapped(text: str) -> list[str]:
    """A line as the 80-column console shows it."""
    return [text[i:i + COLUMNS] for i in range(0, len(text), COLUMNS)] or [""]


def cpd(name: bytes) -> bytes:
    return b"$CPD\x01\x00\x00\x00\x01\x01\x01\x01" + name


def manifest(major: int, minor: int, hotfix: int, build: int) -> bytes:
    return b"$MN2\x00\x00\x00\x00" + struct.pack("<4H", major, minor, hotfix, build)


# ---- an image larger than the machine's memory ----------------------------------------------------
MEMORY_MIB = 128
BIG_MIB = 160


def big_image() -> Path:
    """A sparse 160 MiB file with a valid FTPR manifest in its last 64 KiB: only a tool that had
    the whole file in memory could find it."""
    path = WORK_DIR / "images" / "hostile-big.bin"
    path.parent.mkdir(parents=True, exist_ok=True)
    size = BIG_MIB << 20
    if not path.exists() or path.stat().st_size != size:
        with open(path, "wb") as f:
            f.truncate(size)
            f.seek(size - 0x10000)
            f.write(cpd(b"FTPR") + b"\x00" * 16 + manifest(12, 0, 64, 1551))
    return path


def digest(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def test_image_larger_than_memory() -> None:
    check = Check("image larger than memory")
    big = big_image()
    disk = DiskImage("hostile_big", size_mib=BIG_MIB + 24)
    disk.add_efi("NAVO.efi")
    disk.add_efi("CHKSUM.efi")
    disk.add_file("BIG.BIN", big)
    with Machine(disk, name="hostile_big", memory_mib=MEMORY_MIB) as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        before = m.run_ok("ls").lines
        r = m.run("NAVO.efi -FILEMEVER BIG.BIN")
        check.output(r, BANNER + ["Read BIG.BIN ME FW version...Fail", "", F05], 1)
        r = m.run("NAVO.efi -FILETXEVER fs0:\\big.bin")
        check.output(r, BANNER + ["Read fs0:\\big.bin TXE FW version...Fail", "", F05], 1)
        # The check command reads the board first (here from the setup variable), then the file.
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, meinfo_setup_bytes(12, 0, 49, 1534))
        r = m.run("NAVO.efi -CHKMEVER -F BIG.BIN -RB02")
        check.output(r, BANNER + ["Read Board ME FW version...OK", "Read File ME FW version...Fail", "",
                                  F05], 1)
        # The checksum tool: status 9, not a word.
        r = m.run("CHKSUM.efi BIG.BIN")
        check.output(r, [], 9)
        check.lines(m.run_ok("ls").lines, before, "the directory after the failed runs")
        m.poweroff()
    check.equal(digest(disk.read_file("BIG.BIN")), digest(big.read_bytes()), "BIG.BIN unchanged")
    check.done()


# ---- images that end inside a marker, and tool output without a version -------------------------
def cut_images() -> dict[str, tuple[bytes, str | None]]:
    """name -> (image, version text or None for F07)."""
    pad = b"\xff" * 300
    head = pad + cpd(b"FTPR") + b"\x00" * 40
    whole = manifest(12, 0, 64, 1551)
    return {
        # The manifest's version runs past the end: 4 of its 8 version bytes are there.
        "CUTVER.BIN": (head + whole[:12], None),
        "CUTMN2.BIN": (head + b"$MN", None),
        "CUTTAG.BIN": (head + b"$", None),
        # The FTPR directory header itself is cut (15 of its 16 bytes).
        "CUTCPD.BIN": (pad + manifest(1, 2, 3, 4) + cpd(b"FTPR")[:15], None),
        # A directory marker cut at the end must not end the partition before a manifest... there
        # is none behind it, so F07; and one that would be read past the end.
        "CUTEND.BIN": (head + b"$CPD\x00\x00", None),
        # The manifest's last version byte is the image's last byte: still read.
        "EXACT.BIN": (head + whole, "12.0.64.1551"),
        "TINY.BIN": (b"$CP", None),
    }


LABELS = "FW Version" * 7000                     # 70,000 characters, no digit
LATE = "FW Version" * 7000 + ": 12.0.64.1551\n"  # the version behind the 65,535th character


def test_cut_images_and_tool_output() -> None:
    check = Check("cut images and long tool output")
    disk = DiskImage("hostile_cut")
    disk.add_efi("NAVO.efi")
    for name, (image, _) in cut_images().items():
        disk.add_file(name, image)
    disk.add_standin("MeInfo", output=LABELS, status=0)
    disk.add_file("LATE.out", LATE)
    with Machine(disk, name="hostile_cut") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")
        for name, (_, version) in cut_images().items():
            r = m.run(f"NAVO.efi -FILEMEVER {name}")
            if version is None:
                check.output(r, BANNER + [f"Read {name} ME FW version...Fail.", "", F07], 1)
            else:
                check.output(r, BANNER + [f"Read {name} ME FW version...OK", "",
                                          f"{name} ME FW version : {version}"], 0)

        r = m.run("NAVO.efi -MBMEVER", timeout=180)
        check.output(r, BANNER + ["Read Board ME FW version...Fail", "", F07], 1)
        # The output stays for inspection on this path: BOM and 70,000 characters.
        tmp = disk.read_file("MeInfoTmp.txt")
        check.equal(len(tmp), 2 + 2 * len(LABELS), "size of MeInfoTmp.txt after F07")
        check.true(tmp[2:].decode("utf-16-le") == LABELS, "MeInfoTmp.txt holds the tool's output")

        m.run_ok("cp -q LATE.out MeInfo.out")
        r = m.run("NAVO.efi -MBMEVER", timeout=180)
        check.output(r, BANNER + ["Read Board ME FW version...OK", "",
                                  "ME FW version on the board: 12.0.64.1551"], 0)
        check.true(not disk.exists("MeInfoTmp.txt"), "MeInfoTmp.txt deleted after a good read")
        m.poweroff()
    check.done()


# ---- the automatic update at and beyond its limits ------------------------------------------------
LIMIT = 72  # the current directory and its mapping name together


def directory(length: int, stem: str) -> str:
    """A directory text FS0:\\STEM...\\DDDDDDDD\\... of exactly `length` characters."""
    want = length - len("FS0:\\")
    text = (stem + "X" * 8)[:8]
    while len(text) < want:
        left = want - len(text)
        if left >= 10:
            text += "\\DDDDDDDD"
        elif left >= 2:
            text += "\\" + "E" * (left - 1)
        else:
            text += "E"  # one more letter in the last name
    text = "FS0:\\" + text
    assert len(text) == length and not text.endswith("\\"), text
    return text


def script(directory_text: str) -> bytes:
    return (b"@echo -off\r\nFS0:\r\ncd " + directory_text.encode() +
            b"\r\nIf exist UpdatewithEC_Step1.set then\r\ngo me1\r\nendif\r\nNAVO.efi -ECOVRAUTO\r\n")


def on_disk(directory_text: str) -> str:
    return directory_text[len("FS0:\\"):].replace("\\", "/")


F12_LONG = "Error F12: Path and mapping over 72 characters. Use a folder like FS0:\\UPDATE."
F12_CHARS = "Error F12: The path is not printable Latin-1. Use a folder like FS0:\\UPDATE."


def test_auto_update_directory_limits() -> None:
    check = Check("automatic update limits")
    near = directory(LIMIT - len("FS0:"), "NEAR")      # 68 + 4 = 72: accepted
    over = directory(LIMIT - len("FS0:") + 1, "OVER")  # 69 + 4 = 73: refused
    held = directory(LIMIT - len("FS0:") + 1, "HELD")  # the same, with the Step1 marker
    far = directory(160, "FAR")
    disk = DiskImage("hostile_auto")
    disk.add_efi("NAVO.efi")
    for d in (near, over, held, far):
        disk.add_dir(on_disk(d))
    disk.add_file(on_disk(held) + "/UpdatewithEC_Step1.set", "marker\r\n")

    # The shell's prompt shows the whole current directory, and a prompt that long leaves no room
    # to type on its line: each run goes through a script that changes there, runs the utility,
    # keeps its status in <name>.STS and changes back to the root.
    def add_script(name: str, directory_text: str, command: str, before: str = "") -> None:
        lines = ["@echo -off", "cd " + directory_text[len("FS0:"):]]
        if before:
            lines.append(before)
        lines += [command, f"echo %lasterror% > fs0:\\{name}.STS", "cd \\"]
        disk.add_file(f"{name}.nsh", "\r\n".join(lines) + "\r\n")

    add_script("OVER", over, "fs0:\\NAVO.efi -ECOVRAUTO")
    add_script("FAR", far, "fs0:\\NAVO.efi -ECOVRAUTO")
    add_script("HELD", held, "fs0:\\NAVO.efi -ECOVRAUTO")
    add_script("NEAR1", near, "fs0:\\NAVO.efi -ECOVRAUTO")
    add_script("NEAR2", near, "fs0:\\NAVO.efi -ECOVRAUTO", before='echo "x" > UpdatewithEC_Step1.set')
    # A directory name with U+010A, whose low byte is a line feed: written into the 8-bit script it
    # would end the "cd" line and make "reset" a command of its own at the next start. The script
    # that changes there is UCS-2 (the shell reads both), and mtools writes the long name from
    # UTF-8.
    os.environ["LC_ALL"] = "C.UTF-8"
    injected = "FS0:\\A\u010Areset"
    disk.add_dir(on_disk(injected))
    disk.add_text_ucs2("INJECT.nsh", "@echo -off\ncd " + injected[len("FS0:"):] +
                       "\nfs0:\\NAVO.efi -ECOVRAUTO\necho %lasterror% > fs0:\\INJECT.STS\ncd \\\n")

    def status(name: str) -> str:
        return disk.read_text_ucs2(f"{name}.STS").strip()

    with Machine(disk, name="hostile_auto") as m:
        m.boot()
        m.write_legacy_signature()
        m.cd("fs0:\\")

        # Beyond the limit: refused after the question, before anything is written.
        for name, d in (("OVER", over), ("FAR", far)):
            r = m.run(f"{name}.nsh", answers=[(QUESTION, "y")])
            check.lines(r.lines, BANNER + NOTICE + ["Preparing Update files...Fail", ""] + wrapped(F12_LONG),
                        f"first run in a directory of {len(d)} characters")
            check.equal(status(name), "0x1", f"status of the first run in {name}")
            check.equal(disk.list_dir(on_disk(d)), [], f"{name} stays empty")
        check.true(not disk.exists("startup.nsh"), "no root startup.nsh after F12")

        # The final run beyond the limit leaves the marker (and the pin) alone.
        r = m.run("HELD.nsh")
        check.lines(r.lines, BANNER + ["Fail", ""] + wrapped(F12_LONG), "final run beyond the limit")
        check.equal(status("HELD"), "0x1", "status of the final run beyond the limit")
        check.true(disk.exists(on_disk(held) + "/UpdatewithEC_Step1.set"), "marker kept after F12")

        # At the limit: the whole script reaches the root; this board has no EC, so the run then
        # stops at F09 with the script in place (the "orphan script" state).
        r = m.run("NEAR1.nsh", answers=[(QUESTION, "y")])
        check.equal(status("NEAR1"), "0x1", "status of the first run at the limit")
        check.true("Adjust EC FW override Status...Fail." in r.lines and F09 in r.lines,
                   f"the first run at the limit ends at the EC:\n{r}")
        check.bytes_equal(disk.read_file("startup.nsh"), script(near), "root startup.nsh at the limit")
        check.equal(len(script(near)), 93 + 4 + len(near), "script length")
        check.true(not disk.exists(on_disk(near) + "/startup.nsh"), "local copy removed")

        # The final run at the limit removes the root script through "rm FS0:\startup.nsh".
        r = m.run("NEAR2.nsh", answers=[(ANY_KEY, "x")])
        check.equal(status("NEAR2"), "0x1", "status of the final run at the limit (no EC)")
        check.true(any(l.endswith("Restore FW override pin Status...Fail.") for l in r.lines) and
                   F09 in r.lines,
                   f"the final run at the limit ends at the EC:\n{r}")
        check.true(not disk.exists("startup.nsh"), "root startup.nsh removed by the final run")
        check.true(not disk.exists(on_disk(near) + "/UpdatewithEC_Step1.set"), "marker removed")

        r = m.run("INJECT.nsh", answers=[(QUESTION, "y")])
        check.lines(r.lines, BANNER + NOTICE + ["Preparing Update files...Fail", ""] + wrapped(F12_CHARS),
                    "first run in a directory whose name the script cannot carry")
        check.equal(status("INJECT"), "0x1", "status of the first run in that directory")
        check.true(not disk.exists("startup.nsh"), "no root startup.nsh for that directory")
        m.poweroff()
    check.done()


TESTS = [test_image_larger_than_memory, test_cut_images_and_tool_output, test_auto_update_directory_limits]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
