"""The emulated board EC (QEMU device zan-ec) itself, driven byte by byte from the UEFI Shell.

No utility runs here: the shell's `mm ... -IO` reads and writes ports 0x68/0x6C one access at a
time, so each step checks both the byte the guest saw and the line the device logged for it. This
pins down the EC side that the utility's own end-to-end tests rely on: the two-byte reply of a
read, the status bits, the registers, the device options, and a pin that outlives a guest reset
while a half-sent transaction does not.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Optional

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import WORK_DIR, Check, DiskImage, E2EError, EC_QEMU, Machine  # noqa: E402

DATA, CMD = 0x68, 0x6C
OBF = 0x01

_MM_VALUE_RE = re.compile(r"IO\s+0x0*([0-9A-Fa-f]+)\s*:\s*0x([0-9A-Fa-f]{2})")


def require_ec_qemu() -> str:
    if not EC_QEMU.is_file():
        raise E2EError(f"missing {EC_QEMU}: run tools/build-qemu-board.sh first")
    return str(EC_QEMU)


class EcBoard:
    """A machine with one zan-ec device; every port access goes through io() and is checked
    against the device's log."""

    def __init__(self, name: str, check: Check, trace: bool = False, **props: str):
        self.check = check
        logs = WORK_DIR / "logs"
        logs.mkdir(parents=True, exist_ok=True)
        self.log = logs / f"{name}.eclog"
        self.trace = logs / f"{name}.trace"
        for p in (self.log, self.trace):
            if p.exists():
                p.unlink()
        options = "".join(f",{k.replace('_', '-')}={v}" for k, v in props.items())
        extra = ["-device", f"zan-ec,log={self.log}{options}"]
        if trace:
            extra += ["-trace", "zan_ec_reg_*", "-trace", "zan_ec_reset", "-D", str(self.trace)]
        self.machine = Machine(DiskImage(name, size_mib=1), name=name, qemu=require_ec_qemu(),
                               extra_args=extra, startup="skip")
        self._seen = 0

    def log_take(self) -> list[str]:
        lines = self.log.read_text().splitlines() if self.log.exists() else []
        new, self._seen = lines[self._seen:], len(lines)
        return new

    def io(self, direction: str, port: int, value: Optional[int] = None) -> Optional[int]:
        """One port access with `mm`; returns the byte read (None for a write)."""
        m = self.machine
        if direction == "W":
            r = m.run(f"mm {port:X} {value:X} -IO -w 1 -n", status=False)
            self.check.lines(r.lines, [], f"output of the write {value:02X} to port {port:02X}")
            self.check.equal(self.log_take(), [f"W {port:02X} {value:02X}"], f"log of W {port:02X} {value:02X}")
            return None
        r = m.run(f"mm {port:X} -IO -w 1 -n", status=False)
        got = _MM_VALUE_RE.search(r.text)
        if not got or int(got.group(1), 16) != port:
            raise E2EError(f"cannot read the mm output: {r}")
        byte = int(got.group(2), 16)
        self.check.equal(self.log_take(), [f"R {port:02X} {byte:02X}"], f"log of the read of port {port:02X}")
        return byte

    def run_steps(self, title: str, steps: list) -> None:
        """steps: ("W", port, value) or ("R", port, expected byte)."""
        for i, (direction, port, value) in enumerate(steps):
            if direction == "W":
                self.io("W", port, value)
            else:
                self.check.equal(self.io("R", port), value, f"{title}, step {i + 1}: read of port {port:02X}")


def read_reg(table: int, offset: int, value: int) -> list:
    """A read transaction as the utility performs it, with the status the EC must show at each step:
    never input-buffer-full, output-buffer-full exactly while a reply byte is unread."""
    return [("W", CMD, 0x88), ("R", CMD, 0), ("W", DATA, table), ("R", CMD, 0), ("W", DATA, offset),
            ("R", CMD, OBF), ("R", DATA, offset), ("R", CMD, OBF), ("R", DATA, value), ("R", CMD, 0)]


def write_reg(table: int, offset: int, value: int) -> list:
    return [("W", CMD, 0x88), ("W", DATA, table | 0x80), ("W", DATA, offset), ("W", DATA, value),
            ("R", CMD, 0)]


