"""The history recorder NAVOREC.efi in the real UEFI Shell, on a board whose identity QEMU's -smbios
sets: the records of an update (before, flash, after) appended to the root of the working directory's
mapping, the one line it prints for each, and a status handed over as %lasterror%. The file is read
back from the disk image: whole lines, each with the CRC it ends in.
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

IMAGE = fw_images.sample_bios_image(version=(12, 0, 70, 1000))
UUID = "00112233-4455-6677-8899-aabbccddeeff"
SMBIOS = ["-smbios", f"type=1,manufacturer=ZAN,product=Q420,serial=SN0042,uuid={UUID}",
          "-smbios", "type=0,version=Q420 1.07"]
IDENTITY = {"source": "stick", "vendor": "ZAN", "product": "Q420", "serial": "SN0042", "uuid": UUID,
            "bios": "Q420%201.07", "kind": "ME", "board": "12.0.64.1551"}
SUM = sum(IMAGE) & 0xFFFFFFFF
SUMS = {"image_version": "12.0.70.1000", "size": f"0x{len(IMAGE):X}", "sum32": f"0x{SUM:08X}",
        "sum16": f"{SUM & 0xFFFF:04X}"}


def records(check: Check, data: bytes) -> list[dict]:
    """The file's records as key -> value but the time, each line checked for its CR LF, CRC and time."""
    out = []
    for line in data.split(b"\n")[:-1]:
        body, _, crc = line.decode("ascii").rpartition(" crc=")
        check.equal(crc, f"{zlib.crc32(body.encode()):08X}\r", f"CRC and CR LF of {body!r}")
        words = body.split(" ")
        fields = dict(w.split("=", 1) for w in words[2:])
        # OVMF's clock keeps local time with no zone: no "Z".
        check.true(re.fullmatch(r"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d", fields.pop("time")) is not None, "time")
        out.append({"magic": " ".join(words[:2]), **fields})
    return out


def expect(event: str, status: str, image: dict | None = None) -> dict:
    return {"magic": "NAVOREC 1", "event": event, **IDENTITY, **(image or {}), "status": status}


def test_history() -> None:
    check = Check("history in the nesting shell")
    disk = DiskImage("history-nesting")
    disk.add_efi("NAVOREC.efi", directory="UPDATE")
    disk.add_standin("MeInfo", output="Intel(R) MEInfo\nFW Version: 12.0.64.1551\n", status=0, directory="UPDATE")
    disk.add_file(f"UPDATE/{fw_images.SAMPLE_NAME}", IMAGE)
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
        m.poweroff()
    check.equal(records(check, disk.read_file("HISTORY.TXT")), [
        expect("before", "64", {"image": fw_images.SAMPLE_NAME, **SUMS, "decision": "update"}),
        expect("flash", "0"),
        expect("after", "69", {"image": "MISSING.BIN", "image_version": "", "size": "", "sum32": "", "sum16": "",
                               "decision": "none"})], "the records")
    check.equal(sorted(n.lower() for n in disk.list_dir("UPDATE")),
                ["meinfo.efi", "meinfo.out", "meinfo.sts", "navorec.efi", fw_images.SAMPLE_NAME.lower()],
                "no scratch file left in the working directory")
    check.done()


TESTS = [test_history]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
