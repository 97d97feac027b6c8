#!/usr/bin/python3
"""A virtual board for trying the tools by hand (`make run`, tools/run.sh).

Copies the technician's stick (`make usb`: the UEFI Shell as \\EFI\\BOOT\\BOOTX64.EFI, NAVO.efi,
CHKSUM.efi, README.TXT, EXAMPLES\\) and adds stand-ins for the information tools (MeInfo.efi,
TXEInfo.efi) and the maker's GO.nsh, a sample BIOS image, a few sample files and BOARD.TXT. Boots
the stick, as the only disk, in QEMU (the build with the emulated board EC when .cache holds one),
writes the board signature into the legacy BIOS area, runs a short demonstration and then leaves
the person at the shell prompt. Without a terminal (stdin not a tty, e.g. in CI) it powers off
after the demonstration and prints the rendered session.

    tools/board.py [--batch] [--no-demo] [--keep-mode]
"""

from __future__ import annotations

import argparse
import os
import select
import shutil
import sys
import termios
import tty
from pathlib import Path

# The board is built with the end-to-end harness and the tests' sample image.
REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
sys.path.insert(0, str(REPO / "tests" / "shared"))

from fw_images import SAMPLE_NAME, sample_bios_image  # noqa: E402,F401  (the sample image is shared)
from harness import (BUILD, SYSTEM_QEMU, DiskImage, E2EError, Machine, ec_qemu, kit_image)  # noqa: E402

BOARD_ME_VERSION = "12.0.49.1534"
# What TXEInfo.efi reports, so that the kit's TXE examples run here too.
BOARD_TXE_VERSION = "4.0.25.1350"
IMAGE_NAME = SAMPLE_NAME
CTRL_RIGHT_BRACKET = b"\x1d"

MEINFO_TEXT = f"""Intel(R) MEInfo Version: 12.0.10.1127
Copyright(C) 2005 - 2019, Intel Corporation. All rights reserved.

(stand-in tool of the virtual board: prints MeInfo.out, ends with MeInfo.sts)

FW Version:                          {BOARD_ME_VERSION} H
Flash Version:                       {BOARD_ME_VERSION}
"""

TXEINFO_TEXT = f"""Intel(R) TXEInfo Version: 4.0.10.1127
Copyright(C) 2005 - 2019, Intel Corporation. All rights reserved.

(stand-in tool of the virtual board: prints TXEInfo.out, ends with TXEInfo.sts)

FW Version:                          {BOARD_TXE_VERSION}
"""

GO_NSH = """@echo -off
echo "GO.nsh %1: the maker's script flashes BIOS and ME firmware here."
echo "(stand-in on the virtual board: nothing is written)"
"""

BOARD_TXT = """Virtual ZAN board (QEMU + OVMF), booted from a copy of the technician's stick

From the stick:
NAVO.efi     firmware update utility   (try: NAVO.efi -H)
CHKSUM.efi   file checksum tool        (try: CHKSUM.efi Q420TM07.BIN)
README.TXT   the technician's guide    (try: type -b README.TXT)
EXAMPLES\\    example scripts           (try: EXAMPLES\\CHECK.nsh Q420TM07.BIN)

Added for this board:
MeInfo.efi   stand-in: prints MeInfo.out, ends with the hex status in MeInfo.sts;
             with an argument -x it uses MeInfo_x.out / MeInfo_x.sts
TXEInfo.efi  stand-in, the same with TXEInfo.*
GO.nsh       stand-in for the maker's update script
Q420TM07.BIN sample BIOS image carrying ME firmware 12.0.64.1551
             (the board's MeInfo.out reports 12.0.49.1534,
             its TXEInfo.out TXE firmware 4.0.25.1350)

Examples:
  NAVO.efi -FILEMEVER Q420TM07.BIN
  NAVO.efi -MBMEVER
  NAVO.efi -CHKMEVER -F Q420TM07.BIN     (asks Y/N; exit status 64 or 69)
  NAVO.efi -MBTXEVER                     (the TXE commands read TXEInfo.efi)
  echo %lasterror%
  NAVO.efi -ECOVRPIN -ON                 (needs the QEMU build with the emulated EC)
  NAVO.efi -ECOVRAUTO                    (the automatic update, three boots)
"""

DEMO = [
    "CHKSUM.efi " + IMAGE_NAME,
    "NAVO.efi -VER",
    "NAVO.efi -H",
    "NAVO.efi -FILEMEVER " + IMAGE_NAME,
    "NAVO.efi -MBMEVER",
]


