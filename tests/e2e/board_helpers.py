"""Helpers that set a test machine up as a board: working directory, physical memory, the legacy
BIOS area's signature, UEFI variables and drivers, all through the shell's own commands."""

from __future__ import annotations

import re
import struct
from typing import Optional, Union

from paths import E2EError
from shell_session import ShellMachine
from terminal import Result


class Machine(ShellMachine):
    """The test machine: a shell session with the board helpers."""

    def cd(self, path: str) -> Result:
        """Changes the current directory (e.g. "fs0:\\TOOLS"); `fs0:` first so the mapping is current."""
        if ":" in path:
            mapping, rest = path.split(":", 1)
            self.run_ok(f"{mapping}:")
            path = rest or "\\"
        return self.run_ok(f"cd {path}")

    @staticmethod
    def _aligned_pieces(address: int, count: int) -> list[tuple[int, int]]:
        """(address, width) pieces covering the range with the widest aligned accesses mm allows."""
        pieces = []
        end = address + count
        while address < end:
            for width in (8, 4, 2, 1):
                if address % width == 0 and address + width <= end:
                    pieces.append((address, width))
                    address += width
                    break
        return pieces

    def write_memory(self, address: int, data: bytes) -> None:
        """Writes bytes of physical memory with the shell's mm (widest aligned accesses)."""
        for addr, width in self._aligned_pieces(address, len(data)):
            value = int.from_bytes(data[addr - address:addr - address + width], "little")
            self.run_ok(f"mm {addr:X} {value:0{width * 2}X} -w {width} -MEM -n")

    def read_memory(self, address: int, count: int) -> bytes:
        """Reads bytes of physical memory with the shell's mm."""
        out = bytearray()
        for addr, width in self._aligned_pieces(address, count):
            r = self.run_ok(f"mm {addr:X} -w {width} -MEM -n")
            m = re.search(r":\s*0x([0-9A-Fa-f]{%d})\b" % (width * 2), r.text)
            if not m:
                raise E2EError(f"{self.name}: cannot read mm output: {r}")
            out += int(m.group(1), 16).to_bytes(width, "little")
        return bytes(out)

    def write_legacy_signature(self, signature: Union[bytes, str, None] = b"$$ZAN-",
                               address: int = 0xF0000) -> None:
        """Puts the board signature into the legacy BIOS area 0xF0000-0xFFFFF at `address`.

        The area reads 0xFF and ignores writes until the chipset maps it to RAM (q35 PAM0, config
        register 0x90 of the host bridge: 0x30 = reads and writes go to RAM, which is zero). QEMU
        keeps PAM0 and the RAM across guest resets, so a signature stays for later boots of the
        same machine, as the real board's does. Signatures written earlier by this helper are
        wiped first, so only the new one is there. None leaves no signature at all: the area is
        unmapped again and reads 0xFF."""
        if isinstance(signature, str):
            signature = signature.encode("latin-1")
        if signature is not None:
            if not 0xF0000 <= address or address + len(signature) - 1 > 0xFFFFF:
                raise ValueError("signature outside the legacy area 0xF0000-0xFFFFF")
        self.run_ok("mm 000000000090 30 -w 1 -PCI -n")
        for addr, length in self._legacy_written:
            self.write_memory(addr, bytes(length))
        self._legacy_written = []
        if signature is None:
            self.run_ok("mm 000000000090 00 -w 1 -PCI -n")
            return
        self.write_memory(address, signature)
        self._legacy_written.append((address, len(signature)))

    def setvar(self, name: str, guid: str, data: Optional[bytes], attrs: str = "-bs -rt -nv") -> Result:
        """Writes (data) or deletes (None or b"") a UEFI variable with the shell's setvar. The
        attributes only apply when the variable is created (-nv keeps it across resets)."""
        if not data:
            # An empty value deletes the variable; deleting a missing one fails, which is fine here.
            return self.run(f"setvar {name} -guid {guid} =")
        return self.run_ok(f"setvar {name} -guid {guid} {attrs} =H{data.hex().upper()}")

    def load_driver(self, path: str) -> Result:
        """`load` a driver (.efi) so that the next commands can use the protocols it installs."""
        return self.run_ok(f"load {path}")


MEINFO_SETUP_GUID = "78259433-7B6D-4DB3-9AE8-36C4C2C3A17D"


def meinfo_setup_bytes(major: int, minor: int, hotfix: int, build: int, first: int = 0,
                       tail: bytes = b"\x00" * 5) -> bytes:
    """The MeInfoSetup variable layout: 1 byte, four little-endian 32-bit fields, 5 bytes."""
    return bytes([first]) + struct.pack("<IIII", major, minor, hotfix, build) + tail


# A stand-in for the maker's GO.nsh: says it ran and notes each run's argument in golog.txt.
GO_NSH = "@echo -off\r\necho GO.nsh %1 ran\r\necho %1 >> golog.txt\r\n"
