"""The emulated board EC (the zan-ec device of the QEMU build in .cache/qemu-board): the build itself
and the access log the device writes."""

from __future__ import annotations

from paths import EC_QEMU, WORK_DIR, E2EError


def require_ec_qemu() -> str:
    if not EC_QEMU.is_file():
        raise E2EError(f"missing {EC_QEMU}: run tools/build-qemu-board.sh first")
    return str(EC_QEMU)


class EcLog:
    """The device's access log; take() returns what was appended since the last take()."""

    def __init__(self, name: str):
        self.path = WORK_DIR / "logs" / f"{name}.eclog"
        self.path.parent.mkdir(parents=True, exist_ok=True)
        if self.path.exists():
            self.path.unlink()
        self._seen = 0

    def device(self, **props: str) -> list[str]:
        options = "".join(f",{k.replace('_', '-')}={v}" for k, v in props.items())
        return ["-device", f"zan-ec,log={self.path}{options}"]

    def all(self) -> list[tuple[str, int, int]]:
        if not self.path.exists():
            return []
        out = []
        for line in self.path.read_text().splitlines():
            d, port, value = line.split()
            out.append((d, int(port, 16), int(value, 16)))
        return out

    def take(self) -> list[tuple[str, int, int]]:
        entries = self.all()
        new, self._seen = entries[self._seen:], len(entries)
        return new


def pin_writes(entries: list) -> list[int]:
    """Values written to the pin register (command 0x88, then 0x81, 0x21, value)."""
    writes = [(p, v) for d, p, v in entries if d == "W"]
    out = []
    for i in range(len(writes) - 3):
        if writes[i] == (0x6C, 0x88) and writes[i + 1] == (0x68, 0x81) and writes[i + 2] == (0x68, 0x21):
            out.append(writes[i + 3][1])
    return out