def board_disk(name: str = "board", directory: Path = BUILD / "run") -> DiskImage:
    """A copy of the technician's stick (`make usb`) with the virtual board's extras on it: the
    board boots the kit as shipped, NAVO.efi and CHKSUM.efi included."""
    disk = DiskImage(name, directory=directory, base=kit_image())
    disk.add_standin("MeInfo", output=MEINFO_TEXT, status=0)
    disk.set_standin("MeInfo", arg="fitver", output="FITC Version: 12.0.64.1551\n", status=0)
    disk.add_standin("TXEInfo", output=TXEINFO_TEXT, status=0)
    disk.add_file("GO.nsh", GO_NSH.replace("\n", "\r\n"))
    disk.add_file(IMAGE_NAME, sample_bios_image())
    disk.add_file("BOARD.TXT", BOARD_TXT.replace("\n", "\r\n"))
    disk.add_file("SAMPLES/FF70K.BIN", b"\xff" * 70000)
    disk.add_file("SAMPLES/Hello.txt", "Hello from the virtual board.\r\n")
    return disk


CONSOLE_MODES = [(80, 50), (100, 31), (80, 25)]  # the serial console's text modes, best first


def console_mode(size: os.terminal_size, keep: bool) -> tuple[int, int]:
    """The largest console mode that fits the person's terminal (80x25 when none does)."""
    if keep:
        return CONSOLE_MODES[0]
    for cols, rows in CONSOLE_MODES:
        if size.columns >= cols and size.lines >= rows:
            return cols, rows
    print(f"warning: the terminal ({size.columns}x{size.lines}) is smaller than 80x25; "
          "the screen will not be shown faithfully", file=sys.stderr)
    return CONSOLE_MODES[-1]


def hand_over(m: Machine) -> None:
    """Connects the person's terminal to the serial console until QEMU ends or Ctrl-] is pressed."""
    fd = sys.stdin.fileno()
    saved = termios.tcgetattr(fd)
    tty.setraw(fd)
    try:
        while m.running:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if not ready:
                continue
            data = os.read(fd, 1024)
            if not data or CTRL_RIGHT_BRACKET in data:
                break
            m.send(data)
    finally:
        termios.tcsetattr(fd, termios.TCSADRAIN, saved)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--batch", action="store_true", help="no hand-over: power off after the demonstration")
    ap.add_argument("--no-demo", action="store_true", help="only set up the board, run no demonstration")
    ap.add_argument("--keep-mode", action="store_true",
                    help="keep the console at 80x50 whatever the terminal's size")
    args = ap.parse_args()

    interactive = not args.batch and sys.stdin.isatty() and sys.stdout.isatty()
    # The build with the emulated EC when there is one, so that the EC commands work too.
    qemu = os.environ.get("E2E_QEMU") or ec_qemu() or SYSTEM_QEMU
    extra = ["-device", "zan-ec,pin=off"] if qemu == ec_qemu() else []
    showing = False

    def show(chunk: bytes) -> None:
        if showing:
            sys.stdout.buffer.write(chunk)
            sys.stdout.buffer.flush()

    disk = board_disk()
    disk.build()
    print(f"virtual board: {disk.path} on {qemu}" + (" (emulated EC)" if extra else " (no EC)"), flush=True)
    mode = (80, 50)
    if interactive:
        mode = console_mode(shutil.get_terminal_size(), args.keep_mode)
        print(f"booting (console {mode[0]}x{mode[1]}) ...", flush=True)
    # Plugged in as a USB stick, as the technician's kit is.
    machine = Machine(disk, name="board", qemu=qemu, extra_args=extra, log_dir=BUILD / "run",
                      usb_stick=True, timeout=30 * 24 * 3600 if interactive else 600,
                      on_output=show if interactive else None)
    with machine as m:
        m.boot()
        if interactive:
            # The firmware moves the cursor to absolute rows and relies on the terminal scrolling at
            # the console's last row: confine the terminal's scrolling to that many rows.
            sys.stdout.buffer.write(b"\x1b[1;%dr\x1b[H\x1b[2J" % mode[1])
            showing = True
            if mode != (m.cols, m.rows):
                m.set_mode(*mode)  # clears the screen
            else:
                m.run("cls", status=False)
        m.write_legacy_signature(b"$$ZAN-", 0xF0000)
        m.run_ok("fs0:")
        if not args.no_demo:
            for command in DEMO:
                m.run(command)
        if interactive:
            m.run('echo "Your turn. type BOARD.TXT: this board; type -b README.TXT: the guide."',
                  status=False)
            m.run('echo "reset -s powers off, Ctrl-] leaves QEMU."', status=False)
            try:
                hand_over(m)
            finally:
                sys.stdout.buffer.write(b"\x1b[r")  # the whole terminal scrolls again
                sys.stdout.flush()
        else:
            m.poweroff()
    if not interactive:
        print("\n".join(machine.transcript()))
    else:
        print("\r\nvirtual board stopped.")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except E2EError as e:
        print(f"\nvirtual board failed: {e}", file=sys.stderr)
        sys.exit(1)
