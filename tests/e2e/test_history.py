"""The history recorder NAVOREC.efi in the real shells, on a board whose identity QEMU's -smbios sets:
the records of an update (before, flash, after) appended to the root of the working directory's
mapping, the one line it prints for each, and the statuses the scripts hand it from %lasterror%.

The firmware's nesting shell runs the commands typed at its prompt; the older EFI shell runs them from
its startup.nsh, where %lasterror% is hexadecimal without "0x" and the mapping reads lower-case.
The file is read back from the disk image: whole lines, each with the CRC it ends in.
"""

from __future__ import annotations

import re
import sys
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "shared"))

import fw_images  # noqa: E402
import harness  # noqa: E402
from harness import Check, DiskImage, Machine  # noqa: E402

OLD_SHELL = Path(__file__).resolve().parent / "oldshell" / "Shell_Full.efi"
IMAGE = fw_images.sample_bios_image(version=(12, 0, 70, 1000))
UUID = "00112233-4455-6677-8899-aabbccddeeff"
SMBIOS = ["-smbios", f"type=1,manufacturer=ZAN,product=Q420,serial=SN0042,uuid={UUID}",
          "-smbios", "type=0,version=Q420 1.07"]
USAGE = ["Usage: NAVOREC.efi -BEFORE|-AFTER -ME|-TXE IMAGE STATUS [-RB01|-RB02|-RB03]",
         "       NAVOREC.efi -FLASH -ME|-TXE STATUS [-RB01|-RB02|-RB03]"]
IDENTITY = {"source": "stick", "vendor": "ZAN", "product": "Q420", "serial": "SN0042", "uuid": UUID,
            "bios": "Q420%201.07", "kind": "ME", "board": "12.0.64.1551"}
SUM = sum(IMAGE) & 0xFFFFFFFF
SUMS = {"image_version": "12.0.70.1000", "size": f"0x{len(IMAGE):X}", "sum32": f"0x{SUM:08X}",
        "sum16": f"{SUM & 0xFFFF:04X}"}


def make_disk(name: str) -> DiskImage:
    disk = DiskImage(name)
    disk.add_efi("NAVOREC.efi", directory="UPDATE")
    disk.add_standin("MeInfo", output="Intel(R) MEInfo\nFW Version: 12.0.64.1551\n", status=0, directory="UPDATE")
    disk.add_file(f"UPDATE/{fw_images.SAMPLE_NAME}", IMAGE)
    return disk


def records(check: Check, data: bytes) -> list[dict]:
    """The file's records as key -> value, each line checked for its line end and CRC."""
    out = []
    for line in data.split(b"\n"):
        if not line:
            continue
        text = line.decode("ascii")
        body, _, crc = text.rstrip("\r").rpartition(" crc=")
        check.true(text.endswith("\r"), f"CR LF after {text!r}")
        check.equal(crc, f"{zlib.crc32(body.encode()):08X}", f"CRC of {body!r}")
        words = body.split(" ")
        check.equal(words[:2], ["NAVOREC", "1"], "magic and format version")
        out.append(dict(w.split("=", 1) for w in words[2:]))
    return out


def expect(event: str, status: str, image: dict | None = None) -> dict:
    return {"event": event, **IDENTITY, **(image or {}), "status": status}


def without_time(found: list[dict], check: Check) -> list[dict]:
    for r in found:
        # OVMF's clock keeps local time with no zone: no "Z".
        check.true(re.fullmatch(r"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d", r.pop("time", "")) is not None,
                   f"time of the {r.get('event')} record")
    return found


def test_history_nesting_shell() -> None:
    check = Check("history in the nesting shell")
    disk = make_disk("history-nesting")
    with Machine(disk, name="history-nesting", extra_args=SMBIOS) as m:
        m.boot()
        m.cd("fs0:\\UPDATE")
        check.output(m.run(f"NAVOREC.efi -BEFORE -ME {fw_images.SAMPLE_NAME} 0x40"),
                     ["History: before record added to FS0:\\HISTORY.TXT"], 0)
        # %lasterror% here is the harness's echo's: 0x0.
        check.output(m.run("navorec.efi -flash -me %lasterror%"),
                     ["History: flash record added to FS0:\\HISTORY.TXT"], 0)
        check.output(m.run("NAVOREC.efi -AFTER -ME MISSING.BIN 0x45"),
                     ["History: after record added to FS0:\\HISTORY.TXT without the image file"], 0)
        check.output(m.run("NAVOREC.efi -AFTER -ME"), USAGE, 1)
        m.poweroff()
    check.equal(without_time(records(check, disk.read_file("HISTORY.TXT")), check), [
        expect("before", "64", {"image": fw_images.SAMPLE_NAME, **SUMS, "decision": "update"}),
        expect("flash", "0"),
        expect("after", "69", {"image": "MISSING.BIN", "image_version": "", "size": "", "sum32": "", "sum16": "",
                               "decision": "none"})], "the records")
    check.equal(sorted(n.lower() for n in disk.list_dir("UPDATE")),
                ["meinfo.efi", "meinfo.out", "meinfo.sts", "navorec.efi", fw_images.SAMPLE_NAME.lower()],
                "no scratch file left in the working directory")
    check.done()


def test_history_older_shell() -> None:
    check = Check("history in the older shell")
    disk = make_disk("history-older")
    disk.add_file("EFI/BOOT/BOOTX64.EFI", OLD_SHELL)
    disk.add_file("startup.nsh", "\r\n".join([
        "fs0:", "cd \\UPDATE", f"NAVOREC.efi -BEFORE -ME {fw_images.SAMPLE_NAME} 45",
        "NAVOREC.efi -FLASH", "NAVOREC.efi -FLASH -ME %lasterror%", "reset -s"]) + "\r\n")
    with Machine(disk, name="history-older", extra_args=SMBIOS, startup="wait") as m:
        m.wait_boot(1)
        m.wait_exit(timeout=180)
        shown = m.transcript()
    for line in ["History: before record added to fs0:\\HISTORY.TXT", USAGE[0],
                 "History: flash record added to fs0:\\HISTORY.TXT"]:
        check.true(line in shown, f"on the screen: {line}")
    check.equal(without_time(records(check, disk.read_file("HISTORY.TXT")), check), [
        expect("before", "69", {"image": fw_images.SAMPLE_NAME, **SUMS, "decision": "update"}),
        expect("flash", "1")], "the records: bare hexadecimal statuses")
    check.done()


TESTS = [test_history_nesting_shell, test_history_older_shell]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
