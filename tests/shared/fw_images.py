"""Synthetic BIOS images and the firmware version each carries: one list for the host tests of
navo-image (tests/host/navo_image_cli.py) and for the end-to-end test that runs NAVO.efi -FILEMEVER
on the same images in the real UEFI Shell (tests/e2e/test_fwver.py), so that the Linux tool and the
board are held to one answer.

Each recipe has an 8.3 file name (it goes onto a FAT disk) and `manifest`, the four numbers behind
the FTPR manifest tag as "a.b.c.d", or None when the image has none (the board's F07). A manifest
whose Major is 0 is no version (the board says "Oops! ...").
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import Callable, Optional

SAMPLE_NAME = "Q420TM07.BIN"
SAMPLE_VERSION = (12, 0, 64, 1551)

# Powers of two up to 1 MiB divide this: a marker across it is across a chunk boundary of any reader
# that reads in such chunks.
CHUNK_EDGE = 0x100000


def directory(name: bytes, entries: int = 5) -> bytes:
    """A code partition directory header: "$CPD", the entry count, 4 bytes, the name."""
    return b"$CPD" + struct.pack("<I", entries) + b"\x01\x01\x01\x01" + name


def manifest(version) -> bytes:
    return b"$MN2\x00\x00\x00\x00" + struct.pack("<4H", *version)


def erased(size: int) -> bytearray:
    return bytearray(b"\xff" * size)


def put(image: bytearray, at: int, data: bytes) -> None:
    image[at:at + len(data)] = data[:max(0, len(image) - at)]


def sample_bios_image(version=SAMPLE_VERSION, size: int = 4 << 20) -> bytes:
    """The repository's sample image: erased flash holding two code partition directories and,
    near the end, the FTPR directory whose manifest carries `version`, then one more directory."""
    image = erased(size)
    put(image, 0x1000, directory(b"RBEP", 6))
    put(image, 0x1200, b"$MN2\x00\x00\x00\x00" + struct.pack("<4H", 1, 0, 0, 1))
    put(image, 0x40000, directory(b"NFTP", 3))
    at = size - 0x20000
    put(image, at, directory(b"FTPR", 9))
    put(image, at + 0x400, b"$MN2\x00\x01\x00\x00" + struct.pack("<4H", *version))
    put(image, at + 0x10000, directory(b"FTUP", 2))
    return bytes(image)


def _layout(size: int, parts) -> bytes:
    image = erased(size)
    for at, data in parts:
        put(image, at, data)
    return bytes(image)


def _across(k: int):
    """An image whose FTPR header, a passed-over header, the tag and its version each lie across
    CHUNK_EDGE multiples, cut k bytes into each."""
    edge = CHUNK_EDGE
    return _layout(3 * edge + 0x1000, [
        (edge - k, directory(b"FTPR")),
        (2 * edge - k, directory(b"XXXX", 0x01000000)),   # bytes 5..7 not zero: passed over
        (3 * edge - k, manifest((12, 0, 64, 1551 + k))),
    ])


@dataclass(frozen=True)
class Recipe:
    name: str
    what: str
    build: Callable[[], bytes]
    manifest: Optional[str]

    @property
    def version(self) -> Optional[str]:
        """The version the tools report, None when there is none (no manifest, or Major 0)."""
        if self.manifest is None or self.manifest.split(".")[0] == "0":
            return None
        return self.manifest


RECIPES = [
    Recipe(SAMPLE_NAME, "the repository's sample image", sample_bios_image, "12.0.64.1551"),
    Recipe("OTHERS.BIN", "other partitions first, a second FTPR later", lambda: _layout(0x10000, [
        (0x100, directory(b"RBEP")), (0x140, manifest((1, 1, 1, 1))),
        (0x400, directory(b"FTPR")), (0x480, manifest((12, 0, 64, 1551))),
        (0x800, directory(b"FTPR")), (0x880, manifest((99, 9, 9, 9)))]), "12.0.64.1551"),
    Recipe("NOFTPR.BIN", "no FTPR directory", lambda: _layout(0x10000, [
        (0x100, directory(b"RBEP")), (0x180, manifest((1, 2, 3, 4)))]), None),
    Recipe("LOWER.BIN", "the name is case-sensitive", lambda: _layout(0x10000, [
        (0x200, directory(b"ftpr")), (0x280, manifest((1, 2, 3, 4)))]), None),
    Recipe("PASTEND.BIN", "tag behind the partition's end", lambda: _layout(0x10000, [
        (0x400, directory(b"FTPR")), (0x600, directory(b"NFTP", 3)),
        (0x700, manifest((12, 0, 64, 1551)))]), None),
    Recipe("NOTEND.BIN", "a header with non-zero count bytes does not end it", lambda: _layout(0x10000, [
        (0x400, directory(b"FTPR")), (0x600, directory(b"XXXX", 0x01000003)),
        (0x700, manifest((12, 0, 70, 1000)))]), "12.0.70.1000"),
    Recipe("EDGETAG.BIN", "tag in the partition's last bytes, fields behind it", lambda: _layout(0x10000, [
        (0x400, directory(b"FTPR")), (0x600, directory(b"NFTP", 3)),
        (0x5FC, manifest((11, 8, 50, 3399)))]), "11.8.50.3399"),
    Recipe("CUTTAG.BIN", "tag cut by the image's end", lambda: _layout(0x1000, [
        (0x400, directory(b"FTPR")), (0x1000 - 15, manifest((12, 0, 64, 1551)))]), None),
    Recipe("ENDTAG.BIN", "tag in the image's last 16 bytes", lambda: _layout(0x1000, [
        (0x400, directory(b"FTPR")), (0x1000 - 16, manifest((12, 1, 0, 0)))]), "12.1.0.0"),
    Recipe("CUTCPD.BIN", "FTPR header cut by the image's end", lambda: _layout(0x1000, [
        (0x1000 - 15, directory(b"FTPR"))]), None),
    Recipe("MAJOR0.BIN", "a manifest with Major 0", lambda: _layout(0x10000, [
        (0x400, directory(b"FTPR")), (0x480, manifest((0, 3, 2, 1)))]), "0.3.2.1"),
    Recipe("EMPTY.BIN", "an empty file", lambda: b"", None),
    Recipe("ACROSS1.BIN", "markers across chunk boundaries, 1 byte in", lambda: _across(1), "12.0.64.1552"),
    Recipe("ACROSS8.BIN", "markers across chunk boundaries, 8 bytes in", lambda: _across(8), "12.0.64.1559"),
    Recipe("ACREND.BIN", "the ending header across a chunk boundary, the tag behind it", lambda: _layout(
        3 * CHUNK_EDGE, [(CHUNK_EDGE - 4, directory(b"FTPR")), (2 * CHUNK_EDGE - 4, directory(b"NFTP", 3)),
                         (2 * CHUNK_EDGE + 0x100, manifest((12, 0, 64, 1551)))]), None),
    Recipe("ACROSS15.BIN", "markers across chunk boundaries, 15 bytes in", lambda: _across(15),
           "12.0.64.1566"),
]


def byte_sum(data: bytes) -> int:
    return sum(data) & 0xFFFFFFFF
