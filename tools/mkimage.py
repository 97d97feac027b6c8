#!/usr/bin/python3
"""Builds a raw FAT disk image (no partition table) for QEMU/OVMF, where it shows up as FS0:.

    tools/mkimage.py OUT.img [-s MiB] ITEM...

ITEM is SRC (a file or a directory, put into the root under its own name) or DEST=SRC
(DEST a path on the image, e.g. UPDATE/NAVO.efi). Directories are copied with everything in them.
Example:

    tools/mkimage.py build/usb.img build/efi/NAVO.efi build/efi/CHKSUM.efi UPDATE/Q420TM07.BIN=img.bin
    qemu-system-x86_64 -machine q35 ... -drive file=build/usb.img,format=raw,if=ide

Read files back with mtools: mcopy -i build/usb.img ::/UPDATE/startup.nsh -
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from harness import DiskImage  # noqa: E402


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out", type=Path)
    ap.add_argument("items", nargs="*")
    ap.add_argument("-s", "--size", type=int, default=32, help="image size in MiB (default 32)")
    args = ap.parse_args()

    out = args.out.resolve()
    disk = DiskImage(out.stem, size_mib=args.size, directory=out.parent)
    disk.path = out
    for item in args.items:
        dest, _, src = item.rpartition("=")
        src_path = Path(src)
        if not src_path.exists():
            ap.error(f"{src} does not exist")
        dest = dest or src_path.name
        if src_path.is_dir():
            disk.add_dir(dest)
            for p in sorted(src_path.rglob("*")):
                rel = f"{dest}/{p.relative_to(src_path).as_posix()}"
                if p.is_dir():
                    disk.add_dir(rel)
                else:
                    disk.add_file(rel, p.resolve())
        else:
            disk.add_file(dest, src_path.resolve())
    disk.build()
    print(f"{out}: {len(args.items)} item(s), {args.size} MiB FAT")
    return 0


if __name__ == "__main__":
    sys.exit(main())
