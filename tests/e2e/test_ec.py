"""-ECOVRPIN in the real UEFI Shell against the emulated board EC (QEMU device zan-ec).

The device logs every access to ports 0x68/0x6C ("R 6C 01", "W 68 21"); the tests compare the
utility's side of that traffic (which port, which direction, every byte written, and the value
byte of every reply) with the transactions the EC protocol prescribes, one command at a time.

Machines: an EC that answers (pin starting off), one without API table, a silent EC (the device
present but mute: every read 0xFF), and a board with no EC device at all.
"""

from __future__ import annotations

import sys
from pathlib import Path
from typing import Optional

sys.path.insert(0, str(Path(__file__).resolve().parent))

from ec_device import EcLog, pin_writes, require_ec_qemu  # noqa: E402
from expected import BOARD_OK as BANNER  # noqa: E402
from harness import Check, DiskImage, Machine  # noqa: E402

FULL_WAIT = 65535

ANY = None  # a byte the EC chose (a read whose value the utility does not use)


def ec_read(table: int, offset: int, value: Optional[int], input_reads: int = 1,
            output_reads: int = 1) -> list:
    """A read transaction as the host performs it; each wait reads the status `*_reads` times."""
    st = [("R", 0x6C, ANY)]
    return ([("R", 0x68, ANY)] + st * input_reads + [("W", 0x6C, 0x88)] + st * input_reads +
            [("W", 0x68, table)] + st * input_reads + [("W", 0x68, offset)] +
            st * (input_reads + output_reads) + [("R", 0x68, ANY), ("R", 0x68, value)])


def ec_write_pin(value: int) -> list:
    st = [("R", 0x6C, ANY)]
    return ([("R", 0x68, ANY)] + st + [("W", 0x6C, 0x88)] + st + [("W", 0x68, 0x81)] + st +
            [("W", 0x68, 0x21)] + st + [("W", 0x68, value)] + st)


def probe(present: bool = True) -> list:
    return ec_read(0, 0x00, 0x01 if present else 0xFF)


def pin_read(value: int) -> list:
    return ec_read(1, 0x21, value)


def traffic_matches(check: Check, actual: list, expected: list, what: str) -> bool:
    """Compares the log with the expected accesses; ANY values are not compared."""
    def show(entries):
        return [f"{d} {p:02X} {'..' if v is None else f'{v:02X}'}" for d, p, v in entries]

    masked = [(d, p, None if e is not None and e[2] is None else v)
              for (d, p, v), e in zip(actual, expected + [None] * max(0, len(actual) - len(expected)))]
    return check.lines(show(masked), show(expected), f"EC traffic of {what}")


def _machine(name: str, extra: list[str]) -> tuple[DiskImage, Machine]:
    disk = DiskImage(name)
    disk.add_efi("NAVO.efi")
    return disk, Machine(disk, name=name, qemu=require_ec_qemu(), extra_args=extra, startup="skip")


def test_pin_command_with_ec() -> None:
    check = Check("ec pin")
    log = EcLog("ec-pin")
    disk, machine = _machine("ec-pin", log.device(pin="off"))
    with machine as m:
        m.boot()
        m.write_legacy_signature()
        log.take()
        cases = [
            # command, pin before, value written, status word, traffic
            ("NAVO.efi -ECOVRPIN", 0x00, 0x80, "On",
             probe() + pin_read(0x00) + probe() + pin_read(0x00) + ec_write_pin(0x80) + pin_read(0x80)),
            ("NAVO.efi -ECOVRPIN -ON", 0x80, 0x80, "On",
             probe() + probe() + pin_read(0x80) + ec_write_pin(0x80) + pin_read(0x80)),
            ("NAVO.efi -ECOVRPIN", 0x80, 0x00, "Off",
             probe() + pin_read(0x80) + probe() + pin_read(0x80) + ec_write_pin(0x00) + pin_read(0x00)),
            ("NAVO.efi -ECOVRPIN -off", 0x00, 0x00, "Off",
             probe() + probe() + pin_read(0x00) + ec_write_pin(0x00) + pin_read(0x00)),
            ("NAVO.efi -ECOVRPIN -on", 0x00, 0x80, "On",
             probe() + probe() + pin_read(0x00) + ec_write_pin(0x80) + pin_read(0x80)),
            ("NAVO.efi -ECOVRPIN -OFF", 0x80, 0x00, "Off",
             probe() + probe() + pin_read(0x80) + ec_write_pin(0x00) + pin_read(0x00)),
        ]
        for command, _before, written, word, traffic in cases:
            r = m.run(f"FS0:\\{command}")
            check.output(r, BANNER + ["Adjust EC FW override PIN...OK", "",
                                      f"FW Override Status: {word}"], status=0)
            got = log.take()
            traffic_matches(check, got, traffic, command)
            check.equal(pin_writes(got), [written], f"pin writes of {command}")
        m.poweroff()
    check.done()


def _f09_run(check: Check, m: Machine, command: str = "FS0:\\NAVO.efi -ECOVRPIN") -> None:
    r = m.run(command)
    check.output(r, BANNER + ["Adjust EC FW override PIN...Fail", "", "Error F09: Not Find EC API table."],
                 status=1)


def test_pin_command_without_api_table() -> None:
    check = Check("ec without api table")
    log = EcLog("ec-noapi")
    disk, machine = _machine("ec-noapi", log.device(api_table="off", pin="on"))
    with machine as m:
        m.boot()
        m.write_legacy_signature()
        log.take()
        for command in ("FS0:\\NAVO.efi -ECOVRPIN", "FS0:\\NAVO.efi -ECOVRPIN -OFF"):
            _f09_run(check, m, command)
            got = log.take()
            traffic_matches(check, got, probe(present=False), command)
            check.equal(pin_writes(got), [], "no pin write")
        m.poweroff()
    check.done()


def test_pin_command_silent_ec() -> None:
    """The device is there but mute: every read 0xFF. Each input wait reads the status 65,535 times;
    bit 0 of 0xFF ends the output wait at once; the probe reads 0xFF."""
    check = Check("silent ec")
    log = EcLog("ec-silent")
    disk, machine = _machine("ec-silent", log.device(silent="on"))
    with machine as m:
        m.boot()
        m.write_legacy_signature()
        log.take()
        _f09_run(check, m, "FS0:\\NAVO.efi -ECOVRPIN -ON")
        got = log.take()
        traffic_matches(check, got, ec_read(0, 0x00, 0xFF, input_reads=FULL_WAIT, output_reads=1),
                        "-ECOVRPIN -ON with a silent EC")
        check.true(all(v == 0xFF for d, p, v in got if d == "R"), "every read gives 0xFF")
        m.poweroff()
    check.done()


def test_pin_command_no_ec() -> None:
    check = Check("no ec")
    disk, machine = _machine("ec-none", [])
    with machine as m:
        m.boot()
        m.write_legacy_signature()
        _f09_run(check, m)
        _f09_run(check, m, "FS0:\\NAVO.efi -ECOVRPIN -ON")
        m.poweroff()
    check.done()

