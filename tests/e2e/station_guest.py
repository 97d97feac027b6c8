"""The diskless Linux test station (tools/build-station-guest.sh): one boot of Debian's kernel with
the cached initramfs, the cases and their files appended as a second archive, in the QEMU build
that carries the emulated devices. Its /init (tests/station/init.sh) frames what it prints in
lines that start with "@@"; this module boots it and reads them back."""

from __future__ import annotations

import subprocess
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Sequence

from paths import EC_QEMU, REPO, TIMEOUT_SCALE, WORK_DIR, E2EError

STATION = REPO / ".cache" / "station"
KERNEL = STATION / "vmlinuz"
INITRAMFS = STATION / "initramfs.gz"


@dataclass
class CaseRun:
    name: str
    mei0: Optional[str] = None          # the PCI function behind /dev/mei0 during the case
    dev_state: Optional[str] = None
    stdout: list[str] = field(default_factory=list)
    stderr: list[str] = field(default_factory=list)
    status: Optional[int] = None
    record_hex: list[str] = field(default_factory=list)  # the --record FILE after the case, in hex

    @property
    def record(self) -> Optional[bytes]:
        """The bytes of the case's --record FILE, None when the case names none or it was not there."""
        return bytes.fromhex("".join(self.record_hex)) if self.record_hex else None


@dataclass
class StationRun:
    cases: dict[str, CaseRun]
    bound: list[tuple[str, str, str]]   # (address, vendor, device) that mei_me took at insmod
    kernel_log: list[str]               # `dmesg | grep -i mei`
    up: Optional[float]                 # guest uptime when /init started, and at its end
    end: Optional[float]
    seconds: float                      # QEMU's whole run
    console: str


def _newc(files: dict[str, bytes]) -> bytes:
    """An uncompressed cpio (newc) archive of `files` and their directories, as the kernel unpacks
    one that follows the compressed initramfs."""
    entries: list[tuple[str, int, bytes]] = []
    dirs = sorted({str(p) for name in files for p in Path(name).parents if str(p) != "."})
    entries += [(d, 0o040755, b"") for d in dirs]
    entries += [(name, 0o100644, data) for name, data in sorted(files.items())]
    entries.append(("TRAILER!!!", 0, b""))
    out = bytearray()
    for ino, (name, mode, data) in enumerate(entries, 1):
        raw = name.encode() + b"\0"
        fields = (ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(raw), 0)
        out += b"070701" + b"".join(b"%08X" % f for f in fields) + raw
        out += b"\0" * (-len(out) % 4) + data
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def _parse(console: str) -> tuple[dict[str, CaseRun], list, list[str], Optional[float], Optional[float]]:
    cases: dict[str, CaseRun] = {}
    bound, kernel_log = [], []
    up = end = None
    case: Optional[CaseRun] = None
    section: Optional[list[str]] = None
    for line in console.replace("\r", "").split("\n"):
        if not line.startswith("@@"):
            if section is not None:
                section.append(line)
            continue
        word, _, rest = line[2:].partition(" ")
        section = None
        if word == "up":
            up = float(rest)
        elif word == "end":
            end = float(rest)
        elif word == "bound":
            bound.append(tuple(rest.split()))
        elif word == "case":
            case = cases.setdefault(rest, CaseRun(rest))
        elif word == "mei0" and case:
            case.mei0, _, case.dev_state = rest.partition(" ")
        elif word in ("stdout", "stderr") and case:
            section = getattr(case, word)
        elif word == "record" and case:
            section = case.record_hex
        elif word == "status" and case:
            case.status = int(rest)
            case = None
        elif word == "dmesg":
            section = kernel_log
    return cases, bound, kernel_log, up, end


def boot_station(name: str, devices: Sequence[str], cases: Sequence[tuple[str, str, Sequence[str]]],
                 files: dict[str, bytes], smbios: Sequence[str] = (), timeout: float = 300.0) -> StationRun:
    """Boots the station once. devices: -device arguments (e.g. "zan-mei,addr=0x10");
    cases: (name, PCI address or "-" before the driver is loaded, navo-board's arguments);
    files: placed under /station/ (the working directory of no one: give absolute paths);
    smbios: -smbios arguments, the board's identity in /sys/class/dmi/id."""
    for need, how in ((KERNEL, "tools/build-station-guest.sh (make station)"),
                      (INITRAMFS, "tools/build-station-guest.sh (make station)"),
                      (EC_QEMU, "tools/build-qemu-board.sh (make qemu-board)")):
        if not need.is_file():
            raise E2EError(f"{need} is missing: run {how}")
    work = WORK_DIR / name
    work.mkdir(parents=True, exist_ok=True)
    table = "".join(f"{n} {address} {' '.join(args)}\n" for n, address, args in cases)
    base = INITRAMFS.read_bytes()
    # The kernel looks for the next archive only at a 4-byte boundary; zeros in between are skipped.
    initrd = base + b"\0" * (-len(base) % 512) + _newc(
        {"station/cases": table.encode(), **{f"station/{k}": v for k, v in files.items()}})
    (work / "initrd").write_bytes(initrd)
    cmd = [str(EC_QEMU), "-machine", "q35", "-m", "256", "-nodefaults", "-no-user-config",
           "-display", "none", "-monitor", "none", "-serial", "stdio", "-no-reboot",
           "-kernel", str(KERNEL), "-initrd", str(work / "initrd"),
           "-append", "console=ttyS0 loglevel=1 panic=-1", "-L", "/usr/share/qemu"]
    for d in devices:
        cmd += ["-device", d]
    for table in smbios:
        cmd += ["-smbios", table]
    (work / f"{name}.cmd").write_text(" ".join(cmd) + "\n")
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=timeout * TIMEOUT_SCALE)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        (work / f"{name}.console.txt").write_bytes(out)
        raise E2EError(f"the station did not power off within {timeout * TIMEOUT_SCALE:.0f} s; console:\n"
                       + out.decode(errors="replace")[-3000:])
    seconds = time.monotonic() - t0
    (work / f"{name}.console.txt").write_bytes(out)
    (work / f"{name}.qemu.stderr").write_bytes(err)
    console = out.decode(errors="replace")
    if proc.returncode != 0 or "@@end" not in console:
        raise E2EError(f"the station ended with QEMU status {proc.returncode} before its last line; "
                       f"QEMU said: {err.decode(errors='replace').strip()}\nconsole:\n{console[-3000:]}")
    return StationRun(*_parse(console), seconds=seconds, console=console)