def test_protocol_and_registers() -> None:
    check = Check("zan-ec protocol")
    board = EcBoard("qemu-ec-protocol", check, trace=True, pin="off")
    cases = [
        # title, steps
        ("probe of the API table", read_reg(0, 0x00, 0x01)),
        ("pin register at power-on (pin=off)", read_reg(1, 0x21, 0x00)),
        ("pin on", write_reg(1, 0x21, 0x80) + read_reg(1, 0x21, 0x80)),
        ("the register keeps every bit as written", write_reg(1, 0x21, 0x7F) + read_reg(1, 0x21, 0x7F)),
        ("pin off", write_reg(1, 0x21, 0x00) + read_reg(1, 0x21, 0x00)),
        ("a register the EC does not have reads 0 and ignores writes",
         write_reg(1, 0x22, 0x55) + read_reg(1, 0x22, 0x00)),
        ("a write to the probe does not change it", write_reg(0, 0x00, 0xFF) + read_reg(0, 0x00, 0x01)),
        ("with the output buffer empty the data port repeats the last byte",
         read_reg(0, 0x00, 0x01) + [("R", DATA, 0x01), ("R", CMD, 0)]),
        ("a new command drops an unread reply",
         [("W", CMD, 0x88), ("W", DATA, 1), ("W", DATA, 0x21), ("R", CMD, OBF), ("R", DATA, 0x21),
          ("W", CMD, 0x88), ("R", CMD, 0)] + [("W", DATA, 0), ("W", DATA, 0), ("R", CMD, OBF),
                                              ("R", DATA, 0x00), ("R", DATA, 0x01), ("R", CMD, 0)]),
        ("data bytes without a command are ignored",
         [("W", DATA, 0x81), ("W", DATA, 0x21), ("W", DATA, 0x80), ("R", CMD, 0)] + read_reg(1, 0x21, 0x00)),
        ("an unknown command is ignored",
         [("W", CMD, 0x80), ("W", DATA, 0x81), ("W", DATA, 0x21), ("W", DATA, 0x80)] + read_reg(1, 0x21, 0x00)),
    ]
    with board.machine as m:
        m.boot()
        board.log_take()  # whatever the firmware did while booting
        for title, steps in cases:
            board.run_steps(title, steps)

        # The pin outlives a guest reset; a write transaction cut short by it does not complete.
        board.run_steps("pin on before the reset",
                        write_reg(1, 0x21, 0x80) + [("W", CMD, 0x88), ("W", DATA, 0x81), ("W", DATA, 0x21)])
        m.send_line("reset")
        m.boot()
        check.equal(m.boots, 2, "the machine booted again")
        board.log_take()
        board.run_steps("after the reset", [("R", CMD, 0), ("R", DATA, 0x00), ("W", DATA, 0x00)] +
                        read_reg(1, 0x21, 0x80))
        m.poweroff()

    trace = board.trace.read_text() if board.trace.exists() else ""
    check.true("zan_ec_reg_write table 1 offset 0x21 <- 0x80" in trace, f"trace of the pin write in {board.trace}")
    check.true("zan_ec_reset host reset, pin register 0x80 kept" in trace, f"trace of the reset in {board.trace}")
    check.done()


def test_options() -> None:
    """api-table=off answers the probe with 0xFF (pin=on starts with the pin set); silent=on is a
    board without EC: every read 0xFF, writes ignored, the accesses still logged."""
    check = Check("zan-ec options")
    no_api = EcBoard("qemu-ec-noapi", check, api_table="off", pin="on")
    with no_api.machine as m:
        m.boot()
        no_api.log_take()
        no_api.run_steps("probe without API table", read_reg(0, 0x00, 0xFF))
        no_api.run_steps("pin register at power-on (pin=on)", read_reg(1, 0x21, 0x80))
        m.poweroff()

    silent = EcBoard("qemu-ec-silent", check, silent="on", pin="on")
    with silent.machine as m:
        m.boot()
        silent.log_take()
        mute = [(d, p, 0xFF) if d == "R" else (d, p, v) for d, p, v in read_reg(1, 0x21, 0x80)]
        silent.run_steps("silent EC", [("R", CMD, 0xFF), ("R", DATA, 0xFF)] + mute)
        silent.run_steps("silent EC ignores a pin write", write_reg(1, 0x21, 0x00)[:-1] + [("R", DATA, 0xFF)])
        m.poweroff()
    check.done()


TESTS = [test_protocol_and_registers, test_options]

if __name__ == "__main__":
    sys.exit(harness.run_standalone(TESTS, sys.argv[1:]))
