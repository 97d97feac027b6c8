"""CHKSUM.efi in the real UEFI Shell: reports, command-line handling and failures."""

import random

from harness import Check, DiskImage, Machine

# %lasterror% shows an application's status with bit 63 cleared.
NOT_FOUND = 0xE
ACCESS_DENIED = 0xF


def report(name: str, data: bytes) -> list[str]:
    total = sum(data) & 0xFFFFFFFF
    return [
        "======= File Info =======",
        f"File name            : {name}",
        f"File size            : 0x{len(data) & 0xFFFFFFFF:X}",
        f"Checksum(File Size)  : 0x{total:08X}",
        f"Checksum(ZAN History): {total & 0xFFFF:04X}",
    ]


FF70K = b"\xff" * 70000
# Not a multiple of any block size, every byte value: catches lost tails and lane overflows.
rng = random.Random(6)
MIXED = bytes(rng.randrange(256) for _ in range(100003))
# 17,000,000 bytes of 0xFF sum past 2^32: only the low 32 bits are reported.
WRAP = b"\xff" * 17_000_000


def test_reports():
    check = Check()
    disk = DiskImage("chksum_reports", size_mib=64)
    disk.add_efi("CHKSUM.efi")
    disk.add_file("FF70K.BIN", FF70K)
    disk.add_file("EMPTY.BIN", b"")
    disk.add_file("MiXeD.bin", MIXED)
    disk.add_file("WRAP.BIN", WRAP)
    disk.add_file("DATA/SUB/Inner.Bin", MIXED[:777])
    with Machine(disk, name="chksum_reports") as m:
        m.boot()
        m.run_ok("fs0:")

        # The figures of the tool's documentation, whole lines.
        r = m.run("CHKSUM.efi FF70K.BIN")
        check.output(r, [
            "======= File Info =======",
            "File name            : FF70K.BIN",
            "File size            : 0x11170",
            "Checksum(File Size)  : 0x01105E90",
            "Checksum(ZAN History): 5E90",
        ], status=0)

        cases = [
            ("CHKSUM.efi EMPTY.BIN", "EMPTY.BIN", b""),
            ("CHKSUM.efi mixed.BIN", "mixed.BIN", MIXED),  # the name as typed, not as stored
            ("CHKSUM.efi WRAP.BIN", "WRAP.BIN", WRAP),
            ("CHKSUM.efi fs0:\\FF70K.BIN", "fs0:\\FF70K.BIN", FF70K),
            ("chksum fs0:\\data\\SUB\\inner.bin", "fs0:\\data\\SUB\\inner.bin", MIXED[:777]),
        ]
        for command, shown, data in cases:
            check.output(m.run(command), report(shown, data), status=0)

        # From a subdirectory: names relative to it, and the tool found through a full path.
        m.run_ok("cd DATA\\SUB")
        for command, shown, data in [
            ("fs0:\\CHKSUM.efi Inner.Bin", "Inner.Bin", MIXED[:777]),
            ("fs0:\\CHKSUM.efi ..\\..\\FF70K.BIN", "..\\..\\FF70K.BIN", FF70K),
        ]:
            r = m.run(command)
            check.output(r, report(shown, data), status=0)
            check.equal(r.prompt, "FS0:\\DATA\\SUB\\", "prompt after the run from a subdirectory")
        m.poweroff()
    # The tool only reads.
    check.bytes_equal(disk.read_file("MiXeD.bin"), MIXED, "MiXeD.bin after the runs")
    check.done()


def test_command_line_and_failures():
    check = Check()
    disk = DiskImage("chksum_cmdline")
    disk.add_efi("CHKSUM.efi")
    disk.add_file("A.BIN", b"\x01\x02")
    disk.add_dir("FOLDER")
    usage = ["Usage is: CheckSum filenameUnable to open (NULL)"]
    version = ["CheckSum Version: 1.0", "Usage is: CHKSUM <filename.ext>"]
    too_many = ["ERROR! Parameters more than 2."]
    open_failed = ["ERROR ! Open File failed!"]
    with Machine(disk, name="chksum_cmdline") as m:
        m.boot()
        m.run_ok("fs0:")
        for command, lines, status in [
            ("CHKSUM.efi", usage, 0),
            ("CHKSUM.efi ?", version, 0),
            ("CHKSUM.efi ?x", version, 0),
            ("CHKSUM.efi ?A.BIN", version, 0),        # '?' wins over a file name behind it
            ("CHKSUM.efi A.BIN A.BIN", too_many, 0),
            ("CHKSUM.efi ? x", too_many, 0),          # the count is tested first
            ("CHKSUM.efi a b c d", too_many, 0),
            ("CHKSUM.efi MISSING.BIN", open_failed, NOT_FOUND),
            ("CHKSUM.efi fs0:\\NO\\SUCH.BIN", open_failed, NOT_FOUND),
            ("CHKSUM.efi FOLDER", open_failed, ACCESS_DENIED),  # a directory is no file to sum
            ("CHKSUM.efi A.BIN", report("A.BIN", b"\x01\x02"), 0),
        ]:
            check.output(m.run(command), lines, status=status)
        # The short usage ends in a blank before the line end (rendered lines lose trailing blanks).
        check.true(b"Usage is: CHKSUM <filename.ext> \r\n" in m.raw(), "blank at the end of the usage line")
        m.poweroff()
    check.done()
